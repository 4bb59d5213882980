// The client's transport on WinHTTP: one synchronous session per client for direct requests,
// and one for each proxy the system's settings name (net/system_proxy_win.h).
//
// A request to a host without pins runs with WinHTTP's own certificate validation, which
// refuses an untrusted server in the TLS handshake. A request to a pinned host runs with the
// certificate errors ignored, and its connection's certificate is judged in the SENDING_REQUEST
// status callback, before any byte of the request goes out (SendingRequestGuard), and once more
// after the response.
#include <windows.h>
#include <winhttp.h>

#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/winhttp_handles_win.h"
#include "config/config.h"
#include "net/http_client.h"
#include "net/pinning_win.h"
#include "net/system_proxy_win.h"
#include "net/winhttp_options_win.h"
#include "text/text.h"

namespace {

constexpr DWORD kResolveTimeoutMs = 10000;
constexpr DWORD kConnectTimeoutMs = 10000;
constexpr DWORD kSendTimeoutMs = 30000;
constexpr DWORD kReceiveTimeoutMs = 30000;

HttpResponse Failure(const std::string& error) {
  HttpResponse response;
  response.error = error;
  return response;
}

std::string WithCode(const char* text, DWORD code) {
  return std::string(text) + std::to_string(code);
}

// The status code of an answered request; 0 when it cannot be read.
DWORD StatusOf(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    return 0;
  return status;
}

class WinHttpTransport : public HttpTransport {
 public:
  WinHttpTransport() : agent_(config::ClientUserAgent()) {
    session_.reset(OpenSession(std::nullopt));
    if (!session_)
      throw std::runtime_error("WinHttpOpen failed");
  }

