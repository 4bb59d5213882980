#include "text/text.h"

#include <cstddef>

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexDigits[] = "0123456789abcdef";

int Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsStreamSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads the two characters after a "%" the way a formatted stream in hex mode reads an integer:
// leading white space skipped, an optional sign, then the hex digits that follow. Returns -1
// when no number can be read.
int ReadHexPair(unsigned char a, unsigned char b) {
  const unsigned char pair[2] = {a, b};
  std::size_t i = 0;
  while (i < 2 && IsStreamSpace(pair[i])) ++i;
  bool negative = false;
  if (i < 2 && (pair[i] == '+' || pair[i] == '-')) {
    negative = pair[i] == '-';
    ++i;
  }
  if (i >= 2 || HexValue(pair[i]) < 0) return -1;
  int value = 0;
  for (; i < 2 && HexValue(pair[i]) >= 0; ++i) value = value * 16 + HexValue(pair[i]);
  // A negative number wraps like an unsigned read; only the low 8 bits are kept.
  return (negative ? -value : value) & 0xFF;
}

}  // namespace

std::wstring HtmlEscape(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    switch (c) {
      case L'&': out += L"&amp;"; break;
      case L'<': out += L"&lt;"; break;
      case L'>': out += L"&gt;"; break;
      case L'"': out += L"&quot;"; break;
      case L'\'': out += L"&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::wstring JsStringEscape(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    switch (c) {
      case L'\n': out += L"\\n"; break;
      case L'\r': out += L"\\r"; break;
      case L'"': out += L"\\\""; break;
      case L'\'': out += L"\\'"; break;
      case L'<': out += L"\\x3C"; break;
      case L'>': out += L"\\x3E"; break;
      case L'\\': out += L"\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

std::wstring UrlDecode(const std::wstring& text) {
  const std::string bytes = Utf16ToUtf8(text);
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '%' && i + 2 < bytes.size()) {
      const int value = ReadHexPair(static_cast<unsigned char>(bytes[i + 1]),
                                    static_cast<unsigned char>(bytes[i + 2]));
      if (value >= 0) {
        out += static_cast<char>(value);
        i += 2;
        continue;
      }
    }
    out += static_cast<char>(c);
  }
  return Utf8ToUtf16(out);
}

std::wstring UrlEncode(const std::wstring& text) {
  const std::string bytes = Utf16ToUtf8(text);
  std::string out;
  out.reserve(bytes.size() * 3);
  for (char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHexDigits[c >> 4];
      out += kHexDigits[c & 0x0F];
    }
  }
  return Utf8ToUtf16(out);
}

std::vector<unsigned char> Base64Decode(const std::string& text) {
  std::vector<unsigned char> out;
  out.reserve(text.size() / 4 * 3 + 2);
  unsigned int group = 0;
  int count = 0;
  for (char ch : text) {
    const int value = Base64Value(static_cast<unsigned char>(ch));
    if (value < 0) break;  // "=" and every character outside the alphabet end the text
    group = (group << 6) | static_cast<unsigned int>(value);
    if (++count == 4) {
      out.push_back(static_cast<unsigned char>(group >> 16));
      out.push_back(static_cast<unsigned char>(group >> 8));
      out.push_back(static_cast<unsigned char>(group));
      group = 0;
      count = 0;
    }
  }
  if (count == 2) {
    out.push_back(static_cast<unsigned char>(group >> 4));
  } else if (count == 3) {
    out.push_back(static_cast<unsigned char>(group >> 10));
    out.push_back(static_cast<unsigned char>(group >> 2));
  }
  return out;
}

std::string Base64Encode(const std::vector<unsigned char>& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned int group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out += kBase64Alphabet[(group >> 18) & 63];
    out += kBase64Alphabet[(group >> 12) & 63];
    out += kBase64Alphabet[(group >> 6) & 63];
    out += kBase64Alphabet[group & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    const unsigned int group = (bytes[i] << 16) | (rest == 2 ? bytes[i + 1] << 8 : 0);
    out += kBase64Alphabet[(group >> 18) & 63];
    out += kBase64Alphabet[(group >> 12) & 63];
    out += rest == 2 ? kBase64Alphabet[(group >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string Base64Encode(const std::string& bytes) {
  return Base64Encode(std::vector<unsigned char>(bytes.begin(), bytes.end()));
}

std::string HexEncode(const std::vector<unsigned char>& bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 0x0F];
  }
  return out;
}

std::wstring ToLowerCopy(const std::wstring& text) {
  std::wstring out = text;
  for (wchar_t& c : out) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return out;
}

std::vector<std::wstring> SplitString(const std::wstring& text, wchar_t delimiter) {
  std::vector<std::wstring> parts;
  std::wstring current;
  for (wchar_t c : text) {
    if (c == delimiter) {
      parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

std::wstring WidenAscii(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  for (char c : text) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return out;
}
