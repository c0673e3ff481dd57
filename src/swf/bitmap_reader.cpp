// Bitmap tags: the lossless ones decoded here row by row as zlib gives them (memory never holds
// more than the picture), JPEG, PNG and GIF through the platform's decoder.
#include <algorithm>

#include "swf/bitmap_cache.h"
#include "swf/reader_parts.h"
#include "swf/swf_player.h"

namespace swf {
namespace {

std::uint32_t Premultiplied(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  const auto mul = [a](std::uint32_t c) { return (c * a + 127) / 255; };
  return (a << 24) | (mul(r) << 16) | (mul(g) << 8) | mul(b);
}
// Already premultiplied in the file; a colour above its alpha is cut to it.
std::uint32_t Kept(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return (a << 24) | (std::min(r, a) << 16) | (std::min(g, a) << 8) | std::min(b, a);
}

// A lossless bitmap's format, size and colour table size, from the start of its body.
struct LosslessHead {
  int format = 0;
  int width = 0;
  int height = 0;
  int table_size = 0;
};
LosslessHead ReadLosslessHead(ByteReader& r) {
  LosslessHead h;
  h.format = r.U8();
  h.width = r.U16();
  h.height = r.U16();
  h.table_size = h.format == 3 ? r.U8() + 1 : 0;
  return h;
}

std::string SizeTooLarge(int width, int height) {
  return std::to_string(width) + "x" + std::to_string(height) + " is too large";
}

std::optional<Bitmap> DecodeLossless(ByteReader& r, bool alpha, std::uint64_t max_pixels,
                                     std::string& why) {
  const LosslessHead head = ReadLosslessHead(r);
  if (!r.ok()) {
    why = "cut short";
    return std::nullopt;
  }
  const int format = head.format;
  Bitmap bitmap;
  bitmap.width = head.width;
  bitmap.height = head.height;
  const std::uint64_t pixels = std::uint64_t(bitmap.width) * std::uint64_t(bitmap.height);
  if (pixels > max_pixels) {
    why = SizeTooLarge(bitmap.width, bitmap.height);
    return std::nullopt;
  }
  if (format != 3 && format != 5 && !(format == 4 && !alpha)) {
    why = "unknown format " + std::to_string(format);
    return std::nullopt;
  }
  Inflater z(r.Rest());
  std::vector<std::uint32_t> table;
  if (format == 3) {
    const int each = alpha ? 4 : 3;
    std::vector<std::uint8_t> raw(std::size_t(head.table_size * each));
    raw.resize(z.Read(raw));
    for (std::size_t i = 0; i + std::size_t(each) <= raw.size(); i += std::size_t(each)) {
      table.push_back(alpha ? Kept(raw[i + 3], raw[i], raw[i + 1], raw[i + 2])
                            : Premultiplied(255, raw[i], raw[i + 1], raw[i + 2]));
    }
    table.resize(256, 0);  // an index beyond the table is transparent
  }
  const std::size_t width = std::size_t(bitmap.width);
  const std::size_t bytes_per_pixel = format == 3 ? 1 : format == 4 ? 2 : 4;
  const std::size_t row_bytes = (width * bytes_per_pixel + 3) & ~std::size_t(3);
  std::vector<std::uint8_t> row(row_bytes);
  bitmap.pixels.assign(pixels, 0);
  for (std::size_t y = 0; y < std::size_t(bitmap.height); ++y) {
    if (z.Read(row) < row_bytes) break;  // cut short: the rest stays transparent
    std::uint32_t* out = bitmap.pixels.data() + y * width;
    for (std::size_t x = 0; x < width; ++x) {
      if (format == 3) {
        out[x] = table[row[x]];
      } else if (format == 4) {
        const std::uint32_t v = std::uint32_t(row[2 * x] << 8) | row[2 * x + 1];
        const auto c = [](std::uint32_t five) { return (five << 3) | (five >> 2); };
        out[x] = Premultiplied(255, c((v >> 10) & 31), c((v >> 5) & 31), c(v & 31));
      } else {
        const std::uint8_t* p = &row[4 * x];
        out[x] = alpha ? Kept(p[0], p[1], p[2], p[3]) : Premultiplied(255, p[1], p[2], p[3]);
      }
    }
  }
  return bitmap;
}

bool StartsWith(std::span<const std::uint8_t> data, std::initializer_list<std::uint8_t> head) {
  return data.size() >= head.size() && std::equal(head.begin(), head.end(), data.begin());
}

// JPEG bytes as one stream a decoder accepts: the tables of JPEGTables joined in, and the end and
// start markers that tools of the time left between tables and picture taken out.
std::vector<std::uint8_t> CleanJpeg(std::span<const std::uint8_t> tables,
                                    std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> in;
  in.reserve(tables.size() + data.size());
  in.insert(in.end(), tables.begin(), tables.end());
  in.insert(in.end(), data.begin(), data.end());
  std::vector<std::uint8_t> out;
  out.reserve(in.size());
  std::size_t i = 0;
  bool started = false;
  // Markers up to the scan: SOI only once, EOI dropped; the scan's data is copied as it is.
  while (i + 1 < in.size()) {
    if (in[i] != 0xFF) break;
    const std::uint8_t marker = in[i + 1];
    if (marker == 0xD8 || marker == 0xD9) {
      if (marker == 0xD8 && !started) out.insert(out.end(), {0xFF, 0xD8});
      started |= marker == 0xD8;
      i += 2;
      continue;
    }
    if (marker == 0xFF) {  // fill bytes
      ++i;
      continue;
    }
    if (i + 3 >= in.size()) break;
    const std::size_t length = std::size_t(in[i + 2] << 8 | in[i + 3]);
    const std::size_t end = std::min(in.size(), i + 2 + length);
    if (marker == 0xDA) break;
    out.insert(out.end(), in.begin() + std::ptrdiff_t(i), in.begin() + std::ptrdiff_t(end));
    i = end;
  }
  out.insert(out.end(), in.begin() + std::ptrdiff_t(std::min(i, in.size())), in.end());
  return out;
}

// The size a JPEG, PNG or GIF says it has, from its header; nullopt when it isn't found.
std::optional<std::pair<int, int>> PictureSize(std::span<const std::uint8_t> image) {
  const auto be16 = [&](std::size_t at) { return int(image[at] << 8 | image[at + 1]); };
  if (StartsWith(image, {0x89, 'P', 'N', 'G'})) {
    if (image.size() < 24) return std::nullopt;
    // IHDR's 32-bit width and height: a picture wider than 16 bits is too large anyway.
    const auto side = [&](std::size_t at) { return be16(at) != 0 ? 65536 : be16(at + 2); };
    return std::pair(side(16), side(20));
  }
  if (StartsWith(image, {'G', 'I', 'F', '8'})) {
    if (image.size() < 10) return std::nullopt;
    return std::pair(int(image[6] | image[7] << 8), int(image[8] | image[9] << 8));
  }
  // JPEG: the frame header (SOF0-15 but DHT, JPG and DAC) after the markers before it.
  std::size_t i = 0;
  while (i + 3 < image.size()) {
    if (image[i] != 0xFF) return std::nullopt;
    const std::uint8_t marker = image[i + 1];
    if (marker == 0xD8 || marker == 0xD9 || marker == 0xFF) {
      i += marker == 0xFF ? 1 : 2;
      continue;
    }
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      if (i + 8 >= image.size()) return std::nullopt;
      return std::pair(be16(i + 7), be16(i + 5));
    }
    if (marker == 0xDA) return std::nullopt;
    i += 2 + std::size_t(be16(i + 2));
  }
  return std::nullopt;
}

// The picture bytes of a JPEG-family tag and its alpha plane (JPEG 3 and 4).
std::pair<std::span<const std::uint8_t>, std::span<const std::uint8_t>> JpegParts(ByteReader& r,
                                                                                  TagCode code) {
  if (code == TagCode::DefineBitsJpeg3 || code == TagCode::DefineBitsJpeg4) {
    const std::uint32_t alpha_at = r.U32();
    if (code == TagCode::DefineBitsJpeg4) r.Skip(2);  // deblocking
    const auto image = r.Bytes(std::min<std::size_t>(alpha_at, r.remaining()));
    return {image, r.Rest()};
  }
  return {r.Rest(), {}};
}

bool IsLossless(TagCode code) {
  return code == TagCode::DefineBitsLossless || code == TagCode::DefineBitsLossless2;
}

}  // namespace

