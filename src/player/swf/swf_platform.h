#pragma once
// What the SWF player needs from a platform besides the window's video layer: a sound device, a
// file to read and a clock. Each platform implements these small parts; the engine itself is
// portable.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "player/movie_player.h"
#include "player/video_layer.h"
#include "swf/swf_player.h"

namespace launcher::swfplayer {

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

  // Samples (stereo frames) pulled and not yet out of the speaker, as well as the device tells:
  // the frames follow the sound as heard, not as taken. Called from the player's thread.
  [[nodiscard]] virtual std::uint64_t QueuedFrames() const = 0;
};

// Opens the sound device for 44100 Hz stereo 16-bit sound that `pull` supplies. Returns null when
// there is no device (no sound card, a dummy driver that plays nothing, no driver under Wine): the
// movie then plays silently at its own pace.
using AudioOpener = std::function<std::unique_ptr<AudioOutput>(AudioPull pull)>;

// A file opened to be read in order as the movie plays, of at most max_bytes; throws
// std::runtime_error in the system's words (the message is the skip line's reason) when it can't
// be opened or is larger.
using FileOpener =
    std::function<std::unique_ptr<swf::ByteSource>(const PathText& path, std::size_t max_bytes)>;

// Seconds on a steady clock; only differences count.
using Clock = std::function<double()>;

}  // namespace launcher::swfplayer
