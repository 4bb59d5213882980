#include "net/http_client.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

TEST(HttpClientTest, NormalizeBaseUrlAddsHttpsAndDropsTrailingSlashes) {
  struct Case {
    std::wstring in, out;
  };
  const Case cases[] = {
      {L"", L""},
      {L"///\\\\/", L""},
      {L"platform.test", L"https://platform.test"},
      {L"platform.test/\\/", L"https://platform.test"},
      {L"http://platform.test//", L"http://platform.test"},
      {L"https://platform.test/api/", L"https://platform.test/api"},
      {L"ftp://x", L"ftp://x"},  // a named scheme is kept as it is
      {L"a", L"https://a"},      // one or two characters always get the prefix
      {L"://", L"https://:"},    // trailing slashes go first, then ":" is too short
      {L"x://", L"https://x:"},
      {L"a://b", L"a://b"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NormalizeBaseUrl(c.in), c.out) << std::string(c.in.begin(), c.in.end());
}

struct SplitCase {
  std::wstring url;
  bool ok;
  bool secure;
  std::wstring host;
  std::uint16_t port;
  std::wstring path;
};

std::vector<SplitCase> SharedSplitCases() {
  const std::wstring host255(255, L'a');
  const std::wstring host256(256, L'a');
  const std::wstring path2047 = L"/" + std::wstring(2040, L'p') + L"?q=1&r";
  const std::wstring path2048 = path2047 + L"x";
  return {
      {L"https://127.0.0.1:47443/api/desktop/pins", true, true, L"127.0.0.1", 47443, L"/api/desktop/pins"},
      {L"http://platform.test/a/b?x=1&y=2", true, false, L"platform.test", 80, L"/a/b?x=1&y=2"},
      {L"HTTPS://Platform.TEST/Path", true, true, L"Platform.TEST", 443, L"/Path"},
      {L"https://platform.test", true, true, L"platform.test", 443, L""},
      {L"https://" + host255 + L"/x", true, true, host255, 443, L"/x"},
      {L"http://127.0.0.1:1" + path2047, true, false, L"127.0.0.1", 1, path2047},
      {L"", false, false, L"", 0, L""},
      {L"/api/desktop/content-data", false, false, L"", 0, L""},  // an empty domain in front of a path
      {L"ftp://platform.test/file", false, false, L"", 0, L""},
      {L"https://" + host256 + L"/x", false, false, L"", 0, L""},
      {L"http://127.0.0.1:1" + path2048, false, false, L"", 0, L""},
  };
}

// The platform's own split (WinHTTP under Wine, the portable rules natively) must agree on every
// address the player builds, including the length limits that decide "Failed to parse URL".
TEST(HttpClientTest, PlatformUrlSplitKeepsQueryAndEnforcesLengthLimits) {
  const std::unique_ptr<HttpTransport> transport = MakePlatformTransport();
  for (const SplitCase& c : SharedSplitCases()) {
    const std::string label(c.url.begin(), c.url.begin() + std::min<std::size_t>(c.url.size(), 60));
    const std::optional<UrlParts> parts = transport->SplitUrl(c.url);
    ASSERT_EQ(parts.has_value(), c.ok) << label;
    if (!parts)
      continue;
    EXPECT_EQ(parts->secure, c.secure) << label;
    EXPECT_EQ(parts->host, c.host) << label;
    EXPECT_EQ(parts->port, c.port) << label;
    EXPECT_EQ(parts->path, c.path) << label;
  }
}

TEST(HttpClientTest, PortableSplitRefusesHostsThatCouldReachAnotherServer) {
  for (const SplitCase& c : SharedSplitCases()) {
    EXPECT_EQ(SplitHttpUrl(c.url).has_value(), c.ok) << std::string(c.url.begin(), c.url.begin() + 30);
  }
  const wchar_t* refused[] = {
      L"https://user@platform.test/",  // credentials would make curl and the pin check disagree
      L"https://a.test@evil.test/",
      L"https://plat form.test/",
      L"https://platform.test:/",
      L"https://platform.test:0/",
      L"https://platform.test:65536/",
      L"https://platform.test:4x/",
      L"https://[::1/",
      L"https://[zz]/",
      L"https://:443/",
      L"https://pl\u00e4tform.test/",
  };
  for (const wchar_t* url : refused)
    EXPECT_FALSE(SplitHttpUrl(url).has_value());
  const std::optional<UrlParts> v6 = SplitHttpUrl(L"https://[::1]:8443/x");
  ASSERT_TRUE(v6.has_value());
  EXPECT_EQ(v6->host, L"[::1]");
  EXPECT_EQ(v6->port, 8443);
  const std::optional<UrlParts> query = SplitHttpUrl(L"http://platform.test?x=1");
  ASSERT_TRUE(query.has_value());
  EXPECT_EQ(query->path, L"?x=1");
}

// Records what the client asks of its transport.
class FakeTransport : public HttpTransport {
 public:
  struct Exchanged {
    std::wstring method;
    std::wstring host;
    std::wstring path;
    std::vector<std::wstring> headerLines;
    std::string body;
    ServerTrust trust;
  };

  std::optional<UrlParts> SplitUrl(const std::wstring& url) override { return SplitHttpUrl(url); }
  HttpResponse Exchange(const std::wstring& method,
                        const UrlParts& url,
                        const std::vector<std::wstring>& headerLines,
                        const std::string& body,
                        ServerTrust trust,
                        bool preflight) override {
    HttpResponse response;
    if (preflight)
      preflights.push_back(url.host);
    if (trust == ServerTrust::kPinned && refusedHosts.count(url.host) != 0) {  // nothing was sent
      response.error = preflight ? PreflightFailure(url.host) : "SSL Pin validation FAILED";
      return response;
    }
    exchanges.push_back({method, url.host, url.path, headerLines, body, trust});
    response.statusCode = 200;
    response.success = true;
    return response;
  }

  std::vector<std::wstring> preflights;
  std::vector<Exchanged> exchanges;
  std::set<std::wstring> refusedHosts;
};

struct FakeClient {
  FakeClient() : transport(new FakeTransport), client(std::unique_ptr<HttpTransport>(transport)) {}
  FakeTransport* transport;
  HttpClient client;
};

// Catches a pre-flight that runs on every request, is skipped after a refusal, ignores letter
// case, runs on plain HTTP, or lets a server on another port of a checked host go unchecked.
TEST(HttpClientTest, PreflightRunsOncePerExactServerAndOnlyOverHttps) {
  FakeClient fake;
  fake.transport->refusedHosts = {L"evil.test"};
  struct Step {
    std::wstring url;
    bool expectPreflight;
    std::string expectError;
  };
  const Step steps[] = {
      {L"https://platform.test/a", true, ""},
      {L"https://platform.test/b?x=1", false, ""},
      {L"https://Platform.test/c", true, ""},  // the remembered set is case-sensitive
      {L"http://other.test/d", false, ""},
      {L"https://evil.test/e", true,
       "Pre-flight SSL Pin validation FAILED for evil.test. MITM Attack Prevented!"},
      {L"https://evil.test/e", true,
       "Pre-flight SSL Pin validation FAILED for evil.test. MITM Attack Prevented!"},
      {L"https://platform.test:443/f", false, ""},  // the same server as without the port
      {L"https://platform.test:8443/g", true, ""},  // another server on the same host
      {L"https://platform.test:8443/h", false, ""},
  };
  std::size_t preflights = 0;
  std::size_t exchanges = 0;
  for (const Step& step : steps) {
    const HttpResponse response = fake.client.Get(step.url);
    const std::string label(step.url.begin(), step.url.end());
    if (step.expectPreflight)
      ++preflights;
    EXPECT_EQ(fake.transport->preflights.size(), preflights) << label;
    EXPECT_EQ(response.error, step.expectError) << label;
    if (step.expectError.empty()) {
      ++exchanges;
      ASSERT_EQ(fake.transport->exchanges.size(), exchanges) << label;
      EXPECT_EQ(fake.transport->exchanges.back().trust, ServerTrust::kPinned) << label;
    } else {
      EXPECT_EQ(fake.transport->exchanges.size(), exchanges) << "a refused host must never get the request";
    }
  }
}

// Without pinning there is no pre-flight, but the server is still judged: by its pins or the
// system's trust.
TEST(HttpClientTest, DisabledPinningSkipsPreflightButStillJudgesTheServer) {
  FakeClient fake;
  fake.transport->refusedHosts = {L"platform.test"};
  fake.client.DisablePinning();
  const HttpResponse response = fake.client.Get(L"https://platform.test/script/7");
  EXPECT_TRUE(response.success);
  EXPECT_TRUE(fake.transport->preflights.empty());
  ASSERT_EQ(fake.transport->exchanges.size(), 1u);
  EXPECT_EQ(fake.transport->exchanges[0].trust, ServerTrust::kPinsOrSystem);
}

// Catches headers sent in insertion order, a replaced header sent twice, a Content-Type that is
// not last, and a Content-Type on requests that have none.
TEST(HttpClientTest, DefaultHeadersGoInNameOrderWithContentTypeLast) {
  FakeClient fake;
  fake.client.SetDefaultHeader(L"X-Secret", L"first");
  fake.client.SetDefaultHeader(L"X-Client-Platform", L"desktop");
  fake.client.SetDefaultHeader(L"x-lower", L"1");
  fake.client.SetDefaultHeader(L"Accept-Language", L"ar");
  fake.client.SetDefaultHeader(L"X-Secret", L"second");

  fake.client.Put(L"http://platform.test/p", "a=1&b=2", L"application/x-www-form-urlencoded");
  fake.client.Get(L"http://platform.test/g");
  fake.client.Post(L"http://platform.test/q", "", L"");

  const std::vector<std::wstring> defaults = {L"Accept-Language: ar", L"X-Client-Platform: desktop",
                                              L"X-Secret: second", L"x-lower: 1"};
  std::vector<std::wstring> withType = defaults;
  withType.push_back(L"Content-Type: application/x-www-form-urlencoded");
  ASSERT_EQ(fake.transport->exchanges.size(), 3u);
  EXPECT_EQ(fake.transport->exchanges[0].method, L"PUT");
  EXPECT_EQ(fake.transport->exchanges[0].headerLines, withType);
  EXPECT_EQ(fake.transport->exchanges[0].body, "a=1&b=2");
  EXPECT_EQ(fake.transport->exchanges[1].method, L"GET");
  EXPECT_EQ(fake.transport->exchanges[1].headerLines, defaults);
  EXPECT_EQ(fake.transport->exchanges[2].method, L"POST");
  EXPECT_EQ(fake.transport->exchanges[2].headerLines, defaults);
}

}  // namespace
