#include "webview/printing_win.h"

#include <windows.h>

#include <wrl/client.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "base/dpi.h"
#include "text/text.h"
#include "webview/test/fake_com_win.h"

using Microsoft::WRL::ComPtr;

namespace {

// Per-monitor aware, as corvel.exe's manifest makes the player.
[[maybe_unused]] const bool kPerMonitorAware =
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) != FALSE;

// ---- Reading the dialog template ---------------------------------------------------------------

class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<WORD>& words) : words_(words) {}
  WORD Word() { return at_ < words_.size() ? words_[at_++] : (overrun_ = true, 0); }
  DWORD Dword() {
    const WORD low = Word();
    return MAKELONG(low, Word());
  }
  short Short() { return static_cast<short>(Word()); }
  std::wstring Text() {
    std::wstring text;
    for (WORD w = Word(); w != 0 && !overrun_; w = Word())
      text.push_back(static_cast<wchar_t>(w));
    return text;
  }
  // Skips the padding before an item; returns whether the padding words were zero.
  bool AlignToDword() {
    bool zero = true;
    while (at_ % 2 != 0)
      zero = Word() == 0 && zero;
    return zero;
  }
  std::size_t byteOffset() const { return at_ * sizeof(WORD); }
  bool atEnd() const { return at_ == words_.size(); }
  bool overrun() const { return overrun_; }

 private:
  const std::vector<WORD>& words_;
  std::size_t at_ = 0;
  bool overrun_ = false;
};

TEST(PrinterDialogTemplateTest, IsAWellFormedClassicTemplate) {
  const std::vector<WORD> words = BuildPrinterDialogTemplate();
  ASSERT_EQ(reinterpret_cast<std::uintptr_t>(words.data()) % 4, 0u);
  TemplateReader reader(words);

  // DLGTEMPLATE, not the extended form (which starts with the words 1 and 0xFFFF).
  EXPECT_EQ(reader.Dword(),
            static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT));
  EXPECT_EQ(reader.Dword(), 0u) << "extended style";
  EXPECT_EQ(reader.Word(), 5) << "the number of controls; the dialog itself is not one of them";
  EXPECT_EQ(reader.Short(), 0);
  EXPECT_EQ(reader.Short(), 0);
  EXPECT_EQ(reader.Short(), 280);
  EXPECT_EQ(reader.Short(), 210);
  EXPECT_EQ(reader.Word(), 0) << "menu";
  EXPECT_EQ(reader.Word(), 0) << "window class";
  EXPECT_EQ(reader.Text(), L"Select Printer");
  EXPECT_EQ(reader.Word(), 10) << "font size in points";
  EXPECT_EQ(reader.Text(), L"Segoe UI");

  const struct {
    WORD id;
    WORD atom;
    DWORD style;
    short x, y, cx, cy;
    const wchar_t* text;  // null: any non-empty text
  } kItems[] = {
      {1004, 0x0082, WS_CHILD | WS_VISIBLE | SS_LEFT, 12, 10, 256, 16, nullptr},
      {1001, 0x0083,
       WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS, 12,
       30, 256, 135, L""},
      {1005, 0x0082, WS_CHILD | SS_CENTER, 12, 60, 256, 40, nullptr},
      {1002, 0x0080, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, 124, 174, 70, 24, L"Print"},
      {1003, 0x0080, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, 198, 174, 70, 24, L"Cancel"},
  };
  for (const auto& item : kItems) {
    SCOPED_TRACE(testing::Message() << "item " << item.id);
    EXPECT_TRUE(reader.AlignToDword()) << "padding must be zero";
    EXPECT_EQ(reader.byteOffset() % 4, 0u);
    EXPECT_EQ(reader.Dword(), item.style);
    EXPECT_EQ(reader.Dword(), 0u) << "extended style";
    EXPECT_EQ(reader.Short(), item.x);
    EXPECT_EQ(reader.Short(), item.y);
    EXPECT_EQ(reader.Short(), item.cx);
    EXPECT_EQ(reader.Short(), item.cy);
    EXPECT_EQ(reader.Word(), item.id);
    EXPECT_EQ(reader.Word(), 0xFFFF) << "class given by atom";
    EXPECT_EQ(reader.Word(), item.atom);
    const std::wstring text = reader.Text();
    if (item.text != nullptr) {
      EXPECT_EQ(text, item.text);
    } else {
      EXPECT_FALSE(text.empty());
    }
    if (item.id == 1005) {
      EXPECT_EQ(std::count(text.begin(), text.end(), L'\n'), 1) << "the notice has two lines";
    }
    EXPECT_EQ(reader.Word(), 0) << "creation data";
  }
  EXPECT_FALSE(reader.overrun());
  EXPECT_TRUE(reader.atEnd()) << "nothing may follow the last item";
}

