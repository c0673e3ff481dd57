#include "launcher/launcher_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "fakes/fake_window.h"
#include "handoff/launch_command.h"

namespace launcher {
namespace {

using fakes::Narrow;
using fakes::P;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace fs = std::filesystem;

constexpr std::uint8_t kDown = 0x80;

fs::path FreshFolder() {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string("launcher-window-") + test->test_suite_name() + "-" + test->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  const fs::path folder = fs::temp_directory_path() / name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

class LauncherWindow : public ::testing::Test {
 protected:
  ~LauncherWindow() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  void WriteSettings(const std::string& content) {
    std::ofstream(folder_ / "Start.ini", std::ios::binary) << content;
  }
  [[nodiscard]] PathText In(const std::string& name) const {
    return JoinPath(folder_.native(), P(name));
  }
  [[nodiscard]] std::string Shown(const std::string& name) const { return Narrow(In(name)); }
  void AddPicture(const std::string& name, Twips width, Twips height) {
    system_.files.insert(In(name));
    system_.pictures[In(name)] = {width, height};
  }
  void AddFile(const std::string& name) { system_.files.insert(In(name)); }
  void Hold(std::initializer_list<int> codes) {
    system_.keys = {};
    for (const int code : codes) system_.keys[static_cast<std::size_t>(code)] = kDown;
  }
  void ReleaseAll() { system_.keys = {}; }

  // A shown logo in the movie phase, with the log cleared.
  void StartMovie() {
    AddPicture("logo.jpg", 6000, 4500);
    AddFile("OP.swf");
    events_.Load();
    Hold({'M'});
    events_.Tick();
    ReleaseAll();
    ASSERT_FALSE(window_.LogoPhase());
    log_.Clear();
  }

  fs::path folder_ = FreshFolder();
  fakes::CallLog log_;
  fakes::FakeForm form_{log_};
  fakes::FakeTimer timer_{log_};
  fakes::FakePlayer player_{log_};
  fakes::FakePictureBox logo_{log_};
  fakes::FakeImage image_{log_};
  fakes::FakeSystem system_{log_};
  fakes::FakeStarter starter_;
  fakes::PlainTextRules text_;
  fakes::RecordingReporter reporter_;
  Main window_{{form_, timer_, player_, logo_, image_},
               {system_, starter_, text_, folder_.native()}};
  EventDispatcher events_{window_, reporter_};
};

// ---- Start-up ------------------------------------------------------------------------------

TEST_F(LauncherWindow, WindowedLayoutTakesThePictureSizeInTheFixedOrder) {
  WriteSettings("art\\logo.png\r\nintro.mp4\r\nOther.exe\r\nwindowed\r\n");
  AddPicture("art\\logo.png", 6000, 4500);

  events_.Load();

  const std::string logo = Shown("art\\logo.png");
  EXPECT_THAT(
      log_.Entries(),
      ElementsAre("FilePresent(" + logo + ")", "Logo.SetVisible(false)", "Logo.SetAutoSize(true)",
                  "LoadPicture(" + logo + ")", "Logo.SetPicture()", "Logo.SetTop(0)",
                  "Logo.SetLeft(0)", "Main.SetHeight(4500)", "Main.SetWidth(6000)",
                  "ImgTemp.SetTop(0)", "ImgTemp.SetLeft(0)", "ImgTemp.SetStretch(false)",
                  "ImgTemp.SetPicture()", "ImgTemp.SetHeight(4500)", "ImgTemp.SetWidth(6000)",
                  "Sleep(100)", "SWFPlayer.SetVisible(false)", "SWFPlayer.SetTop(0)",
                  "SWFPlayer.SetLeft(0)", "SWFPlayer.SetHeight(4500)", "SWFPlayer.SetWidth(6000)",
                  "SWFPlayer.SetLoop(false)", "Timer.SetInterval(50)"));
  EXPECT_TRUE(window_.Loaded());
  EXPECT_TRUE(window_.LogoPhase());
  EXPECT_FALSE(window_.full_screen());
  EXPECT_EQ(window_.movie_path(), In("intro.mp4"));
  EXPECT_EQ(image_.picture, logo_.picture);
  EXPECT_THAT(starter_.started, IsEmpty());
  EXPECT_EQ(events_.ExitCode(), 0);
}

TEST_F(LauncherWindow, FullScreenGoesTopmostAndStretchesOverTheWholeWindow) {
  WriteSettings("logo.jpg,OP.swf,Game.exe,  full");
  AddPicture("logo.jpg", 6000, 4500);
  system_.screen = {1280, 1024};
  // The platform reports the placed window's size back in twips.
  system_.on_set_window_pos = [this](int cx, int cy) {
    form_.width = static_cast<Twips>(cx * 15);
    form_.height = static_cast<Twips>(cy * 15);
  };

  events_.Load();

  EXPECT_TRUE(window_.full_screen());
  EXPECT_THAT(
      log_.After("Logo.SetLeft"),
      ElementsAre("ScreenSize()", "SetWindowPos(4242,-1,0,0,1280,1024,0)",
                  "Logo.SetAutoSize(false)", "Logo.SetHeight(15360)", "Logo.SetWidth(19200)",
                  "ImgTemp.SetTop(0)", "ImgTemp.SetLeft(0)", "ImgTemp.SetStretch(true)",
                  "ImgTemp.SetPicture()", "ImgTemp.SetHeight(15360)", "ImgTemp.SetWidth(19200)",
                  "Sleep(100)", "SWFPlayer.SetVisible(false)", "SWFPlayer.SetTop(0)",
                  "SWFPlayer.SetLeft(0)", "SWFPlayer.SetHeight(15360)", "SWFPlayer.SetWidth(19200)",
                  "SWFPlayer.SetLoop(false)", "Timer.SetInterval(50)"));
  EXPECT_EQ(log_.Count("Main.SetHeight"), 0);
}

TEST_F(LauncherWindow, NoLogoUnloadsAtOnceAndStillStartsTheGame) {
  // No Start.ini either: the default logo is looked for and missing.
  events_.Load();

  EXPECT_THAT(log_.Entries(),
              ElementsAre("FilePresent(" + Shown("logo.jpg") + ")", "Main.Dismiss()"));
  EXPECT_FALSE(window_.Loaded());
  EXPECT_FALSE(window_.LogoPhase());
  EXPECT_THAT(starter_.started, ElementsAre(std::string(kLaunchCommand)));
  EXPECT_EQ(timer_.interval, 0);
  EXPECT_EQ(events_.ExitCode(), 0);
}

TEST_F(LauncherWindow, ALogoThatIsNoPictureFallsBackToTheDefaults) {
  WriteSettings("broken.jpg,intro.mp4,Game.exe,FULL\r\n");
  AddFile("broken.jpg");
  AddPicture("logo.jpg", 3000, 1500);

  events_.Load();

  EXPECT_TRUE(window_.Loaded());
  EXPECT_TRUE(window_.LogoPhase());
  EXPECT_EQ(window_.LogoPath(), In("logo.jpg"));
  EXPECT_EQ(window_.movie_path(), In("OP.swf"));
  EXPECT_FALSE(window_.full_screen());
  EXPECT_EQ(log_.Count("SetWindowPos"), 0);
  EXPECT_EQ(form_.height, 1500);
  EXPECT_EQ(form_.width, 3000);
  EXPECT_THAT(reporter_.lines, IsEmpty());
}

TEST_F(LauncherWindow, ALogoThatIsNoPictureWithoutADefaultLogoUnloads) {
  WriteSettings("broken.jpg,intro.mp4,Game.exe,FULL\r\n");
  AddFile("broken.jpg");

  events_.Load();

  EXPECT_FALSE(window_.Loaded());
  EXPECT_EQ(form_.dismissals, 1);
  EXPECT_EQ(starter_.started.size(), 1U);
  EXPECT_EQ(events_.ExitCode(), 0);
}

// Every step of the first run of the logo sequence can fail; each failure takes the one fallback.
// The steps of a full-screen first run, in the order they are taken.
constexpr std::array<const char*, 23> kFirstRunSteps = {
    "FilePresent",          "Logo.SetVisible",    "Logo.SetAutoSize",  "LoadPicture",
    "Logo.SetPicture",      "Logo.SetTop",        "Logo.SetLeft",      "ScreenSize",
    "Logo.SetHeight",       "Logo.SetWidth",      "ImgTemp.SetTop",    "ImgTemp.SetLeft",
    "ImgTemp.SetStretch",   "ImgTemp.SetPicture", "ImgTemp.SetHeight", "ImgTemp.SetWidth",
    "SWFPlayer.SetVisible", "SWFPlayer.SetTop",   "SWFPlayer.SetLeft", "SWFPlayer.SetHeight",
    "SWFPlayer.SetWidth",   "SWFPlayer.SetLoop",  "Timer.SetInterval"};

class FirstRunFailure : public LauncherWindow, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(FirstRunFailure, TakesTheDefaultsOnceAndKeepsWhatWasDone) {
  WriteSettings("custom.png\r\ncustom.mp4\r\nGame.exe\r\nFULL\r\n");
  AddPicture("custom.png", 6000, 4500);
  AddPicture("logo.jpg", 3000, 1500);
  log_.FailNext(kFirstRunSteps[GetParam()]);

  events_.Load();

  EXPECT_TRUE(window_.Loaded());
  EXPECT_TRUE(window_.LogoPhase());
  EXPECT_EQ(window_.LogoPath(), In("logo.jpg"));
  EXPECT_EQ(window_.movie_path(), In("OP.swf"));
  EXPECT_FALSE(window_.full_screen());
  EXPECT_EQ(timer_.interval, 50);
  EXPECT_EQ(log_.Count("LoadPicture(" + Shown("logo.jpg") + ")"), 1);
  // The second run lays out windowed; a topmost placement made before the failure stays.
  EXPECT_EQ(form_.height, 1500);
  EXPECT_EQ(form_.width, 3000);
  const bool failed_after_placement = GetParam() > 7;  // past ScreenSize
  EXPECT_EQ(log_.Count("SetWindowPos"), failed_after_placement ? 1 : 0);
  EXPECT_THAT(starter_.started, IsEmpty());
  EXPECT_THAT(reporter_.lines, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(EachStep, FirstRunFailure,
                         ::testing::Range<std::size_t>(0, kFirstRunSteps.size()),
                         [](const ::testing::TestParamInfo<std::size_t>& step) {
                           std::string name = kFirstRunSteps[step.param];
                           std::erase(name, '.');
                           return name;
                         });

TEST_F(LauncherWindow, AFailureAfterTheTopmostPlacementLeavesItInPlace) {
  WriteSettings("custom.png,custom.mp4,Game.exe,FULL");
  AddPicture("custom.png", 6000, 4500);
  AddPicture("logo.jpg", 3000, 1500);
  log_.FailNext("ImgTemp.SetStretch");

  events_.Load();

  EXPECT_EQ(log_.Count("SetWindowPos"), 1);
  EXPECT_THAT(log_.After("SetWindowPos"), ::testing::Contains("Main.SetHeight(1500)"));
  EXPECT_FALSE(window_.full_screen());
}

TEST_F(LauncherWindow, AFailureInTheSecondRunReachesTheEventLoopAndStillStartsTheGame) {
  WriteSettings("custom.png,custom.mp4,Game.exe,windowed");
  AddPicture("custom.png", 6000, 4500);
  AddPicture("logo.jpg", 3000, 1500);
  log_.FailNext("LoadPicture", 2);

  events_.Load();

  EXPECT_FALSE(events_.WindowLoaded());
  EXPECT_EQ(timer_.interval, 0);
  ASSERT_EQ(reporter_.lines.size(), 1U);
  EXPECT_THAT(reporter_.lines[0], HasSubstr("load"));
  EXPECT_THAT(reporter_.lines[0], HasSubstr("LoadPicture failed"));
  EXPECT_EQ(starter_.started.size(), 1U);
  EXPECT_EQ(events_.ExitCode(), 1);
}

TEST_F(LauncherWindow, AFailingLaunchStillDismissesTheWindowOnceAndIsReported) {
  starter_.fail = true;  // no logo: the unload inside the load handler fails to start a process

  events_.Load();

  EXPECT_FALSE(events_.WindowLoaded());
  EXPECT_EQ(form_.dismissals, 1);
  EXPECT_EQ(starter_.started.size(), 1U);   // tried once, never again
  EXPECT_EQ(log_.Count("LoadPicture"), 0);  // the fallback doesn't lay out a window that is gone
  ASSERT_EQ(reporter_.lines.size(), 1U);
  EXPECT_THAT(reporter_.lines[0], HasSubstr("no process"));
  EXPECT_EQ(events_.ExitCode(), 1);
}

// ---- Logo phase ----------------------------------------------------------------------------

class LogoPhaseKey : public LauncherWindow, public ::testing::WithParamInterface<int> {};

TEST_P(LogoPhaseKey, AnyHeldCodeStartsTheMovie) {
  AddPicture("logo.jpg", 6000, 4500);
  AddFile("OP.swf");
  events_.Load();
  log_.Clear();

  Hold({GetParam()});
  events_.Tick();

  EXPECT_THAT(
      log_.Entries(),
      ElementsAre("Timer.SetInterval(0)", "FilePresent(" + Shown("OP.swf") + ")",
                  "SWFPlayer.SetVisible(true)", "SWFPlayer.SetMovie(" + Shown("OP.swf") + ")",
                  "SWFPlayer.Play()", "Timer.SetInterval(50)"));
  EXPECT_FALSE(window_.LogoPhase());
  EXPECT_TRUE(window_.Loaded());
}

// Letters, the right and middle mouse buttons, the first and the last code.
INSTANTIATE_TEST_SUITE_P(Codes, LogoPhaseKey, ::testing::Values('A', 2, 4, 0, 255));

TEST_F(LauncherWindow, KeysNotHeldAtTheTickAreNotSeen) {
  AddPicture("logo.jpg", 6000, 4500);
  AddFile("OP.swf");
  events_.Load();
  log_.Clear();

  system_.keys[20] = 0x01;   // Caps Lock switched on, not held
  system_.keys[144] = 0x7F;  // every bit but the down bit
  events_.Tick();
  events_.Tick();

  EXPECT_THAT(log_.Entries(), IsEmpty());
  EXPECT_TRUE(window_.LogoPhase());
}

TEST_F(LauncherWindow, TwoHeldKeysStartTheMovieTwiceAndEndInTheSameState) {
  AddPicture("logo.jpg", 6000, 4500);
  AddFile("OP.swf");
  events_.Load();
  log_.Clear();

  Hold({16, 160});  // Shift under its general and its left-hand code
  events_.Tick();

  EXPECT_EQ(log_.Count("SWFPlayer.Play"), 2);
  EXPECT_EQ(log_.Entries().back(), "Timer.SetInterval(50)");
  EXPECT_TRUE(player_.visible);
  EXPECT_TRUE(player_.playing);
  EXPECT_FALSE(window_.LogoPhase());
  EXPECT_THAT(starter_.started, IsEmpty());
}

TEST_F(LauncherWindow, AMissingMovieClosesOnTheFirstKeyOnceWhateverIsHeld) {
  AddPicture("logo.jpg", 6000, 4500);
  events_.Load();
  log_.Clear();

  Hold({16, 160, 'A'});
  events_.Tick();
  events_.Tick();

  EXPECT_THAT(log_.Entries(),
              ElementsAre("Timer.SetInterval(0)", "FilePresent(" + Shown("OP.swf") + ")",
                          "Main.Dismiss()"));
  EXPECT_FALSE(player_.visible);
  EXPECT_EQ(starter_.started.size(), 1U);
}

// ---- Movie phase ---------------------------------------------------------------------------

TEST_F(LauncherWindow, ThePlayingMovieKeepsTheWindowUntilItEnds) {
  StartMovie();

  Hold({'X', 2});  // keys other than Esc and the left button do nothing now
  events_.Tick();
  EXPECT_TRUE(window_.Loaded());

  player_.playing = false;  // the movie has ended
  ReleaseAll();
  events_.Tick();

  EXPECT_FALSE(window_.Loaded());
  EXPECT_EQ(starter_.started.size(), 1U);
  EXPECT_EQ(log_.Count("SWFPlayer.Playing"), 2);
}

class MoviePhaseCloseKey : public LauncherWindow, public ::testing::WithParamInterface<int> {};

TEST_P(MoviePhaseCloseKey, ClosesAndStillReadsPlaying) {
  StartMovie();

  Hold({GetParam()});
  events_.Tick();

  EXPECT_THAT(log_.Entries(), ElementsAre("SWFPlayer.Playing()", "Main.Dismiss()"));
  EXPECT_EQ(starter_.started.size(), 1U);
}

INSTANTIATE_TEST_SUITE_P(EscapeAndLeftButton, MoviePhaseCloseKey, ::testing::Values(27, 1));

TEST_F(LauncherWindow, AnEscapeThatStartedTheMovieAndIsStillHeldSkipsIt) {
  AddPicture("logo.jpg", 6000, 4500);
  AddFile("OP.swf");
  events_.Load();

  Hold({27});
  events_.Tick();
  EXPECT_TRUE(player_.playing);
  events_.Tick();

  EXPECT_FALSE(window_.Loaded());
  EXPECT_EQ(starter_.started.size(), 1U);
}

// ---- Movie commands ------------------------------------------------------------------------

TEST_F(LauncherWindow, CloseStopsAndHidesTheMovieAndTheNextTickCloses) {
  StartMovie();

  events_.Command("Close", "");

  EXPECT_THAT(log_.Entries(),
              ElementsAre("Sleep(200)", "SWFPlayer.StopPlay()", "SWFPlayer.SetVisible(false)"));
  EXPECT_TRUE(window_.Loaded());
  EXPECT_THAT(starter_.started, IsEmpty());

  events_.Command("Close", "any arguments");  // again: stopped and hidden once more
  EXPECT_EQ(log_.Count("SWFPlayer.StopPlay"), 2);

  events_.Tick();
  EXPECT_FALSE(window_.Loaded());
  EXPECT_EQ(starter_.started.size(), 1U);
}

TEST_F(LauncherWindow, OtherCommandsOnlyCostTheWait) {
  StartMovie();

  for (const char* command : {"close", "CLOSE", "Close ", "", "quit"}) {
    events_.Command(command, "Close");
  }

  EXPECT_EQ(system_.slept_milliseconds, 100 + 5 * 200);
  EXPECT_EQ(log_.Count("Sleep(200)"), 5);
  EXPECT_EQ(log_.Count("SWFPlayer.StopPlay"), 0);
  EXPECT_TRUE(player_.visible);
}

TEST_F(LauncherWindow, CloseInTheLogoPhaseLeavesTheLogoPhaseGoingOn) {
  AddPicture("logo.jpg", 6000, 4500);
  AddFile("OP.swf");
  events_.Load();

  events_.Command("Close", "");
  EXPECT_TRUE(window_.LogoPhase());
  EXPECT_FALSE(player_.visible);

  Hold({'K'});
  events_.Tick();
  EXPECT_TRUE(player_.visible);
  EXPECT_TRUE(player_.playing);
  EXPECT_TRUE(window_.Loaded());
}

// ---- Closing, whatever its cause -----------------------------------------------------------

TEST_F(LauncherWindow, ASystemCloseInEitherPhaseStartsTheGameOnce) {
  AddPicture("logo.jpg", 6000, 4500);
  AddFile("OP.swf");
  events_.Load();
  events_.CloseRequest();
  events_.CloseRequest();
  events_.Tick();

  EXPECT_EQ(starter_.started.size(), 1U);
  EXPECT_EQ(form_.dismissals, 1);
  EXPECT_EQ(log_.After("Main.Dismiss").size(), 0U);
}

TEST_F(LauncherWindow, ASystemCloseDuringTheMovieStartsTheGameOnce) {
  StartMovie();
  events_.CloseRequest();
  player_.playing = false;
  events_.Tick();
  events_.Command("Close", "");

  EXPECT_EQ(starter_.started.size(), 1U);
  EXPECT_THAT(log_.Entries(), ElementsAre("Main.Dismiss()"));
}

TEST_F(LauncherWindow, AnErrorInTheTickIsReportedAndTheGameStillStartsOnce) {
  AddPicture("logo.jpg", 6000, 4500);
  AddFile("OP.swf");
  events_.Load();
  log_.FailNext("SWFPlayer.Play");

  Hold({'A'});
  events_.Tick();

  // What was done before the failing step stays done.
  EXPECT_TRUE(player_.visible);
  EXPECT_EQ(timer_.interval, 0);
  EXPECT_TRUE(window_.LogoPhase());
  EXPECT_FALSE(window_.Loaded());
  EXPECT_EQ(starter_.started.size(), 1U);
  ASSERT_EQ(reporter_.lines.size(), 1U);
  EXPECT_THAT(reporter_.lines[0], HasSubstr("tick"));
  EXPECT_EQ(events_.ExitCode(), 1);
}

TEST_F(LauncherWindow, AFailedStopLeavesThePlayerVisibleAndClosesThroughTheEventLoop) {
  StartMovie();
  log_.FailNext("SWFPlayer.StopPlay");

  events_.Command("Close", "");

  EXPECT_TRUE(player_.visible);
  EXPECT_FALSE(window_.Loaded());
  EXPECT_EQ(starter_.started.size(), 1U);
  EXPECT_EQ(events_.ExitCode(), 1);
}

}  // namespace
}  // namespace launcher
