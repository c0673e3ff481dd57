// Writes the SWF movies of the end-to-end tests, the benchmark and the example game with the
// tests' tag writer:
//
//   write_swf_movies OUTDIR [MP3 [FLV [JPEGS]]]
//
// MP3 (44100 Hz, written by ffmpeg) becomes the stream sound of the movies that have one; without
// it they are left out. FLV (Sorenson H.263, written by ffmpeg; "-" for none) becomes the embedded
// video of video.swf. JPEGS, a folder of 800 x 600 JPEG pictures, becomes pictures.swf, one a
// frame. The pictures are solid areas, so a screenshot's pixel tells what is shown.

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "swf/flv_packets.h"
#include "swf/sound.h"
#include "swf/swf_writer.h"

namespace {

using namespace swf_test;

constexpr int kTwips = 20;

// ---- Tags the tag writer leaves out
// --------------------------------------------------------------

Bytes SetBackgroundColor(std::uint32_t rgb) {
  return Tag(9, Bits().U8(rgb >> 16).U8(rgb >> 8 & 0xFF).U8(rgb & 0xFF).bytes);
}

// A matrix with separate scales (16.16) and a translation in twips.
void ScaleMatrix(Bits& b, std::int32_t sx, std::int32_t sy, std::int32_t tx, std::int32_t ty) {
  b.UB(1, 1);
  const int n = Bits::Width({sx, sy});
  b.UB(std::uint32_t(n), 5).SB(sx, n).SB(sy, n).UB(0, 1);
  const int t = Bits::Width({tx, ty});
  b.UB(std::uint32_t(t), 5).SB(tx, t).SB(ty, t);
  b.U8(0).bytes.pop_back();  // back to a byte boundary
}

// The edges of a w x h rectangle at (x, y), after a style change that selects `fill` on the
// right of the path (clockwise on screen) and no line; fill and line bits as the shape declares.
void RectPath(Bits& b, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, int fill,
              int fill_bits) {
  const int n = Bits::Width({x, y, w, h, -w, -h});
  b.UB(0, 1).UB(0b00101, 5).UB(std::uint32_t(n), 5).SB(x, n).SB(y, n);
  b.UB(std::uint32_t(fill), fill_bits);
  const auto line = [&](bool vertical, std::int32_t d) {
    b.UB(1, 1).UB(1, 1).UB(std::uint32_t(n - 2), 4).UB(0, 1).UB(vertical, 1).SB(d, n);
  };
  line(false, w);
  line(true, h);
  line(false, -w);
  line(true, -h);
}

// DefineShape3 `id` of rectangles {x, y, w, h, fill index} over the fill styles given (the
// FILLSTYLEARRAY's bytes after its count).
struct Box {
  std::int32_t x, y, w, h;
  int fill;
};
Bytes BoxShape(int id, const std::vector<Box>& boxes, int fill_count, const Bytes& fills) {
  Bits b;
  std::int32_t x1 = 0, y1 = 0;
  for (const Box& box : boxes) {
    x1 = std::max(x1, box.x + box.w);
    y1 = std::max(y1, box.y + box.h);
  }
  b.U16(std::uint32_t(id)).Rect(0, x1, 0, y1);
  b.U8(std::uint32_t(fill_count)).Raw(fills).U8(0);  // no line styles
  const int fill_bits = Bits::Width({fill_count});
  b.UB(std::uint32_t(fill_bits), 4).UB(0, 4);
  for (const Box& box : boxes) RectPath(b, box.x, box.y, box.w, box.h, box.fill, fill_bits);
  b.UB(0, 6);
  return Tag(32, b.bytes);
}

Bytes SolidFill(std::uint32_t rgba) {
  return Bits()
      .U8(0)
      .U8(rgba >> 24)
      .U8(rgba >> 16 & 0xFF)
      .U8(rgba >> 8 & 0xFF)
      .U8(rgba & 0xFF)
      .bytes;
}

// A linear (0x10) or radial (0x12) gradient over a w x h box at the origin.
Bytes GradientFill(bool radial, std::int32_t w, std::int32_t h,
                   const std::vector<std::pair<int, std::uint32_t>>& stops) {
  Bits b;
  b.U8(radial ? 0x12 : 0x10);
  // The gradient square is 32768 twips wide: scaled to the box (16.16), centred on it.
  const auto scale = [](std::int32_t size) { return std::int32_t(size * 2); };
  ScaleMatrix(b, scale(w), radial ? scale(w) : scale(h), w / 2, h / 2);
  b.U8(std::uint32_t(stops.size()));
  for (const auto& [ratio, rgba] : stops) {
    b.U8(std::uint32_t(ratio))
        .U8(rgba >> 24)
        .U8(rgba >> 16 & 0xFF)
        .U8(rgba >> 8 & 0xFF)
        .U8(rgba & 0xFF);
  }
  return b.bytes;
}

// A clipped bitmap fill of `bitmap`, each pixel `pixel` twips wide.
Bytes BitmapFill(int bitmap, std::int32_t pixel) {
  Bits b;
  b.U8(0x41).U16(std::uint32_t(bitmap));
  ScaleMatrix(b, pixel * 65536, pixel * 65536, 0, 0);
  return b.bytes;
}

// DefineFont `id` whose glyphs are bars {x, y, w, h} in the 1024-unit em square (baseline at 0,
// up is negative), and DefineText `textId` writing glyphs 0, 1, ... in `rgb` at `height` twips.
using Glyph = std::vector<Box>;
Bytes Font(int id, const std::vector<Glyph>& glyphs) {
  std::vector<Bytes> shapes;
  for (const Glyph& glyph : glyphs) {
    Bits s;
    s.UB(1, 4).UB(0, 4);
    for (const Box& bar : glyph) RectPath(s, bar.x, bar.y, bar.w, bar.h, 1, 1);
    s.UB(0, 6);
    shapes.push_back(s.bytes);
  }
  Bits b;
  b.U16(std::uint32_t(id));
  std::uint32_t offset = std::uint32_t(2 * glyphs.size());
  for (const Bytes& shape : shapes) {
    b.U16(offset);
    offset += std::uint32_t(shape.size());
  }
  for (const Bytes& shape : shapes) b.Raw(shape);
  return Tag(10, b.bytes);
}
Bytes Text(int id, int font, int glyph_count, std::int32_t height, std::int32_t advance,
           std::uint32_t rgb) {
  Bits b;
  b.U16(std::uint32_t(id)).Rect(0, advance * glyph_count, -height, 0).Matrix(0, 0);
  const int advance_bits = Bits::Width({advance});
  b.U8(4).U8(std::uint32_t(advance_bits));
  b.U8(0x80 | 0x08 | 0x04)
      .U16(std::uint32_t(font))
      .U8(rgb >> 16)
      .U8(rgb >> 8 & 0xFF)
      .U8(rgb & 0xFF);
  b.U16(std::uint32_t(height)).U8(std::uint32_t(glyph_count));
  for (int i = 0; i < glyph_count; ++i) b.UB(std::uint32_t(i), 4).SB(advance, advance_bits);
  b.U8(0).bytes.pop_back();
  b.U8(0);
  return Tag(11, b.bytes);
}

// PlaceObject2 with a matrix of separate scales.
Bytes PlaceScaled(int depth, int character, std::int32_t sx, std::int32_t sy, std::int32_t tx,
                  std::int32_t ty, bool move) {
  Bits b;
  b.U8((move ? 0x01 : 0) | (character != 0 ? 0x02 : 0) | 0x04).U16(std::uint32_t(depth));
  if (character != 0) b.U16(std::uint32_t(character));
  ScaleMatrix(b, sx, sy, tx, ty);
  return Tag(26, b.bytes);
}

Bytes FsCommand(const std::string& command) {
  return DoAction({GetUrl("FSCommand:" + command, "")});
}

// ---- Stream sound
// ---------------------------------------------------------------------------------

// The MP3 file's frames, each with its header's sample count.
struct Mp3 {
  std::vector<Bytes> frames;
  int samples_per_frame = 1152;
  int rate = 44100;
  int channels = 2;
};
std::optional<Mp3> ReadMp3(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Mp3 mp3;
  std::size_t at = 0;
  while (at + 4 <= file.size()) {
    const auto header = swf::ReadMp3FrameHeader(std::span(file).subspan(at));
    if (!header || at + header->size > file.size()) {
      ++at;  // an ID3 tag or padding: look for the next frame
      continue;
    }
    mp3.samples_per_frame = header->samples_per_frame;
    mp3.rate = header->rate;
    mp3.channels = header->channels;
    mp3.frames.emplace_back(file.begin() + std::ptrdiff_t(at),
                            file.begin() + std::ptrdiff_t(at + header->size));
    at += header->size;
  }
  if (mp3.frames.empty() || mp3.rate != 44100) return std::nullopt;
  return mp3;
}

// The head and one block per movie frame: block k carries the MP3 frames that bring the sound to
// the end of movie frame k.
class StreamSound {
 public:
  StreamSound(const Mp3& mp3, int fps) : mp3_(mp3), fps_(fps) {}
  [[nodiscard]] Bytes Head() const {
    const std::uint32_t format = 0x0C | (mp3_.channels == 2 ? 1 : 0) | 0x02;  // 44 kHz, 16-bit
    return Tag(45,
               Bits().U8(format).U8(0x20 | format).U16(std::uint32_t(44100 / fps_)).U16(0).bytes);
  }
  // The block of frame `k` (0-based); empty once the sound is used up.
  Bytes Block(int k) {
    const auto due = std::int64_t(std::llround(double(k + 1) * 44100 / fps_));
    Bits b;
    std::int64_t samples = 0;
    Bytes frames;
    while (next_ < mp3_.frames.size() && written_ < due) {
      frames.insert(frames.end(), mp3_.frames[next_].begin(), mp3_.frames[next_].end());
      written_ += mp3_.samples_per_frame;
      samples += mp3_.samples_per_frame;
      ++next_;
    }
    if (frames.empty()) return {};
    return Tag(19, b.U16(std::uint32_t(samples)).U16(0).Raw(frames).bytes);
  }

