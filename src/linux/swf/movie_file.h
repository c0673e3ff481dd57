#pragma once
// The SWF player's file on Linux: an ordinary file read in order as the movie plays.

#include <cstddef>
#include <memory>

#include "swf/swf_player.h"
#include "vocabulary/path_text.h"

namespace launcher::sdl {

// Opens the movie as posix::OrdinaryFile does (throws in the system's words); a read that fails
// later ends the file there.
[[nodiscard]] std::unique_ptr<swf::ByteSource> OpenMovieFile(const PathText& path,
                                                             std::size_t max_bytes);

}  // namespace launcher::sdl
