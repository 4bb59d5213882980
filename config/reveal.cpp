#include "config/reveal.h"

#include "config/config.h"
#include "text/text.h"

namespace config {

void SecureWipe(void* data, std::size_t size) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
  while (size--) *p++ = 0;
}

SecretBytes::SecretBytes(SecretBytes&& other) noexcept : bytes_(std::move(other.bytes_)) {
  other.Wipe();
}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
  if (this != &other) {
    Wipe();
    bytes_ = std::move(other.bytes_);
    other.Wipe();
  }
  return *this;
}

void SecretBytes::Wipe() {
  SecureWipe(bytes_.data(), bytes_.size());
  bytes_.clear();
}

std::string Reveal(const unsigned char* data, std::size_t size, std::uint64_t seed) {
  volatile std::uint64_t hidden = seed;
  std::uint64_t state = hidden;
  std::string out(size, '\0');
  std::uint64_t word = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (i % 8 == 0) {  // splitmix64
      state += 0x9E3779B97F4A7C15ULL;
      word = state;
      word = (word ^ (word >> 30)) * 0xBF58476D1CE4E5B9ULL;
      word = (word ^ (word >> 27)) * 0x94D049BB133111EBULL;
      word ^= word >> 31;
    }
    out[i] = static_cast<char>(data[i] ^ static_cast<unsigned char>(word >> (8 * (i % 8))));
  }
  return out;
}

std::wstring Widen(const std::string& utf8) { return Utf8ToUtf16(utf8); }

std::vector<std::wstring> WidenAll(std::initializer_list<std::string> items) {
  std::vector<std::wstring> out;
  out.reserve(items.size());
  for (const std::string& item : items) out.push_back(Utf8ToUtf16(item));
  return out;
}

}  // namespace config
