#include "webview/printers.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "text/text.h"

namespace {

// The name as UTF-16 code units. Where wide strings are UTF-32 a character beyond the BMP becomes
// its surrogate pair; a value outside Unicode becomes U+FFFD.
std::u16string Utf16Units(const std::wstring& text) {
  std::u16string units;
  units.reserve(text.size());
  for (wchar_t c : text) {
    if constexpr (sizeof(wchar_t) == 2) {
      units.push_back(static_cast<char16_t>(c));
    } else {
      const auto code = static_cast<std::uint32_t>(c);
      if (code < 0x10000) {
        units.push_back(static_cast<char16_t>(code));
      } else if (code <= 0x10FFFF) {
        const std::uint32_t offset = code - 0x10000;
        units.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
        units.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
      } else {
        units.push_back(u'\xFFFD');
      }
    }
  }
  return units;
}

}  // namespace

bool IsDefaultPrinterName(const std::wstring& name, const std::wstring& defaultName) {
  return !defaultName.empty() && name.size() == defaultName.size() &&
         ToLowerCopy(name) == ToLowerCopy(defaultName);
}

void SortPrinters(std::vector<PrinterEntry>& printers) {
  // Keys are computed once; std::u16string compares by unsigned code unit, a prefix first.
  std::vector<std::pair<std::u16string, std::size_t>> keys;
  keys.reserve(printers.size());
  for (std::size_t i = 0; i < printers.size(); ++i) {
    keys.emplace_back(Utf16Units(printers[i].name), i);
  }
  std::stable_sort(keys.begin(), keys.end(), [&printers](const auto& a, const auto& b) {
    const bool aDefault = printers[a.second].isDefault;
    const bool bDefault = printers[b.second].isDefault;
    if (aDefault != bDefault)
      return aDefault;
    return a.first < b.first;
  });
  std::vector<PrinterEntry> sorted;
  sorted.reserve(printers.size());
  for (const auto& key : keys) {
    sorted.push_back(std::move(printers[key.second]));
  }
  printers = std::move(sorted);
}

std::vector<PrinterEntry> BuildPrinterList(std::vector<PrinterEntry> reported,
                                           const std::wstring& defaultName) {
  for (PrinterEntry& entry : reported) {
    entry.isDefault = IsDefaultPrinterName(entry.name, defaultName);
  }
  SortPrinters(reported);
  return reported;
}
