#include "linux/posix_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace launcher::posix {
namespace {

namespace fs = std::filesystem;

class PosixFilePresence : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("presence-" + std::to_string(::getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "logo.jpg.d");
    Touch("logo.jpg");
    Touch(".hidden.jpg");
    fs::create_directory(folder_ / "folder.jpg");
    fs::create_symlink(folder_ / "logo.jpg", folder_ / "link.jpg");
    fs::create_symlink(folder_ / "folder.jpg", folder_ / "folderlink.jpg");
    fs::create_symlink(folder_ / "gone.jpg", folder_ / "dangling.jpg");
  }
  void TearDown() override { fs::remove_all(folder_); }

  void Touch(const std::string& name) { std::ofstream(folder_ / name) << "x"; }
  [[nodiscard]] bool Present(const std::string& name) const {
    return FilePresent((folder_ / name).string());
  }

  fs::path folder_;
};

TEST_F(PosixFilePresence, OnlyVisibleRegularFilesCount) {
  EXPECT_TRUE(Present("logo.jpg"));
  EXPECT_TRUE(Present("link.jpg"));  // links are followed
  EXPECT_FALSE(Present("missing.jpg"));
  EXPECT_FALSE(Present("folder.jpg"));
  EXPECT_FALSE(Present("folderlink.jpg"));
  EXPECT_FALSE(Present("dangling.jpg"));
  EXPECT_FALSE(Present(".hidden.jpg"));
  EXPECT_FALSE(FilePresent(""));
}

TEST_F(PosixFilePresence, WildcardsMatchInTheLastComponentOnly) {
  EXPECT_TRUE(Present("l?go.jpg"));
  EXPECT_TRUE(Present("*.jpg"));
  EXPECT_FALSE(Present("*.png"));
  EXPECT_FALSE(Present("fold*"));     // only a folder matches
  EXPECT_FALSE(Present("*hidden*"));  // a hidden file is never found, not even by pattern
  EXPECT_FALSE(Present("logo.jpg.?/x"));
  EXPECT_FALSE(FilePresent((folder_ / "nowhere" / "*.jpg").string()));
}

}  // namespace
}  // namespace launcher::posix
