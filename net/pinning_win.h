// The Windows half of certificate pinning: the certificate check on a WinHTTP request.
#ifndef CORVEL_NET_PINNING_WIN_H_
#define CORVEL_NET_PINNING_WIN_H_

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "net/pinning.h"

// The verdict for the server behind a request handle that has received its response (or at
// least tried to). Hosts without pins are trusted without looking at the certificate.
PinCheck CheckServerPins(HINTERNET request, const std::wstring& host);

// CheckServerPins, then ApplyPinCheck: true when the connection may be trusted. A refusal on a
// platform host shows the interception notice and ends the process.
bool ValidateServerPins(HINTERNET request, const std::wstring& host);

#endif  // CORVEL_NET_PINNING_WIN_H_
