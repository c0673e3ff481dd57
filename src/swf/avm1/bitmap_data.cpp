// flash.display.BitmapData: pixels kept premultiplied as Flash Player keeps them (so colours read
// back with its rounding), its size limits, and the pixel operations scripts see. Methods given
// too few or wrong arguments answer with Flash Player's negative codes: -1 too few (or a disposed
// bitmap), then -2, -3, ... for the first bad argument.
#include <algorithm>
#include <cmath>

#include "swf/avm1/objects.h"

namespace swf::avm1 {
namespace {

struct Bitmap : NativeData {
  int width = 0;
  int height = 0;
  bool transparent = true;
  bool disposed = false;
  std::vector<std::uint32_t> pixels;  // premultiplied ARGB
  [[nodiscard]] std::size_t Bytes() const override { return pixels.size() * 4; }
  [[nodiscard]] bool Inside(int x, int y) const {
    return x >= 0 && y >= 0 && x < width && y < height;
  }
  std::uint32_t& At(int x, int y) { return pixels[std::size_t(y) * std::size_t(width) + x]; }
};

Bitmap* Live(const Value& v) {
  Bitmap* b = DataOf<Bitmap>(v);
  return b && !b->disposed ? b : nullptr;
}
// A pass over `pixels` pixels costs the frame's work as this many actions.
void Spend(Vm& vm, std::size_t pixels) {
  vm.Work(pixels / 32 + 1);
}

std::uint32_t Premultiply(std::uint32_t argb) {
  const std::uint32_t a = argb >> 24;
  if (a == 255) return argb;
  const auto m = [a](std::uint32_t c) { return (c * a + 127) / 255; };
  return (a << 24) | (m((argb >> 16) & 255) << 16) | (m((argb >> 8) & 255) << 8) | m(argb & 255);
}
std::uint32_t Unmultiply(std::uint32_t p) {
  const std::uint32_t a = p >> 24;
  if (a == 255) return p;
  if (a == 0) return 0;
  const auto u = [a](std::uint32_t c) {
    return std::min<std::uint32_t>(255, (c * 255 + (a - 1) / 2) / a);
  };
  return (a << 24) | (u((p >> 16) & 255) << 16) | (u((p >> 8) & 255) << 8) | u(p & 255);
}
void Store(Bitmap& b, int x, int y, std::uint32_t argb) {
  if (!b.transparent) argb |= 0xFF000000u;
  b.At(x, y) = Premultiply(argb);
}

// Flash Player's largest bitmaps: 2880 pixels a side before SWF 10; then 8191 a side and 16777215
// pixels in all.
bool SizeAllowed(int version, double w, double h) {
  if (!(w >= 1 && h >= 1)) return false;
  if (version < 10) return w <= 2880 && h <= 2880;
  return w <= 8191 && h <= 8191 && w * h <= 16777215;
}

struct Area {
  int x = 0, y = 0, w = 0, h = 0;
};
bool HasAll(Vm& vm, const Value& v, std::initializer_list<const char*> names) {
  if (!v.IsObject()) return false;
  for (const char* name : names) {
    if (!vm.HasProperty(v.o, name)) return false;
  }
  return true;
}
bool RectArg(Vm& vm, const Value& v, Area* out) {
  if (!HasAll(vm, v, {"x", "y", "width", "height"})) return false;
  const auto i = [&](const char* n) { return ToIntClamped(vm, vm.Get(v.o, n)); };
  *out = {i("x"), i("y"), i("width"), i("height")};
  return true;
}
bool PointArg(Vm& vm, const Value& v, int* x, int* y) {
  if (!HasAll(vm, v, {"x", "y"})) return false;
  *x = ToIntClamped(vm, vm.Get(v.o, "x"));
  *y = ToIntClamped(vm, vm.Get(v.o, "y"));
  return true;
}
// `a` cut to the bitmap.
Area Clip(const Bitmap& b, Area a) {
  const int x0 = std::clamp(a.x, 0, b.width), y0 = std::clamp(a.y, 0, b.height);
  const int x1 = std::clamp(a.x + std::max(a.w, 0), 0, b.width);
  const int y1 = std::clamp(a.y + std::max(a.h, 0), 0, b.height);
  return {x0, y0, std::max(x1 - x0, 0), std::max(y1 - y0, 0)};
}
Value MakeRect(Vm& vm, double x, double y, double w, double h) {
  Value args[4] = {Value::Num(x), Value::Num(y), Value::Num(w), Value::Num(h)};
  return vm.Construct(vm.Get(Package(vm, "flash.geom"), "Rectangle"), args);
}
Object* BitmapProto(Vm& vm) {
  const Value ctor = vm.Get(Package(vm, "flash.display"), "BitmapData");
  const Value proto = vm.GetMember(ctor, "prototype");
  return proto.IsObject() ? proto.o : nullptr;
}
std::unique_ptr<Bitmap> MakeBitmap(Vm& vm, int w, int h, bool transparent, std::uint32_t fill) {
  vm.Charge(std::size_t(w) * std::size_t(h) * 4);
  auto b = std::make_unique<Bitmap>();
  b->width = w;
  b->height = h;
  b->transparent = transparent;
  b->pixels.assign(std::size_t(w) * std::size_t(h),
                   Premultiply(transparent ? fill : fill | 0xFF000000u));
  return b;
}

// ---- Construction and properties ----

Value Construct(Vm& vm, const Value& self, std::span<Value> args) {
  if (args.size() < 2) return Value::Null();
  const double w = vm.ToNumber(args[0]), h = vm.ToNumber(args[1]);
  if (!SizeAllowed(vm.version(), std::trunc(w), std::trunc(h))) return Value::Null();
  const bool transparent = args.size() < 3 || vm.ToBoolean(args[2]);
  const std::uint32_t fill = args.size() < 4 ? 0xFFFFFFFFu : std::uint32_t(vm.ToInt32(args[3]));
  self.o->data = MakeBitmap(vm, int(w), int(h), transparent, fill);
  return self;
}
Value Width(Vm&, const Value& self, std::span<Value>) {
  const Bitmap* b = Live(self);
  return Value::Num(b ? b->width : -1);
}
Value Height(Vm&, const Value& self, std::span<Value>) {
  const Bitmap* b = Live(self);
  return Value::Num(b ? b->height : -1);
}
Value Transparent(Vm&, const Value& self, std::span<Value>) {
  const Bitmap* b = Live(self);
  return b ? Value::Bool(b->transparent) : Value::Num(-1);
}
Value Rectangle(Vm& vm, const Value& self, std::span<Value>) {
  const Bitmap* b = Live(self);
  if (!b) return Value::Num(-1);
  return MakeRect(vm, 0, 0, b->width, b->height);
}

// ---- Pixels ----

Value GetPixel(Vm& vm, const Value& self, std::span<Value> args) {
  Bitmap* b = Live(self);
  if (!b || args.size() < 2) return Value::Num(-1);
  const int x = vm.ToInt32(args[0]), y = vm.ToInt32(args[1]);
  if (!b->Inside(x, y)) return Value::Num(0);
  return Value::Num(double(Unmultiply(b->At(x, y)) & 0xFFFFFF));
}
Value GetPixel32(Vm& vm, const Value& self, std::span<Value> args) {
  Bitmap* b = Live(self);
  if (!b || args.size() < 2) return Value::Num(-1);
  const int x = vm.ToInt32(args[0]), y = vm.ToInt32(args[1]);
  if (!b->Inside(x, y)) return Value::Num(0);
  // An opaque bitmap's pixels are as stored (only threshold's copy puts alpha there).
  const std::uint32_t p = b->At(x, y);
  return Value::Num(double(std::int32_t(b->transparent ? Unmultiply(p) : p)));
}
Value SetPixel(Vm& vm, const Value& self, std::span<Value> args) {
  Bitmap* b = Live(self);
  if (!b || args.size() < 3) return Value{};
  const int x = vm.ToInt32(args[0]), y = vm.ToInt32(args[1]);
  if (!b->Inside(x, y)) return Value{};
  const std::uint32_t old = Unmultiply(b->At(x, y));
  Store(*b, x, y, (old & 0xFF000000u) | (std::uint32_t(vm.ToInt32(args[2])) & 0xFFFFFF));
  return Value{};
}
Value SetPixel32(Vm& vm, const Value& self, std::span<Value> args) {
  Bitmap* b = Live(self);
  if (!b || args.size() < 3) return Value{};
  const int x = vm.ToInt32(args[0]), y = vm.ToInt32(args[1]);
  if (b->Inside(x, y)) Store(*b, x, y, std::uint32_t(vm.ToInt32(args[2])));
  return Value{};
}
Value FillRect(Vm& vm, const Value& self, std::span<Value> args) {
  Bitmap* b = Live(self);
  if (!b || args.size() < 2) return Value::Num(-1);
  Area a;
  if (!RectArg(vm, args[0], &a)) return Value::Num(-2);
  a = Clip(*b, a);
  Spend(vm, std::size_t(a.w) * std::size_t(a.h));
  const std::uint32_t color = std::uint32_t(vm.ToInt32(args[1]));
  for (int y = a.y; y < a.y + a.h; ++y) {
    for (int x = a.x; x < a.x + a.w; ++x) Store(*b, x, y, color);
  }
  return Value{};
}
Value Clone(Vm& vm, const Value& self, std::span<Value>) {
  Bitmap* b = Live(self);
  if (!b) return Value::Num(-1);
  Object* copy = vm.NewObject(BitmapProto(vm));
  auto made = MakeBitmap(vm, b->width, b->height, b->transparent, 0);
  made->pixels = b->pixels;
  copy->data = std::move(made);
  return Value::Obj(copy);
}
Value Dispose(Vm&, const Value& self, std::span<Value>) {
  if (Bitmap* b = Live(self)) {
    b->disposed = true;
    b->width = b->height = 0;
    b->pixels = {};
  }
  return Value{};
}

// The arguments most copies start with: a source bitmap, its rectangle and where it goes.
struct Source {
  Bitmap* dst = nullptr;
  Bitmap* src = nullptr;
  std::vector<std::uint32_t> from;  // the source's pixels: it may be the destination
  Area area;
  int px = 0, py = 0;
};
// 0, or the code for the first bad argument (-1 for fewer than `min`).
int ReadSource(Vm& vm, const Value& self, std::span<Value> args, std::size_t min, Source* s) {
  s->dst = Live(self);
  if (!s->dst || args.size() < min) return -1;
  s->src = DataOf<Bitmap>(args[0]);
  if (!s->src) return -2;
  if (s->src->disposed) return -3;
  if (!RectArg(vm, args[1], &s->area)) return -4;
  // A point that isn't one places the copy at the corner.
  if (!PointArg(vm, args[2], &s->px, &s->py)) s->px = s->py = 0;
  s->from = s->src->pixels;
  Spend(vm, s->from.size());
  return 0;
}
// Runs `fn(dest x, dest y, premultiplied source pixel)` over the source's rectangle placed at
// the point, on the part both bitmaps hold.
template <class Fn>
void ForEach(const Source& s, Fn fn) {
  const Area area = Clip(*s.src, s.area);
  for (int y = 0; y < area.h; ++y) {
    for (int x = 0; x < area.w; ++x) {
      const int dx = s.px + x, dy = s.py + y;
      const std::size_t at = std::size_t(area.y + y) * std::size_t(s.src->width) + (area.x + x);
      if (s.dst->Inside(dx, dy)) fn(dx, dy, s.from[at]);
    }
  }
}

Value CopyPixels(Vm& vm, const Value& self, std::span<Value> args) {
  Source source;
  if (const int code = ReadSource(vm, self, args, 3, &source)) return Value::Num(code);
  Bitmap* b = source.dst;
  const bool merge = args.size() > 5 && vm.ToBoolean(args[5]);
  ForEach(source, [&](int dx, int dy, std::uint32_t s) {
    std::uint32_t& d = b->At(dx, dy);
    if (!merge || !b->transparent) {
      d = b->transparent ? s : Premultiply(Unmultiply(s) | 0xFF000000u);
      if (merge && !b->transparent) {
        // Over an opaque bitmap the source is blended by its alpha.
        const std::uint32_t a = s >> 24;
        const auto blend = [&](int shift) {
          const std::uint32_t sc = (s >> shift) & 255, dc = (d >> shift) & 255;
          return std::min<std::uint32_t>(255, sc + dc * (255 - a) / 255) << shift;
        };
        d = 0xFF000000u | blend(16) | blend(8) | blend(0);
      }
      return;
    }
    const std::uint32_t a = s >> 24;
    const auto over = [&](int shift) {
      const std::uint32_t sc = (s >> shift) & 255, dc = (d >> shift) & 255;
      return std::min<std::uint32_t>(255, sc + dc * (255 - a) / 255) << shift;
    };
    d = over(24) | over(16) | over(8) | over(0);
  });
  return Value{};
}

Value ColorTransform(Vm& vm, const Value& self, std::span<Value> args) {
  Bitmap* b = Live(self);
  if (!b || args.size() < 2) return Value::Num(-1);
  Area a;
  if (!RectArg(vm, args[0], &a)) return Value::Num(-2);
  double m[8];
  if (!ColorTransformOf(args[1], m)) return Value::Num(-3);
  a = Clip(*b, a);
  Spend(vm, std::size_t(a.w) * std::size_t(a.h));
  for (int y = a.y; y < a.y + a.h; ++y) {
    for (int x = a.x; x < a.x + a.w; ++x) {
      const std::uint32_t c = Unmultiply(b->At(x, y));
      std::uint32_t out = 0;
      for (int ch = 0; ch < 4; ++ch) {
        const int shift = ch == 3 ? 24 : 16 - 8 * ch;
        const double v = double((c >> shift) & 255) * m[ch] + m[4 + ch];
        const double k = std::isnan(v) ? 0 : std::clamp(v, 0.0, 255.0);
        out |= std::uint32_t(k) << shift;
      }
      Store(*b, x, y, out);
    }
  }
  return Value::Num(-1);
}

Value Compare(Vm&, const Value& self, std::span<Value> args) {
  Bitmap* a = Live(self);
  if (!a || args.empty()) return Value::Num(-1);
  Bitmap* other = Live(args[0]);
  if (!other) return Value::Num(-2);
  if (a == other) return Value::Num(0);
  if (a->width != other->width) return Value::Num(-3);
  if (a->height != other->height) return Value::Num(-4);
  return Value::Num(0);
}
Value CompareMake(Vm& vm, const Value& self, std::span<Value> args) {
  Value code = Compare(vm, self, args);
  Bitmap* a = Live(self);
  Bitmap* b = Live(Arg(args, 0));
  if (code.n != 0 || a == b) return code;
  Spend(vm, a->pixels.size());
  std::vector<std::uint32_t> diff(a->pixels.size());
  bool any = false;
  for (std::size_t i = 0; i < diff.size(); ++i) {
    const std::uint32_t p = Unmultiply(a->pixels[i]), q = Unmultiply(b->pixels[i]);
    if ((p & 0xFFFFFF) != (q & 0xFFFFFF)) {
      const auto d = [&](int shift) {
        return ((((p >> shift) & 255) - ((q >> shift) & 255)) & 255) << shift;
      };
      diff[i] = 0xFF000000u | d(16) | d(8) | d(0);
      any = true;
    } else if (p != q) {
      diff[i] = ((((p >> 24) - (q >> 24)) & 255) << 24) | 0xFFFFFF;
      any = true;
    }
  }
  if (!any) return Value::Num(0);
  Object* made = vm.NewObject(BitmapProto(vm));
  auto m = MakeBitmap(vm, a->width, a->height, true, 0);
  for (std::size_t i = 0; i < diff.size(); ++i) m->pixels[i] = Premultiply(diff[i]);
  made->data = std::move(m);
  return Value::Obj(made);
}

Value Threshold(Vm& vm, const Value& self, std::span<Value> args) {
  Source source;
  if (const int code = ReadSource(vm, self, args, 5, &source)) return Value::Num(code);
  Bitmap* b = source.dst;
  const std::string op = vm.ToString(args[3]);
  const auto threshold = std::uint32_t(vm.ToInt32(args[4]));
  const std::uint32_t color = args.size() > 5 ? std::uint32_t(vm.ToInt32(args[5])) : 0;
  const std::uint32_t mask = args.size() > 6 ? std::uint32_t(vm.ToInt32(args[6])) : 0xFFFFFFFFu;
  const bool copy = args.size() > 7 && vm.ToBoolean(args[7]);
  const auto test = [&](std::uint32_t v) {
    const std::uint32_t x = v & mask, t = threshold & mask;
    if (op == "<=") return x <= t;
    if (op == ">") return x > t;
    if (op == ">=") return x >= t;
    if (op == "==") return x == t;
    if (op == "!=") return x != t;
    return x < t;  // "<", and any other word
  };
  int count = 0;
  ForEach(source, [&](int dx, int dy, std::uint32_t pixel) {
    // Flash Player compares the pixels as it stores them: premultiplied.
    if (test(pixel)) {
      b->At(dx, dy) = Premultiply(color);  // its alpha kept, even in an opaque bitmap
      ++count;
    } else if (copy) {
      b->At(dx, dy) = pixel;  // as stored, alpha and all, even into an opaque bitmap
    }
  });
  return Value::Num(count);
}

Value CopyChannel(Vm& vm, const Value& self, std::span<Value> args) {
  Source source;
  if (const int code = ReadSource(vm, self, args, 5, &source)) return Value::Num(code);
  Bitmap* b = source.dst;
  const auto shift_of = [](int channel) {
    switch (channel) {
      case 1:
        return 16;
      case 2:
        return 8;
      case 4:
        return 0;
      case 8:
        return 24;
      default:
        return -1;
    }
  };
  const int from_shift = shift_of(vm.ToInt32(args[3])), to_shift = shift_of(vm.ToInt32(args[4]));
  // No source channel reads as 0; no destination channel changes nothing.
  if (to_shift < 0) return Value::Num(-1);
  ForEach(source, [&](int dx, int dy, std::uint32_t pixel) {
    const std::uint32_t s = Unmultiply(pixel);
    const std::uint32_t d = Unmultiply(b->At(dx, dy));
    const std::uint32_t v = from_shift < 0 ? 0 : (s >> from_shift) & 255;
    Store(*b, dx, dy, (d & ~(255u << to_shift)) | (v << to_shift));
  });
  return Value::Num(-1);
}

Value HitTest(Vm& vm, const Value& self, std::span<Value> args) {
  Bitmap* b = Live(self);
  if (!b || args.size() < 3) return Value::Num(-1);
  int fx = 0, fy = 0;
  if (!PointArg(vm, args[0], &fx, &fy)) return Value::Num(-2);
  const auto first_alpha = std::uint32_t(std::clamp(vm.ToInt32(args[1]), 0, 255));
  const auto alpha_at = [](Bitmap& m, int x, int y) { return m.At(x, y) >> 24; };
  const Value second = args[2];
  if (Bitmap* other = DataOf<Bitmap>(second)) {
    if (other->disposed) return Value::Num(-3);
    int sx = 0, sy = 0;
    if (args.size() > 3 && !PointArg(vm, args[3], &sx, &sy)) {
      // Flash Player blames the second point only after a first one that is a real Point.
      const Value point = vm.Get(Package(vm, "flash.geom"), "Point");
      return Value::Num(point.IsObject() && vm.InstanceOf(args[0], point.o) ? -4 : -2);
    }
    const auto second_alpha =
        std::uint32_t(std::clamp(args.size() > 4 ? vm.ToInt32(args[4]) : 1, 0, 255));
    // The overlap of both bitmaps placed at their points.
    const int x0 = std::max(fx, sx), y0 = std::max(fy, sy);
    const int x1 = std::min(fx + b->width, sx + other->width);
    const int y1 = std::min(fy + b->height, sy + other->height);
    Spend(vm, b->pixels.size());
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) {
        if (alpha_at(*b, x - fx, y - fy) >= first_alpha &&
            alpha_at(*other, x - sx, y - sy) >= second_alpha) {
          return Value::Bool(true);
        }
      }
    }
    return Value::Bool(false);
  }
  Area r;
  if (HasAll(vm, second, {"width", "height"}) && RectArg(vm, second, &r)) {
    r.x -= fx;
    r.y -= fy;
    r = Clip(*b, r);
    for (int y = r.y; y < r.y + r.h; ++y) {
      for (int x = r.x; x < r.x + r.w; ++x) {
        if (alpha_at(*b, x, y) >= first_alpha) return Value::Bool(true);
      }
    }
    return Value::Bool(false);
  }
  int x = 0, y = 0;
  if (!PointArg(vm, second, &x, &y)) return Value::Num(-3);
  x -= fx;
  y -= fy;
  return Value::Bool(b->Inside(x, y) && alpha_at(*b, x, y) >= first_alpha);
}

