// PlaceObject3's effects: the filter list, the blend mode, the bitmap cache, visibility and the
// opaque background, in the file's order after the clip depth.
#include <bit>
#include <cmath>

#include "swf/reader_parts.h"

namespace swf {
namespace {

constexpr std::size_t kMaxFilters = 32;  // per object; more are read past and left out

float Fixed16(ByteReader& r) {
  return float(std::int32_t(r.U32())) / 65536.0f;
}

float Float(ByteReader& r) {
  const float v = std::bit_cast<float>(r.U32());
  return std::isfinite(v) ? v : 0.0f;
}

// The shadow kinds' common tail: blur, angle and distance (not for glows), strength, flags.
void ReadShadowTail(ByteReader& r, ShadowFilter& f, bool offset, int pass_bits) {
  f.blur_x = Fixed16(r);
  f.blur_y = Fixed16(r);
  if (offset) {
    f.angle = Fixed16(r);
    f.distance = Fixed16(r);
  }
  f.strength = r.Fixed8();
  const std::uint8_t flags = r.U8();
  f.inner = (flags & 0x80) != 0;
  f.knockout = (flags & 0x40) != 0;
  f.hide_object = (flags & 0x20) == 0;  // the file says whether the object is drawn too
  if (pass_bits == 4) f.on_top = (flags & 0x10) != 0;
  f.passes = flags & (pass_bits == 4 ? 0x0f : 0x1f);
}

std::optional<Filter> ReadFilter(ByteReader& r) {
  const std::uint8_t id = r.U8();
  switch (id) {
    case 0: {  // drop shadow
      ShadowFilter f;
      f.color = r.ReadRgba();
      ReadShadowTail(r, f, true, 5);
      return f;
    }
    case 1: {
      BlurFilter f;
      f.blur_x = Fixed16(r);
      f.blur_y = Fixed16(r);
      f.passes = r.U8() >> 3;
      return f;
    }
    case 2: {  // glow
      ShadowFilter f;
      f.kind = ShadowKind::Glow;
      f.color = r.ReadRgba();
      ReadShadowTail(r, f, false, 5);
      return f;
    }
    case 3: {  // bevel: the highlight comes first
      ShadowFilter f;
      f.kind = ShadowKind::Bevel;
      f.highlight = r.ReadRgba();
      f.color = r.ReadRgba();
      ReadShadowTail(r, f, true, 4);
      return f;
    }
    case 4:    // gradient glow
    case 7: {  // gradient bevel
      ShadowFilter f;
      f.kind = id == 4 ? ShadowKind::GradientGlow : ShadowKind::GradientBevel;
      const std::uint8_t count = r.U8();
      f.gradient.resize(count);
      for (GradientStop& stop : f.gradient) stop.color = r.ReadRgba();
      for (GradientStop& stop : f.gradient) stop.ratio = r.U8();
      ReadShadowTail(r, f, true, 4);
      return f;
    }
    case 5: {
      ConvolutionFilter f;
      f.columns = r.U8();
      f.rows = r.U8();
      f.divisor = Float(r);
      f.bias = Float(r);
      f.matrix.resize(std::size_t(f.columns) * std::size_t(f.rows));
      for (float& v : f.matrix) v = Float(r);
      f.default_color = r.ReadRgba();
      const std::uint8_t flags = r.U8();
      f.clamp = (flags & 0x02) != 0;
      f.preserve_alpha = (flags & 0x01) != 0;
      return f;
    }
    case 6: {
      ColorMatrixFilter f;
      for (float& v : f.matrix) v = Float(r);
      return f;
    }
    default:
      r.Fail();  // an unknown filter's length is unknown: nothing after it can be read
      return std::nullopt;
  }
}

}  // namespace

void ReadPlaceEffects(ByteReader& r, std::uint8_t flags3, PlaceTag& p) {
  if (flags3 & 0x01) {
    const std::uint8_t count = r.U8();
    std::vector<Filter> filters;
    for (int i = 0; i < count && r.ok(); ++i) {
      std::optional<Filter> f = ReadFilter(r);
      if (f && r.ok() && filters.size() < kMaxFilters) filters.push_back(std::move(*f));
    }
    if (!r.ok()) return;  // a damaged list: the object is drawn without effects
    p.filters = std::move(filters);
  }
  if (flags3 & 0x02) {
    const std::uint8_t mode = r.U8();
    p.blend_mode = mode >= 2 && mode <= 14 ? BlendMode(mode - 1) : BlendMode::Normal;
  }
  if (flags3 & 0x04) p.cache_as_bitmap = r.U8() != 0;
  if (flags3 & 0x20) p.visible = r.U8() != 0;
  if (flags3 & 0x40) p.background = r.ReadRgba();
  if (!r.ok()) {
    p.blend_mode.reset();
    p.cache_as_bitmap.reset();
    p.visible.reset();
    p.background.reset();
  }
}

}  // namespace swf
