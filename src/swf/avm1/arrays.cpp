// String and Array, the built-ins that work on sequences.
#include <algorithm>
#include <cmath>

#include "swf/avm1/builtins.h"

namespace swf::avm1 {
namespace {

// Strings are UTF-8; their methods count characters.
std::u32string Decode(const std::string& s) {
  std::u32string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto c = std::uint8_t(s[i]);
    int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (c >= 0x80 && c < 0xC0) n = 1;
    char32_t u = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    bool ok = i + std::size_t(n) <= s.size();
    for (int k = 1; ok && k < n; ++k) {
      const auto cc = std::uint8_t(s[i + std::size_t(k)]);
      ok = (cc & 0xC0) == 0x80;
      u = (u << 6) | (cc & 0x3F);
    }
    if (!ok) {
      u = c;
      n = 1;
    }
    if (u >= 0x10000) {
      // Scripts see UTF-16: a character past the basic plane is two.
      out.push_back(char32_t(0xD800 + ((u - 0x10000) >> 10)));
      out.push_back(char32_t(0xDC00 + ((u - 0x10000) & 0x3FF)));
    } else {
      out.push_back(u);
    }
    i += std::size_t(n);
  }
  return out;
}

std::string Encode(std::u32string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t u = s[i];
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      u = 0x10000 + ((u - 0xD800) << 10) + (s[++i] - 0xDC00);
    } else if (u >= 0xD800 && u < 0xE000) {
      u = 0xFFFD;  // half a pair
    }
    AppendUtf8(out, u);
  }
  return out;
}

std::string SelfString(Vm& vm, const Value& self) {
  if (self.IsObject() && self.o->kind == Kind::Boxed) return vm.ToString(self.o->primitive);
  return vm.ToString(self);
}

// An index argument as Flash Player reads it (a 32-bit integer) clamped to [0, size]; negative
// counts from the end when `from_end`.
std::size_t Clamp(Vm& vm, const Value& v, std::size_t size, bool from_end, std::size_t fallback) {
  if (v.IsUndefined()) return fallback;
  auto n = double(vm.ToInt32(v));
  if (n < 0 && from_end) n += double(size);
  return std::size_t(std::clamp(n, 0.0, double(size)));
}

