#include "player/switching_player.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace launcher {
namespace {

TEST(IsFlashMovie, MatchesTheExtensionInAnyCase) {
  EXPECT_TRUE(IsFlashMovie(AsciiPath("OP.swf")));
  EXPECT_TRUE(IsFlashMovie(AsciiPath("dir/OP.SwF")));
  EXPECT_FALSE(IsFlashMovie(AsciiPath("OP.mp4")));
  EXPECT_FALSE(IsFlashMovie(AsciiPath("swf")));
  EXPECT_FALSE(IsFlashMovie(AsciiPath("OP.swf.mp4")));
}

// What an engine was last told; it plays from Play until StopPlay.
struct EngineState {
  std::optional<bool> visible;
  std::optional<Twips> top, left, height, width;
  std::optional<bool> loop;
  std::optional<PathText> movie;
  int plays = 0;
  int stops = 0;
  bool playing = false;
};

class FakeEngine final : public SelectiveMoviePlayer {
 public:
  explicit FakeEngine(EngineState& state, std::string refusal = {})
      : state_(state), refusal_(std::move(refusal)) {}
  void SetVisible(bool visible) override { state_.visible = visible; }
  void SetTop(Twips top) override { state_.top = top; }
  void SetLeft(Twips left) override { state_.left = left; }
  void SetHeight(Twips height) override { state_.height = height; }
  void SetWidth(Twips width) override { state_.width = width; }
  void SetLoop(bool loop) override { state_.loop = loop; }
  void SetMovie(const PathText& path) override { state_.movie = path; }
  void Play() override {
    ++state_.plays;
    state_.playing = true;
  }
  bool Playing() override { return state_.playing; }
  void StopPlay() override {
    ++state_.stops;
    state_.playing = false;
  }
  std::string Refusal() const override { return refusal_; }

 private:
  EngineState& state_;
  std::string refusal_;
};

class SwitchingPlayerTest : public ::testing::Test {
 protected:
  SwitchingMoviePlayer Make(bool with_flash) {
    return SwitchingMoviePlayer(with_flash ? std::make_unique<FakeEngine>(flash_) : nullptr,
                                [this] {
                                  ++built_in_made_;
                                  return std::make_unique<FakeEngine>(built_in_);
                                });
  }
  // The load handler's preparation of the hidden player.
  static void Prepare(MoviePlayer& player) {
    player.SetVisible(false);
    player.SetTop(0);
    player.SetLeft(0);
    player.SetHeight(4500);
    player.SetWidth(6000);
    player.SetLoop(false);
  }
  // The tick's start of the movie.
  static void Start(MoviePlayer& player, const char* movie) {
    player.SetVisible(true);
    player.SetMovie(AsciiPath(movie));
    player.Play();
  }

