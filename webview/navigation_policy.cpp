#include "webview/navigation_policy.h"

#include "config/config.h"
#include "link/content.h"
#include "text/text.h"
#include "text/web_address.h"
#include "webview/public_suffix.h"

namespace {

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.rfind(prefix, 0) == 0;
}

bool Contains(const std::wstring& text, const std::wstring& part) {
  return text.find(part) != std::wstring::npos;
}

std::wstring CutQueryAndFragment(const std::wstring& url) {
  const size_t end = url.find_first_of(L"?#");
  return end == std::wstring::npos ? url : url.substr(0, end);
}

bool IsUnderAny(const std::wstring& host, const std::vector<std::wstring>& domains) {
  for (const std::wstring& domain : domains) {
    if (HostIsOrIsUnder(host, domain))
      return true;
  }
  return false;
}

}  // namespace

std::wstring ExtractHost(const std::wstring& url) {
  const std::optional<WebAddress> address = ParseWebOrBlobAddress(url);
  return address ? address->host : std::wstring();
}

std::wstring PlatformHost(const std::wstring& platformDomain) {
  if (Contains(platformDomain, L"://"))
    return ExtractHost(platformDomain);
  return ExtractHost(L"https://" + platformDomain);
}

bool IsWebTarget(const std::wstring& uri) {
  return ParseWebOrBlobAddress(uri).has_value();
}

bool IsSameSite(const std::wstring& known, const std::wstring& candidate) {
  if (known.empty() || candidate.empty())
    return false;
  if (known == candidate)
    return true;
  if (IsIpAddressHost(known) || IsIpAddressHost(candidate))
    return false;
  const std::wstring site = RegistrableDomain(known);
  return !site.empty() && site == RegistrableDomain(candidate);
}

bool IsAllowedHost(const std::wstring& host) {
  static const std::vector<std::wstring> allowed = config::AllowedDomains();
  return IsUnderAny(host, allowed);
}

bool PlayerAllowsNavigation(const std::wstring& uri,
                            const std::wstring& contentUrl,
                            const std::wstring& platformDomain,
                            const std::wstring& contentKind) {
  if (uri == L"about:blank")
    return true;
  // Nothing but web pages: no data:, file:, javascript:, view-source: or other scheme, whatever
  // host it names.
  if (!IsWebTarget(uri))
    return false;

  const std::wstring contentBase = CutQueryAndFragment(contentUrl);
  const std::wstring targetBase = CutQueryAndFragment(uri);
  if (contentBase == targetBase)
    return true;

  const std::wstring contentHost = ExtractHost(contentUrl);
  const std::wstring targetHost = ExtractHost(uri);
  if (IsZoomUrl(contentBase) && IsZoomUrl(targetBase))
    return true;
  if (IsYouTubeUrl(contentBase) && IsYouTubeUrl(targetBase))
    return true;
  if (IsSameSite(PlatformHost(platformDomain), targetHost) || IsSameSite(contentHost, targetHost))
    return true;
  if (!contentBase.empty() && StartsWith(targetBase, contentBase + L"/"))
    return true;
  if (IsAllowedHost(targetHost))
    return true;

  if (contentKind != L"url_direct")
    return false;
  // A video CDN hands playback over between its own hosts. A family's domain must end the
  // host: one that merely contains it ("b-cdn.net.attacker.example") is anybody's.
  static const std::vector<std::wstring> familyA = config::CdnFamilyA();
  static const std::vector<std::wstring> familyB = config::CdnFamilyB();
  if (IsUnderAny(contentHost, familyA) && IsUnderAny(targetHost, familyA))
    return true;
  if (IsUnderAny(contentHost, familyB) && IsUnderAny(targetHost, familyB))
    return true;
  return false;
}

std::optional<std::wstring> PlayerRefererFor(const std::wstring& uri, const std::wstring& platformDomain) {
  if (!IsYouTubeUrl(uri))
    return std::nullopt;
  std::wstring referer = platformDomain;
  if (!referer.empty() && referer.back() == L'/')
    referer.pop_back();
  if (referer.empty())
    return std::nullopt;
  return referer;
}

std::optional<std::wstring> TrackPlatformSite(const std::wstring& uri, const std::wstring& platformDomain) {
  const std::wstring lower = ToLowerCopy(uri);
  if (lower.size() > 13 && Contains(lower, L"select-tenants"))
    return std::nullopt;
  if (!StartsWith(lower, L"https://") && !StartsWith(lower, L"http://"))
    return std::nullopt;
  const size_t hostStart = lower.find(L"://") + 3;
  const size_t slash = uri.find(L'/', hostStart);
  const std::wstring origin = slash == std::wstring::npos ? uri : uri.substr(0, slash);
  if (origin.empty() || origin == platformDomain)
    return std::nullopt;
  return origin;
}

std::vector<std::pair<std::wstring, std::wstring>> InitScreenRequestHeaders() {
  std::vector<std::pair<std::wstring, std::wstring>> headers;
  const std::wstring value = config::InitHeaderValue();
  for (const std::wstring& name : config::InitHeaderNames())
    headers.emplace_back(name, value);
  return headers;
}

std::optional<PinGateTarget> PinGateTargetOf(const std::wstring& uri) {
  const std::wstring lower = ToLowerCopy(uri);
  if (!StartsWith(lower, L"https:"))
    return std::nullopt;
  PinGateTarget target;
  // User-info is not part of the host, and the port is the request's own: a page cannot slip
  // past the check by adding either to an address.
  if (const std::optional<WebAddress> address = ParseWebAddress(uri)) {
    target.host = address->host;
    target.port = address->port;
  }
  return target;
}

bool IsLessonPage(const std::wstring& pageUrl,
                  bool composedPage,
                  const std::wstring& contentUrl,
                  const std::wstring& platformDomain) {
  if (composedPage)
    return true;
  const std::optional<WebAddress> page = ParseWebAddress(pageUrl);
  if (!page)
    return false;
  const std::wstring contentHost = ExtractHost(contentUrl);
  return (!contentHost.empty() && page->host == contentHost) ||
         IsSameSite(PlatformHost(platformDomain), page->host);
}

PermissionAnswer AnswerPagePermission(PagePermission permission,
                                      const std::wstring& origin,
                                      const std::wstring& contentUrl,
                                      const std::wstring& platformDomain) {
  switch (permission) {
    case PagePermission::kMicrophone:
    case PagePermission::kCamera:
    case PagePermission::kMicrophoneAndCamera:
    case PagePermission::kNotifications:
      return IsLessonPage(origin, false, contentUrl, platformDomain) || IsZoomUrl(origin)
                 ? PermissionAnswer::kAllow
                 : PermissionAnswer::kDeny;
    case PagePermission::kOther:
      break;
  }
  return PermissionAnswer::kDefault;
}

bool WantsIdentificationHeader(const std::wstring& url) {
  static const std::vector<std::wstring> patterns = config::IdentificationUrlPatterns();
  const std::wstring lower = ToLowerCopy(url);
  for (const std::wstring& pattern : patterns) {
    if (Contains(lower, pattern))
      return true;
  }
  return false;
}
