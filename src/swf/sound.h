#pragma once
// A movie's sound tags as the reader parses them, the decoders
// of the formats the core decodes itself (ADPCM, uncompressed PCM), and the interface through which
// a platform decodes MP3. The mixer that plays all this is in sound_mixer.h.
//
// Every reader here checks each length against the bytes it was given: a count beyond the data is
// cut to the data, never read past it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "swf/tag_codes.h"

namespace swf {

// The file's SoundFormat field. Nellymoser and Speex are read and never played.
enum class SoundCodec : std::uint8_t {
  PcmNative = 0,  // uncompressed, the authoring machine's byte order: read as little-endian
  Adpcm = 1,
  Mp3 = 2,
  PcmLittle = 3,  // uncompressed, little-endian
  Nellymoser16k = 4,
  Nellymoser8k = 5,
  Nellymoser = 6,
  Speex = 11,
};

// Format, rate, size and type as every sound tag carries them.
struct SoundFormat {
  std::uint8_t codec = 0;      // SoundCodec's value; any 4-bit value can come from a file
  std::uint8_t rate_code = 0;  // 0: 5.5 kHz (5512.5 Hz), 1: 11025, 2: 22050, 3: 44100
  bool sixteen_bit = false;    // for uncompressed PCM: 16-bit signed, else 8-bit unsigned
  bool stereo = false;

  // The rate in Hz (5512.5 for code 0).
  [[nodiscard]] double Rate() const;
  // True for the codecs the core plays: PCM (0, 3), ADPCM (1) and MP3 (2).
  [[nodiscard]] bool Playable() const;
  friend bool operator==(const SoundFormat&, const SoundFormat&) = default;
};

// SoundStreamHead (18) and SoundStreamHead2 (45): the timeline's stream sound.
struct SoundStreamHead {
  SoundFormat playback;  // the rate the author suggested for playing; informative only
  SoundFormat stream;    // what the blocks hold
  std::uint16_t samples_per_block = 0;  // the average sample count of one frame's block
  std::int16_t latency_seek = 0;        // MP3 only (0 when a file leaves it out)
  friend bool operator==(const SoundStreamHead&, const SoundStreamHead&) = default;
};
// Reads either head's body; nullopt when it is shorter than its fixed part (4 bytes).
[[nodiscard]] std::optional<SoundStreamHead> ReadSoundStreamHead(
    std::span<const std::uint8_t> body);

// One SoundStreamBlock (19) of an MP3 stream: its two fields, then the MP3 frames.
struct Mp3StreamBlock {
  std::uint16_t sample_count = 0;
  std::int16_t seek_samples = 0;
  std::span<const std::uint8_t> frames;  // inside the body given
};
// nullopt when the body is shorter than its 4 bytes of fields. Other codecs' blocks are plain
// sound data: the mixer takes the body as it is (sound_mixer.h).
[[nodiscard]] std::optional<Mp3StreamBlock> ReadMp3StreamBlock(std::span<const std::uint8_t> body);

// DefineSound (14).
struct SoundDefinition {
  std::uint16_t id = 0;
  SoundFormat format;
  std::uint32_t sample_count = 0;  // as the file claims it (per channel); never trusted for memory
  std::int16_t seek_samples = 0;   // MP3 only: decoded samples to skip at the start
  std::vector<std::uint8_t> data;  // for MP3 the frames (the seek field taken off), else as stored
  friend bool operator==(const SoundDefinition&, const SoundDefinition&) = default;
};
// nullopt when the body is shorter than its fixed part (7 bytes; 9 for MP3).
[[nodiscard]] std::optional<SoundDefinition> ReadDefineSound(std::span<const std::uint8_t> body);

// SOUNDINFO's envelope point: a position in 44.1 kHz samples from the sound's start, and the level
// of each channel, 0 (silent) to 32768 (as recorded).
struct SoundEnvelopePoint {
  std::uint32_t pos44 = 0;
  std::uint16_t left = 32768;
  std::uint16_t right = 32768;
  friend bool operator==(const SoundEnvelopePoint&, const SoundEnvelopePoint&) = default;
};

// SOUNDINFO. In and out points are in 44.1 kHz samples from the sound's start, whatever its rate
// (as the envelope's positions are).
struct SoundInfo {
  bool stop = false;         // SyncStop: stop every instance of the sound, start nothing
  bool no_multiple = false;  // SyncNoMultiple: don't start it while an instance plays
  std::optional<std::uint32_t> in_point;
  std::optional<std::uint32_t> out_point;
  std::uint16_t loops = 1;  // plays this many times (a file's 0 plays once)
  std::vector<SoundEnvelopePoint> envelope;
  friend bool operator==(const SoundInfo&, const SoundInfo&) = default;
};

// StartSound (15) names a sound by id; StartSound2 (89) by an ActionScript 3 class name, which the
// core can't resolve: the mixer skips those.
struct SoundStart {
  std::uint16_t id = 0;
  std::string class_name;  // StartSound2 only; empty for StartSound
  bool by_class_name = false;
  SoundInfo info;
  friend bool operator==(const SoundStart&, const SoundStart&) = default;
};
// Reads a StartSound (code 15) or StartSound2 (code 89) body; nullopt for another code or a body
// too short for its fields (an envelope with more points than bytes keeps the whole points only).
[[nodiscard]] std::optional<SoundStart> ReadStartSound(TagCode code,
                                                       std::span<const std::uint8_t> body);

// ---- Decoding

// Decoded sound: interleaved signed 16-bit samples (left, right for stereo).
struct Pcm {
  double rate = 0;   // Hz
  int channels = 0;  // 1 or 2; 0 when nothing was decoded
  std::vector<std::int16_t> samples;
  [[nodiscard]] std::size_t Frames() const {
    return channels > 0 ? samples.size() / std::size_t(channels) : 0;
  }
};

// Decodes uncompressed PCM (codec 0 or 3, both read little-endian): 8-bit unsigned (128 is
// silence, scaled to 16 bits by <<8) or 16-bit signed. At most `max_frames` frames; a partial last
// frame is dropped. Appends to out.samples and sets its rate and channels from `format`.
void DecodePcm(const SoundFormat& format, std::span<const std::uint8_t> data,
               std::size_t max_frames, Pcm& out);

// SWF ADPCM (codec 1): a 2-bit code size (2 to 5 bits), then packets of 4096 samples per channel,
// each starting with a 16-bit sample and a 6-bit step index per channel, then 4095 codes per
// channel (interleaved left, right). The last packet may be short; bits that can't make a whole
// sample frame are ignored. The step table is IMA ADPCM's; the index tables are SWF's per size.
class AdpcmDecoder {
 public:
  AdpcmDecoder(std::span<const std::uint8_t> data, bool stereo);
  // Appends up to `max_frames` decoded frames to `out` (interleaved); returns how many it appended.
  // 0 means the data is used up.
  std::size_t Decode(std::size_t max_frames, std::vector<std::int16_t>& out);
  // Skips up to `frames` frames, whole packets without decoding them; returns how many it skipped.
  std::size_t Skip(std::size_t frames);
  // The number of frames the data holds, found from its length without decoding.
  [[nodiscard]] static std::size_t CountFrames(std::span<const std::uint8_t> data, bool stereo);

