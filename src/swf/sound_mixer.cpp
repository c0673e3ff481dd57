#include "swf/sound_mixer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>

namespace swf {
namespace {

constexpr std::size_t kChunkFrames = 4096;              // what a source decodes at a time
constexpr std::uint64_t kOne = std::uint64_t{1} << 32;  // 1.0 in the resampler's 32.32 positions
constexpr std::uint64_t kNoLimit = ~std::uint64_t{0};

// Decoded sound on its way to the mix: interleaved stereo at `rate`.
struct Chunk {
  double rate = 0;
  std::vector<std::int16_t> stereo;
  [[nodiscard]] std::size_t Frames() const { return stereo.size() / 2; }
};

// Appends interleaved `samples` (mono or stereo) to `chunk` as stereo.
void AppendStereo(const std::vector<std::int16_t>& samples, int channels, Chunk& chunk) {
  if (channels == 2) {
    const auto whole = std::ptrdiff_t(samples.size() & ~std::size_t{1});
    chunk.stereo.insert(chunk.stereo.end(), samples.begin(), samples.begin() + whole);
    return;
  }
  for (const std::int16_t s : samples) {
    chunk.stereo.push_back(s);
    chunk.stereo.push_back(s);
  }
}

// Sound decoded lazily, a chunk at a time.
class Source {
 public:
  virtual ~Source() = default;
  Source() = default;
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;
  Source(Source&&) = delete;
  Source& operator=(Source&&) = delete;
  // Replaces `chunk` with the next decoded frames (at least one). False when there are none now.
  virtual bool Next(Chunk& chunk) = 0;
  // True when Next will never give more (false for a stream that waits for blocks).
  [[nodiscard]] virtual bool Ended() const = 0;
  // Skips up to `frames` frames without decoding them where the format allows; returns how many
  // it skipped (never more). What it leaves, the caller decodes and drops.
  virtual std::uint64_t Skip(std::uint64_t /*frames*/) { return 0; }
};

class PcmSource final : public Source {
 public:
  PcmSource(SoundFormat format, std::span<const std::uint8_t> data)
      : format_(format),
        data_(data),
        frame_bytes_(std::size_t(format.sixteen_bit ? 2 : 1) * std::size_t(format.stereo ? 2 : 1)) {
  }
  bool Next(Chunk& chunk) override {
    Pcm pcm;
    DecodePcm(format_, data_, kChunkFrames, pcm);
    data_ = data_.subspan(std::min(data_.size(), pcm.Frames() * frame_bytes_));
    chunk.rate = pcm.rate;
    chunk.stereo.clear();
    AppendStereo(pcm.samples, pcm.channels, chunk);
    ended_ = chunk.stereo.empty();
    return !ended_;
  }
  [[nodiscard]] bool Ended() const override { return ended_; }
  std::uint64_t Skip(std::uint64_t frames) override {
    const std::uint64_t skipped = std::min<std::uint64_t>(frames, data_.size() / frame_bytes_);
    data_ = data_.subspan(std::size_t(skipped) * frame_bytes_);
    return skipped;
  }

 private:
  SoundFormat format_;
  std::span<const std::uint8_t> data_;
  std::size_t frame_bytes_;
  bool ended_ = false;
};

class AdpcmSource final : public Source {
 public:
  AdpcmSource(SoundFormat format, std::span<const std::uint8_t> data)
      : decoder_(data, format.stereo), rate_(format.Rate()), channels_(format.stereo ? 2 : 1) {}
  bool Next(Chunk& chunk) override {
    samples_.clear();
    decoder_.Decode(kChunkFrames, samples_);
    chunk.rate = rate_;
    chunk.stereo.clear();
    AppendStereo(samples_, channels_, chunk);
    ended_ = chunk.stereo.empty();
    return !ended_;
  }
  [[nodiscard]] bool Ended() const override { return ended_; }
  std::uint64_t Skip(std::uint64_t frames) override {
    return decoder_.Skip(std::size_t(std::min<std::uint64_t>(frames, SIZE_MAX)));
  }

