// Playing a loaded movie: the display lists of the main timeline and its sprites, the frame
// clock, the scripts (through the script machine, which sees the clips through the host below),
// and drawing and sound through the renderer and the mixer.
#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <set>
#include <utility>

#include "swf/avm1/objects.h"
#include "swf/avm1/vm.h"
#include "swf/focus.h"
#include "swf/loader.h"
#include "swf/movie.h"
#include "swf/render.h"
#include "swf/sound_mixer.h"
#include "swf/swf_player.h"
#include "swf/text/text_field.h"
#include "swf/text_script.h"
#include "swf/video_playback.h"

namespace swf {
namespace {

// Whatever a movie holds, a tick and a frame's drawing stay bounded by these.
constexpr int kMaxNesting = 16;                     // sprites inside sprites
constexpr std::size_t kMaxClips = 10'000;           // sprite instances alive at once
constexpr std::size_t kMaxObjects = 100'000;        // objects in all display lists together
constexpr std::size_t kMaxTagsPerTick = 1'000'000;  // control tags applied (gotos replay frames)
constexpr int kMaxBlocksPerTick = 20'000;   // scripts and events run (gotos queue their frame's)
constexpr std::size_t kMaxQueued = 20'000;  // scripts and events waiting in one tick
constexpr std::size_t kMaxNewClipsPerTick = 2000;  // clips a tick's scripts may make
constexpr std::size_t kMaxEarlyPerGoto = 2000;     // events a goto puts ahead of its frame's
constexpr std::size_t kMaxDrawn = 1'000'000;       // edges and styles of all drawing methods
constexpr int kMaxTicksPerCall = 8;
constexpr std::size_t kMaxCommands = 1000;
constexpr std::size_t kMaxEdgesPerRender = 1'000'000;
constexpr int kMaxVideoPacketsPerRender = 16;  // decoded towards the frames the videos show
constexpr std::size_t kMaxVideoStreams = 16;   // streams with pictures kept at once
// Depths as scripts number them: the file's depth less this.
constexpr int kDepthBias = 16384;
// The highest depth a script may use.
constexpr int kMaxScriptDepth = 2130690044;
// Characters of a text field's restrict that typing heeds.
constexpr std::size_t kMaxRestrictChars = 1024;

// onClipEvent flags (the file's ClipEventFlags).
enum ClipEvent : std::uint32_t {
  EventLoad = 0x1,
  EventEnterFrame = 0x2,
  EventUnload = 0x4,
  EventMouseMove = 0x8,
  EventMouseDown = 0x10,
  EventMouseUp = 0x20,
  EventKeyDown = 0x40,
  EventKeyUp = 0x80,
  EventInitialize = 0x200,
  EventPress = 0x400,
  EventRelease = 0x800,
  EventReleaseOutside = 0x1000,
  EventRollOver = 0x2000,
  EventRollOut = 0x4000,
  EventDragOver = 0x8000,
  EventDragOut = 0x10000,
  EventKeyPress = 0x20000,
  EventConstruct = 0x40000,
  EventPointer = EventPress | EventRelease | EventReleaseOutside | EventRollOver | EventRollOut |
                 EventDragOver | EventDragOut,
};

// The stage's qualities as `_quality` names them.
constexpr int kQualityLow = 0;
constexpr int kQualityHigh = 2;
constexpr int kQualityBest = 3;
constexpr const char* kQualityNames[] = {"LOW", "MEDIUM", "HIGH", "BEST"};

// A pointer transition: the clip event, the method and the button condition it fires.
struct PointerEvent {
  std::uint32_t event;
  const char* method;
  std::uint16_t condition;
};
constexpr PointerEvent kPress{EventPress, "onPress", Button::Press};
constexpr PointerEvent kRelease{EventRelease, "onRelease", Button::Release};
constexpr PointerEvent kReleaseOutside{EventReleaseOutside, "onReleaseOutside",
                                       Button::ReleaseOutside};
constexpr PointerEvent kRollOver{EventRollOver, "onRollOver", Button::RollOver};
constexpr PointerEvent kRollOut{EventRollOut, "onRollOut", Button::RollOut};
constexpr PointerEvent kDragOver{EventDragOver, "onDragOver", Button::DragOver};
constexpr PointerEvent kDragOut{EventDragOut, "onDragOut", Button::DragOut};

struct Clip;

// How many clips and display objects are alive, for the limits above.
struct Census {
  std::size_t clips = 0;
  std::size_t objects = 0;
  std::size_t drawn = 0;  // edges and styles the drawing methods made
};

// A text field on a display list with its script object.
struct TextBox {
  TextBox(std::shared_ptr<const EditText> def, const Movie& movie, TextFonts& fonts)
      : field(std::move(def), movie, fonts) {}
  ~TextBox() {
    if (!object) return;
    --object->pinned;
    if (index) index->erase(object);
  }
  TextBox(const TextBox&) = delete;
  TextBox& operator=(const TextBox&) = delete;
  TextBox(TextBox&&) = delete;
  TextBox& operator=(TextBox&&) = delete;

  TextField field;
  avm1::Object* object = nullptr;  // pinned while the field lives
  std::map<avm1::Object*, TextBox*>* index = nullptr;
  std::weak_ptr<Clip> parent;
  int depth = 0;
  // What scripts set that drawing doesn't use.
  avm1::Value restrict_chars = avm1::Value::Null();
  bool condense_white = false;
  bool mouse_wheel = true;
  std::string shown;  // the bound variable's value last shown
  // The selection: where it began and where the caret is, in characters.
  std::size_t anchor = 0;
  std::size_t caret = 0;
};

struct Object {
  std::uint16_t character = 0;
  const Character* def = nullptr;
  Matrix matrix;
  ColorTransform color;
  std::uint16_t ratio = 0;
  std::string name;
  std::uint16_t clip_depth = 0;
  std::shared_ptr<Clip> clip;     // a sprite's own timeline
  std::shared_ptr<TextBox> text;  // a text field's text, layout and scroll
  std::vector<Filter> filters;
  BlendMode blend = BlendMode::Normal;
  bool cache_as_bitmap = false;
  std::optional<Rect> scroll_rect;  // twips: the part of the object shown, moved to its origin
  bool visible = true;
  bool leaving = false;            // removed, kept below the file's depths until the tick ends
  bool swapped = false;            // swapDepths moved it: the timeline's moves pass it by
  bool is_mask = false;            // another clip's setMask: drawn only as that mask
  std::optional<Rgba> background;  // the opaque background
  // Scale and rotation as a script set them last (the matrix loses them to rounding).
  bool scripted = false;
  double xscale = 100, yscale = 100, rotation = 0;
};

// What a clip's drawing methods drew, under its objects.
struct Drawing {
  explicit Drawing(Census& c) : census(&c) {}
  Drawing(const Drawing& other)
      : shape(other.shape),
        empty(other.empty),
        fill(other.fill),
        line(other.line),
        pen(other.pen),
        start(other.start),
        census(other.census),
        counted(other.counted) {
    census->drawn += counted;
  }
  ~Drawing() { census->drawn -= counted; }
  Drawing& operator=(const Drawing&) = delete;
  Drawing(Drawing&&) = delete;
  Drawing& operator=(Drawing&&) = delete;

  // Takes room for one more edge or style; false once all clips together drew their most.
  bool Charge() {
    if (census->drawn >= kMaxDrawn) return false;
    ++census->drawn;
    ++counted;
    return true;
  }

  Shape shape;
  bool empty = true;       // no bounds yet
  std::uint16_t fill = 0;  // the fill and line styles drawn with (1-based, 0 for none)
  std::uint16_t line = 0;
  Point pen;
  Point start;  // where the fill's path began
  Census* census;
  std::size_t counted = 0;
};

// A timeline playing: the main one or a sprite's instance.
struct Clip : std::enable_shared_from_this<Clip> {
  Clip(const Timeline& t, int n, std::uint64_t tick, Census& c)
      : timeline(&t), nesting(n), born(tick), census(&c) {
    ++census->clips;
  }
  ~Clip() {
    --census->clips;
    census->objects -= list.size();
    if (object) {
      object->clip = nullptr;
      --object->pinned;
    }
  }
  Clip(const Clip&) = delete;
  Clip& operator=(const Clip&) = delete;
  Clip(Clip&&) = delete;
  Clip& operator=(Clip&&) = delete;

  [[nodiscard]] int last() const { return int(timeline->frames.size()) - 1; }
  // Control tags of frames 0..frame.
  [[nodiscard]] std::size_t TagsThrough(int f) const {
    if (f < 0) return 0;
    return timeline->tags_before[std::size_t(f)] + timeline->frames[std::size_t(f)].tags.size();
  }

  const Timeline* timeline;
  // The movie whose dictionary it draws from and whose version its scripts follow; a loaded
  // movie's root keeps its movie alive.
  const Movie* movie = nullptr;
  std::shared_ptr<const Movie> loaded;
  int level = -1;              // the level a top clip plays at (none for a clip of a display list)
  bool lock_root = false;      // _lockroot: what plays inside sees this clip as _root
  std::string url;             // a loaded movie's, as the script asked for it
  std::size_t file_bytes = 0;  // the size of a loaded movie's file
  // The clip whose display list holds this one (none for the main timeline). Weak: a script
  // may keep a clip running after a goto of its parent removed it.
  std::weak_ptr<Clip> parent;
  int nesting;
  std::uint64_t born;
  Census* census;
  int frame = -1;
  bool playing = true;
  int depth = 0;  // its key in the parent's list
  std::map<int, Object> list;
  avm1::Object* object = nullptr;  // the clip as scripts see it (pinned while the clip lives)
  std::vector<ClipAction> events;  // onClipEvent handlers
  // A button's instance: its list shows the records of its state.
  std::shared_ptr<const Button> button;
  std::uint8_t button_state = 0;
  std::shared_ptr<Drawing> drawing;
  std::string drop_target;  // _droptarget: where a drag of it ended
  // setMask: what shows this clip, a clip or a text field.
  std::weak_ptr<Clip> mask_clip;
  std::weak_ptr<TextBox> mask_text;
  // Its own _focusrect (SWF 6 on); none follows the movie's.
  std::optional<bool> focus_rect;
};

bool StartsWithFsCommand(const std::string& url) {
  return SameIgnoringCase(std::string_view(url).substr(0, 10), "fscommand:");
}

constexpr std::uint8_t kPhaseInitActions = 0;
constexpr std::uint8_t kPhaseInitialize = 1;
constexpr std::uint8_t kPhaseConstruct = 2;
constexpr std::uint8_t kPhaseLater = 3;

// A script or event waiting to run in this tick.
struct Pending {
  std::weak_ptr<Clip> clip;
  std::shared_ptr<Clip> keep;  // an unloaded clip, kept for its last handlers
  std::span<const std::uint8_t> code;
  const char* method = nullptr;  // an event method called after the code (onLoad, ...)
  // A frame's init actions, then the initialize and the construct events of the clips it
  // places, run before the frame's actions; the rest in the order queued.
  std::uint8_t phase = kPhaseLater;
  // The exported symbol of a placed clip: it takes the class registered for it as it is
  // constructed, the prototype before its initialize events, the constructor after its
  // construct events (registerClass in the frame's init actions counts).
  std::uint16_t symbol = 0;
};

}  // namespace

struct Player::State : avm1::Host {
  State(const Movie& m, Mp3DecoderFactory mp3, VideoDecoderFactory video)
      : vm(std::make_unique<avm1::Vm>(m.header.version, this)),
        movie(m),
        mixer(std::move(mp3)),
        video_decoders(std::move(video)) {
    vm->SetCodePage(m.code_page);
    root = std::make_shared<Clip>(m.main, 0, 0, census);
    root->movie = &m;
    root->level = 0;
    root->playing = false;
    root->object = vm->NewClipObject(root.get());
    vm->Pin(root->object);
    vm->SetRecursionLimit(m.header.recursion_limit);
    root_display.clip = root;
    InstallClipMethods();
    InstallTextFieldMethods();
    InstallButtonMethods();
  }

  void Tick(bool loop);
  bool Goto(Clip& clip, int target);
  void Apply(Clip& clip, const ControlTag& tag);
  void Place(Clip& clip, const PlaceTag& p);
  void SetCharacter(Clip& parent, Object& o, std::uint16_t id, int depth,
                    const std::vector<ClipAction>* events = nullptr);
  void EnterFrame(Clip& clip);
  // The class registered for the clip's exported symbol `id` (in the movie it draws from).
  avm1::Object* RegisteredClass(const Clip& clip, std::uint16_t id);
  void TakeClass(Clip& clip, avm1::Object* ctor);
  void QueueMainStreamBlock(const Frame& frame, int index);
  bool QueueStreamBlocks(const Frame& frame, std::uint64_t due);
  void TakeBackSoundAhead();
  void QueueSoundAhead(double wanted_samples);
  void StartStream();
  void AdvanceSprites(Clip& clip);
  void QueueEnterFrame(Clip& clip);
  void QueueEvent(const std::shared_ptr<Clip>& clip, std::uint32_t event, const char* method,
                  bool keep = false);
  void Enqueue(Pending p);
  // `o` leaves its list (its clips hear unload before it does); `stays` while it waits out the
  // tick for its handlers (RetireRemoved), scripts still finding it.
  void Unload(Object& o, bool stays = false);
  bool RetireRemoved(Clip& parent, std::map<int, Object>::iterator it);
  void DropRetired();
  void RunQueue();
  void Url(const std::string& url, const std::string& target);
  void InstallClipMethods();
  void InstallTextFieldMethods();
  void InstallButtonMethods();
  void InstallDisplayProperties(avm1::Object* proto);
  // Shows the records of a button's state (Button::Up, Over or Down).
  void SetButtonState(Clip& button, std::uint8_t state);
  // Pointer input.
  void PointerMove(Point p);
  void PointerButton(bool down);
  // The topmost button or clip with pointer handlers under `p`, inside `clip`.
  std::shared_ptr<Clip> Pick(Clip& clip, const Matrix& m, Point p, int nesting);
  bool Interactive(Clip& clip);
  std::shared_ptr<Clip> DropTarget(Clip& clip, const Matrix& m, int nesting);
  void Fire(const std::shared_ptr<Clip>& clip, const PointerEvent& e);
  // Every clip's mouseMove, mouseDown or mouseUp, and the Mouse object's listeners.
  void BroadcastMouse(std::uint32_t event, const char* method);
  void QueueMouse(Clip& clip, std::uint32_t event, const char* method);
  // Scripts started by input run at once: BeginInputRun gives them a tick's budget of their own,
  // RunInput runs what they queued.
  void BeginInputRun();
  void RunInput();
  void FollowDrag();
  void Key(int key, char32_t character, bool down);
  void QueueKeyPress(Clip& clip, int code);
  void NewTextBox(Clip& parent, Object& o, std::shared_ptr<const EditText> def, int depth);
  // The text field of a script object, and its place on the display list.
  TextBox* TextOf(avm1::Object* o) {
    const auto it = texts.find(o);
    return it == texts.end() ? nullptr : it->second;
  }
  Object* DisplayOfText(TextBox& box);
  // The display object of a clip's or a text field's script object.
  Object* DisplayOfAny(avm1::Object* o);
  // Low quality draws without anti-aliasing.
  void SetQuality(int q) {
    quality = q;
    renderer.SetAntialias(q != kQualityLow);
  }
  std::string TextPath(TextBox& box, bool slash);
  // Bound text fields show their variable; their own text goes to a variable still unset.
  void SyncVariables();
  // A field shows its bound variable's value (a script reading it sees it at once).
  void SyncVariable(TextBox& box);
  avm1::Object* VariableHome(TextBox& box, std::string& name);

  // The host's side of the script machine.
  avm1::Object* Root() override { return root->object; }
  avm1::Object* RootOf(avm1::Object* clip) override;
  avm1::Object* Level(int n) override;
  int LevelOf(avm1::Object* top) override {
    const Clip* clip = ClipOf(top);
    return clip && clip->level > 0 ? clip->level : 0;
  }
  // Loading other files (loader.cpp).
  bool LoadMovie(const std::string& url, const avm1::Value& target, avm1::Object* loader) override;
  bool UnloadMovie(const avm1::Value& target) override;
  bool MovieBytes(avm1::Object* clip, double* loaded, double* total) override;
  void RunLoads();
  void RunLoad(const LoadRequest& r);
  void LoadInitEvents();
  bool LoadTarget(const avm1::Value& target, LoadRequest& r);
  // The clip shows `m` from its first frame on, as a movie of its own; empties it for none.
  void ShowMovie(Clip& clip, std::shared_ptr<const Movie> m, const std::string& url = {});
  void Broadcast(avm1::Object* loader, const char* event, std::initializer_list<avm1::Value> args);
  // The top clip of level n (null when none plays there), and the levels' clips in the order
  // they step: the highest first.
  Clip* LevelClip(int n);
  std::vector<std::shared_ptr<Clip>> TopClips();
  avm1::Object* Parent(avm1::Object* clip) override;
  avm1::Object* Child(avm1::Object* clip, std::string_view name) override;
  avm1::Value GetProperty(avm1::Object* clip, int index) override;
  void SetProperty(avm1::Object* clip, int index, const avm1::Value& v) override;
  void GotoFrame(avm1::Object* clip, int frame, bool play) override;
  bool GotoLabel(avm1::Object* clip, std::string_view label, bool play, int bias) override;
  void SetPlaying(avm1::Object* clip, bool playing) override;
  int CurrentFrame(avm1::Object* clip) override;
  int FramesLoaded(avm1::Object* clip) override;
  void CallFrame(avm1::Object* o, int frame, std::string_view label) override;
  bool IsButton(avm1::Object* o) override {
    const Clip* clip = ClipOf(o);
    return clip && clip->button;
  }
  int TotalFrames(Clip& clip);
  void GetUrl(const std::string& url, const std::string& target, int method) override;
  void RemoveClip(avm1::Object* clip) override;
  void DuplicateClip(avm1::Object* clip, const std::string& name, int depth) override;
  void DuplicateText(TextBox& box, const std::string& name, int depth);
  // Puts a text field at `depth` (biased) of `parent` in place of what was there; null when the
  // movie has too many objects.
  TextBox* PlaceTextField(Clip& parent, int depth, Object o, std::shared_ptr<const EditText> def);
  void StartDrag(avm1::Object* clip, bool lock) override;
  void StopDrag() override {
    UpdateDropTarget();
    dragged.reset();
  }
  // The dragged clip's _droptarget: what it lies over now.
  void UpdateDropTarget() {
    const std::shared_ptr<Clip> moving = dragged.lock();
    if (!moving) return;
    const std::shared_ptr<Clip> under = DropTarget(*root, root_display.matrix, 0);
    moving->drop_target = under && under->object ? vm->ClipPath(under->object, true) : "";
  }
  void LeftOut(const std::string& what) override {
    if (left_out.size() < 1000 || left_out.count(what)) ++left_out[what];
  }
  // What the built-in objects ask (system_objects.cpp, sound.cpp, net_objects.cpp).
  void StageSize(bool unscaled, double* width, double* height) override;
  std::optional<std::pair<int, int>> window_size;  // Player::SetWindowSize
  std::optional<std::string> ReadMovieFile(const std::string& name) override {
    return read_file ? read_file(name) : std::nullopt;
  }
  int FindSound(const std::string& linkage, double* duration_ms) override;
  void StartSound(avm1::Object* owner, int sound, double offset_s, int loops) override;
  void StopSound(avm1::Object* owner, int sound) override;
  bool GetClipMatrix(avm1::Object* clip, double* m) override;
  void SetClipMatrix(avm1::Object* clip, const double* m) override;
  bool GetClipColor(avm1::Object* clip, double* c) override;
  void SetClipColor(avm1::Object* clip, const double* c) override;

  // Keys and keyboard focus (focus.cpp decides where Tab goes).
  bool KeyDown(int code) override { return keys_down.count(code) > 0; }
  int LastKey(bool ascii) override { return ascii ? last_char : last_key; }
  bool KeyToggled(int code) override { return code == 20 && caps_lock; }
  avm1::Object* Focus() override;
  std::string FocusPath() override;
  bool SetFocus(avm1::Object* target) override;
  void GetSelection(int* begin, int* end, int* caret) override;
  void SetSelection(int begin, int end) override;
  // Text typed into the focused input field (a paste at once).
  void TypeText(std::u32string_view typed);
  // Replaces the field's selection with `text`, the caret after it.
  void ReplaceSelection(TextBox& box, std::u32string_view text);
  // Moves the focus to `next` (null: none) and tells the scripts; with `roll`, clips and
  // buttons losing and taking it hear rollOut and rollOver first (queued).
  void ChangeFocus(avm1::Object* next, bool roll = true);
  void FocusRoll(avm1::Object* old, avm1::Object* next);
  // `o` leaves the display list: it loses the focus if it or a clip inside it has it.
  void FocusLeaving(Object& o);
  void TabFocus(bool reverse);
  // The yellow rectangle round the focused clip or button, when it shows.
  void DrawHighlight(const FramePixels& frame, const Matrix& stage);
  // The topmost text field under the stage point `p` inside `clip`, null for none.
  TextBox* TextAt(Clip& clip, const Matrix& m, Point p, int nesting);
  // A press on a link of a text field: an asfunction: calls the field's timeline's function,
  // other addresses go to getURL.
  void FollowLink(TextBox& box);
  void CollectTabStops(Clip& clip, const Matrix& m, std::vector<TabStop>& out, int nesting);
  // Whether `o` has its own value of `name` or inherits one: true, false, or none when undefined.
  std::optional<bool> Flag(avm1::Object* o, const char* name);

  static Clip* ClipOf(avm1::Object* o) {
    return o && o->kind == avm1::Kind::Clip ? static_cast<Clip*>(o->clip) : nullptr;
  }
  Object* DisplayOf(Clip& clip);
  // Whether the clip is on the display list, its parents up to the main timeline too (and none
  // of them retired, RetireRemoved).
  bool OnStage(Clip& clip);
  bool SameName(std::string_view a, std::string_view b) const {
    if (movie.header.version >= 7) return a == b;
    if (SameIgnoringCase(a, b)) return true;
    // Letters beyond ASCII compare as the script machine's names do.
    const auto ascii = [](std::string_view s) {
      return std::all_of(s.begin(), s.end(), [](char c) { return std::uint8_t(c) < 0x80; });
    };
    return !ascii(a) && !ascii(b) && vm->Key(a) == vm->Key(b);
  }
  // A new clip at `depth` of `parent` showing `id` (a sprite, or an empty one for id 0).
  Clip* NewClip(Clip& parent, int depth, std::uint16_t id, const std::string& name,
                const std::vector<ClipAction>* events = nullptr);
  Rect Bounds(const Object& o, const Matrix& m);
  // The clip's own space to the stage's (twips), through every parent and the main timeline.
  Matrix ToStage(Clip& clip);
  // The same as Flash Player works it out for scripts: see ThenInTwips.
  Matrix ToStageInTwips(Clip& clip);
  // Whether the stage point `p` falls on what `o` draws, placed by `m`.
  bool HitsShape(const Object& o, const Matrix& m, Point p, int nesting);

  void DrawClip(Clip& clip, const Matrix& m, const ColorTransform& cx, bool in_mask);
  bool DrawScriptMask(Clip& clip);
  void DrawList(Clip& clip, const Matrix& m, const ColorTransform& cx, bool in_mask);
  void DrawObject(Object& o, const Matrix& m, const ColorTransform& cx, bool in_mask);
  void DrawTextField(TextField& field, const Matrix& m, const ColorTransform& cx, bool in_mask);
  void DrawFieldFrame(const Shape& frame, const Matrix& m, const ColorTransform& cx);
  bool VideoShape(std::uint16_t id, const std::shared_ptr<const VideoStream>& stream, int frame);
  void DrawContent(Object& o, const Matrix& m, const ColorTransform& cx, bool in_mask);
  void DrawBackground(Object& o, const Matrix& m, const ColorTransform& cx, bool in_mask);

