// The libmpv engine against the real libmpv: mpv's threads wake the test's loop, which then does
// the window thread's part (events, frames), as the launcher's event loop does.
#include "player/mpv/mpv_player.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "player/skipped_movie_line.h"

namespace launcher::mpv {
namespace {

namespace fs = std::filesystem;

class RecordingLayer final : public VideoLayer {
 public:
  void SetVisible(bool /*visible*/) override {}
  void SetTop(Twips /*top*/) override {}
  void SetLeft(Twips /*left*/) override {}
  void SetHeight(Twips /*height*/) override {}
  void SetWidth(Twips /*width*/) override {}
  void DrawFrame(const std::function<void(const FramePixels&)>& render) override {
    std::vector<std::uint32_t> pixels(64 * 48);
    render({pixels.data(), 64, 48, 64});
    ++frames;
  }
  void ClearFrame() override {}

  int frames = 0;
};

// What mpv's threads asked the window's thread to do.
class Wakes {
 public:
  void Events() { Set(events_); }
  void Frame() { Set(frame_); }

  // Does the window thread's part until done() holds; false if mpv went quiet for 20 s first.
  template <typename Done>
  bool Pump(MpvMoviePlayer& player, Done done) {
    while (!done()) {
      std::unique_lock lock(mutex_);
      if (!woken_.wait_for(lock, std::chrono::seconds(20), [this] { return events_ || frame_; })) {
        return false;
      }
      const bool events = std::exchange(events_, false);
      const bool frame = std::exchange(frame_, false);
      lock.unlock();
      if (events) static_cast<void>(player.HandleEvents());
      if (frame) player.DrawFrame();
    }
    return true;
  }

 private:
  void Set(bool& flag) {
    {
      const std::lock_guard lock(mutex_);
      flag = true;
    }
    woken_.notify_one();
  }

  std::mutex mutex_;
  std::condition_variable woken_;
  bool events_ = false;
  bool frame_ = false;
};

class MpvPlayer : public ::testing::Test {
 protected:
  explicit MpvPlayer(const char* soname = MpvLibrary::kSoname) : loader_(soname) {}
  explicit MpvPlayer(MpvLibraryLoader::Opener open) : loader_(std::move(open)) {}

  RecordingLayer layer_;
  Wakes wakes_;
  std::vector<std::string> lines_;
  MpvLibraryLoader loader_;
  MpvMoviePlayer player_{loader_, layer_, [this] { wakes_.Events(); }, [this] { wakes_.Frame(); },
                         [this](const PathText& path, std::string_view reason) {
                           lines_.push_back(SkippedMovieLine(path, reason));
                         }};
};

TEST_F(MpvPlayer, PlaysToTheEndAndDrawsFrames) {
  loader_.Start();
  player_.SetLoop(false);
  player_.SetMovie("av://lavfi:testsrc=size=64x48:rate=25:duration=0.4");
  player_.Play();
  EXPECT_TRUE(player_.Playing());  // from Play on, before mpv has even answered
  ASSERT_TRUE(wakes_.Pump(player_, [this] { return !player_.Playing(); }));
  EXPECT_GT(layer_.frames, 0);
  EXPECT_TRUE(lines_.empty()) << lines_.front();
}

TEST_F(MpvPlayer, StopEndsPlayingAtOnceWithoutAReport) {
  player_.SetMovie("av://lavfi:testsrc=size=64x48:rate=25:duration=30");
  player_.Play();
  ASSERT_TRUE(wakes_.Pump(player_, [this] { return layer_.frames > 0; }));
  player_.StopPlay();
  EXPECT_FALSE(player_.Playing());
  player_.Play();  // played again after the stop, and stopped again at once
  player_.StopPlay();
  EXPECT_FALSE(player_.Playing());
  EXPECT_TRUE(lines_.empty());
}

TEST_F(MpvPlayer, AFileThatIsNoMovieIsSkippedWithMpvsReasonInOneLine) {
  const fs::path movie = fs::temp_directory_path() / ("no-movie-" + std::to_string(::getpid()));
  std::ofstream(movie) << "This is not a movie.\n";
  player_.SetMovie(movie.string());
  player_.Play();
  ASSERT_TRUE(wakes_.Pump(player_, [this] { return !player_.Playing(); }));
  fs::remove(movie);
  ASSERT_EQ(lines_.size(), 1U);
  const std::string prefix = "launcher: movie skipped: " + movie.string() + ": ";
  EXPECT_EQ(lines_[0].rfind(prefix, 0), 0U) << lines_[0];
  EXPECT_NE(lines_[0].find("unrecognized file format"), std::string::npos) << lines_[0];
}

// libmpv with its mpv_command_async wrapped: counts the loadfile commands the player sends.
class MpvCountingLoads : public MpvPlayer {
 protected:
  MpvCountingLoads()
      : MpvPlayer([] {
          auto library = std::make_shared<MpvLibrary>(*MpvLibrary::Open());
          real_command_ = library->command_async;
          library->command_async = &CountingCommand;
          return std::shared_ptr<const MpvLibrary>(std::move(library));
        }) {
    loads_ = 0;
  }

  static int CountingCommand(mpv_handle* handle, std::uint64_t reply, const char** args) {
    if (args != nullptr && args[0] != nullptr && std::string_view(args[0]) == "loadfile") ++loads_;
    return real_command_(handle, reply, args);
  }

  static inline decltype(&::mpv_command_async) real_command_ = nullptr;
  static inline int loads_ = 0;
};

TEST_F(MpvCountingLoads, TheSameMovieSetAgainAndPlayedWhileOpeningIsLoadedOnce) {
  // What a tick with two codes down does (Shift is two): set and play, twice.
  const std::string movie = "av://lavfi:testsrc=size=64x48:rate=25:duration=0.4";
  for (int key = 0; key < 2; ++key) {
    player_.SetMovie(movie);
    player_.Play();
  }
  EXPECT_TRUE(player_.Playing());
  ASSERT_TRUE(wakes_.Pump(player_, [this] { return !player_.Playing(); }));
  EXPECT_EQ(loads_, 1);
  EXPECT_GT(layer_.frames, 0);  // and it plays as one set and play would
  EXPECT_TRUE(lines_.empty()) << lines_.front();

  player_.SetMovie(movie);  // over now: set and played again, it is loaded again
  player_.Play();
  EXPECT_EQ(loads_, 2);
  player_.StopPlay();
}

class MpvMissing : public MpvPlayer {
 protected:
  MpvMissing() : MpvPlayer("libmpv-not-installed.so.2") {}
};

TEST_F(MpvMissing, TheMovieIsSkippedWithTheLoadersReasonInOneLine) {
  loader_.Start();
  player_.SetMovie("/games/x/OP.mp4");
  player_.Play();
  EXPECT_FALSE(player_.Playing());
  player_.SetMovie("/games/x/OP.mp4");  // a second key in the same tick tells nothing new
  player_.Play();
  ASSERT_EQ(lines_.size(), 1U);
  EXPECT_EQ(lines_[0],
            "launcher: movie skipped: /games/x/OP.mp4: libmpv-not-installed.so.2: cannot open "
            "shared object file: No such file or directory");
}

}  // namespace
}  // namespace launcher::mpv
