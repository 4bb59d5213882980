#include "link/launch_link.h"

#include <cstdint>
#include <exception>
#include <utility>

#include "base/app_state.h"
#include "config/config.h"
#include "link/envelope.h"
#include "text/text.h"
#include "text/web_address.h"

namespace {

void Trace(const LinkParseOptions& options, const std::string& line) {
  if (options.trace)
    options.trace(line);
}

// Length in UTF-16 code units, whatever the width of wchar_t.
size_t Utf16Length(const std::wstring& text) {
  size_t length = 0;
  for (wchar_t c : text) {
    const std::uint32_t unit = static_cast<std::uint32_t>(c);
    length += unit > 0xFFFF ? 2 : 1;
  }
  return length;
}

bool IsSlash(wchar_t c) {
  return c == L'/' || c == L'\\';
}

void TrimTrailingSlashes(std::wstring& text) {
  while (!text.empty() && IsSlash(text.back()))
    text.pop_back();
}

void TrimTrailingSlashes(std::string& text) {
  while (!text.empty() && (text.back() == '/' || text.back() == '\\'))
    text.pop_back();
}

// Runs one stage of the parse and turns an escaping exception into the error code.
template <typename Body>
bool Guarded(std::string& errorCode, const LinkParseOptions& options, Body&& body) {
  try {
    return body();
  } catch (const std::exception& e) {
    errorCode = std::string("exception_") + e.what();
    Trace(options, std::string("ParseSchemeArgs exception: ") + e.what());
  } catch (...) {
    errorCode = "unknown_exception";
    Trace(options, "ParseSchemeArgs unknown exception");
  }
  return false;
}

// Decode, split and decrypt. Throws what the envelope throws.
bool DecodeFields(const std::wstring& payload,
                  LinkFields& fields,
                  std::string& errorCode,
                  const LinkParseOptions& options) {
  // Percent-decode; browsers and shells hand base64 "+" signs over as spaces: undo that.
  std::wstring text = UrlDecode(payload);
  for (wchar_t& c : text) {
    if (c == L' ')
      c = L'+';
  }

  // Drop everything up to and including the scheme prefix, wherever it is. Lower-casing changes
  // only ASCII letters, so positions in the copy are positions in the text.
  const std::wstring prefix = ToLowerCopy(GetAppState().schemeName) + L":";
  const size_t at = ToLowerCopy(text).find(prefix);
  if (at != std::wstring::npos)
    text.erase(0, at + prefix.size());

  TrimTrailingSlashes(text);
  size_t lead = 0;
  while (lead < text.size() && IsSlash(text[lead]))
    ++lead;
  text.erase(0, lead);

  const std::vector<std::wstring> parts = SplitString(text, L':');
  if (parts.size() < 3) {
    errorCode = "split_failed_parts_" + std::to_string(parts.size());
    Trace(options, "ParseSchemeArgs failed: less than 3 parts after split");
    return false;
  }

  // The key lives only for the decryption and is wiped when it goes out of scope, on the
  // failure paths as well.
  const config::SecretBytes key =
      options.keyOverride.empty() ? config::LinkKey() : config::SecretBytes(options.keyOverride);
  std::string plain[3];
  for (int i = 0; i < 3; ++i)
    plain[i] = DecryptEnvelope(Utf16ToUtf8(parts[i]), key.str());

  if (plain[0].empty() || plain[1].empty() || plain[2].empty()) {
    errorCode = "decrypt_failed_empty_strings";
    Trace(options, "ParseSchemeArgs failed: one of the parts decrypted to empty string");
    return false;
  }
  fields.token = std::move(plain[0]);
  fields.contentLinkId = std::move(plain[1]);
  fields.domain = std::move(plain[2]);
  Trace(options, "Decrypted OK. Domain: " + fields.domain);
  return true;
}

bool IsDirectLink(const std::wstring& contentLinkId) {
  return contentLinkId.rfind(L"http://", 0) == 0 || contentLinkId.rfind(L"https://", 0) == 0;
}

bool StartsWithIgnoringCase(const std::wstring& text, const std::wstring& lowerPrefix) {
  return ToLowerCopy(text.substr(0, lowerPrefix.size())) == lowerPrefix;
}

// The platform domain of a link is a host with an optional port, with or without "https://"
// before it (its trailing "/" and "\" already removed). Anything else (another scheme, user-info,
// a path, spaces, control characters) did not come from the platform: the player would send the
// token and X-Secret wherever it points.
bool IsPlatformDomain(const std::wstring& domain) {
  std::wstring host = domain;
  if (StartsWithIgnoringCase(host, L"https://"))
    host.erase(0, 8);
  if (host.empty() || host.back() == L':')
    return false;
  for (wchar_t c : host) {
    const bool allowed = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
                         c == L'.' || c == L'-' || c == L'_' || c == L':' || c == L'[' || c == L']';
    if (!allowed)
      return false;
  }
  const std::optional<WebAddress> address = ParseWebAddress(L"https://" + host);
  return address && address->rest.empty();
}

// What the player shows or embeds must be a web page: "http://" or "https://" with a host the
// browser engine reads as the player does, and nothing a browser would strip or re-read
// (spaces, control characters). A "javascript:" address would run in the player's own page; a
// "file:" one would show the student's files.
bool IsContentAddress(const std::wstring& address) {
  if (!StartsWithIgnoringCase(address, L"https://") && !StartsWithIgnoringCase(address, L"http://"))
    return false;
  for (wchar_t c : address) {
    if (static_cast<std::uint32_t>(c) <= 0x20 || c == 0x7F)
      return false;
  }
  return ParseWebAddress(address).has_value();
}

// The content of the server's answer. False, with the failure code set, when the answer names no
// web address to show. The page-script fetch never fails the parse.
bool ContentFromServer(const ContentData& data,
                       const ContentSource& source,
                       LinkContent& content,
                       std::string& failureCode,
                       const LinkParseOptions& options) {
  if (data.type == "video" || data.type == "zoom" || data.type == "zoom_url" ||
      IsZoomUrl(Utf8ToUtf16(data.url))) {
    content.contentKind = L"url_direct";
  } else {
    content.contentKind = Utf8ToUtf16(data.type);
  }
  content.watermarkText = Utf8ToUtf16(data.watermarkText);
  content.scriptId = data.scriptId;

  const std::wstring videoUrl = Utf8ToUtf16(data.videoUrl);
  const bool youtube = IsYouTubeUrl(videoUrl);
  if (youtube) {
    content.contentUrl = NormalizeYouTubeUrl(videoUrl, content.platformDomain);
    content.contentKind = L"url_direct";
  } else {
    content.contentUrl = Utf8ToUtf16(data.url);
  }
  if (!IsContentAddress(content.contentUrl)) {
    failureCode = kInvalidContentAddress;
    Trace(options, "ParseSchemeArgs failed: the content address is not a web address");
    return false;
  }
  if (!youtube)
    return true;
  try {
    const std::wstring address = WidenAscii(config::PageScriptUrlPrefix()) + std::to_wstring(data.scriptId);
    if (source.fetchPageScript) {
      if (const std::optional<std::string> body = source.fetchPageScript(address)) {
        content.pageScript = Utf8ToUtf16(*body);
      }
    }
  } catch (...) {
    // The page script is an extra: without it the content still plays.
  }
  return true;
}

// The link's platform domain without its trailing "/" and "\\"; nothing when it is not a host.
std::optional<std::wstring> PlatformDomainOf(const LinkFields& fields) {
  std::string domain = fields.domain;
  TrimTrailingSlashes(domain);
  std::wstring platformDomain = Utf8ToUtf16(domain);
  if (!IsPlatformDomain(platformDomain))
    return std::nullopt;
  return platformDomain;
}

// Decode, decrypt, check and ask the server, into `outcome` (a failure keeps what was learnt by
// then). Throws what the envelope and the source throw.
void Resolve(const std::wstring& payload,
             const ContentSource& source,
             const LinkParseOptions& options,
             LinkOutcome& outcome) {
  LinkFields fields;
  if (!DecodeFields(payload, fields, outcome.failureCode, options))
    return;

  const std::optional<std::wstring> platformDomain = PlatformDomainOf(fields);
  if (!platformDomain) {
    outcome.failureCode = kInvalidPlatformDomain;
    Trace(options, "ParseSchemeArgs failed: the platform domain is not a host");
    return;
  }
  LinkContent& content = outcome.content;
  content.platformDomain = *platformDomain;

  const std::wstring contentLinkId = Utf8ToUtf16(fields.contentLinkId);
  if (IsDirectLink(contentLinkId)) {
    if (!IsContentAddress(contentLinkId)) {
      outcome.failureCode = kInvalidContentAddress;
      Trace(options, "ParseSchemeArgs failed: the content address is not a web address");
      return;
    }
    content.contentUrl = contentLinkId;
    content.contentKind = L"url_direct";
    content.scriptId = 0;
    Trace(options, "ParseSchemeArgs: contentLinkId is a direct URL. Skipping GetContentData.");
  } else {
    std::string errorText;
    std::optional<ContentData> data;
    if (source.getContentData)
      data = source.getContentData(content.platformDomain, fields.contentLinkId, fields.token, errorText);
    if (!data) {
      Trace(options, "ParseSchemeArgs failed: GetContentData returned empty value");
      if (errorText.empty()) {
        outcome.failureCode = "api_content_data_failed";
      } else {
        outcome.kind = LinkOutcome::Kind::kServerMessage;
        outcome.serverMessage = errorText;
      }
      return;
    }
    if (!ContentFromServer(*data, source, content, outcome.failureCode, options))
      return;
  }
  Trace(options, "ParseSchemeArgs succeeded");
  outcome.kind = LinkOutcome::Kind::kContent;
}

}  // namespace