Value Noise(Vm& vm, const Value& self, std::span<Value> args) {
  Bitmap* b = Live(self);
  if (!b || args.empty()) return Value::Num(-1);
  std::uint32_t seed = std::uint32_t(vm.ToInt32(args[0])) | 1u;
  const int low = std::clamp(args.size() > 1 ? vm.ToInt32(args[1]) : 0, 0, 255);
  const int high = std::clamp(args.size() > 2 ? vm.ToInt32(args[2]) : 255, low, 255);
  const int channels = args.size() > 3 ? vm.ToInt32(args[3]) : 7;
  const bool gray = args.size() > 4 && vm.ToBoolean(args[4]);
  Spend(vm, b->pixels.size());
  const auto next = [&] {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    return std::uint32_t(low + int(seed % std::uint32_t(high - low + 1)));
  };
  for (std::uint32_t& p : b->pixels) {
    std::uint32_t out = 0xFF000000u;
    if (gray) {
      const std::uint32_t v = next();
      out |= (v << 16) | (v << 8) | v;
    } else {
      if (channels & 1) out |= next() << 16;
      if (channels & 2) out |= next() << 8;
      if (channels & 4) out |= next();
    }
    if (b->transparent && (channels & 8)) out = (out & 0xFFFFFF) | (next() << 24);
    p = Premultiply(out);
  }
  return Value{};
}

