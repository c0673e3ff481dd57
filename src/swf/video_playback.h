#pragma once
// A video stream as the player shows it: the picture for a frame number, decoded forward from
// the packet before it or from the nearest keyframe, a bounded number of packets at a time.

#include <memory>
#include <vector>

#include "swf/shape.h"
#include "swf/video.h"

namespace swf {

class VideoPlayback {
 public:
  // `decoder` may be null: the stream then shows nothing.
  VideoPlayback(std::shared_ptr<const VideoStream> stream, std::unique_ptr<VideoDecoder> decoder);

  [[nodiscard]] bool CanDecode() const { return decoder_ != nullptr; }

  // The stream's picture for `frame` (its last packet at or before that number) as a rectangle
  // of the stream's size in `out`, decoding at most `budget` packets (taken off it) on the way: a
  // frame further away shows the nearest picture reached and goes on at the next call. False
  // while there is no picture.
  bool ShapeFor(int frame, int& budget, Shape& out);

 private:
  void DecodeTowards(int target, int& budget);

  std::shared_ptr<const VideoStream> stream_;
  std::unique_ptr<VideoDecoder> decoder_;
  std::vector<int> keyframes_;  // frame numbers, ascending
  std::shared_ptr<Bitmap> picture_ = std::make_shared<Bitmap>();
  bool have_picture_ = false;
  int decoded_ = -1;  // the last frame number decoded up to
};

}  // namespace swf
