#include "tools/key_option.h"

namespace tools {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

}  // namespace

bool TakeKeyHex(std::string& hex, config::SecretBytes& key) {
  std::string bytes;
  bool valid = !hex.empty() && hex.size() % 2 == 0;
  for (std::size_t i = 0; valid && i < hex.size(); i += 2) {
    const int high = HexDigit(hex[i]);
    const int low = HexDigit(hex[i + 1]);
    valid = high >= 0 && low >= 0;
    if (valid)
      bytes += static_cast<char>(high * 16 + low);
  }
  config::SecureWipe(hex.data(), hex.size());
  config::SecretBytes parsed(std::move(bytes));
  if (!valid)
    return false;
  key = std::move(parsed);
  return true;
}

}  // namespace tools
