// The start-up sequence: a fixed, ordered list of steps that either continue or end the process
// with an exit code (and, where the user must be told, a message box), then one of the two ways
// to run (the init screen without a link, the player window with one), the message loop and the
// tear-down. The sequence is plain logic over StartupPlatform, so Windows and the Linux player
// run the same steps and tests run them against a fake.
#ifndef CORVEL_APP_STARTUP_H_
#define CORVEL_APP_STARTUP_H_

#include <string>
#include <vector>

#include "net/version_check.h"

enum class MessageIcon { Information, Error, Warning, Question };
enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageAnswer { Ok, Cancel, Yes, No, Other };

// A message box without an owner window, always in the foreground and topmost.
struct MessageBoxRequest {
  std::wstring text;
  std::wstring caption;
  MessageIcon icon = MessageIcon::Information;
  MessageButtons buttons = MessageButtons::Ok;
  bool rightToLeft = false;  // right-aligned, right-to-left reading (server texts in Arabic)
};

enum class InstanceLock { Acquired, AlreadyRunning, Failed };

// Everything the sequence asks of the platform. Called on the main thread, in the order of the
// sequence; none of the calls may throw except LoadDynamicPins.
class StartupPlatform {
 public:
  virtual ~StartupPlatform() = default;

  virtual void InitializeCom() = 0;          // also remembers the main thread
  virtual void UninitializeCom() = 0;
  virtual void InstallShutdownHook() = 0;    // closes the web views before a forced end
  virtual void RemoveShutdownHook() = 0;
  virtual bool StartGdiplus() = 0;
  virtual void StopGdiplus() = 0;
  virtual InstanceLock AcquireInstanceLock(const std::wstring& mutexName) = 0;
  virtual void ReleaseInstanceLock() = 0;
  virtual bool CreateSplash() = 0;           // true when a splash window exists afterwards
  virtual void DrainMessages() = 0;          // dispatch what is queued, without waiting
  virtual int TrueWindowsVersion() = 0;      // 11, 10, 8, 7 or -1
  virtual bool EnsureWebViewRuntime() = 0;   // shows its own messages when it returns false
  virtual void InstallDefaultPins() = 0;
  virtual void LoadDynamicPins() = 0;        // may throw; the outcome is ignored
  virtual UpdateInfo CheckForUpdate(double currentVersion, const std::wstring& baseUrl) = 0;
  virtual bool RegisterUrlProtocol(const std::wstring& scheme, const std::wstring& displayName,
                                   const std::wstring& executablePath) = 0;
  virtual std::wstring ModulePath() = 0;
  virtual std::wstring SelectLinkArgument(const std::wstring& rawCommandLine) = 0;
  virtual bool CreateInitScreen() = 0;
  virtual bool InitHostExists() = 0;         // the init screen's web view host was created
  virtual bool CreatePlayerFrame() = 0;      // true when the (visible, updated) window exists
  virtual bool ParseLink(const std::wstring& argument, std::string& errorCode) = 0;
  virtual bool CreatePlayerWindow() = 0;     // shows its own messages when it returns false
  virtual int RunMessageLoop() = 0;          // the quit message's exit code
  virtual void ShutdownWebViewHosts() = 0;
  virtual MessageAnswer ShowMessage(const MessageBoxRequest& request) = 0;
  virtual void OpenInBrowser(const std::wstring& link) = 0;
  // Ends the process in the product (exit code 0); a fake may come back.
  virtual void ShowFatalDiagnostic(const std::wstring& title, const std::wstring& english,
                                   const std::wstring& arabic, const std::string& code) = 0;
  virtual void Log(const std::string& line) = 0;
};

// Runs the whole life of the process; returns its exit code.
int RunStartup(StartupPlatform& platform, const std::wstring& rawCommandLine);

// The version number sent to the update check: the leading decimal number of the version text
// ("4.11.0" gives 4.11), or 3.0 when it does not begin with one.
double VersionNumber(const std::wstring& versionText);

// Whether a command-line argument holds a launch link: "<scheme>:" anywhere, in any letter case.
bool HoldsLaunchLink(const std::wstring& argument, const std::wstring& schemeName);

// The argument that may hold the link: the first argument when there is a non-empty one,
// otherwise the whole raw command line when it contains "<scheme>:" (exact letter case).
// `arguments` is the split command line (program path first), empty when it could not be split.
std::wstring SelectLinkCandidate(const std::vector<std::wstring>& arguments, const std::wstring& rawCommandLine,
                                 const std::wstring& schemeName);

#endif  // CORVEL_APP_STARTUP_H_
