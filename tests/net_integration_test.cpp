// The server API client against the local reference platform (tools/platform_server.py) on
// 127.0.0.1: libcurl natively, WinHTTP under Wine, from this one source.
//
// Ports: 47443 the platform (leaf-a / inter-a / root-a), 47444 an intercepting proxy (nothing
// pinned), 47445 a rotated leaf under inter-a, 47446 a chain where only root-a is pinned, 47447
// inter-a's key under an unpinned root, 47480 plain HTTP, 47479 the control port. The built-in
// pins cover "127.0.0.1", the platform's own domain, whose refusals end the process; the served
// pin list adds "localhost" (inter-a and root-a), so refusals are tested on "localhost".
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/shutdown_hook.h"
#include "config/config.h"
#include "net/content_data.h"
#include "net/content_source.h"
#include "net/http_client.h"
#include "net/pin_list.h"
#include "net/pinning.h"
#include "net/server_api.h"
#include "net/version_check.h"
#include "text/text.h"

namespace {

using Json = nlohmann::json;

constexpr int kUnexpectedNotice = 3;

// The interception notice ends the process with exit code 0, which would look like a pass: the
// shutdown hook it runs first turns it into a failure with its own exit code.
void FailOnInterceptionNotice() {
  std::fputs("interception notice: the process would end here\n", stderr);
  std::fflush(stderr);
  std::_Exit(kUnexpectedNotice);
}

class NoticeGuard : public ::testing::Environment {
 public:
  void SetUp() override { SetShutdownHook(FailOnInterceptionNotice); }
};
[[maybe_unused]] ::testing::Environment* const kNoticeGuard =
    ::testing::AddGlobalTestEnvironment(new NoticeGuard);

const std::wstring kControl = L"http://127.0.0.1:47479";
const std::string kToken = "demo-token-2026";

std::wstring Origin(const std::wstring& host, int port, bool tls = true) {
  return std::wstring(tls ? L"https://" : L"http://") + host + L":" + std::to_wstring(port);
}

std::wstring VersionPath() {
  return config::VersionPath();
}

class Platform {
 public:
  Platform() { control_.DisablePinning(); }

  void Reset() {
    const HttpResponse response = control_.Post(kControl + L"/reset", "{}", L"application/json");
    ASSERT_TRUE(response.success) << "reference platform not reachable: " << response.error;
  }
  void Switch(const Json& request) {
    const HttpResponse response = control_.Post(kControl + L"/switch", request.dump(), L"application/json");
    ASSERT_TRUE(response.success) << response.body << response.error;
  }
  Json Log() {
    const HttpResponse response = control_.Get(kControl + L"/log");
    EXPECT_TRUE(response.success) << response.error;
    return Json::parse(response.body, nullptr, false);
  }
  // The logged requests with this method (and port, when given).
  std::vector<Json> Requests(const std::string& method, int port = 0) {
    std::vector<Json> found;
    const Json log = Log();
    for (const Json& request : log["requests"]) {
      if (request["method"] == method && (port == 0 || request["port"] == port))
        found.push_back(request);
    }
    return found;
  }

 private:
  HttpClient control_;
};

std::vector<std::string> HeaderValues(const Json& request, const std::string& name) {
  std::vector<std::string> values;
  const std::wstring wanted = ToLowerCopy(Utf8ToUtf16(name));
  for (const Json& pair : request["headers"]) {
    if (ToLowerCopy(Utf8ToUtf16(pair[0].get<std::string>())) == wanted)
      values.push_back(pair[1].get<std::string>());
  }
  return values;
}

class NetIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform.Reset();
    ReplacePins(DefaultPins());
  }
  Platform platform;
};

