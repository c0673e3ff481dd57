#pragma once
// What the SWF player needs from a platform: a surface for its frames, a sound device, a file's
// bytes and a clock. Each platform implements these small parts; the engine itself is portable.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "player/movie_player.h"

namespace launcher::swfplayer {

// One frame's memory: premultiplied 0xAARRGGBB pixels in native order (bytes B, G, R, A on a
// little-endian machine), rows `stride` pixels apart. Valid only during the call that hands it out.
struct FramePixels {
  std::uint32_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;
};

// Where the frames are shown: the player's rectangle on the window, above the logo.
class FrameSurface {
 public:
  FrameSurface() = default;
  virtual ~FrameSurface() = default;
  FrameSurface(const FrameSurface&) = delete;
  FrameSurface& operator=(const FrameSurface&) = delete;
  FrameSurface(FrameSurface&&) = delete;
  FrameSurface& operator=(FrameSurface&&) = delete;

  // Container properties, in twips; shown, the surface covers the logo beneath it.
  virtual void SetVisible(bool visible) = 0;
  virtual void SetTop(Twips top) = 0;
  virtual void SetLeft(Twips left) = 0;
  virtual void SetHeight(Twips height) = 0;
  virtual void SetWidth(Twips width) = 0;
  // Hands memory at the surface's size in pixels to `draw`, then shows what it holds. Does
  // nothing while the surface has no area.
  virtual void Present(const std::function<void(const FramePixels&)>& draw) = 0;
};

// Fills its buffer with the next 44100 Hz interleaved stereo signed 16-bit samples.
using AudioPull = std::function<void(std::span<std::int16_t> stereo)>;

// An open sound device: it pulls and plays sound on a thread of its own for as long as it exists;
// destroying it stops the pulling before it returns.
class AudioOutput {
 public:
  AudioOutput() = default;
  virtual ~AudioOutput() = default;
  AudioOutput(const AudioOutput&) = delete;
  AudioOutput& operator=(const AudioOutput&) = delete;
  AudioOutput(AudioOutput&&) = delete;
  AudioOutput& operator=(AudioOutput&&) = delete;
};

// Opens the sound device for 44100 Hz stereo 16-bit sound that `pull` supplies. Returns null when
// there is no device (no sound card, a dummy driver that plays nothing, no driver under Wine): the
// movie then plays silently at its own pace.
using AudioOpener = std::function<std::unique_ptr<AudioOutput>(AudioPull pull)>;

// A whole file's bytes, at most max_bytes of them; throws std::runtime_error in the system's words
// (the message is the skip line's reason) when it can't be read or is larger.
using FileReader =
    std::function<std::vector<std::uint8_t>(const PathText& path, std::size_t max_bytes)>;

// Seconds on a steady clock; only differences count.
using Clock = std::function<double()>;

}  // namespace launcher::swfplayer
