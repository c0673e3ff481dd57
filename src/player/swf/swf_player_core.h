#pragma once
// The product's MovieCore: swf::LoadMovie and swf::Player behind the engine.

#include <string>

#include "player/swf/movie_core.h"
#include "swf/sound.h"

namespace swf {
class ImageDecoder;
struct Movie;
}  // namespace swf

namespace launcher::swfplayer {

// Loads movies with the platform's picture decoder (may be null: JPEG, PNG and GIF bitmaps then
// draw nothing) and plays their MP3 sound through the platform's decoders (empty: MP3 is silent).
// The decoder must outlive every movie loaded.
[[nodiscard]] CoreLoader MakeCoreLoader(swf::ImageDecoder* images, swf::Mp3DecoderFactory mp3);

// Why the engine hands a movie the core loaded on to another player, or empty when it plays it.
[[nodiscard]] std::string EngineRefusal(const swf::Movie& movie);

}  // namespace launcher::swfplayer
