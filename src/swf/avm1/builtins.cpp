// The built-in objects a movie's scripts use: Object, Function, Number, Boolean, String, Math,
// Date, the global functions and the intervals. Array lives in arrays.cpp.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "swf/avm1/builtins.h"
#include "swf/avm1/objects.h"

namespace swf::avm1 {

Value Arg(std::span<Value> args, std::size_t i) {
  return i < args.size() ? args[i] : Value{};
}

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ---- Object ----

Value ObjectCtor(Vm& vm, const Value&, std::span<Value> args) {
  const Value v = Arg(args, 0);
  if (v.IsNullish()) return Value::Obj(vm.NewObject());
  return Value::Obj(vm.ToObject(v));
}
Value ObjectConstruct(Vm& vm, const Value& self, std::span<Value> args) {
  Value v = Arg(args, 0);
  if (v.IsObject()) return v;
  if (!v.IsNullish()) return Value::Obj(vm.ToObject(v));
  return self;
}
Value ObjectToString(Vm& vm, const Value& self, std::span<Value>) {
  if (self.IsObject() && self.o->kind == Kind::Function) return Value::Str("[type Function]");
  if (self.IsObject() && self.o->kind == Kind::Clip && self.o->clip) {
    return Value::Str(vm.ClipPath(self.o, false));
  }
  return Value::Str("[object Object]");
}
Value ObjectValueOf(Vm&, const Value& self, std::span<Value>) {
  if (self.IsObject() && self.o->kind == Kind::Boxed) return self.o->primitive;
  return self;
}
Value HasOwnProperty(Vm& vm, const Value& self, std::span<Value> args) {
  if (!self.IsObject() || args.empty()) return Value::Bool(false);
  const std::string name = vm.ToString(Arg(args, 0));
  if (self.o->kind == Kind::Array && name == "length") return Value::Bool(true);
  if (name == "__proto__") return Value::Bool(self.o->proto != nullptr);
  return Value::Bool(vm.FindOwn(self.o, name) != nullptr);
}
Value IsPropertyEnumerable(Vm& vm, const Value& self, std::span<Value> args) {
  if (!self.IsObject()) return Value::Bool(false);
  const Property* p = vm.FindOwn(self.o, vm.ToString(Arg(args, 0)));
  return Value::Bool(p && !(p->flags & DontEnum));
}
Value IsPrototypeOf(Vm&, const Value& self, std::span<Value> args) {
  const Value v = Arg(args, 0);
  if (!self.IsObject() || !v.IsObject()) return Value::Bool(false);
  int depth = 0;
  for (Object* p = v.o->proto; p && depth < 256; p = p->proto, ++depth) {
    if (p == self.o) return Value::Bool(true);
  }
  return Value::Bool(false);
}
Value AddProperty(Vm& vm, const Value& self, std::span<Value> args) {
  const std::string name = vm.ToString(Arg(args, 0));
  const Value getter = Arg(args, 1);
  const Value setter = Arg(args, 2);
  if (!self.IsObject() || name.empty() || !getter.IsObject() || getter.o->kind != Kind::Function) {
    return Value::Bool(false);
  }
  if (!setter.IsNull() && !(setter.IsObject() && setter.o->kind == Kind::Function)) {
    return Value::Bool(false);
  }
  Property* p = vm.FindOwn(self.o, name);
  if (!p) {
    // An array's length too becomes a property of its own: the array keeps its count apart.
    const Kind kind = self.o->kind;
    if (kind == Kind::Array) self.o->kind = Kind::Plain;
    vm.Define(self.o, name, Value{});
    self.o->kind = kind;
    p = vm.FindOwn(self.o, name);
  }
  if (!p) return Value::Bool(false);
  // The value stays under the getter: the array methods still read it.
  p->getter = getter.o;
  p->setter = setter.IsObject() ? setter.o : nullptr;
  return Value::Bool(true);
}
Value Watch(Vm& vm, const Value& self, std::span<Value> args) {
  const Value callback = Arg(args, 1);
  if (!self.IsObject() || !callback.IsObject() || callback.o->kind != Kind::Function) {
    return Value::Bool(false);
  }
  if (!self.o->watchers) self.o->watchers = new std::map<std::string, Watcher>;
  (*self.o->watchers)[vm.Key(vm.ToString(Arg(args, 0)))] = Watcher{callback.o, Arg(args, 2)};
  return Value::Bool(true);
}
Value Unwatch(Vm& vm, const Value& self, std::span<Value> args) {
  if (!self.IsObject() || !self.o->watchers) return Value::Bool(false);
  return Value::Bool(self.o->watchers->erase(vm.Key(vm.ToString(Arg(args, 0)))) > 0);
}
Value ObjectRegisterClass(Vm& vm, const Value&, std::span<Value> args) {
  const std::string name = vm.ToString(Arg(args, 0));
  const Value ctor = Arg(args, 1);
  if (name.empty()) return Value::Bool(false);
  vm.RegisterClass(name, ctor.IsObject() ? ctor.o : nullptr, vm.version());
  return Value::Bool(true);
}

// ---- Function ----

Value FunctionCall(Vm& vm, const Value& self, std::span<Value> args) {
  // No `this` (undefined or null) is _global.
  const Value this_arg = args.empty() ? Value{} : args[0];
  return vm.Call(self, this_arg.IsNullish() ? Value::Obj(vm.global) : this_arg,
                 args.empty() ? args : args.subspan(1));
}
Value FunctionApply(Vm& vm, const Value& self, std::span<Value> args) {
  const Value this_arg = Arg(args, 0);
  std::vector<Value> list;
  const Value a = Arg(args, 1);
  if (a.IsObject()) list = vm.Elements(a.o);
  return vm.Call(self, this_arg.IsNullish() ? Value::Obj(vm.global) : this_arg, list);
}
// Function(x) gives x back (a super() call of a Function subclass shows it); without one, an
// object.
Value FunctionCtor(Vm& vm, const Value&, std::span<Value> args) {
  return args.empty() ? Value::Obj(vm.NewObject()) : args[0];
}

// ---- Boolean, Number ----

Value BooleanCtor(Vm& vm, const Value&, std::span<Value> args) {
  if (args.empty()) return Value{};
  return Value::Bool(vm.ToBoolean(args[0]));
}
Value BooleanConstruct(Vm& vm, const Value& self, std::span<Value> args) {
  self.o->kind = Kind::Boxed;
  self.o->primitive = Value::Bool(!args.empty() && vm.ToBoolean(args[0]));
  return self;
}
Value BooleanToString(Vm& vm, const Value& self, std::span<Value>) {
  if (self.type == Type::Boolean) return Value::Str(self.b ? "true" : "false");
  if (self.IsObject() && self.o->primitive.type == Type::Boolean) {
    return Value::Str(self.o->primitive.b ? "true" : "false");
  }
  return ObjectToString(vm, self, {});
}
Value NumberCtor(Vm& vm, const Value&, std::span<Value> args) {
  if (args.empty()) return Value::Num(0);
  return Value::Num(vm.ToNumber(args[0]));
}
Value NumberConstruct(Vm& vm, const Value& self, std::span<Value> args) {
  self.o->kind = Kind::Boxed;
  self.o->primitive = Value::Num(args.empty() ? 0 : vm.ToNumber(args[0]));
  return self;
}
Value NumberProtoToString(Vm& vm, const Value& self, std::span<Value> args) {
  double n = kNaN;
  if (self.type == Type::Number) n = self.n;
  if (self.IsObject() && self.o->primitive.type == Type::Number) n = self.o->primitive.n;
  const Value r = Arg(args, 0);
  const int radix = r.IsUndefined() ? 10 : int(vm.ToNumber(r));
  if (radix < 2 || radix > 36 || radix == 10) {
    return Value::Str(Vm::NumberToString(n));
  }
  // Other radixes print the number as a 32-bit integer. Flash Player negates a negative one
  // in 32 bits, so the lowest (NaN and the infinities among it) keeps negative digits, which
  // it prints as the characters below '0'.
  std::int32_t v = std::isfinite(n) ? vm.ToInt32(Value::Num(n)) : INT32_MIN;
  const bool negative = v < 0;
  if (negative) v = std::int32_t(0u - std::uint32_t(v));
  std::string out;
  do {
    const int d = v % radix;
    out.insert(out.begin(), d >= 0 ? "0123456789abcdefghijklmnopqrstuvwxyz"[d] : char('0' + d));
    v /= radix;
  } while (v != 0);
  if (negative) out.insert(out.begin(), '-');
  return Value::Str(out);
}

// ---- Global functions ----

Value IsNaN(Vm& vm, const Value&, std::span<Value> args) {
  return Value::Bool(args.empty() || std::isnan(vm.ToNumber(args[0])));
}
Value IsFinite(Vm& vm, const Value&, std::span<Value> args) {
  return Value::Bool(!args.empty() && std::isfinite(vm.ToNumber(args[0])));
}
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
Value ParseFloat(Vm& vm, const Value&, std::span<Value> args) {
  if (args.empty()) return Value{};
  const std::string s = vm.ToString(args[0]);
  std::size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  // Flash Player sums the digits itself: a second point is skipped (and no exponent may follow
  // then), and the exponent wraps at 32 bits.
  double v = 0;
  double scale = 1;
  int points = 0;
  bool any = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '.') {
      ++points;
      continue;
    }
    if (c < '0' || c > '9') break;
    any = true;
    if (points == 0) {
      v = v * 10 + (c - '0');
    } else {
      scale /= 10;
      v += (c - '0') * scale;
    }
  }
  if (!any) return Value::Num(kNaN);
  if (points < 2 && i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t k = i + 1;
    bool minus = false;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) minus = s[k++] == '-';
    std::uint32_t e = 0;
    const std::size_t first = k;
    for (; k < s.size() && s[k] >= '0' && s[k] <= '9'; ++k) e = e * 10 + std::uint32_t(s[k] - '0');
    if (k > first) {
      const auto exponent = double(std::int32_t(e));
      v = minus ? v / std::pow(10.0, exponent) : v * std::pow(10.0, exponent);
    }
  }
  return Value::Num(negative ? -v : v);
}
Value ParseInt(Vm& vm, const Value&, std::span<Value> args) {
  if (args.empty()) return Value{};
  const std::string s = vm.ToString(args[0]);
  int radix = 0;
  if (args.size() > 1) {
    radix = vm.ToInt32(args[1]);
    if (radix < 2 || radix > 36) return Value::Num(kNaN);
  }
  const auto is_x = [&](std::size_t k) { return k < s.size() && (s[k] == 'x' || s[k] == 'X'); };
  std::size_t i = 0;
  bool negative = false;
  // A hex prefix counts only at the very start, whatever the radix; after a sign, Flash Player
  // drops the sign and the 0 and reads on from the x.
  const bool hex = (s.size() > 1 && s[0] == '0' && is_x(1)) ||
                   (s.size() > 2 && (s[0] == '+' || s[0] == '-') && s[1] == '0' && is_x(2));
  if (hex) {
    i = 2;
    if (radix == 0) radix = 16;
  } else if (radix == 0) {
    // Octal when the whole text (a sign aside) is digits 0-7 after a leading 0.
    std::size_t k = s.empty() || (s[0] != '+' && s[0] != '-') ? 0 : 1;
    bool octal = k + 1 < s.size() && s[k] == '0';
    for (; octal && k < s.size(); ++k) octal = s[k] >= '0' && s[k] <= '7';
    radix = octal ? 8 : 10;
  }
  while (i < s.size() && IsBlank(s[i])) ++i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  double v = 0;
  bool any = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    int d = 99;
    if (c >= '0' && c <= '9') d = c - '0';
    if (c >= 'a' && c <= 'z') d = c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') d = c - 'A' + 10;
    if (d >= radix) break;
    v = v * radix + d;
    any = true;
  }
  if (!any) return Value::Num(kNaN);
  return Value::Num(negative ? -v : v);
}
Value Escape(Vm& vm, const Value&, std::span<Value> args) {
  const std::string s = vm.ToString(Arg(args, 0));
  std::string out;
  for (char ch : s) {
    const auto c = std::uint8_t(ch);
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      out.push_back(ch);
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return Value::Str(out);
}
Value Unescape(Vm& vm, const Value&, std::span<Value> args) {
  const std::string s = vm.ToString(Arg(args, 0));
  std::string out;
  const auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%') {
      // A bad escape eats what it read: the % and its first character, or its first two.
      if (i + 1 >= s.size() || hex(s[i + 1]) < 0) {
        ++i;
      } else if (i + 2 >= s.size() || hex(s[i + 2]) < 0) {
        i += 2;
      } else {
        out.push_back(char(hex(s[i + 1]) * 16 + hex(s[i + 2])));
        i += 2;
      }
    } else if (s[i] == '+') {
      out.push_back(' ');
    } else {
      out.push_back(s[i]);
    }
  }
  return Value::Str(out);
}
Value SetPropFlags(Vm& vm, const Value&, std::span<Value> args) {
  const Value target = Arg(args, 0);
  if (!target.IsObject()) return Value{};
  Object* o = target.o;
  const Value names = Arg(args, 1);
  const auto set = std::uint16_t(vm.ToInt32(Arg(args, 2)));
  const auto clear = std::uint16_t(vm.ToInt32(Arg(args, 3)));
  const auto apply = [&](Property& p) { p.flags = std::uint16_t((p.flags & ~clear) | set); };
  if (names.IsNull()) {
    for (Property& p : o->props) {
      if (!p.removed) apply(p);
    }
    return Value{};
  }
  std::vector<std::string> list;
  if (names.IsObject() && names.o->kind == Kind::Array) {
    for (const Value& v : vm.Elements(names.o)) list.push_back(vm.ToString(v));
  } else {
    const std::string s = vm.ToString(names);
    std::size_t start = 0;
    while (start <= s.size()) {
      const std::size_t comma = std::min(s.find(',', start), s.size());
      list.push_back(s.substr(start, comma - start));
      start = comma + 1;
    }
  }
  for (const std::string& name : list) {
    // Hidden properties too: flags set for another version can be cleared again.
    const auto it = o->index.find(vm.Key(name));
    if (it != o->index.end()) apply(o->props[it->second]);
  }
  return Value{};
}
Value SetTimer(Vm& vm, std::span<Value> args, bool repeat) {
  Timer t;
  t.repeat = repeat;
  std::size_t next = 0;
  const Value first = Arg(args, 0);
  if (!first.IsObject()) return Value{};
  if (first.o->kind == Kind::Function) {
    t.target = first.o;
    next = 1;
  } else {
    t.target = first.o;
    t.method = vm.ToString(Arg(args, 1));
    next = 2;
  }
  t.interval = vm.ToNumber(Arg(args, next));
  for (std::size_t i = next + 1; i < args.size() && i < 64; ++i) t.args.push_back(args[i]);
  const int id = vm.AddTimer(std::move(t));
  return id ? Value::Num(id) : Value{};
}
Value SetInterval(Vm& vm, const Value&, std::span<Value> args) {
  return SetTimer(vm, args, true);
}
Value SetTimeout(Vm& vm, const Value&, std::span<Value> args) {
  return SetTimer(vm, args, false);
}
Value ClearInterval(Vm& vm, const Value&, std::span<Value> args) {
  vm.ClearTimer(int(vm.ToNumber(Arg(args, 0))));
  return Value{};
}
Value Nothing(Vm&, const Value&, std::span<Value>) {
  return Value{};
}
Value GetVersion(Vm&, const Value&, std::span<Value>) {
  return Value::Str("WIN 9,0,115,0");
}

