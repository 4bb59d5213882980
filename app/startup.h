// The start-up sequence: a fixed, ordered list of steps that either continue or end the process
// with an exit code (and, where the user must be told, a message box), then one of the two ways
// to run (the init screen without a link, the player window with one), the message loop and the
// tear-down. The sequence is plain logic: what differs per platform comes through
// StartupPlatform, what is the same everywhere (the pins, the update check, the URL scheme, the
// link) through StartupServices, so Windows and the Linux player run the same steps and tests
// run them against fakes.
#ifndef CORVEL_APP_STARTUP_H_
#define CORVEL_APP_STARTUP_H_

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/shutdown_hook.h"
#include "link/launch_link.h"
#include "net/version_check.h"

enum class MessageIcon { kInformation, kError, kWarning, kQuestion };
enum class MessageButtons { kOk, kOkCancel, kYesNo };
enum class MessageAnswer { kOk, kCancel, kYes, kNo, kOther };

// A message box without an owner window, always in the foreground and topmost.
struct MessageBoxRequest {
  std::wstring text;
  std::wstring caption;
  MessageIcon icon = MessageIcon::kInformation;
  MessageButtons buttons = MessageButtons::kOk;
  bool rightToLeft = false;  // right-aligned, right-to-left reading (server texts in Arabic)
};

enum class InstanceLock { kAcquired, kAlreadyRunning, kFailed };

// What differs per platform. Called on the main thread, in the order of the sequence, except
// RunOnMainThread, which the shutdown hook calls from other threads. None of the calls may throw.
class StartupPlatform {
 public:
  virtual ~StartupPlatform() = default;

  // The main thread's set-up and its end (its COM apartment on Windows).
  virtual void InitializeMainThread() = 0;
  virtual void UninitializeMainThread() = 0;
  // The image library the splash is drawn with (GDI+ on Windows); false: no splash.
  virtual bool StartGraphics() = 0;
  virtual void StopGraphics() = 0;
  // The lock that keeps a second instance of the same role out (a named mutex on Windows).
  virtual InstanceLock AcquireInstanceLock(const std::wstring& lockName) = 0;
  virtual void ReleaseInstanceLock() = 0;
  virtual bool CreateSplash() = 0;   // true when a splash window exists afterwards
  virtual void DrainMessages() = 0;  // dispatch what is queued, without waiting
  // Runs `work` on a worker thread and keeps dispatching the main thread's messages until it has
  // finished: the windows repaint and answer, other threads' hand-overs run. A quit message
  // that comes meanwhile is kept for the message loop. `work` does not throw.
  virtual void RunWhileResponsive(const std::function<void()>& work) = 0;
  virtual bool IsSystemSupported() = 0;     // the operating system can run the player
  virtual bool EnsureWebViewRuntime() = 0;  // shows its own messages when it returns false
  virtual bool CreateInitScreen() = 0;
  virtual bool InitHostExists() = 0;     // the init screen's web view host was created
  virtual bool CreatePlayerFrame() = 0;  // true when the (visible, updated) window exists
  // Starts the player's browser in the frame ahead of the content (the environment on Windows,
  // the profile and view on Linux), so that it gets ready while the start-up's requests run;
  // CreatePlayerWindow takes it over and ShutdownWebViewHosts closes it. Shows nothing: a browser
  // that cannot start is reported by CreatePlayerWindow. At most once, after CreatePlayerFrame.
  virtual void StartPlayerBrowser() {}
  // The web view in the player frame, prepared for the link's content; shows its own messages
  // when it returns false.
  virtual bool CreatePlayerWindow(const LinkContent& content) = 0;
  virtual int RunMessageLoop() = 0;  // the quit message's exit code
  virtual void ShutdownWebViewHosts() = 0;
  // From a thread other than the main one: runs `task` on the main thread and waits until it
  // has run or timeoutMs have passed. False when it could not be handed over or did not finish
  // in time; a task the main thread has not started by then never runs. Safe to call while the
  // main thread is busy.
  virtual bool RunOnMainThread(std::function<void()> task, unsigned timeoutMs) = 0;
  virtual MessageAnswer ShowMessage(const MessageBoxRequest& request) = 0;
  virtual void OpenInBrowser(const std::wstring& link) = 0;
  virtual void Log(const std::string& line) = 0;
};

