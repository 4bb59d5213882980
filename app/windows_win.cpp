#include "app/windows_win.h"

#include <shlobj.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/splash_win.h"
#include "base/app_state.h"
#include "base/dpi.h"
#include "base/stable_names.h"
#include "base/unique_handle_win.h"
#include "base/window_messages.h"
#include "base/window_task_win.h"
#include "config/config.h"

std::atomic<HWND> g_mainWindow{nullptr};
std::unique_ptr<WebView::WebViewHost> g_playerHost;
std::unique_ptr<WebView::WebViewHost> g_initHost;

namespace {

using WebView::WebViewHost;

constexpr WORD kIconResource = 101;
constexpr unsigned kHostShutdownWaitMs = 5000;

// What other threads have handed to the main thread (RunOnWindowThread), run when
// WM_APP_RUN_HANDED_OVER arrives.
std::mutex g_handedOverLock;
std::vector<std::shared_ptr<std::function<void()>>> g_handedOver;

void RunHandedOverTasks() {
  std::vector<std::shared_ptr<std::function<void()>>> tasks;
  {
    const std::lock_guard<std::mutex> guard(g_handedOverLock);
    tasks.swap(g_handedOver);
  }
  for (const std::shared_ptr<std::function<void()>>& task : tasks) {
    if (*task)
      (*task)();
  }
}

void RegisterMainWindowClass(HINSTANCE instance, const wchar_t* name, WNDPROC procedure) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = name;
  RegisterClassExW(&windowClass);  // a second registration fails harmlessly
}

// The windows are per-monitor DPI aware: their sizes are for 96 DPI and grow with the monitor's.
WindowSize AtDpi(WindowSize size, unsigned dpi) {
  return {base::ScaleToDpi(size.width, dpi), base::ScaleToDpi(size.height, dpi)};
}

HWND CreateMainWindow(HINSTANCE instance, const wchar_t* className, WindowSize size) {
  // A default position opens on the primary monitor, whose resolution is the system's.
  const WindowSize scaled = AtDpi(size, GetDpiForSystem());
  return CreateWindowExW(WS_EX_APPWINDOW, className, MainWindowTitle().c_str(),
                         WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, scaled.width,
                         scaled.height, nullptr, nullptr, instance, nullptr);
}

// Creates the folder above the data root (the views create their own folders below it).
std::wstring PrepareUserDataRoot() {
  const std::wstring root = WebViewUserDataRoot();
  if (!root.empty()) {
    const std::wstring parent = root.substr(0, root.find_last_of(L'\\'));
    CreateDirectoryW(parent.c_str(), nullptr);  // an existing folder is fine
  }
  return root;
}

// Brings a window to the front: shown, foreground, and briefly topmost so that it rises above
// the window that started the player.
void BringToFront(HWND window) {
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  UpdateWindow(window);
}

// The view over the window's whole client area as it is now: the window may have been resized
// while the view was being created, after the controller took its first bounds.
void FitViewToWindow(WebViewHost& host, HWND window) {
  RECT client{};
  if (IsWindow(window) && GetClientRect(window, &client))
    host.Resize(client.right - client.left, client.bottom - client.top);
}

// The services the main windows were made with: their message boxes and how a new view is made.
MainWindowServices& WindowServices() {
  static MainWindowServices services;
  return services;
}

// The splash goes and the "WebView2 Error" box shows the summary of the failed start.
void ShowStartFailure(HWND owner, const std::wstring& summary) {
  DestroySplash();
  if (const auto& show = WindowServices().showMessage)
    show(owner, L"Failed to initialize WebView2.\n\n" + summary, L"WebView2 Error",
         MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
}

// ---- Full screen ---------------------------------------------------------------------------

// The player window in or out of full screen; false when it cannot be placed (no window, no
// monitor), and then it stays as it is.
bool SetPlayerFullscreen(HWND window, bool fullscreen) {
  if (window == nullptr || !IsWindow(window))
    return false;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor))
    return false;
  if (fullscreen) {
    SetWindowLongPtrW(window, GWL_STYLE, WS_POPUP | WS_VISIBLE);
    const RECT& area = monitor.rcMonitor;  // the whole monitor, taskbar included
    SetWindowPos(window, HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top,
                 SWP_NOOWNERZORDER | SWP_FRAMECHANGED);
  } else {
    SetWindowLongPtrW(window, GWL_STYLE, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    // Back at the creation size, centred on the monitor's work area: the default-position value
    // used when the window was created means nothing to a positioning call.
    const WindowSize size = AtDpi(kPlayerWindowSize, GetDpiForWindow(window));
    const RECT& work = monitor.rcWork;
    const int x = work.left + ((work.right - work.left) - size.width) / 2;
    const int y = work.top + ((work.bottom - work.top) - size.height) / 2;
    SetWindowPos(window, nullptr, x > work.left ? x : work.left, y > work.top ? y : work.top, size.width,
                 size.height, SWP_NOZORDER | SWP_NOOWNERZORDER | SWP_FRAMECHANGED);
  }
  return true;
}

