#pragma once
// The product's MovieCore: swf::LoadMovie and swf::Player behind the engine.

#include "player/swf/movie_core.h"
#include "swf/sound.h"

namespace swf {
class ImageDecoder;
}

namespace launcher::swfplayer {

// Loads movies with the platform's picture decoder (may be null: JPEG, PNG and GIF bitmaps then
// draw nothing) and plays their MP3 sound through the platform's decoders (empty: MP3 is silent).
// The decoder must outlive every movie loaded.
[[nodiscard]] CoreLoader MakeCoreLoader(swf::ImageDecoder* images, swf::Mp3DecoderFactory mp3);

}  // namespace launcher::swfplayer
