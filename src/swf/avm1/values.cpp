// Values and objects: the conversions as each SWF version makes them, properties with their
// flags, getters, setters and watchers, the prototype chains, and the collector.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "swf/avm1/builtins.h"

namespace swf::avm1 {
namespace {

// Rough bytes an object and a property hold, for the heap's budget.
constexpr std::size_t kObjectBytes = 160;
constexpr std::size_t kPropertyBytes = 96;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// An array index: digits without a leading zero, below 2^31.
bool IndexOf(std::string_view name, std::int64_t& index) {
  if (name.empty() || name.size() > 10 || (name.size() > 1 && name[0] == '0')) return false;
  std::int64_t v = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > 0x7FFFFFFF) return false;
  index = v;
  return true;
}

// Flash Player nests a property's getters, setters and watchers 65 deep; past that the
// property is plain.
constexpr int kMaxVirtualDepth = 64;

}  // namespace

// One more getter, setter or watcher of a property running for as long as it lives.
struct Nested {
  using Depths = std::map<std::pair<const Object*, std::string>, int>;
  Nested(Depths& all, const Object* o, std::string key)
      : depths(all), at(all.try_emplace({o, std::move(key)}, 0).first) {
    ++at->second;
  }
  ~Nested() {
    if (--at->second == 0) depths.erase(at);
  }
  Nested(const Nested&) = delete;
  Nested& operator=(const Nested&) = delete;
  Depths& depths;
  Depths::iterator at;
};

// ---- Conversions -----------------------------------------------------------------------------

std::string Vm::NumberToString(double n) {
  if (std::isnan(n)) return "NaN";
  if (std::isinf(n)) return n > 0 ? "Infinity" : "-Infinity";
  if (n == 0) return "0";
  char buf[64];
  if (std::fabs(n) < 1e15 && n == std::trunc(n)) {
    std::snprintf(buf, sizeof buf, "%.0f", n);
    return buf;
  }
  // Fifteen significant digits, as Flash Player prints them.
  std::snprintf(buf, sizeof buf, "%.14e", n);
  if (std::isinf(std::strtod(buf, nullptr))) {
    // Rounding up would print a number beyond the largest double (Number.MAX_VALUE):
    // Flash Player prints the digits cut short instead.
    std::snprintf(buf, sizeof buf, "%.20e", n);
    const std::string cut(buf);
    const std::size_t e = cut.find('e');
    std::snprintf(buf, sizeof buf, "%s%s", cut.substr(0, cut.find('.') + 15).c_str(),
                  cut.c_str() + e);
  }
  std::string text(buf);
  const std::size_t e = text.find('e');
  const int exponent = std::atoi(text.c_str() + e + 1);
  std::string digits;
  const bool negative = text[0] == '-';
  for (std::size_t i = negative ? 1 : 0; i < e; ++i) {
    if (text[i] != '.') digits.push_back(text[i]);
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out = negative ? "-" : "";
  if (exponent >= 15 || exponent < -5) {
    out += digits[0];
    if (digits.size() > 1) out.append(".").append(digits, 1);
    out += exponent < 0 ? "e-" : "e+";
    out += std::to_string(std::abs(exponent));
  } else if (exponent < 0) {
    out.append("0.").append(std::size_t(-exponent - 1), '0').append(digits);
  } else {
    const std::size_t point = std::size_t(exponent) + 1;
    if (digits.size() <= point) {
      out.append(digits).append(point - digits.size(), '0');
    } else {
      out.append(digits, 0, point).append(".").append(digits, point);
    }
  }
  return out;
}

double Vm::StringToNumber(std::string_view s, int version) {
  const double bad = version <= 4 ? 0.0 : std::numeric_limits<double>::quiet_NaN();
  std::size_t i = 0;
  while (i < s.size() && IsSpace(s[i])) ++i;
  s.remove_prefix(i);
  if (s.empty()) return bad;
  if (version >= 6 && s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    std::uint32_t v = 0;
    for (std::size_t j = 2; j < s.size(); ++j) {
      const char c = s[j];
      int d = -1;
      if (c >= '0' && c <= '9') d = c - '0';
      if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (d < 0) return bad;
      v = v * 16 + std::uint32_t(d);
    }
    return double(std::int32_t(v));
  }
  // sign, digits, fraction, exponent: the whole rest or nothing
  std::size_t j = 0;
  if (s[j] == '+' || s[j] == '-') ++j;
  const std::size_t start_digits = j;
  while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
  bool any = j > start_digits;
  if (j < s.size() && s[j] == '.') {
    ++j;
    const std::size_t f = j;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
    any |= j > f;
  }
  if (!any) return bad;
  if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
    std::size_t k = j + 1;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
    const std::size_t d = k;
    while (k < s.size() && s[k] >= '0' && s[k] <= '9') ++k;
    if (k > d) j = k;
  }
  // SWF 4 takes the number the text starts with; later versions want the whole text.
  if (j != s.size() && version > 4) return bad;
  if (version >= 6 && j == s.size() && i == 0) {
    // A leading 0 (no space before) makes the digits octal when they all are: a 32-bit value.
    const std::size_t first = start_digits;
    bool octal = j - first > 1 && s[first] == '0';
    for (std::size_t k = first; octal && k < j; ++k) octal = s[k] >= '0' && s[k] <= '7';
    if (octal) {
      std::uint32_t v = 0;
      for (std::size_t k = first; k < j; ++k) v = v * 8 + std::uint32_t(s[k] - '0');
      const auto n = double(std::int32_t(v));
      return s[0] == '-' ? -n : n;
    }
  }
  return std::strtod(std::string(s.substr(0, j)).c_str(), nullptr);
}

