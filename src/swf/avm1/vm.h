#pragma once
// The ActionScript 1/2 machine: values with the conversions of each SWF version, objects with
// attribute flags and prototype chains on a heap with a byte budget and a collector, and the
// interpreter over the raw action bytes. Portable: the standard library only. The display list
// lives in the player; it shows its clips to scripts through `Host`.
//
// Bounds: a run of scripts does at most `Vm::kWorkPerFrame` actions between two `BeginFrame`
// calls, calls nest at most 255 deep below the block (the movie's ScriptLimits may lower it), and
// the heap stays under `Vm::kMaxHeapBytes`; a script past any of them is stopped (the movie goes
// on) and the VM says so once in `notes`.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "swf/text/code_pages.h"

namespace swf::avm1 {

class Object;
class Vm;

enum class Type : std::uint8_t { Undefined, Null, Boolean, Number, String, Object };

struct Value {
  Type type = Type::Undefined;
  bool b = false;
  double n = 0;
  std::string s;
  Object* o = nullptr;

  static Value Null() {
    Value v;
    v.type = Type::Null;
    return v;
  }
  static Value Bool(bool x) {
    Value v;
    v.type = Type::Boolean;
    v.b = x;
    return v;
  }
  static Value Num(double x) {
    Value v;
    v.type = Type::Number;
    v.n = x;
    return v;
  }
  static Value Str(std::string x) {
    Value v;
    v.type = Type::String;
    v.s = std::move(x);
    return v;
  }
  static Value Obj(Object* x) {
    if (!x) return Null();
    Value v;
    v.type = Type::Object;
    v.o = x;
    return v;
  }
  [[nodiscard]] bool IsNull() const { return type == Type::Null; }
  [[nodiscard]] bool IsUndefined() const { return type == Type::Undefined; }
  [[nodiscard]] bool IsNullish() const { return type == Type::Undefined || type == Type::Null; }
  [[nodiscard]] bool IsObject() const { return type == Type::Object; }
};

// Property attributes as ASSetPropFlags sets them; the higher bits hide a property from movies
// older than a version.
enum PropFlag : std::uint16_t { DontEnum = 1, DontDelete = 2, ReadOnly = 4 };
// The lowest SWF version that sees a property with these flags.
inline int VersionOf(std::uint16_t flags) {
  if (flags & 0x4000) return 10;
  if (flags & 0x2000) return 9;
  if (flags & 0x1000) return 8;
  if (flags & 0x0500) return 7;
  if (flags & 0x0080) return 6;
  return 0;
}

// Whether movies of `version` miss a property with these flags (as Flash Player tests them: 0x100
// hides from SWF 6 alone, 0x200 and 0x8000 from none).
inline bool HiddenIn(std::uint16_t flags, int version) {
  return ((flags & 0x0080) && version < 6) || ((flags & 0x0100) && version == 6) ||
         ((flags & 0x0400) && version < 7) || ((flags & 0x1000) && version < 8) ||
         ((flags & 0x2000) && version < 9) || ((flags & 0x4000) && version < 10);
}

struct Property {
  std::string name;  // as first written
  Value value;
  Object* getter = nullptr;  // addProperty
  Object* setter = nullptr;
  std::uint16_t flags = 0;
  bool removed = false;
};

enum class Kind : std::uint8_t {
  Plain,
  Function,
  Array,
  Boxed,  // a Number, String or Boolean object
  Date,
  Clip,  // a movie clip of the display list (Host)
  Arguments,
};

using NativeFn = Value (*)(Vm& vm, const Value& self, std::span<Value> args);

// A function defined by a script: its code and what it captured.
struct ScriptFunction {
  std::string name;
  std::vector<std::pair<int, std::string>> params;  // register (0: by name), name
  std::span<const std::uint8_t> code;
  std::shared_ptr<const std::vector<std::string>> pool;  // where it was defined
  std::vector<Object*> scope;                            // the scope chain where it was defined
  Object* base = nullptr;                                // the timeline it was defined on
  int registers = 0;
  std::uint16_t flags = 0;
  bool v2 = false;
  int version = 0;
};

// What a built-in class keeps on its instances besides properties (an XML node's links, a
// bitmap's pixels). The collector asks it for the objects it holds and its size.
class NativeData {
 public:
  NativeData() = default;
  virtual ~NativeData() = default;
  NativeData(const NativeData&) = delete;
  NativeData& operator=(const NativeData&) = delete;
  NativeData(NativeData&&) = delete;
  NativeData& operator=(NativeData&&) = delete;
  virtual void Trace(std::vector<Object*>& /*out*/) const {}
  [[nodiscard]] virtual std::size_t Bytes() const { return 0; }
};

struct Watcher {
  Object* callback = nullptr;
  Value user;
};

class Object {
 public:
  Kind kind = Kind::Plain;
  Object* proto = nullptr;
  std::vector<Property> props;
  std::unordered_map<std::string, std::uint32_t> index;  // key: see Vm::Key
  std::uint32_t live = 0;                                // props not removed
  // Functions.
  NativeFn native = nullptr;
  NativeFn construct = nullptr;  // a native called with `new`, when it differs
  std::shared_ptr<ScriptFunction> script;
  // Boxed primitives; a Date's time.
  Value primitive;
  // A clip of the host; null once it left the display list.
  void* clip = nullptr;
  // A clip's path when it was made ("_level0.a.b"): a reference to a clip that left finds the
  // clip now at that path, as Flash Player's references by path do.
  std::string path;
  std::map<std::string, Watcher>* watchers = nullptr;
  int pinned = 0;  // held by the host: a root of the collector
  bool marked = false;
  bool is_class_prototype = false;
  // A `super`: the object methods are called on, and the prototype the method was found on.
  Object* super_this = nullptr;
  Object* super_home = nullptr;
  // The prototypes of the interfaces a class prototype implements: set once, by the first
  // ImplementsOp that names any, even where none of them is one.
  std::vector<Object*> interfaces;
  bool implements_set = false;
  std::unique_ptr<NativeData> data;  // a built-in class's state