Value StringCtor(Vm& vm, const Value&, std::span<Value> args) {
  return Value::Str(args.empty() ? std::string() : vm.ToString(args[0]));
}
Value StringConstruct(Vm& vm, const Value& self, std::span<Value> args) {
  self.o->kind = Kind::Boxed;
  self.o->primitive = Value::Str(args.empty() ? std::string() : vm.ToString(args[0]));
  vm.Define(self.o, "length", Value::Num(double(Utf16Length(self.o->primitive.s))),
            DontEnum | DontDelete);
  return self;
}
Value StringToString(Vm& vm, const Value& self, std::span<Value>) {
  return Value::Str(SelfString(vm, self));
}
Value CharAt(Vm& vm, const Value& self, std::span<Value> args) {
  const std::u32string s = Decode(SelfString(vm, self));
  const std::int32_t i = vm.ToInt32(Arg(args, 0));
  if (i < 0 || std::size_t(i) >= s.size()) return Value::Str("");
  return Value::Str(Encode(s.substr(std::size_t(i), 1)));
}
Value CharCodeAt(Vm& vm, const Value& self, std::span<Value> args) {
  const std::u32string s = Decode(SelfString(vm, self));
  const std::int32_t i = vm.ToInt32(Arg(args, 0));
  // SWF 5 answers 0 past the end.
  if (vm.version() < 6 && i >= 0 && std::size_t(i) >= s.size()) return Value::Num(0);
  if (i < 0 || std::size_t(i) >= s.size()) return Value::Num(std::nan(""));
  return Value::Num(double(s[std::size_t(i)]));
}
Value IndexOf(Vm& vm, const Value& self, std::span<Value> args) {
  if (args.empty()) return Value{};
  const std::u32string s = Decode(SelfString(vm, self));
  const std::u32string find = Decode(vm.ToString(args[0]));
  const std::int32_t from = args.size() > 1 ? vm.ToInt32(args[1]) : 0;
  if (from > 0 && std::size_t(from) > s.size()) return Value::Num(-1);
  const std::size_t at = s.find(find, std::size_t(std::max(from, 0)));
  return Value::Num(at == std::u32string::npos ? -1 : double(at));
}
Value LastIndexOf(Vm& vm, const Value& self, std::span<Value> args) {
  if (args.empty()) return Value{};
  const std::u32string s = Decode(SelfString(vm, self));
  const std::u32string find = Decode(vm.ToString(args[0]));
  std::size_t from = std::u32string::npos;
  if (args.size() > 1 && !args[1].IsUndefined()) {
    const std::int32_t n = vm.ToInt32(args[1]);
    if (n < 0) return Value::Num(-1);
    from = std::size_t(n);
  }
  const std::size_t at = s.rfind(find, from);
  return Value::Num(at == std::u32string::npos ? -1 : double(at));
}
Value Substr(Vm& vm, const Value& self, std::span<Value> args) {
  if (args.empty()) return Value{};
  const std::u32string s = Decode(SelfString(vm, self));
  const std::size_t start = Clamp(vm, Arg(args, 0), s.size(), true, 0);
  std::size_t count = s.size() - start;
  if (args.size() > 1 && !args[1].IsUndefined()) {
    const std::int32_t n = vm.ToInt32(args[1]);
    count = n < 0 ? 0 : std::min(std::size_t(n), count);
  }
  return Value::Str(Encode(s.substr(start, count)));
}
Value Substring(Vm& vm, const Value& self, std::span<Value> args) {
  if (args.empty()) return Value{};
  const std::u32string s = Decode(SelfString(vm, self));
  std::size_t a = Clamp(vm, Arg(args, 0), s.size(), false, 0);
  std::size_t b = Clamp(vm, Arg(args, 1), s.size(), false, s.size());
  if (a > b) std::swap(a, b);
  return Value::Str(Encode(s.substr(a, b - a)));
}
Value Slice(Vm& vm, const Value& self, std::span<Value> args) {
  if (args.empty()) return Value{};
  const std::u32string s = Decode(SelfString(vm, self));
  const std::size_t a = Clamp(vm, Arg(args, 0), s.size(), true, 0);
  const std::size_t b = Clamp(vm, Arg(args, 1), s.size(), true, s.size());
  return Value::Str(b > a ? Encode(s.substr(a, b - a)) : std::string());
}
Value Split(Vm& vm, const Value& self, std::span<Value> args) {
  const std::string s = SelfString(vm, self);
  Object* out = vm.NewArray();
  const Value sep = Arg(args, 0);
  std::size_t limit = std::size_t(-1);
  if (args.size() > 1 && !args[1].IsUndefined()) {
    const double n = vm.ToNumber(args[1]);
    limit = std::isnan(n) || n < 0 ? 0 : std::size_t(std::min(n, 1e9));
  }
  // SWF 5 splits at commas without a separator, and not at all with an empty one.
  const bool swf5 = vm.version() < 6;
  if (sep.IsUndefined() && !swf5) {
    vm.Push(out, Value::Str(s));
    return Value::Obj(out);
  }
  const std::string d = sep.IsUndefined() ? std::string(",") : vm.ToString(sep);
  if (d.empty() && swf5) {
    if (limit > 0) vm.Push(out, Value::Str(s));
    return Value::Obj(out);
  }
  if (d.empty()) {
    const std::u32string u = Decode(s);
    for (std::size_t i = 0; i < u.size() && i < limit; ++i) {
      vm.Push(out, Value::Str(Encode(u.substr(i, 1))));
    }
    return Value::Obj(out);
  }
  std::size_t start = 0, count = 0;
  while (count < limit) {
    const std::size_t at = s.find(d, start);
    vm.Push(out,
            Value::Str(s.substr(start, at == std::string::npos ? std::string::npos : at - start)));
    ++count;
    if (at == std::string::npos) break;
    start = at + d.size();
  }
  return Value::Obj(out);
}
// Case mappings as Flash Player has them: runs of characters moved by `delta`; `step` 2 takes
// every other one (upper and lower case alternating).
struct CaseRun {
  char32_t first, last;
  std::int32_t delta;
  int step;
};
constexpr CaseRun kToLower[] = {
    {0x41, 0x5A, 32, 1},        {0xC0, 0xD6, 32, 1},        {0xD8, 0xDE, 32, 1},
    {0x100, 0x12E, 1, 2},       {0x130, 0x130, -199, 1},    {0x132, 0x136, 1, 2},
    {0x139, 0x147, 1, 2},       {0x14A, 0x176, 1, 2},       {0x178, 0x178, -121, 1},
    {0x179, 0x17D, 1, 2},       {0x181, 0x181, 210, 1},     {0x182, 0x184, 1, 2},
    {0x186, 0x186, 206, 1},     {0x187, 0x187, 1, 1},       {0x189, 0x18A, 205, 1},
    {0x18B, 0x18B, 1, 1},       {0x18E, 0x18E, 79, 1},      {0x18F, 0x18F, 202, 1},
    {0x190, 0x190, 203, 1},     {0x191, 0x191, 1, 1},       {0x193, 0x193, 205, 1},
    {0x194, 0x194, 207, 1},     {0x196, 0x196, 211, 1},     {0x197, 0x197, 209, 1},
    {0x198, 0x198, 1, 1},       {0x19C, 0x19C, 211, 1},     {0x19D, 0x19D, 213, 1},
    {0x19F, 0x19F, 214, 1},     {0x1A0, 0x1A4, 1, 2},       {0x1A6, 0x1A6, 218, 1},
    {0x1A7, 0x1A7, 1, 1},       {0x1A9, 0x1A9, 218, 1},     {0x1AC, 0x1AC, 1, 1},
    {0x1AE, 0x1AE, 218, 1},     {0x1AF, 0x1AF, 1, 1},       {0x1B1, 0x1B2, 217, 1},
    {0x1B3, 0x1B5, 1, 2},       {0x1B7, 0x1B7, 219, 1},     {0x1B8, 0x1B8, 1, 1},
    {0x1BC, 0x1BC, 1, 1},       {0x1C4, 0x1C4, 2, 1},       {0x1C5, 0x1C5, 1, 1},
    {0x1C7, 0x1C7, 2, 1},       {0x1C8, 0x1C8, 1, 1},       {0x1CA, 0x1CA, 2, 1},
    {0x1CB, 0x1DB, 1, 2},       {0x1DE, 0x1EE, 1, 2},       {0x1F1, 0x1F1, 2, 1},
    {0x1F2, 0x1F4, 1, 2},       {0x1F6, 0x1F6, -97, 1},     {0x1F7, 0x1F7, -56, 1},
    {0x1F8, 0x21E, 1, 2},       {0x222, 0x232, 1, 2},       {0x386, 0x386, 38, 1},
    {0x388, 0x38A, 37, 1},      {0x38C, 0x38C, 64, 1},      {0x38E, 0x38F, 63, 1},
    {0x391, 0x3AB, 32, 1},      {0x3D8, 0x3EE, 1, 2},       {0x3F4, 0x3F4, -60, 1},
    {0x400, 0x40F, 80, 1},      {0x410, 0x42F, 32, 1},      {0x460, 0x480, 1, 2},
    {0x48A, 0x4BE, 1, 2},       {0x4C1, 0x4CD, 1, 2},       {0x4D0, 0x4F8, 1, 2},
    {0x531, 0x556, 48, 1},      {0x10A0, 0x10C5, 48, 1},    {0x1E00, 0x1E94, 1, 2},
    {0x1EA0, 0x1EF8, 1, 2},     {0x1F08, 0x1F0F, -8, 1},    {0x1F18, 0x1F1D, -8, 1},
    {0x1F28, 0x1F2F, -8, 1},    {0x1F38, 0x1F3F, -8, 1},    {0x1F48, 0x1F4D, -8, 1},
    {0x1F59, 0x1F5F, -8, 2},    {0x1F68, 0x1F6F, -8, 1},    {0x1F88, 0x1F8F, -8, 1},
    {0x1F98, 0x1F9F, -8, 1},    {0x1FA8, 0x1FAF, -8, 1},    {0x1FB8, 0x1FB9, -8, 1},
    {0x1FBA, 0x1FBB, -74, 1},   {0x1FBC, 0x1FBC, -9, 1},    {0x1FC8, 0x1FCB, -86, 1},
    {0x1FCC, 0x1FCC, -9, 1},    {0x1FD8, 0x1FD9, -8, 1},    {0x1FDA, 0x1FDB, -100, 1},
    {0x1FE8, 0x1FE9, -8, 1},    {0x1FEA, 0x1FEB, -112, 1},  {0x1FEC, 0x1FEC, -7, 1},
    {0x1FF8, 0x1FF9, -128, 1},  {0x1FFA, 0x1FFB, -126, 1},  {0x1FFC, 0x1FFC, -9, 1},
    {0x2126, 0x2126, -7517, 1}, {0x212A, 0x212A, -8383, 1}, {0x212B, 0x212B, -8262, 1},
    {0x2160, 0x216F, 16, 1},    {0x24B6, 0x24CF, 26, 1},    {0xFF21, 0xFF3A, 32, 1},
};
constexpr CaseRun kToUpper[] = {
    {0x61, 0x7A, -32, 1},     {0xB5, 0xB5, 743, 1},       {0xE0, 0xF6, -32, 1},
    {0xF8, 0xFE, -32, 1},     {0xFF, 0xFF, 121, 1},       {0x101, 0x12F, -1, 2},
    {0x131, 0x131, -232, 1},  {0x133, 0x137, -1, 2},      {0x13A, 0x148, -1, 2},
    {0x14B, 0x177, -1, 2},    {0x17A, 0x17E, -1, 2},      {0x17F, 0x17F, -300, 1},
    {0x183, 0x185, -1, 2},    {0x188, 0x188, -1, 1},      {0x18C, 0x18C, -1, 1},
    {0x192, 0x192, -1, 1},    {0x195, 0x195, 97, 1},      {0x199, 0x199, -1, 1},
    {0x1A1, 0x1A5, -1, 2},    {0x1A8, 0x1A8, -1, 1},      {0x1AD, 0x1AD, -1, 1},
    {0x1B0, 0x1B0, -1, 1},    {0x1B4, 0x1B6, -1, 2},      {0x1B9, 0x1B9, -1, 1},
    {0x1BD, 0x1BD, -1, 1},    {0x1BF, 0x1BF, 56, 1},      {0x1C5, 0x1C5, -1, 1},
    {0x1C6, 0x1C6, -2, 1},    {0x1C8, 0x1C8, -1, 1},      {0x1C9, 0x1C9, -2, 1},
    {0x1CB, 0x1CB, -1, 1},    {0x1CC, 0x1CC, -2, 1},      {0x1CE, 0x1DC, -1, 2},
    {0x1DD, 0x1DD, -79, 1},   {0x1DF, 0x1EF, -1, 2},      {0x1F2, 0x1F2, -1, 1},
    {0x1F3, 0x1F3, -2, 1},    {0x1F5, 0x1F5, -1, 1},      {0x1F9, 0x21F, -1, 2},
    {0x223, 0x233, -1, 2},    {0x253, 0x253, -210, 1},    {0x254, 0x254, -206, 1},
    {0x256, 0x257, -205, 1},  {0x259, 0x259, -202, 1},    {0x25B, 0x25B, -203, 1},
    {0x260, 0x260, -205, 1},  {0x263, 0x263, -207, 1},    {0x268, 0x268, -209, 1},
    {0x269, 0x269, -211, 1},  {0x26F, 0x26F, -211, 1},    {0x272, 0x272, -213, 1},
    {0x275, 0x275, -214, 1},  {0x280, 0x280, -218, 1},    {0x283, 0x283, -218, 1},
    {0x288, 0x288, -218, 1},  {0x28A, 0x28B, -217, 1},    {0x292, 0x292, -219, 1},
    {0x345, 0x345, 84, 1},    {0x3AC, 0x3AC, -38, 1},     {0x3AD, 0x3AF, -37, 1},
    {0x3B1, 0x3CB, -32, 1},   {0x3CC, 0x3CC, -64, 1},     {0x3CD, 0x3CE, -63, 1},
    {0x3D0, 0x3D0, -62, 1},   {0x3D1, 0x3D1, -57, 1},     {0x3D5, 0x3D5, -47, 1},
    {0x3D6, 0x3D6, -54, 1},   {0x3D9, 0x3EF, -1, 2},      {0x3F0, 0x3F0, -86, 1},
    {0x3F1, 0x3F1, -80, 1},   {0x3F2, 0x3F2, -79, 1},     {0x3F5, 0x3F5, -96, 1},
    {0x430, 0x44F, -32, 1},   {0x450, 0x45F, -80, 1},     {0x461, 0x481, -1, 2},
    {0x48B, 0x4BF, -1, 2},    {0x4C2, 0x4CE, -1, 2},      {0x4D1, 0x4F9, -1, 2},
    {0x561, 0x586, -48, 1},   {0x1E01, 0x1E95, -1, 2},    {0x1E9B, 0x1E9B, -59, 1},
    {0x1EA1, 0x1EF9, -1, 2},  {0x1F00, 0x1F07, 8, 1},     {0x1F10, 0x1F15, 8, 1},
    {0x1F20, 0x1F27, 8, 1},   {0x1F30, 0x1F37, 8, 1},     {0x1F40, 0x1F45, 8, 1},
    {0x1F51, 0x1F57, 8, 2},   {0x1F60, 0x1F67, 8, 1},     {0x1F70, 0x1F71, 74, 1},
    {0x1F72, 0x1F75, 86, 1},  {0x1F76, 0x1F77, 100, 1},   {0x1F78, 0x1F79, 128, 1},
    {0x1F7A, 0x1F7B, 112, 1}, {0x1F7C, 0x1F7D, 126, 1},   {0x1F80, 0x1F87, 8, 1},
    {0x1F90, 0x1F97, 8, 1},   {0x1FA0, 0x1FA7, 8, 1},     {0x1FB0, 0x1FB1, 8, 1},
    {0x1FB3, 0x1FB3, 9, 1},   {0x1FBE, 0x1FBE, -7205, 1}, {0x1FC3, 0x1FC3, 9, 1},
    {0x1FD0, 0x1FD1, 8, 1},   {0x1FE0, 0x1FE1, 8, 1},     {0x1FE5, 0x1FE5, 7, 1},
    {0x1FF3, 0x1FF3, 9, 1},   {0x2170, 0x217F, -16, 1},   {0x24D0, 0x24E9, -26, 1},
    {0xFF41, 0xFF5A, -32, 1},
};
template <std::size_t n>
std::string MapCase(const std::string& text, const CaseRun (&runs)[n]) {
  std::u32string s = Decode(text);
  for (char32_t& c : s) {
    for (const CaseRun& r : runs) {
      if (c < r.first || c > r.last) continue;
      if ((c - r.first) % char32_t(r.step) == 0) c = char32_t(std::int32_t(c) + r.delta);
      break;
    }
  }
  return Encode(s);
}
Value ToUpper(Vm& vm, const Value& self, std::span<Value>) {
  return Value::Str(MapCase(SelfString(vm, self), kToUpper));
}
Value ToLower(Vm& vm, const Value& self, std::span<Value>) {
  return Value::Str(MapCase(SelfString(vm, self), kToLower));
}
Value StringConcat(Vm& vm, const Value& self, std::span<Value> args) {
  std::string s = SelfString(vm, self);
  for (const Value& v : args) s += vm.ToString(v);
  if (s.size() > Vm::kMaxStringBytes) throw Stop{};
  return Value::Str(s);
}
Value FromCharCode(Vm& vm, const Value&, std::span<Value> args) {
  std::u32string s;
  for (const Value& v : args) {
    const auto c = char32_t(std::uint32_t(vm.ToInt32(v)) & 0xFFFF);
    if (c == 0) break;  // a NUL ends Flash Player's strings
    s.push_back(c);
  }
  return Value::Str(Encode(s));
}

