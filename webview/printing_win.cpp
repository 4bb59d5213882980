#include "webview/printing_win.h"

#include <windows.h>

#include <dwmapi.h>
#include <winspool.h>
#include <wrl/client.h>

#include <cstddef>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "base/com_callback_win.h"
#include "base/dpi.h"
#include "base/unique_handle_win.h"
#include "webview/print_requests.h"
#include "webview/print_result.h"

using Microsoft::WRL::ComPtr;

namespace {

// ---- Printers ----------------------------------------------------------------------------------

// The spooler's default-printer query, GetDefaultPrinterW, taken from WINSPOOL.DRV by its
// ordinal as the player has always taken it: like the version query's (app/identity_win.cpp),
// its name then appears neither in the import table nor among the executable's strings. 203 is
// the number the system's WINSPOOL.DRV exports it under (Wine's as well); should it ever not
// resolve, there is simply no default printer.
constexpr WORD kGetDefaultPrinterOrdinal = 203;
constexpr DWORD kDefaultPrinterBufferChars = 256;
using GetDefaultPrinterFunction = BOOL(WINAPI*)(LPWSTR buffer, LPDWORD bufferChars);

std::wstring DefaultPrinterName() {
  // Only the system's own spooler library, never one planted beside the executable.
  base::UniqueHModule spooler(LoadLibraryExW(L"winspool.drv", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!spooler)
    return {};
  const auto query = reinterpret_cast<GetDefaultPrinterFunction>(reinterpret_cast<void (*)()>(
      GetProcAddress(spooler.get(), MAKEINTRESOURCEA(kGetDefaultPrinterOrdinal))));
  if (query == nullptr)
    return {};
  wchar_t buffer[kDefaultPrinterBufferChars] = {};
  DWORD chars = kDefaultPrinterBufferChars;
  if (!query(buffer, &chars))
    return {};  // no default printer, or a name too long to be ours
  return std::wstring(buffer, wcsnlen(buffer, kDefaultPrinterBufferChars));
}

std::wstring OrEmpty(const wchar_t* text) {
  return text != nullptr ? std::wstring(text) : std::wstring();
}

// ---- Dialog ------------------------------------------------------------------------------------

// The dialog's colours (printers.h) as GDI takes them.
constexpr COLORREF Gdi(PrinterDialogColour colour) {
  return RGB(colour.red, colour.green, colour.blue);
}
constexpr COLORREF kDialogBackground = Gdi(printer_dialog::kDialogBackground);
constexpr COLORREF kListBackground = Gdi(printer_dialog::kListBackground);
constexpr COLORREF kLabelText = Gdi(printer_dialog::kLabelText);
constexpr COLORREF kListText = Gdi(printer_dialog::kListText);
constexpr COLORREF kItemFill = Gdi(printer_dialog::kItemFill);
constexpr COLORREF kItemBorder = Gdi(printer_dialog::kItemBorder);
constexpr COLORREF kItemText = Gdi(printer_dialog::kItemText);
constexpr COLORREF kSelectedFill = Gdi(printer_dialog::kSelectedFill);
constexpr COLORREF kSelectedBorder = Gdi(printer_dialog::kSelectedBorder);
constexpr COLORREF kWhite = Gdi(printer_dialog::kWhite);
constexpr COLORREF kBadgeFill = Gdi(printer_dialog::kBadgeFill);
constexpr COLORREF kPrintFill = Gdi(printer_dialog::kPrintFill);
constexpr COLORREF kPrintBorder = Gdi(printer_dialog::kPrintBorder);
constexpr COLORREF kPrintPressed = Gdi(printer_dialog::kPrintPressed);
constexpr COLORREF kCancelFill = Gdi(printer_dialog::kCancelFill);
constexpr COLORREF kCancelBorder = Gdi(printer_dialog::kCancelBorder);
constexpr COLORREF kCancelPressedFill = Gdi(printer_dialog::kCancelPressedFill);
constexpr COLORREF kCancelPressedBorder = Gdi(printer_dialog::kCancelPressedBorder);
constexpr COLORREF kCancelText = Gdi(printer_dialog::kCancelText);

// Desktop window manager attributes, by number: not every SDK names them.
constexpr DWORD kDwmUseImmersiveDarkMode = 20;
constexpr DWORD kDwmUseImmersiveDarkModeOlder = 19;  // Windows 10 before 20H1
constexpr DWORD kDwmWindowCornerPreference = 33;
constexpr int kDwmCornerRound = 2;

constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kStaticAtom = 0x0082;
constexpr WORD kListBoxAtom = 0x0083;

// Owned by SelectPrinterFrom; the dialog keeps a pointer to it and creates and deletes the fonts
// and brushes.
struct PrinterDialogState {
  std::vector<PrinterEntry> printers;  // in display order
  std::wstring selectedName;           // empty until Print is chosen
  base::UniqueGdiObject titleFont;
  base::UniqueGdiObject textFont;
  base::UniqueGdiObject semiboldFont;
  base::UniqueGdiObject badgeFont;
  base::UniqueGdiObject dialogBrush;
  base::UniqueGdiObject listBrush;
  unsigned dpi = base::kDefaultDpi;  // the monitor's, when the dialog starts
  // The drawing's sizes are for 96 DPI.
  int Px(int pixels) const { return base::ScaleToDpi(pixels, dpi); }
};

class TemplateWriter {
 public:
  void Word(WORD value) { words_.push_back(value); }
  void Dword(DWORD value) {
    Word(LOWORD(value));
    Word(HIWORD(value));
  }
  void Short(short value) { Word(static_cast<WORD>(value)); }
  void Text(const wchar_t* text) {
    for (; *text != L'\0'; ++text)
      Word(static_cast<WORD>(*text));
    Word(0);
  }
  void AlignToDword() {
    if (words_.size() % 2 != 0)
      Word(0);
  }

  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom, const wchar_t* text) {
    AlignToDword();
    Dword(style);
    Dword(0);  // extended style
    Short(x);
    Short(y);
    Short(cx);
    Short(cy);
    Word(id);
    Word(0xFFFF);  // predefined class by atom
    Word(classAtom);
    Text(text);
    Word(0);  // no creation data
  }

  std::vector<WORD> Take() { return std::move(words_); }

 private:
  std::vector<WORD> words_;
};

// A font of the dialog's face, `pixels` high (a negative height: the character height).
HGDIOBJ MakeFont(int pixels, int weight) {
  return CreateFontW(-pixels, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                     kPrinterDialogFontFace);
}

// A rounded rectangle with a 1-pixel border, or without a border when `border` is false.
void DrawRounded(HDC dc, const RECT& rect, COLORREF fill, bool withBorder, COLORREF border, int corner) {
  base::UniqueGdiObject brush(CreateSolidBrush(fill));
  base::UniqueGdiObject pen(withBorder ? CreatePen(PS_SOLID, 1, border) : nullptr);
  const HGDIOBJ oldBrush = SelectObject(dc, brush ? brush.get() : GetStockObject(NULL_BRUSH));
  const HGDIOBJ oldPen = SelectObject(dc, pen ? pen.get() : GetStockObject(NULL_PEN));
  RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, corner, corner);
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
}

