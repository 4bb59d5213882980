#include "net/system_proxy_win.h"

#include <atomic>

namespace {

// Automatic discovery that found nothing is not tried again by this process: on a network
// without WPAD every try costs name lookups.
std::atomic<bool> g_discoveryFailed{false};

// WinHTTP hands its proxy strings over to be freed with GlobalFree.
struct GlobalString {
  LPWSTR text = nullptr;
  ~GlobalString() {
    if (text != nullptr)
      GlobalFree(text);
  }
  std::wstring value() const { return text != nullptr ? std::wstring(text) : std::wstring(); }
};

}  // namespace

std::optional<SystemProxy> SystemProxyFor(HINTERNET session, const std::wstring& url) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG settings{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&settings))
    return std::nullopt;  // no settings: direct
  const GlobalString autoConfig{settings.lpszAutoConfigUrl}, named{settings.lpszProxy},
      bypass{settings.lpszProxyBypass};

  const bool discover = settings.fAutoDetect && !g_discoveryFailed.load();
  if (discover || autoConfig.text != nullptr) {
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (autoConfig.text != nullptr) {
      options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
      options.lpszAutoConfigUrl = autoConfig.text;
    }
    if (discover) {
      options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
      options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO found{};
    if (WinHttpGetProxyForUrl(session, url.c_str(), &options, &found)) {
      const GlobalString foundProxy{found.lpszProxy}, foundBypass{found.lpszProxyBypass};
      if (found.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && foundProxy.text != nullptr)
        return SystemProxy{foundProxy.value(), foundBypass.value()};
      return std::nullopt;  // the script's or the discovery's answer: direct
    }
    if (discover && autoConfig.text == nullptr)
      g_discoveryFailed = true;
    // Nothing found: the named proxy, if any, serves.
  }
  if (named.text == nullptr || *named.text == L'\0')
    return std::nullopt;
  return SystemProxy{named.value(), bypass.value()};
}

HINTERNET OpenWinHttpSession(const std::wstring& agent, const std::optional<SystemProxy>& proxy) {
  if (!proxy)
    return WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                       WINHTTP_NO_PROXY_BYPASS, 0);
  return WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy->proxy.c_str(),
                     proxy->bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : proxy->bypass.c_str(), 0);
}
