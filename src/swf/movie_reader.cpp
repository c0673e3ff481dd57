// The file: its header, and the tags (tag_feed.h), sorted into the dictionary and timelines.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <limits>
#include <string>
#include <utility>

#include "swf/bitmap_cache.h"
#include "swf/reader_parts.h"
#include "swf/swf_player.h"
#include "swf/tag_feed.h"

namespace swf {
namespace {

// PlaceObject2's and PlaceObject3's flags.
constexpr std::uint8_t kPlaceMove = 0x01;
constexpr std::uint8_t kPlaceHasCharacter = 0x02;
constexpr std::uint8_t kPlaceHasMatrix = 0x04;
constexpr std::uint8_t kPlaceHasColor = 0x08;
constexpr std::uint8_t kPlaceHasRatio = 0x10;
constexpr std::uint8_t kPlaceHasName = 0x20;
constexpr std::uint8_t kPlaceHasClipDepth = 0x40;
constexpr std::uint8_t kPlaceHasClipActions = 0x80;
// PlaceObject3's second flags byte.
constexpr std::uint8_t kPlaceHasClassName = 0x08;
constexpr std::uint8_t kPlaceHasImage = 0x10;

// Counts a tag the player skips into the movie's left-out list, e.g. "tag 60
// (DefineVideoStream)": one entry per tag code, so the list stays small. Tags that carry nothing
// to show or hear are not named.
void CountSkippedTag(Movie& movie, TagCode code) {
  const TagInfo info = DescribeTag(code);
  if (info.role == TagRole::Hint) return;
  std::string what = "tag " + std::to_string(int(code));
  if (!info.name.empty()) what += " (" + std::string(info.name) + ")";
  ++movie.left_out[what];
}

// A button's state records, up to the end flag.
bool ReadButtonRecords(ByteReader& r, bool v2, Button& out, LoadContext& ctx) {
  while (r.ok() && r.remaining() > 0) {
    const std::uint8_t flags = r.U8();
    if (flags == 0) return true;
    Button::Record rec;
    rec.states = flags & 0x0F;
    rec.character = r.U16();
    rec.depth = r.U16();
    rec.matrix = r.ReadMatrix();
    if (v2) {
      rec.color = r.ReadColorTransform(true);
      PlaceTag effects;
      ReadPlaceEffects(r, std::uint8_t(((flags & 0x10) ? 0x01 : 0) | ((flags & 0x20) ? 0x02 : 0)),
                       effects);
      if (effects.filters) rec.filters = std::move(*effects.filters);
      if (effects.blend_mode) rec.blend = *effects.blend_mode;
    }
    if (!r.ok() || !ctx.Append(out.records, std::move(rec))) return false;
  }
  return r.ok();
}

std::optional<Button> ReadDefineButton(ByteReader& r, bool v2, LoadContext& ctx) {
  Button b;
  if (!v2) {
    if (!ReadButtonRecords(r, false, b, ctx)) return std::nullopt;
    b.actions.push_back({Button::Release, 0, r.Rest()});
    return b;
  }
  b.track_as_menu = (r.U8() & 0x01) != 0;
  const std::size_t offset = r.U16();
  if (!ReadButtonRecords(r, true, b, ctx)) return std::nullopt;
  if (offset == 0) return b;
  // Each condition action: its size (0 for the last), the transitions and key, the actions.
  while (r.ok() && r.remaining() >= 4) {
    const std::size_t size = r.U16();
    const std::uint16_t bits = r.U16();
    const std::size_t length = size >= 4 ? size - 4 : r.remaining();
    Button::Action a{std::uint16_t(bits & 0x1FF), std::uint8_t(bits >> 9),
                     r.Bytes(std::min(length, r.remaining()))};
    if (!r.ok() || !ctx.Append(b.actions, a)) break;
    if (size == 0) break;
  }
  return b;
}

// Room kept back so that a movie whose budget ran out still ends its frames cleanly.
constexpr std::size_t kBudgetReserve = 4096;

std::optional<PlaceTag> ReadPlace(ByteReader& r, TagCode code, LoadContext& ctx) {
  PlaceTag p;
  if (code == TagCode::PlaceObject) {
    p.character = r.U16();
    p.depth = r.U16();
    p.matrix = r.ReadMatrix();
    if (r.remaining() > 0) p.color = r.ReadColorTransform(false);
    return r.ok() ? std::optional(p) : std::nullopt;
  }
  const std::uint8_t flags = r.U8();
  const std::uint8_t flags3 = code == TagCode::PlaceObject3 ? r.U8() : 0;
  const bool move = (flags & kPlaceMove) != 0;
  const bool has_character = (flags & kPlaceHasCharacter) != 0;
  p.kind = !move ? PlaceKind::Place : has_character ? PlaceKind::Replace : PlaceKind::Move;
  p.depth = r.U16();
  // An ActionScript 3 class name (or an image's).
  if ((flags3 & kPlaceHasClassName) || ((flags3 & kPlaceHasImage) && has_character)) {
    static_cast<void>(r.String());
  }
  if (has_character) p.character = r.U16();
  if (flags & kPlaceHasMatrix) p.matrix = r.ReadMatrix();
  if (flags & kPlaceHasColor) p.color = r.ReadColorTransform(true);
  if (flags & kPlaceHasRatio) p.ratio = r.U16();
  if (flags & kPlaceHasName) p.name = r.String();
  if (flags & kPlaceHasClipDepth) p.clip_depth = r.U16();
  if (!r.ok()) return std::nullopt;
  // PlaceObject3's effects come before the clip actions; a damaged tail cuts them short and
  // the object is placed all the same.
  if (code == TagCode::PlaceObject3) ReadPlaceEffects(r, flags3, p);
  if ((flags & kPlaceHasClipActions) && r.ok()) {
    p.clip_actions = ReadClipActions(r, ctx.movie.header.version, ctx);
  }
  // A new object without a character changes nothing: kept as a move that sets nothing.
  if (!move && !has_character) {
    PlaceTag nothing;
    nothing.depth = p.depth;
    nothing.kind = PlaceKind::Move;
    return nothing;
  }
  return p;
}

class TimelineReader {
 public:
  TimelineReader(LoadContext& ctx, bool main) : ctx_(ctx), main_(main) {}