bool DecodeLaunchLink(const std::wstring& payload,
                      LinkFields& fields,
                      std::string& errorCode,
                      const LinkParseOptions& options) {
  return Guarded(errorCode, options, [&] { return DecodeFields(payload, fields, errorCode, options); });
}

LinkOutcome ResolveLaunchLink(const std::wstring& payload,
                              const ContentSource& source,
                              const LinkParseOptions& options) {
  Trace(options, "ParseSchemeArgs called with payload length: " + std::to_string(Utf16Length(payload)));
  LinkOutcome outcome;
  outcome.failureCode = "unknown_error";
  if (!Guarded(outcome.failureCode, options, [&] {
        Resolve(payload, source, options, outcome);
        return true;
      })) {
    outcome.kind = LinkOutcome::Kind::kFailure;  // an exception's code
  }
  return outcome;
}

std::optional<std::wstring> LaunchLinkPlatform(const std::wstring& payload) {
  LinkFields fields;
  std::string ignored;
  if (!DecodeLaunchLink(payload, fields, ignored))
    return std::nullopt;
  return PlatformDomainOf(fields);
}

void WriteLinkContent(const LinkContent& content, AppState& state) {
  state.platformDomain = content.platformDomain;
  state.contentUrl = content.contentUrl;
  state.contentKind = content.contentKind;
  state.watermarkText = content.watermarkText;
  state.scriptId = content.scriptId;
  if (content.pageScript)
    state.pageScript = *content.pageScript;
}

bool ParseSchemeArgs(const std::wstring& payload,
                     std::string& errorCode,
                     const ContentSource& source,
                     const LinkParseOptions& options) {
  const LinkOutcome outcome = ResolveLaunchLink(payload, source, options);
  AppState& state = GetAppState();
  switch (outcome.kind) {
    case LinkOutcome::Kind::kContent:
      WriteLinkContent(outcome.content, state);
      return true;
    case LinkOutcome::Kind::kServerMessage:
      errorCode = "server:" + outcome.serverMessage;
      break;
    case LinkOutcome::Kind::kFailure:
      errorCode = outcome.failureCode;
      break;
  }
  // A failure after the platform domain was known leaves it written, as the start-up expects.
  if (!outcome.content.platformDomain.empty())
    state.platformDomain = outcome.content.platformDomain;
  return false;
}
