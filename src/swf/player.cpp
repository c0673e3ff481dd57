// Playing a loaded movie: the display lists of the main timeline and its sprites, the frame
// clock, the scripts (through the script machine, which sees the clips through the host below),
// and drawing and sound through the renderer and the mixer.
#include <algorithm>
#include <cmath>
#include <deque>
#include <set>
#include <utility>

#include "swf/avm1/objects.h"
#include "swf/avm1/vm.h"
#include "swf/movie.h"
#include "swf/render.h"
#include "swf/sound_mixer.h"
#include "swf/swf_player.h"
#include "swf/text/text_field.h"
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
constexpr int kMaxTicksPerCall = 8;
constexpr std::size_t kMaxCommands = 1000;
constexpr std::size_t kMaxEdgesPerRender = 1'000'000;
constexpr int kMaxVideoPacketsPerRender = 16;  // decoded towards the frames the videos show
constexpr std::size_t kMaxVideoStreams = 16;   // streams with pictures kept at once
// Depths as scripts number them: the file's depth less this.
constexpr int kDepthBias = 16384;

// onClipEvent flags (the file's ClipEventFlags).
enum ClipEvent : std::uint32_t {
  EventLoad = 0x1,
  EventEnterFrame = 0x2,
  EventUnload = 0x4,
  EventInitialize = 0x200,
  EventConstruct = 0x40000,
};

struct Clip;

// How many clips and display objects are alive, for the limits above.
struct Census {
  std::size_t clips = 0;
  std::size_t objects = 0;
};

struct Object {
  std::uint16_t character = 0;
  const Character* def = nullptr;
  Matrix matrix;
  ColorTransform color;
  std::uint16_t ratio = 0;
  std::string name;
  std::uint16_t clip_depth = 0;
  std::shared_ptr<Clip> clip;       // a sprite's own timeline
  std::shared_ptr<TextField> text;  // a text field's text, layout and scroll
  std::vector<Filter> filters;
  BlendMode blend = BlendMode::Normal;
  bool cache_as_bitmap = false;
  bool visible = true;
  std::optional<Rgba> background;  // the opaque background
  // Scale and rotation as a script set them last (the matrix loses them to rounding).
  bool scripted = false;
  double xscale = 100, yscale = 100, rotation = 0;
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
};

bool StartsWithFsCommand(const std::string& url) {
  return SameIgnoringCase(std::string_view(url).substr(0, 10), "fscommand:");
}

// A script or event waiting to run in this tick.
struct Pending {
  std::weak_ptr<Clip> clip;
  std::shared_ptr<Clip> keep;  // an unloaded clip, kept for its last handlers
  std::span<const std::uint8_t> code;
  const char* method = nullptr;       // an event method called after the code (onLoad, ...)
  avm1::Object* construct = nullptr;  // a registered class's constructor to run on the clip
};

}  // namespace

struct Player::State : avm1::Host {
  State(const Movie& m, Mp3DecoderFactory mp3, VideoDecoderFactory video)
      : vm(std::make_unique<avm1::Vm>(m.header.version, this)),
        movie(m),
        mixer(std::move(mp3)),
        video_decoders(std::move(video)) {
    root = std::make_shared<Clip>(m.main, 0, 0, census);
    root->playing = false;
    root->object = vm->NewClipObject(root.get());
    vm->Pin(root->object);
    InstallClipMethods();
  }

  void Tick(bool loop);
  bool Goto(Clip& clip, int target);
  void Apply(Clip& clip, const ControlTag& tag);
  void Place(Clip& clip, const PlaceTag& p);
  void SetCharacter(Clip& parent, Object& o, std::uint16_t id, int depth,
                    const std::vector<ClipAction>* events = nullptr);
  void EnterFrame(Clip& clip, std::size_t at);
  void AdvanceSprites(Clip& clip);
  void QueueEnterFrame(Clip& clip);
  void QueueEvent(const std::shared_ptr<Clip>& clip, std::uint32_t event, const char* method,
                  bool keep = false);
  void Unload(Object& o);
  void RunQueue();
  void Url(const std::string& url, const std::string& target);
  void InstallClipMethods();

