#include "link/content.h"

#include <gtest/gtest.h>

#include "base/app_state.h"

namespace {

class ContentTest : public ::testing::Test {
 protected:
  void SetUp() override { GetAppState().platformDomain = L"https://school.example"; }
  void TearDown() override { GetAppState().platformDomain.clear(); }
};

// The host decides, as the browser engine reads it; a domain anywhere else in the address does
// not make a YouTube or Zoom address.
TEST_F(ContentTest, YouTubeAndZoomTestsMatchTheHostOrItsSubdomains) {
  struct Case {
    std::wstring address;
    bool youtube;
    bool zoom;
  };
  const Case cases[] = {
      {L"https://www.YouTube.com/watch?v=abc", true, false},
      {L"https://youtu.be/abc", true, false},
      {L"blob:https://www.youtube.com/1", true, false},
      {L"https://example.com/?next=youtube.com", false, false},  // only in the query
      {L"https://evil.example/youtube.com", false, false},
      {L"https://youtube.com.evil.example/", false, false},
      {L"https://youtube.com@evil.example/", false, false},
      {L"javascript:alert(1)//youtube.com", false, false},
      {L"https://us02web.zoom.us/j/123", false, true},  // subdomain
      {L"https://zoom.us/j/123", false, true},
      {L"https://ZOOM.US/j/1", false, true},
      {L"https://notzoom.us/j/123", false, false},  // same letters, no dot before
      {L"https://example.com/zoom.us", false, false},
      {L"http://[::1]:52010/lure/.zoom.us/phish", false, false},
      {L"", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsYouTubeUrl(c.address), c.youtube) << c.address.size();
    EXPECT_EQ(IsZoomUrl(c.address), c.zoom) << c.address.size();
  }
}

TEST_F(ContentTest, NormalizeYouTubeUrlBuildsTheEmbedAddress) {
  const std::wstring origin = L"https%3a%2f%2fschool.example";
  const std::wstring embed = L"https://www.youtube.com/embed/";
  struct Case {
    std::wstring in;
    std::wstring out;
  };
  const Case cases[] = {
      {L"https://youtu.be/AbC123?si=track", embed + L"AbC123?origin=" + origin},
      {L"https://www.youtube.com/watch?v=XyZ&list=PL1&t=3", embed + L"XyZ?origin=" + origin},
      {L"https://www.youtube.com/watch?v=XyZ#t=30", embed + L"XyZ#t=30?origin=" + origin},  // "#" stays
      {L"https://www.youtube.com/Shorts/MiXeD/", embed + L"MiXeD?origin=" + origin},
      {L"https://www.youtube.com/shorts/Id9?feature=share", embed + L"Id9?origin=" + origin},
      {L"https://www.youtube.com/live/LiVe1?si=x", embed + L"LiVe1?origin=" + origin},
      {L"https://www.youtube.com/live/LiVe1/", embed + L"LiVe1?origin=" + origin},
      {L"https://youtu.be/Trail//", embed + L"Trail?origin=" + origin},
      // Embed addresses only get an origin when they have none.
      {L"https://www.youtube.com/embed/E1", L"https://www.youtube.com/embed/E1?origin=" + origin},
      {L"https://www.youtube.com/embed/E1?autoplay=1",
       L"https://www.youtube.com/embed/E1?autoplay=1&origin=" + origin},
      {L"https://www.youtube.com/embed/E1?origin=x", L"https://www.youtube.com/embed/E1?origin=x"},
      // Nothing to extract: unchanged.
      {L"https://www.youtube.com/watch?v=", L"https://www.youtube.com/watch?v="},
      {L"https://youtu.be/", L"https://youtu.be/"},
      {L"https://youtu.be//", L"https://youtu.be//"},  // only slashes: no id either
      {L"https://www.youtube.com/watch?v=/", L"https://www.youtube.com/watch?v=/"},
      {L"https://www.youtube.com/channel/abc", L"https://www.youtube.com/channel/abc"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NormalizeYouTubeUrl(c.in), c.out);
}

TEST_F(ContentTest, OriginParameterEncodesThePlatformDomainWhole) {
  GetAppState().platformDomain.clear();
  EXPECT_EQ(NormalizeYouTubeUrl(L"https://youtu.be/a"), L"https://www.youtube.com/embed/a?origin=");
  GetAppState().platformDomain = L"school.example:8443/x y";
  EXPECT_EQ(NormalizeYouTubeUrl(L"https://youtu.be/a"),
            L"https://www.youtube.com/embed/a?origin=school.example%3a8443%2fx%20y");
}

}  // namespace