// The init screen in or out of full screen. Entering keeps the placement to return to; false when
// the placement or the monitor cannot be read, and then nothing changes.
bool SetInitFullscreen(HWND window, bool fullscreen) {
  InitScreenState& state = GetInitScreenState();
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  if (!fullscreen) {
    SetWindowLongPtrW(window, GWL_STYLE, style | WS_OVERLAPPEDWINDOW);
    SetWindowPlacement(window, &state.savedPlacement);
    SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOOWNERZORDER | SWP_FRAMECHANGED);
    return true;
  }
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  state.savedPlacement.length = sizeof state.savedPlacement;
  if (!GetWindowPlacement(window, &state.savedPlacement) ||
      !GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor))
    return false;
  SetWindowLongPtrW(window, GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_OVERLAPPEDWINDOW));
  const RECT& area = monitor.rcMonitor;
  SetWindowPos(window, HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top,
               SWP_NOOWNERZORDER | SWP_FRAMECHANGED);
  return true;
}

// ---- Window procedures ---------------------------------------------------------------------

void PaintLoadingLine(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (dc != nullptr) {
    RECT client{};
    GetClientRect(window, &client);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(kLoadingTextGrey, kLoadingTextGrey, kLoadingTextGrey));
    base::UniqueGdiObject font(CreateFontW(base::ScaleToDpi(kLoadingFontPixels, GetDpiForWindow(window)), 0,
                                           0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                           DEFAULT_PITCH, kLoadingFontFace));
    HGDIOBJ previous = font ? SelectObject(dc, font.get()) : nullptr;
    DrawTextW(dc, kLoadingText, -1, &client, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    if (previous != nullptr)
      SelectObject(dc, previous);
  }
  EndPaint(window, &paint);
}

