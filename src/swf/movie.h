#pragma once
// A loaded movie: what the file defines, immutable once read, shared by every player of it.
// The reader parses the tags (shapes, the timelines' control tags and scripts) before their frame
// plays: all at load, or for a movie read as it plays, the main timeline's as the player reaches
// them (MovieStream). Bitmaps are decoded when drawn, through the movie's bitmap cache, which
// keeps them within a budget of their own.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "swf/effects.h"
#include "swf/shape.h"
#include "swf/sound.h"
#include "swf/text/code_pages.h"
#include "swf/video.h"

namespace swf {

// What a loaded movie may hold at most, whatever the file claims. The budget counts what is
// allocated (a growing list is charged its new capacity); with a list's old buffer while it
// grows, a movie's records and pixels stay under 256 MB besides the file's bytes.
struct Limits {
  // A CWS body inflates to at most this many times its compressed size (honest movies of the
  // era compress far less: pictures and sound are compressed already) and at most kMaxInflated:
  // a zlib bomb is cut short at once. Any movie may inflate to kMinInflated, though: a small one
  // of flat colours (vectors, a still video) compresses far better than 16 to 1.
  static constexpr std::size_t kMaxInflateRatio = 16;
  static constexpr std::size_t kMinInflated = std::size_t{16} << 20;
  static constexpr std::size_t kMaxInflated = std::size_t{1} << 30;
  // Parsed records (shapes, tags, scripts, the bitmaps' index).
  static constexpr std::size_t kMaxModelBytes = 96u << 20;
  // Decoded pixels, held by the bitmap cache (bitmap_cache.h); one bitmap may take all of it.
  static constexpr std::size_t kBitmapCacheBytes = 128u << 20;
  static constexpr std::uint64_t kMaxBitmapPixels = 32u << 20;
};

// Labels, instance names and "FSCommand:" compare so: ASCII letters in any case.
inline bool SameIgnoringCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

// Scripts: AVM1 action bytes as the file holds them (inside Movie::stream's), run by the script
// machine as they are.
struct ActionBlock {
  std::span<const std::uint8_t> code;
  // The frame's control tags before it: a clip placed ahead of the block runs its first
  // actions first.
  std::size_t after_tags = 0;
};
// A clip's event handler from PlaceObject2/3 (onClipEvent): the events it answers (the file's
// ClipEventFlags, SWF 5's two bytes widened), the key of a keyPress, and its actions.
struct ClipAction {
  std::uint32_t events = 0;
  std::uint8_t key = 0;
  std::span<const std::uint8_t> code;
};

// Place: a new object of `character` at the depth (whatever was there goes). Move: changes the
// object at the depth, if any. Replace: as Move, its character changed to `character` (a new
// object when the depth is empty).
enum class PlaceKind : std::uint8_t { Place, Move, Replace };

struct PlaceTag {
  std::uint16_t depth = 0;
  PlaceKind kind = PlaceKind::Place;
  std::uint16_t character = 0;  // Place and Replace only
  std::optional<Matrix> matrix;
  std::optional<ColorTransform> color;
  std::optional<std::uint16_t> ratio;
  std::optional<std::string> name;
  std::optional<std::uint16_t> clip_depth;
  // PlaceObject3's effects.
  std::optional<std::vector<Filter>> filters;
  std::optional<BlendMode> blend_mode;
  std::optional<bool> cache_as_bitmap;
  std::optional<bool> visible;
  std::optional<Rgba> background;  // the opaque background, when it has one
  std::vector<ClipAction> clip_actions;
};
struct RemoveTag {
  std::uint16_t depth = 0;
};
using ControlTag = std::variant<PlaceTag, RemoveTag>;

// A frame's sound tags, parsed at load, in the file's order. A stream head the reader couldn't
// parse is kept as nullopt: it ends the head the stream restarts with, as a valid one replaces it.
struct StreamHeadTag {
  std::optional<SoundStreamHead> head;
};
// A SoundStreamBlock's body (for MP3 with its two fields), inside Movie::stream's bytes.
struct StreamBlockTag {
  std::span<const std::uint8_t> body;
};
using SoundTag = std::variant<SoundStart, StreamHeadTag, StreamBlockTag>;

struct Frame {
  std::vector<ControlTag> tags;
  std::vector<ActionBlock> actions;
  std::vector<ActionBlock> init_actions;  // DoInitAction: run once, before the frame's actions
  std::vector<SoundTag> sounds;
};

struct Timeline {
  std::vector<Frame> frames;  // at least one
  std::vector<std::pair<std::string, int>> labels;
  // Control tags in frames before each frame: what a backward goto replays.
  std::vector<std::size_t> tags_before;
  // Whether playing on from the last frame goes back to the first: not for a sprite cut short
  // (no End tag, or tags after its last ShowFrame), which Flash leaves on its last frame.
  bool loops = true;