// Catches a pin list that is not installed, "sha256/" left on served pins, an entry without pins
// kept, and X-Secret missing from the later requests of the shared client.
TEST_F(NetIntegrationTest, PinListExtendsTheStoreAndItsSecretTravelsOnLaterRequests) {
  ASSERT_TRUE(LoadDynamicPins());
  const std::optional<PinEntry> served = LookupPins(L"LocalHost");
  ASSERT_TRUE(served.has_value());
  EXPECT_EQ(served->pins, (std::vector<std::string>{"YAneOZlyNgbcmwOk9Yw6uk1uipQejDsm+Kmn59V89Lc=",
                                                    "MdZlF+6r+Hvk+UCjTexLQHGFeY2i2N1JH8MonKUIiXo="}));
  const std::optional<PinEntry> builtIn = LookupPins(L"127.0.0.1");
  ASSERT_TRUE(builtIn.has_value());
  EXPECT_EQ(builtIn->pins, config::BuiltinPins());

  const UpdateInfo update = CheckForUpdate(4.11, L"");
  EXPECT_FALSE(update.hasUpdate);

  const std::string secret = Utf16ToUtf8(config::XSecret());
  const std::vector<Json> gets = platform.Requests("GET", 47443);
  ASSERT_EQ(gets.size(), 2u);
  for (const Json& get : gets)
    EXPECT_EQ(HeaderValues(get, "X-Secret"), std::vector<std::string>{secret});
  EXPECT_EQ(HeaderValues(gets[0], "User-Agent"),
            std::vector<std::string>{Utf16ToUtf8(config::ClientUserAgent())});
  // One pre-flight for the host, none for the second request; neither carries a body type.
  EXPECT_EQ(platform.Requests("HEAD", 47443).size(), 1u);
  for (const Json& get : gets)
    EXPECT_TRUE(HeaderValues(get, "Content-Type").empty());
}

// Catches a form sent raw ("+", "&", "=" and "%" change the token), a missing constant header,
// the watermark read from the wrapped object, and a header installed twice.
TEST_F(NetIntegrationTest, ContentRequestSendsEncodedFormAndReadsTheRecord) {
  ASSERT_TRUE(LoadDynamicPins());
  struct Case {
    std::string id, token, type, urlPath;
    std::int32_t scriptId;
    bool watermark;
  };
  const Case cases[] = {
      {"lesson-encoded+1&2=3", "k+y&z=2026%25/ok", "video", "/demo/lesson.html", 3, true},
      {"lesson-pdf", kToken, "pdf", "/demo/lesson.pdf", 1, true},
      {"lesson-wrapped", kToken, "video", "/demo/lesson.html?wrapped=1", 4, true},
      {"lesson-zoom", kToken, "meeting", "/demo/meeting.zoom.us/j/81234567890?pwd=demo", 1, false},
  };
  for (const Case& c : cases) {
    std::string error;
    const std::optional<ContentData> content = GetContentData(L"127.0.0.1:47443/", c.id, c.token, error);
    ASSERT_TRUE(content.has_value()) << c.id << ": " << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(content->type, c.type) << c.id;
    EXPECT_EQ(content->url, "https://127.0.0.1:47443" + c.urlPath) << c.id;
    EXPECT_EQ(content->scriptId, c.scriptId) << c.id;
    EXPECT_EQ(content->watermarkText.empty(), !c.watermark) << c.id;
    EXPECT_EQ(content->watermarkText.find("inner"), std::string::npos) << c.id;
  }
  const std::vector<Json> puts = platform.Requests("PUT", 47443);
  ASSERT_EQ(puts.size(), 4u);
  EXPECT_EQ(puts[0]["path"], Utf16ToUtf8(config::ContentPath()));
  EXPECT_EQ(puts[0]["body"], BuildContentForm("k+y&z=2026%25/ok", "lesson-encoded+1&2=3"));
  EXPECT_NE(ToLowerCopy(Utf8ToUtf16(puts[0]["body"].get<std::string>())).find(L"k%2by%26z%3d2026%2525%2fok"),
            std::wstring::npos);
  const std::string constantName = Utf16ToUtf8(config::ConstantHeaderName());
  for (const Json& put : puts) {
    EXPECT_EQ(HeaderValues(put, constantName),
              std::vector<std::string>{Utf16ToUtf8(config::ConstantHeaderValue())});
    EXPECT_EQ(HeaderValues(put, "X-Secret").size(), 1u);
    EXPECT_EQ(HeaderValues(put, "Content-Type"),
              std::vector<std::string>{"application/x-www-form-urlencoded"});
  }
  // The constant header stays on the shared client for the version check that follows.
  CheckForUpdate(4.11, L"http://127.0.0.1:47480");
  const std::vector<Json> versions = platform.Requests("GET", 47480);
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(versions[0]["path"], Utf16ToUtf8(VersionPath()));
  EXPECT_EQ(HeaderValues(versions[0], constantName).size(), 1u);
  EXPECT_TRUE(platform.Requests("HEAD", 47480).empty()) << "plain HTTP has no pre-flight";
}

