#include "linux/app_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace launcher::posix {
namespace {

TEST(ApplicationFolder, IsTheFolderOfTheRunningProgramNotTheCurrentOne) {
  EXPECT_EQ(FolderOf("/opt/game/launcher"), "/opt/game");
  EXPECT_EQ(FolderOf("/launcher"), "/");
  EXPECT_EQ(FolderOf("launcher"), ".");

  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path("/");
  const PathText folder = ApplicationFolder();
  std::filesystem::current_path(before);
  EXPECT_EQ(folder, std::filesystem::canonical("/proc/self/exe").parent_path().native());
}

}  // namespace
}  // namespace launcher::posix
