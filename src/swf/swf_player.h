#pragma once
// The SWF player's core as the platforms use it: load a movie from its bytes (or learn why not),
// play it on a clock the platform drives, draw its frames into a BGRA buffer, take the commands it
// sends (FSCommand) and pull its mixed sound.
//
// Threads: a Player is used from one thread (the window's), except PullAudio, which a platform's
// audio thread may call at any time (the mixer behind it locks). A movie read whole is immutable
// and may be shared by players on any threads; one read as it plays is played by one player on one
// thread.
//
//   swf::LoadResult loaded = swf::LoadMovie(bytes, &decoder);
//   if (!loaded.movie) report(loaded.refusal);
//   swf::Player player(loaded.movie, mp3Factory);
//   player.Play();
//   each tick:  player.AdvanceTo(secondsSinceStart); player.Render(frame);
//               for (auto& c : player.TakeCommands()) ...; if (!player.Playing()) end;

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "swf/render.h"
#include "swf/shape.h"
#include "swf/sound.h"
#include "swf/video.h"

namespace swf {

struct Movie;
class DeviceFonts;

// Decodes the JPEG, PNG and GIF bytes of bitmap tags with the platform's decoder (WIC, SDL_image).
class ImageDecoder {
 public:
  ImageDecoder() = default;
  virtual ~ImageDecoder() = default;
  ImageDecoder(const ImageDecoder&) = delete;
  ImageDecoder& operator=(const ImageDecoder&) = delete;
  ImageDecoder(ImageDecoder&&) = delete;
  ImageDecoder& operator=(ImageDecoder&&) = delete;

  // The picture (the first frame of a GIF) as premultiplied pixels, or nullopt when the bytes are
  // no picture or it has more than `max_pixels` pixels: that must be found from its header,
  // before any pixel is decoded. JPEG bytes arrive as one stream (tables merged in by the core).
  virtual std::optional<Bitmap> Decode(std::span<const std::uint8_t> bytes,
                                       std::uint64_t max_pixels) = 0;
};

// Makes decoders for threads of their own (each thread its own decoder), e.g. decoding ahead.
using ImageDecoderFactory = std::function<std::unique_ptr<ImageDecoder>()>;

// A loaded movie, or why the file can't be played (a sentence for the skip line).
struct LoadResult {
  std::shared_ptr<const Movie> movie;
  std::string refusal;
};

// Reads an SWF file: FWS or CWS (zlib), any version (ActionScript 3 isn't run). Never fails on any
// input but with a refusal; a file that ends early is read as far as it goes, and what doesn't
// fit the memory a movie may take is left out (movie.h: Limits, Movie::notes). `images` decodes
// bitmaps as frames draw them, on the thread that draws, and must outlive the movie; it may be
// null (JPEG, PNG and GIF bitmaps then draw nothing).
[[nodiscard]] LoadResult LoadMovie(std::span<const std::uint8_t> file, ImageDecoder* images);

// A file's bytes in order, as a movie read as it plays takes them.
class ByteSource {
 public:
  ByteSource() = default;
  virtual ~ByteSource() = default;
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;
  ByteSource(ByteSource&&) = delete;
  ByteSource& operator=(ByteSource&&) = delete;

