// Windows half of certificate pinning: CryptoAPI and CNG for the pins, Tool Help and WinTrust for
// the known security products, WinHTTP for the web host probe.
#include "net/pinning_win.h"

#include <bcrypt.h>
#include <softpub.h>
#include <tlhelp32.h>
#include <wincrypt.h>
#include <windows.h>
#include <wintrust.h>

#include <cwchar>
#include <utility>
#include <vector>

#include "base/authenticode_win.h"
#include "base/crypto_handles_win.h"
#include "base/unique_handle_win.h"
#include "base/winhttp_handles_win.h"
#include "net/system_proxy_win.h"
#include "net/winhttp_options_win.h"
#include "text/text.h"

namespace {

std::string Sha256Base64(const BYTE* data, DWORD size) {
  base::UniqueBcryptAlg algorithm;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return {};
  }
  DWORD digestLength = 0;
  ULONG written = 0;
  if (!BCRYPT_SUCCESS(BCryptGetProperty(algorithm.get(), BCRYPT_HASH_LENGTH,
                                        reinterpret_cast<PUCHAR>(&digestLength), sizeof(digestLength),
                                        &written, 0)) ||
      digestLength == 0) {
    return {};
  }
  base::UniqueBcryptHash hash;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0)))
    return {};
  if (!BCRYPT_SUCCESS(BCryptHashData(hash.get(), const_cast<PUCHAR>(data), size, 0)))
    return {};
  std::vector<unsigned char> digest(digestLength);
  if (!BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), digest.data(), digestLength, 0)))
    return {};
  return Base64Encode(digest);
}

std::string PinOfCertificate(PCCERT_CONTEXT certificate) {
  const CERT_PUBLIC_KEY_INFO* key = &certificate->pCertInfo->SubjectPublicKeyInfo;
  DWORD size = 0;
  if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, key, 0, nullptr, nullptr, &size) ||
      size == 0) {
    return {};
  }
  std::vector<BYTE> der(size);
  if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, key, 0, nullptr, der.data(), &size) ||
      size == 0) {
    return {};
  }
  return Sha256Base64(der.data(), size);
}

std::wstring SimpleDisplayName(PCCERT_CONTEXT certificate, DWORD flags) {
  const DWORD length =
      CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, nullptr, 0);
  if (length <= 1)
    return {};
  std::vector<wchar_t> name(length, L'\0');
  CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, name.data(), length);
  return std::wstring(name.data(), wcsnlen(name.data(), length));
}

// The system's own TLS validation of a built chain for a server name. The chain must end in a
// root of the system's store with every signature valid; that is checked here as well, since not
// every implementation's SSL policy refuses a chain that stops short of a root (Wine's does not).
bool SystemAcceptsChain(PCCERT_CHAIN_CONTEXT chain, const std::wstring& host) {
  constexpr DWORD kBroken = CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT |
                            CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_CYCLIC;
  if ((chain->TrustStatus.dwErrorStatus & kBroken) != 0)
    return false;
  std::wstring name = host;
  if (name.size() > 2 && name.front() == L'[' && name.back() == L']')
    name = name.substr(1, name.size() - 2);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof(ssl);
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.pwszServerName = name.data();
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof(policy);
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof(status);
  return CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) &&
         status.dwError == 0;
}

// The names the certificate is for: its subject alternative names and its common name.
CertificateNames NamesOf(PCCERT_CONTEXT certificate) {
  CertificateNames names;
  const CERT_INFO* info = certificate->pCertInfo;
  if (const CERT_EXTENSION* extension =
          CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension)) {
    CERT_ALT_NAME_INFO* decoded = nullptr;
    DWORD size = 0;
    if (CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                            extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded, &size) &&
        decoded != nullptr) {
      const base::UniqueLocalMemory owner(decoded);
      names.hasAltNames = decoded->cAltEntry > 0;
      for (DWORD i = 0; i < decoded->cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = decoded->rgAltEntry[i];
        if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME && entry.pwszDNSName != nullptr) {
          names.dnsNames.emplace_back(entry.pwszDNSName);
        } else if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS) {
          names.ipAddresses.emplace_back(entry.IPAddress.pbData,
                                         entry.IPAddress.pbData + entry.IPAddress.cbData);
        }
      }
    }
  }
  const DWORD length = CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0,
                                          const_cast<char*>(szOID_COMMON_NAME), nullptr, 0);
  if (length > 1) {
    std::vector<wchar_t> name(length, L'\0');
    CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), name.data(),
                       length);
    names.commonName.assign(name.data(), wcsnlen(name.data(), length));
  }
  return names;
}

