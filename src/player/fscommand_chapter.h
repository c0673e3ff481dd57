#pragma once
// Movie commands carried by chapter titles: a movie that the built-in engine plays sends a command
// to its host when playback enters a chapter titled "fscommand:NAME" or "fscommand:NAME:ARGS".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

struct MovieCommand {
  std::string command;
  std::string args;

  friend bool operator==(const MovieCommand&, const MovieCommand&) = default;
};

// The command that a chapter title carries, or none. The prefix matches in any letter case, as
// Flash matches its "FSCommand:" URLs; the name ends at the first ':' after it and everything
// beyond that is the arguments, colons included. Name and arguments are kept exactly as written.
[[nodiscard]] std::optional<MovieCommand> ParseCommandChapter(std::string_view title);

// The chapters that playback entered when the current chapter changed from previous (-1: none
// yet) to current, in order. Moving forward passes through every chapter between, even those too
// short to be reported on their own; moving back enters only the new one.
[[nodiscard]] std::vector<std::int64_t> ChaptersEntered(std::int64_t previous,
                                                        std::int64_t current);

}  // namespace launcher
