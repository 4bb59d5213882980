#include "webview/navigation_policy.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "config/config.h"

namespace {

TEST(NavigationPolicyTest, HostsAreExtractedWithoutUserInfoPortOrQuery) {
  struct Case {
    std::wstring url, host;
  };
  const Case cases[] = {
      {L"https://Sub.Example.COM/path", L"sub.example.com"},
      {L"https://example.com:8443/a", L"example.com"},
      {L"blob:https://media.example.com/3f2a-11", L"media.example.com"},
      {L"https://user:pw@evil.example/x", L"evil.example"},
      {L"https://youtube.com:x@evil.example/", L"evil.example"},
      {L"https://evil.example?x=.youtube.com", L"evil.example"},
      {L"https://evil.example#.youtube.com", L"evil.example"},
      {L"https://[::1]:8443/", L"[::1]"},
      {L"blob:file:///x", L""},
      {L"ftp://example.com/", L""},
      {L"about:blank", L""},
      {L"example.com/path", L""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ExtractHost(c.url), c.host) << c.host;
  EXPECT_EQ(PlatformHost(L"Lms.Platform.com.eg:8443"), L"lms.platform.com.eg");
  EXPECT_EQ(PlatformHost(L"https://lms.platform.com.eg"), L"lms.platform.com.eg");
}

TEST(NavigationPolicyTest, SitesAreRegistrableDomainsAndAllowListMatchingNeedsALabelBoundary) {
  struct Case {
    std::wstring known, candidate;
    bool same;
  };
  const Case cases[] = {
      {L"school.example", L"cdn.school.example", true},
      {L"a.school.example", L"b.school.example", true},
      {L"lms.platform.com.eg", L"cdn.platform.com.eg", true},
      {L"lms.platform.com.eg", L"evil.com.eg", false},  // com.eg is a public suffix
      {L"teacher.github.io", L"other.github.io", false},
      {L"teacher.github.io", L"github.io", false},
      {L"school.example", L"otherschool.example.net", false},
      {L"localhost", L"localhost", true},
      {L"", L"", false},
      {L"school.example", L"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSameSite(c.known, c.candidate), c.same) << c.known << L" " << c.candidate;
    EXPECT_EQ(IsSameSite(c.candidate, c.known), c.same) << c.known << L" " << c.candidate;
  }

  EXPECT_TRUE(IsAllowedHost(L"youtube.com"));
  EXPECT_TRUE(IsAllowedHost(L"www.youtube.com"));
  EXPECT_TRUE(IsAllowedHost(L"mybucket.blob.core.windows.net"));
  EXPECT_FALSE(IsAllowedHost(L"notyoutube.com"));  // letters only, no dot before them
  EXPECT_FALSE(IsAllowedHost(L"youtube.com.evil.example"));
  EXPECT_FALSE(IsAllowedHost(L""));
}

// Every address of the escape table (the navigation fuzzer's seed "escapes") is refused, whatever
// the lesson: a YouTube or a Zoom lesson, a teacher's page on a shared host, a PDF on the
// platform; hosts named only in a path, a query, user-info or a fragment, look-alike hosts,
// another site under the same public suffix, and addresses of other schemes.
TEST(NavigationPolicyTest, TheEscapeTableIsRefusedForEveryLesson) {
  std::ifstream table(CORVEL_NAVIGATION_ESCAPES);
  ASSERT_TRUE(table.is_open());
  struct Lesson {
    std::wstring platform, content, kind;
  };
  const Lesson lessons[] = {
      {L"https://lms.platform.com.eg", L"https://www.youtube.com/embed/abc", L"url_direct"},
      {L"https://lms.platform.com.eg", L"https://us02web.zoom.us/j/123?pwd=x", L"url_direct"},
      {L"https://lms.platform.com.eg", L"https://teacher.github.io/lesson.pdf", L"pdf"},
      {L"https://127.0.0.1:47443", L"https://127.0.0.1:47443/demo/lesson.html", L"url_direct"},
  };
  int count = 0;
  for (std::string line; std::getline(table, line);) {
    if (line.empty())
      continue;
    ++count;
    const std::wstring address(line.begin(), line.end());
    for (const Lesson& l : lessons)
      EXPECT_FALSE(PlayerAllowsNavigation(address, l.content, l.platform, l.kind))
          << line << " / " << l.content;
  }
  EXPECT_GT(count, 30);
  // The lessons themselves still reach what they need.
  EXPECT_TRUE(PlayerAllowsNavigation(L"https://www.youtube.com/watch?v=1", lessons[0].content,
                                     lessons[0].platform, L"url_direct"));
  EXPECT_TRUE(PlayerAllowsNavigation(L"https://zoom.us/wc/123/join", lessons[1].content, lessons[1].platform,
                                     L"url_direct"));
  EXPECT_TRUE(PlayerAllowsNavigation(L"https://cdn.platform.com.eg/x", lessons[2].content,
                                     lessons[2].platform, L"pdf"));
  EXPECT_TRUE(PlayerAllowsNavigation(L"blob:https://teacher.github.io/1", lessons[2].content,
                                     lessons[2].platform, L"pdf"));
}

TEST(NavigationPolicyTest, PlayerKeepsTheStudentOnContentPlatformAndAllowedDomains) {
  const std::wstring content = L"https://lessons.school.example/course/7?token=1";
  const std::wstring platform = L"https://school.example";
  struct Case {
    std::wstring uri;
    std::wstring kind;
    bool allowed;
  };
  const Case cases[] = {
      {L"about:blank", L"pdf", true},
      {L"about:blank#x", L"pdf", false},  // only the exact text is let through by itself
      {L"https://lessons.school.example/course/7?token=2#t", L"pdf", true},  // only query/fragment differ
      {L"https://lessons.school.example/course/7/part/2", L"pdf", true},
      {L"https://portal.school.example/", L"pdf", true},     // subdomain of the platform
      {L"https://www.youtube.com/watch?v=1", L"pdf", true},  // allowed list
      {L"https://evil.example/", L"url_direct", false},
      {L"https://evil.example/", L"pdf", false},
      {L"https://school.example.evil.example/", L"pdf", false},
      {L"https://youtube.com:x@evil.example/", L"pdf", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PlayerAllowsNavigation(c.uri, content, platform, c.kind), c.allowed) << c.allowed;
  }
}

TEST(NavigationPolicyTest, CdnFamiliesMatchOnALabelBoundaryForDirectContentOnly) {
  const std::wstring platform = L"https://school.example";
  // Built from the configured families, so the cases follow the configuration.
  for (const std::vector<std::wstring>& family : {config::CdnFamilyA(), config::CdnFamilyB()}) {
    ASSERT_FALSE(family.empty());
    for (const std::wstring& domain : family) {
      const std::wstring content = L"https://vz-1234." + domain + L"/play/abc";
      struct Case {
        std::wstring target;
        bool allowed;
      };
      const Case cases[] = {
          {L"https://x." + domain + L"/v", true},
          {L"https://" + domain + L"/v", true},
          {L"https://" + domain + L".attacker.example/v",
           false},  // contains the domain, does not end with it
          {L"https://x." + domain + L".attacker.example/v", false},
          {L"https://" + domain + L"x/v", false},  // the domain's letters, then more
      };
      for (const Case& c : cases) {
        EXPECT_EQ(PlayerAllowsNavigation(c.target, content, platform, L"url_direct"), c.allowed) << c.target;
        if (!c.allowed) {
          EXPECT_FALSE(PlayerAllowsNavigation(c.target, content, platform, L"pdf")) << c.target;
        }
      }
      // Content on a host that only contains the family's domain gives its look-alikes nothing.
      EXPECT_FALSE(PlayerAllowsNavigation(L"https://cdn." + domain + L".other.example/v",
                                          L"https://" + domain + L".attacker.example/play", platform,
                                          L"url_direct"));
    }
  }
}

TEST(NavigationPolicyTest, IpAddressesAreTheSameSiteOnlyAsThemselves) {
  struct Case {
    std::wstring known, candidate;
    bool same;
  };
  const Case cases[] = {
      {L"127.0.0.1", L"127.0.0.1", true},
      {L"127.0.0.1", L"10.9.0.1", false},  // same last two numbers
      {L"192.168.0.1", L"10.168.0.1", false},
      {L"127.0.0.1", L"x.0.0.1", false},  // a name against an address
      {L"x.0.0.1", L"127.0.0.1", false},
      {L"127.0.0.1", L"www.127.0.0.1", false},  // no subdomains of an address
      {L"[::ffff:7f00:1]", L"[::ffff:a00:1]", false},
      {L"[::1]", L"[::1]", true},
      {L"a.school.example", L"b.school.example", true},  // names keep their rules
      {L"1.school.example", L"2.school.example", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsSameSite(c.known, c.candidate), c.same) << c.known << L" " << c.candidate;

  // Content served from one address does not open another that shares its last numbers.
  EXPECT_FALSE(PlayerAllowsNavigation(L"https://10.9.0.1/x", L"https://192.168.0.1/lesson",
                                      L"https://172.16.0.1", L"url_direct"));
  EXPECT_TRUE(PlayerAllowsNavigation(L"https://192.168.0.1/other", L"https://192.168.0.1/lesson",
                                     L"https://172.16.0.1", L"pdf"));
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
  EXPECT_EQ(TrackPlatformSite(L"http://plain.example", L""),
            std::optional<std::wstring>(L"http://plain.example"));
  EXPECT_EQ(TrackPlatformSite(L"about:blank", L""), std::nullopt);

  const auto headers = InitScreenRequestHeaders();
  ASSERT_EQ(headers.size(), 2u);
  EXPECT_NE(headers[0].first, headers[1].first);
  EXPECT_EQ(headers[0].second, headers[1].second);

  struct Gate {
    std::wstring uri;
    std::optional<std::wstring> host;
    int port;
  };
  const Gate gates[] = {
      {L"HTTPS://User@Pinned.Example:443/x", L"pinned.example", 443},
      {L"https://a:b@pinned.example:8443/", L"pinned.example", 8443},  // the request's own port
      {L"https://pinned.example./", L"pinned.example.", 443},
      {L"https://0x7f.1/", L"127.0.0.1", 443},
      {L"https://pinned%2eexample/", L"", 443},  // unreadable: blocked by the caller
      {L"http://pinned.example/", std::nullopt, 0},
  };
  for (const Gate& g : gates) {
    const std::optional<PinGateTarget> target = PinGateTargetOf(g.uri);
    ASSERT_EQ(target.has_value(), g.host.has_value()) << g.uri;
    if (target) {
      EXPECT_EQ(target->host, *g.host) << g.uri;
      EXPECT_EQ(target->port, g.port) << g.uri;
    }
  }
}

// Lesson pages may post messages and use the microphone, camera and notifications; any other
// origin is heard from not at all and denied those permissions.
TEST(NavigationPolicyTest, OnlyLessonPagesArePostedFromOrGrantedPermissions) {
  const std::wstring content = L"https://lessons.school.example/course/7";
  const std::wstring platform = L"https://school.example";
  EXPECT_TRUE(IsLessonPage(L"about:blank", true, content, platform));
  EXPECT_TRUE(IsLessonPage(L"https://lessons.school.example/other", false, content, platform));
  EXPECT_TRUE(IsLessonPage(L"https://portal.school.example/", false, content, platform));
  EXPECT_FALSE(IsLessonPage(L"about:blank", false, content, platform));
  EXPECT_FALSE(IsLessonPage(L"https://www.youtube.com/embed/x", false, content, platform));
  EXPECT_FALSE(IsLessonPage(L"data:text/html,x", false, content, platform));

  using P = PagePermission;
  using A = PermissionAnswer;
  EXPECT_EQ(AnswerPagePermission(P::kCamera, L"https://lessons.school.example", content, platform),
            A::kAllow);
  EXPECT_EQ(AnswerPagePermission(P::kMicrophoneAndCamera, L"https://us02web.zoom.us", content, platform),
            A::kAllow);
  EXPECT_EQ(AnswerPagePermission(P::kNotifications, L"https://school.example", content, platform), A::kAllow);
  EXPECT_EQ(AnswerPagePermission(P::kMicrophone, L"https://www.youtube.com", content, platform), A::kDeny);
  EXPECT_EQ(AnswerPagePermission(P::kCamera, L"https://evil.example", content, platform), A::kDeny);
  EXPECT_EQ(AnswerPagePermission(P::kOther, L"https://lessons.school.example", content, platform),
            A::kDefault);
}

}  // namespace
