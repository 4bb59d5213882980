#include "app/splash_win.h"

#include <objbase.h>
#include <objidl.h>
#include <wrl/client.h>
// GDI+ needs the COM declarations above (IStream, PROPID).
#include <gdiplus.h>

#include <cstdint>
#include <cstring>
#include <optional>

#include "app/splash_geometry.h"
#include "base/dpi.h"
#include "base/stable_names.h"
#include "base/unique_handle_win.h"

namespace {

constexpr int kSplashResourceId = 102;

HWND g_splashWindow = nullptr;
ULONG_PTR g_gdiplusToken = 0;
bool g_splashClassRegistered = false;

LRESULT CALLBACK SplashWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  switch (message) {
    case WM_DESTROY:
      if (g_splashWindow == window)
        g_splashWindow = nullptr;
      return 0;
    case WM_NCHITTEST:
      return HTCAPTION;  // the splash can be dragged out of the way
    case WM_TIMER:
      if (wparam == kSplashTimerId) {
        DestroySplash();
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// The splash image bytes, copied into movable global memory and wrapped in a stream that frees
// that memory with its last reference. Null when the resource is missing or empty.
Microsoft::WRL::ComPtr<IStream> OpenSplashImage(HINSTANCE instance) {
  HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(kSplashResourceId), RT_RCDATA);
  if (resource == nullptr)
    return nullptr;
  const DWORD size = SizeofResource(instance, resource);
  if (size == 0)
    return nullptr;
  HGLOBAL loaded = LoadResource(instance, resource);  // not freed: part of the module image
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (bytes == nullptr)
    return nullptr;

  base::UniqueHGlobal memory(GlobalAlloc(GMEM_MOVEABLE, size));
  if (!memory)
    return nullptr;
  void* target = GlobalLock(memory.get());
  if (target == nullptr)
    return nullptr;
  std::memcpy(target, bytes, size);
  GlobalUnlock(memory.get());

  Microsoft::WRL::ComPtr<IStream> stream;
  if (FAILED(CreateStreamOnHGlobal(memory.get(), TRUE, &stream)))
    return nullptr;
  memory.release();  // the stream owns the block now
  return stream;
}

// Draws `source` over the whole of `target` (of `size`) with the high-quality settings.
bool DrawScaled(Gdiplus::Bitmap& source, SplashSize sourceSize, Gdiplus::Bitmap& target, SplashSize size) {
  Gdiplus::Graphics graphics(&target);
  if (graphics.GetLastStatus() != Gdiplus::Ok)
    return false;
  graphics.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  graphics.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);
  graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
  // Tile-flip wrapping keeps the bicubic filter from pulling the border towards black.
  Gdiplus::ImageAttributes attributes;
  attributes.SetWrapMode(Gdiplus::WrapModeTileFlipXY, Gdiplus::Color(0xFF000000));
  return graphics.DrawImage(&source, Gdiplus::Rect(0, 0, size.width, size.height), 0, 0, sourceSize.width,
                            sourceSize.height, Gdiplus::UnitPixel, &attributes) == Gdiplus::Ok;
}

// Copies `bitmap` premultiplied into the top-down 32-bit DIB at `bits`.
bool FillPremultiplied(Gdiplus::Bitmap& bitmap, SplashSize size, void* bits) {
  Gdiplus::Rect area(0, 0, size.width, size.height);
  Gdiplus::BitmapData data{};
  if (bitmap.LockBits(&area, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data) != Gdiplus::Ok) {
    return false;
  }
  auto* target = static_cast<std::uint8_t*>(bits);
  const auto* scan0 = static_cast<const std::uint8_t*>(data.Scan0);
  const std::size_t rowBytes = static_cast<std::size_t>(size.width) * 4;
  for (int y = 0; y < size.height; ++y) {
    // Stride may be negative (bottom-up source); each row is read where GDI+ says it is.
    const auto* row =
        reinterpret_cast<const std::uint32_t*>(scan0 + static_cast<std::ptrdiff_t>(y) * data.Stride);
    PremultiplyArgb(row, static_cast<std::size_t>(size.width), target + rowBytes * y);
  }
  bitmap.UnlockBits(&data);
  return true;
}

bool RegisterSplashClass(HINSTANCE instance) {
  if (g_splashClassRegistered)
    return true;
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = 0;
  windowClass.lpfnWndProc = SplashWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_APPSTARTING);
  windowClass.lpszClassName = kSplashWindowClass;
  if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    return false;
  g_splashClassRegistered = true;
  return true;
}