// The part both procedures share; `host` is the window's own host (may be null).
LRESULT HandleMainWindowMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam, WebViewHost* host) {
  switch (message) {
    case WM_DESTROY: {
      ShutdownWebViewHosts();
      HWND self = window;
      g_mainWindow.compare_exchange_strong(self, nullptr);
      PostQuitMessage(0);
      return 0;
    }
    case WM_MOVE:
    case WM_MOVING:
      if (host != nullptr)
        host->NotifyParentWindowPositionChanged();
      break;
    case WM_SIZE:
      if (host != nullptr) {
        if (wparam == SIZE_MINIMIZED) {
          host->SetVisible(false);
        } else {
          host->Resize(LOWORD(lparam), HIWORD(lparam));
          host->RefreshLayout();
        }
      }
      return 0;
    case WM_PAINT:
      PaintLoadingLine(window);
      return 0;
    case WM_DPICHANGED: {
      // Moved to a monitor of another resolution: the size Windows suggests for it.
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_APP_RUN_UI_TASK:
      base::RunPostedWindowTask(lparam);
      return 0;
    case WM_ACTIVATEAPP:
      if (wparam != 0 && host != nullptr && !IsIconic(window))
        host->RefreshLayout();
      break;
    case WM_POWERBROADCAST:
      if (wparam == PBT_APMSUSPEND) {
        if (host != nullptr)
          host->SetVisible(false);
        return TRUE;
      }
      if ((wparam == PBT_APMRESUMESUSPEND || wparam == PBT_APMRESUMEAUTOMATIC) && host != nullptr &&
          !IsIconic(window)) {
        host->RefreshLayout();
        return TRUE;
      }
      break;
    case WM_APP_SHUTDOWN_HOSTS:
      ShutdownWebViewHosts();
      return 0;
    case WM_APP_RUN_HANDED_OVER:
      RunHandedOverTasks();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK PlayerWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  try {
    return HandleMainWindowMessage(window, message, wparam, lparam, g_playerHost.get());
  } catch (...) {
    return message == WM_PAINT || message == WM_SIZE ? 0 : DefWindowProcW(window, message, wparam, lparam);
  }
}

LRESULT CALLBACK InitWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  try {
    return HandleMainWindowMessage(window, message, wparam, lparam, g_initHost.get());
  } catch (...) {
    return message == WM_PAINT || message == WM_SIZE ? 0 : DefWindowProcW(window, message, wparam, lparam);
  }
}

// ---- What the wiring asks of a window (WindowShell) --------------------------------------------

// Closes a window's host and frees it; the slot is cleared first: the wait dispatches messages,
// and nothing reached from there may find the closing host.
void CloseHost(std::unique_ptr<WebViewHost>& slot) {
  std::unique_ptr<WebViewHost> host = std::move(slot);
  if (!host)
    return;
  host->Shutdown(kHostShutdownWaitMs);
  WebViewHost::DestroyWhenIdle(std::move(host));
}

// Makes a window's host in `slot`, wires it with `events` and starts it; on a failed start the
// splash goes and the "WebView2 Error" box shows.
bool StartView(std::unique_ptr<WebViewHost>& slot,
               HWND window,
               const std::function<WebView::ViewEvents(WebViewHost&)>& events) {
  const std::wstring root = PrepareUserDataRoot();
  const MainWindowServices& services = WindowServices();
  if (!slot)  // none started ahead (StartPlayerBrowser), or a new one after a failure
    slot = services.makeHost ? services.makeHost() : nullptr;
  WebViewHost* host = slot.get();
  if (host == nullptr)
    return false;
  host->Connect(events(*host));
  // The pump inside Initialize may destroy the window and free the host; keep it for the
  // failure message below.
  WebViewHost::CallScope keep(*host);
  if (host->Initialize(window, root, 1)) {
    FitViewToWindow(*host, window);
    return true;
  }
  ShowStartFailure(window, host->statusMessage);
  return false;
}

// What both shells do alike for their window. Window work that may wait on the window system
// (the splash going, the window brought to the front) runs from the loop, never inside the
// view's callback that asked for it.
class MainWindowShell : public WindowShell {
 public:
  void DismissSplash() override { DestroySplash(); }
  // The box runs a modal loop: it is shown from the window's own message, never inside the view's
  // event that found the failure.
  void FailStart(const std::wstring& summary) override {
    RunLater([this, summary] {
      ShowStartFailure(Window(), summary);
      Close();
    });
  }
  void RunLater(std::function<void()> task) override {
    const HWND window = Window();
    if (IsWindow(window))
      base::PostWindowTask(window, std::move(task));
  }
  bool AskRetry(const std::wstring& text) override {
    const MainWindowServices& services = WindowServices();
    return services.showMessage &&
           services.showMessage(Window(), text, MainWindowTitle(),
                                MB_RETRYCANCEL | MB_ICONWARNING | MB_SETFOREGROUND) == IDRETRY;
  }
  void Close() override {
    if (IsWindow(Window()))
      DestroyWindow(Window());
  }
  void Show() override {
    ShowWindow(Window(), SW_SHOW);
    UpdateWindow(Window());
  }
  void Reveal() override {
    RunLater([window = Window()] {
      DestroySplash();
      if (window != nullptr)
        BringToFront(window);
    });
  }
  void RestartView() override {
    if (!IsWindow(Window()))
      return;
    CloseHost(Host());
    if (!Start())
      Close();
  }

 protected:
  virtual HWND Window() const = 0;
  // The window's host, and a new one made, wired and started in it.
  virtual std::unique_ptr<WebViewHost>& Host() = 0;
  virtual bool Start() = 0;
};

class PlayerWindowShell final : public MainWindowShell {
 public:
  bool Exists() const override { return GetPlayerWindowState().window != nullptr; }
  bool SetFullscreen(bool on) override { return SetPlayerFullscreen(GetPlayerWindowState().window, on); }
  // The view for `content` (kept for a new view after a failure).
  bool StartView(const LinkContent& content) {
    content_ = content;
    return Start();
  }

 protected:
  HWND Window() const override { return GetPlayerWindowState().window; }
  std::unique_ptr<WebViewHost>& Host() override { return g_playerHost; }
  bool Start() override {
    PlayerWindowState& state = GetPlayerWindowState();
    ResetPlayerWindow(state);
    return ::StartView(g_playerHost, state.window, [this, &state](WebViewHost& host) {
      return PlayerViewEvents(host, *this, state, content_);
    });
  }

 private:
  LinkContent content_;
};

class InitScreenShell final : public MainWindowShell {
 public:
  explicit InitScreenShell(HWND window) : window_(window) {}
  bool Exists() const override { return IsWindow(window_) != FALSE; }
  bool SetFullscreen(bool on) override { return SetInitFullscreen(window_, on); }
  bool StartView() { return Start(); }

 protected:
  HWND Window() const override { return window_; }
  std::unique_ptr<WebViewHost>& Host() override { return g_initHost; }
  bool Start() override {
    return ::StartView(g_initHost, window_, [this](WebViewHost& host) {
      return InitScreenViewEvents(host, *this, GetInitScreenState());
    });
  }

 private:
  HWND window_;
};

// The shells live for the process: a host's events may still come while its window goes.
PlayerWindowShell& PlayerShell() {
  static PlayerWindowShell shell;
  return shell;
}

InitScreenShell& InitShell(HWND window) {
  static InitScreenShell shell(nullptr);
  shell = InitScreenShell(window);
  return shell;
}

}  // namespace

