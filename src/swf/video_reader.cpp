// The video tags: a stream's definition, and its packets as the frames bring them.
#include <algorithm>

#include "swf/reader_parts.h"

namespace swf {

std::pair<std::uint16_t, std::shared_ptr<VideoStream>> ReadDefineVideoStream(ByteReader& r,
                                                                             LoadContext& ctx) {
  const std::uint16_t id = r.U16();
  r.Skip(2);  // the frame count: packets are kept by the numbers they carry
  auto stream = std::make_shared<VideoStream>();
  stream->width = r.U16();
  stream->height = r.U16();
  const std::uint8_t flags = r.U8();
  stream->deblocking = (flags >> 1) & 0x07;
  stream->smoothing = (flags & 0x01) != 0;
  stream->codec = r.U8();
  if (!r.ok() || ctx.videos.count(id) || !ctx.Charge(sizeof(VideoStream))) return {id, nullptr};
  ctx.videos.emplace(id, stream);
  return {id, std::move(stream)};
}

void ReadVideoFrame(ByteReader& r, LoadContext& ctx) {
  const std::uint16_t id = r.U16();
  const std::size_t number = r.U16();
  const auto packet = r.Rest();
  const auto found = ctx.videos.find(id);
  if (!r.ok() || packet.empty() || found == ctx.videos.end()) return;
  auto& frames = found->second->frames;
  if (number >= frames.size()) {
    // Grown as a list grows, each growth charged: a million tags cost no more than 65,536 slots.
    if (number >= frames.capacity()) {
      const std::size_t capacity = std::max<std::size_t>(number + 1, frames.capacity() * 2);
      if (!ctx.Charge((capacity - frames.capacity()) * sizeof(std::span<const std::uint8_t>)))
        return;
      frames.reserve(capacity);
    }
    frames.resize(number + 1);
  }
  if (frames[number].empty()) frames[number] = packet;
}

}  // namespace swf