// Catches a server message lost behind the transport text, a transport text lost, and a 2xx
// answer of the wrong shape taken as content.
TEST_F(NetIntegrationTest, ContentFailuresGiveTheServerMessageOrTheClientError) {
  ASSERT_TRUE(LoadDynamicPins());
  const std::string path = Utf16ToUtf8(config::ContentPath());
  struct Case {
    Json switchSpec;  // null: none
    std::wstring domain;
    std::string id, token;
    std::string errorPrefix;
  };
  const Case cases[] = {
      {nullptr, L"127.0.0.1:47443", "lesson-expired", kToken, "This lesson link has expired."},
      {nullptr, L"127.0.0.1:47443", "lesson-page", "wrong-token", "Your session has expired."},
      {{{"path", path}, {"mode", "404_message"}, {"message", "Closed \u0645\u063a\u0644\u0642"}},
       L"127.0.0.1:47443",
       "lesson-page",
       kToken,
       "Closed \u0645\u063a\u0644\u0642"},
      {{{"path", path}, {"mode", "500"}}, L"127.0.0.1:47443", "lesson-page", kToken, ""},
      {{{"path", path}, {"mode", "not_json"}}, L"127.0.0.1:47443", "lesson-page", kToken, ""},
      {{{"path", path}, {"mode", "wrong_types"}}, L"127.0.0.1:47443", "lesson-page", kToken, ""},
      {{{"path", path}, {"mode", "redirect"}}, L"127.0.0.1:47443", "lesson-page", kToken, ""},
      {{{"path", path}, {"mode", "respond"}, {"status", 409}, {"body", {{"message", 7}}}},
       L"127.0.0.1:47443",
       "lesson-page",
       kToken,
       ""},
      {nullptr, L"", "lesson-page", kToken, "Failed to parse URL"},
      // Nothing listens on port 1: a pinned host ends in the pre-flight (no certificate to
      // check), an unpinned one in the real request.
      {nullptr, L"localhost:1", "lesson-page", kToken,
       "Pre-flight SSL Pin validation FAILED for localhost. MITM Attack Prevented!"},
      {nullptr, L"https://127.0.0.2:1", "lesson-page", kToken, "WinHttpSendRequest failed: "},
      {nullptr, L"http://127.0.0.1:1", "lesson-page", kToken, "WinHttpSendRequest failed: "},
  };
  for (const Case& c : cases) {
    platform.Reset();
    if (!c.switchSpec.is_null())
      platform.Switch(c.switchSpec);
    std::string error;
    const std::optional<ContentData> content = GetContentData(c.domain, c.id, c.token, error);
    const std::string label = c.switchSpec.is_null() ? c.id : c.switchSpec.dump();
    EXPECT_FALSE(content.has_value()) << label;
    EXPECT_EQ(error.substr(0, c.errorPrefix.size()), c.errorPrefix) << label;
    if (c.errorPrefix.empty()) {
      EXPECT_EQ(error, "") << label;
    }
    EXPECT_TRUE(platform.Requests("GET").empty()) << label << ": no redirect is followed";
  }
}

// Catches a pin check that trusts the leaf only, and one that is skipped for served scopes.
TEST_F(NetIntegrationTest, PinnedIntermediateOrRootPassesWhenTheLeafKeyChanged) {
  ASSERT_TRUE(LoadDynamicPins());
  const wchar_t* hosts[] = {L"127.0.0.1", L"localhost"};  // built-in scope, served scope
  for (const wchar_t* host : hosts) {
    for (int port : {47443, 47445, 47446, 47447}) {
      HttpClient client;
      const HttpResponse response = client.Get(Origin(host, port) + VersionPath());
      EXPECT_TRUE(response.success) << Utf16ToUtf8(host) << ":" << port << " " << response.error;
      EXPECT_EQ(response.statusCode, 200u);
      EXPECT_NE(response.body.find("\"version\""), std::string::npos);
    }
  }
}