Value FloodFill(Vm& vm, const Value& self, std::span<Value> args) {
  Bitmap* b = Live(self);
  if (!b || args.size() < 3) return Value::Num(-1);
  const int x = vm.ToInt32(args[0]), y = vm.ToInt32(args[1]);
  if (!b->Inside(x, y)) return Value{};
  const std::uint32_t target = b->At(x, y);
  const std::uint32_t color =
      Premultiply(b->transparent ? std::uint32_t(vm.ToInt32(args[2]))
                                 : std::uint32_t(vm.ToInt32(args[2])) | 0xFF000000u);
  if (target == color) return Value{};
  Spend(vm, b->pixels.size());
  // Span by span: the stack holds a seed per run of the rows above and below a filled span.
  std::vector<std::pair<int, int>> seeds = {{x, y}};
  while (!seeds.empty()) {
    const auto [sx, sy] = seeds.back();
    seeds.pop_back();
    if (b->At(sx, sy) != target) continue;
    int x0 = sx, x1 = sx;
    while (x0 > 0 && b->At(x0 - 1, sy) == target) --x0;
    while (x1 + 1 < b->width && b->At(x1 + 1, sy) == target) ++x1;
    for (int px = x0; px <= x1; ++px) b->At(px, sy) = color;
    for (const int ny : {sy - 1, sy + 1}) {
      if (ny < 0 || ny >= b->height) continue;
      bool in_run = false;
      for (int px = x0; px <= x1; ++px) {
        const bool match = b->At(px, ny) == target;
        if (match && !in_run) seeds.emplace_back(px, ny);
        in_run = match;
      }
    }
  }
  return Value{};
}

