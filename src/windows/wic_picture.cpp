#include "windows/wic_picture.h"

#include <wincodec.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "vocabulary/picture_header.h"
#include "windows/scoped_win.h"
#include "windows/win32_failure.h"
#include "windows/win32_files.h"

namespace launcher::win32 {
namespace {

// A bitmap's pixels must fit one WIC copy (a 32-bit byte count) and GDI's coordinates.
constexpr std::uint64_t kMaxBitmapBytes = std::numeric_limits<std::int32_t>::max();
constexpr UINT kMaxSide = 32767;

// Some decoders (Wine's JPEG one among them) decode the whole picture as they open it: a size
// written in the file's first bytes is checked before WIC sees the file. Formats not known here,
// or a header further in, are left to the size check after the first frame opens.
void RefuseOversizedPicture(const PathText& path) {
  constexpr std::size_t kHeadBytes = std::size_t{256} << 10;
  std::ifstream file(std::filesystem::path(ExtendedLengthPath(path)), std::ios::binary);
  std::vector<unsigned char> head(kHeadBytes);
  file.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(file.gcount()));
  const std::optional<PictureHeader> header = ReadPictureHeader(head);
  if (header && ExceedsPictureLimit(header->width, header->height)) {
    throw std::runtime_error("picture: more pixels than the launcher shows");
  }
}

}  // namespace

WicPicture::WicPicture(Bitmap bitmap, int width, int height)
    : bitmap_(std::move(bitmap)), width_(width), height_(height) {}

void WicPicture::Paint(HDC dc, const RECT& target, bool stretch) const {
  const MemoryDC source(::CreateCompatibleDC(nullptr));
  if (!source) return;
  const Selection selected(source.get(), bitmap_.get());
  const int width = target.right - target.left;
  const int height = target.bottom - target.top;
  if (stretch) {
    ::SetStretchBltMode(dc, HALFTONE);
    ::SetBrushOrgEx(dc, 0, 0, nullptr);
    ::StretchBlt(dc, target.left, target.top, width, height, source.get(), 0, 0, width_, height_,
                 SRCCOPY);
  } else {
    ::BitBlt(dc, target.left, target.top, std::min(width, width_), std::min(height, height_),
             source.get(), 0, 0, SRCCOPY);
  }
}

PictureRef LoadWicPicture(const PathText& path) {
  RefuseOversizedPicture(path);
  // The first factory: it exists on every Windows from 7 on, with or without its updates.
  ComPtr<IWICImagingFactory> factory;
  ThrowIfFailed(::CoCreateInstance(CLSID_WICImagingFactory1, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(&factory)),
                "picture loader");
  ComPtr<IWICBitmapDecoder> decoder;
  ThrowIfFailed(
      factory->CreateDecoderFromFilename(ExtendedLengthPath(path).c_str(), nullptr, GENERIC_READ,
                                         WICDecodeMetadataCacheOnDemand, &decoder),
      "picture: open");
  ComPtr<IWICBitmapFrameDecode> frame;
  ThrowIfFailed(decoder->GetFrame(0, &frame), "picture: first frame");
  // A picture larger than any screen is refused before a pixel of it is decoded.
  UINT width = 0;
  UINT height = 0;
  ThrowIfFailed(frame->GetSize(&width, &height), "picture: size");
  if (ExceedsPictureLimit(width, height)) {
    throw std::runtime_error("picture: more pixels than the launcher shows");
  }
  ComPtr<IWICFormatConverter> converter;
  ThrowIfFailed(factory->CreateFormatConverter(&converter), "picture: converter");
  ThrowIfFailed(
      converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone,
                            nullptr, 0.0, WICBitmapPaletteTypeCustom),
      "picture: conversion");
  ThrowIfFailed(converter->GetSize(&width, &height), "picture: size");
  const std::uint64_t stride = std::uint64_t{width} * 4;
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide ||
      stride * height > kMaxBitmapBytes) {
    throw std::runtime_error("picture: unsupported size");
  }

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down, like WIC's rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  Bitmap bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap || bits == nullptr) throw std::runtime_error("picture: no memory for the bitmap");
  ThrowIfFailed(converter->CopyPixels(nullptr, static_cast<UINT>(stride),
                                      static_cast<UINT>(stride * height), static_cast<BYTE*>(bits)),
                "picture: decode");
  return std::make_shared<WicPicture>(std::move(bitmap), static_cast<int>(width),
                                      static_cast<int>(height));
}

}  // namespace launcher::win32
