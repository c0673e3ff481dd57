#pragma once
// The file presence test on POSIX systems, and reading a file with bounded memory.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "vocabulary/path_text.h"

namespace launcher::posix {

// True when the path names a regular file (after following links) whose name doesn't start
// with a dot, the POSIX mark of a hidden file. '*' and '?' in the last path component match as
// wildcards; a match counts when any matching entry is such a file.
bool FilePresent(const PathText& path);

// An ordinary file of at most max_bytes, open for reading in order: opened without blocking, so a
// named pipe or a device in its place can't stall the window. Open throws std::runtime_error in
// the system's words otherwise.
class OrdinaryFile {
 public:
  OrdinaryFile(const PathText& path, std::size_t max_bytes);
  ~OrdinaryFile();
  OrdinaryFile(const OrdinaryFile&) = delete;
  OrdinaryFile& operator=(const OrdinaryFile&) = delete;
  OrdinaryFile(OrdinaryFile&&) = delete;
  OrdinaryFile& operator=(OrdinaryFile&&) = delete;

  // The next bytes, as many as fit in `out` unless the file ends first; throws when it can't be
  // read.
  std::size_t Read(std::span<std::uint8_t> out);
  // The size it had when opened.
  [[nodiscard]] std::size_t size() const { return size_; }

 private:
  std::size_t size_ = 0;  // before fd_: opening sets it
  int fd_;
};

// The whole file, if it is an ordinary file of at most max_bytes (as OrdinaryFile opens it).
[[nodiscard]] std::vector<std::uint8_t> ReadOrdinaryFile(const PathText& path,
                                                         std::size_t max_bytes);

}  // namespace launcher::posix