// ---- Math ----

template <double (*fn)(double)>
Value Math1(Vm& vm, const Value&, std::span<Value> args) {
  return Value::Num(fn(vm.ToNumber(Arg(args, 0))));
}
double Abs(double x) {
  return std::fabs(x);
}
double Round(double x) {
  return std::floor(x + 0.5);
}
Value MathAtan2(Vm& vm, const Value&, std::span<Value> args) {
  return Value::Num(std::atan2(vm.ToNumber(Arg(args, 0)), vm.ToNumber(Arg(args, 1))));
}
Value MathPow(Vm& vm, const Value&, std::span<Value> args) {
  return Value::Num(std::pow(vm.ToNumber(Arg(args, 0)), vm.ToNumber(Arg(args, 1))));
}
Value MathMin(Vm& vm, const Value&, std::span<Value> args) {
  if (args.empty()) return Value::Num(std::numeric_limits<double>::infinity());
  if (args.size() == 1) {
    const double a = vm.ToNumber(args[0]), b = vm.ToNumber(Value{});
    return Value::Num(std::isnan(a) || std::isnan(b) ? kNaN : std::min(a, b));
  }
  double r = std::numeric_limits<double>::infinity();
  for (const Value& v : args) {
    const double n = vm.ToNumber(v);
    if (std::isnan(n)) return Value::Num(kNaN);
    r = std::min(r, n);
  }
  return Value::Num(r);
}
Value MathMax(Vm& vm, const Value&, std::span<Value> args) {
  if (args.empty()) return Value::Num(-std::numeric_limits<double>::infinity());
  if (args.size() == 1) {
    const double a = vm.ToNumber(args[0]), b = vm.ToNumber(Value{});
    return Value::Num(std::isnan(a) || std::isnan(b) ? kNaN : std::max(a, b));
  }
  double r = -std::numeric_limits<double>::infinity();
  for (const Value& v : args) {
    const double n = vm.ToNumber(v);
    if (std::isnan(n)) return Value::Num(kNaN);
    r = std::max(r, n);
  }
  return Value::Num(r);
}
Value MathRandom(Vm& vm, const Value&, std::span<Value>) {
  return Value::Num(vm.Random());
}