  Object() = default;
  ~Object() { delete watchers; }
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  Object(Object&&) = delete;
  Object& operator=(Object&&) = delete;
};

// What a display-list clip can do, as the player implements it. Clip objects are made by the
// host (`Vm::NewClipObject`) and carry its pointer in `Object::clip`.
class Host {
 public:
  Host() = default;
  virtual ~Host() = default;
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;
  Host(Host&&) = delete;
  Host& operator=(Host&&) = delete;

  virtual Object* Root() = 0;
  // The root `clip` sees as _root: its movie's (a loaded movie's, unless it lets the parent's
  // _lockroot reach through), the main timeline's for anything else.
  virtual Object* RootOf(Object* /*clip*/) { return Root(); }
  // _levelN (null when no movie plays there), and the level a top clip plays at.
  virtual Object* Level(int n) { return n == 0 ? Root() : nullptr; }
  virtual int LevelOf(Object* /*top*/) { return 0; }
  virtual Object* Parent(Object* clip) = 0;
  virtual Object* Child(Object* clip, std::string_view name) = 0;
  // The `_` properties by their GetProperty number (0 `_x` .. 21 `_ymouse`).
  virtual Value GetProperty(Object* clip, int index) = 0;
  virtual void SetProperty(Object* clip, int index, const Value& v) = 0;
  // Timeline actions: frame is 0-based; `label` non-empty for a label.
  virtual void GotoFrame(Object* clip, int frame, bool play) = 0;
  // The frame `bias` frames past the label's (a scene's frame named by a label of the first).
  virtual bool GotoLabel(Object* clip, std::string_view label, bool play, int bias) = 0;
  virtual void SetPlaying(Object* clip, bool playing) = 0;
  virtual int CurrentFrame(Object* clip) = 0;  // 0-based
  virtual int FramesLoaded(Object* clip) = 0;
  virtual bool IsButton(Object* /*clip*/) { return false; }
  // Runs the actions of a frame of the clip now (0-based, or by label), staying where it is.
  virtual void CallFrame(Object* /*clip*/, int /*frame*/, std::string_view /*label*/) {}
  virtual void GetUrl(const std::string& url, const std::string& target, int method) = 0;
  virtual void RemoveClip(Object* clip) = 0;
  virtual void DuplicateClip(Object* clip, const std::string& name, int depth) = 0;
  virtual void StartDrag(Object* /*clip*/, bool /*lock*/) {}
  virtual void StopDrag() {}
  virtual void LeftOut(const std::string& what) = 0;

