// Linux half of certificate pinning: OpenSSL for the pins and issuer names, /proc for the running
// processes, libcurl for the web host probe.
#include "net/pinning_posix.h"

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "net/curl_transfer_posix.h"
#include "net/http_client.h"
#include "text/text.h"

namespace {

std::string PinOfCertificate(X509* certificate) {
  unsigned char* der = nullptr;
  const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
  if (length <= 0 || der == nullptr)
    return {};
  std::vector<unsigned char> digest(EVP_MAX_MD_SIZE);
  unsigned int digestLength = 0;
  const int ok =
      EVP_Digest(der, static_cast<size_t>(length), digest.data(), &digestLength, EVP_sha256(), nullptr);
  OPENSSL_free(der);
  if (ok != 1)
    return {};
  digest.resize(digestLength);
  return Base64Encode(digest);
}

// The issuer's simple display name: its common name, else its organisational unit, its
// organisation or its e-mail address, the same order as the Windows display name.
std::wstring IssuerDisplayName(X509* certificate) {
  const X509_NAME* issuer = X509_get_issuer_name(certificate);
  if (issuer == nullptr)
    return {};
  for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName, NID_pkcs9_emailAddress}) {
    const int index = X509_NAME_get_index_by_NID(issuer, nid, -1);
    if (index < 0)
      continue;
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(issuer, index));
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, value);
    if (length < 0 || utf8 == nullptr)
      continue;
    std::string text(reinterpret_cast<const char*>(utf8), static_cast<size_t>(length));
    OPENSSL_free(utf8);
    if (!text.empty())
      return Utf8ToUtf16(text);
  }
  return {};
}

std::string ReadLink(const std::string& path) {
  std::error_code error;
  const std::filesystem::path target = std::filesystem::read_symlink(path, error);
  return error ? std::string() : target.string();
}

// A chain from the server's certificate up to a certificate of `trust`, every signature on the
// way verified and good for a TLS server of `host`: the leaf's name or address is the host,
// every certificate is within its dates, and the leaf may serve TLS (when it lists usages).
// With `anyAnchor` any certificate of `trust` may end the chain (a pinned intermediate), not
// only a root. Null when there is no such chain.
base::UniqueX509Stack VerifiedChain(const PeerChain& sent,
                                    X509_STORE* trust,
                                    const std::wstring& host,
                                    bool anyAnchor) {
  if (sent.empty() || trust == nullptr)
    return nullptr;
  base::UniqueX509Stack untrusted(sk_X509_new_null());
  if (!untrusted)
    return nullptr;
  for (const base::UniqueX509& certificate : sent) {
    if (X509_up_ref(certificate.get()) != 1)
      return nullptr;
    if (sk_X509_push(untrusted.get(), certificate.get()) <= 0) {
      X509_free(certificate.get());
      return nullptr;
    }
  }
  base::UniqueX509StoreContext context(X509_STORE_CTX_new());
  if (!context || X509_STORE_CTX_init(context.get(), trust, sent.front().get(), untrusted.get()) != 1)
    return nullptr;
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
  if (anyAnchor)
    X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_PARTIAL_CHAIN);
  X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_SERVER);
  std::string name = Utf16ToUtf8(NormalizePinHost(host));
  if (name.size() > 2 && name.front() == '[' && name.back() == ']')
    name = name.substr(1, name.size() - 2);
  // An address literal is matched against the certificate's IP addresses, a name against its
  // DNS names.
  if (X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str()) != 1 &&
      X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size()) != 1) {
    return nullptr;
  }
  if (X509_verify_cert(context.get()) != 1)
    return nullptr;
  return base::UniqueX509Stack(X509_STORE_CTX_get1_chain(context.get()));
}

void AddPins(const STACK_OF(X509) * chain, PresentedChain& presented) {
  for (int i = 0; i < sk_X509_num(chain); ++i) {
    X509* certificate = sk_X509_value(chain, i);
    presented.pins.push_back(PinOfCertificate(certificate));
    presented.issuerNames.push_back(IssuerDisplayName(certificate));
  }
}

