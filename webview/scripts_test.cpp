#include "webview/scripts.h"

#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "text/text.h"

namespace {

// The source file as the program must carry it: its UTF-8 bytes read as wide text.
std::wstring ReadScriptFile(const std::string& name) {
  const std::string path = std::string(CORVEL_SCRIPTS_DIR) + "/" + name;
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot open " << path;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return Utf8ToUtf16(bytes);
}

constexpr wchar_t kPlaceholder[] = L"__WATERMARK_TEXT__";

std::wstring WatermarkFromFile(const std::wstring& escapedText) {
  std::wstring text = ReadScriptFile("watermark.js");
  const auto at = text.find(kPlaceholder);
  EXPECT_NE(at, std::wstring::npos);
  if (at != std::wstring::npos) {
    text.replace(at, std::wstring(kPlaceholder).size(), escapedText);
  }
  return text;
}

// A fault in the generator (a lost line, a wrong escape, a mangled non-ASCII character or a
// surrogate pair on 16-bit wide characters) makes the compiled text differ from the file.
TEST(ScriptsTest, CompiledScriptsAreTheSourceFilesExactly) {
  const struct {
    const char* file;
    std::function<std::wstring()> script;
  } kCases[] = {
      {"loader.js", LoaderScript},
      {"print_block.js", PrintBlockScript},
      {"nav_bar.js", NavigationBarScript},
      {"print_button.js", PrintButtonScript},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.file);
    const std::wstring expected = ReadScriptFile(c.file);
    ASSERT_FALSE(expected.empty());
    const std::wstring actual = c.script();
    EXPECT_EQ(actual.size(), expected.size());
    EXPECT_TRUE(actual == expected);
  }
  // The texts that are not ASCII survive as characters, not as bytes or escapes.
  EXPECT_NE(LoaderScript().find(L"\u062C\u0627\u0631\u064A \u0627\u0644\u062A\u062D\u0645\u064A"
                                L"\u0644... Loading..."),
            std::wstring::npos);
  EXPECT_NE(NavigationBarScript().find(L"['\U0001F3E0', 'Home', 'btn_home']"), std::wstring::npos);
  EXPECT_NE(PrintButtonScript().find(L"'\U0001F5A8'"), std::wstring::npos);
}

// Guard flags and element ids are what pages and the other scripts rely on.
TEST(ScriptsTest, EachScriptCarriesItsGuardFlagAndElementIds) {
  const struct {
    std::wstring script;
    const wchar_t* guard;
    const wchar_t* id;
  } kCases[] = {
      {LoaderScript(), L"window._kelmoLoaderAdded", L"'kelmo-full-loader'"},
      {PrintBlockScript(), L"window._kelmoPrintBlockAdded", nullptr},
      {NavigationBarScript(), L"window._kelmoNavAdded", L"'kelmo-nav-container'"},
      {NavigationBarScript(), L"window._kelmoNavAdded", L"'kelmo-full-loader'"},
      {WatermarkScript(L"x"), L"window._kelmoWatermarkAdded", L"'kelmo-watermark'"},
      {PrintButtonScript(), L"window._kelmoPrintBtnAdded", L"'kelmo-print-btn'"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.guard));
    // The guard is tested before it is set.
    const std::wstring test = std::wstring(L"if (") + c.guard + L") {";
    const std::wstring set = std::wstring(c.guard) + L" = true;";
    ASSERT_NE(c.script.find(test), std::wstring::npos);
    ASSERT_NE(c.script.find(set), std::wstring::npos);
    EXPECT_LT(c.script.find(test), c.script.find(set));
    if (c.id != nullptr) {
      EXPECT_NE(c.script.find(c.id), std::wstring::npos);
    }
  }
}

TEST(ScriptsTest, WatermarkTextIsEscapedBetweenSingleQuotes) {
  const std::wstring kTexts[] = {
      L"",
      L"Student 42",
      L"O'Brien \"quoted\" back\\slash",
      L"</script><script>alert(1)</script>",
      L"line one\nline two\r",
      L"\u0637\u0627\u0644\u0628 \U0001F4DA",
  };
  for (const auto& text : kTexts) {
    SCOPED_TRACE(Utf16ToUtf8(text));
    const std::wstring script = WatermarkScript(text);
    EXPECT_TRUE(script == WatermarkFromFile(JsStringEscape(text)));
    EXPECT_NE(script.find(L"var text = '" + JsStringEscape(text) + L"';"), std::wstring::npos);
    EXPECT_EQ(script.find(kPlaceholder), std::wstring::npos);
    EXPECT_EQ(script.find(L"</script"), std::wstring::npos);
  }
}

TEST(ScriptsTest, PageScriptIsWrappedToRunOnceTheDocumentIsParsed) {
  EXPECT_EQ(WrapPageScript(L"document.title='x';"),
            L"(function(){function run(){document.title='x';}if(document.readyState==='loading')"
            L"{document.addEventListener('DOMContentLoaded',run);}else{run();}})();");
  EXPECT_EQ(WrapPageScript(L""),
            L"(function(){function run(){}if(document.readyState==='loading')"
            L"{document.addEventListener('DOMContentLoaded',run);}else{run();}})();");
}

}  // namespace
