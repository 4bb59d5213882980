#include "net/pinning.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "net/pki_test_util.h"

namespace {

std::string Label(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}

// Catches a lookup that is case-sensitive, lets a later entry win, prefers a shorter suffix,
// or matches a suffix without the dot in front of it.
TEST(PinningTest, LookupPrefersExactThenLongestSuffixThenEarliest) {
  const std::vector<PinEntry> entries = {
      {L"Platform.TEST", {"exact-1"}},
      {L"cdn.platform.test", {"cdn"}},
      {L"test", {"tld"}},
      {L"platform.test", {"exact-2"}},
      {L"other.test", {}},
  };
  struct Case {
    std::wstring host;
    const char* firstPin;  // null: no entry
  };
  const Case cases[] = {
      {L"platform.test", "exact-1"},
      {L"PLATFORM.test", "exact-1"},
      {L"a.b.cdn.platform.test", "cdn"},
      {L"cdn.platform.test", "cdn"},
      {L"www.platform.test", "exact-1"},  // two suffixes of equal length: the earlier one
      {L"notplatform.test", "tld"},       // ends with "platform.test" but not ".platform.test"
      {L"test", "tld"},
      {L"other.test", nullptr},  // found, but the caller sees an entry without pins
      {L"platform.example", nullptr},
      {L"", nullptr},
  };
  for (const Case& c : cases) {
    const std::optional<PinEntry> found = LookupPinsIn(entries, c.host);
    if (c.firstPin == nullptr) {
      EXPECT_TRUE(!found || found->pins.empty()) << Label(c.host);
      continue;
    }
    ASSERT_TRUE(found.has_value()) << Label(c.host);
    ASSERT_FALSE(found->pins.empty()) << Label(c.host);
    EXPECT_EQ(found->pins[0], c.firstPin) << Label(c.host);
  }
}

// Catches hashing the whole certificate, the raw key bits instead of the SubjectPublicKeyInfo,
// or a wrong Base64 alphabet.
TEST(PinningTest, PinIsBase64OfSha256OverTheSubjectPublicKeyInfo) {
  const std::map<std::string, std::string> expected = {{"leaf-a.pem", kPinLeafA},
                                                       {"inter-a.pem", kPinInterA},
                                                       {"root-a.pem", kPinRootA},
                                                       {"leaf-x.pem", kPinLeafX}};
  for (const auto& [file, pin] : expected) {
    const std::vector<std::string> certificates = ReadPkiCertificates(file);
    ASSERT_EQ(certificates.size(), 1u) << file;
    EXPECT_EQ(PinOfDerCertificate(certificates[0]), pin) << file;
  }
  // The same key under another issuer (inter-a re-issued by root C) has the same pin.
  EXPECT_EQ(PinOfDerCertificate(ReadPkiCertificates("inter-a-by-c.pem").at(0)), kPinInterA);
  EXPECT_EQ(PinOfDerCertificate(""), "");
  EXPECT_EQ(PinOfDerCertificate("not a certificate"), "");
}

// The platform half reads pins only off the chain built from the server's certificate with
// verified signatures, on both platforms. Catches a pin taken off a certificate that was merely
// sent along: a forged leaf whose issuer name (but not signature) leads to the pinned
// intermediate, or an interceptor's leaf followed by the pinned root. A pin stands in for the
// anchor only: a leaf of the pinned intermediate for another name, a lapsed one and one for
// client authentication are refused.
TEST(PinningTest, PinsOnlyCountOnTheVerifiedChain) {
  struct Case {
    std::vector<std::string> chain;
    const char* pin;
    bool trusted;
  };
  std::vector<std::string> pasted = ReadPkiCertificates("chain-interceptor.pem");
  pasted.back() = ReadPkiCertificates("root-a.pem").at(0);
  const Case cases[] = {
      {ReadPkiCertificates("chain-main.pem"), kPinInterA, true},
      {ReadPkiCertificates("chain-main.pem"), kPinRootA, true},
      {ReadPkiCertificates("chain-intermediate-only.pem"), kPinInterA, true},
      {ReadPkiCertificates("chain-spliced.pem"), kPinInterA, false},
      {ReadPkiCertificates("chain-spliced.pem"), kPinRootA, false},
      {pasted, kPinRootA, false},
      {ReadPkiCertificates("chain-wrong-name.pem"), kPinInterA, false},
      {ReadPkiCertificates("chain-expired.pem"), kPinInterA, false},
      {ReadPkiCertificates("chain-client-only.pem"), kPinInterA, false},
  };
  for (const std::wstring host : {L"localhost", L"127.0.0.1"}) {
    for (const Case& c : cases) {
      ASSERT_GE(c.chain.size(), 2u);
      const PinEntry entry{host, {c.pin}};
      const PresentedChain presented = InspectServerChain(c.chain, host, entry.pins);
      EXPECT_TRUE(presented.hasCertificate);
      EXPECT_FALSE(presented.systemTrusted) << "no system trusts the test roots";
      EXPECT_EQ(JudgeServer(host, entry, presented, ServerTrust::kPinned, nullptr) == PinCheck::kTrusted,
                c.trusted)
          << &c - cases << " " << c.pin;
    }
  }
  // The good chain names neither another host.
  const PinEntry other{L"pinned.test", {kPinInterA}};
  EXPECT_EQ(JudgeServer(L"pinned.test", other,
                        InspectServerChain(ReadPkiCertificates("chain-main.pem"), L"pinned.test", other.pins),
                        ServerTrust::kPinned, nullptr),
            PinCheck::kRefused);
  EXPECT_FALSE(InspectServerChain({}, L"pinned.test", {kPinRootA}).hasCertificate);
  EXPECT_FALSE(InspectServerChain({"not a certificate"}, L"pinned.test", {kPinRootA}).hasCertificate);
}

// Catches a check that trusts a host without a certificate, stops at the leaf, consults the
// security-product table when a pin matched, trusts a product's name without the system's trust
// in its root, or shows the notice outside the platform's domain.
TEST(PinningTest, JudgeAcceptsAnyPinnedElementAndNamesPlatformRefusals) {
  const PinEntry entry{L"ignored", {"PIN-B", "PIN-C"}};
  PresentedChain leafMatch{true, true, {"PIN-B", "x", "y"}, {L"i", L"r", L"r"}};
  PresentedChain rootMatch{true, true, {"x", "", "PIN-C"}, {L"i", L"r", L"r"}};
  const std::vector<std::wstring> avast = {L"Avast! Web/Mail Shield Root", L"Avast! Web/Mail Shield Root"};
  PresentedChain noMatch{true, true, {"x", "y"}, avast, /*systemTrusted=*/true};
  PresentedChain selfMadeProduct{true, true, {"x", "y"}, avast, /*systemTrusted=*/false};
  PresentedChain notBuilt{true, false, {}, {}, /*systemTrusted=*/true};
  PresentedChain noCertificate{};

  int asked = 0;
  auto accept = [&asked](const std::vector<std::wstring>&) {
    ++asked;
    return true;
  };
  auto refuse = [&asked](const std::vector<std::wstring>&) {
    ++asked;
    return false;
  };

  struct Case {
    const wchar_t* host;
    const PresentedChain* chain;
    bool inspector;
    PinCheck expected;
    int askedInspector;
  };
  const Case cases[] = {
      {L"localhost", &leafMatch, false, PinCheck::kTrusted, 0},
      {L"127.0.0.1", &rootMatch, false, PinCheck::kTrusted, 0},
      {L"localhost", &noMatch, false, PinCheck::kRefused, 1},
      {L"127.0.0.1", &noMatch, false, PinCheck::kRefusedOnPlatformHost, 1},
      {L"api.127.0.0.1", &noMatch, false, PinCheck::kRefusedOnPlatformHost, 1},
      {L"127.0.0.1", &noMatch, true, PinCheck::kTrusted, 1},
      // A running product's name in a certificate that no trusted root vouches for.
      {L"127.0.0.1", &selfMadeProduct, true, PinCheck::kRefusedOnPlatformHost, 0},
      {L"localhost", &selfMadeProduct, true, PinCheck::kRefused, 0},
      {L"127.0.0.1", &notBuilt, true, PinCheck::kRefusedOnPlatformHost, 0},
      {L"127.0.0.1", &noCertificate, true, PinCheck::kRefused, 0},  // nothing intercepted: no notice
  };
  for (const Case& c : cases) {
    asked = 0;
    const PinCheck check = c.inspector ? JudgeServerPins(c.host, entry, *c.chain, accept)
                                       : JudgeServerPins(c.host, entry, *c.chain, refuse);
    EXPECT_EQ(check, c.expected) << Label(c.host);
    EXPECT_EQ(asked, c.askedInspector) << Label(c.host);
  }
  EXPECT_TRUE(ApplyPinCheck(PinCheck::kTrusted, L"127.0.0.1"));
  EXPECT_FALSE(IsPinnedHost(L"unpinned.example"));
  EXPECT_FALSE(ApplyPinCheck(PinCheck::kRefused, L"127.0.0.1"));
  EXPECT_TRUE(IsPlatformHost(L"127.0.0.1"));
  EXPECT_FALSE(IsPlatformHost(L"localhost"));
}

// Catches an unpinned host trusted without the system's trust, a page-script server taken on a
// name alone or refused with its valid pins, and a notice from the lenient rule.
TEST(PinningTest, RulesForUnpinnedHostsAndForPinsOrSystemTrust) {
  const std::optional<PinEntry> pinned = PinEntry{L"127.0.0.1", {"PIN-A"}};
  const std::optional<PinEntry> empty = PinEntry{L"127.0.0.1", {}};
  const PresentedChain trustedOnly{true, true, {"x"}, {L"i"}, /*systemTrusted=*/true};
  const PresentedChain pinnedOnly{true, true, {"x", "PIN-A"}, {L"i", L"r"}, /*systemTrusted=*/false};
  const PresentedChain pinNotOnChain{true, false, {"PIN-A"}, {L"i"}, /*systemTrusted=*/false};
  const PresentedChain neither{true, true, {"x"}, {L"Kaspersky Root"}, /*systemTrusted=*/false};
  // The product table says no here; it may only be asked for a pinned host under the strict
  // rule with a trusted chain that carries no pin.
  int asked = 0;
  auto refuse = [&asked](const std::vector<std::wstring>&) {
    ++asked;
    return false;
  };
  struct Case {
    const std::optional<PinEntry>* entry;
    const PresentedChain* chain;
    ServerTrust rule;
    PinCheck expected;
    int askedInspector;
  };
  const std::optional<PinEntry> none;
  const Case cases[] = {
      {&none, &trustedOnly, ServerTrust::kPinned, PinCheck::kTrusted, 0},
      {&none, &pinnedOnly, ServerTrust::kPinned, PinCheck::kRefused, 0},  // no notice without pins
      {&empty, &neither, ServerTrust::kPinned, PinCheck::kRefused, 0},
      {&none, &trustedOnly, ServerTrust::kPinsOrSystem, PinCheck::kTrusted, 0},
      {&none, &neither, ServerTrust::kPinsOrSystem, PinCheck::kRefused, 0},
      {&pinned, &trustedOnly, ServerTrust::kPinsOrSystem, PinCheck::kTrusted, 0},
      {&pinned, &pinnedOnly, ServerTrust::kPinsOrSystem, PinCheck::kTrusted, 0},
      {&pinned, &pinNotOnChain, ServerTrust::kPinsOrSystem, PinCheck::kRefused, 0},
      {&pinned, &neither, ServerTrust::kPinsOrSystem, PinCheck::kRefused, 0},  // on the platform host
      {&pinned, &trustedOnly, ServerTrust::kPinned, PinCheck::kRefusedOnPlatformHost, 1},
      {&pinned, &neither, ServerTrust::kPinned, PinCheck::kRefusedOnPlatformHost, 0},
      {&pinned, &pinnedOnly, ServerTrust::kPinned, PinCheck::kTrusted, 0},
  };
  for (const Case& c : cases) {
    asked = 0;
    const std::string label = std::to_string(c.entry->has_value() ? (*c.entry)->pins.size() : 99) +
                              " pins, rule " + std::to_string(static_cast<int>(c.rule)) + ", expected " +
                              std::to_string(static_cast<int>(c.expected));
    EXPECT_EQ(JudgeServer(L"127.0.0.1", *c.entry, *c.chain, c.rule, refuse), c.expected) << label;
    EXPECT_EQ(asked, c.askedInspector) << label;
  }
}

TEST(PinningTest, FirstIssuerInChainOrderPicksTheProduct) {
  const std::vector<config::InspectorEntry> table = {
      {L"avast", {L"avastsvc.exe"}, L"avast software"},
      {L"kaspersky", {L"avp.exe"}, L"kaspersky"},
  };
  struct Case {
    std::vector<std::wstring> issuers;
    const wchar_t* product;  // issuer fragment of the chosen entry; null for none
  };
  const Case cases[] = {
      {{L"", L"Kaspersky Anti-Virus Personal Root", L"Avast Root"}, L"kaspersky"},
      {{L"AVAST! Web/Mail Shield", L"Kaspersky"}, L"avast"},
      {{L"Corvel Test Intermediate A", L"Corvel Test Root A"}, nullptr},
      {{L"", L""}, nullptr},
      {{}, nullptr},
  };
  for (const Case& c : cases) {
    const config::InspectorEntry* found = FindInspectorForIssuers(c.issuers, table);
    if (c.product == nullptr) {
      EXPECT_EQ(found, nullptr);
    } else {
      ASSERT_NE(found, nullptr) << Label(c.product);
      EXPECT_EQ(found->issuerFragment, c.product);
    }
  }
  // An entry with an empty fragment takes any named issuer.
  const std::vector<config::InspectorEntry> catchAll = {{L"", {L"x.exe"}, L""}};
  EXPECT_NE(FindInspectorForIssuers({L"", L"Anything"}, catchAll), nullptr);
  EXPECT_EQ(FindInspectorForIssuers({L""}, catchAll), nullptr);
  // The configured table knows the usual products by their certificate issuers.
  const std::vector<config::InspectorEntry> configured = config::KnownInspectors();
  const config::InspectorEntry* avast = FindInspectorForIssuers({L"Avast! Web/Mail Shield Root"}, configured);
  ASSERT_NE(avast, nullptr);
  EXPECT_EQ(avast->processNames.at(0), L"avastsvc.exe");
}

// Catches accepting a product by its process name alone, or by a process whose image cannot be
// read.
TEST(PinningTest, ProductRunsOnlyWhenANamedProcessPassesTheVendorTest) {
  const config::InspectorEntry avast{L"avast", {L"avastsvc.exe", L"afwserv.exe"}, L"avast software"};
  const std::map<std::uint32_t, std::wstring> paths = {{10, L"C:\\Program Files\\Avast\\AvastSvc.exe"},
                                                       {11, L"C:\\Users\\me\\AvastSvc.exe"},
                                                       {12, L""},
                                                       {13, L"/opt/avast/bin/afwserv"}};
  std::vector<std::pair<std::wstring, std::wstring>> vendorCalls;
  auto imagePathOf = [&paths](std::uint32_t pid) {
    const auto it = paths.find(pid);
    return it == paths.end() ? std::wstring() : it->second;
  };
  auto vendor = [&vendorCalls](const std::wstring& path, const std::wstring& fragment) {
    vendorCalls.emplace_back(path, fragment);
    return path.find(L"Program Files") != std::wstring::npos || path.rfind(L"/opt/", 0) == 0;
  };
  struct Case {
    std::vector<RunningProcess> processes;
    bool running;
    std::size_t vendorChecks;
  };
  const Case cases[] = {
      {{{1, L"explorer.exe"}, {10, L"AVASTSVC.EXE"}}, true, 1},
      {{{11, L"AvastSvc.exe"}}, false, 1},  // right name, untrusted file
      {{{12, L"avastsvc.exe"}}, false, 0},  // image path unreadable
      {{{99, L"avastsvc.exe"}}, false, 0},  // gone before its path was read
      {{{13, L"afwserv"}}, true, 1},        // an executable without ".exe"
      {{{14, L"avastsvc.exe.bak"}, {15, L"svc.exe"}}, false, 0},
      {{}, false, 0},
  };
  for (const Case& c : cases) {
    vendorCalls.clear();
    EXPECT_EQ(IsProductRunning(avast, c.processes, imagePathOf, vendor), c.running);
    EXPECT_EQ(vendorCalls.size(), c.vendorChecks);
    for (const auto& call : vendorCalls)
      EXPECT_EQ(call.second, L"avast software");
  }
}

// Catches a name check that takes a wildcard for more than one label, reads an IP address as a
// name, or uses the common name beside alternative names.
TEST(PinningTest, CertificateNamesTheHostByItsAlternativeNames) {
  CertificateNames names;
  names.hasAltNames = true;
  names.dnsNames = {L"Platform.Test", L"*.cdn.platform.test"};
  names.ipAddresses = {{127, 0, 0, 1}, std::vector<std::uint8_t>(15, 0)};
  names.ipAddresses.back().push_back(1);  // ::1
  names.commonName = L"other.test";
  struct Case {
    const wchar_t* host;
    bool named;
  };
  const Case cases[] = {{L"platform.test", true},
                        {L"PLATFORM.test.", true},
                        {L"a.cdn.platform.test", true},
                        {L"cdn.platform.test", false},
                        {L"a.b.cdn.platform.test", false},
                        {L"xplatform.test", false},
                        {L"127.0.0.1", true},
                        {L"0x7f.1", true},
                        {L"[::1]", true},
                        {L"127.0.0.2", false},
                        {L"other.test", false},
                        {L"", false}};
  for (const Case& c : cases)
    EXPECT_EQ(CertificateNamesHost(names, c.host), c.named) << Label(c.host);
  names = CertificateNames{};
  names.commonName = L"other.test";
  EXPECT_TRUE(CertificateNamesHost(names, L"other.test"))
      << "without alternative names the common name counts";
}

// Catches a gate that probes a refused host again or warns twice about it, probes unpinned
// hosts, takes an unreachable probe for a pass, ignores the port, or lets another spelling of a
// host (case, trailing dot, IPv4 written as IPv6) past the lookup.
TEST(PinningTest, WebHostGateRemembersPassedAndRefusedHostsPerPort) {
  std::map<std::wstring, WebProbeResult> results = {
      {L"pinned.test:443", WebProbeResult::kTrusted},      {L"pinned.test:8443", WebProbeResult::kRefused},
      {L"intercepted.test:443", WebProbeResult::kRefused}, {L"127.0.0.1:443", WebProbeResult::kRefused},
      {L"offline.test:443", WebProbeResult::kUnreachable}, {L"broken.test:443", WebProbeResult::kNotOpened}};
  std::map<std::wstring, int> probes;
  std::vector<std::wstring> lookups;
  auto probe = [&](const std::wstring& host, std::uint16_t port) {
    const std::wstring key = host + L":" + std::to_wstring(port);
    ++probes[key];
    return results.at(key);
  };
  auto lookup = [&](const std::wstring& host) -> std::optional<PinEntry> {
    lookups.push_back(host);
    if (host == L"unpinned.test")
      return std::nullopt;
    if (host == L"empty.test")
      return PinEntry{L"empty.test", {}};
    return PinEntry{L"test", {"PIN"}};
  };
  WebHostGate gate(probe, lookup, std::chrono::hours(1));
  using A = WebGateAnswer;
  struct Case {
    const wchar_t* host;
    std::uint16_t port;
    WebGateAnswer first, later;
  };
  const Case cases[] = {
      {L"pinned.test", 443, A::kAllow, A::kAllow},
      {L"PINNED.test.", 443, A::kAllow, A::kAllow},  // the same host
      {L"pinned.test", 8443, A::kRefuseAndWarn, A::kRefuse},
      {L"intercepted.test", 443, A::kRefuseAndWarn, A::kRefuse},
      {L"127.0.0.1", 443, A::kRefuseAndWarn, A::kRefuse},
      {L"[::ffff:127.0.0.1]", 443, A::kRefuse, A::kRefuse},  // the same server, refused already
      {L"127.0.0.1.", 443, A::kRefuse, A::kRefuse},
      {L"offline.test", 443, A::kAllow, A::kAllow},
      {L"broken.test", 443, A::kAllow, A::kAllow},
      {L"unpinned.test", 443, A::kAllow, A::kAllow},
      {L"empty.test", 443, A::kAllow, A::kAllow}};
  for (int round = 0; round < 3; ++round) {
    for (const Case& c : cases) {
      EXPECT_EQ(gate.Check(c.host, c.port), round == 0 ? c.first : c.later)
          << Label(c.host) << ":" << c.port << " round " << round;
    }
  }
  EXPECT_EQ(probes[L"pinned.test:443"], 1);
  EXPECT_EQ(probes[L"pinned.test:8443"], 1);
  EXPECT_EQ(probes[L"127.0.0.1:443"], 1) << "a refused host stays refused without a new probe";
  EXPECT_EQ(probes[L"offline.test:443"], 1) << "not probed again within the interval";
  EXPECT_EQ(probes[L"broken.test:443"], 3);
  EXPECT_EQ(probes.count(L"unpinned.test:443"), 0u);
  EXPECT_EQ(probes.count(L"empty.test:443"), 0u);
  EXPECT_EQ(std::count(lookups.begin(), lookups.end(), L"127.0.0.1"), 1) << "looked up by its normal form";

  // Without the interval, an unreachable host is probed on every request: it was never passed.
  WebHostGate eager(probe, lookup, std::chrono::milliseconds(0));
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(eager.Check(L"offline.test", 443), A::kAllow);
  EXPECT_EQ(probes[L"offline.test:443"], 1 + 3);

  EXPECT_EQ(NormalizePinHost(L"[::ffff:7f00:1]"), L"127.0.0.1");
  EXPECT_EQ(NormalizePinHost(L"Platform.Test."), L"platform.test");
  EXPECT_EQ(NormalizePinHost(L"0x7f.1"), L"127.0.0.1");
  EXPECT_EQ(NormalizePinHost(L"[0::1]"), L"[::1]");
}

TEST(PinningTest, WebNoticeCodeIsCutToOneHundredBytes) {
  EXPECT_EQ(BuildWebPinNoticeCode(L"cdn.platform.test"), "MITM_PIN_cdn.platform.test");
  const std::string code = BuildWebPinNoticeCode(std::wstring(200, L'h'));
  EXPECT_EQ(code.size(), 100u);
  EXPECT_EQ(code, "MITM_PIN_" + std::string(91, 'h'));
  EXPECT_EQ(BuildWebPinNoticeCode(std::wstring(91, L'h')).size(), 100u);
}

}  // namespace
