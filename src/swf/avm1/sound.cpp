// Sound: an exported sound attached by its linkage name and played through the player, with
// volume, pan and the channel transform kept as Flash Player keeps them (32-bit integers).
#include <cmath>
#include <map>

#include "swf/avm1/objects.h"
#include "swf/sound.h"

namespace swf::avm1 {
namespace {

struct SoundState : NativeData {
  Object* owner = nullptr;  // the clip the sound belongs to; null for the whole movie
  std::string path;         // a target given by its path: found again at each call
  int sound = 0;            // the host's id of the attached sound
  double duration = 0;      // ms
  bool file = false;        // loadSound's: a file of the movie's folder, heard as it completes
  void Trace(std::vector<Object*>& out) const override { out.push_back(owner); }
};

// How long an MP3 file plays, in ms, from its frames' headers (an ID3v2 tag before them
// skipped); 0 when it holds no frame.
double Mp3FileDurationMs(std::span<const std::uint8_t> file) {
  std::size_t at = 0;
  if (file.size() >= 10 && file[0] == 'I' && file[1] == 'D' && file[2] == '3') {
    // The tag's size: four 7-bit bytes, the header's ten bytes and a footer's on top.
    const std::size_t size = std::size_t(file[6] & 0x7F) << 21 | std::size_t(file[7] & 0x7F) << 14 |
                             std::size_t(file[8] & 0x7F) << 7 | std::size_t(file[9] & 0x7F);
    at = 10 + size + ((file[5] & 0x10) ? 10 : 0);
  }
  double ms = 0;
  while (at + 4 <= file.size()) {
    const std::optional<Mp3FrameHeader> h = ReadMp3FrameHeader(file.subspan(at));
    if (!h || h->size < 4) {
      ++at;  // not a frame here: look on, a byte at a time
      continue;
    }
    ms += double(h->samples_per_frame) * 1000 / h->rate;
    at += h->size;
  }
  return ms;
}

SoundState* StateOf(const Value& v) {
  return DataOf<SoundState>(v);
}
// The state of a Sound object whose clip is there now: a target given by its path is looked up
// again (a clip renamed since doesn't answer, one of that name made since does).
SoundState* Reached(Vm& vm, const Value& v) {
  SoundState* s = StateOf(v);
  if (!s || s->path.empty()) return s;
  s->owner = vm.TargetOf(Value::Str(s->path));
  return s->owner ? s : nullptr;
}

// Volume and transform belong to the clip: every Sound object made for it shares them.
struct Levels {
  int volume = 100;
  int ll = 100, lr = 0, rl = 0, rr = 100;
};
struct Owners : NativeData {
  static constexpr std::size_t kMax = 4096;  // past it, new clips share the movie's levels
  std::map<Object*, Levels> levels;
  void Trace(std::vector<Object*>& out) const override {
    for (const auto& entry : levels) out.push_back(entry.first);
  }
};
// The levels of the clip a Sound object plays on; null for any other object.
Levels* LevelsOf(Vm& vm, const Value& self) {
  const SoundState* s = StateOf(self);
  Owners* owners = DataOf<Owners>(vm.Get(vm.global, "Sound"));
  if (!s || !owners) return nullptr;
  const auto it = owners->levels.find(s->owner);
  if (it != owners->levels.end()) return &it->second;
  if (owners->levels.size() >= Owners::kMax) return &owners->levels[nullptr];
  return &owners->levels[s->owner];
}

// A number as the x86 conversion Flash Player uses makes it an int: out of range and NaN give
// the lowest int.
int Truncated(Vm& vm, const Value& v) {
  const double n = vm.ToNumber(v);
  if (!(n > -2147483649.0 && n < 2147483648.0)) return std::numeric_limits<int>::min();
  return int(n);
}
// A difference in 32-bit wrapping arithmetic.
int Wrap(std::int64_t v) {
  return int(std::int32_t(std::uint32_t(std::uint64_t(v))));
}

// The pan as Flash Player derives it from the transform: from the right channel when the left
// one is whole, else from the left.
int Pan(const Levels& s) {
  if (s.ll == 100) return Wrap(std::abs(std::int64_t(s.rr)) - 100);
  return Wrap(100 - std::abs(std::int64_t(s.ll)));
}
void Apply(Vm& vm, const Value& self, const Levels& l) {
  if (const SoundState* s = StateOf(self)) vm.host()->SetSoundTransform(s->owner, l.volume, Pan(l));
}

Value Construct(Vm& vm, const Value& self, std::span<Value> args) {
  auto s = std::make_unique<SoundState>();
  const Value target = Arg(args, 0);
  if (target.type == Type::String && !target.s.empty()) {
    s->path = target.s;
  } else if (!target.IsNullish()) {
    s->owner = vm.TargetOf(target);
  }
  self.o->data = std::move(s);
  return self;
}
Value AttachSound(Vm& vm, const Value& self, std::span<Value> args) {
  SoundState* s = Reached(vm, self);
  if (!s || args.empty()) return Value{};
  double duration = 0;
  const int id = vm.host()->FindSound(vm.ToString(args[0]), &duration);
  if (id != 0) {
    s->sound = id;
    s->duration = duration;
  }
  return Value{};
}
Value Start(Vm& vm, const Value& self, std::span<Value> args) {
  SoundState* s = Reached(vm, self);
  const double offset = vm.ToNumber(Arg(args, 0));
  const double loops = vm.ToNumber(Arg(args, 1));
  if (s && s->file) {
    // The mixer doesn't play a loaded file: the sound completes when it would have.
    Timer t;
    t.target = self.o;
    t.method = "onSoundComplete";
    t.repeat = false;
    const double times = std::isfinite(loops) && loops > 1 ? std::min(loops, 32767.0) : 1;
    const double from = std::isfinite(offset) && offset > 0 ? offset * 1000 : 0;
    t.interval = std::max(0.0, s->duration * times - from);
    vm.AddTimer(std::move(t));
    return Value{};
  }
  if (!s || s->sound == 0) return Value{};
  vm.host()->StartSound(s->owner, s->sound, std::isfinite(offset) && offset > 0 ? offset : 0,
                        std::isfinite(loops) && loops > 1 ? int(std::min(loops, 32767.0)) : 1);
  return Value{};
}
Value StopSound(Vm& vm, const Value& self, std::span<Value> args) {
  SoundState* s = Reached(vm, self);
  if (!s) return Value{};
  int sound = 0;
  if (!args.empty()) {
    double ignored = 0;
    sound = vm.host()->FindSound(vm.ToString(args[0]), &ignored);
    if (sound == 0) return Value{};
  }
  vm.host()->StopSound(s->owner, sound);
  return Value{};
}
Value Duration(Vm&, const Value& self, std::span<Value>) {
  const SoundState* s = StateOf(self);
  if (!s || (s->sound == 0 && !s->file)) return Value{};
  return Value::Num(std::round(s->duration));
}
Value Position(Vm& vm, const Value& self, std::span<Value>) {
  const SoundState* s = StateOf(self);
  if (!s || s->sound == 0) return Value{};
  return Value::Num(std::round(vm.host()->SoundPosition(s->owner, s->sound)));
}
Value GetVolume(Vm& vm, const Value& self, std::span<Value>) {
  const Levels* l = LevelsOf(vm, self);
  return l ? Value::Num(l->volume) : Value{};
}
Value SetVolume(Vm& vm, const Value& self, std::span<Value> args) {
  Levels* l = LevelsOf(vm, self);
  if (!l) return Value{};
  l->volume = args.empty() ? 0 : Truncated(vm, args[0]);
  Apply(vm, self, *l);
  return Value{};
}
Value GetPan(Vm& vm, const Value& self, std::span<Value>) {
  const Levels* l = LevelsOf(vm, self);
  return l ? Value::Num(Pan(*l)) : Value{};
}
Value SetPan(Vm& vm, const Value& self, std::span<Value> args) {
  Levels* l = LevelsOf(vm, self);
  if (!l) return Value{};
  const int pan = args.empty() ? 0 : Truncated(vm, args[0]);
  l->lr = l->rl = 0;
  l->ll = pan >= 0 ? Wrap(100 - std::int64_t(pan)) : 100;
  l->rr = pan >= 0 ? 100 : Wrap(100 + std::int64_t(pan));
  Apply(vm, self, *l);
  return Value{};
}
Value GetTransform(Vm& vm, const Value& self, std::span<Value>) {
  const Levels* l = LevelsOf(vm, self);
  if (!l) return Value{};
  Object* o = vm.NewObject();
  vm.Set(o, "ll", Value::Num(l->ll));
  vm.Set(o, "lr", Value::Num(l->lr));
  vm.Set(o, "rl", Value::Num(l->rl));
  vm.Set(o, "rr", Value::Num(l->rr));
  return Value::Obj(o);
}
Value SetTransform(Vm& vm, const Value& self, std::span<Value> args) {
  Levels* l = LevelsOf(vm, self);
  const Value t = Arg(args, 0);
  if (!l || !t.IsObject()) return Value{};
  // Only the object's own channels count.
  const auto take = [&](const char* name, int& field) {
    if (vm.FindOwn(t.o, name)) field = vm.ToInt32(vm.Get(t.o, name));
  };
  take("ll", l->ll);
  take("lr", l->lr);
  take("rl", l->rl);
  take("rr", l->rr);
  Apply(vm, self, *l);
  return Value{};
}
// An MP3 file of the movie's folder: onLoad hears whether it came.
Value LoadSound(Vm& vm, const Value& self, std::span<Value> args) {
  SoundState* s = StateOf(self);
  if (!s) return Value{};
  const std::string name = MovieFileName(vm.ToString(Arg(args, 0)));
  const std::optional<std::string> bytes =
      name.empty() ? std::nullopt : vm.host()->ReadMovieFile(name);
  const double ms = bytes
                        ? Mp3FileDurationMs(std::span(
                              reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()))
                        : 0;
  s->sound = 0;
  s->file = ms > 0;
  s->duration = ms;
  Timer t;
  t.target = self.o;
  t.method = "onLoad";
  t.repeat = false;
  t.at_once = true;
  t.args = {Value::Bool(s->file)};
  vm.AddTimer(std::move(t));
  return Value{};
}
Value Zero(Vm&, const Value& self, std::span<Value>) {
  return StateOf(self) ? Value::Num(0) : Value{};
}

}  // namespace

void InstallSound(Vm& vm) {
  Object* proto = nullptr;
  Object* ctor = DefineClass(vm, vm.global, "Sound", Construct, &proto);
  ctor->data = std::make_unique<Owners>();
  vm.DefineNative(proto, "attachSound", AttachSound);
  vm.DefineNative(proto, "start", Start);
  vm.DefineNative(proto, "stop", StopSound);
  vm.DefineNative(proto, "getDuration", Duration);
  vm.DefineNative(proto, "getPosition", Position);
  vm.DefineNative(proto, "setDuration", NoOp);
  vm.DefineNative(proto, "setPosition", NoOp);
  vm.DefineNative(proto, "getVolume", GetVolume);
  vm.DefineNative(proto, "setVolume", SetVolume);
  vm.DefineNative(proto, "getPan", GetPan);
  vm.DefineNative(proto, "setPan", SetPan);
  vm.DefineNative(proto, "getTransform", GetTransform);
  vm.DefineNative(proto, "setTransform", SetTransform);
  vm.DefineNative(proto, "loadSound", LoadSound);
  vm.DefineNative(proto, "getBytesLoaded", Zero);
  vm.DefineNative(proto, "getBytesTotal", Zero);
  vm.DefineNative(proto, "checkPolicyFile", NoOp);
  // Movies before SWF 7 see no such properties: theirs are plain ones.
  if (vm.version() >= 7) {
    DefineAccessor(vm, proto, "duration", Duration, nullptr);
    DefineAccessor(vm, proto, "position", Position, nullptr);
  }
}

}  // namespace swf::avm1
