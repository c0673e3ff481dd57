#include "swf/text_script.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <utility>

namespace swf {
namespace {

using avm1::Value;
using Args = std::span<Value>;

// The parts as Flash lists them, in its order.
constexpr std::array<const char*, 19> kParts = {
    "font",      "size",   "color",      "url",         "target",       "bold",    "italic",
    "underline", "align",  "leftMargin", "rightMargin", "indent",       "leading", "blockIndent",
    "tabStops",  "bullet", "display",    "kerning",     "letterSpacing"};

Value Pixels(float twips) {
  return Value::Num(double(twips) / 20);
}

// How a part takes a script's value.
enum class PartKind : std::uint8_t { Text, Flag, Whole, Margin, Color, Align, Raw };
constexpr std::array<PartKind, kParts.size()> kKinds = {
    PartKind::Text,   PartKind::Whole, PartKind::Color, PartKind::Text,  PartKind::Text,
    PartKind::Flag,   PartKind::Flag,  PartKind::Flag,  PartKind::Align, PartKind::Margin,
    PartKind::Margin, PartKind::Whole, PartKind::Whole, PartKind::Whole, PartKind::Raw,
    PartKind::Flag,   PartKind::Raw,   PartKind::Flag,  PartKind::Raw};

// A colour as Flash keeps it: the number's 32 bits, unsigned.
Value ColorNumber(avm1::Vm& vm, const Value& v) {
  return Value::Num(double(std::uint32_t(vm.ToInt32(v))));
}

// What a part's setter keeps of `v`: whole sizes and margins rounded half to even, margins not
// below zero; an alignment it doesn't know leaves the old one.
Value Converted(avm1::Vm& vm, PartKind kind, const Value& v, const Value& old) {
  if (kind == PartKind::Raw) return v;
  if (kind == PartKind::Align) {
    const std::string a = vm.ToString(v);
    for (const char* name : {"left", "right", "center", "justify"}) {
      if (!v.IsNullish() && SameIgnoringCase(a, name)) return Value::Str(name);
    }
    return old;
  }
  if (v.IsNullish()) return Value::Null();
  switch (kind) {
    case PartKind::Text:
      return Value::Str(vm.ToString(v));
    case PartKind::Flag:
      return Value::Bool(vm.ToBoolean(v));
    case PartKind::Color:
      return ColorNumber(vm, v);
    default: {
      const double n = vm.ToNumber(v);
      if (!std::isfinite(n)) return Value::Num(0);
      const double whole = std::nearbyint(std::clamp(n, -1e9, 1e9));
      return Value::Num(kind == PartKind::Margin ? std::max(0.0, whole) : whole);
    }
  }
}

// Where a part's value lives: a hidden property no script names, behind the part's accessors
// (the machine keeps what was written in the accessor's own slot).
std::string Slot(const char* part) {
  return std::string("\x01") + part;
}
template <std::size_t part>
Value PartGet(avm1::Vm& vm, const Value& self, Args) {
  const avm1::Property* p = self.IsObject() ? vm.FindOwn(self.o, Slot(kParts[part])) : nullptr;
  return p ? p->value : Value{};
}
template <std::size_t part>
Value PartSet(avm1::Vm& vm, const Value& self, Args args) {
  avm1::Property* p = self.IsObject() ? vm.FindOwn(self.o, Slot(kParts[part])) : nullptr;
  if (p) p->value = Converted(vm, kKinds[part], args.empty() ? Value{} : args[0], p->value);
  return Value{};
}
template <std::size_t... i>
void DefineParts(avm1::Vm& vm, avm1::Object* proto, std::index_sequence<i...>) {
  const auto one = [&](const char* name, avm1::NativeFn get, avm1::NativeFn set) {
    vm.Define(proto, name, Value{}, avm1::DontEnum);
    if (avm1::Property* p = vm.FindOwn(proto, name)) {
      p->getter = vm.NewFunction(get);
      p->setter = vm.NewFunction(set);
    }
  };
  (one(kParts[i], PartGet<i>, PartSet<i>), ...);
}

// A TextFormat object with its parts as given (null for none), behind the prototype's accessors.
avm1::Object* NewTextFormat(avm1::Vm& vm, avm1::Object* o,
                            const std::array<Value, kParts.size()>& parts) {
  const Value ctor = vm.Get(vm.global, "TextFormat");
  const Value proto = ctor.IsObject() ? vm.Get(ctor.o, "prototype") : Value{};
  if (!o) o = vm.NewObject(proto.IsObject() ? proto.o : nullptr);
  for (std::size_t i = 0; i < kParts.size(); ++i) {
    const avm1::Property* shared = proto.IsObject() ? vm.FindOwn(proto.o, kParts[i]) : nullptr;
    vm.Define(o, Slot(kParts[i]), parts[i], avm1::DontEnum);
    vm.Define(o, kParts[i], parts[i]);
    avm1::Property* p = vm.FindOwn(o, kParts[i]);
    if (p && shared) {
      p->getter = shared->getter;
      p->setter = shared->setter;
    }
  }
  return o;
}

Value TextFormatCtor(avm1::Vm& vm, const Value& self, Args args) {
  if (!self.IsObject()) return Value{};
  // The constructor's arguments, in order: numbers cut to whole ones, nothing clamped.
  static constexpr std::array<std::size_t, 13> kArgs = {0, 1, 2, 5, 6, 7, 3, 4, 8, 9, 10, 11, 12};
  std::array<Value, kParts.size()> parts;
  for (Value& v : parts) v = Value::Null();
  parts[16] = Value::Str("block");
  for (std::size_t i = 0; i < args.size() && i < kArgs.size(); ++i) {
    const std::size_t part = kArgs[i];
    const Value& v = args[i];
    if (v.IsNullish()) continue;
    switch (kKinds[part]) {
      case PartKind::Whole:
      case PartKind::Margin:
        parts[part] = Value::Num(vm.ToInt32(v));
        break;
      default:
        parts[part] = Converted(vm, kKinds[part], v, Value::Null());
    }
  }
  NewTextFormat(vm, self.o, parts);
  return self;  // a subclass's super() gives the object
}

}  // namespace

Rgba RgbOf(avm1::Vm& vm, const avm1::Value& v, std::uint8_t alpha) {
  const auto c = std::uint32_t(vm.ToInt32(v));
  return {std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c), alpha};
}

