// The file: its header, the zlib body, and the tags, sorted into the dictionary and timelines.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "swf/bitmap_cache.h"
#include "swf/reader_parts.h"
#include "swf/swf_player.h"

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
    Frame frame;
    bool frame_used = false;
    bool full = false;
    while (r.remaining() >= 2) {
      if (ctx_.budget < kBudgetReserve) {
        full = true;
        break;
      }
      const std::uint16_t head = r.U16();
      const auto code = TagCode(head >> 6);
      std::size_t length = head & 0x3F;
      if (length == 0x3F) length = r.U32();
      if (!r.ok()) break;
      // A tag longer than what is left is read as far as it goes.
      ByteReader body(r.Bytes(std::min(length, r.remaining())));
      if (code == TagCode::End) break;
      if (code == TagCode::ShowFrame) {
        if (!ctx_.Append(out.frames, std::exchange(frame, Frame{}))) {
          full = true;
          break;
        }
        frame_used = false;
        continue;
      }
      // Each switch that doesn't know the tag takes one off; none left knows it.
      readers_knowing_ = main_ ? 2 : 1;
      frame_used |= ReadControl(body, code, frame, out);
      if (main_) ReadDefinition(body, code);
      if (readers_knowing_ == 0) CountSkippedTag(ctx_.movie, code);
    }
    if (full) {
      ctx_.Note("the movie holds more than can be kept: read up to frame " +
                std::to_string(out.frames.size()));
    }
    if (out.frames.empty() || (frame_used && !main_)) out.frames.push_back(std::move(frame));
    std::size_t tags = 0;
    out.tags_before.reserve(out.frames.size());
    for (const Frame& f : out.frames) {
      out.tags_before.push_back(tags);
      tags += f.tags.size();
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
          movie.exports.emplace(std::move(name), id);
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
};

// The file's bytes after its 8-byte header, inflated for CWS, at most `limit` of them.
std::optional<std::string> Inflate(std::span<const std::uint8_t> input, std::size_t limit,
                                   std::vector<std::uint8_t>& out) {
  Inflater z(input);
  out.reserve(std::min<std::size_t>(limit, std::size_t(1) << 20));
  constexpr std::size_t kChunk = 1 << 16;
  while (out.size() < limit) {
    const std::size_t before = out.size();
    const std::size_t want = std::min(kChunk, limit - before);
    out.resize(before + want);
    const std::size_t got = z.Read(std::span(out).subspan(before, want));
    out.resize(before + got);
    if (got < want) break;
  }
  if (out.empty() && limit > 0) return "the zlib-compressed body can't be inflated";
  return std::nullopt;
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
  if (file.size() < 8) return {nullptr, "not an SWF file (shorter than its header)"};
  const std::string signature(file.begin(), file.begin() + 3);
  if (signature == "ZWS") {
    return {nullptr, "LZMA-compressed SWF (ZWS, Flash 11 and later) is not supported"};
  }
  if (signature != "FWS" && signature != "CWS") {
    return {nullptr, "not an SWF file (no FWS or CWS signature)"};
  }
  auto movie = std::make_shared<Movie>();
  Header& header = movie->header;
  header.version = file[3];
  header.file_length =
      std::uint32_t(file[4] | (file[5] << 8) | (file[6] << 16)) | (std::uint32_t(file[7]) << 24);
  header.compressed = signature == "CWS";
  const auto body = file.subspan(8);
  // (Compared before multiplying: a 32-bit size_t would wrap.)
  const std::size_t honest =
      !header.compressed ? body.size()
      : body.size() > Limits::kMaxInflated / Limits::kMaxInflateRatio
          ? Limits::kMaxInflated
          : std::max(body.size() * Limits::kMaxInflateRatio, Limits::kMinInflated);
  const std::size_t limit =
      std::min<std::size_t>(header.file_length < 8 ? 0 : header.file_length - 8, honest);
  if (header.compressed) {
    if (auto failure = Inflate(body, limit, movie->bytes)) return {nullptr, *failure};
  } else {
    const auto kept = body.first(std::min(limit, body.size()));
    movie->bytes.assign(kept.begin(), kept.end());
  }

  if (header.file_length > 8 && movie->bytes.size() == honest &&
      honest < std::size_t(header.file_length) - 8) {
    movie->notes.push_back(
        "the body inflates to more than " + std::to_string(Limits::kMaxInflateRatio) +
        " times its compressed size and 16 MiB: read up to byte " + std::to_string(honest + 8));
  }

  ByteReader r(movie->bytes);
  header.stage = r.ReadRect();
  header.frame_rate = float(r.U16()) / 256.0f;
  header.frame_count = r.U16();
  if (!r.ok()) return {nullptr, "the file ends inside its header"};

  movie->bitmaps = std::make_shared<BitmapCache>(images, Limits::kBitmapCacheBytes);
  LoadContext ctx{*movie, images, Limits::kMaxModelBytes, {}, {}};
  TimelineReader(ctx, true).Read(r, movie->main);
  return {std::move(movie), {}};
}

StageInfo Stage(const Movie& movie) {
  return {movie.header.stage, movie.header.frame_rate, int(movie.main.frames.size()),
          movie.background, movie.header.version};
}

}  // namespace swf