void DrawLabel(HDC dc,
               const wchar_t* text,
               int length,
               RECT rect,
               const base::UniqueGdiObject& font,
               COLORREF color,
               UINT format) {
  const HGDIOBJ oldFont = font ? SelectObject(dc, font.get()) : nullptr;
  SetTextColor(dc, color);
  SetBkMode(dc, TRANSPARENT);
  DrawTextW(dc, text, length, &rect, format);
  if (oldFont != nullptr)
    SelectObject(dc, oldFont);
}

void DrawPrinterItem(const PrinterDialogState& state, const DRAWITEMSTRUCT& draw) {
  if (draw.itemID == static_cast<UINT>(-1) || draw.itemID >= state.printers.size())
    return;
  const PrinterEntry& printer = state.printers[draw.itemID];
  const bool selected = (draw.itemState & ODS_SELECTED) != 0;
  const HDC dc = draw.hDC;

  FillRect(dc, &draw.rcItem, static_cast<HBRUSH>(state.listBrush.get()));
  RECT card = draw.rcItem;
  InflateRect(&card, -state.Px(printer_dialog::kCardInsetX), -state.Px(printer_dialog::kCardInsetY));
  DrawRounded(dc, card, selected ? kSelectedFill : kItemFill, true, selected ? kSelectedBorder : kItemBorder,
              state.Px(printer_dialog::kCardCorner));

  RECT nameRect = card;
  nameRect.left += state.Px(printer_dialog::kNameLeft);
  nameRect.right -=
      printer.isDefault ? state.Px(printer_dialog::kNameRightDefault) : state.Px(printer_dialog::kNameRight);
  DrawLabel(dc, printer.name.c_str(), static_cast<int>(printer.name.size()), nameRect,
            selected ? state.semiboldFont : state.textFont, selected ? kWhite : kItemText,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);

  if (printer.isDefault) {
    RECT badge;
    badge.right = card.right - state.Px(printer_dialog::kBadgeRight);
    badge.left = badge.right - state.Px(printer_dialog::kBadgeWidth);
    badge.top = card.top + (card.bottom - card.top - state.Px(printer_dialog::kBadgeHeight)) / 2;
    badge.bottom = badge.top + state.Px(printer_dialog::kBadgeHeight);
    DrawRounded(dc, badge, selected ? kWhite : kBadgeFill, false, 0, state.Px(printer_dialog::kBadgeCorner));
    DrawLabel(dc, kDefaultPrinterBadge, -1, badge, state.badgeFont, selected ? kSelectedFill : kWhite,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
}

void DrawDialogButton(const PrinterDialogState& state, const DRAWITEMSTRUCT& draw) {
  const bool pressed = (draw.itemState & ODS_SELECTED) != 0;
  const bool isPrint = draw.CtlID == kPrinterDialogPrintId;
  COLORREF fill;
  COLORREF border;
  if (isPrint) {
    fill = pressed ? kPrintPressed : kPrintFill;
    border = pressed ? kPrintPressed : kPrintBorder;
  } else {
    fill = pressed ? kCancelPressedFill : kCancelFill;
    border = pressed ? kCancelPressedBorder : kCancelBorder;
  }
  // The corners outside the rounded rectangle show the dialog's background.
  FillRect(draw.hDC, &draw.rcItem, static_cast<HBRUSH>(state.dialogBrush.get()));
  DrawRounded(draw.hDC, draw.rcItem, fill, true, border, state.Px(printer_dialog::kButtonCorner));
  wchar_t caption[64] = {};
  const int length = GetWindowTextW(draw.hwndItem, caption, 64);
  DrawLabel(draw.hDC, caption, length, draw.rcItem, state.semiboldFont, isPrint ? kWhite : kCancelText,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

void CentreOnPrimaryScreen(HWND dialog) {
  RECT rect;
  if (!GetWindowRect(dialog, &rect))
    return;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ApplyDarkFrame(HWND dialog) {
  const BOOL dark = TRUE;
  if (FAILED(DwmSetWindowAttribute(dialog, kDwmUseImmersiveDarkMode, &dark, sizeof(dark)))) {
    DwmSetWindowAttribute(dialog, kDwmUseImmersiveDarkModeOlder, &dark, sizeof(dark));
  }
  const int corners = kDwmCornerRound;
  DwmSetWindowAttribute(dialog, kDwmWindowCornerPreference, &corners, sizeof(corners));
}

void InitialiseDialog(HWND dialog, PrinterDialogState& state) {
  SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&state));
  CentreOnPrimaryScreen(dialog);
  ApplyDarkFrame(dialog);

  state.dpi = GetDpiForWindow(dialog);
  state.titleFont.reset(
      MakeFont(state.Px(printer_dialog::kTitleFontPixels), printer_dialog::kTitleFontWeight));
  state.textFont.reset(MakeFont(state.Px(printer_dialog::kTextFontPixels), printer_dialog::kTextFontWeight));
  state.semiboldFont.reset(
      MakeFont(state.Px(printer_dialog::kTextFontPixels), printer_dialog::kSemiboldFontWeight));
  state.badgeFont.reset(
      MakeFont(state.Px(printer_dialog::kBadgeFontPixels), printer_dialog::kBadgeFontWeight));
  state.dialogBrush.reset(CreateSolidBrush(kDialogBackground));
  state.listBrush.reset(CreateSolidBrush(kListBackground));
  SendDlgItemMessageW(dialog, kPrinterDialogLabelId, WM_SETFONT,
                      reinterpret_cast<WPARAM>(state.titleFont.get()), FALSE);
  SendDlgItemMessageW(dialog, kPrinterDialogNoticeId, WM_SETFONT,
                      reinterpret_cast<WPARAM>(state.textFont.get()), FALSE);

  const HWND list = GetDlgItem(dialog, kPrinterDialogListId);
  if (state.printers.empty()) {
    ShowWindow(list, SW_HIDE);
    ShowWindow(GetDlgItem(dialog, kPrinterDialogPrintId), SW_HIDE);
    ShowWindow(GetDlgItem(dialog, kPrinterDialogNoticeId), SW_SHOW);
    return;
  }
  for (const PrinterEntry& printer : state.printers) {
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(printer.name.c_str()));
  }
  SendMessageW(list, LB_SETCURSEL, 0, 0);
}

// Print, or a double-click on an item: the selected printer, if any, is the answer.
void ChooseSelectedPrinter(HWND dialog, PrinterDialogState& state) {
  const LRESULT index = SendDlgItemMessageW(dialog, kPrinterDialogListId, LB_GETCURSEL, 0, 0);
  if (index == LB_ERR || index < 0 || static_cast<std::size_t>(index) >= state.printers.size())
    return;
  state.selectedName = state.printers[static_cast<std::size_t>(index)].name;
  EndDialog(dialog, 1);
}

INT_PTR HandleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* state = reinterpret_cast<PrinterDialogState*>(lParam);
    InitialiseDialog(dialog, *state);
    if (state->printers.empty()) {
      // The list, the first tab stop, is hidden: Cancel is the only way out.
      SetFocus(GetDlgItem(dialog, kPrinterDialogCancelId));
      return FALSE;
    }
    return TRUE;
  }
  if (message == WM_MEASUREITEM) {
    // Sent while the list is created, before WM_INITDIALOG: no state needed.
    auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
    if (measure->CtlType != ODT_LISTBOX || measure->CtlID != kPrinterDialogListId)
      return FALSE;
    measure->itemHeight = base::ScaleToDpi(printer_dialog::kItemHeight, GetDpiForWindow(dialog));
    return TRUE;
  }

  auto* state = reinterpret_cast<PrinterDialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (state == nullptr)
    return FALSE;
  switch (message) {
    case WM_DRAWITEM: {
      const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (draw->CtlType == ODT_LISTBOX && draw->CtlID == kPrinterDialogListId) {
        DrawPrinterItem(*state, *draw);
        return TRUE;
      }
      if (draw->CtlType == ODT_BUTTON &&
          (draw->CtlID == kPrinterDialogPrintId || draw->CtlID == kPrinterDialogCancelId)) {
        DrawDialogButton(*state, *draw);
        return TRUE;
      }
      return FALSE;
    }
    case WM_CTLCOLORDLG:
      return reinterpret_cast<INT_PTR>(state->dialogBrush.get());
    case WM_CTLCOLORSTATIC: {
      const HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, kLabelText);
      SetBkColor(dc, kDialogBackground);
      return reinterpret_cast<INT_PTR>(state->dialogBrush.get());
    }
    case WM_CTLCOLORLISTBOX: {
      const HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, kListText);
      SetBkColor(dc, kListBackground);
      return reinterpret_cast<INT_PTR>(state->listBrush.get());
    }
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      if (id == IDCANCEL || (id == kPrinterDialogCancelId && code == BN_CLICKED)) {
        state->selectedName.clear();
        EndDialog(dialog, 2);
        return TRUE;
      }
      if ((id == kPrinterDialogPrintId && code == BN_CLICKED) ||
          (id == kPrinterDialogListId && code == LBN_DBLCLK)) {
        ChooseSelectedPrinter(dialog, *state);
        return TRUE;
      }
      return FALSE;  // Enter (IDOK) among them: only Print and a double-click choose
    }
    case WM_DESTROY:
      state->titleFont.reset();
      state->textFont.reset();
      state->semiboldFont.reset();
      state->badgeFont.reset();
      state->dialogBrush.reset();
      state->listBrush.reset();
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK PrinterDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  try {
    return HandleDialogMessage(dialog, message, wParam, lParam);
  } catch (...) {
    return FALSE;
  }
}

