// DoAction bodies: the timeline actions and the constant strings they carry; anything else is
// one "other" action whose effect on the stack is unknown.
#include <bit>
#include <cstring>

#include "swf/reader_parts.h"

namespace swf {
namespace {

// Items and strings are charged as they are read: a tag of empty strings can't outgrow the budget.
std::vector<PushItem> ReadPush(ByteReader& r, LoadContext& ctx) {
  std::vector<PushItem> items;
  while (r.remaining() > 0 && r.ok()) {
    PushItem item;
    switch (r.U8()) {
      case 0:
        item.value = r.String();
        break;
      case 1:
        item.value = double(std::bit_cast<float>(r.U32()));
        break;
      case 4:
        r.Skip(1);  // a register: its value is unknown here
        break;
      case 5:
        item.value = double(r.U8() != 0);
        break;
      case 6: {
        const std::uint64_t high = r.U32();
        const std::uint64_t low = r.U32();
        item.value = std::bit_cast<double>((high << 32) | low);
        break;
      }
      case 7:
        item.value = double(static_cast<std::int32_t>(r.U32()));
        break;
      case 8:
        item.constant = r.U8();
        break;
      case 9:
        item.constant = r.U16();
        break;
      case 2:  // null
      case 3:  // undefined
        break;
      default:
        r.Fail();
        return items;
    }
    const auto* text = std::get_if<std::string>(&item.value);
    if (!ctx.Append(items, std::move(item), text ? text->size() : 0)) break;
  }
  return items;
}

}  // namespace

ActionBlock ReadActions(std::span<const std::uint8_t> body, LoadContext& ctx) {
  ActionBlock block;
  ByteReader r(body);
  while (r.ok() && r.remaining() > 0) {
    const std::uint8_t code = r.U8();
    if (code == 0) break;
    ByteReader data(code >= 0x80 ? r.Bytes(r.U16()) : std::span<const std::uint8_t>());
    Action a;
    switch (code) {
      case 0x04:
        a.op = ActionOp::NextFrame;
        break;
      case 0x05:
        a.op = ActionOp::PreviousFrame;
        break;
      case 0x06:
        a.op = ActionOp::Play;
        break;
      case 0x07:
        a.op = ActionOp::Stop;
        break;
      case 0x81:
        a.op = ActionOp::GotoFrame;
        a.frame = data.U16();
        break;
      case 0x83:
        a.op = ActionOp::GetUrl;
        a.text = data.String();
        a.target = data.String();
        break;
      case 0x8C:
        a.op = ActionOp::GotoLabel;
        a.text = data.String();
        break;
      case 0x88: {
        a.op = ActionOp::ConstantPool;
        const std::size_t count = data.U16();
        for (std::size_t i = 0; i < count && data.ok() && data.remaining() > 0; ++i) {
          std::string s = data.String();
          const std::size_t size = s.size();
          if (!ctx.Append(a.pool, std::move(s), size)) break;
        }
        break;
      }
      case 0x96:
        a.op = ActionOp::Push;
        a.items = ReadPush(data, ctx);
        break;
      case 0x8B:
        a.op = ActionOp::SetTarget;
        a.text = data.String();
        break;
      case 0x20:
        a.op = ActionOp::SetTarget2;
        break;
      case 0x9A:
        a.op = ActionOp::GetUrl2;
        break;
      case 0x9F: {
        a.op = ActionOp::GotoFrame2;
        const std::uint8_t flags = data.U8();
        a.play = (flags & 0x01) != 0;
        if (flags & 0x02) a.frame = data.U16();
        break;
      }
      default:
        if (!block.empty() && block.back().op == ActionOp::Other) continue;
        break;
    }
    // Push items and pool strings were charged as they were read.
    if (!ctx.Append(block, std::move(a), a.text.size() + a.target.size())) break;
  }
  return block;
}

}  // namespace swf
