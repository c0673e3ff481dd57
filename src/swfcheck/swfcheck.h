#pragma once
// swfcheck: what the launcher's SWF player makes of a movie, for a packager deciding whether a
// game's opening movie plays here, and for the conformance runner. Portable; each platform's main
// hands it the arguments as UTF-8 and its picture decoder.
//
//   swfcheck MOVIE.swf [--frames N] [--loop] [--trace] [--draw] [--png FILE] [--size WxH]
//                      [--input FILE] [--clock YYYY-MM-DDTHH:MM:SS+HHMM]
//
// Standard error gets the report (version, stage, frame rate, frames, what is left out with
// counts); standard output only the movie's trace lines with --trace. The frames run headless on
// the movie's own clock: no real time, window or sound device, and a fixed random seed; --clock
// fixes Date's clock and zone too. --input replays pointer and key input between frames, as a
// conformance suite scripts it.

#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>

#include "swf/video.h"

namespace swf {
class ImageDecoder;
class DeviceFonts;
}  // namespace swf

namespace swfcheck {

inline constexpr int kExitLoaded = 0;
inline constexpr int kExitRefused = 1;  // the movie is refused, or a file can't be read or written
inline constexpr int kExitUsage = 2;

// The seed of the movie's Math.random: every run of a movie gives the same numbers.
inline constexpr std::uint64_t kRandomSeed = 0x5357'4643'4845'434BULL;

// The platform's decoders, as the launcher uses them; each may be null or empty (bitmaps of JPEG,
// PNG and GIF, video the core doesn't decode and text in the system's fonts then show nothing).
struct Decoders {
  swf::ImageDecoder* images = nullptr;
  swf::VideoDecoderFactory video;
  swf::DeviceFonts* fonts = nullptr;
};

// `args` without the program's name.
int Run(std::span<const std::string> args, const Decoders& decoders, std::ostream& out,
        std::ostream& err);

}  // namespace swfcheck