avm1::Object* InstallTextFormat(avm1::Vm& vm) {
  avm1::Object* proto = vm.NewObject();
  avm1::Object* ctor = vm.NewFunction(TextFormatCtor, proto);
  vm.Define(vm.global, "TextFormat", Value::Obj(ctor), avm1::DontEnum);
  DefineParts(vm, proto, std::make_index_sequence<kParts.size()>{});
  return proto;
}

namespace {
Value TabStopsArray(avm1::Vm& vm, const std::vector<float>& stops) {
  std::vector<Value> items;
  items.reserve(stops.size());
  for (const float s : stops) items.push_back(Pixels(s));
  return Value::Obj(vm.NewArray(items));
}
}  // namespace

avm1::Object* TextFormatObject(avm1::Vm& vm, const FormatChange& f) {
  const auto text = [](const std::optional<std::string>& s) {
    return s ? Value::Str(*s) : Value::Null();
  };
  const auto flag = [](const std::optional<bool>& b) {
    return b ? Value::Bool(*b) : Value::Null();
  };
  const auto px = [](const std::optional<float>& v) { return v ? Pixels(*v) : Value::Null(); };
  // Margins, indents and leading are whole pixels to Flash, whatever the file's twips.
  const auto whole = [](const std::optional<float>& v) {
    return v ? Value::Num(std::round(double(*v) / 20)) : Value::Null();
  };
  return NewTextFormat(
      vm, nullptr,
      {text(f.font), px(f.size),
       f.color ? Value::Num(double((f.color->r << 16) | (f.color->g << 8) | f.color->b))
               : Value::Null(),
       text(f.url), text(f.target), flag(f.bold), flag(f.italic), flag(f.underline),
       f.align ? Value::Str(AlignName(*f.align)) : Value::Null(), whole(f.left_margin),
       whole(f.right_margin), whole(f.indent), whole(f.leading), whole(f.block_indent),
       f.tab_stops ? TabStopsArray(vm, *f.tab_stops) : Value::Null(), flag(f.bullet),
       Value::Str("block"), flag(f.kerning), px(f.letter_spacing)});
}