// ---- Driving the modal dialog ------------------------------------------------------------------

HWND FindPrinterDialog() {
  HWND found = nullptr;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM param) -> BOOL {
        wchar_t className[16] = {};
        wchar_t title[32] = {};
        GetClassNameW(window, className, 16);
        GetWindowTextW(window, title, 32);
        if (std::wstring(className) == L"#32770" && std::wstring(title) == L"Select Printer" &&
            IsWindowVisible(window)) {
          *reinterpret_cast<HWND*>(param) = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// Runs steps against the printer dialog from a thread timer, which the dialog's own modal loop
// dispatches: one step per tick once the dialog is on screen. A dialog still open long after the
// last step is closed, so a broken test fails instead of hanging.
class DialogDriver {
 public:
  using Step = std::function<void(HWND dialog)>;

  explicit DialogDriver(std::vector<Step> steps) : steps_(std::move(steps)) {
    current_ = this;
    timer_ = SetTimer(nullptr, 0, 40, &DialogDriver::OnTimer);
  }
  ~DialogDriver() {
    KillTimer(nullptr, timer_);
    current_ = nullptr;
  }
  DialogDriver(const DialogDriver&) = delete;
  DialogDriver& operator=(const DialogDriver&) = delete;

  // Every step ran and the dialog closed by itself.
  void ExpectCompleted() const {
    EXPECT_EQ(next_, steps_.size()) << "the dialog closed before every step ran";
    EXPECT_FALSE(forcedClose_) << "the dialog did not close after the last step";
  }

 private:
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {
    DialogDriver* self = current_;
    if (self == nullptr || self->busy_)
      return;
    const HWND dialog = FindPrinterDialog();
    if (dialog == nullptr)
      return;
    self->busy_ = true;
    if (self->next_ < self->steps_.size()) {
      self->steps_[self->next_++](dialog);
    } else if (++self->idleTicks_ > 25) {
      self->forcedClose_ = true;
      EndDialog(dialog, 99);
    }
    self->busy_ = false;
  }

  static DialogDriver* current_;
  std::vector<Step> steps_;
  std::size_t next_ = 0;
  int idleTicks_ = 0;
  bool busy_ = false;
  bool forcedClose_ = false;
  UINT_PTR timer_ = 0;
};
DialogDriver* DialogDriver::current_ = nullptr;

std::wstring WindowText(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

std::vector<std::wstring> ListNames(HWND list) {
  std::vector<std::wstring> names;
  const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::wstring name(static_cast<std::size_t>(SendMessageW(list, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
    SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(name.data()));
    name.resize(name.size() - 1);
    names.push_back(name);
  }
  return names;
}

std::vector<std::wstring> Names(const std::vector<PrinterEntry>& printers) {
  std::vector<std::wstring> names;
  for (const PrinterEntry& p : printers)
    names.push_back(p.name);
  return names;
}

COLORREF PixelAt(HWND window, int x, int y) {
  const HDC dc = GetDC(window);
  const COLORREF color = GetPixel(dc, x, y);
  ReleaseDC(window, dc);
  return color;
}

RECT ItemRect(HWND list, int index) {
  RECT rect{};
  SendMessageW(list, LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&rect));
  return rect;
}

void Click(HWND button) {
  SendMessageW(button, BM_CLICK, 0, 0);
}

void PostKey(HWND window, WPARAM key) {
  PostMessageW(window, WM_KEYDOWN, key, 1);
  PostMessageW(window, WM_KEYUP, key, 0xC0000001);
}

const std::vector<PrinterEntry> kPrinters = {
    {L"Office Laser", L"USB001", L"Office Driver", true},
    {L"Archive", L"FILE:", L"Generic", false},
    {L"Brother & Co", L"LPT1:", L"Brother", false},
    {L"Zeta", L"NUL:", L"Generic", false},
};

TEST(PrinterDialogTest, ShowsThePrintersDrawnAsDesignedAndPrintChoosesTheSelection) {
  DialogDriver driver({[](HWND dialog) {
    const HWND label = GetDlgItem(dialog, kPrinterDialogLabelId);
    const HWND list = GetDlgItem(dialog, kPrinterDialogListId);
    const HWND notice = GetDlgItem(dialog, kPrinterDialogNoticeId);
    const HWND print = GetDlgItem(dialog, kPrinterDialogPrintId);
    const HWND cancel = GetDlgItem(dialog, kPrinterDialogCancelId);
    ASSERT_TRUE(label && list && notice && print && cancel);
    EXPECT_TRUE(IsWindowVisible(label));
    EXPECT_TRUE(IsWindowVisible(list));
    EXPECT_FALSE(IsWindowVisible(notice));
    EXPECT_TRUE(IsWindowVisible(print));
    EXPECT_TRUE(IsWindowVisible(cancel));
    EXPECT_EQ(WindowText(print), L"Print");
    EXPECT_EQ(WindowText(cancel), L"Cancel");

    EXPECT_EQ(ListNames(list), Names(kPrinters)) << "the list keeps the given order";
    EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 0) << "the first printer is pre-selected";
    EXPECT_EQ(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0),
              base::ScaleToDpi(kPrinterDialogItemHeight, GetDpiForWindow(dialog)));

    RECT frame;
    GetWindowRect(dialog, &frame);
    EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2);
    EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2);

    // Colours, sampled away from any text.
    UpdateWindow(dialog);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    const RECT first = ItemRect(list, 0);   // selected, default
    const RECT second = ItemRect(list, 1);  // neither
    const int firstMiddle = (first.top + first.bottom) / 2;
    const int secondMiddle = (second.top + second.bottom) / 2;
    const auto px = [dialog](int pixels) { return base::ScaleToDpi(pixels, GetDpiForWindow(dialog)); };
    const int cardLeft = first.left + px(4);
    const int cardRight = first.right - px(4);
    EXPECT_EQ(PixelAt(list, first.left + 1, firstMiddle), RGB(0x1C, 0x1E, 0x24)) << "item background";
    EXPECT_EQ(PixelAt(list, cardLeft + px(5), firstMiddle), RGB(0x25, 0x63, 0xEB)) << "selected item fill";
    EXPECT_EQ(PixelAt(list, cardLeft, firstMiddle), RGB(0x3B, 0x82, 0xF6)) << "selected item border";
    EXPECT_EQ(PixelAt(list, cardRight - px(70) + px(2), firstMiddle), RGB(0xFF, 0xFF, 0xFF))
        << "badge of the selected default printer";
    EXPECT_EQ(PixelAt(list, cardLeft + px(5), secondMiddle), RGB(0x22, 0x25, 0x2D)) << "item fill";
    EXPECT_EQ(PixelAt(list, cardLeft, secondMiddle), RGB(0x2E, 0x32, 0x3E)) << "item border";
    EXPECT_EQ(PixelAt(list, cardRight - px(70) + px(2), secondMiddle), RGB(0x22, 0x25, 0x2D))
        << "no badge on a printer that is not the default";
    RECT button;
    GetClientRect(print, &button);
    EXPECT_EQ(PixelAt(print, 4, button.bottom / 2), RGB(0x25, 0x63, 0xEB)) << "Print button";
    GetClientRect(cancel, &button);
    EXPECT_EQ(PixelAt(cancel, 4, button.bottom / 2), RGB(0x2D, 0x30, 0x3A)) << "Cancel button";
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(PixelAt(dialog, 3, client.bottom - 3), RGB(0x14, 0x15, 0x19)) << "dialog background";
    RECT labelRect;
    GetClientRect(label, &labelRect);
    EXPECT_EQ(PixelAt(label, labelRect.right - 2, labelRect.bottom - 2), RGB(0x14, 0x15, 0x19))
        << "label background";

    // The badge follows the selection: white fill while selected, blue otherwise.
    SendMessageW(list, LB_SETCURSEL, 1, 0);
    UpdateWindow(list);
    EXPECT_EQ(PixelAt(list, cardRight - px(70) + px(2), firstMiddle), RGB(0x3B, 0x82, 0xF6))
        << "badge of the unselected default printer";
    EXPECT_EQ(PixelAt(list, cardLeft + px(5), firstMiddle), RGB(0x22, 0x25, 0x2D));
    EXPECT_EQ(PixelAt(list, cardLeft + px(5), secondMiddle), RGB(0x25, 0x63, 0xEB));

    Click(print);
  }});
  EXPECT_EQ(SelectPrinterFrom(nullptr, kPrinters), L"Archive");
  driver.ExpectCompleted();
}

