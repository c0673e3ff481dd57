#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <random>
#include <string>
#include <vector>

#include "handoff/launch_command.h"

namespace launcher {
namespace {

// What the system makes of the line; an empty line is not asked (Windows then names the
// running program instead).
std::vector<std::string> SystemSplit(const std::string& line) {
  const std::wstring wide(line.begin(), line.end());
  int count = 0;
  LPWSTR* argv = ::CommandLineToArgvW(wide.c_str(), &count);
  if (argv == nullptr) return {};
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) {
    std::string arg;
    for (const wchar_t* c = argv[i]; *c != L'\0'; ++c) arg += static_cast<char>(*c);
    args.push_back(std::move(arg));
  }
  ::LocalFree(argv);
  return args;
}

TEST(SplitCommandLine, MatchesCommandLineToArgvWOnGeneratedLines) {
  // Mostly the characters the rules are about, so runs of quotes and backslashes are common.
  constexpr std::string_view kAlphabet = "\"\"\"\\\\\\  \tab";
  std::mt19937 random(20261207);
  std::uniform_int_distribution<std::size_t> length(1, 24);
  std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);

  constexpr int kLines = 12000;
  int mismatches = 0;
  for (int n = 0; n < kLines; ++n) {
    std::string line;
    for (std::size_t size = length(random); line.size() < size;) line += kAlphabet[pick(random)];
    const std::vector<std::string> expected = SystemSplit(line);
    if (SplitCommandLine(line) != expected && ++mismatches <= 5) {
      ADD_FAILURE() << "splits differently from the system: [" << line << "]";
    }
  }
  EXPECT_EQ(mismatches, 0) << "of " << kLines << " lines";
}

}  // namespace
}  // namespace launcher
