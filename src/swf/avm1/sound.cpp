// Sound: an exported sound attached by its linkage name and played through the player, with
// volume, pan and the channel transform kept as Flash Player keeps them (32-bit integers).
#include <cmath>

#include "swf/avm1/objects.h"

namespace swf::avm1 {
namespace {

struct SoundState : NativeData {
  Object* owner = nullptr;  // the clip the sound belongs to; null for the whole movie
  int sound = 0;            // the host's id of the attached sound
  double duration = 0;      // ms
  int volume = 100;
  int ll = 100, lr = 0, rl = 0, rr = 100;
  void Trace(std::vector<Object*>& out) const override { out.push_back(owner); }
};

SoundState* StateOf(const Value& v) {
  return DataOf<SoundState>(v);
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

void Apply(Vm& vm, SoundState& s) {
  vm.host()->SetSoundTransform(
      s.owner, s.volume,
      Wrap(std::int64_t(std::abs(std::int64_t(s.rr))) - std::abs(std::int64_t(s.ll))));
}

Value Construct(Vm& vm, const Value& self, std::span<Value> args) {
  auto s = std::make_unique<SoundState>();
  const Value target = Arg(args, 0);
  if (!target.IsNullish()) s->owner = vm.TargetOf(target);
  self.o->data = std::move(s);
  return self;
}
Value AttachSound(Vm& vm, const Value& self, std::span<Value> args) {
  SoundState* s = StateOf(self);
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
  SoundState* s = StateOf(self);
  if (!s || s->sound == 0) return Value{};
  const double offset = vm.ToNumber(Arg(args, 0));
  const double loops = vm.ToNumber(Arg(args, 1));
  vm.host()->StartSound(s->owner, s->sound, std::isfinite(offset) && offset > 0 ? offset : 0,
                        std::isfinite(loops) && loops > 1 ? int(std::min(loops, 32767.0)) : 1);
  return Value{};
}
Value StopSound(Vm& vm, const Value& self, std::span<Value> args) {
  SoundState* s = StateOf(self);
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
  if (!s || s->sound == 0) return Value{};
  return Value::Num(std::round(s->duration));
}
Value Position(Vm& vm, const Value& self, std::span<Value>) {
  const SoundState* s = StateOf(self);
  if (!s || s->sound == 0) return Value{};
  return Value::Num(std::round(vm.host()->SoundPosition(s->owner, s->sound)));
}
Value GetVolume(Vm&, const Value& self, std::span<Value>) {
  const SoundState* s = StateOf(self);
  return s ? Value::Num(s->volume) : Value{};
}
Value SetVolume(Vm& vm, const Value& self, std::span<Value> args) {
  SoundState* s = StateOf(self);
  if (!s) return Value{};
  s->volume = Truncated(vm, Arg(args, 0));
  Apply(vm, *s);
  return Value{};
}
Value GetPan(Vm&, const Value& self, std::span<Value>) {
  const SoundState* s = StateOf(self);
  if (!s) return Value{};
  return Value::Num(Wrap(std::abs(std::int64_t(s->rr)) - std::abs(std::int64_t(s->ll))));
}
Value SetPan(Vm& vm, const Value& self, std::span<Value> args) {
  SoundState* s = StateOf(self);
  if (!s) return Value{};
  const int pan = Truncated(vm, Arg(args, 0));
  s->lr = s->rl = 0;
  s->ll = pan >= 0 ? Wrap(100 - std::int64_t(pan)) : 100;
  s->rr = pan >= 0 ? 100 : Wrap(100 + std::int64_t(pan));
  Apply(vm, *s);
  return Value{};
}
Value GetTransform(Vm& vm, const Value& self, std::span<Value>) {
  const SoundState* s = StateOf(self);
  if (!s) return Value{};
  Object* o = vm.NewObject();
  vm.Set(o, "ll", Value::Num(s->ll));
  vm.Set(o, "lr", Value::Num(s->lr));
  vm.Set(o, "rl", Value::Num(s->rl));
  vm.Set(o, "rr", Value::Num(s->rr));
  return Value::Obj(o);
}
Value SetTransform(Vm& vm, const Value& self, std::span<Value> args) {
  SoundState* s = StateOf(self);
  const Value t = Arg(args, 0);
  if (!s || !t.IsObject()) return Value{};
  const auto take = [&](const char* name, int& field) {
    if (vm.HasProperty(t.o, name)) field = vm.ToInt32(vm.Get(t.o, name));
  };
  take("ll", s->ll);
  take("lr", s->lr);
  take("rl", s->rl);
  take("rr", s->rr);
  Apply(vm, *s);
  return Value{};
}
Value LoadSound(Vm& vm, const Value& self, std::span<Value>) {
  // Sounds come from the movie's library only: a loaded one never arrives.
  if (!self.IsObject()) return Value{};
  Timer t;
  t.target = self.o;
  t.method = "onLoad";
  t.repeat = false;
  t.at_once = true;
  t.args = {Value::Bool(false)};
  vm.AddTimer(std::move(t));
  return Value{};
}
Value Zero(Vm&, const Value& self, std::span<Value>) {
  return StateOf(self) ? Value::Num(0) : Value{};
}

}  // namespace

void InstallSound(Vm& vm) {
  Object* proto = nullptr;
  DefineClass(vm, vm.global, "Sound", Construct, &proto);
  vm.DefineNative(proto, "attachSound", AttachSound);
  vm.DefineNative(proto, "start", Start);
  vm.DefineNative(proto, "stop", StopSound);
  vm.DefineNative(proto, "getDuration", Duration);
  vm.DefineNative(proto, "getPosition", Position);
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
  DefineAccessor(vm, proto, "duration", Duration, nullptr);
  DefineAccessor(vm, proto, "position", Position, nullptr);
}

}  // namespace swf::avm1