  // The next bytes into `out`; 0 at the end (or when the rest can't be read). Called from one
  // thread at a time, not necessarily the one that made the source; never throws.
  virtual std::size_t Read(std::span<std::uint8_t> out) = 0;
  // The file's size as it was opened.
  [[nodiscard]] virtual std::uint64_t size() const = 0;
};
// A source over bytes held in memory.
[[nodiscard]] std::unique_ptr<ByteSource> MemorySource(std::vector<std::uint8_t> bytes);

// Reads an SWF file as it plays, as Flash Player streamed one: a thread of the movie's own reads
// (and inflates) the file and indexes its tags, while the player reads the tags of the main
// timeline as it reaches them, so the first frame shows once the tags before it are read. Returns
// when the first frame has been read (or the file ends). Until the whole file is read the movie
// is played by one player on one thread, and `_framesloaded` and `getBytesLoaded()` tell how far
// the reading has come; otherwise as LoadMovie.
[[nodiscard]] LoadResult LoadMovie(std::unique_ptr<ByteSource> file, ImageDecoder* images);

struct StageInfo {
  Rect bounds;           // twips
  float frame_rate = 0;  // frames per second as the file says; the clock uses at least 1
  // Frames of the main timeline as read (the header's count may differ); the header's count (or
  // more) while a movie read as it plays is still reading.
  int frame_count = 0;
  Rgba background;  // SetBackgroundColor, white without one
  int version = 0;
};
[[nodiscard]] StageInfo Stage(const Movie& movie);

// What the movie sent through FSCommand: a GetURL to "FSCommand:<command>" with <args> as target.
struct MovieCommand {
  std::string command;
  std::string args;
  friend bool operator==(const MovieCommand&, const MovieCommand&) = default;
};

// One kind of thing a movie asked for that the player doesn't play, e.g. "tag 60
// (DefineVideoStream)".
struct LeftOut {
  std::string what;
  int count = 0;
  friend bool operator==(const LeftOut&, const LeftOut&) = default;
};

// One object of the display list, for inspection (tests, diagnostics). Nested objects follow
// their sprite, with its depths before theirs in `path`.
struct DisplayItem {
  std::vector<int> path;  // depths from the main timeline down
  int character = 0;
  Matrix matrix;
  ColorTransform color;
  int ratio = 0;
  std::string name;
  int clip_depth = 0;
  int frame = 0;  // a sprite's current frame, 1-based; 0 for other characters
};

class Player {
 public:
  // mp3: makes the platform's MP3 decoders; empty leaves MP3 sound silent. video: the platform's
  // decoders of the video codecs the core doesn't decode (VP6); empty leaves those videos out.
  explicit Player(std::shared_ptr<const Movie> movie, Mp3DecoderFactory mp3 = {},
                  VideoDecoderFactory video = {});
  ~Player();
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;
  Player(Player&&) = delete;
  Player& operator=(Player&&) = delete;

  [[nodiscard]] const Movie& movie() const { return *movie_; }

  // The system's fonts for text fields that embed none (null: such text takes room but shows
  // nothing). They must outlive the player.
  void SetDeviceFonts(DeviceFonts* fonts);

  // Reads a file of the movie's own folder by a relative name the player has checked stays in it
  // (XML.load, LoadVars.load); nullopt when there is none. Unset: movies load nothing.
  using FileReader = std::function<std::optional<std::string>(const std::string& name)>;
  void SetFileReader(FileReader read);
  // Decodes the pictures movies load (loadMovie of a JPEG, PNG or GIF) and the bitmaps of the
  // movies they load; must outlive the player. Null (the default): those show nothing.
  void SetImageDecoder(ImageDecoder* images);
  // With loop false (the default) the main timeline stops on its last frame.
  void SetLoop(bool loop) { loop_ = loop; }
  // Starts (or resumes) the main timeline: its first frame is shown at the next AdvanceTo. After
  // the end, the movie starts again from its first frame.
  void Play();
  // Stops the main timeline where it is (sprites go on, as in Flash).
  void StopPlay();
  // True from Play on; false after a Stop on the main timeline, StopPlay, or once the last frame
  // has been shown without loop.
  [[nodiscard]] bool Playing() const;

  // Runs the frames due by `seconds` (any monotonic clock; only differences count): one per
  // 1/frame rate since the first frame. Once PullAudio has taken some of the movie's stream
  // sound, the sound sets the pace instead: the frame shown is the one whose block holds the
  // sample heard, the output delay before the last one pulled (frames the sound has passed are
  // dropped from view). The blocks of the next kSoundAheadSeconds of frames are queued ahead of
  // them, so the sound never waits for a frame: should they run short, frames run on until at
  // least kMinStreamAheadSeconds (or a frame's worth) is queued past what was pulled, so pull in
  // pieces shorter than that. Bounded work per call: a caller far behind sees the movie slow
  // down, never a burst of frames.
  void AdvanceTo(double seconds);
  // When, on AdvanceTo's clock, the next frame is due: by the clock, or when the sound heard
  // reaches the next frame's block (as the device's delay last given says).
  [[nodiscard]] double NextFrameTime() const;
  // Samples (44.1 kHz stereo frames) the sound device took from PullAudio and hasn't played yet;
  // 0 (the default) counts a sample as heard when it is pulled. Bounded to kMaxOutputDelaySeconds.
  void SetOutputDelay(std::uint64_t samples);
  static constexpr double kMinStreamAheadSeconds = 0.05;
  // The stream sound queued past what was pulled, from the frames to come.
  static constexpr double kSoundAheadSeconds = 0.25;
  static constexpr double kMaxOutputDelaySeconds = 2;

