#include "link/page_composer.h"

#include "base/app_state.h"
#include "text/text.h"

namespace {

constexpr wchar_t kWatermarkStyle[] =
    L"position:fixed;top:0;left:0;width:100%;height:100%;pointer-events:none;z-index:9999;"
    L"opacity:0.15;display:flex;align-items:center;justify-content:center;font-size:3vw;color:red;"
    L"transform:rotate(-30deg);font-family:Arial,sans-serif;font-weight:bold;";

}  // namespace

std::wstring ComposeContentPage(const std::wstring& contentUrl, const std::wstring& watermarkText) {
  std::wstring page;
  page.reserve(1024 + contentUrl.size() + watermarkText.size());
  page += L"<!DOCTYPE html><html><head>";
  page += L"<meta charset='utf-8'>";
  page += L"<title>";
  page += GetAppState().displayName;
  page += L"</title>";
  page += L"<style>";
  page += L"*{margin:0;padding:0;}";
  page += L"html,body{width:100%;height:100%;overflow:hidden;}";
  page += L"iframe{width:100%;height:100%;border:none;}";
  page += L"</style></head><body>";
  page += L"<iframe src='";
  // The address comes from the server. Unescaped, a quote in it would end the attribute and
  // let the rest of the address add markup to the page; escaped, every valid address still
  // loads as before because the browser decodes the entities back.
  page += HtmlEscape(contentUrl);
  page += L"' allowfullscreen ";
  page += L"allow='accelerometer;autoplay;clipboard-write;encrypted-media;gyroscope;picture-in-picture'>";
  page += L"</iframe>";
  page += L"<div style='";
  page += kWatermarkStyle;
  page += L"'>";
  page += HtmlEscape(watermarkText);
  page += L"</div>";
  page += L"<script>";
  page += L"window.chrome.webview.postMessage('pageLoaded');";
  page += L"</script></body></html>";
  return page;
}
