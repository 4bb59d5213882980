// The start-up sequence's platform on Linux: Qt 6 WebEngine for the windows and dialogs, a lock
// file for the single instance. What has no Linux counterpart is a no-op (the main thread's COM
// apartment, GDI+) or a fixed answer (the system check, the WebView2 runtime).
//
// Main (GUI) thread only, except RunOnMainThread; a QApplication must exist for the platform's
// whole life.
#ifndef CORVEL_APP_STARTUP_PLATFORM_QT_H_
#define CORVEL_APP_STARTUP_PLATFORM_QT_H_

#include <functional>
#include <memory>
#include <string>

#include "app/startup.h"

class QLockFile;
class QWidget;

class QtStartupPlatform : public StartupPlatform {
 public:
  QtStartupPlatform();
  ~QtStartupPlatform() override;

  void InitializeMainThread() override {}  // the GUI thread needs no set-up of its own
  void UninitializeMainThread() override {}
  bool StartGraphics() override { return true; }  // the splash needs no image library start
  void StopGraphics() override {}
  InstanceLock AcquireInstanceLock(const std::wstring& lockName) override;
  void ReleaseInstanceLock() override;
  bool CreateSplash() override;
  void DrainMessages() override;
  void RunWhileResponsive(const std::function<void()>& work) override;
  // Any Linux the player builds on runs it.
  bool IsSystemSupported() override { return true; }
  // Qt WebEngine is linked into the program: there is no runtime to look for or install.
  bool EnsureWebViewRuntime() override { return true; }
  bool CreateInitScreen() override;
  bool InitHostExists() override;
  bool CreatePlayerFrame() override;
  void StartPlayerBrowser() override;
  bool CreatePlayerWindow(const LinkContent& content) override;
  int RunMessageLoop() override;
  void ShutdownWebViewHosts() override;
  bool RunOnMainThread(std::function<void()> task, unsigned timeoutMs) override;
  MessageAnswer ShowMessage(const MessageBoxRequest& request) override;
  void OpenInBrowser(const std::wstring& link) override;
  void Log(const std::string& line) override;

 private:
  std::unique_ptr<QLockFile> lock_;
  QWidget* frame_ = nullptr;
};

// The file that stands for a named instance lock: the name with every character other than
// ASCII letters, digits, ".", "-" and "_" replaced by "_", then ".lock".
std::wstring InstanceLockFileName(const std::wstring& mutexName);

#endif  // CORVEL_APP_STARTUP_PLATFORM_QT_H_
