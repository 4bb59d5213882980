// The launch link: "corvel:" followed by three envelopes (token, content link id, platform
// domain) separated by ":". ParseSchemeArgs decrypts them and fills the content fields of
// GetAppState(), asking the platform's server through a ContentSource when the content link id
// is not an address itself.
#ifndef CORVEL_LINK_LAUNCH_LINK_H_
#define CORVEL_LINK_LAUNCH_LINK_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/app_state.h"
#include "link/content.h"

// How the parser reaches the platform. Both calls block; both run on the caller's thread.
struct ContentSource {
  // The content data request. An empty result is a failure; errorText then holds the server's
  // message or the client's error text, when there was one. Must not throw.
  std::function<std::optional<ContentData>(const std::wstring& domain,
                                           const std::string& contentLinkId,
                                           const std::string& token,
                                           std::string& errorText)>
      getContentData;
  // The page-script request (no pinning). The body on a 2xx answer, nothing otherwise. May throw;
  // the parser ignores every failure of this call.
  std::function<std::optional<std::string>(const std::wstring& address)> fetchPageScript;
};

// Receives the parser's diagnostic lines. The product passes none (the lines are discarded).
using TraceSink = std::function<void(const std::string& line)>;

struct LinkParseOptions {
  TraceSink trace;
  // Key of the three envelopes; the configured link key when empty. Support tools pass another.
  std::string keyOverride;
};

// The three decrypted fields of a link.
struct LinkFields {
  std::string token;
  std::string contentLinkId;
  std::string domain;  // as decrypted (trailing "/" and "\" still there)
};

// The first half of the parse, shared with the support tools: decode, split and decrypt. Does
// not touch GetAppState() and asks no server. On false, errorCode holds "split_failed_parts_<n>",
// "decrypt_failed_empty_strings", "exception_<message>" or "unknown_exception".
bool DecodeLaunchLink(const std::wstring& payload,
                      LinkFields& fields,
                      std::string& errorCode,
                      const LinkParseOptions& options = {});

// The platform domain of the link in `payload` (trailing "/" and "\\" removed), decoded and
// checked as ResolveLaunchLink does, before any request; nothing when the link would fail
// before its first request. Touches no global state and asks no server.
std::optional<std::wstring> LaunchLinkPlatform(const std::wstring& payload);

// Error codes of a link that decrypted but cannot be used: its platform domain is not a host
// (with an optional port and "https://"), or the address to show (the content link id, or the
// server's answer) is not an http(s) address. Both are found before any request leaves.
inline constexpr char kInvalidPlatformDomain[] = "invalid_platform_domain";
inline constexpr char kInvalidContentAddress[] = "invalid_content_address";

// What a link shows: the content fields the player window is prepared from.
struct LinkContent {
  std::wstring platformDomain;  // trailing "/" and "\\" removed
  std::wstring contentUrl;
  std::wstring contentKind;  // "url_direct", "pdf", "pdf_url" or another type text of the server
  std::wstring watermarkText;
  std::int32_t scriptId = 1;
  std::optional<std::wstring> pageScript;  // fetched for YouTube content; nothing when not fetched
};

// What resolving a link ended in: the content to show, the server's message for the student
// (UTF-8: its "message" text, or the client's error text), or a failure whose code goes into the
// diagnostic code. On a failure `content` holds what was learnt by then (the platform domain
// once it was checked).
struct LinkOutcome {
  enum class Kind { kContent, kServerMessage, kFailure };
  Kind kind = Kind::kFailure;
  LinkContent content;
  std::string serverMessage;
  std::string failureCode;  // "split_failed_parts_<n>", kInvalidPlatformDomain, ...
};

// Decodes, decrypts and checks the link and asks the server through `source` (unless the content
// link id is an address itself). Touches no global state.
LinkOutcome ResolveLaunchLink(const std::wstring& payload,
                              const ContentSource& source,
                              const LinkParseOptions& options = {});

// The content fields of the identity record become the link's; the page script only when one
// was fetched.
void WriteLinkContent(const LinkContent& content, AppState& state);

// ResolveLaunchLink, written into GetAppState(). True when the content fields of GetAppState()
// are ready for the player window. On false,
// errorCode holds one of "unknown_error", "split_failed_parts_<n>",
// "decrypt_failed_empty_strings", kInvalidPlatformDomain, kInvalidContentAddress,
// "server:<text>", "api_content_data_failed", "exception_<message>" or "unknown_exception",
// and the platform domain is written once it was checked. The link key is wiped on every path.
bool ParseSchemeArgs(const std::wstring& payload,
                     std::string& errorCode,
                     const ContentSource& source,
                     const LinkParseOptions& options = {});

#endif  // CORVEL_LINK_LAUNCH_LINK_H_
