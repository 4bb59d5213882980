// The Linux half of certificate pinning: the certificate check over the chain a TLS server
// presented, read off the OpenSSL connection.
#ifndef CORVEL_NET_PINNING_POSIX_H_
#define CORVEL_NET_PINNING_POSIX_H_

#include <openssl/ssl.h>

#include <string>
#include <vector>

#include "base/openssl_handles.h"
#include "net/pinning.h"

// The certificates as the server sent them, its own first. Empty when it sent none.
using PeerChain = std::vector<base::UniqueX509>;

// A copy of the server's chain on a live connection (each certificate gets its own reference).
PeerChain CopyPeerChain(const SSL* connection);

// The verdict for a host given the chain it presented. Hosts without pins are trusted without
// looking at the chain.
PinCheck CheckServerPins(const PeerChain& chain, const std::wstring& host);

// CheckServerPins, then ApplyPinCheck: true when the connection may be trusted. A refusal on a
// platform host shows the interception notice and ends the process.
bool ValidateServerPins(const PeerChain& chain, const std::wstring& host);

#endif  // CORVEL_NET_PINNING_POSIX_H_