  // ---- What the built-in objects ask of the player. The defaults are those of a player with no
  // window, input, files or sound.
  // The stage in pixels: the movie's size, or the window's when `unscaled` (Stage.scaleMode
  // "noScale").
  virtual void StageSize(bool /*unscaled*/, double* width, double* height) {
    *width = 550;
    *height = 400;
  }
  virtual bool KeyDown(int /*code*/) { return false; }
  // The key last pressed: its code, or the character it typed when `ascii`.
  virtual int LastKey(bool /*ascii*/) { return 0; }
  // Whether a lock key (20 caps, 144 num, 145 scroll) is on.
  virtual bool KeyToggled(int /*code*/) { return false; }
  // Keyboard focus as Selection sees it: the focused clip, button or text field, null for none.
  virtual Object* Focus() { return nullptr; }
  // Its path ("_level0.a.b"); empty for none.
  virtual std::string FocusPath() { return {}; }
  // Selection.setFocus: false when `target` can't take the focus; null takes it away.
  virtual bool SetFocus(Object* /*target*/) { return false; }
  // The focused text field's selection, characters from the start: begin, end and caret; all -1
  // without a focused text field.
  virtual void GetSelection(int* begin, int* end, int* caret) { *begin = *end = *caret = -1; }
  virtual void SetSelection(int /*begin*/, int /*end*/) {}
  // loadMovie, loadMovieNum, MovieClipLoader.loadClip: the movie or picture `url` of the movie's
  // folder into `target` (a clip, or a level's number), a frame later; `loader` (may be null)
  // hears how it goes. False when nothing will be tried.
  virtual bool LoadMovie(const std::string& /*url*/, const Value& /*target*/, Object* /*loader*/) {
    return false;
  }
  // unloadMovie, unloadMovieNum, MovieClipLoader.unloadClip: empties the clip or level.
  virtual bool UnloadMovie(const Value& /*target*/) { return false; }
  // The bytes of the movie a clip shows (getBytesLoaded, getProgress); false for no clip.
  virtual bool MovieBytes(Object* /*clip*/, double* /*loaded*/, double* /*total*/) { return false; }
  // A file of the movie's own folder by a relative name already checked to stay inside it;
  // nullopt when there is none. Never a URL.
  virtual std::optional<std::string> ReadMovieFile(const std::string& /*name*/) {
    return std::nullopt;
  }
  // Sounds, as `Sound` objects play them. A sound is an exported DefineSound by its linkage name:
  // its id (0: none) and length in ms. `owner` is the clip a Sound object was made for (null:
  // the whole movie).
  virtual int FindSound(const std::string& /*linkage*/, double* /*duration_ms*/) { return 0; }
  virtual void StartSound(Object* /*owner*/, int /*sound*/, double /*offset_s*/, int /*loops*/) {}
  // Stops `sound` (0: every sound) the owner started.
  virtual void StopSound(Object* /*owner*/, int /*sound*/) {}
  // How far the owner's last start of `sound` has played, in ms.
  virtual double SoundPosition(Object* /*owner*/, int /*sound*/) { return 0; }
  // The owner's volume (0..100, the script's number) and pan (-100..100).
  virtual void SetSoundTransform(Object* /*owner*/, int /*volume*/, int /*pan*/) {}
  // A clip's matrix (a, b, c, d, then tx, ty in pixels) and colour transform (red, green, blue,
  // alpha multipliers, then their offsets) as the display list holds them; false once it left.
  virtual bool GetClipMatrix(Object* /*clip*/, double* /*m*/) { return false; }
  virtual void SetClipMatrix(Object* /*clip*/, const double* /*m*/) {}
  virtual bool GetClipColor(Object* /*clip*/, double* /*c*/) { return false; }
  virtual void SetClipColor(Object* /*clip*/, const double* /*c*/) {}
  // Draws `source` (a clip) into a bitmap of width x height premultiplied-free ARGB pixels with
  // the script's matrix (a, b, c, d, tx, ty in pixels); false when the player can't.
  virtual bool DrawClipInto(Object* /*source*/, const double* /*matrix*/, std::uint32_t* /*argb*/,
                            int /*width*/, int /*height*/) {
    return false;
  }
};

struct Timer {
  int id = 0;
  Object* target = nullptr;  // function, or an object whose method is called
  std::string method;
  std::vector<Value> args;
  double interval = 0;  // ms
  double next = 0;
  bool repeat = true;
  bool at_once = false;  // due at the next RunTimers, as a load's answer
};

// An internal stop of the running script (budget, recursion, heap).
struct Stop {};
// A script's `throw`.
struct Thrown {
  Value value;
};

class Vm {
 public:
  static constexpr std::size_t kWorkPerFrame = 4'000'000;
  static constexpr int kMaxDepth = 256;
  static constexpr std::size_t kMaxHeapBytes = 128u << 20;
  static constexpr std::size_t kMaxStringBytes = 16u << 20;
  static constexpr std::size_t kMaxTimers = 256;
  static constexpr std::size_t kMaxStack = 1u << 16;

