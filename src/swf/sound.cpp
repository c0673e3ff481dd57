#include "swf/sound.h"

#include "swf/byte_reader.h"

#include <algorithm>
#include <array>

namespace swf {
namespace {

// The low byte of format, rate, size and type, as all sound tags pack it.
SoundFormat FormatFromByte(std::uint8_t b) {
  return {std::uint8_t(b >> 4), std::uint8_t((b >> 2) & 3), (b & 2) != 0, (b & 1) != 0};
}

// IMA ADPCM's step table.
constexpr std::array<int, 89> kAdpcmSteps = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// The step index change for each magnitude (the code without its sign bit), per code size.
constexpr std::array<int, 2> kAdpcmIndex2 = {-1, 2};
constexpr std::array<int, 4> kAdpcmIndex3 = {-1, -1, 2, 4};
constexpr std::array<int, 8> kAdpcmIndex4 = {-1, -1, -1, -1, 2, 4, 6, 8};
constexpr std::array<int, 16> kAdpcmIndex5 = {-1, -1, -1, -1, -1, -1, -1, -1,
                                              1,  2,  4,  6,  8,  10, 13, 16};

int AdpcmIndexChange(int code_bits, std::uint32_t magnitude) {
  switch (code_bits) {
    case 2:
      return kAdpcmIndex2.at(magnitude);
    case 3:
      return kAdpcmIndex3.at(magnitude);
    case 4:
      return kAdpcmIndex4.at(magnitude);
    default:
      return kAdpcmIndex5.at(magnitude);
  }
}

constexpr int kAdpcmPacketFrames = 4096;

}  // namespace

double SoundFormat::Rate() const {
  return 44100.0 / double(1 << (3 - (rate_code & 3)));
}

bool SoundFormat::Playable() const {
  return codec == std::uint8_t(SoundCodec::PcmNative) || codec == std::uint8_t(SoundCodec::Adpcm) ||
         codec == std::uint8_t(SoundCodec::Mp3) || codec == std::uint8_t(SoundCodec::PcmLittle);
}

std::optional<SoundStreamHead> ReadSoundStreamHead(std::span<const std::uint8_t> body) {
  ByteReader r(body);
  SoundStreamHead head;
  head.playback = FormatFromByte(r.U8() & 0x0F);
  head.stream = FormatFromByte(r.U8());
  head.samples_per_block = r.U16();
  if (!r.ok()) return std::nullopt;
  // The latency seek is often left out, although MP3 streams should carry it.
  if (head.stream.codec == std::uint8_t(SoundCodec::Mp3) && r.remaining() >= 2) {
    head.latency_seek = r.S16();
  }
  return head;
}

std::optional<Mp3StreamBlock> ReadMp3StreamBlock(std::span<const std::uint8_t> body) {
  ByteReader r(body);
  const std::uint16_t count = r.U16();
  const std::int16_t seek = r.S16();
  if (!r.ok()) return std::nullopt;
  return Mp3StreamBlock{count, seek, r.Rest()};
}

std::optional<SoundDefinition> ReadDefineSound(std::span<const std::uint8_t> body) {
  ByteReader r(body);
  SoundDefinition sound;
  sound.id = r.U16();
  sound.format = FormatFromByte(r.U8());
  sound.sample_count = r.U32();
  if (sound.format.codec == std::uint8_t(SoundCodec::Mp3)) sound.seek_samples = r.S16();
  if (!r.ok()) return std::nullopt;
  const auto rest = r.Rest();
  sound.data.assign(rest.begin(), rest.end());
  return sound;
}

std::optional<SoundStart> ReadStartSound(TagCode code, std::span<const std::uint8_t> body) {
  ByteReader r(body);
  SoundStart start;
  if (code == TagCode::StartSound) {
    start.id = r.U16();
  } else if (code == TagCode::StartSound2) {
    const auto rest = r.Rest();
    const auto end = std::find(rest.begin(), rest.end(), std::uint8_t{0});
    if (end == rest.end()) return std::nullopt;
    start.class_name.assign(rest.begin(), end);
    start.by_class_name = true;
    r = ByteReader(std::span(end + 1, rest.end()));
  } else {
    return std::nullopt;
  }
  const std::uint8_t flags = r.U8();
  SoundInfo& info = start.info;
  info.stop = (flags & 0x20) != 0;
  info.no_multiple = (flags & 0x10) != 0;
  if ((flags & 0x01) != 0) info.in_point = r.U32();
  if ((flags & 0x02) != 0) info.out_point = r.U32();
  if ((flags & 0x04) != 0) info.loops = std::max<std::uint16_t>(r.U16(), 1);
  if (!r.ok()) return std::nullopt;
  if ((flags & 0x08) != 0) {
    const int points = r.U8();
    if (!r.ok()) return std::nullopt;
    // Only whole points: a list cut short keeps those before the cut.
    for (int i = 0; i < points && r.remaining() >= 8; ++i) {
      SoundEnvelopePoint point;
      point.pos44 = r.U32();
      point.left = r.U16();
      point.right = r.U16();
      info.envelope.push_back(point);
    }
  }
  return start;
}

void DecodePcm(const SoundFormat& format, std::span<const std::uint8_t> data,
               std::size_t max_frames, Pcm& out) {
  const int channels = format.stereo ? 2 : 1;
  const std::size_t bytes_per_sample = format.sixteen_bit ? 2 : 1;
  const std::size_t frames =
      std::min(max_frames, data.size() / (bytes_per_sample * std::size_t(channels)));
  out.rate = format.Rate();
  out.channels = channels;
  const std::size_t count = frames * std::size_t(channels);
  out.samples.reserve(out.samples.size() + count);
  for (std::size_t i = 0; i < count; ++i) {
    if (format.sixteen_bit) {
      out.samples.push_back(std::int16_t(data[2 * i] | (data[2 * i + 1] << 8)));
    } else {
      out.samples.push_back(std::int16_t((data[i] - 128) * 256));
    }
  }
}

AdpcmDecoder::AdpcmDecoder(std::span<const std::uint8_t> data, bool stereo)
    : data_(data), channels_(stereo ? 2 : 1) {}

std::uint32_t AdpcmDecoder::Bits(int count) {
  std::uint32_t v = 0;
  for (int i = 0; i < count; ++i, ++bit_pos_) {
    v = (v << 1) | ((data_[bit_pos_ >> 3] >> (7 - (bit_pos_ & 7))) & 1U);
  }
  return v;
}

std::size_t AdpcmDecoder::Decode(std::size_t max_frames, std::vector<std::int16_t>& out) {
  if (code_bits_ == 0) {
    if (!Left(2)) return 0;
    code_bits_ = int(Bits(2)) + 2;
  }
  const auto channels = std::size_t(channels_);
  const std::uint32_t sign = 1U << (code_bits_ - 1);
  std::size_t done = 0;
  while (done < max_frames) {
    if (in_packet_ == 0) {
      if (!Left(22 * channels)) break;
      for (std::size_t c = 0; c < channels; ++c) {
        predictor_[c] = std::int16_t(Bits(16));
        index_[c] = int(Bits(6));
        out.push_back(std::int16_t(predictor_[c]));
      }
    } else {
      if (!Left(std::size_t(code_bits_) * channels)) break;
      for (std::size_t c = 0; c < channels; ++c) {
        const std::uint32_t code = Bits(code_bits_);
        // The difference is (magnitude + 1/2) steps over 2^(bits-2), summed from halved steps.
        int step = kAdpcmSteps.at(std::size_t(index_[c]));
        int diff = 0;
        for (std::uint32_t bit = sign >> 1; bit != 0; bit >>= 1) {
          if ((code & bit) != 0) diff += step;
          step >>= 1;
        }
        diff += step;
        predictor_[c] = std::clamp((code & sign) != 0 ? predictor_[c] - diff : predictor_[c] + diff,
                                   -32768, 32767);
        index_[c] = std::clamp(index_[c] + AdpcmIndexChange(code_bits_, code & (sign - 1)), 0, 88);
        out.push_back(std::int16_t(predictor_[c]));
      }
    }
    ++done;
    if (++in_packet_ == kAdpcmPacketFrames) in_packet_ = 0;
  }
  return done;
}

std::size_t AdpcmDecoder::Skip(std::size_t frames) {
  if (code_bits_ == 0) {
    if (!Left(2)) return 0;
    code_bits_ = int(Bits(2)) + 2;
  }
  const auto channels = std::size_t(channels_);
  const std::size_t packet_bits =
      22 * channels + std::size_t(kAdpcmPacketFrames - 1) * std::size_t(code_bits_) * channels;
  std::size_t skipped = 0;
  std::vector<std::int16_t> scratch;
  while (skipped < frames) {
    if (in_packet_ == 0) {
      // Whole packets that are there in full: jumped over.
      const std::size_t whole = std::min((frames - skipped) / kAdpcmPacketFrames,
                                         (data_.size() * 8 - bit_pos_) / packet_bits);
      bit_pos_ += whole * packet_bits;
      skipped += whole * kAdpcmPacketFrames;
      if (skipped == frames) break;
    }
    scratch.clear();
    const std::size_t want =
        std::min(frames - skipped, std::size_t(kAdpcmPacketFrames - in_packet_));
    const std::size_t got = Decode(want, scratch);
    if (got == 0) break;
    skipped += got;
  }
  return skipped;
}

std::size_t AdpcmDecoder::CountFrames(std::span<const std::uint8_t> data, bool stereo) {
  std::size_t bits = data.size() * 8;
  if (bits < 2) return 0;
  const std::size_t code_bits = std::size_t(data[0] >> 6) + 2;
  const std::size_t channels = stereo ? 2 : 1;
  bits -= 2;
  std::size_t frames = 0;
  while (bits >= 22 * channels) {
    bits -= 22 * channels;
    const std::size_t codes =
        std::min<std::size_t>(kAdpcmPacketFrames - 1, bits / (code_bits * channels));
    frames += 1 + codes;
    bits -= codes * code_bits * channels;
    if (codes < kAdpcmPacketFrames - 1) break;
  }
  return frames;
}

std::optional<Mp3FrameHeader> ReadMp3FrameHeader(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 4 || bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0) return std::nullopt;
  const int version = (bytes[1] >> 3) & 3;  // 0: MPEG 2.5, 1: reserved, 2: MPEG 2, 3: MPEG 1
  const int layer = (bytes[1] >> 1) & 3;    // 1: layer III
  const int bitrate_index = bytes[2] >> 4;
  const int rate_index = (bytes[2] >> 2) & 3;
  if (version == 1 || layer != 1 || bitrate_index == 0 || bitrate_index == 15 || rate_index == 3) {
    return std::nullopt;
  }
  static constexpr std::array<int, 15> kBitrates1 = {0,   32,  40,  48,  56,  64,  80, 96,
                                                     112, 128, 160, 192, 224, 256, 320};
  static constexpr std::array<int, 15> kBitrates2 = {0,  8,  16, 24,  32,  40,  48, 56,
                                                     64, 80, 96, 112, 128, 144, 160};
  static constexpr std::array<int, 3> kRates = {44100, 48000, 32000};
  const bool mpeg1 = version == 3;
  Mp3FrameHeader h;
  h.rate = kRates.at(std::size_t(rate_index)) >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
  h.channels = (bytes[3] >> 6) == 3 ? 1 : 2;
  h.samples_per_frame = mpeg1 ? 1152 : 576;
  const int kbps = (mpeg1 ? kBitrates1 : kBitrates2).at(std::size_t(bitrate_index));
  const int padding = (bytes[2] >> 1) & 1;
  const int size = (mpeg1 ? 144000 : 72000) * kbps / h.rate + padding;
  h.size = std::size_t(size);
  return h;
}

}  // namespace swf