 private:
  AdpcmDecoder decoder_;
  double rate_;
  int channels_;
  std::vector<std::int16_t> samples_;
  bool ended_ = false;
};

// Where skipping an MP3 sound's first frames by their headers ended, kept by the sound's player
// so that each loop doesn't walk the same headers again.
struct Mp3Skip {
  std::uint64_t asked = 0;  // the frames to skip it was found for
  std::size_t bytes = 0;
  std::uint64_t frames = 0;  // the frames those bytes hold
  bool known = false;
};

// MP3 frames through the platform's decoder; bytes that start no frame header are skipped up to
// the next one that may (as players resynchronize).
class Mp3Source final : public Source {
 public:
  // `finish`: the data is the whole sound, so the decoder gives up what it holds at its end.
  Mp3Source(std::span<const std::uint8_t> data, Mp3Decoder* decoder, bool finish,
            Mp3Skip* skip = nullptr)
      : data_(data), decoder_(decoder), finish_(finish), skip_(skip) {}
  bool Next(Chunk& chunk) override {
    while (!ended_ && decoder_ != nullptr) {
      const auto header = ReadMp3FrameHeader(data_);
      if (!header) {
        if (data_.size() <= 4) break;
        const auto sync = std::find(data_.begin() + 1, data_.end(), std::uint8_t{0xFF});
        data_ = data_.subspan(std::size_t(sync - data_.begin()));
        continue;
      }
      if (header->size > data_.size()) break;  // a cut last frame
      const auto frame = data_.first(header->size);
      data_ = data_.subspan(header->size);
      Pcm pcm;
      if (!decoder_->DecodeFrame(frame, pcm)) {
        finish_ = false;
        break;
      }
      if (pcm.samples.empty()) continue;  // nothing yet (the decoder's delay)
      if (!Take(pcm, chunk)) break;
      if (!chunk.stereo.empty()) return true;
    }
    ended_ = true;
    if (finish_ && decoder_ != nullptr) {
      finish_ = false;
      Pcm pcm;
      decoder_->Finish(pcm);
      if (Take(pcm, chunk) && !chunk.stereo.empty()) return true;
    }
    return false;
  }
  [[nodiscard]] bool Ended() const override { return ended_; }
  // Whole frames by their headers, keeping the last two before the point for the decoder's bit
  // reservoir (their sound is decoded and dropped).
  std::uint64_t Skip(std::uint64_t frames) override {
    if (skip_ != nullptr && skip_->known && skip_->asked == frames) {
      data_ = data_.subspan(std::min(skip_->bytes, data_.size()));
      return skip_->frames;
    }
    const std::size_t size = data_.size();
    std::uint64_t skipped = 0;
    for (;;) {
      const auto header = ReadMp3FrameHeader(data_);
      if (!header || header->size > data_.size()) break;
      const auto length = std::uint64_t(header->samples_per_frame);
      if (frames - skipped < 3 * length) break;
      skipped += length;
      data_ = data_.subspan(header->size);
    }
    if (skip_ != nullptr) *skip_ = {frames, size - data_.size(), skipped, true};
    return skipped;
  }

 private:
  // The decoder's PCM into `chunk`; false when its format is none the mix takes.
  static bool Take(const Pcm& pcm, Chunk& chunk) {
    if ((pcm.channels != 1 && pcm.channels != 2) || !(pcm.rate >= 1000 && pcm.rate <= 200000)) {
      return false;
    }
    chunk.rate = pcm.rate;
    chunk.stereo.clear();
    AppendStereo(pcm.samples, pcm.channels, chunk);
    return true;
  }