  // Reads tags up to End or the data's end into `out`.
  void Read(ByteReader& r, Timeline& out) {
    while (r.remaining() >= 2) {
      const std::uint16_t head = r.U16();
      const auto code = TagCode(head >> 6);
      std::size_t length = head & 0x3F;
      if (length == 0x3F) length = r.U32();
      if (!r.ok()) break;
      // A tag longer than what is left is read as far as it goes.
      ByteReader body(r.Bytes(std::min(length, r.remaining())));
      if (code == TagCode::End) {
        ended_ = true;
        break;
      }
      if (!Tag(code, body, out)) break;
    }
    Finish(out);
  }

  // One tag into `out`; false once the budget is spent (no tag is taken after that).
  bool Tag(TagCode code, ByteReader& body, Timeline& out) {
    if (ctx_.budget < kBudgetReserve) {
      full_ = true;
      return false;
    }
    if (code == TagCode::ShowFrame) {
      const std::size_t before =
          out.frames.empty() ? 0 : out.tags_before.back() + out.frames.back().tags.size();
      if (!ctx_.Append(out.frames, std::exchange(frame_, Frame{}))) {
        full_ = true;
        return false;
      }
      out.tags_before.push_back(before);
      frame_used_ = false;
      return true;
    }
    // Each switch that doesn't know the tag takes one off; none left knows it.
    readers_knowing_ = main_ ? 2 : 1;
    frame_used_ |= ReadControl(body, code, frame_, out);
    if (main_) ReadDefinition(body, code);
    if (readers_knowing_ == 0) CountSkippedTag(ctx_.movie, code);
    return true;
  }

  // After the last tag: a sprite's last frame counts without its ShowFrame, and a timeline has
  // at least one frame.
  void Finish(Timeline& out) {
    if (full_) {
      ctx_.Note("the movie holds more than can be kept: read up to frame " +
                std::to_string(out.frames.size()));
    }
    if (!main_) out.loops = ended_ && !frame_used_;
    if (out.frames.empty() || (frame_used_ && !main_)) {
      out.tags_before.push_back(
          out.frames.empty() ? 0 : out.tags_before.back() + out.frames.back().tags.size());
      out.frames.push_back(std::move(frame_));
    }
  }

