#include "swf/video/h263_decoder.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <initializer_list>
#include <utility>

namespace swf::video {
namespace {

// ---- Variable-length codes -----------------------------------------------------------------

struct Code {
  std::uint16_t bits;
  std::uint8_t length;
};

// A prefix code decoded with one look-up of its longest code's width; values are the codes'
// positions in the list they were built from.
template <int width>
class Vlc {
 public:
  explicit Vlc(std::initializer_list<Code> codes) {
    int value = 0;
    for (const Code& c : codes) {
      const int free_bits = width - c.length;
      const std::size_t first = std::size_t(c.bits) << free_bits;
      for (std::size_t i = 0; i < (std::size_t(1) << free_bits); ++i) {
        table_[first + i] = {std::uint8_t(value), c.length};
      }
      ++value;
    }
  }
  // The value and the code's length; length 0 for bits that start no code.
  [[nodiscard]] std::pair<int, int> Look(std::uint32_t bits) const {
    const Entry e = table_[bits];
    return {e.value, e.length};
  }

 private:
  struct Entry {
    std::uint8_t value = 0;
    std::uint8_t length = 0;
  };
  std::array<Entry, (1u << width)> table_{};
};

// Macroblock type and chroma coded-block pattern of intra pictures: values 0-3 are intra with
// chroma pattern 0-3, 4-7 the same with a quantiser change, 8 is stuffing.
const Vlc<9>& IntraMcbpc() {
  static const Vlc<9> kVlc{{1, 1}, {1, 3}, {2, 3}, {3, 3}, {1, 4}, {1, 6}, {2, 6}, {3, 6}, {1, 9}};
  return kVlc;
}
constexpr int kIntraStuffing = 8;

// Of inter pictures: type * 4 + chroma pattern, types inter, inter with a quantiser change, four
// vectors, intra, intra with a quantiser change; 20 is stuffing.
const Vlc<9>& InterMcbpc() {
  static const Vlc<9> kVlc{{1, 1}, {3, 4}, {2, 4}, {5, 6},  // inter
                           {3, 3}, {7, 7}, {6, 7}, {5, 9},  // inter, quantiser
                           {2, 3}, {5, 7}, {4, 7}, {5, 8},  // four vectors
                           {3, 5}, {4, 8}, {3, 8}, {3, 7},  // intra
                           {4, 6}, {4, 9}, {3, 9}, {2, 9},  // intra, quantiser
                           {1, 9}};
  return kVlc;
}
constexpr int kInterStuffing = 20;

// The luma coded-block pattern, as an intra macroblock reads it.
const Vlc<6>& Cbpy() {
  static const Vlc<6> kVlc{{3, 4}, {5, 5}, {4, 5}, {9, 4},  {3, 5}, {7, 4}, {2, 6}, {11, 4},
                           {2, 5}, {3, 6}, {5, 4}, {10, 4}, {4, 4}, {8, 4}, {6, 4}, {3, 2}};
  return kVlc;
}

// Motion vector differences 0 to 32 half pixels (a sign bit follows all but 0).
const Vlc<12>& Mvd() {
  static const Vlc<12> kVlc{{1, 1},   {1, 2},   {1, 3},   {1, 4},   {3, 6},   {5, 7},   {4, 7},
                            {3, 7},   {11, 9},  {10, 9},  {9, 9},   {17, 10}, {16, 10}, {15, 10},
                            {14, 10}, {13, 10}, {12, 10}, {11, 10}, {10, 10}, {9, 10},  {8, 10},
                            {7, 10},  {6, 10},  {5, 10},  {4, 10},  {7, 11},  {6, 11},  {5, 11},
                            {4, 11},  {3, 11},  {2, 11},  {3, 12},  {2, 12}};
  return kVlc;
}

// Transform coefficients: (last, run, level) events, a sign bit after each; the last code is the
// escape to fixed-length fields.
struct Event {
  std::uint8_t last;
  std::uint8_t run;
  std::uint8_t level;
};
struct EventRun {
  std::uint8_t last;
  std::uint8_t run;
  std::initializer_list<Code> levels;  // the codes of levels 1, 2, ...
};
constexpr EventRun kEventRuns[] = {
    {0,
     0,
     {{0x2, 2},
      {0xf, 4},
      {0x15, 6},
      {0x17, 7},
      {0x1f, 8},
      {0x25, 9},
      {0x24, 9},
      {0x21, 10},
      {0x20, 10},
      {0x7, 11},
      {0x6, 11},
      {0x20, 11}}},
    {0, 1, {{0x6, 3}, {0x14, 6}, {0x1e, 8}, {0xf, 10}, {0x21, 11}, {0x50, 12}}},
    {0, 2, {{0xe, 4}, {0x1d, 8}, {0xe, 10}, {0x51, 12}}},
    {0, 3, {{0xd, 5}, {0x23, 9}, {0xd, 10}}},
    {0, 4, {{0xc, 5}, {0x22, 9}, {0x52, 12}}},
    {0, 5, {{0xb, 5}, {0xc, 10}, {0x53, 12}}},
    {0, 6, {{0x13, 6}, {0xb, 10}, {0x54, 12}}},
    {0, 7, {{0x12, 6}, {0xa, 10}}},
    {0, 8, {{0x11, 6}, {0x9, 10}}},
    {0, 9, {{0x10, 6}, {0x8, 10}}},
    {0, 10, {{0x16, 7}, {0x55, 12}}},
    {1, 0, {{0x7, 4}, {0x19, 9}, {0x5, 11}}},
    {1, 1, {{0xf, 6}, {0x4, 11}}},
};
// Runs 11 to 26 (not last) and 2 to 40 (last) have level 1 only.
constexpr Code kLevelOneNotLast[] = {
    {0x15, 7}, {0x14, 7}, {0x1c, 8}, {0x1b, 8}, {0x21, 9},  {0x20, 9},  {0x1f, 9},  {0x1e, 9},
    {0x1d, 9}, {0x1c, 9}, {0x1b, 9}, {0x1a, 9}, {0x22, 11}, {0x23, 11}, {0x56, 12}, {0x57, 12}};
constexpr Code kLevelOneLast[] = {
    {0xe, 6},   {0xd, 6},   {0xc, 6},   {0x13, 7},  {0x12, 7},  {0x11, 7},  {0x10, 7},  {0x1a, 8},
    {0x19, 8},  {0x18, 8},  {0x17, 8},  {0x16, 8},  {0x15, 8},  {0x14, 8},  {0x13, 8},  {0x18, 9},
    {0x17, 9},  {0x16, 9},  {0x15, 9},  {0x14, 9},  {0x13, 9},  {0x12, 9},  {0x11, 9},  {0x7, 10},
    {0x6, 10},  {0x5, 10},  {0x4, 10},  {0x24, 11}, {0x25, 11}, {0x26, 11}, {0x27, 11}, {0x58, 12},
    {0x59, 12}, {0x5a, 12}, {0x5b, 12}, {0x5c, 12}, {0x5d, 12}, {0x5e, 12}, {0x5f, 12}};
constexpr Code kEscape = {0x3, 7};
constexpr std::uint8_t kEscapeLevel = 0;

// Every event's code in a 12-bit table: the event, and the code's length (0: no code).
class Coefficients {
 public:
  Coefficients() {
    for (const EventRun& r : kEventRuns) {
      std::uint8_t level = 1;
      for (const Code& c : r.levels) Add(c, {r.last, r.run, level++});
    }
    std::uint8_t run = 11;
    for (const Code& c : kLevelOneNotLast) Add(c, {0, run++, 1});
    run = 2;
    for (const Code& c : kLevelOneLast) Add(c, {1, run++, 1});
    Add(kEscape, {0, 0, kEscapeLevel});
  }
  struct Entry {
    Event event{};
    std::uint8_t length = 0;
  };
  [[nodiscard]] const Entry& Look(std::uint32_t bits) const { return table_[bits]; }