  std::span<const std::uint8_t> data_;
  Mp3Decoder* decoder_;
  bool finish_;
  Mp3Skip* skip_;
  bool ended_ = false;
};

// A source's frames from `skip` on, at most `limit` of them.
class WindowSource final : public Source {
 public:
  WindowSource(std::unique_ptr<Source> inner, std::uint64_t skip, std::uint64_t limit)
      : inner_(std::move(inner)), skip_(skip), limit_(limit) {}
  bool Next(Chunk& chunk) override {
    if (skip_ > 0) skip_ -= inner_->Skip(skip_);
    while (limit_ > 0 && inner_->Next(chunk)) {
      std::uint64_t frames = chunk.Frames();
      if (skip_ >= frames) {
        skip_ -= frames;
        continue;
      }
      const auto first = std::size_t(skip_);
      skip_ = 0;
      frames = std::min<std::uint64_t>(frames - first, limit_);
      limit_ -= frames;
      chunk.stereo.erase(chunk.stereo.begin(), chunk.stereo.begin() + std::ptrdiff_t(2 * first));
      chunk.stereo.resize(std::size_t(2 * frames));
      return true;
    }
    limit_ = 0;
    return false;
  }
  [[nodiscard]] bool Ended() const override { return limit_ == 0 || inner_->Ended(); }

 private:
  std::unique_ptr<Source> inner_;
  std::uint64_t skip_;
  std::uint64_t limit_;
};

// Linear resampling to 44100 Hz of a source's frames.
class Resampler {
 public:
  // Writes up to `frames` stereo frames to `out`; returns how many. Fewer when the source has
  // no more now: it has ended (`Finished`), or it waits for more (a stream between blocks).
  std::size_t Render(Source& source, std::int16_t* out, std::size_t frames) {
    for (std::size_t i = 0; i < frames; ++i) {
      while (pos_ >= kOne || !have_cur_) {
        if (!Pop(source, cur_)) {
          finished_ = source.Ended();
          return i;
        }
        if (have_cur_) {
          pos_ -= kOne;
        } else {
          have_cur_ = true;
        }
      }
      std::array<std::int16_t, 2> next = cur_;
      if (pos_ != 0 && !Peek(source, next) && !source.Ended()) return i;  // wait for the next one
      for (std::size_t c = 0; c < 2; ++c) {
        const std::int64_t d = std::int64_t(next.at(c)) - cur_.at(c);
        out[2 * i + c] = std::int16_t(cur_.at(c) + ((d * std::int64_t(pos_)) >> 32));
      }
      pos_ += step_;
    }
    return frames;
  }
  [[nodiscard]] bool Finished() const { return finished_; }
  // Source frames taken so far; the current one is the last of them.
  [[nodiscard]] std::uint64_t Taken() const { return taken_; }
  // How far the output is past the current frame, in frames (0 to 1, more while waiting).
  [[nodiscard]] double Fraction() const { return double(pos_) / double(kOne); }

 private:
  bool Fill(Source& source) {
    while (read_ >= chunk_.Frames()) {
      if (!source.Next(chunk_)) return false;
      read_ = 0;
      step_ = std::uint64_t(std::llround(chunk_.rate / SoundMixer::kOutputRate * double(kOne)));
      step_ = std::max<std::uint64_t>(step_, 1);
    }
    return true;
  }
  bool Pop(Source& source, std::array<std::int16_t, 2>& frame) {
    if (!Fill(source)) return false;
    frame = {chunk_.stereo[2 * read_], chunk_.stereo[2 * read_ + 1]};
    ++read_;
    ++taken_;
    return true;
  }
  bool Peek(Source& source, std::array<std::int16_t, 2>& frame) {
    if (!Fill(source)) return false;
    frame = {chunk_.stereo[2 * read_], chunk_.stereo[2 * read_ + 1]};
    return true;
  }