 private:
  const Mp3& mp3_;
  int fps_;
  std::size_t next_ = 0;
  std::int64_t written_ = 0;
};

// ---- The movies
// -----------------------------------------------------------------------------------

struct Colours {
  static constexpr std::uint32_t kBackground = 0x2040A0;  // the letterbox bars
  static constexpr std::uint32_t kRed = 0xFF0000FF;
  static constexpr std::uint32_t kGreen = 0x00FF00FF;
  static constexpr std::uint32_t kMagenta = 0xFF00FFFF;
};

// A 4:3 stage (320 x 240 pixels) filled with red for the first half of its frames and green for
// the second; `close_at` > 0 sends FSCommand "Close" in that frame.
Bytes TwoColourMovie(int frames, int fps, std::uint32_t first, std::uint32_t second, int close_at,
                     bool compressed) {
  const std::int32_t w = 320 * kTwips, h = 240 * kTwips;
  Bytes tags = Join({SetBackgroundColor(Colours::kBackground), RectShape(1, w, h, first),
                     RectShape(2, w, h, second), PlaceObject2(1, 1)});
  for (int f = 1; f <= frames; ++f) {
    if (f == frames / 2 + 1) tags = Join({tags, RemoveObject2(1), PlaceObject2(1, 2)});
    if (f == close_at) tags = Join({tags, FsCommand("Close")});
    tags = Join({tags, ShowFrame()});
  }
  return Movie(tags, w, h, fps, compressed);
}

// 800 x 600 at 30 fps for `seconds`, with the stream sound: a gradient sky, a radial sun and a bar
// moving, so each frame has something to draw, and a flat patch at the centre for the benchmark's
// probe: 0x20C040 in the first frame, then the frame's number k as 0x80, k / 256, k % 256.
Bytes BenchMovie(const Mp3& mp3, int seconds) {
  const int fps = 30, frames = fps * seconds;
  const std::int32_t w = 800 * kTwips, h = 600 * kTwips;
  const std::int32_t patch_w = 200 * kTwips, patch_h = 150 * kTwips;
  StreamSound sound(mp3, fps);
  Bytes tags =
      Join({SetBackgroundColor(0x000000), sound.Head(),
            BoxShape(1, {{0, 0, w, h, 1}}, 1,
                     GradientFill(false, w, h, {{0, 0x103080FF}, {255, 0xF0A040FF}})),
            BoxShape(2, {{0, 0, 200 * kTwips, 200 * kTwips, 1}}, 1,
                     GradientFill(true, 200 * kTwips, 200 * kTwips,
                                  {{0, 0xFFFF80FF}, {200, 0xFF8000FF}, {255, 0xFF800000}})),
            BoxShape(3, {{0, 0, 40 * kTwips, 400 * kTwips, 1}}, 1, SolidFill(0x30C030FF)),
            PlaceObject2(1, 1), PlaceObject2(2, 2), PlaceObject2(3, 3)});
  for (int f = 1; f <= frames; ++f) {
    const std::uint32_t rgb = f == 1 ? 0x20C040 : 0x800000 | std::uint32_t(f);
    const int patch = 100 + f;
    tags = Join({tags, RectShape(patch, patch_w, patch_h, rgb << 8 | 0xFF)});
    if (f > 1) tags = Join({tags, RemoveObject2(10)});
    const std::int32_t x = (f * 9 % 760) * kTwips;
    tags = Join({tags, PlaceObject2(10, patch, (w - patch_w) / 2, (h - patch_h) / 2),
                 PlaceObject2(2, 0, x, 100 * kTwips),
                 PlaceObject2(3, 0, w - x - 40 * kTwips, 150 * kTwips), sound.Block(f - 1),
                 ShowFrame()});
  }
  return Movie(tags, w, h, fps, true);
}

// The example game's opening: 640 x 360 like its logo, 4 s at 20 fps, the stream sound, a gradient
// sky, a bitmap, a text and moving shapes; it closes itself with FSCommand "Close" at its end.
Bytes OpeningMovie(const std::optional<Mp3>& mp3) {
  const int fps = 20, frames = 80;
  const std::int32_t w = 640 * kTwips, h = 360 * kTwips;
  std::vector<std::uint32_t> checker;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) checker.push_back((x / 8 + y / 8) % 2 ? 0xFFFFD040 : 0xFF8040C0);
  }
  // "OP" in block letters.
  const std::vector<Glyph> letters = {
      {{0, -1024, 700, 160, 1},
       {0, -160, 700, 160, 1},
       {0, -864, 160, 704, 1},
       {540, -864, 160, 704, 1}},
      {{0, -1024, 160, 1024, 1},
       {160, -1024, 540, 160, 1},
       {160, -580, 540, 160, 1},
       {540, -864, 160, 284, 1}},
  };
  const std::int32_t sun = 120 * kTwips, tile = 4 * kTwips;
  Bytes tags = Join(
      {SetBackgroundColor(0x101830),
       BoxShape(1, {{0, 0, w, h, 1}}, 1,
                GradientFill(false, w, h, {{0, 0x203070FF}, {160, 0x8050A0FF}, {255, 0xF0A060FF}})),
       DefineBitsLossless2(2, 32, 32, checker),
       BoxShape(3, {{0, 0, 32 * tile, 32 * tile, 1}}, 1, BitmapFill(2, tile)),
       BoxShape(
           4, {{0, 0, sun, sun, 1}}, 1,
           GradientFill(true, sun, sun, {{0, 0xFFFFC0FF}, {180, 0xFFC040FF}, {255, 0xFFC04000}})),
       Font(5, letters), Text(6, 5, 2, 110 * kTwips, 90 * kTwips, 0xFFFFFF),
       BoxShape(7, {{0, 0, w, 16 * kTwips, 1}}, 1, SolidFill(0x000000C0)), PlaceObject2(1, 1),
       PlaceObject2(2, 3, 460 * kTwips, 180 * kTwips),
       PlaceObject2(3, 4, 40 * kTwips, 200 * kTwips), PlaceObject2(4, 6, 60 * kTwips, 300 * kTwips),
       PlaceObject2(5, 7, 0, 0)});
  std::optional<StreamSound> sound;
  if (mp3) {
    sound.emplace(*mp3, fps);
    tags = Join({tags, sound->Head()});
  }
  for (int f = 0; f < frames; ++f) {
    const double t = double(f) / frames;
    // The sun rises, the text slides in, the bar at the top fills up.
    const auto sun_x = std::int32_t((40 + 200 * t) * kTwips);
    const auto sun_y = std::int32_t((200 - 170 * t) * kTwips);
    const auto text_x = std::int32_t((-200 + 260 * std::min(1.0, 2 * t)) * kTwips);
    tags = Join({tags, PlaceObject2(3, 0, sun_x, sun_y), PlaceObject2(4, 0, text_x, 300 * kTwips),
                 PlaceScaled(5, 0, std::int32_t(65536 * (f + 1) / frames), 65536, 0, 0, true)});
    if (sound) tags = Join({tags, sound->Block(f)});
    if (f == frames - 1) tags = Join({tags, FsCommand("Close")});
    tags = Join({tags, ShowFrame()});
  }
  return Movie(tags, w, h, fps, true);
}