// ---- Array ----

Value ArrayCtor(Vm& vm, const Value&, std::span<Value> args) {
  if (args.size() == 1 && args[0].type == Type::Number) {
    Object* a = vm.NewArray();
    vm.SetLength(a, std::int64_t(std::clamp(args[0].n, 0.0, 1e9)));
    return Value::Obj(a);
  }
  return Value::Obj(vm.NewArray(args));
}
Value ArrayConstruct(Vm& vm, const Value& self, std::span<Value> args) {
  Object* a = self.o;
  a->kind = Kind::Array;
  a->primitive = Value::Num(0);
  if (args.size() == 1 && args[0].type == Type::Number) {
    vm.SetLength(a, std::int64_t(std::clamp(args[0].n, 0.0, 1e9)));
  } else {
    for (const Value& v : args) vm.Push(a, v);
  }
  return self;
}
Object* SelfObject(const Value& self) {
  return self.IsObject() ? self.o : nullptr;
}
Value ArrayPush(Vm& vm, const Value& self, std::span<Value> args) {
  Object* a = SelfObject(self);
  if (!a) return Value{};
  for (const Value& v : args) vm.Push(a, v);
  return Value::Num(double(vm.Length(a)));
}
Value ArrayPop(Vm& vm, const Value& self, std::span<Value>) {
  Object* a = SelfObject(self);
  if (!a) return Value{};
  const std::int64_t n = vm.Length(a);
  if (n == 0) return Value{};
  // The stored element, past any getter addProperty put on it.
  const Property* own = vm.FindOwn(a, std::to_string(n - 1));
  Value v = own ? own->value : vm.Get(a, std::to_string(n - 1));
  vm.SetLength(a, n - 1);
  return v;
}
void Store(Vm& vm, Object* a, const std::vector<Value>& items) {
  vm.SetLength(a, 0);
  for (std::size_t i = 0; i < items.size(); ++i) vm.Define(a, std::to_string(i), items[i]);
  vm.SetLength(a, std::int64_t(items.size()));
}
Value ArrayShift(Vm& vm, const Value& self, std::span<Value>) {
  Object* a = SelfObject(self);
  if (!a) return Value{};
  std::vector<Value> items = vm.Elements(a);
  if (items.empty()) return Value{};
  Value first = items.front();
  items.erase(items.begin());
  Store(vm, a, items);
  return first;
}
// Element i replaced as a new property: for..in then lists it as Flash Player does.
void Replace(Vm& vm, Object* a, std::int64_t i, Value v) {
  const std::string name = std::to_string(i);
  vm.Delete(a, name);
  vm.Set(a, name, std::move(v));  // a kept (DontDelete) element keeps its flags
}
Value ArrayUnshift(Vm& vm, const Value& self, std::span<Value> args) {
  Object* a = SelfObject(self);
  if (!a) return Value{};
  const std::int64_t n = vm.Length(a);
  const auto k = std::int64_t(args.size());
  vm.Work(std::size_t(n));
  for (std::int64_t i = n - 1; i >= 0 && k > 0; --i)
    Replace(vm, a, i + k, vm.Get(a, std::to_string(i)));
  for (std::int64_t i = 0; i < k; ++i) Replace(vm, a, i, args[std::size_t(i)]);
  vm.SetLength(a, n + k);
  return Value::Num(double(n + k));
}
Value ArraySlice(Vm& vm, const Value& self, std::span<Value> args) {
  Object* a = SelfObject(self);
  if (!a) return Value{};
  const std::vector<Value> items = vm.Elements(a);
  const std::size_t from = Clamp(vm, Arg(args, 0), items.size(), true, 0);
  const std::size_t to = Clamp(vm, Arg(args, 1), items.size(), true, items.size());
  std::vector<Value> out;
  for (std::size_t i = from; i < to; ++i) out.push_back(items[i]);
  return Value::Obj(vm.NewArray(out));
}
Value ArraySplice(Vm& vm, const Value& self, std::span<Value> args) {
  Object* a = SelfObject(self);
  // An undefined start or count is no splice at all.
  if (!a || args.empty() || args[0].IsUndefined()) return Value{};
  if (args.size() > 1 && args[1].IsUndefined()) return Value{};
  std::vector<Value> items = vm.Elements(a);
  const std::size_t from = Clamp(vm, args[0], items.size(), true, 0);
  std::size_t count = items.size() - from;
  if (args.size() > 1) {
    const double n = vm.ToNumber(args[1]);
    if (n < 0) return Value{};
    count = std::isnan(n) ? 0 : std::size_t(std::min(n, double(count)));
  }
  std::vector<Value> removed(items.begin() + std::ptrdiff_t(from),
                             items.begin() + std::ptrdiff_t(from + count));
  items.erase(items.begin() + std::ptrdiff_t(from), items.begin() + std::ptrdiff_t(from + count));
  if (args.size() > 2) {
    items.insert(items.begin() + std::ptrdiff_t(from), args.begin() + 2, args.end());
  }
  Store(vm, a, items);
  return Value::Obj(vm.NewArray(removed));
}
Value ArrayConcat(Vm& vm, const Value& self, std::span<Value> args) {
  Object* a = SelfObject(self);
  if (!a) return Value{};
  std::vector<Value> items = vm.Elements(a);
  for (const Value& v : args) {
    if (v.IsObject() && v.o->kind == Kind::Array) {
      for (Value& e : vm.Elements(v.o)) items.push_back(std::move(e));
    } else {
      items.push_back(v);
    }
  }
  return Value::Obj(vm.NewArray(items));
}
Value ArrayJoin(Vm& vm, const Value& self, std::span<Value> args) {
  Object* a = SelfObject(self);
  if (!a) return Value{};
  const Value sep = Arg(args, 0);
  const std::string d = sep.IsUndefined() ? "," : vm.ToString(sep);
  std::string out;
  const std::vector<Value> items = vm.Elements(a);
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += d;
    // Before SWF 7 an undefined element is empty; null always prints as "null".
    if (!items[i].IsUndefined()) {
      out += vm.ToString(items[i]);
    } else if (vm.version() >= 7) {
      out += "undefined";
    }
    if (out.size() > Vm::kMaxStringBytes) throw Stop{};
  }
  return Value::Str(out);
}
Value ArrayToString(Vm& vm, const Value& self, std::span<Value>) {
  return ArrayJoin(vm, self, {});
}
Value ArrayReverse(Vm& vm, const Value& self, std::span<Value>) {
  Object* a = SelfObject(self);
  if (!a) return Value{};
  const std::int64_t n = vm.Length(a);
  vm.Work(std::size_t(n));
  for (std::int64_t i = 0; i < n / 2; ++i) {
    Value low = vm.Get(a, std::to_string(i));
    Value high = vm.Get(a, std::to_string(n - 1 - i));
    Replace(vm, a, i, std::move(high));
    Replace(vm, a, n - 1 - i, std::move(low));
  }
  return self;
}