double Vm::ToNumber(const Value& v) {
  switch (v.type) {
    case Type::Undefined:
    case Type::Null:
      return version_ >= 7 ? std::numeric_limits<double>::quiet_NaN() : 0.0;
    case Type::Boolean:
      return v.b ? 1 : 0;
    case Type::Number:
      return v.n;
    case Type::String:
      return StringToNumber(v.s, version_);
    case Type::Object: {
      const Value p = ToPrimitive(v);
      // An object with no number is NaN, or 0 as any other bad number of a SWF 4 movie.
      if (p.IsObject()) return version_ <= 4 ? 0.0 : std::numeric_limits<double>::quiet_NaN();
      return ToNumber(p);
    }
  }
  return 0;
}

std::int32_t Vm::ToInt32(const Value& v) {
  const double n = ToNumber(v);
  if (!std::isfinite(n)) return 0;
  const double m = std::fmod(std::trunc(n), 4294967296.0);
  return std::int32_t(std::uint32_t(std::int64_t(m < 0 ? m + 4294967296.0 : m)));
}

std::string Vm::ToString(const Value& v) {
  switch (v.type) {
    case Type::Undefined:
      return version_ >= 7 ? "undefined" : "";
    case Type::Null:
      return "null";
    case Type::Boolean:
      if (version_ <= 4) return v.b ? "1" : "0";
      return v.b ? "true" : "false";
    case Type::Number:
      return NumberToString(v.n);
    case Type::String:
      return v.s;
    case Type::Object: {
      if (v.o->kind == Kind::Clip) {
        Object* clip = Live(v.o);
        return clip ? ClipPath(clip, false) : "";
      }
      if (v.o->super_this) return "[type Object]";
      // A toString that gives no string leaves the object's type name.
      const Value p = ToPrimitive(v, true);
      if (p.type != Type::String) {
        return v.o->kind == Kind::Function ? "[type Function]" : "[type Object]";
      }
      return p.s;
    }
  }
  return "";
}

bool Vm::ToBoolean(const Value& v) const {
  switch (v.type) {
    case Type::Undefined:
    case Type::Null:
      return false;
    case Type::Boolean:
      return v.b;
    case Type::Number:
      return v.n != 0 && !std::isnan(v.n);
    case Type::String:
      if (version_ >= 7) return !v.s.empty();
      {
        const double n = StringToNumber(v.s, version_);
        return n != 0 && !std::isnan(n);
      }
    case Type::Object:
      return true;
  }
  return false;
}

Value Vm::ToPrimitive(const Value& v, bool string_hint) {
  if (!v.IsObject()) return v;
  Object* o = v.o;
  const bool clip = o->kind == Kind::Clip && o->clip;
  // Dates prefer their string from SWF 6 on.
  const bool date = o->kind == Kind::Date && version_ >= 6;
  if (!string_hint && !date) {
    // As a number an object is what its valueOf gives, undefined without one; a clip stays.
    if (clip) return v;
    const Value fn = Get(o, "valueOf");
    if (fn.IsObject() && fn.o->kind == Kind::Function) return Call(fn, v, {});
    return Value{};
  }
  // As a string: its toString alone (a Date's valueOf as the second choice).
  for (const char* name : {"toString", "valueOf"}) {
    const Value fn = Get(o, name);
    if (fn.IsObject() && fn.o->kind == Kind::Function) {
      Value r = Call(fn, v, {});
      if (!r.IsObject()) return r;
      if (r.o->kind == Kind::Clip && r.o->clip) return Value::Str(ClipPath(r.o, false));
    }
    if (!string_hint) continue;
    break;
  }
  if (clip) return Value::Str(ClipPath(o, false));
  return v;
}