// ---- Printing through the view -----------------------------------------------------------------

}  // namespace

void PrintViewToPrinter(const std::wstring& printerName,
                        const ComPtr<ICoreWebView2Environment>& environment,
                        const ComPtr<ICoreWebView2>& view,
                        const PrintPaper* paper,
                        const std::function<void(PrintOutcome)>& done) {
  ComPtr<ICoreWebView2Environment6> environment6;
  if (!environment || FAILED(environment.As(&environment6)) || !environment6) {
    done(PrintOutcome::kEnvironmentUnavailable);
    return;
  }
  ComPtr<ICoreWebView2PrintSettings> settings;
  if (FAILED(environment6->CreatePrintSettings(&settings)) || !settings) {
    done(PrintOutcome::kSettingsFailed);
    return;
  }
  // A name the settings refuse would send the page to the default printer instead.
  ComPtr<ICoreWebView2PrintSettings2> settings2;
  if (FAILED(settings.As(&settings2)) || !settings2 ||
      FAILED(settings2->put_PrinterName(printerName.c_str()))) {
    done(PrintOutcome::kPrinterNameFailed);
    return;
  }
  if (paper) {
    // The page's own sheets fill the paper: no margins, header or footer of the runtime's.
    settings->put_PageWidth(paper->width / 96);
    settings->put_PageHeight(paper->height / 96);
    settings->put_MarginTop(0);
    settings->put_MarginBottom(0);
    settings->put_MarginLeft(0);
    settings->put_MarginRight(0);
    settings->put_ShouldPrintBackgrounds(TRUE);
    settings->put_ShouldPrintHeaderAndFooter(FALSE);
  }
  ComPtr<ICoreWebView2_16> view16;
  if (FAILED(view.As(&view16)) || !view16) {
    done(PrintOutcome::kPrintApiUnavailable);
    return;
  }
  // The completion keeps the view (through `done`) until the runtime calls it, once.
  auto completed = base::ComCallback<ICoreWebView2PrintCompletedHandler>(
      [done](HRESULT errorCode, COREWEBVIEW2_PRINT_STATUS status) {
        done(PrintCompletionOutcome(errorCode, static_cast<int>(status)));
      });
  // When the call itself fails the runtime never calls the handler: report the failure now.
  if (!completed || FAILED(view16->Print(settings.Get(), completed.Get())))
    done(PrintOutcome::kPrintFailed);
}

