#include "player/swf/swf_movie_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace launcher::swfplayer {
namespace {

// The surface's memory and what it was told.
struct FakeSurface final : VideoLayer {
  void SetVisible(bool shown) override { visible = shown; }
  void SetTop(Twips) override {}
  void SetLeft(Twips) override {}
  void SetHeight(Twips twips) override { height = twips; }
  void SetWidth(Twips twips) override { width = twips; }
  void DrawFrame(const std::function<void(const FramePixels&)>& draw) override {
    pixels.assign(std::size_t{4} * 3, 0);
    draw({pixels.data(), 4, 3, 4});
    ++presents;
  }
  void ClearFrame() override {}
  bool visible = false;
  Twips width = 0, height = 0;
  std::vector<std::uint32_t> pixels;
  int presents = 0;
};

// A movie whose main timeline runs `frames` frames at `rate` and sends `commands` at frame 2.
struct CoreLog {
  std::vector<double> advances;
  std::size_t pulled = 0;   // samples
  std::uint64_t delay = 0;  // the device's, as last given to the core
  bool playing = false;
  bool loop = true;
  bool held = false;  // the stream sound isn't there yet: AdvanceTo stays on the frame
};

class FakeCore final : public MovieCore {
 public:
  FakeCore(CoreLog& log, double rate, int frames) : log_(log), rate_(rate), frames_(frames) {}
  double FrameRate() const override { return rate_; }
  void SetLoop(bool loop) override { log_.loop = loop; }
  void Play() override { log_.playing = true; }
  void StopPlay() override { log_.playing = false; }
  bool Playing() const override { return log_.playing; }
  void SetOutputDelay(std::uint64_t samples) override { log_.delay = samples; }
  // Frames on the grid of its bounded rate; held, the sound says the next is a quarter period on.
  void AdvanceTo(double seconds) override {
    log_.advances.push_back(seconds);
    const double rate = std::isfinite(rate_) ? std::clamp(rate_, 1.0, 120.0) : 1.0;
    next_ = log_.held ? seconds + 0.25 / rate : (std::floor(seconds * rate) + 1) / rate;
    if (log_.held) return;
    ++frame_;
    if (frame_ >= frames_) log_.playing = false;
  }
  double NextFrameTime() const override { return next_; }
  int CurrentFrame() const override { return frame_; }
  void Render(const FramePixels& frame) override {
    for (int y = 0; y < frame.height; ++y) {
      for (int x = 0; x < frame.width; ++x) {
        frame.pixels[y * frame.stride + x] = 0xFF000000U | static_cast<std::uint32_t>(frame_);
      }
    }
  }
  std::vector<MovieCommand> TakeCommands() override {
    if (frame_ != 2 || taken_) return {};
    taken_ = true;
    return {{"Trace", "a"}, {"Close", ""}};
  }
  void PullAudio(std::span<std::int16_t> stereo) override { log_.pulled += stereo.size(); }

 private:
  CoreLog& log_;
  double rate_;
  int frames_;
  int frame_ = 0;
  double next_ = 0;
  bool taken_ = false;
};

struct FakeAudio final : AudioOutput {
  explicit FakeAudio(int& open) : open_(open) { ++open_; }
  ~FakeAudio() override { --open_; }
  std::uint64_t QueuedFrames() const override { return 3219; }
  int& open_;
};

class SwfMoviePlayerTest : public ::testing::Test {
 protected:
  SwfMoviePlayer Make(double rate = 30, int frames = 100, bool device = true) {
    return SwfMoviePlayer(Platform{surface_,
                                   [this](const PathText& path, std::size_t max_bytes) {
                                     read_limit_ = max_bytes;
                                     ++reads_;
                                     if (path == AsciiPath("missing.swf"))
                                       throw std::runtime_error("No such file");
                                     return swf::MemorySource({'F', 'W', 'S'});
                                   },
                                   [this, rate, frames](std::unique_ptr<swf::ByteSource> file) {
                                     LoadedCore loaded;
                                     if (file->size() != 3) return loaded;
                                     if (refuse_.empty()) {
                                       loaded.core = std::make_unique<FakeCore>(log_, rate, frames);
                                     } else {
                                       loaded.refusal = refuse_;
                                     }
                                     return loaded;
                                   },
                                   [this, device](AudioPull pull) -> std::unique_ptr<AudioOutput> {
                                     if (!device) return nullptr;
                                     pull_ = std::move(pull);
                                     return std::make_unique<FakeAudio>(audio_open_);
                                   },
                                   [this] { return now_; }});
  }