 private:
  void Add(Code c, Event e) {
    const int free_bits = 12 - c.length;
    const std::size_t first = std::size_t(c.bits) << free_bits;
    for (std::size_t i = 0; i < (std::size_t(1) << free_bits); ++i)
      table_[first + i] = {e, c.length};
  }
  std::array<Entry, 4096> table_{};
};

const Coefficients& TransformCoefficients() {
  static const Coefficients kTable;
  return kTable;
}

constexpr std::array<std::uint8_t, 64> kZigzag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

constexpr int kQuantizerChange[] = {-1, -2, 1, 2};

std::int32_t SignExtend(std::uint32_t v, int bits) {
  return std::int32_t(v << (32 - bits)) >> (32 - bits);
}

// ---- Inverse transform ---------------------------------------------------------------------

// cos(k pi / 16) / 2 in 13-bit fixed point (k = 4 also weighs the DC term).
constexpr int kC1 = 4017, kC2 = 3784, kC3 = 3406, kC4 = 2896, kC5 = 2276, kC6 = 1567, kC7 = 799;

// One 8-point inverse DCT over in[0], in[step], ...; `shift` drops the fixed point's bits.
template <typename Out>
void Idct8(const std::int32_t* in, std::ptrdiff_t step, Out* out, std::ptrdiff_t out_step,
           int shift) {
  const std::int32_t x0 = in[0], x1 = in[step], x2 = in[2 * step], x3 = in[3 * step];
  const std::int32_t x4 = in[4 * step], x5 = in[5 * step], x6 = in[6 * step], x7 = in[7 * step];
  const std::int32_t ee0 = kC4 * (x0 + x4), ee1 = kC4 * (x0 - x4);
  const std::int32_t eo0 = kC2 * x2 + kC6 * x6, eo1 = kC6 * x2 - kC2 * x6;
  const std::int32_t e0 = ee0 + eo0, e3 = ee0 - eo0, e1 = ee1 + eo1, e2 = ee1 - eo1;
  const std::int32_t o0 = kC1 * x1 + kC3 * x3 + kC5 * x5 + kC7 * x7;
  const std::int32_t o1 = kC3 * x1 - kC7 * x3 - kC1 * x5 - kC5 * x7;
  const std::int32_t o2 = kC5 * x1 - kC1 * x3 + kC7 * x5 + kC3 * x7;
  const std::int32_t o3 = kC7 * x1 - kC5 * x3 + kC3 * x5 - kC1 * x7;
  const std::int32_t round = 1 << (shift - 1);
  out[0] = Out((e0 + o0 + round) >> shift);
  out[7 * out_step] = Out((e0 - o0 + round) >> shift);
  out[out_step] = Out((e1 + o1 + round) >> shift);
  out[6 * out_step] = Out((e1 - o1 + round) >> shift);
  out[2 * out_step] = Out((e2 + o2 + round) >> shift);
  out[5 * out_step] = Out((e2 - o2 + round) >> shift);
  out[3 * out_step] = Out((e3 + o3 + round) >> shift);
  out[4 * out_step] = Out((e3 - o3 + round) >> shift);
}

// Rows keep two bits more than the coefficients; columns drop them.
constexpr int kRowShift = 11;
constexpr int kColumnShift = 15;

// The block's samples in place of its coefficients; `rows` has bit r set for each row with a
// coefficient.
void InverseTransform(std::int32_t* block, unsigned rows) {
  std::int32_t temp[64];
  for (std::ptrdiff_t r = 0; r < 8; ++r) {
    std::int32_t* row = block + r * 8;
    if (!(rows & (1u << unsigned(r)))) {
      std::fill(temp + r * 8, temp + r * 8 + 8, 0);
    } else if (std::all_of(row + 1, row + 8, [](std::int32_t c) { return c == 0; })) {
      std::fill(temp + r * 8, temp + r * 8 + 8,
                (kC4 * row[0] + (1 << (kRowShift - 1))) >> kRowShift);
    } else {
      Idct8(row, 1, temp + r * 8, 1, kRowShift);
    }
  }
  for (std::ptrdiff_t c = 0; c < 8; ++c) Idct8(temp + c, 8, block + c, 8, kColumnShift);
}

std::uint8_t Clip(std::int32_t v) {
  return std::uint8_t(std::clamp(v, 0, 255));
}

void Put(const std::int32_t* block, std::uint8_t* dst, int stride) {
  for (std::ptrdiff_t y = 0; y < 8; ++y, dst += stride) {
    for (std::ptrdiff_t x = 0; x < 8; ++x) dst[x] = Clip(block[y * 8 + x]);
  }
}

void Add(const std::int32_t* block, std::uint8_t* dst, int stride) {
  for (std::ptrdiff_t y = 0; y < 8; ++y, dst += stride) {
    for (std::ptrdiff_t x = 0; x < 8; ++x) dst[x] = Clip(dst[x] + block[y * 8 + x]);
  }
}

// ---- Motion compensation -------------------------------------------------------------------

// A size x size block of `plane` at (x, y) plus the half pixel (hx, hy), averaged as H.263 does;
// samples beyond the plane repeat its edge.
void PredictBlock(const std::uint8_t* plane, int stride, int rows, std::uint8_t* dst, int size,
                  int x, int y, int hx, int hy) {
  constexpr std::size_t kEdgeSide = 17;  // a block and the row and column half pixels reach
  std::array<std::uint8_t, kEdgeSide * kEdgeSide> edge{};
  const std::uint8_t* src = nullptr;
  int src_stride = stride;
  if (x < 0 || y < 0 || x + size + hx > stride || y + size + hy > rows) {
    for (int j = 0; j <= size; ++j) {
      const int sy = std::clamp(y + j, 0, rows - 1);
      for (int i = 0; i <= size; ++i) {
        edge[std::size_t(j) * kEdgeSide + std::size_t(i)] =
            plane[std::size_t(sy) * std::size_t(stride) +
                  std::size_t(std::clamp(x + i, 0, stride - 1))];
      }
    }
    src = edge.data();
    src_stride = int(kEdgeSide);
  } else {
    src = plane + std::size_t(y) * std::size_t(stride) + std::size_t(x);
  }
  for (int j = 0; j < size; ++j, src += src_stride, dst += stride) {
    const std::uint8_t* below = src + src_stride;
    if (!hx && !hy) {
      std::copy(src, src + size, dst);
    } else if (hx && !hy) {
      for (int i = 0; i < size; ++i) dst[i] = std::uint8_t((src[i] + src[i + 1] + 1) >> 1);
    } else if (!hx) {
      for (int i = 0; i < size; ++i) dst[i] = std::uint8_t((src[i] + below[i] + 1) >> 1);
    } else {
      for (int i = 0; i < size; ++i) {
        dst[i] = std::uint8_t((src[i] + src[i + 1] + below[i] + below[i + 1] + 2) >> 2);
      }
    }
  }
}

}  // namespace

// The packet's bits, most significant first; reading past the end gives zeros and is seen by
// Overrun.
class H263Decoder::Bits {
 public:
  // `data` holds `size` bytes and at least 8 zero bytes after them.
  Bits(const std::uint8_t* data, std::size_t size) : data_(data), limit_(size * 8) {}