  Vm(int version, Host* host);
  ~Vm();
  Vm(const Vm&) = delete;
  Vm& operator=(const Vm&) = delete;
  Vm(Vm&&) = delete;
  Vm& operator=(Vm&&) = delete;

  // The code page of SWF 5 and older blocks' strings.
  void SetCodePage(CodePage page) { code_page_ = page; }

  // ---- Running -----------------------------------------------------------------------------
  // A new frame's budget of work; what the last frame's blocks left on the stack is gone.
  void BeginFrame() {
    work_left_ = kWorkPerFrame;
    stack_.clear();
  }
  // The movie's ScriptLimits: how many levels a script may nest, the running block counting as
  // the first (Flash Player's default is 256); never above the default.
  void SetRecursionLimit(int levels) { max_calls_ = std::clamp(levels, 1, kMaxDepth) - 1; }
  // Runs one action block (a frame's DoAction, a clip event) with `clip` as its timeline.
  void RunBlock(std::span<const std::uint8_t> code, Object* clip, int version);
  // Calls `fn` (a function object) or `object[method]` with `this`; errors and stops end it.
  Value CallSafe(Object* fn, const Value& self, std::span<Value> args);
  bool CallMethodSafe(Object* object, std::string_view method, std::span<Value> args);
  // Due timers at `ms` since the first frame.
  void RunTimers(double ms);
  // Collects unreachable objects when the heap grew enough since the last collection.
  void MaybeCollect();
  void Collect();
  [[nodiscard]] std::size_t HeapObjects() const { return heap_.size(); }

  // ---- Values ------------------------------------------------------------------------------
  [[nodiscard]] int version() const { return version_; }
  [[nodiscard]] double ToNumber(const Value& v);
  [[nodiscard]] std::string ToString(const Value& v);
  [[nodiscard]] bool ToBoolean(const Value& v) const;
  [[nodiscard]] std::int32_t ToInt32(const Value& v);
  [[nodiscard]] Value ToPrimitive(const Value& v, bool string_hint = false);
  [[nodiscard]] Object* ToObject(const Value& v);
  [[nodiscard]] static std::string NumberToString(double n);
  [[nodiscard]] static double StringToNumber(std::string_view s, int version);
  [[nodiscard]] std::string TypeOf(const Value& v);
  bool Equals(const Value& a, const Value& b);
  static bool StrictEquals(const Value& a, const Value& b);
  // a < b: true, false, or undefined for NaN.
  Value Less(const Value& a, const Value& b);

