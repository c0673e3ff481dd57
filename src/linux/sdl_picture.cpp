#include "linux/sdl_picture.h"

#include <SDL_image.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "launcher/picture_header.h"

namespace launcher::sdl {
namespace {

// A logo file larger than this is refused unread; pictures of the accepted size compress to far
// less.
constexpr off_t kMaxPictureFileBytes = off_t{64} << 20;

const char* SdlTypeName(PictureFormat format) {
  switch (format) {
    case PictureFormat::kJpeg:
      return "JPG";
    case PictureFormat::kPng:
      return "PNG";
    case PictureFormat::kGif:
      return "GIF";
    case PictureFormat::kBmp:
      return "BMP";
    case PictureFormat::kWebp:
      return "WEBP";
  }
  return "";
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  [[nodiscard]] int get() const { return fd_; }

 private:
  int fd_;
};

// The whole file, read only if it is an ordinary file of bounded size: opening without blocking
// so that a named pipe or a device in the logo's place can't stall the window.
std::vector<unsigned char> ReadPictureFile(const PathText& path) {
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) throw std::runtime_error("can't open the picture " + path);
  const int fd = file.get();
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    throw std::runtime_error("the picture is not an ordinary file: " + path);
  }
  if (info.st_size > kMaxPictureFileBytes) {
    throw std::runtime_error("the picture file is too large: " + path);
  }
  std::vector<unsigned char> bytes(static_cast<std::size_t>(info.st_size));
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw std::runtime_error("can't read the picture " + path);
    if (got == 0) break;  // the file shrank while it was read
    filled += static_cast<std::size_t>(got);
  }
  bytes.resize(filled);
  return bytes;
}

}  // namespace

PictureRef LoadSdlPicture(const PathText& path) {
  const std::vector<unsigned char> file = ReadPictureFile(path);
  const std::optional<PictureHeader> header = ReadPictureHeader(file);
  if (!header) throw std::runtime_error("not a JPEG, PNG, GIF, BMP or WebP picture: " + path);
  if (ExceedsPictureLimit(header->width, header->height)) {
    throw std::runtime_error("the picture has more pixels than the launcher shows: " + path);
  }
  // Decoded as the format its header names, so no other decoder ever sees the bytes.
  SDL_RWops* bytes = SDL_RWFromConstMem(file.data(), static_cast<int>(file.size()));
  if (bytes == nullptr) throw SdlError("picture " + path);
  SurfacePtr surface(IMG_LoadTyped_RW(bytes, 1, SdlTypeName(header->format)));
  if (!surface) throw std::runtime_error("can't read the picture " + path + ": " + IMG_GetError());
  return std::make_shared<const SdlPicture>(std::move(surface));
}

}  // namespace launcher::sdl
