#include "webview/navigation_policy.h"

#include <gtest/gtest.h>

namespace {

TEST(NavigationPolicyTest, HostsAreExtractedWithoutUserInfoPortOrQuery) {
  struct Case { std::wstring url, host; };
  const Case cases[] = {
      {L"https://Sub.Example.COM/path", L"sub.example.com"},
      {L"https://example.com:8443/a", L"example.com"},
      {L"blob:https://media.example.com/3f2a-11", L"media.example.com"},
      {L"https://user:pw@evil.example/x", L"evil.example"},
      {L"https://youtube.com:x@evil.example/", L"evil.example"},
      {L"https://evil.example?x=.youtube.com", L"evil.example"},
      {L"https://evil.example#.youtube.com", L"evil.example"},
      {L"https://[::1]:8443/", L"[::1]"},
      {L"about:blank", L""},
      {L"example.com/path", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(ExtractHost(c.url), c.host) << c.host;
}

TEST(NavigationPolicyTest, SiteAndAllowListMatchingNeedsALabelBoundary) {
  EXPECT_EQ(LastTwoLabels(L"a.b.example.com"), L"example.com");
  EXPECT_EQ(LastTwoLabels(L"example.com"), L"example.com");
  EXPECT_EQ(LastTwoLabels(L"localhost"), L"localhost");

  EXPECT_TRUE(IsSameSite(L"school.example", L"cdn.school.example"));
  EXPECT_TRUE(IsSameSite(L"a.school.example", L"b.school.example"));  // same last two labels
  EXPECT_FALSE(IsSameSite(L"school.example", L"otherschool.example.net"));
  EXPECT_FALSE(IsSameSite(L"", L""));
  EXPECT_FALSE(IsSameSite(L"school.example", L""));

  EXPECT_TRUE(IsAllowedHost(L"youtube.com"));
  EXPECT_TRUE(IsAllowedHost(L"www.youtube.com"));
  EXPECT_TRUE(IsAllowedHost(L"mybucket.blob.core.windows.net"));
  EXPECT_FALSE(IsAllowedHost(L"notyoutube.com"));      // letters only, no dot before them
  EXPECT_FALSE(IsAllowedHost(L"youtube.com.evil.example"));
  EXPECT_FALSE(IsAllowedHost(L""));
}

TEST(NavigationPolicyTest, PlayerKeepsTheStudentOnContentPlatformAndAllowedDomains) {
  const std::wstring content = L"https://lessons.school.example/course/7?token=1";
  const std::wstring platform = L"https://school.example";
  struct Case { std::wstring uri; std::wstring kind; bool allowed; };
  const Case cases[] = {
      {L"about:blank", L"pdf", true},
      {L"about:blank#x", L"pdf", false},  // only the exact text is let through by itself
      {L"https://lessons.school.example/course/7?token=2#t", L"pdf", true},  // only query/fragment differ
      {L"https://lessons.school.example/course/7/part/2", L"pdf", true},
      {L"https://portal.school.example/", L"pdf", true},                     // subdomain of the platform
      {L"https://www.youtube.com/watch?v=1", L"pdf", true},                   // allowed list
      {L"https://evil.example/", L"url_direct", false},
      {L"https://evil.example/", L"pdf", false},
      {L"https://school.example.evil.example/", L"pdf", false},
      {L"https://youtube.com:x@evil.example/", L"pdf", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PlayerAllowsNavigation(c.uri, content, platform, c.kind), c.allowed) << c.allowed;
  }
}

TEST(NavigationPolicyTest, CdnFamiliesAreMatchedBySubstringForDirectContentOnly) {
  const std::wstring platform = L"https://school.example";
  const std::wstring content = L"https://vz-1234.b-cdn.net/play/abc";
  // "b-cdn.net" anywhere in the host counts, even when the host does not end with it.
  EXPECT_TRUE(PlayerAllowsNavigation(L"https://iframe.mediadelivery.net.cdn-edge.example/x", content, platform,
                                     L"url_direct"));
  EXPECT_FALSE(PlayerAllowsNavigation(L"https://iframe.mediadelivery.net.cdn-edge.example/x", content, platform,
                                      L"pdf"));
  EXPECT_FALSE(PlayerAllowsNavigation(L"https://video.corvel.test.cdn-edge.example/x", content, platform,
                                      L"url_direct"));  // family B does not mix with family A
  EXPECT_TRUE(PlayerAllowsNavigation(L"https://eu.vdocipher.com.edge.example/x", L"https://video.corvel.test/v/1",
                                     platform, L"url_direct"));
}

TEST(NavigationPolicyTest, RefererTrackerHeadersAndPinGate) {
  EXPECT_EQ(PlayerRefererFor(L"https://www.youtube.com/embed/x", L"https://school.example/"),
            std::optional<std::wstring>(L"https://school.example"));
  EXPECT_EQ(PlayerRefererFor(L"https://www.youtube.com/embed/x", L"/"), std::nullopt);
  EXPECT_EQ(PlayerRefererFor(L"https://cdn.example/x", L"https://school.example"), std::nullopt);

  EXPECT_EQ(TrackPlatformSite(L"https://Other.Example/login", L"https://school.example"),
            std::optional<std::wstring>(L"https://Other.Example"));
  EXPECT_EQ(TrackPlatformSite(L"https://school.example/x", L"https://school.example"), std::nullopt);
  EXPECT_EQ(TrackPlatformSite(L"https://hub.example/select-tenants", L""), std::nullopt);
  EXPECT_EQ(TrackPlatformSite(L"http://plain.example", L""), std::optional<std::wstring>(L"http://plain.example"));
  EXPECT_EQ(TrackPlatformSite(L"about:blank", L""), std::nullopt);

  const auto headers = InitScreenRequestHeaders();
  ASSERT_EQ(headers.size(), 2u);
  EXPECT_NE(headers[0].first, headers[1].first);
  EXPECT_EQ(headers[0].second, headers[1].second);

  EXPECT_EQ(PinGateHost(L"HTTPS://User@Pinned.Example:443/x"), std::optional<std::wstring>(L"pinned.example"));
  EXPECT_EQ(PinGateHost(L"https://a:b@pinned.example/"), std::optional<std::wstring>(L"pinned.example"));
  EXPECT_EQ(PinGateHost(L"http://pinned.example/"), std::nullopt);
  EXPECT_EQ(PinGateHost(L"https://pinned.example"), std::optional<std::wstring>(L"pinned.example"));
}

}  // namespace