  Chunk chunk_;
  std::size_t read_ = 0;
  std::array<std::int16_t, 2> cur_ = {0, 0};
  bool have_cur_ = false;
  std::uint64_t pos_ = 0;  // output position past cur_, 32.32
  std::uint64_t step_ = kOne;
  std::uint64_t taken_ = 0;
  bool finished_ = false;
};

// The source for one play of an event sound (one loop), or null when it plays nothing.
std::unique_ptr<Source> MakeEventSource(const SoundDefinition& sound, const SoundInfo& info,
                                        Mp3Decoder* decoder, Mp3Skip& mp3_skip) {
  std::unique_ptr<Source> inner;
  std::uint64_t skip = 0;
  switch (SoundCodec(sound.format.codec)) {
    case SoundCodec::PcmNative:
    case SoundCodec::PcmLittle:
      inner = std::make_unique<PcmSource>(sound.format, sound.data);
      break;
    case SoundCodec::Adpcm:
      inner = std::make_unique<AdpcmSource>(sound.format, sound.data);
      break;
    case SoundCodec::Mp3:
      if (decoder == nullptr) return nullptr;
      inner = std::make_unique<Mp3Source>(sound.data, decoder, true, &mp3_skip);
      skip = std::uint64_t(std::max<int>(sound.seek_samples, 0));
      break;
    default:
      return nullptr;
  }
  // In and out points count 44.1 kHz samples; the sound's own rate converts them.
  const double per_sample44 = sound.format.Rate() / SoundMixer::kOutputRate;
  const std::uint64_t in = info.in_point ? std::uint64_t(double(*info.in_point) * per_sample44) : 0;
  std::uint64_t end = sound.sample_count;
  if (info.out_point) end = std::min(end, std::uint64_t(double(*info.out_point) * per_sample44));
  if (end <= in) return nullptr;
  return std::make_unique<WindowSource>(std::move(inner), skip + in, end - in);
}

}  // namespace

// ---- Event sounds

struct SoundMixer::Voice {
  std::shared_ptr<const SoundDefinition> sound;
  SoundInfo info;
  Mp3DecoderFactory mp3;
  std::unique_ptr<Mp3Decoder> decoder;  // MP3 only, new for each loop
  Mp3Skip mp3_skip;
  std::unique_ptr<Source> source;
  int loops_left = 0;  // after the current one
  Resampler resampler;
  std::uint64_t played = 0;  // output samples since the start
  std::size_t envelope_point = 0;
  bool done = false;

  // A source that goes on with the next loop where the current one ends.
  class Looping final : public Source {
   public:
    explicit Looping(Voice& voice) : voice_(voice) {}
    bool Next(Chunk& chunk) override {
      if (voice_.source && voice_.source->Next(chunk)) return true;
      // A loop that gives nothing ends the sound rather than spin through the loops left.
      if (voice_.loops_left > 0 && voice_.Restart() && voice_.source->Next(chunk)) return true;
      voice_.source.reset();
      return false;
    }
    [[nodiscard]] bool Ended() const override { return !voice_.source; }

   private:
    Voice& voice_;
  };

  bool Restart() {
    --loops_left;
    source.reset();  // before the decoder it reads through
    decoder.reset();
    if (SoundCodec(sound->format.codec) == SoundCodec::Mp3) {
      if (!mp3) return false;
      decoder = mp3();
      if (!decoder) return false;
    }
    source = MakeEventSource(*sound, info, decoder.get(), mp3_skip);
    return source != nullptr;
  }

