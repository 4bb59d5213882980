// The player's own synchronous HTTP(S) client for the platform's server API.
//
// One request per call: split the URL, send the request with the default headers once the
// server's certificate has been judged on the connection, check the certificate again after the
// response, read the status and the whole body. A client's first request to a server is that
// server's pre-flight: a certificate refused there, or none shown by a pinned host, ends it with
// the pre-flight's error, and the server is tried as new next time. A server is a host and a
// port: one that passed on one port of a host says nothing about a server on another port, which
// is pre-flighted by its own first request. Redirects are
// never followed. The system's proxy is used (Windows: the user's settings, automatic discovery
// and PAC scripts through WinHTTP; Linux: the proxy environment variables), an HTTPS request
// tunnelled through it (CONNECT), so the server's certificate is the server's own and is judged
// as on a direct connection. Trust in an HTTPS server rests on the certificate pins
// of its host (net/pinning.h); a host without pins must pass the system's own certificate
// validation. The server's certificate is judged on every connection, new or kept alive, before
// any byte of a request goes out on it. Request failures never throw: they come back as an
// HttpResponse with success false and a one-line error text.
//
// Threads: an HttpClient may be used from several threads at once. The default headers and the
// set of pre-flighted servers are guarded by one mutex that is never held across network I/O.
#ifndef CORVEL_NET_HTTP_CLIENT_H_
#define CORVEL_NET_HTTP_CLIENT_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "net/pinning.h"

struct HttpResponse {
  std::uint32_t statusCode = 0;  // 0 when no response was read
  std::string body;              // exactly as received
  bool success = false;          // a response was read and its status is 2xx
  std::string error;             // empty on a completed exchange (any status)
};

// An absolute http or https URL split into what a request needs.
struct UrlParts {
  bool secure = false;
  std::wstring host;  // as written in the URL (letter case kept)
  std::uint16_t port = 0;
  std::wstring path;  // with the query string; may be empty
};

// Moves the bytes: WinHTTP on Windows, libcurl elsewhere. One instance per client; its calls
// may run on several threads at once and never throw for network failures.
class HttpTransport {
 public:
  virtual ~HttpTransport() = default;

  // Nothing when the URL is not an absolute http(s) URL, its host is longer than 255 units or
  // its path and query are longer than 2047 units.
  virtual std::optional<UrlParts> SplitUrl(const std::wstring& url) = 0;

  // One exchange. headerLines are complete "Name: value" lines in sending order. Over HTTPS the
  // server's certificate is judged by `trust` before anything is sent on the connection (and
  // again once the response arrives); a server that the pins refuse gets nothing and ends the
  // exchange with "SSL Pin validation FAILED for <host>", one that the system's validation
  // refuses ends it with the transport's send failure.
  //
  // `preflight`: the client's first request to this server (over HTTPS, with pinning on). A
  // server the pins refuse then ends it with PreflightFailure(host), and so does a pinned host
  // that showed no certificate at all (not reached). libcurl judges the certificate in the TLS
  // handshake, so nothing can leave before the verdict: the request's own check is the
  // pre-flight, with no round trip of its own. WinHTTP sends a "HEAD /" without secrets first,
  // as its sending callback cannot be relied on to keep a refused request back.
  virtual HttpResponse Exchange(const std::wstring& method,
                                const UrlParts& url,
                                const std::vector<std::wstring>& headerLines,
                                const std::string& body,
                                ServerTrust trust,
                                bool preflight) = 0;
};

// "Pre-flight SSL Pin validation FAILED for <host>. MITM Attack Prevented!"
std::string PreflightFailure(const std::wstring& host);