Value TextExtentObject(avm1::Vm& vm, TextFonts& fonts, const Value& self, Args args) {
  if (!self.IsObject() || args.empty()) return Value{};
  TextFormat format;
  format.font = "Times New Roman";  // as a new field has it
  FormatFromObject(vm, self.o).ApplyTo(format);
  std::optional<float> wrap;
  if (args.size() >= 2 && !args[1].IsNullish()) {
    const double n = vm.ToNumber(args[1]);
    if (std::isfinite(n)) wrap = float(std::clamp(n, 0.0, 1e6) * 20);
  }
  const TextExtent e = MeasureExtent(fonts, format, vm.ToString(args[0]), wrap);
  avm1::Object* o = vm.NewObject();
  o->proto = nullptr;  // a bare object, as Flash makes it
  vm.Set(o, "ascent", Value::Num(e.ascent));
  vm.Set(o, "descent", Value::Num(e.descent));
  vm.Set(o, "width", Value::Num(e.width));
  vm.Set(o, "height", Value::Num(e.height));
  // A field that shows it: two pixels of gutter each side, or the width asked for.
  vm.Set(o, "textFieldHeight", Value::Num(e.height + 4));
  vm.Set(o, "textFieldWidth", Value::Num(wrap ? std::round(*wrap / 20) : e.width + 4));
  return Value::Obj(o);
}

FormatChange FormatFromObject(avm1::Vm& vm, avm1::Object* o) {
  FormatChange f;
  if (!o) return f;
  const auto get = [&](const char* name, Value& v) {
    v = vm.Get(o, name);
    return !v.IsNullish();
  };
  // Twips from a script's pixels: whole ones for sizes and margins, as Flash keeps them.
  const auto twips = [&](const Value& v, bool whole) -> std::optional<float> {
    const double n = vm.ToNumber(v);
    if (!std::isfinite(n)) return whole ? std::optional<float>(0) : std::nullopt;
    const double px = whole ? std::trunc(n) : n;
    return float(std::clamp(px, -1e6, 1e6) * 20);
  };
  Value v;
  if (get("font", v)) f.font = vm.ToString(v);
  if (get("size", v)) f.size = twips(v, true);
  if (get("color", v)) f.color = RgbOf(vm, v);
  if (get("url", v)) f.url = vm.ToString(v);
  if (get("target", v)) f.target = vm.ToString(v);
  if (get("bold", v)) f.bold = vm.ToBoolean(v);
  if (get("italic", v)) f.italic = vm.ToBoolean(v);
  if (get("underline", v)) f.underline = vm.ToBoolean(v);
  if (get("bullet", v)) f.bullet = vm.ToBoolean(v);
  if (get("kerning", v)) f.kerning = vm.ToBoolean(v);
  if (get("align", v)) {
    const std::string a = vm.ToString(v);
    if (SameIgnoringCase(a, "left")) f.align = EditText::Align::Left;
    if (SameIgnoringCase(a, "right")) f.align = EditText::Align::Right;
    if (SameIgnoringCase(a, "center")) f.align = EditText::Align::Center;
    if (SameIgnoringCase(a, "justify")) f.align = EditText::Align::Justify;
  }
  if (get("leftMargin", v)) f.left_margin = twips(v, true);
  if (get("rightMargin", v)) f.right_margin = twips(v, true);
  if (get("indent", v)) f.indent = twips(v, true);
  if (get("blockIndent", v)) f.block_indent = twips(v, true);
  if (get("leading", v)) f.leading = twips(v, true);
  if (get("letterSpacing", v)) f.letter_spacing = twips(v, false);
  if (get("tabStops", v) && v.IsObject()) {
    // Whole pixels in order; a bounded number of them.
    constexpr std::int64_t kMaxStops = 256;
    std::vector<float> stops;
    const std::int64_t n = std::min(vm.Length(v.o), kMaxStops);
    for (std::int64_t i = 0; i < n; ++i) {
      if (const auto t = twips(vm.Get(v.o, std::to_string(i)), true)) stops.push_back(*t);
    }
    std::sort(stops.begin(), stops.end());
    f.tab_stops = std::move(stops);
  }
  // Sizes and margins below zero mean nothing to Flash.
  for (std::optional<float>* part : {&f.size, &f.left_margin, &f.right_margin, &f.block_indent}) {
    if (*part && **part < 0) **part = 0;
  }
  return f;
}

}  // namespace swf
