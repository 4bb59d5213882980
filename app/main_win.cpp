// The player's entry point on Windows: a Unicode GUI program (no console) whose main thread is a
// single-threaded COM apartment that owns every window and web view. The start-up sequence itself
// is portable (app/startup.h); this file is its Windows platform.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>

#include "core/app_state.h"
#include "core/fatal_dialog.h"
#include "app/identity.h"
#include "app/runtime_bootstrap.h"
#include "core/shutdown_hook.h"
#include "app/splash.h"
#include "app/startup.h"
#include "app/url_scheme.h"
#include "app/windows_win.h"
#include "link/launch_link.h"
#include "net/content_source.h"
#include "net/pin_list.h"
#include "net/pinning.h"
#include "net/version_check.h"

namespace {

DWORD g_mainThreadId = 0;

// Closes the web views before a forced end. Another thread must not touch the hosts: it hands
// the work to the main window and waits at most 7 s for it.
void ShutdownHook() {
  if (GetCurrentThreadId() == g_mainThreadId) {
    ShutdownWebViewHosts();
    return;
  }
  HWND window = g_mainWindow;
  if (window && IsWindow(window)) {
    SendMessageTimeoutW(window, WM_APP_SHUTDOWN_HOSTS, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, 7000, nullptr);
  }
}

void LogStep(const std::string& text) {
  OutputDebugStringA(text.c_str());
  OutputDebugStringA("\n");
}

UINT MessageBoxFlags(const MessageBoxRequest& request) {
  UINT flags = MB_SETFOREGROUND | MB_TOPMOST;
  switch (request.icon) {
    case MessageIcon::Information: flags |= MB_ICONINFORMATION; break;
    case MessageIcon::Error: flags |= MB_ICONERROR; break;
    case MessageIcon::Warning: flags |= MB_ICONWARNING; break;
    case MessageIcon::Question: flags |= MB_ICONQUESTION; break;
  }
  switch (request.buttons) {
    case MessageButtons::Ok: flags |= MB_OK; break;
    case MessageButtons::OkCancel: flags |= MB_OKCANCEL; break;
    case MessageButtons::YesNo: flags |= MB_YESNO; break;
  }
  if (request.rightToLeft) flags |= MB_RIGHT | MB_RTLREADING;
  return flags;
}

class WindowsStartupPlatform : public StartupPlatform {
 public:
  explicit WindowsStartupPlatform(HINSTANCE instance) : instance_(instance) {}

  void InitializeCom() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    g_mainThreadId = GetCurrentThreadId();
  }
  void UninitializeCom() override { CoUninitialize(); }
  void InstallShutdownHook() override { SetShutdownHook(&ShutdownHook); }
  void RemoveShutdownHook() override { SetShutdownHook(nullptr); }
  bool StartGdiplus() override { return ::StartGdiplus(); }
  void StopGdiplus() override { ::StopGdiplus(); }

  InstanceLock AcquireInstanceLock(const std::wstring& mutexName) override {
    mutex_ = CreateMutexW(nullptr, FALSE, mutexName.c_str());
    if (!mutex_) return InstanceLock::Failed;
    return GetLastError() == ERROR_ALREADY_EXISTS ? InstanceLock::AlreadyRunning : InstanceLock::Acquired;
  }
  void ReleaseInstanceLock() override {
    if (mutex_) CloseHandle(mutex_);
    mutex_ = nullptr;
  }

  bool CreateSplash() override { return ::CreateSplash(instance_, 700, 450) != nullptr; }
  void DrainMessages() override {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  int TrueWindowsVersion() override { return GetTrueWindowsVersion(); }
  bool EnsureWebViewRuntime() override { return EnsureWebView2Runtime(); }
  void InstallDefaultPins() override { ReplacePins(DefaultPins()); }
  void LoadDynamicPins() override { ::LoadDynamicPins(); }
  UpdateInfo CheckForUpdate(double currentVersion, const std::wstring& baseUrl) override {
    return ::CheckForUpdate(currentVersion, baseUrl);
  }
  bool RegisterUrlProtocol(const std::wstring& scheme, const std::wstring& displayName,
                           const std::wstring& executablePath) override {
    return ::RegisterUrlProtocol(scheme, displayName, executablePath);
  }
  std::wstring ModulePath() override { return GetModulePath(); }
  std::wstring SelectLinkArgument(const std::wstring& rawCommandLine) override {
    return SelectLinkCandidate(SplitProcessCommandLine(), rawCommandLine, GetAppState().schemeName);
  }
  bool CreateInitScreen() override { return ::CreateInitScreen(instance_); }
  bool InitHostExists() override { return g_initHost != nullptr; }
  bool CreatePlayerFrame() override {
    frame_ = ::CreatePlayerFrame(instance_);
    if (frame_) UpdateWindow(frame_);
    return frame_ != nullptr;
  }
  bool ParseLink(const std::wstring& argument, std::string& errorCode) override {
    return ParseSchemeArgs(argument, errorCode, NetContentSource());
  }
  bool CreatePlayerWindow() override { return ::CreatePlayerWindow(instance_, frame_); }
  int RunMessageLoop() override {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
  }
  void ShutdownWebViewHosts() override { ::ShutdownWebViewHosts(); }
  MessageAnswer ShowMessage(const MessageBoxRequest& request) override {
    switch (MessageBoxW(nullptr, request.text.c_str(), request.caption.c_str(), MessageBoxFlags(request))) {
      case IDOK: return MessageAnswer::Ok;
      case IDCANCEL: return MessageAnswer::Cancel;
      case IDYES: return MessageAnswer::Yes;
      case IDNO: return MessageAnswer::No;
      default: return MessageAnswer::Other;
    }
  }
  void OpenInBrowser(const std::wstring& link) override {
    ShellExecuteW(nullptr, L"open", link.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }
  void ShowFatalDiagnostic(const std::wstring& title, const std::wstring& english, const std::wstring& arabic,
                           const std::string& code) override {
    ShowFatalDiagnosticDialog(title, english, arabic, code);
  }
  void Log(const std::string& line) override { LogStep(line); }

 private:
  HINSTANCE instance_;
  HANDLE mutex_ = nullptr;
  HWND frame_ = nullptr;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  try {
    WindowsStartupPlatform platform(instance);
    return RunStartup(platform, commandLine ? commandLine : L"");
  } catch (...) {
    // Nothing in the sequence throws by design; a last guard keeps an escaping exception from
    // ending the process without a word.
    ShowFatalDiagnosticDialog(L"Corvel", L"The player stopped because of an unexpected error.",
                              L"توقف البرنامج بسبب خطأ غير متوقع.", "UNHANDLED_EXCEPTION");
  }
}
