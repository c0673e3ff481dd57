#pragma once
// A small SWF writer for the tests: bit fields, the few records the tests need (rectangles,
// matrices, solid and bitmap rectangle shapes, JPEG bitmaps, placements, actions) and the file
// around them.

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

namespace swf_test {

using Bytes = std::vector<std::uint8_t>;

class Bits {
 public:
  Bits& UB(std::uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) {
      if (used_ == 0) bytes.push_back(0);
      if ((v >> i) & 1u) bytes.back() |= std::uint8_t(0x80u >> used_);
      used_ = (used_ + 1) % 8;
    }
    return *this;
  }
  Bits& SB(std::int32_t v, int n) { return UB(std::uint32_t(v) & ((1u << n) - 1), n); }
  Bits& U8(std::uint32_t v) {
    used_ = 0;
    bytes.push_back(std::uint8_t(v));
    return *this;
  }
  Bits& U16(std::uint32_t v) { return U8(v & 0xFF).U8(v >> 8); }
  Bits& U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
  Bits& Str(const std::string& s) {
    for (char c : s) U8(std::uint8_t(c));
    return U8(0);
  }
  Bits& Raw(const Bytes& b) {
    used_ = 0;
    bytes.insert(bytes.end(), b.begin(), b.end());
    return *this;
  }
  // Signed bits enough for every value.
  static int Width(std::initializer_list<std::int32_t> values) {
    int n = 1;
    for (std::int32_t v : values) {
      while (v < -(1 << (n - 1)) || v >= (1 << (n - 1))) ++n;
    }
    return n;
  }
  Bits& Rect(std::int32_t x0, std::int32_t x1, std::int32_t y0, std::int32_t y1) {
    const int n = Width({x0, x1, y0, y1});
    UB(std::uint32_t(n), 5).SB(x0, n).SB(x1, n).SB(y0, n).SB(y1, n);
    used_ = 0;
    return *this;
  }
  // Scale in 16.16 (65536 keeps the size), translation in twips.
  Bits& Matrix(std::int32_t tx, std::int32_t ty, std::int32_t scale = 65536) {
    UB(scale != 65536, 1);
    if (scale != 65536) {
      const int n = Width({scale});
      UB(std::uint32_t(n), 5).SB(scale, n).SB(scale, n);
    }
    UB(0, 1);
    const int n = Width({tx, ty});
    UB(std::uint32_t(n), 5).SB(tx, n).SB(ty, n);
    used_ = 0;
    return *this;
  }

  Bytes bytes;

 private:
  int used_ = 0;
};

inline Bytes Tag(int code, const Bytes& body) {
  Bits t;
  if (body.size() < 0x3F) {
    t.U16(std::uint32_t(code << 6) | std::uint32_t(body.size()));
  } else {
    t.U16(std::uint32_t(code << 6) | 0x3F).U32(std::uint32_t(body.size()));
  }
  return t.Raw(body).bytes;
}

// The edges of a w x h twips rectangle at the origin, fill style 1 inside, and the end record.
inline void RectEdges(Bits& b, std::int32_t w, std::int32_t h) {
  b.UB(1, 4).UB(0, 4);
  const int n = Bits::Width({w, h});
  b.UB(0, 1).UB(0b00101, 5).UB(std::uint32_t(n), 5).SB(0, n).SB(0, n).UB(1, 1);  // move, fill1
  const auto line = [&](bool vertical, std::int32_t d) {
    b.UB(1, 1).UB(1, 1).UB(std::uint32_t(n - 2), 4).UB(0, 1).UB(vertical, 1).SB(d, n);
  };
  line(false, w);
  line(true, h);
  line(false, -w);
  line(true, -h);
  b.UB(0, 6);
}

// DefineShape3 `id`: a w x h twips rectangle at the origin filled with one RGBA colour.
inline Bytes RectShape(int id, std::int32_t w, std::int32_t h, std::uint32_t rgba) {
  Bits b;
  b.U16(std::uint32_t(id)).Rect(0, w, 0, h);
  b.U8(1).U8(0).U8(rgba >> 24).U8(rgba >> 16).U8(rgba >> 8).U8(rgba).U8(0);  // one fill, no line
  RectEdges(b, w, h);
  return Tag(32, b.bytes);
}

