#pragma once
// Pixel arithmetic on premultiplied 0xAARRGGBB, rounded as pixman does: the one place every part
// of the rasterizer mixes colours.

#include <algorithm>
#include <cstdint>

#include "swf/shape.h"

namespace swf::render {

inline std::uint32_t Mul8(std::uint32_t a, std::uint32_t b) {
  const std::uint32_t t = a * b + 0x80;
  return (t + (t >> 8)) >> 8;
}

// Each channel of p times a/255.
inline std::uint32_t MulPixel(std::uint32_t p, std::uint32_t a) {
  std::uint32_t rb = (p & 0xff00ffu) * a + 0x800080u;
  rb = ((rb + ((rb >> 8) & 0xff00ffu)) >> 8) & 0xff00ffu;
  std::uint32_t ag = ((p >> 8) & 0xff00ffu) * a + 0x800080u;
  ag = (ag + ((ag >> 8) & 0xff00ffu)) & 0xff00ff00u;
  return rb | ag;
}

// Channel-wise saturating sum.
inline std::uint32_t AddPixel(std::uint32_t a, std::uint32_t b) {
  std::uint32_t rb = (a & 0xff00ffu) + (b & 0xff00ffu);
  rb |= 0x1000100u - ((rb >> 8) & 0x10001u);
  std::uint32_t ag = ((a >> 8) & 0xff00ffu) + ((b >> 8) & 0xff00ffu);
  ag |= 0x1000100u - ((ag >> 8) & 0x10001u);
  return (rb & 0xff00ffu) | ((ag & 0xff00ffu) << 8);
}

inline std::uint32_t Over(std::uint32_t src, std::uint32_t dst) {
  return AddPixel(src, MulPixel(dst, 255 - (src >> 24)));
}

inline std::uint32_t Premultiply(Rgba c) {
  return (std::uint32_t(c.a) << 24) | (Mul8(c.r, c.a) << 16) | (Mul8(c.g, c.a) << 8) |
         Mul8(c.b, c.a);
}

// The straight colour of a premultiplied pixel.
inline Rgba Unpremultiply(std::uint32_t p) {
  const std::uint32_t a = p >> 24;
  if (a == 0) return {0, 0, 0, 0};
  const auto un = [&](int shift) {
    return std::uint8_t(std::min<std::uint32_t>(255, (((p >> shift) & 0xff) * 255 + a / 2) / a));
  };
  return {un(16), un(8), un(0), std::uint8_t(a)};
}

// Between a and b by w/256 (w 0..256), channel by channel.
inline std::uint32_t Lerp(std::uint32_t a, std::uint32_t b, std::uint32_t w) {
  const std::uint32_t iw = 256 - w;
  const std::uint32_t rb = (((a & 0xff00ffu) * iw + (b & 0xff00ffu) * w) >> 8) & 0xff00ffu;
  const std::uint32_t ag = (((a >> 8) & 0xff00ffu) * iw + ((b >> 8) & 0xff00ffu) * w) & 0xff00ff00u;
  return rb | ag;
}

// Rounds a value known to be >= 0 and small: a half added, then truncated (std::lround would be
// a library call in the inner loops).
inline int Round(float v) {
  return int(v + 0.5f);  // NOLINT(bugprone-incorrect-roundings)
}

}  // namespace swf::render