// Not writable by anyone but its owner, and the owner is the administrator.
bool IsAdministratorOnly(const struct stat& info) {
  return info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

PeerChain CopyPeerChain(const SSL* connection) {
  PeerChain chain;
  if (connection == nullptr)
    return chain;
  // On the client side the stack holds the server's own certificate first, then what it sent.
  STACK_OF(X509)* presented = SSL_get_peer_cert_chain(connection);
  if (presented != nullptr) {
    for (int i = 0; i < sk_X509_num(presented); ++i) {
      X509* certificate = sk_X509_value(presented, i);
      if (certificate == nullptr || X509_up_ref(certificate) != 1)
        continue;
      chain.emplace_back(certificate);
    }
  }
  if (chain.empty()) {
    if (X509* leaf = SSL_get1_peer_certificate(connection))
      chain.emplace_back(leaf);
  }
  return chain;
}

std::string PinOfDerCertificate(const std::string& der) {
  const unsigned char* cursor = reinterpret_cast<const unsigned char*>(der.data());
  base::UniqueX509 certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
  if (!certificate)
    return {};
  return PinOfCertificate(certificate.get());
}

X509_STORE* SystemTrustStore() {
  static X509_STORE* const store = [] {
    X509_STORE* made = X509_STORE_new();
    if (made != nullptr && X509_STORE_set_default_paths(made) != 1) {
      X509_STORE_free(made);
      made = nullptr;
    }
    return made;
  }();
  return store;
}

PresentedChain InspectPeerChain(const PeerChain& sent,
                                const std::wstring& host,
                                const std::vector<std::string>& pins) {
  return InspectPeerChainAgainst(sent, host, pins, SystemTrustStore());
}

PresentedChain InspectPeerChainAgainst(const PeerChain& sent,
                                       const std::wstring& host,
                                       const std::vector<std::string>& pins,
                                       X509_STORE* roots) {
  PresentedChain presented;
  presented.hasCertificate = !sent.empty();
  if (sent.empty())
    return presented;
  const base::UniqueX509Stack trusted = VerifiedChain(sent, roots, host, false);
  presented.systemTrusted = trusted != nullptr;
  if (!pins.empty()) {
    // Chains that end in a sent certificate with a pinned key, and chains that end in the system
    // store; the pins of both count. A certificate that no verified chain reaches counts for
    // nothing, whatever key it carries. A pin only stands in for the anchor: the leaf must still
    // name the host, be within its dates and serve TLS, or a pinned CA's certificate for any
    // other name would do.
    base::UniqueX509Store anchors(X509_STORE_new());
    bool anchored = false;
    for (const base::UniqueX509& certificate : sent) {
      const std::string pin = PinOfCertificate(certificate.get());
      if (anchors && std::find(pins.begin(), pins.end(), pin) != pins.end() &&
          X509_STORE_add_cert(anchors.get(), certificate.get()) == 1) {
        anchored = true;
      }
    }
    for (X509_STORE* trust : {anchored ? anchors.get() : nullptr, roots}) {
      if (const base::UniqueX509Stack chain = VerifiedChain(sent, trust, host, true)) {
        presented.chainBuilt = true;
        AddPins(chain.get(), presented);
      }
    }
  }
  if (trusted) {
    // The issuer names that the known-inspector check reads are those of the trusted chain.
    presented.issuerNames.clear();
    for (int i = 0; i < sk_X509_num(trusted.get()); ++i)
      presented.issuerNames.push_back(IssuerDisplayName(sk_X509_value(trusted.get(), i)));
  }
  return presented;
}

PresentedChain InspectServerChain(const std::vector<std::string>& derChain,
                                  const std::wstring& host,
                                  const std::vector<std::string>& pins) {
  PeerChain sent;
  for (const std::string& der : derChain) {
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(der.data());
    base::UniqueX509 certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    if (!certificate)
      return {};
    sent.push_back(std::move(certificate));
  }
  return InspectPeerChain(sent, host, pins);
}

PinCheck CheckServerTrust(const PeerChain& chain, const std::wstring& host, ServerTrust rule) {
  const std::optional<PinEntry> entry = LookupPins(host);
  const PresentedChain presented =
      InspectPeerChain(chain, host, entry ? entry->pins : std::vector<std::string>());
  return JudgeServer(host, entry, presented, rule, AcceptsKnownInspector);
}

PinCheck CheckServerPins(const PeerChain& chain, const std::wstring& host) {
  return CheckServerTrust(chain, host, ServerTrust::kPinned);
}

bool ValidateServerPins(const PeerChain& chain, const std::wstring& host) {
  return ApplyPinCheck(CheckServerPins(chain, host), host);
}

std::vector<RunningProcess> ListRunningProcesses() {
  std::vector<RunningProcess> processes;
  std::error_code error;
  for (const auto& item : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = item.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
      continue;
    RunningProcess process;
    try {
      process.pid = static_cast<std::uint32_t>(std::stoul(name));
    } catch (const std::exception&) {
      continue;
    }
    // The executable's file name; /proc/<pid>/comm (cut to 15 bytes) when the link is hidden.
    std::string exeName = std::filesystem::path(ReadLink(item.path().string() + "/exe")).filename().string();
    if (exeName.empty()) {
      std::ifstream comm(item.path() / "comm");
      std::getline(comm, exeName);
    }
    if (exeName.empty())
      continue;
    process.exeName = Utf8ToUtf16(exeName);
    processes.push_back(std::move(process));
  }
  return processes;
}

std::wstring ProcessImagePath(std::uint32_t pid) {
  return Utf8ToUtf16(ReadLink("/proc/" + std::to_string(pid) + "/exe"));
}

// Linux executables carry no Authenticode signature, so the vendor's name cannot be checked and
// the signer fragment is not used. What stands in for it: the executable must have been put in
// place by the administrator — a regular file owned by root that nobody else may write, in
// folders owned by root that nobody else may write, all the way up. A program that a user
// copied under a product's name, or a product file a user could replace, does not pass.
bool IsVendorBinary(const std::wstring& path, const std::wstring& /*signerFragment*/) {
  const std::filesystem::path file(Utf16ToUtf8(path));
  if (!file.is_absolute())
    return false;
  struct stat info {};
  if (stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || !IsAdministratorOnly(info))
    return false;
  for (std::filesystem::path folder = file.parent_path();; folder = folder.parent_path()) {
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || !IsAdministratorOnly(info))
      return false;
    if (folder == folder.root_path())
      break;
  }
  return true;
}

