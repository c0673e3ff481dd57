#include "player/skipped_movie_line.h"

#include <algorithm>

namespace launcher {

PathText SkippedMovieLine(const PathText& path, std::basic_string_view<PathChar> reason) {
  PathText line = AsciiPath("launcher: movie skipped: ");
  line += path;
  line += AsciiPath(": ");
  line += reason;
  std::replace_if(
      line.begin(), line.end(),
      [](PathChar c) { return c == PathChar{'\n'} || c == PathChar{'\r'}; }, PathChar{' '});
  return line;
}

}  // namespace launcher
