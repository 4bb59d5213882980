// One libcurl exchange with the player's connection rules, and what it saw of the server.
//
// The rules match the Windows client: the proxy of the environment (a tunnel for HTTPS),
// redirects never followed (a 3xx comes back as
// it is), HTTP/1.1, no TLS session resumption (every new connection shows its full chain), the
// URL path sent as written. libcurl's own certificate verification is replaced by the player's
// (net/pinning_posix.h): it runs inside the TLS handshake of every new connection, so a refused
// server never completes one, and before the request goes out on a kept-alive connection that
// another transfer opened, judged by this transfer's own rule. A refused server gets no byte of
// the request.
// Time-outs: connectTimeoutMs covers name resolution, the TCP connect and the TLS handshake; a
// transfer that moves no byte for idleTimeoutSeconds ends with CURLE_OPERATION_TIMEDOUT, which
// is the closest match to WinHTTP's per-operation send and receive time-outs (there is no
// overall limit, as in WinHTTP).
#ifndef CORVEL_NET_CURL_TRANSFER_POSIX_H_
#define CORVEL_NET_CURL_TRANSFER_POSIX_H_

#include <curl/curl.h>

#include <string>
#include <vector>

#include "net/pinning_posix.h"

struct CurlTransfer {
  std::string url;                       // complete, already checked by SplitHttpUrl
  std::string method = "GET";            // "HEAD" sends and reads no body
  std::vector<std::string> headerLines;  // "Name: value" in sending order
  const std::string* body = nullptr;     // sent as it is; none when null
  std::string userAgent;
  long connectTimeoutMs = 10000;
  long idleTimeoutSeconds = 30;
  CURLSH* share = nullptr;  // connection and name cache shared between transfers; may be null
  // Over HTTPS: the host the server's certificate must be good for, and the rule that judges it.
  std::wstring host;
  ServerTrust trust = ServerTrust::kPinned;
};

struct CurlOutcome {
  CURLcode code = CURLE_OK;
  bool requestSent = false;             // the request line, headers and body went out
  bool responseStarted = false;         // a response header arrived
  bool headersComplete = false;         // the headers of a final (non-1xx) response arrived
  bool judged = false;                  // the server's certificate was judged (HTTPS reached a server)
  bool pinned = false;                  // the host had pins when it was judged
  PinCheck check = PinCheck::kRefused;  // the verdict, when judged
  bool refused = false;                 // judged and not trusted: nothing was sent
  long status = 0;
  long proxyStatus = 0;  // the proxy's answer to the tunnel request (CONNECT); 0 without one
  std::string body;
};

// libcurl's one-time process set-up; every user of libcurl calls it first. Thread-safe.
void EnsureCurlGlobalInit();

// Never throws for network failures; they come back in code. Throws std::runtime_error only
// when libcurl cannot even make a handle.
CurlOutcome RunCurlTransfer(const CurlTransfer& transfer);

// "scheme://host:port" + path, with the bytes that cannot travel raw in a request target
// (controls, space, quotes, angle brackets, back-tick and non-ASCII) percent-encoded.
std::string BuildCurlUrl(bool secure, const std::wstring& host, unsigned port, const std::wstring& path);

#endif  // CORVEL_NET_CURL_TRANSFER_POSIX_H_
