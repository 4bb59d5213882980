// The server API client against the local reference platform (tools/platform_server.py) on
// 127.0.0.1: libcurl natively, WinHTTP under Wine, from this one source.
//
// Ports, from the port P of the configured platform address (47443 by default): P the platform
// (leaf-a / inter-a / root-a), P+1 an intercepting proxy (nothing pinned), P+2 a rotated leaf
// under inter-a, P+3 a chain where only root-a is pinned, P+4 inter-a's key under an unpinned
// root, P+37 plain HTTP, P+36 the control port. The built-in pins cover "127.0.0.1", the
// platform's own domain, whose refusals end the process; the served pin list adds "localhost"
// (inter-a and root-a), so refusals are tested on "localhost". "localhost" without the pin list
// is a host without pins, which only the system's trust admits: the test roots are trusted by
// nothing unless a case says otherwise (tests/test_trust_store.h). Every case runs in a process
// of its own (CTest), which the shared client, the pin store and the trust store rely on.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/shutdown_hook.h"
#include "config/config.h"
#include "net/content_data.h"
#include "net/content_source.h"
#include "net/http_client.h"
#include "net/pin_list.h"
#include "net/pinning.h"
#include "net/pki_test_util.h"
#include "net/server_api.h"
#include "net/version_check.h"
#include "tests/test_trust_store.h"
#include "text/text.h"

namespace {

// The client's pre-flight of a server: WinHTTP sends a "HEAD /" of its own, libcurl's is the
// first request's own check before sending.
#if defined(_WIN32)
constexpr bool kPreflightIsARequest = true;
#else
constexpr bool kPreflightIsARequest = false;
#endif

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

// The reference platform's ports, laid out from the configured platform address.
struct Ports {
  int platform, proxy, rotated, rootOnly, interOnly, control, plain;
};

const Ports& P() {
  static const Ports ports = [] {
    const std::optional<UrlParts> base = SplitHttpUrl(config::PlatformBaseUrl());
    const int p = base ? base->port : 47443;
    return Ports{p, p + 1, p + 2, p + 3, p + 4, p + 36, p + 37};
  }();
  return ports;
}

std::wstring HostPort(const std::wstring& host, int port) {
  return host + L":" + std::to_wstring(port);
}
const std::string kToken = "demo-token-2026";

std::wstring Origin(const std::wstring& host, int port, bool tls = true) {
  return std::wstring(tls ? L"https://" : L"http://") + HostPort(host, port);
}

std::wstring Control() {
  return Origin(L"127.0.0.1", P().control, false);
}

std::wstring VersionPath() {
  return config::VersionPath();
}

class Platform {
 public:
  Platform() { control_.DisablePinning(); }

