#pragma once
// The product's MovieCore: swf::LoadMovie and swf::Player behind the engine.

#include "player/swf/movie_core.h"
#include "swf/sound.h"
#include "swf/video.h"

namespace swf {
class ImageDecoder;
}

namespace launcher::swfplayer {

// Loads movies with the platform's picture decoder (may be null: JPEG, PNG and GIF bitmaps then
// draw nothing), plays their MP3 sound through the platform's decoders (empty: MP3 is silent)
// and the video the core doesn't decode through the platform's (empty: such video is left out,
// and named in LoadedCore::left_for_others). The decoder must outlive every movie loaded.
[[nodiscard]] CoreLoader MakeCoreLoader(swf::ImageDecoder* images, swf::Mp3DecoderFactory mp3,
                                        swf::VideoDecoderFactory video = {});

}  // namespace launcher::swfplayer
