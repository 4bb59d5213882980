#include "link/content.h"

#include <optional>

#include "base/app_state.h"
#include "config/config.h"
#include "text/text.h"
#include "text/web_address.h"

namespace {

bool Contains(const std::wstring& text, const std::wstring& part) {
  return text.find(part) != std::wstring::npos;
}

// The id runs from `from` to the first of `stops` found after it (tried in order), or the end.
std::wstring IdUntil(const std::wstring& address, size_t from, std::initializer_list<wchar_t> stops) {
  for (wchar_t stop : stops) {
    const size_t end = address.find(stop, from);
    if (end != std::wstring::npos)
      return address.substr(from, end - from);
  }
  return address.substr(from);
}

}  // namespace

bool IsYouTubeUrl(const std::wstring& address) {
  const std::optional<WebAddress> web = ParseWebOrBlobAddress(address);
  return web && (HostIsOrIsUnder(web->host, config::YouTubeDomain()) ||
                 HostIsOrIsUnder(web->host, config::YouTubeShortDomain()));
}

bool IsZoomUrl(const std::wstring& address) {
  const std::optional<WebAddress> web = ParseWebOrBlobAddress(address);
  return web && HostIsOrIsUnder(web->host, config::ZoomDomain());
}

std::wstring NormalizeYouTubeUrl(const std::wstring& address) {
  return NormalizeYouTubeUrl(address, GetAppState().platformDomain);
}

std::wstring NormalizeYouTubeUrl(const std::wstring& address, const std::wstring& platformDomain) {
  const std::wstring origin = UrlEncode(platformDomain);
  // Searches run on a lower-cased copy; lower-casing keeps positions, so the id is cut from
  // the address itself and keeps its letter case.
  const std::wstring lower = ToLowerCopy(address);
  const std::wstring shortLink = config::YouTubeShortDomain() + L"/";
  std::wstring id;
  size_t at = 0;
  if ((at = lower.find(shortLink)) != std::wstring::npos) {
    id = IdUntil(address, at + shortLink.size(), {L'?'});
  } else if (Contains(lower, L"/embed/")) {
    if (Contains(address, L"origin="))
      return address;
    const wchar_t separator = Contains(address, L"?") ? L'&' : L'?';
    return address + separator + L"origin=" + origin;
  } else if ((at = lower.find(L"/shorts/")) != std::wstring::npos) {
    id = IdUntil(address, at + 8, {L'/', L'?'});
  } else if ((at = lower.find(L"/live/")) != std::wstring::npos) {
    id = IdUntil(address, at + 6, {L'/', L'?'});
  } else if ((at = lower.find(L"v=")) != std::wstring::npos) {
    id = IdUntil(address, at + 2, {L'&'});
  } else {
    return address;
  }
  while (!id.empty() && id.back() == L'/')
    id.pop_back();
  // An id made only of slashes is no id: an embed address without one would show an error page.
  if (id.empty())
    return address;
  return config::YouTubeEmbedPrefix() + id + L"?origin=" + origin;
}