WebProbeResult ProbeWebHost(const std::wstring& host, std::uint16_t port) {
  // Only a host that is exactly what a connection would reach is probed.
  const std::optional<UrlParts> parts =
      SplitHttpUrl(L"https://" + host + L":" + std::to_wstring(port) + L"/");
  if (!parts || parts->host != host)
    return WebProbeResult::kNotOpened;

  CurlTransfer transfer;
  transfer.url = BuildCurlUrl(true, host, port, L"/");
  transfer.method = "HEAD";
  transfer.userAgent = kWebProbeUserAgent;
  transfer.connectTimeoutMs = kWebProbeTimeoutMs;
  transfer.idleTimeoutSeconds = kWebProbeTimeoutMs / 1000;
  transfer.host = host;
  transfer.trust = ServerTrust::kPinned;
  CurlOutcome outcome;
  try {
    outcome = RunCurlTransfer(transfer);
  } catch (const std::runtime_error&) {
    return WebProbeResult::kNotOpened;
  }
  // A refused certificate never gets the request, so it is looked at before the response.
  if (outcome.refused)
    return ApplyPinCheck(outcome.check, host) ? WebProbeResult::kTrusted : WebProbeResult::kRefused;
  if (!outcome.responseStarted)
    return WebProbeResult::kUnreachable;
  return WebProbeResult::kTrusted;
}
