#include "link/launch_link.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/app_state.h"
#include "config/config.h"
#include "link/envelope_writer.h"
#include "text/text.h"

namespace {

std::string Envelope(const std::string& plaintext) {
  return EncryptEnvelope(plaintext, config::LinkKey().str());
}

std::wstring Link(const std::string& token, const std::string& id, const std::string& domain) {
  return L"corvel:" + WidenAscii(Envelope(token) + ":" + Envelope(id) + ":" + Envelope(domain));
}

// Records what the parser asks of the platform and answers from a script.
struct FakePlatform {
  std::optional<ContentData> answer;
  std::string errorText;
  std::optional<std::string> pageScript;
  bool pageScriptThrows = false;
  std::vector<std::wstring> domains, pageScriptAddresses;
  std::vector<std::string> ids, tokens;

  ContentSource Source() {
    ContentSource source;
    source.getContentData = [this](const std::wstring& domain, const std::string& id,
                                   const std::string& token, std::string& error) {
      domains.push_back(domain);
      ids.push_back(id);
      tokens.push_back(token);
      error = errorText;
      return answer;
    };
    source.fetchPageScript = [this](const std::wstring& address) -> std::optional<std::string> {
      pageScriptAddresses.push_back(address);
      if (pageScriptThrows)
        throw std::runtime_error("connection reset");
      return pageScript;
    };
    return source;
  }
};

class LaunchLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AppState& s = GetAppState();
    s.platformDomain = s.contentUrl = s.watermarkText = s.contentKind = s.pageScript = L"";
    s.scriptId = 1;
  }

  bool Parse(const std::wstring& payload) {
    trace.clear();
    LinkParseOptions options;
    options.trace = [this](const std::string& line) { trace.push_back(line); };
    return ParseSchemeArgs(payload, error, platform.Source(), options);
  }

  FakePlatform platform;
  std::string error;
  std::vector<std::string> trace;
};

TEST_F(LaunchLinkTest, PrefixSlashesAndEncodingsAllLeadToTheSameThreeParts) {
  const std::string a = Envelope("tok+en"), b = Envelope("https://cdn.example/lesson"),
                    c = Envelope("https://school.example//");
  const std::wstring parts = WidenAscii(a + ":" + b + ":" + c);
  std::wstring percent;
  for (wchar_t ch : parts) {
    percent += ch == L':' ? std::wstring(L"%3A") : ch == L'+' ? std::wstring(L"%2B") : std::wstring(1, ch);
  }
  std::wstring spaced = parts;
  for (wchar_t& ch : spaced) {
    if (ch == L'+')
      ch = L' ';
  }
  const std::wstring payloads[] = {
      L"corvel:" + parts,
      L"CoRvEl://" + parts + L"/",
      L"corvel:\\\\" + parts + L"\\/",
      parts,
      L"\"C:\\app.exe\" corvel:" + parts,
      L"corvel:" + percent,
      L"corvel%3A" + percent,
      L"corvel:" + spaced,
      L"corvel:" + parts + L":extra:parts",
  };
  for (const std::wstring& payload : payloads) {
    SetUp();
    ASSERT_TRUE(Parse(payload)) << error;
    EXPECT_EQ(GetAppState().contentUrl, L"https://cdn.example/lesson");
    EXPECT_EQ(GetAppState().platformDomain, L"https://school.example");
  }
}