// Whether a built chain passes the ordinary checks but the anchor's: the server certificate
// names the host and may serve TLS, and every certificate is within its dates. A pin stands in
// for the anchor only; without these checks a pinned CA's certificate for any other name would
// do. The name is matched here rather than by the system's SSL policy, which not every
// implementation applies to IP-address names (Wine's does not).
bool ChainServesHost(PCCERT_CHAIN_CONTEXT chain, const std::wstring& host) {
  if ((chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) != 0)
    return false;
  const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
  if (simple->cElement == 0)
    return false;
  for (DWORD i = 0; i < simple->cElement; ++i) {
    if ((simple->rgpElement[i]->TrustStatus.dwErrorStatus & CERT_TRUST_IS_NOT_TIME_VALID) != 0)
      return false;
  }
  return CertificateNamesHost(NamesOf(simple->rgpElement[0]->pCertContext), host);
}

// What a server certificate shows: its chain as the system builds it (the certificates the
// server sent are in the certificate's own store), and whether the system trusts it.
PresentedChain InspectCertificate(PCCERT_CONTEXT certificate, const std::wstring& host) {
  PresentedChain chain;
  chain.hasCertificate = true;
  // The usage asked for is a TLS server's, so that a certificate for other uses shows as such.
  LPSTR serverAuth = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
  CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof(parameters);
  parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
  parameters.RequestedUsage.Usage.rgpszUsageIdentifier = &serverAuth;
  PCCERT_CHAIN_CONTEXT rawChain = nullptr;
  base::UniqueCertChain built;
  if (CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &parameters, 0, nullptr,
                              &rawChain)) {
    built.reset(rawChain);
  }
  if (!built || built.get()->cChain == 0 || built.get()->rgpChain[0] == nullptr)
    return chain;
  chain.chainBuilt = true;
  chain.systemTrusted = SystemAcceptsChain(built.get(), host);
  const CERT_SIMPLE_CHAIN* simple = built.get()->rgpChain[0];
  // An element counts for the pins only while every certificate below it carries a valid
  // signature of the next one up: a sent certificate that the server's own does not chain to
  // proves nothing, whatever key it carries. None counts when the chain does not serve the host.
  bool verifiedSoFar = ChainServesHost(built.get(), host);
  for (DWORD i = 0; i < simple->cElement; ++i) {
    const CERT_CHAIN_ELEMENT* element = simple->rgpElement[i];
    chain.pins.push_back(verifiedSoFar ? PinOfCertificate(element->pCertContext) : std::string());
    chain.issuerNames.push_back(SimpleDisplayName(element->pCertContext, CERT_NAME_ISSUER_FLAG));
    if ((element->TrustStatus.dwErrorStatus & CERT_TRUST_IS_NOT_SIGNATURE_VALID) != 0)
      verifiedSoFar = false;
  }
  return chain;
}

}  // namespace

std::string PinOfDerCertificate(const std::string& der) {
  base::UniqueCertContext certificate(CertCreateCertificateContext(
      X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size())));
  if (!certificate)
    return {};
  return PinOfCertificate(certificate.get());
}

PresentedChain InspectServerChain(const std::vector<std::string>& derChain,
                                  const std::wstring& host,
                                  const std::vector<std::string>& /*pins*/) {
  base::UniqueCertStore store(
      CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
  if (!store || derChain.empty())
    return {};
  base::UniqueCertContext leaf;
  for (std::size_t i = 0; i < derChain.size(); ++i) {
    PCCERT_CONTEXT added = nullptr;
    if (!CertAddEncodedCertificateToStore(
            store.get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(derChain[i].data()),
            static_cast<DWORD>(derChain[i].size()), CERT_STORE_ADD_ALWAYS, i == 0 ? &added : nullptr)) {
      return {};
    }
    if (i == 0)
      leaf.reset(added);
  }
  return InspectCertificate(leaf.get(), host);
}

PinCheck CheckServerTrust(HINTERNET request, const std::wstring& host, ServerTrust rule) {
  const std::optional<PinEntry> entry = LookupPins(host);
  if (!entry || entry->pins.empty())
    return PinCheck::kTrusted;

  PCCERT_CONTEXT raw = nullptr;
  DWORD size = sizeof(raw);
  if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &raw, &size) || raw == nullptr) {
    return JudgeServer(host, entry, PresentedChain{}, rule, nullptr);
  }
  base::UniqueCertContext certificate(raw);
  return JudgeServer(host, entry, InspectCertificate(certificate.get(), host), rule, AcceptsKnownInspector);
}

PinCheck CheckServerPins(HINTERNET request, const std::wstring& host) {
  return CheckServerTrust(request, host, ServerTrust::kPinned);
}

bool ValidateServerPins(HINTERNET request, const std::wstring& host) {
  return ApplyPinCheck(CheckServerPins(request, host), host);
}