enum SortFlag { CaseInsensitive = 1, Descending = 2, Unique = 4, Indexed = 8, Numeric = 16 };

// Flash Player's quicksort, so that a script's comparison sees the same calls in the same order
// (and an inconsistent one leaves the same order): the leftmost element is the pivot, compared
// with the elements from the left up to the right's place, then from the right. Ranges wait on a
// stack of their own, never the machine's; each comparison is work of the frame's budget.
template <typename Compare>
void FlashQuickSort(Vm& vm, std::vector<std::size_t>& v, Compare compare) {
  std::vector<std::pair<std::size_t, std::size_t>> ranges{{0, v.size()}};
  const auto cmp = [&](std::size_t x, std::size_t y) {
    vm.Work();
    return compare(x, y);
  };
  while (!ranges.empty()) {
    const auto [lo, hi] = ranges.back();
    ranges.pop_back();
    if (hi - lo < 2) continue;
    if (hi - lo == 2) {
      if (cmp(v[lo], v[lo + 1]) > 0) std::swap(v[lo], v[lo + 1]);
      continue;
    }
    const std::size_t pivot = v[lo];
    std::size_t left = lo + 1;
    std::size_t right = hi - 1;
    for (;;) {
      while (left < right && cmp(pivot, v[left]) > 0) ++left;
      while (right > lo && cmp(pivot, v[right]) <= 0) --right;
      if (left >= right) break;
      std::swap(v[left], v[right]);
    }
    std::swap(v[lo], v[right]);
    // The lower part first, as Flash recurses.
    ranges.emplace_back(right + 1, hi);
    ranges.emplace_back(lo, right);
  }
}

