#include "linux/swf/movie_file.h"

#include <exception>

#include "linux/posix_files.h"

namespace launcher::sdl {
namespace {

class MovieFile final : public swf::ByteSource {
 public:
  MovieFile(const PathText& path, std::size_t max_bytes) : file_(path, max_bytes) {}

  std::size_t Read(std::span<std::uint8_t> out) override {
    try {
      return file_.Read(out);
    } catch (const std::exception&) {
      return 0;
    }
  }
  [[nodiscard]] std::uint64_t size() const override { return file_.size(); }

 private:
  posix::OrdinaryFile file_;
};

}  // namespace

std::unique_ptr<swf::ByteSource> OpenMovieFile(const PathText& path, std::size_t max_bytes) {
  return std::make_unique<MovieFile>(path, max_bytes);
}

}  // namespace launcher::sdl