  std::optional<UrlParts> SplitUrl(const std::wstring& url) override {
    // The query stays in the path: no separate buffer is given for the extra information.
    std::vector<wchar_t> host(256, L'\0');
    std::vector<wchar_t> path(2048, L'\0');
    URL_COMPONENTS components{};
    components.dwStructSize = sizeof(components);
    components.lpszHostName = host.data();
    components.dwHostNameLength = static_cast<DWORD>(host.size());
    components.lpszUrlPath = path.data();
    components.dwUrlPathLength = static_cast<DWORD>(path.size());
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &components))
      return std::nullopt;
    UrlParts parts;
    parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
    parts.host.assign(host.data(), components.dwHostNameLength);
    parts.port = components.nPort;
    parts.path.assign(path.data(), components.dwUrlPathLength);
    return parts;
  }

  HttpResponse Exchange(const std::wstring& method,
                        const UrlParts& url,
                        const std::vector<std::wstring>& headerLines,
                        const std::string& body,
                        ServerTrust trust,
                        bool preflight) override {
    if (preflight && !Preflight(url))
      return Failure(PreflightFailure(url.host));
    base::UniqueHInternet connection(WinHttpConnect(SessionFor(url), url.host.c_str(), url.port, 0));
    if (!connection)
      return Failure("WinHttpConnect failed");
    base::UniqueHInternet request(
        WinHttpOpenRequest(connection.get(), method.c_str(), url.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES, url.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request)
      return Failure("WinHttpOpenRequest failed");
    const bool pinned = url.secure && IsPinnedHost(url.host);
    ApplyPlayerRequestOptions(request.get(), true, pinned);

    for (const std::wstring& line : headerLines) {
      WinHttpAddRequestHeaders(request.get(), line.c_str(), static_cast<DWORD>(-1),
                               WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }

    // The body goes out of a buffer of our own, which the guard wipes when it refuses the server.
    std::vector<char> sending(body.begin(), body.end());
    SendingRequestGuard guard(request, url.host, trust, &sending);
    if (pinned && !guard.Install())
      return Failure(WithCode("WinHttpSendRequest failed: ", GetLastError()));
    const DWORD bodySize = static_cast<DWORD>(sending.size());
    LPVOID optional = sending.empty() ? WINHTTP_NO_REQUEST_DATA : sending.data();
    const BOOL sent = WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, optional, bodySize,
                                         bodySize, guard.Context());
    const DWORD sendError = GetLastError();
    if (guard.Refused())
      return Failure("SSL Pin validation FAILED for " + Utf16ToUtf8(url.host));
    if (!sent && StatusOf(request.get()) == HTTP_STATUS_PROXY_AUTH_REQ)
      return Failure(kProxyAuthenticationError);
    if (!sent)
      return Failure(WithCode("WinHttpSendRequest failed: ", sendError));
    if (!WinHttpReceiveResponse(request.get(), nullptr)) {
      return Failure(WithCode("WinHttpReceiveResponse failed: ", GetLastError()));
    }
    // A proxy that wants a sign-in answers for the server; there is no server certificate then.
    if (StatusOf(request.get()) == HTTP_STATUS_PROXY_AUTH_REQ)
      return Failure(kProxyAuthenticationError);
    if (pinned && !ApplyPinCheck(CheckServerTrust(request.get(), url.host, trust), url.host)) {
      return Failure("SSL Pin validation FAILED for " + Utf16ToUtf8(url.host));
    }

    HttpResponse response;
    const DWORD status = StatusOf(request.get());
    response.statusCode = status;

    for (;;) {
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(request.get(), &available)) {
        // A body cut short is not a completed exchange, whatever the status said.
        response.error = WithCode("WinHttpQueryDataAvailable failed: ", GetLastError());
        return response;
      }
      if (available == 0)
        break;
      std::vector<char> buffer(static_cast<std::size_t>(available) + 1, '\0');
      DWORD read = 0;
      if (!WinHttpReadData(request.get(), buffer.data(), available, &read)) {
        response.error = WithCode("WinHttpReadData failed: ", GetLastError());
        return response;
      }
      response.body.append(buffer.data(), read);
    }
    response.success = status >= 200 && status <= 299;
    return response;
  }

 private:
  // "HEAD /" to the server, judged by ServerTrust::kPinned: false only when the pins refused it.
  // A request of its own, with no secret in it: WinHTTP is not bound to keep a request back when
  // the sending callback refuses its server (Wine's sends it anyway, without the body), so the
  // first request to a server goes only once this one passed.
  bool Preflight(const UrlParts& url) {
    base::UniqueHInternet connection(WinHttpConnect(SessionFor(url), url.host.c_str(), url.port, 0));
    if (!connection)
      return true;
    base::UniqueHInternet request(WinHttpOpenRequest(connection.get(), L"HEAD", L"/", nullptr,
                                                     WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                     WINHTTP_FLAG_SECURE));
    if (!request)
      return true;
    const bool pinned = IsPinnedHost(url.host);
    ApplyPlayerRequestOptions(request.get(), false, pinned);
    SendingRequestGuard guard(request, url.host, ServerTrust::kPinned, nullptr);
    if (pinned && !guard.Install())
      return false;
    const bool answered = WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                             WINHTTP_NO_REQUEST_DATA, 0, 0, guard.Context()) &&
                          !guard.Refused() && WinHttpReceiveResponse(request.get(), nullptr);
    if (guard.Refused())
      return false;
    // A proxy that wants a sign-in kept the server out of reach: the real request reports it. Some
    // WinHTTPs (Wine's) fail the send on the proxy's answer to the tunnel but keep its status.
    if (StatusOf(request.get()) == HTTP_STATUS_PROXY_AUTH_REQ)
      return true;
    // Checked whatever the exchange gave: a pinned host that shows no certificate is refused.
    if (!ValidateServerPins(request.get(), url.host))
      return false;
    // A HEAD answer has no body, but WinHTTP hands a connection back to its keep-alive pool only
    // once a read has reached the answer's end (asking how much is available is not enough);
    // without this read the real request that follows opens a second connection and TLS
    // handshake. Done after the check: the check reads the certificate off the connection, which
    // this read hands back.
    if (answered) {
      char none = 0;
      DWORD read = 0;
      WinHttpReadData(request.get(), &none, sizeof(none), &read);
    }
    return true;
  }

  // A session with the player's time-outs, direct or through `proxy`.
  HINTERNET OpenSession(const std::optional<SystemProxy>& proxy) const {
    HINTERNET session = OpenWinHttpSession(agent_, proxy);
    if (session == nullptr)
      return nullptr;
    WinHttpSetTimeouts(session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs);
    // The wait for the answer's headers is bounded by the receive time-out as well: some WinHTTP
    // implementations (Wine's) apply only this option, not the socket time-out, to that wait.
    DWORD headersTimeout = kReceiveTimeoutMs;
    WinHttpSetOption(session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headersTimeout,
                     sizeof(headersTimeout));
    return session;
  }

  // The session for a request to the server of `url`: the direct one, or the one of its proxy.
  // The system's answer is asked once per server (a PAC script or discovery costs requests of
  // its own) and kept, with the proxy's session, for the client's life. A proxy session that
  // cannot be opened leaves the request direct.
  HINTERNET SessionFor(const UrlParts& url) {
    const std::wstring origin = std::wstring(url.secure ? L"https://" : L"http://") + url.host + L":" +
                                std::to_wstring(url.port) + L"/";
    {
      const std::lock_guard<std::mutex> guard(lock_);
      if (const auto known = proxyOf_.find(origin); known != proxyOf_.end())
        return known->second;
    }
    const std::optional<SystemProxy> proxy = SystemProxyFor(session_.get(), origin);
    const std::lock_guard<std::mutex> guard(lock_);
    HINTERNET session = session_.get();
    if (proxy) {
      base::UniqueHInternet& proxied = proxied_[*proxy];
      if (!proxied)
        proxied.reset(OpenSession(proxy));
      if (proxied)
        session = proxied.get();
    }
    proxyOf_[origin] = session;
    return session;
  }

  const std::wstring agent_;
  base::UniqueHInternet session_;
  std::mutex lock_;
  std::map<SystemProxy, base::UniqueHInternet> proxied_;
  std::map<std::wstring, HINTERNET> proxyOf_;  // server origin -> its session (one of the above)
};

}  // namespace

std::unique_ptr<HttpTransport> MakePlatformTransport() {
  return std::make_unique<WinHttpTransport>();
}
