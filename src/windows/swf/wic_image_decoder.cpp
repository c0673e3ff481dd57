#include "windows/swf/wic_image_decoder.h"

#include <windows.h>

#include <wincodec.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <span>

#include "vocabulary/picture_header.h"
#include "windows/scoped_win.h"

namespace launcher::win32 {
namespace {

class WicImageDecoder final : public swf::ImageDecoder {
 public:
  std::optional<swf::Bitmap> Decode(std::span<const std::uint8_t> bytes,
                                    std::uint64_t max_pixels) override {
    if (bytes.empty() || bytes.size() > std::numeric_limits<DWORD>::max()) return std::nullopt;
    // Some decoders (Wine's JPEG one) decode the whole picture as they open it: a size in the
    // header is checked before WIC sees the bytes.
    if (const auto header = ReadPictureHeader(bytes);
        header && std::uint64_t{header->width} * header->height > max_pixels) {
      return std::nullopt;
    }
    if (!factory_ && FAILED(::CoCreateInstance(CLSID_WICImagingFactory1, nullptr,
                                               CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory_)))) {
      return std::nullopt;
    }
    // WIC reads the bytes where they are: the stream neither copies nor frees them.
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    UINT width = 0;
    UINT height = 0;
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-const-cast): WIC's stream only reads them
    BYTE* data = const_cast<BYTE*>(bytes.data());
    if (FAILED(factory_->CreateStream(&stream)) ||
        FAILED(stream->InitializeFromMemory(data, static_cast<DWORD>(bytes.size()))) ||
        FAILED(factory_->CreateDecoderFromStream(stream.Get(), nullptr,
                                                 WICDecodeMetadataCacheOnDemand, &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) || FAILED(frame->GetSize(&width, &height))) {
      return std::nullopt;
    }
    // The size is known from the header: a picture over the limit is refused undecoded.
    if (width == 0 || height == 0 || std::uint64_t{width} * height > max_pixels ||
        std::uint64_t{width} * height * 4 > std::numeric_limits<UINT>::max()) {
      return std::nullopt;
    }
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(factory_->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA,
                                     WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom))) {
      return std::nullopt;
    }
    swf::Bitmap bitmap;
    bitmap.width = static_cast<int>(width);
    bitmap.height = static_cast<int>(height);
    bitmap.pixels.resize(std::size_t{width} * height);
    if (FAILED(converter->CopyPixels(nullptr, width * 4, width * height * 4,
                                     reinterpret_cast<BYTE*>(bitmap.pixels.data())))) {
      return std::nullopt;
    }
    return bitmap;
  }

 private:
  ComPtr<IWICImagingFactory> factory_;
};

}  // namespace

std::unique_ptr<swf::ImageDecoder> MakeWicImageDecoder() {
  return std::make_unique<WicImageDecoder>();
}

}  // namespace launcher::win32
