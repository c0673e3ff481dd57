#include "linux/display_scale.h"

#include <gtest/gtest.h>

namespace launcher::sdl {
namespace {

TEST(DisplayScale, XftDpiSetsTheScale) {
  EXPECT_DOUBLE_EQ(ScaleFromResources("Xft.dpi:\t96\n").TwipsPerPixel(), 15.0);
  EXPECT_DOUBLE_EQ(
      ScaleFromResources("Xft.antialias:\t1\nXft.dpi:\t144\nXft.hinting:\t1").TwipsPerPixel(),
      10.0);
  EXPECT_DOUBLE_EQ(ScaleFromResources("Xft.dpi: 192").TwipsPerPixel(), 7.5);
  EXPECT_DOUBLE_EQ(ScaleFromResources("Xft.dpi:\t120\nXft.dpi:\t144\n").TwipsPerPixel(),
                   10.0);  // last wins
}

TEST(DisplayScale, WithoutAUsableEntryFifteenTwipsAPixel) {
  EXPECT_DOUBLE_EQ(ScaleFromResources("").TwipsPerPixel(), 15.0);
  EXPECT_DOUBLE_EQ(ScaleFromResources("*background:\tgray\n").TwipsPerPixel(), 15.0);
  EXPECT_DOUBLE_EQ(ScaleFromResources("Xft.dpi:\tlarge\n").TwipsPerPixel(), 15.0);
  EXPECT_DOUBLE_EQ(ScaleFromResources("Xft.dpi:\t0\n").TwipsPerPixel(), 15.0);
  EXPECT_DOUBLE_EQ(ScaleFromResources("Xft.dpi:\t-96\n").TwipsPerPixel(), 15.0);
  EXPECT_DOUBLE_EQ(ScaleFromResources("Xft.dpix:\t144\n").TwipsPerPixel(), 15.0);
}

}  // namespace
}  // namespace launcher::sdl