int CompareValues(Vm& vm, const Value& a, const Value& b, int flags) {
  if ((flags & Numeric) && a.type == Type::Number && b.type == Type::Number) {
    const double x = vm.ToNumber(a), y = vm.ToNumber(b);
    if (std::isnan(x) || std::isnan(y)) return std::isnan(x) - std::isnan(y);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  std::string x = a.IsUndefined() ? "undefined" : vm.ToString(a);
  std::string y = b.IsUndefined() ? "undefined" : vm.ToString(b);
  if (flags & CaseInsensitive) {
    x = MapCase(x, kToLower);
    y = MapCase(y, kToLower);
  }
  return x < y ? -1 : x > y ? 1 : 0;
}

// Sorts `items` by `compare` (-1/0/1); the order as indexes, or empty when a unique sort met
// equals.
template <typename Compare>
std::vector<std::size_t> SortOrder(Vm& vm, std::size_t n, int flags, Compare compare) {
  std::vector<std::size_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = i;
  vm.Charge(n * 16);
  bool equal = false;
  FlashQuickSort(vm, order, [&](std::size_t x, std::size_t y) {
    const int c = compare(x, y);
    if (c == 0) equal = true;
    return c;
  });
  // Descending is the ascending order reversed, not a reversed comparison.
  if (flags & Descending) std::reverse(order.begin(), order.end());
  if ((flags & Unique) && equal) order.clear();
  return order;
}

Value Sorted(Vm& vm, Object* a, const std::vector<Value>& items,
             const std::vector<std::size_t>& order, int flags) {
  if ((flags & Unique) && order.empty() && !items.empty()) return Value::Num(0);
  std::vector<Value> out;
  out.reserve(order.size());
  if (flags & Indexed) {
    for (std::size_t i : order) out.push_back(Value::Num(double(i)));
    return Value::Obj(vm.NewArray(out));
  }
  for (std::size_t i : order) out.push_back(items[i]);
  Store(vm, a, out);
  return Value::Obj(a);
}

Value ArraySort(Vm& vm, const Value& self, std::span<Value> args) {
  Object* a = SelfObject(self);
  if (!a) return Value{};
  const std::vector<Value> items = vm.Elements(a);
  Value fn;
  int flags = 0;
  std::size_t next = 0;
  if (!args.empty() && args[0].IsObject() && args[0].o->kind == Kind::Function) {
    fn = args[0];
    next = 1;
  } else if (!args.empty() && args[0].IsObject()) {
    return self;  // an object that can't compare: left as it is
  } else if (!args.empty() && args[0].type != Type::Number) {
    return Value{};  // neither a comparison nor flags
  } else if (args.size() > 1 && !args[1].IsUndefined()) {
    next = 1;  // a number and flags: the flags count
  }
  if (next < args.size()) flags = vm.ToInt32(args[next]);
  std::vector<std::size_t> order;
  if (fn.IsObject()) {
    order = SortOrder(vm, items.size(), flags, [&](std::size_t x, std::size_t y) {
      Value pair[2] = {items[x], items[y]};
      const double r = vm.ToNumber(vm.Call(fn, Value{}, pair));
      return r < 0 ? -1 : r > 0 ? 1 : 0;
    });
  } else {
    order = SortOrder(vm, items.size(), flags, [&](std::size_t x, std::size_t y) {
      return CompareValues(vm, items[x], items[y], flags);
    });
  }
  return Sorted(vm, a, items, order, flags);
}

// The field sortOn compares: an object's own stored value (no prototypes, no getters run); an
// element that isn't an object is compared itself.
Value SortField(Vm& vm, const Value& item, const std::string& field) {
  if (!item.IsObject()) return item;
  const Property* p = vm.FindOwn(item.o, field);
  return p && !p->getter ? p->value : Value{};
}

Value ArraySortOn(Vm& vm, const Value& self, std::span<Value> args) {
  Object* a = SelfObject(self);
  if (!a) return Value{};
  const std::vector<Value> items = vm.Elements(a);
  std::vector<std::string> fields;
  std::vector<int> field_flags;
  if (args.empty()) return Value{};
  const Value names = Arg(args, 0);
  if (names.IsObject() && names.o->kind == Kind::Array) {
    for (const Value& v : vm.Elements(names.o)) fields.push_back(vm.ToString(v));
  } else {
    fields.push_back(vm.ToString(names));
  }
  const Value f = Arg(args, 1);
  int flags = 0;
  if (f.IsObject() && f.o->kind == Kind::Array) {
    // Flags given per field never sort descending.
    for (const Value& v : vm.Elements(f.o)) field_flags.push_back(vm.ToInt32(v) & ~Descending);
  } else {
    flags = vm.ToInt32(f);
  }
  field_flags.resize(fields.size(), flags);
  const int outer = field_flags.empty() ? flags : field_flags[0];
  std::vector<std::size_t> order =
      SortOrder(vm, items.size(), outer & ~Descending, [&](std::size_t x, std::size_t y) {
        for (std::size_t k = 0; k < fields.size(); ++k) {
          const Value vx = SortField(vm, items[x], fields[k]);
          const Value vy = SortField(vm, items[y], fields[k]);
          int c = CompareValues(vm, vx, vy, field_flags[k]);
          if (field_flags[k] & Descending) c = -c;
          if (c) return c;
        }
        return 0;
      });
  return Sorted(vm, a, items, order, outer & ~Descending);
}

}  // namespace