  [[nodiscard]] std::uint32_t Peek(int n) const {
    const std::uint8_t* p = data_ + (pos_ >> 3);
    const std::uint32_t word = std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 |
                               std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]);
    return (word << (pos_ & 7)) >> (32 - n);
  }
  void Skip(int n) { pos_ = std::min(pos_ + std::size_t(n), limit_ + 32); }
  std::uint32_t Read(int n) {
    const std::uint32_t v = Peek(n);
    Skip(n);
    return v;
  }
  // The code's value, or -1 when the bits start none.
  template <int width>
  int Read(const Vlc<width>& vlc) {
    const auto [value, length] = vlc.Look(Peek(width));
    if (length == 0) return -1;
    Skip(length);
    return value;
  }
  [[nodiscard]] bool Overrun() const { return pos_ > limit_; }

 private:
  const std::uint8_t* data_;
  std::size_t limit_;
  std::size_t pos_ = 0;
};

namespace {

struct Header {
  int version = 0;
  int width = 0;
  int height = 0;
  H263Decoder::PictureType type = H263Decoder::PictureType::Intra;
  int quant = 0;
};

constexpr std::pair<int, int> kStandardSizes[] = {
    {352, 288}, {176, 144}, {128, 96}, {320, 240}, {160, 120}};

template <typename BitsT>
bool ReadHeader(BitsT& bits, Header& h) {
  if (bits.Read(17) != 1) return false;
  h.version = int(bits.Read(5));
  if (h.version > 1) return false;
  bits.Skip(8);  // temporal reference
  const int size = int(bits.Read(3));
  if (size == 0 || size == 1) {
    const int n = size == 0 ? 8 : 16;
    h.width = int(bits.Read(n));
    h.height = int(bits.Read(n));
  } else if (size < 7) {
    std::tie(h.width, h.height) = kStandardSizes[size - 2];
  } else {
    return false;
  }
  const int type = int(bits.Read(2));
  if (type == 3) return false;
  h.type = H263Decoder::PictureType(type);
  bits.Skip(1);  // deblocking: the player's choice
  h.quant = int(bits.Read(5));
  while (bits.Read(1) && !bits.Overrun()) bits.Skip(8);  // extra information
  return !bits.Overrun() && h.quant > 0 && h.width > 0 && h.height > 0 &&
         h.width <= H263Decoder::kMaxSide && h.height <= H263Decoder::kMaxSide &&
         h.width * h.height <= H263Decoder::kMaxPixels;
}

}  // namespace

