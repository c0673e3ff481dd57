#include "swf/text_script.h"

#include <array>
#include <cmath>
#include <string>

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

Value TextFormatCtor(avm1::Vm& vm, const Value& self, Args args) {
  if (!self.IsObject()) return Value{};
  for (const char* part : kParts) vm.Set(self.o, part, Value::Null());
  vm.Set(self.o, "display", Value::Str("block"));
  // The constructor's arguments, in order.
  static constexpr std::array<const char*, 13> kArgs = {
      "font",   "size",  "color",      "bold",        "italic", "underline", "url",
      "target", "align", "leftMargin", "rightMargin", "indent", "leading"};
  for (std::size_t i = 0; i < args.size() && i < kArgs.size(); ++i) {
    if (!args[i].IsNullish()) vm.Set(self.o, kArgs[i], args[i]);
  }
  // What the setters would have made of them.
  const FormatChange f = FormatFromObject(vm, self.o);
  avm1::Object* made = TextFormatObject(vm, f);
  for (const char* part : kParts) vm.Set(self.o, part, vm.Get(made, part));
  return Value{};
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
  return proto;
}

avm1::Object* TextFormatObject(avm1::Vm& vm, const FormatChange& f) {
  const Value ctor = vm.Get(vm.global, "TextFormat");
  const Value proto = ctor.IsObject() ? vm.Get(ctor.o, "prototype") : Value{};
  avm1::Object* o = vm.NewObject(proto.IsObject() ? proto.o : nullptr);
  const auto put = [&](const char* name, Value v) { vm.Set(o, name, std::move(v)); };
  const auto text = [](const std::optional<std::string>& s) {
    return s ? Value::Str(*s) : Value::Null();
  };
  const auto flag = [](const std::optional<bool>& b) {
    return b ? Value::Bool(*b) : Value::Null();
  };
  const auto px = [](const std::optional<float>& v) { return v ? Pixels(*v) : Value::Null(); };
  put("font", text(f.font));
  put("size", px(f.size));
  put("color", f.color ? Value::Num(double((f.color->r << 16) | (f.color->g << 8) | f.color->b))
                       : Value::Null());
  put("url", text(f.url));
  put("target", text(f.target));
  put("bold", flag(f.bold));
  put("italic", flag(f.italic));
  put("underline", flag(f.underline));
  put("align", f.align ? Value::Str(AlignName(*f.align)) : Value::Null());
  put("leftMargin", px(f.left_margin));
  put("rightMargin", px(f.right_margin));
  put("indent", px(f.indent));
  put("leading", px(f.leading));
  put("blockIndent", px(f.block_indent));
  put("tabStops", f.font ? Value::Obj(vm.NewArray()) : Value::Null());
  put("bullet", flag(f.bullet));
  put("display", Value::Str("block"));
  put("kerning", flag(f.kerning));
  put("letterSpacing", px(f.letter_spacing));
  return o;
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
  // Sizes and margins below zero mean nothing to Flash.
  for (std::optional<float>* part : {&f.size, &f.left_margin, &f.right_margin, &f.block_indent}) {
    if (*part && **part < 0) **part = 0;
  }
  return f;
}

}  // namespace swf