  // First: the script machine's heap outlives every clip that points into it.
  std::unique_ptr<avm1::Vm> vm;
  const Movie& movie;
  TextFonts text_fonts{movie};              // before `root`: text fields use it until they go
  Census census;                            // before `root`: the clips count themselves out of it
  std::map<avm1::Object*, TextBox*> texts;  // before `root`: text fields leave it as they go
  avm1::Object* text_proto = nullptr;
  avm1::Object* button_proto = nullptr;
  // The pointer: where it is (stage twips), whether it is down, what it is over and pressed.
  Point pointer;
  bool pointer_down = false;
  std::weak_ptr<Clip> hovered;
  std::weak_ptr<Clip> pressed;
  // startDrag: the clip following the pointer, from where, within what.
  std::weak_ptr<Clip> dragged;
  Point drag_offset;
  std::optional<Rect> drag_limits;
  std::shared_ptr<Clip> root;
  Object root_display;           // the main timeline's own `_x`, `_alpha`, ...
  std::map<int, Object> levels;  // the movies loadMovieNum loaded above level 0
  Loads loads;                   // loads under way (loader.h)
  ImageDecoder* images = nullptr;
  Timeline empty_timeline{{Frame{}}, {}, {0}};
  std::uint64_t tick = 0;
  std::uint64_t instances = 0;  // unnamed objects named so far
  bool started = false;
  bool ended = false;    // the last frame was shown without loop
  bool restart = false;  // Play after the end: the next tick shows the first frame again
  double next_time = 0;
  double start_time = 0;
  double clock = 0;
  bool tick_queued_block = false;
  // The main timeline's frames whose stream blocks were queued before the frame was shown (the
  // sound must be in the mixer ahead of the frame it goes with, or the picture would run ahead of
  // the sound to feed it), in order, with the tick each is due to show at.
  struct SoundAhead {
    int frame = 0;
    std::uint64_t tick = 0;
  };
  std::deque<SoundAhead> sound_ahead;

  std::size_t tags_left = 0;
  int blocks_left = 0;
  std::size_t clips_left = 0;
  std::deque<Pending> queue;
  // Where the gotos under way insert their frames' actions, and where the outermost began.
  std::vector<std::size_t*> marks;
  std::size_t batch_start = 0;
  std::size_t early_left = 0;  // initialize and construct events the goto may still put ahead
  std::set<const std::uint8_t*> init_done;   // DoInitAction blocks already run
  std::vector<std::weak_ptr<Clip>> retired;  // RetireRemoved's, until the tick ends
  // A backward goto rebuilds a display list; objects found again keep their sprite's state.
  std::map<int, Object>* reuse = nullptr;

  std::vector<MovieCommand> commands;
  std::map<std::string, int> left_out;  // what playing met and doesn't play
  SoundMixer mixer;
  std::optional<SoundStreamHead> stream_head;
  Renderer renderer;
  int quality = kQualityHigh;  // the stage's, as `_quality` names it: kQualityLow .. kQualityBest
  int sound_buffer_time = 5;   // `_soundbuftime`: kept for scripts, the mixer streams as it will
  std::size_t edges_left = 0;  // what the frame being drawn may still draw
  float stage_scale = 1;       // canvas pixels per stage pixel: filters grow with it
  Matrix canvas;               // stage twips to the frame being drawn
  Shape scratch;
  VideoDecoderFactory video_decoders;
  std::map<std::uint16_t, VideoPlayback> videos;  // by character, made as they are first drawn
  int video_packets_left = 0;
  Player::FileReader read_file;
  // The keys held, the last pressed and what it typed; Caps Lock's state.
  std::set<int> keys_down;
  int last_key = 0;
  int last_char = 0;
  bool caps_lock = false;
  // The focused clip, button or text field (pinned while it has the focus).
  avm1::Object* focus = nullptr;
  bool selection_made = false;
  // The keyboard's focus shows (the yellow rectangle round a clip or button) until the pointer
  // acts; the movie's _focusrect.
  bool highlight = false;
  bool focus_rect = true;
  bool empty_bounds_rounded = false;  // getBounds' quirk: see McBounds
  // `hovered` is what the focus rolled over: a pointer that doesn't move leaves it so.
  bool hover_by_focus = false;
  // Frames of the main timeline read ahead of the one shown, for a movie read as it plays: a
  // second's, so the pictures decoded ahead are known.
  int read_ahead = int(std::ceil(std::clamp(double(movie.header.frame_rate), 1.0, 120.0)));
};

// ---- Timeline ------------------------------------------------------------------------------

void Player::State::Tick(bool loop) {
  ++tick;
  tags_left = kMaxTagsPerTick;
  blocks_left = kMaxBlocksPerTick;
  clips_left = kMaxNewClipsPerTick;
  tick_queued_block = false;
  vm->BeginFrame();
  vm->now_ms = std::max(0.0, (clock - start_time) * 1000);
  Clip& main = *root;
  // A movie read as it plays: its next second's tags, as far as the file has been read. The
  // timeline waits on its last frame read until the next is.
  if (movie.loading()) movie.stream->ReadThrough(main.frame + 1 + read_ahead);
  const bool loading = movie.loading();
  const std::vector<std::shared_ptr<Clip>> tops = TopClips();
  // Clips shown before this frame hear enterFrame first, the innermost first.
  for (const auto& top : tops) {
    if (top->frame >= 0) QueueEnterFrame(*top);
  }
  // Children step before their parent: their scripts run first. Loaded levels play as clips.
  for (const auto& top : tops) {
    AdvanceSprites(*top);
    if (top == root) continue;
    if (top->frame < 0) {
      Goto(*top, 0);
    } else if (top->born < tick && top->playing && top->last() > 0) {
      Goto(*top, top->frame < top->last() ? top->frame + 1 : 0);
    }
  }
  if (main.playing && main.last() >= 0) {
    if (main.frame < 0 || restart) {
      restart = false;
      if (main.frame >= 0 && stream_head) StartStream();
      Goto(main, 0);
    } else if (main.frame < main.last()) {
      Goto(main, main.frame + 1);
    } else if (loop && !loading) {
      if (stream_head) StartStream();
      Goto(main, 0);
    }
  }
  RunQueue();
  vm->RunTimers(vm->now_ms);
  RunQueue();
  LoadInitEvents();
  RunLoads();
  RunQueue();
  SyncVariables();
  DropRetired();
  vm->MaybeCollect();
  if (main.playing && !loop && !loading && main.frame == main.last()) {
    main.playing = false;
    ended = true;
    // The stream sound ends with the movie; event sounds play on, as in Flash.
    mixer.StopStream();
  }
  // A stopped timeline takes back the sound queued for frames it won't show.
  if (!main.playing) TakeBackSoundAhead();
}

void Player::State::TakeBackSoundAhead() {
  if (sound_ahead.empty()) return;
  mixer.DropStreamBlocksFrom(std::int64_t(sound_ahead.front().tick));
  sound_ahead.clear();
}

// Queues the stream blocks of a main timeline's frame, tagged with the tick it shows at.
bool Player::State::QueueStreamBlocks(const Frame& frame, std::uint64_t due) {
  bool queued = false;
  for (const SoundTag& sound : frame.sounds) {
    if (const auto* block = std::get_if<StreamBlockTag>(&sound)) {
      queued |= mixer.QueueStreamBlock(block->body, std::int64_t(due));
    }
  }
  return queued;
}

void Player::State::StartStream() {
  mixer.StartStream(*stream_head);
  sound_ahead.clear();
}

// The main timeline's frame `index` shows now: its stream block goes to the mixer, unless it was
// queued ahead for this very tick. Queued ahead for other frames (a goto), those are taken back.
void Player::State::QueueMainStreamBlock(const Frame& frame, int index) {
  if (!sound_ahead.empty() && sound_ahead.front().frame == index &&
      sound_ahead.front().tick == tick) {
    sound_ahead.pop_front();
    return;
  }
  TakeBackSoundAhead();
  tick_queued_block |= QueueStreamBlocks(frame, tick);
}

// Queues the stream blocks of the frames the playing main timeline shows next, as far as they
// have been read, until the mixer holds `wanted_samples` past what was pulled (bounded to a few
// seconds of frames), each tagged with the tick it will show at.
void Player::State::QueueSoundAhead(double wanted_samples) {
  const Clip& main = *root;
  if (!stream_head || !main.playing || main.frame < 0 || ended || restart) return;
  const std::size_t limit = std::size_t(read_ahead) * 3;
  while (sound_ahead.size() < limit && double(mixer.Stream().queued_samples) < wanted_samples) {
    const int next = main.frame + 1 + int(sound_ahead.size());
    if (next > main.last()) return;
    const Frame& frame = main.timeline->frames[std::size_t(next)];
    const auto head = [](const SoundTag& sound) {
      return std::holds_alternative<StreamHeadTag>(sound);
    };
    if (std::any_of(frame.sounds.begin(), frame.sounds.end(), head)) return;  // a new stream
    const std::uint64_t due = tick + 1 + sound_ahead.size();
    QueueStreamBlocks(frame, due);
    sound_ahead.push_back({next, due});
  }
}

void Player::State::QueueEnterFrame(Clip& clip) {
  for (auto it = clip.list.rbegin(); it != clip.list.rend(); ++it) {
    if (it->second.clip) QueueEnterFrame(*it->second.clip);
  }
  if (clip.born < tick) QueueEvent(clip.shared_from_this(), EventEnterFrame, "onEnterFrame");
}

void Player::State::QueueEvent(const std::shared_ptr<Clip>& clip, std::uint32_t event,
                               const char* method, bool keep) {
  if (queue.size() >= kMaxQueued) return;
  const std::uint8_t phase = event == EventInitialize  ? kPhaseInitialize
                             : event == EventConstruct ? kPhaseConstruct
                                                       : kPhaseLater;
  for (const ClipAction& a : clip->events) {
    if (a.events & event) Enqueue(Pending{clip, keep ? clip : nullptr, a.code, nullptr, phase});
  }
  if (method) Enqueue(Pending{clip, keep ? clip : nullptr, {}, method, phase});
}

void Player::State::Enqueue(Pending p) {
  if (queue.size() >= kMaxQueued) return;
  // Past a few thousand in one goto the early ones queue in order: bounded work per insert.
  if (p.phase == kPhaseLater || marks.empty() || early_left == 0) {
    queue.push_back(std::move(p));
    return;
  }
  --early_left;
  // Before this batch's later phases; the frames' marks behind it move on.
  std::size_t at = std::min(batch_start, queue.size());
  while (at < queue.size() && queue[at].phase <= p.phase) ++at;
  queue.insert(queue.begin() + std::ptrdiff_t(at), std::move(p));
  for (std::size_t* mark : marks) {
    if (at <= *mark) ++*mark;
  }
}

// Shows `target` (clamped to the timeline) on `clip`: forward by applying the frames between,
// backward by rebuilding the list from the first frame. The frame's actions are queued before
// what the new clips queue. False when the tick can't afford the tags it would apply (nothing
// changes then).
bool Player::State::Goto(Clip& clip, int target) {
  if (&clip == root.get() && target > clip.last() && movie.loading()) {
    movie.stream->ReadThrough(target);
  }
  if (clip.last() < 0) return true;
  target = std::clamp(target, 0, clip.last());
  if (target == clip.frame) return true;
  const bool forward = target > clip.frame;
  const std::size_t cost =
      forward ? clip.TagsThrough(target) - clip.TagsThrough(clip.frame) : clip.TagsThrough(target);
  if (cost > tags_left) return false;
  tags_left -= cost;
  std::map<int, Object> old;
  const int first = forward ? clip.frame + 1 : 0;
  if (!forward) {
    census.objects -= clip.list.size();  // placed again (and counted) as the frames replay
    old = std::move(clip.list);
    clip.list.clear();
    // Clips a script made stay where they are.
    for (auto it = old.begin(); it != old.end();) {
      if (it->first >= kDepthBias && it->second.clip) {
        clip.list.insert(old.extract(it++));
        ++census.objects;
      } else {
        ++it;
      }
    }
  }
  std::size_t at = queue.size();
  if (marks.empty()) {
    batch_start = at;
    early_left = kMaxEarlyPerGoto;
  }
  marks.push_back(&at);
  std::map<int, Object>* outer_reuse = reuse;
  reuse = forward ? nullptr : &old;
  for (int f = first; f <= target; ++f) {
    const Frame& frame = clip.timeline->frames[std::size_t(f)];
    // Init actions run first, those of the frames passed over too (they may register the
    // classes of the clips the frames place).
    for (const ActionBlock& init : frame.init_actions) {
      if (init_done.insert(init.code.data()).second) {
        Enqueue(Pending{clip.weak_from_this(), nullptr, init.code, nullptr, kPhaseInitActions});
      }
    }
    if (f != target) {
      for (const ControlTag& tag : frame.tags) Apply(clip, tag);
      continue;
    }
    // The frames passed over run what their new clips queue before the frame shown does; the
    // frame's own actions and its new clips' run in the order of their tags.
    at = queue.size();
    std::size_t block = 0;
    for (std::size_t i = 0; i <= frame.tags.size(); ++i) {
      for (; block < frame.actions.size() && frame.actions[block].after_tags <= i; ++block) {
        if (queue.size() < kMaxQueued) {
          queue.push_back(
              Pending{clip.weak_from_this(), nullptr, frame.actions[block].code, nullptr});
        }
      }
      if (i < frame.tags.size()) Apply(clip, frame.tags[i]);
    }
  }
  reuse = outer_reuse;
  marks.pop_back();
  for (auto& [depth, o] : old) Unload(o);
  clip.frame = target;
  EnterFrame(clip);
  return true;
}

// What a frame does once shown: its sounds start (Goto queued its actions).
void Player::State::EnterFrame(Clip& clip) {
  const Frame& frame = clip.timeline->frames[std::size_t(clip.frame)];
  // The mixer knows the main movie's sounds alone: a loaded movie's stay silent.
  if (clip.movie != &movie) return;
  for (const SoundTag& sound : frame.sounds) {
    if (const auto* start = std::get_if<SoundStart>(&sound)) {
      mixer.StartSound(*start);
    } else if (&clip != root.get()) {
      // A sprite's stream sound is not played.
    } else if (const auto* head = std::get_if<StreamHeadTag>(&sound)) {
      if ((stream_head = head->head)) StartStream();
    }
  }
  if (&clip == root.get()) QueueMainStreamBlock(frame, clip.frame);
}

void Player::State::Unload(Object& o, bool stays) {
  FocusLeaving(o);
  if (!o.clip) return;
  if (!o.leaving) {
    for (auto& [depth, child] : o.clip->list) Unload(child);
    QueueEvent(o.clip, EventUnload, "onUnload", true);
  }
  // Scripts holding it see a clip that is gone (its unload handlers aside).
  if (o.clip->object && !stays) o.clip->object->clip = nullptr;
}

// A clip the timeline removes that has unload handlers stays on the list until the tick ends,
// moved below the depths the file uses (-1 - depth) as Flash keeps it: the frame's scripts
// still find it by its name. False for any other object (removed now).
bool Player::State::RetireRemoved(Clip& parent, std::map<int, Object>::iterator it) {
  Object& o = it->second;
  const int depth = -1 - it->first;
  if (!o.clip || !o.clip->object || o.leaving || it->first < 0 || parent.list.count(depth)) {
    return false;
  }
  const auto unload = [](const ClipAction& a) { return (a.events & EventUnload) != 0; };
  if (std::none_of(o.clip->events.begin(), o.clip->events.end(), unload) &&
      vm->Get(o.clip->object, "onUnload").IsNullish()) {
    return false;
  }
  Unload(o, true);
  o.leaving = true;
  o.clip->depth = depth;
  retired.push_back(o.clip);
  Object kept = std::move(o);
  parent.list.erase(it);
  parent.list.emplace(depth, std::move(kept));
  return true;
}

// The clips RetireRemoved kept leave their lists.
void Player::State::DropRetired() {
  for (const std::weak_ptr<Clip>& weak : std::exchange(retired, {})) {
    const std::shared_ptr<Clip> clip = weak.lock();
    const std::shared_ptr<Clip> parent = clip ? clip->parent.lock() : nullptr;
    if (!parent) continue;
    const auto it = parent->list.find(clip->depth);
    if (it == parent->list.end() || it->second.clip != clip) continue;
    if (clip->object) clip->object->clip = nullptr;
    parent->list.erase(it);
    --census.objects;
  }
}

void Player::State::Apply(Clip& clip, const ControlTag& tag) {
  if (const auto* remove = std::get_if<RemoveTag>(&tag)) {
    const auto it = clip.list.find(remove->depth);
    if (it == clip.list.end() || RetireRemoved(clip, it)) return;
    Unload(it->second);
    clip.list.erase(it);
    --census.objects;
    return;
  }
  Place(clip, std::get<PlaceTag>(tag));
}

void Player::State::Place(Clip& clip, const PlaceTag& p) {
  auto it = clip.list.find(p.depth);
  if (p.kind == PlaceKind::Place || it == clip.list.end()) {
    if (p.kind == PlaceKind::Move) return;
    if (it == clip.list.end()) {
      if (census.objects >= kMaxObjects) return;
      ++census.objects;
    } else {
      Unload(it->second);
    }
    Object o;
    if (reuse) {
      // Found again after a backward goto: the same object, its sprite's state kept.
      const auto found = reuse->find(p.depth);
      if (found != reuse->end() && found->second.character == p.character) {
        o = std::move(found->second);
        reuse->erase(found);
        o.matrix = Matrix{};
        o.color = ColorTransform{};
        o.ratio = 0;
        o.clip_depth = 0;
        o.filters.clear();
        o.blend = BlendMode::Normal;
        o.cache_as_bitmap = false;
        o.visible = true;
        o.background.reset();
        o.scripted = false;
      }
    }
    it = clip.list.insert_or_assign(p.depth, std::move(o)).first;
    if (p.name) it->second.name = *p.name;
    if (!it->second.def || it->second.character != p.character) {
      SetCharacter(clip, it->second, p.character, p.depth, &p.clip_actions);
    }
  } else if (it->second.swapped) {
    return;
  } else if (p.kind == PlaceKind::Replace && p.character != it->second.character) {
    SetCharacter(clip, it->second, p.character, p.depth);
  }
  Object& o = it->second;
  if (p.matrix) {
    o.matrix = *p.matrix;
    o.scripted = false;
  }
  if (p.color) o.color = *p.color;
  if (p.ratio) o.ratio = *p.ratio;
  if (p.name) o.name = *p.name;
  if (p.clip_depth) o.clip_depth = *p.clip_depth;
  if (p.filters) o.filters = *p.filters;
  if (p.blend_mode) o.blend = *p.blend_mode;
  if (p.cache_as_bitmap) o.cache_as_bitmap = *p.cache_as_bitmap;
  if (p.visible) o.visible = *p.visible;
  if (p.background) o.background = *p.background;
}

void Player::State::SetCharacter(Clip& parent, Object& o, std::uint16_t id, int depth,
                                 const std::vector<ClipAction>* events) {
  o.character = id;
  o.def = parent.movie->Find(id);
  o.clip.reset();
  o.text.reset();
  // What the timeline places without a name gets one, as Flash names them.
  if (o.name.empty() && o.def && id != 0 &&
      (std::holds_alternative<std::shared_ptr<const Sprite>>(*o.def) ||
       std::holds_alternative<std::shared_ptr<const Button>>(*o.def) ||
       std::holds_alternative<std::shared_ptr<const EditText>>(*o.def))) {
    o.name = "instance" + std::to_string(++instances);
  }
  const bool empty = id == 0;  // createEmptyMovieClip
  if (!o.def && !empty) return;
  if (const auto* edit = o.def ? std::get_if<std::shared_ptr<const EditText>>(o.def) : nullptr) {
    NewTextBox(parent, o, *edit, depth);
    return;
  }
  const auto* sprite = o.def ? std::get_if<std::shared_ptr<const Sprite>>(o.def) : nullptr;
  const auto* button = o.def ? std::get_if<std::shared_ptr<const Button>>(o.def) : nullptr;
  // Too deep or too many: the sprite shows nothing (a sprite that places itself ends here).
  if (parent.nesting >= kMaxNesting || census.clips >= kMaxClips) return;
  if (button) {
    o.clip = std::make_shared<Clip>(empty_timeline, parent.nesting + 1, tick, census);
    o.clip->movie = parent.movie;
    o.clip->parent = parent.weak_from_this();
    o.clip->depth = depth;
    o.clip->button = *button;
    o.clip->object = vm->NewClipObject(o.clip.get());
    o.clip->object->proto = button_proto;
    vm->Pin(o.clip->object);
    o.clip->frame = 0;
    SetButtonState(*o.clip, Button::Up);
    return;
  }
  if (!sprite && !empty) return;
  o.clip = std::make_shared<Clip>(empty ? empty_timeline : (*sprite)->timeline, parent.nesting + 1,
                                  tick, census);
  Clip& clip = *o.clip;
  clip.movie = parent.movie;
  clip.parent = parent.weak_from_this();
  clip.depth = depth;
  clip.object = vm->NewClipObject(&clip);
  clip.object->path = vm->ClipPath(clip.object, false);
  vm->Pin(clip.object);
  if (events) clip.events = *events;
  const auto self = o.clip;
  // A script's new clip (attachMovie) takes its class now, its constructor running before the
  // call returns with its first frame's clips already there; a frame's clip as it is constructed.
  const bool placed = !marks.empty();
  avm1::Object* const ctor = placed ? nullptr : RegisteredClass(clip, id);
  if (ctor) TakeClass(clip, ctor);
  const bool exported = placed && parent.movie->export_names.count(id) > 0;
  if (exported) Enqueue(Pending{self, nullptr, {}, nullptr, kPhaseInitialize, id});
  QueueEvent(self, EventInitialize, nullptr);
  QueueEvent(self, EventConstruct, nullptr);
  if (exported) Enqueue(Pending{self, nullptr, {}, nullptr, kPhaseConstruct, id});
  QueueEvent(self, EventLoad, "onLoad");
  Goto(clip, 0);
  if (ctor && self->object) vm->CallSafe(ctor, avm1::Value::Obj(self->object), {});
}

avm1::Object* Player::State::RegisteredClass(const Clip& clip, std::uint16_t id) {
  const auto exported = clip.movie->export_names.find(id);
  if (exported == clip.movie->export_names.end()) return nullptr;
  avm1::Object* c = vm->RegisteredClass(exported->second, clip.movie->header.version);
  return c && c->kind == avm1::Kind::Function ? c : nullptr;
}

void Player::State::TakeClass(Clip& clip, avm1::Object* ctor) {
  const avm1::Value proto = vm->Get(ctor, "prototype");
  if (proto.IsObject() && clip.object) clip.object->proto = proto.o;
}

// The clips step newest first, as Flash runs them: from the top depth down.
void Player::State::AdvanceSprites(Clip& clip) {
  for (auto it = clip.list.rbegin(); it != clip.list.rend();) {
    // A script may remove the next object: hold this one and step on from its depth.
    const int depth = it->first;
    if (std::shared_ptr<Clip> sprite = it->second.clip) {
      AdvanceSprites(*sprite);
      if (sprite->frame < 0) {
        Goto(*sprite, 0);  // placed when the tick couldn't afford its first frame
      } else if (sprite->born < tick && sprite->playing && sprite->last() > 0 &&
                 (sprite->frame < sprite->last() || sprite->timeline->loops)) {
        Goto(*sprite, sprite->frame < sprite->last() ? sprite->frame + 1 : 0);
      }
    }
    it = std::make_reverse_iterator(clip.list.lower_bound(depth));
  }
}

// ---- Scripts -------------------------------------------------------------------------------

void Player::State::RunQueue() {
  while (!queue.empty() && blocks_left > 0) {
    Pending p = std::move(queue.front());
    queue.pop_front();
    --blocks_left;
    std::shared_ptr<Clip> clip = p.keep ? p.keep : p.clip.lock();
    if (!clip || !clip->object) continue;
    // A clip gone from the display list runs no more of its scripts, its unload handlers aside.
    if (!p.keep && !OnStage(*clip)) continue;
    // An unloaded clip is itself again while its last handlers run.
    if (p.keep) clip->object->clip = clip.get();
    if (!p.code.empty()) vm->RunBlock(p.code, clip->object, clip->movie->header.version);
    if (avm1::Object* ctor = p.symbol ? RegisteredClass(*clip, p.symbol) : nullptr) {
      if (p.phase == kPhaseInitialize) {
        TakeClass(*clip, ctor);
      } else {
        vm->CallSafe(ctor, avm1::Value::Obj(clip->object), {});
      }
    }
    if (p.method) vm->CallMethodSafe(clip->object, p.method, {});
    // A retired clip stays itself for the tick's scripts (RetireRemoved).
    const Object* display = p.keep ? DisplayOf(*clip) : nullptr;
    if (p.keep && clip->object && !OnStage(*clip) && !(display && display->leaving)) {
      clip->object->clip = nullptr;
    }
  }
  queue.clear();  // what this tick can't afford is dropped
}