bool H263Decoder::IsIntra(std::span<const std::uint8_t> packet) {
  // The header and some extra information bytes: enough to tell.
  std::uint8_t head[72] = {};
  const std::size_t size = std::min<std::size_t>(packet.size(), 64);
  std::copy_n(packet.begin(), size, head);
  Bits bits(head, size);
  Header h;
  return ReadHeader(bits, h) && h.type == PictureType::Intra;
}

bool H263Decoder::Decode(std::span<const std::uint8_t> packet) {
  padded_.assign(packet.begin(), packet.end());
  padded_.resize(packet.size() + 8, 0);
  Bits bits(padded_.data(), packet.size());
  Header h;
  if (!ReadHeader(bits, h)) return false;
  if (h.type != PictureType::Intra &&
      (!have_reference_ || h.width != reference_.width || h.height != reference_.height)) {
    return false;
  }
  current_.Resize(h.width, h.height);
  mb_width_ = current_.luma_stride / 16;
  mb_height_ = current_.luma_rows / 16;
  DecodeMacroblocks(bits, h.type, h.quant, h.version);
  if (h.type == PictureType::Disposable) {
    shown_ = &current_;
  } else {
    std::swap(reference_, current_);
    have_reference_ = true;
    shown_ = &reference_;
  }
  return true;
}

