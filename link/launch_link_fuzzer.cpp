// Fuzzes the launch link. Two kinds of input:
//  - any payload text, parsed by ParseSchemeArgs against a fake content source whose answers
//    come from the fuzz data;
//  - three fuzzed fields sealed into a link (in the shapes browsers hand over: prefix case,
//    slashes, percent-encoding, spaces for "+", extra parts): DecodeLaunchLink must give the
//    fields back (or, without tags, refuse them all), and ParseSchemeArgs must fill the content
//    fields by the link rules. A platform domain that is not a host is refused before the server
//    is asked; what a successful parse leaves to show is always a web address.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/app_state.h"
#include "config/config.h"
#include "link/content.h"
#include "link/envelope_writer.h"
#include "link/launch_link.h"
#include "text/text.h"
#include "text/web_address.h"

namespace {

constexpr std::size_t kMaxInput = 4096;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

std::string PickText(FuzzedDataProvider& provider, std::initializer_list<const char*> choices) {
  const std::size_t pick = provider.ConsumeIntegralInRange<std::size_t>(0, choices.size());
  if (pick == choices.size())
    return provider.ConsumeRandomLengthString(200);
  return std::string(choices.begin()[pick]) + provider.ConsumeRandomLengthString(40);
}

// What the fake server and page-script host answer, all decided by the fuzz data up front.
struct FakeServer {
  bool fails = false;
  std::string errorText;
  ContentData data;
  int pageScriptOutcome = 0;  // 0: no script, 1: a script, 2: the request throws
  std::string pageScript;

  // Seen by the fake.
  bool asked = false;
  std::wstring askedDomain;
  std::string askedId, askedToken;
  std::optional<std::wstring> scriptAddress;

  static FakeServer From(FuzzedDataProvider& provider) {
    FakeServer server;
    server.fails = provider.ConsumeBool();
    server.errorText = provider.ConsumeRandomLengthString(40);
    server.data.type = PickText(provider, {"video", "zoom", "zoom_url", "pdf", "pdf_url", "iframe"});
    if (provider.ConsumeBool())
      server.data.type.resize(server.data.type.size() > 8 ? 8 : server.data.type.size());
    server.data.url =
        PickText(provider, {"https://cdn.example/", "https://us02web.zoom.us/j/", "https://zoom.us/"});
    server.data.videoUrl = PickText(provider, {"https://youtu.be/", "https://www.youtube.com/watch?v=",
                                               "https://www.youtube.com/embed/", "https://vimeo.com/"});
    server.data.watermarkText = provider.ConsumeRandomLengthString(40);
    server.data.scriptId = provider.ConsumeIntegral<std::int32_t>();
    server.pageScriptOutcome = provider.ConsumeIntegralInRange<int>(0, 2);
    server.pageScript = provider.ConsumeRandomLengthString(80);
    return server;
  }

