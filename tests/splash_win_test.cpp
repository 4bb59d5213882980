// The splash window under Wine: made from the resource linked into this test, sized for the
// screen it finds, shown once, removable at any time.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/splash_win.h"
#include "base/dpi.h"
#include "base/unique_handle_win.h"

namespace {

constexpr wchar_t kClassName[] = L"KelmoTransparentSplashClass";

// The splash window of this process: test programs run in parallel, each with its own splash.
HWND FindOwnSplash() {
  HWND found = nullptr;
  for (HWND window = FindWindowExW(nullptr, nullptr, kClassName, nullptr); window;
       window = FindWindowExW(nullptr, window, kClassName, nullptr)) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId())
      found = window;
  }
  return found;
}

// The size the 450 × 450 splash must get on this screen for a box of maxWidth × maxHeight,
// worked out here independently: the box is narrowed to 70 % of the screen, the image shrinks
// to fit it keeping its proportions; all of it at 96 DPI, then grown to the screen's resolution.
SIZE ExpectedSizeAt96(int maxWidth, int maxHeight);

SIZE ExpectedSize(int maxWidth, int maxHeight) {
  const SIZE logical = ExpectedSizeAt96(maxWidth, maxHeight);
  const unsigned dpi = GetDpiForSystem();
  return {base::ScaleToDpi(logical.cx, dpi), base::ScaleToDpi(logical.cy, dpi)};
}

SIZE ExpectedSizeAt96(int maxWidth, int maxHeight) {
  const unsigned dpi = GetDpiForSystem();
  const int screenWidth = MulDiv(GetSystemMetrics(SM_CXSCREEN), 96, dpi);
  const int screenHeight = MulDiv(GetSystemMetrics(SM_CYSCREEN), 96, dpi);
  int boxWidth = maxWidth, boxHeight = maxHeight;
  if (const int share = static_cast<int>(static_cast<float>(screenWidth) * 0.7f);
      share > 0 && share < boxWidth) {
    boxWidth = share;
  }
  if (const int share = static_cast<int>(static_cast<float>(screenHeight) * 0.7f);
      share > 0 && share < boxHeight) {
    boxHeight = share;
  }
  if (boxWidth >= 450 && boxHeight >= 450)
    return {450, 450};
  const int side = static_cast<int>(
      450.0f * (static_cast<float>(boxWidth < boxHeight ? boxWidth : boxHeight) / 450.0f) + 0.5f);
  return {side, side};
}

std::wstring ClassOf(HWND window) {
  wchar_t name[128] = {};
  return std::wstring(name, GetClassNameW(window, name, 128));
}

std::wstring TitleOf(HWND window) {
  wchar_t title[128] = {};
  return std::wstring(title, GetWindowTextW(window, title, 128));
}

class SplashTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(StartGdiplus()); }
  void TearDown() override {
    DestroySplash();
    StopGdiplus();
  }
};

TEST_F(SplashTest, WindowIsALayeredTopmostPopupCentredOnTheScreen) {
  HWND splash = CreateSplash(nullptr, 700, 450);
  ASSERT_NE(splash, nullptr);
  EXPECT_TRUE(IsWindowVisible(splash));
  EXPECT_EQ(ClassOf(splash), kClassName);
  EXPECT_EQ(TitleOf(splash), L"Kelmo Splash");

  const LONG_PTR style = GetWindowLongPtrW(splash, GWL_STYLE);
  EXPECT_EQ(style & (WS_POPUP | WS_VISIBLE), WS_POPUP | WS_VISIBLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME | WS_CHILD), 0);
  const LONG_PTR exStyle = GetWindowLongPtrW(splash, GWL_EXSTYLE);
  EXPECT_EQ(exStyle & (WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST),
            WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST);
  EXPECT_EQ(GetParent(splash), nullptr);

  const SIZE expected = ExpectedSize(700, 450);
  RECT rect{};
  ASSERT_TRUE(GetWindowRect(splash, &rect));
  EXPECT_EQ(rect.right - rect.left, expected.cx);
  EXPECT_EQ(rect.bottom - rect.top, expected.cy);
  EXPECT_EQ(rect.left, (GetSystemMetrics(SM_CXSCREEN) - expected.cx) / 2);
  EXPECT_EQ(rect.top, (GetSystemMetrics(SM_CYSCREEN) - expected.cy) / 2);

  // Class: no icon, no background, the start-up cursor.
  EXPECT_EQ(GetClassLongPtrW(splash, GCL_STYLE), 0);
  EXPECT_EQ(GetClassLongPtrW(splash, GCLP_HBRBACKGROUND), 0);
  EXPECT_EQ(GetClassLongPtrW(splash, GCLP_HICON), 0);
  EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrW(splash, GCLP_HCURSOR)),
            LoadCursorW(nullptr, IDC_APPSTARTING));

  // Dragging anywhere moves it.
  const LPARAM centre = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  EXPECT_EQ(SendMessageW(splash, WM_NCHITTEST, 0, centre), HTCAPTION);
}

