// The sound core: tag bodies, ADPCM and PCM decoding, the MP3 path through a fake decoder,
// resampling and mixing, the stream sound's position, and hostile counts.
// The ADPCM sequences are worked out by hand from the format's definition (see each row).

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "swf/sound.h"
#include "swf/sound_mixer.h"

// Rows name only the fields they set (designated initializers); the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace swf {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::int16_t>;

// Fields packed most significant bit first, as ADPCM data is.
Bytes PackBits(std::initializer_list<std::pair<std::uint32_t, int>> fields) {
  Bytes out;
  int used = 8;
  for (const auto& [value, bits] : fields) {
    for (int i = bits - 1; i >= 0; --i) {
      if (used == 8) {
        out.push_back(0);
        used = 0;
      }
      out.back() = std::uint8_t(out.back() | (((value >> i) & 1U) << (7 - used++)));
    }
  }
  return out;
}

// Little-endian fields of `bytes` each, e.g. Le({{id, 2}, {count, 4}}).
Bytes Le(std::initializer_list<std::pair<std::uint32_t, int>> fields) {
  Bytes b;
  for (const auto& [value, bytes] : fields) {
    for (int i = 0; i < bytes; ++i) b.push_back(std::uint8_t(value >> (8 * i)));
  }
  return b;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const auto& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

Bytes Pcm16(std::initializer_list<int> values) {
  Bytes b;
  for (const int v : values) b = Cat({b, Le({{std::uint32_t(v), 2}})});
  return b;
}

// A DefineSound body; the format byte packs codec, rate code, 16-bit and stereo.
Bytes SoundBody(int id, int codec, int rate, bool stereo, std::uint32_t count, const Bytes& data) {
  const auto format = std::uint32_t(codec << 4 | rate << 2 | 2 | (stereo ? 1 : 0));
  return Cat({Le({{std::uint32_t(id), 2}, {format, 1}, {count, 4}}), data});
}

// 16-bit PCM at a rate code, as many samples as given.
Bytes Sound(int id, int rate, std::initializer_list<int> values, bool stereo = false) {
  return SoundBody(id, 3, rate, stereo, std::uint32_t(values.size()), Pcm16(values));
}

void Define(SoundMixer& mixer, const Bytes& body) {
  auto sound = ReadDefineSound(body);
  ASSERT_TRUE(sound);
  mixer.DefineSound(std::move(*sound));
}

Samples Mix(SoundMixer& mixer, std::size_t frames) {
  Samples out(2 * frames);
  mixer.Mix(out);
  return out;
}

Samples Left(const Samples& stereo) {
  Samples left;
  for (std::size_t i = 0; i < stereo.size(); i += 2) left.push_back(stereo[i]);
  return left;
}

// Mono expectations on both channels.
Samples Both(std::initializer_list<int> mono) {
  Samples out;
  for (const int v : mono) out.insert(out.end(), 2, std::int16_t(v));
  return out;
}

// An MPEG 2 layer III frame: 8 kbit/s, 22050 Hz, mono, 26 bytes, 576 samples. Byte 4 marks it.
Bytes Mp3Frame(std::uint8_t marker) {
  return Cat({{0xFF, 0xF3, 0x10, 0xC0, marker}, Bytes(21, 0)});
}

// Decodes each frame to 576 mono samples of 100 * its marker at 22050 Hz, `delay` frames late
// (Finish gives the rest); marker 0xEE fails.
struct FakeMp3 final : Mp3Decoder {
  FakeMp3(int delay, std::vector<Bytes>* seen) : delay_(delay), seen_(seen) {}
  bool DecodeFrame(std::span<const std::uint8_t> frame, Pcm& out) override {
    seen_->emplace_back(frame.begin(), frame.end());
    if (frame[4] == 0xEE) return false;
    pending_.push_back(frame[4]);
    if (int(pending_.size()) > delay_) Give(1, out);
    return true;
  }
  void Finish(Pcm& out) override { Give(pending_.size(), out); }
  void Give(std::size_t frames, Pcm& out) {
    out.rate = 22050;
    out.channels = 1;
    for (std::size_t i = 0; i < frames; ++i) {
      out.samples.insert(out.samples.end(), 576, std::int16_t(100 * pending_[i]));
    }
    pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(frames));
  }
  int delay_;
  std::vector<Bytes>* seen_;
  std::vector<std::uint8_t> pending_;
};