// DefineFont2 `id` without glyphs: text in it is drawn with the system's face of that name.
Bytes DeviceFont(int id, const std::string& name) {
  Bits b;
  b.U16(std::uint32_t(id)).U8(0x04).U8(0).U8(std::uint32_t(name.size()));
  for (char c : name) b.U8(std::uint8_t(c));
  return Tag(48, b.U16(0).bytes);
}

// DefineEditText `id`: read-only text in font `font` (`height` twips, `rgba`) in a w x h box at
// the origin, aligned 0 left, 1 right, 2 centre; `html` reads the text as HTML.
Bytes EditText(int id, int font, std::int32_t w, std::int32_t h, int height, std::uint32_t rgba,
               int align, bool html, bool border, const std::string& text) {
  Bits b;
  b.U16(std::uint32_t(id)).Rect(0, w, 0, h);
  b.U8(0x80 | 0x40 | 0x20 | 0x08 | 0x04 | 0x01);  // text, wrap, multiline, read-only, colour, font
  b.U8(0x20 | 0x10 | (border ? 0x08 : 0) | (html ? 0x02 : 0));  // layout, no select
  b.U16(std::uint32_t(font)).U16(std::uint32_t(height));
  b.U8(rgba >> 24).U8(rgba >> 16 & 0xFF).U8(rgba >> 8 & 0xFF).U8(rgba & 0xFF);
  b.U8(std::uint32_t(align)).U16(0).U16(0).U16(0).U16(0);
  return Tag(37, b.Str("").Str(text).bytes);
}

