#pragma once
// Embedded video: the stream a DefineVideoStream defines with the VideoFrame packets the file
// gives it, and the decoders that turn a packet into a picture. The core decodes Sorenson H.263
// and Screen Video itself; a platform may supply decoders for what it doesn't (On2 VP6).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "swf/shape.h"

namespace swf {

// The CodecID field of DefineVideoStream.
enum class VideoCodec : std::uint8_t {
  SorensonH263 = 2,
  ScreenVideo = 3,
  Vp6 = 4,
  Vp6Alpha = 5,
  ScreenVideo2 = 6,
};

// "video codec 4 (VP6)": how a codec is named where it is left out.
[[nodiscard]] std::string VideoCodecName(int codec);

struct VideoStream {
  int width = 0;  // the character's size in pixels, whatever the packets decode to
  int height = 0;
  int codec = 0;
  int deblocking = 0;  // 0: as the packets say, 1: off, 2..: on
  bool smoothing = false;
  // VideoFrame packets by frame number (the ratio that shows them); empty where none came.
  std::vector<std::span<const std::uint8_t>> frames;
};

// Decodes one stream's packets in order into premultiplied pixels.
class VideoDecoder {
 public:
  VideoDecoder() = default;
  virtual ~VideoDecoder() = default;
  VideoDecoder(const VideoDecoder&) = delete;
  VideoDecoder& operator=(const VideoDecoder&) = delete;
  VideoDecoder(VideoDecoder&&) = delete;
  VideoDecoder& operator=(VideoDecoder&&) = delete;

  // Decodes the packet (a VideoFrame's data after its stream id and frame number) and, when it
  // gives a picture, writes it into `out` (resized to the picture) and returns true. A packet that
  // needs a picture the decoder hasn't seen, or that is damaged, returns false; `out` then keeps
  // what it showed. Never reads outside the packet; memory is bounded by the picture's size.
  virtual bool Decode(std::span<const std::uint8_t> packet, Bitmap& out) = 0;
};

// Makes a platform's decoder for a codec, or null when the platform has none for it.
using VideoDecoderFactory = std::function<std::unique_ptr<VideoDecoder>(int codec)>;

// The core's decoder for `codec`, else the platform's; null when neither decodes it.
[[nodiscard]] std::unique_ptr<VideoDecoder> MakeVideoDecoder(int codec,
                                                             const VideoDecoderFactory& platform);

// True when the packet stands on its own (a decoder may start there); false when it needs the
// pictures before it, or can't be told.
[[nodiscard]] bool IsVideoKeyframe(int codec, std::span<const std::uint8_t> packet);

}  // namespace swf