 private:
  // A tag that belongs to a frame; true when the frame took it.
  bool ReadControl(ByteReader& body, TagCode code, Frame& frame, Timeline& out) {
    switch (code) {
      case TagCode::PlaceObject:
      case TagCode::PlaceObject2:
      case TagCode::PlaceObject3:
        if (auto place = ReadPlace(body, code, ctx_)) {
          const std::size_t name = place->name ? place->name->size() : 0;
          const std::size_t filters = place->filters ? place->filters->size() * 128 : 0;
          return ctx_.Append(frame.tags, ControlTag(std::move(*place)), name + filters);
        }
        return false;
      case TagCode::RemoveObject:
      case TagCode::RemoveObject2: {
        if (code == TagCode::RemoveObject) body.Skip(2);
        const std::uint16_t depth = body.U16();
        return body.ok() && ctx_.Append(frame.tags, ControlTag(RemoveTag{depth}));
      }
      case TagCode::DoAction: {
        ActionBlock block = ReadActions(body.Rest(), ctx_);
        block.after_tags = frame.tags.size();
        return !block.code.empty() && ctx_.Append(frame.actions, block);
      }
      case TagCode::DoInitAction: {
        body.Skip(2);  // the sprite: its actions run once, whichever sprite it is
        ActionBlock block = ReadActions(body.Rest(), ctx_);
        return body.ok() && !block.code.empty() && ctx_.Append(frame.init_actions, block);
      }
      case TagCode::FrameLabel: {
        std::string label = body.String();
        const std::size_t size = label.size();
        return ctx_.Append(out.labels, std::pair(std::move(label), int(out.frames.size())), size);
      }
      case TagCode::VideoFrame:
        ReadVideoFrame(body, ctx_);
        return false;
      case TagCode::StartSound:
      case TagCode::StartSound2: {
        auto start = ReadStartSound(code, body.Rest());
        if (!start) return false;
        const std::size_t size = start->info.envelope.size() * sizeof(SoundEnvelopePoint);
        return ctx_.Append(frame.sounds, SoundTag(std::move(*start)), size);
      }
      case TagCode::SoundStreamHead:
      case TagCode::SoundStreamHead2:
        return ctx_.Append(frame.sounds, SoundTag(StreamHeadTag{ReadSoundStreamHead(body.Rest())}));
      case TagCode::SoundStreamBlock:
        return ctx_.Append(frame.sounds, SoundTag(StreamBlockTag{body.Rest()}));
      default:
        --readers_knowing_;
        return false;
    }
  }

  template <typename T>
  void Define(std::uint16_t id, std::optional<T> parsed) {
    if (parsed) Define(id, Character(std::make_shared<const T>(std::move(*parsed))));
  }
  void Define(std::uint16_t id, Character c) {
    if (!ctx_.movie.dictionary.emplace(id, std::move(c)).second) {
      ctx_.Note("character " + std::to_string(id) + " defined twice: the first kept");
    }
  }