void Player::State::Url(const std::string& url, const std::string& target) {
  // An empty command asks nothing.
  if (!StartsWithFsCommand(url) || url.size() == 10 || commands.size() >= kMaxCommands) return;
  commands.push_back({url.substr(10), target});
}

avm1::Object* Player::State::Parent(avm1::Object* o) {
  Clip* clip = ClipOf(o);
  if (!clip) return nullptr;
  const std::shared_ptr<Clip> parent = clip->parent.lock();
  return parent ? parent->object : nullptr;
}

avm1::Object* Player::State::Child(avm1::Object* o, std::string_view name) {
  Clip* clip = ClipOf(o);
  if (!clip) return nullptr;
  // The name as written first; then in any letter case, as timelines of every version find
  // their targets.
  for (auto& [depth, child] : clip->list) {
    if (child.clip && SameName(child.name, name)) return child.clip->object;
  }
  for (auto& [depth, child] : clip->list) {
    if (child.clip && SameIgnoringCase(child.name, name)) return child.clip->object;
  }
  for (auto& [depth, child] : clip->list) {
    if (child.text && SameName(child.name, name)) return child.text->object;
  }
  // A named shape has no object of its own: scripts reaching it find its clip.
  for (auto& [depth, child] : clip->list) {
    if (!child.name.empty() && SameName(child.name, name)) return o;
  }
  return nullptr;
}

bool Player::State::OnStage(Clip& clip) {
  Clip* k = &clip;
  for (int i = 0; k && i <= kMaxNesting + 1; ++i) {
    if (k->level >= 0) return k == root.get() || LevelClip(k->level) == k;
    const Object* display = DisplayOf(*k);
    if (!display || display->leaving) return false;
    k = k->parent.lock().get();
  }
  return false;
}

Object* Player::State::DisplayOf(Clip& clip) {
  if (&clip == root.get()) return &root_display;
  if (clip.level > 0) {
    const auto it = levels.find(clip.level);
    return it != levels.end() && it->second.clip.get() == &clip ? &it->second : nullptr;
  }
  const std::shared_ptr<Clip> parent = clip.parent.lock();
  if (!parent) return nullptr;
  const auto it = parent->list.find(clip.depth);
  return it != parent->list.end() && it->second.clip.get() == &clip ? &it->second : nullptr;
}

namespace {
Rect Union(const Rect& a, const Rect& b) {
  if (a.x_min > a.x_max) return b;
  if (b.x_min > b.x_max) return a;
  return {std::min(a.x_min, b.x_min), std::max(a.x_max, b.x_max), std::min(a.y_min, b.y_min),
          std::max(a.y_max, b.y_max)};
}
constexpr Rect kNoBounds{1, -1, 1, -1};
Rect Transformed(const Rect& r, const Matrix& m) {
  Rect out = kNoBounds;
  for (const Point p : {Point{r.x_min, r.y_min}, Point{r.x_max, r.y_min}, Point{r.x_min, r.y_max},
                        Point{r.x_max, r.y_max}}) {
    const Point q = m.Apply(p);
    out = Union(out, Rect{q.x, q.x, q.y, q.y});
  }
  return out;
}
}  // namespace

// What `o` covers in the space `m` leads to, in twips; empty (x_min > x_max) for nothing.
Rect Player::State::Bounds(const Object& o, const Matrix& m) {
  if (o.clip) {
    Rect r = kNoBounds;
    if (o.clip->drawing && !o.clip->drawing->empty) {
      r = Transformed(o.clip->drawing->shape.bounds, m);
    }
    for (const auto& [depth, child] : o.clip->list) {
      r = Union(r, Bounds(child, child.matrix.Then(m)));
    }
    return r;
  }
  if (o.text) {
    // A text field's corners land on whole twips, as Flash measures the field.
    const Rect r = Transformed(o.text->field.Bounds(), m);
    return {std::round(r.x_min), std::round(r.x_max), std::round(r.y_min), std::round(r.y_max)};
  }
  if (!o.def) return kNoBounds;
  if (const auto* s = std::get_if<std::shared_ptr<const Shape>>(o.def)) {
    return Transformed((*s)->bounds, m);
  }
  if (const auto* morph = std::get_if<std::shared_ptr<const MorphShape>>(o.def)) {
    return Transformed((*morph)->start.bounds, m);
  }
  if (const auto* bitmap = std::get_if<std::shared_ptr<const Bitmap>>(o.def)) {
    return Transformed({0, float((*bitmap)->width) * 20, 0, float((*bitmap)->height) * 20}, m);
  }
  return kNoBounds;
}

namespace {
// Flash Player's arithmetic for the points scripts map: float factors and offsets in whole
// twips, each product's offset rounded (half to even).
Matrix ThenInTwips(const Matrix& m, const Matrix& outer) {
  Matrix r = m.Then(outer);
  r.tx = std::nearbyint(outer.a * m.tx + outer.c * m.ty) + outer.tx;
  r.ty = std::nearbyint(outer.b * m.tx + outer.d * m.ty) + outer.ty;
  return r;
}
Point ApplyInTwips(const Matrix& m, float x, float y) {
  return {std::nearbyint(m.a * x + m.c * y) + m.tx, std::nearbyint(m.b * x + m.d * y) + m.ty};
}
std::optional<Matrix> InverseInTwips(const Matrix& m) {
  const float det = m.a * m.d - m.b * m.c;
  if (det == 0) return std::nullopt;
  Matrix r{m.d / det, -m.b / det, -m.c / det, m.a / det, 0, 0};
  r.tx = std::nearbyint(-(r.a * m.tx + r.c * m.ty));
  r.ty = std::nearbyint(-(r.b * m.tx + r.d * m.ty));
  return r;
}
}  // namespace

Matrix Player::State::ToStage(Clip& clip) {
  Matrix total;
  Clip* k = &clip;
  for (int i = 0; k && i <= kMaxNesting + 1; ++i) {
    Object* d = DisplayOf(*k);
    if (d) total = total.Then(d->matrix);
    k = k->parent.lock().get();
  }
  return total;
}

namespace {
// Whether `p` lies inside the fills of `shape`: a ray to the right crosses the border of one of
// them an odd number of times (curves followed in a few straight pieces).
bool InsideFill(const Shape& shape, Point p) {
  std::map<std::uint16_t, int> crossings;
  const auto cross = [&](Point a, Point b, const Edge& e) {
    if ((a.y > p.y) == (b.y > p.y)) return;
    const float x = a.x + (p.y - a.y) / (b.y - a.y) * (b.x - a.x);
    if (x <= p.x) return;
    if (e.fill0 != 0) ++crossings[e.fill0];
    if (e.fill1 != 0 && e.fill1 != e.fill0) ++crossings[e.fill1];
  };
  // A stroke counts too: within half its width (a pixel's at least) of its line.
  bool on_stroke = false;
  const auto near = [&](Point a, Point b, const Edge& e) {
    if (e.line == 0 || e.line > shape.lines.size() || on_stroke) return;
    const float half = std::max(shape.lines[e.line - 1].width, 20.0f) / 2;
    const float dx = b.x - a.x, dy = b.y - a.y;
    const float length2 = dx * dx + dy * dy;
    const float t =
        length2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / length2, 0.0f, 1.0f) : 0;
    const float ex = a.x + t * dx - p.x, ey = a.y + t * dy - p.y;
    on_stroke = ex * ex + ey * ey <= half * half;
  };
  const auto piece = [&](Point a, Point b, const Edge& e) {
    if (e.fill0 != e.fill1) cross(a, b, e);
    near(a, b, e);
  };
  for (const Edge& e : shape.edges) {
    if (e.fill0 == e.fill1 && e.line == 0) continue;
    if (!e.curved) {
      piece(e.from, e.to, e);
      continue;
    }
    Point last = e.from;
    constexpr int kPieces = 8;
    for (int i = 1; i <= kPieces; ++i) {
      const float t = float(i) / kPieces, u = 1 - t;
      const Point q{u * u * e.from.x + 2 * u * t * e.control.x + t * t * e.to.x,
                    u * u * e.from.y + 2 * u * t * e.control.y + t * t * e.to.y};
      piece(last, q, e);
      last = q;
    }
  }
  if (on_stroke) return true;
  for (const auto& [fill, count] : crossings) {
    if (count % 2 == 1) return true;
  }
  return false;
}
}  // namespace