namespace {

// The print of one request through WebView2: the printer dialog, then the runtime's silent print.
class WebView2PrintBackend final : public PrintBackend {
 public:
  WebView2PrintBackend(HWND owner,
                       ComPtr<ICoreWebView2Environment> environment,
                       ComPtr<ICoreWebView2> view,
                       const PrinterSelector& selectPrinter)
      : owner_(owner), environment_(std::move(environment)), view_(std::move(view)), select_(selectPrinter) {}

  std::wstring ChoosePrinter() override { return select_ ? select_(owner_) : std::wstring(); }

  void PrintTo(const std::wstring& printer, std::function<void(PrintOutcome)> done) override {
    PrintViewToPrinter(printer, environment_, view_, nullptr, done);
  }

 private:
  HWND owner_;
  ComPtr<ICoreWebView2Environment> environment_;
  ComPtr<ICoreWebView2> view_;
  const PrinterSelector& select_;
};

}  // namespace

std::vector<PrinterEntry> EnumeratePrinters() {
  const std::wstring defaultName = DefaultPrinterName();

  const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
  DWORD needed = 0;
  DWORD returned = 0;
  EnumPrintersW(flags, nullptr, 2, nullptr, 0, &needed, &returned);
  if (needed == 0)
    return {};
  // operator new aligns the buffer for the PRINTER_INFO_2W records at its start.
  std::vector<BYTE> buffer(needed);
  if (!EnumPrintersW(flags, nullptr, 2, buffer.data(), needed, &needed, &returned))
    return {};

  const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
  std::vector<PrinterEntry> printers;
  printers.reserve(returned);
  for (DWORD i = 0; i < returned; ++i) {
    printers.push_back(
        {OrEmpty(info[i].pPrinterName), OrEmpty(info[i].pPortName), OrEmpty(info[i].pDriverName), false});
  }
  return BuildPrinterList(std::move(printers), defaultName);
}

