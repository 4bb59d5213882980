// A PDF lesson's print on Windows against the stand-in runtime (test/fake_webview2_win.h).
#include "webview/pdf_print_win.h"

#include <gtest/gtest.h>

#include "text/text.h"
#include "webview/print_result.h"
#include "webview/test/fake_webview2_win.h"

namespace {

using host_test::FakeNavigationCompletedArgs;
using host_test::FakeRuntime;
using host_test::PumpUntil;

class ComApartment : public ::testing::Environment {
 public:
  void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void TearDown() override { CoUninitialize(); }
};
[[maybe_unused]] ::testing::Environment* const kCom = ::testing::AddGlobalTestEnvironment(new ComApartment);

// A JSON text as the JSON string the runtime reports for a script that returned it.
std::wstring AsJsonString(const std::wstring& text) {
  std::wstring quoted = L"\"";
  for (wchar_t c : text)
    quoted += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
  return quoted + L"\"";
}

// The document is read before any page is made; the off-screen page (a second controller of
// the view's environment) gets the reader, its worker, the print page and the watermark, each
// awaited, then the document with the printer's paper; the page's report decides the rest.
TEST(PdfPrintWinTest, TheDocumentIsDrawnInAnOffScreenPageAndOnlyThenPrinted) {
  struct Case {
    const char* name;
    std::optional<std::string> document;
    const wchar_t* finalState;
    PrintOutcome outcome;
  };
  const Case cases[] = {
      {"unreadable", std::nullopt, nullptr, PrintOutcome::kDocumentUnreadable},
      {"not drawable", std::string("%PDF-1.4 broken"), L"failed", PrintOutcome::kDocumentUnreadable},
      // Drawn: printed through the view's print settings, which the stand-in does not offer.
      {"drawn", std::string("%PDF-1.4 lesson"), L"rendered", PrintOutcome::kEnvironmentUnavailable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRuntime r;
    r.Build();
    int polls = 0;
    r.scriptValue = [&](const std::wstring& script) -> std::wstring {
      if (script.rfind(L"JSON.stringify(window.corvelPdfPrint", 0) != 0)
        return L"\"corvel-ran\"";
      const std::wstring state = ++polls == 1 ? L"rendering" : c.finalState;
      return AsJsonString(L"{\"state\":\"" + state + L"\",\"page\":" + (polls == 1 ? L"1" : L"2") +
                          L",\"pages\":2}");
    };
    const PrinterSelector select = [](HWND) { return std::wstring(L"Lab printer"); };
    bool ended = false;
    PrintPdfLesson(
        nullptr, r.environment.As<ICoreWebView2Environment>(), r.view.As<ICoreWebView2>(),
        {L"https://platform.test/lesson.pdf", L"Student \"A\""}, select,
        [&c](const std::wstring& url) {
          EXPECT_EQ(url, L"https://platform.test/lesson.pdf");
          return c.document;
        },
        [&ended] { ended = true; });
    PumpUntil([&] { return ended || r.navigationCompleted; }, 10000);
    if (!ended && r.navigationCompleted) {
      FakeNavigationCompletedArgs loaded(TRUE, COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN);
      r.RaiseNavigationCompleted(loaded);
    }
    ASSERT_TRUE(PumpUntil([&] { return ended; }, 10000));
    ASSERT_FALSE(r.posted.empty());
    EXPECT_EQ(r.posted.back(), PrintResultMessage(c.outcome));

    const auto controllers = std::count(r.calls.begin(), r.calls.end(), "env.CreateCoreWebView2Controller");
    if (!c.document) {
      EXPECT_EQ(controllers, 0) << "no page for a document that could not be read";
      continue;
    }
    EXPECT_EQ(controllers, 1);
    ASSERT_GE(r.executed.size(), 6u);
    EXPECT_NE(r.executed[0].find(L"pdfjsLib"), std::wstring::npos);
    EXPECT_NE(r.executed[1].find(L"WorkerMessageHandler"), std::wstring::npos);
    EXPECT_NE(r.executed[2].find(L"window.corvelPdfPrint = job"), std::wstring::npos);
    EXPECT_NE(r.executed[3].find(L"Student \\\"A\\\""), std::wstring::npos) << "the watermark, escaped";
    const std::wstring render = r.executed[4];
    EXPECT_EQ(render.rfind(L"corvelPdfPrint.render('" + Utf8ToUtf16(Base64Encode(*c.document)) + L"',", 0),
              0u);
    EXPECT_NE(render.find(L"\"dpi\":"), std::wstring::npos);
    EXPECT_EQ(polls, 2);
    EXPECT_EQ(r.unexpectedCalls(), 0);
  }
  PumpUntil([] { return false; }, 100);  // the released pages close from the loop
}

}  // namespace
