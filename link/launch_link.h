// The launch link: "corvel:" followed by three envelopes (token, content link id, platform
// domain) separated by ":". ParseSchemeArgs decrypts them and fills the content fields of
// GetAppState(), asking the platform's server through a ContentSource when the content link id
// is not an address itself.
#ifndef CORVEL_LINK_LAUNCH_LINK_H_
#define CORVEL_LINK_LAUNCH_LINK_H_

#include <functional>
#include <optional>
#include <string>

#include "link/content.h"

// How the parser reaches the platform. Both calls block; both run on the caller's thread.
struct ContentSource {
  // The content data request. An empty result is a failure; errorText then holds the server's
  // message or the client's error text, when there was one. Must not throw.
  std::function<std::optional<ContentData>(const std::wstring& domain, const std::string& contentLinkId,
                                           const std::string& token, std::string& errorText)>
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
bool DecodeLaunchLink(const std::wstring& payload, LinkFields& fields, std::string& errorCode,
                      const LinkParseOptions& options = {});

// Error codes of a link that decrypted but cannot be used: its platform domain is not a host
// (with an optional port and "https://"), or the address to show (the content link id, or the
// server's answer) is not an http(s) address. Both are found before any request leaves.
inline constexpr char kInvalidPlatformDomain[] = "invalid_platform_domain";
inline constexpr char kInvalidContentAddress[] = "invalid_content_address";

// True when the content fields of GetAppState() are ready for the player window. On false,
// errorCode holds one of "unknown_error", "split_failed_parts_<n>",
// "decrypt_failed_empty_strings", kInvalidPlatformDomain, kInvalidContentAddress,
// "server:<text>", "api_content_data_failed", "exception_<message>" or "unknown_exception".
// The link key is wiped on every path.
bool ParseSchemeArgs(const std::wstring& payload, std::string& errorCode, const ContentSource& source,
                     const LinkParseOptions& options = {});

#endif  // CORVEL_LINK_LAUNCH_LINK_H_
