#include "player/switching_player.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

TEST(IsFlashMovie, MatchesTheExtensionInAnyCase) {
  EXPECT_TRUE(IsFlashMovie(AsciiPath("OP.swf")));
  EXPECT_TRUE(IsFlashMovie(AsciiPath("dir/OP.SwF")));
  EXPECT_FALSE(IsFlashMovie(AsciiPath("OP.mp4")));
  EXPECT_FALSE(IsFlashMovie(AsciiPath("swf")));
  EXPECT_FALSE(IsFlashMovie(AsciiPath("OP.swf.mp4")));
}

}  // namespace
}  // namespace launcher
