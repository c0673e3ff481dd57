#include "player/fscommand_chapter.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

TEST(CommandChapter, TitlesWithThePrefixCarryACommand) {
  EXPECT_EQ(ParseCommandChapter("fscommand:Close"), (MovieCommand{"Close", ""}));
  EXPECT_EQ(ParseCommandChapter("fscommand:Close:"), (MovieCommand{"Close", ""}));
  EXPECT_EQ(ParseCommandChapter("fscommand:Close:now"), (MovieCommand{"Close", "now"}));
  EXPECT_EQ(ParseCommandChapter("FSCommand:quit:a:b c"), (MovieCommand{"quit", "a:b c"}));
  EXPECT_EQ(ParseCommandChapter("FSCOMMAND:close"), (MovieCommand{"close", ""}));
  EXPECT_EQ(ParseCommandChapter("fscommand:"), (MovieCommand{"", ""}));
  EXPECT_EQ(ParseCommandChapter("fscommand: Close "), (MovieCommand{" Close ", ""}));
}

TEST(CommandChapter, OtherTitlesCarryNone) {
  EXPECT_EQ(ParseCommandChapter(""), std::nullopt);
  EXPECT_EQ(ParseCommandChapter("Chapter 1"), std::nullopt);
  EXPECT_EQ(ParseCommandChapter("fscommand"), std::nullopt);
  EXPECT_EQ(ParseCommandChapter(" fscommand:Close"), std::nullopt);
  EXPECT_EQ(ParseCommandChapter("fscommand;Close"), std::nullopt);
  EXPECT_EQ(ParseCommandChapter("Close"), std::nullopt);
}

}  // namespace
}  // namespace launcher