std::size_t Utf16Length(const std::string& s) {
  return Decode(s).size();
}
std::string LowerCase(const std::string& s) {
  return MapCase(s, kToLower);
}
std::u32string Utf16Units(const std::string& s) {
  return Decode(s);
}
std::string FromUtf16Units(std::u32string_view units) {
  return Encode(units);
}

void Vm::InstallStrings() {
  string_proto = NewObject();
  Object* ctor = NewFunction(StringCtor, string_proto, StringConstruct);
  Define(global, "String", Value::Obj(ctor), DontEnum);
  DefineNative(ctor, "fromCharCode", FromCharCode);
  DefineNative(string_proto, "toString", StringToString);
  DefineNative(string_proto, "valueOf", StringToString);
  DefineNative(string_proto, "charAt", CharAt);
  DefineNative(string_proto, "charCodeAt", CharCodeAt);
  DefineNative(string_proto, "indexOf", IndexOf);
  DefineNative(string_proto, "lastIndexOf", LastIndexOf);
  DefineNative(string_proto, "substr", Substr);
  DefineNative(string_proto, "substring", Substring);
  DefineNative(string_proto, "slice", Slice);
  DefineNative(string_proto, "split", Split);
  DefineNative(string_proto, "toUpperCase", ToUpper);
  DefineNative(string_proto, "toLowerCase", ToLower);
  DefineNative(string_proto, "concat", StringConcat);
}