// The error of an exchange that a proxy refused for want of a sign-in (HTTP 407): the student's
// message, English then Arabic, with its own code for support.
inline constexpr char kProxyAuthenticationError[] =
    "The network's proxy server asks for a sign-in that Corvel cannot give, so the lesson cannot be "
    "reached. Please ask the network's administrator to let Corvel through.\n"
    "\u064a\u0637\u0644\u0628 \u0627\u0644\u062e\u0627\u062f\u0645 \u0627\u0644\u0648\u0643\u064a\u0644 "
    "\u0644\u0644\u0634\u0628\u0643\u0629 \u062a\u0633\u062c\u064a\u0644 \u062f\u062e\u0648\u0644 "
    "\u0644\u0627 \u064a\u0633\u062a\u0637\u064a\u0639 Corvel \u062a\u0642\u062f\u064a\u0645\u0647\u060c "
    "\u0644\u0630\u0644\u0643 \u0644\u0627 \u064a\u0645\u0643\u0646 \u0627\u0644\u0648\u0635\u0648\u0644 "
    "\u0625\u0644\u0649 \u0627\u0644\u062f\u0631\u0633. \u064a\u0631\u062c\u0649 \u0623\u0646 "
    "\u062a\u0637\u0644\u0628 \u0645\u0646 \u0645\u0633\u0624\u0648\u0644 "
    "\u0627\u0644\u0634\u0628\u0643\u0629 "
    "\u0627\u0644\u0633\u0645\u0627\u062d \u0644\u0640 Corvel \u0628\u0627\u0644\u0645\u0631\u0648\u0631.\n"
    "Code: PROXY-AUTH-407";

// WinHTTP or libcurl. Throws std::runtime_error when the session cannot be opened.
std::unique_ptr<HttpTransport> MakePlatformTransport();

class HttpClient {
 public:
  // Opens a session of the platform transport; throws std::runtime_error("WinHttpOpen failed")
  // when it cannot. This is the only exception of the module.
  HttpClient();
  explicit HttpClient(std::unique_ptr<HttpTransport> transport);
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // The process-wide client, made on first use (thread-safe) and kept until the process ends.
  static HttpClient& Shared();

  // Sent with every later request of this client. A second call with the same name (exact,
  // case-sensitive) replaces the value; headers are never removed.
  void SetDefaultHeader(const std::wstring& name, const std::wstring& value);

  // For good: no pre-flight and no interception notice on this client, and a pinned host passes
  // with its pins or with the system's trust (ServerTrust::kPinsOrSystem). Call it before the
  // first request.
  void DisablePinning();

  HttpResponse Get(const std::wstring& url);
  HttpResponse Post(const std::wstring& url, const std::string& body, const std::wstring& contentType);
  HttpResponse Put(const std::wstring& url, const std::string& body, const std::wstring& contentType);
  // An empty contentType sends no Content-Type header. The body is sent as it is.
  HttpResponse Request(const std::wstring& method,
                       const std::wstring& url,
                       const std::string& body,
                       const std::wstring& contentType);

 private:
  HttpResponse RequestUnguarded(const std::wstring& method,
                                const std::wstring& url,
                                const std::string& body,
                                const std::wstring& contentType);

  std::unique_ptr<HttpTransport> transport_;
  std::mutex lock_;
  std::map<std::wstring, std::wstring> defaultHeaders_;  // guarded by lock_
  // "host:port", the host as split from the URL (case-sensitive). Guarded by lock_.
  std::set<std::wstring> preflightedHosts_;
  std::atomic<bool> pinningDisabled_{false};
};

// A platform domain as a URL prefix: trailing "/" and "\" removed, "https://" added unless the
// text (longer than two characters) already holds "://". Empty when nothing is left.
std::wstring NormalizeBaseUrl(const std::wstring& text);

// The header lines of one request: the default headers in ascending name order (plain
// code-unit comparison), then "Content-Type: <type>" when contentType is not empty.
std::vector<std::wstring> BuildHeaderLines(const std::map<std::wstring, std::wstring>& defaults,
                                           const std::wstring& contentType);

// The URL rules of the WinHTTP split (host buffer of 256 units, path buffer of 2048 units, the
// query kept in the path) for transports that split URLs themselves. Stricter in one respect:
// user information ("name@host") and hosts with characters outside letters, digits, "-", ".",
// "_" and a bracketed IPv6 literal are refused, so the host that is pin-checked is always the
// host that is connected to.
std::optional<UrlParts> SplitHttpUrl(const std::wstring& url);

// A GET of an HTTPS address on a fresh client without the pin pre-flight and its notice: the
// server must show its host's pins, or pass the system's validation for a host without pins.
// The body of a 2xx answer; nothing otherwise, and nothing for an address that is not HTTPS
// (no file from the network is used unless its server's certificate verified).
std::optional<std::string> FetchVerified(const std::wstring& address);

#endif  // CORVEL_NET_HTTP_CLIENT_H_
