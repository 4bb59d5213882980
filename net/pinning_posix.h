// The Linux half of certificate pinning: the certificate check over the chain a TLS server
// presented, read off the OpenSSL connection.
#ifndef CORVEL_NET_PINNING_POSIX_H_
#define CORVEL_NET_PINNING_POSIX_H_

#include <openssl/ssl.h>

#include <string>
#include <vector>

#include "base/openssl_handles_posix.h"
#include "net/pinning.h"

// The certificates as the server sent them, its own first. Empty when it sent none.
using PeerChain = std::vector<base::UniqueX509>;

// A copy of the server's chain on a live connection (each certificate gets its own reference).
PeerChain CopyPeerChain(const SSL* connection);

// The system's trusted roots: OpenSSL's default certificate file and folder, which the
// SSL_CERT_FILE and SSL_CERT_DIR environment variables replace. Loaded on first use and kept for
// the life of the process; null when OpenSSL cannot make it.
X509_STORE* SystemTrustStore();

// What the sent chain shows for `host`. Pins are read only off chains that OpenSSL builds from
// the server's certificate with every signature verified, ending either in a sent certificate
// that carries one of `pins` (a pinned intermediate may end it) or in a certificate of the system
// store (which also supplies a root the server did not send), and only when the chain passes the
// ordinary checks but the anchor's: the leaf names the host, every certificate is within its
// dates, the leaf may serve TLS. systemTrusted is the system store's full validation for `host`.
PresentedChain InspectPeerChain(const PeerChain& sent,
                                const std::wstring& host,
                                const std::vector<std::string>& pins);

// InspectPeerChain with `roots` in the place of the system store.
PresentedChain InspectPeerChainAgainst(const PeerChain& sent,
                                       const std::wstring& host,
                                       const std::vector<std::string>& pins,
                                       X509_STORE* roots);

// The verdict for a host under a rule, given the chain it presented.
PinCheck CheckServerTrust(const PeerChain& chain, const std::wstring& host, ServerTrust rule);

// CheckServerTrust under ServerTrust::kPinned.
PinCheck CheckServerPins(const PeerChain& chain, const std::wstring& host);

// CheckServerPins, then ApplyPinCheck: true when the connection may be trusted. A refusal on a
// platform host shows the interception notice and ends the process.
bool ValidateServerPins(const PeerChain& chain, const std::wstring& host);

#endif  // CORVEL_NET_PINNING_POSIX_H_