TEST_F(LaunchLinkTest, MalformedLinksEndInTheirErrorCodes) {
  const std::string good = Envelope("x");
  const std::string badMac = EncryptEnvelope("x", std::string(32, 'k'));
  struct Case {
    std::wstring payload;
    std::string code;
  };
  const Case cases[] = {
      {L"", "split_failed_parts_0"},
      {L"corvel://", "split_failed_parts_0"},
      {L"corvel:" + WidenAscii(good + ":" + good), "split_failed_parts_2"},
      {L"corvel:" + WidenAscii(good + "::" + good), "exception_Failed to parse AES envelope JSON"},
      {L"corvel:" + WidenAscii(good + ":not-an-envelope:" + good),
       "exception_Failed to parse AES envelope JSON"},
      {L"corvel:" + WidenAscii(good + ":" + Envelope("") + ":" + good), "decrypt_failed_empty_strings"},
      {L"corvel:" + WidenAscii(good + ":" + badMac + ":" + good),
       "exception_MAC verification failed \xe2\x80\x94 data may be tampered"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(Parse(c.payload));
    EXPECT_EQ(error, c.code);
  }
  EXPECT_TRUE(platform.ids.empty());  // no failure reached the server
}

TEST_F(LaunchLinkTest, DirectAddressSkipsTheServer) {
  GetAppState().pageScript = L"kept";
  ASSERT_TRUE(Parse(Link("t", "https://cdn.example/a?b=c", "school.example")));
  const AppState& s = GetAppState();
  EXPECT_EQ(s.contentUrl, L"https://cdn.example/a?b=c");
  EXPECT_EQ(s.contentKind, L"url_direct");
  EXPECT_EQ(s.watermarkText, L"");
  EXPECT_EQ(s.scriptId, 0);
  EXPECT_EQ(s.pageScript, L"kept");
  EXPECT_TRUE(platform.ids.empty());
  EXPECT_EQ(trace, (std::vector<std::string>{
                       "ParseSchemeArgs called with payload length: " +
                           std::to_string(Link("t", "https://cdn.example/a?b=c", "school.example").size()),
                       "Decrypted OK. Domain: school.example",
                       "ParseSchemeArgs: contentLinkId is a direct URL. Skipping GetContentData.",
                       "ParseSchemeArgs succeeded"}));

  // The same letters in upper case are not an address: the server is asked.
  SetUp();
  platform.answer = ContentData{};
  platform.answer->url = "https://cdn.example/a";
  ASSERT_TRUE(Parse(Link("t", "HTTPS://cdn.example/a", "school.example")));
  EXPECT_EQ(platform.ids, std::vector<std::string>{"HTTPS://cdn.example/a"});
}

// A link whose domain envelope was re-made without the key (its IV bits flipped so the domain
// reads as another server, its tag dropped) is refused before any request, as are platform
// domains that are not a host and addresses to show that are not web pages.
TEST_F(LaunchLinkTest, ForgedDomainsAndForeignAddressesAreRefusedBeforeAnyRequest) {
  const std::string domain = "https://127.0.0.1:47443";
  const std::string forgedFirstBlock = "http://[::1]:80/";
  const std::string envelope = Envelope(domain);
  const std::vector<unsigned char> decoded = Base64Decode(envelope);
  nlohmann::json document = nlohmann::json::parse(decoded.begin(), decoded.end());
  std::vector<unsigned char> iv = Base64Decode(document["iv"].get<std::string>());
  for (std::size_t i = 0; i < 16; ++i)
    iv[i] ^= static_cast<unsigned char>(domain[i] ^ forgedFirstBlock[i]);
  document["iv"] = Base64Encode(iv);
  document.erase("mac");
  const std::string forged = Base64Encode(document.dump());
  platform.answer = ContentData{};
  platform.answer->url = "https://cdn.example/a";
  EXPECT_FALSE(Parse(L"corvel:" + WidenAscii(Envelope("t") + ":" + Envelope("lesson") + ":" + forged)));
  EXPECT_EQ(error, "exception_MAC verification failed \xe2\x80\x94 data may be tampered");

  for (const char* badDomain :
       {"http://[::1]:80", "file://school.example", "user@school.example", "school.example/path",
        "school.example?x", "school example", "school.example:", "school.example:99999", "https://",
        "javascript:alert(1)", "school.example\t"}) {
    SetUp();
    EXPECT_FALSE(Parse(Link("t", "lesson", badDomain))) << badDomain;
    EXPECT_EQ(error, kInvalidPlatformDomain) << badDomain;
  }
  for (const char* goodDomain :
       {"school.example", "HTTPS://School.example:8443/", "[::1]:47443", "127.0.0.1"}) {
    SetUp();
    EXPECT_TRUE(Parse(Link("t", "lesson", goodDomain))) << goodDomain;
  }
  const std::vector<std::wstring> asked = platform.domains;
  EXPECT_EQ(asked.size(), 4u) << "only the good domains were asked";

  for (const char* address : {"javascript:alert(document.cookie)", "file:///etc/passwd", "data:text/html,x",
                              "https://", "https://x y.example/", "https://cdn.example/a\nb", ""}) {
    SetUp();
    platform.answer = ContentData{};
    platform.answer->type = "iframe";
    platform.answer->url = address;
    EXPECT_FALSE(Parse(Link("t", "lesson", "school.example"))) << address;
    EXPECT_EQ(error, kInvalidContentAddress) << address;
    // A YouTube address only in the name of another scheme is no embed either.
    SetUp();
    platform.answer->videoUrl = std::string("javascript:alert(1)//youtube.com/watch?v=") + address;
    EXPECT_FALSE(Parse(Link("t", "lesson", "school.example"))) << address;
    EXPECT_TRUE(platform.pageScriptAddresses.empty());
  }
  SetUp();
  EXPECT_FALSE(Parse(Link("t", "https://x.example/a b", "school.example")));
  EXPECT_EQ(error, kInvalidContentAddress);
}

TEST_F(LaunchLinkTest, ServerAnswerDecidesKindAddressAndWatermark) {
  struct Case {
    std::string type, url, videoUrl;
    std::wstring kind, contentUrl;
  };
  const Case cases[] = {
      {"video", "https://v.example/1", "", L"url_direct", L"https://v.example/1"},
      {"zoom_url", "https://x.example/m", "", L"url_direct", L"https://x.example/m"},
      {"pdf", "https://f.example/a.pdf", "", L"pdf", L"https://f.example/a.pdf"},
      {"PDF", "https://f.example/a.pdf", "", L"PDF", L"https://f.example/a.pdf"},  // case-sensitive
      {"meeting", "https://us02web.zoom.us/j/1", "", L"url_direct", L"https://us02web.zoom.us/j/1"},
      {"iframe", "https://e.example/p", "https://vimeo.com/1", L"iframe", L"https://e.example/p"},
  };
  for (const Case& c : cases) {
    SetUp();
    ContentData data;
    data.type = c.type;
    data.url = c.url;
    data.videoUrl = c.videoUrl;
    data.watermarkText = "\xd8\xb7\xd8\xa7\xd9\x84\xd8\xa8 42";  // Arabic text survives
    data.scriptId = 9;
    platform.answer = data;
    ASSERT_TRUE(Parse(Link("tok", "L-1", "https://school.example/"))) << error;
    EXPECT_EQ(GetAppState().contentKind, c.kind) << c.type;
    EXPECT_EQ(GetAppState().contentUrl, c.contentUrl) << c.type;
    EXPECT_EQ(GetAppState().watermarkText, L"\u0637\u0627\u0644\u0628 42");
    EXPECT_EQ(GetAppState().scriptId, 9);
  }
  EXPECT_TRUE(platform.pageScriptAddresses.empty());
  EXPECT_EQ(platform.domains.back(), L"https://school.example");
  EXPECT_EQ(platform.tokens.back(), "tok");
}

TEST_F(LaunchLinkTest, YouTubeVideoIsEmbeddedAndItsPageScriptFetchedWithoutFailingTheParse) {
  ContentData data;
  data.type = "pdf";
  data.url = "https://ignored.example";
  data.videoUrl = "https://www.youtube.com/watch?v=VidEo1&t=2";
  data.scriptId = -5;
  platform.answer = data;
  platform.pageScript = std::string("console.log('\xd9\x85');");
  ASSERT_TRUE(Parse(Link("t", "L-2", "school.example")));
  EXPECT_EQ(GetAppState().contentKind, L"url_direct");
  EXPECT_EQ(GetAppState().contentUrl, L"https://www.youtube.com/embed/VidEo1?origin=school.example");
  EXPECT_EQ(GetAppState().pageScript, L"console.log('\u0645');");
  ASSERT_EQ(platform.pageScriptAddresses.size(), 1u);
  EXPECT_EQ(platform.pageScriptAddresses[0], WidenAscii(config::PageScriptUrlPrefix()) + L"-5");

  // A failed or throwing fetch keeps the old page script and the parse still succeeds.
  for (bool throws : {false, true}) {
    SetUp();
    GetAppState().pageScript = L"old";
    platform.pageScript.reset();
    platform.pageScriptThrows = throws;
    ASSERT_TRUE(Parse(Link("t", "L-2", "school.example"))) << error;
    EXPECT_EQ(GetAppState().pageScript, L"old");
  }
}

TEST_F(LaunchLinkTest, ServerFailuresBecomeServerOrApiCodes) {
  platform.errorText = "Link expired \xd8\xa7\xd9\x86\xd8\xaa\xd9\x87\xd9\x89";
  EXPECT_FALSE(Parse(Link("t", "L-3", "school.example")));
  EXPECT_EQ(error, "server:Link expired \xd8\xa7\xd9\x86\xd8\xaa\xd9\x87\xd9\x89");
  EXPECT_EQ(trace.back(), "ParseSchemeArgs failed: GetContentData returned empty value");
  EXPECT_EQ(GetAppState().platformDomain, L"school.example");  // written before the request

  platform.errorText.clear();
  EXPECT_FALSE(Parse(Link("t", "L-3", "school.example")));
  EXPECT_EQ(error, "api_content_data_failed");
}

TEST_F(LaunchLinkTest, ExceptionsFromTheSourceBecomeExceptionCodes) {
  ContentSource source;
  source.getContentData = [](const std::wstring&, const std::string&, const std::string&,
                             std::string&) -> std::optional<ContentData> {
    throw std::runtime_error("boom");
  };
  EXPECT_FALSE(ParseSchemeArgs(Link("t", "L", "d"), error, source));
  EXPECT_EQ(error, "exception_boom");
  source.getContentData = [](const std::wstring&, const std::string&, const std::string&,
                             std::string&) -> std::optional<ContentData> { throw 42; };
  EXPECT_FALSE(ParseSchemeArgs(Link("t", "L", "d"), error, source));
  EXPECT_EQ(error, "unknown_exception");
}

TEST_F(LaunchLinkTest, DecodeLaunchLinkUsesAnotherKeyWhenAsked) {
  const std::string key(32, '\x11');
  const std::wstring link =
      L"corvel:" + WidenAscii(EncryptEnvelope("a", key) + ":" + EncryptEnvelope("b", key) + ":" +
                              EncryptEnvelope("c/", key));
  LinkFields fields;
  EXPECT_FALSE(DecodeLaunchLink(link, fields, error));
  EXPECT_EQ(error.rfind("exception_MAC verification failed", 0), 0u);
  LinkParseOptions options;
  options.keyOverride = key;
  ASSERT_TRUE(DecodeLaunchLink(link, fields, error, options));
  EXPECT_EQ(fields.token, "a");
  EXPECT_EQ(fields.contentLinkId, "b");
  EXPECT_EQ(fields.domain, "c/");
  EXPECT_EQ(GetAppState().platformDomain, L"");  // decoding alone writes nothing
}

}  // namespace