  FakeSurface surface_;
  CoreLog log_;
  std::string refuse_;
  std::size_t read_limit_ = 0;
  int reads_ = 0;
  AudioPull pull_;
  int audio_open_ = 0;
  double now_ = 100;
};

TEST_F(SwfMoviePlayerTest, MovieItCantPlayIsRefusedWithTheReasonAndNeverPlays) {
  struct Case {
    const char* movie;
    const char* refuse;
    const char* refusal;
  };
  const Case cases[] = {
      {"OP.swf", "", ""},
      {"missing.swf", "", "SWF player: No such file"},
      {"OP.swf", "ZWS (LZMA) files are not played", "SWF player: ZWS (LZMA) files are not played"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refusal);
    refuse_ = c.refuse;
    SwfMoviePlayer player = Make();
    player.SetVisible(true);
    player.SetMovie(AsciiPath(c.movie));
    EXPECT_EQ(player.Refusal(), c.refusal);
    EXPECT_EQ(read_limit_, SwfMoviePlayer::kMaxFileBytes);
    player.Play();
    const bool plays = std::string(c.refusal).empty();
    EXPECT_EQ(player.Playing(), plays);
    EXPECT_EQ(player.NextFrameDue().has_value(), plays);
    // The device opens once the first frame is on the screen.
    static_cast<void>(player.RunFrame());
    EXPECT_EQ(audio_open_, 0);
    static_cast<void>(player.RunFrame());
    EXPECT_EQ(audio_open_, plays ? 1 : 0);
    player.StopPlay();
    EXPECT_FALSE(player.Playing());
    EXPECT_EQ(audio_open_, 0);
  }
}

TEST_F(SwfMoviePlayerTest, FramesFallDueOnTheMoviesGridFromPlay) {
  SwfMoviePlayer player = Make(25);
  player.SetMovie(AsciiPath("OP.swf"));
  EXPECT_FALSE(player.NextFrameDue().has_value());
  player.Play();
  EXPECT_FALSE(log_.loop);                        // the movie plays once unless told otherwise
  EXPECT_DOUBLE_EQ(*player.NextFrameDue(), 100);  // the first frame at once
  static_cast<void>(player.RunFrame());
  EXPECT_DOUBLE_EQ(*player.NextFrameDue(), 100.04);
  now_ = 100.13;  // late: the next frame keeps its own time, no burst follows
  static_cast<void>(player.RunFrame());
  EXPECT_DOUBLE_EQ(*player.NextFrameDue(), 100.16);
  ASSERT_EQ(log_.advances.size(), 2U);
  EXPECT_DOUBLE_EQ(log_.advances[0], 0);
  EXPECT_NEAR(log_.advances[1], 0.13, 1e-9);
}

// Two keys down in one tick: the same movie set and played again before its first frame.
TEST_F(SwfMoviePlayerTest, SameMovieSetAndPlayedAgainWhileOpeningCostsNothing) {
  SwfMoviePlayer player = Make(25);
  player.SetMovie(AsciiPath("OP.swf"));
  player.Play();
  now_ = 100.01;
  player.SetMovie(AsciiPath("OP.swf"));
  player.Play();
  EXPECT_EQ(reads_, 1);
  EXPECT_TRUE(player.Playing());
  EXPECT_DOUBLE_EQ(*player.NextFrameDue(), 100);  // still the first Play's grid
  static_cast<void>(player.RunFrame());
  player.SetMovie(AsciiPath("OP.swf"));  // once a frame has run, setting it again reloads it
  EXPECT_EQ(reads_, 2);
}

TEST_F(SwfMoviePlayerTest,
       FrameTheSoundHasNotReachedIsLookedForWhenDueAndKeptFrameDrawnAgainLater) {
  SwfMoviePlayer player = Make(25);
  player.SetVisible(true);
  player.SetMovie(AsciiPath("OP.swf"));
  player.Play();
  static_cast<void>(player.RunFrame());
  EXPECT_EQ(surface_.presents, 1);
  log_.held = true;
  now_ = 100.04;
  static_cast<void>(player.RunFrame());
  EXPECT_EQ(surface_.presents, 1);                   // nothing new to show
  EXPECT_DOUBLE_EQ(*player.NextFrameDue(), 100.05);  // when the core says
  log_.held = false;
  now_ = 100.05;
  static_cast<void>(player.RunFrame());
  EXPECT_EQ(surface_.presents, 2);
  EXPECT_DOUBLE_EQ(*player.NextFrameDue(), 100.08);  // back on the grid
  log_.held = true;
  now_ = 100.14;  // two periods after the last drawing: the same frame again
  static_cast<void>(player.RunFrame());
  EXPECT_EQ(surface_.presents, 3);
}

TEST_F(SwfMoviePlayerTest, FrameRateIsBounded) {
  const std::pair<double, double> rates[] = {{12, 1.0 / 12},
                                             {0, 1},
                                             {-5, 1},
                                             {1000, 1.0 / 120},
                                             {std::numeric_limits<double>::quiet_NaN(), 1},
                                             {std::numeric_limits<double>::infinity(), 1}};
  for (const auto& [rate, period] : rates) {
    SCOPED_TRACE(rate);
    SwfMoviePlayer player = Make(rate);
    player.SetMovie(AsciiPath("OP.swf"));
    player.Play();
    static_cast<void>(player.RunFrame());
    EXPECT_NEAR(*player.NextFrameDue() - now_, period, 1e-9);
  }
}

TEST_F(SwfMoviePlayerTest, CommandsPassInOrderAndTheEndOfTheTimelineEndsPlayback) {
  SwfMoviePlayer player = Make(30, 3);
  player.SetVisible(true);
  player.SetMovie(AsciiPath("OP.swf"));
  player.Play();
  EXPECT_TRUE(player.RunFrame().empty());
  const std::vector<MovieCommand> sent = player.RunFrame();
  EXPECT_EQ(sent, (std::vector<MovieCommand>{{"Trace", "a"}, {"Close", ""}}));
  EXPECT_TRUE(player.Playing());
  EXPECT_EQ(audio_open_, 1);
  static_cast<void>(player.RunFrame());  // the last frame
  EXPECT_EQ(surface_.presents, 3);       // and it is shown
  EXPECT_EQ(surface_.pixels[0], 0xFF000003U);
  EXPECT_FALSE(player.Playing());
  EXPECT_FALSE(player.NextFrameDue().has_value());
  EXPECT_TRUE(player.RunFrame().empty());  // a late call does nothing
  EXPECT_EQ(log_.advances.size(), 3U);
  EXPECT_EQ(audio_open_, 1);  // event sounds play on past the end
  player.StopPlay();
  EXPECT_EQ(audio_open_, 0);
}

TEST_F(SwfMoviePlayerTest, HiddenPlayerRunsTheMovieWithoutDrawing) {
  SwfMoviePlayer player = Make();
  player.SetHeight(4500);
  player.SetWidth(6000);
  EXPECT_EQ(surface_.width, 6000);
  player.SetMovie(AsciiPath("OP.swf"));
  player.Play();
  static_cast<void>(player.RunFrame());
  EXPECT_EQ(surface_.presents, 0);
  player.SetVisible(true);
  EXPECT_TRUE(surface_.visible);
  static_cast<void>(player.RunFrame());
  EXPECT_EQ(surface_.presents, 1);
  EXPECT_EQ(log_.advances.size(), 2U);
}

TEST_F(SwfMoviePlayerTest, SoundGoesToTheDeviceOrIsTakenAtThePaceOfTheClock) {
  {
    SwfMoviePlayer player = Make();
    player.SetMovie(AsciiPath("OP.swf"));
    player.Play();
    static_cast<void>(player.RunFrame());  // hidden: the device opens at once
    ASSERT_TRUE(pull_);
    std::vector<std::int16_t> buffer(512);
    pull_(buffer);  // the device's thread
    EXPECT_EQ(log_.pulled, 512U);
    now_ += 1;
    static_cast<void>(player.RunFrame());
    EXPECT_EQ(log_.pulled, 512U);  // the engine never takes the device's share
    EXPECT_EQ(log_.delay, 3219U);  // the core follows the sound as the device plays it
    // A new movie closes the device before the core it pulls from goes.
    player.SetMovie(AsciiPath("OP.swf"));
    EXPECT_EQ(audio_open_, 0);
  }
  log_ = {};
  SwfMoviePlayer silent = Make(30, 100, false);
  silent.SetMovie(AsciiPath("OP.swf"));
  silent.Play();
  now_ += 0.1;
  static_cast<void>(silent.RunFrame());
  EXPECT_EQ(log_.pulled, 2U * 4410);
  now_ += 10;  // a stalled window: a bounded share, the rest is not made up
  static_cast<void>(silent.RunFrame());
  EXPECT_EQ(log_.pulled, 2U * (4410 + 11025));
  now_ += 0.1;
  static_cast<void>(silent.RunFrame());
  EXPECT_EQ(log_.pulled, 2U * (4410 + 11025 + 4410));
}

}  // namespace
}  // namespace launcher::swfplayer