void Vm::InstallArrays() {
  array_proto = NewObject();
  array_ctor = NewFunction(ArrayCtor, array_proto, ArrayConstruct);
  Define(global, "Array", Value::Obj(array_ctor), DontEnum);
  const std::uint16_t fixed = DontEnum | DontDelete | ReadOnly;
  Define(array_ctor, "CASEINSENSITIVE", Value::Num(CaseInsensitive), fixed);
  Define(array_ctor, "DESCENDING", Value::Num(Descending), fixed);
  Define(array_ctor, "UNIQUESORT", Value::Num(Unique), fixed);
  Define(array_ctor, "RETURNINDEXEDARRAY", Value::Num(Indexed), fixed);
  Define(array_ctor, "NUMERIC", Value::Num(Numeric), fixed);
  DefineNative(array_proto, "push", ArrayPush);
  DefineNative(array_proto, "pop", ArrayPop);
  DefineNative(array_proto, "shift", ArrayShift);
  DefineNative(array_proto, "unshift", ArrayUnshift);
  DefineNative(array_proto, "slice", ArraySlice);
  DefineNative(array_proto, "splice", ArraySplice);
  DefineNative(array_proto, "concat", ArrayConcat);
  DefineNative(array_proto, "join", ArrayJoin);
  DefineNative(array_proto, "toString", ArrayToString);
  DefineNative(array_proto, "reverse", ArrayReverse);
  DefineNative(array_proto, "sort", ArraySort);
  DefineNative(array_proto, "sortOn", ArraySortOn);
}

void AppendUtf8(std::string& out, std::uint32_t code_point) {
  const std::uint32_t u = code_point;
  if (u < 0x80) {
    out.push_back(char(u));
  } else if (u < 0x800) {
    out.push_back(char(0xC0 | (u >> 6)));
    out.push_back(char(0x80 | (u & 0x3F)));
  } else if (u < 0x10000) {
    out.push_back(char(0xE0 | (u >> 12)));
    out.push_back(char(0x80 | ((u >> 6) & 0x3F)));
    out.push_back(char(0x80 | (u & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (u >> 18)));
    out.push_back(char(0x80 | ((u >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((u >> 6) & 0x3F)));
    out.push_back(char(0x80 | (u & 0x3F)));
  }
}

}  // namespace swf::avm1