std::vector<WORD> BuildPrinterDialogTemplate() {
  TemplateWriter writer;
  // DLGTEMPLATE
  writer.Dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT);
  writer.Dword(0);  // extended style
  writer.Word(5);   // controls
  writer.Short(0);
  writer.Short(0);
  writer.Short(280);
  writer.Short(210);
  writer.Word(0);  // no menu
  writer.Word(0);  // the standard dialog class
  writer.Text(kPrinterDialogTitle);
  writer.Word(10);  // points
  writer.Text(kPrinterDialogFontFace);

  writer.Item(WS_CHILD | WS_VISIBLE | SS_LEFT, 12, 10, 256, 16, kPrinterDialogLabelId, kStaticAtom,
              kPrinterDialogPrompt);
  writer.Item(
      WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS, 12,
      30, 256, 135, kPrinterDialogListId, kListBoxAtom, L"");
  writer.Item(WS_CHILD | SS_CENTER, 12, 60, 256, 40, kPrinterDialogNoticeId, kStaticAtom,
              kPrinterDialogNotice);
  writer.Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, 124, 174, 70, 24, kPrinterDialogPrintId,
              kButtonAtom, kPrinterDialogPrint);
  writer.Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, 198, 174, 70, 24, kPrinterDialogCancelId,
              kButtonAtom, kPrinterDialogCancel);
  return writer.Take();
}

