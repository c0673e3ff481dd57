#include "vocabulary/picture_header.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace launcher {
namespace {

std::optional<PictureHeader> Read(std::string_view bytes) {
  const std::vector<unsigned char> file(bytes.begin(), bytes.end());
  return ReadPictureHeader(file);
}

void ExpectSize(std::string_view bytes, PictureFormat format, std::uint32_t width,
                std::uint32_t height) {
  const auto header = Read(bytes);
  ASSERT_TRUE(header.has_value());
  EXPECT_EQ(header->format, format);
  EXPECT_EQ(header->width, width);
  EXPECT_EQ(header->height, height);
}

using namespace std::string_view_literals;

TEST(PictureHeader, ReadsTheSizeEachFormatWrites) {
  // JPEG: an application segment is skipped up to the frame header (progressive here).
  ExpectSize(
      "\xFF\xD8\xFF\xE0\x00\x04"
      "ab\xFF\xFF\xC2\x00\x0B\x08\x3E\x80\x3E\x81\x01"sv,
      PictureFormat::Jpeg, 16001, 16000);
  ExpectSize("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\x01\x40\0\0\0\xF0"sv, PictureFormat::Png, 320,
             240);
  // GIF: the first image may be larger than the screen the file names.
  ExpectSize("GIF89a\x10\0\x10\0\0\0\0!\xF9\x04\0\0\0\0\0,\0\0\0\0\xFF\xFF\x02\0"sv,
             PictureFormat::Gif, 65535, 16);
  ExpectSize("BM............\x28\0\0\0\x40\x01\0\0\x10\xFF\xFF\xFF"sv, PictureFormat::Bmp, 320,
             240);
  ExpectSize("RIFF....WEBPVP8X\0\0\0\0\0\0\0\0\x3F\x01\0\xEF\0\0"sv, PictureFormat::Webp, 320, 240);
}

TEST(PictureHeader, NothingElseAndNoCutHeaderIsAPicture) {
  for (const std::string_view bytes :
       {""sv, "not a picture"sv, "\xFF\xD8"sv,
        "\xFF\xD8\xFF\xE0\x00\x10"
        "ab"sv,
        "\xFF\xD8\xFF\xDA\x00\x08"sv, "\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0"sv, "GIF89a\x10\0"sv,
        "BM\0\0"sv, "RIFF....WEBPVP8 "sv, "P6 16000 16000 255\n"sv}) {
    EXPECT_FALSE(Read(bytes).has_value()) << testing::PrintToString(bytes);
  }
}

}  // namespace
}  // namespace launcher
