#include "linux/swf/avcodec_video_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <vector>

#include "swf/video/yuv.h"

namespace launcher::sdl {
namespace {

struct CodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

AVCodecID CodecOf(int codec) {
  switch (swf::VideoCodec(codec)) {
    case swf::VideoCodec::SorensonH263:
      return AV_CODEC_ID_FLV1;
    case swf::VideoCodec::ScreenVideo:
      return AV_CODEC_ID_FLASHSV;
    case swf::VideoCodec::Vp6:
      return AV_CODEC_ID_VP6F;
    case swf::VideoCodec::Vp6Alpha:
      return AV_CODEC_ID_VP6A;
    case swf::VideoCodec::ScreenVideo2:
      return AV_CODEC_ID_FLASHSV2;
  }
  return AV_CODEC_ID_NONE;
}

// Pictures larger than this are dropped (the core's own decoders keep the same bound).
constexpr int kMaxPixels = 1280 * 720;

class AvcodecVideoDecoder final : public swf::VideoDecoder {
 public:
  AvcodecVideoDecoder(int codec, std::unique_ptr<AVCodecContext, CodecContextFree> context)
      : codec_(codec),
        context_(std::move(context)),
        frame_(av_frame_alloc()),
        packet_(av_packet_alloc()) {}

  [[nodiscard]] bool Ready() const { return frame_ && packet_; }

  bool Decode(std::span<const std::uint8_t> data, swf::Bitmap& out) override {
    // libavcodec reads a little past the end of what it is given: the padding it asks for.
    padded_.assign(data.begin(), data.end());
    padded_.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    av_packet_unref(packet_.get());
    packet_->data = padded_.data();
    packet_->size = int(data.size());
    // Screen Video 2 keeps a keyframe's blocks for the pictures after it only when told.
    if (swf::IsVideoKeyframe(codec_, data)) packet_->flags |= AV_PKT_FLAG_KEY;
    if (avcodec_send_packet(context_.get(), packet_.get()) < 0) return false;
    bool shown = false;
    while (avcodec_receive_frame(context_.get(), frame_.get()) == 0) {
      shown |= Convert(*frame_, out);
      av_frame_unref(frame_.get());
    }
    return shown;
  }

 private:
  bool Convert(const AVFrame& f, swf::Bitmap& out) {
    if (f.width <= 0 || f.height <= 0 || f.width * f.height > kMaxPixels) return false;
    switch (f.format) {
      case AV_PIX_FMT_YUV420P:
      case AV_PIX_FMT_YUVA420P:
        FromPlanes(f, out);
        return true;
      case AV_PIX_FMT_BGR24:
        out.width = f.width;
        out.height = f.height;
        out.pixels.resize(std::size_t(f.width) * std::size_t(f.height));
        for (int y = 0; y < f.height; ++y) {
          const std::uint8_t* src = f.data[0] + std::ptrdiff_t(y) * f.linesize[0];
          std::uint32_t* dst = out.pixels.data() + std::size_t(y) * std::size_t(f.width);
          for (int x = 0; x < f.width; ++x, src += 3) {
            dst[x] =
                0xFF000000u | std::uint32_t(src[2]) << 16 | std::uint32_t(src[1]) << 8 | src[0];
          }
        }
        return true;
      default:
        return false;
    }
  }

  // Through the core's colour conversion, so that both platforms' pictures agree; an alpha plane
  // is multiplied in.
  void FromPlanes(const AVFrame& f, swf::Bitmap& out) {
    picture_.Resize(f.width, f.height);
    const int cw = (f.width + 1) / 2, ch = (f.height + 1) / 2;
    for (int y = 0; y < f.height; ++y) {
      std::copy_n(f.data[0] + std::ptrdiff_t(y) * f.linesize[0], f.width,
                  picture_.y.data() + std::size_t(y) * std::size_t(picture_.luma_stride));
    }
    const std::size_t cstride = std::size_t(picture_.ChromaStride());
    for (int y = 0; y < ch; ++y) {
      std::copy_n(f.data[1] + std::ptrdiff_t(y) * f.linesize[1], cw,
                  picture_.u.data() + std::size_t(y) * cstride);
      std::copy_n(f.data[2] + std::ptrdiff_t(y) * f.linesize[2], cw,
                  picture_.v.data() + std::size_t(y) * cstride);
    }
    swf::video::YuvToBgra(picture_, out);
    if (f.format != AV_PIX_FMT_YUVA420P) return;
    for (int y = 0; y < f.height; ++y) {
      const std::uint8_t* alpha = f.data[3] + std::ptrdiff_t(y) * f.linesize[3];
      std::uint32_t* row = out.pixels.data() + std::size_t(y) * std::size_t(f.width);
      for (int x = 0; x < f.width; ++x) {
        const std::uint32_t a = alpha[x], c = row[x];
        const auto mul = [a](std::uint32_t v) { return (v * a + 127) / 255; };
        row[x] = a << 24 | mul((c >> 16) & 0xFF) << 16 | mul((c >> 8) & 0xFF) << 8 | mul(c & 0xFF);
      }
    }
  }

  int codec_;
  std::unique_ptr<AVCodecContext, CodecContextFree> context_;
  std::unique_ptr<AVFrame, FrameFree> frame_;
  std::unique_ptr<AVPacket, PacketFree> packet_;
  std::vector<std::uint8_t> padded_;
  swf::video::YuvPicture picture_;
};

}  // namespace

std::unique_ptr<swf::VideoDecoder> MakeAvcodecVideoDecoder(int codec) {
  const AVCodec* decoder = avcodec_find_decoder(CodecOf(codec));
  if (!decoder) return nullptr;
  std::unique_ptr<AVCodecContext, CodecContextFree> context(avcodec_alloc_context3(decoder));
  if (!context) return nullptr;
  // One thread: the player decodes a few packets per frame on the window's thread.
  context->thread_count = 1;
  if (avcodec_open2(context.get(), decoder, nullptr) < 0) return nullptr;
  auto made = std::make_unique<AvcodecVideoDecoder>(codec, std::move(context));
  if (!made->Ready()) return nullptr;
  return made;
}

}  // namespace launcher::sdl
