#include "linux/process_start.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "handoff/launch_command.h"

namespace launcher::posix {
namespace {

namespace fs = std::filesystem;

TEST(TranslateCommandLine, TheInterpreterRunsTheRestOfTheLineAsOneCommand) {
  EXPECT_EQ(
      TranslateCommandLine(kLaunchCommand),
      (PosixCommand{"ntleac", {"Game.exe", "A-G 123 -B 456", "P0", "C932", "L1041", "T-540"}}));
  EXPECT_EQ(TranslateCommandLine("CMD.EXE  /C  tool \"a b\" c"),
            (PosixCommand{"tool", {"a b", "c"}}));
  EXPECT_EQ(TranslateCommandLine("cmd.exe /c \"my tool\" x"), (PosixCommand{"my tool", {"x"}}));
}

TEST(TranslateCommandLine, OtherLinesRunTheirFirstWord) {
  EXPECT_EQ(TranslateCommandLine("game.exe -w \"x y\""), (PosixCommand{"game.exe", {"-w", "x y"}}));
  EXPECT_EQ(TranslateCommandLine("cmd.exe /k tool"), (PosixCommand{"cmd.exe", {"/k", "tool"}}));
  EXPECT_EQ(TranslateCommandLine("cmd.exe /c"), (PosixCommand{"", {}}));  // runs nothing
  EXPECT_EQ(TranslateCommandLine(""), (PosixCommand{"", {}}));
}

// A stand-in for the locale tool in a folder of its own, reporting through a FIFO what it was
// given and how it was started.
class ProcessStart : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("process-start-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "current");
    fs::create_directories(root_ / "onpath");
    fifo_ = root_ / "report";
    ASSERT_EQ(::mkfifo(fifo_.c_str(), 0600), 0);
    previous_folder_ = fs::current_path();
    fs::current_path(root_ / "current");
    if (const char* path = std::getenv("PATH")) previous_path_ = path;
    ::setenv("PATH", (root_ / "onpath").c_str(), 1);
  }
  void TearDown() override {
    fs::current_path(previous_folder_);
    ::setenv("PATH", previous_path_.c_str(), 1);
    fs::remove_all(root_);
  }

  void WriteStandIn(const fs::path& file, const std::string& tag, bool executable = true) {
    std::ofstream(file)
        << "#!/bin/sh\n"
        << "sid=$(/usr/bin/cut -d' ' -f6 /proc/$$/stat)\n"
        << "in=$(/usr/bin/readlink /proc/$$/fd/0); out=$(/usr/bin/readlink /proc/$$/fd/1); "
        << "err=$(/usr/bin/readlink /proc/$$/fd/2)\n"
        << "{\n"
        << "  echo \"tag=" << tag << "\"\n"
        << "  echo \"argc=$#\"\n"
        << "  for a in \"$@\"; do echo \"arg=$a\"; done\n"
        << "  echo \"sid=$sid\"; echo \"in=$in\"; echo \"out=$out\"; echo \"err=$err\"\n"
        << "} > '" << fifo_.string() << "'\n";
    fs::permissions(
        file, executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
  }

  // What the stand-in reported, or nothing when no stand-in ran within a few seconds.
  std::string ReadReport() {
    const int fd = ::open(fifo_.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) return "cannot open the report";
    std::string report;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (true) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd poller{fd, POLLIN, 0};
      if (::poll(&poller, 1, static_cast<int>(left.count())) <= 0) break;
      char buffer[512];
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) {
        report.append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 && (poller.revents & POLLHUP) != 0) {
        break;  // the stand-in has closed its end
      }
    }
    ::close(fd);
    return report;
  }

  static std::multimap<std::string, std::string> Fields(const std::string& report) {
    std::multimap<std::string, std::string> fields;
    std::size_t start = 0;
    while (start < report.size()) {
      std::size_t end = report.find('\n', start);
      if (end == std::string::npos) end = report.size();
      const std::string line = report.substr(start, end - start);
      const std::size_t equals = line.find('=');
      if (equals != std::string::npos)
        fields.emplace(line.substr(0, equals), line.substr(equals + 1));
      start = end + 1;
    }
    return fields;
  }

  static std::string One(const std::multimap<std::string, std::string>& fields,
                         const std::string& key) {
    const auto found = fields.find(key);
    return found == fields.end() ? "<none>" : found->second;
  }

  // No child of the test is left, not even a zombie.
  static bool NoChildLeft() { return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD; }

  fs::path root_, fifo_, previous_folder_;
  std::string previous_path_;
  PosixProcessStarter starter_;
};

TEST_F(ProcessStart, NtleacGetsTheSixArgumentsInASessionOfItsOwnWithNoStreams) {
  WriteStandIn(root_ / "current" / "ntleac", "current");
  starter_.Start(kLaunchCommand);
  const auto fields = Fields(ReadReport());

  EXPECT_EQ(One(fields, "tag"), "current");
  EXPECT_EQ(One(fields, "argc"), "6");
  std::vector<std::string> args;
  for (auto [it, end] = fields.equal_range("arg"); it != end; ++it) args.push_back(it->second);
  EXPECT_EQ(args, (std::vector<std::string>{"Game.exe", "A-G 123 -B 456", "P0", "C932", "L1041",
                                            "T-540"}));
  const std::string session = One(fields, "sid");
  EXPECT_FALSE(session.empty() || session == "<none>");
  EXPECT_NE(session, std::to_string(::getsid(0)));
  EXPECT_EQ(One(fields, "in"), "/dev/null");
  EXPECT_EQ(One(fields, "out"), "/dev/null");
  EXPECT_EQ(One(fields, "err"), "/dev/null");
  EXPECT_TRUE(NoChildLeft());
}

TEST_F(ProcessStart, TheCurrentFolderComesBeforeTheSearchPathAndExeIsAccepted) {
  WriteStandIn(root_ / "onpath" / "ntleac", "path");
  WriteStandIn(root_ / "current" / "ntleac.exe", "current exe");
  starter_.Start(kLaunchCommand);
  EXPECT_EQ(One(Fields(ReadReport()), "tag"), "current exe");

  fs::remove(root_ / "current" / "ntleac.exe");
  WriteStandIn(root_ / "current" / "ntleac", "not executable", false);
  starter_.Start(kLaunchCommand);
  EXPECT_EQ(One(Fields(ReadReport()), "tag"), "path");
  EXPECT_TRUE(NoChildLeft());
}

TEST_F(ProcessStart, AMissingToolIsNoErrorOfTheLaunchers) {
  EXPECT_NO_THROW(starter_.Start(kLaunchCommand));
  EXPECT_TRUE(NoChildLeft());
}

TEST_F(ProcessStart, FindProgramLooksWhereTheInterpreterWould) {
  WriteStandIn(root_ / "onpath" / "tool", "t");
  const std::string on_path = (root_ / "onpath").string();
  EXPECT_EQ(FindProgram("tool", "/nonexistent:" + on_path), on_path + "/tool");
  EXPECT_EQ(FindProgram("tool", on_path + "/"), on_path + "/tool");
  EXPECT_EQ(FindProgram("tool", "/nonexistent"), std::nullopt);
  EXPECT_EQ(FindProgram("onpath", on_path + "/.."), std::nullopt);  // a folder is no program
  EXPECT_EQ(FindProgram("tool", ":"), std::nullopt);  // empty entries are the current folder
  EXPECT_EQ(FindProgram("./sub/tool", on_path), "./sub/tool");
  EXPECT_EQ(FindProgram("", on_path), std::nullopt);
}

}  // namespace
}  // namespace launcher::posix
