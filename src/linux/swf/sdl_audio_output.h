#pragma once
// The SWF player's sound on Linux: an SDL audio device pulling the movie's mix.

#include <memory>

#include "player/swf/swf_platform.h"

namespace launcher::sdl {

// Opens the default sound device for 44100 Hz stereo 16-bit sound (SDL converts to what the
// device takes); null when SDL has no sound device to open.
[[nodiscard]] std::unique_ptr<swfplayer::AudioOutput> OpenSdlAudio(swfplayer::AudioPull pull);

}  // namespace launcher::sdl
