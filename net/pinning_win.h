// The Windows half of certificate pinning: the certificate check on a WinHTTP request.
#ifndef CORVEL_NET_PINNING_WIN_H_
#define CORVEL_NET_PINNING_WIN_H_

#include <windows.h>
#include <winhttp.h>

#include <string>
#include <vector>

#include "base/winhttp_handles_win.h"
#include "net/pinning.h"

// The verdict for the server behind a request handle whose connection is open (from the moment
// WinHTTP is about to send the request). A host without pins is trusted here: its requests run
// without relaxed certificate checks (ApplyPlayerRequestOptions), so WinHTTP itself has refused
// any server that the system does not trust.
PinCheck CheckServerTrust(HINTERNET request, const std::wstring& host, ServerTrust rule);

// CheckServerTrust under ServerTrust::kPinned.
PinCheck CheckServerPins(HINTERNET request, const std::wstring& host);

// CheckServerPins, then ApplyPinCheck: true when the connection may be trusted. A refusal on a
// platform host shows the interception notice and ends the process.
bool ValidateServerPins(HINTERNET request, const std::wstring& host);

// Judges the certificate of the connection a request is about to use, in WinHTTP's
// SENDING_REQUEST status callback: the connection is open (new or kept alive), its TLS handshake
// is done, and no byte of the request has gone out. A refused server ends the request there:
// the request handle is closed, so that WinHTTP fails the send (the technique of .NET's
// WinHttpHandler for its certificate callback); the body buffer is wiped, for a WinHTTP that
// would still send what it already prepared; and a refusal on the platform's own domain shows
// the interception notice at once, which ends the process before anything is sent.
//
// For requests with relaxed certificate checks, that is of pinned hosts. The guard must outlive
// the send; it runs on the sending thread (the client's requests are synchronous).
class SendingRequestGuard {
 public:
  SendingRequestGuard(base::UniqueHInternet& request,
                      std::wstring host,
                      ServerTrust rule,
                      std::vector<char>* body);
  SendingRequestGuard(const SendingRequestGuard&) = delete;
  SendingRequestGuard& operator=(const SendingRequestGuard&) = delete;

  // Registers the callback on the request; false (with the system error set) when WinHTTP does
  // not take it, and the request must then not be sent.
  bool Install();
  // The value to pass as the context of WinHttpSendRequest.
  DWORD_PTR Context() { return reinterpret_cast<DWORD_PTR>(this); }
  // The server was refused: the request handle is closed, nothing more may be done with it.
  bool Refused() const { return refused_; }

 private:
  static void CALLBACK
  OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD infoLength) noexcept;
  void Judge(HINTERNET handle) noexcept;

  base::UniqueHInternet& request_;
  std::wstring host_;
  ServerTrust rule_;
  std::vector<char>* body_;
  bool refused_ = false;
};

#endif  // CORVEL_NET_PINNING_WIN_H_
