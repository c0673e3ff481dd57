#pragma once
// Sound out through waveOut: a thread of its own pulls 44.1 kHz interleaved stereo 16-bit PCM
// from a source (the SWF player's mixer) whenever the device has played a buffer. winmm comes
// from the system folder only. Without a sound device nothing is opened and the caller plays
// silently.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "player/swf/swf_platform.h"

namespace launcher::win32 {

class WaveOutSink : public swfplayer::AudioOutput {
 public:
  // Fills its span with the next samples; called on the sink's thread, never after the sink is
  // gone.
  using Source = swfplayer::AudioPull;
};

// Opens the default sound device and starts pulling; null (with `why`) when there is no device
// or winmm can't be loaded. The sink stops and closes the device when it goes.
[[nodiscard]] std::unique_ptr<WaveOutSink> OpenWaveOut(WaveOutSink::Source source,
                                                       std::string& why);

}  // namespace launcher::win32
