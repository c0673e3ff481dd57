// The codecs the core decodes, behind the decoder interface, and what tells their keyframes.
#include <memory>
#include <string>

#include "swf/video.h"
#include "swf/video/h263_decoder.h"
#include "swf/video/screen_video.h"
#include "swf/video/yuv.h"

namespace swf {
namespace {

class SorensonDecoder final : public VideoDecoder {
 public:
  bool Decode(std::span<const std::uint8_t> packet, Bitmap& out) override {
    if (!decoder_.Decode(packet)) return false;
    video::YuvToBgra(decoder_.Picture(), out);
    return true;
  }

 private:
  video::H263Decoder decoder_;
};

class ScreenDecoder final : public VideoDecoder {
 public:
  bool Decode(std::span<const std::uint8_t> packet, Bitmap& out) override {
    if (!decoder_.Decode(packet, picture_)) return false;
    out = picture_;
    return true;
  }

 private:
  video::ScreenVideoDecoder decoder_;
  Bitmap picture_;  // blocks a packet leaves out keep what the one before gave
};

}  // namespace

std::string VideoCodecName(int codec) {
  const char* name = nullptr;
  switch (VideoCodec(codec)) {
    case VideoCodec::SorensonH263:
      name = "Sorenson H.263";
      break;
    case VideoCodec::ScreenVideo:
      name = "Screen Video";
      break;
    case VideoCodec::Vp6:
      name = "VP6";
      break;
    case VideoCodec::Vp6Alpha:
      name = "VP6 with alpha";
      break;
    case VideoCodec::ScreenVideo2:
      name = "Screen Video 2";
      break;
  }
  std::string text = "video codec " + std::to_string(codec);
  return name ? text + " (" + name + ")" : text;
}

std::unique_ptr<VideoDecoder> MakeVideoDecoder(int codec, const VideoDecoderFactory& platform) {
  switch (VideoCodec(codec)) {
    case VideoCodec::SorensonH263:
      return std::make_unique<SorensonDecoder>();
    case VideoCodec::ScreenVideo:
      return std::make_unique<ScreenDecoder>();
    default:
      return platform ? platform(codec) : nullptr;
  }
}

bool IsVideoKeyframe(int codec, std::span<const std::uint8_t> packet) {
  switch (VideoCodec(codec)) {
    case VideoCodec::SorensonH263:
      return video::H263Decoder::IsIntra(packet);
    case VideoCodec::ScreenVideo:
      return video::ScreenVideoDecoder::IsKeyframe(packet);
    case VideoCodec::ScreenVideo2:
      return video::ScreenVideoDecoder::IsKeyframe2(packet);
    case VideoCodec::Vp6:
      // The frame's first bit: 0 for an intra frame.
      return !packet.empty() && (packet[0] & 0x80) == 0;
    case VideoCodec::Vp6Alpha:
      // After the 24-bit offset to the alpha data.
      return packet.size() > 3 && (packet[3] & 0x80) == 0;
  }
  return false;
}

}  // namespace swf
