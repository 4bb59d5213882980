#include "link/page_composer.h"

#include <gtest/gtest.h>

namespace {

size_t Count(const std::wstring& text, const std::wstring& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(PageComposerTest, ComposesTheFramePageExactly) {
  const std::wstring style =
      L"position:fixed;top:0;left:0;width:100%;height:100%;pointer-events:none;z-index:9999;opacity:0.15;"
      L"display:flex;align-items:center;justify-content:center;font-size:3vw;color:red;transform:rotate(-30deg);"
      L"font-family:Arial,sans-serif;font-weight:bold;";
  ASSERT_EQ(style.size(), 247u);
  const std::wstring expected =
      L"<!DOCTYPE html><html><head><meta charset='utf-8'><title>Corvel</title><style>*{margin:0;padding:0;}"
      L"html,body{width:100%;height:100%;overflow:hidden;}iframe{width:100%;height:100%;border:none;}"
      L"</style></head><body><iframe src='https://cdn.example/v/1?a=1' allowfullscreen "
      L"allow='accelerometer;autoplay;clipboard-write;encrypted-media;gyroscope;picture-in-picture'></iframe>"
      L"<div style='" + style + L"'>Student 42</div><script>window.chrome.webview.postMessage('pageLoaded');"
      L"</script></body></html>";
  EXPECT_EQ(ComposeContentPage(L"https://cdn.example/v/1?a=1", L"Student 42"), expected);
}

TEST(PageComposerTest, NeitherTheAddressNorTheWatermarkCanAddMarkup) {
  // A quote in the address would end the src attribute; a tag in the watermark would add an element.
  const std::wstring page = ComposeContentPage(L"https://x.example/a?b=1&c='><script>alert(1)</script>",
                                               L"<b>\"Ali\" & 'Sara'</b>");
  EXPECT_NE(page.find(L"src='https://x.example/a?b=1&amp;c=&#39;&gt;&lt;script&gt;alert(1)&lt;/script&gt;'"),
            std::wstring::npos);
  EXPECT_NE(page.find(L">&lt;b&gt;&quot;Ali&quot; &amp; &#39;Sara&#39;&lt;/b&gt;</div>"), std::wstring::npos);
  EXPECT_EQ(Count(page, L"<script>"), 1u);
  EXPECT_EQ(Count(page, L"postMessage('pageLoaded')"), 1u);
}

TEST(PageComposerTest, EmptyWatermarkStillGetsItsLayer) {
  const std::wstring page = ComposeContentPage(L"", L"");
  EXPECT_NE(page.find(L"<iframe src='' allowfullscreen "), std::wstring::npos);
  EXPECT_NE(page.find(L"font-weight:bold;'></div><script>"), std::wstring::npos);
}

}  // namespace
