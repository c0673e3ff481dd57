// The sound core: tag bodies, ADPCM and PCM decoding, the MP3 path through a fake decoder,
// resampling and mixing, the stream sound's position, and hostile counts.
// The ADPCM sequences are worked out by hand from the format's definition (see each row).

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "swf/sound.h"
#include "swf/sound_mixer.h"

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
      out.back() = std::uint8_t(out.back() | (((value >> i) & 1U) << (7 - used)));
      ++used;
    }
  }
  return out;
}

void Le16(Bytes& b, int v) {
  b.push_back(std::uint8_t(v & 0xFF));
  b.push_back(std::uint8_t((v >> 8) & 0xFF));
}
void Le32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(v >> (8 * i)));
}

// A DefineSound body. format byte: codec << 4 | rate << 2 | 16-bit << 1 | stereo.
Bytes DefineSoundBody(int id, int codec, int rate, bool sixteen, bool stereo, std::uint32_t count,
                      const Bytes& data) {
  Bytes b;
  Le16(b, id);
  b.push_back(std::uint8_t(codec << 4 | rate << 2 | (sixteen ? 2 : 0) | (stereo ? 1 : 0)));
  Le32(b, count);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

Bytes Pcm16(std::initializer_list<int> values) {
  Bytes b;
  for (const int v : values) Le16(b, v);
  return b;
}

SoundDefinition Define(const Bytes& body) {
  auto sound = ReadDefineSound(body);
  EXPECT_TRUE(sound.has_value());
  return sound.value_or(SoundDefinition{});
}

SoundStart Start(int id, SoundInfo info = {}) {
  SoundStart s;
  s.id = std::uint16_t(id);
  s.info = std::move(info);
  return s;
}

// Mixes `frames` stereo frames.
Samples MixFrames(SoundMixer& mixer, std::size_t frames) {
  Samples out(2 * frames);
  mixer.Mix(out);
  return out;
}

// The left channel only.
Samples Left(const Samples& stereo) {
  Samples left;
  for (std::size_t i = 0; i < stereo.size(); i += 2) left.push_back(stereo[i]);
  return left;
}

// ---- ADPCM
// ---------------------------------------------------------------------------------------

struct AdpcmCase {
  const char* name;
  Bytes data;
  bool stereo;
  Samples expected;
};

TEST(SwfSound, AdpcmDecodesHandComputedSequences) {
  const std::vector<AdpcmCase> cases = {
      // 4-bit: 0, step 7. 0111: 7+3+1+(7>>3=0) = 11, index +8 -> 8 (step 16). 0111: 16+8+4+2 =
      // 30 -> 41, index 16 (34). 1111: -(34+17+8+4) = -63 -> -22, index 24 (73). 0000: +(73>>3) =
      // 9 -> -13.
      {"4-bit mono",
       PackBits({{2, 2}, {0, 16}, {0, 6}, {0x7, 4}, {0x7, 4}, {0xF, 4}, {0x0, 4}}),
       false,
       {0, 11, 41, -22, -13}},
      // 2-bit: 1000, index 10 (19). 01: 19+9 = 28, index 12 (23). 01: 23+11 = 34, index 14 (28).
      // 11: -(28+14) = -42, index 16 (34). 10: -(34>>1) = -17.
      {"2-bit mono",
       PackBits({{0, 2}, {1000, 16}, {10, 6}, {1, 2}, {1, 2}, {3, 2}, {2, 2}}),
       false,
       {1000, 1028, 1062, 1020, 1003}},
      // 3-bit, near the bottom: -32000, index 63 (3024). 011: 3024+1512+756 = 5292, index 67
      // (4428). 111: -(4428+2214+1107) clamps to -32768, index 71 (6484). 100: -(6484>>2 = 1621)
      // stays clamped, index 70 (5894). 011: 5894+2947+1473 = 10314 -> -22454, index 74 (8630).
      // 000: +(8630>>2 = 2157) -> -20297.
      {"3-bit clamped",
       PackBits(
           {{1, 2}, {std::uint16_t(-32000), 16}, {63, 6}, {3, 3}, {7, 3}, {4, 3}, {3, 3}, {0, 3}}),
       false,
       {-32000, -26708, -32768, -32768, -22454, -20297}},
      // 5-bit: 0, step 7. 01111: 7+3+1+0+(7>>4=0) = 11, index +16 (34). 11000: -(34+(34>>4=2)) =
      // -36 -> -25, index +1 (37). 00000: +(37>>4 = 2) -> -23.
      {"5-bit mono",
       PackBits({{3, 2}, {0, 16}, {0, 6}, {15, 5}, {24, 5}, {0, 5}}),
       false,
       {0, 11, -25, -23}},
      // Stereo 4-bit, codes interleaved left, right. 0001: +(1 of 7>>2 = 1) +0 = 1; index -1
      // clamps to 0; 1001: -1. 0000: +(7>>3 = 0).
      {"4-bit stereo",
       PackBits({{2, 2},
                 {100, 16},
                 {0, 6},
                 {std::uint16_t(-100), 16},
                 {0, 6},
                 {1, 4},
                 {9, 4},
                 {0, 4},
                 {0, 4}}),
       true,
       {100, -100, 101, -101, 101, -101}},
      // 3-bit, two 000 codes: +(7>>2 = 1) each. The 2 bits left in the last byte can't make a
      // code and are ignored.
      {"trailing bits", PackBits({{1, 2}, {5, 16}, {0, 6}, {0, 3}, {0, 3}}), false, {5, 6, 7}},
      {"size field only", PackBits({{2, 2}}), false, {}},
      {"empty", {}, false, {}},
      {"header cut short", PackBits({{2, 2}, {5, 12}}), false, {}},
  };
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

TEST(SwfSound, AdpcmStartsANewPacketEvery4096Samples) {
  // 2-bit, first packet from 0 at step 7: each 00 code adds 7>>1 = 3 (the index stays at 0).
  // The second packet restarts at 5 with index 0: 01 adds 7+3 = 10.
  Bytes data = PackBits({{0, 2}, {0, 16}, {0, 6}});
  // 4095 zero codes of 2 bits: data is 24 bits so far, byte-aligned.
  data.insert(data.end(), 4095 * 2 / 8, 0);  // 4092 codes
  // Then 01 moves the index to 2 (step 9), and 00 adds 9>>1 = 4.
  const Bytes tail = PackBits({{0, 2}, {0, 2}, {0, 2}, {5, 16}, {0, 6}, {1, 2}, {0, 2}});
  data.insert(data.end(), tail.begin(), tail.end());
  AdpcmDecoder decoder(data, false);
  Samples out;
  // Decoded in pieces that don't line up with packets.
  while (decoder.Decode(1000, out) > 0) {
  }
  ASSERT_EQ(out.size(), 4099U);
  EXPECT_EQ(out[1], 3);
  EXPECT_EQ(out[4095], 3 * 4095);
  EXPECT_EQ(out[4096], 5);
  EXPECT_EQ(out[4097], 15);
  EXPECT_EQ(out[4098], 19);
  EXPECT_EQ(AdpcmDecoder::CountFrames(data, false), 4099U);
}

// ---- PCM
// -----------------------------------------------------------------------------------------

struct PcmCase {
  const char* name;
  SoundFormat format;
  Bytes data;
  Samples expected;
  int channels;
};

TEST(SwfSound, PcmDecodes8And16Bit) {
  const std::vector<PcmCase> cases = {
      {"8-bit unsigned",
       {3, 3, false, false},
       {0x80, 0xFF, 0x00, 0x81},
       {0, 32512, -32768, 256},
       1},
      {"16-bit little-endian stereo",
       {3, 3, true, true},
       {0x01, 0x00, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x7F},
       {1, -1, -32768, 32767},
       2},
      {"native order is read as little-endian", {0, 1, true, false}, {0x34, 0x12}, {0x1234}, 1},
      {"odd byte of 16-bit dropped", {3, 1, true, false}, {0x01, 0x00, 0x02}, {1}, 1},
      {"half a stereo frame dropped", {3, 1, false, true}, {0x80, 0x80, 0x90}, {0, 0}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pcm pcm;
    DecodePcm(c.format, c.data, 100, pcm);
    EXPECT_EQ(pcm.samples, c.expected);
    EXPECT_EQ(pcm.channels, c.channels);
    EXPECT_EQ(pcm.rate, c.format.Rate());
  }
  Pcm capped;
  DecodePcm({3, 3, false, false}, Bytes{0x80, 0x80, 0x80}, 2, capped);
  EXPECT_EQ(capped.samples.size(), 2U);
}

// ---- Tags
// ----------------------------------------------------------------------------------------

TEST(SwfSound, ReadsTagBodies) {
  // SoundStreamHead2: playback 44 kHz 16-bit stereo; stream MP3 22 kHz 16-bit mono; 1152; -300.
  Bytes head = {0x0F, 0x2A};
  Le16(head, 1152);
  Le16(head, -300);
  const auto h = ReadSoundStreamHead(head);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->playback.rateCode, 3);
  EXPECT_TRUE(h->playback.stereo);
  EXPECT_EQ(h->stream.codec, 2);
  EXPECT_EQ(h->stream.rateCode, 2);
  EXPECT_TRUE(h->stream.sixteenBit);
  EXPECT_FALSE(h->stream.stereo);
  EXPECT_EQ(h->samplesPerBlock, 1152);
  EXPECT_EQ(h->latencySeek, -300);
  EXPECT_EQ(ReadSoundStreamHead(Bytes(head.begin(), head.begin() + 4))->latencySeek, 0);
  EXPECT_FALSE(ReadSoundStreamHead(Bytes{0x0F, 0x2A, 0x80}));

  // DefineSound, MP3: the seek field is taken off the data.
  Bytes mp3Data;
  Le16(mp3Data, 576);
  mp3Data.push_back(0xAB);
  const auto d = ReadDefineSound(DefineSoundBody(7, 2, 3, true, true, 123456, mp3Data));
  ASSERT_TRUE(d);
  EXPECT_EQ(d->id, 7);
  EXPECT_EQ(d->format.codec, 2);
  EXPECT_EQ(d->format.Rate(), 44100);
  EXPECT_TRUE(d->format.stereo);
  EXPECT_EQ(d->sampleCount, 123456U);
  EXPECT_EQ(d->seekSamples, 576);
  EXPECT_EQ(d->data, Bytes{0xAB});
  EXPECT_EQ(ReadDefineSound(DefineSoundBody(1, 0, 0, false, false, 1, {}))->format.Rate(), 5512.5);
  EXPECT_FALSE(ReadDefineSound(DefineSoundBody(7, 2, 3, true, true, 1, {0x01})));  // no seek
  EXPECT_FALSE(ReadDefineSound(Bytes{1, 0, 0x3E, 0, 0, 0}));

  // StartSound with everything: in 10, out 20, 3 loops, two envelope points.
  Bytes start;
  Le16(start, 9);
  start.push_back(0x3F);
  Le32(start, 10);
  Le32(start, 20);
  Le16(start, 3);
  start.push_back(2);
  for (const std::uint32_t pos : {0U, 100U}) {
    Le32(start, pos);
    Le16(start, 32768);
    Le16(start, 0);
  }
  const auto s = ReadStartSound(kTagStartSound, start);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->id, 9);
  EXPECT_TRUE(s->info.stop);
  EXPECT_TRUE(s->info.noMultiple);
  EXPECT_EQ(s->info.inPoint, 10U);
  EXPECT_EQ(s->info.outPoint, 20U);
  EXPECT_EQ(s->info.loops, 3);
  ASSERT_EQ(s->info.envelope.size(), 2U);
  EXPECT_EQ(s->info.envelope[1].pos44, 100U);
  EXPECT_EQ(s->info.envelope[1].left, 32768);
  EXPECT_EQ(s->info.envelope[1].right, 0);

  const Bytes start2 = {'S', 'n', 'd', 0, 0x04, 0, 0};  // class name, loops 0 (plays once)
  const auto s2 = ReadStartSound(kTagStartSound2, start2);
  ASSERT_TRUE(s2);
  EXPECT_TRUE(s2->byClassName);
  EXPECT_EQ(s2->className, "Snd");
  EXPECT_EQ(s2->info.loops, 1);
  EXPECT_FALSE(ReadStartSound(kTagDefineSound, start2));

  const auto block = ReadMp3StreamBlock(Bytes{0x40, 0x02, 0xFF, 0xFF, 0x11});
  ASSERT_TRUE(block);
  EXPECT_EQ(block->sampleCount, 576);
  EXPECT_EQ(block->seekSamples, -1);
  EXPECT_EQ(block->frames.size(), 1U);
}

TEST(SwfSound, HostileCountsNeverReadBeyondTheBody) {
  struct Case {
    const char* name;
    int code;
    Bytes body;
    bool parses;
    std::size_t envelopePoints;
  };
  const std::vector<Case> cases = {
      {"in point flag, no field", kTagStartSound, {1, 0, 0x01, 0, 0}, false, 0},
      {"out point cut", kTagStartSound, {1, 0, 0x02, 0, 0, 0}, false, 0},
      {"loops cut", kTagStartSound, {1, 0, 0x04, 3}, false, 0},
      {"255 points claimed, one there",
       kTagStartSound,
       {1, 0, 0x08, 255, 0, 0, 0, 0, 0, 0x80, 0, 0x80, 1, 2, 3},
       true,
       1},
      {"no flags byte", kTagStartSound, {1, 0}, false, 0},
      {"class name unterminated", kTagStartSound2, {'a', 'b'}, false, 0},
      {"empty", kTagStartSound, {}, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto s = ReadStartSound(c.code, c.body);
    EXPECT_EQ(s.has_value(), c.parses);
    if (s) {
      EXPECT_EQ(s->info.envelope.size(), c.envelopePoints);
    }
  }
  for (std::size_t n = 0; n < 4; ++n) {
    EXPECT_FALSE(ReadSoundStreamHead(Bytes(n, 0xFF)));
    EXPECT_FALSE(ReadMp3StreamBlock(Bytes(n, 0xFF)));
  }

  // Sounds claiming four billion samples play what their data holds and end.
  SoundMixer mixer;
  mixer.DefineSound(Define(DefineSoundBody(1, 3, 3, true, false, 0xFFFFFFFF, Pcm16({1000, 2000}))));
  mixer.DefineSound(Define(DefineSoundBody(2, 1, 3, true, true, 0xFFFFFFFF, PackBits({{2, 2}}))));
  mixer.DefineSound(Define(DefineSoundBody(3, 3, 3, true, false, 0xFFFFFFFF, {0x01})));
  SoundInfo forever;
  forever.loops = 65535;
  for (int id = 1; id <= 3; ++id) mixer.StartSound(Start(id, id == 3 ? forever : SoundInfo{}));
  const Samples out = Left(MixFrames(mixer, 8));
  EXPECT_EQ(out, (Samples{1000, 2000, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(mixer.ActiveSounds(), 0U);

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
      m.StartSound(Start(id));
    }
    if (auto s = ReadStartSound(round % 2 ? kTagStartSound : kTagStartSound2, body)) {
      m.StartSound(*s);
    }
    if (const auto h = ReadSoundStreamHead(body)) {
      m.StartStream(*h);
      m.QueueStreamBlock(body, round);
    }
    MixFrames(m, 300);
    (void)m.Stream();
  }
}

// ---- Resampling and mixing
// -----------------------------------------------------------------------

struct ResampleCase {
  const char* name;
  int rateCode;
  bool stereo;
  Bytes data;
  Samples expected;  // stereo output, then silence
};

TEST(SwfSound, ResamplesLinearlyTo44kStereo) {
  const std::vector<ResampleCase> cases = {
      {"44 kHz mono is copied to both channels",
       3,
       false,
       Pcm16({100, -200}),
       {100, 100, -200, -200}},
      {"11 kHz mono: four outputs per sample, the last held",
       1,
       false,
       Pcm16({0, 400, 800}),
       {0,   0,   100, 100, 200, 200, 300, 300, 400, 400, 500, 500,
        600, 600, 700, 700, 800, 800, 800, 800, 800, 800, 800, 800}},
      {"22 kHz stereo",
       2,
       true,
       Pcm16({0, 1000, 200, -1000}),
       {0, 1000, 100, 0, 200, -1000, 200, -1000}},
      {"5.5 kHz: eight outputs per sample",
       0,
       false,
       Pcm16({0, 800}),
       {0,   0,   100, 100, 200, 200, 300, 300, 400, 400, 500, 500, 600, 600, 700, 700,
        800, 800, 800, 800, 800, 800, 800, 800, 800, 800, 800, 800, 800, 800, 800, 800}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SoundMixer mixer;
    mixer.DefineSound(Define(DefineSoundBody(1, 3, c.rateCode, true, c.stereo, 100, c.data)));
    mixer.StartSound(Start(1));
    Samples out = MixFrames(mixer, c.expected.size() / 2 + 3);
    Samples expected = c.expected;
    expected.resize(out.size(), 0);
    EXPECT_EQ(out, expected);
    EXPECT_EQ(mixer.ActiveSounds(), 0U);
    EXPECT_EQ(mixer.OutputSamples(), out.size() / 2);
  }
}

TEST(SwfSound, MixesSumsAndClips) {
  struct Case {
    const char* name;
    int a;
    int b;
    int sum;
  };
  const std::vector<Case> cases = {
      {"plain sum", 1000, -300, 700},
      {"clipped high", 30000, 10000, 32767},
      {"clipped low", -30000, -10000, -32768},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SoundMixer mixer;
    mixer.DefineSound(Define(DefineSoundBody(1, 3, 3, true, false, 1, Pcm16({c.a}))));
    mixer.DefineSound(Define(DefineSoundBody(2, 3, 3, true, false, 1, Pcm16({c.b}))));
    mixer.StartSound(Start(1));
    mixer.StartSound(Start(2));
    EXPECT_EQ(MixFrames(mixer, 2), (Samples{std::int16_t(c.sum), std::int16_t(c.sum), 0, 0}));
  }
}

TEST(SwfSound, StartSoundHonoursItsInfo) {
  struct Case {
    const char* name;
    std::vector<SoundInfo> starts;  // carried out in order on sound 1, 44 kHz: 10, 20, ..., 50
    Samples left;
    std::size_t activeAfter;
  };
  SoundInfo loops3;
  loops3.loops = 3;
  SoundInfo noMultiple;
  noMultiple.noMultiple = true;
  SoundInfo stop;
  stop.stop = true;
  SoundInfo inOut;
  inOut.inPoint = 1;
  inOut.outPoint = 3;
  inOut.loops = 2;
  SoundInfo fade;  // left fades out over 4 samples, right stays silent
  fade.envelope = {{0, 32768, 0}, {4, 0, 0}};
  const std::vector<Case> cases = {
      {"once", {{}}, {10, 20, 30, 40, 50, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
      {"three loops", {loops3}, {10, 20, 30, 40, 50, 10, 20, 30, 40, 50, 10, 20, 30, 40, 50, 0}, 0},
      {"two instances add", {{}, {}}, {20, 40, 60, 80, 100, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
      {"no multiple", {{}, noMultiple}, {10, 20, 30, 40, 50, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
      {"stop", {loops3, stop}, Samples(16, 0), 0},
      {"in and out points, looped",
       {inOut},
       {20, 30, 20, 30, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       0},
      {"envelope", {fade}, {10, 15, 15, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SoundMixer mixer;
    mixer.DefineSound(
        Define(DefineSoundBody(1, 3, 3, true, false, 5, Pcm16({10, 20, 30, 40, 50}))));
    for (const auto& info : c.starts) mixer.StartSound(Start(1, info));
    const Samples out = MixFrames(mixer, 16);
    EXPECT_EQ(Left(out), c.left);
    if (!c.starts.back().envelope.empty()) {
      for (std::size_t i = 1; i < out.size(); i += 2) EXPECT_EQ(out[i], 0);
    }
    EXPECT_EQ(mixer.ActiveSounds(), c.activeAfter);
  }
  // Unknown ids and class names start nothing.
  SoundMixer mixer;
  mixer.StartSound(Start(5));
  SoundStart byName;
  byName.byClassName = true;
  mixer.StartSound(byName);
  EXPECT_EQ(mixer.ActiveSounds(), 0U);
}

TEST(SwfSound, ManyStartsAreCapped) {
  SoundMixer mixer;
  mixer.DefineSound(Define(DefineSoundBody(1, 3, 3, true, false, 2, Pcm16({1, 1}))));
  for (int i = 0; i < 1000; ++i) mixer.StartSound(Start(1));
  EXPECT_EQ(mixer.ActiveSounds(), SoundMixer::kMaxVoices);
  EXPECT_EQ(MixFrames(mixer, 1)[0], std::int16_t(SoundMixer::kMaxVoices));
  mixer.StopAllSounds();
  EXPECT_EQ(mixer.ActiveSounds(), 0U);
}

// ---- The stream sound
// ----------------------------------------------------------------------------

SoundStreamHead PcmStreamHead(int rateCode) {
  SoundStreamHead head;
  head.stream = {3, std::uint8_t(rateCode), true, false};
  return head;
}

TEST(SwfSound, StreamPositionFollowsTheOutput) {
  SoundMixer mixer;
  EXPECT_FALSE(mixer.Stream().active);
  EXPECT_FALSE(mixer.QueueStreamBlock(Pcm16({1}), 0));
  mixer.StartStream(PcmStreamHead(1));  // 11025 Hz: four output samples per block sample
  ASSERT_TRUE(mixer.QueueStreamBlock(Pcm16({0, 400, 800, 1200}), 10));
  ASSERT_TRUE(mixer.QueueStreamBlock(Pcm16({1600, 2000, 2400, 2800}), 11));
  EXPECT_FALSE(mixer.QueueStreamBlock({}, 12));
  StreamState s = mixer.Stream();
  EXPECT_TRUE(s.active);
  EXPECT_FALSE(s.playing);
  EXPECT_EQ(s.frame, -1);
  EXPECT_EQ(s.queuedSamples, 32U);
  EXPECT_EQ(s.queuedBlocks, 2U);

  struct Step {
    std::size_t mix;
    bool playing;
    std::int64_t frame;
    double fraction;
    std::uint64_t played;
    std::uint64_t queued;
  };
  const std::vector<Step> steps = {
      {8, true, 10, 0.5, 8, 24},   // halfway through the first block
      {8, true, 10, 1.0, 16, 16},  // at its end
      {1, true, 11, 0.0625, 17, 15},
      {20, false, 11, 0.8125, 29, 3},  // starved: three outputs wait for the next sample
  };
  Samples all;
  for (const auto& step : steps) {
    const Samples out = Left(MixFrames(mixer, step.mix));
    all.insert(all.end(), out.begin(), out.end());
    s = mixer.Stream();
    SCOPED_TRACE(s.playedSamples);
    EXPECT_EQ(s.playing, step.playing);
    EXPECT_EQ(s.frame, step.frame);
    EXPECT_DOUBLE_EQ(s.blockFraction, step.fraction);
    EXPECT_EQ(s.playedSamples, step.played);
    EXPECT_EQ(s.queuedSamples, step.queued);
  }
  for (std::size_t i = 0; i < 29; ++i) EXPECT_EQ(all[i], std::int16_t(100 * i)) << i;
  EXPECT_EQ(all[29], 0);  // silence while starved

  // A late block: the stream goes on from where it waited, interpolating into it.
  ASSERT_TRUE(mixer.QueueStreamBlock(Pcm16({3200}), 12));
  const Samples late = Left(MixFrames(mixer, 5));
  EXPECT_EQ(late, (Samples{2900, 3000, 3100, 3200, 0}));
  EXPECT_EQ(mixer.Stream().frame, 12);

  mixer.StopStream();
  EXPECT_FALSE(mixer.Stream().active);
  EXPECT_EQ(MixFrames(mixer, 2), Samples(4, 0));
}

TEST(SwfSound, StreamQueueIsBounded) {
  SoundMixer mixer;
  mixer.StartStream(PcmStreamHead(3));
  // One block of 61 s is cut to the 60 s the queue holds; then the queue is full.
  const Bytes huge(std::size_t(2 * 44100 * 61), 0);
  ASSERT_TRUE(mixer.QueueStreamBlock(huge, 1));
  EXPECT_EQ(mixer.Stream().queuedSamples,
            std::uint64_t(44100 * SoundMixer::kMaxStreamQueueSeconds));
  EXPECT_FALSE(mixer.QueueStreamBlock(Pcm16({1}), 2));
  // Many small blocks stop at the block cap.
  mixer.StartStream(PcmStreamHead(3));
  std::size_t accepted = 0;
  while (accepted < 100000 && mixer.QueueStreamBlock(Pcm16({1}), 0)) ++accepted;
  EXPECT_EQ(accepted, SoundMixer::kMaxStreamBlocks);
  // Unplayable codecs make a silent stream.
  SoundStreamHead speex;
  speex.stream.codec = std::uint8_t(SoundCodec::Speex);
  mixer.StartStream(speex);
  EXPECT_FALSE(mixer.QueueStreamBlock(Pcm16({1, 2, 3}), 0));
}

TEST(SwfSound, AdpcmStreamBlocks) {
  SoundMixer mixer;
  SoundStreamHead head;
  head.stream = {1, 3, true, false};
  mixer.StartStream(head);
  ASSERT_TRUE(mixer.QueueStreamBlock(PackBits({{2, 2}, {0, 16}, {0, 6}, {7, 4}, {7, 4}}), 1));
  ASSERT_TRUE(mixer.QueueStreamBlock(PackBits({{2, 2}, {500, 16}, {0, 6}}), 2));
  EXPECT_EQ(mixer.Stream().queuedSamples, 4U);
  EXPECT_EQ(Left(MixFrames(mixer, 5)), (Samples{0, 11, 41, 500, 0}));
}

// ---- MP3 through a fake decoder
// ------------------------------------------------------------------

// An MPEG 2 layer III frame: 8 kbit/s, 22050 Hz, mono, 26 bytes, 576 samples. Byte 4 marks it.
Bytes Mp3Frame(std::uint8_t marker) {
  Bytes f(26, 0);
  f[0] = 0xFF;
  f[1] = 0xF3;
  f[2] = 0x10;
  f[3] = 0xC0;
  f[4] = marker;
  return f;
}

// Decodes each frame to 576 mono samples of 100 * its marker at 22050 Hz, `delay` frames late.
struct FakeMp3 final : Mp3Decoder {
  explicit FakeMp3(int delay, std::vector<Bytes>* seen) : delay_(delay), seen_(seen) {}
  bool DecodeFrame(std::span<const std::uint8_t> frame, Pcm& out) override {
    seen_->emplace_back(frame.begin(), frame.end());
    if (frame[4] == 0xEE) return false;  // a frame the decoder can't take
    pending_.push_back(frame[4]);
    if (int(pending_.size()) <= delay_) return true;
    out.rate = 22050;
    out.channels = 1;
    out.samples.assign(576, std::int16_t(100 * pending_.front()));
    pending_.erase(pending_.begin());
    return true;
  }
  int delay_;
  std::vector<Bytes>* seen_;
  std::vector<std::uint8_t> pending_;
};

TEST(SwfSound, Mp3FrameHeaders) {
  const auto h = ReadMp3FrameHeader(Mp3Frame(1));
  ASSERT_TRUE(h);
  EXPECT_EQ(h->rate, 22050);
  EXPECT_EQ(h->channels, 1);
  EXPECT_EQ(h->samplesPerFrame, 576);
  EXPECT_EQ(h->size, 26U);
  const auto mpeg1 = ReadMp3FrameHeader(Bytes{0xFF, 0xFB, 0x92, 0x00});  // 128k, 44.1k, padded
  ASSERT_TRUE(mpeg1);
  EXPECT_EQ(mpeg1->size, 418U);
  EXPECT_EQ(mpeg1->channels, 2);
  EXPECT_EQ(mpeg1->samplesPerFrame, 1152);
  EXPECT_FALSE(ReadMp3FrameHeader(Bytes{0xFF, 0xFB, 0x00, 0x00}));  // free format
  EXPECT_FALSE(ReadMp3FrameHeader(Bytes{0xFF, 0xFD, 0x90, 0x00}));  // layer II
  EXPECT_FALSE(ReadMp3FrameHeader(Bytes{0xFF, 0xFB, 0x9C, 0x00}));  // reserved rate
  EXPECT_FALSE(ReadMp3FrameHeader(Bytes{0xFF, 0xFB, 0x90}));
}

TEST(SwfSound, Mp3EventSoundThroughThePlatformDecoder) {
  struct Case {
    const char* name;
    int delay;
    std::int16_t seek;
    std::uint32_t count;
    std::vector<Bytes> parts;
    std::size_t framesSeen;
    Samples expectedAt;  // output samples 0, 951, 952, 1999, 2000 (left)
  };
  const Bytes junk = {0x12, 0xFF, 0x00};
  const Bytes third = Mp3Frame(3);
  const Bytes cut(third.begin(), third.begin() + 10);
  const std::vector<Case> cases = {
      // 576 of 100 and 576 of 200 at 22050 Hz, 100 skipped, 1000 kept: 476 of 100, 524 of 200,
      // each source sample two outputs, 150 between them.
      {"two frames", 0, 100, 1000, {Mp3Frame(1), Mp3Frame(2)}, 2, {100, 150, 200, 200, 0}},
      {"junk between frames is skipped",
       0,
       100,
       1000,
       {Mp3Frame(1), junk, Mp3Frame(2)},
       2,
       {100, 150, 200, 200, 0}},
      {"decoder delay",
       1,
       100,
       1000,
       {Mp3Frame(1), Mp3Frame(2), Mp3Frame(3)},
       3,
       {100, 150, 200, 200, 0}},
      {"a cut last frame is not fed",
       0,
       100,
       1000,
       {Mp3Frame(1), Mp3Frame(2), cut},
       2,
       {100, 150, 200, 200, 0}},
      {"decoder failure ends the sound",
       0,
       0,
       100000,
       {Mp3Frame(1), Mp3Frame(0xEE), Mp3Frame(2)},
       2,
       {100, 100, 100, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Bytes> seen;
    SoundMixer mixer(
        [&]() -> std::unique_ptr<Mp3Decoder> { return std::make_unique<FakeMp3>(c.delay, &seen); });
    Bytes data;
    Le16(data, c.seek);
    for (const auto& p : c.parts) data.insert(data.end(), p.begin(), p.end());
    mixer.DefineSound(Define(DefineSoundBody(4, 2, 2, true, false, c.count, data)));
    mixer.StartSound(Start(4));
    const Samples out = Left(MixFrames(mixer, 2100));
    EXPECT_EQ((Samples{out[0], out[951], out[952], out[1999], out[2000]}), c.expectedAt);
    EXPECT_EQ(seen.size(), c.framesSeen);
    for (const auto& f : seen) EXPECT_EQ(f.size(), 26U);
  }
  // Without a platform decoder MP3 is silent.
  SoundMixer silent;
  Bytes data;
  Le16(data, 0);
  const Bytes frame = Mp3Frame(1);
  data.insert(data.end(), frame.begin(), frame.end());
  silent.DefineSound(Define(DefineSoundBody(4, 2, 2, true, false, 576, data)));
  silent.StartSound(Start(4));
  EXPECT_EQ(silent.ActiveSounds(), 0U);
  SoundStreamHead head;
  head.stream = {2, 2, true, false};
  silent.StartStream(head);
  Bytes block = {0x40, 0x02, 0, 0};
  block.insert(block.end(), frame.begin(), frame.end());
  EXPECT_FALSE(silent.QueueStreamBlock(block, 0));
}

TEST(SwfSound, Mp3StreamAcrossBlocks) {
  std::vector<Bytes> seen;
  SoundMixer mixer(
      [&]() -> std::unique_ptr<Mp3Decoder> { return std::make_unique<FakeMp3>(0, &seen); });
  SoundStreamHead head;
  head.stream = {2, 2, true, false};
  mixer.StartStream(head);
  for (std::uint8_t f = 1; f <= 3; ++f) {
    Bytes block = {0x40, 0x02, 0, 0};  // 576 samples, no seek
    const Bytes frame = Mp3Frame(f);
    block.insert(block.end(), frame.begin(), frame.end());
    block.push_back(0x77);  // a stray byte after the frame is left out
    ASSERT_TRUE(mixer.QueueStreamBlock(block, f));
  }
  EXPECT_EQ(mixer.Stream().queuedSamples, 3U * 1152);
  const Samples out = Left(MixFrames(mixer, 1152 + 10));
  EXPECT_EQ(out[0], 100);
  EXPECT_EQ(out[1151], 150);
  EXPECT_EQ(out[1152], 200);
  const StreamState s = mixer.Stream();
  EXPECT_TRUE(s.playing);
  EXPECT_EQ(s.frame, 2);
  EXPECT_EQ(seen.size(), 2U);  // decoded lazily: the third frame not yet
}

}  // namespace
}  // namespace swf
