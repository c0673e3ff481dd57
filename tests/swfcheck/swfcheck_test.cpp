// swfcheck's exit codes and report, on movies of the tag writer, a file that is no movie and
// command lines that are wrong; and the frame it writes as PNG, read back.
#include "swfcheck/swfcheck.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "swf_writer.h"

namespace {

using namespace swf_test;
namespace fs = std::filesystem;

fs::path Scratch() {
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  fs::path dir = fs::temp_directory_path() / ("swfcheck_test_" + std::to_string(stamp));
  fs::create_directories(dir);
  return dir;
}

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// A 200 x 150 stage with a red rectangle on its left half, three frames.
Bytes RedMovie(const Bytes& extra_tags = {}) {
  return Movie(Join({RectShape(1, 2000, 3000, 0xFF0000FF), PlaceObject2(1, 1), extra_tags,
                     ShowFrame(), ShowFrame(), ShowFrame()}),
               4000, 3000, 10);
}

struct Case {
  const char* name;
  Bytes file;                     // written as the movie; empty: no such file
  std::vector<std::string> args;  // "MOVIE" stands for the movie's path
  int status;
  std::vector<std::string> err_has;
  std::vector<std::string> err_lacks = {};
};

TEST(Swfcheck, ExitCodesAndReport) {
  const Bytes grid_tag = Tag(78, Bytes(10, 0));
  const Case cases[] = {
      {"no movie", {}, {}, swfcheck::kExitUsage, {"no movie named", "usage: swfcheck"}},
      {"unknown option",
       RedMovie(),
       {"MOVIE", "--fast"},
       swfcheck::kExitUsage,
       {"unknown option --fast"}},
      {"frames not a number",
       RedMovie(),
       {"MOVIE", "--frames", "ten"},
       swfcheck::kExitUsage,
       {"--frames takes"}},
      {"size without height",
       RedMovie(),
       {"MOVIE", "--size", "640"},
       swfcheck::kExitUsage,
       {"--size takes"}},
      {"clock without zone",
       RedMovie(),
       {"MOVIE", "--clock", "2001-02-03T04:05:06"},
       swfcheck::kExitUsage,
       {"--clock takes"}},
      {"option without value",
       RedMovie(),
       {"MOVIE", "--png"},
       swfcheck::kExitUsage,
       {"--png needs a value"}},
      {"two movies", RedMovie(), {"MOVIE", "MOVIE"}, swfcheck::kExitUsage, {"one movie"}},
      {"missing file", {}, {"MOVIE"}, swfcheck::kExitRefused, {"can't be read"}},
      {"not an SWF",
       Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0},
       {"MOVIE"},
       swfcheck::kExitRefused,
       {"refused: not an SWF file"}},
      {"LZMA",
       Bytes{'Z', 'W', 'S', 10, 0, 0, 0, 0, 0, 0},
       {"MOVIE"},
       swfcheck::kExitRefused,
       {"refused: LZMA"}},
      {"plays",
       RedMovie(),
       {"MOVIE"},
       swfcheck::kExitLoaded,
       {": SWF 8, uncompressed (FWS)", "stage: 200 x 150 pixels", "frame rate: 10 fps",
        "frames: 3 (the header says 1)", "played: 3 frames, 0.200 s", "left out: nothing"},
       {"note:"}},
      {"unplayed tags counted, hints not",
       RedMovie(Join({grid_tag, grid_tag, Tag(77, {})})),
       {"MOVIE", "--frames", "1"},
       swfcheck::kExitLoaded,
       {"played: 1 frames", "  tag 78 (DefineScalingGrid): 2"},
       {"tag 77"}},
      {"nothing to draw",
       Movie(Join({ShowFrame()})),
       {"MOVIE", "--frames", "0"},
       swfcheck::kExitLoaded,
       {"played: 0 frames"},
       {"note:"}},
  };
  const fs::path dir = Scratch();
  const std::string movie = Utf8(dir / "movie.swf");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(movie);
    if (!c.file.empty()) {
      std::ofstream(movie, std::ios::binary)
          .write(reinterpret_cast<const char*>(c.file.data()), std::streamsize(c.file.size()));
    }
    std::vector<std::string> args = c.args;
    for (std::string& arg : args) {
      if (arg == "MOVIE") arg = movie;
    }
    std::ostringstream out, err;
    EXPECT_EQ(swfcheck::Run(args, {}, out, err), c.status) << err.str();
    for (const std::string& text : c.err_has)
      EXPECT_NE(err.str().find(text), std::string::npos) << err.str();
    for (const std::string& text : c.err_lacks)
      EXPECT_EQ(err.str().find(text), std::string::npos) << err.str();
    EXPECT_EQ(out.str(), "");  // only trace lines go there, and only with --trace
  }
  fs::remove_all(dir);
}

std::uint32_t BigEndian(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 |
         std::uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// The frame comes back from the PNG as drawn: the rectangle's red on the left, the white
// background on the right, at the size asked for.
TEST(Swfcheck, WritesTheLastFrameAsPng) {
  const fs::path dir = Scratch();
  const std::string movie = Utf8(dir / "red.swf");
  const std::string png = Utf8(dir / "frame.png");
  const Bytes file = RedMovie();
  std::ofstream(movie, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  std::ostringstream out, err;
  const std::vector<std::string> args = {movie, "--frames", "2", "--png", png, "--size", "40x30"};
  ASSERT_EQ(swfcheck::Run(args, {}, out, err), swfcheck::kExitLoaded) << err.str();

  std::vector<std::uint8_t> bytes(fs::file_size(png));
  std::ifstream(png, std::ios::binary)
      .read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
  ASSERT_GT(bytes.size(), 33u);
  EXPECT_EQ(BigEndian(bytes, 16), 40u);
  EXPECT_EQ(BigEndian(bytes, 20), 30u);
  const std::size_t idat = 33;  // after the signature and IHDR
  ASSERT_EQ(std::string(bytes.begin() + idat + 4, bytes.begin() + idat + 8), "IDAT");
  const std::uint32_t length = BigEndian(bytes, idat);
  std::vector<std::uint8_t> raw(std::size_t{30} * (1 + 40 * 4));
  uLongf size = uLongf(raw.size());
  ASSERT_EQ(uncompress(raw.data(), &size, bytes.data() + idat + 8, length), Z_OK);
  ASSERT_EQ(size, raw.size());
  const auto pixel = [&](int x, int y) {
    const std::size_t at = std::size_t(y) * (1 + 40 * 4) + 1 + std::size_t(x) * 4;
    return std::vector<int>{raw[at], raw[at + 1], raw[at + 2], raw[at + 3]};
  };
  EXPECT_EQ(pixel(5, 15), (std::vector<int>{255, 0, 0, 255}));
  EXPECT_EQ(pixel(35, 15), (std::vector<int>{255, 255, 255, 255}));
  EXPECT_NE(err.str().find("frame 2 written to"), std::string::npos);
  fs::remove_all(dir);
}

}  // namespace