  // ---- Objects -----------------------------------------------------------------------------
  Object* NewObject(Object* proto = nullptr);  // Object.prototype by default
  Object* NewArray(std::span<const Value> items = {});
  Object* NewFunction(NativeFn fn, Object* proto_object = nullptr, NativeFn construct = nullptr);
  Object* NewClipObject(void* clip);
  void Pin(Object* o) { ++o->pinned; }
  void Unpin(Object* o) { --o->pinned; }

  [[nodiscard]] std::string Key(std::string_view name) const;
  Property* FindOwn(Object* o, std::string_view name);
  Value Get(Object* o, std::string_view name);                // through the prototypes, getters run
  Value GetMember(const Value& base, std::string_view name);  // __resolve answers a miss
  Value Resolve(Object* o, std::string_view name);            // what __resolve says of `name`
  void Set(Object* o, std::string_view name, Value v);        // setters and watchers run
  void SetMember(const Value& base, std::string_view name, Value v);
  void Define(Object* o, std::string_view name, Value v, std::uint16_t flags = 0);
  void DefineNative(Object* o, std::string_view name, NativeFn fn, std::uint16_t flags = DontEnum);
  bool Delete(Object* o, std::string_view name);
  bool HasProperty(Object* o, std::string_view name);
  std::vector<std::string> Enumerate(Object* o);
  // Arrays.
  [[nodiscard]] std::int64_t Length(Object* o);
  void SetLength(Object* o, std::int64_t length);
  std::vector<Value> Elements(Object* o);
  void Push(Object* array, Value v);

  Value Call(const Value& fn, const Value& self, std::span<Value> args, Object* super = nullptr);
  Value Construct(const Value& ctor, std::span<Value> args);
  bool InstanceOf(const Value& v, Object* ctor);
  // ImplementsOp: `ctor`'s prototype takes the interfaces' prototypes, the first time only.
  void Implement(const Value& ctor, std::span<const Value> interfaces);

  // ---- Well-known objects ------------------------------------------------------------------
  Object* global = nullptr;
  Object* object_proto = nullptr;
  Object* function_proto = nullptr;
  Object* array_proto = nullptr;
  Object* string_proto = nullptr;
  Object* number_proto = nullptr;
  Object* boolean_proto = nullptr;
  Object* date_proto = nullptr;
  Object* clip_proto = nullptr;
  Object* object_ctor = nullptr;
  Object* array_ctor = nullptr;
  // Object.registerClass: the constructor of a symbol's clips (null removes it). Code of SWF 7
  // and later registers and finds names as written, older code ignoring letter case, in a table
  // of its own: a movie doesn't see what one of the other kind registered.
  void RegisterClass(std::string_view symbol, Object* ctor, int version);
  Object* RegisteredClass(std::string_view symbol, int version);
  // ASnative's table: category << 16 | index to the built-in it names.
  std::unordered_map<std::uint32_t, NativeFn> native_table;

