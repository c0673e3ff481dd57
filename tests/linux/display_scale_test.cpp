#include "linux/display_scale.h"

#include <gtest/gtest.h>

namespace launcher::sdl {
namespace {

TEST(DisplayScale, XftDpiSetsTheScale) {
  EXPECT_DOUBLE_EQ(TwipsPerPixelFromResources("Xft.dpi:\t96\n"), 15.0);
  EXPECT_DOUBLE_EQ(TwipsPerPixelFromResources("Xft.antialias:\t1\nXft.dpi:\t144\nXft.hinting:\t1"),
                   10.0);
  EXPECT_DOUBLE_EQ(TwipsPerPixelFromResources("Xft.dpi: 192"), 7.5);
  EXPECT_DOUBLE_EQ(TwipsPerPixelFromResources("Xft.dpi:\t120\nXft.dpi:\t144\n"),
                   10.0);  // last wins
}

TEST(DisplayScale, WithoutAUsableEntryFifteenTwipsAPixel) {
  EXPECT_DOUBLE_EQ(TwipsPerPixelFromResources(""), 15.0);
  EXPECT_DOUBLE_EQ(TwipsPerPixelFromResources("*background:\tgray\n"), 15.0);
  EXPECT_DOUBLE_EQ(TwipsPerPixelFromResources("Xft.dpi:\tlarge\n"), 15.0);
  EXPECT_DOUBLE_EQ(TwipsPerPixelFromResources("Xft.dpi:\t0\n"), 15.0);
  EXPECT_DOUBLE_EQ(TwipsPerPixelFromResources("Xft.dpi:\t-96\n"), 15.0);
  EXPECT_DOUBLE_EQ(TwipsPerPixelFromResources("Xft.dpix:\t144\n"), 15.0);
}

}  // namespace
}  // namespace launcher::sdl
