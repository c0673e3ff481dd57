// flash.filters: the filter classes as objects of properties with Flash Player's defaults, made
// from their constructor's arguments in order, and clone(). Drawing them is the renderer's.
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "swf/avm1/objects.h"

namespace swf::avm1 {
namespace {

struct Field {
  const char* name;
  enum Kind : std::uint8_t { Number, Boolean, String, Array } kind;
  double number = 0;
  const char* text = "";
};

struct FilterClass {
  const char* name;
  std::vector<Field> fields;
};

// The gradient glow's and bevel's fields.
std::vector<Field> Gradient() {
  using F = Field;
  return {{"distance", F::Number, 4}, {"angle", F::Number, 45},
          {"colors", F::Array},       {"alphas", F::Array},
          {"ratios", F::Array},       {"blurX", F::Number, 4},
          {"blurY", F::Number, 4},    {"strength", F::Number, 1},
          {"quality", F::Number, 1},  {"type", F::String, 0, "inner"},
          {"knockout", F::Boolean, 0}};
}

const std::array<FilterClass, 9>& Classes() {
  using F = Field;
  static const std::array<FilterClass, 9> kClasses = {{
      {"BlurFilter", {{"blurX", F::Number, 4}, {"blurY", F::Number, 4}, {"quality", F::Number, 1}}},
      {"GlowFilter",
       {{"color", F::Number, 0xFF0000},
        {"alpha", F::Number, 1},
        {"blurX", F::Number, 6},
        {"blurY", F::Number, 6},
        {"strength", F::Number, 2},
        {"quality", F::Number, 1},
        {"inner", F::Boolean, 0},
        {"knockout", F::Boolean, 0}}},
      {"DropShadowFilter",
       {{"distance", F::Number, 4},
        {"angle", F::Number, 45},
        {"color", F::Number, 0},
        {"alpha", F::Number, 1},
        {"blurX", F::Number, 4},
        {"blurY", F::Number, 4},
        {"strength", F::Number, 1},
        {"quality", F::Number, 1},
        {"inner", F::Boolean, 0},
        {"knockout", F::Boolean, 0},
        {"hideObject", F::Boolean, 0}}},
      {"BevelFilter",
       {{"distance", F::Number, 4},
        {"angle", F::Number, 45},
        {"highlightColor", F::Number, 0xFFFFFF},
        {"highlightAlpha", F::Number, 1},
        {"shadowColor", F::Number, 0},
        {"shadowAlpha", F::Number, 1},
        {"blurX", F::Number, 4},
        {"blurY", F::Number, 4},
        {"strength", F::Number, 1},
        {"quality", F::Number, 1},
        {"type", F::String, 0, "inner"},
        {"knockout", F::Boolean, 0}}},
      {"GradientGlowFilter", Gradient()},
      {"GradientBevelFilter", Gradient()},
      {"ColorMatrixFilter", {{"matrix", F::Array}}},
      {"ConvolutionFilter",
       {{"matrixX", F::Number, 0},
        {"matrixY", F::Number, 0},
        {"matrix", F::Array},
        {"divisor", F::Number, 1},
        {"bias", F::Number, 0},
        {"preserveAlpha", F::Boolean, 1},
        {"clamp", F::Boolean, 1},
        {"color", F::Number, 0},
        {"alpha", F::Number, 0}}},
      {"DisplacementMapFilter",
       {{"mapBitmap", F::Array},
        {"mapPoint", F::Array},
        {"componentX", F::Number, 0},
        {"componentY", F::Number, 0},
        {"scaleX", F::Number, 0},
        {"scaleY", F::Number, 0},
        {"mode", F::String, 0, "wrap"},
        {"color", F::Number, 0},
        {"alpha", F::Number, 0}}},
  }};
  return kClasses;
}

// An array argument copied; the identity for a colour matrix left out.
Value ArrayField(Vm& vm, const FilterClass& c, const Field& f, const Value& given) {
  if (given.IsObject()) return Value::Obj(vm.NewArray(vm.Elements(given.o)));
  if (std::string_view(f.name) == "matrix" && std::string_view(c.name) == "ColorMatrixFilter") {
    std::vector<Value> identity(20, Value::Num(0));
    for (int i : {0, 6, 12, 18}) identity[std::size_t(i)] = Value::Num(1);
    return Value::Obj(vm.NewArray(identity));
  }
  if (std::string_view(f.name) == "mapPoint") return given;  // its setter reads it
  if (std::string_view(f.name) == "mapBitmap") return Value{};
  return Value::Obj(vm.NewArray());
}

template <std::size_t class_index>
Value FilterConstruct(Vm& vm, const Value& self, std::span<Value> args) {
  const FilterClass& c = Classes()[class_index];
  for (std::size_t i = 0; i < c.fields.size(); ++i) {
    const Field& f = c.fields[i];
    const Value given = Arg(args, i);
    Value v;
    switch (f.kind) {
      case Field::Number:
        v = Value::Num(given.IsUndefined() ? f.number : vm.ToNumber(given));
        break;
      case Field::Boolean:
        v = Value::Bool(given.IsUndefined() ? f.number != 0 : vm.ToBoolean(given));
        break;
      case Field::String:
        v = Value::Str(given.IsUndefined() ? f.text : vm.ToString(given));
        break;
      case Field::Array:
        v = ArrayField(vm, c, f, given);
        break;
    }
    vm.Set(self.o, f.name, std::move(v));
  }
  return self;
}

template <std::size_t class_index>
Value FilterClone(Vm& vm, const Value& self, std::span<Value>) {
  if (!self.IsObject()) return Value{};
  const FilterClass& c = Classes()[class_index];
  std::vector<Value> args;
  for (const Field& f : c.fields) args.push_back(vm.Get(self.o, f.name));
  const Value ctor = vm.Get(Package(vm, "flash.filters"), c.name);
  return vm.Construct(ctor, args);
}

// A displacement map's point: whole numbers kept apart from the point it was given.
struct MapPointState : NativeData {
  double x = 0;
  double y = 0;
};
MapPointState& MapPointOf(const Value& self) {
  if (auto* state = DataOf<MapPointState>(self)) return *state;
  auto state = std::make_unique<MapPointState>();
  MapPointState& out = *state;
  self.o->data = std::move(state);
  return out;
}
Value MapPointGet(Vm& vm, const Value& self, std::span<Value>) {
  if (!self.IsObject()) return Value{};
  const MapPointState& p = MapPointOf(self);
  return MakePoint(vm, p.x, p.y);
}
// A point without both coordinates is (0, 0); each coordinate is made a whole number (the least
// one when it isn't a number or its valueOf throws), then the first throw goes on.
Value MapPointSet(Vm& vm, const Value& self, std::span<Value> args) {
  if (!self.IsObject()) return Value{};
  MapPointState& p = MapPointOf(self);
  const Value given = Arg(args, 0);
  const Value x = given.IsObject() ? vm.GetMember(given, "x") : Value{};
  const Value y = given.IsObject() ? vm.GetMember(given, "y") : Value{};
  const bool both = !x.IsUndefined() && !y.IsUndefined();
  if (!both) p.x = p.y = 0;
  std::optional<Thrown> thrown;
  const auto whole = [&](const Value& v) {
    constexpr double kLeast = std::numeric_limits<std::int32_t>::min();
    if (v.IsUndefined()) return 0.0;
    try {
      const double n = vm.ToNumber(v);
      return n >= kLeast && n <= std::numeric_limits<std::int32_t>::max() ? std::trunc(n) : kLeast;
    } catch (const Thrown& t) {
      if (!thrown) thrown = t;
      return kLeast;
    }
  };
  const double wx = whole(x);
  const double wy = whole(y);
  if (both) {
    p.x = wx;
    p.y = wy;
  }
  if (thrown) throw *thrown;
  return Value{};
}

template <std::size_t... i>
void DefineAll(Vm& vm, Object* package, Object* base, std::index_sequence<i...>) {
  Object* proto = nullptr;
  ((DefineClass(vm, package, Classes()[i].name, FilterConstruct<i>, &proto, base),
    vm.DefineNative(proto, "clone", FilterClone<i>)),
   ...);
}

}  // namespace

void InstallFilters(Vm& vm) {
  Object* package = Package(vm, "flash.filters");
  Object* base = nullptr;
  DefineClass(vm, package, "BitmapFilter", nullptr, &base);
  DefineAll(vm, package, base, std::make_index_sequence<9>{});
  const Value displacement = vm.Get(package, "DisplacementMapFilter");
  if (displacement.IsObject()) {
    const Value proto = vm.Get(displacement.o, "prototype");
    if (proto.IsObject()) DefineAccessor(vm, proto.o, "mapPoint", MapPointGet, MapPointSet);
  }
}

}  // namespace swf::avm1
