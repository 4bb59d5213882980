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
  using A = PlayerMessageAction;
  const struct {
    std::wstring message;
    A action;
  } kCases[] = {
      {L"requestPrint", A::Print},
      {L"{\"type\":\"pageLoaded\",\"x\":\"requestPrint\"}", A::Print},  // print is tried first
      {L"toggleFullscreen", A::ToggleFullscreen},
      {L"\"toggleFullscreen\"", A::ToggleFullscreen},
      {L"pageLoaded", A::PageLoaded},
      {L"\"pageLoaded\"", A::PageLoaded},
      {L"toggleFullscreen ", A::None},
      {L"{\"m\":\"toggleFullscreen\"}", A::None},  // only print is found inside other text
      {L"pageloaded", A::None},
      {L"\"pageLoaded", A::None},
      {L"btn_home", A::None},  // the bar's words mean nothing here
      {L"btn_fullscreen", A::None},
      {L"btn_reload", A::None},
      {L"", A::None},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.message));
    EXPECT_EQ(DispatchPlayerMessage(c.message), c.action);
  }
}

TEST(PageMessagesTest, InitScreenDispatcher) {
  using A = InitMessageAction;
  const struct {
    std::wstring message;
    A action;
  } kCases[] = {
      {L"requestPrint", A::Print},
      {L"\"requestPrint\"", A::Print},
      {L"{\"a\":\"requestPrint\"}", A::Print},
      {L"btn_home", A::Home},
      {L"btn_back", A::Back},
      {L"btn_reload", A::Reload},
      {L"btn_fullscreen", A::ToggleFullscreen},
      {L"btn_home ", A::None},  // any extra character
      {L"btn_homex", A::None},
      {L"\"btn_home\"", A::None},
      {L"BTN_HOME", A::None},
      {L"btn_", A::None},
      {L"toggleFullscreen", A::None},
      {L"pageLoaded", A::None},
      {L"", A::None},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.message));
    EXPECT_EQ(DispatchInitMessage(c.message), c.action);
  }
}

}  // namespace