H263Decoder::MotionVector H263Decoder::Predictor(int mb_x, int mb_y) const {
  const std::size_t i = std::size_t(mb_y) * std::size_t(mb_width_) + std::size_t(mb_x);
  const MotionVector left = mb_x > 0 ? vectors_[i - 1] : MotionVector{};
  if (mb_y == 0) return left;
  const MotionVector above = vectors_[i - std::size_t(mb_width_)];
  const MotionVector above_right =
      mb_x + 1 < mb_width_ ? vectors_[i - std::size_t(mb_width_) + 1] : MotionVector{};
  const auto median = [](int a, int b, int c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
  };
  return {median(left.x, above.x, above_right.x), median(left.y, above.y, above_right.y)};
}

void H263Decoder::Predict(int mb_x, int mb_y, MotionVector mv) {
  const YuvPicture& ref = reference_;
  YuvPicture& cur = current_;
  const int stride = cur.luma_stride;
  PredictBlock(ref.y.data(), stride, cur.luma_rows,
               cur.y.data() + std::size_t(mb_y * 16) * std::size_t(stride) + std::size_t(mb_x * 16),
               16, mb_x * 16 + (mv.x >> 1), mb_y * 16 + (mv.y >> 1), mv.x & 1, mv.y & 1);
  // The chroma vector is half the luma one, its quarter pixels rounded to half pixels.
  const int cstride = cur.ChromaStride();
  const int cx = mb_x * 8 + (mv.x >> 2), cy = mb_y * 8 + (mv.y >> 2);
  const int hx = (mv.x & 3) != 0, hy = (mv.y & 3) != 0;
  const std::size_t at = std::size_t(mb_y * 8) * std::size_t(cstride) + std::size_t(mb_x * 8);
  PredictBlock(ref.u.data(), cstride, cur.luma_rows / 2, cur.u.data() + at, 8, cx, cy, hx, hy);
  PredictBlock(ref.v.data(), cstride, cur.luma_rows / 2, cur.v.data() + at, 8, cx, cy, hx, hy);
}