  // A label's frame (ASCII letter case ignored), if any.
  [[nodiscard]] std::optional<int> FindLabel(const std::string& label) const;
};

// A morph shape: its start and end, edge by edge and style by style, blended by a ratio.
struct MorphShape {
  Shape start;
  Shape end;
  // The shape at ratio / 65535 of the way from start to end.
  [[nodiscard]] Shape At(std::uint16_t ratio) const;
};

struct KerningPair {
  char32_t left = 0;
  char32_t right = 0;
  float adjust = 0;  // glyph units
};

// A font of the file. Its glyphs, advances and metrics are in glyph units (`em` per em). A font
// without glyphs (DefineFont2 with none) names a font of the system instead.
struct Font {
  std::vector<Shape> glyphs;
  float em = 1024;  // glyph units per em: 1024, or 20480 for DefineFont3
  std::string name;
  bool bold = false;
  bool italic = false;
  std::vector<char32_t> codes;  // each glyph's code point; empty for DefineFont 1
  // From DefineFont2/3's layout: empty advances when the font has none.
  std::vector<float> advances;
  float ascent = 0;
  float descent = 0;
  float leading = 0;
  std::vector<KerningPair> kerning;  // sorted by (left, right)
};

// DefineEditText: a text field as the file sets it up; its text may change as the movie plays.
struct EditText {
  enum class Align : std::uint8_t { Left, Right, Center, Justify };
  Rect bounds;
  bool word_wrap = false;
  bool multiline = false;
  bool password = false;
  bool read_only = false;
  bool auto_size = false;
  bool no_select = false;
  bool border = false;  // the file's border flag draws both; scripts set them apart
  bool background = false;
  Rgba border_color{0, 0, 0, 255};
  Rgba background_color{255, 255, 255, 255};
  bool html = false;
  bool use_outlines = false;  // draw with the embedded font's glyphs, else a font of the system
  std::uint16_t font = 0;     // 0: none given
  std::string font_class;
  float height = 240;  // twips
  Rgba color{0, 0, 0, 255};
  int max_length = 0;  // 0: any
  Align align = Align::Left;
  Align auto_size_side = Align::Left;  // where an auto-sized box keeps its edge (Center: both)
  float left_margin = 0;               // twips
  float right_margin = 0;
  float indent = 0;
  float leading = 0;
  std::string variable;
  std::string initial_text;  // as the file has it (HTML when `html`)
  // CSMTextSettings: anti-aliasing for readability, fitting to the grid (0 none, 1 pixel,
  // 2 subpixel), and the figures the advanced anti-aliasing takes.
  bool advanced = false;
  std::uint8_t grid_fit = 1;
  double thickness = 0;
  double sharpness = 0;
};

struct Sprite {
  Timeline timeline;
};

// DefineButton/DefineButton2: what the button shows in each state, where it is hit, and what it
// runs as the pointer and the keys act on it.
struct Button {
  enum State : std::uint8_t { Up = 1, Over = 2, Down = 4, Hit = 8 };
  struct Record {
    std::uint8_t states = 0;  // State bits
    std::uint16_t character = 0;
    int depth = 0;
    Matrix matrix;
    ColorTransform color;  // DefineButton2's, or DefineButtonCxform's
    std::vector<Filter> filters;
    BlendMode blend = BlendMode::Normal;
  };
  // The transitions an action answers (DefineButton2's condition bits; DefineButton's one action
  // answers a release).
  enum Condition : std::uint16_t {
    RollOver = 0x1,   // idle to over
    RollOut = 0x2,    // over to idle
    Press = 0x4,      // over to down
    Release = 0x8,    // down to over
    DragOut = 0x10,   // down, pointer leaves
    DragOver = 0x20,  // down, pointer comes back
    ReleaseOutside = 0x40,
    MenuDragOver = 0x80,  // idle to down (menus)
    MenuDragOut = 0x100,  // down to idle (menus)
  };
  struct Action {
    std::uint16_t conditions = 0;
    std::uint8_t key = 0;  // a keyPress's key code (0: none)
    std::span<const std::uint8_t> code;
  };
  std::vector<Record> records;
  std::vector<Action> actions;
  bool track_as_menu = false;
};

using Character = std::variant<std::shared_ptr<const Shape>, std::shared_ptr<const MorphShape>,
                               std::shared_ptr<const Sprite>, std::shared_ptr<const Font>,
                               std::shared_ptr<const Bitmap>, std::shared_ptr<const EditText>,
                               std::shared_ptr<const VideoStream>, std::shared_ptr<const Button>>;

struct Header {
  int version = 0;
  Rect stage;            // twips
  float frame_rate = 0;  // frames per second, as the file says (8.8)
  int frame_count = 0;   // as the file's header says
  std::uint32_t file_length = 0;
  bool compressed = false;
  int recursion_limit = 256;  // ScriptLimits: how deep scripts may nest
};

class BitmapCache;

// The file behind a movie: the bytes its tags point into and, for a movie read as it plays, the
// reading of the rest. Used from the playing thread only.
class MovieStream {
 public:
  MovieStream() = default;
  virtual ~MovieStream() = default;
  MovieStream(const MovieStream&) = delete;
  MovieStream& operator=(const MovieStream&) = delete;
  MovieStream(MovieStream&&) = delete;
  MovieStream& operator=(MovieStream&&) = delete;

