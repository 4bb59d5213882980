#include "text/web_address.h"

#include <gtest/gtest.h>

namespace {

// How hosts and ports are read is checked against the browser engine itself, address by
// address (tests/webview_scripts_qt_test.cpp, ThePolicyReadsTheHostsTheEngineReads); here what
// the engine cannot tell: user-info, the rest of the address, and the host helpers.
TEST(WebAddressTest, UserInfoRestAndHostHelpers) {
  EXPECT_TRUE(ParseWebAddress(L"https://youtube.com:x@evil.example/")->hasUserInfo);
  EXPECT_FALSE(ParseWebAddress(L"https://evil.example/@youtube.com")->hasUserInfo);
  EXPECT_EQ(ParseWebAddress(L"https://h.example:1/p?q#f")->rest, L"/p?q#f");
  EXPECT_FALSE(ParseWebAddress(L"javascript:alert(1)//https://example.com").has_value());
  EXPECT_FALSE(ParseWebAddress(L"https://evil.example%2e/").has_value()) << "escaped hosts are not read";

  EXPECT_TRUE(HostIsOrIsUnder(L"www.youtube.com", L"youtube.com"));
  EXPECT_TRUE(HostIsOrIsUnder(L"youtube.com.", L"youtube.com"));
  EXPECT_FALSE(HostIsOrIsUnder(L"notyoutube.com", L"youtube.com"));
  EXPECT_FALSE(HostIsOrIsUnder(L"youtube.com.evil.example", L"youtube.com"));
  EXPECT_TRUE(IsIpAddressHost(L"10.0.0.1"));
  EXPECT_TRUE(IsIpAddressHost(L"[::1]"));
  EXPECT_FALSE(IsIpAddressHost(L"1.example"));
  EXPECT_EQ(CanonicalHost(L"0x7F.1"), std::optional<std::wstring>(L"127.0.0.1"));
  EXPECT_EQ(CanonicalHost(L"[0:0::FFFF:7f00:1]"), std::optional<std::wstring>(L"[::ffff:7f00:1]"));
}

}  // namespace
