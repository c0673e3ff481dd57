// Chapter titles as a movie file may carry them, through the movie-command parser.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "player/fscommand_chapter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view title(reinterpret_cast<const char*>(data), size);
  const auto command = launcher::ParseCommandChapter(title);
  if (!command) return 0;
  // The name and its arguments are the title after the prefix, less the one colon between them.
  constexpr std::size_t kPrefix = std::string_view("fscommand:").size();
  const std::size_t parts = command->command.size() + command->args.size();
  if (command->command.find(':') != std::string::npos || parts > size - kPrefix) std::abort();
  return 0;
}