TEST(PrinterDialogTest, DoubleClickOnAnItemChoosesItAtOnce) {
  DialogDriver driver({[](HWND dialog) {
    const HWND list = GetDlgItem(dialog, kPrinterDialogListId);
    const RECT item = ItemRect(list, 2);
    const LPARAM at = MAKELPARAM(item.left + 20, (item.top + item.bottom) / 2);
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(list, WM_LBUTTONUP, 0, at);
    SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    SendMessageW(list, WM_LBUTTONUP, 0, at);
  }});
  EXPECT_EQ(SelectPrinterFrom(nullptr, kPrinters), L"Brother & Co");
  driver.ExpectCompleted();
}

TEST(PrinterDialogTest, EnterAndPrintWithoutSelectionDoNothingEscapeCancels) {
  DialogDriver driver({
      [](HWND dialog) { PostKey(GetDlgItem(dialog, kPrinterDialogListId), VK_RETURN); },
      [](HWND dialog) {
        EXPECT_TRUE(IsWindowVisible(dialog)) << "Enter must not close the dialog";
        const HWND list = GetDlgItem(dialog, kPrinterDialogListId);
        SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        Click(GetDlgItem(dialog, kPrinterDialogPrintId));
      },
      [](HWND dialog) {
        EXPECT_TRUE(IsWindowVisible(dialog)) << "Print without a selection must not close the dialog";
        PostKey(GetDlgItem(dialog, kPrinterDialogListId), VK_ESCAPE);
      },
  });
  EXPECT_EQ(SelectPrinterFrom(nullptr, kPrinters), L"");
  driver.ExpectCompleted();
}

