// Request options shared by every WinHTTP request of the player.
#ifndef CORVEL_NET_WINHTTP_OPTIONS_WIN_H_
#define CORVEL_NET_WINHTTP_OPTIONS_WIN_H_

#include <windows.h>
#include <winhttp.h>

// Redirects are never followed (a 3xx comes back as it is). With relaxCertificateChecks (for a
// pinned host) an issuer the system does not know is accepted, and trust in the anchor rests on
// the pin check before the request goes out (SendingRequestGuard); the dates and the usage of
// the certificate are still WinHTTP's to check. The host name is checked by the pin check
// itself, before any byte of the request: not every WinHTTP matches an IP-address host against
// the certificate's IP addresses (Wine's does not), and the platform may be reached by address.
// Without relaxCertificateChecks (a host without pins) WinHTTP refuses, in the TLS handshake,
// any server that the system's own validation does not accept.
// The results are not checked; a request that cannot take an option still goes out with the
// others.
inline void ApplyPlayerRequestOptions(HINTERNET request,
                                      bool setRedirectPolicy,
                                      bool relaxCertificateChecks) {
  DWORD disable = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof(disable));
  if (setRedirectPolicy) {
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
    WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));
  }
  if (relaxCertificateChecks) {
    DWORD security = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
    WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &security, sizeof(security));
  }
}

#endif  // CORVEL_NET_WINHTTP_OPTIONS_WIN_H_
