#include "app/splash_geometry.h"

namespace {

constexpr int kDefaultWidth = 700;
constexpr int kDefaultHeight = 450;
constexpr float kScreenShare = 0.7f;

// One side of the box. The share is computed in float on purpose: the box must come out the
// same as the single-precision arithmetic it has always used (90 × 0.7f truncates to 63, where
// double precision gives 62).
int BoxSide(int maximum, int fallback, int screenSide) {
  int side = maximum == 0 ? fallback : maximum;
  if (screenSide > 0) {
    const float share = static_cast<float>(screenSide) * kScreenShare;
    const int shareSide = static_cast<int>(share);
    if (shareSide != 0 && shareSide < side)
      side = shareSide;
  }
  return side;
}

int ScaledSide(int side, float factor) {
  const int scaled = static_cast<int>(static_cast<float>(side) * factor + 0.5f);
  return scaled < 1 ? 1 : scaled;
}

}  // namespace

SplashSize SplashTargetBox(int maxWidth, int maxHeight, int screenWidth, int screenHeight) {
  return {BoxSide(maxWidth, kDefaultWidth, screenWidth), BoxSide(maxHeight, kDefaultHeight, screenHeight)};
}

SplashSize FitSplashImage(SplashSize image, SplashSize box) {
  if (image.width <= 0 || image.height <= 0)
    return image;
  if (image.width <= box.width && image.height <= box.height)
    return image;
  const float byWidth = static_cast<float>(box.width) / static_cast<float>(image.width);
  const float byHeight = static_cast<float>(box.height) / static_cast<float>(image.height);
  const float factor = byWidth < byHeight ? byWidth : byHeight;
  return {ScaledSide(image.width, factor), ScaledSide(image.height, factor)};
}

SplashPoint CentreOnScreen(SplashSize size, int screenWidth, int screenHeight) {
  return {(screenWidth - size.width) / 2, (screenHeight - size.height) / 2};
}

void PremultiplyArgb(const std::uint32_t* argb, std::size_t count, std::uint8_t* bgra) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t pixel = argb[i];
    const std::uint32_t alpha = pixel >> 24;
    const std::uint32_t red = (pixel >> 16) & 0xFF;
    const std::uint32_t green = (pixel >> 8) & 0xFF;
    const std::uint32_t blue = pixel & 0xFF;
    bgra[4 * i + 0] = static_cast<std::uint8_t>(blue * alpha / 255);
    bgra[4 * i + 1] = static_cast<std::uint8_t>(green * alpha / 255);
    bgra[4 * i + 2] = static_cast<std::uint8_t>(red * alpha / 255);
    bgra[4 * i + 3] = static_cast<std::uint8_t>(alpha);
  }
}
