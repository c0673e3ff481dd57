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

TEST(CommandChapter, PlaybackEntersEveryChapterItPasses) {
  using Chapters = std::vector<std::int64_t>;
  EXPECT_EQ(ChaptersEntered(-1, 0), Chapters{0});
  EXPECT_EQ(ChaptersEntered(0, 1), Chapters{1});
  EXPECT_EQ(ChaptersEntered(0, 3), (Chapters{1, 2, 3}));  // two too short to be reported
  EXPECT_EQ(ChaptersEntered(-1, 2), (Chapters{0, 1, 2}));
  EXPECT_EQ(ChaptersEntered(3, 1), Chapters{1});  // back: only the new one
  EXPECT_EQ(ChaptersEntered(2, 2), Chapters{});
  EXPECT_EQ(ChaptersEntered(2, -1), Chapters{});  // before the first chapter
}

}  // namespace
}  // namespace launcher
