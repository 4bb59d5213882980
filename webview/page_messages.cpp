#include "webview/page_messages.h"

namespace {

constexpr wchar_t kRequestPrint[] = L"requestPrint";
constexpr wchar_t kRequestPrintQuoted[] = L"\"requestPrint\"";

// The word as posted as a string, or as the JSON text of that string.
bool IsWord(const std::wstring& message, const std::wstring& word) {
  return message == word || message == L"\"" + word + L"\"";
}

}  // namespace

bool IsPrintRequest(const std::wstring& message) {
  return message == kRequestPrint || message.find(kRequestPrintQuoted) != std::wstring::npos;
}

PlayerMessageAction DispatchPlayerMessage(const std::wstring& message) {
  if (IsPrintRequest(message)) {
    return PlayerMessageAction::Print;
  }
  if (IsWord(message, L"toggleFullscreen")) {
    return PlayerMessageAction::ToggleFullscreen;
  }
  if (IsWord(message, L"pageLoaded")) {
    return PlayerMessageAction::PageLoaded;
  }
  return PlayerMessageAction::None;
}

InitMessageAction DispatchInitMessage(const std::wstring& message) {
  if (IsPrintRequest(message)) {
    return InitMessageAction::Print;
  }
  if (message == L"btn_home") {
    return InitMessageAction::Home;
  }
  if (message == L"btn_back") {
    return InitMessageAction::Back;
  }
  if (message == L"btn_reload") {
    return InitMessageAction::Reload;
  }
  if (message == L"btn_fullscreen") {
    return InitMessageAction::ToggleFullscreen;
  }
  return InitMessageAction::None;
}