TEST(PrinterDialogTest, CancelAndCloseGiveNoPrinterEvenWithASelection) {
  const struct {
    const char* how;
    DialogDriver::Step step;
  } kCases[] = {
      {"Cancel button", [](HWND dialog) { Click(GetDlgItem(dialog, kPrinterDialogCancelId)); }},
      {"close box", [](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.how);
    DialogDriver driver(
        {[](HWND dialog) { SendDlgItemMessageW(dialog, kPrinterDialogListId, LB_SETCURSEL, 3, 0); }, c.step});
    EXPECT_EQ(SelectPrinterFrom(nullptr, kPrinters), L"");
    driver.ExpectCompleted();
  }
}

TEST(PrinterDialogTest, WithoutPrintersOnlyTheNoticeAndCancelAreShown) {
  const HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                     nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  DialogDriver driver({[owner](HWND dialog) {
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner);
    EXPECT_FALSE(IsWindowEnabled(owner)) << "the dialog is modal to its owner";
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, kPrinterDialogListId)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, kPrinterDialogPrintId)));
    const HWND notice = GetDlgItem(dialog, kPrinterDialogNoticeId);
    EXPECT_TRUE(IsWindowVisible(notice));
    EXPECT_NE(WindowText(notice).find(L'\n'), std::wstring::npos);
    const HWND cancel = GetDlgItem(dialog, kPrinterDialogCancelId);
    EXPECT_TRUE(IsWindowVisible(cancel));
    EXPECT_EQ(GetFocus(), cancel);
    // Enter and a Print command that reaches the dialog anyway have nothing to choose.
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(kPrinterDialogPrintId, BN_CLICKED), 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(IsWindowVisible(dialog));
    Click(cancel);
  }});
  EXPECT_EQ(SelectPrinterFrom(owner, {}), L"");
  driver.ExpectCompleted();
  EXPECT_TRUE(IsWindowEnabled(owner));
  DestroyWindow(owner);
}