bool Player::State::HitsShape(const Object& o, const Matrix& m, Point p, int nesting) {
  if (nesting > kMaxNesting) return false;
  if (o.clip) {
    if (o.clip->drawing && !o.clip->drawing->empty) {
      const std::optional<Matrix> back = m.Inverse();
      if (back && InsideFill(o.clip->drawing->shape, back->Apply(p))) return true;
    }
    for (const auto& [depth, child] : o.clip->list) {
      if (child.clip_depth == 0 && HitsShape(child, child.matrix.Then(m), p, nesting + 1)) {
        return true;
      }
    }
    return false;
  }
  const std::optional<Matrix> inverse = m.Inverse();
  if (!inverse) return false;
  const Point q = inverse->Apply(p);
  const auto in = [&q](const Rect& r) {
    return q.x >= r.x_min && q.x <= r.x_max && q.y >= r.y_min && q.y <= r.y_max;
  };
  if (o.text) return in(o.text->field.Bounds());
  if (!o.def) return false;
  if (const auto* shape = std::get_if<std::shared_ptr<const Shape>>(o.def)) {
    return in((*shape)->bounds) && InsideFill(**shape, q);
  }
  if (const auto* morph = std::get_if<std::shared_ptr<const MorphShape>>(o.def)) {
    if ((*morph)->start.edges.size() > 100'000) return false;
    return InsideFill((*morph)->At(o.ratio), q);
  }
  if (const auto* bitmap = std::get_if<std::shared_ptr<const Bitmap>>(o.def)) {
    return in({0, float((*bitmap)->width) * 20, 0, float((*bitmap)->height) * 20});
  }
  return false;
}

Matrix Player::State::ToStageInTwips(Clip& clip) {
  Matrix total;
  Clip* k = &clip;
  for (int i = 0; k && i <= kMaxNesting + 1; ++i) {
    if (const Object* d = DisplayOf(*k)) total = ThenInTwips(total, d->matrix);
    k = k->parent.lock().get();
  }
  return total;
}

namespace {
double Scale(float a, float b) {
  return std::sqrt(double(a) * a + double(b) * b) * 100;
}
// Script numbers to matrix values: NaN and infinities change nothing.
bool Finite(double v) {
  return std::isfinite(v);
}
}  // namespace

avm1::Value Player::State::GetProperty(avm1::Object* o, int index) {
  using avm1::Value;
  Clip* clip = ClipOf(o);
  TextBox* box = clip ? nullptr : TextOf(o);
  if (!clip && !box) return Value{};
  Object* d = clip ? DisplayOf(*clip) : DisplayOfText(*box);
  Object none;
  Object& display = d ? *d : none;
  const Matrix& m = display.matrix;
  switch (index) {
    case 0:
      if (box) return Value::Num((double(m.tx) + double(m.a) * box->field.AutoSizeShift()) / 20);
      return Value::Num(double(m.tx) / 20);
    case 1:
      return Value::Num(double(m.ty) / 20);
    case 2:
      return Value::Num(display.scripted ? display.xscale : Scale(m.a, m.b));
    case 3:
      return Value::Num(display.scripted ? display.yscale : Scale(m.c, m.d));
    case 4:
      return clip ? Value::Num(clip->frame + 1) : Value{};
    case 5:
      return clip ? Value::Num(TotalFrames(*clip)) : Value{};
    case 12:
      return clip ? Value::Num(FramesLoaded(o)) : Value{};
    case 6:
      return Value::Num(double(display.color.mul_a) * 100);
    case 7:
      return Value::Bool(display.visible);
    case 8:
    case 9: {
      const Rect r = Bounds(display, m);
      if (r.x_min > r.x_max) return Value::Num(0);
      const double size = index == 8 ? r.x_max - r.x_min : r.y_max - r.y_min;
      return Value::Num(std::round(size) / 20);
    }
    case 10:
      if (display.scripted) return Value::Num(display.rotation);
      return Value::Num(std::atan2(double(m.b), double(m.a)) * 180 / 3.141592653589793);
    case 11:
      return Value::Str(clip ? vm->ClipPath(o, true) : TextPath(*box, true));
    case 13:
      return Value::Str(display.name);
    case 14:
      if (!clip || clip != dragged.lock().get()) return Value::Str(clip ? clip->drop_target : "");
      UpdateDropTarget();
      return Value::Str(clip->drop_target);
    case 20:
    case 21: {
      Matrix to_stage = clip ? ToStageInTwips(*clip) : Matrix{};
      // Flash Player maps the pointer through the clip's place snapped to whole pixels, and
      // through nothing but the pixel-to-twip step where the clip is flattened to nothing.
      to_stage.tx = std::round(to_stage.tx / 20) * 20;
      to_stage.ty = std::round(to_stage.ty / 20) * 20;
      const std::optional<Matrix> back = InverseInTwips(to_stage);
      const Point at{std::round(pointer.x), std::round(pointer.y)};
      const Point local = back ? ApplyInTwips(*back, at.x, at.y)
                               : Point{std::round(at.x / 20), std::round(at.y / 20)};
      return Value::Num(double(index == 20 ? local.x : local.y) / 20);
    }
    case 15:
      for (Clip* k = clip; k; k = k->parent.lock().get()) {
        if (!k->url.empty()) return Value::Str("file:///" + k->url);
      }
      return Value::Str("file:///movie.swf");
    case 16:
      return Value::Num(quality == kQualityBest ? 2 : quality == kQualityHigh ? 1 : 0);
    case 17:
      // SWF 5 movies see the movie's as a number; later ones a clip's own, null where it follows
      // the movie's.
      if (vm->version() < 6) return Value::Num(focus_rect ? 1 : 0);
      if (!clip) return Value{};
      if (clip == root.get()) return Value::Bool(focus_rect);
      return clip->focus_rect ? Value::Bool(*clip->focus_rect) : Value::Null();
    case 18:
      return Value::Num(sound_buffer_time);
    case 19:
      return Value::Str(kQualityNames[quality]);
    default:
      return Value::Num(0);
  }
}

void Player::State::SetProperty(avm1::Object* o, int index, const avm1::Value& v) {
  Object* d = DisplayOfAny(o);
  if (!d) return;
  Matrix& m = d->matrix;
  const auto number = [&] { return vm->ToNumber(v); };
  const auto decompose = [&] {
    if (d->scripted) return;
    d->xscale = Scale(m.a, m.b);
    d->yscale = Scale(m.c, m.d);
    d->rotation = std::atan2(double(m.b), double(m.a)) * 180 / 3.141592653589793;
    d->scripted = true;
  };
  const auto compose = [&] {
    const double r = d->rotation * 3.141592653589793 / 180;
    const double sx = d->xscale / 100, sy = d->yscale / 100;
    m.a = float(sx * std::cos(r));
    m.b = float(sx * std::sin(r));
    m.c = float(-sy * std::sin(r));
    m.d = float(sy * std::cos(r));
  };
  // Undefined and null change no figure.
  if (v.IsNullish() && index != 13 && index != 17) return;
  switch (index) {
    case 0:
    case 1: {
      // Whole twips, cut toward zero, as a 32-bit number: the infinities become its lowest.
      const double n = number();
      if (std::isnan(n)) return;
      double twips = std::trunc(n * 20);
      twips = std::isfinite(twips) ? std::fmod(twips, 4294967296.0) : -2147483648.0;
      if (twips >= 2147483648.0) twips -= 4294967296.0;
      if (twips < -2147483648.0) twips += 4294967296.0;
      if (index == 0 && d->text) twips -= std::round(m.a * d->text->field.AutoSizeShift());
      (index == 0 ? m.tx : m.ty) = float(twips);
      return;
    }
    case 2:
    case 3: {
      const double n = number();
      if (std::isnan(n)) return;  // an infinite scale is kept (the object then draws nothing)
      decompose();
      (index == 2 ? d->xscale : d->yscale) = n;
      compose();
      return;
    }
    case 6: {
      // Kept as an 8.8 multiplier, cut toward zero; the infinities make it 0.
      const double n = number();
      if (std::isnan(n)) return;
      d->color.mul_a = std::isfinite(n) ? float(std::trunc(n / 100 * 256) / 256) : 0.0F;
      return;
    }
    case 7: {
      // As a number in every version: "true" is NaN and changes nothing.
      const double n = number();
      if (!std::isnan(n)) d->visible = n != 0;
      return;
    }
    case 8:
    case 9: {
      const double n = number();
      if (!Finite(n) || n < 0) return;
      if (d->text) {
        // A text field's box takes the size as it is, in its own space: its scale stays and
        // still applies (a field at 200% set 20 wide reads 40).
        Rect r = d->text->field.Bounds();
        if (index == 8) r.x_max = r.x_min + float(std::trunc(n * 20));
        if (index == 9) r.y_max = r.y_min + float(std::trunc(n * 20));
        d->text->field.SetBounds(r);
        return;
      }
      decompose();
      const Rect r = Bounds(*d, Matrix{});
      const double size = index == 8 ? r.x_max - r.x_min : r.y_max - r.y_min;
      if (r.x_min > r.x_max || size <= 0) return;
      (index == 8 ? d->xscale : d->yscale) = n * 20 / size * 100;
      compose();
      return;
    }
    case 10: {
      double n = number();
      if (std::isnan(n)) return;  // an infinite angle is kept as NaN
      decompose();
      n = std::fmod(n, 360);
      if (n > 180) n -= 360;
      if (n < -180) n += 360;
      d->rotation = n;
      compose();
      return;
    }
    case 13:
      // SWF 7 movies name a clip "0" for NaN, as Flash Player 7 did.
      d->name = v.type == avm1::Type::Number && std::isnan(v.n) && vm->version() >= 7
                    ? "0"
                    : vm->ToString(v);
      return;
    case 16: {
      const double n = number();
      if (!std::isnan(n)) SetQuality(n == 0 ? kQualityLow : n >= 2 ? kQualityBest : kQualityHigh);
      return;
    }
    case 17: {
      // The main timeline's (and any of a SWF 5 movie's) is the movie's; null leaves a clip's
      // own to follow it.
      Clip* clip = ClipOf(o);
      if (clip && clip != root.get() && movie.header.version >= 6) {
        clip->focus_rect = v.IsNullish() ? std::nullopt : std::optional<bool>(vm->ToBoolean(v));
        return;
      }
      if (!clip && vm->version() >= 6) return;
      // The movie's takes numbers: an object is false, and NaN, undefined and null change nothing.
      if (v.IsObject()) {
        focus_rect = false;
      } else if (const double n = v.IsNullish() ? std::nan("") : number(); !std::isnan(n)) {
        focus_rect = n != 0;
      }
      return;
    }
    case 18: {
      // A 32-bit integer cut toward zero; out of its range (the infinities too) its lowest.
      const double n = number();
      if (std::isnan(n)) return;
      const bool fits = n > -2147483649.0 && n < 2147483648.0;
      sound_buffer_time = fits ? int(std::trunc(n)) : std::numeric_limits<int>::min();
      return;
    }
    case 19: {
      std::string name = vm->ToString(v);
      for (char& c : name) c = c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
      for (int q = kQualityLow; q <= kQualityBest; ++q) {
        if (name == kQualityNames[q]) SetQuality(q);
      }
      return;
    }
    default:
      return;
  }
}

void Player::State::GotoFrame(avm1::Object* o, int frame, bool play) {
  Clip* clip = ClipOf(o);
  if (!clip) return;
  if (frame >= 0) Goto(*clip, frame);
  clip->playing = play;
}

bool Player::State::GotoLabel(avm1::Object* o, std::string_view label, bool play, int bias) {
  Clip* clip = ClipOf(o);
  if (!clip) return false;
  auto frame = clip->timeline->FindLabel(std::string(label));
  // A label further on than the frames read: found if the file has been read that far.
  if (!frame && clip == root.get() && movie.loading()) {
    movie.stream->ReadThrough(std::numeric_limits<int>::max());
    frame = clip->timeline->FindLabel(std::string(label));
  }
  if (!frame) return false;
  Goto(*clip, *frame + bias);
  clip->playing = play;
  return true;
}

void Player::State::CallFrame(avm1::Object* o, int frame, std::string_view label) {
  Clip* clip = ClipOf(o);
  if (!clip) return;
  if (!label.empty()) frame = clip->timeline->FindLabel(std::string(label)).value_or(-1);
  if (frame < 0 || frame > clip->last()) return;
  for (const ActionBlock& block : clip->timeline->frames[std::size_t(frame)].actions) {
    vm->RunBlock(block.code, o, movie.header.version);
  }
}

void Player::State::SetPlaying(avm1::Object* o, bool playing) {
  if (Clip* clip = ClipOf(o)) clip->playing = playing;
}

int Player::State::CurrentFrame(avm1::Object* o) {
  Clip* clip = ClipOf(o);
  return clip ? clip->frame : 0;
}

int Player::State::FramesLoaded(avm1::Object* o) {
  Clip* clip = ClipOf(o);
  if (clip == root.get() && movie.loading()) return movie.stream->frames_loaded();
  return clip ? int(clip->timeline->frames.size()) : 0;
}

int Player::State::TotalFrames(Clip& clip) {
  const int read = int(clip.timeline->frames.size());
  // The header's count until the main timeline has been read whole.
  return &clip == root.get() && movie.loading() ? std::max(read, movie.header.frame_count) : read;
}

void Player::State::GetUrl(const std::string& url, const std::string& target, int flags) {
  if (StartsWithFsCommand(url)) {
    Url(url, target);
    return;
  }
  const int level = avm1::Vm::LevelNumber(target);
  if (flags & 0x80) {
    // loadVariables: into the clip at the path, or loadVariablesNum's level.
    avm1::Object* into = (flags & 0x40) ? vm->ResolvePath(root->object, target) : Level(level);
    avm1::LoadVariables(*vm, into, url);
    return;
  }
  // loadMovie and unloadMovie (an empty url) into a clip's path or a level.
  if ((flags & 0x40) || level >= 0) {
    if (url.empty()) {
      UnloadMovie(avm1::Value::Str(target));
    } else {
      LoadMovie(url, avm1::Value::Str(target), nullptr);
    }
    return;
  }
  // Nothing leaves the movie: no page opens.
  LeftOut("getURL");
}

// ---- Loading other files (loader.h) --------------------------------------------------------

Clip* Player::State::LevelClip(int n) {
  if (n == 0) return root.get();
  const auto it = levels.find(n);
  return it == levels.end() ? nullptr : it->second.clip.get();
}

avm1::Object* Player::State::Level(int n) {
  Clip* clip = LevelClip(n);
  return clip ? clip->object : nullptr;
}

std::vector<std::shared_ptr<Clip>> Player::State::TopClips() {
  std::vector<std::shared_ptr<Clip>> tops;
  for (auto it = levels.rbegin(); it != levels.rend(); ++it) {
    if (it->second.clip) tops.push_back(it->second.clip);
  }
  tops.push_back(root);
  return tops;
}

avm1::Object* Player::State::RootOf(avm1::Object* o) {
  Clip* k = ClipOf(o);
  for (int i = 0; k && i <= kMaxNesting + 1; ++i) {
    if (k->level >= 0) return k->object;
    if (k->lock_root) return k->object;
    k = k->parent.lock().get();
  }
  return root->object;
}

// A clip (itself or its path), or a level (its number or its `_levelN` name).
bool Player::State::LoadTarget(const avm1::Value& target, LoadRequest& r) {
  if (target.type == avm1::Type::Number) {
    if (!(target.n >= 0 && target.n < 1e9)) return false;
    r.level = int(target.n);
    return true;
  }
  if (target.type == avm1::Type::String) r.level = avm1::Vm::LevelNumber(target.s);
  if (r.level >= 0 && !LevelClip(r.level)) return true;
  avm1::Object* clip = vm->TargetOf(target);
  if (!clip || clip->kind != avm1::Kind::Clip) return false;
  r.target = clip;
  return true;
}

bool Player::State::LoadMovie(const std::string& url, const avm1::Value& target,
                              avm1::Object* loader) {
  LoadRequest r;
  r.url = url;
  r.loader = loader;
  return LoadTarget(target, r) && loads.Add(*vm, std::move(r));
}

bool Player::State::UnloadMovie(const avm1::Value& target) {
  LoadRequest r;
  return LoadTarget(target, r) && loads.Add(*vm, std::move(r));
}

bool Player::State::MovieBytes(avm1::Object* o, double* loaded, double* total) {
  const Clip* clip = ClipOf(o);
  if (!clip) return false;
  *loaded = *total = double(clip->loaded ? clip->file_bytes : clip->movie->header.file_length);
  return true;
}

void Player::State::Broadcast(avm1::Object* loader, const char* event,
                              std::initializer_list<avm1::Value> args) {
  std::vector<avm1::Value> all{avm1::Value::Str(event)};
  all.insert(all.end(), args.begin(), args.end());
  vm->CallMethodSafe(loader, "broadcastMessage", all);
}

// The requests of this frame, at its end as a download would arrive: a file that isn't there
// (or isn't a movie) tells its loader so; a movie takes its clip or level and runs its first
// frame in the next frame, its loader hearing it start and complete now and onLoadInit then.
void Player::State::RunLoads() {
  for (const LoadRequest& r : loads.Take()) {
    RunLoad(r);
    Loads::Finish(*vm, r);
  }
}

void Player::State::RunLoad(const LoadRequest& r) {
  Clip* clip = r.target ? ClipOf(r.target) : LevelClip(r.level);
  if (r.target && !clip) return;  // gone since
  if (r.url.empty()) {
    if (clip && clip->level > 0) {
      const auto it = levels.find(clip->level);
      Unload(it->second);
      levels.erase(it);
    } else if (clip) {
      ShowMovie(*clip, nullptr);
    }
    return;
  }
  std::size_t bytes = 0;
  std::shared_ptr<const Movie> m = loads.Open(r.url, read_file, images, &bytes);
  if (!m || (!clip && census.clips >= kMaxClips)) {
    if (r.loader) {
      Broadcast(
          r.loader, "onLoadError",
          {clip ? avm1::Value::Obj(clip->object) : avm1::Value{}, avm1::Value::Str("URLNotFound")});
    }
    return;
  }
  if (!clip) {
    Object& top = levels[r.level];
    top.clip = std::make_shared<Clip>(m->main, 0, tick, census);
    clip = top.clip.get();
    clip->level = r.level;
    clip->object = vm->NewClipObject(clip);
    vm->Pin(clip->object);
  }
  ShowMovie(*clip, m, r.url);
  clip->file_bytes = bytes;
  // The url's query: variables of the loaded movie's root, as a page's FlashVars.
  if (const std::size_t query = r.url.find('?'); query != std::string::npos) {
    avm1::DecodeVariables(*vm, clip->object, r.url.substr(query + 1));
  }
  if (!r.loader) return;
  const avm1::Value target = avm1::Value::Obj(clip->object);
  const avm1::Value size = avm1::Value::Num(double(bytes));
  Broadcast(r.loader, "onLoadStart", {target});
  Broadcast(r.loader, "onLoadProgress", {target, size, size});
  Broadcast(r.loader, "onLoadComplete", {target, avm1::Value::Num(0)});
  vm->Pin(clip->object);
  vm->Pin(r.loader);
  loads.inits.push_back({clip->object, r.loader});
}

// onLoadInit, once the loaded movie ran its first frame.
void Player::State::LoadInitEvents() {
  std::vector<Loads::Init> waiting;
  for (const Loads::Init& init : std::exchange(loads.inits, {})) {
    Clip* clip = ClipOf(init.target);
    if (clip && clip->frame < 0) {
      waiting.push_back(init);
      continue;
    }
    if (clip) Broadcast(init.loader, "onLoadInit", {avm1::Value::Obj(init.target)});
    vm->Unpin(init.target);
    vm->Unpin(init.loader);
  }
  loads.inits.insert(loads.inits.end(), waiting.begin(), waiting.end());
}

void Player::State::ShowMovie(Clip& clip, std::shared_ptr<const Movie> m, const std::string& url) {
  clip.url = url;
  for (auto& [depth, child] : clip.list) Unload(child);
  census.objects -= clip.list.size();
  clip.list.clear();
  clip.events.clear();
  clip.drawing.reset();
  clip.button.reset();
  clip.born = tick;
  clip.playing = true;
  if (m) {
    clip.timeline = &m->main;
    clip.movie = m.get();
    clip.loaded = std::move(m);
    clip.frame = -1;
  } else {
    clip.timeline = &empty_timeline;
    clip.frame = 0;
  }
  // The clip's variables go with what it showed.
  avm1::Object* o = clip.object;
  o->props.clear();
  o->index.clear();
  o->live = 0;
  o->proto = vm->clip_proto;
}

Clip* Player::State::NewClip(Clip& parent, int depth, std::uint16_t id, const std::string& name,
                             const std::vector<ClipAction>* events) {
  if (clips_left == 0) {
    vm->Note("a script made more clips in one frame than a frame may make: the rest were left out");
    return nullptr;
  }
  --clips_left;
  auto it = parent.list.find(depth);
  if (it == parent.list.end()) {
    if (census.objects >= kMaxObjects) return nullptr;
    ++census.objects;
  } else {
    Unload(it->second);
  }
  Object o;
  o.name = name;
  it = parent.list.insert_or_assign(depth, std::move(o)).first;
  SetCharacter(parent, it->second, id, depth, events);
  if (!it->second.clip) {
    parent.list.erase(it);
    --census.objects;
    return nullptr;
  }
  return it->second.clip.get();
}

void Player::State::RemoveClip(avm1::Object* o) {
  Clip* clip = ClipOf(o);
  if (!clip || clip == root.get() || clip->depth < kDepthBias) return;
  const std::shared_ptr<Clip> parent = clip->parent.lock();
  if (!parent) return;
  const auto it = parent->list.find(clip->depth);
  if (it == parent->list.end() || it->second.clip.get() != clip) return;
  Unload(it->second);
  parent->list.erase(it);
  --census.objects;
}

namespace {
// Where a copy of an object starts: where the object stands, scaled, turned and coloured as it is.
void CopyPlacement(const Object& from, Object& to) {
  to.matrix = from.matrix;
  to.color = from.color;
  to.scripted = from.scripted;
  to.xscale = from.xscale;
  to.yscale = from.yscale;
  to.rotation = from.rotation;
}
}  // namespace

TextBox* Player::State::PlaceTextField(Clip& parent, int depth, Object o,
                                       std::shared_ptr<const EditText> def) {
  auto it = parent.list.find(depth);
  if (it == parent.list.end()) {
    if (census.objects >= kMaxObjects || clips_left == 0) return nullptr;
    --clips_left;
    ++census.objects;
  } else {
    Unload(it->second);
  }
  it = parent.list.insert_or_assign(depth, std::move(o)).first;
  NewTextBox(parent, it->second, std::move(def), depth);
  return it->second.text.get();
}

void Player::State::DuplicateText(TextBox& box, const std::string& name, int depth) {
  const std::shared_ptr<Clip> parent = box.parent.lock();
  const Object* from = DisplayOfText(box);
  if (!parent || !from || depth < -kDepthBias || depth > kMaxScriptDepth) return;
  // The copy is the field's character as the file defines it, where the field stands; what
  // scripts changed stays behind. A field a script made has an empty box for its character.
  const auto* edit = from->def ? std::get_if<std::shared_ptr<const EditText>>(from->def) : nullptr;
  Object o;
  o.character = from->character;
  o.def = from->def;
  o.name = name;
  CopyPlacement(*from, o);
  PlaceTextField(*parent, depth + kDepthBias, std::move(o),
                 edit ? *edit : std::make_shared<const EditText>());
}

void Player::State::DuplicateClip(avm1::Object* o, const std::string& name, int depth) {
  if (TextBox* box = TextOf(o)) {
    DuplicateText(*box, name, depth);
    return;
  }
  Clip* clip = ClipOf(o);
  if (!clip || clip == root.get()) return;
  const std::shared_ptr<Clip> parent = clip->parent.lock();
  Object* from = DisplayOf(*clip);
  if (!parent || !from || depth < -kDepthBias || depth > kMaxScriptDepth) return;
  const Object copy_of = *from;
  const std::vector<ClipAction> events = clip->events;
  const std::uint16_t id = copy_of.character;
  const std::shared_ptr<Drawing> drawing = clip->drawing;
  Clip* made = NewClip(*parent, depth + kDepthBias, id, name, &events);
  if (!made) return;
  if (drawing) made->drawing = std::make_shared<Drawing>(*drawing);
  Object* to = DisplayOf(*made);
  CopyPlacement(copy_of, *to);
  to->visible = copy_of.visible;
}

// ---- MovieClip methods ---------------------------------------------------------------------

namespace {

using avm1::Value;
using Args = std::span<Value>;

Player::State& StateOf(avm1::Vm& vm) {
  return *static_cast<Player::State*>(vm.host());
}
Clip* SelfClip(const Value& self) {
  return self.IsObject() ? Player::State::ClipOf(self.o) : nullptr;
}
Value ArgAt(Args args, std::size_t i) {
  return i < args.size() ? args[i] : Value{};
}
// A depth a script gives (a whole 32-bit number, as Flash wraps it), biased as the lists keep it;
// none outside what scripts may use.
std::optional<int> ScriptDepth(avm1::Vm& vm, const Value& v) {
  const double n = vm.ToNumber(v);
  if (!std::isfinite(n)) return std::nullopt;
  const std::int32_t depth = vm.ToInt32(Value::Num(n));
  if (depth < -kDepthBias || depth > kMaxScriptDepth) return std::nullopt;
  return depth + kDepthBias;
}

// Frame arguments: a number (1-based) or a label.
void GotoArg(avm1::Vm& vm, const Value& self, Args args, bool play) {
  if (SelfClip(self) && !args.empty()) vm.GotoValue(self.o, args[0], play);
}
Value McPlay(avm1::Vm& vm, const Value& self, Args) {
  if (SelfClip(self)) StateOf(vm).SetPlaying(self.o, true);
  return Value{};
}
Value McStop(avm1::Vm& vm, const Value& self, Args) {
  if (SelfClip(self)) StateOf(vm).SetPlaying(self.o, false);
  return Value{};
}
Value McGotoAndPlay(avm1::Vm& vm, const Value& self, Args args) {
  GotoArg(vm, self, args, true);
  return Value{};
}
Value McGotoAndStop(avm1::Vm& vm, const Value& self, Args args) {
  GotoArg(vm, self, args, false);
  return Value{};
}
Value McNextFrame(avm1::Vm& vm, const Value& self, Args) {
  if (Clip* c = SelfClip(self)) StateOf(vm).GotoFrame(self.o, c->frame + 1, false);
  return Value{};
}
Value McPrevFrame(avm1::Vm& vm, const Value& self, Args) {
  if (Clip* c = SelfClip(self)) StateOf(vm).GotoFrame(self.o, c->frame - 1, false);
  return Value{};
}
Value McGetDepth(avm1::Vm&, const Value& self, Args) {
  Clip* c = SelfClip(self);
  return c ? Value::Num(c->depth - kDepthBias) : Value{};
}
Value McNextHighestDepth(avm1::Vm&, const Value& self, Args) {
  Clip* c = SelfClip(self);
  if (!c) return Value{};
  const int top = c->list.empty() ? 0 : c->list.rbegin()->first - kDepthBias + 1;
  return Value::Num(std::max(0, top));
}
Value McInstanceAtDepth(avm1::Vm&, const Value& self, Args args) {
  Clip* c = SelfClip(self);
  if (!c || args.empty() || args[0].type != avm1::Type::Number || !std::isfinite(args[0].n)) {
    return Value{};
  }
  const auto it = c->list.find(int(args[0].n) + kDepthBias);
  if (it == c->list.end()) return Value{};
  return it->second.clip ? Value::Obj(it->second.clip->object) : Value::Obj(c->object);
}
Value McSwapDepths(avm1::Vm& vm, const Value& self, Args args) {
  Clip* c = SelfClip(self);
  if (!c || args.empty()) return Value{};
  const std::shared_ptr<Clip> parent = c->parent.lock();
  if (!parent) return Value{};
  int to = 0;
  Clip* other = SelfClip(args[0]);
  if (!other && args[0].type == avm1::Type::String) {
    other = Player::State::ClipOf(vm.ResolvePath(self.o, args[0].s));
  }
  if (args[0].IsUndefined()) return Value{};
  if (other) {
    if (other->parent.lock() != parent) return Value{};
    to = other->depth;
  } else {
    // Anything but a number swaps with depth 0.
    const double n = vm.ToNumber(args[0]);
    const std::optional<int> depth = ScriptDepth(vm, Value::Num(std::isnan(n) ? 0 : n));
    if (!depth) return Value{};
    to = *depth;
  }
  const int from = c->depth;
  if (to == from) return Value{};
  auto a = parent->list.extract(from);
  auto b = parent->list.extract(to);
  if (a.empty()) return Value{};
  a.key() = to;
  a.mapped().swapped = true;
  if (a.mapped().clip) a.mapped().clip->depth = to;
  parent->list.insert(std::move(a));
  if (!b.empty()) {
    b.key() = from;
    if (b.mapped().clip) b.mapped().clip->depth = from;
    parent->list.insert(std::move(b));
  }
  return Value{};
}
Value McRemove(avm1::Vm& vm, const Value& self, Args) {
  if (SelfClip(self)) StateOf(vm).RemoveClip(self.o);
  return Value{};
}
void ApplyInit(avm1::Vm& vm, Clip* made, const Value& init) {
  if (!made || !init.IsObject()) return;
  for (const std::string& name : vm.Enumerate(init.o)) {
    vm.Set(made->object, name, vm.Get(init.o, name));
  }
}
Value McDuplicate(avm1::Vm& vm, const Value& self, Args args) {
  Clip* c = SelfClip(self);
  if (!c || args.size() < 2) return Value{};
  Player::State& s = StateOf(vm);
  const std::string name = vm.ToString(args[0]);
  const std::optional<int> depth = ScriptDepth(vm, args[1]);
  if (!depth) return Value{};
  s.DuplicateClip(self.o, name, *depth - kDepthBias);
  const std::shared_ptr<Clip> parent = c->parent.lock();
  if (!parent) return Value{};
  const auto it = parent->list.find(*depth);
  if (it == parent->list.end() || !it->second.clip) return Value{};
  ApplyInit(vm, it->second.clip.get(), ArgAt(args, 2));
  return Value::Obj(it->second.clip->object);
}
Value McAttach(avm1::Vm& vm, const Value& self, Args args) {
  Clip* c = SelfClip(self);
  if (!c || args.size() < 3) return Value{};
  Player::State& s = StateOf(vm);
  std::string id = vm.ToString(args[0]);
  for (char& ch : id) ch = (ch >= 'A' && ch <= 'Z') ? char(ch - 'A' + 'a') : ch;
  const auto found = c->movie->exports.find(id);
  const std::optional<int> depth = ScriptDepth(vm, args[2]);
  if (found == c->movie->exports.end() || !depth) return Value{};
  Clip* made = s.NewClip(*c, *depth, found->second, vm.ToString(args[1]));
  if (!made) return Value{};
  ApplyInit(vm, made, ArgAt(args, 3));
  return Value::Obj(made->object);
}
Value McCreateEmpty(avm1::Vm& vm, const Value& self, Args args) {
  Clip* c = SelfClip(self);
  if (!c || args.size() < 2) return Value{};
  const std::optional<int> depth = ScriptDepth(vm, args[1]);
  if (!depth) return Value{};
  Clip* made = StateOf(vm).NewClip(*c, *depth, 0, vm.ToString(args[0]));
  return made ? Value::Obj(made->object) : Value{};
}
Value McBytesTotal(avm1::Vm& vm, const Value& self, Args) {
  const Clip* c = SelfClip(self);
  if (!c) return Value{};
  // A loaded movie's file, nothing for an empty clip that waits for one.
  if (c->loaded) return Value::Num(double(c->file_bytes));
  if (c->timeline == &StateOf(vm).empty_timeline) return Value::Num(0);
  return Value::Num(double(c->movie->header.file_length));
}
Value McBytesLoaded(avm1::Vm& vm, const Value& self, Args args) {
  const Clip* c = SelfClip(self);
  if (!c) return Value{};
  // The main movie read as it plays says how far the reading has come; the rest is whole.
  const Movie& movie = StateOf(vm).movie;
  if (c->movie != &movie || !movie.loading()) return McBytesTotal(vm, self, args);
  return Value::Num(
      double(std::min<std::uint64_t>(movie.header.file_length, movie.stream->bytes_loaded())));
}
Value McBounds(avm1::Vm& vm, const Value& self, Args args) {
  Clip* c = SelfClip(self);
  if (!c) return Value{};
  Player::State& s = StateOf(vm);
  // Once a SWF 8 script has asked, Flash Player gives empty bounds rounded as a float's.
  if (vm.version() >= 8) s.empty_bounds_rounded = true;
  Object* d = s.DisplayOf(*c);
  Object none;
  none.clip = d ? d->clip : nullptr;
  Matrix m;
  // Into the coordinates of another clip: through the stage and back.
  if (Clip* space = SelfClip(ArgAt(args, 0)); space && space != c) {
    const auto to_stage = [&s](Clip* k) {
      Matrix total;
      for (int i = 0; k && i < 64; ++i) {
        Object* kd = s.DisplayOf(*k);
        if (kd && k != s.root.get()) total = total.Then(kd->matrix);
        k = k->parent.lock().get();
      }
      return total;
    };
    const Matrix a = to_stage(c);
    const Matrix b = to_stage(space);
    const double det = double(b.a) * b.d - double(b.b) * b.c;
    if (det != 0) {
      Matrix inv;
      inv.a = float(b.d / det);
      inv.b = float(-b.b / det);
      inv.c = float(-b.c / det);
      inv.d = float(b.a / det);
      inv.tx = float((double(b.c) * b.ty - double(b.d) * b.tx) / det);
      inv.ty = float((double(b.b) * b.tx - double(b.a) * b.ty) / det);
      m = a.Then(inv);
    }
  }
  const Rect r = s.Bounds(none, m);
  // Nothing drawn: every side is the largest twip count Flash Player keeps, 2^27 - 1 (2^27 from
  // a SWF 8 movie on).
  const bool empty = r.x_min > r.x_max;
  const double side =
      s.empty_bounds_rounded || s.movie.header.version >= 8 ? 134217728.0 : 134217727.0;
  const auto px = [&](float twips) { return Value::Num((empty ? side : twips) / 20); };
  avm1::Object* o = vm.NewObject();
  vm.Set(o, "xMin", px(r.x_min));
  vm.Set(o, "xMax", px(r.x_max));
  vm.Set(o, "yMin", px(r.y_min));
  vm.Set(o, "yMax", px(r.y_max));
  return Value::Obj(o);
}
Value McHitTest(avm1::Vm& vm, const Value& self, Args args) {
  Clip* c = SelfClip(self);
  if (!c || args.empty()) return Value::Bool(false);
  Player::State& s = StateOf(vm);
  Object* d = s.DisplayOf(*c);
  if (!d) return Value::Bool(false);
  const std::shared_ptr<Clip> parent = c->parent.lock();
  const Matrix outer = parent ? s.ToStage(*parent) : Matrix{};
  if (args.size() >= 2) {
    const double x = vm.ToNumber(args[0]), y = vm.ToNumber(args[1]);
    if (!std::isfinite(x) || !std::isfinite(y)) return Value::Bool(false);
    // The point is in the main timeline's coordinates, not the stage's.
    const Point p = s.ToStage(*s.root).Apply(Point{float(x * 20), float(y * 20)});
    if (args.size() >= 3 && vm.ToBoolean(args[2])) {
      return Value::Bool(s.HitsShape(*d, d->matrix.Then(outer), p, 0));
    }
    const Rect r = s.Bounds(*d, d->matrix.Then(outer));
    return Value::Bool(r.x_min <= r.x_max && p.x >= r.x_min && p.x <= r.x_max && p.y >= r.y_min &&
                       p.y <= r.y_max);
  }
  Clip* other = SelfClip(args[0]);
  if (!other && args[0].type == avm1::Type::String && !args[0].s.empty()) {
    other = Player::State::ClipOf(vm.ResolvePath(self.o, args[0].s));
  }
  Object* od = other ? s.DisplayOf(*other) : nullptr;
  if (!od) return Value::Bool(false);
  Object whole;  // the main timeline's display object holds no clip of its own
  if (!od->clip && other == s.root.get()) {
    whole.matrix = od->matrix;
    whole.clip = s.root;
    od = &whole;
  }
  const std::shared_ptr<Clip> other_parent = other->parent.lock();
  const Rect a = s.Bounds(*d, d->matrix.Then(outer));
  const Rect b = s.Bounds(*od, od->matrix.Then(other_parent ? s.ToStage(*other_parent) : Matrix{}));
  return Value::Bool(a.x_min <= a.x_max && b.x_min <= b.x_max && a.x_min <= b.x_max &&
                     b.x_min <= a.x_max && a.y_min <= b.y_max && b.y_min <= a.y_max);
}
// localToGlobal and globalToLocal: the point object's own x and y, through the clip's place.
void MapPoint(avm1::Vm& vm, const Value& self, Args args, bool to_global) {
  Clip* c = SelfClip(self);
  if (!c || args.empty() || !args[0].IsObject()) return;
  avm1::Object* point = args[0].o;
  const avm1::Property* px = vm.FindOwn(point, "x");
  const avm1::Property* py = vm.FindOwn(point, "y");
  if (!px || !py || px->value.type != avm1::Type::Number || py->value.type != avm1::Type::Number) {
    return;
  }
  const double x = std::round(px->value.n * 20), y = std::round(py->value.n * 20);
  if (!std::isfinite(x) || !std::isfinite(y)) return;
  const Matrix m = StateOf(vm).ToStageInTwips(*c);
  const std::optional<Matrix> inverse = InverseInTwips(m);
  if (!to_global && !inverse) return;
  const Point p = ApplyInTwips(to_global ? m : *inverse, float(x), float(y));
  if (!std::isfinite(p.x) || !std::isfinite(p.y)) return;
  vm.Set(point, "x", Value::Num(double(p.x) / 20));
  vm.Set(point, "y", Value::Num(double(p.y) / 20));
}
Value McLocalToGlobal(avm1::Vm& vm, const Value& self, Args args) {
  MapPoint(vm, self, args, true);
  return Value{};
}
Value McGlobalToLocal(avm1::Vm& vm, const Value& self, Args args) {
  MapPoint(vm, self, args, false);
  return Value{};
}
Value McLeftOut(avm1::Vm& vm, const Value&, Args) {
  vm.LeftOut("method MovieClip drawing");
  return Value{};
}
Value McSwfVersion(avm1::Vm&, const Value& self, Args) {
  const Clip* c = SelfClip(self);
  return c && c->movie->header.version > 0 ? Value::Num(c->movie->header.version) : Value::Num(-1);
}
Value McGetUrl(avm1::Vm& vm, const Value&, Args args) {
  StateOf(vm).GetUrl(vm.ToString(ArgAt(args, 0)), vm.ToString(ArgAt(args, 1)), 0);
  return Value{};
}
Value McLoadMovie(avm1::Vm& vm, const Value& self, Args args) {
  if (SelfClip(self)) StateOf(vm).LoadMovie(vm.ToString(ArgAt(args, 0)), self, nullptr);
  return Value{};
}
Value McUnloadMovie(avm1::Vm& vm, const Value& self, Args) {
  if (SelfClip(self)) StateOf(vm).UnloadMovie(self);
  return Value{};
}
Value McLoadVariables(avm1::Vm& vm, const Value& self, Args args) {
  if (SelfClip(self)) avm1::LoadVariables(vm, self.o, vm.ToString(ArgAt(args, 0)));
  return Value{};
}
Value McCtor(avm1::Vm&, const Value&, Args) {
  return Value{};
}
Value GlobalFsCommand(avm1::Vm& vm, const Value&, Args args) {
  StateOf(vm).Url("FSCommand:" + vm.ToString(ArgAt(args, 0)), vm.ToString(ArgAt(args, 1)));
  return Value{};
}

}  // namespace

// ---- The drawing methods -------------------------------------------------------------------

namespace {

constexpr std::size_t kMaxDrawnEdges = 100'000;  // per clip: a script drawing in a loop stops
constexpr std::size_t kMaxDrawnStyles = 10'000;

Drawing& DrawingOf(Clip& c) {
  if (!c.drawing) c.drawing = std::make_shared<Drawing>(*c.census);
  return *c.drawing;
}

void Grow(Drawing& d, Point p, float margin) {
  const Rect r{p.x - margin, p.x + margin, p.y - margin, p.y + margin};
  d.shape.bounds = d.empty ? r : Union(d.shape.bounds, r);
  d.empty = false;
}

void AddEdge(Drawing& d, Point to, const Point* control, bool with_line) {
  if (d.shape.edges.size() >= kMaxDrawnEdges || !d.Charge()) return;
  Edge e;
  e.from = d.pen;
  e.to = to;
  e.curved = control != nullptr;
  e.control = control ? *control : Point{(d.pen.x + to.x) / 2, (d.pen.y + to.y) / 2};
  e.fill0 = d.fill;
  e.line = with_line ? d.line : 0;
  const float margin = e.line ? d.shape.lines[std::size_t(e.line) - 1].width / 2 : 0;
  Grow(d, d.pen, margin);
  Grow(d, to, margin);
  if (control) Grow(d, *control, margin);
  d.shape.edges.push_back(e);
  d.pen = to;
}

// A fill's path ends where it began, stroked when a line style is on.
void CloseFill(Drawing& d) {
  if (d.fill && (d.pen.x != d.start.x || d.pen.y != d.start.y)) AddEdge(d, d.start, nullptr, true);
}

std::optional<Point> PointArgs(avm1::Vm& vm, Args args, std::size_t at) {
  if (args.size() < at + 2) return std::nullopt;
  const double x = vm.ToNumber(args[at]), y = vm.ToNumber(args[at + 1]);
  if (!std::isfinite(x) || !std::isfinite(y)) return std::nullopt;
  return Point{float(std::clamp(x, -1e7, 1e7) * 20), float(std::clamp(y, -1e7, 1e7) * 20)};
}

Rgba ColorArg(avm1::Vm& vm, const Value& rgb, const Value& alpha) {
  double a = alpha.IsUndefined() ? 100 : vm.ToNumber(alpha);
  if (!std::isfinite(a)) a = 100;
  return RgbOf(vm, rgb, std::uint8_t(std::lround(std::clamp(a, 0.0, 100.0) * 2.55)));
}

void BeginFill(Drawing& d, FillStyle fill) {
  CloseFill(d);
  if (d.shape.fills.size() >= kMaxDrawnStyles || !d.Charge()) return;
  if (!d.shape.edges.empty()) d.shape.layer_starts.push_back(d.shape.edges.size());
  d.shape.fills.push_back(std::move(fill));
  d.fill = std::uint16_t(d.shape.fills.size());
  d.start = d.pen;
}

Value DrLineStyle(avm1::Vm& vm, const Value& self, Args args) {
  Clip* c = SelfClip(self);
  if (!c) return Value{};
  Drawing& d = DrawingOf(*c);
  const double width = args.empty() ? NAN : vm.ToNumber(args[0]);
  if (args.empty() || args[0].IsUndefined() || std::isnan(width) ||
      d.shape.lines.size() >= kMaxDrawnStyles || !d.Charge()) {
    d.line = 0;
    return Value{};
  }
  LineStyle line;
  line.width = float(std::clamp(width, 0.0, 255.0) * 20);
  line.fill = ColorArg(vm, ArgAt(args, 1), ArgAt(args, 2));
  d.shape.lines.push_back(std::move(line));
  d.line = std::uint16_t(d.shape.lines.size());
  return Value{};
}
Value DrBeginFill(avm1::Vm& vm, const Value& self, Args args) {
  Clip* c = SelfClip(self);
  if (!c) return Value{};
  Drawing& d = DrawingOf(*c);
  if (args.empty() || args[0].IsNullish()) {
    CloseFill(d);
    d.fill = 0;
    return Value{};
  }
  BeginFill(d, ColorArg(vm, args[0], ArgAt(args, 1)));
  return Value{};
}
// beginGradientFill(type, colors, alphas, ratios, matrix): the box or the a..i matrix.
Value DrBeginGradientFill(avm1::Vm& vm, const Value& self, Args args) {
  Clip* c = SelfClip(self);
  if (!c) return Value{};
  Drawing& d = DrawingOf(*c);
  // A null type leaves the fill as it was; any other call Flash refuses (too few or too many
  // arguments, an unknown type, arrays of unequal length, a ratio outside -1..256) ends it.
  if (!args.empty() && args[0].IsNull()) return Value{};
  const auto refuse = [&] {
    CloseFill(d);
    d.fill = 0;
    return Value{};
  };
  if (args.size() < 5 || args.size() > 8 || !args[1].IsObject() || !args[2].IsObject() ||
      !args[3].IsObject() || !args[4].IsObject()) {
    return refuse();
  }
  const std::string type = vm.ToString(args[0]);
  if (type != "linear" && type != "radial") return refuse();
  Gradient g;
  g.kind = type == "radial" ? GradientKind::Radial : GradientKind::Linear;
  const std::string spread = vm.ToString(ArgAt(args, 5));
  g.spread = spread == "reflect"  ? SpreadMode::Reflect
             : spread == "repeat" ? SpreadMode::Repeat
                                  : SpreadMode::Pad;
  if (vm.ToString(ArgAt(args, 6)) == "linearRGB") g.interpolation = InterpolationMode::LinearRgb;
  const double focal = args.size() > 7 ? vm.ToNumber(args[7]) : 0;
  if (g.kind == GradientKind::Radial && std::isfinite(focal) && focal != 0) {
    g.kind = GradientKind::Focal;
    g.focal_point = float(std::clamp(focal, -1.0, 1.0));
  }
  const std::vector<Value> colors = vm.Elements(args[1].o);
  const std::vector<Value> alphas = vm.Elements(args[2].o);
  const std::vector<Value> ratios = vm.Elements(args[3].o);
  if (colors.size() != alphas.size() || colors.size() != ratios.size()) return refuse();
  const std::size_t n = std::min(colors.size(), std::size_t(15));
  for (std::size_t i = 0; i < n; ++i) {
    const double r = vm.ToNumber(ratios[i]);
    if (r <= -1 || r >= 256) return refuse();
    g.stops.push_back({std::uint8_t(std::isfinite(r) ? std::clamp(r, 0.0, 255.0) : 0),
                       ColorArg(vm, colors[i], alphas[i])});
  }
  if (g.stops.empty()) return Value{};
  avm1::Object* m = args[4].o;
  const auto num = [&](const char* name) {
    const double v = vm.ToNumber(vm.Get(m, name));
    return std::isfinite(v) ? std::clamp(v, -1e7, 1e7) : 0.0;
  };
  if (vm.ToString(vm.Get(m, "matrixType")) == "box") {
    const double w = num("w"), h = num("h"), r = num("r"), x = num("x"), y = num("y");
    // The gradient's square (32768 units) spans the box.
    const double sx = w / 1638.4, sy = h / 1638.4;
    g.matrix = {float(std::cos(r) * sx), float(std::sin(r) * sx), float(-std::sin(r) * sy),
                float(std::cos(r) * sy), float((x + w / 2) * 20), float((y + h / 2) * 20)};
  } else if (!vm.Get(m, "tx").IsUndefined()) {
    // A flash.geom.Matrix (createGradientBox): the gradient square of 1638.4 pixels to pixels.
    g.matrix = {float(num("a")), float(num("b")),       float(num("c")),
                float(num("d")), float(num("tx") * 20), float(num("ty") * 20)};
  } else {
    // a, b, d, e scale (per 1/20 twip of the gradient square), g, h translate: pixels.
    const double k = 20.0 / 16384 * 819.2;
    g.matrix = {float(num("a") * k), float(num("b") * k),  float(num("d") * k),
                float(num("e") * k), float(num("g") * 20), float(num("h") * 20)};
  }
  BeginFill(d, std::move(g));
  return Value{};
}
Value DrMoveTo(avm1::Vm& vm, const Value& self, Args args) {
  Clip* c = SelfClip(self);
  const std::optional<Point> p = PointArgs(vm, args, 0);
  if (!c || !p) return Value{};
  Drawing& d = DrawingOf(*c);
  CloseFill(d);
  d.pen = d.start = *p;
  return Value{};
}
Value DrLineTo(avm1::Vm& vm, const Value& self, Args args) {
  Clip* c = SelfClip(self);
  const std::optional<Point> p = PointArgs(vm, args, 0);
  if (!c || !p) return Value{};
  AddEdge(DrawingOf(*c), *p, nullptr, true);
  return Value{};
}
Value DrCurveTo(avm1::Vm& vm, const Value& self, Args args) {
  Clip* c = SelfClip(self);
  const std::optional<Point> control = PointArgs(vm, args, 0);
  const std::optional<Point> p = PointArgs(vm, args, 2);
  if (!c || !control || !p) return Value{};
  AddEdge(DrawingOf(*c), *p, &*control, true);
  return Value{};
}
Value DrEndFill(avm1::Vm&, const Value& self, Args) {
  Clip* c = SelfClip(self);
  if (!c || !c->drawing) return Value{};
  CloseFill(*c->drawing);
  c->drawing->fill = 0;
  return Value{};
}
Value DrClear(avm1::Vm&, const Value& self, Args) {
  if (Clip* c = SelfClip(self)) c->drawing.reset();
  return Value{};
}

}  // namespace

void Player::State::InstallClipMethods() {
  avm1::Object* proto = vm->clip_proto;
  const auto def = [&](const char* name, avm1::NativeFn fn) { vm->DefineNative(proto, name, fn); };
  def("play", McPlay);
  def("stop", McStop);
  def("gotoAndPlay", McGotoAndPlay);
  def("gotoAndStop", McGotoAndStop);
  def("nextFrame", McNextFrame);
  def("prevFrame", McPrevFrame);
  def("getDepth", McGetDepth);
  def("getNextHighestDepth", McNextHighestDepth);
  def("getInstanceAtDepth", McInstanceAtDepth);
  def("swapDepths", McSwapDepths);
  def("removeMovieClip", McRemove);
  def("duplicateMovieClip", McDuplicate);
  def("attachMovie", McAttach);
  def("createEmptyMovieClip", McCreateEmpty);
  def("getBytesLoaded", McBytesLoaded);
  def("getBytesTotal", McBytesTotal);
  def("getBounds", McBounds);
  def("getRect", McBounds);
  def("hitTest", McHitTest);
  def("localToGlobal", McLocalToGlobal);
  def("globalToLocal", McGlobalToLocal);
  def("getSWFVersion", McSwfVersion);
  def("getURL", McGetUrl);
  def("loadMovie", McLoadMovie);
  def("unloadMovie", McUnloadMovie);
  def("loadVariables", McLoadVariables);
  def("lineStyle", DrLineStyle);
  def("beginFill", DrBeginFill);
  def("beginGradientFill", DrBeginGradientFill);
  def("moveTo", DrMoveTo);
  def("lineTo", DrLineTo);
  def("curveTo", DrCurveTo);
  def("endFill", DrEndFill);
  def("clear", DrClear);
  for (const char* name : {"attachAudio", "attachBitmap", "lineGradientStyle"}) {
    def(name, McLeftOut);
  }
  // The methods Flash Player 6, 7 and 8 brought are hidden from older movies' scripts.
  const auto since = [&](std::uint16_t flag, std::initializer_list<const char*> names) {
    for (const char* name : names) {
      if (avm1::Property* p = vm->FindOwn(proto, name)) p->flags |= flag;
    }
  };
  since(0x0080,
        {"getDepth", "createEmptyMovieClip", "createTextField", "lineStyle", "beginFill",
         "beginGradientFill", "moveTo", "lineTo", "curveTo", "endFill", "clear", "attachAudio"});
  since(0x0400, {"getNextHighestDepth", "getInstanceAtDepth", "getSWFVersion"});
  since(0x1000, {"getRect", "attachBitmap", "lineGradientStyle"});
  avm1::Object* ctor = vm->NewFunction(McCtor, proto);
  vm->Define(vm->global, "MovieClip", Value::Obj(ctor), avm1::DontEnum);
  vm->DefineNative(vm->global, "fscommand", GlobalFsCommand);
}

// ---- Text fields as script objects ---------------------------------------------------------

void Player::State::NewTextBox(Clip& parent, Object& o, std::shared_ptr<const EditText> def,
                               int depth) {
  o.text = std::make_shared<TextBox>(std::move(def), *parent.movie, text_fonts);
  TextBox& box = *o.text;
  box.parent = parent.weak_from_this();
  box.depth = depth;
  box.object = vm->NewObject(text_proto);
  vm->Pin(box.object);
  box.index = &texts;
  texts[box.object] = &box;
  // A bound variable takes the field's text when it has none yet; else the field shows it.
  std::string name;
  if (box.field.Variable().empty()) return;
  if (avm1::Object* home = VariableHome(box, name)) {
    const avm1::Value v = vm->Get(home, name);
    if (v.IsUndefined()) {
      vm->Set(home, name, avm1::Value::Str(box.field.Text()));
      box.shown = box.field.Text();
    }
  }
  SyncVariables();
}

Object* Player::State::DisplayOfText(TextBox& box) {
  const std::shared_ptr<Clip> parent = box.parent.lock();
  if (!parent) return nullptr;
  const auto it = parent->list.find(box.depth);
  return it != parent->list.end() && it->second.text.get() == &box ? &it->second : nullptr;
}

Object* Player::State::DisplayOfAny(avm1::Object* o) {
  if (Clip* clip = ClipOf(o)) return DisplayOf(*clip);
  if (TextBox* box = TextOf(o)) return DisplayOfText(*box);
  return nullptr;
}

std::string Player::State::TextPath(TextBox& box, bool slash) {
  const std::shared_ptr<Clip> parent = box.parent.lock();
  const Object* d = DisplayOfText(box);
  std::string name = d ? d->name : "";
  if (!parent) return name;
  std::string path = vm->ClipPath(parent->object, slash);
  if (slash && path == "/") return "/" + name;
  return path + (slash ? "/" : ".") + name;
}

avm1::Object* Player::State::VariableHome(TextBox& box, std::string& name) {
  const std::shared_ptr<Clip> parent = box.parent.lock();
  const std::string& variable = box.field.Variable();
  if (!parent || !parent->object || variable.empty()) return nullptr;
  std::size_t cut = variable.rfind(':');
  if (cut == std::string::npos) cut = variable.rfind('.');
  if (cut == std::string::npos) {
    name = variable;
    return parent->object;
  }
  name = variable.substr(cut + 1);
  return vm->ResolvePath(parent->object, variable.substr(0, cut));
}

void Player::State::SyncVariables() {
  for (auto& [object, box] : texts) SyncVariable(*box);
}

void Player::State::SyncVariable(TextBox& box) {
  if (box.field.Variable().empty()) return;
  std::string name;
  avm1::Object* home = VariableHome(box, name);
  if (!home || name.empty()) return;
  const avm1::Value v = vm->Get(home, name);
  const std::string text = v.IsUndefined() ? "" : vm->ToString(v);
  if (text == box.shown) return;
  box.shown = text;
  if (box.field.definition().html) {
    box.field.SetHtmlText(text);
  } else {
    box.field.SetText(text);
  }
}

namespace {

// The text field properties scripts read and write, by number.
enum TextProperty : int {
  TpText,
  TpHtmlText,
  TpHtml,
  TpTextColor,
  TpAutoSize,
  TpWordWrap,
  TpMultiline,
  TpBorder,
  TpBorderColor,
  TpBackground,
  TpBackgroundColor,
  TpTextWidth,
  TpTextHeight,
  TpScroll,
  TpMaxScroll,
  TpBottomScroll,
  TpHScroll,
  TpMaxHScroll,
  TpVariable,
  TpSelectable,
  TpType,
  TpPassword,
  TpRestrict,
  TpMaxChars,
  TpEmbedFonts,
  TpAntiAliasType,
  TpLength,
  TpCondenseWhite,
  TpParent,
  TpMouseWheelEnabled,
  TpGridFitType,
  TpThickness,
  TpSharpness,
  TpCount,
};
constexpr const char* kTextPropertyNames[TpCount] = {
    "text",          "htmlText",        "html",
    "textColor",     "autoSize",        "wordWrap",
    "multiline",     "border",          "borderColor",
    "background",    "backgroundColor", "textWidth",
    "textHeight",    "scroll",          "maxscroll",
    "bottomScroll",  "hscroll",         "maxhscroll",
    "variable",      "selectable",      "type",
    "password",      "restrict",        "maxChars",
    "embedFonts",    "antiAliasType",   "length",
    "condenseWhite", "_parent",         "mouseWheelEnabled",
    "gridFitType",   "thickness",       "sharpness"};
// The display properties a text field shares with clips, by their GetProperty number.
constexpr std::pair<const char*, int> kTextDisplayProperties[] = {{"_x", 0},
                                                                  {"_y", 1},
                                                                  {"_xscale", 2},
                                                                  {"_yscale", 3},
                                                                  {"_alpha", 6},
                                                                  {"_visible", 7},
                                                                  {"_width", 8},
                                                                  {"_height", 9},
                                                                  {"_rotation", 10},
                                                                  {"_target", 11},
                                                                  {"_name", 13},
                                                                  {"_url", 15},
                                                                  {"_highquality", 16},
                                                                  {"_focusrect", 17},
                                                                  {"_soundbuftime", 18},
                                                                  {"_quality", 19},
                                                                  {"_xmouse", 20},
                                                                  {"_ymouse", 21}};

Value ColorValue(Rgba c) {
  return Value::Num(double((std::uint32_t(c.r) << 16) | (std::uint32_t(c.g) << 8) | c.b));
}
constexpr std::array<const char*, 3> kGridFitNames = {"none", "pixel", "subpixel"};
const char* AutoSizeName(const EditText& e) {
  return e.auto_size ? AlignName(e.auto_size_side) : "none";
}

// What a text field script object's property reads; undefined once the field is gone.
avm1::Value TextGet(Player::State& s, avm1::Object* o, int which) {
  TextBox* box = s.TextOf(o);
  if (!box) return Value{};
  s.SyncVariable(*box);
  box = s.TextOf(o);  // the variable's getter may have removed the field
  if (!box) return Value{};
  TextField& f = box->field;
  const EditText& e = f.definition();
  const auto px = [](float twips) { return Value::Num(double(twips) / 20); };
  switch (which) {
    case TpText:
      return Value::Str(f.Text());
    case TpHtmlText:
      return Value::Str(e.html ? f.HtmlText() : f.Text());
    case TpHtml:
      return Value::Bool(e.html);
    case TpTextColor:
      return ColorValue(f.NewFormat().color);
    case TpAutoSize:
      return Value::Str(AutoSizeName(e));
    case TpWordWrap:
      return Value::Bool(e.word_wrap);
    case TpMultiline:
      return Value::Bool(e.multiline);
    case TpBorder:
      return Value::Bool(e.border);
    case TpBorderColor:
      return ColorValue(e.border_color);
    case TpBackground:
      return Value::Bool(e.background);
    case TpBackgroundColor:
      return ColorValue(e.background_color);
    case TpTextWidth:
      return Value::Num(std::round(f.Metrics().text_width / 20));
    case TpTextHeight:
      return Value::Num(std::round(f.Metrics().text_height / 20));
    case TpScroll:
      return Value::Num(f.Metrics().scroll);
    case TpMaxScroll:
      return Value::Num(f.Metrics().max_scroll);
    case TpBottomScroll:
      return Value::Num(f.Metrics().bottom_scroll);
    case TpHScroll:
      return px(f.Metrics().hscroll);
    case TpMaxHScroll:
      return px(f.Metrics().max_hscroll);
    case TpVariable:
      return e.variable.empty() ? Value::Null() : Value::Str(e.variable);
    case TpSelectable:
      return Value::Bool(!e.no_select);
    case TpType:
      return Value::Str(e.read_only ? "dynamic" : "input");
    case TpPassword:
      return Value::Bool(e.password);
    case TpRestrict:
      return box->restrict_chars;
    case TpMaxChars:
      return e.max_length > 0 ? Value::Num(e.max_length) : Value::Null();
    case TpEmbedFonts:
      return Value::Bool(e.use_outlines);
    case TpAntiAliasType:
      return Value::Str(e.advanced ? "advanced" : "normal");
    case TpGridFitType:
      return Value::Str(kGridFitNames[std::min<std::size_t>(e.grid_fit, 2)]);
    case TpThickness:
      return Value::Num(e.thickness);
    case TpSharpness:
      return Value::Num(e.sharpness);
    case TpLength:
      return Value::Num(double(f.Length()));
    case TpCondenseWhite:
      return Value::Bool(box->condense_white);
    case TpParent: {
      const std::shared_ptr<Clip> parent = box->parent.lock();
      return parent ? Value::Obj(parent->object) : Value{};
    }
    case TpMouseWheelEnabled:
      return Value::Bool(box->mouse_wheel);
    default:
      return Value{};
  }
}

void TextSet(Player::State& s, avm1::Object* o, int which, const Value& v) {
  TextBox* box = s.TextOf(o);
  if (!box) return;
  avm1::Vm& vm = *s.vm;
  TextField& f = box->field;
  const auto number = [&] { return vm.ToNumber(v); };
  switch (which) {
    case TpText:
      f.SetText(vm.ToString(v));
      break;
    case TpHtmlText:
      f.SetHtmlText(vm.ToString(v));
      break;
    case TpHtml:
      f.Edit().html = vm.ToBoolean(v);
      return;
    case TpTextColor: {
      FormatChange c;
      c.color = RgbOf(vm, v);
      f.ApplyFormat(0, f.Length(), c);
      f.SetNewFormat(c);
      f.Edit().color = *c.color;
      return;
    }
    case TpAutoSize: {
      EditText& e = f.Edit();
      if (v.type == avm1::Type::Boolean) {
        e.auto_size = v.b;
        e.auto_size_side = EditText::Align::Left;
        return;
      }
      const std::string side = vm.ToString(v);
      e.auto_size = true;
      if (side == "left") {
        e.auto_size_side = EditText::Align::Left;
      } else if (side == "right") {
        e.auto_size_side = EditText::Align::Right;
      } else if (side == "center") {
        e.auto_size_side = EditText::Align::Center;
      } else {
        e.auto_size = false;
      }
      return;
    }
    case TpWordWrap:
      f.Edit().word_wrap = vm.ToBoolean(v);
      return;
    case TpMultiline:
      f.Edit().multiline = vm.ToBoolean(v);
      return;
    case TpBorder:
      f.Edit().border = vm.ToBoolean(v);
      return;
    case TpBorderColor:
      f.Edit().border_color = RgbOf(vm, v);
      return;
    case TpBackground:
      f.Edit().background = vm.ToBoolean(v);
      return;
    case TpBackgroundColor:
      f.Edit().background_color = RgbOf(vm, v);
      return;
    case TpScroll: {
      const double n = number();
      if (std::isfinite(n)) f.SetScroll(int(std::clamp(n, -1e6, 1e6)));
      return;
    }
    case TpHScroll: {
      const double n = number();
      if (std::isfinite(n)) f.SetHScroll(float(std::clamp(n, -1e6, 1e6) * 20));
      return;
    }
    case TpVariable:
      f.Edit().variable = v.IsNullish() ? "" : vm.ToString(v);
      box->shown.clear();
      s.SyncVariables();
      return;
    case TpSelectable:
      f.Edit().no_select = !vm.ToBoolean(v);
      return;
    case TpType: {
      const std::string type = vm.ToString(v);
      if (SameIgnoringCase(type, "input")) f.Edit().read_only = false;
      if (SameIgnoringCase(type, "dynamic")) f.Edit().read_only = true;
      return;
    }
    case TpPassword:
      f.Edit().password = vm.ToBoolean(v);
      return;
    case TpRestrict:
      box->restrict_chars = Value::Str(vm.ToString(v));
      if (v.IsNullish() || box->restrict_chars.s.empty()) box->restrict_chars = Value::Null();
      return;
    case TpMaxChars: {
      const double n = number();
      f.Edit().max_length = std::isfinite(n) && n > 0 ? int(std::min(n, 1e6)) : 0;
      return;
    }
    case TpEmbedFonts:
      f.Edit().use_outlines = vm.ToBoolean(v);
      return;
    case TpAntiAliasType: {
      const std::string type = vm.ToString(v);
      if (type == "normal" || type == "advanced") f.Edit().advanced = type == "advanced";
      return;
    }
    case TpGridFitType: {
      const std::string type = vm.ToString(v);
      for (std::size_t i = 0; i < kGridFitNames.size(); ++i) {
        if (type == kGridFitNames[i]) f.Edit().grid_fit = std::uint8_t(i);
      }
      return;
    }
    case TpThickness:
      f.Edit().thickness = number();
      return;
    case TpSharpness:
      f.Edit().sharpness = number();
      return;
    case TpCondenseWhite:
      box->condense_white = vm.ToBoolean(v);
      return;
    case TpMouseWheelEnabled:
      box->mouse_wheel = vm.ToBoolean(v);
      return;
    default:
      return;
  }
  // The text changed: a bound variable follows it.
  std::string name;
  if (avm1::Object* home = s.VariableHome(*box, name)) {
    box->shown = f.Text();
    vm.Set(home, name, Value::Str(box->shown));
  }
}

template <int which>
Value TextGetter(avm1::Vm& vm, const Value& self, Args) {
  return self.IsObject() ? TextGet(StateOf(vm), self.o, which) : Value{};
}
template <int which>
Value TextSetter(avm1::Vm& vm, const Value& self, Args args) {
  if (self.IsObject()) TextSet(StateOf(vm), self.o, which, ArgAt(args, 0));
  return Value{};
}
template <int index>
Value DisplayGetter(avm1::Vm& vm, const Value& self, Args) {
  return self.IsObject() ? StateOf(vm).GetProperty(self.o, index) : Value{};
}
template <int index>
Value DisplaySetter(avm1::Vm& vm, const Value& self, Args args) {
  if (self.IsObject()) StateOf(vm).SetProperty(self.o, index, ArgAt(args, 0));
  return Value{};
}

void DefineAccessor(avm1::Vm& vm, avm1::Object* proto, const char* name, avm1::NativeFn get,
                    avm1::NativeFn set) {
  vm.Define(proto, name, Value{}, avm1::DontEnum | avm1::DontDelete);
  if (avm1::Property* p = vm.FindOwn(proto, name)) {
    p->getter = vm.NewFunction(get);
    p->setter = set ? vm.NewFunction(set) : nullptr;
  }
}

template <int... which>
void DefineTextAccessors(avm1::Vm& vm, avm1::Object* proto, std::integer_sequence<int, which...>) {
  (DefineAccessor(vm, proto, kTextPropertyNames[which], TextGetter<which>, TextSetter<which>), ...);
}
template <std::size_t... i>
void DefineDisplayAccessors(avm1::Vm& vm, avm1::Object* proto, std::index_sequence<i...>) {
  (DefineAccessor(vm, proto, kTextDisplayProperties[i].first,
                  DisplayGetter<kTextDisplayProperties[i].second>,
                  DisplaySetter<kTextDisplayProperties[i].second>),
   ...);
}

// [begin, end) from a method's first arguments: none for all the text, one for a character.
std::pair<std::size_t, std::size_t> RangeArgs(avm1::Vm& vm, Args args, std::size_t count,
                                              std::size_t length) {
  const auto at = [&](std::size_t i, std::size_t fallback) {
    if (i >= count || i >= args.size()) return fallback;
    const double n = vm.ToNumber(args[i]);
    if (!std::isfinite(n) || n < 0) return fallback;
    return std::size_t(std::min(n, double(length)));
  };
  if (count == 0) return {0, length};
  const std::size_t begin = at(0, 0);
  return {begin, count >= 2 ? at(1, length) : begin + 1};
}

Value TfGetTextFormat(avm1::Vm& vm, const Value& self, Args args) {
  TextBox* box = self.IsObject() ? StateOf(vm).TextOf(self.o) : nullptr;
  if (!box) return Value{};
  const auto [begin, end] =
      RangeArgs(vm, args, std::min<std::size_t>(args.size(), 2), box->field.Length());
  return Value::Obj(TextFormatObject(vm, box->field.FormatOf(begin, end)));
}
Value TfSetTextFormat(avm1::Vm& vm, const Value& self, Args args) {
  TextBox* box = self.IsObject() ? StateOf(vm).TextOf(self.o) : nullptr;
  if (!box || args.empty() || !args.back().IsObject()) return Value{};
  const FormatChange change = FormatFromObject(vm, args.back().o);
  const auto [begin, end] = RangeArgs(vm, args, args.size() - 1, box->field.Length());
  box->field.ApplyFormat(begin, end, change);
  return Value{};
}
Value TfGetNewTextFormat(avm1::Vm& vm, const Value& self, Args) {
  TextBox* box = self.IsObject() ? StateOf(vm).TextOf(self.o) : nullptr;
  if (!box) return Value{};
  return Value::Obj(TextFormatObject(vm, FormatChange::Of(box->field.NewFormat())));
}
Value TfSetNewTextFormat(avm1::Vm& vm, const Value& self, Args args) {
  TextBox* box = self.IsObject() ? StateOf(vm).TextOf(self.o) : nullptr;
  if (!box || args.empty() || !args[0].IsObject()) return Value{};
  box->field.SetNewFormat(FormatFromObject(vm, args[0].o));
  return Value{};
}
Value TfReplaceText(avm1::Vm& vm, const Value& self, Args args) {
  TextBox* box = self.IsObject() ? StateOf(vm).TextOf(self.o) : nullptr;
  if (!box || args.size() < 3) return Value{};
  const auto [begin, end] = RangeArgs(vm, args, 2, box->field.Length());
  box->field.Replace(begin, std::max(begin, end), vm.ToString(args[2]));
  return Value{};
}
Value TfRemove(avm1::Vm& vm, const Value& self, Args) {
  Player::State& s = StateOf(vm);
  TextBox* box = self.IsObject() ? s.TextOf(self.o) : nullptr;
  if (!box || box->depth < kDepthBias) return Value{};
  const std::shared_ptr<Clip> parent = box->parent.lock();
  Object* d = parent ? s.DisplayOfText(*box) : nullptr;
  if (!d) return Value{};
  s.FocusLeaving(*d);
  parent->list.erase(box->depth);
  --s.census.objects;
  return Value{};
}
Value TfReplaceSel(avm1::Vm& vm, const Value& self, Args args) {
  TextBox* box = self.IsObject() ? StateOf(vm).TextOf(self.o) : nullptr;
  if (!box || args.empty()) return Value{};
  StateOf(vm).ReplaceSelection(*box, DecodeUtf8(vm.ToString(args[0]), TextField::kMaxChars));
  return Value{};
}
Value TfGetDepth(avm1::Vm& vm, const Value& self, Args) {
  TextBox* box = self.IsObject() ? StateOf(vm).TextOf(self.o) : nullptr;
  return box ? Value::Num(box->depth - kDepthBias) : Value{};
}
Value TfToString(avm1::Vm& vm, const Value& self, Args) {
  TextBox* box = self.IsObject() ? StateOf(vm).TextOf(self.o) : nullptr;
  return box ? Value::Str(StateOf(vm).TextPath(*box, false)) : Value::Str("[object Object]");
}
Value TfTrue(avm1::Vm&, const Value&, Args) {
  return Value::Bool(true);
}
Value TfCtor(avm1::Vm&, const Value&, Args) {
  return Value{};
}

Value TfGetTextExtent(avm1::Vm& vm, const Value& self, Args args) {
  return TextExtentObject(vm, StateOf(vm).text_fonts, self, args);
}

Value McCreateTextField(avm1::Vm& vm, const Value& self, Args args) {
  Clip* c = SelfClip(self);
  if (!c || args.size() < 6) return Value{};
  Player::State& s = StateOf(vm);
  const std::optional<int> depth = ScriptDepth(vm, args[1]);
  if (!depth) return Value{};
  // Whole pixels, as Flash takes them.
  double box[4];
  for (int i = 0; i < 4; ++i) {
    box[i] = vm.ToInt32(args[2 + std::size_t(i)]);
  }
  auto def = std::make_shared<EditText>();
  // A negative size reaches back from the position.
  const auto span = [](double size) { return float(size * 20); };
  def->bounds = {std::min(0.0f, span(box[2])), std::max(0.0f, span(box[2])),
                 std::min(0.0f, span(box[3])), std::max(0.0f, span(box[3]))};
  def->read_only = true;
  Object o;
  o.name = vm.ToString(args[0]);
  o.matrix.tx = float(std::round(box[0] * 20));
  o.matrix.ty = float(std::round(box[1] * 20));
  TextBox* made = s.PlaceTextField(*c, *depth, std::move(o), std::move(def));
  if (!made || vm.version() < 8) return Value{};
  return Value::Obj(made->object);
}

}  // namespace

void Player::State::InstallTextFieldMethods() {
  text_proto = vm->NewObject();
  DefineTextAccessors(*vm, text_proto, std::make_integer_sequence<int, TpCount>{});
  DefineDisplayAccessors(*vm, text_proto,
                         std::make_index_sequence<std::size(kTextDisplayProperties)>{});
  const auto def = [&](const char* name, avm1::NativeFn fn) {
    vm->DefineNative(text_proto, name, fn);
  };
  def("getTextFormat", TfGetTextFormat);
  def("setTextFormat", TfSetTextFormat);
  def("getNewTextFormat", TfGetNewTextFormat);
  def("setNewTextFormat", TfSetNewTextFormat);
  def("replaceText", TfReplaceText);
  def("replaceSel", TfReplaceSel);
  def("removeTextField", TfRemove);
  def("getDepth", TfGetDepth);
  def("toString", TfToString);
  def("addListener", TfTrue);
  def("removeListener", TfTrue);
  avm1::Object* ctor = vm->NewFunction(TfCtor, text_proto);
  // The script-side TextField carried the StyleSheet class: it stays on the player's own.
  if (const avm1::Property* old = vm->FindOwn(vm->global, "TextField");
      old && old->value.IsObject()) {
    if (const avm1::Property* sheet = vm->FindOwn(old->value.o, "StyleSheet")) {
      vm->Define(ctor, "StyleSheet", sheet->value, sheet->flags);
    }
  }
  vm->Define(vm->global, "TextField", Value::Obj(ctor), avm1::DontEnum);
  vm->DefineNative(InstallTextFormat(*vm), "getTextExtent", TfGetTextExtent);
  vm->DefineNative(vm->clip_proto, "createTextField", McCreateTextField);
}

// ---- Clip properties beyond the numbered ones ----------------------------------------------

namespace {

constexpr const char* kBlendNames[] = {"normal", "layer",      "multiply", "screen",   "lighten",
                                       "darken", "difference", "add",      "subtract", "invert",
                                       "alpha",  "erase",      "overlay",  "hardlight"};

Object* SelfDisplay(avm1::Vm& vm, const Value& self) {
  return self.IsObject() ? StateOf(vm).DisplayOfAny(self.o) : nullptr;
}

Value GetOpaqueBackground(avm1::Vm& vm, const Value& self, Args) {
  const Object* d = SelfDisplay(vm, self);
  if (!d || !d->background) return d ? Value::Null() : Value{};
  const Rgba c = *d->background;
  return Value::Num(double((std::uint32_t(c.r) << 16) | (std::uint32_t(c.g) << 8) | c.b));
}
Value SetOpaqueBackground(avm1::Vm& vm, const Value& self, Args args) {
  Object* d = SelfDisplay(vm, self);
  if (!d) return Value{};
  const Value v = ArgAt(args, 0);
  if (v.IsNullish()) {
    d->background.reset();
  } else {
    d->background = RgbOf(vm, v);
  }
  return Value{};
}
Value GetBlendMode(avm1::Vm& vm, const Value& self, Args) {
  const Object* d = SelfDisplay(vm, self);
  if (!d) return Value{};
  const auto i = std::size_t(d->blend);
  return Value::Str(i < std::size(kBlendNames) ? kBlendNames[i] : "normal");
}
Value SetBlendMode(avm1::Vm& vm, const Value& self, Args args) {
  Object* d = SelfDisplay(vm, self);
  if (!d || args.empty()) return Value{};
  const Value v = args[0];
  if (v.type == avm1::Type::Number) {
    // The file's numbering: 1 normal .. 14 hardlight.
    if (v.n >= 1 && v.n <= 14) d->blend = BlendMode(int(v.n) - 1);
    return Value{};
  }
  const std::string name = vm.ToString(v);
  for (std::size_t i = 0; i < std::size(kBlendNames); ++i) {
    if (name == kBlendNames[i]) d->blend = BlendMode(i);
  }
  return Value{};
}
Value GetLockRoot(avm1::Vm&, const Value& self, Args) {
  const Clip* c = SelfClip(self);
  return c ? Value::Bool(c->lock_root) : Value{};
}
Value SetLockRoot(avm1::Vm& vm, const Value& self, Args args) {
  if (Clip* c = SelfClip(self)) c->lock_root = vm.ToBoolean(ArgAt(args, 0));
  return Value{};
}
Value GetCacheAsBitmap(avm1::Vm& vm, const Value& self, Args) {
  const Object* d = SelfDisplay(vm, self);
  return d ? Value::Bool(d->cache_as_bitmap) : Value{};
}
Value SetCacheAsBitmap(avm1::Vm& vm, const Value& self, Args args) {
  if (Object* d = SelfDisplay(vm, self)) d->cache_as_bitmap = vm.ToBoolean(ArgAt(args, 0));
  return Value{};
}

// scrollRect: a flash.geom.Rectangle (pixels) or undefined.
Value GetScrollRect(avm1::Vm& vm, const Value& self, Args) {
  const Object* d = SelfDisplay(vm, self);
  if (!d || !d->scroll_rect) return Value{};
  const Rect& r = *d->scroll_rect;
  return avm1::MakeRectangle(vm, r.x_min / 20.0, r.y_min / 20.0, (r.x_max - r.x_min) / 20.0,
                             (r.y_max - r.y_min) / 20.0);
}
Value SetScrollRect(avm1::Vm& vm, const Value& self, Args args) {
  Object* d = SelfDisplay(vm, self);
  if (!d) return Value{};
  const Value v = ArgAt(args, 0);
  if (!v.IsObject()) {
    d->scroll_rect.reset();
    return Value{};
  }
  const auto twips = [&](const char* name) {
    const double n = vm.ToNumber(vm.GetMember(v, name)) * 20;
    return float(std::isfinite(n) ? std::clamp(n, -1e8, 1e8) : 0.0);
  };
  const float x = twips("x"), y = twips("y");
  d->scroll_rect =
      Rect{x, x + std::max(twips("width"), 0.0f), y, y + std::max(twips("height"), 0.0f)};
  return Value{};
}

}  // namespace

void Player::State::InstallDisplayProperties(avm1::Object* proto) {
  DefineAccessor(*vm, proto, "opaqueBackground", GetOpaqueBackground, SetOpaqueBackground);
  DefineAccessor(*vm, proto, "blendMode", GetBlendMode, SetBlendMode);
  DefineAccessor(*vm, proto, "cacheAsBitmap", GetCacheAsBitmap, SetCacheAsBitmap);
  DefineAccessor(*vm, proto, "scrollRect", GetScrollRect, SetScrollRect);
}

// ---- Buttons and the pointer ---------------------------------------------------------------

void Player::State::SetButtonState(Clip& button, std::uint8_t state) {
  button.button_state = state;
  std::map<int, Object> old = std::move(button.list);
  button.list.clear();
  census.objects -= old.size();
  for (const Button::Record& rec : button.button->records) {
    if (!(rec.states & state) || button.list.count(rec.depth) || census.objects >= kMaxObjects) {
      continue;
    }
    ++census.objects;
    // What both states show stays as it is (a sprite keeps playing).
    const auto kept = old.find(rec.depth);
    Object o;
    if (kept != old.end() && kept->second.character == rec.character) {
      o = std::move(kept->second);
      old.erase(kept);
    }
    Object& placed = button.list.insert_or_assign(rec.depth, std::move(o)).first->second;
    placed.matrix = rec.matrix;
    placed.color = rec.color;
    placed.filters = rec.filters;
    placed.blend = rec.blend;
    if (!placed.def) SetCharacter(button, placed, rec.character, rec.depth);
  }
  for (auto& [depth, o] : old) Unload(o);
}

bool Player::State::Interactive(Clip& clip) {
  if (!clip.object) return false;
  if (!clip.button) {
    bool handlers = false;
    for (const ClipAction& a : clip.events) handlers |= (a.events & EventPointer) != 0;
    for (const char* method : {"onPress", "onRelease", "onReleaseOutside", "onRollOver",
                               "onRollOut", "onDragOver", "onDragOut"}) {
      if (handlers) break;
      const avm1::Value v = vm->Get(clip.object, method);
      handlers = v.IsObject() && v.o->kind == avm1::Kind::Function;
    }
    if (!handlers) return false;
  }
  // Only a defined false value disables (an undefined `enabled` still hears the pointer).
  const avm1::Value enabled = vm->Get(clip.object, "enabled");
  return enabled.IsUndefined() || vm->ToBoolean(enabled);
}

std::shared_ptr<Clip> Player::State::Pick(Clip& clip, const Matrix& m, Point p, int nesting) {
  if (nesting > kMaxNesting) return nullptr;
  for (auto it = clip.list.rbegin(); it != clip.list.rend(); ++it) {
    Object& o = it->second;
    if (!o.visible || !o.clip || o.clip_depth > 0) continue;
    const Matrix om = o.matrix.Then(m);
    Clip& child = *o.clip;
    if (Interactive(child)) {
      bool hit = false;
      if (child.button) {
        // A button is hit where its hit state's records draw.
        for (const Button::Record& rec : child.button->records) {
          if (!(rec.states & Button::Hit) || hit) continue;
          Object shape;
          shape.def = child.movie->Find(rec.character);
          shape.character = rec.character;
          hit = shape.def && HitsShape(shape, rec.matrix.Then(om), p, nesting + 1);
          if (!hit && shape.def &&
              std::holds_alternative<std::shared_ptr<const Sprite>>(*shape.def)) {
            // A sprite in the hit state: its first frame's shapes.
            const Timeline& t = std::get<std::shared_ptr<const Sprite>>(*shape.def)->timeline;
            for (const ControlTag& tag : t.frames.front().tags) {
              const auto* place = std::get_if<PlaceTag>(&tag);
              if (!place || hit) continue;
              Object part;
              part.def = child.movie->Find(place->character);
              const Matrix pm = place->matrix ? *place->matrix : Matrix{};
              hit = part.def && HitsShape(part, pm.Then(rec.matrix.Then(om)), p, nesting + 2);
            }
          }
        }
      } else {
        const avm1::Value area = vm->Get(child.object, "hitArea");
        Clip* area_clip = area.IsObject() ? ClipOf(area.o) : nullptr;
        if (area_clip && area_clip != &child) {
          Object* ad = DisplayOf(*area_clip);
          const std::shared_ptr<Clip> area_parent = area_clip->parent.lock();
          hit =
              ad && HitsShape(*ad, ad->matrix.Then(area_parent ? ToStage(*area_parent) : Matrix{}),
                              p, nesting + 1);
        } else {
          hit = HitsShape(o, om, p, nesting + 1);
        }
      }
      if (hit) return o.clip;
      continue;
    }
    if (std::shared_ptr<Clip> inner = Pick(child, om, p, nesting + 1)) return inner;
  }
  return nullptr;
}

// The innermost clip under the pointer whose own shapes are hit, the dragged one left out.
std::shared_ptr<Clip> Player::State::DropTarget(Clip& clip, const Matrix& m, int nesting) {
  if (nesting > kMaxNesting) return nullptr;
  const std::shared_ptr<Clip> moving = dragged.lock();
  for (auto it = clip.list.rbegin(); it != clip.list.rend(); ++it) {
    Object& o = it->second;
    if (!o.visible || o.clip_depth > 0 || (o.clip && o.clip == moving)) continue;
    const Matrix om = o.matrix.Then(m);
    if (o.clip) {
      if (std::shared_ptr<Clip> inner = DropTarget(*o.clip, om, nesting + 1)) return inner;
      if (o.clip->drawing && HitsShape(o, om, pointer, nesting + 1)) return o.clip;
    } else if (HitsShape(o, om, pointer, nesting + 1)) {
      return clip.shared_from_this();
    }
  }
  return nullptr;
}

void Player::State::Fire(const std::shared_ptr<Clip>& clip, const PointerEvent& e) {
  if (!clip || !clip->object) return;
  if (clip->button) {
    // A button's actions run on the timeline it sits on.
    const std::shared_ptr<Clip> parent = clip->parent.lock();
    for (const Button::Action& a : clip->button->actions) {
      if ((a.conditions & e.condition) && parent && queue.size() < kMaxQueued) {
        queue.push_back(Pending{parent, nullptr, a.code, nullptr});
      }
    }
    if (queue.size() < kMaxQueued) queue.push_back(Pending{clip, nullptr, {}, e.method});
    return;
  }
  QueueEvent(clip, e.event, e.method);
}

void Player::State::QueueMouse(Clip& clip, std::uint32_t event, const char* method) {
  for (auto it = clip.list.rbegin(); it != clip.list.rend(); ++it) {
    if (it->second.clip && !it->second.clip->button) QueueMouse(*it->second.clip, event, method);
  }
  QueueEvent(clip.shared_from_this(), event, method);
}

void Player::State::BroadcastMouse(std::uint32_t event, const char* method) {
  QueueMouse(*root, event, method);
  RunInput();
  // Mouse.addListener's listeners, through the object's own broadcast.
  const avm1::Value mouse = vm->Get(vm->global, "Mouse");
  if (!mouse.IsObject()) return;
  const avm1::Value broadcast = vm->Get(mouse.o, "broadcastMessage");
  if (!broadcast.IsObject() || broadcast.o->kind != avm1::Kind::Function) return;
  avm1::Value name[1] = {avm1::Value::Str(method)};
  vm->CallSafe(broadcast.o, avm1::Value::Obj(mouse.o), name);
}

// Scripts started by input run at once, with a tick's budget of their own.
void Player::State::BeginInputRun() {
  blocks_left = kMaxBlocksPerTick;
  tags_left = kMaxTagsPerTick;
  vm->BeginFrame();
}

void Player::State::RunInput() {
  BeginInputRun();
  RunQueue();
  SyncVariables();
}

void Player::State::FollowDrag() {
  const std::shared_ptr<Clip> clip = dragged.lock();
  Object* d = clip ? DisplayOf(*clip) : nullptr;
  const std::shared_ptr<Clip> parent = clip ? clip->parent.lock() : nullptr;
  if (!d || !parent) return;
  const std::optional<Matrix> back = ToStage(*parent).Inverse();
  if (!back) return;
  Point at = back->Apply(pointer);
  at.x += drag_offset.x;
  at.y += drag_offset.y;
  if (drag_limits) {
    at.x = std::clamp(at.x, drag_limits->x_min, std::max(drag_limits->x_min, drag_limits->x_max));
    at.y = std::clamp(at.y, drag_limits->y_min, std::max(drag_limits->y_min, drag_limits->y_max));
  }
  d->matrix.tx = at.x;
  d->matrix.ty = at.y;
}

void Player::State::StartDrag(avm1::Object* o, bool lock) {
  Clip* clip = ClipOf(o);
  Object* d = clip ? DisplayOf(*clip) : nullptr;
  const std::shared_ptr<Clip> parent = clip ? clip->parent.lock() : nullptr;
  if (!d || !parent) return;
  dragged = clip->weak_from_this();
  drag_limits.reset();
  drag_offset = {};
  if (!lock) {
    const std::optional<Matrix> back = ToStage(*parent).Inverse();
    const Point at = back ? back->Apply(pointer) : pointer;
    drag_offset = {d->matrix.tx - at.x, d->matrix.ty - at.y};
  }
  FollowDrag();
}

void Player::State::PointerMove(Point p) {
  highlight = false;
  const bool moved = p.x != pointer.x || p.y != pointer.y;
  pointer = p;
  FollowDrag();
  BroadcastMouse(EventMouseMove, "onMouseMove");
  if (!moved && hover_by_focus) return;
  const std::shared_ptr<Clip> over = Pick(*root, root_display.matrix, pointer, 0);
  const std::shared_ptr<Clip> before = hovered.lock();
  if (over == before) return;
  hovered = over;
  hover_by_focus = false;
  if (pointer_down) {
    // With the button held, the pointer drags off one and over the next.
    const std::shared_ptr<Clip> down = pressed.lock();
    if (before) {
      if (before->button) SetButtonState(*before, before == down ? Button::Over : Button::Up);
      Fire(before, kDragOut);
    }
    if (over) {
      if (over->button && over == down) SetButtonState(*over, Button::Down);
      Fire(over, kDragOver);
    }
    RunInput();
    return;
  }
  if (before) {
    if (before->button) SetButtonState(*before, Button::Up);
    Fire(before, kRollOut);
  }
  if (over) {
    if (over->button) SetButtonState(*over, Button::Over);
    Fire(over, kRollOver);
  }
  RunInput();
}

void Player::State::PointerButton(bool down) {
  if (down == pointer_down) return;
  pointer_down = down;
  highlight = false;
  BroadcastMouse(down ? EventMouseDown : EventMouseUp, down ? "onMouseDown" : "onMouseUp");
  if (down) {
    // A press gives the focus to a selectable text field under it, and takes it from anything
    // else.
    TextBox* text = TextAt(*root, root_display.matrix, pointer, 0);
    avm1::Object* next = text && !text->field.definition().no_select ? text->object : nullptr;
    if (next != Focus()) {
      ChangeFocus(next);
      RunInput();
    }
    // Found again: the focus's scripts may have removed the field.
    if (TextBox* under = TextAt(*root, root_display.matrix, pointer, 0)) FollowLink(*under);
  }
  const std::shared_ptr<Clip> over = Pick(*root, root_display.matrix, pointer, 0);
  if (down) {
    if (!over) return;
    hovered = over;
    pressed = over;
    if (over->button) SetButtonState(*over, Button::Down);
    Fire(over, kPress);
    RunInput();
    return;
  }
  const std::shared_ptr<Clip> was = pressed.lock();
  pressed.reset();
  if (!was) return;
  if (over == was) {
    if (was->button) SetButtonState(*was, Button::Over);
    Fire(was, kRelease);
  } else {
    if (was->button) SetButtonState(*was, Button::Up);
    Fire(was, kReleaseOutside);
    hovered = over;
    if (over) {
      if (over->button) SetButtonState(*over, Button::Over);
      Fire(over, kRollOver);
    }
  }
  RunInput();
}

// A keyPress's code as the file numbers it: the special keys 1 to 19, else the character.
int KeyPressCode(int key, char32_t character) {
  switch (key) {
    case 37:
      return 1;  // left
    case 39:
      return 2;  // right
    case 36:
      return 3;  // home
    case 35:
      return 4;  // end
    case 45:
      return 5;  // insert
    case 46:
      return 6;  // delete
    case 8:
      return 8;  // backspace
    case 13:
      return 13;  // enter
    case 38:
      return 14;  // up
    case 40:
      return 15;  // down
    case 33:
      return 16;  // page up
    case 34:
      return 17;  // page down
    case 9:
      return 18;  // tab
    case 27:
      return 19;  // escape
    default:
      return character >= 32 && character < 127 ? int(character) : 0;
  }
}

void Player::State::QueueKeyPress(Clip& clip, int code) {
  for (auto it = clip.list.rbegin(); it != clip.list.rend(); ++it) {
    if (it->second.clip) QueueKeyPress(*it->second.clip, code);
  }
  const std::shared_ptr<Clip> self = clip.shared_from_this();
  if (clip.button) {
    const std::shared_ptr<Clip> parent = clip.parent.lock();
    for (const Button::Action& a : clip.button->actions) {
      if (a.key == code && parent) Enqueue(Pending{parent, nullptr, a.code, nullptr});
    }
    return;
  }
  for (const ClipAction& a : clip.events) {
    if ((a.events & EventKeyPress) && a.key == code) {
      Enqueue(Pending{self, nullptr, a.code, nullptr});
    }
  }
}

void Player::State::Key(int key, char32_t character, bool down) {
  if (down) {
    keys_down.insert(key);
    last_key = key;
    last_char = int(character);
    if (key == 20) caps_lock = !caps_lock;
  } else {
    keys_down.erase(key);
    last_key = key;
  }
  QueueMouse(*root, down ? EventKeyDown : EventKeyUp, nullptr);
  // A highlighted clip or button hears the key through its own onKeyDown and onKeyUp; Enter
  // and Space press it when its rectangle shows.
  if (Clip* focused = highlight ? ClipOf(Focus()) : nullptr) {
    const std::shared_ptr<Clip> self = focused->shared_from_this();
    Enqueue(Pending{self, nullptr, {}, down ? "onKeyDown" : "onKeyUp"});
    if (down && (key == 13 || key == 32) && focused->focus_rect.value_or(focus_rect)) {
      Fire(self, kPress);
      Fire(self, kRelease);
    }
  }
  if (down) {
    if (const int code = KeyPressCode(key, character)) QueueKeyPress(*root, code);
  }
  RunInput();
  // Key.addListener's listeners, through the object's own broadcast.
  const avm1::Value keys = vm->Get(vm->global, "Key");
  if (!keys.IsObject()) return;
  const avm1::Value broadcast = vm->Get(keys.o, "broadcastMessage");
  if (!broadcast.IsObject() || broadcast.o->kind != avm1::Kind::Function) return;
  avm1::Value name[1] = {avm1::Value::Str(down ? "onKeyDown" : "onKeyUp")};
  vm->CallSafe(broadcast.o, avm1::Value::Obj(keys.o), name);
  RunInput();
  if (down && key == 9) {
    TabFocus(keys_down.count(16) > 0);
    RunInput();
  }
}

// ---- Keyboard focus ------------------------------------------------------------------------

std::optional<bool> Player::State::Flag(avm1::Object* o, const char* name) {
  const avm1::Value v = vm->Get(o, name);
  if (v.IsUndefined()) return std::nullopt;
  return vm->ToBoolean(v);
}

avm1::Object* Player::State::Focus() {
  if (Clip* clip = ClipOf(focus); clip && OnStage(*clip)) return focus;
  if (TextBox* box = TextOf(focus)) {
    const std::shared_ptr<Clip> parent = box->parent.lock();
    if (parent && DisplayOfText(*box) && OnStage(*parent)) return focus;
  }
  return nullptr;
}

std::string Player::State::FocusPath() {
  avm1::Object* o = Focus();
  if (TextBox* box = TextOf(o)) return TextPath(*box, false);
  return o ? vm->ClipPath(o, false) : "";
}

// Movie clips act as buttons once they have one of these, even undefined.
constexpr const char* kButtonHandlers[] = {"onDragOut", "onDragOver",       "onPress",
                                           "onRelease", "onReleaseOutside", "onRollOut",
                                           "onRollOver"};

bool Player::State::SetFocus(avm1::Object* target) {
  if (target) {
    Clip* clip = ClipOf(target);
    if (clip) {
      bool can = clip->button != nullptr || Flag(target, "focusEnabled").value_or(false);
      for (const char* name : kButtonHandlers) can = can || vm->HasProperty(target, name);
      if (clip == root.get() || !OnStage(*clip) || !can) return false;
    } else if (TextBox* box = TextOf(target)) {
      const std::shared_ptr<Clip> parent = box->parent.lock();
      if (!parent || !DisplayOfText(*box) || !OnStage(*parent)) return false;
    } else {
      return false;
    }
  }
  highlight = true;
  if (target != Focus()) {
    ChangeFocus(target);
  } else {
    // Focusing a clip or button again rolls the highlight off it and on again.
    FocusRoll(target, target);
  }
  return true;
}

void Player::State::FocusRoll(avm1::Object* old, avm1::Object* next) {
  // The focus rolls over what it gives the highlight to, as the pointer would.
  const std::shared_ptr<Clip> before = hovered.lock();
  if (before && before.get() == ClipOf(old)) {
    hovered.reset();
    Fire(before, kRollOut);
  }
  if (Clip* clip = ClipOf(next)) {
    hovered = clip->weak_from_this();
    hover_by_focus = true;
    Fire(clip->shared_from_this(), kRollOver);
  }
}

void Player::State::GetSelection(int* begin, int* end, int* caret) {
  *begin = *end = *caret = -1;
  TextBox* box = TextOf(Focus());
  // Flash reports a selection once one was made or typed in since the focus came.
  if (!box || box->field.definition().no_select || !selection_made) return;
  const std::size_t n = box->field.Length();
  const std::size_t a = std::min(box->anchor, n);
  const std::size_t c = std::min(box->caret, n);
  *begin = int(std::min(a, c));
  *end = int(std::max(a, c));
  *caret = int(c);
}

void Player::State::SetSelection(int begin, int end) {
  TextBox* box = TextOf(Focus());
  if (!box) return;
  const int n = int(box->field.Length());
  box->anchor = std::size_t(std::clamp(begin, 0, n));
  box->caret = std::size_t(std::clamp(end, 0, n));
  selection_made = true;
}

void Player::State::ReplaceSelection(TextBox& box, std::u32string_view text) {
  const std::size_t n = box.field.Length();
  const std::size_t begin = std::min({box.anchor, box.caret, n});
  const std::size_t end = std::min(std::max(box.anchor, box.caret), n);
  box.field.Replace(begin, end, EncodeUtf8(text));
  box.anchor = box.caret = std::min(begin + text.size(), box.field.Length());
  selection_made = true;
}

void Player::State::TypeText(std::u32string_view typed) {
  TextBox* box = TextOf(Focus());
  if (!box || box->field.definition().read_only) return;
  std::optional<Restrict> restrict;
  if (box->restrict_chars.type == avm1::Type::String) {
    // Each character typed is checked against every rule: a long restrict stays cheap.
    restrict.emplace(DecodeUtf8(box->restrict_chars.s, kMaxRestrictChars));
  }
  const EditText& e = box->field.definition();
  const std::size_t selected =
      std::max(box->anchor, box->caret) - std::min(box->anchor, box->caret);
  const std::u32string text = TypedText(typed, restrict, e.multiline, box->field.Length(), selected,
                                        std::size_t(std::max(0, e.max_length)));
  if (text.empty()) return;
  ReplaceSelection(*box, text);
  // A bound variable takes the new text.
  std::string name;
  if (avm1::Object* home = VariableHome(*box, name)) {
    box->shown = box->field.Text();
    vm->Set(home, name, avm1::Value::Str(box->shown));
  }
  avm1::Value self[1] = {avm1::Value::Obj(box->object)};
  vm->BeginFrame();
  avm1::CallMethod(*vm, box->object, "onChanged", self);
  SyncVariables();
}

void Player::State::ChangeFocus(avm1::Object* next, bool roll) {
  if (TextBox* box = TextOf(next)) {
    // A text field given the focus has all its text selected.
    box->anchor = 0;
    box->caret = box->field.Length();
  }
  selection_made = false;
  avm1::Object* old = Focus();
  if (roll) FocusRoll(old, next);
  if (next) vm->Pin(next);
  // The old one stays pinned until the scripts heard of it.
  avm1::Object* held = focus;
  focus = next;
  AnnounceFocus(*vm, old, next);
  if (held) vm->Unpin(held);
}

void Player::State::FocusLeaving(Object& o) {
  if (!focus) return;
  avm1::Object* leaving = o.clip ? o.clip->object : o.text ? o.text->object : nullptr;
  for (avm1::Object* k = focus; k && leaving; k = Parent(k)) {
    if (k == leaving) {
      ChangeFocus(nullptr, false);
      return;
    }
    if (TextBox* box = TextOf(k)) {
      const std::shared_ptr<Clip> parent = box->parent.lock();
      k = parent ? parent->object : nullptr;
      if (k == leaving) {
        ChangeFocus(nullptr, false);
        return;
      }
    }
  }
}

void Player::State::CollectTabStops(Clip& clip, const Matrix& m, std::vector<TabStop>& out,
                                    int nesting) {
  if (nesting > kMaxNesting) return;
  for (auto& [depth, o] : clip.list) {
    if (!o.visible) continue;
    const Matrix om = o.matrix.Then(m);
    avm1::Object* self = o.clip ? o.clip->object : o.text ? o.text->object : nullptr;
    if (!self) continue;
    const avm1::Value index = vm->Get(self, "tabIndex");
    const bool indexed = index.type == avm1::Type::Number && std::isfinite(index.n);
    bool enabled = false;
    if (o.text) {
      enabled = Flag(self, "tabEnabled").value_or(!o.text->field.definition().read_only);
    } else if (o.clip->button) {
      enabled = Flag(self, "tabEnabled").value_or(true);
    } else {
      const std::optional<bool> flag = Flag(self, "tabEnabled");
      // A clip given a tabIndex takes part unless it says otherwise.
      enabled = flag.value_or(indexed);
      for (const char* name : kButtonHandlers) {
        enabled = enabled || (!flag && vm->HasProperty(self, name));
      }
    }
    if (enabled) {
      const Rect r = Bounds(o, om);
      TabStop stop{self, r.x_min <= r.x_max ? r.x_min : om.tx, r.x_min <= r.x_max ? r.y_min : om.ty,
                   std::nullopt};
      if (indexed) {
        stop.tab_index = int(std::clamp(index.n, -1e9, 1e9));
      }
      out.push_back(stop);
    }
    if (o.clip && !o.clip->button && Flag(self, "tabChildren").value_or(true)) {
      CollectTabStops(*o.clip, om, out, nesting + 1);
    }
  }
}

void Player::State::FollowLink(TextBox& box) {
  const Object* d = DisplayOfText(box);
  const std::shared_ptr<Clip> parent = box.parent.lock();
  if (!d || !parent || !parent->object) return;
  const std::optional<Matrix> back = d->matrix.Then(ToStage(*parent)).Inverse();
  const TextFormat* link = back ? box.field.LinkAt(back->Apply(pointer)) : nullptr;
  if (!link) return;
  constexpr std::string_view kScheme = "asfunction:";
  // Copies: what the link starts may change the field.
  const std::string url = link->url, target = link->target;
  if (url.size() <= kScheme.size() ||
      !SameIgnoringCase(std::string_view(url).substr(0, kScheme.size()), kScheme)) {
    GetUrl(url, target, 0);
    return;
  }
  // "asfunction:name,argument": the field's timeline's function, given the text after the comma.
  const std::string rest = url.substr(kScheme.size());
  const std::size_t comma = rest.find(',');
  std::vector<avm1::Value> args;
  if (comma != std::string::npos) args.push_back(avm1::Value::Str(rest.substr(comma + 1)));
  BeginInputRun();
  vm->CallMethodSafe(parent->object, rest.substr(0, comma), args);
  RunInput();
}

TextBox* Player::State::TextAt(Clip& clip, const Matrix& m, Point p, int nesting) {
  if (nesting > kMaxNesting) return nullptr;
  for (auto it = clip.list.rbegin(); it != clip.list.rend(); ++it) {
    Object& o = it->second;
    if (!o.visible || o.clip_depth > 0) continue;
    const Matrix om = o.matrix.Then(m);
    if (o.clip && !o.clip->button) {
      if (TextBox* inner = TextAt(*o.clip, om, p, nesting + 1)) return inner;
    } else if (o.text) {
      const std::optional<Matrix> back = om.Inverse();
      const Rect r = o.text->field.Bounds();
      const Point q = back ? back->Apply(p) : Point{r.x_min - 1, r.y_min};
      if (q.x >= r.x_min && q.x <= r.x_max && q.y >= r.y_min && q.y <= r.y_max) {
        return o.text.get();
      }
    }
  }
  return nullptr;
}

void Player::State::DrawHighlight(const FramePixels& frame, const Matrix& stage) {
  Clip* clip = highlight ? ClipOf(Focus()) : nullptr;
  const std::shared_ptr<Clip> parent = clip ? clip->parent.lock() : nullptr;
  Object* d = parent ? DisplayOf(*clip) : nullptr;
  if (!d || !clip->focus_rect.value_or(focus_rect)) return;
  const Rect r = Transformed(Bounds(*d, d->matrix.Then(ToStage(*parent))), stage);
  if (!(r.x_min <= r.x_max && r.y_min <= r.y_max)) return;
  const auto edge = [](float v, int limit) {
    return std::isfinite(v) ? int(std::clamp(std::lround(v), 0L, long(limit))) : 0;
  };
  const int x0 = edge(r.x_min, frame.width), x1 = edge(r.x_max, frame.width);
  const int y0 = edge(r.y_min, frame.height), y1 = edge(r.y_max, frame.height);
  // Three stage pixels wide, inside the bounds.
  const int band = std::max(1, int(std::lround(3 * stage_scale)));
  for (int y = y0; y < y1; ++y) {
    std::uint32_t* row = frame.pixels + std::size_t(y) * std::size_t(frame.stride);
    const bool across = y < y0 + band || y >= y1 - band;
    for (int x = x0; x < x1; ++x) {
      if (across || x < x0 + band || x >= x1 - band) row[x] = 0xFFFFFF00u;
    }
  }
}

void Player::State::TabFocus(bool reverse) {
  std::vector<TabStop> stops;
  if (Flag(root->object, "tabChildren").value_or(true)) {
    CollectTabStops(*root, root_display.matrix, stops, 0);
  }
  avm1::Object* next = NextTabStop(TabOrder(std::move(stops)), Focus(), reverse);
  if (!next) return;
  highlight = true;
  if (next == Focus()) return;
  // Tab rolls the highlight over before the focus moves.
  FocusRoll(Focus(), next);
  RunInput();
  ChangeFocus(next, false);
}

namespace {
Value McStartDrag(avm1::Vm& vm, const Value& self, Args args) {
  if (!SelfClip(self)) return Value{};
  Player::State& s = StateOf(vm);
  s.StartDrag(self.o, vm.ToBoolean(ArgAt(args, 0)));
  if (args.size() >= 5) {
    double v[4];
    for (std::size_t i = 0; i < 4; ++i) {
      v[i] = vm.ToNumber(args[1 + i]);
      if (!std::isfinite(v[i])) return Value{};
      v[i] = std::clamp(v[i], -1e7, 1e7) * 20;
    }
    s.drag_limits = Rect{float(std::min(v[0], v[2])), float(std::max(v[0], v[2])),
                         float(std::min(v[1], v[3])), float(std::max(v[1], v[3]))};
    s.FollowDrag();
  }
  return Value{};
}
Value McSetMask(avm1::Vm& vm, const Value& self, Args args) {
  Clip* c = SelfClip(self);
  if (!c) return Value{};
  Player::State& s = StateOf(vm);
  const auto unmark = [&s](Clip& k) {
    const std::shared_ptr<Clip> old_clip = k.mask_clip.lock();
    const std::shared_ptr<TextBox> old_text = k.mask_text.lock();
    Object* old = old_clip   ? s.DisplayOf(*old_clip)
                  : old_text ? s.DisplayOfText(*old_text)
                             : nullptr;
    if (old) old->is_mask = false;
    k.mask_clip.reset();
    k.mask_text.reset();
  };
  unmark(*c);
  const Value v = ArgAt(args, 0);
  avm1::Object* target = v.IsObject()                   ? v.o
                         : v.type == avm1::Type::String ? vm.ResolvePath(self.o, v.s)
                                                        : nullptr;
  if (!target) return Value::Bool(true);
  if (Clip* mask = Player::State::ClipOf(target); mask && mask != c && mask != s.root.get()) {
    c->mask_clip = mask->weak_from_this();
  } else if (TextBox* text = s.TextOf(target)) {
    if (Object* d = s.DisplayOfText(*text)) c->mask_text = d->text;
  }
  if (Object* d = s.DisplayOfAny(target); d && (c->mask_clip.lock() || c->mask_text.lock())) {
    d->is_mask = true;
  }
  return Value::Bool(true);
}
Value McStopDrag(avm1::Vm& vm, const Value&, Args) {
  StateOf(vm).StopDrag();
  return Value{};
}
}  // namespace

void Player::State::InstallButtonMethods() {
  button_proto = vm->NewObject();
  vm->Define(button_proto, "enabled", Value::Bool(true), 0);  // enumerable, as in Flash Player
  vm->Define(button_proto, "useHandCursor", Value::Bool(true), avm1::DontEnum);
  vm->DefineNative(button_proto, "getDepth", McGetDepth);
  avm1::Object* ctor = vm->NewFunction(TfCtor, button_proto);
  vm->Define(vm->global, "Button", Value::Obj(ctor), avm1::DontEnum);
  vm->Define(vm->clip_proto, "enabled", Value::Bool(true), avm1::DontEnum);
  vm->Define(vm->clip_proto, "useHandCursor", Value::Bool(true), avm1::DontEnum);
  vm->DefineNative(vm->clip_proto, "startDrag", McStartDrag);
  vm->DefineNative(vm->clip_proto, "setMask", McSetMask);
  DefineAccessor(*vm, vm->clip_proto, "_lockroot", GetLockRoot, SetLockRoot);
  InstallDisplayProperties(vm->clip_proto);
  InstallDisplayProperties(button_proto);
  vm->DefineNative(vm->clip_proto, "stopDrag", McStopDrag);
}

// ---- Drawing -------------------------------------------------------------------------------

// The mask a script set on `clip`, begun; false without one (nothing is begun then).
bool Player::State::DrawScriptMask(Clip& clip) {
  const std::shared_ptr<Clip> by_clip = clip.mask_clip.lock();
  const std::shared_ptr<TextBox> by_text = clip.mask_text.lock();
  Object* mask = by_clip ? DisplayOf(*by_clip) : by_text ? DisplayOfText(*by_text) : nullptr;
  if (!mask) return false;
  const std::shared_ptr<Clip> parent = by_clip ? by_clip->parent.lock() : by_text->parent.lock();
  if (!parent) return false;
  renderer.BeginMask();
  DrawObject(*mask, mask->matrix.Then(ToStage(*parent)).Then(canvas), ColorTransform{}, true);
  renderer.EndMask();
  return true;
}

// A clip: what its drawing methods drew, then its objects.
void Player::State::DrawClip(Clip& clip, const Matrix& m, const ColorTransform& cx, bool in_mask) {
  if (const std::shared_ptr<Drawing> drawn = clip.drawing;
      drawn && !drawn->shape.edges.empty() && drawn->shape.edges.size() <= edges_left) {
    edges_left -= drawn->shape.edges.size();
    // A fill still open shows closed.
    Shape& shape = drawn->shape;
    const bool open =
        drawn->fill && (drawn->pen.x != drawn->start.x || drawn->pen.y != drawn->start.y);
    if (open) {
      const Point pen = drawn->pen;
      shape.edges.push_back(Edge{pen,
                                 {(pen.x + drawn->start.x) / 2, (pen.y + drawn->start.y) / 2},
                                 drawn->start,
                                 false,
                                 drawn->fill,
                                 0,
                                 drawn->line});
    }
    renderer.DrawShape(shape, m, cx);
    if (open) shape.edges.pop_back();
  }
  DrawList(clip, m, cx, in_mask);
}

void Player::State::DrawList(Clip& clip, const Matrix& m, const ColorTransform& cx, bool in_mask) {
  std::vector<int> clip_ends;  // the depths up to which each active mask clips
  for (auto& [depth, o] : clip.list) {
    if (!o.visible) continue;
    while (!clip_ends.empty() && depth > clip_ends.back()) {
      renderer.PopMask();
      clip_ends.pop_back();
    }
    if (o.is_mask && !in_mask) continue;
    const Matrix om = o.matrix.Then(m);
    const ColorTransform ocx = o.color.Then(cx);
    if (o.clip && !in_mask && DrawScriptMask(*o.clip)) {
      DrawObject(o, om, ocx, in_mask);
      renderer.PopMask();
      continue;
    }
    if (o.clip_depth > 0) {
      if (in_mask) continue;  // a mask inside a mask's content adds nothing to it
      renderer.BeginMask();
      DrawObject(o, om, ocx, true);
      renderer.EndMask();
      clip_ends.push_back(o.clip_depth);
      continue;
    }
    DrawObject(o, om, ocx, in_mask);
  }
  for (std::size_t i = 0; i < clip_ends.size(); ++i) renderer.PopMask();
}

namespace {
// A rectangle filled with `fill`.
void RectShape(const Rect& r, FillStyle fill, Shape& out) {
  out = Shape{};
  out.bounds = r;
  out.fills.push_back(std::move(fill));
  const Point corners[] = {
      {r.x_min, r.y_min}, {r.x_max, r.y_min}, {r.x_max, r.y_max}, {r.x_min, r.y_max}};
  for (int i = 0; i < 4; ++i) {
    const Point a = corners[i], b = corners[(i + 1) % 4];
    out.edges.push_back({a, {(a.x + b.x) / 2, (a.y + b.y) / 2}, b, false, 0, 1, 0});
  }
}

// A bitmap placed by itself: a rectangle of its size filled with it.
void BitmapRect(const std::shared_ptr<const Bitmap>& bitmap, Shape& out) {
  const float w = float(bitmap->width) * 20, h = float(bitmap->height) * 20;
  RectShape({0, w, 0, h}, BitmapFill{bitmap, Matrix{20, 0, 0, 20, 0, 0}, false, true}, out);
}

// Adds the corners of `r` mapped by `m` to `box`.
void Extend(const Rect& r, const Matrix& m, Rect& box, bool& any) {
  for (const Point p : {Point{r.x_min, r.y_min}, Point{r.x_max, r.y_min}, Point{r.x_min, r.y_max},
                        Point{r.x_max, r.y_max}}) {
    const Point q = m.Apply(p);
    if (!std::isfinite(q.x) || !std::isfinite(q.y)) continue;
    if (!any) box = {q.x, q.x, q.y, q.y};
    box = {std::min(box.x_min, q.x), std::max(box.x_max, q.x), std::min(box.y_min, q.y),
           std::max(box.y_max, q.y)};
    any = true;
  }
}

// The extent of an object's drawing mapped by `m`, its sprites' objects included. False when it
// draws nothing.
bool DrawnBounds(const Object& o, const Matrix& m, Rect& box, int nesting) {
  if ((!o.def && !o.text) || !o.visible || nesting > kMaxNesting) return false;
  bool any = false;
  if (o.scroll_rect) {
    const Rect& r = *o.scroll_rect;
    Extend({0, r.x_max - r.x_min, 0, r.y_max - r.y_min}, m, box, any);
    return any;
  }
  if (o.text) {
    Extend(o.text->field.Bounds(), m, box, any);
    // The border's pixels lie right of and below the box's edges.
    if (o.text->field.definition().border) {
      box.x_max += 1;
      box.y_max += 1;
    }
  } else if (const auto* shape = std::get_if<std::shared_ptr<const Shape>>(o.def)) {
    Extend((*shape)->bounds, m, box, any);
  } else if (const auto* morph = std::get_if<std::shared_ptr<const MorphShape>>(o.def)) {
    Extend((*morph)->start.bounds, m, box, any);
    Extend((*morph)->end.bounds, m, box, any);
  } else if (const auto* bitmap = std::get_if<std::shared_ptr<const Bitmap>>(o.def)) {
    Extend({0, float((*bitmap)->width) * 20, 0, float((*bitmap)->height) * 20}, m, box, any);
  } else if (o.clip) {
    if (o.clip->drawing && !o.clip->drawing->empty)
      Extend(o.clip->drawing->shape.bounds, m, box, any);
    for (const auto& [depth, child] : o.clip->list) {
      Rect inner;
      if (child.clip_depth == 0 && DrawnBounds(child, child.matrix.Then(m), inner, nesting + 1)) {
        Extend(inner, Matrix{}, box, any);
      }
    }
  }
  return any;
}
}  // namespace

// The opaque background: the object's own bounds filled with its colour, under it.
void Player::State::DrawBackground(Object& o, const Matrix& m, const ColorTransform& cx,
                                   bool in_mask) {
  Rect r;
  if (!o.background || in_mask || !DrawnBounds(o, Matrix{}, r, 0)) return;
  RectShape(r, Rgba{o.background->r, o.background->g, o.background->b, 255}, scratch);
  renderer.DrawShape(scratch, m, cx);
}

// The object with its effects: an opaque background under it, and a layer of its own when it
// has filters or a blend mode, composited through them with its colour transform.
void Player::State::DrawObject(Object& o, const Matrix& m, const ColorTransform& cx, bool in_mask) {
  if ((!o.def && !o.clip && !o.text) || !o.visible) return;
  const bool layered = !in_mask && (o.blend != BlendMode::Normal || !o.filters.empty());
  // Flash draws a cached object (filters or cacheAsBitmap) into a bitmap of its own, placed on
  // whole pixels: the object's drawn bounds move to the nearest pixel corner.
  const bool cached = !in_mask && (o.cache_as_bitmap || !o.filters.empty());
  Rect box;
  const bool drawn = (layered || cached) && DrawnBounds(o, m, box, 0);
  Matrix placed = m;
  if (drawn && cached) {
    const float dx = std::round(box.x_min) - box.x_min, dy = std::round(box.y_min) - box.y_min;
    if (std::isfinite(dx) && std::isfinite(dy)) {
      placed.tx += dx;
      placed.ty += dy;
      box = {box.x_min + dx, box.x_max + dx, box.y_min + dy, box.y_max + dy};
    }
  }
  // A scrollRect shows the part of the object it frames, moved to the object's origin, and
  // clips it there (though not in a mask, where only the move counts).
  const auto draw = [&](const ColorTransform& color) {
    if (!o.scroll_rect) {
      DrawBackground(o, placed, color, in_mask);
      DrawContent(o, placed, color, in_mask);
      return;
    }
    const Rect& r = *o.scroll_rect;
    if (!in_mask) {
      renderer.BeginMask();
      RectShape({0, r.x_max - r.x_min, 0, r.y_max - r.y_min}, Rgba{0, 0, 0, 255}, scratch);
      renderer.DrawShape(scratch, placed, ColorTransform{});
      renderer.EndMask();
    }
    const Matrix scrolled = Matrix{1, 0, 0, 1, -r.x_min, -r.y_min}.Then(placed);
    DrawBackground(o, scrolled, color, in_mask);
    DrawContent(o, scrolled, color, in_mask);
    if (!in_mask) renderer.PopMask();
  };
  if (layered) {
    const LayerEffects effects{o.blend, o.filters, stage_scale, cx};
    if (renderer.BeginLayer(drawn ? box : Rect{}, effects)) {
      draw(ColorTransform{});
      renderer.EndLayer();
      return;
    }
  }
  draw(cx);
}

void Player::State::DrawContent(Object& o, const Matrix& m, const ColorTransform& cx,
                                bool in_mask) {
  // Morph shapes and bitmaps become a shape for the moment of drawing only: no copy per object
  // outlives it, however many objects show them.
  const Shape* shape = nullptr;
  if (const auto* s = std::get_if<std::shared_ptr<const Shape>>(o.def)) {
    shape = s->get();
  } else if (const auto* morph = std::get_if<std::shared_ptr<const MorphShape>>(o.def)) {
    if ((*morph)->start.edges.size() <= edges_left) {
      scratch = (*morph)->At(o.ratio);
      shape = &scratch;
    } else {
      edges_left = 0;
    }
  } else if (const auto* bitmap = std::get_if<std::shared_ptr<const Bitmap>>(o.def)) {
    BitmapRect(*bitmap, scratch);
    shape = &scratch;
  } else if (const auto* video = std::get_if<std::shared_ptr<const VideoStream>>(o.def)) {
    if (VideoShape(o.character, *video, o.ratio)) shape = &scratch;
  } else if (o.clip) {
    DrawClip(*o.clip, m, cx, in_mask);
    return;
  } else if (o.text) {
    // The focused field shows its selection.
    const TextBox& box = *o.text;
    const bool focused = box.object && box.object == Focus();
    o.text->field.ShowSelection(
        focused ? Selection{std::min(box.anchor, box.caret), std::max(box.anchor, box.caret)}
                : Selection{});
    DrawTextField(o.text->field, m, cx, in_mask);
    return;
  }
  if (!shape) return;  // a font, or a morph shape over the budget
  if (shape->edges.size() > edges_left) {
    edges_left = 0;  // over the frame's budget: draw no more
    return;
  }
  edges_left -= shape->edges.size();
  renderer.DrawShape(*shape, m, cx);
}

// A text field: its background and border, then its glyphs, clipped to its box when they
// reach beyond it.
void Player::State::DrawTextField(TextField& field, const Matrix& m, const ColorTransform& cx,
                                  bool in_mask) {
  // Flash shows a field of the system's fonts only upright: turned, skewed or mirrored, not even
  // its border and background show.
  if (!field.definition().use_outlines && (m.b != 0 || m.c != 0 || m.a < 0 || m.d < 0)) return;
  const Shape& frame = field.Frame();
  const Shape& glyphs = field.Glyphs();
  const std::size_t edges = frame.edges.size() + glyphs.edges.size() + 4;
  if (edges > edges_left) {
    edges_left = 0;
    return;
  }
  edges_left -= edges;
  if (!frame.edges.empty()) DrawFieldFrame(frame, m, cx);
  const bool clip = !in_mask && field.Clips();
  if (clip) {
    scratch = Shape{};
    scratch.bounds = field.Bounds();
    scratch.fills.emplace_back(Rgba{0, 0, 0, 255});
    AddRectangle(scratch, scratch.bounds, 1, 0);
    renderer.BeginMask();
    renderer.DrawShape(scratch, m, cx);
    renderer.EndMask();
  }
  renderer.DrawShape(glyphs, m, cx);
  if (clip) renderer.PopMask();
}

// A field's background and border on whole pixels, as Flash draws them, when the field is
// upright (turned by quarters at most).
void Player::State::DrawFieldFrame(const Shape& frame, const Matrix& m, const ColorTransform& cx) {
  // Turned by a quarter or a half, the box is still upright.
  const float size = std::max({std::abs(m.a), std::abs(m.b), std::abs(m.c), std::abs(m.d)});
  const auto none = [&](float v) { return std::abs(v) <= size * 1e-5f; };
  if (!(none(m.b) && none(m.c)) && !(none(m.a) && none(m.d))) {
    // Turned or skewed, the border is still a pixel wide, whatever the scale.
    scratch = frame;
    for (LineStyle& line : scratch.lines) line.width = 0;
    renderer.DrawShape(scratch, m, cx);
    return;
  }
  const Point a = m.Apply({frame.bounds.x_min, frame.bounds.y_min});
  const Point b = m.Apply({frame.bounds.x_max, frame.bounds.y_max});
  const auto snap = [](float v) { return std::isfinite(v) ? std::floor(v) : 0.0f; };
  const Rect r{snap(std::min(a.x, b.x)), snap(std::max(a.x, b.x)), snap(std::min(a.y, b.y)),
               snap(std::max(a.y, b.y))};
  scratch = Shape{};
  scratch.bounds = r;
  scratch.fills = frame.fills;
  scratch.lines = frame.lines;
  for (LineStyle& line : scratch.lines) line.width = 1;  // a pixel
  if (!frame.fills.empty()) AddRectangle(scratch, r, 1, 0);
  // The border: a pixel wide, on the pixels from the box's left and top edge to its right and
  // bottom one.
  if (!frame.lines.empty()) {
    AddRectangle(scratch, {r.x_min + 0.5f, r.x_max + 0.5f, r.y_min + 0.5f, r.y_max + 0.5f}, 0, 1);
  }
  renderer.DrawShape(scratch, Matrix{}, cx);
}

// ---- Video ---------------------------------------------------------------------------------

// The video's picture for `frame` into `scratch`; false while it has none to show.
bool Player::State::VideoShape(std::uint16_t id, const std::shared_ptr<const VideoStream>& stream,
                               int frame) {
  auto it = videos.find(id);
  if (it == videos.end()) {
    if (videos.size() >= kMaxVideoStreams) {
      ++left_out["video streams beyond " + std::to_string(kMaxVideoStreams) + " at once"];
      return false;
    }
    it = videos.try_emplace(id, stream, MakeVideoDecoder(stream->codec, video_decoders)).first;
    if (!it->second.CanDecode()) ++left_out[VideoCodecName(stream->codec)];
  }
  return it->second.ShapeFor(frame, video_packets_left, scratch);
}

// ---- The built-in objects' side --------------------------------------------------------------

void Player::State::StageSize(bool unscaled, double* width, double* height) {
  if (unscaled && window_size) {
    *width = window_size->first;
    *height = window_size->second;
    return;
  }
  // Scaled, or with no window told: the stage has the size of the movie loaded into level 0
  // last.
  const Rect& r = root->movie->header.stage;
  *width = std::round((r.x_max - r.x_min) / 20);
  *height = std::round((r.y_max - r.y_min) / 20);
}

int Player::State::FindSound(const std::string& linkage, double* duration_ms) {
  auto it = movie.exports.find(linkage);
  if (it == movie.exports.end()) {
    it = std::find_if(movie.exports.begin(), movie.exports.end(),
                      [&](const auto& e) { return SameIgnoringCase(e.first, linkage); });
  }
  if (it == movie.exports.end()) return 0;
  for (const auto& sound : movie.sound_definitions) {
    if (sound->id != it->second) continue;
    const double rate = sound->format.Rate();
    *duration_ms = rate > 0 ? double(sound->sample_count) * 1000 / rate : 0;
    return sound->id;
  }
  return 0;
}

void Player::State::StartSound(avm1::Object* /*owner*/, int sound, double offset_s, int loops) {
  SoundStart start;
  start.id = std::uint16_t(sound);
  start.info.loops = std::uint16_t(std::clamp(loops, 1, 65535));
  if (offset_s > 0) start.info.in_point = std::uint32_t(std::min(offset_s, 3600.0) * 44100);
  mixer.StartSound(start);
}

void Player::State::StopSound(avm1::Object* /*owner*/, int sound) {
  if (sound == 0) {
    mixer.StopAllSounds();
    return;
  }
  SoundStart stop;
  stop.id = std::uint16_t(sound);
  stop.info.stop = true;
  mixer.StartSound(stop);
}

bool Player::State::GetClipMatrix(avm1::Object* o, double* m) {
  Clip* clip = ClipOf(o);
  const Object* d = clip ? DisplayOf(*clip) : nullptr;
  if (!d) return false;
  const Matrix& x = d->matrix;
  const double values[6] = {x.a, x.b, x.c, x.d, x.tx / 20.0, x.ty / 20.0};
  std::copy(std::begin(values), std::end(values), m);
  return true;
}

void Player::State::SetClipMatrix(avm1::Object* o, const double* m) {
  Clip* clip = ClipOf(o);
  Object* d = clip ? DisplayOf(*clip) : nullptr;
  if (!d || !std::all_of(m, m + 6, [](double v) { return std::isfinite(v); })) return;
  d->matrix = Matrix{float(m[0]),
                     float(m[1]),
                     float(m[2]),
                     float(m[3]),
                     float(std::round(m[4] * 20)),
                     float(std::round(m[5] * 20))};
  d->scripted = false;  // scale and rotation come from the new matrix
}

bool Player::State::GetClipColor(avm1::Object* o, double* c) {
  Clip* clip = ClipOf(o);
  const Object* d = clip ? DisplayOf(*clip) : nullptr;
  if (!d) return false;
  const ColorTransform& x = d->color;
  const double values[8] = {x.mul_r, x.mul_g, x.mul_b, x.mul_a, x.add_r, x.add_g, x.add_b, x.add_a};
  std::copy(std::begin(values), std::end(values), c);
  return true;
}

void Player::State::SetClipColor(avm1::Object* o, const double* c) {
  Clip* clip = ClipOf(o);
  Object* d = clip ? DisplayOf(*clip) : nullptr;
  if (!d) return;
  float v[8];
  for (int i = 0; i < 8; ++i) v[i] = std::isfinite(c[i]) ? float(std::clamp(c[i], -1e6, 1e6)) : 0;
  d->color = ColorTransform{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
}

// ---- The player ----------------------------------------------------------------------------

Player::Player(std::shared_ptr<const Movie> movie, Mp3DecoderFactory mp3, VideoDecoderFactory video)
    : movie_(std::move(movie)),
      state_(std::make_unique<State>(*movie_, std::move(mp3), std::move(video))) {
  for (const auto& sound : movie_->sound_definitions) state_->mixer.DefineSound(sound);
}

Player::~Player() = default;

void Player::SetFileReader(FileReader read) {
  state_->read_file = std::move(read);
}

void Player::SetImageDecoder(ImageDecoder* images) {
  state_->images = images;
}

void Player::SetDeviceFonts(DeviceFonts* fonts) {
  state_->text_fonts.SetDevice(fonts);
}

bool Player::Playing() const {
  return state_->root->playing;
}

void Player::Play() {
  if (state_->ended) {
    state_->ended = false;
    state_->restart = true;
  }
  state_->root->playing = true;
}

void Player::StopPlay() {
  state_->root->playing = false;
}

void Player::AdvanceTo(double seconds) {
  State& s = *state_;
  if (!std::isfinite(seconds)) return;
  if (!s.started) {
    if (!Playing()) return;
    s.started = true;
    s.next_time = seconds;
    s.start_time = seconds;
  }
  s.clock = seconds;
  const double rate = std::clamp(double(movie_->header.frame_rate), 1.0, 120.0);
  const double period = 1.0 / rate;
  // While the stream sound is heard, the sound sets the pace: the frame shown is the one whose
  // block is leaving the speaker now, the device's delay behind the last sample pulled. The
  // blocks of the frames to come are queued ahead of them, so the device never waits for a frame;
  // should they run short all the same (frames not read yet, a timeline that stopped feeding),
  // frames run on to feed it: the sound is never the one to wait. Time only fills in between.
  const double frame_samples = SoundMixer::kOutputRate * period;
  const double least = std::max(kMinStreamAheadSeconds * SoundMixer::kOutputRate, frame_samples);
  const auto starving = [&s, least] { return double(s.mixer.Stream().queued_samples) < least; };
  const double ahead = std::max(kSoundAheadSeconds * SoundMixer::kOutputRate, 3 * frame_samples);
  s.QueueSoundAhead(ahead);
  const StreamState sound = s.mixer.Stream();
  // What the device holds of the stream: its delay, less the silence mixed since the stream ran
  // dry.
  const std::uint64_t device = std::uint64_t(output_delay_);
  const std::uint64_t delay =
      std::min(sound.played_samples, device - std::min(device, sound.silent_samples));
  const StreamPosition heard = sound.played_samples > 0
                                   ? s.mixer.StreamFrameAt(sound.played_samples - delay)
                                   : StreamPosition{};
  int ticks = 0;
  if (heard.place == StreamPosition::Place::In || heard.place == StreamPosition::Place::Before) {
    // Before: what the device took hasn't reached the speaker yet; the first frame waits for it.
    // Frames of no sound of their own (after a long block, or past the stream's last) follow the
    // one that has it a frame's samples apart.
    const auto frames_on = std::uint64_t(double(heard.into) / frame_samples);
    const std::uint64_t due =
        heard.place == StreamPosition::Place::In ? std::uint64_t(heard.frame) + frames_on : 0;
    while (s.tick < due && ticks < kMaxTicksPerCall) {
      s.Tick(loop_);
      ++ticks;
    }
    const double left = frame_samples * double(frames_on + 1) - double(heard.into);
    s.next_time = seconds + left / SoundMixer::kOutputRate;
  } else {
    while (seconds >= s.next_time && ticks < kMaxTicksPerCall) {
      s.Tick(loop_);
      s.next_time += period;
      ++ticks;
    }
  }
  while (starving() && s.tick_queued_block && ticks < kMaxTicksPerCall) {
    s.Tick(loop_);
    ++ticks;
  }
  s.QueueSoundAhead(ahead);
  if (seconds >= s.next_time) s.next_time = seconds;  // far behind: slow down, never burst
}

double Player::NextFrameTime() const {
  return state_->next_time;
}

void Player::SetOutputDelay(std::uint64_t samples) {
  output_delay_ =
      std::min(double(samples), kMaxOutputDelaySeconds * double(SoundMixer::kOutputRate));
}

void Player::Render(const FramePixels& frame) {
  std::uint32_t* const bgra = frame.pixels;
  const int width = frame.width, height = frame.height, stride = frame.stride;
  State& s = *state_;
  const Rgba bg{movie_->background.r, movie_->background.g, movie_->background.b, 255};
  s.renderer.BeginFrame(frame, bg);
  if (!bgra || width <= 0 || height <= 0 || stride < width) return;
  const Matrix stage = ShowAllMatrix(movie_->header.stage, width, height);
  s.edges_left = kMaxEdgesPerRender;
  s.video_packets_left = kMaxVideoPacketsPerRender;
  s.stage_scale = std::sqrt(std::fabs(stage.a * stage.d - stage.b * stage.c)) * 20;
  s.canvas = stage;
  s.DrawObject(s.root_display, s.root_display.matrix.Then(stage), s.root_display.color, false);
  for (auto& [level, top] : s.levels) s.DrawObject(top, top.matrix.Then(stage), top.color, false);
  s.DrawHighlight(frame, stage);
  // What lies beyond the stage is the background's.
  const Rect& r = movie_->header.stage;
  const Point a = stage.Apply({r.x_min, r.y_min});
  const Point b = stage.Apply({r.x_max, r.y_max});
  const auto edge = [](float v, int limit) {
    return std::isfinite(v) ? int(std::clamp(std::lround(v), 0L, long(limit))) : 0;
  };
  const int x0 = edge(std::min(a.x, b.x), width), x1 = edge(std::max(a.x, b.x), width);
  const int y0 = edge(std::min(a.y, b.y), height), y1 = edge(std::max(a.y, b.y), height);
  const std::uint32_t fill =
      0xFF000000u | std::uint32_t(bg.r) << 16 | std::uint32_t(bg.g) << 8 | bg.b;
  for (int y = 0; y < height; ++y) {
    std::uint32_t* row = bgra + std::size_t(y) * std::size_t(stride);
    if (y < y0 || y >= y1) {
      std::fill(row, row + width, fill);
    } else {
      std::fill(row, row + x0, fill);
      std::fill(row + x1, row + width, fill);
    }
  }
}

std::vector<MovieCommand> Player::TakeCommands() {
  return std::exchange(state_->commands, {});
}

std::vector<std::string> Player::TakeTrace() {
  return std::exchange(state_->vm->trace(), {});
}

void Player::SetLowQuality(bool low) {
  state_->SetQuality(low ? kQualityLow : kQualityHigh);
}

void Player::SetRandomSeed(std::uint64_t seed) {
  state_->vm->random_state = seed ? seed : 1;
}

void Player::SetWindowSize(int width, int height) {
  state_->window_size = std::pair(std::max(width, 0), std::max(height, 0));
}

void Player::SetWallClock(double utc_ms, int zone_minutes) {
  state_->vm->wall_clock = avm1::Vm::WallClock{utc_ms, zone_minutes * 60000.0};
}

std::vector<LeftOut> Player::LeftOutSoFar() const {
  std::map<std::string, int> all = movie_->left_out;
  for (const auto& [what, count] : state_->left_out) all[what] += count;
  for (const std::string& note : state_->vm->notes) all[note] += 1;
  std::vector<LeftOut> out;
  out.reserve(all.size());
  for (auto& [what, count] : all) out.push_back({what, count});
  return out;
}

void Player::PullAudio(std::span<std::int16_t> stereo) {
  state_->mixer.Mix(stereo);
}

void Player::PointerMove(double x, double y) {
  if (!std::isfinite(x) || !std::isfinite(y)) return;
  const Rect& stage = movie_->header.stage;
  state_->PointerMove({float(std::clamp(x * 20, -1e9, 1e9)) + stage.x_min,
                       float(std::clamp(y * 20, -1e9, 1e9)) + stage.y_min});
}

void Player::PointerButton(bool down) {
  state_->PointerButton(down);
}

void Player::KeyDown(int key, char32_t character) {
  state_->Key(key, character, true);
}

void Player::KeyUp(int key) {
  state_->Key(key, 0, false);
}

void Player::TextInput(std::u32string_view text) {
  state_->TypeText(text.substr(0, TextField::kMaxChars));
}

std::pair<double, double> Player::FrameToStage(double x, double y, int width, int height) const {
  const Matrix m = ShowAllMatrix(movie_->header.stage, width, height);
  const std::optional<Matrix> back = m.Inverse();
  if (!back) return {0, 0};
  const Point p = back->Apply({float(x), float(y)});
  const Rect& stage = movie_->header.stage;
  return {double(p.x - stage.x_min) / 20, double(p.y - stage.y_min) / 20};
}

int Player::CurrentFrame() const {
  return state_->root->frame + 1;
}

namespace {
void Flatten(const Clip& clip, std::vector<int>& path, std::vector<DisplayItem>& out) {
  for (const auto& [depth, o] : clip.list) {
    path.push_back(depth);
    out.push_back({path, o.character, o.matrix, o.color, o.ratio, o.name, o.clip_depth,
                   o.clip ? o.clip->frame + 1 : 0});
    if (o.clip) Flatten(*o.clip, path, out);
    path.pop_back();
  }
}
}  // namespace

std::vector<DisplayItem> Player::DisplayList() const {
  std::vector<DisplayItem> out;
  std::vector<int> path;
  Flatten(*state_->root, path, out);
  return out;
}

}  // namespace swf
