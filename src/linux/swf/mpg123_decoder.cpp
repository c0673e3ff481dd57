#include "linux/swf/mpg123_decoder.h"

#include <mpg123.h>

#include <cstddef>
#include <cstring>

namespace launcher::sdl {
namespace {

struct HandleDeleter {
  void operator()(mpg123_handle* handle) const { mpg123_delete(handle); }
};
using HandlePtr = std::unique_ptr<mpg123_handle, HandleDeleter>;

class Mpg123Decoder final : public swf::Mp3Decoder {
 public:
  explicit Mpg123Decoder(HandlePtr handle) : handle_(std::move(handle)) {}

  bool DecodeFrame(std::span<const std::uint8_t> frame, swf::Pcm& out) override {
    mpg123_handle* handle = handle_.get();
    if (mpg123_feed(handle, frame.data(), frame.size()) != MPG123_OK) return false;
    for (;;) {
      off_t number = 0;
      unsigned char* audio = nullptr;
      std::size_t bytes = 0;
      const int status = mpg123_decode_frame(handle, &number, &audio, &bytes);
      if (status == MPG123_NEW_FORMAT) {
        long rate = 0;
        int encoding = 0;
        mpg123_getformat(handle, &rate, &channels_, &encoding);
        rate_ = static_cast<double>(rate);
        continue;
      }
      if (status == MPG123_NEED_MORE) return true;
      if (status != MPG123_OK) return false;
      if (channels_ < 1 || channels_ > 2) return false;
      out.rate = rate_;
      out.channels = channels_;
      // Signed 16-bit host order is the only output format the handle allows.
      const std::size_t samples = bytes / sizeof(std::int16_t);
      const std::size_t start = out.samples.size();
      out.samples.resize(start + samples);
      std::memcpy(out.samples.data() + start, audio, samples * sizeof(std::int16_t));
    }
  }

 private:
  HandlePtr handle_;
  double rate_ = 0;
  int channels_ = 0;
};

}  // namespace

std::unique_ptr<swf::Mp3Decoder> MakeMpg123Decoder() {
  int error = MPG123_OK;
  HandlePtr handle(mpg123_new(nullptr, &error));
  if (!handle) return nullptr;
  mpg123_handle* h = handle.get();
  // Quiet on stderr; the encoder's delay stays in (the movie's own seek field trims it).
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
  mpg123_format_none(h);
  const long* rates = nullptr;
  std::size_t count = 0;
  mpg123_rates(&rates, &count);
  for (std::size_t i = 0; i < count; ++i) {
    mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  }
  if (mpg123_open_feed(h) != MPG123_OK) return nullptr;
  return std::make_unique<Mpg123Decoder>(std::move(handle));
}

}  // namespace launcher::sdl
