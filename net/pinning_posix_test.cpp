#include "net/pinning_posix.h"

#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

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

// The chains the test servers present, judged without a network: catches a check that looks at
// the leaf only, or that accepts an unpinned interceptor.
TEST(PinningPosixTest, PresentedChainPassesOnAnyPinnedElement) {
  ReplacePins({{L"platform.test", {kPinInterA}}, {L"root.test", {kPinRootA}}, {L"empty.test", {}}});
  struct Case {
    const char* file;
    const wchar_t* host;
    PinCheck expected;
  };
  const Case cases[] = {
      {"chain-main.pem", L"api.platform.test", PinCheck::kTrusted},
      {"chain-rotated-leaf.pem", L"platform.test", PinCheck::kTrusted},
      {"chain-intermediate-only.pem", L"platform.test", PinCheck::kTrusted},
      {"chain-root-only.pem", L"platform.test", PinCheck::kRefused},
      {"chain-root-only.pem", L"root.test", PinCheck::kTrusted},
      {"chain-interceptor.pem", L"platform.test", PinCheck::kRefused},
      {"chain-interceptor.pem", L"unpinned.test", PinCheck::kTrusted},
      {"chain-interceptor.pem", L"empty.test", PinCheck::kTrusted},
  };
  for (const Case& c : cases) {
    const PeerChain chain = ChainFromFile(c.file);
    ASSERT_GE(chain.size(), 2u) << c.file;
    EXPECT_EQ(CheckServerPins(chain, c.host), c.expected) << c.file << " " << Utf16ToUtf8(c.host);
  }
  EXPECT_EQ(CheckServerPins(PeerChain{}, L"platform.test"), PinCheck::kRefused);
  EXPECT_TRUE(CopyPeerChain(nullptr).empty());
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
