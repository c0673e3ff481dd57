// Video streams that lie: pictures larger than they may be, packets cut short or damaged, and
// more frames than a stream can number. Each costs bounded memory and time and shows what it can.
#include <gtest/gtest.h>

#include <string>

#include "swf/movie.h"
#include "swf/swf_player.h"
#include "swf/video.h"
#include "swf_writer.h"

namespace {

using swf_test::Bits;
using swf_test::Bytes;

// A Sorenson picture header: size code 0 (8-bit sides) or 1 (16-bit), type 0 intra, 1 inter.
Bytes H263Header(int width, int height, int type, int quant = 8) {
  Bits b;
  b.UB(1, 17).UB(0, 5).UB(0, 8);
  const bool wide = width > 255 || height > 255;
  b.UB(wide ? 1 : 0, 3)
      .UB(std::uint32_t(width), wide ? 16 : 8)
      .UB(std::uint32_t(height), wide ? 16 : 8);
  b.UB(std::uint32_t(type), 2).UB(0, 1).UB(std::uint32_t(quant), 5).UB(0, 1);
  return b.bytes;
}

// An intra macroblock of flat grey: MCBPC "1" (no chroma), CBPY "0011" (none), six DC values.
Bytes FlatMacroblock(Bits& b) {
  b.UB(1, 1).UB(0b0011, 4);
  for (int i = 0; i < 6; ++i) b.UB(128 + 16, 8);
  return b.bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(HostileVideo, PacketsDecodeWithinBounds) {
  Bits flat;
  FlatMacroblock(flat);
  const Bytes whole = Concat(H263Header(16, 16, 0), flat.bytes);
  struct Case {
    const char* name;
    int codec;
    std::vector<Bytes> packets;
    bool shown;  // the last packet gives a picture
    int width;
  };
  const Case cases[] = {
      {"empty", 2, {{}}, false, 0},
      {"header cut short", 2, {Bytes(whole.begin(), whole.begin() + 3)}, false, 0},
      {"65535 x 65535", 2, {H263Header(65535, 65535, 0)}, false, 0},
      {"inter picture first", 2, {H263Header(16, 16, 1)}, false, 0},
      {"one flat macroblock", 2, {whole}, true, 16},
      {"macroblocks missing", 2, {H263Header(64, 64, 0)}, true, 64},
      {"then an inter picture of another size", 2, {whole, H263Header(32, 16, 1)}, false, 0},
      {"damaged codes", 2, {Concat(H263Header(48, 48, 0), Bytes(40, 0x00))}, true, 48},
      {"screen: too large", 3, {{0xFF, 0xFF, 0xFF, 0xFF}}, false, 0},
      {"screen: blocks cut short", 3, {{0x00, 0x20, 0x00, 0x20, 0xFF, 0xFF, 0x78}}, false, 0},
      {"screen: keyframe of garbage", 3, {{0x00, 0x10, 0x00, 0x10, 0x00, 0x01, 0x55}}, true, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto decoder = swf::MakeVideoDecoder(c.codec, {});
    ASSERT_TRUE(decoder);
    swf::Bitmap picture;
    bool shown = false;
    for (const Bytes& packet : c.packets) shown = decoder->Decode(packet, picture);
    EXPECT_EQ(shown, c.shown);
    if (shown) {
      EXPECT_EQ(picture.width, c.width);
      EXPECT_EQ(picture.pixels.size(), std::size_t(picture.width) * std::size_t(picture.height));
    }
  }
}

// Frames beyond counting: the stream keeps one packet per frame number, at most 65,536.
TEST(HostileVideo, AMillionFramesKeepOneSlotEachNumber) {
  Bits tags;
  tags.Raw(swf_test::DefineVideoStream(1, 10, 16, 16, 2));
  const Bytes packet{0x00};
  for (int i = 0; i < 100'000; ++i) tags.Raw(swf_test::VideoFrame(1, i % 70'000, packet));
  tags.Raw(swf_test::PlaceObject2(1, 1, 0, 0, "", 0, 65535));
  const swf::LoadResult loaded = swf::LoadMovie(swf_test::Movie(tags.bytes), nullptr);
  ASSERT_TRUE(loaded.movie);
  const auto* stream = std::get_if<std::shared_ptr<const swf::VideoStream>>(loaded.movie->Find(1));
  ASSERT_TRUE(stream);
  EXPECT_EQ((*stream)->frames.size(), 65536U);
  swf::Player player(loaded.movie);
  player.Play();
  player.AdvanceTo(0);
  std::vector<std::uint32_t> frame(std::size_t{32} * 24);
  for (int i = 0; i < 4; ++i) player.Render({frame.data(), 32, 24, 32});  // nothing decodes
}

// A codec nothing decodes is left out and named; the rest of the movie plays.
TEST(HostileVideo, UndecodedCodecIsLeftOut) {
  const Bytes tags = swf_test::Join({swf_test::DefineVideoStream(1, 1, 16, 16, 4),
                                     swf_test::VideoFrame(1, 0, {0x00, 0x01}),
                                     swf_test::RectShape(2, 200, 200, 0xFF0000FF),
                                     swf_test::PlaceObject2(1, 1), swf_test::PlaceObject2(2, 2)});
  const swf::LoadResult loaded = swf::LoadMovie(swf_test::Movie(tags), nullptr);
  ASSERT_TRUE(loaded.movie);
  swf::Player player(loaded.movie);
  player.Play();
  player.AdvanceTo(0);
  std::vector<std::uint32_t> frame(std::size_t{40} * 30);
  player.Render({frame.data(), 40, 30, 40});
  EXPECT_EQ(frame[0], 0xFFFF0000u);  // the shape is drawn
  EXPECT_EQ(player.LeftOutSoFar(), (std::vector<swf::LeftOut>{{"video codec 4 (VP6)", 1}}));
}

}  // namespace