  // The host's side of the script machine.
  avm1::Object* Root() override { return root->object; }
  avm1::Object* Parent(avm1::Object* clip) override;
  avm1::Object* Child(avm1::Object* clip, std::string_view name) override;
  avm1::Value GetProperty(avm1::Object* clip, int index) override;
  void SetProperty(avm1::Object* clip, int index, const avm1::Value& v) override;
  void GotoFrame(avm1::Object* clip, int frame, bool play) override;
  bool GotoLabel(avm1::Object* clip, std::string_view label, bool play) override;
  void SetPlaying(avm1::Object* clip, bool playing) override;
  int CurrentFrame(avm1::Object* clip) override;
  int FramesLoaded(avm1::Object* clip) override;
  void GetUrl(const std::string& url, const std::string& target, int method) override;
  void RemoveClip(avm1::Object* clip) override;
  void DuplicateClip(avm1::Object* clip, const std::string& name, int depth) override;
  void LeftOut(const std::string& what) override {
    if (left_out.size() < 1000 || left_out.count(what)) ++left_out[what];
  }
  // What the built-in objects ask (system_objects.cpp, sound.cpp, net_objects.cpp).
  void StageSize(bool unscaled, double* width, double* height) override;
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

  static Clip* ClipOf(avm1::Object* o) {
    return o && o->kind == avm1::Kind::Clip ? static_cast<Clip*>(o->clip) : nullptr;
  }
  Object* DisplayOf(Clip& clip);
  bool SameName(std::string_view a, std::string_view b) const {
    return movie.header.version >= 7 ? a == b : SameIgnoringCase(a, b);
  }
  // A new clip at `depth` of `parent` showing `id` (a sprite, or an empty one for id 0).
  Clip* NewClip(Clip& parent, int depth, std::uint16_t id, const std::string& name);
  Rect Bounds(const Object& o, const Matrix& m);

  void DrawList(Clip& clip, const Matrix& m, const ColorTransform& cx, bool in_mask);
  void DrawObject(Object& o, const Matrix& m, const ColorTransform& cx, bool in_mask);
  void DrawTextField(TextField& field, const Matrix& m, const ColorTransform& cx, bool in_mask);
  bool VideoShape(std::uint16_t id, const std::shared_ptr<const VideoStream>& stream, int frame);
  void DrawContent(Object& o, const Matrix& m, const ColorTransform& cx, bool in_mask);
  void DrawBackground(Object& o, const Matrix& m, const ColorTransform& cx, bool in_mask);

  // First: the script machine's heap outlives every clip that points into it.
  std::unique_ptr<avm1::Vm> vm;
  const Movie& movie;
  TextFonts text_fonts{movie};  // before `root`: text fields use it until they go
  Census census;                // before `root`: the clips count themselves out of it
  std::shared_ptr<Clip> root;
  Object root_display;  // the main timeline's own `_x`, `_alpha`, ...
  Timeline empty_timeline{{Frame{}}, {}, {0}};
  std::uint64_t tick = 0;
  bool started = false;
  bool ended = false;    // the last frame was shown without loop
  bool restart = false;  // Play after the end: the next tick shows the first frame again
  double next_time = 0;
  double start_time = 0;
  double clock = 0;
  bool tick_queued_block = false;

  std::size_t tags_left = 0;
  int blocks_left = 0;
  std::size_t clips_left = 0;
  std::deque<Pending> queue;
  std::set<const std::uint8_t*> init_done;  // DoInitAction blocks already run
  // A backward goto rebuilds a display list; objects found again keep their sprite's state.
  std::map<int, Object>* reuse = nullptr;

