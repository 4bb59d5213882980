// Version numbers under a locale that writes decimals with a comma. The Linux player runs in the
// locale of its environment (Qt sets it at start), where the C conversions stop at the "." of
// "4.11.0". Linux uses de_DE.UTF-8 (made by the comma_locale fixture, found through LOCPATH);
// the Windows build the C runtime's German locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <functional>
#include <locale>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/startup.h"
#include "base/app_state.h"
#include "net/server_api.h"
#include "text/decimal_number.h"

// glibc's setlocale keeps a copy of LOCPATH's folder list that it never frees (a few bytes once
// per process); LeakSanitizer reads this hook at start. Elsewhere the function is never called.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:argz_add_sep\n";  // also matches __argz_add_sep, as symbolized with debug info
}

namespace {

// The start-up sequence with everything succeeding, the update check answered by a server body
// read by the player's own parser, and every message box recorded (and declined).
class ServerAnswerPlatform : public StartupPlatform {
 public:
  explicit ServerAnswerPlatform(std::string body) : body_(std::move(body)) {}
  std::vector<double> versionsSent;
  std::vector<MessageBoxRequest> messages;
  std::vector<std::wstring> opened;

  void InitializeMainThread() override {}
  void UninitializeMainThread() override {}
  bool StartGraphics() override { return true; }
  void StopGraphics() override {}
  InstanceLock AcquireInstanceLock(const std::wstring&) override { return InstanceLock::kAcquired; }
  void ReleaseInstanceLock() override {}
  bool CreateSplash() override { return false; }
  void DrainMessages() override {}
  void RunWhileResponsive(const std::function<void()>& work) override { work(); }
  bool IsSystemSupported() override { return true; }
  bool EnsureWebViewRuntime() override { return true; }
  bool CreateInitScreen() override { return true; }
  bool InitHostExists() override { return true; }
  bool CreatePlayerFrame() override { return true; }
  bool CreatePlayerWindow(const LinkContent&) override { return true; }
  int RunMessageLoop() override { return 0; }
  void ShutdownWebViewHosts() override {}
  bool RunOnMainThread(std::function<void()>, unsigned) override { return false; }
  MessageAnswer ShowMessage(const MessageBoxRequest& request) override {
    messages.push_back(request);
    return MessageAnswer::kNo;
  }
  void OpenInBrowser(const std::wstring& link) override { opened.push_back(link); }
  void Log(const std::string&) override {}

  // The update check answered by the server body; everything else succeeds without a trace.
  StartupServices Services() {
    StartupServices services;
    services.setShutdownHook = [](ShutdownHook) {};
    services.installDefaultPins = [] {};
    services.loadDynamicPins = [] {};
    services.checkForUpdate = [this](double currentVersion, const std::wstring&) {
      versionsSent.push_back(currentVersion);
      return ParseUpdateInfo(body_, currentVersion);
    };
    services.registerUrlProtocol = [](const std::wstring&, const std::wstring&, const std::wstring&) {
      return true;
    };
    services.modulePath = [] { return std::wstring(L"corvel"); };
    services.selectLinkArgument = [](const std::wstring& raw) { return raw; };
    services.resolveLink = [](const std::wstring&) {
      LinkOutcome outcome;
      outcome.kind = LinkOutcome::Kind::kContent;
      outcome.content.platformDomain = L"https://school.example";
      return outcome;
    };
    services.showFatalDiagnostic = [](const std::wstring&, const std::wstring&, const std::wstring&,
                                      const std::string&) {};
    return services;
  }

 private:
  std::string body_;
};

class CommaLocaleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The C locale for the C conversions, and the C++ global one where the runtime has it.
    for (const char* name : {"de_DE.UTF-8", "German_Germany.1252"}) {
      if (std::setlocale(LC_ALL, name) == nullptr)
        continue;
      try {
        std::locale::global(std::locale(name));
      } catch (const std::runtime_error&) {
        // MinGW's C++ library knows only "C"; the C runtime's locale is set all the same.
      }
      break;
    }
    // The locale really is in force: the C conversion reads a comma and stops at the ".".
    ASSERT_EQ(std::strtod("4,5", nullptr), 4.5)
        << "no comma-decimal locale (LOCPATH=" << Env("LOCPATH") << ")";
    ASSERT_EQ(std::strtod("4.11.0", nullptr), 4.0);
  }
  void TearDown() override {
    std::locale::global(std::locale::classic());
    std::setlocale(LC_ALL, "C");
    GetAppState().platformDomain.clear();
  }
  static std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
  }
};

TEST_F(CommaLocaleTest, VersionNumbersAreReadWithADecimalPoint) {
  EXPECT_EQ(VersionNumber(GetAppState().versionText), 4.11);
  EXPECT_EQ(VersionNumber(L"4.11.0"), 4.11);
  EXPECT_EQ(VersionNumber(L"  5.2beta"), 5.2);
  EXPECT_EQ(VersionNumber(L"beta"), 3.0);
  EXPECT_EQ(LeadingDecimalNumber("4,11"), 4.0);  // a comma is no decimal point in any locale

  struct Case {
    std::string body;
    bool hasUpdate;
  };
  const Case cases[] = {
      {R"({"version": 4.11})", false},
      {R"({"version": "4.11"})", false},
      {R"({"version": "4.11.3"})", false},
      {R"({"version": 4.12})", true},
      {R"({"version": "4.12"})", true},
      {R"({"version": " 4.9x"})", true},  // 4.9 > 4.11: decimal numbers, not dotted versions
      {R"({"version": "9"})", true},
      {R"({"version": "1e999"})", false},  // out of range reads as 0
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseUpdateInfo(c.body, VersionNumber(L"4.11.0")).hasUpdate, c.hasUpdate) << c.body;
  }
}

TEST_F(CommaLocaleTest, StartUpWithVersion4110PromptsNoUpdateAgainstAServerAnswering411) {
  for (const std::string body :
       {R"({"version": 4.11, "is_required": 1})", R"({"version": "4.11", "is_required": 1})"}) {
    ServerAnswerPlatform platform(body);
    EXPECT_EQ(RunStartup(platform, platform.Services(), L"corvel:x"), 0);
    EXPECT_EQ(platform.versionsSent, (std::vector<double>{4.11, 4.11})) << body;  // both checks
    EXPECT_TRUE(platform.messages.empty()) << body;
  }
  // A newer version is still seen.
  ServerAnswerPlatform newer(R"({"version": "4.12", "is_required": 0})");
  EXPECT_EQ(RunStartup(newer, newer.Services(), L""), 0);
  ASSERT_EQ(newer.messages.size(), 1u);
  EXPECT_EQ(newer.messages[0].caption, L"Corvel - Update Available");
}

}  // namespace
