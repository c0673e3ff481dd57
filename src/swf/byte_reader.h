#pragma once
// A bounds-checked reader of the file's little-endian bytes and its bit fields. Reading past the
// end never touches memory outside the span: it yields zeros and marks the reader failed, so a
// tag parser reads on without checks and asks `ok()` once at the end.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "swf/shape.h"

namespace swf {

class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}

  [[nodiscard]] bool ok() const { return !failed_; }
  [[nodiscard]] std::size_t remaining() const { return data_.size() - pos_; }
  [[nodiscard]] std::size_t position() const { return pos_; }
  void Fail() { failed_ = true; }

  std::uint8_t U8();
  std::uint16_t U16();
  std::uint32_t U32();
  std::int16_t S16() { return static_cast<std::int16_t>(U16()); }
  // 8.8 fixed point.
  float Fixed8() { return float(S16()) / 256.0f; }
  // The next n bytes, or what is left of them (the reader then fails).
  std::span<const std::uint8_t> Bytes(std::size_t n);
  std::span<const std::uint8_t> Rest() { return Bytes(remaining()); }
  void Skip(std::size_t n) { static_cast<void>(Bytes(n)); }
  // A NUL-terminated string; an unterminated one ends with the data.
  std::string String();

  // Bit fields, most significant bit first; the byte reads above start at the next whole byte.
  std::uint32_t UB(int bits);
  std::int32_t SB(int bits);
  float FB(int bits) { return float(SB(bits)) / 65536.0f; }
  bool Flag() { return UB(1) != 0; }
  void Align() { bits_left_ = 0; }

  Rect ReadRect();
  Matrix ReadMatrix();
  ColorTransform ReadColorTransform(bool with_alpha);
  Rgba ReadRgb();
  Rgba ReadRgba();
  // The 32-bit ARGB order some bitmap tags use.
  Rgba ReadArgb();

 private:
  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
  std::uint8_t bit_byte_ = 0;
  int bits_left_ = 0;
  bool failed_ = false;
};

}  // namespace swf