// Text in the system's fonts, Japanese included, on a dark blue stage for 20 s: a Gothic field,
// an HTML field with a border (styles, colours, a Mincho line, a list item), a fixed-pitch line.
Bytes TextMovie() {
  const std::int32_t w = 640 * kTwips, h = 360 * kTwips;
  const std::string gothic = "ＭＳ Ｐゴシック";
  const std::string html =
      "<p align=\"center\"><font color=\"#CC0000\" size=\"24\">Device fonts: <b>bold</b>, "
      "<i>italic</i>, <u>underlined</u></font></p><p align=\"center\"><font face=\"ＭＳ 明朝\" "
      "size=\"30\">明朝体の日本語 &amp; ASCII</font></p><li>a list item that wraps onto a second "
      "line inside the bordered box</li>";
  Bytes tags = Join(
      {SetBackgroundColor(0x1A2A4A), DeviceFont(1, gothic), DeviceFont(2, "_sans"),
       DeviceFont(3, "_typewriter"),
       EditText(10, 1, 600 * kTwips, 110 * kTwips, 32 * kTwips, 0xFFFFFFFF, 0, false, false,
                "こんにちは、世界！\r日本語のテキスト"),
       EditText(11, 2, 600 * kTwips, 130 * kTwips, 20 * kTwips, 0x000000FF, 0, true, true, html),
       EditText(12, 3, 600 * kTwips, 40 * kTwips, 18 * kTwips, 0xFFCC00FF, 1, false, false,
                "_typewriter, right-aligned"),
       PlaceObject2(1, 10, 20 * kTwips, 20 * kTwips),
       PlaceObject2(2, 11, 20 * kTwips, 140 * kTwips),
       PlaceObject2(3, 12, 20 * kTwips, 290 * kTwips)});
  for (int i = 0; i < 240; ++i) tags = Join({tags, ShowFrame()});
  return Movie(tags, w, h, 12, true);
}