  EngineState flash_, built_in_;
  int built_in_made_ = 0;
};

TEST_F(SwitchingPlayerTest, FlashMovieGoesToTheInstalledControl) {
  SwitchingMoviePlayer player = Make(true);
  Prepare(player);
  EXPECT_EQ(flash_.width, 6000);  // the control takes container properties as they come
  Start(player, "C:\\game\\OP.SwF");
  EXPECT_EQ(flash_.movie, AsciiPath("C:\\game\\OP.SwF"));
  EXPECT_EQ(flash_.visible, true);
  EXPECT_EQ(flash_.plays, 1);
  EXPECT_EQ(built_in_made_, 0);
  EXPECT_TRUE(player.Playing());
  player.StopPlay();
  player.SetVisible(false);
  EXPECT_EQ(flash_.stops, 1);
  EXPECT_EQ(flash_.visible, false);
  EXPECT_FALSE(player.Playing());
}

TEST_F(SwitchingPlayerTest, OtherMoviesGoToTheBuiltInEngineWhichTakesOverTheProperties) {
  SwitchingMoviePlayer player = Make(true);
  Prepare(player);
  Start(player, "C:\\game\\OP.mp4");
  EXPECT_EQ(built_in_made_, 1);
  EXPECT_EQ(built_in_.top, 0);
  EXPECT_EQ(built_in_.left, 0);
  EXPECT_EQ(built_in_.height, 4500);
  EXPECT_EQ(built_in_.width, 6000);
  EXPECT_EQ(built_in_.loop, false);
  EXPECT_EQ(built_in_.visible, true);
  EXPECT_EQ(built_in_.movie, AsciiPath("C:\\game\\OP.mp4"));
  EXPECT_EQ(built_in_.plays, 1);
  // Only the chosen engine is seen; the control never got the movie.
  EXPECT_EQ(flash_.visible, false);
  EXPECT_FALSE(flash_.movie.has_value());
  EXPECT_EQ(flash_.plays, 0);
  EXPECT_TRUE(player.Playing());
  built_in_.playing = false;  // the movie ends
  EXPECT_FALSE(player.Playing());
}

TEST_F(SwitchingPlayerTest, FlashMovieWithoutTheControlGoesToTheBuiltInEngine) {
  SwitchingMoviePlayer player = Make(false);
  Prepare(player);
  // Nothing plays before a movie is chosen, and nothing breaks.
  EXPECT_FALSE(player.Playing());
  player.StopPlay();
  player.Play();
  EXPECT_EQ(built_in_made_, 0);

  Start(player, "C:\\game\\OP.swf");
  EXPECT_EQ(built_in_made_, 1);
  EXPECT_EQ(built_in_.movie, AsciiPath("C:\\game\\OP.swf"));
  EXPECT_EQ(built_in_.visible, true);
  EXPECT_EQ(built_in_.width, 6000);
  EXPECT_EQ(built_in_.loop, false);
  EXPECT_TRUE(player.Playing());
  player.StopPlay();
  EXPECT_EQ(built_in_.stops, 1);
  EXPECT_FALSE(player.Playing());
}

TEST_F(SwitchingPlayerTest, MovieStartedTwiceKeepsOneEngineOfEachKind) {
  // Two keys down in one tick start the movie twice.
  SwitchingMoviePlayer player = Make(true);
  Prepare(player);
  Start(player, "OP.mp4");
  Start(player, "OP.mp4");
  EXPECT_EQ(built_in_made_, 1);
  EXPECT_EQ(built_in_.plays, 2);
  EXPECT_EQ(flash_.visible, false);
}

TEST_F(SwitchingPlayerTest, SwitchingEnginesHidesThePreviousOne) {
  SwitchingMoviePlayer player = Make(true);
  Prepare(player);
  Start(player, "OP.swf");
  Start(player, "OP.wmv");
  EXPECT_EQ(flash_.visible, false);
  EXPECT_EQ(built_in_.visible, true);
  EXPECT_EQ(built_in_.height, 4500);
  Start(player, "OP.swf");
  EXPECT_EQ(flash_.visible, true);
  EXPECT_EQ(built_in_.visible, false);
  EXPECT_EQ(flash_.plays, 2);
}

// An SWF without the Flash control goes to the SWF player; one it refuses is told, then goes on to
// the built-in engine or is skipped.
TEST_F(SwitchingPlayerTest, SwfPlayerTakesFlashMoviesTheControlDoesNot) {
  struct Case {
    const char* name;
    bool with_flash;
    const char* movie;
    const char* refusal;
    bool fall_back;
    const char* plays_in;  // "flash", "swf", "built-in"
    bool refusal_told;
  };
  const Case cases[] = {
      {"control installed", true, "OP.swf", "", false, "flash", false},
      {"not an SWF", false, "OP.mp4", "", true, "built-in", false},
      {"SWF player plays it", false, "OP.SWF", "", true, "swf", false},
      {"refused, goes on", false, "OP.swf", "SWF player: video only", true, "built-in", true},
      {"refused, skipped", false, "OP.swf", "SWF player: video only", false, "swf", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EngineState flash, built_in, swf;
    std::vector<std::pair<PathText, std::string>> told;
    SwitchingMoviePlayer player(
        c.with_flash ? std::make_unique<FakeEngine>(flash) : nullptr,
        [&built_in] { return std::make_unique<FakeEngine>(built_in); },
        SwfRoute{[&swf, &c] { return std::make_unique<FakeEngine>(swf, c.refusal); },
                 [&told](const PathText& path, const std::string& refusal) {
                   told.emplace_back(path, refusal);
                 },
                 c.fall_back ? SwfFallBack::ToBuiltIn : SwfFallBack::Skip});
    Prepare(player);
    Start(player, c.movie);
    const std::string plays_in = c.plays_in;
    EngineState& chosen = plays_in == "flash" ? flash : plays_in == "swf" ? swf : built_in;
    EXPECT_EQ(chosen.movie, AsciiPath(c.movie));
    EXPECT_EQ(chosen.plays, 1);
    EXPECT_EQ(chosen.visible, true);
    EXPECT_EQ(chosen.width, 6000);
    // Only the chosen engine is seen, and only it plays.
    for (EngineState* other : {&flash, &swf, &built_in}) {
      if (other == &chosen) continue;
      EXPECT_NE(other->visible, std::optional<bool>(true));
      EXPECT_EQ(other->plays, 0);
    }
    if (c.refusal_told) {
      ASSERT_EQ(told.size(), 1U);
      EXPECT_EQ(told[0].first, AsciiPath(c.movie));
      EXPECT_EQ(told[0].second, c.refusal);
    } else {
      EXPECT_TRUE(told.empty());
    }
  }
}

}  // namespace
}  // namespace launcher
