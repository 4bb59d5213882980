#include "net/pinning.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

#include "base/fatal_dialog.h"
#include "text/text.h"
#include "text/web_address.h"

namespace {

bool EndsWith(const std::wstring& text, const std::wstring& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool CarriesPin(const PresentedChain& chain, const PinEntry& entry) {
  return std::any_of(chain.pins.begin(), chain.pins.end(), [&entry](const std::string& pin) {
    return !pin.empty() && std::find(entry.pins.begin(), entry.pins.end(), pin) != entry.pins.end();
  });
}

PinStore& GlobalPinStore() {
  static PinStore store;
  return store;
}

}  // namespace

void PinStore::Replace(const std::vector<PinEntry>& entries) {
  std::vector<PinEntry> copy = entries;
  std::unique_lock<std::shared_mutex> guard(lock_);
  entries_.swap(copy);
}

std::optional<PinEntry> PinStore::Lookup(const std::wstring& host) const {
  std::shared_lock<std::shared_mutex> guard(lock_);
  return LookupPinsIn(entries_, host);
}

void ReplacePins(const std::vector<PinEntry>& entries) {
  GlobalPinStore().Replace(entries);
}

std::optional<PinEntry> LookupPins(const std::wstring& host) {
  return GlobalPinStore().Lookup(host);
}

std::vector<PinEntry> DefaultPins() {
  PinEntry entry;
  entry.scope = config::BuiltinPinScope();
  entry.pins = config::BuiltinPins();
  return {std::move(entry)};
}

std::wstring NormalizePinHost(const std::wstring& host) {
  std::wstring name = ToLowerCopy(host);
  if (name.size() > 1 && name.back() == L'.')
    name.pop_back();
  if (name.size() > 2 && name.front() == L'[' && name.back() == L']') {
    // An IPv4 address written as IPv6 (::ffff:a.b.c.d) reaches the same server.
    if (const auto bytes = ParseIpv6(name.substr(1, name.size() - 2))) {
      const auto& b = *bytes;
      bool mapped = b[10] == 0xFF && b[11] == 0xFF;
      for (int i = 0; i < 10; ++i)
        mapped = mapped && b[i] == 0;
      if (mapped) {
        return std::to_wstring(b[12]) + L"." + std::to_wstring(b[13]) + L"." + std::to_wstring(b[14]) + L"." +
               std::to_wstring(b[15]);
      }
    }
  }
  const std::optional<std::wstring> canonical = CanonicalHost(name);
  return canonical ? *canonical : name;
}

std::optional<PinEntry> LookupPinsIn(const std::vector<PinEntry>& entries, const std::wstring& host) {
  const std::wstring lowerHost = NormalizePinHost(host);
  const PinEntry* best = nullptr;
  std::size_t bestLength = 0;
  for (const PinEntry& entry : entries) {
    const std::wstring scope = ToLowerCopy(entry.scope);
    if (scope == lowerHost)
      return entry;
    if (scope.size() > bestLength && EndsWith(lowerHost, L"." + scope)) {
      best = &entry;
      bestLength = scope.size();
    }
  }
  if (best == nullptr)
    return std::nullopt;
  return *best;
}

bool CertificateNamesHost(const CertificateNames& names, const std::wstring& host) {
  const std::wstring name = NormalizePinHost(host);
  if (name.empty())
    return false;
  if (IsIpAddressHost(name)) {
    std::vector<std::uint8_t> address;
    if (name.front() == L'[') {
      const auto bytes = ParseIpv6(name.substr(1, name.size() - 2));
      if (!bytes)
        return false;
      address.assign(bytes->begin(), bytes->end());
    } else {
      for (const std::wstring& part : SplitString(name, L'.'))
        address.push_back(static_cast<std::uint8_t>(std::stoi(part)));
    }
    return std::find(names.ipAddresses.begin(), names.ipAddresses.end(), address) != names.ipAddresses.end();
  }
  const auto matches = [&name](const std::wstring& pattern) {
    const std::wstring lower = NormalizePinHost(pattern);
    if (lower.size() > 2 && lower.compare(0, 2, L"*.") == 0) {
      const size_t dot = name.find(L'.');
      return dot != std::wstring::npos && dot > 0 && name.substr(dot) == lower.substr(1);
    }
    return !lower.empty() && lower == name;
  };
  if (std::any_of(names.dnsNames.begin(), names.dnsNames.end(), matches))
    return true;
  return !names.hasAltNames && matches(names.commonName);
}

bool IsPinnedHost(const std::wstring& host) {
  const std::optional<PinEntry> entry = LookupPins(host);
  return entry && !entry->pins.empty();
}

bool IsPlatformHost(const std::wstring& host) {
  return EndsWith(ToLowerCopy(host), ToLowerCopy(config::PrimaryDomain()));
}

bool ChainMatchesPins(const std::wstring& host, const std::vector<std::string>& derChain) {
  const std::optional<PinEntry> entry = LookupPins(host);
  if (!entry || entry->pins.empty())
    return false;
  const PresentedChain chain = InspectServerChain(derChain, host, entry->pins);
  return chain.chainBuilt && CarriesPin(chain, *entry);
}

PinCheck JudgeServerPins(const std::wstring& host,
                         const PinEntry& entry,
                         const PresentedChain& chain,
                         const std::function<bool(const std::vector<std::wstring>&)>& inspectorAccepts) {
  // Without any certificate there is nothing that could have intercepted: no notice.
  if (!chain.hasCertificate)
    return PinCheck::kRefused;
  if (chain.chainBuilt) {
    if (CarriesPin(chain, entry))
      return PinCheck::kTrusted;
    // A product's name in an issuer proves nothing by itself (anyone can write it into a
    // self-made certificate): a genuine product has installed its root in the system's store.
    if (chain.systemTrusted && inspectorAccepts && inspectorAccepts(chain.issuerNames))
      return PinCheck::kTrusted;
  }
  return IsPlatformHost(host) ? PinCheck::kRefusedOnPlatformHost : PinCheck::kRefused;
}

PinCheck JudgeServer(const std::wstring& host,
                     const std::optional<PinEntry>& entry,
                     const PresentedChain& chain,
                     ServerTrust rule,
                     const std::function<bool(const std::vector<std::wstring>&)>& inspectorAccepts) {
  if (!entry || entry->pins.empty())
    return chain.systemTrusted ? PinCheck::kTrusted : PinCheck::kRefused;
  if (rule == ServerTrust::kPinned)
    return JudgeServerPins(host, *entry, chain, inspectorAccepts);
  const bool pinned = chain.chainBuilt && CarriesPin(chain, *entry);
  return pinned || chain.systemTrusted ? PinCheck::kTrusted : PinCheck::kRefused;
}

bool ApplyPinCheck(PinCheck check, const std::wstring& host) {
  if (check == PinCheck::kRefusedOnPlatformHost)
    ShowInterceptionNotice("SSL_" + Utf16ToUtf8(host));
  return check == PinCheck::kTrusted;
}

const config::InspectorEntry* FindInspectorForIssuers(const std::vector<std::wstring>& issuerNames,
                                                      const std::vector<config::InspectorEntry>& table) {
  for (const std::wstring& issuer : issuerNames) {
    if (issuer.empty())
      continue;
    const std::wstring lowerIssuer = ToLowerCopy(issuer);
    for (const config::InspectorEntry& entry : table) {
      if (entry.issuerFragment.empty() || lowerIssuer.find(entry.issuerFragment) != std::wstring::npos) {
        return &entry;
      }
    }
  }
  return nullptr;
}

bool IsProductRunning(
    const config::InspectorEntry& entry,
    const std::vector<RunningProcess>& processes,
    const std::function<std::wstring(std::uint32_t pid)>& imagePathOf,
    const std::function<bool(const std::wstring& path, const std::wstring& signerFragment)>& vendorBinary) {
  for (const RunningProcess& process : processes) {
    const std::wstring name = ToLowerCopy(process.exeName);
    if (name.empty())
      continue;
    const bool named =
        std::any_of(entry.processNames.begin(), entry.processNames.end(),
                    [&](const std::wstring& wanted) { return wanted == name || wanted == name + L".exe"; });
    if (!named)
      continue;
    const std::wstring path = imagePathOf(process.pid);
    if (path.empty())
      continue;
    if (vendorBinary(path, entry.signerFragment))
      return true;
  }
  return false;
}

bool AcceptsKnownInspector(const std::vector<std::wstring>& issuerNames) {
  const std::vector<config::InspectorEntry> table = config::KnownInspectors();
  const config::InspectorEntry* entry = FindInspectorForIssuers(issuerNames, table);
  if (entry == nullptr)
    return false;
  return IsProductRunning(*entry, ListRunningProcesses(), ProcessImagePath, IsVendorBinary);
}

void ShowInterceptionNotice(const std::string& code) {
  ShowFatalDiagnosticDialog(
      L"Network Connection Intercepted - اتصال غير آمن",
      L"A security program is blocking the secure connection.\n"
      L"Please disable 'HTTPS Scanning' or 'Web Shield' in your antivirus settings and try again.",
      L"برنامج حماية يمنع الاتصال الآمن.\n"
      L"يرجى تعطيل خاصية 'فحص HTTPS' أو 'حماية الويب' في إعدادات مكافح الفيروسات وحاول مرة أخرى.",
      code);
}

WebHostGate::WebHostGate(Probe probe, Lookup lookup, std::chrono::milliseconds reprobeInterval)
    : probe_(std::move(probe)), lookup_(std::move(lookup)), reprobeInterval_(reprobeInterval) {}

std::optional<WebGateAnswer> WebHostGate::Known(const std::wstring& host, std::uint16_t port) {
  const std::wstring normalized = NormalizePinHost(host);
  const std::wstring key = normalized + L":" + std::to_wstring(port);
  const auto now = std::chrono::steady_clock::now();
  {
    std::shared_lock<std::shared_mutex> guard(lock_);
    if (verified_.count(key) != 0)
      return WebGateAnswer::kAllow;
    if (refused_.count(key) != 0)
      return WebGateAnswer::kRefuse;
    // A probe that reached nobody a moment ago is not repeated for every request of a page.
    const auto unreachable = unreachableSince_.find(key);
    if (unreachable != unreachableSince_.end() && now - unreachable->second < reprobeInterval_)
      return WebGateAnswer::kAllow;
  }
  const std::optional<PinEntry> entry = lookup_(normalized);
  if (!entry || entry->pins.empty()) {
    std::unique_lock<std::shared_mutex> guard(lock_);
    verified_.insert(key);
    return WebGateAnswer::kAllow;
  }
  return std::nullopt;
}

WebGateAnswer WebHostGate::Check(const std::wstring& host, std::uint16_t port) {
  if (const std::optional<WebGateAnswer> known = Known(host, port))
    return *known;
  const std::wstring normalized = NormalizePinHost(host);
  const std::wstring key = normalized + L":" + std::to_wstring(port);
  const auto now = std::chrono::steady_clock::now();
  switch (probe_(normalized, port)) {
    case WebProbeResult::kNotOpened:
      return WebGateAnswer::kAllow;
    case WebProbeResult::kUnreachable: {
      // Not remembered as verified: the next request after the interval is probed again, so a
      // probe that was kept from the server does not open the host for good.
      std::unique_lock<std::shared_mutex> guard(lock_);
      unreachableSince_[key] = now;
      return WebGateAnswer::kAllow;
    }
    case WebProbeResult::kTrusted: {
      std::unique_lock<std::shared_mutex> guard(lock_);
      verified_.insert(key);
      unreachableSince_.erase(key);
      return WebGateAnswer::kAllow;
    }
    case WebProbeResult::kRefused:
      break;
  }
  // Probing a refused host again would block the page's thread once more for nothing, and each
  // refusal would start another warning.
  std::unique_lock<std::shared_mutex> guard(lock_);
  return refused_.insert(key).second ? WebGateAnswer::kRefuseAndWarn : WebGateAnswer::kRefuse;
}

namespace {

WebHostGate& ProcessWebHostGate() {
  static WebHostGate gate(ProbeWebHost, LookupPins);
  return gate;
}

}  // namespace

WebGateAnswer PassWebHostGate(const std::wstring& host, std::uint16_t port) {
  return ProcessWebHostGate().Check(host, port);
}

std::optional<WebGateAnswer> KnownWebHostGate(const std::wstring& host, std::uint16_t port) {
  return ProcessWebHostGate().Known(host, port);
}

std::string BuildWebPinNoticeCode(const std::wstring& host) {
  std::string code = "MITM_PIN_" + Utf16ToUtf8(host);
  if (code.size() > 100)
    code.resize(100);
  return code;
}

void ShowWebPinFailureNotice(const std::wstring& host) {
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ShowInterceptionNotice(BuildWebPinNoticeCode(host));
}