Object* Vm::ToObject(const Value& v) {
  switch (v.type) {
    case Type::Object:
      return v.o;
    case Type::String:
    case Type::Number:
    case Type::Boolean: {
      Object* proto = v.type == Type::String   ? string_proto
                      : v.type == Type::Number ? number_proto
                                               : boolean_proto;
      Object* o = NewObject(proto);
      o->kind = Kind::Boxed;
      o->primitive = v;
      if (v.type == Type::String) {
        Define(o, "length", Value::Num(double(Utf16Length(v.s))), DontEnum | DontDelete);
      }
      return o;
    }
    default:
      return nullptr;
  }
}

std::string Vm::TypeOf(const Value& v) {
  switch (v.type) {
    case Type::Undefined:
      return "undefined";
    case Type::Null:
      return "null";
    case Type::Boolean:
      return "boolean";
    case Type::Number:
      return "number";
    case Type::String:
      return "string";
    case Type::Object:
      if (v.o->kind == Kind::Function) return "function";
      if (v.o->kind == Kind::Clip) return host_->IsButton(v.o) ? "object" : "movieclip";
      return "object";
  }
  return "undefined";
}

bool Vm::StrictEquals(const Value& a, const Value& b) {
  if (a.type != b.type) return false;
  switch (a.type) {
    case Type::Undefined:
    case Type::Null:
      return true;
    case Type::Boolean:
      return a.b == b.b;
    case Type::Number:
      // Flash Player takes NaN as equal to itself.
      return a.n == b.n || (std::isnan(a.n) && std::isnan(b.n));
    case Type::String:
      return a.s == b.s;
    case Type::Object:
      return a.o == b.o;
  }
  return false;
}

bool Vm::Equals(const Value& a, const Value& b) {
  if (a.type == b.type) return StrictEquals(a, b);
  if (a.IsNullish() && b.IsNullish()) return true;
  // An object against a primitive is its valueOf, even against undefined or null.
  if (a.IsObject()) {
    const Value p = ToPrimitive(a);
    if (p.IsObject()) return false;
    return Equals(p, b);
  }
  if (b.IsObject()) {
    const Value p = ToPrimitive(b);
    if (p.IsObject()) return false;
    return Equals(a, p);
  }
  if (a.IsNullish() || b.IsNullish()) return false;
  if (a.type == Type::Number && b.type == Type::String) return a.n == ToNumber(b);
  if (a.type == Type::String && b.type == Type::Number) return ToNumber(a) == b.n;
  if (a.type == Type::Boolean) return Equals(Value::Num(a.b ? 1 : 0), b);
  if (b.type == Type::Boolean) return Equals(a, Value::Num(b.b ? 1 : 0));
  return false;
}

Value Vm::Less(const Value& a, const Value& b) {
  // An operand still an object after valueOf makes the answer false at once; a clip is NaN.
  const auto primitive = [this](const Value& v) {
    if (v.IsObject() && v.o->kind == Kind::Clip && v.o->clip) {
      return Value::Num(std::numeric_limits<double>::quiet_NaN());
    }
    return ToPrimitive(v);
  };
  const Value pa = primitive(a);
  if (pa.IsObject()) return Value::Bool(false);
  const Value pb = primitive(b);
  if (pb.IsObject()) return Value::Bool(false);
  if (pa.type == Type::String && pb.type == Type::String) return Value::Bool(pa.s < pb.s);
  const double x = ToNumber(pa);
  const double y = ToNumber(pb);
  if (std::isnan(x) || std::isnan(y)) return Value{};
  return Value::Bool(x < y);
}

// ---- Objects ---------------------------------------------------------------------------------

