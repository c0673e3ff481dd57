// Scripts: DoAction bodies and the clip event handlers of PlaceObject2/3, kept as the file's
// bytes for the script machine, which reads them as it runs.
#include "swf/reader_parts.h"

namespace swf {

ActionBlock ReadActions(std::span<const std::uint8_t> body, LoadContext&) {
  return ActionBlock{body};
}

std::vector<ClipAction> ReadClipActions(ByteReader& r, int version, LoadContext& ctx) {
  std::vector<ClipAction> out;
  const auto flags = [&r, version]() -> std::uint32_t {
    if (version >= 6) return r.U32();
    return r.U16();
  };
  r.Skip(2);  // reserved
  // Every event the handlers answer: Flash runs a handler for none outside it.
  const std::uint32_t all = flags();
  while (r.ok() && r.remaining() > 0) {
    ClipAction a;
    a.events = flags();
    if (a.events == 0 || !r.ok()) break;
    std::size_t size = r.U32();
    if (a.events & kClipEventKeyPress) {
      a.key = r.U8();
      size = size > 0 ? size - 1 : 0;
    }
    a.code = r.Bytes(std::min(size, r.remaining()));
    a.events &= all;
    if (!r.ok() || !ctx.Append(out, a)) break;
  }
  return out;
}

}  // namespace swf