// Catches a refused server that still gets the real request, a refusal that is remembered as a
// pre-flight, and a check that runs only in the pre-flight.
TEST_F(NetIntegrationTest, PinnedHostPresentingAnUnpinnedKeyNeverGetsTheRequest) {
  ASSERT_TRUE(LoadDynamicPins());
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::string error;
    EXPECT_FALSE(GetContentData(L"localhost:47444", "lesson-page", kToken, error).has_value());
    EXPECT_EQ(error, "Pre-flight SSL Pin validation FAILED for localhost. MITM Attack Prevented!");
  }
  EXPECT_TRUE(platform.Requests("PUT").empty());
  EXPECT_EQ(platform.Requests("HEAD", 47444).size(), 2u) << "a refused host is pre-flighted again";

  // After a passed pre-flight of the host (on the platform port), the certificate of every
  // response is still checked: the interceptor's port is refused after its answer arrives.
  HttpClient client;
  ASSERT_TRUE(client.Get(Origin(L"localhost", 47443) + VersionPath()).success);
  const HttpResponse refused = client.Get(Origin(L"localhost", 47444) + VersionPath());
  EXPECT_FALSE(refused.success);
  EXPECT_EQ(refused.error, "SSL Pin validation FAILED for localhost");
  EXPECT_EQ(refused.body, "");
  EXPECT_EQ(platform.Requests("HEAD", 47444).size(), 2u);
}

TEST_F(NetIntegrationTest, UnpinnedHostAcceptsASelfSignedChain) {
  HttpClient client;  // "localhost" has no pins until the pin list is loaded
  const HttpResponse response = client.Get(Origin(L"localhost", 47444) + VersionPath());
  EXPECT_TRUE(response.success) << response.error;
  EXPECT_EQ(response.statusCode, 200u);
}

// Catches a 3xx that is followed, a non-2xx reported as a transport failure, and a body
// dropped for a failed status.
TEST_F(NetIntegrationTest, StatusesOutsideTwoHundredAreCompletedExchanges) {
  const std::string path = Utf16ToUtf8(VersionPath());
  struct Case {
    Json switchSpec;
    std::uint32_t status;
    bool success;
    std::string bodyPart;
  };
  const Case cases[] = {
      {{{"path", path}, {"mode", "404_message"}, {"message", "gone"}}, 404, false, "\"message\""},
      {{{"path", path}, {"mode", "500"}}, 500, false, ""},
      {{{"path", path}, {"mode", "redirect"}, {"location", "/redirected"}}, 302, false, ""},
      {{{"path", path}, {"mode", "respond"}, {"status", 201}, {"body", "created"}}, 201, true, "created"},
  };
  for (const std::wstring& origin : {Origin(L"127.0.0.1", 47443), Origin(L"127.0.0.1", 47480, false)}) {
    for (const Case& c : cases) {
      platform.Reset();
      platform.Switch(c.switchSpec);
      HttpClient client;
      const HttpResponse response = client.Get(origin + VersionPath());
      const std::string label = Utf16ToUtf8(origin) + " " + c.switchSpec["mode"].get<std::string>();
      EXPECT_EQ(response.error, "") << label;
      EXPECT_EQ(response.statusCode, c.status) << label;
      EXPECT_EQ(response.success, c.success) << label;
      EXPECT_NE(response.body.find(c.bodyPart), std::string::npos) << label;
      EXPECT_EQ(platform.Log()["requests"].size(), origin.rfind(L"https", 0) == 0 ? 2u : 1u)
          << label << ": one pre-flight over HTTPS, none over HTTP, no redirect followed";
    }
  }
}