// ---- ASnative: built-ins by number ----

// A function of ASnative's table: a known category answers every index (one it doesn't have does
// nothing), an unknown one undefined.
Value NativeOf(Vm& vm, std::int32_t category, std::int32_t index) {
  const auto key = [](std::int32_t c, std::int32_t i) {
    return (std::uint32_t(c) << 16) | (std::uint32_t(i) & 0xFFFF);
  };
  if (index < 0 || index > 0xFFFF || category < 0 || category > 0xFFFF) return Value{};
  if (const auto it = vm.native_table.find(key(category, index)); it != vm.native_table.end()) {
    return Value::Obj(vm.NewFunction(it->second));
  }
  if (vm.native_table.contains(key(category, 0))) return Value::Obj(vm.NewFunction(Nothing));
  return Value{};
}
Value AsNative(Vm& vm, const Value&, std::span<Value> args) {
  if (args.size() != 2) return Value{};
  const std::int32_t category = vm.ToInt32(args[0]);
  return NativeOf(vm, category, vm.ToInt32(args[1]));
}

// ASSetNative(object, category, "a,b,...", first index) puts the table's functions on `object`
// by those names, one index each (an empty name skips one); ASSetNativeAccessor puts
// getter-setter pairs, two indexes each. A name may start with the lowest SWF version that sees
// it: 6 to 9, or 10.
template <bool accessor>
Value AsSetNative(Vm& vm, const Value&, std::span<Value> args) {
  if (args.size() < 3 || args[0].IsNullish()) return Value{};
  Object* object = vm.ToObject(args[0]);
  const std::int32_t category = vm.ToInt32(args[1]);
  const std::string names = vm.ToString(args[2]);
  std::int32_t index = args.size() > 3 ? vm.ToInt32(args[3]) : 0;
  std::size_t at = 0;
  while (at <= names.size()) {
    std::size_t end = names.find(',', at);
    if (end == std::string::npos) end = names.size();
    std::string_view name(names.data() + at, end - at);
    at = end + 1;
    vm.Work();
    std::uint16_t flags = 0;
    if (!name.empty() && name[0] >= '6' && name[0] <= '9') {
      static constexpr std::uint16_t kSince[] = {0x0080, 0x0400, 0x1000, 0x2000};
      flags = kSince[name[0] - '6'];
      name.remove_prefix(1);
    } else if (name.starts_with("10")) {
      flags = 0x4000;
      name.remove_prefix(2);
    } else if (name.starts_with('1')) {
      name.remove_prefix(1);
    }
    const Value getter = NativeOf(vm, category, index++);
    if (accessor) {
      const Value setter = NativeOf(vm, category, index++);
      if (name.empty() || !getter.IsObject()) continue;
      Value pair[] = {Value::Str(std::string(name)), getter,
                      setter.IsObject() ? setter : Value::Null()};
      AddProperty(vm, Value::Obj(object), pair);
      if (Property* p = vm.FindOwn(object, name)) p->flags |= flags;
    } else if (!name.empty()) {
      const bool had = vm.FindOwn(object, name) != nullptr;
      vm.Set(object, name, getter);
      if (Property* p = vm.FindOwn(object, name); p && !had) p->flags |= flags;
    }
  }
  return Value{};
}

