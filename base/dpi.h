// Sizes drawn for 96 dots per inch (100 %), at a monitor's own resolution: the windows are
// DPI aware, so Windows no longer stretches them and they scale their own pixels.
#ifndef CORVEL_BASE_DPI_H_
#define CORVEL_BASE_DPI_H_

#include <cmath>

namespace base {

inline constexpr unsigned kDefaultDpi = 96;

// `pixels` at 96 DPI, at `dpi` (rounded to the nearest pixel); a dpi of 0 counts as 96.
inline int ScaleToDpi(int pixels, unsigned dpi) {
  if (dpi == 0)
    dpi = kDefaultDpi;
  return static_cast<int>(std::lround(static_cast<double>(pixels) * dpi / kDefaultDpi));
}

}  // namespace base

#endif  // CORVEL_BASE_DPI_H_
