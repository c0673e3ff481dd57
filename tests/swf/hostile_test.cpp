// Hostile files: each is refused with a reason or plays bounded, with the memory the test
// process allocates meanwhile under 256 MB. (No time is measured: a hang fails by the test's
// timeout.)
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <limits>
#include <new>
#include <thread>

#include "swf/bitmap_cache.h"
#include "swf/movie.h"
#include "swf/swf_player.h"
#include "swf_writer.h"

// Every allocation of this test program is counted, for the peak of what a load and play hold.
// Never inlined: a compiler that sees both ends of an allocation mistakes the header for misuse.
namespace {
std::atomic<std::size_t> g_live{0};
std::atomic<std::size_t> g_peak{0};
constexpr std::size_t kHeader = alignof(std::max_align_t);
}  // namespace

[[gnu::noinline]] void* operator new(std::size_t n) {
  void* block = std::malloc(n + kHeader);
  if (!block) throw std::bad_alloc();
  *static_cast<std::size_t*>(block) = n;
  const std::size_t live = g_live += n;
  std::size_t peak = g_peak.load();
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
  return static_cast<char*>(block) + kHeader;
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
  if (!p) return;
  void* block = static_cast<char*>(p) - kHeader;
  g_live -= *static_cast<std::size_t*>(block);
  std::free(block);
}
void operator delete(void* p, std::size_t) noexcept {
  operator delete(p);
}
void* operator new[](std::size_t n) {
  return operator new(n);
}
void operator delete[](void* p) noexcept {
  operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  operator delete(p);
}