 private:
  [[nodiscard]] std::uint32_t Bits(int count);
  [[nodiscard]] bool Left(std::size_t bits) const { return bit_pos_ + bits <= data_.size() * 8; }

  std::span<const std::uint8_t> data_;
  std::size_t bit_pos_ = 0;
  int channels_ = 1;
  int code_bits_ = 0;  // 0 until the size field was read
  int in_packet_ = 0;  // frames of the current packet decoded so far, 0..4096
  std::array<int, 2> predictor_ = {0, 0};
  std::array<int, 2> index_ = {0, 0};
};

// ---- MP3, through the platform

// One MP3 frame header as the core reads it to split the data into frames (MPEG 1, 2 and 2.5,
// layer III; a free-format bit rate is not accepted).
struct Mp3FrameHeader {
  int rate = 0;               // Hz
  int channels = 0;           // 1 or 2
  int samples_per_frame = 0;  // 1152 (MPEG 1) or 576
  std::size_t size = 0;       // bytes, header included
};
// nullopt when the 4 bytes at `bytes`' start are no such header.
[[nodiscard]] std::optional<Mp3FrameHeader> ReadMp3FrameHeader(std::span<const std::uint8_t> bytes);

// The platform's MP3 decoder (libmpg123 on Linux, ACM on Windows): one instance decodes one
// continuous stream of frames (an event sound from its start, or the stream sound across its
// blocks). The core hands it whole frames, one per call, in order, each starting with its 4-byte
// header (as ReadMp3FrameHeader found it). The decoder keeps what it needs from earlier frames
// (the bit reservoir) and may return nothing for the first frames it is given and catch up later.
// It must not trim the encoder delay itself (no gapless handling): the core skips the file's
// SeekSamples.
class Mp3Decoder {
 public:
  virtual ~Mp3Decoder() = default;
  Mp3Decoder() = default;
  Mp3Decoder(const Mp3Decoder&) = delete;
  Mp3Decoder& operator=(const Mp3Decoder&) = delete;
  Mp3Decoder(Mp3Decoder&&) = delete;
  Mp3Decoder& operator=(Mp3Decoder&&) = delete;

  // Decodes `frame` and appends the PCM it yields to `out.samples` (interleaved s16), setting
  // `out.rate` and `out.channels` to that PCM's format (any rate; 1 or 2 channels). The core
  // passes `out` empty and takes the samples each call. Returns false when the stream can't be
  // decoded further: the core then ends that sound.
  virtual bool DecodeFrame(std::span<const std::uint8_t> frame, Pcm& out) = 0;
  // Called once after an event sound's last frame: appends what the decoder still holds, as
  // DecodeFrame does. (The stream sound never ends this way: it waits for more blocks.)
  virtual void Finish(Pcm& /*out*/) {}
};
// Makes a decoder for one sound; may return null (the sound is then silent).
using Mp3DecoderFactory = std::function<std::unique_ptr<Mp3Decoder>()>;

}  // namespace swf
