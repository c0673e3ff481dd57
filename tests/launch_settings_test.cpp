#include "settings/launch_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fakes/fake_window.h"

namespace launcher {
namespace {

using fakes::P;
namespace fs = std::filesystem;

class LaunchSettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = fs::temp_directory_path() / (std::string("launch-settings-") + test->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  void Write(const std::string& content) {
    std::ofstream(folder_ / "Start.ini", std::ios::binary) << content;
  }
  LaunchSettings Read() { return ReadLaunchSettings(folder_.native(), rules_); }
  [[nodiscard]] PathText In(const std::string& name) const {
    return JoinPath(folder_.native(), P(name));
  }

  fs::path folder_;
  fakes::PlainTextRules rules_;
};

TEST_F(LaunchSettingsFile, NamesAreJoinedToTheFolderAndTheModeChoosesFullScreen) {
  Write("art\\logo.png\r\nintro.mp4\r\nOther.exe\r\nFULL\r\n");
  const LaunchSettings settings = Read();
  EXPECT_EQ(settings.logo_path, In("art\\logo.png"));
  EXPECT_EQ(settings.movie_path, In("intro.mp4"));
  EXPECT_TRUE(settings.full_screen);
}

TEST_F(LaunchSettingsFile, FullInAnyCaseAfterBlanksIsFullScreenAnythingElseWindowed) {
  for (const char* mode : {"full", "Full", "  fULL", "\"FULL\""}) {
    Write(std::string("a,b,c,") + mode);
    EXPECT_TRUE(Read().full_screen) << mode;
  }
  for (const char* mode : {"FULLSCREEN", "FUL", "\"\"", ",", "window", "\"FULL \""}) {
    Write(std::string("a,b,c,") + mode);
    EXPECT_FALSE(Read().full_screen) << mode;
  }
}

TEST_F(LaunchSettingsFile, AnEmptyFourthLineKeepsTheNamesWindowed) {
  Write("x.jpg\r\ny.swf\r\n\r\n\r\n");  // an empty game line, then an empty mode line
  const LaunchSettings settings = Read();
  EXPECT_EQ(settings.logo_path, In("x.jpg"));
  EXPECT_EQ(settings.movie_path, In("y.swf"));
  EXPECT_FALSE(settings.full_screen);
}

TEST_F(LaunchSettingsFile, AnAbsoluteNameStaysInsideTheFolder) {
  Write("/etc/passwd,C:\\x.swf,c,d");
  const LaunchSettings settings = Read();
  EXPECT_EQ(settings.logo_path, In("/etc/passwd"));
  EXPECT_EQ(settings.movie_path, In("C:\\x.swf"));
}

TEST_F(LaunchSettingsFile, AUtf8MarkIsNoPartOfTheFirstName) {
  Write("\xEF\xBB\xBFlogo.jpg,OP.swf,Game.exe,FULL");
  EXPECT_EQ(Read().logo_path, In("logo.jpg"));
}

TEST_F(LaunchSettingsFile, EveryFailureIsASettingsError) {
  EXPECT_THROW(Read(), SettingsError);          // no file
  Write("logo.jpg\r\nOP.swf\r\nGame.exe\r\n");  // three lines and nothing after
  EXPECT_THROW(Read(), SettingsError);
  fs::remove(folder_ / "Start.ini");
  fs::create_directory(folder_ / "Start.ini");
  EXPECT_THROW(Read(), SettingsError);
}

TEST_F(LaunchSettingsFile, AHugeFileWithNoLineEndFailsAtOnce) {
  // Sparse, so the test writes almost nothing: four gigabytes of NUL bytes and no delimiter.
  { std::ofstream(folder_ / "Start.ini", std::ios::binary) << "logo"; }
  fs::resize_file(folder_ / "Start.ini", 4ULL << 30);
  EXPECT_THROW(Read(), SettingsError);
  // The file was closed on the way out: it can be removed at once, on every system.
  EXPECT_TRUE(fs::remove(folder_ / "Start.ini"));
}

TEST(DefaultLaunchSettings, AreTheDefaultNamesWindowed) {
  const PathText folder = P("game");
  const LaunchSettings defaults = DefaultLaunchSettings(folder);
  EXPECT_EQ(defaults.logo_path, JoinPath(folder, P("logo.jpg")));
  EXPECT_EQ(defaults.movie_path, JoinPath(folder, P("OP.swf")));
  EXPECT_FALSE(defaults.full_screen);
}

}  // namespace
}  // namespace launcher
