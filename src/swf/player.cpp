// Playing a loaded movie: the display lists of the main timeline and its sprites, the frame
// clock, the timeline actions, and drawing and sound through the renderer and the mixer.
#include <algorithm>
#include <cmath>
#include <deque>
#include <utility>

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
constexpr std::size_t kMaxActionsPerTick = 100'000;
constexpr int kMaxBlocksPerTick = 1000;   // action blocks run (gotos queue their frame's)
constexpr std::size_t kMaxQueued = 4096;  // action blocks waiting in one tick
constexpr int kMaxTicksPerCall = 8;
constexpr std::size_t kMaxCommands = 1000;
constexpr std::size_t kMaxEdgesPerRender = 1'000'000;
constexpr int kMaxVideoPacketsPerRender = 16;  // decoded towards the frames the videos show
constexpr std::size_t kMaxVideoStreams = 16;   // streams with pictures kept at once

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
  std::map<std::uint16_t, Object> list;
};

bool StartsWithFsCommand(const std::string& url) {
  return SameIgnoringCase(std::string_view(url).substr(0, 10), "fscommand:");
}

}  // namespace

struct Player::State {
  State(const Movie& m, Mp3DecoderFactory mp3, VideoDecoderFactory video)
      : movie(m), mixer(std::move(mp3)), video_decoders(std::move(video)) {
    root = std::make_shared<Clip>(m.main, 0, 0, census);
    root->playing = false;
  }

  void Tick(bool loop);
  bool Goto(Clip& clip, int target);
  void Apply(Clip& clip, const ControlTag& tag);
  void Place(Clip& clip, const PlaceTag& p);
  void SetCharacter(Clip& parent, Object& o, std::uint16_t id);
  void EnterFrame(Clip& clip);
  void AdvanceSprites(Clip& clip);
  void RunQueue();
  void Run(Clip& clip, const ActionBlock& block);
  void Url(const std::string& url, const std::string& target);
  std::shared_ptr<Clip> Find(Clip& from, const std::string& path);

  void DrawList(Clip& clip, const Matrix& m, const ColorTransform& cx, bool in_mask);
  void DrawObject(Object& o, const Matrix& m, const ColorTransform& cx, bool in_mask);
  void DrawTextField(TextField& field, const Matrix& m, const ColorTransform& cx, bool in_mask);
  bool VideoShape(std::uint16_t id, const std::shared_ptr<const VideoStream>& stream, int frame);
  void DrawContent(Object& o, const Matrix& m, const ColorTransform& cx, bool in_mask);
  void DrawBackground(Object& o, const Matrix& m, const ColorTransform& cx, bool in_mask);

  const Movie& movie;
  TextFonts text_fonts{movie};  // before `root`: text fields use it until they go
  Census census;                // before `root`: the clips count themselves out of it
  std::shared_ptr<Clip> root;
  std::uint64_t tick = 0;
  bool started = false;
  bool ended = false;    // the last frame was shown without loop
  bool restart = false;  // Play after the end: the next tick shows the first frame again
  double next_time = 0;
  bool tick_queued_block = false;

  std::size_t tags_left = 0;
  std::size_t actions_left = 0;
  int blocks_left = 0;
  std::deque<std::pair<std::weak_ptr<Clip>, const ActionBlock*>> queue;
  // A backward goto rebuilds a display list; objects found again keep their sprite's state.
  std::map<std::uint16_t, Object>* reuse = nullptr;

  std::vector<MovieCommand> commands;
  std::vector<std::string> trace;
  std::uint64_t random_seed = 0;
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
};

// ---- Timeline ------------------------------------------------------------------------------

void Player::State::Tick(bool loop) {
  ++tick;
  tags_left = kMaxTagsPerTick;
  actions_left = kMaxActionsPerTick;
  blocks_left = kMaxBlocksPerTick;
  tick_queued_block = false;
  Clip& main = *root;
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
  AdvanceSprites(main);
  RunQueue();
  if (main.playing && !loop && main.frame == main.last()) {
    main.playing = false;
    ended = true;
    // The stream sound ends with the movie; event sounds play on, as in Flash.
    mixer.StopStream();
  }
}