  // A tag of the dictionary, read only on the main timeline.
  void ReadDefinition(ByteReader& body, TagCode code) {
    Movie& movie = ctx_.movie;
    switch (code) {
      case TagCode::SetBackgroundColor:
        if (Rgba c = body.ReadRgb(); body.ok()) movie.background = c;
        return;
      case TagCode::DefineShape:
      case TagCode::DefineShape2:
      case TagCode::DefineShape3:
      case TagCode::DefineShape4: {
        const std::uint16_t id = body.U16();
        Define(id, ReadDefineShape(body, code, ctx_));
        return;
      }
      case TagCode::DefineMorphShape:
      case TagCode::DefineMorphShape2: {
        const std::uint16_t id = body.U16();
        Define(id, ReadDefineMorphShape(body, code, ctx_));
        return;
      }
      case TagCode::DefineFont:
      case TagCode::DefineFont2:
      case TagCode::DefineFont3: {
        const std::uint16_t id = body.U16();
        Define(id, ReadDefineFont(body, code, ctx_));
        return;
      }
      case TagCode::DefineFontInfo:
      case TagCode::DefineFontInfo2:
        ReadDefineFontInfo(body, code, ctx_);
        return;
      case TagCode::DefineEditText: {
        const std::uint16_t id = body.U16();
        Define(id, ReadDefineEditText(body, ctx_));
        return;
      }
      case TagCode::CsmTextSettings:
        ReadCsmTextSettings(body, ctx_);
        return;
      case TagCode::DefineText:
      case TagCode::DefineText2: {
        const std::uint16_t id = body.U16();
        Define(id, ReadDefineText(body, code, ctx_));
        return;
      }
      case TagCode::JpegTables: {
        if (ctx_.jpeg_tables.empty()) ctx_.jpeg_tables = body.Rest();
        return;
      }
      case TagCode::DefineBits:
      case TagCode::DefineBitsJpeg2:
      case TagCode::DefineBitsJpeg3:
      case TagCode::DefineBitsJpeg4:
      case TagCode::DefineBitsLossless:
      case TagCode::DefineBitsLossless2: {
        const std::uint16_t id = body.U16();
        if (!body.ok() || movie.dictionary.count(id)) return;
        Define(id, ReadDefineBitmap(body, code, id, ctx_));
        return;
      }
      case TagCode::DefineButton:
      case TagCode::DefineButton2: {
        const std::uint16_t id = body.U16();
        if (!body.ok() || !ctx_.Charge(sizeof(Button))) return;
        Define(id, ReadDefineButton(body, code == TagCode::DefineButton2, ctx_));
        return;
      }
      case TagCode::DefineButtonCxform: {
        // The colour of a DefineButton's records, read after the button.
        const std::uint16_t id = body.U16();
        const ColorTransform color = body.ReadColorTransform(false);
        const auto it = movie.dictionary.find(id);
        const auto* button = it == movie.dictionary.end()
                                 ? nullptr
                                 : std::get_if<std::shared_ptr<const Button>>(&it->second);
        if (!body.ok() || !button) return;
        auto changed = std::make_shared<Button>(**button);
        for (Button::Record& rec : changed->records) rec.color = color;
        it->second = std::shared_ptr<const Button>(std::move(changed));
        return;
      }
      case TagCode::ScriptLimits: {
        const std::uint16_t levels = body.U16();
        if (body.ok()) movie.header.recursion_limit = levels;
        return;
      }
      case TagCode::DefineSprite: {
        const std::uint16_t id = body.U16();
        body.Skip(2);  // the frame count: the frames are counted as read
        if (!body.ok() || !ctx_.Charge(sizeof(Sprite))) return;
        auto sprite = std::make_shared<Sprite>();
        TimelineReader(ctx_, false).Read(body, sprite->timeline);
        Define(id, std::shared_ptr<const Sprite>(std::move(sprite)));
        return;
      }
      case TagCode::DefineVideoStream: {
        auto [id, video] = ReadDefineVideoStream(body, ctx_);
        if (video) Define(id, Character(std::shared_ptr<const VideoStream>(std::move(video))));
        return;
      }
      case TagCode::ExportAssets: {
        const std::size_t count = body.U16();
        for (std::size_t i = 0; i < count && body.ok() && body.remaining() > 0; ++i) {
          const std::uint16_t id = body.U16();
          std::string name = body.String();
          if (!body.ok() || !ctx_.Charge(2 * name.size() + 64)) break;
          movie.export_names.emplace(id, name);
          for (char& c : name) c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
          movie.exports.insert_or_assign(std::move(name), id);  // a name exported again: the last
        }
        return;
      }
      case TagCode::DefineSound:
        if (auto sound = ReadDefineSound(body.Rest())) {
          const std::size_t size = sizeof(SoundDefinition) + sound->data.size();
          ctx_.Append(movie.sound_definitions,
                      std::make_shared<const SoundDefinition>(std::move(*sound)), size);
        }
        return;
      default:
        --readers_knowing_;
        return;
    }
  }