  // Reads the main timeline's tags through frame `frame` (0-based), as far as the file has been
  // read: it never waits, and reads a bounded number of tags a call. The timeline's frames and
  // labels, and the dictionary, grow (frames already read stay where they are).
  virtual void ReadThrough(int frame) = 0;
  // Whether every tag of the main timeline has been read: the timeline is whole.
  [[nodiscard]] virtual bool complete() const = 0;
  // The main timeline's frames the file has been read through (_framesloaded).
  [[nodiscard]] virtual int frames_loaded() const = 0;
  // The file's bytes read (inflated ones for CWS), its 8-byte header included.
  [[nodiscard]] virtual std::uint64_t bytes_loaded() const = 0;
};

struct Movie {
  // First: what everything else points into goes last.
  std::shared_ptr<MovieStream> stream;
  Header header;
  Rgba background{255, 255, 255, 255};
  std::map<std::uint16_t, Character> dictionary;
  Timeline main;
  // The bitmaps' pixels, decoded as frames draw them; the bitmaps of `dictionary` point here.
  std::shared_ptr<BitmapCache> bitmaps;
  // The DefineSound tags, shared with the mixers that play them.
  std::vector<std::shared_ptr<const SoundDefinition>> sound_definitions;
  // What the reader left out, for a diagnostic line (e.g. "bitmap 3: 50000x50000 is too large").
  std::vector<std::string> notes;
  // Tags the reader skipped as unknown to the player, by name, with how often.
  std::map<std::string, int> left_out;
  // ExportAssets: the names attachMovie finds symbols by (ASCII letters lowered), and back.
  std::map<std::string, std::uint16_t> exports;
  std::map<std::uint16_t, std::string> export_names;
  // SWF 5 and older: the code page of the movie's strings, Shift-JIS when a font says so.
  CodePage code_page = CodePage::Windows1252;

  // Whether the main timeline is still being read (its last frame read isn't its last).
  [[nodiscard]] bool loading() const { return stream && !stream->complete(); }

  [[nodiscard]] const Character* Find(std::uint16_t id) const {
    const auto it = dictionary.find(id);
    return it == dictionary.end() ? nullptr : &it->second;
  }
};

}  // namespace swf