// Shows `target` (clamped to the timeline) on `clip`: forward by applying the frames between,
// backward by rebuilding the list from the first frame. The frame's actions are queued. False
// when the tick can't afford the tags it would apply (nothing changes then).
bool Player::State::Goto(Clip& clip, int target) {
  target = std::clamp(target, 0, clip.last());
  if (target == clip.frame) return true;
  const bool forward = target > clip.frame;
  const std::size_t cost =
      forward ? clip.TagsThrough(target) - clip.TagsThrough(clip.frame) : clip.TagsThrough(target);
  if (cost > tags_left) return false;
  tags_left -= cost;
  std::map<std::uint16_t, Object> old;
  const int first = forward ? clip.frame + 1 : 0;
  if (!forward) {
    census.objects -= clip.list.size();  // placed again (and counted) as the frames replay
    old = std::move(clip.list);
    clip.list.clear();
  }
  std::map<std::uint16_t, Object>* outer_reuse = reuse;
  reuse = forward ? nullptr : &old;
  for (int f = first; f <= target; ++f) {
    for (const ControlTag& tag : clip.timeline->frames[std::size_t(f)].tags) Apply(clip, tag);
  }
  reuse = outer_reuse;
  clip.frame = target;
  EnterFrame(clip);
  return true;
}

