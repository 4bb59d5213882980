// The start-up sequence's platform on Linux: Qt 6 WebEngine for the windows and dialogs, the
// shared libcurl/OpenSSL client for the server calls. What has no Linux counterpart is a
// no-op (COM, GDI+) or a fixed answer (the Windows version check, the WebView2 runtime).
//
// Main (GUI) thread only; a QApplication must exist for the platform's whole life.
#ifndef CORVEL_APP_STARTUP_PLATFORM_QT_H_
#define CORVEL_APP_STARTUP_PLATFORM_QT_H_

#include <memory>
#include <string>
#include <vector>

#include <QString>

#include "app/startup.h"

class QLockFile;
class QWidget;

class QtStartupPlatform : public StartupPlatform {
 public:
  // `arguments`: the command line as given (program first).
  explicit QtStartupPlatform(std::vector<std::wstring> arguments);
  ~QtStartupPlatform() override;

  void InitializeCom() override;
  void UninitializeCom() override {}
  void InstallShutdownHook() override;
  void RemoveShutdownHook() override;
  bool StartGdiplus() override { return true; }  // the splash needs no image library start
  void StopGdiplus() override {}
  InstanceLock AcquireInstanceLock(const std::wstring& mutexName) override;
  void ReleaseInstanceLock() override;
  bool CreateSplash() override;
  void DrainMessages() override;
  // There is no Windows version to check: any Linux the player builds on runs it.
  int TrueWindowsVersion() override { return 10; }
  // Qt WebEngine is linked into the program: there is no runtime to look for or install.
  bool EnsureWebViewRuntime() override { return true; }
  void InstallDefaultPins() override;
  void LoadDynamicPins() override;
  UpdateInfo CheckForUpdate(double currentVersion, const std::wstring& baseUrl) override;
  bool RegisterUrlProtocol(const std::wstring& scheme,
                           const std::wstring& displayName,
                           const std::wstring& executablePath) override;
  std::wstring ModulePath() override;
  std::wstring SelectLinkArgument(const std::wstring& rawCommandLine) override;
  bool CreateInitScreen() override;
  bool InitHostExists() override;
  bool CreatePlayerFrame() override;
  bool ParseLink(const std::wstring& argument, std::string& errorCode) override;
  bool CreatePlayerWindow() override;
  int RunMessageLoop() override;
  void ShutdownWebViewHosts() override;
  MessageAnswer ShowMessage(const MessageBoxRequest& request) override;
  void OpenInBrowser(const std::wstring& link) override;
  void ShowFatalDiagnostic(const std::wstring& title,
                           const std::wstring& english,
                           const std::wstring& arabic,
                           const std::string& code) override;
  void Log(const std::string& line) override;

 private:
  std::vector<std::wstring> arguments_;
  std::unique_ptr<QLockFile> lock_;
  QWidget* frame_ = nullptr;
};

// The file that stands for a named instance lock: the name with every character other than
// ASCII letters, digits, ".", "-" and "_" replaced by "_", then ".lock".
std::wstring InstanceLockFileName(const std::wstring& mutexName);

// The freedesktop entry that makes `executablePath` the handler of "<scheme>:" links. Name and
// path are escaped as the freedesktop desktop-entry format asks (the path is one quoted argument).
std::string BuildSchemeDesktopEntry(const std::wstring& scheme,
                                    const std::wstring& displayName,
                                    const std::wstring& executablePath);

// Writes the entry as "<applicationsDir>/<scheme>.desktop" (creating the folder), replacing the
// file atomically and only when its text differs. False when it cannot be written.
bool WriteSchemeDesktopEntry(const QString& applicationsDir,
                             const std::wstring& scheme,
                             const std::wstring& displayName,
                             const std::wstring& executablePath);

// The user's applications folder: $XDG_DATA_HOME/applications, or ~/.local/share/applications
// when XDG_DATA_HOME is unset, empty or relative.
QString UserApplicationsFolder();

#endif  // CORVEL_APP_STARTUP_PLATFORM_QT_H_
