// Arbitrary command lines through the Windows splitter and the "text after the first words" cut.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "handoff/launch_command.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t words = data[0] % 8;
  const std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);

  // Splitting only ever drops characters: the arguments never hold more than the line.
  const auto args = launcher::SplitCommandLine(line);
  std::size_t total = 0;
  for (const std::string& arg : args) total += arg.size();
  if (args.empty() || total > line.size()) std::abort();

  // The rest of the line is a tail of it, starting with no blank.
  const std::string_view rest = launcher::TextAfterWords(line, words);
  if (!line.ends_with(rest) || rest.starts_with(' ') || rest.starts_with('\t')) std::abort();
  return 0;
}
