#include "webview/page_messages.h"

#include <string>

#include <gtest/gtest.h>

#include "text/text.h"

namespace {

TEST(PageMessagesTest, PrintRequestForms) {
  const struct {
    std::wstring message;
    bool print;
  } kCases[] = {
      {L"requestPrint", true},
      {L"\"requestPrint\"", true},               // posted as a JSON string
      {L"{\"action\":\"requestPrint\"}", true},  // a JSON object carrying it
      {L"[1,\"requestPrint\",2]", true},
      {L"xx\"requestPrint\"yy", true},
      {L"requestPrint ", false},  // the bare form is exact
      {L" requestPrint", false},
      {L"RequestPrint", false},
      {L"requestprint", false},
      {L"\"requestPrint", false},
      {L"{\"action\":\"requestPrintNow\"}", false},
      {L"'requestPrint'", false},
      {L"", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.message));
    EXPECT_EQ(IsPrintRequest(c.message), c.print);
  }
}

TEST(PageMessagesTest, PlayerDispatcher) {
  using A = PageRequest;
  const struct {
    std::wstring message;
    A action;
  } kCases[] = {
      {L"requestPrint", A::kPrint},
      {L"{\"type\":\"pageLoaded\",\"x\":\"requestPrint\"}", A::kPrint},  // print is tried first
      {L"toggleFullscreen", A::kToggleFullscreen},
      {L"\"toggleFullscreen\"", A::kToggleFullscreen},
      {L"pageLoaded", A::kPageLoaded},
      {L"\"pageLoaded\"", A::kPageLoaded},
      {L"toggleFullscreen ", A::kNone},
      {L"{\"m\":\"toggleFullscreen\"}", A::kNone},  // only print is found inside other text
      {L"pageloaded", A::kNone},
      {L"\"pageLoaded", A::kNone},
      {L"btn_home", A::kNone},  // the bar's words mean nothing here
      {L"btn_fullscreen", A::kNone},
      {L"btn_reload", A::kNone},
      {L"", A::kNone},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.message));
    EXPECT_EQ(DispatchPlayerMessage(c.message), c.action);
  }
}

TEST(PageMessagesTest, InitScreenDispatcher) {
  using A = PageRequest;
  const struct {
    std::wstring message;
    A action;
  } kCases[] = {
      {L"requestPrint", A::kPrint},
      {L"\"requestPrint\"", A::kPrint},
      {L"{\"a\":\"requestPrint\"}", A::kPrint},
      {L"btn_home", A::kHome},
      {L"btn_back", A::kBack},
      {L"btn_reload", A::kReload},
      {L"btn_fullscreen", A::kToggleFullscreen},
      {L"btn_home ", A::kNone},  // any extra character
      {L"btn_homex", A::kNone},
      {L"\"btn_home\"", A::kNone},
      {L"BTN_HOME", A::kNone},
      {L"btn_", A::kNone},
      {L"toggleFullscreen", A::kNone},
      {L"pageLoaded", A::kNone},
      {L"", A::kNone},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.message));
    EXPECT_EQ(DispatchInitMessage(c.message), c.action);
  }
}

}  // namespace