Mp3DecoderFactory FakeFactory(int delay, std::vector<Bytes>* seen) {
  return [=]() -> std::unique_ptr<Mp3Decoder> { return std::make_unique<FakeMp3>(delay, seen); };
}

TEST(SwfSound, AdpcmDecodesHandComputedSequences) {
  struct Case {
    const char* name;
    Bytes data;
    bool stereo;
    Samples expected;
  };
  // clang-format off
  const std::vector<Case> cases = {
      // 4-bit: 0, step 7. 0111: 7+3+1+(7>>3=0) = 11, index +8 -> 8 (step 16). 0111: 16+8+4+2 =
      // 30 -> 41, index 16 (34). 1111: -(34+17+8+4) = -63 -> -22, index 24 (73). 0000: +(73>>3) =
      // 9 -> -13.
      {"4-bit", PackBits({{2, 2}, {0, 16}, {0, 6}, {7, 4}, {7, 4}, {15, 4}, {0, 4}}), false,
       {0, 11, 41, -22, -13}},
      // 2-bit: 1000, index 10 (19). 01: 19+9 = 28, index 12 (23). 01: 23+11 = 34, index 14 (28).
      // 11: -(28+14) = -42, index 16 (34). 10: -(34>>1) = -17.
      {"2-bit", PackBits({{0, 2}, {1000, 16}, {10, 6}, {1, 2}, {1, 2}, {3, 2}, {2, 2}}), false,
       {1000, 1028, 1062, 1020, 1003}},
      // 3-bit near the bottom: -32000, index 63 (3024). 011: 3024+1512+756 = 5292, index 67
      // (4428). 111: -(4428+2214+1107) clamps to -32768, index 71 (6484). 100: -(6484>>2 = 1621)
      // stays clamped, index 70 (5894). 011: 5894+2947+1473 = 10314 -> -22454, index 74 (8630).
      // 000: +(8630>>2 = 2157) -> -20297.
      {"3-bit clamped", PackBits({{1, 2}, {std::uint16_t(-32000), 16}, {63, 6}, {3, 3}, {7, 3},
                                  {4, 3}, {3, 3}, {0, 3}}), false,
       {-32000, -26708, -32768, -32768, -22454, -20297}},
      // 5-bit: 0, step 7. 01111: 7+3+1+0+(7>>4=0) = 11, index +16 (34). 11000: -(34+(34>>4=2)) =
      // -36 -> -25, index +1 (37). 00000: +(37>>4 = 2) -> -23.
      {"5-bit", PackBits({{3, 2}, {0, 16}, {0, 6}, {15, 5}, {24, 5}, {0, 5}}), false,
       {0, 11, -25, -23}},
      // Stereo, codes interleaved. 0001: +(7>>2 = 1) = 1, index -1 clamps to 0; 1001: -1.
      {"4-bit stereo", PackBits({{2, 2}, {100, 16}, {0, 6}, {std::uint16_t(-100), 16}, {0, 6},
                                 {1, 4}, {9, 4}, {0, 4}, {0, 4}}), true,
       {100, -100, 101, -101, 101, -101}},
      // 3-bit 000 codes: +(7>>2 = 1) each; the 2 bits left in the last byte make no code.
      {"trailing bits", PackBits({{1, 2}, {5, 16}, {0, 6}, {0, 3}, {0, 3}}), false, {5, 6, 7}},
      {"size field only", PackBits({{2, 2}}), false, {}},
      {"empty", {}, false, {}},
      {"header cut short", PackBits({{2, 2}, {5, 12}}), false, {}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AdpcmDecoder decoder(c.data, c.stereo);
    Samples out;
    const std::size_t frames = decoder.Decode(1000, out);
    EXPECT_EQ(out, c.expected);
    EXPECT_EQ(frames, c.expected.size() / (c.stereo ? 2 : 1));
    EXPECT_EQ(AdpcmDecoder::CountFrames(c.data, c.stereo), frames);
    EXPECT_EQ(decoder.Decode(1000, out), 0U);
  }
}

// 2-bit, first packet from 0 at step 7: each 00 code adds 7>>1 = 3 (the index stays at 0).
// The second packet restarts at 5 with index 0: 01 adds 7+3 = 10 and moves the index to 2
// (step 9), then 00 adds 9>>1 = 4: 0, 3, 6, ..., 12285, 5, 15, 19.
Bytes TwoPacketAdpcm() {
  return Cat({PackBits({{0, 2}, {0, 16}, {0, 6}}), Bytes(4092 * 2 / 8, 0),
              PackBits({{0, 2}, {0, 2}, {0, 2}, {5, 16}, {0, 6}, {1, 2}, {0, 2}})});
}

TEST(SwfSound, AdpcmPacketsOf4096Samples) {
  const Bytes data = TwoPacketAdpcm();
  AdpcmDecoder decoder(data, false);
  Samples out;
  while (decoder.Decode(1000, out) > 0) {  // pieces that don't line up with packets
  }
  ASSERT_EQ(out.size(), 4099U);
  EXPECT_EQ((Samples{out[1], out[4095], out[4096], out[4097], out[4098]}),
            (Samples{3, 3 * 4095, 5, 15, 19}));
  EXPECT_EQ(AdpcmDecoder::CountFrames(data, false), 4099U);
  // Skipping jumps the whole first packet and decodes into the second.
  for (const std::size_t skip : {4096U, 4097U, 5000U, 10U}) {
    AdpcmDecoder skipping(data, false);
    const std::size_t skipped = skipping.Skip(skip);
    EXPECT_EQ(skipped, std::min<std::size_t>(skip, 4099));
    Samples rest;
    EXPECT_EQ(skipping.Decode(1, rest), skipped < 4099 ? 1U : 0U);
    if (!rest.empty()) {
      EXPECT_EQ(rest[0], out[skipped]);
    }
  }
}

TEST(SwfSound, PcmDecodes8And16Bit) {
  struct Case {
    SoundFormat format;
    Bytes data;
    Samples expected;
  };
  const std::vector<Case> cases = {
      {{3, 3, false, false}, {0x80, 0xFF, 0x00, 0x81}, {0, 32512, -32768, 256}},
      {{3, 3, true, true},
       {0x01, 0x00, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x7F},
       {1, -1, -32768, 32767}},
      {{0, 1, true, false}, {0x34, 0x12}, {0x1234}},      // native order read as little-endian
      {{3, 1, true, false}, {0x01, 0x00, 0x02}, {1}},     // an odd byte dropped
      {{3, 1, false, true}, {0x80, 0x80, 0x90}, {0, 0}},  // half a stereo frame dropped
  };
  for (const auto& c : cases) {
    Pcm pcm;
    DecodePcm(c.format, c.data, 100, pcm);
    EXPECT_EQ(pcm.samples, c.expected);
    EXPECT_EQ(pcm.channels, c.format.stereo ? 2 : 1);
    EXPECT_EQ(pcm.rate, c.format.Rate());
  }
}

TEST(SwfSound, ReadsTagBodies) {
  // SoundStreamHead2: playback 44 kHz 16-bit stereo; stream MP3 22 kHz 16-bit mono; 1152; -300.
  const Bytes head = Cat({{0x0F, 0x2A}, Le({{1152, 2}, {std::uint16_t(-300), 2}})});
  EXPECT_EQ(ReadSoundStreamHead(head),
            (SoundStreamHead{{0, 3, true, true}, {2, 2, true, false}, 1152, -300}));
  EXPECT_EQ(ReadSoundStreamHead(Bytes(head.begin(), head.begin() + 4))->latency_seek, 0);

  // DefineSound, MP3: the seek field is taken off the data.
  EXPECT_EQ(ReadDefineSound(SoundBody(7, 2, 3, true, 123456, {0x40, 0x02, 0xAB})),
            (SoundDefinition{7, {2, 3, true, true}, 123456, 576, {0xAB}}));
  EXPECT_EQ(ReadDefineSound(SoundBody(1, 0, 0, false, 1, {}))->format.Rate(), 5512.5);

  // StartSound with everything: in 10, out 20, 3 loops, two envelope points.
  const Bytes start = Le({{9, 2},
                          {0x3F, 1},
                          {10, 4},
                          {20, 4},
                          {3, 2},
                          {2, 1},
                          {0, 4},
                          {32768, 2},
                          {0, 2},
                          {100, 4},
                          {0, 2},
                          {32768, 2}});
  SoundInfo info{true, true, 10, 20, 3, {{0, 32768, 0}, {100, 0, 32768}}};
  EXPECT_EQ(ReadStartSound(TagCode::StartSound, start), (SoundStart{9, "", false, info}));
  // StartSound2: a class name, loops 0 (plays once).
  EXPECT_EQ(ReadStartSound(TagCode::StartSound2, Bytes{'S', 'n', 'd', 0, 0x04, 0, 0}),
            (SoundStart{0, "Snd", true, {}}));

  const auto block = ReadMp3StreamBlock(Bytes{0x40, 0x02, 0xFF, 0xFF, 0x11});
  ASSERT_TRUE(block);
  EXPECT_EQ(block->sample_count, 576);
  EXPECT_EQ(block->seek_samples, -1);
  EXPECT_EQ(block->frames.size(), 1U);
}

TEST(SwfSound, ShortBodiesAndHostileCounts) {
  struct Case {
    TagCode code;
    Bytes body;
    bool parses;
  };
  const std::vector<Case> cases = {
      {TagCode::StartSound, {1, 0, 0x01, 0, 0}, false},  // in point flag, field cut
      {TagCode::StartSound, {1, 0, 0x02, 0, 0, 0}, false},
      {TagCode::StartSound, {1, 0, 0x04, 3}, false},
      {TagCode::StartSound, {1, 0}, false},
      {TagCode::StartSound2, {'a', 'b'}, false},  // class name unterminated
      {TagCode::DefineSound, {1, 0, 0x3E, 0, 0, 0}, false},
      {TagCode::DefineSound, SoundBody(7, 2, 3, true, 1, {0x01}), false},  // MP3 without its seek
      {TagCode::SoundStreamHead, {0x0F, 0x2A, 0x80}, false},
      {TagCode::SoundStreamBlock, {0x40, 0x02, 0xFF}, false},
      {TagCode::StartSound, {}, false},
      {TagCode::DefineSound, {}, false},
  };
  for (const auto& c : cases) {
    const bool parsed =
        c.code == TagCode::DefineSound        ? ReadDefineSound(c.body).has_value()
        : c.code == TagCode::SoundStreamHead  ? ReadSoundStreamHead(c.body).has_value()
        : c.code == TagCode::SoundStreamBlock ? ReadMp3StreamBlock(c.body).has_value()
                                              : ReadStartSound(c.code, c.body).has_value();
    EXPECT_EQ(parsed, c.parses) << ::testing::PrintToString(c.body);
  }
  // An envelope claiming 255 points with one there keeps that one.
  const Bytes envelope = {1, 0, 0x08, 255, 0, 0, 0, 0, 0, 0x80, 0, 0x80, 1, 2, 3};
  EXPECT_EQ(ReadStartSound(TagCode::StartSound, envelope)->info.envelope.size(), 1U);

  // Random bodies through every reader and the mixer: nothing read out of bounds (ASan).
  std::uint32_t seed = 12345;
  const auto next = [&] { return seed = seed * 1664525U + 1013904223U; };
  for (int round = 0; round < 300; ++round) {
    Bytes body(next() % 64);
    for (auto& b : body) b = std::uint8_t(next() >> 24);
    SoundMixer m;
    if (auto d = ReadDefineSound(body)) {
      const auto id = d->id;
      m.DefineSound(std::move(*d));
      m.StartSound({.id = id});
    }
    if (auto s = ReadStartSound(round % 2 ? TagCode::StartSound : TagCode::StartSound2, body)) {
      m.StartSound(*s);
    }
    if (const auto h = ReadSoundStreamHead(body)) {
      m.StartStream(*h);
      m.QueueStreamBlock(body, round);
    }
    Mix(m, 300);
    (void)m.Stream();
  }
}

// Event sounds, 16-bit PCM unless a row says otherwise: what comes out of the mix.
TEST(SwfSound, MixesEventSounds) {
  struct Case {
    const char* name;
    std::vector<Bytes> sounds;
    std::vector<SoundStart> starts;
    Samples expected;  // then the sounds have ended
  };
  const Bytes ramp = Sound(1, 3, {10, 20, 30, 40, 50});
  const Bytes ten = Sound(2, 3, {10000});
  const SoundInfo three_loops = {.loops = 3};
  // clang-format off
  const std::vector<Case> cases = {
      {"44 kHz mono on both channels", {ramp}, {{.id = 1}}, Both({10, 20, 30, 40, 50, 0})},
      {"11 kHz: four outputs a sample, the last held", {Sound(1, 1, {0, 400, 800})}, {{.id = 1}},
       Both({0, 100, 200, 300, 400, 500, 600, 700, 800, 800, 800, 800, 0})},
      {"5.5 kHz: eight", {Sound(1, 0, {0, 800})}, {{.id = 1}},
       Both({0, 100, 200, 300, 400, 500, 600, 700, 800, 800, 800, 800, 800, 800, 800, 800, 0})},
      {"22 kHz stereo", {Sound(1, 2, {0, 1000, 200, -1000}, true)}, {{.id = 1}},
       {0, 1000, 100, 0, 200, -1000, 200, -1000, 0, 0}},
      {"sum", {ramp, Sound(2, 3, {-300})}, {{.id = 1}, {.id = 2}}, Both({-290, 20, 30, 40, 50, 0})},
      {"clipped high", {Sound(1, 3, {30000}), ten}, {{.id = 1}, {.id = 2}}, Both({32767, 0})},
      {"clipped low", {Sound(1, 3, {-30000}), Sound(2, 3, {-10000})}, {{.id = 1}, {.id = 2}},
       Both({-32768, 0})},
      {"three loops", {ramp}, {{.id = 1, .info = three_loops}},
       Both({10, 20, 30, 40, 50, 10, 20, 30, 40, 50, 10, 20, 30, 40, 50, 0})},
      {"two instances add", {ramp}, {{.id = 1}, {.id = 1}}, Both({20, 40, 60, 80, 100, 0})},
      {"no multiple", {ramp}, {{.id = 1}, {.id = 1, .info = {.no_multiple = true}}},
       Both({10, 20, 30, 40, 50, 0})},
      {"stop", {ramp}, {{.id = 1, .info = three_loops}, {.id = 1, .info = {.stop = true}}},
       Both({0})},
      {"in and out points, looped", {ramp},
       {{.id = 1, .info = {.in_point = 1, .out_point = 3, .loops = 2}}}, Both({20, 30, 20, 30, 0})},
      // Left fades out over 4 samples, right is silent throughout.
      {"envelope", {ramp}, {{.id = 1, .info = {.envelope = {{0, 32768, 0}, {4, 0, 0}}}}},
       {10, 0, 15, 0, 15, 0, 10, 0, 0, 0, 0, 0}},
      {"four billion samples claimed, two there",
       {SoundBody(1, 3, 3, false, 0xFFFFFFFF, Pcm16({1000, 2000}))}, {{.id = 1}},
       Both({1000, 2000, 0})},
      {"ADPCM without a packet", {SoundBody(1, 1, 3, true, 0xFFFFFFFF, PackBits({{2, 2}}))},
       {{.id = 1}}, Both({0})},
      {"65535 loops of nothing", {SoundBody(1, 3, 3, false, 9, {0x01})},
       {{.id = 1, .info = {.loops = 65535}}}, Both({0})},
      {"unknown id, class name", {ramp}, {{.id = 5}, {.class_name = "A", .by_class_name = true}},
       Both({0})},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SoundMixer mixer;
    for (const auto& s : c.sounds) Define(mixer, s);
    for (const auto& s : c.starts) mixer.StartSound(s);
    EXPECT_EQ(Mix(mixer, c.expected.size() / 2), c.expected);
    EXPECT_EQ(mixer.ActiveSounds(), 0U);
    EXPECT_EQ(mixer.OutputSamples(), c.expected.size() / 2);
  }
  SoundMixer mixer;
  Define(mixer, ramp);
  for (int i = 0; i < 1000; ++i) mixer.StartSound({.id = 1});
  EXPECT_EQ(mixer.ActiveSounds(), SoundMixer::kMaxVoices);
  mixer.StopAllSounds();
  EXPECT_EQ(mixer.ActiveSounds(), 0U);
}

// In points far into a sound are reached without decoding what lies before them where the
// format allows, so a sound looped 65535 times from just before its end costs little per loop.
TEST(SwfSound, InPointsSkipAhead) {
  Bytes long_pcm(std::size_t(2 * 4'000'000), 0);
  long_pcm[long_pcm.size() - 2] = 77;
  const std::vector<std::tuple<Bytes, std::uint32_t, Samples>> cases = {
      {SoundBody(1, 1, 3, false, 4099, TwoPacketAdpcm()), 4097, {15, 19, 15, 19}},
      {SoundBody(1, 3, 3, false, 4'000'000, long_pcm), 3'999'999, {77, 77, 77, 77}},
  };
  for (const auto& [body, in44, left] : cases) {
    SoundMixer mixer;
    Define(mixer, body);
    mixer.StartSound({.id = 1, .info = {.in_point = in44, .loops = 65535}});
    EXPECT_EQ(Left(Mix(mixer, 4)), left);
    Mix(mixer, 44100);  // a second of loops
    EXPECT_EQ(mixer.ActiveSounds(), 1U);
  }
  // MP3 at 22050 Hz: 1738 samples in (3476 at 44.1 kHz) skips frame 1 by its header; frames 2
  // and 3 and 10 samples of frame 4 are decoded and dropped, in each loop: 566 samples a loop.
  std::vector<Bytes> seen;
  SoundMixer mixer(FakeFactory(0, &seen));
  Define(mixer, SoundBody(1, 2, 2, false, 5 * 576,
                          Cat({{0, 0}, Mp3Frame(1), Mp3Frame(2), Mp3Frame(3), Mp3Frame(4)})));
  mixer.StartSound({.id = 1, .info = {.in_point = 3476, .loops = 2}});
  const Samples out = Left(Mix(mixer, 2 * 1132 + 1));
  EXPECT_EQ((Samples{out[0], out[1132], out[2263], out[2264]}), (Samples{400, 400, 400, 0}));
  Bytes markers;
  for (const auto& frame : seen) markers.push_back(frame[4]);
  EXPECT_EQ(markers, (Bytes{2, 3, 4, 2, 3, 4}));
}

SoundStreamHead PcmStreamHead(int rate_code) {
  return {.stream = {3, std::uint8_t(rate_code), true, false}};
}

TEST(SwfSound, StreamPositionFollowsTheOutput) {
  SoundMixer mixer;
  EXPECT_FALSE(mixer.Stream().active);
  EXPECT_FALSE(mixer.QueueStreamBlock(Pcm16({1}), 0));
  mixer.StartStream(PcmStreamHead(1));  // 11025 Hz: four outputs per block sample
  ASSERT_TRUE(mixer.QueueStreamBlock(Pcm16({0, 400, 800, 1200}), 10));
  ASSERT_TRUE(mixer.QueueStreamBlock(Pcm16({1600, 2000, 2400, 2800}), 11));
  EXPECT_FALSE(mixer.QueueStreamBlock({}, 12));
  EXPECT_TRUE(mixer.Stream().active);
  EXPECT_EQ(mixer.Stream().queued_blocks, 2U);

  struct Step {
    std::size_t mix;
    bool playing;
    std::int64_t frame;
    double fraction;
    std::uint64_t played;
    std::uint64_t queued;
  };
  const std::vector<Step> steps = {
      {0, false, -1, 0, 0, 32},   // nothing played yet
      {8, true, 10, 0.5, 8, 24},  // halfway through the first block
      {8, true, 10, 1.0, 16, 16},     {1, true, 11, 0.0625, 17, 15},
      {20, false, 11, 0.8125, 29, 3},  // starved: three outputs wait for the next sample
  };
  Samples all;
  for (const auto& step : steps) {
    const Samples out = Left(Mix(mixer, step.mix));
    all.insert(all.end(), out.begin(), out.end());
    const StreamState s = mixer.Stream();
    SCOPED_TRACE(s.played_samples);
    EXPECT_EQ(s.playing, step.playing);
    EXPECT_EQ(s.frame, step.frame);
    EXPECT_DOUBLE_EQ(s.block_fraction, step.fraction);
    EXPECT_EQ(s.played_samples, step.played);
    EXPECT_EQ(s.queued_samples, step.queued);
  }
  for (std::size_t i = 0; i < all.size(); ++i)
    EXPECT_EQ(all[i], std::int16_t(i < 29 ? 100 * i : 0)) << i;

  // A late block: the stream goes on from where it waited, interpolating into it.
  ASSERT_TRUE(mixer.QueueStreamBlock(Pcm16({3200}), 12));
  EXPECT_EQ(Left(Mix(mixer, 5)), (Samples{2900, 3000, 3100, 3200, 0}));
  EXPECT_EQ(mixer.Stream().frame, 12);
  mixer.StopStream();
  EXPECT_FALSE(mixer.Stream().active);
  EXPECT_EQ(Mix(mixer, 2), Both({0, 0}));

  // ADPCM blocks are whole ADPCM sounds each (see the 4-bit row above).
  mixer.StartStream({.stream = {1, 3, true, false}});
  ASSERT_TRUE(mixer.QueueStreamBlock(PackBits({{2, 2}, {0, 16}, {0, 6}, {7, 4}, {7, 4}}), 1));
  ASSERT_TRUE(mixer.QueueStreamBlock(PackBits({{2, 2}, {500, 16}, {0, 6}}), 2));
  EXPECT_EQ(mixer.Stream().queued_samples, 4U);
  EXPECT_EQ(Left(Mix(mixer, 5)), (Samples{0, 11, 41, 500, 0}));
}

TEST(SwfSound, StreamQueueIsBounded) {
  SoundMixer mixer;
  mixer.StartStream(PcmStreamHead(3));
  // One block of 61 s is cut to the 60 s the queue holds; then the queue is full.
  ASSERT_TRUE(mixer.QueueStreamBlock(Bytes(std::size_t(2 * 44100 * 61), 0), 1));
  EXPECT_EQ(mixer.Stream().queued_samples,
            std::uint64_t(44100 * SoundMixer::kMaxStreamQueueSeconds));
  EXPECT_FALSE(mixer.QueueStreamBlock(Pcm16({1}), 2));
  mixer.StartStream(PcmStreamHead(3));
  std::size_t accepted = 0;
  while (accepted < 100000 && mixer.QueueStreamBlock(Pcm16({1}), 0)) ++accepted;
  EXPECT_EQ(accepted, SoundMixer::kMaxStreamBlocks);
  mixer.StartStream({.stream = {std::uint8_t(SoundCodec::Speex), 3, true, false}});
  EXPECT_FALSE(mixer.QueueStreamBlock(Pcm16({1, 2, 3}), 0));
}

TEST(SwfSound, Mp3FrameHeaders) {
  const auto h = ReadMp3FrameHeader(Mp3Frame(1));
  ASSERT_TRUE(h);
  EXPECT_EQ((std::vector{h->rate, h->channels, h->samples_per_frame, int(h->size)}),
            (std::vector{22050, 1, 576, 26}));
  const auto mpeg1 = ReadMp3FrameHeader(Bytes{0xFF, 0xFB, 0x92, 0x00});  // 128k, 44.1k, padded
  ASSERT_TRUE(mpeg1);
  EXPECT_EQ((std::vector{mpeg1->rate, mpeg1->channels, mpeg1->samples_per_frame, int(mpeg1->size)}),
            (std::vector{44100, 2, 1152, 418}));
  EXPECT_FALSE(ReadMp3FrameHeader(Bytes{0xFF, 0xFB, 0x00, 0x00}));  // free format
  EXPECT_FALSE(ReadMp3FrameHeader(Bytes{0xFF, 0xFD, 0x90, 0x00}));  // layer II
  EXPECT_FALSE(ReadMp3FrameHeader(Bytes{0xFF, 0xFB, 0x9C, 0x00}));  // reserved rate
  EXPECT_FALSE(ReadMp3FrameHeader(Bytes{0xFF, 0xFB, 0x90}));
}

TEST(SwfSound, Mp3ThroughThePlatformDecoder) {
  struct Case {
    const char* name;
    int delay;
    std::uint16_t seek;
    std::uint32_t count;
    Bytes frames;
    std::size_t frames_seen;
    Samples expected_at;  // left outputs 0, 951, 952, 1999, 2000
  };
  const Bytes third = Mp3Frame(3);
  const Bytes cut(third.begin(), third.begin() + 10);
  const Bytes two_frames = Cat({Mp3Frame(1), Mp3Frame(2)});
  // 576 of 100 and 576 of 200 at 22050 Hz, 100 skipped, 1000 kept: 476 of 100, 524 of 200, each
  // source sample two outputs, 150 between them.
  const Samples played = {100, 150, 200, 200, 0};
  const std::vector<Case> cases = {
      {"two frames", 0, 100, 1000, two_frames, 2, played},
      {"junk between frames skipped", 0, 100, 1000,
       Cat({Mp3Frame(1), {0x12, 0xFF, 0x00}, Mp3Frame(2)}), 2, played},
      {"decoder delay, the rest at the end", 1, 100, 1000, two_frames, 2, played},
      {"a cut last frame not fed", 0, 100, 1000, Cat({two_frames, cut}), 2, played},
      // clang-format off
      {"decoder failure ends the sound", 0, 0, 100000,
       Cat({Mp3Frame(1), Mp3Frame(0xEE), Mp3Frame(2)}), 2, {100, 100, 100, 0, 0}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Bytes> seen;
    SoundMixer mixer(FakeFactory(c.delay, &seen));
    Define(mixer, SoundBody(4, 2, 2, false, c.count, Cat({Le({{c.seek, 2}}), c.frames})));
    mixer.StartSound({.id = 4});
    const Samples out = Left(Mix(mixer, 2100));
    EXPECT_EQ((Samples{out[0], out[951], out[952], out[1999], out[2000]}), c.expected_at);
    EXPECT_EQ(seen.size(), c.frames_seen);
    for (const auto& f : seen) EXPECT_EQ(f.size(), 26U);
  }

  // The stream: one decoder across blocks, decoded as the output needs it.
  std::vector<Bytes> seen;
  SoundMixer mixer(FakeFactory(0, &seen));
  mixer.StartStream({.stream = {2, 2, true, false}});
  for (std::uint8_t f = 1; f <= 3; ++f) {  // 576 samples, no seek, a stray byte left out
    ASSERT_TRUE(mixer.QueueStreamBlock(Cat({{0x40, 0x02, 0, 0}, Mp3Frame(f), {0x77}}), f));
  }
  EXPECT_EQ(mixer.Stream().queued_samples, 3U * 1152);
  const Samples out = Left(Mix(mixer, 1152 + 10));
  EXPECT_EQ((Samples{out[0], out[1151], out[1152]}), (Samples{100, 150, 200}));
  EXPECT_TRUE(mixer.Stream().playing);
  EXPECT_EQ(mixer.Stream().frame, 2);
  EXPECT_EQ(seen.size(), 2U);

  // Without a platform decoder MP3 is silent.
  SoundMixer silent;
  Define(silent, SoundBody(4, 2, 2, false, 576, Cat({{0, 0}, Mp3Frame(1)})));
  silent.StartSound({.id = 4});
  EXPECT_EQ(silent.ActiveSounds(), 0U);
  silent.StartStream({.stream = {2, 2, true, false}});
  EXPECT_FALSE(silent.QueueStreamBlock(Cat({{0x40, 0x02, 0, 0}, Mp3Frame(1)}), 0));
}

// The platform's audio thread mixes while the player's thread starts sounds and queues blocks
// (run under the thread sanitizer in the linux-tsan preset).
TEST(SwfSound, MixesOnAnotherThread) {
  SoundMixer mixer;
  Define(mixer, Sound(1, 1, {1, 2, 3, 4}));
  mixer.StartStream(PcmStreamHead(2));
  std::thread audio([&] {
    for (int i = 0; i < 200; ++i) Mix(mixer, 64);
  });
  for (int i = 0; i < 200; ++i) {
    mixer.StartSound({.id = 1});
    mixer.QueueStreamBlock(Pcm16({5, 6}), i);
    (void)mixer.Stream();
  }
  audio.join();
  EXPECT_EQ(mixer.OutputSamples(), 200U * 64);
}

}  // namespace
}  // namespace swf