  // Scales a rendered stretch by the envelope: levels interpolated linearly between its points,
  // the first level before the first point, the last after the last.
  void ApplyEnvelope(std::int16_t* out, std::size_t frames) {
    const auto& points = info.envelope;
    if (points.empty()) return;
    const std::uint64_t base = info.in_point.value_or(0);
    for (std::size_t i = 0; i < frames; ++i) {
      const std::uint64_t pos = base + played + i;
      while (envelope_point < points.size() && points[envelope_point].pos44 <= pos)
        ++envelope_point;
      double left = 0;
      double right = 0;
      const auto level = [](std::uint16_t v) { return std::min<double>(v, 32768) / 32768.0; };
      if (envelope_point == 0) {
        left = level(points.front().left);
        right = level(points.front().right);
      } else if (envelope_point == points.size()) {
        left = level(points.back().left);
        right = level(points.back().right);
      } else {
        const auto& a = points[envelope_point - 1];
        const auto& b = points[envelope_point];
        const double t = double(pos - a.pos44) / double(b.pos44 - a.pos44);
        left = level(a.left) + (level(b.left) - level(a.left)) * t;
        right = level(a.right) + (level(b.right) - level(a.right)) * t;
      }
      out[2 * i] = std::int16_t(std::lround(out[2 * i] * left));
      out[2 * i + 1] = std::int16_t(std::lround(out[2 * i + 1] * right));
    }
  }
};

// ---- The stream sound

struct SoundMixer::StreamTrack final : Source {
  struct Block {
    std::vector<std::uint8_t> bytes;  // the sound data (for MP3 only the whole frames)
    std::int64_t frame = 0;
    std::uint64_t frames = 0;  // its length in source frames
    double rate = 0;
    std::uint64_t output = 0;  // its length in output samples
    // Where its frame's sound begins: a block carries whole codec frames, so it may start a
    // little before or after; from the head's samples per frame once blocks come in order.
    std::uint64_t anchor = 0;
  };
  // A block played to its end, remembered for a while: the speaker is behind the output.
  struct Played {
    std::int64_t frame = 0;
    std::uint64_t anchor = 0;
  };
  static constexpr std::size_t kPlayedKept = 512;

  SoundStreamHead head;
  std::unique_ptr<Mp3Decoder> decoder;  // MP3: one for the whole stream
  std::deque<Block> blocks;             // not yet played to their end
  std::size_t decoding = 0;             // the block `current` decodes
  std::unique_ptr<Source> current;
  std::uint64_t front_start = 0;    // source frame where blocks.front() starts
  std::uint64_t queued_output = 0;  // output samples of the queued blocks
  std::uint64_t queued_end = 0;     // where the last queued block ends in the stream's output
  std::deque<Played> played_blocks;
  std::int64_t last_frame = -1;
  Resampler resampler;
  std::uint64_t played = 0;
  bool starved = true;
  std::uint64_t silent_since = 0;  // output samples mixed since the stream last gave one

  // The frame and anchor of the block queued last, whether it has played or not.
  [[nodiscard]] std::optional<Played> Last() const {
    if (!blocks.empty()) return Played{blocks.back().frame, blocks.back().anchor};
    if (!played_blocks.empty()) return played_blocks.back();
    return std::nullopt;
  }

  bool Next(Chunk& chunk) override {
    while (decoding < blocks.size()) {
      if (!current) {
        const Block& b = blocks[decoding];
        const auto codec = SoundCodec(head.stream.codec);
        std::uint64_t limit = b.frames;
        if (codec == SoundCodec::Mp3) {
          // The decoder may give a frame's sound with a later block's: no cut at the block.
          current = std::make_unique<Mp3Source>(b.bytes, decoder.get(), false);
          limit = kNoLimit;
        } else if (codec == SoundCodec::Adpcm) {
          current = std::make_unique<AdpcmSource>(head.stream, b.bytes);
        } else {
          current = std::make_unique<PcmSource>(head.stream, b.bytes);
        }
        current = std::make_unique<WindowSource>(std::move(current), 0, limit);
      }
      if (current->Next(chunk)) return true;
      current.reset();
      ++decoding;
    }
    return false;
  }
  [[nodiscard]] bool Ended() const override { return false; }