// DefineShape `id`: a w x h pixel rectangle filled with bitmap `bitmap` at its own size, clipped.
inline Bytes BitmapShape(int id, int bitmap, std::int32_t w, std::int32_t h) {
  Bits b;
  b.U16(std::uint32_t(id)).Rect(0, w * 20, 0, h * 20);
  b.U8(1).U8(0x41).U16(std::uint32_t(bitmap)).Matrix(0, 0, 20 << 16).U8(0);  // no line
  RectEdges(b, w * 20, h * 20);
  return Tag(2, b.bytes);
}

// DefineBitsLossless2 `id`: w x h 32-bit pixels (premultiplied ARGB) from `argb`.
inline Bytes DefineBitsLossless2(int id, int w, int h, const std::vector<std::uint32_t>& argb) {
  Bytes raw;
  for (std::uint32_t p : argb) {
    raw.push_back(std::uint8_t(p >> 24));
    raw.push_back(std::uint8_t(p >> 16));
    raw.push_back(std::uint8_t(p >> 8));
    raw.push_back(std::uint8_t(p));
  }
  uLongf size = compressBound(uLong(raw.size()));
  Bytes packed(size);
  compress(packed.data(), &size, raw.data(), uLong(raw.size()));
  packed.resize(size);
  return Tag(36, Bits()
                     .U16(std::uint32_t(id))
                     .U8(5)
                     .U16(std::uint32_t(w))
                     .U16(std::uint32_t(h))
                     .Raw(packed)
                     .bytes);
}

// DefineBitsJPEG2 `id`: the picture's bytes as they are.
inline Bytes DefineBitsJpeg2(int id, const Bytes& picture) {
  return Tag(21, Bits().U16(std::uint32_t(id)).Raw(picture).bytes);
}

// PlaceObject2: `character` at `depth` translated by (x, y) twips; character 0 moves what is
// there instead.
inline Bytes PlaceObject2(int depth, int character, std::int32_t x = 0, std::int32_t y = 0,
                          const std::string& name = "", int clip_depth = 0, int ratio = -1) {
  Bits b;
  const bool matrix = x != 0 || y != 0 || character != 0;
  b.U8((character == 0 ? 0x01 : 0x02) | (matrix ? 0x04 : 0) | (ratio >= 0 ? 0x10 : 0) |
       (name.empty() ? 0 : 0x20) | (clip_depth ? 0x40 : 0));
  b.U16(std::uint32_t(depth));
  if (character) b.U16(std::uint32_t(character));
  if (matrix) b.Matrix(x, y);
  if (ratio >= 0) b.U16(std::uint32_t(ratio));
  if (!name.empty()) b.Str(name);
  if (clip_depth) b.U16(std::uint32_t(clip_depth));
  return Tag(26, b.bytes);
}
inline Bytes RemoveObject2(int depth) {
  return Tag(28, Bits().U16(std::uint32_t(depth)).bytes);
}
inline Bytes ShowFrame() {
  return Tag(1, {});
}
inline Bytes FrameLabel(const std::string& s) {
  return Tag(43, Bits().Str(s).bytes);
}

