#pragma once
// The movie's bitmaps, decoded when a frame draws them and kept within a byte budget. A movie of
// the era may carry a JPEG for every frame of a minute or more: decoded at load, that is
// gigabytes. The cache holds what was drawn last; past its budget the least recently used
// pixels are dropped first (those on screen were used by the last frame, so they stay), and a
// bitmap drawn again is decoded again.
//
// Threads: Get may be called from any thread. The playing thread decodes with the movie's
// decoder; another thread (decoding ahead) passes its own. A bitmap being decoded by one thread
// is waited for by another, never decoded twice at once.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "swf/shape.h"
#include "swf/tag_codes.h"

namespace swf {

class ImageDecoder;

// A bitmap tag as the file holds it: its body after the id, and for DefineBits the JPEGTables
// seen before it. Both point into the movie's bytes, which outlive the cache's use.
struct BitmapTag {
  TagCode code = TagCode::End;
  std::uint16_t id = 0;
  std::span<const std::uint8_t> body;
  std::span<const std::uint8_t> jpeg_tables;
};

// Decodes a bitmap tag (bitmap_reader.cpp) into at most `max_pixels` pixels; nullopt with `why`
// when it can't. `images` may be null: JPEG, PNG and GIF then aren't decoded.
std::optional<Bitmap> DecodeBitmapTag(const BitmapTag& tag, ImageDecoder* images,
                                      std::uint64_t max_pixels, std::string& why);

class BitmapCache {
 public:
  struct Stats {
    std::size_t held_bytes = 0;  // pixels held now
    std::size_t peak_bytes = 0;  // the most ever held at once
    int decoded = 0;             // decodes, a bitmap decoded again counted each time
    int dropped = 0;             // pixels dropped to stay within the budget
    int failed = 0;              // bitmaps that can't be decoded
  };

  // `images` (may be null) decodes on the playing thread and must outlive the cache.
  BitmapCache(ImageDecoder* images, std::size_t budget);

  // Registers a tag (load time only, before any Get); its index.
  std::size_t Add(const BitmapTag& tag);
  [[nodiscard]] std::size_t size() const { return entries_.size(); }
  // The source a Bitmap of the dictionary draws its pixels from.
  static std::shared_ptr<const BitmapSource> SourceOf(std::shared_ptr<BitmapCache> cache,
                                                      std::size_t index);

  // The pixels of bitmap `index`, decoded now (with `own`, else the movie's decoder) when not
  // held; null when they can't be decoded.
  std::shared_ptr<const Bitmap> Get(std::size_t index, ImageDecoder* own = nullptr);

  [[nodiscard]] Stats stats() const;
  // Why bitmaps weren't decoded, one line each (a few at most).
  [[nodiscard]] std::vector<std::string> Notes() const;

 private:
  struct Entry {
    BitmapTag tag;
    std::shared_ptr<const Bitmap> pixels;
    std::uint64_t last_use = 0;
    bool decoding = false;
    bool failed = false;
  };
  // Marks `index` used now (its pixels held).
  void Touch(std::size_t index);
  // Drops the least recently used pixels until `bytes` more fit the budget (or none are left).
  void MakeRoom(std::size_t bytes);

  ImageDecoder* images_;
  std::size_t budget_;
  std::vector<Entry> entries_;
  mutable std::mutex mutex_;
  std::condition_variable decoded_;
  std::uint64_t clock_ = 0;
  std::map<std::uint64_t, std::size_t> by_use_;  // last use -> index, of the held entries
  Stats stats_;
  std::vector<std::string> notes_;
};

}  // namespace swf
