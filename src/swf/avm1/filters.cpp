// flash.filters: the filter classes as objects of properties with Flash Player's defaults, made
// from their constructor's arguments in order, and clone(). Drawing them is the renderer's.
#include <array>

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
  if (std::string_view(f.name) == "mapBitmap" || std::string_view(f.name) == "mapPoint") {
    return Value{};
  }
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
}

}  // namespace swf::avm1
