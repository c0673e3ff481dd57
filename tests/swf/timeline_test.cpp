// The timeline, frame by frame: movies written by the tag writer, and after each frame the
// display list, whether the movie plays, and the commands it sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "swf/movie.h"
#include "swf/swf_player.h"
#include "swf_writer.h"

namespace {

using namespace swf_test;

// "f2 play | 1:1 2:3@100,0 2/1:1 | Close(now)": the frame, playing or stopped, each object as
// depth path:character, its translation in twips when not 0, a sprite's frame as [fN], a name
// as <name>; then the commands taken.
std::string Snapshot(swf::Player& player) {
  std::ostringstream s;
  s << "f" << player.CurrentFrame() << (player.Playing() ? " play |" : " stop |");
  for (const swf::DisplayItem& item : player.DisplayList()) {
    s << ' ';
    for (std::size_t i = 0; i < item.path.size(); ++i) s << (i ? "/" : "") << item.path[i];
    s << ":" << item.character;
    if (item.matrix.tx != 0 || item.matrix.ty != 0) {
      s << "@" << int(item.matrix.tx) << "," << int(item.matrix.ty);
    }
    if (item.frame) s << "[f" << item.frame << "]";
    if (!item.name.empty()) s << "<" << item.name << ">";
  }
  s << " |";
  for (const swf::MovieCommand& c : player.TakeCommands()) {
    s << " " << c.command << "(" << c.args << ")";
  }
  return s.str();
}

Bytes SetTarget(const std::string& path) {
  return Act(0x8B, Bits().Str(path).bytes);
}

struct TimelineCase {
  const char* name;
  Bytes tags;
  std::vector<std::string> frames;  // Snapshot after each frame's time
  bool loop = false;
};

const Bytes kShapes =
    Join({RectShape(1, 200, 200, 0xFF0000FF), RectShape(2, 100, 100, 0x00FF00FF)});

std::vector<TimelineCase> Cases() {
  return {
      {"place_move_remove",
       Join({kShapes, PlaceObject2(1, 1), ShowFrame(), PlaceObject2(1, 0, 100, 0),
             PlaceObject2(2, 2, 0, 50, "b"), ShowFrame(), RemoveObject2(1), ShowFrame()}),
       {"f1 play | 1:1 |", "f2 play | 1:1@100,0 2:2@0,50<b> |", "f3 stop | 2:2@0,50<b> |",
        "f3 stop | 2:2@0,50<b> |"}},
      {"stop_action_on_main",
       Join({kShapes, PlaceObject2(1, 1), ShowFrame(), DoAction({Stop()}), ShowFrame(),
             ShowFrame()}),
       {"f1 play | 1:1 |", "f2 stop | 1:1 |", "f2 stop | 1:1 |"}},
      {"sprite_plays_its_own_timeline_and_loops",
       Join({kShapes,
             DefineSprite(5, 2,
                          Join({PlaceObject2(1, 1), ShowFrame(), RemoveObject2(1),
                                PlaceObject2(2, 2), DoAction({Stop()}), ShowFrame()})),
             DefineSprite(6, 2, Join({PlaceObject2(1, 2), ShowFrame(), ShowFrame()})),
             PlaceObject2(1, 5), PlaceObject2(2, 6, 20, 0), ShowFrame(), ShowFrame(), ShowFrame(),
             ShowFrame()}),
       // The sprite's Stop stops the sprite only; the other sprite loops. Sprites placed without
       // a name are named as Flash names them.
       {"f1 play | 1:5[f1]<instance1> 1/1:1 2:6@20,0[f1]<instance2> 2/1:2 |",
        "f2 play | 1:5[f2]<instance1> 1/2:2 2:6@20,0[f2]<instance2> 2/1:2 |",
        "f3 play | 1:5[f2]<instance1> 1/2:2 2:6@20,0[f1]<instance2> 2/1:2 |",
        "f4 stop | 1:5[f2]<instance1> 1/2:2 2:6@20,0[f2]<instance2> 2/1:2 |"}},
      {"goto_label_forward_and_back",
       Join({kShapes, PlaceObject2(1, 1), ShowFrame(), DoAction({GotoLabel("END"), Play()}),
             ShowFrame(), PlaceObject2(2, 2), ShowFrame(), FrameLabel("end"),
             PlaceObject2(3, 1, 0, 10), ShowFrame(), DoAction({GotoFrame(0)}), ShowFrame()}),
       // Frame 2 jumps to "end" (frame 4) with frame 3's object applied on the way; frame 5
       // goes back to frame 1 and stops there: the list is rebuilt from the first frame.
       {"f1 play | 1:1 |", "f4 play | 1:1 2:2 3:1@0,10 |", "f1 stop | 1:1 |", "f1 stop | 1:1 |"}},
      {"fscommands_from_getUrl_and_constants",
       Join({DoAction({GetUrl("FSCommand:Close", "now"), GetUrl("http://example.com", "_blank"),
                       GetUrl("fscommand:quit", "")}),
             ShowFrame(),
             DoAction({ConstantPool({"FSCOMMAND:show", "menu"}), PushConstant(0), PushConstant(1),
                       GetUrl2(), PushString("FSCommand:"), PushString("x"),
                       Act(0x1C) /* a
variable: unknown */, GetUrl2()}),
             ShowFrame()}),
       {"f1 play | | Close(now) quit()", "f2 stop | | show(menu)"}},
      {"tell_target_acts_on_the_named_sprite",
       Join({kShapes,
             DefineSprite(6, 3, Join({PlaceObject2(1, 2), ShowFrame(), ShowFrame(), ShowFrame()})),
             PlaceObject2(1, 6, 0, 0, "Intro"), ShowFrame(),
             DoAction({SetTarget("intro"), Stop(), SetTarget("")}), ShowFrame(),
             DoAction({SetTarget("/missing"), Stop(), SetTarget("")}), ShowFrame(), ShowFrame()}),
       // The sprite stops, not the movie; a target that isn't there stops nothing.
       {"f1 play | 1:6[f1]<Intro> 1/1:2 |", "f2 play | 1:6[f2]<Intro> 1/1:2 |",
        "f3 play | 1:6[f2]<Intro> 1/1:2 |", "f4 stop | 1:6[f2]<Intro> 1/1:2 |"}},
      {"sprite_stops_its_parent",
       Join({DefineSprite(
                 7, 2, Join({ShowFrame(), DoAction({SetTarget("_parent"), Stop()}), ShowFrame()})),
             PlaceObject2(1, 7), ShowFrame(), ShowFrame(), ShowFrame()}),
       {"f1 play | 1:7[f1]<instance1> |", "f2 stop | 1:7[f2]<instance1> |",
        "f2 stop | 1:7[f1]<instance1> |"}},
      {"goto_loop_keeps_playing",
       Join({kShapes, PlaceObject2(1, 1), ShowFrame(), ShowFrame(),
             DoAction({GotoFrame(0), Play()}), ShowFrame()}),
       {"f1 play | 1:1 |", "f2 play | 1:1 |", "f1 play | 1:1 |", "f2 play | 1:1 |"}},
      {"loop_wraps_to_the_first_frame",
       Join({kShapes, PlaceObject2(1, 1), ShowFrame(), RemoveObject2(1), ShowFrame()}),
       {"f1 play | 1:1 |", "f2 play | |", "f1 play | 1:1 |"},
       true},
  };
}

void PrintTo(const TimelineCase& c, std::ostream* os) {
  *os << c.name;
}

class Timeline : public testing::TestWithParam<TimelineCase> {};

// Read whole, and read as it plays (once its thread has read the file: the frames then come
// from the tags read as the timeline reaches them, and must be the same).
TEST_P(Timeline, FrameByFrame) {
  const TimelineCase& c = GetParam();
  for (const bool streamed : {false, true}) {
    SCOPED_TRACE(streamed ? "read as it plays" : "read whole");
    const Bytes file = Movie(c.tags);
    const swf::LoadResult loaded =
        streamed ? swf::LoadMovie(swf::MemorySource(file), nullptr) : swf::LoadMovie(file, nullptr);
    ASSERT_TRUE(loaded.movie) << loaded.refusal;
    while (streamed && loaded.movie->stream->bytes_loaded() < file.size()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    swf::Player player(loaded.movie);
    player.SetLoop(c.loop);
    EXPECT_FALSE(player.Playing());
    player.Play();
    EXPECT_TRUE(player.Playing());
    for (std::size_t i = 0; i < c.frames.size(); ++i) {
      // 10 frames per second: frame i is due at i / 10 s.
      player.AdvanceTo(i == 0 ? 0 : (double(i) + 0.5) / 10);
      EXPECT_EQ(Snapshot(player), c.frames[i]) << "after frame " << i + 1;
    }
  }
}

// A file that arrives slowly: the first frame shows once its tags are read, the timeline waits
// for frames not read yet, and the reading thread ends with the movie wherever it is.
TEST(StreamedMovie, ShowsTheFirstFrameAndStopsCleanly) {
  class SlowSource final : public swf::ByteSource {
   public:
    explicit SlowSource(Bytes bytes) : bytes_(std::move(bytes)) {}
    std::size_t Read(std::span<std::uint8_t> out) override {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      const std::size_t n = std::min({out.size(), bytes_.size() - at_, std::size_t{4096}});
      std::copy_n(bytes_.begin() + std::ptrdiff_t(at_), n, out.begin());
      at_ += n;
      return n;
    }
    [[nodiscard]] std::uint64_t size() const override { return bytes_.size(); }

   private:
    Bytes bytes_;
    std::size_t at_ = 0;
  };
  // 200 frames of 20 KB each: a second or more to read.
  Bytes tags = Join({kShapes, PlaceObject2(1, 1), ShowFrame()});
  for (int f = 1; f < 200; ++f) tags = Join({tags, Tag(255, Bytes(20000)), ShowFrame()});
  auto loaded = swf::LoadMovie(std::make_unique<SlowSource>(Movie(tags)), nullptr);
  ASSERT_TRUE(loaded.movie) << loaded.refusal;
  EXPECT_TRUE(loaded.movie->loading());
  auto player = std::make_unique<swf::Player>(loaded.movie);
  player->Play();
  player->AdvanceTo(0);
  EXPECT_EQ(Snapshot(*player), "f1 play | 1:1 |");
  player->AdvanceTo(0.55);
  EXPECT_LE(player->CurrentFrame(), loaded.movie->stream->frames_loaded());
  EXPECT_LT(loaded.movie->stream->frames_loaded(), 200);
  const auto before = std::chrono::steady_clock::now();
  player.reset();
  loaded.movie.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
}

INSTANTIATE_TEST_SUITE_P(Swf, Timeline, testing::ValuesIn(Cases()),
                         [](const auto& param) { return std::string(param.param.name); });

// StopPlay stops where it is; Play goes on from there, and after the end starts over.
TEST(TimelineControl, StopPlayAndPlayAgain) {
  const auto loaded = swf::LoadMovie(
      Movie(Join({ShowFrame(), ShowFrame(), ShowFrame()}), 4000, 3000, 10, true), nullptr);
  ASSERT_TRUE(loaded.movie) << loaded.refusal;
  swf::Player player(loaded.movie);
  player.Play();
  player.AdvanceTo(0);
  player.StopPlay();
  player.AdvanceTo(0.5);
  EXPECT_EQ(player.CurrentFrame(), 1);
  EXPECT_FALSE(player.Playing());
  player.Play();
  player.AdvanceTo(0.6);
  player.AdvanceTo(0.7);
  EXPECT_EQ(player.CurrentFrame(), 3);
  EXPECT_FALSE(player.Playing());
  player.Play();
  EXPECT_TRUE(player.Playing());
  player.AdvanceTo(0.8);
  EXPECT_EQ(player.CurrentFrame(), 1);
}

}  // namespace

namespace {

// 16-bit mono PCM at 44.1 kHz (format byte 0x3E): `count` samples of `value`.
Bytes Pcm(int count, std::int16_t value) {
  Bits b;
  for (int i = 0; i < count; ++i) b.U16(std::uint16_t(value));
  return b.bytes;
}

TEST(TimelineSound, StartSoundIsMixed) {
  const auto loaded =
      swf::LoadMovie(Movie(Join({Tag(14, Bits().U16(1).U8(0x3E).U32(441).Raw(Pcm(441, 1000)).bytes),
                                 Tag(15, Bits().U16(1).U8(0).bytes), ShowFrame()})),
                     nullptr);
  ASSERT_TRUE(loaded.movie);
  swf::Player player(loaded.movie);
  player.Play();
  player.AdvanceTo(0);
  std::vector<std::int16_t> out(2 * 400);
  player.PullAudio(out);
  EXPECT_EQ(out[0], 1000);
  EXPECT_EQ(out[701], 1000);
}

// 30 frames of a stream sound of 0.1 s per frame at 10 frames per second.
Bytes StreamMovie() {
  Bytes frames;
  for (int i = 0; i < 30; ++i) frames = Join({frames, Tag(19, Pcm(4410, 2000)), ShowFrame()});
  return Movie(Join({Tag(18, Bits().U8(0x0E).U8(0x3E).U16(4410).bytes), frames}));
}

// Once the stream sound is heard, the frames follow the sound pulled, whatever the clock says,
// and the sound never waits for a frame.
TEST(TimelineSound, FramesFollowTheStreamSound) {
  const auto loaded = swf::LoadMovie(StreamMovie(), nullptr);
  ASSERT_TRUE(loaded.movie);
  swf::Player player(loaded.movie);
  player.Play();
  player.AdvanceTo(0);
  std::vector<std::int16_t> out(2 * 4410);
  for (int i = 0; i < 10; ++i) {
    player.PullAudio(out);
    EXPECT_EQ(std::count(out.begin(), out.end(), 2000), std::ptrdiff_t(out.size())) << i;
    player.AdvanceTo(0);  // the clock stands still
  }
  EXPECT_GE(player.CurrentFrame(), 11);
  EXPECT_LE(player.CurrentFrame(), 14);
  // Nothing more is heard: time alone runs the movie no further than a little ahead.
  player.AdvanceTo(100);
  const int held = player.CurrentFrame();
  player.AdvanceTo(200);
  EXPECT_EQ(player.CurrentFrame(), held);
  EXPECT_LE(held, 15);
}

// The same movie through a device that still holds some of what it took: the frame shown is the
// one whose sound is heard, that much later, and the sound, however long the device holds it,
// never waits.
TEST(TimelineSound, FramesFollowTheSoundAsHeard) {
  const auto loaded = swf::LoadMovie(StreamMovie(), nullptr);
  ASSERT_TRUE(loaded.movie);
  // The frame after each 0.1 s pulled, the device holding `delay` samples.
  const auto run = [&loaded](std::uint64_t delay) {
    swf::Player player(loaded.movie);
    player.SetOutputDelay(delay);
    player.Play();
    player.AdvanceTo(0);
    std::vector<int> shown;
    std::vector<std::int16_t> out(2 * 4410);
    for (int i = 0; i < 10; ++i) {
      player.PullAudio(out);
      EXPECT_EQ(std::count(out.begin(), out.end(), 2000), std::ptrdiff_t(out.size()))
          << delay << " " << i;
      player.AdvanceTo(0);
      shown.push_back(player.CurrentFrame());
    }
    return shown;
  };
  const std::vector<int> taken = run(0);
  EXPECT_EQ(taken, (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  std::vector<int> one_frame_later = run(4410);
  for (int& frame : one_frame_later) ++frame;
  EXPECT_EQ(one_frame_later, taken);
  const std::vector<int> slow_start = run(44100);  // Wine's first buffers
  EXPECT_LE(slow_start.back(), taken.back() - 1);
}

}  // namespace