// Puts the premultiplied image on the layered window; false when the system refuses.
bool ShowLayered(HWND window, Gdiplus::Bitmap& image, SplashSize size, SplashPoint position) {
  base::UniqueScreenDc screen(GetDC(nullptr));
  if (!screen)
    return false;
  base::UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
  if (!memory)
    return false;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = size.width;
  info.bmiHeader.biHeight = -size.height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  base::UniqueGdiObject dib(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!dib || bits == nullptr)
    return false;
  if (!FillPremultiplied(image, size, bits))
    return false;

  HGDIOBJ previous = SelectObject(memory.get(), dib.get());
  POINT windowPosition{position.x, position.y};
  SIZE windowSize{size.width, size.height};
  POINT sourcePosition{0, 0};
  BLENDFUNCTION blend{};
  blend.BlendOp = AC_SRC_OVER;
  blend.SourceConstantAlpha = 255;
  blend.AlphaFormat = AC_SRC_ALPHA;
  const BOOL updated = UpdateLayeredWindow(window, screen.get(), &windowPosition, &windowSize, memory.get(),
                                           &sourcePosition, 0, &blend, ULW_ALPHA);
  SelectObject(memory.get(), previous);  // the DIB must be out of the context before it is deleted
  return updated != FALSE;
}

HWND ShowNewSplash(HINSTANCE instance, int maxWidth, int maxHeight) {
  // The stream must outlive the decoded bitmap, so both live in this frame.
  Microsoft::WRL::ComPtr<IStream> stream = OpenSplashImage(instance);
  if (!stream)
    return nullptr;
  Gdiplus::Bitmap decoded(stream.Get());
  if (decoded.GetLastStatus() != Gdiplus::Ok)
    return nullptr;
  const SplashSize imageSize{static_cast<int>(decoded.GetWidth()), static_cast<int>(decoded.GetHeight())};
  if (imageSize.width <= 0 || imageSize.height <= 0)
    return nullptr;

  // The splash's sizes are for 96 DPI: fitted there, then shown at the screen's own resolution.
  const unsigned dpi = GetDpiForSystem();
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  const SplashSize box = SplashTargetBox(maxWidth, maxHeight, MulDiv(screenWidth, base::kDefaultDpi, dpi),
                                         MulDiv(screenHeight, base::kDefaultDpi, dpi));
  const SplashSize fitted = FitSplashImage(imageSize, box);
  const SplashSize size{base::ScaleToDpi(fitted.width, dpi), base::ScaleToDpi(fitted.height, dpi)};

  std::optional<Gdiplus::Bitmap> scaled;
  Gdiplus::Bitmap* image = &decoded;
  if (size != imageSize) {
    scaled.emplace(size.width, size.height, PixelFormat32bppARGB);
    if (scaled->GetLastStatus() != Gdiplus::Ok || !DrawScaled(decoded, imageSize, *scaled, size))
      return nullptr;
    image = &*scaled;
  }

  if (!RegisterSplashClass(instance))
    return nullptr;

  const SplashPoint position = CentreOnScreen(size, screenWidth, screenHeight);
  HWND window = CreateWindowExW(WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kSplashWindowClass,
                                kSplashWindowTitle, WS_POPUP | WS_VISIBLE, position.x, position.y, size.width,
                                size.height, nullptr, nullptr, instance, nullptr);
  if (window == nullptr)
    return nullptr;
  g_splashWindow = window;

  if (!ShowLayered(window, *image, size, position)) {
    DestroySplash();
    return nullptr;
  }
  SetTimer(window, kSplashTimerId, kSplashTimeoutMs, nullptr);
  return window;
}

}  // namespace

bool StartGdiplus() {
  if (g_gdiplusToken != 0)
    return true;
  Gdiplus::GdiplusStartupInput input;  // version 1, every other field zero
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
    return false;
  g_gdiplusToken = token;
  return true;
}

void StopGdiplus() {
  if (g_gdiplusToken == 0)
    return;
  Gdiplus::GdiplusShutdown(g_gdiplusToken);
  g_gdiplusToken = 0;
}

HWND CreateSplash(HINSTANCE instance, int maxWidth, int maxHeight) {
  if (g_splashWindow != nullptr)
    return g_splashWindow;
  if (instance == nullptr)
    instance = GetModuleHandleW(nullptr);
  try {
    return ShowNewSplash(instance, maxWidth, maxHeight);
  } catch (...) {  // out of memory: no splash, and no window left behind
    DestroySplash();
    return nullptr;
  }
}

void DestroySplash() {
  HWND window = g_splashWindow;
  if (window == nullptr)
    return;
  g_splashWindow = nullptr;
  KillTimer(window, kSplashTimerId);
  DestroyWindow(window);
}