// The table as Flash Player numbers its built-ins, for the categories movies reach: 4 these
// functions, 103 Date, 200 Math.
void InstallNativeTable(Vm& vm, Object* math, Object* date_ctor) {
  struct Category {
    std::uint32_t number;
    std::uint32_t first;
    Object* from;
    const char* names;
  };
  const Category categories[] = {
      {103, 0, vm.date_proto,
       "getFullYear,getYear,getMonth,getDate,getDay,getHours,getMinutes,getSeconds,"
       "getMilliseconds,setFullYear,setMonth,setDate,setHours,setMinutes,setSeconds,"
       "setMilliseconds,getTime,setTime,getTimezoneOffset,toString,setYear"},
      {103, 128, vm.date_proto,
       "getUTCFullYear,getUTCYear,getUTCMonth,getUTCDate,getUTCDay,getUTCHours,getUTCMinutes,"
       "getUTCSeconds,getUTCMilliseconds,setUTCFullYear,setUTCMonth,setUTCDate,setUTCHours,"
       "setUTCMinutes,setUTCSeconds,setUTCMilliseconds"},
      {103, 257, date_ctor, "UTC"},
      {200, 0, math,
       "abs,min,max,sin,cos,atan2,tan,exp,log,sqrt,round,random,floor,ceil,atan,asin,acos,pow"},
  };
  for (const Category& c : categories) {
    std::uint32_t index = c.first;
    std::string_view names = c.names;
    while (!names.empty()) {
      const std::size_t comma = std::min(names.find(','), names.size());
      const Property* p = vm.FindOwn(c.from, names.substr(0, comma));
      if (p && p->value.IsObject() && p->value.o->native) {
        vm.native_table[c.number << 16 | index] = p->value.o->native;
      }
      ++index;
      names.remove_prefix(std::min(comma + 1, names.size()));
    }
  }
  vm.native_table[4u << 16 | 0] = AsSetNative<false>;
  vm.native_table[4u << 16 | 1] = AsSetNative<true>;
  vm.DefineNative(vm.global, "ASnative", AsNative);
  vm.DefineNative(vm.global, "ASSetNative", AsSetNative<false>);
  vm.DefineNative(vm.global, "ASSetNativeAccessor", AsSetNative<true>);
}

}  // namespace