void Vm::Charge(std::size_t bytes) {
  heap_bytes_ += bytes;
  if (heap_bytes_ > kMaxHeapBytes) {
    if (running_) {
      Note("the script's memory passed its limit: it was stopped");
      // Whatever this script made is garbage once it stops: the next collection takes it.
      heap_bytes_ -= std::min(heap_bytes_, bytes);
      throw Stop{};
    }
  }
}

Object* Vm::NewObject(Object* proto) {
  Charge(kObjectBytes);
  auto* o = new Object;
  o->proto = proto ? proto : object_proto;
  heap_.push_back(o);
  return o;
}

Object* Vm::NewArray(std::span<const Value> items) {
  Object* a = NewObject(array_proto);
  a->kind = Kind::Array;
  a->primitive = Value::Num(0);
  for (const Value& v : items) Push(a, v);
  return a;
}

Object* Vm::NewFunction(NativeFn fn, Object* proto_object, NativeFn construct) {
  Object* f = NewObject(function_proto);
  f->kind = Kind::Function;
  f->native = fn;
  f->construct = construct;
  if (proto_object) {
    Define(f, "prototype", Value::Obj(proto_object), DontEnum);
    Define(proto_object, "constructor", Value::Obj(f), DontEnum);
  }
  return f;
}

Object* Vm::NewClipObject(void* clip) {
  Object* o = NewObject(clip_proto);
  o->kind = Kind::Clip;
  o->clip = clip;
  return o;
}

std::string Vm::Key(std::string_view name) const {
  std::string key(name);
  if (key_version_ < 7) {
    bool ascii = true;
    for (char& c : key) {
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
      ascii &= std::uint8_t(c) < 0x80;
    }
    if (!ascii) return LowerCase(key);
  }
  return key;
}

Property* Vm::FindOwn(Object* o, std::string_view name) {
  if (o->props.empty()) return nullptr;
  const auto it = o->index.find(Key(name));
  if (it == o->index.end()) return nullptr;
  Property* p = &o->props[it->second];
  return p->flags > 7 && HiddenIn(p->flags, version_) ? nullptr : p;
}

void Vm::Define(Object* o, std::string_view name, Value v, std::uint16_t flags) {
  if (o->kind == Kind::Array) {
    std::int64_t i = 0;
    if (name == "length") {
      SetLength(o, std::int64_t(ToNumber(v)));
      return;
    }
    if (IndexOf(name, i) && i >= std::int64_t(o->primitive.n)) o->primitive.n = double(i + 1);
  }
  if (Property* p = FindOwn(o, name)) {
    p->value = std::move(v);
    p->getter = p->setter = nullptr;
    p->flags = flags;
    return;
  }
  Charge(kPropertyBytes + name.size() + (v.type == Type::String ? v.s.size() : 0));
  if (o->props.size() > 32 && o->props.size() > 2 * std::size_t(o->live)) {
    // Many removed: close the gaps.
    std::vector<Property> kept;
    o->index.clear();
    for (Property& p : o->props) {
      if (p.removed) continue;
      o->index.emplace(Key(p.name), std::uint32_t(kept.size()));
      kept.push_back(std::move(p));
    }
    o->props = std::move(kept);
  }
  o->index.emplace(Key(name), std::uint32_t(o->props.size()));
  o->props.push_back(Property{std::string(name), std::move(v), nullptr, nullptr, flags, false});
  ++o->live;
}

void Vm::DefineNative(Object* o, std::string_view name, NativeFn fn, std::uint16_t flags) {
  Define(o, name, Value::Obj(NewFunction(fn)), flags);
}

bool Vm::Delete(Object* o, std::string_view name) {
  const auto it = o->index.find(Key(name));
  if (it == o->index.end()) return false;
  Property& p = o->props[it->second];
  if (p.flags & DontDelete) return false;
  p.removed = true;
  p.value = Value{};
  p.getter = p.setter = nullptr;
  o->index.erase(it);
  --o->live;
  return true;
}

bool Vm::HasProperty(Object* o, std::string_view name) {
  for (int i = 0; o && i < 256; ++i, o = o->proto) {
    if (FindOwn(o, name)) return true;
  }
  return false;
}