// The steps that are the same on every platform. DefaultStartupServices() gives the real ones;
// tests replace members. Called on the main thread, except the network's: loadDynamicPins,
// checkForUpdate and resolveLink run on worker threads while the main thread keeps its windows
// answering (RunWhileResponsive). When the link's platform is known before the network
// (linkPlatform), the pin list goes first and the two update checks and the link's requests then
// run together, with the player's browser starting meanwhile; otherwise one at a time. Either way
// each answer is awaited where the sequence needs it, so every message, prompt and exit keeps its
// order. Only loadDynamicPins may throw.
struct StartupServices {
  std::function<void(ShutdownHook hook)> setShutdownHook;  // null removes the hook
  std::function<void()> installDefaultPins;
  std::function<void()> loadDynamicPins;  // may throw; the outcome is ignored
  std::function<UpdateInfo(double currentVersion, const std::wstring& baseUrl)> checkForUpdate;
  std::function<
      bool(const std::wstring& scheme, const std::wstring& displayName, const std::wstring& executablePath)>
      registerUrlProtocol;
  std::function<std::wstring()> modulePath;
  // The argument that may hold the link (SelectLinkCandidate over the process's command line).
  std::function<std::wstring(const std::wstring& rawCommandLine)> selectLinkArgument;
  // Resolves the link (ResolveLaunchLink) and, when it gives content, writes it into the
  // identity record (which the rest of the process reads).
  std::function<LinkOutcome(const std::wstring& argument)> resolveLink;
  // The platform domain of the link in the argument, when it decodes and checks without a
  // request (LaunchLinkPlatform). Unset or nothing: no request runs ahead of its turn.
  std::function<std::optional<std::wstring>(const std::wstring& argument)> linkPlatform;
  // The check the web view's pin gate makes before a page's first request to the link's
  // platform (PassesPinGate, its warning included), made ahead while the other requests run.
  // Optional.
  std::function<void(const std::wstring& platformDomain)> checkPagesPlatform;
  // Ends the process in the product (exit code 0); a fake may come back.
  std::function<void(const std::wstring& title,
                     const std::wstring& english,
                     const std::wstring& arabic,
                     const std::string& code)>
      showFatalDiagnostic;
};

StartupServices DefaultStartupServices();

// Runs the whole life of the process; returns its exit code.
int RunStartup(StartupPlatform& platform, const std::wstring& rawCommandLine);
int RunStartup(StartupPlatform& platform,
               const StartupServices& services,
               const std::wstring& rawCommandLine);

// How long another thread waits for the main thread to close the web views before a forced end.
inline constexpr unsigned kShutdownHandOverMs = 7000;

// The shutdown hook's work: on the main thread the web views are closed at once; another thread
// hands that to the main thread and waits at most kShutdownHandOverMs for it.
void CloseWebViewsBeforeEnd(StartupPlatform& platform, std::thread::id mainThread);

// Installs the shutdown hook for `platform` through setShutdownHook (SetShutdownHook by default),
// with the calling thread as the main thread; RemovePlatformShutdownHook takes it away again.
// RunStartup does both; the platform must outlive the installation.
void InstallPlatformShutdownHook(StartupPlatform& platform,
                                 const std::function<void(ShutdownHook)>& setShutdownHook = SetShutdownHook);
void RemovePlatformShutdownHook(const std::function<void(ShutdownHook)>& setShutdownHook = SetShutdownHook);

// The entry points' last guard: nothing in the sequence throws by design, but an exception that
// escapes it must not end the process without a word. Shows the fatal dialog; never returns.
[[noreturn]] void ShowUnexpectedErrorDialog();

// The version number sent to the update check: the leading decimal number of the version text
// ("4.11.0" gives 4.11), or 3.0 when it does not begin with one.
double VersionNumber(const std::wstring& versionText);

// Whether a command-line argument holds a launch link: "<scheme>:" anywhere, in any letter case.
bool HoldsLaunchLink(const std::wstring& argument, const std::wstring& schemeName);

// The argument that may hold the link: the first argument when there is a non-empty one,
// otherwise the whole raw command line when it contains "<scheme>:" (exact letter case).
// `arguments` is the split command line (program path first), empty when it could not be split.
std::wstring SelectLinkCandidate(const std::vector<std::wstring>& arguments,
                                 const std::wstring& rawCommandLine,
                                 const std::wstring& schemeName);

#endif  // CORVEL_APP_STARTUP_H_
