// Helpers used only by the generated configuration source.
#ifndef CORVEL_CONFIG_REVEAL_H_
#define CORVEL_CONFIG_REVEAL_H_

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace config {

// Rebuilds one stored value. The seed passes through a volatile read so that the compiler
// cannot fold the value back into plain text at build time.
std::string Reveal(const unsigned char* data, std::size_t size, std::uint64_t seed);
std::wstring Widen(const std::string& utf8);
std::vector<std::wstring> WidenAll(std::initializer_list<std::string> items);

}  // namespace config

#endif  // CORVEL_CONFIG_REVEAL_H_