  // Drops the blocks the output has played to their end (never the one being decoded).
  void DropPlayed() {
    const std::uint64_t at = resampler.Taken() == 0 ? 0 : resampler.Taken() - 1;
    while (!blocks.empty() && decoding > 0 && front_start + blocks.front().frames <= at) {
      front_start += blocks.front().frames;
      queued_output -= blocks.front().output;
      last_frame = blocks.front().frame;
      const Block& done = blocks.front();
      played_blocks.push_back({done.frame, done.anchor});
      if (played_blocks.size() > kPlayedKept) played_blocks.pop_front();
      blocks.pop_front();
      --decoding;
    }
    if (!blocks.empty() && resampler.Taken() > 0 && at >= front_start) {
      last_frame = blocks.front().frame;
    }
  }
};

// ---- The mixer

SoundMixer::SoundMixer(Mp3DecoderFactory mp3) : mp3_(std::move(mp3)) {}
SoundMixer::~SoundMixer() = default;

void SoundMixer::DefineSound(SoundDefinition sound) {
  DefineSound(std::make_shared<const SoundDefinition>(std::move(sound)));
}

void SoundMixer::DefineSound(const std::shared_ptr<const SoundDefinition>& sound) {
  if (!sound) return;
  const std::scoped_lock lock(mutex_);
  sounds_.try_emplace(sound->id, sound);
}

void SoundMixer::StartSound(const SoundStart& start) {
  const std::scoped_lock lock(mutex_);
  if (start.by_class_name) return;
  const auto found = sounds_.find(start.id);
  if (found == sounds_.end()) return;
  const auto same = [&](const std::unique_ptr<Voice>& v) { return v->sound->id == start.id; };
  if (start.info.stop) {
    std::erase_if(voices_, same);
    return;
  }
  if (start.info.no_multiple && std::any_of(voices_.begin(), voices_.end(), same)) return;
  if (!found->second->format.Playable() || voices_.size() >= kMaxVoices) return;
  auto voice = std::make_unique<Voice>();
  voice->sound = found->second;
  voice->info = start.info;
  voice->mp3 = mp3_;
  voice->loops_left = start.info.loops;
  if (!voice->Restart()) return;
  voices_.push_back(std::move(voice));
}

void SoundMixer::StopAllSounds() {
  const std::scoped_lock lock(mutex_);
  voices_.clear();
}

void SoundMixer::StartStream(const SoundStreamHead& head) {
  const std::scoped_lock lock(mutex_);
  stream_ = std::make_unique<StreamTrack>();
  stream_->head = head;
  if (SoundCodec(head.stream.codec) == SoundCodec::Mp3 && mp3_) stream_->decoder = mp3_();
}

bool SoundMixer::QueueStreamBlock(std::span<const std::uint8_t> body, std::int64_t frame) {
  const std::scoped_lock lock(mutex_);
  if (!stream_ || stream_->blocks.size() >= kMaxStreamBlocks) return false;
  const SoundFormat& format = stream_->head.stream;
  const auto capacity = std::uint64_t(kMaxStreamQueueSeconds * kOutputRate);
  if (stream_->queued_output >= capacity) return false;
  // The room left in the queue, in frames at `rate`.
  const auto room = [&](double rate) {
    return std::uint64_t(std::ceil(double(capacity - stream_->queued_output) * rate / kOutputRate));
  };
  StreamTrack::Block block;
  block.frame = frame;
  block.rate = format.Rate();
  switch (SoundCodec(format.codec)) {
    case SoundCodec::PcmNative:
    case SoundCodec::PcmLittle: {
      const std::size_t frame_bytes =
          std::size_t(format.sixteen_bit ? 2 : 1) * std::size_t(format.stereo ? 2 : 1);
      block.frames = std::min<std::uint64_t>(body.size() / frame_bytes, room(block.rate));
      block.bytes.assign(body.begin(), body.begin() + std::ptrdiff_t(block.frames * frame_bytes));
      break;
    }
    case SoundCodec::Adpcm: {
      block.frames =
          std::min<std::uint64_t>(AdpcmDecoder::CountFrames(body, format.stereo), room(block.rate));
      // The bits those frames take: the size field, a header per packet, codes for the rest.
      const std::uint64_t channels = format.stereo ? 2 : 1;
      const std::uint64_t packets = (block.frames + 4095) / 4096;
      const std::uint64_t code_bits = body.empty() ? 0 : std::uint64_t((body[0] >> 6) + 2);
      const std::uint64_t bits =
          2 + packets * 22 * channels + (block.frames - packets) * code_bits * channels;
      const auto bytes = std::min<std::uint64_t>((bits + 7) / 8, body.size());
      block.bytes.assign(body.begin(), body.begin() + std::ptrdiff_t(bytes));
      break;
    }
    case SoundCodec::Mp3: {
      if (!stream_->decoder) return false;
      const auto mp3 = ReadMp3StreamBlock(body);
      if (!mp3) return false;
      // Whole frames only, up to the queue's room; their headers give the length and rate.
      std::span<const std::uint8_t> rest = mp3->frames;
      std::size_t taken = 0;
      for (;;) {
        const auto header = ReadMp3FrameHeader(rest);
        if (!header || header->size > rest.size()) break;
        if (taken == 0) block.rate = header->rate;
        if (block.frames + std::uint64_t(header->samples_per_frame) > room(block.rate)) break;
        block.frames += std::uint64_t(header->samples_per_frame);
        taken += header->size;
        rest = rest.subspan(header->size);
      }
      block.bytes.assign(mp3->frames.begin(), mp3->frames.begin() + std::ptrdiff_t(taken));
      break;
    }
    default:
      return false;
  }
  if (block.frames == 0) return false;
  block.output = std::uint64_t(double(block.frames) * kOutputRate / block.rate);
  // The next frame's sound begins a frame's samples after this one's, if the blocks say so
  // within a frame; else (a goto, a gap, a head that says nothing) where its block begins.
  const std::uint64_t start = stream_->queued_end;
  block.anchor = start;
  const std::uint16_t per_frame = stream_->head.samples_per_block;
  const std::optional<StreamTrack::Played> previous = stream_->Last();
  if (previous && per_frame > 0 && frame > previous->frame && frame - previous->frame <= 4) {
    const double step = double(per_frame) * kOutputRate / format.Rate();
    const auto anchor =
        previous->anchor + std::uint64_t(std::llround(step * double(frame - previous->frame)));
    const auto gap = anchor > start ? anchor - start : start - anchor;
    if (double(gap) <= step) block.anchor = anchor;
  }
  stream_->queued_end += block.output;
  stream_->queued_output += block.output;
  stream_->blocks.push_back(std::move(block));
  return true;
}

void SoundMixer::DropStreamBlocksFrom(std::int64_t frame) {
  const std::scoped_lock lock(mutex_);
  if (!stream_) return;
  StreamTrack& s = *stream_;
  // The block being decoded plays on to its end; cutting it would leave the decoder mid-frame.
  std::size_t keep = std::min(s.blocks.size(), s.decoding + (s.current ? 1 : 0));
  while (keep < s.blocks.size() && s.blocks[keep].frame < frame) ++keep;
  while (s.blocks.size() > keep) {
    s.queued_output -= s.blocks.back().output;
    s.queued_end -= s.blocks.back().output;
    s.blocks.pop_back();
  }
}

StreamPosition SoundMixer::StreamFrameAt(std::uint64_t position) const {
  const std::scoped_lock lock(mutex_);
  StreamPosition where;
  if (!stream_) return where;
  const StreamTrack& s = *stream_;
  if (s.blocks.empty() && s.played_blocks.empty()) return where;
  const std::uint64_t first =
      s.played_blocks.empty() ? s.blocks.front().anchor : s.played_blocks.front().anchor;
  if (position >= s.queued_end) {
    where.place = StreamPosition::Place::After;
  } else if (position < first) {
    where.place = StreamPosition::Place::Before;
  } else {
    // The last frame whose sound began by `position`: blocks lie in order, played then queued.
    const auto take = [&](std::int64_t frame, std::uint64_t anchor) {
      if (anchor > position) return false;
      where = {StreamPosition::Place::In, frame, position - anchor};
      return true;
    };
    bool found = false;
    for (auto it = s.blocks.rbegin(); it != s.blocks.rend() && !found; ++it) {
      found = take(it->frame, it->anchor);
    }
    for (auto it = s.played_blocks.rbegin(); it != s.played_blocks.rend() && !found; ++it) {
      found = take(it->frame, it->anchor);
    }
  }
  return where;
}

void SoundMixer::StopStream() {
  const std::scoped_lock lock(mutex_);
  stream_.reset();
}

StreamState SoundMixer::Stream() const {
  const std::scoped_lock lock(mutex_);
  StreamState state;
  if (!stream_) return state;
  const StreamTrack& s = *stream_;
  state.active = true;
  state.frame = s.last_frame;
  state.played_samples = s.played;
  state.silent_samples = s.silent_since;
  state.queued_blocks = s.blocks.size();
  const std::uint64_t at = s.resampler.Taken() == 0 ? 0 : s.resampler.Taken() - 1;
  std::uint64_t played_in_front = 0;
  if (!s.blocks.empty() && s.resampler.Taken() > 0 && at >= s.front_start) {
    const auto& front = s.blocks.front();
    played_in_front = std::min(at - s.front_start, front.frames);
    state.block_fraction =
        std::min(1.0, (double(played_in_front) + s.resampler.Fraction()) / double(front.frames));
    state.playing = !s.starved && at < s.front_start + front.frames;
  }
  const std::uint64_t played_output =
      s.blocks.empty() || s.resampler.Taken() == 0
          ? 0
          : std::uint64_t(std::llround((double(played_in_front) + s.resampler.Fraction()) *
                                       kOutputRate / s.blocks.front().rate));
  state.queued_samples = s.queued_output - std::min(s.queued_output, played_output);
  return state;
}

void SoundMixer::Mix(std::span<std::int16_t> out) {
  const std::scoped_lock lock(mutex_);
  if ((out.size() & 1) != 0) out.back() = 0;
  const std::size_t total = out.size() / 2;
  rendered_.resize(2 * kChunkFrames);
  accumulator_.resize(2 * kChunkFrames);
  std::int16_t* rendered = rendered_.data();
  for (std::size_t start = 0; start < total; start += kChunkFrames) {
    const std::size_t frames = std::min(kChunkFrames, total - start);
    std::fill_n(accumulator_.begin(), 2 * frames, 0);
    const auto add = [&](std::size_t count) {
      for (std::size_t i = 0; i < 2 * count; ++i) accumulator_[i] += rendered[i];
    };
    for (auto& voice : voices_) {
      Voice::Looping looping(*voice);
      const std::size_t got = voice->resampler.Render(looping, rendered, frames);
      voice->ApplyEnvelope(rendered, got);
      voice->played += got;
      add(got);
      voice->done = got < frames && voice->resampler.Finished();
    }
    std::erase_if(voices_, [](const std::unique_ptr<Voice>& v) { return v->done; });
    if (stream_) {
      const std::size_t got = stream_->resampler.Render(*stream_, rendered, frames);
      stream_->played += got;
      stream_->starved = got < frames;
      stream_->silent_since = got > 0 ? frames - got : stream_->silent_since + frames;
      add(got);
      stream_->DropPlayed();
    }
    for (std::size_t i = 0; i < 2 * frames; ++i) {
      out[2 * start + i] = std::int16_t(std::clamp(accumulator_[i], -32768, 32767));
    }
  }
  output_samples_ += total;
}

std::uint64_t SoundMixer::OutputSamples() const {
  const std::scoped_lock lock(mutex_);
  return output_samples_;
}

std::size_t SoundMixer::ActiveSounds() const {
  const std::scoped_lock lock(mutex_);
  return voices_.size();
}

}  // namespace swf