std::vector<std::string> Vm::Enumerate(Object* o) {
  std::vector<std::vector<std::string>> levels;
  std::vector<std::string> seen;
  for (int depth = 0; o && depth < 256; ++depth, o = o->proto) {
    std::vector<std::string> level;
    for (const Property& p : o->props) {
      // A property hidden from this version still lists (Flash Player checks only DontEnum).
      if (p.removed || (p.flags & DontEnum)) continue;
      level.push_back(p.name);
    }
    levels.push_back(std::move(level));
  }
  std::vector<std::string> out;
  std::unordered_map<std::string, bool> have;
  // Own names first, each level oldest first: a for..in pops them, so it lists the farthest
  // prototype's names first, newest first, and a shadowed name where its own one stands.
  for (auto level = levels.begin(); level != levels.end(); ++level) {
    for (const std::string& name : *level) {
      if (have.emplace(Key(name), true).second) out.push_back(name);
    }
  }
  return out;
}

std::int64_t Vm::Length(Object* o) {
  if (o->kind == Kind::Array) return std::int64_t(o->primitive.n);
  const double n = ToNumber(Get(o, "length"));
  return std::isfinite(n) && n > 0 ? std::int64_t(std::min(n, 4294967295.0)) : 0;
}

void Vm::SetLength(Object* o, std::int64_t length) {
  length = std::clamp<std::int64_t>(length, 0, 0x7FFFFFFF);
  if (o->kind != Kind::Array) {
    Set(o, "length", Value::Num(double(length)));
    return;
  }
  const auto old = std::int64_t(o->primitive.n);
  if (length < old) {
    if (old - length < std::int64_t(o->live) * 2 + 16) {
      for (std::int64_t i = length; i < old; ++i) Delete(o, std::to_string(i));
    } else {
      std::vector<std::string> doomed;
      for (const Property& p : o->props) {
        std::int64_t i = 0;
        if (!p.removed && IndexOf(p.name, i) && i >= length) doomed.push_back(p.name);
      }
      for (const std::string& name : doomed) Delete(o, name);
    }
  }
  o->primitive.n = double(length);
}

std::vector<Value> Vm::Elements(Object* o) {
  const std::int64_t n = Length(o);
  Work(std::size_t(n));
  std::vector<Value> out;
  out.reserve(std::size_t(n));
  for (std::int64_t i = 0; i < n; ++i) out.push_back(Get(o, std::to_string(i)));
  return out;
}

void Vm::Push(Object* array, Value v) {
  const std::int64_t n = Length(array);
  Define(array, std::to_string(n), std::move(v));
  if (array->kind != Kind::Array) Set(array, "length", Value::Num(double(n + 1)));
}

int Vm::VirtualDepth(const Object* o, std::string_view name) const {
  if (virtual_depth_.empty()) return 0;
  const auto it = virtual_depth_.find({o, Key(name)});
  return it == virtual_depth_.end() ? 0 : it->second;
}

Value Vm::Get(Object* o, std::string_view name) {
  if (name == "__proto__") {
    // A super object stands for the class above: its __proto__ is one further up.
    Object* p = o->super_this && o->proto ? o->proto->proto : o->proto;
    return p ? Value::Obj(p) : Value{};
  }
  Object* self = o;
  for (int depth = 0; o && depth < 256; ++depth, o = o->proto) {
    if (o->kind == Kind::Clip && o->clip) {
      bool found = false;
      Value v = ClipGet(o, name, &found);
      if (found) return v;
    } else if (o->kind == Kind::Array && o == self && name == "length" && !FindOwn(o, name)) {
      return Value::Num(o->primitive.n);
    } else if (Property* p = FindOwn(o, name)) {
      if ((p->getter || p->setter) && VirtualDepth(self, name) > kMaxVirtualDepth) {
        return p->value;
      }
      if (p->getter) {
        Object* getter = p->getter;
        const Nested nested(virtual_depth_, self, Key(name));
        return Call(Value::Obj(getter), Value::Obj(self), {});
      }
      if (p->setter) return Value{};  // addProperty without a getter
      return p->value;
    }
  }
  if (o && running_) {
    // A prototype chain without end (a.__proto__ = a): Flash Player stops the script.
    Note("a script's prototype chain ran past 256 objects: it was stopped");
    throw Stop{};
  }
  return Value{};
}

Value Vm::Resolve(Object* o, std::string_view name) {
  // The first __resolve that holds an object (not a clip) answers; getters don't count.
  Object* at = o;
  for (int depth = 0; at && depth < 256; ++depth, at = at->proto) {
    const Property* p = FindOwn(at, "__resolve");
    if (!p || p->getter || p->setter || !p->value.IsObject()) continue;
    if (p->value.o->kind == Kind::Clip) continue;
    if (p->value.o->kind != Kind::Function) return Value{};
    Value arg[1] = {Value::Str(std::string(name))};
    return Call(p->value, Value::Obj(o), arg);
  }
  return Value{};
}

