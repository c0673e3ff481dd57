#pragma once
// Video for the SWF player on Linux that the core doesn't decode (On2 VP6, with and without
// alpha; Screen Video 2): FFmpeg's libavcodec.

#include <memory>

#include "swf/video.h"

namespace launcher::sdl {

// A decoder for one stream of the SWF codec id `codec`, or null when libavcodec has none for it.
[[nodiscard]] std::unique_ptr<swf::VideoDecoder> MakeAvcodecVideoDecoder(int codec);

}  // namespace launcher::sdl