// The video over a 4:3 stage (320 x 240 pixels), a packet a frame at the clip's size stretched to
// the stage, the frame number as each placement's ratio.
Bytes VideoMovie(const FlvVideo& video, int fps) {
  const std::int32_t w = 320 * kTwips, h = 240 * kTwips;
  const int frames = int(video.packets.size());
  Bytes tags = Join({SetBackgroundColor(Colours::kBackground),
                     DefineVideoStream(1, frames, 320, 240, video.codec, true)});
  for (int f = 0; f < frames; ++f) {
    tags = Join({tags, VideoFrame(1, f, video.packets[std::size_t(f)]),
                 PlaceObject2(1, f == 0 ? 1 : 0, 0, 0, "", 0, f), ShowFrame()});
  }
  return Movie(tags, w, h, fps, true);
}

// A rendered opening as the era shipped them: 800 x 600 at 30 fps, a JPEG for every frame (a
// DefineBitsJPEG2, a shape filled with it and its placement) with the stream sound, and the
// benchmark's probe patch over it (see BenchMovie). The pictures: the folder's *.jpg by name.
Bytes PicturesMovie(const std::optional<Mp3>& mp3, const std::string& folder) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() == ".jpg") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  const int fps = 30;
  const std::int32_t w = 800 * kTwips, h = 600 * kTwips;
  const std::int32_t patch_w = 200 * kTwips, patch_h = 150 * kTwips;
  std::optional<StreamSound> sound;
  if (mp3) sound.emplace(*mp3, fps);
  Bytes tags = SetBackgroundColor(0x000000);
  if (sound) tags = Join({tags, sound->Head()});
  for (std::size_t k = 0; k < files.size(); ++k) {
    std::ifstream in(files[k], std::ios::binary);
    const Bytes jpeg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int f = int(k) + 1;
    const int bitmap = 3 * f, picture = 3 * f + 1, patch = 3 * f + 2;
    const std::uint32_t rgb = f == 1 ? 0x20C040 : 0x800000 | std::uint32_t(f);
    Bytes frame =
        Join({DefineBitsJpeg2(bitmap, jpeg), BitmapShape(picture, bitmap, 800, 600),
              RectShape(patch, patch_w, patch_h, rgb << 8 | 0xFF), PlaceObject2(1, picture),
              PlaceObject2(2, patch, (w - patch_w) / 2, (h - patch_h) / 2)});
    if (sound) frame = Join({frame, sound->Block(f - 1)});
    tags.insert(tags.end(), frame.begin(), frame.end());
    const Bytes shown = ShowFrame();
    tags.insert(tags.end(), shown.begin(), shown.end());
  }
  return Movie(tags, w, h, fps, true);
}

