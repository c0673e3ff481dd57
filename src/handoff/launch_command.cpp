#include "handoff/launch_command.h"

namespace launcher {
namespace {

bool IsSeparator(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  std::size_t i = 0;

  // The program name: no backslash rules, a quote only groups.
  std::string program;
  if (i < line.size() && line[i] == '"') {
    ++i;
    while (i < line.size() && line[i] != '"') program += line[i++];
    if (i < line.size()) ++i;
  } else {
    while (i < line.size() && !IsSeparator(line[i])) program += line[i++];
  }
  args.push_back(std::move(program));

  while (true) {
    while (i < line.size() && IsSeparator(line[i])) ++i;
    if (i >= line.size()) break;

    std::string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsSeparator(line[i]))) {
      std::size_t backslashes = 0;
      while (i < line.size() && line[i] == '\\') {
        ++backslashes;
        ++i;
      }
      if (i >= line.size() || line[i] != '"') {
        arg.append(backslashes, '\\');
        if (i < line.size() && (quoted || !IsSeparator(line[i]))) arg += line[i++];
        continue;
      }
      arg.append(backslashes / 2, '\\');
      // A run of quotes is counted as Windows counts it: every third quote of the count is a
      // literal one and restarts the count, so "" inside a quoted part gives a quote and ends
      // the part, and """ outside gives a quote and stays outside.
      int count = quoted ? 1 : 0;
      if (backslashes % 2 == 1) {
        arg += '"';
      } else {
        ++count;
      }
      for (++i; i < line.size() && line[i] == '"'; ++i) {
        if (++count == 3) {
          arg += '"';
          count = 0;
        }
      }
      quoted = count == 1;
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::string_view TextAfterWords(std::string_view line, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t word = 0; word < count; ++word) {
    while (i < line.size() && IsSeparator(line[i])) ++i;
    while (i < line.size() && !IsSeparator(line[i])) ++i;
  }
  while (i < line.size() && IsSeparator(line[i])) ++i;
  return line.substr(i);
}

}  // namespace launcher
