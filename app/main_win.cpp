// The player's entry point on Windows: a Unicode GUI program (no console) whose main thread is a
// single-threaded COM apartment that owns every window and web view. The start-up sequence itself
// is portable (app/startup.h); this file is its Windows platform.
#include <windows.h>  // before every other Windows header

#include <objbase.h>
#include <shellapi.h>

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "app/identity.h"
#include "app/runtime_bootstrap_win.h"
#include "app/splash_win.h"
#include "app/startup.h"
#include "app/windows_win.h"
#include "base/unique_handle_win.h"
#include "webview/webview2_loader.h"

namespace {

void LogStep(const std::string& text) {
  OutputDebugStringA(text.c_str());
  OutputDebugStringA("\n");
}

UINT MessageBoxFlags(const MessageBoxRequest& request) {
  UINT flags = MB_SETFOREGROUND | MB_TOPMOST;
  switch (request.icon) {
    case MessageIcon::kInformation:
      flags |= MB_ICONINFORMATION;
      break;
    case MessageIcon::kError:
      flags |= MB_ICONERROR;
      break;
    case MessageIcon::kWarning:
      flags |= MB_ICONWARNING;
      break;
    case MessageIcon::kQuestion:
      flags |= MB_ICONQUESTION;
      break;
  }
  switch (request.buttons) {
    case MessageButtons::kOk:
      flags |= MB_OK;
      break;
    case MessageButtons::kOkCancel:
      flags |= MB_OKCANCEL;
      break;
    case MessageButtons::kYesNo:
      flags |= MB_YESNO;
      break;
  }
  if (request.rightToLeft)
    flags |= MB_RIGHT | MB_RTLREADING;
  return flags;
}

class WindowsStartupPlatform : public StartupPlatform {
 public:
  explicit WindowsStartupPlatform(HINSTANCE instance) : instance_(instance) {}

  void InitializeMainThread() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void UninitializeMainThread() override { CoUninitialize(); }
  bool StartGraphics() override { return StartGdiplus(); }
  void StopGraphics() override { StopGdiplus(); }

  InstanceLock AcquireInstanceLock(const std::wstring& mutexName) override {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, mutexName.c_str());
    const DWORD error = GetLastError();
    mutex_.reset(mutex);
    if (!mutex_)
      return InstanceLock::kFailed;
    return error == ERROR_ALREADY_EXISTS ? InstanceLock::kAlreadyRunning : InstanceLock::kAcquired;
  }
  void ReleaseInstanceLock() override { mutex_.reset(); }

  bool CreateSplash() override { return ::CreateSplash(instance_, 700, 450) != nullptr; }
  void DrainMessages() override {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  void RunWhileResponsive(const std::function<void()>& work) override {
    base::UniqueKernelHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread worker;
    try {
      if (done)
        worker = std::thread([&work, event = done.get()] {
          work();
          SetEvent(event);
        });
    } catch (...) {
    }
    if (!worker.joinable()) {  // no thread: the work runs here, the windows wait
      work();
      return;
    }
    const HANDLE waited = done.get();
    std::optional<int> quit;
    while (MsgWaitForMultipleObjectsEx(1, &waited, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) !=
           WAIT_OBJECT_0) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
          quit = static_cast<int>(message.wParam);
          continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
    worker.join();
    if (quit)
      PostQuitMessage(*quit);
  }
  bool IsSystemSupported() override { return IsSupportedWindowsVersion(GetTrueWindowsVersion()); }
  bool EnsureWebViewRuntime() override {
    // The check must see the runtime the views will use: without a parent's stale overrides.
    WebView::ClearInheritedOverrides();
    return EnsureWebView2Runtime();
  }
  bool CreateInitScreen() override { return ::CreateInitScreen(instance_); }
  bool InitHostExists() override { return g_initHost != nullptr; }
  bool CreatePlayerFrame() override {
    frame_ = ::CreatePlayerFrame(instance_);
    if (frame_)
      UpdateWindow(frame_);
    return frame_ != nullptr;
  }
  void StartPlayerBrowser() override { ::StartPlayerBrowser(frame_, DefaultMainWindowServices()); }
  bool CreatePlayerWindow(const LinkContent& content) override {
    return ::CreatePlayerWindow(instance_, frame_, content);
  }
  int RunMessageLoop() override {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
  }
  void ShutdownWebViewHosts() override { ::ShutdownWebViewHosts(); }
  // The main window's thread is the main thread; without a main window there is nobody to ask.
  bool RunOnMainThread(std::function<void()> task, unsigned timeoutMs) override {
    HWND window = g_mainWindow;
    if (!window || !IsWindow(window))
      return false;
    return RunOnWindowThread(window, std::move(task), timeoutMs);
  }
  MessageAnswer ShowMessage(const MessageBoxRequest& request) override {
    switch (MessageBoxW(nullptr, request.text.c_str(), request.caption.c_str(), MessageBoxFlags(request))) {
      case IDOK:
        return MessageAnswer::kOk;
      case IDCANCEL:
        return MessageAnswer::kCancel;
      case IDYES:
        return MessageAnswer::kYes;
      case IDNO:
        return MessageAnswer::kNo;
      default:
        return MessageAnswer::kOther;
    }
  }
  void OpenInBrowser(const std::wstring& link) override {
    ShellExecuteW(nullptr, L"open", link.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }
  void Log(const std::string& line) override { LogStep(line); }

 private:
  HINSTANCE instance_;
  base::UniqueKernelHandle mutex_;  // held for the life of the process
  HWND frame_ = nullptr;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  // Libraries loaded by name come from the program's folder and System32 only, never from the
  // current directory or PATH.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  try {
    WindowsStartupPlatform platform(instance);
    return RunStartup(platform, commandLine ? commandLine : L"");
  } catch (...) {
    ShowUnexpectedErrorDialog();
  }
}
