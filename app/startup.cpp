#include "app/startup.h"

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <type_traits>
#include <utility>

#include "app/diagnostics.h"
#include "app/identity.h"
#include "base/app_state.h"
#include "base/stable_names.h"
#include "config/config.h"
#include "text/decimal_number.h"
#include "text/text.h"
#include "text/web_address.h"

namespace {

MessageBoxRequest AlreadyRunning() {
  return {L"The application is already running.\n\nالبرنامج يعمل بالفعل.", GetAppState().displayName,
          MessageIcon::kInformation, MessageButtons::kOk};
}

// "<displayName> - <title>", the captions of the player's own message boxes.
std::wstring Caption(const std::wstring& title) {
  return GetAppState().displayName + L" - " + title;
}

MessageBoxRequest UnsupportedOs() {
  return {L"This application requires Windows 10 or later.\nهذا التطبيق يتطلب ويندوز 10 أو أحدث.",
          L"Unsupported OS", MessageIcon::kError, MessageButtons::kOk};
}

MessageBoxRequest WindowFailed() {
  return {L"Failed to create the application window.", Caption(L"Startup Error"), MessageIcon::kError,
          MessageButtons::kOk};
}

MessageBoxRequest ServerMessage(const std::wstring& text) {
  return {text, Caption(L"خطأ"), MessageIcon::kWarning, MessageButtons::kOk, true};
}

MessageBoxRequest MandatoryUpdate() {
  return {
      L"A mandatory update is available. You must download the new version to continue.\n"
      L"تحديث إجباري متاح. يجب عليك تحميل الإصدار الجديد للمتابعة.",
      Caption(L"Update Required"), MessageIcon::kWarning, MessageButtons::kOkCancel};
}

MessageBoxRequest OptionalUpdate() {
  return {
      L"A new version of the app is available. Would you like to update now?\n"
      L"يوجد تحديث جديد للتطبيق. هل ترغب في التحديث الآن؟",
      Caption(L"Update Available"), MessageIcon::kInformation, MessageButtons::kYesNo};
}

// The address the update prompt opens. The link comes from a server answer (the platform of a
// link among them) and goes to the shell's "open" verb, which would just as well start a local
// or network program ("file:", "\\host\share\x.exe") or any registered protocol handler, and
// the prompt asks the student to run what it downloads. So only an HTTPS address on the
// download hosts (the built-in download address's own, or a configured one) is taken; anything
// else opens the built-in download address.
std::wstring UpdateLinkToOpen(const std::wstring& link) {
  const std::wstring fallback = config::FallbackDownloadUrl();
  const std::optional<WebAddress> address = ParseWebAddress(link);
  if (!address || address->scheme != L"https" || address->hasUserInfo ||
      ToLowerCopy(link.substr(0, 8)) != L"https://")
    return fallback;
  std::vector<std::wstring> hosts = config::DownloadHosts();
  if (const std::optional<WebAddress> own = ParseWebAddress(fallback))
    hosts.push_back(own->host);
  for (const std::wstring& host : hosts) {
    if (CanonicalHost(host) == address->host)
      return link;
  }
  return fallback;
}

// The platform the shutdown hook works with, and the thread it counts as the main one; set
// while the hook is installed.
std::atomic<StartupPlatform*> g_hookPlatform{nullptr};
std::thread::id g_hookMainThread;

void ShutdownHookOfPlatform() {
  if (StartupPlatform* platform = g_hookPlatform.load())
    CloseWebViewsBeforeEnd(*platform, g_hookMainThread);
}

// What a RunStartup that ended early leaves for the hook: nothing. The hook stays installed (as
// on every early end) but no longer reaches a platform that is about to go.
struct HookPlatformScope {
  ~HookPlatformScope() { g_hookPlatform.store(nullptr); }
};

// The start-up's requests. With the link's platform known before the network, each
// starts on a thread of its own as soon as what it depends on is in: the pin list at once (every
// later request is judged with it), then the two update checks and the link's requests together.
// Otherwise each runs when it is awaited, one after another. Either way the sequence awaits each
// answer where it needs it; a request still running when the sequence ends early is waited for
// at the end, with the windows still answering.
class StartupRequests {
 public:
  StartupRequests(StartupPlatform& platform,
                  const StartupServices& services,
                  const std::wstring& argument,
                  std::optional<std::wstring> linkPlatform)
      : platform_(platform),
        services_(services),
        argument_(argument),
        linkPlatform_(std::move(linkPlatform)),
        policy_(linkPlatform_ ? std::launch::async : std::launch::deferred) {
    pins_ = std::async(policy_, [&services] {
              try {
                services.loadDynamicPins();
                return true;
              } catch (...) {
                return false;
              }
            }).share();
    update_ = CheckForUpdate(L"");
    if (linkPlatform_) {
      link_ = AfterPins([this] { return services_.resolveLink(argument_); });
      platformUpdate_ = CheckForUpdate(*linkPlatform_);
      if (services_.checkPagesPlatform)
        pagesPlatform_ = AfterPins([this] {
          services_.checkPagesPlatform(*linkPlatform_);
          return true;
        });
    }
  }