  void Reset() {
    const HttpResponse response = control_.Post(Control() + L"/reset", "{}", L"application/json");
    ASSERT_TRUE(response.success) << "reference platform not reachable: " << response.error;
  }
  void Switch(const Json& request) {
    const HttpResponse response = control_.Post(Control() + L"/switch", request.dump(), L"application/json");
    ASSERT_TRUE(response.success) << response.body << response.error;
  }
  // The chains that the port's next connections present, in turn; with close, every answer
  // closes its connection.
  void Tls(int port, const std::vector<std::string>& chains, bool close) {
    const Json plan = {{"port", port}, {"chains", chains}, {"close", close}};
    const HttpResponse response = control_.Post(Control() + L"/tls", plan.dump(), L"application/json");
    ASSERT_TRUE(response.success) << response.body << response.error;
  }
  int Connections(int port) { return Log()["connections"][std::to_string(port)].get<int>(); }
  Json Log() {
    const HttpResponse response = control_.Get(Control() + L"/log");
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
  const std::vector<Json> gets = platform.Requests("GET", P().platform);
  ASSERT_EQ(gets.size(), 2u);
  for (const Json& get : gets)
    EXPECT_EQ(HeaderValues(get, "X-Secret"), std::vector<std::string>{secret});
  EXPECT_EQ(HeaderValues(gets[0], "User-Agent"),
            std::vector<std::string>{Utf16ToUtf8(config::ClientUserAgent())});
  // One pre-flight for the host (with libcurl the first request's own check), none for the
  // second request; neither carries a body type.
  EXPECT_EQ(platform.Requests("HEAD", P().platform).size(), kPreflightIsARequest ? 1u : 0u);
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
      {"lesson-embed", kToken, "iframe", "/demo/embed.html", 5, true},
  };
  for (const Case& c : cases) {
    std::string error;
    const std::optional<ContentData> content =
        GetContentData(HostPort(L"127.0.0.1", P().platform) + L"/", c.id, c.token, error);
    ASSERT_TRUE(content.has_value()) << c.id << ": " << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(content->type, c.type) << c.id;
    EXPECT_EQ(content->url, Utf16ToUtf8(Origin(L"127.0.0.1", P().platform)) + c.urlPath) << c.id;
    EXPECT_EQ(content->scriptId, c.scriptId) << c.id;
    EXPECT_EQ(content->watermarkText.empty(), !c.watermark) << c.id;
    EXPECT_EQ(content->watermarkText.find("inner"), std::string::npos) << c.id;
  }
  const std::vector<Json> puts = platform.Requests("PUT", P().platform);
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
  CheckForUpdate(4.11, Origin(L"127.0.0.1", P().plain, false));
  const std::vector<Json> versions = platform.Requests("GET", P().plain);
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(versions[0]["path"], Utf16ToUtf8(VersionPath()));
  EXPECT_EQ(HeaderValues(versions[0], constantName).size(), 1u);
  EXPECT_TRUE(platform.Requests("HEAD", P().plain).empty()) << "plain HTTP has no pre-flight";
}

// Catches a server message lost behind the transport text, a transport text lost, and a 2xx
// answer of the wrong shape taken as content.
TEST_F(NetIntegrationTest, ContentFailuresGiveTheServerMessageOrTheClientError) {
  ASSERT_TRUE(LoadDynamicPins());
  const std::string path = Utf16ToUtf8(config::ContentPath());
  const std::wstring platformHost = HostPort(L"127.0.0.1", P().platform);
  struct Case {
    Json switchSpec;  // null: none
    std::wstring domain;
    std::string id, token;
    std::string errorPrefix;
  };
  const Case cases[] = {
      {nullptr, platformHost, "lesson-expired", kToken, "This lesson link has expired."},
      {nullptr, platformHost, "lesson-page", "wrong-token", "Your session has expired."},
      {{{"path", path}, {"mode", "404_message"}, {"message", "Closed \u0645\u063a\u0644\u0642"}},
       platformHost,
       "lesson-page",
       kToken,
       "Closed \u0645\u063a\u0644\u0642"},
      {{{"path", path}, {"mode", "500"}}, platformHost, "lesson-page", kToken, ""},
      {{{"path", path}, {"mode", "not_json"}}, platformHost, "lesson-page", kToken, ""},
      {{{"path", path}, {"mode", "wrong_types"}}, platformHost, "lesson-page", kToken, ""},
      {{{"path", path}, {"mode", "redirect"}}, platformHost, "lesson-page", kToken, ""},
      {{{"path", path}, {"mode", "respond"}, {"status", 409}, {"body", {{"message", 7}}}},
       platformHost,
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
    for (int port : {P().platform, P().rotated, P().rootOnly, P().interOnly}) {
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
    EXPECT_FALSE(GetContentData(HostPort(L"localhost", P().proxy), "lesson-page", kToken, error).has_value());
    EXPECT_EQ(error, "Pre-flight SSL Pin validation FAILED for localhost. MITM Attack Prevented!");
  }
  EXPECT_TRUE(platform.Requests("PUT").empty());
  EXPECT_EQ(platform.Connections(P().proxy), 2) << "a refused host is pre-flighted again";

  // A pre-flight passed on one port of the host does not vouch for another port's server: the
  // interceptor's port is pre-flighted and refused before it gets any request.
  HttpClient client;
  ASSERT_TRUE(client.Get(Origin(L"localhost", P().platform) + VersionPath()).success);
  const HttpResponse refused = client.Get(Origin(L"localhost", P().proxy) + VersionPath());
  EXPECT_FALSE(refused.success);
  EXPECT_EQ(refused.error, "Pre-flight SSL Pin validation FAILED for localhost. MITM Attack Prevented!");
  EXPECT_EQ(platform.Connections(P().proxy), 3);
  EXPECT_TRUE(platform.Requests("GET", P().proxy).empty());
  if (RefusedRequestsStaySilent()) {
    EXPECT_TRUE(platform.Requests("HEAD", P().proxy).empty())
        << "the pins are checked before the pre-flight's HEAD";
  }
}

// A pin stands in for the anchor of a chain, never for its other checks: leaves of the pinned
// intermediate for another name, lapsed, or for client authentication only, get no request and
// no secret.
TEST_F(NetIntegrationTest, PinnedChainsStillNeedTheHostNameTheDatesAndTheServerUsage) {
  ASSERT_TRUE(LoadDynamicPins());
  for (const char* chain : {"wrong-name", "expired", "client-only"}) {
    platform.Reset();
    platform.Tls(P().rotated, {chain}, false);
    std::string error;
    EXPECT_FALSE(
        GetContentData(HostPort(L"localhost", P().rotated), "lesson-page", kToken, error).has_value())
        << chain;
    EXPECT_FALSE(error.empty()) << chain;
    const Json log = platform.Log();
    for (const Json& request : log["requests"]) {
      EXPECT_TRUE(HeaderValues(request, "X-Secret").empty()) << chain;
      EXPECT_NE(request["method"], "PUT") << chain;
      if (RefusedRequestsStaySilent()) {
        EXPECT_NE(request["port"], P().rotated)
            << chain << ": " << request["method"] << " reached the server";
      }
    }
  }
}

// The pins of a connection are checked before any byte of a request goes out on it, also on a
// kept-alive connection that an earlier request opened: once the host's pins no longer match
// that connection's chain, the request is refused and no answer is read.
TEST_F(NetIntegrationTest, EveryConnectionIsCheckedBeforeARequestGoesOut) {
  ASSERT_TRUE(LoadDynamicPins());
  HttpClient client;
  ASSERT_TRUE(client.Get(Origin(L"localhost", P().platform) + VersionPath()).success);
  std::vector<PinEntry> pins = DefaultPins();
  pins.push_back({L"localhost", {"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="}});
  ReplacePins(pins);
  const HttpResponse refused = client.Get(Origin(L"localhost", P().platform) + VersionPath());
  EXPECT_FALSE(refused.success);
  EXPECT_EQ(refused.error, "SSL Pin validation FAILED for localhost");
  EXPECT_EQ(refused.statusCode, 0u);
  EXPECT_EQ(refused.body, "");
  std::vector<Json> versions;
  std::size_t localHeads = 0;
  const Json log = platform.Log();
  for (const Json& request : log["requests"]) {
    const bool local = HeaderValues(request, "Host") ==
                       std::vector<std::string>{Utf16ToUtf8(HostPort(L"localhost", P().platform))};
    if (local && request["method"] == "HEAD")
      ++localHeads;
    if (local && request["method"] == "GET" && request["path"] == Utf16ToUtf8(VersionPath()))
      versions.push_back(request);
  }
  EXPECT_EQ(localHeads, kPreflightIsARequest ? 1u : 0u) << "the second request needs no pre-flight";
  if (RefusedRequestsStaySilent()) {
    EXPECT_EQ(versions.size(), 1u) << "the refused request never reached the server";
  } else {
    ASSERT_EQ(versions.size(), 2u);
    EXPECT_EQ(versions[0]["connection"], versions[1]["connection"])
        << "the second request was judged on the kept-alive connection";
  }
}

// A host without pins is trusted by the system's validation alone. Catches the old relaxed
// checks (any certificate accepted), a refusal that comes only after X-Secret went out, and a
// pinned root that is found only when the server sends it.
TEST_F(NetIntegrationTest, UnpinnedHostBehindAnUntrustedRootGetsNothing) {
  const TestTrustStore roots({});
  ASSERT_TRUE(LoadDynamicPins());  // X-Secret on the shared client
  ReplacePins(DefaultPins());      // "localhost" without pins again
  platform.Reset();
  for (int port : {P().platform, P().proxy}) {
    std::string error;
    EXPECT_FALSE(GetContentData(HostPort(L"localhost", port), "lesson-page", kToken, error).has_value());
    EXPECT_EQ(error.rfind("WinHttpSendRequest failed: ", 0), 0u) << port << ": " << error;
  }
  EXPECT_TRUE(platform.Log()["requests"].empty()) << "not even the pre-flight's HEAD reached a server";

  // Without the root in the store, a pinned root that the server does not send is not found.
  const PresentedChain withoutRoot =
      InspectServerChain(ReadPkiCertificates("chain-without-root.pem"), L"localhost", {kPinRootA});
  EXPECT_FALSE(withoutRoot.systemTrusted);
  EXPECT_EQ(JudgeServer(L"localhost", PinEntry{L"localhost", {kPinRootA}}, withoutRoot, ServerTrust::kPinned,
                        nullptr),
            PinCheck::kRefused);
}

TEST_F(NetIntegrationTest, UnpinnedHostIsAcceptedWhenTheSystemTrustsItsRoot) {
  const TestTrustStore roots({"root-a.pem"});
  ASSERT_TRUE(LoadDynamicPins());
  ReplacePins(DefaultPins());
  platform.Reset();
  std::string error;
  const std::optional<ContentData> content =
      GetContentData(HostPort(L"localhost", P().platform), "lesson-page", kToken, error);
  ASSERT_TRUE(content.has_value()) << error;
  EXPECT_EQ(content->type, "video");
  const std::vector<Json> puts = platform.Requests("PUT", P().platform);
  ASSERT_EQ(puts.size(), 1u);
  EXPECT_EQ(HeaderValues(puts[0], "X-Secret").size(), 1u);

  // Another root's server on the same host is still refused, before anything is sent.
  EXPECT_FALSE(GetContentData(HostPort(L"localhost", P().proxy), "lesson-page", kToken, error).has_value());
  EXPECT_EQ(error.rfind("WinHttpSendRequest failed: ", 0), 0u) << error;
  EXPECT_TRUE(platform.Requests("PUT", P().proxy).empty());

  // A pinned root that the server does not send is found in the store.
  const PresentedChain withoutRoot =
      InspectServerChain(ReadPkiCertificates("chain-without-root.pem"), L"localhost", {kPinRootA});
  EXPECT_TRUE(withoutRoot.systemTrusted);
  EXPECT_EQ(JudgeServer(L"localhost", PinEntry{L"localhost", {kPinRootA}}, withoutRoot, ServerTrust::kPinned,
                        nullptr),
            PinCheck::kTrusted);
}

// The known-inspector exception: a certificate whose issuer names a listed product that runs.
// Catches accepting it on the name alone, without the system's trust in its root.
TEST_F(NetIntegrationTest, ProductNamedInterceptorUnderAnUntrustedRootIsRefused) {
  const TestTrustStore roots({});
  const PinEntry platformPins{config::BuiltinPinScope(), config::BuiltinPins()};
  const PresentedChain chain =
      InspectServerChain(ReadPkiCertificates("chain-product-root.pem"), L"localhost", platformPins.pins);
  EXPECT_FALSE(chain.systemTrusted);
  // Whatever the names, a running product would be accepted: the trust in the root decides.
  const auto running = [](const std::vector<std::wstring>&) { return true; };
  EXPECT_EQ(JudgeServer(config::BuiltinPinScope(), platformPins, chain, ServerTrust::kPinned, running),
            PinCheck::kRefusedOnPlatformHost);
}

TEST_F(NetIntegrationTest, ProductNamedInterceptorUnderATrustedRootIsAccepted) {
  const TestTrustStore roots({"root-k.pem"});
  const PinEntry pins{L"localhost", {kPinInterA}};
  const PresentedChain chain =
      InspectServerChain(ReadPkiCertificates("chain-product-root.pem"), L"localhost", pins.pins);
  const std::vector<config::InspectorEntry> table = config::KnownInspectors();
  ASSERT_NE(FindInspectorForIssuers(chain.issuerNames, table), nullptr);
  EXPECT_TRUE(chain.systemTrusted);
  const auto running = [](const std::vector<std::wstring>&) { return true; };
  const auto notRunning = [](const std::vector<std::wstring>&) { return false; };
  EXPECT_EQ(JudgeServer(L"localhost", pins, chain, ServerTrust::kPinned, running), PinCheck::kTrusted);
  EXPECT_EQ(JudgeServer(L"localhost", pins, chain, ServerTrust::kPinned, notRunning), PinCheck::kRefused);
}

// The chains a port shows for "the first request meets the pinned server, the next connection
// an interceptor"; the Windows client's pre-flight takes a connection of its own first.
std::vector<std::string> FirstRequestThenInterceptor() {
  return kPreflightIsARequest ? std::vector<std::string>{"rotated", "rotated", "interceptor"}
                              : std::vector<std::string>{"rotated", "interceptor"};
}

// The first request meets the pinned server, every later connection an interceptor (the port
// closes each connection after its answer). Catches secrets sent on a connection that only an
// earlier request's check saw.
TEST_F(NetIntegrationTest, ServerTakingOverAfterTheFirstRequestGetsNoSecret) {
  ASSERT_TRUE(LoadDynamicPins());
  const std::vector<std::string> chains = FirstRequestThenInterceptor();
  platform.Tls(P().rotated, chains, true);
  std::string error;
  EXPECT_TRUE(GetContentData(HostPort(L"localhost", P().rotated), "lesson-page", kToken, error).has_value())
      << error;
  EXPECT_FALSE(GetContentData(HostPort(L"localhost", P().rotated), "lesson-pdf", kToken, error).has_value());
  EXPECT_EQ(error, "SSL Pin validation FAILED for localhost");
  EXPECT_EQ(platform.Connections(P().rotated), static_cast<int>(chains.size()));
  const Json log = platform.Log();
  for (const Json& request : log["requests"]) {
    if (request["port"] != P().rotated || request["chain"] == "rotated")
      continue;
    EXPECT_FALSE(RefusedRequestsStaySilent()) << "the interceptor got a request: " << request.dump();
    const std::string body = request["body"].get<std::string>();
    EXPECT_EQ(body.find(kToken), std::string::npos) << request.dump();
    EXPECT_EQ(body.find("lesson-pdf"), std::string::npos) << request.dump();
  }
}

// The same on the platform's own domain: the interception notice ends the process before the
// second content request leaves, with nothing of it on the server.
TEST_F(NetIntegrationTest, PlatformServerTakingOverAfterTheFirstRequestEndsInTheNotice) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::vector<std::string> chains = FirstRequestThenInterceptor();
  EXPECT_EXIT(
      {
        LoadDynamicPins();
        platform.Reset();
        platform.Tls(P().rotated, chains, true);
        std::string error;
        GetContentData(HostPort(L"127.0.0.1", P().rotated), "lesson-page", kToken, error);
        GetContentData(HostPort(L"127.0.0.1", P().rotated), "lesson-pdf", kToken, error);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(kUnexpectedNotice), "interception notice");
  const Json log = platform.Log();
  ASSERT_EQ(log["requests"].size(), chains.size() - 1) << log.dump();
  for (const Json& request : log["requests"])
    EXPECT_EQ(request["chain"], "rotated");
  EXPECT_EQ(log["connections"][std::to_string(P().rotated)], static_cast<int>(chains.size()))
      << "the second request met the interceptor";
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
  for (const std::wstring& origin :
       {Origin(L"127.0.0.1", P().platform), Origin(L"127.0.0.1", P().plain, false)}) {
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
      const bool head = kPreflightIsARequest && origin.rfind(L"https", 0) == 0;
      EXPECT_EQ(platform.Log()["requests"].size(), head ? 2u : 1u)
          << label << ": a pre-flight of its own only over HTTPS, no redirect followed";
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
       {"body", {{"version", "4.12"}, {"is_required", "1"}, {"link", "https://downloads.corvel.test/dl"}}}});
  const UpdateInfo update = CheckForUpdate(4.11, HostPort(L"127.0.0.1", P().platform));
  EXPECT_TRUE(update.hasUpdate);
  EXPECT_TRUE(update.isRequired);
  EXPECT_EQ(update.link, L"https://downloads.corvel.test/dl");
  platform.Switch({{"path", path}, {"mode", "not_json"}});
  EXPECT_FALSE(CheckForUpdate(1.0, HostPort(L"127.0.0.1", P().platform)).hasUpdate);
}

// The page script runs in the platform's pages: it is taken from a server that shows its
// host's pins or that the system trusts, and from no other. Catches a script taken from an
// interceptor (pinned host or not), over plain HTTP, or after a notice.
TEST_F(NetIntegrationTest, PageScriptComesOnlyFromAVerifiedServer) {
  const TestTrustStore roots({});
  const ContentSource source = NetContentSource();
  const std::string prefix = config::PageScriptUrlPrefix();
  const std::string platformOrigin = Utf16ToUtf8(Origin(L"127.0.0.1", P().platform));
  ASSERT_EQ(prefix.rfind(platformOrigin, 0), 0u) << prefix;
  const std::string path = prefix.substr(platformOrigin.size());
  const auto at = [&path](const std::wstring& origin) { return WidenAscii(Utf16ToUtf8(origin) + path); };

  // The pinned platform: taken, as it was; a failed answer gives nothing.
  const std::optional<std::string> script =
      source.fetchPageScript(at(Origin(L"127.0.0.1", P().platform)) + L"7");
  ASSERT_TRUE(script.has_value());
  EXPECT_NE(script->find("corvel-page-script-7"), std::string::npos);
  EXPECT_FALSE(source.fetchPageScript(at(Origin(L"127.0.0.1", P().platform)) + L"2").has_value());
  // No pre-flight on this client.
  EXPECT_TRUE(platform.Requests("HEAD").empty());

  // The platform's pinned host with the interceptor's key, a host without pins behind an
  // untrusted root, and plain HTTP: nothing, and no notice (which would end this test).
  platform.Reset();
  EXPECT_FALSE(source.fetchPageScript(at(Origin(L"127.0.0.1", P().proxy)) + L"7").has_value());
  EXPECT_FALSE(source.fetchPageScript(at(Origin(L"localhost", P().proxy)) + L"7").has_value());
  EXPECT_FALSE(source.fetchPageScript(at(Origin(L"localhost", P().platform)) + L"7").has_value());
  EXPECT_FALSE(source.fetchPageScript(at(Origin(L"127.0.0.1", P().plain, false)) + L"7").has_value());
  std::size_t reached = 0;
  const Json log = platform.Log();
  for (const Json& request : log["requests"]) {
    EXPECT_NE(request["port"], P().plain) << "plain HTTP is not even asked";
    EXPECT_EQ(HeaderValues(request, "Host"),
              std::vector<std::string>{Utf16ToUtf8(HostPort(L"127.0.0.1", P().proxy))})
        << "only the pinned host's request may have left, and only under Wine";
    ++reached;
  }
  EXPECT_EQ(reached, RefusedRequestsStaySilent() ? 0u : 1u);
}

// Catches a probe that lets an intercepted host through, or blocks a host it cannot reach.
TEST_F(NetIntegrationTest, WebHostProbeJudgesTheCertificateOfTheConnection) {
  ASSERT_TRUE(LoadDynamicPins());
  platform.Reset();
  EXPECT_EQ(ProbeWebHost(L"localhost", P().proxy), WebProbeResult::kRefused);
  EXPECT_EQ(ProbeWebHost(L"localhost", P().interOnly), WebProbeResult::kTrusted);
  EXPECT_EQ(ProbeWebHost(L"localhost", 1), WebProbeResult::kUnreachable);
  const std::vector<Json> heads = platform.Requests("HEAD");
  EXPECT_EQ(platform.Requests("HEAD", P().proxy).size(), RefusedRequestsStaySilent() ? 0u : 1u);
  ASSERT_EQ(heads.size(), RefusedRequestsStaySilent() ? 1u : 2u);
  for (const Json& head : heads) {
    EXPECT_EQ(head["path"], "/");
    const std::vector<std::string> agent = HeaderValues(head, "User-Agent");
    ASSERT_EQ(agent.size(), 1u);
    EXPECT_NE(agent[0].find("Chrome/120.0.0.0"), std::string::npos);
    EXPECT_NE(agent[0].find("Edg/120.0.0.0"), std::string::npos);
  }
}

// A refused host stays refused: requested three times (once with a trailing dot), it is probed
// once, and only the first refusal asks for the warning. The probe goes to the request's own
// port: the same host on the port of a pinned server passes.
TEST_F(NetIntegrationTest, RefusedWebHostIsProbedOnceOnItsOwnPort) {
  ASSERT_TRUE(LoadDynamicPins());
  platform.Reset();
  WebHostGate gate(ProbeWebHost, LookupPins);
  EXPECT_EQ(gate.Check(L"localhost", P().proxy), WebGateAnswer::kRefuseAndWarn);
  EXPECT_EQ(gate.Check(L"localhost", P().proxy), WebGateAnswer::kRefuse);
  EXPECT_EQ(gate.Check(L"LocalHost.", P().proxy), WebGateAnswer::kRefuse);
  EXPECT_EQ(platform.Connections(P().proxy), 1);
  EXPECT_EQ(gate.Check(L"localhost", P().interOnly), WebGateAnswer::kAllow);
  EXPECT_EQ(platform.Connections(P().interOnly), 1);
}

// The platform's own domain showing an unpinned key is an interception: the notice ends the
// process (here through the guard's exit code, which the notice's shutdown hook triggers).
TEST_F(NetIntegrationTest, PlatformHostWithAnUnpinnedKeyEndsInTheInterceptionNotice) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        HttpClient client;
        client.Get(Origin(L"127.0.0.1", P().proxy) + VersionPath());
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(kUnexpectedNotice), "interception notice");
}

// A server that holds its answer beyond the 30-second receive time-out.
TEST_F(NetIntegrationTest, SlowAnswerEndsWithTheReceiveTimeout) {
  platform.Switch({{"path", Utf16ToUtf8(VersionPath())}, {"mode", "delay"}, {"delay_ms", 40000}});
  HttpClient client;
  const auto start = std::chrono::steady_clock::now();
  const HttpResponse response = client.Get(Origin(L"127.0.0.1", P().platform) + VersionPath());
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
