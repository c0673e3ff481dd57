// The fourteen blend modes on premultiplied 8-bit channels.
#include "swf/render/blend.h"

#include <algorithm>
#include <cstdlib>

#include "swf/render/pixel.h"

namespace swf::render {
namespace {

inline std::int32_t Div255(std::int32_t v) {
  return (v + 127) / 255;
}

// B(s, d) times sa da, from the premultiplied channels (all 0..255).
template <BlendMode op>
inline std::int32_t Mix(std::int32_t s, std::int32_t d, std::int32_t sa, std::int32_t da) {
  if constexpr (op == BlendMode::Multiply) {
    return s * d;
  } else if constexpr (op == BlendMode::Screen) {
    return s * da + d * sa - s * d;
  } else if constexpr (op == BlendMode::Lighten) {
    return std::max(s * da, d * sa);
  } else if constexpr (op == BlendMode::Darken) {
    return std::min(s * da, d * sa);
  } else if constexpr (op == BlendMode::Difference) {
    return std::abs(s * da - d * sa);
  } else if constexpr (op == BlendMode::Add) {
    return std::min(sa * da, s * da + d * sa);
  } else if constexpr (op == BlendMode::Subtract) {
    return std::max(0, d * sa - s * da);
  } else if constexpr (op == BlendMode::Overlay) {
    return 2 * d <= da ? 2 * s * d : sa * da - 2 * (da - d) * (sa - s);
  } else {  // Hardlight: overlay with the roles swapped
    return 2 * s <= sa ? 2 * s * d : sa * da - 2 * (da - d) * (sa - s);
  }
}

template <BlendMode op>
std::uint32_t Separable(std::uint32_t s, std::uint32_t d) {
  const auto sa = std::int32_t(s >> 24), da = std::int32_t(d >> 24);
  std::uint32_t out = std::uint32_t(std::clamp(sa + da - Div255(sa * da), 0, 255)) << 24;
  for (int shift = 0; shift < 24; shift += 8) {
    const auto sc = std::int32_t((s >> shift) & 0xff), dc = std::int32_t((d >> shift) & 0xff);
    const std::int32_t v = Div255(sc * (255 - da) + dc * (255 - sa) + Mix<op>(sc, dc, sa, da));
    out |= std::uint32_t(std::clamp(v, 0, 255)) << shift;
  }
  return out;
}

std::uint32_t Invert(std::uint32_t s, std::uint32_t d) {
  const auto sa = std::int32_t(s >> 24), da = std::int32_t(d >> 24);
  std::uint32_t out = d & 0xff000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    const auto dc = std::int32_t((d >> shift) & 0xff);
    const std::int32_t v = Div255((da - dc) * sa + dc * (255 - sa));
    out |= std::uint32_t(std::clamp(v, 0, 255)) << shift;
  }
  return out;
}

template <BlendMode op>
void SeparableRow(const std::uint32_t* src, std::uint32_t* dst, int n) {
  for (int i = 0; i < n; ++i) dst[i] = Separable<op>(src[i], dst[i]);
}

}  // namespace

std::uint32_t Blend(BlendMode mode, std::uint32_t s, std::uint32_t d) {
  switch (mode) {
    case BlendMode::Multiply:
      return Separable<BlendMode::Multiply>(s, d);
    case BlendMode::Screen:
      return Separable<BlendMode::Screen>(s, d);
    case BlendMode::Lighten:
      return Separable<BlendMode::Lighten>(s, d);
    case BlendMode::Darken:
      return Separable<BlendMode::Darken>(s, d);
    case BlendMode::Difference:
      return Separable<BlendMode::Difference>(s, d);
    case BlendMode::Add:
      return Separable<BlendMode::Add>(s, d);
    case BlendMode::Subtract:
      return Separable<BlendMode::Subtract>(s, d);
    case BlendMode::Overlay:
      return Separable<BlendMode::Overlay>(s, d);
    case BlendMode::Hardlight:
      return Separable<BlendMode::Hardlight>(s, d);
    case BlendMode::Invert:
      return Invert(s, d);
    case BlendMode::Alpha:
      return MulPixel(d, s >> 24);
    case BlendMode::Erase:
      return MulPixel(d, 255 - (s >> 24));
    default:  // normal, layer
      return Over(s, d);
  }
}

void BlendRow(BlendMode mode, const std::uint32_t* src, std::uint32_t* dst, int n) {
  if (mode == BlendMode::Normal || mode == BlendMode::Layer) {
    for (int i = 0; i < n; ++i) {
      if (src[i] != 0) dst[i] = Over(src[i], dst[i]);
    }
    return;
  }
  switch (mode) {
    case BlendMode::Multiply:
      return SeparableRow<BlendMode::Multiply>(src, dst, n);
    case BlendMode::Screen:
      return SeparableRow<BlendMode::Screen>(src, dst, n);
    default:  // the rarer modes a pixel at a time
      for (int i = 0; i < n; ++i) dst[i] = Blend(mode, src[i], dst[i]);
  }
}

}  // namespace swf::render