  LoadContext& ctx_;
  bool main_;
  int readers_knowing_ = 0;
  Frame frame_;  // the frame whose tags are being read
  bool frame_used_ = false;
  bool full_ = false;
  bool ended_ = false;  // an End tag closed the tags
};

// Tags the player reads in one call at most, so a file of tiny tags spreads over frames.
constexpr std::size_t kMaxTagsPerRead = 100'000;
constexpr std::size_t kTagBatch = 4096;

// The main timeline read from the file's tags as the player reaches its frames.
class MainReader final : public MovieStream {
 public:
  MainReader(Movie& movie, ImageDecoder* images, std::unique_ptr<TagFeed> feed, std::size_t honest,
             std::size_t declared)
      : movie_(movie),
        ctx_{movie, images, Limits::kMaxModelBytes, {}, {}},
        reader_(ctx_, true),
        feed_(std::move(feed)),
        honest_(honest),
        declared_(declared) {}

  void Start() { feed_->Start(); }

  void ReadThrough(int frame) override {
    std::size_t left = kMaxTagsPerRead;
    while (!complete_ && int(movie_.main.frames.size()) <= frame && left > 0) {
      if (pending_.empty()) feed_->Take(pending_, std::min(left, kTagBatch));
      if (pending_.empty()) {
        if (feed_->finished()) Finish();
        return;
      }
      const TagEntry tag = pending_.front();
      pending_.pop_front();
      --left;
      ByteReader body(tag.body);
      if (!reader_.Tag(tag.code, body, movie_.main)) Finish();
    }
  }
  [[nodiscard]] bool complete() const override { return complete_; }
  [[nodiscard]] int frames_loaded() const override {
    const int read = int(movie_.main.frames.size());
    return complete_ ? read : std::max(read, feed_->frames_read());
  }
  [[nodiscard]] std::uint64_t bytes_loaded() const override { return 8 + feed_->bytes_read(); }

 private:
  void Finish() {
    feed_->Stop();
    pending_.clear();
    reader_.Finish(movie_.main);
    complete_ = true;
    if (feed_->bytes_read() == honest_ && honest_ < declared_) {
      ctx_.Note("the body inflates to more than " + std::to_string(Limits::kMaxInflateRatio) +
                " times its compressed size and 16 MiB: read up to byte " +
                std::to_string(honest_ + 8));
    }
  }

  Movie& movie_;
  LoadContext ctx_;
  TimelineReader reader_;
  std::unique_ptr<TagFeed> feed_;
  std::deque<TagEntry> pending_;
  std::size_t honest_;
  std::size_t declared_;
  bool complete_ = false;
};

// A source over bytes the caller keeps for as long as the source reads.
class SpanSource final : public ByteSource {
 public:
  explicit SpanSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::size_t Read(std::span<std::uint8_t> out) override {
    const std::size_t n = std::min(out.size(), bytes_.size() - at_);
    std::copy_n(bytes_.begin() + std::ptrdiff_t(at_), n, out.begin());
    at_ += n;
    return n;
  }
  [[nodiscard]] std::uint64_t size() const override { return bytes_.size(); }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

class OwnedSource final : public ByteSource {
 public:
  explicit OwnedSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)), span_(bytes_) {}
  std::size_t Read(std::span<std::uint8_t> out) override { return span_.Read(out); }
  [[nodiscard]] std::uint64_t size() const override { return span_.size(); }

