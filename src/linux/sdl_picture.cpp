#include "linux/sdl_picture.h"

#include <SDL_image.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "linux/posix_files.h"
#include "vocabulary/picture_header.h"

namespace launcher::sdl {
namespace {

// A logo file larger than this is refused unread; pictures of the accepted size compress to far
// less.
constexpr std::size_t kMaxPictureFileBytes = std::size_t{64} << 20;

}  // namespace

const char* SdlImageType(PictureFormat format) {
  switch (format) {
    case PictureFormat::Jpeg:
      return "JPG";
    case PictureFormat::Png:
      return "PNG";
    case PictureFormat::Gif:
      return "GIF";
    case PictureFormat::Bmp:
      return "BMP";
    case PictureFormat::Webp:
      return "WEBP";
  }
  return "";
}

PictureRef LoadSdlPicture(const PathText& path) {
  std::vector<std::uint8_t> file;
  try {
    file = posix::ReadOrdinaryFile(path, kMaxPictureFileBytes);
  } catch (const std::runtime_error& error) {
    throw std::runtime_error("the picture " + path + ": " + error.what());
  }
  const std::optional<PictureHeader> header = ReadPictureHeader(file);
  if (!header) throw std::runtime_error("not a JPEG, PNG, GIF, BMP or WebP picture: " + path);
  if (ExceedsPictureLimit(header->width, header->height)) {
    throw std::runtime_error("the picture has more pixels than the launcher shows: " + path);
  }
  // Decoded as the format its header names, so no other decoder ever sees the bytes.
  SDL_RWops* bytes = SDL_RWFromConstMem(file.data(), static_cast<int>(file.size()));
  if (bytes == nullptr) throw SdlError("picture " + path);
  SurfacePtr surface(IMG_LoadTyped_RW(bytes, 1, SdlImageType(header->format)));
  if (!surface) throw std::runtime_error("can't read the picture " + path + ": " + IMG_GetError());
  return std::make_shared<const SdlPicture>(std::move(surface));
}

}  // namespace launcher::sdl
