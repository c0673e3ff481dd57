// flash.geom: Point, Rectangle and Matrix keep their numbers in plain properties and read those
// of any object with the same names, as Flash Player's do; ColorTransform keeps native numbers
// behind accessors.
#include <algorithm>
#include <cmath>
#include <limits>

#include "swf/avm1/objects.h"

namespace swf::avm1 {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double Num(Vm& vm, const Value& o, std::string_view name) {
  return vm.ToNumber(vm.GetMember(o, name));
}
Value Make(Vm& vm, std::string_view ctor, std::span<Value> args) {
  return vm.Construct(vm.Get(Package(vm, "flash.geom"), ctor), args);
}
// "(x=1, y=2)": each name with the property's text.
Value Describe(Vm& vm, const Value& self,
               std::initializer_list<std::pair<const char*, const char*>> fields) {
  std::string out = "(";
  for (const auto& [label, name] : fields) {
    if (out.size() > 1) out += ", ";
    out.append(label).append("=").append(vm.ToString(vm.GetMember(self, name)));
  }
  return Value::Str(out + ")");
}
// Sets the named properties from the arguments, or the defaults when there are none.
void Fill(Vm& vm, const Value& self, std::span<Value> args,
          std::initializer_list<std::pair<const char*, double>> fields) {
  std::size_t i = 0;
  for (const auto& [name, fallback] : fields) {
    vm.Set(self.o, name, args.empty() ? Value::Num(fallback) : Arg(args, i));
    ++i;
  }
}

// ---- Point ----

Value PointConstruct(Vm& vm, const Value& self, std::span<Value> args) {
  Fill(vm, self, args, {{"x", 0}, {"y", 0}});
  return self;
}
Value PointToString(Vm& vm, const Value& self, std::span<Value>) {
  return Describe(vm, self, {{"x", "x"}, {"y", "y"}});
}
Value PointLength(Vm& vm, const Value& self, std::span<Value>) {
  return Value::Num(std::hypot(Num(vm, self, "x"), Num(vm, self, "y")));
}
Value PointAdd(Vm& vm, const Value& self, std::span<Value> args) {
  const Value o = Arg(args, 0);
  return MakePoint(vm, Num(vm, self, "x") + Num(vm, o, "x"), Num(vm, self, "y") + Num(vm, o, "y"));
}
Value PointSubtract(Vm& vm, const Value& self, std::span<Value> args) {
  const Value o = Arg(args, 0);
  return MakePoint(vm, Num(vm, self, "x") - Num(vm, o, "x"), Num(vm, self, "y") - Num(vm, o, "y"));
}
Value PointEquals(Vm& vm, const Value& self, std::span<Value> args) {
  const Value o = Arg(args, 0);
  if (!o.IsObject()) return Value::Bool(false);
  return Value::Bool(Num(vm, self, "x") == Num(vm, o, "x") &&
                     Num(vm, self, "y") == Num(vm, o, "y"));
}
Value PointClone(Vm& vm, const Value& self, std::span<Value>) {
  Value args[2] = {vm.GetMember(self, "x"), vm.GetMember(self, "y")};
  return Make(vm, "Point", args);
}
Value PointNormalize(Vm& vm, const Value& self, std::span<Value> args) {
  const double x = Num(vm, self, "x"), y = Num(vm, self, "y");
  const double length = std::hypot(x, y);
  if (length > 0) {
    const double k = vm.ToNumber(Arg(args, 0)) / length;
    vm.SetMember(self, "x", Value::Num(x * k));
    vm.SetMember(self, "y", Value::Num(y * k));
  }
  return Value{};
}
Value PointOffset(Vm& vm, const Value& self, std::span<Value> args) {
  vm.SetMember(self, "x", Value::Num(Num(vm, self, "x") + vm.ToNumber(Arg(args, 0))));
  vm.SetMember(self, "y", Value::Num(Num(vm, self, "y") + vm.ToNumber(Arg(args, 1))));
  return Value{};
}
Value PointDistance(Vm& vm, const Value&, std::span<Value> args) {
  const Value a = Arg(args, 0);
  if (!a.IsObject()) return Value{};
  Value b[1] = {Arg(args, 1)};
  Value difference;
  if (!CallMethod(vm, a.o, "subtract", b, &difference)) return Value{};
  return vm.GetMember(difference, "length");
}
Value PointInterpolate(Vm& vm, const Value&, std::span<Value> args) {
  const Value a = Arg(args, 0), b = Arg(args, 1);
  const double f = args.size() > 2 ? vm.ToNumber(args[2]) : kNaN;
  const double ax = Num(vm, a, "x"), ay = Num(vm, a, "y");
  return MakePoint(vm, Num(vm, b, "x") + f * (ax - Num(vm, b, "x")),
                   Num(vm, b, "y") + f * (ay - Num(vm, b, "y")));
}
Value PointPolar(Vm& vm, const Value&, std::span<Value> args) {
  const double r = vm.ToNumber(Arg(args, 0));
  const double angle = args.size() > 1 ? vm.ToNumber(args[1]) : kNaN;
  return MakePoint(vm, r * std::cos(angle), r * std::sin(angle));
}

// ---- Rectangle ----

struct Box {
  double x, y, w, h;
};
Box BoxOf(Vm& vm, const Value& o) {
  return {Num(vm, o, "x"), Num(vm, o, "y"), Num(vm, o, "width"), Num(vm, o, "height")};
}
Value MakeRect(Vm& vm, Box b) {
  Value args[4] = {Value::Num(b.x), Value::Num(b.y), Value::Num(b.w), Value::Num(b.h)};
  return Make(vm, "Rectangle", args);
}
void SetBox(Vm& vm, const Value& self, Box b) {
  vm.SetMember(self, "x", Value::Num(b.x));
  vm.SetMember(self, "y", Value::Num(b.y));
  vm.SetMember(self, "width", Value::Num(b.w));
  vm.SetMember(self, "height", Value::Num(b.h));
}
bool Empty(Box b) {
  return !(b.w > 0 && b.h > 0);
}

Value RectConstruct(Vm& vm, const Value& self, std::span<Value> args) {
  Fill(vm, self, args, {{"x", 0}, {"y", 0}, {"width", 0}, {"height", 0}});
  return self;
}
Value RectToString(Vm& vm, const Value& self, std::span<Value>) {
  return Describe(vm, self, {{"x", "x"}, {"y", "y"}, {"w", "width"}, {"h", "height"}});
}
Value RectClone(Vm& vm, const Value& self, std::span<Value>) {
  Value args[4] = {vm.GetMember(self, "x"), vm.GetMember(self, "y"), vm.GetMember(self, "width"),
                   vm.GetMember(self, "height")};
  return Make(vm, "Rectangle", args);
}
Value RectIsEmpty(Vm& vm, const Value& self, std::span<Value>) {
  return Value::Bool(Empty(BoxOf(vm, self)));
}
Value RectSetEmpty(Vm& vm, const Value& self, std::span<Value>) {
  SetBox(vm, self, {0, 0, 0, 0});
  return Value{};
}
Value RectContains(Vm& vm, const Value& self, std::span<Value> args) {
  const Box b = BoxOf(vm, self);
  const double x = vm.ToNumber(Arg(args, 0)), y = vm.ToNumber(Arg(args, 1));
  return Value::Bool(x >= b.x && x < b.x + b.w && y >= b.y && y < b.y + b.h);
}
Value RectContainsPoint(Vm& vm, const Value& self, std::span<Value> args) {
  Value xy[2] = {vm.GetMember(Arg(args, 0), "x"), vm.GetMember(Arg(args, 0), "y")};
  return RectContains(vm, self, xy);
}
Value RectContainsRect(Vm& vm, const Value& self, std::span<Value> args) {
  const Box a = BoxOf(vm, self), b = BoxOf(vm, Arg(args, 0));
  return Value::Bool(b.x >= a.x && b.y >= a.y && b.x + b.w <= a.x + a.w && b.y + b.h <= a.y + a.h);
}
Value RectEquals(Vm& vm, const Value& self, std::span<Value> args) {
  const Value o = Arg(args, 0);
  const Value ctor = vm.Get(self.o, "constructor");
  if (!o.IsObject() || !ctor.IsObject() || !vm.InstanceOf(o, ctor.o)) return Value::Bool(false);
  const Box a = BoxOf(vm, self), b = BoxOf(vm, o);
  return Value::Bool(a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h);
}
Value RectInflate(Vm& vm, const Value& self, std::span<Value> args) {
  Box b = BoxOf(vm, self);
  const double dx = vm.ToNumber(Arg(args, 0)), dy = vm.ToNumber(Arg(args, 1));
  SetBox(vm, self, {b.x - dx, b.y - dy, b.w + 2 * dx, b.h + 2 * dy});
  return Value{};
}
Value RectInflatePoint(Vm& vm, const Value& self, std::span<Value> args) {
  Value xy[2] = {vm.GetMember(Arg(args, 0), "x"), vm.GetMember(Arg(args, 0), "y")};
  return RectInflate(vm, self, xy);
}
Value RectOffset(Vm& vm, const Value& self, std::span<Value> args) {
  vm.SetMember(self, "x", Value::Num(Num(vm, self, "x") + vm.ToNumber(Arg(args, 0))));
  vm.SetMember(self, "y", Value::Num(Num(vm, self, "y") + vm.ToNumber(Arg(args, 1))));
  return Value{};
}
Value RectOffsetPoint(Vm& vm, const Value& self, std::span<Value> args) {
  Value xy[2] = {vm.GetMember(Arg(args, 0), "x"), vm.GetMember(Arg(args, 0), "y")};
  return RectOffset(vm, self, xy);
}
Value RectIntersection(Vm& vm, const Value& self, std::span<Value> args) {
  const Box a = BoxOf(vm, self), b = BoxOf(vm, Arg(args, 0));
  if (Empty(a) || Empty(b)) return MakeRect(vm, {0, 0, 0, 0});
  const double x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
  const double x1 = std::min(a.x + a.w, b.x + b.w), y1 = std::min(a.y + a.h, b.y + b.h);
  if (!(x1 > x0 && y1 > y0)) return MakeRect(vm, {0, 0, 0, 0});
  return MakeRect(vm, {x0, y0, x1 - x0, y1 - y0});
}
Value RectIntersects(Vm& vm, const Value& self, std::span<Value> args) {
  const Value r = RectIntersection(vm, self, args);
  return Value::Bool(!Empty(BoxOf(vm, r)));
}
Value RectUnion(Vm& vm, const Value& self, std::span<Value> args) {
  const Box a = BoxOf(vm, self), b = BoxOf(vm, Arg(args, 0));
  if (Empty(a)) return MakeRect(vm, b);
  if (Empty(b)) return MakeRect(vm, a);
  const double x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
  const double x1 = std::max(a.x + a.w, b.x + b.w), y1 = std::max(a.y + a.h, b.y + b.h);
  return MakeRect(vm, {x0, y0, x1 - x0, y1 - y0});
}
// The edges and corners, as accessors over x, y, width and height.
Value RectLeft(Vm& vm, const Value& self, std::span<Value>) {
  return vm.GetMember(self, "x");
}
Value RectSetLeft(Vm& vm, const Value& self, std::span<Value> args) {
  const Box b = BoxOf(vm, self);
  const double x = vm.ToNumber(Arg(args, 0));
  vm.SetMember(self, "width", Value::Num(b.w + b.x - x));
  vm.SetMember(self, "x", Value::Num(x));
  return Value{};
}
Value RectTop(Vm& vm, const Value& self, std::span<Value>) {
  return vm.GetMember(self, "y");
}
Value RectSetTop(Vm& vm, const Value& self, std::span<Value> args) {
  const Box b = BoxOf(vm, self);
  const double y = vm.ToNumber(Arg(args, 0));
  vm.SetMember(self, "height", Value::Num(b.h + b.y - y));
  vm.SetMember(self, "y", Value::Num(y));
  return Value{};
}
Value RectRight(Vm& vm, const Value& self, std::span<Value>) {
  const Box b = BoxOf(vm, self);
  return Value::Num(b.x + b.w);
}
Value RectSetRight(Vm& vm, const Value& self, std::span<Value> args) {
  vm.SetMember(self, "width", Value::Num(vm.ToNumber(Arg(args, 0)) - Num(vm, self, "x")));
  return Value{};
}
Value RectBottom(Vm& vm, const Value& self, std::span<Value>) {
  const Box b = BoxOf(vm, self);
  return Value::Num(b.y + b.h);
}
Value RectSetBottom(Vm& vm, const Value& self, std::span<Value> args) {
  vm.SetMember(self, "height", Value::Num(vm.ToNumber(Arg(args, 0)) - Num(vm, self, "y")));
  return Value{};
}
Value RectSize(Vm& vm, const Value& self, std::span<Value>) {
  Value args[2] = {vm.GetMember(self, "width"), vm.GetMember(self, "height")};
  return Make(vm, "Point", args);
}
Value RectSetSize(Vm& vm, const Value& self, std::span<Value> args) {
  vm.SetMember(self, "width", vm.GetMember(Arg(args, 0), "x"));
  vm.SetMember(self, "height", vm.GetMember(Arg(args, 0), "y"));
  return Value{};
}
Value RectTopLeft(Vm& vm, const Value& self, std::span<Value>) {
  Value args[2] = {vm.GetMember(self, "x"), vm.GetMember(self, "y")};
  return Make(vm, "Point", args);
}
Value RectSetTopLeft(Vm& vm, const Value& self, std::span<Value> args) {
  Value x[1] = {vm.GetMember(Arg(args, 0), "x")};
  Value y[1] = {vm.GetMember(Arg(args, 0), "y")};
  RectSetLeft(vm, self, x);
  RectSetTop(vm, self, y);
  return Value{};
}
Value RectBottomRight(Vm& vm, const Value& self, std::span<Value>) {
  const Box b = BoxOf(vm, self);
  return MakePoint(vm, b.x + b.w, b.y + b.h);
}
Value RectSetBottomRight(Vm& vm, const Value& self, std::span<Value> args) {
  Value x[1] = {vm.GetMember(Arg(args, 0), "x")};
  Value y[1] = {vm.GetMember(Arg(args, 0), "y")};
  RectSetRight(vm, self, x);
  RectSetBottom(vm, self, y);
  return Value{};
}

// ---- Matrix ----

struct M {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
};
M MatrixOf(Vm& vm, const Value& o) {
  return {Num(vm, o, "a"), Num(vm, o, "b"),  Num(vm, o, "c"),
          Num(vm, o, "d"), Num(vm, o, "tx"), Num(vm, o, "ty")};
}
void SetMatrix(Vm& vm, const Value& self, const M& m) {
  vm.SetMember(self, "a", Value::Num(m.a));
  vm.SetMember(self, "b", Value::Num(m.b));
  vm.SetMember(self, "c", Value::Num(m.c));
  vm.SetMember(self, "d", Value::Num(m.d));
  vm.SetMember(self, "tx", Value::Num(m.tx));
  vm.SetMember(self, "ty", Value::Num(m.ty));
}
M Times(const M& m, const M& n) {
  return {m.a * n.a + m.b * n.c, m.a * n.b + m.b * n.d,          m.c * n.a + m.d * n.c,
          m.c * n.b + m.d * n.d, m.tx * n.a + m.ty * n.c + n.tx, m.tx * n.b + m.ty * n.d + n.ty};
}

Value MatrixConstruct(Vm& vm, const Value& self, std::span<Value> args) {
  Fill(vm, self, args.subspan(0, std::min<std::size_t>(args.size(), 6)),
       {{"a", 1}, {"b", 0}, {"c", 0}, {"d", 1}, {"tx", 0}, {"ty", 0}});
  return self;
}
Value MatrixToString(Vm& vm, const Value& self, std::span<Value>) {
  return Describe(vm, self,
                  {{"a", "a"}, {"b", "b"}, {"c", "c"}, {"d", "d"}, {"tx", "tx"}, {"ty", "ty"}});
}
Value MatrixClone(Vm& vm, const Value& self, std::span<Value>) {
  Value args[6];
  std::size_t i = 0;
  for (const char* name : {"a", "b", "c", "d", "tx", "ty"}) args[i++] = vm.GetMember(self, name);
  return Make(vm, "Matrix", args);
}
Value MatrixIdentity(Vm& vm, const Value& self, std::span<Value>) {
  SetMatrix(vm, self, M{});
  return Value{};
}
Value MatrixConcat(Vm& vm, const Value& self, std::span<Value> args) {
  SetMatrix(vm, self, Times(MatrixOf(vm, self), MatrixOf(vm, Arg(args, 0))));
  return Value{};
}
Value MatrixInvert(Vm& vm, const Value& self, std::span<Value>) {
  const M m = MatrixOf(vm, self);
  const double det = m.a * m.d - m.b * m.c;
  if (det == 0) {
    SetMatrix(vm, self, M{});
    return Value{};
  }
  M r{m.d / det, -m.b / det, -m.c / det, m.a / det, 0, 0};
  r.tx = -(r.a * m.tx + r.c * m.ty);
  r.ty = -(r.b * m.tx + r.d * m.ty);
  SetMatrix(vm, self, r);
  return Value{};
}
Value MatrixRotate(Vm& vm, const Value& self, std::span<Value> args) {
  const double angle = vm.ToNumber(Arg(args, 0));
  if (angle == 0) return Value{};
  const double cos = std::cos(angle), sin = std::sin(angle);
  SetMatrix(vm, self, Times(MatrixOf(vm, self), M{cos, sin, -sin, cos, 0, 0}));
  return Value{};
}
Value MatrixScale(Vm& vm, const Value& self, std::span<Value> args) {
  const double sx = vm.ToNumber(Arg(args, 0)), sy = vm.ToNumber(Arg(args, 1));
  SetMatrix(vm, self, Times(MatrixOf(vm, self), M{sx, 0, 0, sy, 0, 0}));
  return Value{};
}
Value MatrixTranslate(Vm& vm, const Value& self, std::span<Value> args) {
  vm.SetMember(self, "tx", Value::Num(Num(vm, self, "tx") + vm.ToNumber(Arg(args, 0))));
  vm.SetMember(self, "ty", Value::Num(Num(vm, self, "ty") + vm.ToNumber(Arg(args, 1))));
  return Value{};
}
double OrZero(Vm& vm, std::span<Value> args, std::size_t i) {
  return i < args.size() && !args[i].IsUndefined() ? vm.ToNumber(args[i]) : 0;
}
Value MatrixCreateBox(Vm& vm, const Value& self, std::span<Value> args) {
  const double sx = vm.ToNumber(Arg(args, 0)), sy = vm.ToNumber(Arg(args, 1));
  const double r = args.size() > 2 ? vm.ToNumber(args[2]) : kNaN;
  SetMatrix(vm, self,
            M{std::cos(r) * sx, std::sin(r) * sy, -std::sin(r) * sx, std::cos(r) * sy,
              OrZero(vm, args, 3), OrZero(vm, args, 4)});
  return Value{};
}
Value MatrixCreateGradientBox(Vm& vm, const Value& self, std::span<Value> args) {
  // A gradient's square is 1638.4 pixels wide.
  const double w = vm.ToNumber(Arg(args, 0)) / 1638.4, h = vm.ToNumber(Arg(args, 1)) / 1638.4;
  const double r = OrZero(vm, args, 2);
  SetMatrix(vm, self,
            M{std::cos(r) * w, std::sin(r) * h, -std::sin(r) * w, std::cos(r) * h,
              OrZero(vm, args, 3) + vm.ToNumber(Arg(args, 0)) / 2,
              OrZero(vm, args, 4) + vm.ToNumber(Arg(args, 1)) / 2});
  return Value{};
}
Value MatrixTransformPoint(Vm& vm, const Value& self, std::span<Value> args) {
  const M m = MatrixOf(vm, self);
  const double x = Num(vm, Arg(args, 0), "x"), y = Num(vm, Arg(args, 0), "y");
  return MakePoint(vm, m.a * x + m.c * y + m.tx, m.b * x + m.d * y + m.ty);
}
Value MatrixDeltaTransformPoint(Vm& vm, const Value& self, std::span<Value> args) {
  const M m = MatrixOf(vm, self);
  const double x = Num(vm, Arg(args, 0), "x"), y = Num(vm, Arg(args, 0), "y");
  return MakePoint(vm, m.a * x + m.c * y, m.b * x + m.d * y);
}

// ---- ColorTransform ----

struct ColorState : NativeData {
  // red, green, blue, alpha multipliers, then their offsets
  double v[8] = {1, 1, 1, 1, 0, 0, 0, 0};
};
constexpr const char* kColorNames[8] = {"redMultiplier",   "greenMultiplier", "blueMultiplier",
                                        "alphaMultiplier", "redOffset",       "greenOffset",
                                        "blueOffset",      "alphaOffset"};

Value ColorConstruct(Vm& vm, const Value& self, std::span<Value> args) {
  auto state = std::make_unique<ColorState>();
  if (!args.empty()) {
    for (std::size_t i = 0; i < 8; ++i) state->v[i] = vm.ToNumber(Arg(args, i));
  }
  self.o->data = std::move(state);
  return self;
}
template <int index>
Value ColorGet(Vm&, const Value& self, std::span<Value>) {
  const ColorState* c = DataOf<ColorState>(self);
  return c ? Value::Num(c->v[index]) : Value{};
}
template <int index>
Value ColorSet(Vm& vm, const Value& self, std::span<Value> args) {
  if (ColorState* c = DataOf<ColorState>(self)) c->v[index] = vm.ToNumber(Arg(args, 0));
  return Value{};
}
std::int64_t Channel(double v) {
  return std::isfinite(v) ? std::int64_t(v) & 0xFF : 0;
}
Value ColorRgb(Vm&, const Value& self, std::span<Value>) {
  const ColorState* c = DataOf<ColorState>(self);
  if (!c) return Value{};
  return Value::Num(double((Channel(c->v[4]) << 16) | (Channel(c->v[5]) << 8) | Channel(c->v[6])));
}
Value ColorSetRgb(Vm& vm, const Value& self, std::span<Value> args) {
  ColorState* c = DataOf<ColorState>(self);
  if (!c) return Value{};
  const auto rgb = std::uint32_t(vm.ToInt32(Arg(args, 0)));
  c->v[0] = c->v[1] = c->v[2] = 0;
  c->v[4] = double((rgb >> 16) & 0xFF);
  c->v[5] = double((rgb >> 8) & 0xFF);
  c->v[6] = double(rgb & 0xFF);
  return Value{};
}
Value ColorToString(Vm& vm, const Value& self, std::span<Value>) {
  const ColorState* c = DataOf<ColorState>(self);
  if (!c) return Value::Str("[object Object]");
  std::string out = "(";
  for (std::size_t i = 0; i < 8; ++i) {
    if (i) out += ", ";
    out.append(kColorNames[i]).append("=").append(vm.ToString(Value::Num(c->v[i])));
  }
  return Value::Str(out + ")");
}
Value ColorConcat(Vm&, const Value& self, std::span<Value> args) {
  ColorState* c = DataOf<ColorState>(self);
  const ColorState* o = DataOf<ColorState>(Arg(args, 0));
  if (!c || !o) return Value{};
  for (int i = 0; i < 4; ++i) {
    c->v[4 + i] += o->v[4 + i] * c->v[i];
    c->v[i] *= o->v[i];
  }
  return Value{};
}

template <int... i>
void DefineChannels(Vm& vm, Object* proto, std::integer_sequence<int, i...>) {
  (DefineAccessor(vm, proto, kColorNames[i], ColorGet<i>, ColorSet<i>, 0), ...);
}

// ---- Transform, and MovieClip.transform ----

struct TransformState : NativeData {
  Object* clip = nullptr;
  void Trace(std::vector<Object*>& out) const override { out.push_back(clip); }
};

Object* ClipOfTransform(const Value& self) {
  const TransformState* t = DataOf<TransformState>(self);
  return t ? t->clip : nullptr;
}
Value MakeMatrix(Vm& vm, const M& m) {
  Value args[6] = {Value::Num(m.a), Value::Num(m.b),  Value::Num(m.c),
                   Value::Num(m.d), Value::Num(m.tx), Value::Num(m.ty)};
  return Make(vm, "Matrix", args);
}
Value MakeColor(Vm& vm, const double* c) {
  Value args[8];
  for (int i = 0; i < 8; ++i) args[i] = Value::Num(c[i]);
  return Make(vm, "ColorTransform", args);
}
bool ClipMatrix(Vm& vm, Object* clip, M* out) {
  double m[6];
  if (!clip || !vm.host()->GetClipMatrix(clip, m)) return false;
  *out = M{m[0], m[1], m[2], m[3], m[4], m[5]};
  return true;
}

Value TransformConstruct(Vm&, const Value& self, std::span<Value> args) {
  const Value target = Arg(args, 0);
  if (!target.IsObject() || target.o->kind != Kind::Clip || !target.o->clip) return Value::Null();
  auto t = std::make_unique<TransformState>();
  t->clip = target.o;
  self.o->data = std::move(t);
  return self;
}
Value TransformMatrix(Vm& vm, const Value& self, std::span<Value>) {
  M m;
  if (!ClipMatrix(vm, ClipOfTransform(self), &m)) return Value{};
  return MakeMatrix(vm, m);
}
Value TransformSetMatrix(Vm& vm, const Value& self, std::span<Value> args) {
  Object* clip = ClipOfTransform(self);
  const Value v = Arg(args, 0);
  const Value ctor = vm.Get(Package(vm, "flash.geom"), "Matrix");
  if (!clip || !ctor.IsObject() || !vm.InstanceOf(v, ctor.o)) return Value{};
  const M m = MatrixOf(vm, v);
  const double values[6] = {m.a, m.b, m.c, m.d, m.tx, m.ty};
  vm.host()->SetClipMatrix(clip, values);
  return Value{};
}
// The clip's matrix to the stage, its parents' taken in.
bool ConcatenatedMatrix(Vm& vm, Object* clip, M* m) {
  if (!ClipMatrix(vm, clip, m)) return false;
  int depth = 0;
  for (Object* p = vm.host()->Parent(clip); p && depth < 256; p = vm.host()->Parent(p), ++depth) {
    M outer;
    if (ClipMatrix(vm, p, &outer)) *m = Times(*m, outer);
  }
  return true;
}
Value TransformConcatenatedMatrix(Vm& vm, const Value& self, std::span<Value>) {
  M m;
  if (!ConcatenatedMatrix(vm, ClipOfTransform(self), &m)) return Value{};
  return MakeMatrix(vm, m);
}
Value TransformColor(Vm& vm, const Value& self, std::span<Value>) {
  Object* clip = ClipOfTransform(self);
  double c[8];
  if (!clip || !vm.host()->GetClipColor(clip, c)) return Value{};
  return MakeColor(vm, c);
}
Value TransformSetColor(Vm& vm, const Value& self, std::span<Value> args) {
  Object* clip = ClipOfTransform(self);
  double c[8];
  if (clip && ColorTransformOf(Arg(args, 0), c)) vm.host()->SetClipColor(clip, c);
  return Value{};
}
Value TransformConcatenatedColor(Vm& vm, const Value& self, std::span<Value>) {
  Object* clip = ClipOfTransform(self);
  double c[8];
  if (!clip || !vm.host()->GetClipColor(clip, c)) return Value{};
  int depth = 0;
  for (Object* p = vm.host()->Parent(clip); p && depth < 256; p = vm.host()->Parent(p), ++depth) {
    double outer[8];
    if (!vm.host()->GetClipColor(p, outer)) continue;
    for (int i = 0; i < 4; ++i) {
      // Offsets are 16-bit integers in Flash Player: a product beyond them wraps.
      const double offset = std::floor(c[4 + i] * outer[i] + outer[4 + i]);
      c[4 + i] = std::isfinite(offset)
                     ? double(std::int16_t(std::uint16_t(std::int64_t(std::fmod(offset, 65536.0)))))
                     : 0;
      c[i] *= outer[i];
    }
  }
  return MakeColor(vm, c);
}
// The clip's bounds on the stage, in whole pixels.
Value TransformPixelBounds(Vm& vm, const Value& self, std::span<Value>) {
  Object* clip = ClipOfTransform(self);
  M m;
  if (!clip || !ConcatenatedMatrix(vm, clip, &m)) return Value{};
  Value own[1] = {Value::Obj(clip)};
  const Value bounds = vm.Call(vm.Get(clip, "getBounds"), Value::Obj(clip), own);
  if (!bounds.IsObject()) return Value{};
  const double x[2] = {Num(vm, bounds, "xMin"), Num(vm, bounds, "xMax")};
  const double y[2] = {Num(vm, bounds, "yMin"), Num(vm, bounds, "yMax")};
  double lo[2] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
  double hi[2] = {-lo[0], -lo[1]};
  for (const double px : x) {
    for (const double py : y) {
      const double sx = m.a * px + m.c * py + m.tx;
      const double sy = m.b * px + m.d * py + m.ty;
      lo[0] = std::min(lo[0], sx);
      lo[1] = std::min(lo[1], sy);
      hi[0] = std::max(hi[0], sx);
      hi[1] = std::max(hi[1], sy);
    }
  }
  lo[0] = std::floor(lo[0]);
  lo[1] = std::floor(lo[1]);
  Value args[4] = {Value::Num(lo[0]), Value::Num(lo[1]), Value::Num(std::ceil(hi[0]) - lo[0]),
                   Value::Num(std::ceil(hi[1]) - lo[1])};
  return Make(vm, "Rectangle", args);
}
Value ClipTransform(Vm& vm, const Value& self, std::span<Value>) {
  Value args[1] = {self};
  return Make(vm, "Transform", args);
}
Value ClipSetTransform(Vm& vm, const Value& self, std::span<Value> args) {
  Object* from = ClipOfTransform(Arg(args, 0));
  if (!from || !self.IsObject()) return Value{};
  double m[6], c[8];
  if (vm.host()->GetClipMatrix(from, m)) vm.host()->SetClipMatrix(self.o, m);
  if (vm.host()->GetClipColor(from, c)) vm.host()->SetClipColor(self.o, c);
  return Value{};
}

// ---- Color: a clip's colour transform in the SWF 5 way (percentages and offsets) ----

struct ColorTarget : NativeData {
  Value target;
  void Trace(std::vector<Object*>& out) const override {
    if (target.IsObject()) out.push_back(target.o);
  }
};
Object* ColorClip(Vm& vm, const Value& self) {
  const ColorTarget* t = DataOf<ColorTarget>(self);
  return t ? vm.TargetOf(t->target) : nullptr;
}
Value OldColorConstruct(Vm&, const Value& self, std::span<Value> args) {
  auto t = std::make_unique<ColorTarget>();
  t->target = Arg(args, 0);
  self.o->data = std::move(t);
  return self;
}
Value OldColorSetRgb(Vm& vm, const Value& self, std::span<Value> args) {
  Object* clip = ColorClip(vm, self);
  double c[8];
  if (!clip || !vm.host()->GetClipColor(clip, c)) return Value{};
  const auto rgb = std::uint32_t(vm.ToInt32(Arg(args, 0)));
  c[0] = c[1] = c[2] = 0;
  c[4] = double((rgb >> 16) & 255);
  c[5] = double((rgb >> 8) & 255);
  c[6] = double(rgb & 255);
  vm.host()->SetClipColor(clip, c);
  return Value{};
}
Value OldColorGetRgb(Vm& vm, const Value& self, std::span<Value>) {
  Object* clip = ColorClip(vm, self);
  double c[8];
  if (!clip || !vm.host()->GetClipColor(clip, c)) return Value{};
  return Value::Num(double((Channel(c[4]) << 16) | (Channel(c[5]) << 8) | Channel(c[6])));
}
constexpr const char* kOldColorNames[8] = {"ra", "ga", "ba", "aa", "rb", "gb", "bb", "ab"};
Value OldColorSetTransform(Vm& vm, const Value& self, std::span<Value> args) {
  Object* clip = ColorClip(vm, self);
  const Value t = Arg(args, 0);
  double c[8];
  if (!clip || !t.IsObject() || !vm.host()->GetClipColor(clip, c)) return Value{};
  for (int i = 0; i < 8; ++i) {
    if (!vm.HasProperty(t.o, kOldColorNames[i])) continue;
    const double v = vm.ToNumber(vm.Get(t.o, kOldColorNames[i]));
    c[i] = i < 4 ? v / 100 : v;
  }
  vm.host()->SetClipColor(clip, c);
  return Value{};
}
Value OldColorGetTransform(Vm& vm, const Value& self, std::span<Value>) {
  Object* clip = ColorClip(vm, self);
  double c[8];
  if (!clip || !vm.host()->GetClipColor(clip, c)) return Value{};
  Object* o = vm.NewObject();
  for (int i = 0; i < 8; ++i) vm.Set(o, kOldColorNames[i], Value::Num(i < 4 ? c[i] * 100 : c[i]));
  return Value::Obj(o);
}

}  // namespace