bool Write(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 5) {
    std::cerr << "usage: write_swf_movies OUTDIR [MP3 [FLV [JPEGS]]]\n";
    return 2;
  }
  const std::string dir = argv[1];
  std::optional<Mp3> mp3;
  if (argc >= 3) {
    mp3 = ReadMp3(argv[2]);
    if (!mp3) {
      std::cerr << "write_swf_movies: " << argv[2] << " holds no 44100 Hz MP3 frames\n";
      return 1;
    }
  }
  bool ok =
      Write(dir + "/vector.swf", TwoColourMovie(30, 10, Colours::kRed, Colours::kGreen, 0, false));
  ok = ok && Write(dir + "/vector_cws.swf",
                   TwoColourMovie(30, 10, Colours::kRed, Colours::kGreen, 0, true));
  ok = ok && Write(dir + "/long.swf",
                   TwoColourMovie(80, 10, Colours::kMagenta, Colours::kMagenta, 0, true));
  ok = ok && Write(dir + "/close.swf",
                   TwoColourMovie(80, 10, Colours::kMagenta, Colours::kMagenta, 5, true));
  ok = ok && Write(dir + "/OP.swf", OpeningMovie(mp3));
  ok = ok && Write(dir + "/text.swf", TextMovie());
  if (mp3) ok = ok && Write(dir + "/bench.swf", BenchMovie(*mp3, 6));
  if (argc >= 4 && std::string(argv[3]) != "-") {
    const FlvVideo video = ReadFlvVideo(argv[3]);
    if (video.packets.empty()) {
      std::cerr << "write_swf_movies: " << argv[3] << " holds no video\n";
      return 1;
    }
    ok = ok && Write(dir + "/video.swf", VideoMovie(video, 10));
  }
  if (argc == 5) ok = ok && Write(dir + "/pictures.swf", PicturesMovie(mp3, argv[4]));
  if (!ok) {
    std::cerr << "write_swf_movies: can't write into " << dir << "\n";
    return 1;
  }
  return 0;
}
