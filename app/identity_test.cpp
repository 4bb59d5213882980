#include "app/identity.h"

#include <gtest/gtest.h>

namespace {

TEST(IdentityTest, InstanceMutexNameHashesTheLowerCasedText) {
  const std::wstring prefix = L"Local\\KelmoPlayer.WebView2.";
  EXPECT_EQ(BuildInstanceMutexName(L"abc"), prefix + L"e16801510db89efd");
  EXPECT_EQ(BuildInstanceMutexName(L"ABC"), prefix + L"e16801510db89efd");
  EXPECT_EQ(BuildInstanceMutexName(L""), prefix + L"14650fb0739d0383");
  EXPECT_EQ(BuildInstanceMutexName(L"Corvel|player"), BuildInstanceMutexName(L"CORVEL|PLAYER"));
  EXPECT_NE(BuildInstanceMutexName(L"Corvel|player"), BuildInstanceMutexName(L"Corvel|init"));
  // Only A-Z are folded: other letters keep their own hash.
  EXPECT_NE(BuildInstanceMutexName(L"\u00c9"), BuildInstanceMutexName(L"\u00e9"));
  // No leading zeros: the hex part is never longer than 16 digits and never starts with "0".
  for (const wchar_t* text : {L"a", L"ab", L"Corvel|init", L"x\U0001F5A8"}) {
    const std::wstring hex = BuildInstanceMutexName(text).substr(prefix.size());
    EXPECT_LE(hex.size(), 16u);
    EXPECT_NE(hex[0], L'0');
  }
  // A character outside the BMP hashes as its two UTF-16 units on every platform.
  EXPECT_EQ(BuildInstanceMutexName(L"\U0001F5A8"), prefix + L"799c2d0336379bb6");
}

TEST(IdentityTest, TrueVersionMapsToTheProductGenerations) {
  struct Case { unsigned long major, minor, build; int expected; };
  const Case cases[] = {
      {10, 0, 21999, 10}, {10, 0, 22000, 11}, {10, 0, 26100, 11}, {11, 0, 0, 10}, {6, 1, 7601, 7},
      {6, 2, 9200, 8},    {6, 3, 9600, 8},    {6, 0, 6002, 7},    {5, 1, 2600, -1}, {0, 0, 0, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(MapWindowsVersion(c.major, c.minor, c.build), c.expected) << c.major << "." << c.minor << "." << c.build;
}

}  // namespace
