#pragma once
// The movie reader's parts, shared by its files: the load's memory budget, zlib streams, and the
// parsers of shapes, bitmaps, text and scripts. Each parser takes one tag's body and yields its
// result or nothing; none reads outside the body.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "swf/byte_reader.h"
#include "swf/movie.h"
#include "swf/tag_codes.h"

struct z_stream_s;

namespace swf {

class ImageDecoder;

// What a load may still allocate for parsed records and decoded pixels, and what it noted.
struct LoadContext {
  Movie& movie;
  ImageDecoder* images = nullptr;
  std::size_t budget = Limits::kMaxModelBytes;
  std::span<const std::uint8_t> jpeg_tables;  // inside the file's bytes
  // The video streams defined so far, which VideoFrame tags fill in.
  std::map<std::uint16_t, std::shared_ptr<VideoStream>> videos;

  // Takes `bytes` from the budget; false (and nothing taken) when they don't fit.
  bool Charge(std::size_t bytes) {
    if (bytes > budget) return false;
    budget -= bytes;
    return true;
  }
  // Appends to a vector whose growth is charged (the capacity it adds, not just the item), so
  // the budget counts what is really allocated; `extra` is what the item holds besides.
  template <typename T, typename U>
  bool Append(std::vector<T>& v, U&& item, std::size_t extra = 0) {
    if (!Charge(extra)) return false;
    if (v.size() == v.capacity()) {
      const std::size_t more = std::max<std::size_t>(v.capacity(), 4);
      if (!Charge(more * sizeof(T))) return false;
      v.reserve(v.capacity() + more);
    }
    v.push_back(std::forward<U>(item));
    return true;
  }
  void Note(std::string what) {
    if (movie.notes.size() < 32) movie.notes.push_back(std::move(what));
  }
};

// A zlib stream read in pieces, so a bitmap's rows are converted as they come out.
class Inflater {
 public:
  explicit Inflater(std::span<const std::uint8_t> input);
  ~Inflater();
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  Inflater(Inflater&&) = delete;
  Inflater& operator=(Inflater&&) = delete;

  // Fills `out` as far as the stream goes; returns how many bytes it wrote. Fewer than asked
  // means the stream ended or is damaged (nothing more comes after that).
  std::size_t Read(std::span<std::uint8_t> out);

 private:
  std::unique_ptr<z_stream_s> z_;
  bool done_ = false;
};

// DefineShape 1-4, and the glyphs of fonts (version 1, no styles of their
// own: their fill is style 1).
std::optional<Shape> ReadDefineShape(ByteReader& r, TagCode code, LoadContext& ctx);
std::optional<MorphShape> ReadDefineMorphShape(ByteReader& r, TagCode code, LoadContext& ctx);
// The glyph shapes of DefineFont 1-3.
std::optional<Font> ReadDefineFont(ByteReader& r, TagCode code, LoadContext& ctx);
// The rest of DefineFont2/3 once its glyphs are read: `after_offsets` reads on from the code
// table's offset, `table_at` is where the offsets begin.
void ReadFontLayout(ByteReader& after_offsets, ByteReader whole, std::size_t table_at,
                    std::uint8_t flags, Font& font, LoadContext& ctx);
// A font's name as the file spells it: Flash 6 and later write UTF-8, earlier files the system's
// code page (kept as bytes). A trailing NUL is dropped.
std::string FontName(std::span<const std::uint8_t> bytes);
// SWF 5 and older write a font's name and codes in the author's code page, Shift-JIS where the
// font's flag says so (and then the movie's strings too): both turned to Unicode.
void ApplyCodePage(Font& font, bool shift_jis, LoadContext& ctx);
// A string of the file as UTF-8: as it stands from SWF 6 on, else from the movie's code page.
std::string FileString(std::string_view raw, const LoadContext& ctx);
// DefineFontInfo 1/2: a DefineFont's name, style and code table.
void ReadDefineFontInfo(ByteReader& r, TagCode code, LoadContext& ctx);
// DefineEditText after its id.
std::optional<EditText> ReadDefineEditText(ByteReader& r, LoadContext& ctx);
// CSMTextSettings: how a text field defined before draws its glyphs (scripts read it back).
void ReadCsmTextSettings(ByteReader& r, LoadContext& ctx);
// DefineText 1/2 as one shape: its glyphs placed, one solid fill per colour.
std::optional<Shape> ReadDefineText(ByteReader& r, TagCode code, LoadContext& ctx);
// The bitmap tags (DefineBits, its JPEG 2-4 and Lossless 1-2): the size and the cache's source of
// the pixels, decoded when drawn; nullopt when the picture is too large (noted) or nothing could
// decode it.
std::optional<Bitmap> ReadDefineBitmap(ByteReader& r, TagCode code, std::uint16_t id,
                                       LoadContext& ctx);
// DefineVideoStream: the stream and its id; null when the body is too short or the id was
// defined before. VideoFrame, in any timeline: the packet joins its stream by frame number (the
// first packet of a number is kept; numbers beyond the tag's 16 bits can't come).
std::pair<std::uint16_t, std::shared_ptr<VideoStream>> ReadDefineVideoStream(ByteReader& r,
                                                                             LoadContext& ctx);
void ReadVideoFrame(ByteReader& r, LoadContext& ctx);
// PlaceObject3's filters, blend mode, bitmap cache, visibility and opaque background into `p`
// (`flags3`: the tag's second flag byte); what can't be read is left unset.
void ReadPlaceEffects(ByteReader& r, std::uint8_t flags3, PlaceTag& p);
// One DoAction body.
ActionBlock ReadActions(std::span<const std::uint8_t> body, LoadContext& ctx);
// The clip event handlers at the end of a PlaceObject2/3 (SWF 5 reads two-byte event flags).
constexpr std::uint32_t kClipEventKeyPress = 0x20000;
std::vector<ClipAction> ReadClipActions(ByteReader& r, int version, LoadContext& ctx);

}  // namespace swf