  Host* host() { return host_; }
  std::vector<std::string>& trace() { return trace_; }
  void Trace(std::string line);
  void Note(const std::string& what);  // once per kind
  void LeftOut(const std::string& what) { host_->LeftOut(what); }
  std::vector<std::string> notes;
  std::uint64_t random_state = 0x9E3779B97F4A7C15ull;
  double Random();  // [0, 1)
  double now_ms = 0;
  // A fixed wall clock for Date (repeatable runs): the UTC time at now_ms 0 and the local zone's
  // offset from UTC, in ms. Unset: the system's clock and zone.
  struct WallClock {
    double utc_ms = 0;
    double zone_ms = 0;
  };
  std::optional<WallClock> wall_clock;
  void Charge(std::size_t bytes);
  void Work(std::size_t n = 1);  // actions' worth of the frame's budget (pixels, characters)
  int AddTimer(Timer t);
  void ClearTimer(int id);
  [[nodiscard]] Object* TargetOf(const Value& v);  // a clip object from a clip or a path
  // The clip a clip reference stands for now: itself, the clip at its path once it left, or
  // null; any other object as it is.
  Object* Live(Object* o);
  // Whether the running block comes from a SWF 4 movie (or older).
  [[nodiscard]] bool Swf4Block() const { return block_version_ > 0 && block_version_ <= 4; }
  Object* ResolvePath(Object* from, std::string_view path);
  // gotoAndPlay or gotoAndStop on `clip`: a frame number (1-based, `bias` frames on: a scene's
  // start), a label, or "path:frame" for another clip's.
  void GotoValue(Object* clip, Value frame, bool play, int bias = 0);
  // _root as the running script sees it.
  Object* RunningRoot() { return host_->RootOf(running_base_); }
  // The number of a `_levelN` name; -1 for any other.
  static int LevelNumber(std::string_view name);
  [[nodiscard]] std::string ClipPath(Object* clip, bool slash);

  struct Frame;

 private:
  void InstallBuiltins();
  void InstallStrings();
  void InstallArrays();
  void InstallMath();
  void Execute(Frame& f, std::span<const std::uint8_t> code, Value* result, bool* returned);
  Value CallScript(Object* fn, const Value& self, std::span<Value> args, Object* super);
  // super.method() or super() (an empty method) through a `super` object.
  Value CallSuper(Object* sup, const std::string& method, std::span<Value> args);
  Value GetVariable(Frame& f, const std::string& name);
  Object* StandIn(const Frame& f);
  // One level of nesting (a call) while it lives; past the limit the script is stopped.
  class Level {
   public:
    explicit Level(Vm& vm);
    ~Level() { --vm_.depth_; }
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;
    Level(Level&&) = delete;
    Level& operator=(Level&&) = delete;

   private:
    Vm& vm_;
  };
  void SetVariable(Frame& f, const std::string& name, Value v);
  Object* PathTarget(Frame& f, std::string_view path);  // the object a variable path names
  Value Pop();
  void PushValue(Value v);
  void Mark(Object* o, std::vector<Object*>& stack);
  void MarkValue(const Value& v, std::vector<Object*>& stack);
  Value ClipGet(Object* clip, std::string_view name, bool* found);
  bool ClipSet(Object* clip, std::string_view name, const Value& v);
  std::string DecodeString(std::string_view raw) const;
  [[nodiscard]] int VirtualDepth(const Object* o, std::string_view name) const;

  int version_;
  Host* host_;
  std::vector<Object*> heap_;
  std::size_t heap_bytes_ = 0;
  std::size_t heap_after_collect_ = 0;
  std::size_t work_left_ = kWorkPerFrame;
  int depth_ = 0;
  int max_calls_ = kMaxDepth - 1;
  bool running_ = false;
  std::vector<Value> stack_;
  Value global_registers_[4];
  std::vector<std::string> trace_;
  std::map<std::string, bool> noted_;
  std::vector<Timer> timers_;
  int next_timer_ = 1;
  int block_version_ = 0;
  CodePage code_page_ = CodePage::Windows1252;
  // Property names' letter case follows the main movie's version whatever code runs: one heap
  // keeps one kind of key.
  int key_version_;
  Object* running_base_ = nullptr;             // the timeline the running code was defined on
  std::map<std::string, Object*> classes_[2];  // registerClass: SWF 6 and older, SWF 7 on
  // Getters, setters and watchers of one property running inside one another.
  std::map<std::pair<const Object*, std::string>, int> virtual_depth_;
  friend struct Nested;
  friend struct Builtins;
};

}  // namespace swf::avm1
