#pragma once
// The SWF player's JPEG, PNG and GIF bitmaps through the Windows Imaging Component, the decoder
// the logo uses too.

#include <memory>

#include "swf/swf_player.h"

namespace launcher::win32 {

// COM must be initialised on the threads that decode.
[[nodiscard]] std::unique_ptr<swf::ImageDecoder> MakeWicImageDecoder();

}  // namespace launcher::win32
