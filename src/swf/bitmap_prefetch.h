#pragma once
// Decoding ahead: the bitmaps of the frames the main timeline is about to show, decoded on a
// thread of its own with a decoder of its own, so that a frame doesn't wait for its picture (an
// 800 x 600 JPEG takes several milliseconds; a frame at 30 fps has 33 for everything).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "swf/shape.h"

namespace swf {

struct Movie;
class ImageDecoder;

class BitmapPrefetcher {
 public:
  // `decoder` is used on the worker thread only. `frames_ahead`: how far past the frame shown.
  BitmapPrefetcher(std::shared_ptr<const Movie> movie, std::unique_ptr<ImageDecoder> decoder,
                   int frames_ahead);
  ~BitmapPrefetcher();
  BitmapPrefetcher(const BitmapPrefetcher&) = delete;
  BitmapPrefetcher& operator=(const BitmapPrefetcher&) = delete;
  BitmapPrefetcher(BitmapPrefetcher&&) = delete;
  BitmapPrefetcher& operator=(BitmapPrefetcher&&) = delete;

  // The main timeline shows `frame` (1-based): the bitmaps of the frames after it (as far as
  // they have been read) are decoded next. Called on the playing thread, which alone reads the
  // timeline. The worker starts with the first call, after the playing thread has decoded a
  // picture of its own (some decoders set themselves up on first use, not safely from two
  // threads at once).
  void Showing(int frame);
  // Ends the worker, after the picture it decodes at the moment; Showing then does nothing.
  void Stop();

 private:
  void Run();
  // The file's bitmaps that frame `frame` (1-based) of the main timeline places.
  [[nodiscard]] std::vector<std::shared_ptr<const Bitmap>> PlacedBy(int frame) const;

  std::shared_ptr<const Movie> movie_;
  std::unique_ptr<ImageDecoder> decoder_;
  int frames_ahead_;
  int shown_ = 0;  // the playing thread's: the frame of the last call
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::shared_ptr<const Bitmap>> wanted_;  // under mutex_: what to decode, in order
  std::atomic<std::uint64_t> asked_{0};                // calls that changed wanted_
  std::atomic<bool> stop_{false};
  bool stopped_ = false;  // under mutex_: no thread will be started
  std::thread thread_;
};

}  // namespace swf