bool H263Decoder::DecodeBlock(Bits& bits, bool intra, bool coded, int quant, int version,
                              std::int32_t* block) {
  std::fill(block, block + 64, 0);
  unsigned rows = 0;
  int i = 0;
  if (intra) {
    std::uint32_t dc = bits.Read(8);
    if ((dc & 0x7F) == 0) return false;  // 0 and 128 are not allowed
    if (dc == 255) dc = 128;
    block[0] = std::int32_t(dc * 8);
    rows = 1;
    i = 1;
  }
  if (coded) {
    const Coefficients& table = TransformCoefficients();
    for (;;) {
      const Coefficients::Entry& e = table.Look(bits.Peek(12));
      if (e.length == 0) return false;
      bits.Skip(e.length);
      int run = e.event.run, level = e.event.level;
      bool last = e.event.last != 0;
      if (level == kEscapeLevel) {
        if (version == 1) {
          const bool wide = bits.Read(1) != 0;
          last = bits.Read(1) != 0;
          run = int(bits.Read(6));
          level = wide ? SignExtend(bits.Read(11), 11) : SignExtend(bits.Read(7), 7);
        } else {
          last = bits.Read(1) != 0;
          run = int(bits.Read(6));
          level = SignExtend(bits.Read(8), 8);
          if (level == -128) return false;
        }
      } else if (bits.Read(1)) {
        level = -level;
      }
      i += run;
      if (i > 63 || bits.Overrun()) return false;
      if (level != 0) {
        const int magnitude = quant * (2 * std::abs(level) + 1) - ((quant & 1) ^ 1);
        const int pos = kZigzag[std::size_t(i)];
        block[pos] = std::clamp(level < 0 ? -magnitude : magnitude, -2048, 2047);
        rows |= 1u << (pos >> 3);
      }
      ++i;
      if (last) break;
    }
  }
  if (rows) InverseTransform(block, rows);
  return true;
}

