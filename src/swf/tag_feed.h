#pragma once
// The file's tags as they are read: the body after the 8-byte header, inflated as far as it is
// read (CWS), cut into tags whose bodies are kept where they stay put for the movie's life, and
// handed to the reader in order. The reading runs on a thread of its own (a movie read as it
// plays) or in the reader's calls (a movie read whole).

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "swf/tag_codes.h"

struct z_stream_s;

namespace swf {

class ByteSource;

struct TagEntry {
  TagCode code = TagCode::End;
  std::span<const std::uint8_t> body;
};

class TagFeed {
 public:
  // Tags read and not yet taken at most: the reading thread waits beyond (a file of tiny tags
  // keeps its index small).
  static constexpr std::size_t kMaxPending = std::size_t{1} << 20;

  // The body reads at most `limit` bytes (inflated ones for `compressed`).
  TagFeed(std::unique_ptr<ByteSource> file, bool compressed, std::size_t limit);
  ~TagFeed();
  TagFeed(const TagFeed&) = delete;
  TagFeed& operator=(const TagFeed&) = delete;
  TagFeed(TagFeed&&) = delete;
  TagFeed& operator=(TagFeed&&) = delete;

  // Before Start: the body's next bytes (the movie's own header), as many as there are.
  std::size_t ReadBody(std::span<std::uint8_t> out);
  // Reads the tags up to the first ShowFrame here, the rest on a thread of its own.
  void Start();
  // Moves up to `max` tags read so far to the end of `out`; without Start, reads them here.
  void Take(std::deque<TagEntry>& out, std::size_t max);
  // True once every tag the file holds (up to End) has been taken, or Stop ended the reading.
  [[nodiscard]] bool finished() const;
  // Ends the reading thread after the tag it reads; no tag comes after.
  void Stop();

  // The ShowFrame tags read (the main timeline's frames), and the body's bytes read.
  [[nodiscard]] int frames_read() const { return frames_; }
  [[nodiscard]] std::size_t bytes_read() const { return bytes_; }

 private:
  // The next tag, its body stored; false at End or the data's end.
  bool ReadTag(TagEntry& out);
  std::span<const std::uint8_t> Store(std::size_t length);
  std::size_t Inflate(std::span<std::uint8_t> out);
  void Run();

  // The reading's own (one thread at a time).
  std::unique_ptr<ByteSource> file_;
  bool compressed_;
  std::size_t limit_;
  std::size_t produced_ = 0;
  std::unique_ptr<z_stream_s> z_;
  std::vector<std::uint8_t> input_;
  bool input_end_ = false;
  bool z_end_ = false;
  // Where tag bodies live: filled in place, never moved (spans point into them).
  std::vector<std::vector<std::uint8_t>> segments_;
  std::size_t shared_ = 0;  // the segment small bodies go into (1-based; 0: none yet)

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<TagEntry> ready_;  // under mutex_
  bool done_ = false;           // under mutex_: no more tags come
  std::atomic<bool> stop_{false};
  std::atomic<int> frames_{0};
  std::atomic<std::size_t> bytes_{0};
  std::thread thread_;
};

}  // namespace swf