 private:
  std::vector<std::uint8_t> bytes_;
  SpanSource span_;
};

LoadResult Load(std::unique_ptr<ByteSource> file, ImageDecoder* images, bool streaming) {
  std::uint8_t head[8] = {};
  std::size_t got = 0;
  while (got < 8) {
    const std::size_t n = file->Read(std::span(head).subspan(got));
    if (n == 0) break;
    got += n;
  }
  if (got < 8) return {nullptr, "not an SWF file (shorter than its header)"};
  const std::string signature(head, head + 3);
  if (signature == "ZWS") {
    return {nullptr, "LZMA-compressed SWF (ZWS, Flash 11 and later) is not supported"};
  }
  if (signature != "FWS" && signature != "CWS") {
    return {nullptr, "not an SWF file (no FWS or CWS signature)"};
  }
  auto movie = std::make_shared<Movie>();
  Header& header = movie->header;
  header.version = head[3];
  header.file_length =
      std::uint32_t(head[4] | (head[5] << 8) | (head[6] << 16)) | (std::uint32_t(head[7]) << 24);
  header.compressed = signature == "CWS";
  const std::size_t body = std::size_t(std::min<std::uint64_t>(
      file->size() > 8 ? file->size() - 8 : 0, std::numeric_limits<std::size_t>::max()));
  // (Compared before multiplying: a 32-bit size_t would wrap.)
  const std::size_t honest = !header.compressed ? body
                             : body > Limits::kMaxInflated / Limits::kMaxInflateRatio
                                 ? Limits::kMaxInflated
                                 : std::max(body * Limits::kMaxInflateRatio, Limits::kMinInflated);
  const std::size_t declared = header.file_length < 8 ? 0 : header.file_length - 8;
  const std::size_t limit = std::min(declared, honest);
  auto feed = std::make_unique<TagFeed>(std::move(file), header.compressed, limit);

  // The stage's rectangle (its size in its first five bits), the frame rate and count.
  std::uint8_t stage[21] = {};
  std::size_t read = feed->ReadBody(std::span(stage, 1));
  if (header.compressed && read == 0 && limit > 0) {
    return {nullptr, "the zlib-compressed body can't be inflated"};
  }
  const std::size_t rect_bytes = (5 + 4 * std::size_t(stage[0] >> 3) + 7) / 8;
  if (read == 1) read += feed->ReadBody(std::span(stage).subspan(1, rect_bytes + 4 - 1));
  ByteReader r{std::span<const std::uint8_t>(stage).first(read)};
  header.stage = r.ReadRect();
  header.frame_rate = float(r.U16()) / 256.0f;
  header.frame_count = r.U16();
  if (!r.ok()) return {nullptr, "the file ends inside its header"};

  movie->bitmaps = std::make_shared<BitmapCache>(images, Limits::kBitmapCacheBytes);
  auto reader = std::make_shared<MainReader>(*movie, images, std::move(feed), honest, declared);
  movie->stream = reader;
  if (streaming) {
    reader->Start();
    reader->ReadThrough(0);
  } else {
    while (!reader->complete()) reader->ReadThrough(std::numeric_limits<int>::max());
  }
  return {std::move(movie), {}};
}

}  // namespace

Inflater::Inflater(std::span<const std::uint8_t> input) : z_(std::make_unique<z_stream>()) {
  z_->next_in = const_cast<Bytef*>(input.data());  // zlib's API takes no const
  z_->avail_in = uInt(std::min<std::size_t>(input.size(), 0xFFFFFFFFu));
  done_ = inflateInit(z_.get()) != Z_OK;
}

Inflater::~Inflater() {
  inflateEnd(z_.get());
}

std::size_t Inflater::Read(std::span<std::uint8_t> out) {
  if (done_ || out.empty()) return 0;
  z_->next_out = out.data();
  z_->avail_out = uInt(out.size());
  while (z_->avail_out > 0) {
    const int status = inflate(z_.get(), Z_NO_FLUSH);
    if (status != Z_OK) {
      done_ = true;  // the end, damaged data, or input used up: read as far as it went
      break;
    }
  }
  return out.size() - z_->avail_out;
}

std::optional<int> Timeline::FindLabel(const std::string& label) const {
  for (const auto& [name, frame] : labels) {
    if (SameIgnoringCase(name, label)) return frame;
  }
  return std::nullopt;
}

LoadResult LoadMovie(std::span<const std::uint8_t> file, ImageDecoder* images) {
  return Load(std::make_unique<SpanSource>(file), images, false);
}

LoadResult LoadMovie(std::unique_ptr<ByteSource> file, ImageDecoder* images) {
  return Load(std::move(file), images, true);
}

std::unique_ptr<ByteSource> MemorySource(std::vector<std::uint8_t> bytes) {
  return std::make_unique<OwnedSource>(std::move(bytes));
}

StageInfo Stage(const Movie& movie) {
  const int read = int(movie.main.frames.size());
  return {movie.header.stage, movie.header.frame_rate,
          movie.loading() ? std::max(read, movie.header.frame_count) : read, movie.background,
          movie.header.version};
}

}  // namespace swf