SendingRequestGuard::SendingRequestGuard(base::UniqueHInternet& request,
                                         std::wstring host,
                                         ServerTrust rule,
                                         std::vector<char>* body)
    : request_(request), host_(std::move(host)), rule_(rule), body_(body) {}

bool SendingRequestGuard::Install() {
  DWORD_PTR context = Context();
  if (!WinHttpSetOption(request_.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context)))
    return false;
  return WinHttpSetStatusCallback(request_.get(), &SendingRequestGuard::OnStatus,
                                  WINHTTP_CALLBACK_STATUS_SENDING_REQUEST,
                                  0) != WINHTTP_INVALID_STATUS_CALLBACK;
}

void CALLBACK
SendingRequestGuard::OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID, DWORD) noexcept {
  if (status == WINHTTP_CALLBACK_STATUS_SENDING_REQUEST && context != 0)
    reinterpret_cast<SendingRequestGuard*>(context)->Judge(handle);
}

void SendingRequestGuard::Judge(HINTERNET handle) noexcept {
  if (refused_ || handle != request_.get())
    return;
  PinCheck check = PinCheck::kRefused;
  try {
    check = CheckServerTrust(handle, host_, rule_);
  } catch (...) {
    // Only memory exhaustion gets here: the server is refused.
  }
  if (check == PinCheck::kTrusted)
    return;
  refused_ = true;
  if (body_ != nullptr && !body_->empty())
    SecureZeroMemory(body_->data(), body_->size());
  ApplyPinCheck(check, host_);  // on the platform's own domain: the notice, which never returns
  request_.reset();
}

std::vector<RunningProcess> ListRunningProcesses() {
  std::vector<RunningProcess> processes;
  base::UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot)
    return processes;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  if (!Process32FirstW(snapshot.get(), &entry))
    return processes;
  do {
    processes.push_back(
        {entry.th32ProcessID, std::wstring(entry.szExeFile, wcsnlen(entry.szExeFile, MAX_PATH))});
  } while (Process32NextW(snapshot.get(), &entry));
  return processes;
}

std::wstring ProcessImagePath(std::uint32_t pid) {
  base::UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process)
    return {};
  wchar_t path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (!QueryFullProcessImageNameW(process.get(), 0, path, &size))
    return {};
  return std::wstring(path, size);
}

// The product is accepted only when its executable carries a valid Authenticode signature whose
// signer names the vendor: a program that merely copies a product's file name does not pass.
bool IsVendorBinary(const std::wstring& path, const std::wstring& signerFragment) {
  const base::AuthenticodeSignature signature = base::VerifyAuthenticode(path);
  const std::wstring subject = ToLowerCopy(signature.signer);
  return signature.valid && !subject.empty() && subject.find(signerFragment) != std::wstring::npos;
}

WebProbeResult ProbeWebHost(const std::wstring& host, std::uint16_t port) {
  // Through the system's proxy, as the player's own requests go.
  const std::wstring agent = WidenAscii(kWebProbeUserAgent);
  base::UniqueHInternet direct(OpenWinHttpSession(agent, std::nullopt));
  if (!direct)
    return WebProbeResult::kNotOpened;
  const std::optional<SystemProxy> proxy =
      SystemProxyFor(direct.get(), L"https://" + host + L":" + std::to_wstring(port) + L"/");
  base::UniqueHInternet session(proxy ? OpenWinHttpSession(agent, proxy) : direct.release());
  if (!session)
    return WebProbeResult::kNotOpened;
  WinHttpSetTimeouts(session.get(), kWebProbeTimeoutMs, kWebProbeTimeoutMs, kWebProbeTimeoutMs,
                     kWebProbeTimeoutMs);
  base::UniqueHInternet connection(WinHttpConnect(session.get(), host.c_str(), port, 0));
  if (!connection)
    return WebProbeResult::kNotOpened;
  base::UniqueHInternet request(WinHttpOpenRequest(connection.get(), L"HEAD", L"/", nullptr,
                                                   WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                   WINHTTP_FLAG_SECURE));
  if (!request)
    return WebProbeResult::kNotOpened;
  const bool pinned = IsPinnedHost(host);
  ApplyPlayerRequestOptions(request.get(), false, pinned);
  SendingRequestGuard guard(request, host, ServerTrust::kPinned, nullptr);
  if (pinned && !guard.Install())
    return WebProbeResult::kNotOpened;
  const BOOL sent = WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                       WINHTTP_NO_REQUEST_DATA, 0, 0, guard.Context());
  if (guard.Refused())
    return WebProbeResult::kRefused;
  if (!sent)
    return WebProbeResult::kUnreachable;
  if (!WinHttpReceiveResponse(request.get(), nullptr))
    return WebProbeResult::kUnreachable;
  return ValidateServerPins(request.get(), host) ? WebProbeResult::kTrusted : WebProbeResult::kRefused;
}