  // Draws the current frame into `frame`: the stage scaled to fit, proportions kept, centred, the
  // background colour around it. Bounded work whatever the movie holds.
  void Render(const FramePixels& frame);

  // The commands sent since the last call, oldest first.
  [[nodiscard]] std::vector<MovieCommand> TakeCommands();

  // What the movie's `trace` printed since the last call, a line each, oldest first, as Flash
  // Player's trace log writes it. Bounded: lines past a cap between two calls are dropped.
  [[nodiscard]] std::vector<std::string> TakeTrace();

  // Flash's LOW stage quality (edges drawn without anti-aliasing, `_quality` reads "LOW") or its
  // default HIGH.
  void SetLowQuality(bool low);

  // The seed of the movie's `Math.random`: a fixed one makes a run repeatable (swfcheck).
  void SetRandomSeed(std::uint64_t seed);
  // A fixed wall clock for the movie's Date (swfcheck): the UTC time in ms since 1970 when the
  // movie starts (it then runs with the movie's clock) and the local zone's offset east of UTC
  // in minutes. Unset: the system's clock and zone.
  void SetWallClock(double utc_ms, int zone_minutes);
  // The window's size in pixels: the stage's under Stage.scaleMode "noScale" (unset: the
  // movie's own size).
  void SetWindowSize(int width, int height);

  // What the movie asked for and the player leaves out (tags, actions, objects, methods), each
  // with how often, the reader's and the playing's together; sorted by `what`.
  [[nodiscard]] std::vector<LeftOut> LeftOutSoFar() const;

  // Fills `stereo` with the next frames of the 44.1 kHz interleaved stereo mix (silence when
  // nothing plays). May be called from another thread.
  void PullAudio(std::span<std::int16_t> stereo);

  // Pointer input as the window gets it, in stage pixels (FrameToStage maps a pixel of a frame
  // Render drew there). Buttons and clips with pointer handlers hear their press, release,
  // roll-over and drag events, every clip its mouseMove, mouseDown and mouseUp; the scripts they
  // start run at once. Only the primary button counts.
  void PointerMove(double x, double y);
  void PointerButton(bool down);
  // Keys as the window gets them: `key` is the key's code as Flash numbers them (the Windows
  // virtual-key codes: 8 backspace, 13 enter, 37 left, 65 'A', ...), `character` what it typed
  // (0 for none). Clips hear keyDown and keyUp, buttons and clips their keyPress handlers, and
  // the Key object's listeners onKeyDown and onKeyUp.
  void KeyDown(int key, char32_t character);
  void KeyUp(int key);
  // Text typed (or pasted at once) into the focused input text field: what its `restrict`,
  // `maxChars` and lines allow goes in for its selection, and its onChanged hears of it.
  // "\r" is Enter: a new line in a multiline field.
  void TextInput(std::u32string_view text);
  // Where the pixel (x, y) of a width x height frame drawn by Render lies on the stage, in stage
  // pixels.
  [[nodiscard]] std::pair<double, double> FrameToStage(double x, double y, int width,
                                                       int height) const;

  // The main timeline's current frame, 1-based (0 before the first).
  [[nodiscard]] int CurrentFrame() const;
  [[nodiscard]] std::vector<DisplayItem> DisplayList() const;

  struct State;  // player.cpp

 private:
  std::shared_ptr<const Movie> movie_;
  std::unique_ptr<State> state_;
  bool loop_ = false;
  double output_delay_ = 0;  // samples
};

}  // namespace swf