namespace {
std::string ClassKey(std::string_view symbol, int version) {
  return version >= 7 ? std::string(symbol) : LowerCase(std::string(symbol));
}
}  // namespace

void Vm::RegisterClass(std::string_view symbol, Object* ctor, int version) {
  auto& table = classes_[version >= 7 ? 1 : 0];
  if (ctor) {
    Charge(symbol.size());
    table[ClassKey(symbol, version)] = ctor;
  } else {
    table.erase(ClassKey(symbol, version));
  }
}

Object* Vm::RegisteredClass(std::string_view symbol, int version) {
  const auto& table = classes_[version >= 7 ? 1 : 0];
  const auto it = table.find(ClassKey(symbol, version));
  return it == table.end() ? nullptr : it->second;
}

void Vm::InstallBuiltins() {
  object_proto = NewObject(nullptr);
  object_proto->proto = nullptr;
  function_proto = NewObject(object_proto);
  global = NewObject(nullptr);
  global->proto = nullptr;  // no valueOf: _global == undefined holds in Flash Player

  object_ctor = NewFunction(ObjectCtor, object_proto, ObjectConstruct);
  Define(global, "Object", Value::Obj(object_ctor), DontEnum);
  DefineNative(object_proto, "toString", ObjectToString);
  DefineNative(object_proto, "toLocaleString", ObjectToString);
  DefineNative(object_proto, "valueOf", ObjectValueOf);
  // SWF 5 movies don't see these three.
  constexpr std::uint16_t kSince6 = DontEnum | 0x0080;
  DefineNative(object_proto, "hasOwnProperty", HasOwnProperty, kSince6);
  DefineNative(object_proto, "isPropertyEnumerable", IsPropertyEnumerable, kSince6);
  DefineNative(object_proto, "isPrototypeOf", IsPrototypeOf, kSince6);
  DefineNative(object_proto, "addProperty", AddProperty);
  DefineNative(object_proto, "watch", Watch);
  DefineNative(object_proto, "unwatch", Unwatch);
  DefineNative(object_ctor, "registerClass", ObjectRegisterClass);

  Object* function_ctor = NewFunction(FunctionCtor, function_proto);
  // SWF 5 movies have functions but no global named Function.
  if (version_ >= 6) Define(global, "Function", Value::Obj(function_ctor), DontEnum);
  DefineNative(function_proto, "call", FunctionCall);
  DefineNative(function_proto, "apply", FunctionApply);

  boolean_proto = NewObject();
  Object* boolean_ctor = NewFunction(BooleanCtor, boolean_proto, BooleanConstruct);
  Define(global, "Boolean", Value::Obj(boolean_ctor), DontEnum);
  DefineNative(boolean_proto, "toString", BooleanToString);
  DefineNative(boolean_proto, "valueOf", ObjectValueOf);

  number_proto = NewObject();
  Object* number_ctor = NewFunction(NumberCtor, number_proto, NumberConstruct);
  Define(global, "Number", Value::Obj(number_ctor), DontEnum);
  DefineNative(number_proto, "toString", NumberProtoToString);
  DefineNative(number_proto, "valueOf", ObjectValueOf);
  const std::uint16_t fixed = DontEnum | DontDelete | ReadOnly;
  Define(number_ctor, "MAX_VALUE", Value::Num(std::numeric_limits<double>::max()), fixed);
  Define(number_ctor, "MIN_VALUE", Value::Num(std::numeric_limits<double>::denorm_min()), fixed);
  Define(number_ctor, "NaN", Value::Num(kNaN), fixed);
  Define(number_ctor, "POSITIVE_INFINITY", Value::Num(std::numeric_limits<double>::infinity()),
         fixed);
  Define(number_ctor, "NEGATIVE_INFINITY", Value::Num(-std::numeric_limits<double>::infinity()),
         fixed);
  if (version_ >= 5) {
    // SWF 4 movies see no such globals: the names read as empty variables there.
    Define(global, "NaN", Value::Num(kNaN), DontEnum);
    Define(global, "Infinity", Value::Num(std::numeric_limits<double>::infinity()), DontEnum);
  }

  InstallDate(*this);

  InstallStrings();
  InstallArrays();

  Object* math = NewObject();
  Define(global, "Math", Value::Obj(math), DontEnum);
  DefineNative(math, "abs", Math1<Abs>);
  DefineNative(math, "acos", Math1<std::acos>);
  DefineNative(math, "asin", Math1<std::asin>);
  DefineNative(math, "atan", Math1<std::atan>);
  DefineNative(math, "ceil", Math1<std::ceil>);
  DefineNative(math, "cos", Math1<std::cos>);
  DefineNative(math, "exp", Math1<std::exp>);
  DefineNative(math, "floor", Math1<std::floor>);
  DefineNative(math, "log", Math1<std::log>);
  DefineNative(math, "round", Math1<Round>);
  DefineNative(math, "sin", Math1<std::sin>);
  DefineNative(math, "sqrt", Math1<std::sqrt>);
  DefineNative(math, "tan", Math1<std::tan>);
  DefineNative(math, "atan2", MathAtan2);
  DefineNative(math, "pow", MathPow);
  DefineNative(math, "min", MathMin);
  DefineNative(math, "max", MathMax);
  DefineNative(math, "random", MathRandom);
  Define(math, "E", Value::Num(2.718281828459045), fixed);
  Define(math, "LN10", Value::Num(2.302585092994046), fixed);
  Define(math, "LN2", Value::Num(0.6931471805599453), fixed);
  Define(math, "LOG10E", Value::Num(0.4342944819032518), fixed);
  Define(math, "LOG2E", Value::Num(1.4426950408889634), fixed);
  Define(math, "PI", Value::Num(3.141592653589793), fixed);
  Define(math, "SQRT1_2", Value::Num(0.7071067811865476), fixed);
  Define(math, "SQRT2", Value::Num(1.4142135623730951), fixed);

  // Flash Player's global object has an `o` that is null (a leftover of its own).
  Define(global, "o", Value::Null(), DontEnum);
  DefineNative(global, "isNaN", IsNaN);
  DefineNative(global, "isFinite", IsFinite);
  DefineNative(global, "parseFloat", ParseFloat);
  DefineNative(global, "parseInt", ParseInt);
  DefineNative(global, "escape", Escape);
  DefineNative(global, "unescape", Unescape);
  DefineNative(global, "ASSetPropFlags", SetPropFlags);
  DefineNative(global, "setInterval", SetInterval);
  DefineNative(global, "setTimeout", SetTimeout);
  DefineNative(global, "clearInterval", ClearInterval);
  DefineNative(global, "clearTimeout", ClearInterval);
  DefineNative(global, "updateAfterEvent", Nothing);
  DefineNative(global, "getVersion", GetVersion);
  clip_proto = NewObject();
  InstallObjects(*this);
  const Property* date = FindOwn(global, "Date");
  InstallNativeTable(*this, math, date ? date->value.o : nullptr);
}

}  // namespace swf::avm1