bool H263Decoder::DecodeMacroblocks(Bits& bits, PictureType type, int quant, int version) {
  const bool inter_picture = type != PictureType::Intra;
  vectors_.assign(std::size_t(mb_width_) * std::size_t(mb_height_), MotionVector{});
  const int stride = current_.luma_stride, cstride = current_.ChromaStride();
  std::int32_t block[64];
  int mb = 0;
  const int count = mb_width_ * mb_height_;
  bool ok = true;
  for (; mb < count && ok; ++mb) {
    const int mb_x = mb % mb_width_, mb_y = mb / mb_width_;
    if (inter_picture && bits.Read(1)) {  // not coded: the reference's macroblock as it is
      Predict(mb_x, mb_y, {});
      continue;
    }
    int value = 0;
    do {
      value = inter_picture ? bits.Read(InterMcbpc()) : bits.Read(IntraMcbpc());
    } while (value == (inter_picture ? kInterStuffing : kIntraStuffing) && !bits.Overrun());
    const int mb_type = inter_picture ? value / 4 : 3 + value / 4;
    const int cbpc = value & 3;
    // Four vectors belong to the advanced prediction this codec doesn't have.
    int cbpy = bits.Read(Cbpy());
    if (value < 0 || mb_type == 2 || cbpy < 0 || bits.Overrun()) {
      ok = false;
      break;
    }
    const bool intra = mb_type >= 3;
    if (!intra) cbpy ^= 15;
    if (mb_type == 1 || mb_type == 4) {
      quant = std::clamp(quant + kQuantizerChange[bits.Read(2)], 1, 31);
    }
    if (!intra) {
      const MotionVector pred = Predictor(mb_x, mb_y);
      MotionVector mv;
      for (auto [component, predicted] : {std::pair{&mv.x, pred.x}, std::pair{&mv.y, pred.y}}) {
        const int code = bits.Read(Mvd());
        if (code < 0) {
          ok = false;
          break;
        }
        int v = predicted;
        if (code > 0) v += bits.Read(1) ? -code : code;
        *component = ((v + 32) & 63) - 32;
      }
      if (!ok) break;
      vectors_[std::size_t(mb)] = mv;
      Predict(mb_x, mb_y, mv);
    }
    const int cbp = cbpy << 2 | cbpc;
    for (int b = 0; b < 6 && ok; ++b) {
      const bool coded = (cbp >> (5 - b)) & 1;
      if (!intra && !coded) continue;
      if (!DecodeBlock(bits, intra, coded, quant, version, block)) {
        ok = false;
        break;
      }
      std::uint8_t* dst = nullptr;
      int step = stride;
      if (b < 4) {
        dst = current_.y.data() + std::size_t(mb_y * 16 + (b >> 1) * 8) * std::size_t(stride) +
              std::size_t(mb_x * 16 + (b & 1) * 8);
      } else {
        step = cstride;
        dst = (b == 4 ? current_.u : current_.v).data() +
              std::size_t(mb_y * 8) * std::size_t(cstride) + std::size_t(mb_x * 8);
      }
      if (intra) {
        Put(block, dst, step);
      } else {
        Add(block, dst, step);
      }
    }
    if (!ok) break;
  }
  if (ok) return true;
  // Damaged from here on: the rest as the reference has it, or black without one.
  for (; mb < count; ++mb) {
    if (inter_picture) {
      Predict(mb % mb_width_, mb / mb_width_, {});
      continue;
    }
    const int mb_x = mb % mb_width_, mb_y = mb / mb_width_;
    for (int row = 0; row < 16; ++row) {
      std::fill_n(current_.y.data() + std::size_t(mb_y * 16 + row) * std::size_t(stride) +
                      std::size_t(mb_x * 16),
                  16, std::uint8_t(16));
    }
    for (int row = 0; row < 8; ++row) {
      const std::size_t at =
          std::size_t(mb_y * 8 + row) * std::size_t(cstride) + std::size_t(mb_x * 8);
      std::fill_n(current_.u.data() + at, 8, std::uint8_t(128));
      std::fill_n(current_.v.data() + at, 8, std::uint8_t(128));
    }
  }
  return false;
}

}  // namespace swf::video