Value MakePoint(Vm& vm, double x, double y) {
  Value args[2] = {Value::Num(x), Value::Num(y)};
  return Make(vm, "Point", args);
}

Value MakeRectangle(Vm& vm, double x, double y, double width, double height) {
  return MakeRect(vm, {x, y, width, height});
}

bool ColorTransformOf(const Value& v, double out[8]) {
  const ColorState* c = DataOf<ColorState>(v);
  if (!c) return false;
  std::copy(std::begin(c->v), std::end(c->v), out);
  return true;
}

void InstallGeom(Vm& vm) {
  Object* geom = Package(vm, "flash.geom");
  Object* proto = nullptr;

  Object* point = DefineClass(vm, geom, "Point", PointConstruct, &proto);
  vm.DefineNative(proto, "toString", PointToString);
  DefineAccessor(vm, proto, "length", PointLength, nullptr);
  vm.DefineNative(proto, "add", PointAdd);
  vm.DefineNative(proto, "subtract", PointSubtract);
  vm.DefineNative(proto, "equals", PointEquals);
  vm.DefineNative(proto, "clone", PointClone);
  vm.DefineNative(proto, "normalize", PointNormalize);
  vm.DefineNative(proto, "offset", PointOffset);
  vm.DefineNative(point, "distance", PointDistance);
  vm.DefineNative(point, "interpolate", PointInterpolate);
  vm.DefineNative(point, "polar", PointPolar);

  DefineClass(vm, geom, "Rectangle", RectConstruct, &proto);
  vm.DefineNative(proto, "toString", RectToString);
  vm.DefineNative(proto, "clone", RectClone);
  vm.DefineNative(proto, "isEmpty", RectIsEmpty);
  vm.DefineNative(proto, "setEmpty", RectSetEmpty);
  vm.DefineNative(proto, "contains", RectContains);
  vm.DefineNative(proto, "containsPoint", RectContainsPoint);
  vm.DefineNative(proto, "containsRectangle", RectContainsRect);
  vm.DefineNative(proto, "equals", RectEquals);
  vm.DefineNative(proto, "inflate", RectInflate);
  vm.DefineNative(proto, "inflatePoint", RectInflatePoint);
  vm.DefineNative(proto, "offset", RectOffset);
  vm.DefineNative(proto, "offsetPoint", RectOffsetPoint);
  vm.DefineNative(proto, "intersection", RectIntersection);
  vm.DefineNative(proto, "intersects", RectIntersects);
  vm.DefineNative(proto, "union", RectUnion);
  DefineAccessor(vm, proto, "left", RectLeft, RectSetLeft);
  DefineAccessor(vm, proto, "top", RectTop, RectSetTop);
  DefineAccessor(vm, proto, "right", RectRight, RectSetRight);
  DefineAccessor(vm, proto, "bottom", RectBottom, RectSetBottom);
  DefineAccessor(vm, proto, "size", RectSize, RectSetSize);
  DefineAccessor(vm, proto, "topLeft", RectTopLeft, RectSetTopLeft);
  DefineAccessor(vm, proto, "bottomRight", RectBottomRight, RectSetBottomRight);

  DefineClass(vm, geom, "Matrix", MatrixConstruct, &proto);
  vm.DefineNative(proto, "toString", MatrixToString);
  vm.DefineNative(proto, "clone", MatrixClone);
  vm.DefineNative(proto, "identity", MatrixIdentity);
  vm.DefineNative(proto, "concat", MatrixConcat);
  vm.DefineNative(proto, "invert", MatrixInvert);
  vm.DefineNative(proto, "rotate", MatrixRotate);
  vm.DefineNative(proto, "scale", MatrixScale);
  vm.DefineNative(proto, "translate", MatrixTranslate);
  vm.DefineNative(proto, "createBox", MatrixCreateBox);
  vm.DefineNative(proto, "createGradientBox", MatrixCreateGradientBox);
  vm.DefineNative(proto, "transformPoint", MatrixTransformPoint);
  vm.DefineNative(proto, "deltaTransformPoint", MatrixDeltaTransformPoint);

  DefineClass(vm, geom, "ColorTransform", ColorConstruct, &proto);
  // Defined in the order a for..in lists them last to first.
  // Enumerable, as Flash Player has them.
  DefineChannels(vm, proto, std::integer_sequence<int, 3, 0, 1, 2, 7, 4, 5, 6>{});
  DefineAccessor(vm, proto, "rgb", ColorRgb, ColorSetRgb, 0);
  vm.DefineNative(proto, "concat", ColorConcat, 0);
  vm.DefineNative(proto, "toString", ColorToString, 0);

  DefineClass(vm, geom, "Transform", TransformConstruct, &proto);
  DefineAccessor(vm, proto, "matrix", TransformMatrix, TransformSetMatrix);
  DefineAccessor(vm, proto, "concatenatedMatrix", TransformConcatenatedMatrix, nullptr);
  DefineAccessor(vm, proto, "colorTransform", TransformColor, TransformSetColor);
  DefineAccessor(vm, proto, "concatenatedColorTransform", TransformConcatenatedColor, nullptr);
  DefineAccessor(vm, proto, "pixelBounds", TransformPixelBounds, nullptr);
  if (vm.version() >= 8)
    DefineAccessor(vm, vm.clip_proto, "transform", ClipTransform, ClipSetTransform);

  DefineClass(vm, vm.global, "Color", OldColorConstruct, &proto);
  vm.DefineNative(proto, "setRGB", OldColorSetRgb);
  vm.DefineNative(proto, "getRGB", OldColorGetRgb);
  vm.DefineNative(proto, "setTransform", OldColorSetTransform);
  vm.DefineNative(proto, "getTransform", OldColorGetTransform);
}

}  // namespace swf::avm1
