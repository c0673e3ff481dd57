#pragma once
// How a movie engine says why it skipped a movie: once. The launcher plays one movie a run, so the
// first reason is the one that matters; whatever else goes wrong with the movie afterwards, or
// when it is set and played again, tells nothing new. Every engine keeps one SkipOnce.

#include <functional>
#include <string_view>
#include <utility>

#include "vocabulary/path_text.h"

namespace launcher {

// Where a skip goes: the movie's full path and the reason, in the words of the library that
// failed. Each platform writes SkippedMovieLine(path, reason) where its users look for it.
using SkipReporter =
    std::function<void(const PathText& path, std::basic_string_view<PathChar> reason)>;

class SkipOnce {
 public:
  explicit SkipOnce(SkipReporter report) : report_(std::move(report)) {}

  // Passes the first skip on; later ones are dropped.
  void Skip(const PathText& path, std::basic_string_view<PathChar> reason) {
    if (told_) return;
    told_ = true;
    if (report_) report_(path, reason);
  }

 private:
  SkipReporter report_;
  bool told_ = false;
};

}  // namespace launcher