TEST(PrinterDialogTest, SelectPrinterListsTheSpoolersPrinters) {
  const std::vector<PrinterEntry> printers = EnumeratePrinters();
  std::vector<PrinterEntry> sorted = printers;
  SortPrinters(sorted);
  EXPECT_EQ(Names(printers), Names(sorted)) << "the spooler's printers come sorted";
  const std::vector<std::wstring> expected = Names(printers);
  DialogDriver driver({[&expected](HWND dialog) {
    const HWND list = GetDlgItem(dialog, kPrinterDialogListId);
    if (expected.empty()) {
      EXPECT_FALSE(IsWindowVisible(list));
      EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, kPrinterDialogPrintId)));
      EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, kPrinterDialogNoticeId)));
    } else {
      EXPECT_TRUE(IsWindowVisible(list));
      EXPECT_EQ(ListNames(list), expected);
    }
    Click(GetDlgItem(dialog, kPrinterDialogCancelId));
  }});
  EXPECT_EQ(SelectPrinter(nullptr), L"");
  driver.ExpectCompleted();
}

// ---- Printing through fake WebView2 objects ----------------------------------------------------

using fake_com::FakeCom;
using fake_com::SlotOf;

struct PrintScenario {
  // What the fakes offer.
  bool offerEnvironment6 = true;
  HRESULT createSettingsResult = S_OK;
  bool offerSettings2 = true;
  HRESULT putPrinterNameResult = S_OK;
  bool offerView16 = true;
  HRESULT printResult = S_OK;
  // What they saw.
  std::vector<std::wstring> posted;
  std::wstring printerName;
  int printCalls = 0;
  ICoreWebView2PrintSettings* printedWith = nullptr;
  ComPtr<ICoreWebView2PrintCompletedHandler> completed;

  FakeCom environment{SlotOf(&ICoreWebView2Environment6::CreatePrintSettings) + 1, this};
  FakeCom settings{SlotOf(&ICoreWebView2PrintSettings2::put_PrinterName) + 1, this};
  FakeCom view{SlotOf(&ICoreWebView2_16::PrintToPdfStream) + 1, this};

  PrintScenario() = default;
  void Build() {
    environment.Answer(__uuidof(IUnknown));
    environment.Answer(__uuidof(ICoreWebView2Environment));
    if (offerEnvironment6)
      environment.Answer(__uuidof(ICoreWebView2Environment6));
    environment.Implement(&ICoreWebView2Environment6::CreatePrintSettings, &CreatePrintSettings);
    settings.Answer(__uuidof(IUnknown));
    settings.Answer(__uuidof(ICoreWebView2PrintSettings));
    if (offerSettings2)
      settings.Answer(__uuidof(ICoreWebView2PrintSettings2));
    settings.Implement(&ICoreWebView2PrintSettings2::put_PrinterName, &PutPrinterName);
    view.Answer(__uuidof(IUnknown));
    view.Answer(__uuidof(ICoreWebView2));
    if (offerView16)
      view.Answer(__uuidof(ICoreWebView2_16));
    view.Implement(&ICoreWebView2::PostWebMessageAsJson, &PostJson);
    view.Implement(&ICoreWebView2_16::Print, &Print);
  }