Value ColorBounds(Vm& vm, const Value& self, std::span<Value> args) {
  Bitmap* b = Live(self);
  if (!b || args.size() < 2) return Value::Num(-1);
  const auto mask = std::uint32_t(vm.ToInt32(args[0]));
  const auto color = std::uint32_t(vm.ToInt32(args[1]));
  const bool find = args.size() < 3 || vm.ToBoolean(args[2]);
  Spend(vm, b->pixels.size());
  int x0 = b->width, y0 = b->height, x1 = -1, y1 = -1;
  for (int y = 0; y < b->height; ++y) {
    for (int x = 0; x < b->width; ++x) {
      const bool match = (Unmultiply(b->At(x, y)) & mask) == (color & mask);
      if (match != find) continue;
      x0 = std::min(x0, x);
      y0 = std::min(y0, y);
      x1 = std::max(x1, x);
      y1 = std::max(y1, y);
    }
  }
  if (x1 < 0) return MakeRect(vm, 0, 0, 0, 0);
  return MakeRect(vm, x0, y0, x1 - x0 + 1, y1 - y0 + 1);
}

Value Scroll(Vm& vm, const Value& self, std::span<Value> args) {
  Bitmap* b = Live(self);
  if (!b || args.size() < 2) return Value::Num(-1);
  const int dx = vm.ToInt32(args[0]), dy = vm.ToInt32(args[1]);
  Spend(vm, b->pixels.size());
  const std::vector<std::uint32_t> from = b->pixels;
  for (int y = 0; y < b->height; ++y) {
    for (int x = 0; x < b->width; ++x) {
      const int sx = x - dx, sy = y - dy;
      if (b->Inside(sx, sy)) b->At(x, y) = from[std::size_t(sy) * std::size_t(b->width) + sx];
    }
  }
  return Value{};
}

