// A frame drawn through the player: the stage letterboxed in the background colour, shapes at
// their placements, a clip layer, and a bitmap placed by itself.
#include <gtest/gtest.h>

#include "swf/swf_player.h"
#include "swf_writer.h"

namespace {

using namespace swf_test;

constexpr std::uint32_t kBlue = 0xFF0000FF;   // the background below
constexpr std::uint32_t kRed = 0xFFFF0000;    // shape 1
constexpr std::uint32_t kGreen = 0xFF00FF00;  // shape 2

// A 200 x 100 pixel stage on blue, drawn at the size given; pixels as 0xAARRGGBB.
std::vector<std::uint32_t> Draw(const Bytes& tags, int width, int height) {
  const Bytes file = Movie(Join({Tag(9, {0, 0, 255}), RectShape(1, 4000, 2000, 0xFF0000FF),
                                 RectShape(2, 2000, 2000, 0x00FF00FF), tags, ShowFrame()}),
                           4000, 2000);
  const swf::LoadResult loaded = swf::LoadMovie(file, nullptr);
  EXPECT_TRUE(loaded.movie) << loaded.refusal;
  std::vector<std::uint32_t> pixels(std::size_t(width * height), 0);
  if (!loaded.movie) return pixels;
  swf::Player player(loaded.movie);
  player.Play();
  player.AdvanceTo(0);
  player.Render({pixels.data(), width, height, width});
  return pixels;
}

TEST(RenderSmoke, StageLetterboxedInTheBackground) {
  // A 200 x 100 stage in 100 x 100: 100 x 50 in the middle, bars above and below.
  const auto pixels = Draw(PlaceObject2(1, 1), 100, 100);
  EXPECT_EQ(pixels[10 * 100 + 50], kBlue);
  EXPECT_EQ(pixels[50 * 100 + 50], kRed);
  EXPECT_EQ(pixels[90 * 100 + 50], kBlue);
  // A shape moved half off the stage shows nothing in the bar it would reach.
  const auto moved = Draw(PlaceObject2(1, 1, 0, 1500), 100, 100);
  EXPECT_EQ(moved[70 * 100 + 50], kRed);
  EXPECT_EQ(moved[80 * 100 + 50], kBlue);
}

TEST(RenderSmoke, DepthOrderAndClipLayer) {
  // Green over red on the left half; then green clipped by a mask on the right half only.
  const auto stacked = Draw(Join({PlaceObject2(2, 2), PlaceObject2(1, 1)}), 200, 100);
  EXPECT_EQ(stacked[50 * 200 + 50], kGreen);
  EXPECT_EQ(stacked[50 * 200 + 150], kRed);
  const auto clipped = Draw(
      Join({PlaceObject2(1, 2, 2000, 0, "", 3), PlaceObject2(2, 1), PlaceObject2(3, 2, 2000, 0)}),
      200, 100);
  EXPECT_EQ(clipped[50 * 200 + 50], kBlue);    // outside the mask: nothing of depths 2, 3
  EXPECT_EQ(clipped[50 * 200 + 150], kGreen);  // inside it: green over red
}

TEST(RenderSmoke, BitmapPlacedByItself) {
  Bits b;
  b.U16(7).U8(5).U16(2).U16(1);
  uLongf size = 64;
  Bytes packed(size);
  const Bytes argb{255, 255, 255, 0, 255, 0, 255, 255};  // yellow, cyan
  compress(packed.data(), &size, argb.data(), uLong(argb.size()));
  packed.resize(size);
  const auto pixels = Draw(Join({Tag(36, b.Raw(packed).bytes), PlaceObject2(1, 7)}), 200, 100);
  EXPECT_EQ(pixels[0], 0xFFFFFF00);  // its first pixel at the stage's origin, one pixel wide
  EXPECT_EQ(pixels[1], 0xFF00FFFF);
  EXPECT_EQ(pixels[2], kBlue);
}

}  // namespace
