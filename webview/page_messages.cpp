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

PageRequest DispatchPlayerMessage(const std::wstring& message) {
  if (IsPrintRequest(message)) {
    return PageRequest::kPrint;
  }
  if (IsWord(message, L"toggleFullscreen")) {
    return PageRequest::kToggleFullscreen;
  }
  if (IsWord(message, L"pageLoaded")) {
    return PageRequest::kPageLoaded;
  }
  return PageRequest::kNone;
}

PageRequest DispatchInitMessage(const std::wstring& message) {
  if (IsPrintRequest(message)) {
    return PageRequest::kPrint;
  }
  if (message == L"btn_home") {
    return PageRequest::kHome;
  }
  if (message == L"btn_back") {
    return PageRequest::kBack;
  }
  if (message == L"btn_reload") {
    return PageRequest::kReload;
  }
  if (message == L"btn_fullscreen") {
    return PageRequest::kToggleFullscreen;
  }
  return PageRequest::kNone;
}
