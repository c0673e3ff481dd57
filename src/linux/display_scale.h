#pragma once
// The desktop's logical resolution as X resources give it: 96 dots an inch (15 twips a pixel)
// unless the display says otherwise.

#include <string_view>

#include "vocabulary/twips_scale.h"

namespace launcher::sdl {

// The scale given by the "Xft.dpi" entry of an X resource database's text (what desktops set
// for their scaling), or the default when it has none or a nonsensical one.
[[nodiscard]] TwipsScale ScaleFromResources(std::string_view resources);

}  // namespace launcher::sdl
