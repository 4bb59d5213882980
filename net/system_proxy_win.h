// The system's proxy for the player's own WinHTTP requests: the user's Internet settings, read
// through WinHTTP's proxy functions. Automatic discovery (WPAD) and a PAC script come first when
// the settings ask for them; otherwise a named proxy with its bypass list. A request for which
// none applies, or whose discovery fails, goes direct. HTTPS goes through the proxy in a tunnel
// (CONNECT), so the server's certificate is judged as on a direct connection.
//
// The proxy is a session's (WinHttpOpen with a named proxy): not every WinHTTP takes one per
// request (Wine's does not), so requests through a proxy run on a session opened for it.
#ifndef CORVEL_NET_SYSTEM_PROXY_WIN_H_
#define CORVEL_NET_SYSTEM_PROXY_WIN_H_

#include <windows.h>
#include <winhttp.h>

#include <optional>
#include <string>

struct SystemProxy {
  std::wstring proxy;   // "host:port" (or WinHTTP's per-scheme list)
  std::wstring bypass;  // empty: none
  bool operator<(const SystemProxy& other) const {
    return proxy != other.proxy ? proxy < other.proxy : bypass < other.bypass;
  }
};

// The proxy for `url` by the user's settings; nothing for a direct connection. `session` serves
// the discovery's own requests.
std::optional<SystemProxy> SystemProxyFor(HINTERNET session, const std::wstring& url);

// WinHttpOpen for the player: through `proxy`, or direct without one. Null when it fails.
HINTERNET OpenWinHttpSession(const std::wstring& agent, const std::optional<SystemProxy>& proxy);

#endif  // CORVEL_NET_SYSTEM_PROXY_WIN_H_
