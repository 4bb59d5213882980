// The splash screen's arithmetic, apart from the window system: the box the image must fit in,
// the size it is shown at, where it goes on the screen, and the premultiplied pixels a layered
// window wants. Pure functions; any thread.
#ifndef CORVEL_APP_SPLASH_GEOMETRY_H_
#define CORVEL_APP_SPLASH_GEOMETRY_H_

#include <cstddef>
#include <cstdint>

struct SplashSize {
  int width = 0;
  int height = 0;
  friend bool operator==(const SplashSize&, const SplashSize&) = default;
};

struct SplashPoint {
  int x = 0;
  int y = 0;
  friend bool operator==(const SplashPoint&, const SplashPoint&) = default;
};

// The splash box: maxWidth × maxHeight (0 means 700 and 450), each side narrowed to 70 % of the
// screen side (single precision, truncated) when the screen side is positive and that share is
// non-zero and smaller.
SplashSize SplashTargetBox(int maxWidth, int maxHeight, int screenWidth, int screenHeight);

// The size the image is shown at: unchanged when it fits the box; otherwise scaled down by the
// smaller of the two side ratios, rounded to the nearest pixel and at least 1 × 1. An image with
// a side of zero or less is returned unchanged (the caller refuses it before this).
SplashSize FitSplashImage(SplashSize image, SplashSize box);

// Top-left corner that centres `size` on the screen (integer division, may be negative).
SplashPoint CentreOnScreen(SplashSize size, int screenWidth, int screenHeight);

// Turns `count` pixels of 32-bit ARGB (0xAARRGGBB, as GDI+ locks them) into the premultiplied
// blue, green, red, alpha bytes of a 32-bit DIB: each colour × alpha / 255 (integer division),
// alpha unchanged. `bgra` holds 4 × count bytes.
void PremultiplyArgb(const std::uint32_t* argb, std::size_t count, std::uint8_t* bgra);

#endif  // CORVEL_APP_SPLASH_GEOMETRY_H_
