// The printers offered by the print dialog, the order they are listed in, and the dialog's
// texts, colours and metrics, which the Windows and the Linux dialog share.
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

// ---- The printer dialog's look ------------------------------------------------------------------
// One dark dialog on both platforms: the Windows dialog (printing_win.cpp) draws it with GDI, the
// Linux one (printing_qt.cpp) with Qt. Sizes are pixels.

inline constexpr wchar_t kPrinterDialogTitle[] = L"Select Printer";
inline constexpr wchar_t kPrinterDialogPrompt[] = L"Select a printer  -  اختر طابعة";
// Two lines; the closing right-to-left mark keeps the full stop at the end of the Arabic
// sentence, where a left-to-right paragraph would otherwise put it.
inline constexpr wchar_t kPrinterDialogNotice[] =
    L"No printer found. Please connect a printer.\n"
    L"لم يتم العثور على طابعة. يرجى توصيل طابعة.\u200F";
inline constexpr wchar_t kPrinterDialogPrint[] = L"Print";
inline constexpr wchar_t kPrinterDialogCancel[] = L"Cancel";
inline constexpr wchar_t kDefaultPrinterBadge[] = L"DEFAULT";
inline constexpr wchar_t kPrinterDialogFontFace[] = L"Segoe UI";

struct PrinterDialogColour {
  unsigned char red;
  unsigned char green;
  unsigned char blue;
};

namespace printer_dialog {

inline constexpr PrinterDialogColour kDialogBackground{0x14, 0x15, 0x19};  // also behind the labels
inline constexpr PrinterDialogColour kListBackground{0x1C, 0x1E, 0x24};    // also behind the items
inline constexpr PrinterDialogColour kLabelText{0xF0, 0xF2, 0xF5};
inline constexpr PrinterDialogColour kListText{0xE6, 0xEB,
                                               0xF0};  // what the system draws in the list; the notice
inline constexpr PrinterDialogColour kItemFill{0x22, 0x25, 0x2D};
inline constexpr PrinterDialogColour kItemBorder{0x2E, 0x32, 0x3E};
inline constexpr PrinterDialogColour kItemText{0xE1, 0xE6, 0xF0};
inline constexpr PrinterDialogColour kSelectedFill{0x25, 0x63, 0xEB};
inline constexpr PrinterDialogColour kSelectedBorder{0x3B, 0x82, 0xF6};
inline constexpr PrinterDialogColour kWhite{0xFF, 0xFF, 0xFF};  // selected text, badge text, Print caption
inline constexpr PrinterDialogColour kBadgeFill{0x3B, 0x82,
                                                0xF6};  // white when selected, its text then kSelectedFill
inline constexpr PrinterDialogColour kPrintFill{0x25, 0x63, 0xEB};
inline constexpr PrinterDialogColour kPrintBorder{0x3B, 0x82, 0xF6};
inline constexpr PrinterDialogColour kPrintPressed{0x1D, 0x4E, 0xD8};  // fill and border
inline constexpr PrinterDialogColour kCancelFill{0x2D, 0x30, 0x3A};
inline constexpr PrinterDialogColour kCancelBorder{0x3C, 0x40, 0x4C};
inline constexpr PrinterDialogColour kCancelPressedFill{0x23, 0x25, 0x2D};
inline constexpr PrinterDialogColour kCancelPressedBorder{0x2D, 0x30, 0x3A};
inline constexpr PrinterDialogColour kCancelText{0xD2, 0xD7, 0xE1};

// Fonts (all kPrinterDialogFontFace): pixel heights and weights.
inline constexpr int kTitleFontPixels = 15;  // the prompt above the list
inline constexpr int kTitleFontWeight = 700;
inline constexpr int kTextFontPixels = 13;  // the notice and unselected items
inline constexpr int kTextFontWeight = 400;
inline constexpr int kSemiboldFontWeight =
    600;  // selected item and the button captions, kTextFontPixels high
inline constexpr int kBadgeFontPixels = 10;
inline constexpr int kBadgeFontWeight = 700;

// One printer in the list: a rounded card inside its row.
inline constexpr int kItemHeight = 44;
inline constexpr int kCardInsetX = 4;  // from the row's left and right
inline constexpr int kCardInsetY = 3;  // from its top and bottom
inline constexpr int kCardCorner = 8;
inline constexpr int kNameLeft = 12;          // the name's start inside the card
inline constexpr int kNameRightDefault = 75;  // its end before the card's right edge, with the badge
inline constexpr int kNameRight = 10;         // ... and without it
// The "DEFAULT" badge: vertically centred, ending kBadgeRight before the card's right edge.
inline constexpr int kBadgeWidth = 60;
inline constexpr int kBadgeHeight = 20;
inline constexpr int kBadgeRight = 10;
inline constexpr int kBadgeCorner = 10;
inline constexpr int kButtonCorner = 8;

}  // namespace printer_dialog

#endif  // CORVEL_WEBVIEW_PRINTERS_H_
