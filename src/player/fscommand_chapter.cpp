#include "player/fscommand_chapter.h"

#include <algorithm>

#include "vocabulary/path_text.h"

namespace launcher {

std::optional<MovieCommand> ParseCommandChapter(std::string_view title) {
  constexpr std::string_view kPrefix = "fscommand:";
  if (!EqualsIgnoringAsciiCase(title.substr(0, kPrefix.size()), kPrefix)) return std::nullopt;

  const std::string_view rest = title.substr(kPrefix.size());
  const std::size_t colon = rest.find(':');
  if (colon == std::string_view::npos) return MovieCommand{std::string(rest), {}};
  return MovieCommand{std::string(rest.substr(0, colon)), std::string(rest.substr(colon + 1))};
}

std::vector<std::int64_t> ChaptersEntered(std::int64_t previous, std::int64_t current) {
  std::vector<std::int64_t> entered;
  if (current < 0 || current == previous) return entered;
  const std::int64_t first = current > previous ? std::max<std::int64_t>(previous + 1, 0) : current;
  for (std::int64_t chapter = first; chapter <= current; ++chapter) entered.push_back(chapter);
  return entered;
}

}  // namespace launcher
