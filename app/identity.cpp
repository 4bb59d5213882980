#include "app/identity.h"

#include <cstdint>

#include "base/stable_names.h"

std::wstring BuildInstanceMutexName(const std::wstring& text) {
  std::uint64_t value = 0x14650FB0739D0383ULL;
  auto mix = [&value](std::uint32_t unit) {
    if (unit >= 'A' && unit <= 'Z')
      unit += 'a' - 'A';  // the C locale lower-cases only A-Z
    value ^= unit;
    value *= 0x100000001B3ULL;
  };
  // The hash runs over UTF-16 code units, also where wchar_t holds whole code points.
  for (wchar_t c : text) {
    const std::uint32_t cp = static_cast<std::uint32_t>(c);
    if (cp > 0xFFFF) {
      mix(0xD800 + ((cp - 0x10000) >> 10));
      mix(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      mix(cp);
    }
  }
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring hex;
  do {
    hex.insert(hex.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return kInstanceMutexPrefix + hex;
}

bool IsSupportedWindowsVersion(int version) {
  return version >= 10;
}

int MapWindowsVersion(unsigned long major, unsigned long minor, unsigned long build) {
  if (major >= 10)
    return build >= 22000 ? 11 : 10;
  if (major == 6)
    return minor >= 2 ? 8 : 7;
  return -1;
}
