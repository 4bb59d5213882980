#include "app/startup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

#include "app/diagnostics.h"
#include "app/identity.h"
#include "base/app_state.h"
#include "config/config.h"
#include "text/text.h"

namespace {

LinkOutcome SchoolContent() {
  LinkOutcome outcome;
  outcome.kind = LinkOutcome::Kind::kContent;
  outcome.content.platformDomain = L"https://school.example";
  return outcome;
}

// Plays the platform and the services: records every call as a line and answers from its fields.
class FakePlatform : public StartupPlatform {
 public:
  InstanceLock lock = InstanceLock::kAcquired;
  bool gdiplus = true, splash = true, runtime = true, initScreen = true, initHost = true, frame = true;
  bool playerWindow = true, pinsThrow = false;
  int windowsVersion = 10, loopExit = 0;
  // What resolving the link ends in: content on the school's platform unless a test says else.
  LinkOutcome outcome = SchoolContent();
  std::wstring playerContentDomain;  // the platform of the content the player window was given
  std::vector<UpdateInfo> updates;   // answers of the update checks, in order
  std::vector<MessageAnswer> answers;
  std::wstring selected;
  std::vector<std::string> calls, logs;
  std::vector<MessageBoxRequest> messages;
  std::vector<std::wstring> mutexNames, opened, updateBases, parsedArguments;
  std::string fatalCode;

  std::vector<std::pair<unsigned, bool>> handOvers;  // RunOnMainThread: timeout, from the main thread