  ContentSource Source() {
    ContentSource source;
    source.getContentData = [this](const std::wstring& domain, const std::string& id,
                                   const std::string& token,
                                   std::string& error) -> std::optional<ContentData> {
      asked = true;
      askedDomain = domain;
      askedId = id;
      askedToken = token;
      if (fails) {
        error = errorText;
        return std::nullopt;
      }
      return data;
    };
    source.fetchPageScript = [this](const std::wstring& address) -> std::optional<std::string> {
      scriptAddress = address;
      if (pageScriptOutcome == 2)
        throw std::runtime_error("no connection");
      if (pageScriptOutcome == 1)
        return pageScript;
      return std::nullopt;
    };
    return source;
  }
};

const std::wstring kUntouchedScript = L"(untouched)";

void ResetState() {
  AppState& state = GetAppState();
  state = AppState();
  state.pageScript = kUntouchedScript;
}

// What a successful parse leaves: a platform domain that is a host (and port), and a web address
// to show, with nothing a browser would strip or re-read.
void CheckShowable(const AppState& state) {
  std::wstring domain = state.platformDomain;
  if (ToLowerCopy(domain.substr(0, 8)) == L"https://")
    domain.erase(0, 8);
  const std::optional<WebAddress> site = ParseWebAddress(L"https://" + domain);
  Check(site && site->rest.empty() && !site->hasUserInfo &&
        domain.find_first_of(L"/\\?#@ ") == std::wstring::npos);
  const std::wstring lower = ToLowerCopy(state.contentUrl);
  Check(lower.rfind(L"https://", 0) == 0 || lower.rfind(L"http://", 0) == 0);
  Check(ParseWebAddress(state.contentUrl).has_value());
  for (wchar_t c : state.contentUrl)
    Check(static_cast<std::uint32_t>(c) > 0x20 && c != 0x7F);
}

void AnyPayload(FuzzedDataProvider& provider) {
  FakeServer server = FakeServer::From(provider);
  ResetState();
  const std::wstring payload = Utf8ToUtf16(provider.ConsumeRemainingBytesAsString());
  std::string errorCode;
  const bool ok = ParseSchemeArgs(payload, errorCode, server.Source());
  // A failure always names its cause.
  if (!ok)
    Check(!errorCode.empty() && errorCode != "unknown_error");
  if (errorCode == kInvalidPlatformDomain)
    Check(!server.asked);
  if (ok)
    CheckShowable(GetAppState());
}

// Seals three fields into a link and checks both halves of the parse.
void SealedLink(FuzzedDataProvider& provider) {
  const std::string key = config::LinkKey().str();
  std::string fields[3] = {provider.ConsumeRandomLengthString(64),
                           PickText(provider, {"lesson-", "https://", "http://", "HTTPS://"}),
                           PickText(provider, {"https://platform.example", "platform.example/", ""})};
  const bool withMac = provider.ConsumeBool();
  std::vector<unsigned char> iv = provider.ConsumeBytes<unsigned char>(16);
  iv.resize(16, 0);
  // Base64 of the writer's documents never holds "+"; a member the reader ignores, full of "~"
  // and ">", brings "+" signs in so that the percent and space shapes matter.
  const bool withPlus = provider.ConsumeBool();
  std::string body;
  for (int i = 0; i < 3; ++i) {
    if (i > 0)
      body += ':';
    std::string envelope = EncryptEnvelopeWithIv(fields[i], key, iv, withMac);
    if (withPlus) {
      const std::vector<unsigned char> json = Base64Decode(envelope);
      std::string document(json.begin(), json.end() - 1);  // without the closing brace
      envelope = Base64Encode(document + ",\"note\":\"~~~>>>\"}");
    }
    body += envelope;
  }
  if (provider.ConsumeBool())
    body += ":extra-part";

  static const char* const kPrefixes[] = {"corvel:", "CORVEL://", "Corvel:\\\\", "", "open corvel:///"};
  std::string link = kPrefixes[provider.ConsumeIntegralInRange<int>(0, 4)];
  switch (provider.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
      link += body;
      break;
    case 1:  // percent-encoded as a browser might
      for (char c : body)
        link += c == ':' ? std::string("%3A") : c == '+' ? std::string("%2b") : std::string(1, c);
      break;
    default:  // "+" handed over as spaces
      for (char c : body)
        link += c == '+' ? ' ' : c;
      break;
  }
  if (provider.ConsumeBool())
    link += "/\\/";
  const std::wstring payload = Utf8ToUtf16(link);

  const bool allPresent = !fields[0].empty() && !fields[1].empty() && !fields[2].empty();
  LinkFields decoded;
  std::string errorCode;
  const bool decodedOk = DecodeLaunchLink(payload, decoded, errorCode);
  if (!withMac) {
    Check(!decodedOk && errorCode == "exception_MAC verification failed \xE2\x80\x94 data may be tampered");
    return;
  }
  Check(decodedOk == allPresent);
  if (!allPresent) {
    Check(errorCode == "decrypt_failed_empty_strings");
    return;
  }
  Check(decoded.token == fields[0] && decoded.contentLinkId == fields[1] && decoded.domain == fields[2]);

  FakeServer server = FakeServer::From(provider);
  ResetState();
  errorCode.clear();
  const bool parsed = ParseSchemeArgs(payload, errorCode, server.Source());
  const AppState& state = GetAppState();
  std::string domain = fields[2];
  while (!domain.empty() && (domain.back() == '/' || domain.back() == '\\'))
    domain.pop_back();
  if (errorCode == kInvalidPlatformDomain) {
    Check(!parsed && !server.asked);
    Check(domain != "https://platform.example" && domain != "platform.example");
    return;
  }
  Check(state.platformDomain == Utf8ToUtf16(domain));
  if (parsed)
    CheckShowable(state);
  if (errorCode == kInvalidContentAddress) {
    Check(!parsed && !server.scriptAddress);
    return;
  }

  const std::wstring id = Utf8ToUtf16(fields[1]);
  if (id.rfind(L"http://", 0) == 0 || id.rfind(L"https://", 0) == 0) {
    Check(parsed && !server.asked);
    Check(state.contentUrl == id && state.contentKind == L"url_direct" && state.watermarkText.empty() &&
          state.scriptId == 0 && state.pageScript == kUntouchedScript);
    return;
  }
  Check(server.asked && server.askedDomain == state.platformDomain && server.askedId == fields[1] &&
        server.askedToken == fields[0]);
  if (server.fails) {
    Check(!parsed &&
          errorCode == (server.errorText.empty() ? "api_content_data_failed" : "server:" + server.errorText));
    return;
  }
  Check(parsed);
  Check(state.watermarkText == Utf8ToUtf16(server.data.watermarkText) &&
        state.scriptId == server.data.scriptId);
  const std::wstring videoUrl = Utf8ToUtf16(server.data.videoUrl);
  if (IsYouTubeUrl(videoUrl)) {
    Check(state.contentKind == L"url_direct" && state.contentUrl == NormalizeYouTubeUrl(videoUrl));
    Check(server.scriptAddress ==
          WidenAscii(config::PageScriptUrlPrefix()) + std::to_wstring(server.data.scriptId));
    const std::wstring expectedScript =
        server.pageScriptOutcome == 1 ? Utf8ToUtf16(server.pageScript) : kUntouchedScript;
    Check(state.pageScript == expectedScript);
    return;
  }
  Check(!server.scriptAddress && state.pageScript == kUntouchedScript);
  Check(state.contentUrl == Utf8ToUtf16(server.data.url));
  const std::string& type = server.data.type;
  const bool direct =
      type == "video" || type == "zoom" || type == "zoom_url" || IsZoomUrl(Utf8ToUtf16(server.data.url));
  Check(state.contentKind == (direct ? std::wstring(L"url_direct") : Utf8ToUtf16(type)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput)
    return 0;
  FuzzedDataProvider provider(data, size);
  if (provider.ConsumeBool()) {
    SealedLink(provider);
  } else {
    AnyPayload(provider);
  }
  return 0;
}
