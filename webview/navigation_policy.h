// What the embedded browser may load and what its requests carry. Plain functions that decide
// and return; the WebView2 handlers and the Qt overrides only apply the answers.
#ifndef CORVEL_WEBVIEW_NAVIGATION_POLICY_H_
#define CORVEL_WEBVIEW_NAVIGATION_POLICY_H_

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The host a web address is for, as the browser engine reads it (text/web_address.h): lower
// case, without user-info or port; the origin inside a "blob:" address counts. Empty for any other
// scheme and for a host the player cannot read for certain.
std::wstring ExtractHost(const std::wstring& url);

// The host of the platform site, written with or without its scheme ("https://" assumed).
std::wstring PlatformHost(const std::wstring& platformDomain);

// Whether the view may show the address at all: "http:" and "https:", and "blob:" with an
// "http(s)" origin inside. (about:blank and the host's own page are judged by the callers.)
bool IsWebTarget(const std::wstring& uri);

// Equal hosts, or hosts of the same registrable domain by the Public Suffix List: "a.school.edu.eg"
// and "b.school.edu.eg" are one site, "a.edu.eg" and "b.edu.eg" are not, nor are two github.io
// pages. An IP address is the same site only as itself.
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

// Where an HTTPS request goes, for the certificate-pin gate.
struct PinGateTarget {
  std::wstring host;  // empty when the address cannot be read: such a request is blocked
  std::uint16_t port = 443;
};

// The target of an HTTPS request; nothing for other schemes.
std::optional<PinGateTarget> PinGateTargetOf(const std::wstring& uri);

// The permissions a page may ask for, as both web-view backends tell them apart.
enum class PagePermission { kMicrophone, kCamera, kMicrophoneAndCamera, kNotifications, kOther };

enum class PermissionAnswer {
  kAllow,
  kDeny,
  kDefault,  // the browser's own handling
};

// A page of the lesson: the view shows the host's own composed page, or an http(s) page on the
// content's host or on the platform's site.
bool IsLessonPage(const std::wstring& pageUrl,
                  bool composedPage,
                  const std::wstring& contentUrl,
                  const std::wstring& platformDomain);

// The answer to a page's permission request. Lessons use the microphone and camera (meetings)
// and notifications: granted to lesson pages and the Zoom hosts, denied to every other origin.
// Every other kind (geolocation, unknown kinds, ...) keeps the browser's own handling.
PermissionAnswer AnswerPagePermission(PagePermission permission,
                                      const std::wstring& origin,
                                      const std::wstring& contentUrl,
                                      const std::wstring& platformDomain);

// Whether a top-level navigation carries the identification header (the configured patterns).
bool WantsIdentificationHeader(const std::wstring& url);

#endif  // CORVEL_WEBVIEW_NAVIGATION_POLICY_H_