Value Vm::GetMember(const Value& base, std::string_view name) {
  switch (base.type) {
    case Type::Object: {
      if (base.o->kind == Kind::Clip && !base.o->clip) {
        Object* clip = Live(base.o);
        return clip ? GetMember(Value::Obj(clip), name) : Value{};
      }
      Value v = Get(base.o, name);
      if (v.IsUndefined() && base.o->kind != Kind::Clip && name != "__resolve" &&
          !HasProperty(base.o, name)) {
        return Resolve(base.o, name);
      }
      return v;
    }
    case Type::String:
      if (name == "length") return Value::Num(double(Utf16Length(base.s)));
      return Get(string_proto, name);
    case Type::Number:
      return Get(number_proto, name);
    case Type::Boolean:
      return Get(boolean_proto, name);
    default:
      return Value{};
  }
}

void Vm::Set(Object* o, std::string_view name, Value v) {
  if (name.empty()) return;
  if (name == "__proto__") {
    o->proto = v.IsObject() ? v.o : nullptr;
    return;
  }
  if (o->kind == Kind::Clip && o->clip && ClipSet(o, name, v)) return;
  Property* p = FindOwn(o, name);
  if (p && (p->flags & ReadOnly)) return;
  // A getter or setter (addProperty) takes the write, its own or a prototype's.
  const auto find_accessor = [&]() -> Property* {
    if (p) return p->setter || p->getter ? p : nullptr;
    int depth = 0;
    for (Object* q = o->proto; q && q != o && depth < 256; q = q->proto, ++depth) {
      Property* inherited = FindOwn(q, name);
      if (!inherited) continue;
      return inherited->setter || inherited->getter ? inherited : nullptr;
    }
    return nullptr;
  };
  const bool nested_ok = VirtualDepth(o, name) <= kMaxVirtualDepth;
  // Watchers see the write first.
  if (o->watchers && nested_ok) {
    const auto w = o->watchers->find(Key(name));
    if (w != o->watchers->end() && w->second.callback) {
      const Nested nested(virtual_depth_, o, Key(name));
      const Watcher watcher = w->second;
      // The old value may be inherited; a watcher that throws leaves the property undefined.
      Value old = p ? p->value : find_accessor() ? Value{} : Get(o, name);
      Value args[4] = {Value::Str(std::string(name)), std::move(old), std::move(v), watcher.user};
      try {
        v = Call(Value::Obj(watcher.callback), Value::Obj(o), args);
      } catch (const Thrown&) {
        if (Property* own = FindOwn(o, name)) {
          own->value = Value{};
        } else {
          Define(o, name, Value{});
        }
        throw;
      }
      p = FindOwn(o, name);
      if (p && (p->flags & ReadOnly)) return;
    }
  }
  if (Property* accessor = find_accessor()) {
    Object* setter = nested_ok ? accessor->setter : nullptr;
    if (setter) {
      Value arg[1] = {v};
      const Nested nested(virtual_depth_, o, Key(name));
      Call(Value::Obj(setter), Value::Obj(o), arg);
    }
    // The value stays under an own getter: it is what one nested too deep reads.
    if (Property* own = FindOwn(o, name); own && (own->getter || own->setter)) {
      own->value = std::move(v);
    }
    return;
  }
  if (p) {
    if (o->kind == Kind::Array && name == "length") {
      SetLength(o, std::int64_t(ToNumber(v)));
      return;
    }
    if (v.type == Type::String) Charge(v.s.size());
    p->value = std::move(v);
    return;
  }
  Define(o, name, std::move(v));
}

void Vm::SetMember(const Value& base, std::string_view name, Value v) {
  if (!base.IsObject()) return;
  if (Object* o = Live(base.o)) Set(o, name, std::move(v));
}

namespace {
// A class's `prototype` as stored: a getter put over it is not called.
Value StoredPrototype(Vm& vm, Object* ctor) {
  const Property* p = vm.FindOwn(ctor, "prototype");
  return p ? p->value : Value{};
}

// Whether `proto` implements `target`, through interfaces that implement others (not through
// an interface's own prototype chain). The work is bounded: interfaces may implement in a ring.
bool Implements(Object* proto, Object* target, int& budget) {
  for (Object* i : proto->interfaces) {
    if (--budget < 0) return false;
    if (i == target || Implements(i, target, budget)) return true;
  }
  return false;
}
}  // namespace

