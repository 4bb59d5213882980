#include "net/pinning_posix.h"

#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>

#include "net/pki_test_util.h"
#include "text/text.h"

namespace {

PeerChain ChainFromFile(const std::string& file) {
  PeerChain chain;
  for (const std::string& der : ReadPkiCertificates(file)) {
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(der.data());
    chain.emplace_back(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
  }
  return chain;
}

// A store holding exactly the certificates of these tools/pki files, standing in for the
// system's.
base::UniqueX509Store StoreOf(std::initializer_list<const char*> files) {
  base::UniqueX509Store store(X509_STORE_new());
  for (const char* file : files)
    EXPECT_EQ(X509_STORE_load_file(store.get(), (std::string(CORVEL_PKI_DIR) + "/" + file).c_str()), 1)
        << file;
  return store;
}

// The chains the test servers present, and forged ones, judged without a network: catches a
// check that looks at the leaf only, takes a pin off a certificate that was merely sent along
// (a forged leaf followed by the real intermediate), needs the server to send a root the store
// holds, or accepts an unpinned interceptor.
TEST(PinningPosixTest, PinsCountOnlyOnTheChainBuiltWithVerifiedSignatures) {
  const base::UniqueX509Store none = StoreOf({});
  const base::UniqueX509Store rootA = StoreOf({"root-a.pem"});
  struct Case {
    const char* file;
    const char* pin;
    X509_STORE* roots;
    bool trusted;
  };
  const Case cases[] = {
      {"chain-main.pem", kPinInterA, none.get(), true},
      {"chain-main.pem", kPinLeafA, none.get(), true},
      {"chain-rotated-leaf.pem", kPinInterA, none.get(), true},
      {"chain-intermediate-only.pem", kPinInterA, none.get(), true},  // Intermediate A ends the chain
      {"chain-root-only.pem", kPinInterA, none.get(), false},
      {"chain-root-only.pem", kPinRootA, none.get(), true},
      {"chain-interceptor.pem", kPinInterA, none.get(), false},
      {"chain-interceptor.pem", kPinRootA, rootA.get(), false},
      {"chain-spliced.pem", kPinInterA, none.get(), false},
      {"chain-spliced.pem", kPinRootA, none.get(), false},
      {"chain-spliced.pem", kPinRootA, rootA.get(), false},
      // The pinned root is not sent: only a store that holds it completes the chain.
      {"chain-without-root.pem", kPinRootA, none.get(), false},
      {"chain-without-root.pem", kPinRootA, rootA.get(), true},
      // Pins stand in for the anchor only; with the root in the store as well.
      {"chain-wrong-name.pem", kPinInterA, rootA.get(), false},
      {"chain-expired.pem", kPinInterA, rootA.get(), false},
      {"chain-client-only.pem", kPinInterA, rootA.get(), false},
  };
  for (const Case& c : cases) {
    const PeerChain chain = ChainFromFile(c.file);
    ASSERT_GE(chain.size(), 2u) << c.file;
    const PinEntry entry{L"localhost", {c.pin}};
    const PresentedChain presented = InspectPeerChainAgainst(chain, L"localhost", entry.pins, c.roots);
    EXPECT_TRUE(presented.hasCertificate);
    EXPECT_EQ(JudgeServer(L"localhost", entry, presented, ServerTrust::kPinned, nullptr),
              c.trusted ? PinCheck::kTrusted : PinCheck::kRefused)
        << c.file << " " << c.pin;
  }
  // A leaf of the interceptor followed by the pinned root, as Qt hands a chain over.
  PeerChain pasted = ChainFromFile("chain-interceptor.pem");
  pasted.pop_back();
  pasted.push_back(std::move(ChainFromFile("root-a.pem").front()));
  const PresentedChain presented = InspectPeerChainAgainst(pasted, L"localhost", {kPinRootA}, rootA.get());
  EXPECT_EQ(JudgeServer(L"localhost", PinEntry{L"localhost", {kPinRootA}}, presented, ServerTrust::kPinned,
                        nullptr),
            PinCheck::kRefused);
  EXPECT_FALSE(InspectPeerChain(PeerChain{}, L"localhost", {kPinRootA}).hasCertificate);
  EXPECT_TRUE(CopyPeerChain(nullptr).empty());
}

// Catches a system check that skips the host name, trusts a root the store does not hold, or
// reads the product names off another chain than the trusted one.
TEST(PinningPosixTest, SystemTrustNeedsTheStoreAndTheHostName) {
  const base::UniqueX509Store rootA = StoreOf({"root-a.pem"});
  const base::UniqueX509Store rootK = StoreOf({"root-k.pem"});
  struct Case {
    const char* file;
    const wchar_t* host;
    X509_STORE* roots;
    bool trusted;
  };
  const Case cases[] = {
      {"chain-main.pem", L"localhost", rootA.get(), true},
      {"chain-main.pem", L"127.0.0.1", rootA.get(), true},
      {"chain-main.pem", L"LocalHost", rootA.get(), true},
      {"chain-main.pem", L"other.example", rootA.get(), false},
      {"chain-main.pem", L"127.0.0.2", rootA.get(), false},
      {"chain-main.pem", L"localhost", rootK.get(), false},
      {"chain-spliced.pem", L"localhost", rootA.get(), false},
      {"chain-product-root.pem", L"localhost", rootA.get(), false},
      {"chain-product-root.pem", L"localhost", rootK.get(), true},
  };
  for (const Case& c : cases) {
    const PresentedChain presented = InspectPeerChainAgainst(ChainFromFile(c.file), c.host, {}, c.roots);
    EXPECT_EQ(presented.systemTrusted, c.trusted) << c.file << " " << Utf16ToUtf8(c.host);
  }
  // The product's name is read off the trusted chain, where the known-inspector table finds it.
  const PresentedChain inspector = InspectPeerChainAgainst(ChainFromFile("chain-product-root.pem"),
                                                           L"localhost", {kPinInterA}, rootK.get());
  EXPECT_TRUE(inspector.systemTrusted);
  const std::vector<config::InspectorEntry> table = config::KnownInspectors();
  const config::InspectorEntry* product = FindInspectorForIssuers(inspector.issuerNames, table);
  ASSERT_NE(product, nullptr);
  EXPECT_EQ(product->issuerFragment, L"kaspersky");

  // The real system store: the test roots are in no system's store, so a host without pins
  // behind them is refused.
  ReplacePins(DefaultPins());
  EXPECT_EQ(CheckServerPins(ChainFromFile("chain-interceptor.pem"), L"unpinned.test"), PinCheck::kRefused);
  EXPECT_EQ(CheckServerPins(ChainFromFile("chain-main.pem"), L"127.0.0.1"), PinCheck::kTrusted);
  EXPECT_EQ(CheckServerPins(PeerChain{}, L"127.0.0.1"), PinCheck::kRefused);
}

TEST(PinningPosixTest, ProcessListShowsThisProcessWithItsImage) {
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  const auto pid = static_cast<std::uint32_t>(getpid());
  bool found = false;
  for (const RunningProcess& process : ListRunningProcesses()) {
    if (process.pid == pid) {
      found = true;
      EXPECT_EQ(Utf16ToUtf8(process.exeName), self.filename().string());
    }
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(Utf16ToUtf8(ProcessImagePath(pid)), self.string());
  EXPECT_EQ(ProcessImagePath(0), L"");
}

// The stand-in for the signer test: only files the administrator put in place pass.
TEST(PinningPosixTest, VendorBinaryMustBeAdministratorInstalled) {
  const std::filesystem::path shell = std::filesystem::canonical("/bin/sh");
  struct stat info {};
  ASSERT_EQ(stat(shell.c_str(), &info), 0);
  if (info.st_uid == 0) {
    EXPECT_TRUE(IsVendorBinary(Utf8ToUtf16(shell.string()), L"any vendor"));
  }

  // Under a folder everyone may write (the temporary folder), even a root-owned 0755 file fails.
  const std::filesystem::path temporary = std::filesystem::temp_directory_path() / "corvel-vendor-test";
  std::filesystem::create_directories(temporary);
  const std::filesystem::path copied = temporary / "avastsvc";
  { std::ofstream(copied) << "#!/bin/sh\n"; }
  chmod(copied.c_str(), 0755);
  chmod(temporary.c_str(), 0777);
  EXPECT_FALSE(IsVendorBinary(Utf8ToUtf16(copied.string()), L""));
  chmod(temporary.c_str(), 0755);
  chmod(copied.c_str(), 0666);
  EXPECT_FALSE(IsVendorBinary(Utf8ToUtf16(copied.string()), L""));
  std::filesystem::remove_all(temporary);

  EXPECT_FALSE(IsVendorBinary(L"bin/sh", L""));
  EXPECT_FALSE(IsVendorBinary(L"/nonexistent/avastsvc", L""));
  EXPECT_FALSE(IsVendorBinary(L"/usr/bin", L""));
}

}  // namespace