  void InitializeMainThread() override { calls.push_back("com"); }
  void UninitializeMainThread() override { calls.push_back("uncom"); }
  bool StartGraphics() override {
    calls.push_back("gdiplus");
    return gdiplus;
  }
  void StopGraphics() override { calls.push_back("ungdiplus"); }
  InstanceLock AcquireInstanceLock(const std::wstring& name) override {
    calls.push_back("lock");
    mutexNames.push_back(name);
    return lock;
  }
  void ReleaseInstanceLock() override { calls.push_back("unlock"); }
  bool CreateSplash() override {
    calls.push_back("splash");
    return splash;
  }
  void DrainMessages() override { calls.push_back("drain"); }
  // As the platforms do: the work on a thread of its own, awaited.
  void RunWhileResponsive(const std::function<void()>& work) override { std::thread(work).join(); }
  bool IsSystemSupported() override {
    calls.push_back("os");
    return IsSupportedWindowsVersion(windowsVersion);
  }
  bool EnsureWebViewRuntime() override {
    calls.push_back("runtime");
    return runtime;
  }
  bool CreateInitScreen() override {
    calls.push_back("initscreen");
    return initScreen;
  }
  bool InitHostExists() override { return initHost; }
  bool CreatePlayerFrame() override {
    calls.push_back("frame");
    return frame;
  }
  std::atomic<bool> browserStarted{false};
  void StartPlayerBrowser() override {
    calls.push_back("browser");
    browserStarted = true;
  }
  bool CreatePlayerWindow(const LinkContent& content) override {
    calls.push_back("player");
    playerContentDomain = content.platformDomain;
    return playerWindow;
  }
  int RunMessageLoop() override {
    calls.push_back("loop");
    return loopExit;
  }
  void ShutdownWebViewHosts() override { calls.push_back("closehosts"); }
  bool RunOnMainThread(std::function<void()> task, unsigned timeoutMs) override {
    handOvers.emplace_back(timeoutMs, std::this_thread::get_id() == mainThread);
    task();  // as if the main thread had run it in time
    return true;
  }
  MessageAnswer ShowMessage(const MessageBoxRequest& request) override {
    calls.push_back("message");
    messages.push_back(request);
    if (answers.empty())
      return MessageAnswer::kOk;
    MessageAnswer a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
  void OpenInBrowser(const std::wstring& link) override { opened.push_back(link); }
  void Log(const std::string& line) override { logs.push_back(line); }

  std::thread::id mainThread = std::this_thread::get_id();

  StartupServices Services() {
    StartupServices s;
    s.setShutdownHook = [this](ShutdownHook hook) { calls.push_back(hook != nullptr ? "hook" : "unhook"); };
    s.installDefaultPins = [this] { calls.push_back("defaultpins"); };
    // The network's calls run away from the main thread; one that does not shows in the calls.
    const auto network = [this](const std::string& call) {
      calls.push_back(std::this_thread::get_id() == mainThread ? call + " on the main thread" : call);
    };
    s.loadDynamicPins = [this, network] {
      network("dynamicpins");
      if (pinsThrow)
        throw std::runtime_error("no network");
    };
    s.checkForUpdate = [this, network](double version, const std::wstring& base) {
      network("update:" + std::to_string(version).substr(0, 4));
      updateBases.push_back(base);
      if (updates.empty())
        return UpdateInfo{};
      UpdateInfo next = updates.front();
      updates.erase(updates.begin());
      return next;
    };
    s.registerUrlProtocol = [this](const std::wstring& scheme, const std::wstring& name,
                                   const std::wstring& path) {
      calls.push_back("register:" + Utf16ToUtf8(scheme + L"|" + name + L"|" + path));
      return false;  // ignored
    };
    s.modulePath = [] { return std::wstring(L"C:\\Apps\\corvel.exe"); };
    s.selectLinkArgument = [this](const std::wstring&) { return selected; };
    s.resolveLink = [this, network](const std::wstring& argument) {
      network("parse");
      parsedArguments.push_back(argument);
      return outcome;
    };
    s.showFatalDiagnostic = [this](const std::wstring& title, const std::wstring&, const std::wstring&,
                                   const std::string& code) {
      calls.push_back("fatal:" + Utf16ToUtf8(title));
      fatalCode = code;
    };
    return s;
  }
};

// The sequence with the fake as its platform and its services.
int RunStartup(FakePlatform& fake, const std::wstring& rawCommandLine) {
  return ::RunStartup(fake, fake.Services(), rawCommandLine);
}

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override { GetAppState().platformDomain.clear(); }
  FakePlatform p;
};

std::vector<std::string> Tail(const std::vector<std::string>& calls, size_t from) {
  return {calls.begin() + static_cast<long>(from), calls.end()};
}

TEST_F(StartupTest, WithoutALinkTheInitScreenRunsAndEverythingIsTornDownInOrder) {
  EXPECT_EQ(RunStartup(p, L""), 0);
  EXPECT_EQ(p.calls,
            (std::vector<std::string>{
                "com", "hook", "gdiplus", "lock", "splash", "drain", "os", "runtime", "defaultpins",
                "dynamicpins", "update:4.11", "register:corvel|Kelmo Desktop Player|C:\\Apps\\corvel.exe",
                "initscreen", "loop", "closehosts", "unhook", "ungdiplus", "unlock", "uncom"}));
  EXPECT_EQ(p.logs,
            (std::vector<std::string>{
                "Step 7: Initializing SSL pinning defaults", "Step 7: Loading dynamic pins synchronously",
                "Step 7: Dynamic pins loaded OK", "Step 7B: Checking app version...",
                "Step 7B: Version check done. hasUpdate=0", "Step 8: Registering URL protocol...",
                "Step 9: Parsing command line...", "Step 9: hasSchemeArgs=0"}));
  EXPECT_EQ(p.mutexNames, std::vector<std::wstring>{BuildInstanceMutexName(L"Corvel|init")});
  EXPECT_EQ(p.updateBases, std::vector<std::wstring>{L""});

  // The loop's exit code is the process's.
  FakePlatform q;
  q.loopExit = 3;
  EXPECT_EQ(RunStartup(q, L""), 3);
}

TEST_F(StartupTest, ACommandLineWithoutALinkTakesThePlayerRoleButOpensTheInitScreen) {
  p.selected = L"--help";
  EXPECT_EQ(RunStartup(p, L"corvel.exe --help"), 0);
  EXPECT_EQ(p.mutexNames, std::vector<std::wstring>{BuildInstanceMutexName(L"Corvel|player")});
  EXPECT_NE(std::find(p.calls.begin(), p.calls.end(), "initscreen"), p.calls.end());
  EXPECT_EQ(p.logs.back(), "Step 9: hasSchemeArgs=0");
}

TEST_F(StartupTest, InstanceLockOutcomes) {
  p.lock = InstanceLock::kAlreadyRunning;
  EXPECT_EQ(RunStartup(p, L"corvel:x"), 0);
  EXPECT_EQ(p.calls,
            (std::vector<std::string>{"com", "hook", "gdiplus", "lock", "message", "unlock", "uncom"}));
  ASSERT_EQ(p.messages.size(), 1u);
  EXPECT_EQ(p.messages[0].text, L"The application is already running.\n\nالبرنامج يعمل بالفعل.");
  EXPECT_EQ(p.messages[0].caption, L"Corvel");
  EXPECT_EQ(p.messages[0].icon, MessageIcon::kInformation);

  FakePlatform q;
  q.lock = InstanceLock::kFailed;
  EXPECT_EQ(RunStartup(q, L""), 1);
  EXPECT_EQ(q.calls, (std::vector<std::string>{"com", "hook", "gdiplus", "lock", "uncom"}));
  EXPECT_TRUE(q.messages.empty());
}

TEST_F(StartupTest, SplashOperatingSystemAndRuntimeGates) {
  p.gdiplus = false;
  p.windowsVersion = -1;
  EXPECT_EQ(RunStartup(p, L""), 1);
  EXPECT_EQ(Tail(p.calls, 4), (std::vector<std::string>{"os", "message"}));  // no splash without GDI+
  EXPECT_EQ(p.messages[0].caption, L"Unsupported OS");
  EXPECT_EQ(p.messages[0].icon, MessageIcon::kError);

  FakePlatform q;
  q.splash = false;
  q.windowsVersion = 8;
  EXPECT_EQ(RunStartup(q, L""), 1);
  EXPECT_EQ(Tail(q.calls, 4), (std::vector<std::string>{"splash", "os", "message"}));  // no drain

  FakePlatform r;
  r.runtime = false;
  EXPECT_EQ(RunStartup(r, L""), 1);
  EXPECT_EQ(r.calls.back(), "runtime");
  EXPECT_TRUE(r.messages.empty());
}

TEST_F(StartupTest, AFailedPinListIsLoggedAndStartUpGoesOn) {
  p.pinsThrow = true;
  EXPECT_EQ(RunStartup(p, L""), 0);
  EXPECT_EQ(p.logs[2], "Step 7: Dynamic pins FAILED (exception)");
  EXPECT_EQ(p.logs[3], "Step 7B: Checking app version...");
}

TEST_F(StartupTest, ALinkOpensThePlayerAfterASecondVersionCheckAgainstItsPlatform) {
  p.selected = L"\"x\" CoRvEl://abc";  // capitals after other characters still count
  EXPECT_EQ(RunStartup(p, L"corvel.exe \"x\" CoRvEl://abc"), 0);
  EXPECT_EQ(p.logs.back(), "Step 9: hasSchemeArgs=1");
  EXPECT_EQ(p.parsedArguments, std::vector<std::wstring>{L"\"x\" CoRvEl://abc"});  // exactly as selected
  EXPECT_EQ(Tail(p.calls, 12),
            (std::vector<std::string>{"frame", "drain", "parse", "update:4.11", "player", "loop",
                                      "closehosts", "unhook", "ungdiplus", "unlock", "uncom"}));
  EXPECT_EQ(p.updateBases, (std::vector<std::wstring>{L"", L"https://school.example"}));

  FakePlatform q;
  q.selected = L"corvel:abc";
  q.frame = false;
  q.playerWindow = false;
  EXPECT_EQ(RunStartup(q, L"corvel:abc"), 1);
  EXPECT_EQ(Tail(q.calls, 12), (std::vector<std::string>{"frame", "parse", "update:4.11", "player"}));
}

TEST_F(StartupTest, ServerMessagesAreShownOtherLinkErrorsGoToTheDiagnosticDialog) {
  struct Case {
    std::string code;
    bool toUser;
    std::wstring text;
  };
  const Case cases[] = {
      {"Link expired \xd8\xa7\xd9\x86\xd8\xaa\xd9\x87\xd9\x89", true,
       L"Link expired \u0627\u0646\u062a\u0647\u0649"},
      {"", true, L""},
      {"server", false, L""},
      {"split_failed_parts_2", false, L""},
  };
  for (const Case& c : cases) {
    FakePlatform f;
    f.selected = L"corvel:x";
    f.outcome = LinkOutcome{};
    f.outcome.kind = c.toUser ? LinkOutcome::Kind::kServerMessage : LinkOutcome::Kind::kFailure;
    (c.toUser ? f.outcome.serverMessage : f.outcome.failureCode) = c.code;
    const int exit = RunStartup(f, L"corvel:x");
    if (c.toUser) {
      EXPECT_EQ(exit, 1);
      ASSERT_EQ(f.messages.size(), 1u);
      EXPECT_EQ(f.messages[0].text, c.text);
      EXPECT_EQ(f.messages[0].caption, L"Corvel - خطأ");
      EXPECT_EQ(f.messages[0].icon, MessageIcon::kWarning);
      EXPECT_TRUE(f.messages[0].rightToLeft);
    } else {
      EXPECT_EQ(exit, 0);
      EXPECT_TRUE(f.messages.empty());
      EXPECT_EQ(f.calls.back(), "fatal:Link Error - خطأ في الرابط");
      const std::string plain = DecodeLinkErrorCode(f.fatalCode);
      EXPECT_NE(plain.find("|reason=" + c.code + "|END"), std::string::npos) << plain;
    }
  }
}

// With the link's platform known at once, the frame and its browser come up first and the
// requests run while they start; the prompts and exits keep their order.
TEST_F(StartupTest, AKnownPlatformStartsTheBrowserWhileTheRequestsRunInTheirOwnOrder) {
  struct Run {
    FakePlatform fake;
    UpdateInfo firstUpdate;
    std::mutex lock;
    std::vector<std::string> network;  // the requests, as they started

    int Start() {
      fake.selected = L"corvel:abc";
      StartupServices services = fake.Services();
      const auto note = [this](const std::string& call) {
        const std::lock_guard<std::mutex> guard(lock);
        network.push_back(call);
      };
      services.linkPlatform = [](const std::wstring&) {
        return std::optional<std::wstring>(L"https://s.example");
      };
      // The pin list waits for the browser: a sequence that started it only once the pins were
      // in would note "pins late".
      services.loadDynamicPins = [this, note] {
        for (int i = 0; i < 100 && !fake.browserStarted; ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        note(fake.browserStarted ? "pins" : "pins late");
      };
      services.checkForUpdate = [this, note](double, const std::wstring& base) {
        note("update " + Utf16ToUtf8(base));
        return base.empty() ? firstUpdate : UpdateInfo{};
      };
      services.resolveLink = [this, note](const std::wstring&) {
        note("link");
        return fake.outcome;
      };
      services.checkPagesPlatform = [note](const std::wstring& domain) {
        note("gate " + Utf16ToUtf8(domain));
      };
      return ::RunStartup(fake, services, L"corvel:abc");
    }
  };

  Run shown;
  EXPECT_EQ(shown.Start(), 0);
  EXPECT_EQ(shown.fake.playerContentDomain, L"https://school.example");
  ASSERT_FALSE(shown.network.empty());
  std::sort(shown.network.begin() + 1, shown.network.end());
  EXPECT_EQ(shown.network, (std::vector<std::string>{"pins", "gate https://s.example", "link", "update ",
                                                     "update https://s.example"}));

  // A mandatory update still ends the start-up before any content; the browser started ahead
  // goes with it (every early end takes the same way out).
  Run updated;
  updated.firstUpdate = UpdateInfo{true, true, L""};
  updated.fake.answers = {MessageAnswer::kCancel};
  EXPECT_EQ(updated.Start(), 0);
  EXPECT_EQ(Tail(updated.fake.calls, 9),
            (std::vector<std::string>{"frame", "drain", "browser", "message", "closehosts"}));
}

TEST_F(StartupTest, UpdatePromptsOpenTheLinkOrTheFallback) {
  struct Case {
    UpdateInfo update;
    MessageAnswer answer;
    bool ends;
    std::vector<std::wstring> opened;
    std::wstring caption;
  };
  const std::wstring fallback = config::FallbackDownloadUrl();
  const Case cases[] = {
      {{true, true, L"https://downloads.corvel.test/new.exe"},
       MessageAnswer::kOk,
       true,
       {L"https://downloads.corvel.test/new.exe"},
       L"Corvel - Update Required"},
      {{true, true, L""},
       MessageAnswer::kCancel,
       true,
       {},
       L"Corvel - Update Required"},  // declined: ends, opens nothing
      {{true, true, L""}, MessageAnswer::kOk, true, {fallback}, L"Corvel - Update Required"},
      {{true, false, L""}, MessageAnswer::kYes, true, {fallback}, L"Corvel - Update Available"},
      {{true, false, L"https://dl.example/x"}, MessageAnswer::kNo, false, {}, L"Corvel - Update Available"},
  };
  for (const Case& c : cases) {
    FakePlatform f;
    f.updates = {c.update};
    f.answers = {c.answer};
    EXPECT_EQ(RunStartup(f, L""), 0);
    EXPECT_EQ(f.opened, c.opened);
    ASSERT_EQ(f.messages.size(), 1u);
    EXPECT_EQ(f.messages[0].caption, c.caption);
    EXPECT_EQ(f.logs.back() == "Step 7B: Version check done. hasUpdate=1", c.ends);
    const bool reachedInit = std::find(f.calls.begin(), f.calls.end(), "initscreen") != f.calls.end();
    EXPECT_EQ(reachedInit, !c.ends);
  }

  // The second check, against the link's platform, prompts the same way.
  FakePlatform g;
  g.selected = L"corvel:x";
  g.updates = {UpdateInfo{}, UpdateInfo{true, false, L"https://downloads.corvel.test/dl"}};
  g.answers = {MessageAnswer::kYes};
  EXPECT_EQ(RunStartup(g, L"corvel:x"), 0);
  EXPECT_EQ(g.opened, std::vector<std::wstring>{L"https://downloads.corvel.test/dl"});
  EXPECT_EQ(g.calls.back(), "message");  // no player window
}

TEST_F(StartupTest, OnlyAnHttpsLinkOnTheDownloadHostsIsOpenedAnythingElseOpensTheFallback) {
  const std::wstring fallback = config::FallbackDownloadUrl();
  const std::wstring sameHost = fallback.substr(0, fallback.rfind(L'/')) + L"/next.exe";
  struct Case {
    std::wstring link, opened;
  };
  const Case cases[] = {
      {L"file:///C:/Windows/System32/calc.exe", fallback},
      {L"\\\\host\\share\\x.exe", fallback},
      {L"javascript:alert(1)", fallback},
      {L"http://dl.example/new.exe", fallback},
      {L"ms-settings:privacy", fallback},
      {L"C:\\Users\\Public\\x.exe", fallback},
      {L" https://dl.example/new.exe", fallback},  // must begin with the scheme
      {L"https:/dl.example/new.exe", fallback},
      {L"https:", fallback},
      {L"https://attacker.example/corvel-setup.exe", fallback},  // only the download hosts
      {L"https://downloads.corvel.test.attacker.example/x.exe", fallback},
      {L"https://downloads.corvel.test@attacker.example/x.exe", fallback},
      {L"https://x@downloads.corvel.test/x.exe", fallback},
      {L"HTTPS://Downloads.Corvel.Test/New.exe", L"HTTPS://Downloads.Corvel.Test/New.exe"},  // opened as sent
      {L"hTtPs://downloads.corvel.test/new.exe", L"hTtPs://downloads.corvel.test/new.exe"},
      {sameHost, sameHost},  // the built-in download address's own host
  };
  for (const Case& c : cases) {
    // The mandatory prompt at start-up, the optional one after the link: both open the same.
    FakePlatform mandatory;
    mandatory.updates = {{true, true, c.link}};
    EXPECT_EQ(RunStartup(mandatory, L""), 0);
    EXPECT_EQ(mandatory.opened, std::vector<std::wstring>{c.opened}) << c.link;

    FakePlatform optional;
    optional.selected = L"corvel:x";
    optional.updates = {UpdateInfo{}, UpdateInfo{true, false, c.link}};
    optional.answers = {MessageAnswer::kYes};
    EXPECT_EQ(RunStartup(optional, L"corvel:x"), 0);
    EXPECT_EQ(optional.opened, std::vector<std::wstring>{c.opened}) << c.link;
  }
}

TEST_F(StartupTest, InitScreenFailuresAndVersionText) {
  p.initScreen = false;
  p.initHost = false;
  EXPECT_EQ(RunStartup(p, L""), 1);
  ASSERT_EQ(p.messages.size(), 1u);
  EXPECT_EQ(p.messages[0].text, L"Failed to create the application window.");
  EXPECT_EQ(p.messages[0].caption, L"Corvel - Startup Error");

  FakePlatform q;
  q.initScreen = false;  // the host exists: it has shown its own error
  EXPECT_EQ(RunStartup(q, L""), 1);
  EXPECT_TRUE(q.messages.empty());

  EXPECT_DOUBLE_EQ(VersionNumber(L"4.11.0"), 4.11);
  EXPECT_DOUBLE_EQ(VersionNumber(L"  5.2beta"), 5.2);
  EXPECT_DOUBLE_EQ(VersionNumber(L"beta"), 3.0);
  EXPECT_DOUBLE_EQ(VersionNumber(L""), 3.0);
}

TEST_F(StartupTest, ArgumentSelectionAndLinkRecognition) {
  using V = std::vector<std::wstring>;
  EXPECT_EQ(SelectLinkCandidate(V{L"corvel.exe", L"corvel:abc", L"more"}, L"", L"corvel"), L"corvel:abc");
  EXPECT_EQ(SelectLinkCandidate(V{L"corvel.exe", L""}, L"corvel.exe \"\" corvel:x", L"corvel"),
            L"corvel.exe \"\" corvel:x");  // an empty argument falls back to the raw line
  EXPECT_EQ(SelectLinkCandidate(V{L"corvel.exe", L""}, L"corvel.exe \"\" CORVEL:x", L"corvel"),
            L"");                                                            // case-sensitive
  EXPECT_EQ(SelectLinkCandidate(V{}, L"corvel:x", L"corvel"), L"corvel:x");  // could not be split
  EXPECT_EQ(SelectLinkCandidate(V{L"corvel.exe"}, L"corvel.exe", L"corvel"), L"");

  EXPECT_TRUE(HoldsLaunchLink(L"CORVEL:abc", L"corvel"));
  EXPECT_TRUE(HoldsLaunchLink(L"x corvel:", L"corvel"));
  EXPECT_FALSE(HoldsLaunchLink(L"corvel", L"corvel"));
  EXPECT_FALSE(HoldsLaunchLink(L"", L"corvel"));
}

// The web views belong to the main thread: a fatal end from another thread must hand their
// closing over and wait at most 7 s (a hung main thread must not keep the dialog away), and a
// hook that outlived its platform must reach nothing.
TEST_F(StartupTest, TheShutdownHookClosesTheWebViewsOnTheMainThreadOnly) {
  std::vector<ShutdownHook> installed;
  const auto record = [&installed](ShutdownHook hook) { installed.push_back(hook); };
  InstallPlatformShutdownHook(p, record);
  ASSERT_EQ(installed.size(), 1u);
  ASSERT_NE(installed[0], nullptr);

  installed[0]();  // a fatal end on the main thread
  EXPECT_EQ(p.calls, std::vector<std::string>{"closehosts"});
  EXPECT_TRUE(p.handOvers.empty());

  std::thread([&installed] { installed[0](); }).join();
  EXPECT_EQ(p.handOvers, (std::vector<std::pair<unsigned, bool>>{{7000u, false}}));
  EXPECT_EQ(p.calls, (std::vector<std::string>{"closehosts", "closehosts"}));

  RemovePlatformShutdownHook(record);
  ASSERT_EQ(installed.size(), 2u);
  EXPECT_EQ(installed[1], nullptr);
  std::thread([&installed] { installed[0](); }).join();
  installed[0]();
  EXPECT_EQ(p.calls.size(), 2u) << "no platform any more";
  EXPECT_EQ(p.handOvers.size(), 1u);
}

}  // namespace
