#include "net/pinning_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "text/text.h"

namespace {

std::wstring ModulePath() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

TEST(PinningWinTest, ProcessSnapshotShowsThisProcessWithItsImage) {
  const std::wstring self = ModulePath();
  const std::wstring fileName = self.substr(self.find_last_of(L"\\/") + 1);
  const DWORD pid = GetCurrentProcessId();
  bool found = false;
  for (const RunningProcess& process : ListRunningProcesses()) {
    if (process.pid == pid) {
      found = true;
      EXPECT_EQ(ToLowerCopy(process.exeName), ToLowerCopy(fileName));
    }
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(ToLowerCopy(ProcessImagePath(pid)), ToLowerCopy(self));
  EXPECT_EQ(ProcessImagePath(0xFFFFFFF0u), L"");
}

// The test executable carries no Authenticode signature: its name alone must not pass.
TEST(PinningWinTest, UnsignedExecutableIsNotAVendorBinary) {
  EXPECT_FALSE(IsVendorBinary(ModulePath(), L""));
  EXPECT_FALSE(IsVendorBinary(L"C:\\nonexistent\\avastsvc.exe", L""));
}

}  // namespace
