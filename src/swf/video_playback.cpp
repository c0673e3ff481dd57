#include "swf/video_playback.h"

#include <algorithm>
#include <utility>

namespace swf {

VideoPlayback::VideoPlayback(std::shared_ptr<const VideoStream> stream,
                             std::unique_ptr<VideoDecoder> decoder)
    : stream_(std::move(stream)), decoder_(std::move(decoder)) {
  for (std::size_t f = 0; f < stream_->frames.size(); ++f) {
    if (IsVideoKeyframe(stream_->codec, stream_->frames[f])) keyframes_.push_back(int(f));
  }
}

void VideoPlayback::DecodeTowards(int target, int& budget) {
  // Forward from what was decoded, unless a keyframe lies between; else from the keyframe at or
  // before the target (the first packet without one).
  const auto after = std::upper_bound(keyframes_.begin(), keyframes_.end(), target);
  const int keyframe = after == keyframes_.begin() ? 0 : *std::prev(after);
  int from = keyframe;
  if (target > decoded_ && keyframe <= decoded_) from = decoded_ + 1;
  for (int f = from; f <= target && budget > 0; ++f) {
    const auto packet = stream_->frames[std::size_t(f)];
    decoded_ = f;
    if (packet.empty()) continue;
    --budget;
    have_picture_ |= decoder_->Decode(packet, *picture_);
  }
}

bool VideoPlayback::ShapeFor(int frame, int& budget, Shape& out) {
  if (!decoder_ || stream_->frames.empty()) return false;
  int target = std::min(frame, int(stream_->frames.size()) - 1);
  while (target > 0 && stream_->frames[std::size_t(target)].empty()) --target;
  if (target != decoded_) DecodeTowards(target, budget);
  const Bitmap& p = *picture_;
  if (!have_picture_ || p.width <= 0 || p.height <= 0) return false;
  // The picture stretched over the stream's own size (its packets may decode to another).
  const float w = float(stream_->width > 0 ? stream_->width : p.width) * 20;
  const float h = float(stream_->height > 0 ? stream_->height : p.height) * 20;
  out = Shape{};
  out.bounds = {0, w, 0, h};
  out.fills.emplace_back(BitmapFill{picture_,
                                    Matrix{w / float(p.width), 0, 0, h / float(p.height), 0, 0},
                                    false, stream_->smoothing});
  const Point corners[] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
  for (int i = 0; i < 4; ++i) {
    const Point a = corners[i], b = corners[(i + 1) % 4];
    out.edges.push_back({a, {(a.x + b.x) / 2, (a.y + b.y) / 2}, b, false, 0, 1, 0});
  }
  return true;
}

}  // namespace swf