TEST_F(SplashTest, SecondCreateReturnsTheShownWindowUnchanged) {
  HWND first = CreateSplash(nullptr, 700, 450);
  ASSERT_NE(first, nullptr);
  RECT before{};
  GetWindowRect(first, &before);
  EXPECT_EQ(CreateSplash(nullptr, 100, 100), first);  // other sizes do not matter then
  EXPECT_EQ(CreateSplash(GetModuleHandleW(nullptr), 0, 0), first);
  RECT after{};
  GetWindowRect(first, &after);
  EXPECT_TRUE(EqualRect(&before, &after));
  EXPECT_EQ(FindOwnSplash(), first);
}

TEST_F(SplashTest, ZeroMaximumsMeanTheDefaultBoxAndSmallerBoxesScaleDown) {
  HWND splash = CreateSplash(nullptr, 0, 0);
  ASSERT_NE(splash, nullptr);
  RECT rect{};
  GetWindowRect(splash, &rect);
  const SIZE byDefault = ExpectedSize(700, 450);
  EXPECT_EQ(rect.right - rect.left, byDefault.cx);
  EXPECT_EQ(rect.bottom - rect.top, byDefault.cy);
  DestroySplash();

  // A box smaller than the image: GDI+ scales it (the high-quality path).
  splash = CreateSplash(nullptr, 200, 120);
  ASSERT_NE(splash, nullptr);
  GetWindowRect(splash, &rect);
  const SIZE scaled = ExpectedSize(200, 120);
  EXPECT_EQ(rect.right - rect.left, scaled.cx);
  EXPECT_EQ(rect.bottom - rect.top, scaled.cy);
  EXPECT_EQ(scaled.cx, 120);
}

TEST_F(SplashTest, DestroyIsSafeAtAnyTimeAndASplashCanBeShownAgain) {
  DestroySplash();  // nothing shown yet
  HWND first = CreateSplash(nullptr, 700, 450);
  ASSERT_NE(first, nullptr);
  DestroySplash();
  EXPECT_FALSE(IsWindow(first));
  DestroySplash();
  EXPECT_EQ(FindOwnSplash(), nullptr);

  HWND second = CreateSplash(nullptr, 700, 450);  // the class is registered already
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(IsWindow(second));

  // Closed by someone else (the window's own destruction clears the global): not reused.
  DestroyWindow(second);
  HWND third = CreateSplash(nullptr, 700, 450);
  ASSERT_NE(third, nullptr);
  EXPECT_TRUE(IsWindow(third));
}

TEST_F(SplashTest, ModuleWithoutTheImageGivesNoSplashAndNoWindow) {
  EXPECT_EQ(CreateSplash(GetModuleHandleW(L"kernel32.dll"), 700, 450), nullptr);
  EXPECT_EQ(FindOwnSplash(), nullptr);
  // And a later call with the right module still works.
  EXPECT_NE(CreateSplash(nullptr, 700, 450), nullptr);
}

// A plain window of one colour covering the screen, below the splash.
class Backdrop {
 public:
  explicit Backdrop(COLORREF colour) : brush_(CreateSolidBrush(colour)) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = static_cast<HBRUSH>(brush_.get());
    windowClass.lpszClassName = L"CorvelSplashTestBackdrop";
    RegisterClassW(&windowClass);
    window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP | WS_VISIBLE, 0, 0,
                              GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                              windowClass.hInstance, nullptr);
    UpdateWindow(window_);
  }
  ~Backdrop() { DestroyWindow(window_); }
  HWND window() const { return window_; }

 private:
  base::UniqueGdiObject brush_;
  HWND window_ = nullptr;
};

void PumpFor(DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  while (GetTickCount64() < end) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageW(&message);
    Sleep(20);
  }
}

TEST_F(SplashTest, FullyTransparentPixelsShowWhatLiesBelow) {
  constexpr COLORREF kGreen = RGB(0, 128, 0);
  Backdrop backdrop(kGreen);
  ASSERT_NE(backdrop.window(), nullptr);
  HWND splash = CreateSplash(nullptr, 700, 450);
  ASSERT_NE(splash, nullptr);
  PumpFor(500);

  RECT rect{};
  GetWindowRect(splash, &rect);
  const double scale = (rect.right - rect.left) / 450.0;  // the image may be scaled on small screens
  base::UniqueScreenDc screen(GetDC(nullptr));
  auto at = [&](int x, int y) {
    return GetPixel(screen.get(), rect.left + static_cast<int>(x * scale),
                    rect.top + static_cast<int>(y * scale));
  };
  // The image's corners lie outside its rounded card and are fully transparent.
  EXPECT_EQ(at(2, 2), kGreen);
  EXPECT_EQ(at(447, 447), kGreen);
  // The card is near white, the mark blue: the image is on screen, not the backdrop.
  const COLORREF card = at(45, 225);
  EXPECT_GT(GetRValue(card), 200);
  EXPECT_GT(GetGValue(card), 200);
  const COLORREF mark = at(225 - 67, 190);  // the left side of the "C"
  EXPECT_GT(GetBValue(mark), 150);
  EXPECT_LT(GetRValue(mark), 120);
}

}  // namespace