void Vm::Implement(const Value& ctor, std::span<const Value> interfaces) {
  if (!ctor.IsObject() || interfaces.empty()) return;
  const Value proto = StoredPrototype(*this, ctor.o);
  if (!proto.IsObject() || proto.o->implements_set) return;
  proto.o->implements_set = true;
  for (const Value& i : interfaces) {
    const Value ip = i.IsObject() ? StoredPrototype(*this, i.o) : Value{};
    if (ip.IsObject() && ip.o->kind != Kind::Clip) proto.o->interfaces.push_back(ip.o);
  }
}

bool Vm::InstanceOf(const Value& v, Object* ctor) {
  if (!v.IsObject() || !ctor) return false;
  Value proto = StoredPrototype(*this, ctor);
  // A string as the prototype becomes an object through the global String, whatever it is now.
  if (proto.type == Type::String) {
    const Property* string_ctor = FindOwn(global, "String");
    if (!string_ctor) return false;
    Value args[] = {proto};
    proto = Construct(string_ctor->value, args);
  }
  if (!proto.IsObject()) return false;
  int depth = 0;
  int budget = 4096;
  for (Object* p = v.o->proto; p && depth < 256; p = p->proto, ++depth) {
    if (p == proto.o || Implements(p, proto.o, budget)) return true;
  }
  return false;
}

// ---- The collector ---------------------------------------------------------------------------

void Vm::MarkValue(const Value& v, std::vector<Object*>& stack) {
  if (v.IsObject()) Mark(v.o, stack);
}

void Vm::Mark(Object* o, std::vector<Object*>& stack) {
  if (o && !o->marked) {
    o->marked = true;
    stack.push_back(o);
  }
}

void Vm::Collect() {
  if (running_) return;  // values on the native stack aren't known: only between scripts
  std::vector<Object*> stack;
  for (Object* o : {global, object_proto, function_proto, array_proto, string_proto, number_proto,
                    boolean_proto, date_proto, clip_proto, object_ctor, array_ctor}) {
    Mark(o, stack);
  }
  for (const auto& table : classes_) {
    for (const auto& [symbol, ctor] : table) Mark(ctor, stack);
  }
  for (Object* o : heap_) {
    if (o->pinned > 0) Mark(o, stack);
  }
  for (const Value& v : stack_) MarkValue(v, stack);
  for (const Value& v : global_registers_) MarkValue(v, stack);
  for (const Timer& t : timers_) {
    Mark(t.target, stack);
    for (const Value& v : t.args) MarkValue(v, stack);
  }
  std::vector<Object*> held;
  while (!stack.empty()) {
    Object* o = stack.back();
    stack.pop_back();
    Mark(o->proto, stack);
    Mark(o->super_this, stack);
    Mark(o->super_home, stack);
    MarkValue(o->primitive, stack);
    for (Object* i : o->interfaces) Mark(i, stack);
    for (const Property& p : o->props) {
      MarkValue(p.value, stack);
      Mark(p.getter, stack);
      Mark(p.setter, stack);
    }
    if (o->watchers) {
      for (const auto& [name, w] : *o->watchers) {
        Mark(w.callback, stack);
        MarkValue(w.user, stack);
      }
    }
    if (o->data) {
      held.clear();
      o->data->Trace(held);
      for (Object* h : held) Mark(h, stack);
    }
    if (o->script) {
      for (Object* s : o->script->scope) Mark(s, stack);
      Mark(o->script->base, stack);
    }
  }
  std::size_t bytes = 0;
  std::vector<Object*> kept;
  kept.reserve(heap_.size());
  for (Object* o : heap_) {
    if (!o->marked) {
      delete o;
      continue;
    }
    o->marked = false;
    bytes += kObjectBytes + (o->data ? o->data->Bytes() : 0);
    for (const Property& p : o->props) {
      bytes += kPropertyBytes + p.name.size() + p.value.s.size();
    }
    kept.push_back(o);
  }
  heap_ = std::move(kept);
  heap_bytes_ = bytes;
  heap_after_collect_ = bytes;
}

void Vm::MaybeCollect() {
  if (heap_bytes_ > heap_after_collect_ * 2 + (4u << 20)) Collect();
}

}  // namespace swf::avm1
