#pragma once
// Starting the launch command on a system without the Windows command interpreter.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "handoff/process_starter.h"

namespace launcher::posix {

// A command line as this system runs it: the program's name as the line gives it and the
// arguments after it.
struct PosixCommand {
  std::string program;
  std::vector<std::string> arguments;

  friend bool operator==(const PosixCommand&, const PosixCommand&) = default;
};

// Splits a Windows command line. "cmd.exe /c REST" (any letter case) runs REST as one command,
// as the command interpreter would: REST is split again and its first word is the program.
[[nodiscard]] PosixCommand TranslateCommandLine(std::string_view command_line);

// Finds a program named without a folder the way the command interpreter does: in the current
// folder first, then along search_path (':'-separated; an empty entry is the current folder). In
// each folder the name itself is tried, then the name with ".exe". Only executable ordinary files
// count. A name with a '/' is taken as it stands.
[[nodiscard]] std::optional<std::string> FindProgram(const std::string& name,
                                                     std::string_view search_path);

// Starts each command in its own session with its standard streams on /dev/null, never waits for
// it, and leaves no zombie behind: an intermediate child starts it and ends at once, so the
// program is adopted by the system. A program that can't be found or run is left to fail on its
// own, as a missing tool behind the command interpreter would.
class PosixProcessStarter final : public ProcessStarter {
 public:
  void Start(std::string_view command_line) override;
};

}  // namespace launcher::posix