// What a frame does once shown: its actions are queued, its sounds started.
void Player::State::EnterFrame(Clip& clip) {
  const Frame& frame = clip.timeline->frames[std::size_t(clip.frame)];
  for (const ActionBlock& block : frame.actions) {
    if (queue.size() >= kMaxQueued) break;
    queue.emplace_back(clip.weak_from_this(), &block);
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

void Player::State::Apply(Clip& clip, const ControlTag& tag) {
  if (const auto* remove = std::get_if<RemoveTag>(&tag)) {
    census.objects -= clip.list.erase(remove->depth);
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
    }
    Object o;
    if (reuse) {
      // Found again after a backward goto: the same object, its sprite's state kept.
      const auto found = reuse->find(p.depth);
      if (found != reuse->end() && found->second.character == p.character) {
        o = std::move(found->second);
        o.matrix = Matrix{};
        o.color = ColorTransform{};
        o.ratio = 0;
        o.name.clear();
        o.clip_depth = 0;
        o.filters.clear();
        o.blend = BlendMode::Normal;
        o.cache_as_bitmap = false;
        o.visible = true;
        o.background.reset();
      }
    }
    it = clip.list.insert_or_assign(p.depth, std::move(o)).first;
    if (!it->second.def || it->second.character != p.character) {
      SetCharacter(clip, it->second, p.character);
    }
  } else if (p.kind == PlaceKind::Replace && p.character != it->second.character) {
    SetCharacter(clip, it->second, p.character);
  }
  Object& o = it->second;
  if (p.matrix) o.matrix = *p.matrix;
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

void Player::State::SetCharacter(Clip& parent, Object& o, std::uint16_t id) {
  o.character = id;
  o.def = movie.Find(id);
  o.clip.reset();
  o.text.reset();
  if (!o.def) return;
  if (const auto* edit = std::get_if<std::shared_ptr<const EditText>>(o.def)) {
    o.text = std::make_shared<TextField>(*edit, movie, text_fonts);
    return;
  }
  const auto* sprite = std::get_if<std::shared_ptr<const Sprite>>(o.def);
  // Too deep or too many: the sprite shows nothing (a sprite that places itself ends here).
  if (!sprite || parent.nesting >= kMaxNesting || census.clips >= kMaxClips) return;
  o.clip = std::make_shared<Clip>((*sprite)->timeline, parent.nesting + 1, tick, census);
  o.clip->parent = parent.weak_from_this();
  Goto(*o.clip, 0);
}

void Player::State::AdvanceSprites(Clip& clip) {
  for (auto& [depth, o] : clip.list) {
    if (!o.clip) continue;
    Clip& sprite = *o.clip;
    if (sprite.frame < 0) {
      Goto(sprite, 0);  // placed when the tick couldn't afford its first frame
    } else if (sprite.born < tick && sprite.playing && sprite.last() > 0) {
      Goto(sprite, sprite.frame < sprite.last() ? sprite.frame + 1 : 0);
    }
    AdvanceSprites(sprite);
  }
}

// ---- Actions -------------------------------------------------------------------------------

void Player::State::RunQueue() {
  while (!queue.empty() && blocks_left > 0) {
    auto [weak, block] = queue.front();
    queue.pop_front();
    --blocks_left;
    if (const std::shared_ptr<Clip> clip = weak.lock()) Run(*clip, *block);
  }
  queue.clear();  // what this tick can't afford is dropped
}

// A tellTarget path: slash ("/a/b", "../c") or dot ("_root.a.b") syntax, instance names in any
// letter case. Null when nothing is found.
std::shared_ptr<Clip> Player::State::Find(Clip& from, const std::string& path) {
  std::shared_ptr<Clip> at = from.shared_from_this();
  std::size_t i = 0;
  if (!path.empty() && path[0] == '/') {
    at = root;
    i = 1;
  }
  const auto step = [this](const std::shared_ptr<Clip>& c, const std::string& name) {
    if (name.empty() || name == "this") return c;
    if (SameIgnoringCase(name, "_parent")) return c->parent.lock();
    if (SameIgnoringCase(name, "_root") || SameIgnoringCase(name, "_level0")) return root;
    for (auto& [depth, o] : c->list) {
      if (o.clip && SameIgnoringCase(o.name, name)) return o.clip;
    }
    return std::shared_ptr<Clip>();
  };
  while (at && i < path.size()) {
    const std::size_t end = std::min(path.find('/', i), path.size());
    const std::string token = path.substr(i, end - i);
    i = end + 1;
    if (token == "..") {
      at = at->parent.lock();
      continue;
    }
    for (std::size_t j = 0; at && j <= token.size();) {
      const std::size_t dot = std::min(token.find('.', j), token.size());
      at = step(at, token.substr(j, dot - j));
      j = dot + 1;
    }
  }
  return at;
}

void Player::State::Run(Clip& own, const ActionBlock& block) {
  std::shared_ptr<Clip> target = own.shared_from_this();
  std::vector<ActionValue> stack;
  const std::vector<std::string>* pool = nullptr;
  const auto pop = [&stack] {
    ActionValue v;
    if (!stack.empty()) {
      v = std::move(stack.back());
      stack.pop_back();
    }
    return v;
  };
  for (const Action& a : block) {
    const std::size_t cost = 1 + a.items.size();
    if (cost > actions_left) return;
    actions_left -= cost;
    if (a.op == ActionOp::SetTarget || a.op == ActionOp::SetTarget2) {
      std::string path = a.text;
      if (a.op == ActionOp::SetTarget2) {
        const ActionValue v = pop();
        const auto* s = std::get_if<std::string>(&v);
        path = s ? *s : std::string(1, '\0');  // not a path: no target
      }
      target = path.empty() ? own.shared_from_this() : Find(own, path);
      continue;
    }
    if (!target) {
      if (a.op == ActionOp::Push || a.op == ActionOp::ConstantPool || a.op == ActionOp::Other ||
          a.op == ActionOp::GetUrl || a.op == ActionOp::GetUrl2) {
        // These don't act on a clip: they go on as usual.
      } else {
        continue;  // a target that doesn't exist: its timeline actions do nothing
      }
    }
    Clip& clip = target ? *target : own;
    switch (a.op) {
      case ActionOp::Stop:
        clip.playing = false;
        break;
      case ActionOp::Play:
        clip.playing = true;
        break;
      case ActionOp::NextFrame:
      case ActionOp::PreviousFrame:
        Goto(clip, clip.frame + (a.op == ActionOp::NextFrame ? 1 : -1));
        clip.playing = false;
        break;
      case ActionOp::GotoFrame:
        Goto(clip, a.frame);
        clip.playing = false;
        break;
      case ActionOp::GotoLabel:
        if (const auto frame = clip.timeline->FindLabel(a.text)) Goto(clip, *frame);
        clip.playing = false;
        break;
      case ActionOp::GotoFrame2: {
        const ActionValue v = pop();
        std::optional<int> frame;
        if (const auto* n = std::get_if<double>(&v)) {
          if (std::isfinite(*n)) frame = int(std::clamp(*n, -1.0, 70000.0)) - 1 + a.frame;
        } else if (const auto* s = std::get_if<std::string>(&v)) {
          frame = clip.timeline->FindLabel(*s);
          if (!frame && !s->empty() && s->find_first_not_of("0123456789") == std::string::npos &&
              s->size() < 6) {
            frame = std::stoi(*s) - 1 + a.frame;
          }
        }
        if (frame) Goto(clip, *frame);
        clip.playing = a.play;
        break;
      }
      case ActionOp::GetUrl:
        Url(a.text, a.target);
        break;
      case ActionOp::GetUrl2: {
        const ActionValue window = pop();
        const ActionValue url = pop();
        const auto* u = std::get_if<std::string>(&url);
        const auto* t = std::get_if<std::string>(&window);
        if (u && t) Url(*u, *t);
        break;
      }
      case ActionOp::Push:
        for (const PushItem& item : a.items) {
          if (item.constant < 0) {
            stack.push_back(item.value);
          } else if (pool && std::size_t(item.constant) < pool->size()) {
            stack.emplace_back((*pool)[std::size_t(item.constant)]);
          } else {
            stack.emplace_back();
          }
        }
        break;
      case ActionOp::ConstantPool:
        pool = &a.pool;
        break;
      case ActionOp::Other:
        stack.clear();  // what it did to the stack is unknown
        break;
      case ActionOp::SetTarget:
      case ActionOp::SetTarget2:
        break;
    }
  }
}

void Player::State::Url(const std::string& url, const std::string& target) {
  if (!StartsWithFsCommand(url) || commands.size() >= kMaxCommands) return;
  commands.push_back({url.substr(10), target});
}

// ---- Drawing -------------------------------------------------------------------------------

void Player::State::DrawList(Clip& clip, const Matrix& m, const ColorTransform& cx, bool in_mask) {
  std::vector<std::uint16_t> clip_ends;  // the depths up to which each active mask clips
  for (auto& [depth, o] : clip.list) {
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
bool Bounds(const Object& o, const Matrix& m, Rect& box, int nesting) {
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
      if (child.clip_depth == 0 && Bounds(child, child.matrix.Then(m), inner, nesting + 1)) {
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
  if (!o.background || in_mask || !Bounds(o, Matrix{}, r, 0)) return;
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
    if (!Bounds(o, m, box, 0)) box = {};
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

// ---- The player ----------------------------------------------------------------------------

Player::Player(std::shared_ptr<const Movie> movie, Mp3DecoderFactory mp3, VideoDecoderFactory video)
    : movie_(std::move(movie)),
      state_(std::make_unique<State>(*movie_, std::move(mp3), std::move(video))) {
  for (const auto& sound : movie_->sound_definitions) state_->mixer.DefineSound(sound);
}

Player::~Player() = default;

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
  }
  const double rate = std::clamp(double(movie_->header.frame_rate), 1.0, 120.0);
  const double period = 1.0 / rate;
  // While the stream sound is heard, the sound sets the pace: frames run a little ahead of it
  // (so the audio device never waits for a block, and they are dropped from view as the
  // drawing only shows the last), never further; time only fills in between.
  const auto queued = [&s] { return double(s.mixer.Stream().queued_samples); };
  const StreamState sound = s.mixer.Stream();
  const bool following = sound.active && sound.played_samples > 0;
  const double frame_samples = SoundMixer::kOutputRate * period;
  const double low = std::max(0.1 * SoundMixer::kOutputRate, 2 * frame_samples);
  const double high = std::max(0.3 * SoundMixer::kOutputRate, 4 * frame_samples);
  int ticks = 0;
  while (seconds >= s.next_time && ticks < kMaxTicksPerCall) {
    if (following && queued() > high) {
      s.next_time = seconds;  // the sound is behind: wait for it
      break;
    }
    s.Tick(loop_);
    s.next_time += period;
    ++ticks;
  }
  while (following && s.tick_queued_block && ticks < kMaxTicksPerCall && queued() < low) {
    s.Tick(loop_);
    ++ticks;
  }
  if (seconds >= s.next_time) s.next_time = seconds;  // far behind: slow down, never burst
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
  return std::exchange(state_->trace, {});
}

void Player::SetRandomSeed(std::uint64_t seed) {
  state_->random_seed = seed;
}

std::vector<LeftOut> Player::LeftOutSoFar() const {
  std::map<std::string, int> all = movie_->left_out;
  for (const auto& [what, count] : state_->left_out) all[what] += count;
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
