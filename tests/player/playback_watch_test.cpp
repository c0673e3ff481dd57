#include "player/playback_watch.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

using namespace std::chrono_literals;

class PlaybackWatchTest : public ::testing::Test {
 protected:
  PlaybackWatch::Clock::time_point now_{};
  PlaybackWatch watch_{[this] { return now_; }};
};

TEST_F(PlaybackWatchTest, PlaysFromPlayUntilTheReportedEnd) {
  watch_.Load();
  EXPECT_FALSE(watch_.Playing());
  watch_.SetDuration(3s);
  watch_.Play();
  EXPECT_TRUE(watch_.Playing());
  now_ += 500ms;
  watch_.Began();
  now_ += 3s;
  EXPECT_TRUE(watch_.Playing());
  watch_.Ended();
  EXPECT_FALSE(watch_.Playing());
  // A late start report doesn't revive an ended movie.
  watch_.Began();
  EXPECT_FALSE(watch_.Playing());
}

TEST_F(PlaybackWatchTest, WatchdogEndsTwoSecondsAfterTheMoviesLengthFromItsStart) {
  watch_.Load();
  watch_.SetDuration(5s);
  watch_.Play();
  now_ += 3s;  // a slow start doesn't eat into the movie
  watch_.Began();
  now_ += 5s + PlaybackWatch::kEndGrace - 1ms;
  EXPECT_TRUE(watch_.Playing());
  now_ += 1ms;
  EXPECT_FALSE(watch_.Playing());
  // Over for good, even when time were to run backwards.
  now_ -= 10s;
  EXPECT_FALSE(watch_.Playing());
}

TEST_F(PlaybackWatchTest, PresentationPositionAtTheLengthEndsPlaybackOnceRunning) {
  watch_.Load();
  watch_.SetDuration(3s);
  watch_.Play();
  watch_.Reached(5s);  // not begun yet: a stale position from before the start
  EXPECT_TRUE(watch_.Playing());
  watch_.Began();
  watch_.Reached(3s - 1ms);
  EXPECT_TRUE(watch_.Playing());
  watch_.Reached(3s);
  EXPECT_FALSE(watch_.Playing());
}

TEST_F(PlaybackWatchTest, PlaybackThatNeverBeginsEndsAfterTheStartGrace) {
  watch_.Load();
  watch_.SetDuration(60s);
  watch_.Play();
  now_ += PlaybackWatch::kStartGrace - 1ms;
  EXPECT_TRUE(watch_.Playing());
  now_ += 1ms;
  EXPECT_FALSE(watch_.Playing());
  watch_.Began();
  EXPECT_FALSE(watch_.Playing());
}

TEST_F(PlaybackWatchTest, UnknownLengthEndsOnlyByReport) {
  watch_.Load();
  watch_.Play();
  watch_.Began();
  now_ += 1h;
  watch_.Reached(1h);
  EXPECT_TRUE(watch_.Playing());
  watch_.Ended();
  EXPECT_FALSE(watch_.Playing());
}

TEST_F(PlaybackWatchTest, FailureBeforeOrDuringPlaybackMeansNotPlaying) {
  // The movie could not be loaded: Play changes nothing.
  watch_.Load();
  watch_.Failed();
  watch_.Play();
  EXPECT_FALSE(watch_.Playing());

  // An error reported while playing.
  watch_.Load();
  watch_.Play();
  watch_.Began();
  watch_.Failed();
  EXPECT_FALSE(watch_.Playing());

  // A new movie starts afresh after a failed one.
  watch_.Load();
  watch_.Play();
  EXPECT_TRUE(watch_.Playing());
}

TEST_F(PlaybackWatchTest, StopEndsPlaybackAndPlayStartsAgain) {
  watch_.Load();
  watch_.SetDuration(2s);
  watch_.Play();
  watch_.Stop();
  EXPECT_FALSE(watch_.Playing());
  watch_.Play();
  EXPECT_TRUE(watch_.Playing());
  // Stop before any Play is harmless.
  watch_.Load();
  watch_.Stop();
  EXPECT_FALSE(watch_.Playing());
}

TEST_F(PlaybackWatchTest, LoadForgetsTheLastMoviesLength) {
  watch_.Load();
  watch_.SetDuration(1s);
  watch_.Load();
  watch_.Play();
  watch_.Began();
  now_ += 1min;
  EXPECT_TRUE(watch_.Playing());
}

}  // namespace
}  // namespace launcher
