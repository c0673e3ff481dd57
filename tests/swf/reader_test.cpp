// What the reader makes of definition tags: one table of tags written bit by bit and the
// shape, bitmap or text each becomes. Also writes the fuzz target's seed corpus on request.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>

#include "swf/movie.h"
#include "swf/swf_player.h"
#include "swf_writer.h"

namespace {

using namespace swf_test;

Bytes Zlib(const Bytes& raw) {
  uLongf size = compressBound(uLong(raw.size()));
  Bytes out(size);
  compress(out.data(), &size, raw.data(), uLong(raw.size()));
  out.resize(size);
  return out;
}

// A picture decoder that keeps the bytes it was given and yields a 2 x 1 white picture.
class RecordingDecoder final : public swf::ImageDecoder {
 public:
  std::optional<swf::Bitmap> Decode(std::span<const std::uint8_t> bytes, std::uint64_t) override {
    seen.assign(bytes.begin(), bytes.end());
    return swf::Bitmap{2, 1, {0xFFFFFFFFu, 0xFFFFFFFFu}};
  }
  Bytes seen;
};

template <typename T>
const T& Get(const swf::Movie& m, std::uint16_t id) {
  const swf::Character* c = m.Find(id);
  EXPECT_TRUE(c && std::holds_alternative<std::shared_ptr<const T>>(*c)) << "character " << id;
  static const T kNone{};
  return c && std::holds_alternative<std::shared_ptr<const T>>(*c)
             ? *std::get<std::shared_ptr<const T>>(*c)
             : kNone;
}

// A bitmap's pixels, decoded through the movie's cache as a frame drawing it would.
std::vector<std::uint32_t> Pixels(const swf::Movie& m, std::uint16_t id) {
  const swf::Character* c = m.Find(id);
  const auto* bitmap = c ? std::get_if<std::shared_ptr<const swf::Bitmap>>(c) : nullptr;
  const auto pixels = bitmap ? swf::PixelsOf(*bitmap) : nullptr;
  return pixels ? pixels->pixels : std::vector<std::uint32_t>{};
}

// Style change record: move to (x, y), then fill0/fill1/line indices when not negative.
void Change(Bits& b, int x, int y, int fill0, int fill1, int line, int fill_bits, int line_bits,
            bool new_styles = false) {
  b.UB(0, 1).UB(new_styles, 1).UB(line >= 0, 1).UB(fill1 >= 0, 1).UB(fill0 >= 0, 1).UB(1, 1);
  const int n = Bits::Width({x, y});
  b.UB(std::uint32_t(n), 5).SB(x, n).SB(y, n);
  if (fill0 >= 0) b.UB(std::uint32_t(fill0), fill_bits);
  if (fill1 >= 0) b.UB(std::uint32_t(fill1), fill_bits);
  if (line >= 0) b.UB(std::uint32_t(line), line_bits);
}
void Line(Bits& b, int dx, int dy) {
  b.UB(0b11, 2).UB(14, 4).UB(1, 1).SB(dx, 16).SB(dy, 16);
}
void Curve(Bits& b, int cx, int cy, int ax, int ay) {
  b.UB(0b10, 2).UB(14, 4).SB(cx, 16).SB(cy, 16).SB(ax, 16).SB(ay, 16);
}

struct ReaderCase {
  const char* name;
  std::function<Bytes()> tags;
  std::function<void(const swf::Movie&, const RecordingDecoder&)> check;
};
void PrintTo(const ReaderCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<ReaderCase> Cases() {
  return {
      {"shape4_focal_gradient_and_line_style2",
       [] {
         Bits b;
         b.U16(1).Rect(0, 400, 0, 400).Rect(0, 400, 0, 400).U8(0x04);
         b.U8(1).U8(0x13).Matrix(0, 0).U8(0x52);
         b.U8(0).U8(255).U8(0).U8(0).U8(255).U8(255).U8(0).U8(0).U8(255).U8(128).U16(128);
         b.U8(1).U16(40).U8(0xA0).U8(0x05).U16(640).U8(0).U8(255).U8(0).U8(255);
         b.UB(1, 4).UB(1, 4);
         Change(b, 100, 200, -1, 1, 1, 1, 1);
         Curve(b, 100, 0, 0, 100);
         b.UB(0, 6);
         return Tag(83, b.bytes);
       },
       [](const swf::Movie& m, const RecordingDecoder&) {
         const auto& s = Get<swf::Shape>(m, 1);
         EXPECT_FALSE(s.even_odd);
         ASSERT_EQ(s.fills.size(), 1u);
         const auto& g = std::get<swf::Gradient>(s.fills[0]);
         EXPECT_EQ(g.kind, swf::GradientKind::Focal);
         EXPECT_EQ(g.spread, swf::SpreadMode::Reflect);
         EXPECT_EQ(g.interpolation, swf::InterpolationMode::LinearRgb);
         ASSERT_EQ(g.stops.size(), 2u);
         EXPECT_EQ(g.stops[1].ratio, 255);
         EXPECT_EQ(g.stops[1].color, (swf::Rgba{0, 0, 255, 128}));
         EXPECT_FLOAT_EQ(g.focal_point, 0.5f);
         ASSERT_EQ(s.lines.size(), 1u);
         const swf::LineStyle& l = s.lines[0];
         EXPECT_EQ(l.width, 40);
         EXPECT_EQ(l.start_cap, swf::CapStyle::Square);
         EXPECT_EQ(l.end_cap, swf::CapStyle::None);
         EXPECT_EQ(l.join, swf::JoinStyle::Miter);
         EXPECT_FLOAT_EQ(l.miter_limit, 2.5f);
         EXPECT_TRUE(l.no_close);
         EXPECT_EQ(std::get<swf::Rgba>(l.fill), (swf::Rgba{0, 255, 0, 255}));
         ASSERT_EQ(s.edges.size(), 1u);
         const swf::Edge& e = s.edges[0];
         EXPECT_TRUE(e.curved);
         EXPECT_EQ(e.from.x, 100);
         EXPECT_EQ(e.control.x, 200);
         EXPECT_EQ(e.to.y, 300);
         EXPECT_EQ(e.fill0, 0);
         EXPECT_EQ(e.fill1, 1);
         EXPECT_EQ(e.line, 1);
       }},
      {"shape2_new_styles_renumbered",
       [] {
         Bits b;
         b.U16(2).Rect(0, 20, 0, 20).U8(1).U8(0).U8(1).U8(2).U8(3).U8(0).UB(1, 4).UB(0, 4);
         Change(b, 0, 0, -1, 1, -1, 1, 0);
         Line(b, 20, 0);
         Change(b, 20, 0, -1, 1, -1, 1, 0, true);
         b.U8(1).U8(0).U8(4).U8(5).U8(6).U8(0).UB(1, 4).UB(0, 4);
         Line(b, 0, 20);
         b.UB(0, 6);
         return Tag(22, b.bytes);
       },
       [](const swf::Movie& m, const RecordingDecoder&) {
         const auto& s = Get<swf::Shape>(m, 2);
         EXPECT_TRUE(s.even_odd);
         ASSERT_EQ(s.fills.size(), 2u);
         EXPECT_EQ(std::get<swf::Rgba>(s.fills[1]), (swf::Rgba{4, 5, 6, 255}));
         ASSERT_EQ(s.edges.size(), 2u);
         EXPECT_EQ(s.edges[0].fill1, 1);
         EXPECT_EQ(s.edges[1].fill1, 2);
         EXPECT_EQ(s.layer_starts, (std::vector<std::size_t>{1}));
       }},
      {"morph_shape_by_ratio",
       [] {
         Bits start;
         start.UB(1, 4).UB(0, 4);
         Change(start, 0, 0, 1, -1, -1, 1, 0);
         Line(start, 100, 0);
         start.UB(0, 6);
         Bits b;
         b.U16(3).Rect(0, 100, 0, 0).Rect(0, 100, 0, 100);
         Bits styles;
         styles.U8(1).U8(0).U8(255).U8(0).U8(0).U8(255).U8(0).U8(0).U8(255).U8(255).U8(0);
         b.U32(std::uint32_t(styles.bytes.size() + start.bytes.size())).Raw(styles.bytes);
         b.Raw(start.bytes).UB(0, 4).UB(0, 4);
         Change(b, 0, 0, -1, -1, -1, 0, 0);
         Curve(b, 50, 100, 50, -100);
         b.UB(0, 6);
         return Tag(46, b.bytes);
       },
       [](const swf::Movie& m, const RecordingDecoder&) {
         const auto& morph = Get<swf::MorphShape>(m, 3);
         const swf::Shape start = morph.At(0), middle = morph.At(32768), end = morph.At(65535);
         ASSERT_EQ(middle.edges.size(), 1u);
         EXPECT_EQ(std::get<swf::Rgba>(start.fills[0]), (swf::Rgba{255, 0, 0, 255}));
         EXPECT_EQ(std::get<swf::Rgba>(middle.fills[0]), (swf::Rgba{127, 0, 128, 255}));
         EXPECT_EQ(middle.edges[0].fill0, 1);
         EXPECT_TRUE(middle.edges[0].curved);
         EXPECT_NEAR(middle.edges[0].control.y, 50, 0.01);
         EXPECT_NEAR(end.edges[0].control.y, 100, 0.01);
         EXPECT_NEAR(end.edges[0].to.x, 100, 0.01);
       }},
      {"lossless_colour_mapped_and_argb",
       [] {
         const Bytes mapped = Zlib({255, 0, 0, 0, 0, 255, 0, 1, 0, 0, 1, 0, 0, 0});
         const Bytes argb = Zlib({128, 128, 0, 0});
         return Join({Tag(20, Bits().U16(4).U8(3).U16(2).U16(2).U8(1).Raw(mapped).bytes),
                      Tag(36, Bits().U16(5).U8(5).U16(1).U16(1).Raw(argb).bytes)});
       },
       [](const swf::Movie& m, const RecordingDecoder&) {
         EXPECT_EQ(Pixels(m, 4),
                   (std::vector<std::uint32_t>{0xFFFF0000, 0xFF0000FF, 0xFF0000FF, 0xFFFF0000}));
         EXPECT_EQ(Pixels(m, 5), (std::vector<std::uint32_t>{0x80800000}));
       }},
      {"jpeg3_alpha_plane",
       [] {
         return Tag(35, Bits().U16(7).U32(2).U8(0xFF).U8(0xD8).Raw(Zlib({255, 0})).bytes);
       },
       [](const swf::Movie& m, const RecordingDecoder&) {
         EXPECT_EQ(Pixels(m, 7), (std::vector<std::uint32_t>{0xFFFFFFFF, 0x00000000}));
       }},
      {"font_and_text_as_one_shape",
       [] {
         Bits font;
         font.U16(8).U16(2).UB(1, 4).UB(0, 4);
         Change(font, 0, 0, -1, 1, -1, 1, 0);
         Line(font, 1024, 0);
         Line(font, 0, -1024);
         Line(font, -1024, 0);
         Line(font, 0, 1024);
         font.UB(0, 6);
         Bits text;
         text.U16(9).Rect(0, 2000, -600, 0).Matrix(0, 0).U8(1).U8(12);
         text.U8(0x8D).U16(8).U8(0).U8(128).U8(0).U16(100).U16(512).U8(2);
         text.UB(0, 1).SB(600, 12).UB(0, 1).SB(600, 12).U8(0);
         return Join({Tag(10, font.bytes), Tag(11, text.bytes)});
       },
       [](const swf::Movie& m, const RecordingDecoder&) {
         const auto& s = Get<swf::Shape>(m, 9);
         ASSERT_EQ(s.fills.size(), 1u);
         EXPECT_EQ(std::get<swf::Rgba>(s.fills[0]), (swf::Rgba{0, 128, 0, 255}));
         ASSERT_EQ(s.edges.size(), 8u);
         EXPECT_EQ(s.edges[0].from.x, 100);
         EXPECT_EQ(s.edges[0].to.x, 612);
         EXPECT_EQ(s.edges[1].to.y, -512);
         EXPECT_EQ(s.edges[4].from.x, 700);
         EXPECT_EQ(s.edges[4].fill1, 1);
       }},
  };
}

class Reader : public testing::TestWithParam<ReaderCase> {};

TEST_P(Reader, Definitions) {
  RecordingDecoder decoder;
  const auto loaded = swf::LoadMovie(Movie(GetParam().tags()), &decoder);
  ASSERT_TRUE(loaded.movie) << loaded.refusal;
  GetParam().check(*loaded.movie, decoder);
}

INSTANTIATE_TEST_SUITE_P(Swf, Reader, testing::ValuesIn(Cases()),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(Reader, JpegTablesJoinedIntoOneStream) {
  RecordingDecoder decoder;
  const Bytes tables{0xFF, 0xD8, 0xFF, 0xDB, 0, 3, 7, 0xFF, 0xD9};
  const Bytes image{0xFF, 0xD8, 0xFF, 0xC0, 0, 3, 9, 0xFF, 0xDA, 0, 2, 1, 2, 0xFF, 0xD9};
  const auto loaded = swf::LoadMovie(
      Movie(Join({Tag(8, tables), Tag(6, Bits().U16(6).Raw(image).bytes)})), &decoder);
  ASSERT_TRUE(loaded.movie);
  EXPECT_EQ(Pixels(*loaded.movie, 6).size(), 2u);
  EXPECT_EQ(decoder.seen, (Bytes{0xFF, 0xD8, 0xFF, 0xDB, 0, 3, 7, 0xFF, 0xC0, 0,
                                 3,    9,    0xFF, 0xDA, 0, 2, 1, 2,    0xFF, 0xD9}));
}

// SWF_SEED_DIR=tests/fuzz/swf/corpus build/linux/swf_tests --gtest_filter=*SeedCorpus*
// writes the fuzz target's seeds: this table's movies, one compressed.
TEST(Reader, SeedCorpus) {
  const char* dir = std::getenv("SWF_SEED_DIR");
  if (!dir) GTEST_SKIP() << "SWF_SEED_DIR not set";
  for (const ReaderCase& c : Cases()) {
    const Bytes tags = Join({c.tags(), PlaceObject2(1, 1), ShowFrame(), PlaceObject2(1, 0, 40, 0),
                             DoAction({GetUrl("FSCommand:Close", "")}), ShowFrame()});
    const Bytes file = Movie(tags, 4000, 3000, 12, c.name[0] == 'm');
    std::ofstream(std::string(dir) + "/" + c.name + ".swf", std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  }
}

}  // namespace

// SWF 5 and older: a font with the Shift-JIS flag makes the movie's strings Shift-JIS, and its
// own name and wide codes are Shift-JIS too.
TEST(Reader, ShiftJisFontsOfSwf5) {
  Bits font;
  font.U16(1).U16(2).UB(0, 4).UB(0, 4).UB(0, 6);  // one empty glyph
  Bits info;
  info.U16(1).U8(4).Raw({0x82, 0x6C, 0x82, 0x72}).U8(0x11).U16(0x82A0);
  Bits edit;
  edit.U16(2).Rect(0, 2000, 0, 400).U8(0x80).U8(0).Str("").Str("\x93\xFA\x96\x7B\xB1");
  const auto loaded = swf::LoadMovie(
      Movie(Join({Tag(10, font.bytes), Tag(13, info.bytes), Tag(37, edit.bytes),
                  DoAction({Push({std::string("\x83\x8D\x83\x53")}), Act(0x26)}), ShowFrame()}),
            4000, 3000, 10, false, 5),
      nullptr);
  ASSERT_TRUE(loaded.movie) << loaded.refusal;
  const auto& f = Get<swf::Font>(*loaded.movie, 1);
  EXPECT_EQ(f.name, "\xEF\xBC\xAD\xEF\xBC\xB3");  // ＭＳ
  EXPECT_EQ(f.codes, std::vector<char32_t>{U'\u3042'});
  EXPECT_EQ(Get<swf::EditText>(*loaded.movie, 2).initial_text,
            "\xE6\x97\xA5\xE6\x9C\xAC\xEF\xBD\xB1");  // 日本ｱ
  swf::Player player(loaded.movie);
  player.Play();
  player.AdvanceTo(0);
  EXPECT_EQ(player.TakeTrace(), std::vector<std::string>{"\xE3\x83\xAD\xE3\x82\xB4"});  // ロゴ
}
