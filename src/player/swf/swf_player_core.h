#pragma once
// The product's MovieCore: swf::LoadMovie and swf::Player behind the engine.

#include <string>

#include "player/swf/movie_core.h"
#include "swf/sound.h"
#include "swf/swf_player.h"
#include "swf/video.h"

namespace swf {
class ImageDecoder;
struct Movie;
class DeviceFonts;
}  // namespace swf

namespace launcher::swfplayer {

// Loads movies with the platform's picture decoder (may be null: JPEG, PNG and GIF bitmaps then
// draw nothing), plays their MP3 sound through the platform's decoders (empty: MP3 is silent)
// and the video the core doesn't decode through the platform's (empty: such video is left out,
// and named in LoadedCore::left_for_others). Text fields without embedded fonts draw with
// `fonts` (may be null: such text shows nothing). The decoder and the fonts must outlive every
// movie loaded. `images_ahead` makes the decoder of a thread that decodes the bitmaps of the next
// second's frames while the current one shows (empty: each is decoded as its frame is drawn).
[[nodiscard]] CoreLoader MakeCoreLoader(swf::ImageDecoder* images, swf::Mp3DecoderFactory mp3,
                                        swf::VideoDecoderFactory video = {},
                                        swf::DeviceFonts* fonts = nullptr,
                                        swf::ImageDecoderFactory images_ahead = {});

// The video codecs of `movie` that neither the core nor `video` decodes, named ("... is not
// decoded"), or empty when every video plays.
[[nodiscard]] std::string UndecodedVideo(const swf::Movie& movie,
                                         const swf::VideoDecoderFactory& video);

}  // namespace launcher::swfplayer
