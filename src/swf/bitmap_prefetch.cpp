#include "swf/bitmap_prefetch.h"

#include <algorithm>
#include <utility>

#include "swf/movie.h"
#include "swf/swf_player.h"

namespace swf {
namespace {

void AddFills(const std::vector<FillStyle>& fills,
              std::vector<std::shared_ptr<const Bitmap>>& out) {
  for (const FillStyle& fill : fills) {
    const auto* bitmap = std::get_if<BitmapFill>(&fill);
    if (bitmap && bitmap->bitmap && bitmap->bitmap->source) out.push_back(bitmap->bitmap);
  }
}

}  // namespace

BitmapPrefetcher::BitmapPrefetcher(std::shared_ptr<const Movie> movie,
                                   std::unique_ptr<ImageDecoder> decoder, int frames_ahead)
    : movie_(std::move(movie)), decoder_(std::move(decoder)), frames_ahead_(frames_ahead) {}

BitmapPrefetcher::~BitmapPrefetcher() {
  Stop();
}

void BitmapPrefetcher::Showing(int frame) {
  if (frame == shown_ || !decoder_ || !movie_->bitmaps) return;
  shown_ = frame;
  // Half the cache at most, so what is decoded ahead doesn't push out what it was decoded for.
  constexpr std::size_t kMaxAheadBytes = Limits::kBitmapCacheBytes / 2;
  std::vector<std::shared_ptr<const Bitmap>> ahead;
  std::size_t bytes = 0;
  const int last = std::min(frame + frames_ahead_, int(movie_->main.frames.size()));
  for (int f = frame + 1; f <= last && bytes < kMaxAheadBytes; ++f) {
    for (auto& bitmap : PlacedBy(f)) {
      bytes += std::size_t(bitmap->width) * std::size_t(bitmap->height) * 4;
      ahead.push_back(std::move(bitmap));
    }
  }
  {
    const std::lock_guard lock(mutex_);
    if (stopped_) return;
    wanted_ = std::move(ahead);
    ++asked_;
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  }
  wake_.notify_one();
}

void BitmapPrefetcher::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
    stop_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

std::vector<std::shared_ptr<const Bitmap>> BitmapPrefetcher::PlacedBy(int frame) const {
  std::vector<std::shared_ptr<const Bitmap>> bitmaps;
  const auto& frames = movie_->main.frames;
  if (frame < 1 || std::size_t(frame) > frames.size()) return bitmaps;
  for (const ControlTag& tag : frames[std::size_t(frame) - 1].tags) {
    const auto* place = std::get_if<PlaceTag>(&tag);
    if (!place || place->kind == PlaceKind::Move) continue;
    const Character* c = movie_->Find(place->character);
    if (!c) continue;
    if (const auto* bitmap = std::get_if<std::shared_ptr<const Bitmap>>(c)) {
      if ((*bitmap)->source) bitmaps.push_back(*bitmap);
    } else if (const auto* shape = std::get_if<std::shared_ptr<const Shape>>(c)) {
      AddFills((*shape)->fills, bitmaps);
    } else if (const auto* morph = std::get_if<std::shared_ptr<const MorphShape>>(c)) {
      AddFills((*morph)->start.fills, bitmaps);
    }
  }
  return bitmaps;
}

void BitmapPrefetcher::Run() {
  std::uint64_t done = 0;
  while (true) {
    std::vector<std::shared_ptr<const Bitmap>> bitmaps;
    std::uint64_t asked = 0;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || asked_ != done; });
      if (stop_) return;
      bitmaps = wanted_;
      asked = asked_;
    }
    for (const auto& bitmap : bitmaps) {
      // A newer frame shown starts the walk again from there.
      if (stop_ || asked_ != asked) break;
      static_cast<void>(bitmap->source->Pixels(decoder_.get()));
    }
    done = asked;
  }
}

}  // namespace swf
