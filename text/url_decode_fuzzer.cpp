// Fuzzes percent-decoding: any wide text (surrogates and out-of-range units included) decodes
// without harm, valid text without "%" comes back as it was, and decoding undoes encoding.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "text/text.h"

namespace {

constexpr std::size_t kMaxInput = 4096;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

bool Unreserved(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-' ||
         c == L'.' || c == L'_' || c == L'~';
}

bool LowerHex(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput)
    return 0;
  FuzzedDataProvider provider(data, size);
  if (provider.ConsumeBool()) {
    // Arbitrary units, as a command line may carry them.
    std::wstring raw;
    while (provider.remaining_bytes() >= 2)
      raw += static_cast<wchar_t>(provider.ConsumeIntegral<std::uint16_t>());
    UrlDecode(raw);
    return 0;
  }
  // Valid text: the UTF-8 reading of the input (malformed bytes become U+FFFD).
  const std::wstring text = Utf8ToUtf16(provider.ConsumeRemainingBytesAsString());
  const std::wstring encoded = UrlEncode(text);
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == L'%') {
      // Always two lower-case hex digits after the sign.
      Check(i + 2 < encoded.size() && LowerHex(encoded[i + 1]) && LowerHex(encoded[i + 2]));
      i += 2;
    } else {
      Check(Unreserved(encoded[i]));
    }
  }
  Check(UrlDecode(encoded) == text);
  if (text.find(L'%') == std::wstring::npos)
    Check(UrlDecode(text) == text);
  return 0;
}