Value Draw(Vm& vm, const Value& self, std::span<Value> args) {
  Bitmap* b = Live(self);
  if (!b || args.empty()) return Value::Num(-1);
  const Value source = args[0];
  if (!source.IsObject()) return Value::Num(-2);
  double m[6] = {1, 0, 0, 1, 0, 0};
  if (args.size() > 1 && args[1].IsObject()) {
    const char* names[6] = {"a", "b", "c", "d", "tx", "ty"};
    for (int i = 0; i < 6; ++i) m[i] = vm.ToNumber(vm.Get(args[1].o, names[i]));
  }
  // The clip rectangle (fifth argument) bounds what changes.
  int clip[4] = {0, 0, b->width, b->height};
  if (args.size() > 4 && args[4].IsObject()) {
    const char* names[4] = {"x", "y", "width", "height"};
    double r[4];
    for (int i = 0; i < 4; ++i) r[i] = vm.ToNumber(vm.Get(args[4].o, names[i]));
    if (!(r[2] > 0 && r[3] > 0)) return Value{};
    clip[0] = int(std::clamp(std::floor(r[0]), 0.0, double(b->width)));
    clip[1] = int(std::clamp(std::floor(r[1]), 0.0, double(b->height)));
    clip[2] = int(std::clamp(std::ceil(r[0] + r[2]), 0.0, double(b->width)));
    clip[3] = int(std::clamp(std::ceil(r[1] + r[3]), 0.0, double(b->height)));
  }
  const auto inside = [&](int x, int y) {
    return x >= clip[0] && y >= clip[1] && x < clip[2] && y < clip[3];
  };
  if (Bitmap* other = Live(source)) {
    // Another bitmap is drawn here without the player: translated copies only.
    if (m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1) {
      Source copy;
      copy.dst = b;
      copy.src = other;
      copy.from = other->pixels;
      copy.area = Area{0, 0, other->width, other->height};
      copy.px = int(std::lround(m[4]));
      copy.py = int(std::lround(m[5]));
      ForEach(copy, [&](int dx, int dy, std::uint32_t p) {
        if (inside(dx, dy)) b->At(dx, dy) = p;
      });
    }
    return Value{};
  }
  if (source.o->kind != Kind::Clip) return Value{};
  Spend(vm, b->pixels.size());
  std::vector<std::uint32_t> argb(b->pixels.size());
  for (std::size_t i = 0; i < argb.size(); ++i) argb[i] = Unmultiply(b->pixels[i]);
  if (vm.host()->DrawClipInto(source.o, m, argb.data(), b->width, b->height)) {
    for (int y = clip[1]; y < clip[3]; ++y) {
      for (int x = clip[0]; x < clip[2]; ++x) {
        const std::size_t i = std::size_t(y) * std::size_t(b->width) + std::size_t(x);
        b->pixels[i] = Premultiply(b->transparent ? argb[i] : argb[i] | 0xFF000000u);
      }
    }
  }
  return Value{};
}

}  // namespace