  // A start-up that ended early (a prompt, the server's message) may leave requests running:
  // they are waited for here, the windows answering meanwhile. A request that never started
  // (one that runs when awaited) stays so.
  ~StartupRequests() {
    if (Running(update_) || Running(link_) || Running(platformUpdate_) || Running(pagesPlatform_)) {
      platform_.RunWhileResponsive([this] {
        WaitIfRunning(update_);
        WaitIfRunning(link_);
        WaitIfRunning(platformUpdate_);
        WaitIfRunning(pagesPlatform_);
      });
    }
  }
  StartupRequests(const StartupRequests&) = delete;
  StartupRequests& operator=(const StartupRequests&) = delete;

  // False when the pin list's load threw.
  bool Pins() { return Await(pins_); }
  UpdateInfo Update() { return Await(update_); }
  LinkOutcome Link() {
    if (!link_.valid())
      link_ = AfterPins([this] { return services_.resolveLink(argument_); });
    return Await(link_);
  }
  // The page gate's answer for the link's platform, when it was asked ahead.
  void PagesPlatform() {
    if (pagesPlatform_.valid())
      Await(pagesPlatform_);
  }
  // The update check with the link's platform, which is `platformDomain`.
  UpdateInfo PlatformUpdate(const std::wstring& platformDomain) {
    if (!platformUpdate_.valid())
      platformUpdate_ = CheckForUpdate(platformDomain);
    return Await(platformUpdate_);
  }

