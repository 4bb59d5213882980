// Certificate pinning: the player trusts the platform's servers by public-key pins, not by the
// system's certificate validation; hosts without pins are trusted only by the system's
// validation.
//
// A pin is the standard Base64 of the SHA-256 digest of a certificate's DER SubjectPublicKeyInfo
// (44 characters). Pins are held per host pattern in the process-wide pin store, which starts
// from the built-in list and is extended at start-up by the platform's pin list. A chain passes
// when any certificate of the chain built from the server's certificate with verified signatures
// (leaf, intermediate or root) carries a pinned key; a certificate that was merely sent along
// counts for nothing. When a pin check fails on one of the platform's own hosts the user is told
// that a security program intercepts the connection and the process ends; known security
// products that are identified as the certificate's author, are running and whose root the
// system trusts are accepted instead.
//
// The platform halves (reading the certificates off a connection, the process list, the signer
// test) live in pinning_win.cpp / pinning_posix.cpp; the decisions are the plain functions below.
#ifndef CORVEL_NET_PINNING_H_
#define CORVEL_NET_PINNING_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <shared_mutex>
#include <string>
#include <vector>

#include "config/config.h"

struct PinEntry {
  std::wstring scope;             // a host name; covers the host and all its subdomains
  std::vector<std::string> pins;  // bare Base64 digests, compared byte for byte
};

// An ordered list of entries behind a reader-writer lock. Order decides ties in the lookup.
class PinStore {
 public:
  void Replace(const std::vector<PinEntry>& entries);              // exclusive lock
  std::optional<PinEntry> Lookup(const std::wstring& host) const;  // shared lock; a copy

 private:
  mutable std::shared_mutex lock_;
  std::vector<PinEntry> entries_;
};

// The process-wide store.
void ReplacePins(const std::vector<PinEntry>& entries);
std::optional<PinEntry> LookupPins(const std::wstring& host);

// The built-in list: one scope with its four pins.
std::vector<PinEntry> DefaultPins();

// A host as the pin store knows it: lower case, one trailing "." removed, IP addresses in their
// canonical form and an IPv4 address written as IPv6 ("[::ffff:127.0.0.1]") as IPv4.
std::wstring NormalizePinHost(const std::wstring& host);

// The entry for a host (normalised as above, scopes compared ignoring ASCII letter case): the
// first entry whose scope equals the host; otherwise the entry with the longest scope that the
// host ends with after a "." (the earliest of equally long ones); otherwise nothing.
std::optional<PinEntry> LookupPinsIn(const std::vector<PinEntry>& entries, const std::wstring& host);

// The pin of a DER-encoded X.509 certificate; empty when it cannot be read.
std::string PinOfDerCertificate(const std::string& der);

// Whether the process-wide store holds pins for the host.
bool IsPinnedHost(const std::wstring& host);

// The names a server certificate is for: its subject alternative names, and its common name,
// which counts only when it has no alternative name at all.
struct CertificateNames {
  std::vector<std::wstring> dnsNames;
  std::vector<std::vector<std::uint8_t>> ipAddresses;  // 4 or 16 bytes each
  std::wstring commonName;
  bool hasAltNames = false;
};

// Whether the certificate is for the host: a DNS name equal to it (ignoring case) or a wildcard
// standing for its whole first label ("*.example.com" covers "a.example.com", not
// "a.b.example.com" nor "example.com"), or, for an IP address, that address.
bool CertificateNamesHost(const CertificateNames& names, const std::wstring& host);

// What a connection showed of its server, read by the platform half.
struct PresentedChain {
  bool hasCertificate = false;            // the server presented a certificate at all
  bool chainBuilt = false;                // a chain from it could be put together, signatures verified
  std::vector<std::string> pins;          // per element, server certificate first; "" if unreadable
  std::vector<std::wstring> issuerNames;  // per element: the issuer's simple display name
  // The system's own validation accepts the server for the host: a chain to a root the system
  // trusts, in its validity period, for this host name.
  bool systemTrusted = false;
};

// Reads a chain as a server sent it (DER, its own certificate first) the way the platform half
// reads a connection: builds the chain from the server's certificate (on Linux a sent
// certificate that carries one of `pins` may end it) and asks the system's trust for `host`.
PresentedChain InspectServerChain(const std::vector<std::string>& derChain,
                                  const std::wstring& host,
                                  const std::vector<std::string>& pins);

// Whether the chain built from a sent certificate chain (DER, server certificate first) with
// verified signatures carries a key pinned for `host` in the process-wide store; false when the
// host has no pins. A pinned certificate that was merely sent along proves nothing. (The Linux
// player's answer to a certificate its browser engine does not trust by its own roots.)
bool ChainMatchesPins(const std::wstring& host, const std::vector<std::string>& derChain);

// How a server's certificate is judged. Under both rules a host without pins must be trusted by
// the system.
enum class ServerTrust {
  // A pinned host must show a pinned key or be a running known product under a root the system
  // trusts; a refusal on the platform's own domain means the interception notice.
  kPinned,
  // A pinned host passes with a pinned key or with the system's trust; a refusal shows nothing.
  kPinsOrSystem,
};

enum class PinCheck {
  kTrusted,                // not pinned, a pinned key found, or a known product accepted
  kRefused,                // refused, nothing to show
  kRefusedOnPlatformHost,  // refused on the platform's own domain: the interception notice
};

// The verdict for a pinned host. inspectorAccepts is asked only when no pin matched, the chain
// was built and the system trusts it; it gets the issuer names and says whether a running known
// product made them.
PinCheck JudgeServerPins(const std::wstring& host,
                         const PinEntry& entry,
                         const PresentedChain& chain,
                         const std::function<bool(const std::vector<std::wstring>&)>& inspectorAccepts);