namespace {

using namespace swf_test;

// `head`, then `unit` `repeats` times, deflated without ever holding the whole.
Bytes Deflated(const Bytes& head, const Bytes& unit, std::size_t repeats) {
  z_stream z{};
  deflateInit(&z, 9);
  Bytes out;
  Bytes buffer(1 << 16);
  Bytes block;
  while (block.size() + unit.size() <= (1 << 16))
    block.insert(block.end(), unit.begin(), unit.end());
  const std::size_t per_block = block.size() / unit.size();
  const auto feed = [&](const Bytes& in, int flush) {
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    do {
      z.next_out = buffer.data();
      z.avail_out = uInt(buffer.size());
      deflate(&z, flush);
      out.insert(out.end(), buffer.data(), buffer.data() + (buffer.size() - z.avail_out));
    } while (z.avail_out == 0);
  };
  feed(head, Z_NO_FLUSH);
  for (std::size_t done = 0; done < repeats; done += per_block) feed(block, Z_NO_FLUSH);
  feed({}, Z_FINISH);
  deflateEnd(&z);
  return out;
}

Bytes Header(const char* signature, std::uint32_t length) {
  Bits b;
  for (int i = 0; i < 3; ++i) b.U8(std::uint8_t(signature[i]));
  return b.U8(8).U32(length).bytes;
}

// A CWS file claiming 4 GiB whose body inflates to a thousand times its size: ShowFrame tags.
Bytes ZlibBomb() {
  Bits stage;
  stage.Rect(0, 4000, 0, 3000).U16(10 << 8).U16(1);
  return Join({Header("CWS", 0xFFFFFFFFu),
               Deflated(stage.bytes, ShowFrame(), std::size_t(80) << 19)});  // 80 MiB
}

// One shape of a million edges, a zigzag, placed on the stage.
Bytes MillionRecords() {
  Bits b;
  b.U16(1).Rect(0, 2000, 0, 2000);
  b.U8(1).U8(0).U8(0).U8(0).U8(255).U8(255).U8(0).UB(1, 4).UB(0, 4);
  b.UB(0, 1).UB(0b00101, 5).UB(2, 5).SB(0, 2).SB(0, 2).UB(1, 1);
  for (int i = 0; i < 1'000'000; ++i) {
    b.UB(0b11, 2).UB(5, 4).UB(1, 1).SB(i % 2 ? -20 : 20, 7).SB(i % 2 ? 1 : 0, 7);
  }
  b.UB(0, 6);
  return Movie(Join({Tag(32, b.bytes), PlaceObject2(1, 1), ShowFrame()}));
}

// DefineBitsLossless of 8000 x 6000 pixels (48 million) with a little zlib data, filling a shape.
Bytes HugeBitmap() {
  Bits b;
  b.U16(7).U8(5).U16(8000).U16(6000).Raw(Deflated({}, {0, 1, 2, 3}, 1000));
  return Movie(Join({Tag(20, b.bytes), PlaceObject2(1, 7), ShowFrame()}));
}

// DefineBitsLossless2 `id`: w x h transparent pixels.
Bytes BlankBitmap(int id, int w, int h) {
  return DefineBitsLossless2(id, w, h, std::vector<std::uint32_t>(std::size_t(w) * std::size_t(h)));
}

// A million one-pixel bitmaps: the ids wrap past 65535 and the first of each is kept.
Bytes MillionTinyBitmaps() {
  const Bytes pixel = BlankBitmap(0, 1, 1);  // a short tag: the id follows its two-byte header
  Bytes tags;
  tags.reserve(pixel.size() * 1'000'000 + 64);
  for (std::uint32_t i = 0; i < 1'000'000; ++i) {
    tags.insert(tags.end(), pixel.begin(), pixel.end());
    tags[tags.size() - pixel.size() + 2] = std::uint8_t(i);
    tags[tags.size() - pixel.size() + 3] = std::uint8_t(i >> 8);
  }
  const Bytes shown = Join({PlaceObject2(1, 7), ShowFrame()});
  tags.insert(tags.end(), shown.begin(), shown.end());
  return Movie(tags);
}

// A 1000 x 1000 bitmap defined again with the same id in each of 100 frames, placed each time.
Bytes BitmapRedefinedEachFrame() {
  const Bytes bitmap = BlankBitmap(7, 1000, 1000);
  Bytes tags;
  for (int f = 0; f < 100; ++f) tags = Join({tags, bitmap, PlaceObject2(1, 7), ShowFrame()});
  return Movie(tags);
}

Bytes SpriteInItself() {
  return Movie(Join({DefineSprite(5, 1, Join({PlaceObject2(1, 5), ShowFrame()})),
                     PlaceObject2(1, 5), ShowFrame()}));
}

// Three levels of 200 placements each: 8 million objects if nothing held it back.
Bytes SpriteFanOut() {
  Bytes shape_row, sprite_row, main_row;
  for (int d = 1; d <= 200; ++d) {
    shape_row = Join({shape_row, PlaceObject2(d, 1, d * 20)});
    sprite_row = Join({sprite_row, PlaceObject2(d, 3, 0, d * 20)});
    main_row = Join({main_row, PlaceObject2(d, 4, d, d)});
  }
  return Movie(
      Join({RectShape(1, 100, 100, 0x336699FF), DefineSprite(3, 1, Join({shape_row, ShowFrame()})),
            DefineSprite(4, 1, Join({sprite_row, ShowFrame()})), main_row, ShowFrame()}));
}

Bytes GotoLoop() {
  return Movie(Join({DoAction({GotoFrame(1), Play()}), ShowFrame(),
                     DoAction({GotoFrame(0), Play()}), ShowFrame()}));
}

// DefineFont2 1 with 65,535 triangle glyphs (code i is glyph i), their advances and bounds, and
// 65,535 kerning pairs; DefineEditText 2 drawing 20,000 characters of it, wrapped.
Bytes HugeFont() {
  constexpr std::uint32_t kGlyphs = 65535;
  Bits glyph;
  glyph.UB(1, 4).UB(0, 4);
  glyph.UB(0, 1).UB(0b00101, 5).UB(2, 5).SB(0, 2).SB(0, 2).UB(1, 1);  // move to 0,0; fill 1
  for (const auto& [dx, dy] : {std::pair(100, 0), std::pair(-100, -100), std::pair(0, 100)}) {
    glyph.UB(1, 1).UB(1, 1).UB(9 - 2, 4).UB(1, 1).SB(dx, 9).SB(dy, 9);
  }
  glyph.UB(0, 6);
  const std::uint32_t size = std::uint32_t(glyph.bytes.size());
  Bits font;
  font.U16(1).U8(0x80 | 0x08 | 0x04).U8(0).U8(3).U8('B').U8('i').U8('g').U16(kGlyphs);
  const std::uint32_t table = (kGlyphs + 1) * 4;
  for (std::uint32_t i = 0; i < kGlyphs; ++i) font.U32(table + i * size);
  font.U32(table + kGlyphs * size);
  for (std::uint32_t i = 0; i < kGlyphs; ++i) font.Raw(glyph.bytes);
  for (std::uint32_t i = 0; i < kGlyphs; ++i) font.U16(i);
  font.U16(800).U16(200).U16(0);
  for (std::uint32_t i = 0; i < kGlyphs; ++i) font.U16(500);
  for (std::uint32_t i = 0; i < kGlyphs; ++i) font.Rect(0, 0, 0, 0);
  font.U16(kGlyphs);
  for (std::uint32_t i = 0; i < kGlyphs; ++i) font.U16(kGlyphs - i).U16(i).U16(0xFFF6);
  std::string text;
  for (int i = 0; i < 20000; ++i) text += i % 7 == 6 ? ' ' : char('a' + i % 26);
  Bits edit;
  edit.U16(2).Rect(0, 4000, 0, 3000).U8(0x80 | 0x40 | 0x20 | 0x01).U8(0x20 | 0x01);
  edit.U16(1).U16(240).U8(2).U16(100).U16(50).U16(20).U16(40).Str("v").Str(text);
  return Movie(Join({Tag(48, font.bytes), Tag(37, edit.bytes), PlaceObject2(1, 2), ShowFrame()}),
               4000, 3000, 10, true);
}

// A text field of 100 MB: what the file holds past the inflate limit is cut, what a field
// keeps past its own limit too.
Bytes HundredMegabyteText() {
  Bits head;
  head.U16(2).Rect(0, 4000, 0, 3000).U8(0x80 | 0x40 | 0x20).U8(0x02);  // HTML
  Bytes tag = Bits().U16(std::uint32_t(37 << 6) | 0x3F).U32(100u << 20).bytes;
  tag.insert(tag.end(), head.bytes.begin(), head.bytes.end());
  tag.push_back(0);  // no variable
  Bits body;
  // Placed before it is defined: the dictionary is whole before the first frame plays.
  body.Rect(0, 4000, 0, 3000).U16(10 << 8).U16(1).Raw(PlaceObject2(1, 2)).Raw(ShowFrame()).Raw(tag);
  return Join({Header("CWS", 0xFFFFFFFF), Deflated(body.bytes, Bytes(1 << 16, 'a'), 1600)});
}

struct HostileCase {
  const char* name;
  std::function<Bytes()> make;
  const char* refusal;  // a part of the reason, or null when the movie must load and play
  std::function<void(swf::Player&)> check = nullptr;
  bool reads_itself = false;  // the player's folder holds the movie as test.swf
};

void PrintTo(const HostileCase& c, std::ostream* os) {
  *os << c.name;
}

// A script in the first of two frames; the second traces "end": the movie must get there.
Bytes Scripted(const Bytes& code) {
  return Movie(
      Join({DoAction({code}), ShowFrame(), DoAction({PushString("end"), Trace()}), ShowFrame()}));
}
void ReachesTheEnd(swf::Player& p) {
  EXPECT_EQ(p.CurrentFrame(), 2);
  const std::vector<std::string> trace = p.TakeTrace();
  EXPECT_FALSE(trace.empty());
  if (!trace.empty()) {
    EXPECT_EQ(trace.back(), "end");
  }
}
// while (true) { BODY }
Bytes Forever(const Bytes& body) {
  const auto back = std::int32_t(body.size() + 5);
  return Join({body, Act(0x99, Bits().U16(std::uint32_t(-back) & 0xFFFF).bytes)});
}
constexpr int kAdd2 = 0x47, kGetVariable = 0x1C, kSetVariable = 0x1D, kCallFunction = 0x3D,
              kCallMethod = 0x52, kIncrement = 0x50, kSetMember = 0x4F, kPop = 0x17;

std::vector<HostileCase> Cases() {
  const std::string s = "s", o = "o", i = "i", f = "f";
  return {
      {"script_endless_loop", [] { return Scripted(Forever({})); }, nullptr, ReachesTheEnd},
      {"script_endless_recursion",
       [f] {
         return Scripted(Join({Function(f, Join({Push({0.0, f}), Op(kCallFunction)})),
                               Push({0.0, f}), Op(kCallFunction)}));
       },
       nullptr, ReachesTheEnd},
      {"script_frame_calls_itself",
       [] {
         return Scripted(Join({Push({1.0}), Act(0x9E, {}), Push({1.0}), Act(0x9E, {})}));
       },
       nullptr, ReachesTheEnd},
      {"script_string_doubled",
       [s] {
         return Scripted(Join({Push({s, s}), Op(kSetVariable),
                               Forever(Join({Push({s, s}), Op(kGetVariable), Push({s}),
                                             Op(kGetVariable), Op(kAdd2), Op(kSetVariable)}))}));
       },
       nullptr, ReachesTheEnd},
      {"script_object_grown",
       [o, i] {
         // o = {}; i = 0; for (;;) o[i] = i++ + "...";
         return Scripted(
             Join({Push({o, 0.0}), Op(0x43), Op(kSetVariable), Push({i, 0.0}), Op(kSetVariable),
                   Forever(Join({Push({o}), Op(kGetVariable), Push({i}), Op(kGetVariable),
                                 Push({i}), Op(kGetVariable), Push({std::string(64, 'x')}),
                                 Op(kAdd2), Op(kSetMember), Push({i, i}), Op(kGetVariable),
                                 Op(kIncrement), Op(kSetVariable)}))}));
       },
       nullptr, ReachesTheEnd},
      {"script_interval_0ms",
       [f] {
         // setInterval(function () { trace("tick"); }, 0);
         return Scripted(
             Join({Push({0.0}), Function("", Join({PushString("tick"), Trace()})),
                   Push({2.0, std::string("setInterval")}), Op(kCallFunction), Op(kPop)}));
       },
       nullptr,
       [](swf::Player& p) {
         EXPECT_EQ(p.CurrentFrame(), 2);
         // At most once a frame, whatever the interval asks.
         EXPECT_LE(p.TakeTrace().size(), 14u);
       }},
      {"script_clips_made_forever",
       [i] {
         // for (;;) createEmptyMovieClip("c" + i, i++);
         return Scripted(
             Join({Push({i, 0.0}), Op(kSetVariable),
                   Forever(Join({Push({i}), Op(kGetVariable), Push({std::string("c"), i}),
                                 Op(kGetVariable), Op(kAdd2), Push({2.0, std::string("_root")}),
                                 Op(kGetVariable), Push({std::string("createEmptyMovieClip")}),
                                 Op(kCallMethod), Op(kPop), Push({i, i}), Op(kGetVariable),
                                 Op(kIncrement), Op(kSetVariable)}))}));
       },
       nullptr,
       [](swf::Player& p) {
         EXPECT_EQ(p.CurrentFrame(), 2);
         EXPECT_LE(p.DisplayList().size(), 20'000u);
       }},
      {"script_draws_forever",
       [i] {
         // for (;;) { _root.lineTo(i, i); i++; }
         return Scripted(Join(
             {Push({i, 0.0}), Op(kSetVariable),
              Forever(Join({Push({i}), Op(kGetVariable), Push({i}), Op(kGetVariable),
                            Push({2.0, std::string("_root")}), Op(kGetVariable),
                            Push({std::string("lineTo")}), Op(kCallMethod), Op(kPop), Push({i, i}),
                            Op(kGetVariable), Op(kIncrement), Op(kSetVariable)}))}));
       },
       nullptr, [](swf::Player& p) { EXPECT_EQ(p.CurrentFrame(), 2); }},
      {"script_text_fields_forever",
       [i] {
         // for (;;) createTextField("t" + i, i++, 0, 0, 10, 10);
         return Scripted(Join(
             {Push({i, 0.0}), Op(kSetVariable),
              Forever(Join({Push({10.0, 10.0, 0.0, 0.0, i}), Op(kGetVariable),
                            Push({std::string("t"), i}), Op(kGetVariable), Op(kAdd2),
                            Push({6.0, std::string("_root")}), Op(kGetVariable),
                            Push({std::string("createTextField")}), Op(kCallMethod), Op(kPop),
                            Push({i, i}), Op(kGetVariable), Op(kIncrement), Op(kSetVariable)}))}));
       },
       nullptr,
       [](swf::Player& p) {
         EXPECT_EQ(p.CurrentFrame(), 2);
         EXPECT_LE(p.DisplayList().size(), 20'000u);
       }},
      {"script_loads_itself", [] { return Scripted(GetUrl("test.swf", "_level0")); }, nullptr,
       [](swf::Player& p) {
         ReachesTheEnd(p);
         EXPECT_TRUE(p.TakeCommands().empty());
       }},
      {"script_loads_itself_forever",
       [] {
         // createEmptyMovieClip("c", 1); for (;;) loadMovie("test.swf", "c");  Each copy does
         // the same inside its own "c".
         return Scripted(
             Join({Push({1.0, std::string("c"), 2.0, std::string("_root")}), Op(kGetVariable),
                   Push({std::string("createEmptyMovieClip")}), Op(kCallMethod), Op(kPop),
                   Forever(Join(
                       {Push({std::string("test.swf"), std::string("c")}), Act(0x9A, {0x40})}))}));
       },
       nullptr, ReachesTheEnd, true},
      {"script_fscommand_exec", [] { return Scripted(GetUrl("FSCommand:exec", "calc.exe")); },
       nullptr,
       [](swf::Player& p) {
         // Handed on as a command (only "Close" means anything to the launcher), nothing run.
         ReachesTheEnd(p);
         const std::vector<swf::MovieCommand> sent = p.TakeCommands();
         ASSERT_EQ(sent.size(), 1u);
         EXPECT_EQ(sent[0].command, "exec");
       }},
      {"zlib_bomb", ZlibBomb, nullptr,
       [](const swf::Player& p) {
         EXPECT_LE(p.movie().stream->bytes_loaded() - 8,
                   std::max(ZlibBomb().size() * swf::Limits::kMaxInflateRatio,
                            swf::Limits::kMinInflated));
         EXPECT_FALSE(p.movie().notes.empty()) << p.movie().main.frames.size() << " frames from "
                                               << p.movie().stream->bytes_loaded() << " bytes";
       }},
      {"million_shape_records", MillionRecords, nullptr,
       [](const swf::Player& p) { EXPECT_EQ(p.DisplayList().size(), 1u); }},
      {"bitmap_over_40_million_pixels", HugeBitmap, nullptr,
       [](const swf::Player& p) {
         EXPECT_EQ(p.movie().Find(7), nullptr);
         ASSERT_FALSE(p.movie().notes.empty());
         EXPECT_NE(p.movie().notes[0].find("too large"), std::string::npos);
       }},
      {"million_tiny_bitmaps", MillionTinyBitmaps, nullptr,
       [](const swf::Player& p) {
         EXPECT_EQ(p.movie().bitmaps->size(), 65536u);
         EXPECT_EQ(p.DisplayList().size(), 1u);
       }},
      {"bitmap_redefined_each_frame", BitmapRedefinedEachFrame, nullptr,
       [](const swf::Player& p) {
         EXPECT_EQ(p.movie().bitmaps->size(), 1u);
         EXPECT_EQ(p.movie().bitmaps->stats().decoded, 1);
       }},
      {"sprite_placing_itself", SpriteInItself, nullptr,
       [](const swf::Player& p) {
         std::size_t deepest = 0;
         for (const auto& item : p.DisplayList()) deepest = std::max(deepest, item.path.size());
         EXPECT_GT(deepest, 4u);
         EXPECT_LE(deepest, 17u);
       }},
      {"sprite_fan_out", SpriteFanOut, nullptr,
       [](const swf::Player& p) { EXPECT_LE(p.DisplayList().size(), 100'000u); }},
      // Each tick runs a bounded number of the gotos, then shows where they left it.
      {"goto_loop", GotoLoop, nullptr,
       [](const swf::Player& p) { EXPECT_GE(p.CurrentFrame(), 1); }},
      {"font_with_65535_glyphs", HugeFont, nullptr,
       [](const swf::Player& p) {
         const auto* font = std::get_if<std::shared_ptr<const swf::Font>>(p.movie().Find(1));
         ASSERT_TRUE(font);
         EXPECT_EQ((*font)->name, "Big");
         EXPECT_EQ((*font)->glyphs.size(), 65535u);
         EXPECT_EQ((*font)->codes.size(), 65535u);
         EXPECT_EQ((*font)->advances.size(), 65535u);
         EXPECT_EQ((*font)->kerning.size(), 65535u);
         const auto* edit = std::get_if<std::shared_ptr<const swf::EditText>>(p.movie().Find(2));
         ASSERT_TRUE(edit);
         const swf::EditText& e = **edit;
         EXPECT_TRUE(e.word_wrap && e.multiline && e.use_outlines && !e.html && !e.border);
         EXPECT_EQ(e.font, 1);
         EXPECT_EQ(e.height, 240);
         EXPECT_EQ(e.align, swf::EditText::Align::Center);
         EXPECT_EQ(e.left_margin + e.right_margin + e.indent + e.leading, 210);
         EXPECT_EQ(e.variable, "v");
         EXPECT_EQ(e.initial_text.size(), 20000u);
       }},
      {"text_field_of_100_mb", HundredMegabyteText, nullptr,
       [](const swf::Player& p) {
         const auto* edit = std::get_if<std::shared_ptr<const swf::EditText>>(p.movie().Find(2));
         ASSERT_TRUE(edit);
         EXPECT_LT((*edit)->initial_text.size(), swf::Limits::kMaxInflated);
       }},
      {"lzma",
       [] {
         return Join({Header("ZWS", 100), Bytes(100)});
       },
       "LZMA"},
      {"not_swf", [] { return Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0}; }, "not an SWF"},
      {"empty", [] { return Bytes{}; }, "not an SWF"},
      {"header_cut",
       [] {
         return Join({Header("FWS", 1000), Bytes{0x78}});
       },
       "ends inside"},
      {"zlib_garbage",
       [] {
         return Join({Header("CWS", 1000), Bytes(50, 0xAB)});
       },
       "inflate"},
      {"truncated_cws",
       [] {
         Bytes file = Movie(Join({RectShape(1, 200, 200, 0xFF0000FF), PlaceObject2(1, 1),
                                  ShowFrame(), ShowFrame()}),
                            4000, 3000, 10, true);
         file.resize(file.size() * 2 / 3);
         return file;
       },
       nullptr},
  };
}

class Hostile : public testing::TestWithParam<HostileCase> {};

TEST_P(Hostile, RefusedOrBounded) {
  const HostileCase& c = GetParam();
  const Bytes file = c.make();
  const std::size_t before = g_live;
  g_peak = before;
  // Read whole, and read as it plays.
  for (const bool streamed : {false, true}) {
    SCOPED_TRACE(streamed ? "read as it plays" : "read whole");
    const swf::LoadResult loaded =
        streamed ? swf::LoadMovie(swf::MemorySource(file), nullptr) : swf::LoadMovie(file, nullptr);
    if (c.refusal) {
      EXPECT_FALSE(loaded.movie);
      EXPECT_NE(loaded.refusal.find(c.refusal), std::string::npos) << loaded.refusal;
    } else {
      ASSERT_TRUE(loaded.movie) << loaded.refusal;
      // Read to its end before it plays, so the checks see what the whole read does.
      while (loaded.movie->loading()) {
        loaded.movie->stream->ReadThrough(std::numeric_limits<int>::max());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      swf::Player player(loaded.movie);
      if (c.reads_itself) {
        player.SetFileReader([&file](const std::string& name) -> std::optional<std::string> {
          if (name != "test.swf") return std::nullopt;
          return std::string(file.begin(), file.end());
        });
      }
      player.Play();
      std::vector<std::uint32_t> pixels(64 * 48);
      for (int frame = 0; frame < 12; ++frame) {
        player.AdvanceTo(frame / 10.0);
        if (frame % 4 == 0) player.Render({pixels.data(), 64, 48, 64});
      }
      if (c.check) c.check(player);
    }
  }
  EXPECT_LT(g_peak - before, std::size_t(256) << 20);
}

INSTANTIATE_TEST_SUITE_P(Swf, Hostile, testing::ValuesIn(Cases()),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