 private:
  template <typename Result>
  static bool Running(const std::future<Result>& answer) {
    return answer.valid() && answer.wait_for(std::chrono::seconds(0)) == std::future_status::timeout;
  }
  template <typename Result>
  static void WaitIfRunning(const std::future<Result>& answer) {
    if (Running(answer))
      answer.wait();
  }
  template <typename Call>
  auto AfterPins(Call call) -> std::future<decltype(call())> {
    return std::async(policy_, [pins = pins_, call] {
      pins.wait();
      return call();
    });
  }
  std::future<UpdateInfo> CheckForUpdate(const std::wstring& baseUrl) {
    const double version = VersionNumber(GetAppState().versionText);
    return AfterPins([this, version, baseUrl] { return services_.checkForUpdate(version, baseUrl); });
  }
  // Awaited off the main thread so that the windows keep answering (a deferred request runs
  // there); what it throws comes back here.
  template <typename Answer>
  auto Await(Answer& answer) -> std::decay_t<decltype(answer.get())> {
    if (answer.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
      platform_.RunWhileResponsive([&answer] { answer.wait(); });
    return answer.get();
  }

  StartupPlatform& platform_;
  const StartupServices& services_;
  const std::wstring argument_;
  const std::optional<std::wstring> linkPlatform_;
  const std::launch policy_;
  std::shared_future<bool> pins_;
  std::future<UpdateInfo> update_;
  std::future<LinkOutcome> link_;
  std::future<UpdateInfo> platformUpdate_;
  std::future<bool> pagesPlatform_;
};

// The prompt of an update check's answer. True when start-up must end (with exit code 0).
bool UpdateEndsStartup(StartupPlatform& platform, const UpdateInfo& update) {
  if (!update.hasUpdate)
    return false;
  const std::wstring link = UpdateLinkToOpen(update.link);
  if (update.isRequired) {
    if (platform.ShowMessage(MandatoryUpdate()) == MessageAnswer::kOk)
      platform.OpenInBrowser(link);
    return true;
  }
  if (platform.ShowMessage(OptionalUpdate()) == MessageAnswer::kYes) {
    platform.OpenInBrowser(link);
    return true;
  }
  return false;
}

// The steps after the instance lock up to the message loop: an exit code when start-up ends
// early, nothing when the message loop should run. `browserStarted` tells whether the player's
// browser was started ahead of its content.
std::optional<int> RunUntilMessageLoop(StartupPlatform& platform,
                                       const StartupServices& services,
                                       const std::wstring& rawCommandLine,
                                       bool graphics,
                                       bool& browserStarted) {
  if (graphics && platform.CreateSplash())
    platform.DrainMessages();

  if (!platform.IsSystemSupported()) {
    platform.ShowMessage(UnsupportedOs());
    return 1;
  }
  if (!platform.EnsureWebViewRuntime())
    return 1;

  platform.Log("Step 7: Initializing SSL pinning defaults");
  services.installDefaultPins();
  platform.Log("Step 7: Loading dynamic pins synchronously");

  // The command line is read now, without a word: a link whose platform is known already lets
  // the frame and its browser come up while the requests run.
  const AppState& state = GetAppState();
  const std::wstring argument = services.selectLinkArgument(rawCommandLine);
  const bool hasLink = HoldsLaunchLink(argument, state.schemeName);
  std::optional<std::wstring> linkPlatform;
  if (hasLink && services.linkPlatform)
    linkPlatform = services.linkPlatform(argument);
  StartupRequests requests(platform, services, argument, linkPlatform);
  if (linkPlatform) {
    if (platform.CreatePlayerFrame()) {
      platform.DrainMessages();
      // Its engine starts while the requests run. Events are left to the awaits: the engine's
      // first ones are a long stretch of its own work, which a content known by then must not
      // wait for before it navigates.
      platform.StartPlayerBrowser();
      browserStarted = true;
    }
  }

  platform.Log(requests.Pins() ? "Step 7: Dynamic pins loaded OK"
                               : "Step 7: Dynamic pins FAILED (exception)");

  platform.Log("Step 7B: Checking app version...");
  const UpdateInfo update = requests.Update();
  platform.Log(std::string("Step 7B: Version check done. hasUpdate=") + (update.hasUpdate ? "1" : "0"));
  if (UpdateEndsStartup(platform, update))
    return 0;

  platform.Log("Step 8: Registering URL protocol...");
  services.registerUrlProtocol(state.schemeName, kUrlProtocolDisplayName, services.modulePath());

  platform.Log("Step 9: Parsing command line...");
  platform.Log(std::string("Step 9: hasSchemeArgs=") + (hasLink ? "1" : "0"));

  if (!hasLink) {
    if (platform.CreateInitScreen())
      return std::nullopt;
    if (!platform.InitHostExists())
      platform.ShowMessage(WindowFailed());
    return 1;
  }

  if (!linkPlatform && platform.CreatePlayerFrame())
    platform.DrainMessages();
  const LinkOutcome outcome = requests.Link();
  switch (outcome.kind) {
    case LinkOutcome::Kind::kServerMessage:
      platform.ShowMessage(ServerMessage(Utf8ToUtf16(outcome.serverMessage)));
      return 1;
    case LinkOutcome::Kind::kFailure:
      services.showFatalDiagnostic(
          L"Link Error - خطأ في الرابط",
          L"Failed to process the content link.\nIf the problem persists, send the diagnostic code below to "
          L"support.",
          L"فشل في معالجة رابط المحتوى.\nإذا استمرت المشكلة، يرجى إرسال الكود التشخيصي أدناه للدعم الفني.",
          BuildLinkErrorCode(outcome.failureCode));
      return 0;  // the dialog ends the process; reached only with a platform that comes back
    case LinkOutcome::Kind::kContent:
      break;
  }
  if (UpdateEndsStartup(platform, requests.PlatformUpdate(outcome.content.platformDomain)))
    return 0;
  requests.PagesPlatform();  // the first page would wait for it anyway
  if (!platform.CreatePlayerWindow(outcome.content))
    return 1;
  return std::nullopt;
}

}  // namespace

double VersionNumber(const std::wstring& versionText) {
  // Read without the locale: under a comma-decimal one "4.11.0" would be 4, older than 4.11.
  return LeadingDecimalNumber(Utf16ToUtf8(versionText)).value_or(3.0);
}

bool HoldsLaunchLink(const std::wstring& argument, const std::wstring& schemeName) {
  return ToLowerCopy(argument).find(ToLowerCopy(schemeName) + L":") != std::wstring::npos;
}

std::wstring SelectLinkCandidate(const std::vector<std::wstring>& arguments,
                                 const std::wstring& rawCommandLine,
                                 const std::wstring& schemeName) {
  std::wstring candidate = arguments.size() >= 2 ? arguments[1] : std::wstring();
  if (candidate.empty() && rawCommandLine.find(schemeName + L":") != std::wstring::npos)
    candidate = rawCommandLine;
  return candidate;
}

void CloseWebViewsBeforeEnd(StartupPlatform& platform, std::thread::id mainThread) {
  if (std::this_thread::get_id() == mainThread) {
    platform.ShutdownWebViewHosts();
    return;
  }
  // Another thread must not touch the web views: the main thread closes them, and a main thread
  // that is busy (a start-up request) or hung is waited for only so long. The task reaches the
  // platform through the hook's own pointer, so a task that runs late finds none.
  platform.RunOnMainThread(
      [] {
        if (StartupPlatform* current = g_hookPlatform.load())
          current->ShutdownWebViewHosts();
      },
      kShutdownHandOverMs);
}

void InstallPlatformShutdownHook(StartupPlatform& platform,
                                 const std::function<void(ShutdownHook)>& setShutdownHook) {
  g_hookMainThread = std::this_thread::get_id();
  g_hookPlatform.store(&platform);
  if (setShutdownHook)
    setShutdownHook(&ShutdownHookOfPlatform);
}

void RemovePlatformShutdownHook(const std::function<void(ShutdownHook)>& setShutdownHook) {
  if (setShutdownHook)
    setShutdownHook(nullptr);
  g_hookPlatform.store(nullptr);
}

int RunStartup(StartupPlatform& platform,
               const StartupServices& services,
               const std::wstring& rawCommandLine) {
  const HookPlatformScope hookScope;
  platform.InitializeMainThread();
  InstallPlatformShutdownHook(platform, services.setShutdownHook);
  const bool graphics = platform.StartGraphics();

  const AppState& state = GetAppState();
  const std::wstring role = rawCommandLine.empty() ? L"|init" : L"|player";
  switch (platform.AcquireInstanceLock(BuildInstanceMutexName(state.displayName + role))) {
    case InstanceLock::kFailed:
      platform.UninitializeMainThread();
      return 1;
    case InstanceLock::kAlreadyRunning:
      platform.ShowMessage(AlreadyRunning());
      platform.ReleaseInstanceLock();
      platform.UninitializeMainThread();
      return 0;
    case InstanceLock::kAcquired:
      break;
  }

  // Early exits from here on leave the splash, the graphics library, the main thread's set-up,
  // the lock and any window to the end of the process.
  bool browserStarted = false;
  if (const std::optional<int> early =
          RunUntilMessageLoop(platform, services, rawCommandLine, graphics, browserStarted)) {
    // A browser started ahead of a content that never came goes with the start-up.
    if (browserStarted)
      platform.ShutdownWebViewHosts();
    return *early;
  }

  const int exitCode = platform.RunMessageLoop();
  platform.ShutdownWebViewHosts();
  RemovePlatformShutdownHook(services.setShutdownHook);
  platform.StopGraphics();
  platform.ReleaseInstanceLock();
  platform.UninitializeMainThread();
  return exitCode;
}