  std::vector<MovieCommand> commands;
  std::map<std::string, int> left_out;  // what playing met and doesn't play
  SoundMixer mixer;
  std::optional<SoundStreamHead> stream_head;
  Renderer renderer;
  std::size_t edges_left = 0;  // what the frame being drawn may still draw
  float stage_scale = 1;       // canvas pixels per stage pixel: filters grow with it
  Shape scratch;
  VideoDecoderFactory video_decoders;
  std::map<std::uint16_t, VideoPlayback> videos;  // by character, made as they are first drawn
  int video_packets_left = 0;
  Player::FileReader read_file;
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
  // Clips shown before this frame hear enterFrame first, the innermost first.
  if (main.frame >= 0) QueueEnterFrame(main);
  // Children step before their parent: their scripts run first.
  AdvanceSprites(main);
  if (main.playing) {
    if (main.frame < 0 || restart) {
      restart = false;
      if (main.frame >= 0 && stream_head) mixer.StartStream(*stream_head);
      Goto(main, 0);
    } else if (main.frame < main.last()) {
      Goto(main, main.frame + 1);
    } else if (loop) {
      if (stream_head) mixer.StartStream(*stream_head);
      Goto(main, 0);
    }
  }
  RunQueue();
  vm->RunTimers(vm->now_ms);
  RunQueue();
  vm->MaybeCollect();
  if (main.playing && !loop && main.frame == main.last()) {
    main.playing = false;
    ended = true;
    // The stream sound ends with the movie; event sounds play on, as in Flash.
    mixer.StopStream();
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
  for (const ClipAction& a : clip->events) {
    if (a.events & event) {
      Pending p{clip, keep ? clip : nullptr, a.code, nullptr, nullptr};
      queue.push_back(std::move(p));
    }
  }
  if (method) queue.push_back(Pending{clip, keep ? clip : nullptr, {}, method, nullptr});
}

// Shows `target` (clamped to the timeline) on `clip`: forward by applying the frames between,
// backward by rebuilding the list from the first frame. The frame's actions are queued before
// what the new clips queue. False when the tick can't afford the tags it would apply (nothing
// changes then).
bool Player::State::Goto(Clip& clip, int target) {
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
  const std::size_t at = queue.size();
  std::map<int, Object>* outer_reuse = reuse;
  reuse = forward ? nullptr : &old;
  for (int f = first; f <= target; ++f) {
    for (const ControlTag& tag : clip.timeline->frames[std::size_t(f)].tags) Apply(clip, tag);
  }
  reuse = outer_reuse;
  for (auto& [depth, o] : old) Unload(o);
  clip.frame = target;
  EnterFrame(clip, std::min(at, queue.size()));
  return true;
}

// What a frame does once shown: its actions are queued at `at`, its sounds started.
void Player::State::EnterFrame(Clip& clip, std::size_t at) {
  const Frame& frame = clip.timeline->frames[std::size_t(clip.frame)];
  std::vector<Pending> blocks;
  for (const ActionBlock& block : frame.init_actions) {
    if (init_done.insert(block.code.data()).second) {
      blocks.push_back(Pending{clip.weak_from_this(), nullptr, block.code, nullptr, nullptr});
    }
  }
  for (const ActionBlock& block : frame.actions) {
    blocks.push_back(Pending{clip.weak_from_this(), nullptr, block.code, nullptr, nullptr});
  }
  if (!blocks.empty() && queue.size() + blocks.size() <= kMaxQueued) {
    queue.insert(queue.begin() + std::ptrdiff_t(at), blocks.begin(), blocks.end());
  }
  for (const SoundTag& sound : frame.sounds) {
    if (const auto* start = std::get_if<SoundStart>(&sound)) {
      mixer.StartSound(*start);
    } else if (&clip != root.get()) {
      // A sprite's stream sound is not played.
    } else if (const auto* head = std::get_if<StreamHeadTag>(&sound)) {
      if ((stream_head = head->head)) mixer.StartStream(*stream_head);
    } else {
      const auto& block = std::get<StreamBlockTag>(sound);
      tick_queued_block |= mixer.QueueStreamBlock(block.body, std::int64_t(tick));
    }
  }
}

void Player::State::Unload(Object& o) {
  if (o.clip) QueueEvent(o.clip, EventUnload, "onUnload", true);
}

void Player::State::Apply(Clip& clip, const ControlTag& tag) {
  if (const auto* remove = std::get_if<RemoveTag>(&tag)) {
    const auto it = clip.list.find(remove->depth);
    if (it == clip.list.end()) return;
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
  o.def = movie.Find(id);
  o.clip.reset();
  o.text.reset();
  const bool empty = id == 0;  // createEmptyMovieClip
  if (!o.def && !empty) return;
  if (const auto* edit = o.def ? std::get_if<std::shared_ptr<const EditText>>(o.def) : nullptr) {
    o.text = std::make_shared<TextField>(*edit, movie, text_fonts);
    return;
  }
  const auto* sprite = o.def ? std::get_if<std::shared_ptr<const Sprite>>(o.def) : nullptr;
  // Too deep or too many: the sprite shows nothing (a sprite that places itself ends here).
  if ((!sprite && !empty) || parent.nesting >= kMaxNesting || census.clips >= kMaxClips) return;
  o.clip = std::make_shared<Clip>(empty ? empty_timeline : (*sprite)->timeline, parent.nesting + 1,
                                  tick, census);
  Clip& clip = *o.clip;
  clip.parent = parent.weak_from_this();
  clip.depth = depth;
  clip.object = vm->NewClipObject(&clip);
  vm->Pin(clip.object);
  avm1::Object* ctor = nullptr;
  const auto exported = movie.export_names.find(id);
  if (exported != movie.export_names.end()) {
    const avm1::Value c = vm->Get(vm->classes, exported->second);
    if (c.IsObject() && c.o->kind == avm1::Kind::Function) {
      const avm1::Value proto = vm->Get(c.o, "prototype");
      if (proto.IsObject()) clip.object->proto = proto.o;
      ctor = c.o;
    }
  }
  if (events) clip.events = *events;
  const auto self = o.clip;
  QueueEvent(self, EventInitialize, nullptr);
  if (ctor && queue.size() < kMaxQueued) queue.push_back(Pending{self, nullptr, {}, nullptr, ctor});
  QueueEvent(self, EventConstruct, nullptr);
  QueueEvent(self, EventLoad, "onLoad");
  Goto(clip, 0);
}

void Player::State::AdvanceSprites(Clip& clip) {
  for (auto it = clip.list.begin(); it != clip.list.end();) {
    // A script may remove the next object: hold this one and step on from its depth.
    const int depth = it->first;
    if (std::shared_ptr<Clip> sprite = it->second.clip) {
      AdvanceSprites(*sprite);
      if (sprite->frame < 0) {
        Goto(*sprite, 0);  // placed when the tick couldn't afford its first frame
      } else if (sprite->born < tick && sprite->playing && sprite->last() > 0) {
        Goto(*sprite, sprite->frame < sprite->last() ? sprite->frame + 1 : 0);
      }
    }
    it = clip.list.upper_bound(depth);
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
    if (!p.code.empty()) vm->RunBlock(p.code, clip->object, movie.header.version);
    if (p.construct) {
      vm->CallSafe(p.construct, avm1::Value::Obj(clip->object), {});
    }
    if (p.method) vm->CallMethodSafe(clip->object, p.method, {});
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
  return nullptr;
}

Object* Player::State::DisplayOf(Clip& clip) {
  if (&clip == root.get()) return &root_display;
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
    for (const auto& [depth, child] : o.clip->list) {
      r = Union(r, Bounds(child, child.matrix.Then(m)));
    }
    return r;
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
  if (!clip) return Value{};
  Object* d = DisplayOf(*clip);
  Object none;
  Object& display = d ? *d : none;
  const Matrix& m = display.matrix;
  switch (index) {
    case 0:
      return Value::Num(double(m.tx) / 20);
    case 1:
      return Value::Num(double(m.ty) / 20);
    case 2:
      return Value::Num(display.scripted ? display.xscale : Scale(m.a, m.b));
    case 3:
      return Value::Num(display.scripted ? display.yscale : Scale(m.c, m.d));
    case 4:
      return Value::Num(clip->frame + 1);
    case 5:
    case 12:
      return Value::Num(double(clip->timeline->frames.size()));
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
      return Value::Str(vm->ClipPath(o, true));
    case 13:
      return Value::Str(clip == root.get() ? "" : display.name);
    case 14:
      return Value::Str("");
    case 15:
      return Value::Str("file:///movie.swf");
    case 16:
      return Value::Num(1);
    case 17:
      return Value::Bool(true);
    case 18:
      return Value::Num(5);
    case 19:
      return Value::Str("HIGH");
    default:
      return Value::Num(0);
  }
}

void Player::State::SetProperty(avm1::Object* o, int index, const avm1::Value& v) {
  Clip* clip = ClipOf(o);
  if (!clip) return;
  Object* d = DisplayOf(*clip);
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
  switch (index) {
    case 0:
    case 1: {
      const double n = number();
      if (!Finite(n)) return;
      (index == 0 ? m.tx : m.ty) = float(std::round(n * 20));
      return;
    }
    case 2:
    case 3: {
      const double n = number();
      if (!Finite(n)) return;
      decompose();
      (index == 2 ? d->xscale : d->yscale) = n;
      compose();
      return;
    }
    case 6: {
      const double n = number();
      if (!Finite(n)) return;
      d->color.mul_a = float(std::floor(n / 100 * 256) / 256);
      return;
    }
    case 7:
      d->visible = vm->ToBoolean(v) || (v.type == avm1::Type::String && !v.s.empty() &&
                                        vm->version() < 7 && vm->ToNumber(v) != 0);
      return;
    case 8:
    case 9: {
      const double n = number();
      if (!Finite(n) || n < 0) return;
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
      if (!Finite(n)) return;
      decompose();
      n = std::fmod(n, 360);
      if (n > 180) n -= 360;
      if (n < -180) n += 360;
      d->rotation = n;
      compose();
      return;
    }
    case 13:
      d->name = vm->ToString(v);
      return;
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

bool Player::State::GotoLabel(avm1::Object* o, std::string_view label, bool play) {
  Clip* clip = ClipOf(o);
  if (!clip) return false;
  const auto frame = clip->timeline->FindLabel(std::string(label));
  if (!frame) return false;
  Goto(*clip, *frame);
  clip->playing = play;
  return true;
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
  return clip ? int(clip->timeline->frames.size()) : 0;
}

void Player::State::GetUrl(const std::string& url, const std::string& target, int flags) {
  if (StartsWithFsCommand(url)) {
    Url(url, target);
    return;
  }
  if (flags & 0x80) {
    // loadVariables: into the clip at the path, or loadVariablesNum's level (the main timeline).
    avm1::Object* into = (flags & 0x40) ? vm->ResolvePath(root->object, target) : root->object;
    avm1::LoadVariables(*vm, into, url);
    return;
  }
  // Nothing leaves the movie: no page opens, no other movie loads.
  LeftOut("getURL");
}

Clip* Player::State::NewClip(Clip& parent, int depth, std::uint16_t id, const std::string& name) {
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
  SetCharacter(parent, it->second, id, depth);
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

void Player::State::DuplicateClip(avm1::Object* o, const std::string& name, int depth) {
  Clip* clip = ClipOf(o);
  if (!clip || clip == root.get()) return;
  const std::shared_ptr<Clip> parent = clip->parent.lock();
  Object* from = DisplayOf(*clip);
  if (!parent || !from || depth < -kDepthBias || depth > 2130690045) return;
  const Object copy_of = *from;
  const std::vector<ClipAction> events = clip->events;
  const std::uint16_t id = copy_of.character;
  Clip* made = NewClip(*parent, depth + kDepthBias, id, name);
  if (!made) return;
  made->events = events;
  Object* to = DisplayOf(*made);
  to->matrix = copy_of.matrix;
  to->color = copy_of.color;
  to->visible = copy_of.visible;
  to->scripted = copy_of.scripted;
  to->xscale = copy_of.xscale;
  to->yscale = copy_of.yscale;
  to->rotation = copy_of.rotation;
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

// Frame arguments: a number (1-based) or a label.
void GotoArg(avm1::Vm& vm, const Value& self, Args args, bool play) {
  if (!SelfClip(self) || args.empty()) return;
  Player::State& s = StateOf(vm);
  Value f = args[0];
  avm1::Object* clip = self.o;
  if (f.type == avm1::Type::String) {
    // "path:frame" names another clip's frame.
    const std::size_t colon = f.s.rfind(':');
    if (colon != std::string::npos) {
      clip = vm.ResolvePath(self.o, f.s.substr(0, colon));
      f = Value::Str(f.s.substr(colon + 1));
      if (!Player::State::ClipOf(clip)) return;
    }
    const double n = avm1::Vm::StringToNumber(f.s, 7);
    if (!std::isfinite(n)) {
      s.GotoLabel(clip, f.s, play);
      return;
    }
  }
  const double n = vm.ToNumber(f);
  if (std::isfinite(n)) s.GotoFrame(clip, int(std::clamp(n, -1.0, 70000.0)) - 1, play);
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
  if (Clip* other = SelfClip(args[0])) {
    if (other->parent.lock() != parent) return Value{};
    to = other->depth;
  } else {
    const double n = vm.ToNumber(args[0]);
    if (!std::isfinite(n) || n < -kDepthBias || n > 2130690045) return Value{};
    to = int(n) + kDepthBias;
  }
  const int from = c->depth;
  if (to == from) return Value{};
  auto a = parent->list.extract(from);
  auto b = parent->list.extract(to);
  if (a.empty()) return Value{};
  a.key() = to;
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
  const double depth = vm.ToNumber(args[1]);
  if (!std::isfinite(depth)) return Value{};
  s.DuplicateClip(self.o, vm.ToString(args[0]), int(depth));
  const std::shared_ptr<Clip> parent = c->parent.lock();
  if (!parent) return Value{};
  const auto it = parent->list.find(int(depth) + kDepthBias);
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
  const auto found = s.movie.exports.find(id);
  const double depth = vm.ToNumber(args[2]);
  if (found == s.movie.exports.end() || !std::isfinite(depth) || depth < -kDepthBias ||
      depth > 2130690045) {
    return Value{};
  }
  Clip* made = s.NewClip(*c, int(depth) + kDepthBias, found->second, vm.ToString(args[1]));
  if (!made) return Value{};
  ApplyInit(vm, made, ArgAt(args, 3));
  return Value::Obj(made->object);
}
Value McCreateEmpty(avm1::Vm& vm, const Value& self, Args args) {
  Clip* c = SelfClip(self);
  if (!c || args.size() < 2) return Value{};
  const double depth = vm.ToNumber(args[1]);
  if (!std::isfinite(depth) || depth < -kDepthBias || depth > 2130690045) return Value{};
  Clip* made = StateOf(vm).NewClip(*c, int(depth) + kDepthBias, 0, vm.ToString(args[0]));
  return made ? Value::Obj(made->object) : Value{};
}
Value McBytesTotal(avm1::Vm& vm, const Value& self, Args) {
  if (!SelfClip(self)) return Value{};
  return Value::Num(double(StateOf(vm).movie.header.file_length));
}
Value McBounds(avm1::Vm& vm, const Value& self, Args args) {
  Clip* c = SelfClip(self);
  if (!c) return Value{};
  Player::State& s = StateOf(vm);
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
  Rect r = s.Bounds(none, m);
  if (r.x_min > r.x_max)
    r = {6710886.35f * 20, 6710886.35f * 20, 6710886.35f * 20, 6710886.35f * 20};
  avm1::Object* o = vm.NewObject();
  vm.Set(o, "xMin", Value::Num(double(r.x_min) / 20));
  vm.Set(o, "xMax", Value::Num(double(r.x_max) / 20));
  vm.Set(o, "yMin", Value::Num(double(r.y_min) / 20));
  vm.Set(o, "yMax", Value::Num(double(r.y_max) / 20));
  return Value::Obj(o);
}
Value McHitTest(avm1::Vm&, const Value&, Args) {
  return Value::Bool(false);
}
Value McLeftOut(avm1::Vm& vm, const Value&, Args) {
  vm.LeftOut("method MovieClip drawing");
  return Value{};
}
Value McSwfVersion(avm1::Vm& vm, const Value& self, Args) {
  return SelfClip(self) ? Value::Num(vm.version()) : Value::Num(-1);
}
Value McGetUrl(avm1::Vm& vm, const Value&, Args args) {
  StateOf(vm).GetUrl(vm.ToString(ArgAt(args, 0)), vm.ToString(ArgAt(args, 1)), 0);
  return Value{};
}
Value McLoadMovie(avm1::Vm& vm, const Value&, Args) {
  vm.LeftOut("method MovieClip.loadMovie");
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
  def("getBytesLoaded", McBytesTotal);
  def("getBytesTotal", McBytesTotal);
  def("getBounds", McBounds);
  def("getRect", McBounds);
  def("hitTest", McHitTest);
  def("getSWFVersion", McSwfVersion);
  def("getURL", McGetUrl);
  def("loadMovie", McLoadMovie);
  def("unloadMovie", McLoadMovie);
  def("loadVariables", McLoadMovie);
  for (const char* name :
       {"lineStyle", "beginFill", "beginGradientFill", "moveTo", "lineTo", "curveTo", "endFill",
        "clear", "setMask", "startDrag", "stopDrag", "localToGlobal", "globalToLocal",
        "createTextField", "attachAudio", "attachBitmap", "lineGradientStyle"}) {
    def(name, McLeftOut);
  }
  avm1::Object* ctor = vm->NewFunction(McCtor, proto);
  vm->Define(vm->global, "MovieClip", Value::Obj(ctor), avm1::DontEnum);
  vm->DefineNative(vm->global, "fscommand", GlobalFsCommand);
}

// ---- Drawing -------------------------------------------------------------------------------

void Player::State::DrawList(Clip& clip, const Matrix& m, const ColorTransform& cx, bool in_mask) {
  std::vector<int> clip_ends;  // the depths up to which each active mask clips
  for (auto& [depth, o] : clip.list) {
    if (!o.visible) continue;
    while (!clip_ends.empty() && depth > clip_ends.back()) {
      renderer.PopMask();
      clip_ends.pop_back();
    }
    const Matrix om = o.matrix.Then(m);
    const ColorTransform ocx = o.color.Then(cx);
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
  if (!o.def || !o.visible || nesting > kMaxNesting) return false;
  bool any = false;
  if (const auto* shape = std::get_if<std::shared_ptr<const Shape>>(o.def)) {
    Extend((*shape)->bounds, m, box, any);
  } else if (const auto* morph = std::get_if<std::shared_ptr<const MorphShape>>(o.def)) {
    Extend((*morph)->start.bounds, m, box, any);
    Extend((*morph)->end.bounds, m, box, any);
  } else if (const auto* bitmap = std::get_if<std::shared_ptr<const Bitmap>>(o.def)) {
    Extend({0, float((*bitmap)->width) * 20, 0, float((*bitmap)->height) * 20}, m, box, any);
  } else if (o.clip) {
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
  if (!o.def || !o.visible) return;
  const bool layered = !in_mask && (o.blend != BlendMode::Normal || !o.filters.empty());
  if (layered) {
    Rect box;
    if (!DrawnBounds(o, m, box, 0)) box = {};
    const LayerEffects effects{o.blend, o.filters, stage_scale, cx};
    if (renderer.BeginLayer(box, effects)) {
      DrawBackground(o, m, ColorTransform{}, in_mask);
      DrawContent(o, m, ColorTransform{}, in_mask);
      renderer.EndLayer();
      return;
    }
  }
  DrawBackground(o, m, cx, in_mask);
  DrawContent(o, m, cx, in_mask);
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
    DrawList(*o.clip, m, cx, in_mask);
    return;
  } else if (o.text) {
    DrawTextField(*o.text, m, cx, in_mask);
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
  const Shape& frame = field.Frame();
  const Shape& glyphs = field.Glyphs();
  const std::size_t edges = frame.edges.size() + glyphs.edges.size() + 4;
  if (edges > edges_left) {
    edges_left = 0;
    return;
  }
  edges_left -= edges;
  if (!frame.edges.empty()) renderer.DrawShape(frame, m, cx);
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

void Player::State::StageSize(bool /*unscaled*/, double* width, double* height) {
  // Headless, the window is the stage: scaled or not, it has the movie's size.
  const Rect& r = movie.header.stage;
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
  // While the stream sound is heard, the sound sets the pace: frames run a little ahead of the
  // sample leaving the speaker, which the device's delay puts behind the one pulled (so the
  // audio device never waits for a block, and they are dropped from view as the drawing only
  // shows the last), never further; time only fills in between. However long the delay, the
  // queue keeps a little past what was pulled: the sound is never the one to wait.
  const auto queued = [&s] { return double(s.mixer.Stream().queued_samples); };
  const auto ahead_of_heard = [&] { return queued() + output_delay_; };
  const StreamState sound = s.mixer.Stream();
  const bool following = sound.active && sound.played_samples > 0;
  const double frame_samples = SoundMixer::kOutputRate * period;
  const double low = std::max(0.1 * SoundMixer::kOutputRate, 2 * frame_samples);
  const double high = std::max(0.3 * SoundMixer::kOutputRate, 4 * frame_samples);
  const double least = std::max(kMinStreamAheadSeconds * SoundMixer::kOutputRate, frame_samples);
  const auto starving = [&] { return queued() < least; };
  int ticks = 0;
  while (seconds >= s.next_time && ticks < kMaxTicksPerCall) {
    if (following && ahead_of_heard() > high && !starving()) {
      s.next_time = seconds;  // the sound is behind: wait for it
      break;
    }
    s.Tick(loop_);
    s.next_time += period;
    ++ticks;
  }
  while (following && s.tick_queued_block && ticks < kMaxTicksPerCall &&
         (ahead_of_heard() < low || starving())) {
    s.Tick(loop_);
    ++ticks;
  }
  if (seconds >= s.next_time) s.next_time = seconds;  // far behind: slow down, never burst
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
  s.DrawList(*s.root, stage, ColorTransform{}, false);
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

void Player::SetRandomSeed(std::uint64_t seed) {
  state_->vm->random_state = seed ? seed : 1;
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
