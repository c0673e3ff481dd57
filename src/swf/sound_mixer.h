#pragma once
// The movie's sound, mixed into one 44100 Hz interleaved stereo signed 16-bit stream: event sounds
// (DefineSound, started and stopped by StartSound) and the main timeline's stream sound (its head,
// then one SoundStreamBlock per frame), each resampled linearly to 44100 Hz, mono played on both
// channels, summed and clipped.
//
// Memory stays bounded whatever a file claims: event sounds are decoded lazily as the output is
// pulled (a playing sound holds at most one 4096-frame packet or one MP3 frame of PCM), at most
// kMaxVoices play at once, a play ends at the data's end whatever its sample count says, and the
// stream queue holds at most kMaxStreamQueueSeconds of sound (its blocks are kept as the file's
// bytes and decoded lazily too) in at most kMaxStreamBlocks blocks.
//
// Thread-safe: every member locks one mutex, so a platform's audio thread may call Mix while the
// player's thread starts sounds and queues blocks.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "swf/sound.h"

namespace swf {

// Where the stream sound is, for the frame clock to follow: the player runs its frames a little
// ahead of what was played (`played_samples`, `queued_samples`), so the output never waits for a
// block; `frame` and `block_fraction` say where in the queue the output is.
struct StreamState {
  bool active = false;      // a head was given (StartStream) and the stream wasn't stopped since
  bool playing = false;     // the output is inside a queued block now (false: none yet, or starved)
  std::int64_t frame = -1;  // the tag of the block the output is in (or last was); -1: none yet
  double block_fraction = 0;  // how far the output is into that block, 0..1
  std::uint64_t played_samples =
      0;  // output samples (44.1 kHz) the stream played since StartStream
  std::uint64_t queued_samples = 0;  // output samples still queued and not played (MP3: from the
                                     // frames' headers)
  std::size_t queued_blocks = 0;     // blocks not yet played to their end
  std::uint64_t silent_samples = 0;  // output samples mixed since the stream last gave one (it
                                     // ran dry): a device's delay drains into them
};

// Which stream block a position of the stream's output falls in (see StreamFrameAt).
struct StreamPosition {
  enum class Place {
    None,    // no stream
    Before,  // before every block known (the output hasn't reached the first)
    In,      // in the sound of `frame`, `into` output samples past where it began
    After,   // past every block queued: the stream ran dry
  };
  Place place = Place::None;
  std::int64_t frame = -1;
  std::uint64_t into = 0;
};

class SoundMixer {
 public:
  static constexpr int kOutputRate = 44100;
  static constexpr std::size_t kMaxVoices = 32;
  static constexpr double kMaxStreamQueueSeconds = 60;
  static constexpr std::size_t kMaxStreamBlocks = 8192;

  // `mp3` makes a decoder per MP3 sound; empty: MP3 sounds are silent (skipped).
  explicit SoundMixer(Mp3DecoderFactory mp3 = {});
  ~SoundMixer();
  SoundMixer(const SoundMixer&) = delete;
  SoundMixer& operator=(const SoundMixer&) = delete;
  SoundMixer(SoundMixer&&) = delete;
  SoundMixer& operator=(SoundMixer&&) = delete;

  // Keeps a DefineSound for StartSound to play. The first definition of an id wins.
  void DefineSound(SoundDefinition sound);
  // The same, shared with the movie that holds it.
  void DefineSound(const std::shared_ptr<const SoundDefinition>& sound);

  // Carries out a StartSound: stop (every instance of the id stops; nothing starts), no-multiple
  // (nothing starts while one plays), else a new instance with its loops (each plays from the in
  // point to the out point, or the sound's end), and its envelope (positions from the sound's
  // start, where the play begins at the in point, on over the whole play, loops included). MP3: the
  // first SeekSamples decoded samples are skipped, then at most sample_count are played. Unknown
  // ids, StartSound2's class names, unplayable codecs and MP3 without a decoder do nothing; neither
  // does a start beyond kMaxVoices playing sounds.
  void StartSound(const SoundStart& start);
  // Stops every event sound (AVM1's StopSounds).
  void StopAllSounds();

  // Starts the stream sound with this head: whatever was queued before is dropped, its position
  // starts again at 0. An unplayable codec (Nellymoser, Speex) makes a stream whose blocks are
  // refused: it stays silent and never `playing`. MP3 blocks are one continuous stream of frames
  // through one decoder; the head's latency seek and the blocks' seek fields are not applied (the
  // blocks' lengths come from their frames' headers).
  void StartStream(const SoundStreamHead& head);
  // Queues one SoundStreamBlock's body (for MP3 with its sample count and seek fields, as in the
  // file), tagged with `frame`, any number the caller uses to know which frame the block came
  // with (StreamState::frame reports it back). Returns false when the block was refused: no
  // stream started, an unplayable codec (or MP3 without a decoder), an empty or malformed block,
  // or the queue is full (kMaxStreamQueueSeconds of sound or kMaxStreamBlocks blocks; a block
  // longer than the room left is cut to it).
  bool QueueStreamBlock(std::span<const std::uint8_t> body, std::int64_t frame);
  // Drops the queued blocks tagged `frame` or later that the output hasn't begun (the timeline
  // went elsewhere than the blocks queued ahead of it); the one being played plays on.
  void DropStreamBlocksFrom(std::int64_t frame);
  // The frame whose sound is at `position` of the stream's output (samples since StartStream, as
  // StreamState::played_samples counts them), among the blocks queued and the last few hundred
  // played: with the device's delay taken off what was played, the frame being heard. A frame's
  // sound begins a head's samples per frame after the one before while blocks come in order, not
  // where its block does (a block holds whole codec frames).
  [[nodiscard]] StreamPosition StreamFrameAt(std::uint64_t position) const;
  // Ends the stream sound and drops its queue (the movie's end).
  void StopStream();
  [[nodiscard]] StreamState Stream() const;

  // Fills `out` with the next out.size() / 2 stereo frames (left, right) of the mix, advancing
  // every sound; a trailing odd sample is set to 0. Silence when nothing plays.
  void Mix(std::span<std::int16_t> out);
  // The output's timestamp: stereo frames produced by Mix so far.
  [[nodiscard]] std::uint64_t OutputSamples() const;
  // Event sounds playing now.
  [[nodiscard]] std::size_t ActiveSounds() const;

  // (sound_mixer.cpp)
  struct Voice;        // one playing event sound
  struct StreamTrack;  // the stream sound's queue and position

 private:
  mutable std::mutex mutex_;
  Mp3DecoderFactory mp3_;
  std::map<std::uint16_t, std::shared_ptr<const SoundDefinition>> sounds_;
  std::vector<std::unique_ptr<Voice>> voices_;
  std::unique_ptr<StreamTrack> stream_;
  std::uint64_t output_samples_ = 0;
  std::vector<std::int32_t> accumulator_;  // Mix's sums and one sound's samples, kept between calls
  std::vector<std::int16_t> rendered_;
};

}  // namespace swf
