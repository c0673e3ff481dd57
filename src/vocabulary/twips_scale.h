#pragma once
// Twips and pixels. The window's interfaces speak twips, 1440 to the inch; each platform places
// pixels at its display's logical resolution.

#include <cmath>
#include <limits>
#include <stdexcept>

namespace launcher {

// A size or position as the window's interfaces give it: 1/1440 inch.
using Twips = float;

inline constexpr double kTwipsPerInch = 1440.0;
// The logical resolution of a display at 100 %: 15 twips to the pixel.
inline constexpr double kDefaultDpi = 96.0;

class TwipsScale {
 public:
  // At dpi pixels to the inch; a resolution that is no positive number means the default.
  constexpr explicit TwipsScale(double dpi = kDefaultDpi)
      : twips_per_pixel_(kTwipsPerInch / (dpi > 0 && dpi <= std::numeric_limits<double>::max()
                                              ? dpi
                                              : kDefaultDpi)) {}

  [[nodiscard]] constexpr double TwipsPerPixel() const { return twips_per_pixel_; }

  // Rounds to the nearest pixel. Throws for a value no window can take: neither Windows nor X11
  // places or sizes a window beyond 16-bit coordinates.
  [[nodiscard]] int Pixels(Twips twips) const {
    const double pixels = std::round(static_cast<double>(twips) / twips_per_pixel_);
    if (!std::isfinite(pixels) || pixels < -kMaxPixels || pixels > kMaxPixels) {
      throw std::out_of_range("size or position out of range");
    }
    return static_cast<int>(pixels);
  }
  [[nodiscard]] Twips FromPixels(int pixels) const {
    return static_cast<Twips>(pixels * twips_per_pixel_);
  }

 private:
  static constexpr double kMaxPixels = 32767.0;

  double twips_per_pixel_;
};

}  // namespace launcher
