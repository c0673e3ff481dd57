#include "swf/bitmap_cache.h"

#include <algorithm>
#include <utility>

#include "swf/movie.h"

namespace swf {
namespace {

class CachedBitmap final : public BitmapSource {
 public:
  CachedBitmap(std::shared_ptr<BitmapCache> cache, std::size_t index)
      : cache_(std::move(cache)), index_(index) {}
  [[nodiscard]] std::shared_ptr<const Bitmap> Pixels(ImageDecoder* own) const override {
    return cache_->Get(index_, own);
  }

 private:
  std::shared_ptr<BitmapCache> cache_;
  std::size_t index_;
};

constexpr std::size_t kMaxNotes = 32;

}  // namespace

BitmapCache::BitmapCache(ImageDecoder* images, std::size_t budget)
    : images_(images), budget_(budget) {}

std::size_t BitmapCache::Add(const BitmapTag& tag) {
  const std::lock_guard lock(mutex_);
  entries_.push_back({tag, nullptr, 0, false, false});
  return entries_.size() - 1;
}

std::shared_ptr<const BitmapSource> BitmapCache::SourceOf(std::shared_ptr<BitmapCache> cache,
                                                          std::size_t index) {
  return std::make_shared<const CachedBitmap>(std::move(cache), index);
}

void BitmapCache::Touch(std::size_t index) {
  Entry& e = entries_[index];
  by_use_.erase(e.last_use);
  e.last_use = ++clock_;
  by_use_.emplace(e.last_use, index);
}

void BitmapCache::MakeRoom(std::size_t bytes) {
  while (stats_.held_bytes + bytes > budget_ && !by_use_.empty()) {
    const auto oldest = by_use_.begin();
    Entry& e = entries_[oldest->second];
    stats_.held_bytes -= e.pixels->pixels.size() * sizeof(std::uint32_t);
    e.pixels.reset();
    e.last_use = 0;
    by_use_.erase(oldest);
    ++stats_.dropped;
  }
}

std::shared_ptr<const Bitmap> BitmapCache::Get(std::size_t index, ImageDecoder* own) {
  std::unique_lock lock(mutex_);
  if (index >= entries_.size()) return nullptr;
  decoded_.wait(lock, [&] { return !entries_[index].decoding; });
  Entry& e = entries_[index];
  if (e.pixels) {
    Touch(index);
    return e.pixels;
  }
  if (e.failed) return nullptr;
  e.decoding = true;
  const BitmapTag tag = e.tag;
  lock.unlock();

  const std::uint64_t max_pixels =
      std::min<std::uint64_t>(Limits::kMaxBitmapPixels, budget_ / sizeof(std::uint32_t));
  std::string why;
  std::optional<Bitmap> bitmap = DecodeBitmapTag(tag, own ? own : images_, max_pixels, why);
  std::shared_ptr<const Bitmap> pixels;
  if (bitmap) pixels = std::make_shared<const Bitmap>(std::move(*bitmap));

  lock.lock();
  Entry& done = entries_[index];
  done.decoding = false;
  if (pixels) {
    const std::size_t bytes = pixels->pixels.size() * sizeof(std::uint32_t);
    MakeRoom(bytes);
    done.pixels = pixels;
    stats_.held_bytes += bytes;
    stats_.peak_bytes = std::max(stats_.peak_bytes, stats_.held_bytes);
    ++stats_.decoded;
    Touch(index);
  } else {
    done.failed = true;
    ++stats_.failed;
    if (notes_.size() < kMaxNotes) {
      notes_.push_back("bitmap " + std::to_string(tag.id) + ": " + why);
    }
  }
  lock.unlock();
  decoded_.notify_all();
  return pixels;
}

BitmapCache::Stats BitmapCache::stats() const {
  const std::lock_guard lock(mutex_);
  return stats_;
}

std::vector<std::string> BitmapCache::Notes() const {
  const std::lock_guard lock(mutex_);
  return notes_;
}

}  // namespace swf
