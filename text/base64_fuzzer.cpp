// Fuzzes Base64: any text decodes without harm and stops where the alphabet ends; encoding
// then decoding gives the bytes back, whatever follows the encoded text after a break.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "text/text.h"

namespace {

constexpr std::size_t kMaxInput = 4096;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

bool InAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput)
    return 0;
  FuzzedDataProvider provider(data, size);
  const std::string text = provider.ConsumeRandomLengthString(kMaxInput);
  const std::vector<unsigned char> bytes = provider.ConsumeRemainingBytes<unsigned char>();

  // Decoding reads the text up to the first character outside the alphabet and no further.
  std::size_t end = 0;
  while (end < text.size() && InAlphabet(text[end]))
    ++end;
  const std::vector<unsigned char> decoded = Base64Decode(text);
  Check(decoded == Base64Decode(text.substr(0, end)));
  Check(decoded.size() == end / 4 * 3 + (end % 4 == 0 || end % 4 == 1 ? 0 : end % 4 - 1));

  // Encoding: four characters per started group of three, and the bytes come back, also when
  // the text is cut by a line break and anything after it.
  const std::string encoded = Base64Encode(bytes);
  Check(encoded.size() == (bytes.size() + 2) / 3 * 4);
  Check(Base64Decode(encoded) == bytes);
  Check(Base64Decode(encoded + "\n" + text) == bytes);
  // A decoded text encodes to a text that decodes to the same bytes.
  Check(Base64Decode(Base64Encode(decoded)) == decoded);
  return 0;
}
