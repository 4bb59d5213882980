#include "webview/navigation_policy.h"

#include <string_view>

#include "config/config.h"
#include "link/content.h"
#include "text/text.h"

namespace {

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.rfind(prefix, 0) == 0;
}

bool EndsWith(const std::wstring& text, const std::wstring& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool Contains(const std::wstring& text, const std::wstring& part) {
  return text.find(part) != std::wstring::npos;
}

// The host inside an authority ("user:pass@host:port"): user-info dropped, port cut off.
// Without this, "https://allowed.example:x@other.example/" would be judged as allowed.example.
std::wstring HostOfAuthority(std::wstring authority) {
  const size_t at = authority.rfind(L'@');
  if (at != std::wstring::npos)
    authority.erase(0, at + 1);
  if (!authority.empty() && authority[0] == L'[') {  // IPv6 literal
    const size_t close = authority.find(L']');
    return close == std::wstring::npos ? authority : authority.substr(0, close + 1);
  }
  const size_t colon = authority.find(L':');
  if (colon != std::wstring::npos)
    authority.resize(colon);
  return authority;
}

// The authority runs to the first "/", "?", "#" or "\" (browsers read "\" as "/" in web
// addresses), so a query such as "?x=.allowed.example" is never taken for part of the host.
std::wstring AuthorityAfter(const std::wstring& url, size_t start) {
  const size_t end = url.find_first_of(L"/?#\\", start);
  return url.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

std::wstring CutQueryAndFragment(const std::wstring& url) {
  const size_t end = url.find_first_of(L"?#");
  return end == std::wstring::npos ? url : url.substr(0, end);
}

// The host is the domain or one of its subdomains: a match on a label boundary, so
// "b-cdn.net.attacker.example" and "notb-cdn.net" are not under "b-cdn.net".
bool IsOrIsUnder(const std::wstring& host, const std::wstring& domain) {
  return host == domain || EndsWith(host, L"." + domain);
}

bool IsUnderAny(const std::wstring& host, const std::vector<std::wstring>& domains) {
  for (const std::wstring& domain : domains) {
    if (IsOrIsUnder(host, domain))
      return true;
  }
  return false;
}

bool IsHexDigit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// An IP address written as a host: an IPv6 literal in brackets, or a host whose last label is a
// number, which browsers read as an IPv4 address ("10.9.0.1", also "127.1" or "0x7f.1"). The
// labels of an address say nothing about who runs it, so such hosts are never matched by their
// last labels or as subdomains.
bool IsIpLiteral(const std::wstring& host) {
  if (!host.empty() && host.front() == L'[')
    return true;
  std::wstring_view view = host;
  if (view.size() > 1 && view.back() == L'.')
    view.remove_suffix(1);
  const size_t dot = view.rfind(L'.');
  const std::wstring_view last = dot == std::wstring_view::npos ? view : view.substr(dot + 1);
  if (last.empty())
    return false;
  if (last.size() >= 2 && last[0] == L'0' && (last[1] == L'x' || last[1] == L'X')) {
    for (wchar_t c : last.substr(2)) {
      if (!IsHexDigit(c))
        return false;
    }
    return true;
  }
  for (wchar_t c : last) {
    if (c < L'0' || c > L'9')
      return false;
  }
  return true;
}

}  // namespace

std::wstring ExtractHost(const std::wstring& url) {
  std::wstring text = url;
  if (text.size() > 4 && StartsWith(text, L"blob:"))
    text.erase(0, 5);
  const size_t scheme = text.find(L"://");
  if (scheme == std::wstring::npos)
    return std::wstring();
  return ToLowerCopy(HostOfAuthority(AuthorityAfter(text, scheme + 3)));
}

std::wstring LastTwoLabels(const std::wstring& host) {
  const size_t last = host.rfind(L'.');
  if (last == std::wstring::npos || last == 0)
    return host;
  const size_t secondLast = host.rfind(L'.', last - 1);
  return secondLast == std::wstring::npos ? host : host.substr(secondLast + 1);
}

bool IsSameSite(const std::wstring& known, const std::wstring& candidate) {
  if (known.empty() || candidate.empty())
    return false;
  if (known == candidate)
    return true;
  if (IsIpLiteral(known) || IsIpLiteral(candidate))
    return false;
  const std::wstring& longer = known.size() >= candidate.size() ? known : candidate;
  const std::wstring& shorter = known.size() >= candidate.size() ? candidate : known;
  if (EndsWith(longer, L"." + shorter))
    return true;
  return LastTwoLabels(known) == LastTwoLabels(candidate);
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

  const std::wstring contentBase = CutQueryAndFragment(contentUrl);
  const std::wstring targetBase = CutQueryAndFragment(uri);
  if (contentBase == targetBase)
    return true;

  const std::wstring contentHost = ExtractHost(contentUrl);
  const std::wstring targetHost = ExtractHost(uri);
  const std::wstring platformHost = ExtractHost(platformDomain);
  if (IsZoomUrl(contentBase) && IsZoomUrl(targetBase))
    return true;
  if (IsYouTubeUrl(contentBase) && IsYouTubeUrl(targetBase))
    return true;
  if (IsSameSite(platformHost, targetHost) || IsSameSite(contentHost, targetHost))
    return true;
  if (StartsWith(targetBase, contentBase + L"/"))
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

std::optional<std::wstring> PinGateHost(const std::wstring& uri) {
  const std::wstring lower = ToLowerCopy(uri);
  if (!StartsWith(lower, L"https://"))
    return std::nullopt;
  // User-info is not part of the host: "https://user@host/" is checked as "host", so a page
  // cannot slip past the check by adding it to an address.
  return HostOfAuthority(AuthorityAfter(lower, 8));
}

bool GrantsPagePermission(PagePermission permission) {
  switch (permission) {
    case PagePermission::kMicrophone:
    case PagePermission::kCamera:
    case PagePermission::kMicrophoneAndCamera:
    case PagePermission::kNotifications:
      return true;
    case PagePermission::kOther:
      break;
  }
  return false;
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
