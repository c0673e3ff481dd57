#include "swf/byte_reader.h"

#include <cstring>

namespace swf {

std::uint8_t ByteReader::U8() {
  Align();
  if (pos_ >= data_.size()) {
    failed_ = true;
    return 0;
  }
  return data_[pos_++];
}

std::uint16_t ByteReader::U16() {
  const std::uint16_t lo = U8();
  return std::uint16_t(lo | (U8() << 8));
}

std::uint32_t ByteReader::U32() {
  const std::uint32_t lo = U16();
  return lo | (std::uint32_t(U16()) << 16);
}

std::span<const std::uint8_t> ByteReader::Bytes(std::size_t n) {
  Align();
  if (n > remaining()) {
    failed_ = true;
    n = remaining();
  }
  const auto out = data_.subspan(pos_, n);
  pos_ += n;
  return out;
}

std::string ByteReader::String() {
  Align();
  const auto rest = data_.subspan(pos_);
  const void* nul = std::memchr(rest.data(), 0, rest.size());
  const std::size_t n =
      nul ? std::size_t(static_cast<const std::uint8_t*>(nul) - rest.data()) : rest.size();
  std::string out(rest.begin(), rest.begin() + std::ptrdiff_t(n));
  pos_ += nul ? n + 1 : n;
  return out;
}

std::uint32_t ByteReader::UB(int bits) {
  std::uint32_t v = 0;
  for (int i = 0; i < bits; ++i) {
    if (bits_left_ == 0) {
      if (pos_ >= data_.size()) {
        failed_ = true;
        return 0;
      }
      bit_byte_ = data_[pos_++];
      bits_left_ = 8;
    }
    --bits_left_;
    v = (v << 1) | ((bit_byte_ >> bits_left_) & 1u);
  }
  return v;
}

std::int32_t ByteReader::SB(int bits) {
  if (bits <= 0) return 0;
  const std::uint32_t v = UB(bits);
  if (bits >= 32) return static_cast<std::int32_t>(v);
  const std::uint32_t sign = 1u << (bits - 1);
  return static_cast<std::int32_t>((v ^ sign)) - static_cast<std::int32_t>(sign);
}

Rect ByteReader::ReadRect() {
  Align();
  const int n = int(UB(5));
  Rect r;
  r.x_min = float(SB(n));
  r.x_max = float(SB(n));
  r.y_min = float(SB(n));
  r.y_max = float(SB(n));
  Align();
  return r;
}

Matrix ByteReader::ReadMatrix() {
  Align();
  Matrix m;
  if (Flag()) {
    const int n = int(UB(5));
    m.a = FB(n);
    m.d = FB(n);
  }
  if (Flag()) {
    const int n = int(UB(5));
    m.b = FB(n);
    m.c = FB(n);
  }
  const int n = int(UB(5));
  m.tx = float(SB(n));
  m.ty = float(SB(n));
  Align();
  return m;
}

ColorTransform ByteReader::ReadColorTransform(bool with_alpha) {
  Align();
  const bool add = Flag();
  const bool mul = Flag();
  const int n = int(UB(4));
  ColorTransform t;
  if (mul) {
    t.mul_r = float(SB(n)) / 256.0f;
    t.mul_g = float(SB(n)) / 256.0f;
    t.mul_b = float(SB(n)) / 256.0f;
    if (with_alpha) t.mul_a = float(SB(n)) / 256.0f;
  }
  if (add) {
    t.add_r = float(SB(n));
    t.add_g = float(SB(n));
    t.add_b = float(SB(n));
    if (with_alpha) t.add_a = float(SB(n));
  }
  Align();
  return t;
}

Rgba ByteReader::ReadRgb() {
  Rgba c;
  c.r = U8();
  c.g = U8();
  c.b = U8();
  return c;
}

Rgba ByteReader::ReadRgba() {
  Rgba c = ReadRgb();
  c.a = U8();
  return c;
}

Rgba ByteReader::ReadArgb() {
  Rgba c;
  c.a = U8();
  c.r = U8();
  c.g = U8();
  c.b = U8();
  return c;
}

}  // namespace swf
