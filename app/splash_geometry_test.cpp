#include "app/splash_geometry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

TEST(SplashGeometryTest, TargetBoxTakesTheMaximumsOrSeventyPercentOfTheScreen) {
  struct Case {
    int maxWidth, maxHeight, screenWidth, screenHeight;
    SplashSize box;
  } cases[] = {
      {700, 450, 1920, 1080, {700, 450}},  // large screen: the maximums
      {700, 450, 800, 600, {560, 420}},    // small screen: 70 % of each side
      {0, 0, 1920, 1080, {700, 450}},      // zero maximums mean 700 × 450
      {0, 0, 800, 600, {560, 420}},
      {700, 450, 0, 0, {700, 450}},  // unknown screen size: maximums kept
      {700, 450, -5, 1080, {700, 450}},
      {700, 450, 1, 1, {700, 450}},  // 70 % truncates to 0: ignored
      {700, 450, 2, 2, {1, 1}},
      {700, 450, 90, 1080, {63, 450}},    // single precision: 90 × 0.7f is 63 (double gives 62)
      {700, 450, 1000, 643, {700, 450}},  // exactly 700 and 450.1 → 450: not smaller
      {300, 200, 1920, 1080, {300, 200}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplashTargetBox(c.maxWidth, c.maxHeight, c.screenWidth, c.screenHeight), c.box)
        << c.maxWidth << "x" << c.maxHeight << " on " << c.screenWidth << "x" << c.screenHeight;
  }
}

TEST(SplashGeometryTest, ImageIsScaledDownOnlyWhenItDoesNotFit) {
  struct Case {
    SplashSize image, box, shown;
  } cases[] = {
      {{450, 450}, {700, 450}, {450, 450}},    // fits exactly in height: unscaled
      {{450, 450}, {560, 420}, {420, 420}},    // 800 × 600 screen
      {{450, 450}, {1000, 1000}, {450, 450}},  // never scaled up
      {{900, 300}, {450, 450}, {450, 150}},    // width decides
      {{300, 900}, {450, 450}, {150, 450}},    // height decides
      {{451, 450}, {450, 450}, {450, 449}},    // 450 × (450/451) = 448.99… + 0.5 → 449
      {{3, 2}, {2, 2}, {2, 1}},                // 2 × 0.666… + 0.5 = 1.83 → 1
      {{1000, 1}, {10, 10}, {10, 1}},          // 1 × 0.01 + 0.5 → 0 → at least 1
      {{1, 1000}, {10, 10}, {1, 10}},
      {{0, 450}, {10, 10}, {0, 450}},  // degenerate image: left alone
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FitSplashImage(c.image, c.box), c.shown)
        << c.image.width << "x" << c.image.height << " in " << c.box.width << "x" << c.box.height;
  }
}

TEST(SplashGeometryTest, WholeChainForTypicalScreens) {
  struct Case {
    int screenWidth, screenHeight;
    SplashSize shown;
    SplashPoint corner;
  } cases[] = {
      {1920, 1080, {450, 450}, {735, 315}},
      {800, 600, {420, 420}, {190, 90}},
      {1280, 1024, {450, 450}, {415, 287}},  // odd remainder: integer division
      {640, 480, {336, 336}, {152, 72}},
  };
  for (const Case& c : cases) {
    const SplashSize box = SplashTargetBox(700, 450, c.screenWidth, c.screenHeight);
    const SplashSize shown = FitSplashImage({450, 450}, box);
    EXPECT_EQ(shown, c.shown) << c.screenWidth << "x" << c.screenHeight;
    EXPECT_EQ(CentreOnScreen(shown, c.screenWidth, c.screenHeight), c.corner)
        << c.screenWidth << "x" << c.screenHeight;
  }
  // Larger than the screen (no screen size known): the corner goes negative, not wrapped.
  EXPECT_EQ(CentreOnScreen({700, 450}, 0, 0), (SplashPoint{-350, -225}));
}

TEST(SplashGeometryTest, PremultipliesColoursByAlphaInDibByteOrder) {
  const std::vector<std::uint32_t> argb = {
      0x00FFFFFF,  // fully transparent white: must vanish to 0,0,0,0
      0x80FF8040,  // half transparent: 255*128/255=128, 128*128/255=64, 64*128/255=32
      0xFF102030,  // opaque: unchanged
      0x01FFFFFF,  // barely visible: 255*1/255 = 1
      0x7F010101,  // rounding is downwards: 1*127/255 = 0
      0x00000000,
  };
  std::vector<std::uint8_t> bgra(argb.size() * 4, 0xEE);
  PremultiplyArgb(argb.data(), argb.size(), bgra.data());
  // clang-format off
  const std::vector<std::uint8_t> expected = {
      0, 0, 0, 0,
      32, 64, 128, 0x80,
      0x30, 0x20, 0x10, 0xFF,
      1, 1, 1, 1,
      0, 0, 0, 0x7F,
      0, 0, 0, 0,
  };
  // clang-format on
  EXPECT_EQ(bgra, expected);
}

TEST(SplashGeometryTest, PremultipliedColourNeverExceedsAlpha) {
  // Layered windows misbehave when a colour byte exceeds its alpha; check every alpha with
  // full colour.
  std::vector<std::uint32_t> argb;
  for (std::uint32_t alpha = 0; alpha < 256; ++alpha)
    argb.push_back(alpha << 24 | 0xFFFFFF);
  std::vector<std::uint8_t> bgra(argb.size() * 4);
  PremultiplyArgb(argb.data(), argb.size(), bgra.data());
  for (std::size_t i = 0; i < argb.size(); ++i) {
    ASSERT_EQ(bgra[4 * i + 3], i);
    for (int channel = 0; channel < 3; ++channel)
      ASSERT_EQ(bgra[4 * i + channel], i) << "alpha " << i;
  }
}

}  // namespace
