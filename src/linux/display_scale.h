#pragma once
// Twips per pixel: 1440 divided by the desktop's logical resolution, 96 dots an inch (15 twips a
// pixel) unless the display says otherwise.

#include <string_view>

namespace launcher::sdl {

inline constexpr double kDefaultTwipsPerPixel = 15.0;

// The scale given by the "Xft.dpi" entry of an X resource database's text (what desktops set
// for their scaling), or the default when it has none or a nonsensical one.
[[nodiscard]] double TwipsPerPixelFromResources(std::string_view resources);

}  // namespace launcher::sdl
