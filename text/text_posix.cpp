// UTF conversions where wchar_t holds UTF-32 code points. The rules follow the Windows converter:
// an empty input gives an empty output, and every invalid sequence (a truncated or overlong
// sequence, an encoded surrogate, a value beyond U+10FFFF, a stray continuation byte) becomes
// one U+FFFD per maximal invalid subpart. Surrogates and out-of-range values in a wide string
// are encoded as U+FFFD.
#include <cstdint>

#include "text/text.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacement;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string Utf16ToUtf8(const std::wstring& text) {
  std::string out;
  if (text.empty()) return out;
  out.reserve(text.size());
  for (wchar_t unit : text) AppendUtf8(out, static_cast<char32_t>(static_cast<std::uint32_t>(unit)));
  return out;
}

std::wstring Utf8ToUtf16(const std::string& text) {
  std::wstring out;
  if (text.empty()) return out;
  out.reserve(text.size());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out += static_cast<wchar_t>(lead);
      ++i;
      continue;
    }
    int length = 0;
    char32_t cp = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      cp = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;   // no overlong forms
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      cp = lead & 0x07;
      if (lead == 0xF0) low = 0x90;   // no overlong forms
      if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
    } else {
      out += static_cast<wchar_t>(kReplacement);
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool valid = true;
    for (int k = 1; k < length; ++k, ++j) {
      if (j >= n) {
        valid = false;
        break;
      }
      const unsigned char c = static_cast<unsigned char>(text[j]);
      const unsigned char lo = k == 1 ? low : 0x80;
      const unsigned char hi = k == 1 ? high : 0xBF;
      if (c < lo || c > hi) {
        valid = false;
        break;
      }
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!valid) {
      out += static_cast<wchar_t>(kReplacement);
      i = j;  // the maximal subpart read so far is replaced as one unit
      continue;
    }
    out += static_cast<wchar_t>(cp);
    i = j;
  }
  return out;
}
