#pragma once
// Sorenson H.263, the video of Flash 6 and 7 (FLV1): H.263 baseline with a picture header of its
// own, no groups of blocks, disposable inter pictures and, in version 1, a longer escape code.

#include <cstdint>
#include <span>
#include <vector>

#include "swf/video/yuv.h"

namespace swf::video {

class H263Decoder {
 public:
  // Pictures larger than this (either side, or in all) are refused before anything is allocated.
  static constexpr int kMaxSide = 4096;
  static constexpr int kMaxPixels = 1280 * 720;

  enum class PictureType : std::uint8_t { Intra, Inter, Disposable };

  // Decodes one picture. False when the packet is no picture or needs a reference that isn't
  // there (a first picture that isn't intra, a size change outside an intra picture). A picture
  // damaged part-way is kept as far as it decoded, the rest taken from the reference.
  bool Decode(std::span<const std::uint8_t> packet);
  // The picture decoded last (valid after a Decode that returned true).
  [[nodiscard]] const YuvPicture& Picture() const { return *shown_; }

  // The type a packet's header announces, if it has one.
  [[nodiscard]] static bool IsIntra(std::span<const std::uint8_t> packet);

 private:
  struct MotionVector {
    int x = 0;  // half pixels
    int y = 0;
  };
  class Bits;

  bool DecodeMacroblocks(Bits& bits, PictureType type, int quant, int version);
  // The block's samples (intra) or differences; false when its codes are damaged.
  bool DecodeBlock(Bits& bits, bool intra, bool coded, int quant, int version, std::int32_t* block);
  void Predict(int mb_x, int mb_y, MotionVector mv);
  [[nodiscard]] MotionVector Predictor(int mb_x, int mb_y) const;

  YuvPicture reference_;  // the last intra or inter picture
  YuvPicture current_;
  const YuvPicture* shown_ = &reference_;
  bool have_reference_ = false;
  int mb_width_ = 0;
  int mb_height_ = 0;
  std::vector<MotionVector> vectors_;  // this picture's, by macroblock
  std::vector<std::uint8_t> padded_;   // the packet with zeros after it
};

}  // namespace swf::video
