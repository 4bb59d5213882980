#include "webview/composed_page.h"

#include "text/text.h"

std::wstring ComposedPageMark::AddressForPolicy(const std::wstring& uri) {
  const bool pending = pending_;
  pending_ = false;
  // Scheme names are case-insensitive.
  lastWasComposed_ = pending && (uri == L"about:blank" || ToLowerCopy(uri.substr(0, 5)) == L"data:");
  return lastWasComposed_ ? std::wstring(L"about:blank") : uri;
}
