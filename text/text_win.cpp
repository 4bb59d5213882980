// UTF conversions on Windows: the system converter, code page UTF-8, flags 0 (invalid input is
// replaced by U+FFFD). Input lengths are passed explicitly, so embedded NULs are converted too.
#include <windows.h>

#include <climits>

#include "text/text.h"

std::string Utf16ToUtf8(const std::wstring& text) {
  if (text.empty() || text.size() > INT_MAX) return std::string();
  const int length = static_cast<int>(text.size());
  const int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string out(static_cast<size_t>(needed), '\0');
  const int written =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), needed, nullptr, nullptr);
  if (written <= 0) return std::string();
  out.resize(static_cast<size_t>(written));
  return out;
}

std::wstring Utf8ToUtf16(const std::string& text) {
  if (text.empty() || text.size() > INT_MAX) return std::wstring();
  const int length = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(needed), L'\0');
  const int written = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), needed);
  if (written <= 0) return std::wstring();
  out.resize(static_cast<size_t>(written));
  return out;
}
