// Blend modes and filters against small cases worked out by hand, and PlaceObject3's effects
// read and drawn through the player.
#include <gtest/gtest.h>

#include <vector>

#include "swf/render/blend.h"
#include "swf/render/filters.h"
#include "swf/swf_player.h"
#include "swf_writer.h"

namespace {

using swf::BlendMode;
using swf::ShadowFilter;
using swf::ShadowKind;

TEST(Effects, BlendFormulas) {
  struct Case {
    BlendMode mode;
    std::uint32_t s, d, want;
  };
  const Case cases[] = {
      {BlendMode::Normal, 0x80800000, 0xFF0000FF, 0xFF80007F},
      {BlendMode::Layer, 0x80800000, 0xFF0000FF, 0xFF80007F},
      {BlendMode::Multiply, 0xFF808080, 0xFFFF8000, 0xFF804000},
      {BlendMode::Multiply, 0x80800000, 0x00000000, 0x80800000},  // onto nothing: the source
      {BlendMode::Screen, 0xFF808080, 0xFF404040, 0xFFA0A0A0},
      {BlendMode::Lighten, 0xFF20C040, 0xFF8040A0, 0xFF80C0A0},
      {BlendMode::Darken, 0xFF20C040, 0xFF8040A0, 0xFF204040},
      {BlendMode::Difference, 0xFF20C040, 0xFF8040A0, 0xFF608060},
      {BlendMode::Add, 0xFF808080, 0xFFA04020, 0xFFFFC0A0},
      {BlendMode::Subtract, 0xFF808080, 0xFFA04020, 0xFF200000},
      {BlendMode::Invert, 0xFF123456, 0xFF2080C0, 0xFFDF7F3F},
      {BlendMode::Alpha, 0x80000000, 0xFF2080C0, 0x80104060},
      {BlendMode::Erase, 0x80000000, 0xFF2080C0, 0x7F104060},
      {BlendMode::Overlay, 0xFF404040, 0xFF4040C0, 0xFF2020A1},
      {BlendMode::Hardlight, 0xFF4040C0, 0xFF404040, 0xFF2020A1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(swf::render::Blend(c.mode, c.s, c.d), c.want) << int(c.mode);
  }
}

// A picture of `width` x `height` filtered, its pixels returned.
std::vector<std::uint32_t> Filtered(std::vector<std::uint32_t> pixels, int width,
                                    const swf::Filter& filter) {
  const int height = int(pixels.size()) / width;
  swf::render::FilterScratch scratch;
  swf::render::ApplyFilter(filter, 1, pixels.data(), width, {0, 0, width, height}, scratch);
  return pixels;
}

ShadowFilter Shadow(ShadowKind kind, float distance, float blur = 0) {
  ShadowFilter f;
  f.kind = kind;
  f.distance = distance;
  f.blur_x = f.blur_y = blur;
  f.color = {0, 0, 0, 255};
  f.highlight = {255, 0, 0, 255};
  return f;
}

TEST(Effects, Filters) {
  using Pixels = std::vector<std::uint32_t>;
  constexpr std::uint32_t kRed = 0xFFFF0000, kWhite = 0xFFFFFFFF, kBlack = 0xFF000000;
  const Pixels dot{0, 0, kWhite, 0, 0};
  struct Case {
    const char* what;
    Pixels in;
    int width;
    swf::Filter filter;
    Pixels want;
  };
  ShadowFilter strong_glow = Shadow(ShadowKind::Glow, 0, 3);
  strong_glow.blur_y = 0;  // one row: blurred along it only
  strong_glow.color = {0, 255, 0, 255};
  strong_glow.strength = 2;
  ShadowFilter half = Shadow(ShadowKind::DropShadow, 1);
  half.strength = 0.5f;
  ShadowFilter knockout = Shadow(ShadowKind::DropShadow, 1);
  knockout.knockout = true;
  ShadowFilter hidden = Shadow(ShadowKind::DropShadow, 1);
  hidden.hide_object = true;
  ShadowFilter inner = Shadow(ShadowKind::DropShadow, 1);
  inner.inner = true;
  ShadowFilter bevel = Shadow(ShadowKind::Bevel, 1);
  bevel.on_top = true;
  bevel.color = {0, 0, 255, 255};
  ShadowFilter inner_bevel = bevel;
  inner_bevel.on_top = false;
  inner_bevel.inner = true;
  ShadowFilter gradient_glow = Shadow(ShadowKind::GradientGlow, 0, 3);
  gradient_glow.blur_y = 0;
  gradient_glow.gradient = {{0, {0, 255, 0, 0}}, {255, {0, 255, 0, 255}}};
  ShadowFilter gradient_bevel = Shadow(ShadowKind::GradientBevel, 1);
  gradient_bevel.on_top = true;
  gradient_bevel.gradient = {{0, {255, 0, 0, 255}}, {128, {0, 0, 0, 0}}, {255, {0, 0, 255, 255}}};
  swf::ColorMatrixFilter swap;  // red and blue swapped, green raised by 10, alpha halved
  swap.matrix = {0, 0, 1, 0, 0, 0, 1, 0, 0, 10, 1, 0, 0, 0, 0, 0, 0, 0, 0.5f, 0};
  swf::ConvolutionFilter mean{3, 1, {1, 1, 1}, 3, 0, {255, 0, 0, 255}, true, true};
  swf::ConvolutionFilter unclamped = mean;
  unclamped.clamp = false;
  unclamped.preserve_alpha = false;
  const Case cases[] = {
      {"blur 3", dot, 5, swf::BlurFilter{3, 0, 1}, {0, 0x55555555, 0x55555555, 0x55555555, 0}},
      {"blur 3 twice",
       dot,
       5,
       swf::BlurFilter{3, 0, 2},
       {0x1C1C1C1C, 0x39393939, 0x55555555, 0x39393939, 0x1C1C1C1C}},
      {"blur 2: the outer taps weigh half",
       dot,
       5,
       swf::BlurFilter{2, 0, 1},
       {0, 0x40404040, 0x80808080, 0x40404040, 0}},
      {"blur down the columns",
       dot,
       1,
       swf::BlurFilter{0, 3, 1},
       {0, 0x55555555, 0x55555555, 0x55555555, 0}},
      {"drop shadow behind", {kRed, 0, 0}, 3, Shadow(ShadowKind::DropShadow, 1), {kRed, kBlack, 0}},
      {"drop shadow at half strength", {kRed, 0, 0}, 3, half, {kRed, 0x80000000, 0}},
      {"knockout", {kRed, 0, 0}, 3, knockout, {0, kBlack, 0}},
      {"hide object", {kRed, 0, 0}, 3, hidden, {0, kBlack, 0}},
      {"inner shadow", {kWhite, kWhite, kWhite}, 3, inner, {kBlack, kWhite, kWhite}},
      {"glow, strength 2", {0, kRed, 0}, 3, strong_glow, {0xAA00AA00, kRed, 0xAA00AA00}},
      {"bevel on top", {0, kWhite, kWhite, 0}, 4, bevel, {kRed, kRed, 0xFF0000FF, 0xFF0000FF}},
      {"inner bevel", {0, kWhite, kWhite, 0}, 4, inner_bevel, {0, kRed, 0xFF0000FF, 0}},
      {"gradient glow", {0, kRed, 0}, 3, gradient_glow, {0x55005500, kRed, 0x55005500}},
      {"gradient bevel",
       {0, kWhite, kWhite, 0},
       4,
       gradient_bevel,
       {0xFDFB0000, 0xFFFD0202, 0xFF0000FF, 0xFF0000FF}},
      {"colour matrix", {0xFF102030, 0x80402000}, 2, swap, {0x80181508, 0x40001320}},
      {"convolution, edges clamped",
       {kBlack, kWhite, kBlack},
       3,
       mean,
       {0xFF555555, 0xFF555555, 0xFF555555}},
      {"convolution, the default colour outside",
       {kBlack, kWhite, kBlack},
       3,
       unclamped,
       {0xFFAA5555, 0xFF555555, 0xFFAA5555}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Filtered(c.in, c.width, c.filter), c.want) << c.what;
  }
}

TEST(Effects, FilterReach) {
  const swf::render::Reach blur = swf::render::FilterReach(swf::BlurFilter{8, 8, 3}, 1);
  EXPECT_EQ(blur.left, 12);  // 3 passes of a box 8 wide: 4 pixels each way each
  ShadowFilter shadow = Shadow(ShadowKind::DropShadow, 4, 2);
  const swf::render::Reach r = swf::render::FilterReach(shadow, 2);
  EXPECT_EQ(r.left, 1);  // a blur of 2 is 3 wide at twice the size: 1 each way
  EXPECT_EQ(r.right, 1 + 8);
}

// A full-stage red rectangle with a green one placed over it by PlaceObject3 `body`, drawn;
// the middle pixel.
std::uint32_t Middle(const swf_test::Bytes& body) {
  using namespace swf_test;
  const Bytes file =
      Movie(Join({RectShape(1, 2000, 2000, 0xFF0000FF), RectShape(2, 2000, 2000, 0x00FF00FF),
                  PlaceObject2(1, 1), Tag(70, body), ShowFrame()}),
            2000, 2000);
  const swf::LoadResult loaded = swf::LoadMovie(file, nullptr);
  EXPECT_TRUE(loaded.movie) << loaded.refusal;
  if (!loaded.movie) return 0;
  swf::Player player(loaded.movie);
  player.Play();
  player.AdvanceTo(0);
  std::vector<std::uint32_t> pixels(100 * 100);
  player.Render({pixels.data(), 100, 100, 100});
  return pixels[50 * 100 + 50];
}

TEST(Effects, PlaceObject3BlendModesAndFilters) {
  using swf_test::Bits;
  // flags: a character; flags3: a blend mode, or a filter list first.
  EXPECT_EQ(Middle(Bits().U8(2).U8(2).U16(2).U16(2).U8(3).bytes), 0xFF000000u);   // multiply
  EXPECT_EQ(Middle(Bits().U8(2).U8(2).U16(2).U16(2).U8(4).bytes), 0xFFFFFF00u);   // screen
  EXPECT_EQ(Middle(Bits().U8(2).U8(2).U16(2).U16(2).U8(12).bytes), 0xFFFF0000u);  // erase
  // A colour matrix that keeps only blue: green becomes black.
  Bits matrix;
  matrix.U8(2).U8(1).U16(2).U16(2).U8(1).U8(6);
  for (int i = 0; i < 20; ++i) matrix.U32(i == 12 || i == 18 ? 0x3F800000 : 0);
  EXPECT_EQ(Middle(matrix.bytes), 0xFF000000u);
  // Invisible: not drawn.
  EXPECT_EQ(Middle(Bits().U8(2).U8(0x20).U16(2).U16(2).U8(0).bytes), 0xFFFF0000u);
  // A filter list cut short: the object is placed all the same, without effects.
  EXPECT_EQ(Middle(Bits().U8(2).U8(3).U16(2).U16(2).U8(1).U8(1).U16(0).bytes), 0xFF00FF00u);
}

}  // namespace