// The verdict for any HTTPS server under a rule: JudgeServerPins for a pinned host under kPinned.
PinCheck JudgeServer(const std::wstring& host,
                     const std::optional<PinEntry>& entry,
                     const PresentedChain& chain,
                     ServerTrust rule,
                     const std::function<bool(const std::vector<std::wstring>&)>& inspectorAccepts);

// True when the lower-cased host ends with the platform's primary domain.
bool IsPlatformHost(const std::wstring& host);

// Applies a verdict: shows the interception notice with the code "SSL_" + host (which ends the
// process) for kRefusedOnPlatformHost; true only for kTrusted.
bool ApplyPinCheck(PinCheck check, const std::wstring& host);

// Known security products that intercept HTTPS.

struct RunningProcess {
  std::uint32_t pid = 0;
  std::wstring exeName;  // file name with extension where the platform has one, no path
};

// The first table entry whose issuer fragment (an empty one matches anything) occurs in an
// element's non-empty lower-cased issuer name, elements in chain order, entries in table order.
const config::InspectorEntry* FindInspectorForIssuers(const std::vector<std::wstring>& issuerNames,
                                                      const std::vector<config::InspectorEntry>& table);

// Whether one of the processes is the product: its lower-cased name is one of the entry's
// process names (or such a name without ".exe", for platforms whose executables carry no
// extension), and vendorBinary accepts its image path, which must not be empty.
bool IsProductRunning(
    const config::InspectorEntry& entry,
    const std::vector<RunningProcess>& processes,
    const std::function<std::wstring(std::uint32_t pid)>& imagePathOf,
    const std::function<bool(const std::wstring& path, const std::wstring& signerFragment)>& vendorBinary);

// The whole known-inspector check over the configured table and the running processes.
bool AcceptsKnownInspector(const std::vector<std::wstring>& issuerNames);

// Platform halves of the known-inspector check.
std::vector<RunningProcess> ListRunningProcesses();  // empty when the list cannot be read
std::wstring ProcessImagePath(std::uint32_t pid);    // empty when it cannot be read
bool IsVendorBinary(const std::wstring& path, const std::wstring& signerFragment);

// The interception notice: the fatal diagnostic dialog with the given code. Never returns.
[[noreturn]] void ShowInterceptionNotice(const std::string& code);

// Web host gate.

enum class WebProbeResult {
  kNotOpened,    // the probe could not even be set up: let through, ask again next time
  kUnreachable,  // no response from the host: let through, probe again after a pause
  kTrusted,      // the response came with an accepted certificate: let through and remember
  kRefused,      // the certificate was refused: block, and keep blocking
};

// The web probe's user agent (a browser's, as the web view's own requests look) and time-outs.
inline constexpr char kWebProbeUserAgent[] =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/120.0.0.0 Safari/537.36 Edg/120.0.0.0";
inline constexpr unsigned kWebProbeTimeoutMs = 3000;

// "HEAD /" to host:port with kWebProbeTimeoutMs time-outs and kWebProbeUserAgent, then the
// certificate check (which may end the process for a platform host).
WebProbeResult ProbeWebHost(const std::wstring& host, std::uint16_t port);

enum class WebGateAnswer {
  kAllow,          // the browser may load from the host
  kRefuseAndWarn,  // the host's first refusal: block it and start the warning
  kRefuse,         // refused before: block it, the warning is on its way
};

// The hosts (with their ports, hosts normalised as for the pin store) that passed and the ones
// that were refused, behind a reader-writer lock. A refused host stays refused for the life of
// the process: one probe and one warning, however often the page asks for it. A probe that
// reached nobody is not remembered as a pass: the host is probed again once reprobeInterval has
// gone by, and let through meanwhile. The probe runs with no lock held, so two threads may probe
// the same host at once; only one of them is told to warn.
class WebHostGate {
 public:
  using Probe = std::function<WebProbeResult(const std::wstring& host, std::uint16_t port)>;
  using Lookup = std::function<std::optional<PinEntry>(const std::wstring& host)>;
  WebHostGate(Probe probe,
              Lookup lookup,
              std::chrono::milliseconds reprobeInterval = std::chrono::seconds(5));
  WebGateAnswer Check(const std::wstring& host, std::uint16_t port);
  // The answer Check would give without probing; nothing when it would have to probe.
  std::optional<WebGateAnswer> Known(const std::wstring& host, std::uint16_t port);

 private:
  Probe probe_;
  Lookup lookup_;
  std::chrono::milliseconds reprobeInterval_;
  std::shared_mutex lock_;
  std::set<std::wstring> verified_;  // "host:port"; only grows
  std::set<std::wstring> refused_;   // the same; only grows
  std::map<std::wstring, std::chrono::steady_clock::time_point> unreachableSince_;
};

// The web view's probe for an HTTPS resource host and port, with the process-wide gate.
WebGateAnswer PassWebHostGate(const std::wstring& host, std::uint16_t port);
// The same gate's answer when it needs no probe (WebHostGate::Known); never blocks on the network.
std::optional<WebGateAnswer> KnownWebHostGate(const std::wstring& host, std::uint16_t port);

// "MITM_PIN_" + host (UTF-8), cut to its first 100 bytes.
std::string BuildWebPinNoticeCode(const std::wstring& host);

// Waits 500 ms (so the refused request is answered first), then shows the interception notice.
// Meant to run on a thread of its own; never returns.
[[noreturn]] void ShowWebPinFailureNotice(const std::wstring& host);

#endif  // CORVEL_NET_PINNING_H_
