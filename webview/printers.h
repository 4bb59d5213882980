// The printers offered by the print dialog and the order they are listed in.
#ifndef CORVEL_WEBVIEW_PRINTERS_H_
#define CORVEL_WEBVIEW_PRINTERS_H_

#include <string>
#include <vector>

struct PrinterEntry {
  std::wstring name;
  std::wstring port;    // carried, not displayed
  std::wstring driver;  // carried, not displayed
  bool isDefault = false;
};

// True when `name` is the default printer's name, ignoring the case of ASCII letters only (the
// spooler reports the default under the same spelling as in its list). An empty default name
// means there is no default printer, so nothing matches it.
bool IsDefaultPrinterName(const std::wstring& name, const std::wstring& defaultName);

// Default printers first; within each group by name in ascending order of UTF-16 code units:
// case-sensitive ("HP" < "HP LaserJet" < "hp"), and the same order where wide strings are UTF-32,
// so a name with a character beyond the BMP (a surrogate pair) sorts before U+E000..U+FFFF.
// Entries with equal names keep their relative order.
void SortPrinters(std::vector<PrinterEntry>& printers);

// The list as displayed: every reported printer, marked default against `defaultName`, sorted.
std::vector<PrinterEntry> BuildPrinterList(std::vector<PrinterEntry> reported,
                                           const std::wstring& defaultName);

#endif  // CORVEL_WEBVIEW_PRINTERS_H_
