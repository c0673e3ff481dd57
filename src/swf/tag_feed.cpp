#include "swf/tag_feed.h"

#include <zlib.h>

#include <algorithm>
#include <utility>

#include "swf/swf_player.h"

namespace swf {
namespace {

// Small bodies share segments of up to this size; a body over an eighth of it gets its own, so a
// full-sized segment wastes at most an eighth.
constexpr std::size_t kSegmentBytes = std::size_t{4} << 20;
constexpr std::size_t kOwnBodyBytes = kSegmentBytes / 8;
constexpr std::size_t kFirstSegmentBytes = std::size_t{64} << 10;
// A body of its own grows as its bytes arrive, from at most this much: a length the file claims
// and doesn't hold allocates nothing unbounded.
constexpr std::size_t kFirstOwnBytes = std::size_t{16} << 20;
constexpr std::size_t kReadChunk = std::size_t{1} << 20;
constexpr std::size_t kInputBytes = std::size_t{256} << 10;

}  // namespace

TagFeed::TagFeed(std::unique_ptr<ByteSource> file, bool compressed, std::size_t limit)
    : file_(std::move(file)), compressed_(compressed), limit_(limit) {
  if (!compressed_) return;
  z_ = std::make_unique<z_stream>();
  z_end_ = inflateInit(z_.get()) != Z_OK;
  input_.resize(kInputBytes);
}

TagFeed::~TagFeed() {
  Stop();
  if (z_) inflateEnd(z_.get());
}

std::size_t TagFeed::ReadBody(std::span<std::uint8_t> out) {
  out = out.first(std::min(out.size(), limit_ - produced_));
  std::size_t got = 0;
  if (compressed_) {
    got = Inflate(out);
  } else {
    while (got < out.size() && !input_end_) {
      const std::size_t n = file_->Read(out.subspan(got));
      input_end_ = n == 0;
      got += n;
    }
  }
  produced_ += got;
  bytes_ = produced_;
  return got;
}

std::size_t TagFeed::Inflate(std::span<std::uint8_t> out) {
  z_stream& z = *z_;
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  while (z.avail_out > 0 && !z_end_) {
    if (z.avail_in == 0 && !input_end_) {
      const std::size_t n = file_->Read(input_);
      input_end_ = n == 0;
      z.next_in = input_.data();
      z.avail_in = uInt(n);
    }
    const uInt before = z.avail_out;
    const int status = inflate(&z, Z_NO_FLUSH);
    // The end, damaged data, or the input used up with nothing more to come: read as far as it
    // went.
    if ((status != Z_OK && status != Z_BUF_ERROR) ||
        (z.avail_out == before && z.avail_in == 0 && input_end_)) {
      z_end_ = true;
    }
  }
  return out.size() - z.avail_out;
}

std::span<const std::uint8_t> TagFeed::Store(std::size_t length) {
  length = std::min(length, limit_ - produced_);
  if (length > kOwnBodyBytes) {
    std::vector<std::uint8_t> own;
    own.reserve(std::min(length, kFirstOwnBytes));
    while (own.size() < length && !stop_) {
      const std::size_t at = own.size();
      const std::size_t want = std::min(length - at, kReadChunk);
      own.resize(at + want);
      const std::size_t got = ReadBody(std::span(own).subspan(at, want));
      own.resize(at + got);
      if (got < want) break;
    }
    segments_.push_back(std::move(own));
    return segments_.back();
  }
  if (shared_ == 0 || segments_[shared_ - 1].capacity() - segments_[shared_ - 1].size() < length) {
    // From 64 KiB, doubling: a small movie takes little more than its size.
    const std::size_t grown = kFirstSegmentBytes << std::min<std::size_t>(segments_.size(), 6);
    segments_.emplace_back().reserve(std::max(length, std::min(grown, kSegmentBytes)));
    shared_ = segments_.size();
  }
  // Within the capacity reserved: the bytes before stay where they are.
  std::vector<std::uint8_t>& segment = segments_[shared_ - 1];
  const std::size_t at = segment.size();
  segment.resize(at + length);
  const std::size_t got = ReadBody(std::span(segment).subspan(at, length));
  segment.resize(at + got);
  return std::span<const std::uint8_t>(segment).subspan(at, got);
}

bool TagFeed::ReadTag(TagEntry& out) {
  std::uint8_t head[6] = {};
  if (ReadBody(std::span(head, 2)) < 2) return false;
  const auto code = std::uint16_t(head[0] | (head[1] << 8));
  out.code = TagCode(code >> 6);
  std::size_t length = code & 0x3F;
  if (length == 0x3F) {
    if (ReadBody(std::span(head + 2, 4)) < 4) return false;
    length = std::size_t(head[2]) | (std::size_t(head[3]) << 8) | (std::size_t(head[4]) << 16) |
             (std::size_t(head[5]) << 24);
  }
  if (out.code == TagCode::End) return false;
  // A tag longer than what is left is read as far as it goes.
  out.body = Store(length);
  return true;
}

void TagFeed::Start() {
  // The first frame's tags here: it shows without waiting for a thread to be scheduled.
  while (frames_ == 0 && ready_.size() < kMaxPending) {
    TagEntry tag;
    if (!ReadTag(tag)) {
      done_ = true;
      return;
    }
    ready_.push_back(tag);
    if (tag.code == TagCode::ShowFrame) ++frames_;
  }
  thread_ = std::thread([this] { Run(); });
}

void TagFeed::Run() {
  while (!stop_) {
    TagEntry tag;
    const bool more = ReadTag(tag);
    std::unique_lock lock(mutex_);
    if (!more) break;
    ready_.push_back(tag);
    if (tag.code == TagCode::ShowFrame) ++frames_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return stop_ || ready_.size() < kMaxPending; });
  }
  const std::lock_guard lock(mutex_);
  done_ = true;
  changed_.notify_all();
}

void TagFeed::Take(std::deque<TagEntry>& out, std::size_t max) {
  std::size_t taken = 0;
  {
    const std::lock_guard lock(mutex_);
    taken = std::min(max, ready_.size());
    out.insert(out.end(), ready_.begin(), ready_.begin() + std::ptrdiff_t(taken));
    ready_.erase(ready_.begin(), ready_.begin() + std::ptrdiff_t(taken));
  }
  changed_.notify_all();
  if (thread_.joinable()) return;
  // No thread: the rest is read here.
  for (; taken < max && !done_ && !stop_; ++taken) {
    TagEntry tag;
    done_ = !ReadTag(tag);
    if (done_) break;
    if (tag.code == TagCode::ShowFrame) ++frames_;
    out.push_back(tag);
  }
}

bool TagFeed::finished() const {
  const std::lock_guard lock(mutex_);
  return (done_ || stop_) && ready_.empty();
}

void TagFeed::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
    ready_.clear();
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

}  // namespace swf