std::optional<Bitmap> DecodeBitmapTag(const BitmapTag& tag, ImageDecoder* images,
                                      std::uint64_t max_pixels, std::string& why) {
  ByteReader r(tag.body);
  if (IsLossless(tag.code)) {
    return DecodeLossless(r, tag.code == TagCode::DefineBitsLossless2, max_pixels, why);
  }
  const auto [image, alpha] = JpegParts(r, tag.code);
  why = "not decoded";
  if (!images) return std::nullopt;
  const bool png = StartsWith(image, {0x89, 'P', 'N', 'G'});
  const bool gif = StartsWith(image, {'G', 'I', 'F', '8'});
  const std::vector<std::uint8_t> bytes =
      png || gif ? std::vector<std::uint8_t>(image.begin(), image.end())
                 : CleanJpeg(tag.code == TagCode::DefineBits ? tag.jpeg_tables
                                                             : std::span<const std::uint8_t>(),
                             image);
  std::optional<Bitmap> bitmap = images->Decode(bytes, max_pixels);
  if (!bitmap || bitmap->width <= 0 || bitmap->height <= 0 ||
      bitmap->pixels.size() != std::size_t(bitmap->width) * std::size_t(bitmap->height)) {
    return std::nullopt;
  }
  bitmap->source.reset();
  if (!alpha.empty() && !png && !gif) {
    Inflater z(alpha);
    std::vector<std::uint8_t> row(std::size_t(bitmap->width));
    for (std::size_t y = 0; y < std::size_t(bitmap->height); ++y) {
      if (z.Read(row) < row.size()) break;
      std::uint32_t* p = bitmap->pixels.data() + y * row.size();
      for (std::size_t x = 0; x < row.size(); ++x) {
        const std::uint32_t c = p[x];
        p[x] = Premultiplied(row[x], (c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
      }
    }
  }
  return bitmap;
}

std::optional<Bitmap> ReadDefineBitmap(ByteReader& r, TagCode code, std::uint16_t id,
                                       LoadContext& ctx) {
  const BitmapTag tag{
      code, id, r.Rest(),
      code == TagCode::DefineBits ? ctx.jpeg_tables : std::span<const std::uint8_t>()};
  ByteReader head(tag.body);
  std::optional<std::pair<int, int>> size;
  if (IsLossless(code)) {
    const LosslessHead h = ReadLosslessHead(head);
    if (!head.ok()) return std::nullopt;
    size = std::pair(h.width, h.height);
  } else {
    if (!ctx.images) return std::nullopt;  // nothing would decode it
    size = PictureSize(JpegParts(head, code).first);
    // A JPEG may leave its height to a later marker: such a picture's size comes from decoding.
    if (size && (size->first == 0 || size->second == 0)) size.reset();
  }
  if (size && std::uint64_t(size->first) * std::uint64_t(size->second) > Limits::kMaxBitmapPixels) {
    ctx.Note("bitmap " + std::to_string(id) + ": " + SizeTooLarge(size->first, size->second));
    return std::nullopt;
  }
  // The index entry, the bitmap and its source: what a bitmap costs before it is drawn.
  constexpr std::size_t kEntryCost = 256;
  BitmapCache& cache = *ctx.movie.bitmaps;
  if (!ctx.Charge(kEntryCost)) return std::nullopt;
  const std::size_t index = cache.Add(tag);
  Bitmap bitmap;
  if (size) {
    bitmap.width = size->first;
    bitmap.height = size->second;
  } else {
    // A picture whose header doesn't say its size: decoded now to learn it.
    const auto pixels = cache.Get(index);
    if (!pixels) {
      ctx.Note("bitmap " + std::to_string(id) + ": not decoded");
      return std::nullopt;
    }
    bitmap.width = pixels->width;
    bitmap.height = pixels->height;
  }
  bitmap.source = BitmapCache::SourceOf(ctx.movie.bitmaps, index);
  return bitmap;
}

}  // namespace swf