TEST_F(NetIntegrationTest, VersionCheckReadsTheAnswerOfTheChosenPlatform) {
  const std::string path = Utf16ToUtf8(VersionPath());
  EXPECT_FALSE(CheckForUpdate(4.11, L"").hasUpdate);
  platform.Switch(
      {{"path", path},
       {"mode", "respond"},
       {"status", 200},
       {"body", {{"version", "4.12"}, {"is_required", "1"}, {"link", "https://127.0.0.1:47443/dl"}}}});
  const UpdateInfo update = CheckForUpdate(4.11, L"127.0.0.1:47443");
  EXPECT_TRUE(update.hasUpdate);
  EXPECT_TRUE(update.isRequired);
  EXPECT_EQ(update.link, L"https://127.0.0.1:47443/dl");
  platform.Switch({{"path", path}, {"mode", "not_json"}});
  EXPECT_FALSE(CheckForUpdate(1.0, L"127.0.0.1:47443").hasUpdate);
}

// The page script is fetched with pinning off: even the interceptor's port answers.
TEST_F(NetIntegrationTest, PageScriptFetchIgnoresPinsAndNeedsASuccess) {
  const ContentSource source = NetContentSource();
  // The configured prefix, moved to the interceptor's port.
  std::string prefix = config::PageScriptUrlPrefix();
  prefix.replace(prefix.find(":47443"), 6, ":47444");
  const std::optional<std::string> script = source.fetchPageScript(WidenAscii(prefix + "7"));
  ASSERT_TRUE(script.has_value());
  EXPECT_NE(script->find("corvel-page-script-7"), std::string::npos);
  EXPECT_FALSE(source.fetchPageScript(WidenAscii(prefix + "2")).has_value());
  EXPECT_TRUE(platform.Requests("HEAD").empty());
}

// Catches a probe that lets an intercepted host through, or blocks a host it cannot reach.
TEST_F(NetIntegrationTest, WebHostProbeJudgesTheCertificateOfTheResponse) {
  ASSERT_TRUE(LoadDynamicPins());
  platform.Reset();
  EXPECT_EQ(ProbeWebHost(L"localhost", 47444), WebProbeResult::kRefused);
  EXPECT_EQ(ProbeWebHost(L"localhost", 47447), WebProbeResult::kTrusted);
  EXPECT_EQ(ProbeWebHost(L"localhost", 1), WebProbeResult::kUnreachable);
  const std::vector<Json> heads = platform.Requests("HEAD");
  ASSERT_EQ(heads.size(), 2u);
  for (const Json& head : heads) {
    EXPECT_EQ(head["path"], "/");
    const std::vector<std::string> agent = HeaderValues(head, "User-Agent");
    ASSERT_EQ(agent.size(), 1u);
    EXPECT_NE(agent[0].find("Chrome/120.0.0.0"), std::string::npos);
    EXPECT_NE(agent[0].find("Edg/120.0.0.0"), std::string::npos);
  }
}

// The platform's own domain showing an unpinned key is an interception: the notice ends the
// process (here through the guard's exit code, which the notice's shutdown hook triggers).
TEST_F(NetIntegrationTest, PlatformHostWithAnUnpinnedKeyEndsInTheInterceptionNotice) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        HttpClient client;
        client.Get(Origin(L"127.0.0.1", 47444) + VersionPath());
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(kUnexpectedNotice), "interception notice");
}

// A server that holds its answer beyond the 30-second receive time-out.
TEST_F(NetIntegrationTest, SlowAnswerEndsWithTheReceiveTimeout) {
  platform.Switch({{"path", Utf16ToUtf8(VersionPath())}, {"mode", "delay"}, {"delay_ms", 40000}});
  HttpClient client;
  const auto start = std::chrono::steady_clock::now();
  const HttpResponse response = client.Get(Origin(L"127.0.0.1", 47443) + VersionPath());
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_FALSE(response.success);
  EXPECT_EQ(response.statusCode, 0u);
  EXPECT_EQ(response.error.rfind("WinHttpReceiveResponse failed: ", 0), 0u) << response.error;
  EXPECT_GE(seconds, 28);
  EXPECT_LE(seconds, 38);
  platform.Reset();  // ends the held request
}

}  // namespace