PlayerWindowState& GetPlayerWindowState() {
  static PlayerWindowState state;
  return state;
}

InitScreenState& GetInitScreenState() {
  static InitScreenState state;
  return state;
}

void ShutdownWebViewHosts() {
  CloseHost(g_playerHost);
  CloseHost(g_initHost);
}

bool RunOnWindowThread(HWND window, std::function<void()> task, unsigned timeoutMs) {
  std::shared_ptr<std::function<void()>> handed;
  try {
    handed = std::make_shared<std::function<void()>>(std::move(task));
    const std::lock_guard<std::mutex> guard(g_handedOverLock);
    g_handedOver.push_back(handed);
  } catch (...) {
    return false;  // out of memory: nothing was handed over
  }
  DWORD_PTR ignored = 0;
  if (SendMessageTimeoutW(window, WM_APP_RUN_HANDED_OVER, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, timeoutMs,
                          &ignored) != 0)
    return true;
  // Not answered in time: a task the window has not taken yet must not run at some later,
  // unexpected moment.
  const std::lock_guard<std::mutex> guard(g_handedOverLock);
  for (auto it = g_handedOver.begin(); it != g_handedOver.end(); ++it) {
    if (*it == handed) {
      g_handedOver.erase(it);
      break;
    }
  }
  return false;
}

MainWindowServices DefaultMainWindowServices() {
  MainWindowServices services;
  services.showMessage = [](HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
    return MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
  };
  services.makeHost = [] { return std::make_unique<WebViewHost>(); };
  return services;
}

std::wstring WebViewUserDataRoot() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)) ||
      folder[0] == L'\0')
    return {};  // better no view than data in some unintended folder
  return std::wstring(folder) + L"\\" + GetAppState().displayName + L"\\WebView2Data";
}

HWND CreatePlayerFrame(HINSTANCE instance) {
  try {
    RegisterMainWindowClass(instance, kPlayerWindowClass, PlayerWindowProc);
    return CreateMainWindow(instance, kPlayerWindowClass, kPlayerWindowSize);
  } catch (...) {
    return nullptr;
  }
}

void StartPlayerBrowser(HWND window, const MainWindowServices& services) {
  if (window == nullptr || g_playerHost)
    return;
  try {
    WindowServices() = services;
    g_playerHost = services.makeHost ? services.makeHost() : nullptr;
    if (g_playerHost)
      g_playerHost->StartEnvironment(PrepareUserDataRoot());
  } catch (...) {
    g_playerHost.reset();  // CreatePlayerWindow starts the view the ordinary way
  }
}

bool CreatePlayerWindow(HINSTANCE instance, HWND window, const LinkContent& content) {
  return CreatePlayerWindow(instance, window, content, DefaultMainWindowServices());
}

bool CreatePlayerWindow(HINSTANCE,
                        HWND window,
                        const LinkContent& content,
                        const MainWindowServices& services) {
  if (window == nullptr)
    return false;
  try {
    g_mainWindow = window;
    GetPlayerWindowState().window = window;
    WindowServices() = services;
    return PlayerShell().StartView(content);
  } catch (...) {
    return false;
  }
}

bool CreateInitScreen(HINSTANCE instance) {
  return CreateInitScreen(instance, DefaultMainWindowServices());
}

bool CreateInitScreen(HINSTANCE instance, const MainWindowServices& services) {
  try {
    RegisterMainWindowClass(instance, kInitScreenWindowClass, InitWindowProc);
    HWND window = CreateMainWindow(instance, kInitScreenWindowClass, kInitScreenSize);
    if (window == nullptr)
      return false;
    g_mainWindow = window;
    WindowServices() = services;
    return InitShell(window).StartView();
  } catch (...) {
    return false;
  }
}
