// Fuzzes the host functions and the navigation decisions with addresses built around the
// configured domains (the allowed list, the CDN families, IP addresses) and raw text.
//  - ExtractHost: lower case, no path, query, user-info or port left in it, and the host of
//    "https://<host>/" and "blob:https://<host>" is the host again; the pin gate checks exactly
//    that host for every HTTPS address and nothing else.
//  - IsSameSite is symmetric, an IP address matches only itself, and two different hosts of one
//    site share a registrable domain.
//  - IsAllowedHost holds exactly when the host is an entry or ends with "." and an entry.
//  - PlayerAllowsNavigation agrees with a model of the policy in which every host test is a
//    match on a label boundary and only web addresses pass; "url_direct" allows at least what
//    any other kind allows.
//  - TrackPlatformSite hands back an origin that the address begins with.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/config.h"
#include "link/content.h"
#include "text/text.h"
#include "webview/navigation_policy.h"
#include "webview/public_suffix.h"

namespace {

constexpr std::size_t kMaxInput = 4096;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.rfind(prefix, 0) == 0;
}
bool EndsWith(const std::wstring& text, const std::wstring& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}
bool OnLabelBoundary(std::wstring host, const std::wstring& domain) {
  if (host.size() > 1 && host.back() == L'.')
    host.pop_back();  // one trailing dot names the same host
  return host == domain || (host.size() > domain.size() + 1 && EndsWith(host, L"." + domain));
}
bool UnderAny(const std::wstring& host, const std::vector<std::wstring>& domains) {
  for (const std::wstring& domain : domains) {
    if (OnLabelBoundary(host, domain))
      return true;
  }
  return false;
}

