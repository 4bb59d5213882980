// What the embedded browser may load and what its requests carry. Plain functions that decide
// and return; the WebView2 handlers and the Qt overrides only apply the answers.
#ifndef CORVEL_WEBVIEW_NAVIGATION_POLICY_H_
#define CORVEL_WEBVIEW_NAVIGATION_POLICY_H_

#include <optional>
#include <string>
#include <utility>
#include <vector>

// Lower-cased host of an address ("" when it has no "://"); "blob:" addresses are judged by the
// origin inside them. User-info and the port are dropped.
std::wstring ExtractHost(const std::wstring& url);

// The text after the second-to-last "."; the whole host when it has fewer than two dots.
std::wstring LastTwoLabels(const std::wstring& host);

// Equal hosts, one a subdomain of the other, or the same last two labels. An IP address (an
// IPv6 literal, or a host whose last label is a number) is the same site only as itself.
bool IsSameSite(const std::wstring& known, const std::wstring& candidate);

// The host equals an allowed domain or ends with "." and one (the configured list of 39).
bool IsAllowedHost(const std::wstring& host);

// The player window's navigation policy: true lets the navigation go on.
bool PlayerAllowsNavigation(const std::wstring& uri,
                            const std::wstring& contentUrl,
                            const std::wstring& platformDomain,
                            const std::wstring& contentKind);

// The "Referer" the player sets on a request, if any: the platform site for YouTube requests.
std::optional<std::wstring> PlayerRefererFor(const std::wstring& uri, const std::wstring& platformDomain);

// The init screen follows the platform site the student browses: the new platform domain when
// this navigation changes it, nothing otherwise. Never cancels a navigation.
std::optional<std::wstring> TrackPlatformSite(const std::wstring& uri, const std::wstring& platformDomain);

// The two fixed headers the init screen adds to every request (name, value).
std::vector<std::pair<std::wstring, std::wstring>> InitScreenRequestHeaders();

// The host an HTTPS request must be pin-checked for, or nothing for other schemes.
std::optional<std::wstring> PinGateHost(const std::wstring& uri);

// The permissions a page may ask for, as both web-view backends tell them apart.
enum class PagePermission { kMicrophone, kCamera, kMicrophoneAndCamera, kNotifications, kOther };

// Whether the view grants a page's permission request at once. Lessons use the microphone and
// camera (meetings) and notifications; every other kind (geolocation, unknown kinds, ...) keeps
// the browser's own handling.
bool GrantsPagePermission(PagePermission permission);

// Whether a top-level navigation carries the identification header (the configured patterns).
bool WantsIdentificationHeader(const std::wstring& url);

#endif  // CORVEL_WEBVIEW_NAVIGATION_POLICY_H_