// Actions, joined into one DoAction by DoAction().
inline Bytes Act(int code, const Bytes& data = {}) {
  Bits b;
  b.U8(std::uint32_t(code));
  if (code >= 0x80) b.U16(std::uint32_t(data.size())).Raw(data);
  return b.bytes;
}
inline Bytes Stop() {
  return Act(0x07);
}
inline Bytes Play() {
  return Act(0x06);
}
inline Bytes GotoFrame(int frame) {
  return Act(0x81, Bits().U16(std::uint32_t(frame)).bytes);
}
inline Bytes GotoLabel(const std::string& s) {
  return Act(0x8C, Bits().Str(s).bytes);
}
inline Bytes GetUrl(const std::string& url, const std::string& target) {
  return Act(0x83, Bits().Str(url).Str(target).bytes);
}
inline Bytes PushString(const std::string& s) {
  return Act(0x96, Bits().U8(0).Str(s).bytes);
}
inline Bytes PushConstant(int index) {
  return Act(0x96, Bits().U8(8).U8(std::uint32_t(index)).bytes);
}
inline Bytes ConstantPool(const std::vector<std::string>& pool) {
  Bits b;
  b.U16(std::uint32_t(pool.size()));
  for (const auto& s : pool) b.Str(s);
  return Act(0x88, b.bytes);
}
inline Bytes GetUrl2() {
  return Act(0x9A, {0});
}
inline Bytes DoAction(std::initializer_list<Bytes> actions) {
  Bits b;
  for (const Bytes& a : actions) b.Raw(a);
  return Tag(12, b.U8(0).bytes);
}

// DefineVideoStream `id` of `frames` frames, w x h pixels, with its codec and smoothing flag.
inline Bytes DefineVideoStream(int id, int frames, int w, int h, int codec, bool smooth = false) {
  return Tag(60, Bits()
                     .U16(std::uint32_t(id))
                     .U16(std::uint32_t(frames))
                     .U16(std::uint32_t(w))
                     .U16(std::uint32_t(h))
                     .U8(smooth ? 1 : 0)
                     .U8(std::uint32_t(codec))
                     .bytes);
}
inline Bytes VideoFrame(int id, int frame, const Bytes& packet) {
  return Tag(61, Bits().U16(std::uint32_t(id)).U16(std::uint32_t(frame)).Raw(packet).bytes);
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Push items: a string, a number (as a double), or undefined.
struct Undefined {};
using Item = std::variant<std::string, double, Undefined>;

inline Bytes Push(std::initializer_list<Item> items) {
  Bits b;
  for (const Item& item : items) {
    if (const auto* s = std::get_if<std::string>(&item)) {
      b.U8(0).Str(*s);
    } else if (const auto* n = std::get_if<double>(&item)) {
      std::uint64_t bits = 0;
      std::memcpy(&bits, n, 8);
      b.U8(6).U32(std::uint32_t(bits >> 32)).U32(std::uint32_t(bits));
    } else {
      b.U8(3);
    }
  }
  return Act(0x96, b.bytes);
}
inline Bytes Op(int code) {
  return Act(code);
}
// function NAME(params) { body }
inline Bytes Function(const std::string& name, const Bytes& body) {
  return Join({Act(0x9B, Bits().Str(name).U16(0).U16(std::uint32_t(body.size())).bytes), body});
}
inline Bytes Trace() {
  return Op(0x26);
}

inline Bytes DefineSprite(int id, int frames, const Bytes& tags) {
  return Tag(
      39, Bits().U16(std::uint32_t(id)).U16(std::uint32_t(frames)).Raw(tags).Raw(Tag(0, {})).bytes);
}

// The file: a stage of w x h twips at `fps`, the tags, End. CWS when compressed.
inline Bytes Movie(const Bytes& tags, std::int32_t w = 4000, std::int32_t h = 3000, int fps = 10,
                   bool compressed = false, int version = 8) {
  Bits body;
  body.Rect(0, w, 0, h).U16(std::uint32_t(fps) << 8).U16(1).Raw(tags).Raw(Tag(0, {}));
  Bits file;
  file.U8(compressed ? 'C' : 'F').U8('W').U8('S').U8(std::uint32_t(version));
  file.U32(std::uint32_t(body.bytes.size() + 8));
  if (!compressed) return file.Raw(body.bytes).bytes;
  uLongf size = compressBound(uLong(body.bytes.size()));
  Bytes packed(size);
  compress(packed.data(), &size, body.bytes.data(), uLong(body.bytes.size()));
  packed.resize(size);
  return file.Raw(packed).bytes;
}

}  // namespace swf_test