// An address as a host: "[...]" or a last label that is a (decimal or 0x) number.
bool LooksLikeAddress(const std::wstring& host) {
  if (!host.empty() && host[0] == L'[')
    return true;
  std::wstring h = host;
  if (h.size() > 1 && h.back() == L'.')
    h.pop_back();
  const std::size_t dot = h.rfind(L'.');
  const std::wstring last = dot == std::wstring::npos ? h : h.substr(dot + 1);
  if (last.empty())
    return false;
  std::size_t i = 0;
  bool hex = false;
  if (last.size() >= 2 && last[0] == L'0' && (last[1] == L'x' || last[1] == L'X')) {
    i = 2;
    hex = true;
  }
  for (; i < last.size(); ++i) {
    const wchar_t c = last[i];
    const bool digit = c >= L'0' && c <= L'9';
    const bool hexLetter = (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
    if (!digit && !(hex && hexLetter))
      return false;
  }
  return true;
}

std::wstring CutQueryAndFragment(const std::wstring& url) {
  const std::size_t end = url.find_first_of(L"?#");
  return end == std::wstring::npos ? url : url.substr(0, end);
}

std::wstring Text(FuzzedDataProvider& provider, std::size_t maxLength) {
  return Utf8ToUtf16(provider.ConsumeRandomLengthString(maxLength));
}

std::wstring Pick(FuzzedDataProvider& provider, const std::vector<std::wstring>& list) {
  return list[provider.ConsumeIntegralInRange<std::size_t>(0, list.size() - 1)];
}

// A host near the configured domains: an entry, a subdomain of one, one with more text after
// it or glued to it, an IP address, or raw text.
std::wstring Host(FuzzedDataProvider& provider) {
  static const std::vector<std::wstring> allowed = config::AllowedDomains();
  static std::vector<std::wstring> families = [] {
    std::vector<std::wstring> all = config::CdnFamilyA();
    for (const std::wstring& d : config::CdnFamilyB())
      all.push_back(d);
    return all;
  }();
  const std::wstring domain = provider.ConsumeBool() ? Pick(provider, families) : Pick(provider, allowed);
  switch (provider.ConsumeIntegralInRange<int>(0, 6)) {
    case 0:
      return domain;
    case 1:
      return Text(provider, 12) + L"." + domain;
    case 2:
      return domain + L"." + Text(provider, 16);
    case 3:
      return Text(provider, 8) + domain + Text(provider, 8);
    case 4: {
      std::wstring address;
      for (int i = 0; i < 4; ++i)
        address += (i ? L"." : L"") + std::to_wstring(provider.ConsumeIntegralInRange<int>(0, 255));
      return address;
    }
    case 5:
      return L"[" + Text(provider, 20) + L"]";
    default:
      return Text(provider, 40);
  }
}

std::wstring Address(FuzzedDataProvider& provider) {
  switch (provider.ConsumeIntegralInRange<int>(0, 4)) {
    case 0:
      return L"https://" + Host(provider) + Text(provider, 40);
    case 1:
      return L"blob:https://" + Host(provider) + L"/" + Text(provider, 20);
    case 2:
      return L"http://" + Text(provider, 10) + L"@" + Host(provider) + L":" + Text(provider, 6) + L"/";
    case 3:
      return L"about:blank" + Text(provider, 4);
    default:
      return Text(provider, 120);
  }
}

void CheckHost(const std::wstring& url) {
  const std::wstring host = ExtractHost(url);
  for (wchar_t c : host)
    Check(!(c >= L'A' && c <= L'Z'));
  Check(host.find_first_of(L"/?#\\@") == std::wstring::npos);
  if (!host.empty() && host[0] != L'[')
    Check(host.find(L':') == std::wstring::npos);
  if (!host.empty()) {
    Check(ExtractHost(L"https://" + host + L"/p") == host);
    Check(ExtractHost(L"blob:https://" + host) == host);
  }
  const auto gate = PinGateTargetOf(url);
  Check(gate.has_value() == StartsWith(ToLowerCopy(url), L"https:"));
  if (gate && !gate->host.empty())
    Check(gate->host == host);

  static const std::vector<std::wstring> allowed = config::AllowedDomains();
  const bool isAllowed = IsAllowedHost(host);
  Check(isAllowed == UnderAny(host, allowed));
  if (isAllowed)
    Check(IsAllowedHost(L"x." + host));
}

void CheckSameSite(const std::wstring& a, const std::wstring& b) {
  const bool same = IsSameSite(a, b);
  Check(same == IsSameSite(b, a));
  Check(IsSameSite(a, a) == !a.empty());
  if (a != b && (LooksLikeAddress(a) || LooksLikeAddress(b)))
    Check(!same);
  if (a.empty() || b.empty())
    Check(!same);
  if (same && a != b)
    Check(!RegistrableDomain(a).empty() && RegistrableDomain(a) == RegistrableDomain(b));
}

// The policy as a list of reasons to let a navigation through; every host test on a label
// boundary.
bool ModelAllows(const std::wstring& uri,
                 const std::wstring& content,
                 const std::wstring& platform,
                 const std::wstring& kind) {
  static const std::vector<std::wstring> allowed = config::AllowedDomains();
  static const std::vector<std::wstring> familyA = config::CdnFamilyA();
  static const std::vector<std::wstring> familyB = config::CdnFamilyB();
  if (uri == L"about:blank")
    return true;
  if (!IsWebTarget(uri))
    return false;
  const std::wstring contentBase = CutQueryAndFragment(content), targetBase = CutQueryAndFragment(uri);
  if (contentBase == targetBase)
    return true;
  const std::wstring contentHost = ExtractHost(content), target = ExtractHost(uri);
  if (IsZoomUrl(contentBase) && IsZoomUrl(targetBase))
    return true;
  if (IsYouTubeUrl(contentBase) && IsYouTubeUrl(targetBase))
    return true;
  if (IsSameSite(PlatformHost(platform), target) || IsSameSite(contentHost, target))
    return true;
  if (!contentBase.empty() && StartsWith(targetBase, contentBase + L"/"))
    return true;
  if (UnderAny(target, allowed))
    return true;
  if (kind != L"url_direct")
    return false;
  return (UnderAny(contentHost, familyA) && UnderAny(target, familyA)) ||
         (UnderAny(contentHost, familyB) && UnderAny(target, familyB));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput)
    return 0;
  FuzzedDataProvider provider(data, size);
  const int kindPick = provider.ConsumeIntegralInRange<int>(0, 3);
  const std::wstring kind = kindPick == 0   ? L"url_direct"
                            : kindPick == 1 ? L"pdf"
                            : kindPick == 2 ? L"pdf_url"
                                            : Text(provider, 12);
  const std::wstring platform = provider.ConsumeBool() ? L"https://" + Host(provider) : Text(provider, 40);
  const std::wstring content = Address(provider);
  std::wstring uri = Address(provider);
  if (provider.ConsumeBool())
    uri = content + Text(provider, 30);  // the content itself, with a query, a fragment or a path

  CheckHost(uri);
  CheckHost(content);
  CheckHost(platform);
  const std::wstring target = ExtractHost(uri);
  CheckSameSite(ExtractHost(content), target);
  CheckSameSite(ExtractHost(platform), target);

  const bool allows = PlayerAllowsNavigation(uri, content, platform, kind);
  Check(allows == ModelAllows(uri, content, platform, kind));
  if (PlayerAllowsNavigation(uri, content, platform, L"pdf"))
    Check(PlayerAllowsNavigation(uri, content, platform, L"url_direct"));

  if (const auto origin = TrackPlatformSite(uri, platform)) {
    Check(StartsWith(uri, *origin) && *origin != platform);
    const std::wstring lower = ToLowerCopy(uri);
    Check(StartsWith(lower, L"https://") || StartsWith(lower, L"http://"));
    Check(origin->find(L'/', lower.find(L"://") + 3) == std::wstring::npos);
  }
  return 0;
}
