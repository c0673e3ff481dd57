#include "linux/swf/sdl_image_decoder.h"

#include <SDL.h>
#include <SDL_image.h>

#include <cstring>

#include "linux/sdl_handles.h"
#include "linux/sdl_picture.h"
#include "vocabulary/picture_header.h"

namespace launcher::sdl {
namespace {

// The formats a bitmap tag may hold.
bool BitmapFormat(PictureFormat format) {
  return format == PictureFormat::Jpeg || format == PictureFormat::Png ||
         format == PictureFormat::Gif;
}

std::uint32_t Premultiplied(std::uint32_t argb) {
  const std::uint32_t alpha = argb >> 24;
  if (alpha == 255) return argb;
  const auto scale = [alpha](std::uint32_t channel) { return (channel * alpha + 127) / 255; };
  return alpha << 24 | scale(argb >> 16 & 0xFF) << 16 | scale(argb >> 8 & 0xFF) << 8 |
         scale(argb & 0xFF);
}

}  // namespace

std::optional<swf::Bitmap> SdlImageDecoder::Decode(std::span<const std::uint8_t> bytes,
                                                   std::uint64_t max_pixels) {
  // The size comes from the header, before a pixel is decoded.
  const std::optional<PictureHeader> header = ReadPictureHeader(bytes);
  if (!header) return std::nullopt;
  if (!BitmapFormat(header->format)) return std::nullopt;
  if (std::uint64_t{header->width} * header->height > max_pixels) return std::nullopt;

  SDL_RWops* stream = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
  if (stream == nullptr) return std::nullopt;
  const SurfacePtr decoded(IMG_LoadTyped_RW(stream, 1, SdlImageType(header->format)));
  if (!decoded) return std::nullopt;
  // A decoder may disagree with the header it was given: the limit holds for what it made too.
  if (std::uint64_t(decoded->w) * std::uint64_t(decoded->h) > max_pixels) return std::nullopt;
  // ARGB8888 is the core's 0xAARRGGBB in native order.
  const SurfacePtr argb(SDL_ConvertSurfaceFormat(decoded.get(), SDL_PIXELFORMAT_ARGB8888, 0));
  if (!argb || SDL_LockSurface(argb.get()) != 0) return std::nullopt;
  swf::Bitmap bitmap;
  bitmap.width = argb->w;
  bitmap.height = argb->h;
  bitmap.pixels.resize(std::size_t(argb->w) * std::size_t(argb->h));
  const auto* rows = static_cast<const std::uint8_t*>(argb->pixels);
  for (int y = 0; y < argb->h; ++y) {
    std::uint32_t* out = bitmap.pixels.data() + std::size_t(y) * std::size_t(argb->w);
    std::memcpy(out, rows + std::size_t(y) * std::size_t(argb->pitch),
                std::size_t(argb->w) * sizeof(std::uint32_t));
    for (int x = 0; x < argb->w; ++x) out[x] = Premultiplied(out[x]);
  }
  SDL_UnlockSurface(argb.get());
  return bitmap;
}

}  // namespace launcher::sdl