void InstallBitmapData(Vm& vm) {
  Object* display = Package(vm, "flash.display");
  Object* proto = nullptr;
  Object* ctor = DefineClass(vm, display, "BitmapData", Construct, &proto);
  // Enumerable, as Flash Player has them.
  DefineAccessor(vm, proto, "width", Width, nullptr, 0);
  DefineAccessor(vm, proto, "height", Height, nullptr, 0);
  DefineAccessor(vm, proto, "transparent", Transparent, nullptr, 0);
  DefineAccessor(vm, proto, "rectangle", Rectangle, nullptr, 0);
  vm.DefineNative(proto, "getPixel", GetPixel);
  vm.DefineNative(proto, "getPixel32", GetPixel32);
  vm.DefineNative(proto, "setPixel", SetPixel);
  vm.DefineNative(proto, "setPixel32", SetPixel32);
  vm.DefineNative(proto, "fillRect", FillRect);
  vm.DefineNative(proto, "clone", Clone);
  vm.DefineNative(proto, "dispose", Dispose);
  vm.DefineNative(proto, "copyPixels", CopyPixels);
  vm.DefineNative(proto, "colorTransform", ColorTransform);
  vm.DefineNative(proto, "compare", CompareMake);
  vm.DefineNative(proto, "threshold", Threshold);
  vm.DefineNative(proto, "copyChannel", CopyChannel);
  vm.DefineNative(proto, "hitTest", HitTest);
  vm.DefineNative(proto, "noise", Noise);
  vm.DefineNative(proto, "floodFill", FloodFill);
  vm.DefineNative(proto, "getColorBoundsRect", ColorBounds);
  vm.DefineNative(proto, "scroll", Scroll);
  vm.DefineNative(proto, "draw", Draw);
  for (const char* name : {"perlinNoise", "pixelDissolve", "merge", "paletteMap", "applyFilter",
                           "generateFilterRect"}) {
    vm.DefineNative(proto, name, NoOp);
  }
  vm.Define(ctor, "RED_CHANNEL", Value::Num(1), 0);
  vm.Define(ctor, "GREEN_CHANNEL", Value::Num(2), 0);
  vm.Define(ctor, "BLUE_CHANNEL", Value::Num(4), 0);
  vm.Define(ctor, "ALPHA_CHANNEL", Value::Num(8), 0);
}

}  // namespace swf::avm1