  static HRESULT STDMETHODCALLTYPE CreatePrintSettings(FakeCom* self, ICoreWebView2PrintSettings** out) {
    PrintScenario& s = self->context<PrintScenario>();
    *out = nullptr;
    if (FAILED(s.createSettingsResult))
      return s.createSettingsResult;
    *out = s.settings.As<ICoreWebView2PrintSettings>();
    (*out)->AddRef();
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE PutPrinterName(FakeCom* self, LPCWSTR name) {
    PrintScenario& s = self->context<PrintScenario>();
    s.printerName = name != nullptr ? name : L"(null)";
    return s.putPrinterNameResult;
  }
  static HRESULT STDMETHODCALLTYPE PostJson(FakeCom* self, LPCWSTR json) {
    self->context<PrintScenario>().posted.push_back(json != nullptr ? json : L"(null)");
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE Print(FakeCom* self,
                                         ICoreWebView2PrintSettings* settings,
                                         ICoreWebView2PrintCompletedHandler* handler) {
    PrintScenario& s = self->context<PrintScenario>();
    ++s.printCalls;
    s.printedWith = settings;
    if (SUCCEEDED(s.printResult))
      s.completed = handler;
    return s.printResult;
  }
};

const wchar_t kCancelled[] = L"{\"type\":\"printResult\",\"status\":\"cancelled\"}";
const wchar_t kSuccess[] =
    L"{\"type\":\"printResult\",\"status\":\"success\",\"message\":\"Print job sent successfully.\"}";
std::wstring Error(const wchar_t* message) {
  return std::wstring(L"{\"type\":\"printResult\",\"status\":\"error\",\"message\":\"") + message + L"\"}";
}

TEST(ShowSystemPrintDialogTest, FakeSlotsMatchTheDeclarations) {
  // The fakes place their methods by SlotOf; check it against two known slots.
  EXPECT_EQ(SlotOf(&ICoreWebView2::PostWebMessageAsJson), 32u);
  EXPECT_EQ(SlotOf(&ICoreWebView2_16::Print), 113u);
}

TEST(ShowSystemPrintDialogTest, FailuresBeforePrintingPostTheirErrorAndStop) {
  const struct {
    const char* fault;
    void (*setUp)(PrintScenario&);
    bool withEnvironment;
    std::wstring expected;
  } kCases[] = {
      {"no environment at all", [](PrintScenario&) {}, false, Error(L"Failed to create print environment")},
      {"environment without print settings", [](PrintScenario& s) { s.offerEnvironment6 = false; }, true,
       Error(L"Failed to create print environment")},
      {"creating the settings fails", [](PrintScenario& s) { s.createSettingsResult = E_OUTOFMEMORY; }, true,
       Error(L"Failed to create print settings")},
      {"settings without a printer name", [](PrintScenario& s) { s.offerSettings2 = false; }, true,
       Error(L"Failed to set printer name")},
      {"the settings refuse the name", [](PrintScenario& s) { s.putPrinterNameResult = E_INVALIDARG; }, true,
       Error(L"Failed to set printer name")},
      {"view without the print interface", [](PrintScenario& s) { s.offerView16 = false; }, true,
       Error(L"Print API not available")},
      {"the print call fails", [](PrintScenario& s) { s.printResult = E_ABORT; }, true,
       Error(L"Print failed. Please check your printer.")},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.fault);
    PrintScenario s;
    c.setUp(s);
    s.Build();
    PrintViewPage(nullptr, c.withEnvironment ? s.environment.As<ICoreWebView2Environment>() : nullptr,
                  s.view.As<ICoreWebView2>(), [](HWND) { return std::wstring(L"Office Laser"); });
    EXPECT_EQ(s.posted, std::vector<std::wstring>{c.expected});
    EXPECT_EQ(s.completed.Get(), nullptr);
    EXPECT_EQ(s.environment.unexpectedCalls() + s.settings.unexpectedCalls() + s.view.unexpectedCalls(), 0);
    EXPECT_EQ(s.environment.references(), 1u);
    EXPECT_EQ(s.settings.references(), 1u);
    EXPECT_EQ(s.view.references(), 1u);
  }
}

TEST(ShowSystemPrintDialogTest, PrintsToTheChosenPrinterAndPostsTheCompletion) {
  const struct {
    HRESULT errorCode;
    COREWEBVIEW2_PRINT_STATUS status;
    std::wstring expected;
  } kCases[] = {
      {S_OK, COREWEBVIEW2_PRINT_STATUS_SUCCEEDED, kSuccess},
      {S_OK, COREWEBVIEW2_PRINT_STATUS_PRINTER_UNAVAILABLE, Error(L"The selected printer is unavailable.")},
      {S_OK, COREWEBVIEW2_PRINT_STATUS_OTHER_ERROR, Error(L"Print failed with unknown error.")},
      {S_OK, static_cast<COREWEBVIEW2_PRINT_STATUS>(7), Error(L"Print failed with unknown error.")},
      {E_FAIL, COREWEBVIEW2_PRINT_STATUS_SUCCEEDED, Error(L"Print failed. Please check your printer.")},
      {HRESULT_FROM_WIN32(ERROR_PRINTER_NOT_FOUND), COREWEBVIEW2_PRINT_STATUS_PRINTER_UNAVAILABLE,
       Error(L"Print failed. Please check your printer.")},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.expected));
    PrintScenario s;
    s.Build();
    const HWND owner = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1234));
    HWND askedOwner = nullptr;
    PrintViewPage(owner, s.environment.As<ICoreWebView2Environment>(), s.view.As<ICoreWebView2>(),
                  [&askedOwner](HWND o) {
                    askedOwner = o;
                    return std::wstring(L"Brother & Co");
                  });
    EXPECT_EQ(askedOwner, owner);
    EXPECT_EQ(s.printerName, L"Brother & Co");
    EXPECT_EQ(s.printCalls, 1);
    EXPECT_EQ(s.printedWith, s.settings.As<ICoreWebView2PrintSettings>()) << "print with the named settings";
    EXPECT_TRUE(s.posted.empty()) << "nothing is posted before the runtime reports the outcome";
    ASSERT_NE(s.completed.Get(), nullptr);
    EXPECT_EQ(s.view.references(), 2u) << "the completion handler keeps the view";
    EXPECT_EQ(s.settings.references(), 1u);

    EXPECT_EQ(s.completed->Invoke(c.errorCode, c.status), S_OK);
    s.completed.Reset();
    EXPECT_EQ(s.posted, std::vector<std::wstring>{c.expected});
    EXPECT_EQ(s.view.references(), 1u) << "the handler lets go of the view";
    EXPECT_EQ(s.environment.references(), 1u);
    EXPECT_EQ(s.environment.unexpectedCalls() + s.settings.unexpectedCalls() + s.view.unexpectedCalls(), 0)
        << "only the printer name is set; every other setting keeps its default";
  }
}

