#pragma once
// MP3 for the SWF player on Linux: libmpg123, fed one frame at a time.

#include <memory>

#include "swf/sound.h"

namespace launcher::sdl {

// A decoder for one continuous MP3 stream, or null when libmpg123 can't make one (the sound is
// then silent).
[[nodiscard]] std::unique_ptr<swf::Mp3Decoder> MakeMpg123Decoder();

}  // namespace launcher::sdl