std::wstring SelectPrinterFrom(HWND owner, std::vector<PrinterEntry> printers) {
  PrinterDialogState state;
  state.printers = std::move(printers);
  const std::vector<WORD> dialogTemplate = BuildPrinterDialogTemplate();
  const INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                                 reinterpret_cast<LPCDLGTEMPLATEW>(dialogTemplate.data()),
                                                 owner, PrinterDialogProc, reinterpret_cast<LPARAM>(&state));
  return result == 1 ? state.selectedName : std::wstring();
}

std::wstring SelectPrinter(HWND owner) {
  return SelectPrinterFrom(owner, EnumeratePrinters());
}

void PrintViewPage(HWND owner,
                   ICoreWebView2Environment* environment,
                   ICoreWebView2* view,
                   const PrinterSelector& selectPrinter) noexcept {
  if (view == nullptr)
    return;
  try {
    // The dialog's nested loop may let the host let go of its view: the backend and the poster
    // keep both alive until done.
    const ComPtr<ICoreWebView2> keptView(view);
    WebView2PrintBackend backend(owner, ComPtr<ICoreWebView2Environment>(environment), keptView,
                                 selectPrinter);
    RunPrintFlow(backend,
                 [keptView](const std::wstring& json) { keptView->PostWebMessageAsJson(json.c_str()); });
  } catch (...) {
  }
}

void PrintViewPage(HWND owner, ICoreWebView2Environment* environment, ICoreWebView2* view) noexcept {
  try {
    const PrinterSelector select = SelectPrinter;
    PrintViewPage(owner, environment, view, select);
  } catch (...) {
  }
}