TEST(ShowSystemPrintDialogTest, NoChoiceNoViewAndRepeatedRequests) {
  {
    SCOPED_TRACE("no printer chosen");
    PrintScenario s;
    s.Build();
    PrintViewPage(nullptr, s.environment.As<ICoreWebView2Environment>(), s.view.As<ICoreWebView2>(),
                  [](HWND) { return std::wstring(); });
    EXPECT_EQ(s.posted, std::vector<std::wstring>{kCancelled});
    EXPECT_EQ(s.printCalls, 0);
    EXPECT_EQ(s.environment.references(), 1u);
  }
  {
    SCOPED_TRACE("no view");
    bool asked = false;
    PrintViewPage(nullptr, nullptr, nullptr, [&asked](HWND) {
      asked = true;
      return std::wstring(L"x");
    });
    EXPECT_FALSE(asked);
  }
  {
    SCOPED_TRACE("a second request while the dialog is open");
    PrintScenario s;
    s.Build();
    int innerAsked = 0;
    PrintViewPage(nullptr, s.environment.As<ICoreWebView2Environment>(), s.view.As<ICoreWebView2>(),
                  [&](HWND) {
                    PrintViewPage(nullptr, s.environment.As<ICoreWebView2Environment>(),
                                  s.view.As<ICoreWebView2>(), [&innerAsked](HWND) {
                                    ++innerAsked;
                                    return std::wstring(L"Zeta");
                                  });
                    return std::wstring();
                  });
    EXPECT_EQ(innerAsked, 0) << "no second dialog";
    EXPECT_EQ(s.posted, (std::vector<std::wstring>{kCancelled, kCancelled}))
        << "each request is answered, the second at once";
    // Once the dialog is closed, requests are served again.
    PrintViewPage(nullptr, s.environment.As<ICoreWebView2Environment>(), s.view.As<ICoreWebView2>(),
                  [&innerAsked](HWND) {
                    ++innerAsked;
                    return std::wstring();
                  });
    EXPECT_EQ(innerAsked, 1);
    EXPECT_EQ(s.posted.size(), 3u);
  }
  {
    SCOPED_TRACE("a selector that throws");
    PrintScenario s;
    s.Build();
    PrintViewPage(nullptr, s.environment.As<ICoreWebView2Environment>(), s.view.As<ICoreWebView2>(),
                  [](HWND) -> std::wstring { throw std::runtime_error("boom"); });
    EXPECT_EQ(s.posted, std::vector<std::wstring>{Error(L"Print failed. Please check your printer.")});
    EXPECT_EQ(s.view.references(), 1u);
  }
}

TEST(ShowSystemPrintDialogTest, CancellingTheRealDialogPostsCancelled) {
  PrintScenario s;
  s.Build();
  DialogDriver driver({[](HWND dialog) { PostKey(dialog, VK_ESCAPE); }});
  PrintViewPage(nullptr, s.environment.As<ICoreWebView2Environment>(), s.view.As<ICoreWebView2>());
  driver.ExpectCompleted();
  EXPECT_EQ(s.posted, std::vector<std::wstring>{kCancelled});
  EXPECT_EQ(s.printCalls, 0);
  EXPECT_EQ(s.view.references(), 1u);
}

}  // namespace
