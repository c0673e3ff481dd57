#pragma once
// The SWF player's device fonts on Windows: glyph outlines from GDI (GetGlyphOutlineW), the
// Japanese faces movies ask for mapped to one that is installed.

#include <memory>

#include "swf/text/device_fonts.h"

namespace launcher::win32 {

// Used from one thread (the window's), as the player is.
[[nodiscard]] std::unique_ptr<swf::DeviceFonts> MakeGdiDeviceFonts();

}  // namespace launcher::win32
