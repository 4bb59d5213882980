#include "webview/scripts.h"

#include "text/text.h"
#include "webview/scripts_embedded.h"

std::wstring LoaderScript() {
  return std::wstring(scripts_embedded::Loader());
}

std::wstring PrintBlockScript() {
  return std::wstring(scripts_embedded::PrintBlock());
}

std::wstring NavigationBarScript() {
  return std::wstring(scripts_embedded::NavigationBar());
}

std::wstring PrintButtonScript() {
  return std::wstring(scripts_embedded::PrintButton());
}

std::wstring PdfPrintPageScript() {
  return std::wstring(scripts_embedded::PdfPrint());
}

std::wstring WatermarkScript(const std::wstring& watermarkText) {
  std::wstring script(scripts_embedded::WatermarkPrefix());
  script += JsStringEscape(watermarkText);
  script += scripts_embedded::WatermarkSuffix();
  return script;
}

std::wstring WrapPageScript(const std::wstring& pageScript) {
  return L"(function(){function run(){" + pageScript +
         L"}if(document.readyState==='loading'){document.addEventListener('DOMContentLoaded',"
         L"run);}else{run();}})();";
}
