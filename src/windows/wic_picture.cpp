#include "windows/wic_picture.h"

#include <wincodec.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <utility>

#include "windows/scoped_win.h"
#include "windows/win32_files.h"

namespace launcher::win32 {
namespace {

// A bitmap's pixels must fit one WIC copy (a 32-bit byte count) and GDI's coordinates.
constexpr std::uint64_t kMaxBitmapBytes = std::numeric_limits<std::int32_t>::max();
constexpr UINT kMaxSide = 32767;

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
  ComPtr<IWICFormatConverter> converter;
  ThrowIfFailed(factory->CreateFormatConverter(&converter), "picture: converter");
  ThrowIfFailed(
      converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone,
                            nullptr, 0.0, WICBitmapPaletteTypeCustom),
      "picture: conversion");
  UINT width = 0;
  UINT height = 0;
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
