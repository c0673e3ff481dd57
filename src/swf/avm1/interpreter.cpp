// The interpreter: action bytes decoded as they run, the scope chain, calls, and the clips'
// paths and properties as scripts see them.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <utility>

#include "swf/avm1/builtins.h"

namespace swf::avm1 {
namespace {

constexpr const char* kClipProperties[] = {
    "_x",           "_y",           "_xscale",       "_yscale",       "_currentframe",
    "_totalframes", "_alpha",       "_visible",      "_width",        "_height",
    "_rotation",    "_target",      "_framesloaded", "_name",         "_droptarget",
    "_url",         "_highquality", "_focusrect",    "_soundbuftime", "_quality",
    "_xmouse",      "_ymouse"};

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// `this` as a variable name; any case before SWF 7.
bool IsThis(std::string_view name, int version) {
  return name == "this" || (version < 7 && SameAscii(name, "this"));
}

int ClipPropertyIndex(std::string_view name) {
  if (name.empty() || name[0] != '_') return -1;
  for (int i = 0; i < 22; ++i) {
    if (SameAscii(name, kClipProperties[i])) return i;
  }
  return -1;
}

// Little-endian reads inside one action's data.
struct Data {
  const std::uint8_t* p;
  std::size_t n;
  std::size_t i = 0;
  std::uint8_t U8() { return i < n ? p[i++] : 0; }
  std::uint16_t U16() {
    const std::uint16_t lo = U8();
    return std::uint16_t(lo | (U8() << 8));
  }
  std::uint32_t U32() {
    const std::uint32_t lo = U16();
    return lo | (std::uint32_t(U16()) << 16);
  }
  std::string_view Str() {
    const std::size_t start = i;
    while (i < n && p[i] != 0) ++i;
    const std::string_view s(reinterpret_cast<const char*>(p + start), i - start);
    if (i < n) ++i;
    return s;
  }
};

// Records in a `super` object how many prototypes up from `this` its class is.
void NoteSuperDepth(Object* sup) {
  int depth = 1;
  for (Object* p = sup->super_this ? sup->super_this->proto : nullptr; p && depth < 256;
       p = p->proto, ++depth) {
    if (p == sup->super_home) {
      sup->primitive = Value::Num(depth);
      return;
    }
  }
}

}  // namespace

struct Vm::Frame {
  std::vector<Object*> scope;  // global, timeline, then activations and `with` objects
  Object* locals = nullptr;    // where `var` defines
  Object* base = nullptr;      // the timeline the code belongs to
  Object* target = nullptr;    // where timeline actions act (tellTarget)
  Value self;
  Object* callee = nullptr;
  Object* super_this = nullptr;
  Object* super_home = nullptr;
  std::shared_ptr<const std::vector<std::string>> pool;
  std::vector<Value> registers;  // none: the four global ones
  std::vector<Object*> withs;    // the `with` objects among `scope`
  std::size_t stack_base = 0;
  int version = 0;
};

Vm::Vm(int version, Host* host) : version_(version), host_(host), key_version_(version) {
  InstallBuiltins();
}

Vm::~Vm() {
  for (Object* o : heap_) delete o;
}

void Vm::Work(std::size_t n) {
  if (work_left_ < n) {
    work_left_ = 0;
    Note("a script ran past its frame's budget of work: it was stopped");
    throw Stop{};
  }
  work_left_ -= n;
}

void Vm::Note(const std::string& what) {
  if (noted_.emplace(what, true).second && notes.size() < 32) notes.push_back(what);
}

void Vm::Trace(std::string line) {
  std::replace(line.begin(), line.end(), '\r', '\n');  // Flash Player's log breaks lines so
  if (trace_.size() < 100'000) trace_.push_back(std::move(line));
}

double Vm::Random() {
  // xorshift64*: repeatable from a seed.
  random_state ^= random_state >> 12;
  random_state ^= random_state << 25;
  random_state ^= random_state >> 27;
  if (random_state == 0) random_state = 0x9E3779B97F4A7C15ull;
  return double((random_state * 2685821657736338717ull) >> 11) / 9007199254740992.0;
}

std::string Vm::DecodeString(std::string_view raw) const {
  if (block_version_ >= 6) return std::string(raw);
  for (char c : raw) {
    if (std::uint8_t(c) >= 0x80) return CodePageToUtf8(raw, code_page_);
  }
  return std::string(raw);
}

Value Vm::Pop() {
  if (stack_.empty()) return Value{};
  Value v = std::move(stack_.back());
  stack_.pop_back();
  return v;
}

void Vm::PushValue(Value v) {
  if (stack_.size() >= kMaxStack) {
    Note("a script's stack passed its limit: it was stopped");
    throw Stop{};
  }
  stack_.push_back(std::move(v));
}

// ---- Clips as objects ------------------------------------------------------------------------

Value Vm::ClipGet(Object* clip, std::string_view name, bool* found) {
  *found = true;
  // A variable a script set shadows even _root, _parent and _global.
  if (Property* p = FindOwn(clip, name)) {
    if (p->getter) return Call(Value::Obj(p->getter), Value::Obj(clip), {});
    return p->value;
  }
  if (!name.empty() && name[0] == '_') {
    if (SameAscii(name, "_parent")) {
      Object* p = host_->Parent(clip);
      return p ? Value::Obj(p) : Value{};
    }
    if (SameAscii(name, "_root")) return Value::Obj(host_->RootOf(clip));
    if (SameAscii(name, "_global")) return Value::Obj(global);
    if (const int level = LevelNumber(name); level >= 0) {
      Object* o = host_->Level(level);
      return o ? Value::Obj(o) : Value{};
    }
  }
  // SWF 4 scripts reach clips through paths only: a child is no variable there.
  if (!Swf4Block()) {
    if (Object* child = host_->Child(clip, name)) return Value::Obj(child);
  }
  const int index = ClipPropertyIndex(name);
  if (index >= 0) return host_->GetProperty(clip, index);
  *found = false;
  return Value{};
}

bool Vm::ClipSet(Object* clip, std::string_view name, const Value& v) {
  const int index = ClipPropertyIndex(name);
  if (index < 0) return false;
  host_->SetProperty(clip, index, v);
  return true;
}

std::string Vm::ClipPath(Object* clip, bool slash) {
  std::vector<std::string> names;
  Object* at = clip;
  for (int i = 0; at && at->clip && i < 64; ++i) {
    Object* parent = host_->Parent(at);
    if (!parent) break;
    names.push_back(ToString(host_->GetProperty(at, 13)));
    at = parent;
  }
  std::string out = slash ? "" : "_level" + std::to_string(at ? host_->LevelOf(at) : 0);
  if (slash && names.empty()) return "/";
  for (auto it = names.rbegin(); it != names.rend(); ++it) out += (slash ? "/" : ".") + *it;
  return out;
}

int Vm::LevelNumber(std::string_view name) {
  if (name.size() < 7 || name.size() > 15 || !SameAscii(name.substr(0, 6), "_level")) return -1;
  int n = 0;
  for (const char c : name.substr(6)) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

void Vm::GotoValue(Object* clip, Value frame, bool play, int bias) {
  // What isn't a number goes as a string (undefined and false are labels too).
  if (frame.type != Type::Number) frame = Value::Str(ToString(frame));
  if (frame.type == Type::String) {
    // "path:frame" names another clip's frame.
    const std::size_t colon = frame.s.rfind(':');
    if (colon != std::string::npos) {
      clip = ResolvePath(clip, frame.s.substr(0, colon));
      frame = Value::Str(frame.s.substr(colon + 1));
    }
    if (clip && clip->kind == Kind::Clip && !std::isfinite(StringToNumber(frame.s, 7))) {
      if (clip->clip) host_->GotoLabel(clip, frame.s, play, bias);
      return;
    }
  }
  if (!clip || clip->kind != Kind::Clip || !clip->clip) return;
  const double n = ToNumber(frame);
  if (!std::isfinite(n)) return;
  if (frame.type == Type::Number && n != std::trunc(n)) {
    // A fraction names a label ("4.123"), which a timeline hardly has.
    host_->GotoLabel(clip, NumberToString(n), play, bias);
    return;
  }
  // A 32-bit frame number, as Flash wraps it; none before the first.
  const std::int32_t number = ToInt32(Value::Num(n));
  if (number >= 1) host_->GotoFrame(clip, std::min(number, 70000) - 1 + bias, play);
}

Object* Vm::ResolvePath(Object* from, std::string_view path) {
  Object* at = from;
  std::size_t i = 0;
  if (path.empty()) return from;
  if (path[0] == '/') {
    at = RunningRoot();
    i = 1;
  }
  // SWF 4 paths have slashes alone: a dot or a colon is part of a name there.
  const bool swf4 = Swf4Block();
  // Past a slash, a dot belongs to the name ("a/b.c" names the child "b.c" of a).
  bool slashed = i > 0;
  const auto separator = [&](char c) {
    return c == '/' || (!swf4 && (c == ':' || (c == '.' && !slashed)));
  };
  while (at && i < path.size()) {
    std::size_t end = i;
    while (end < path.size() && !separator(path[end])) ++end;
    slashed |= end < path.size() && path[end] == '/';
    const std::string_view token = path.substr(i, end - i);
    if (swf4) {
      // "..", and a path that starts as _level0 or _flash0 stands for the root whatever follows
      // the digit; no other name is special.
      const bool level =
          i == 0 && token.size() >= 7 &&
          (SameAscii(token.substr(0, 7), "_level0") || SameAscii(token.substr(0, 7), "_flash0"));
      i = end + 1;
      if (token == ".." || level) {
        at = level ? RunningRoot() : host_->Parent(at);
      } else if (!token.empty()) {
        at = at->kind == Kind::Clip ? host_->Child(at, token) : nullptr;
      } else if (end < path.size() && end > 0 && path[end - 1] == '/') {
        return nullptr;  // two slashes in a row name nothing
      }
      continue;
    }
    if (end < path.size() && path[end] == '.' && end + 1 < path.size() && path[end + 1] == '.') {
      // "../" in a slash path
      at = host_->Parent(at);
      i = end + 2;
      if (i < path.size() && path[i] == '/') ++i;
      continue;
    }
    i = end + 1;
    if (token.empty()) {
      // Two slashes in a row name nothing.
      if (end < path.size() && path[end] == '/' && end > 0 && path[end - 1] == '/') return nullptr;
      continue;
    }
    if (token == "this") continue;
    if (token == ".." || SameAscii(token, "_parent")) {
      at = at->kind == Kind::Clip ? host_->Parent(at) : nullptr;
      continue;
    }
    if (SameAscii(token, "_root")) {
      at = at->kind == Kind::Clip ? host_->RootOf(at) : RunningRoot();
      continue;
    }
    if (const int level = LevelNumber(token); level >= 0) {
      at = host_->Level(level);
      continue;
    }
    if (at->kind == Kind::Clip) {
      // A path reaches a child in every version (SWF 4 scripts see no child as a variable).
      if (Object* child = host_->Child(at, token)) {
        at = child;
        continue;
      }
    }
    const Value v = Get(at, token);
    at = v.IsObject() ? v.o : nullptr;
  }
  return at;
}

Object* Vm::Live(Object* o) {
  if (o->kind != Kind::Clip || o->clip) return o;
  if (o->path.empty()) return nullptr;
  Object* at = host_->Root();
  std::string_view rest(o->path);
  rest.remove_prefix(std::min(rest.size(), rest.find('.')));
  while (at && !rest.empty()) {
    rest.remove_prefix(1);
    const std::size_t end = std::min(rest.size(), rest.find('.'));
    at = host_->Child(at, rest.substr(0, end));
    rest.remove_prefix(end);
  }
  return at && at->kind == Kind::Clip && at->clip ? at : nullptr;
}

Object* Vm::TargetOf(const Value& v) {
  if (v.IsObject()) {
    Object* o = Live(v.o);
    return o && o->kind == Kind::Clip ? o : nullptr;
  }
  if (v.type != Type::String) return nullptr;
  Object* found = ResolvePath(RunningRoot(), v.s);
  return found && found->kind == Kind::Clip && found->clip ? found : nullptr;
}

// ---- Variables -------------------------------------------------------------------------------

namespace {
// A path's split into where the variable lives and its name: "/a/b:v", "a.b.v", "_root.v".
// SWF 4 scripts know no dots: "a.b" is a name there.
bool SplitPath(std::string_view name, std::string_view& path, std::string_view& var, bool swf4) {
  const std::size_t colon = name.rfind(':');
  if (colon != std::string_view::npos) {
    path = name.substr(0, colon);
    var = name.substr(colon + 1);
    return true;
  }
  const std::size_t dot = swf4 ? std::string_view::npos : name.rfind('.');
  if (dot != std::string_view::npos && dot > 0 && name[dot - 1] != '.') {
    path = name.substr(0, dot);
    var = name.substr(dot + 1);
    return true;
  }
  if (name.find('/') != std::string_view::npos) {
    path = name;
    var = {};
    return true;
  }
  return false;
}
}  // namespace

Object* Vm::PathTarget(Frame& f, std::string_view path) {
  if (path.empty() || path[0] == '/') return ResolvePath(f.target, path);
  // The first name is a variable of the scope chain.
  std::size_t end = 0;
  while (end < path.size() && path[end] != '/' && path[end] != '.' && path[end] != ':') ++end;
  const std::string first(path.substr(0, end));
  if (first == ".." || IsThis(first, version_)) {
    const Value head = first == ".." ? Value::Obj(f.target) : GetVariable(f, first);
    Object* at = head.IsObject() ? head.o : nullptr;
    if (first == "..") return at ? ResolvePath(at, path) : nullptr;
    return at && end < path.size() ? ResolvePath(at, path.substr(end + 1)) : at;
  }
  // Each scope in turn, innermost first, until one holds the whole path.
  for (std::size_t i = f.scope.size(); i-- > 0;) {
    if (Object* at = ResolvePath(f.scope[i], path)) return at;
  }
  return nullptr;
}

// A timeline that left the display list keeps no variables: the clip the actions belong to
// answers for a target that left, the main timeline once that left too.
Object* Vm::StandIn(const Frame& f) {
  if (f.base && f.base->kind == Kind::Clip && f.base->clip) return f.base;
  return host_->Root();
}

Value Vm::GetVariable(Frame& f, const std::string& name) {
  std::string_view path, var;
  if (SplitPath(name, path, var, Swf4Block())) {
    const std::string_view head = path.substr(0, path.find_first_of("/.:"));
    if (!var.empty() && !path.empty() && path[0] != '/' && head != ".." &&
        !IsThis(head, version_)) {
      // Scope by scope, until one has the path and the variable at its end.
      for (std::size_t i = f.scope.size(); i-- > 0;) {
        Object* at = ResolvePath(f.scope[i], path);
        if (!at) continue;
        Value v = Get(at, var);
        if (!v.IsUndefined()) return v;
      }
      return Value{};
    }
    // ":v" names no clip in SWF 4.
    Object* at = path.empty() && Swf4Block() ? nullptr : PathTarget(f, path);
    if (!at) return Value{};
    if (var.empty()) return Value::Obj(at);
    return Get(at, var);
  }
  if (IsThis(name, version_)) {
    if (!f.callee || !f.callee->script || !f.callee->script->v2) return f.self;
    // A DefineFunction2 that keeps `this` in a register (or drops it) has no variable of that
    // name: the scope chain answers, a clip with itself.
    for (std::size_t i = f.scope.size(); i-- > 1;) {
      Object* s = f.scope[i];
      if (s->kind == Kind::Clip && s->clip) return Value::Obj(s);
      if (const Property* p = FindOwn(s, "this")) return p->value;
    }
    return Value{};
  }
  if (name == "super" && f.super_this) {
    Object* s = NewObject(f.super_home ? f.super_home->proto : nullptr);
    s->super_this = f.super_this;
    s->super_home = f.super_home;
    NoteSuperDepth(s);
    return Value::Obj(s);
  }
  if (name == "arguments" && f.callee) {
    // A v1 function's arguments are made when asked for.
    Value a = Get(f.locals, "arguments");
    if (!a.IsUndefined()) return a;
  }
  for (std::size_t i = f.scope.size(); i-- > 0;) {
    Object* s = f.scope[i];
    if (s->kind == Kind::Clip && !s->clip) s = StandIn(f);
    if (s->kind == Kind::Clip && s->clip) {
      bool found = false;
      Value v = ClipGet(s, name, &found);
      if (found) return v;
      if (HasProperty(s, name)) return Get(s, name);
      continue;
    }
    if (HasProperty(s, name)) return Get(s, name);
  }
  // Unless a script set variables of these names.
  if (SameAscii(name, "_global")) return Value::Obj(global);
  if (SameAscii(name, "_root")) return Value::Obj(RunningRoot());
  if (const int level = LevelNumber(name); level >= 0) {
    Object* o = host_->Level(level);
    return o ? Value::Obj(o) : Value{};
  }
  if (SameAscii(name, "_parent") && f.target) {
    Object* p = host_->Parent(f.target);
    return p ? Value::Obj(p) : Value{};
  }
  return Value{};
}

void Vm::SetVariable(Frame& f, const std::string& name, Value v) {
  std::string_view path, var;
  if (SplitPath(name, path, var, Swf4Block())) {
    if (var.empty()) return;
    Object* at = PathTarget(f, path);
    if (at) Set(at, var, std::move(v));
    return;
  }
  if (IsThis(name, version_)) {
    f.self = std::move(v);  // a script may point `this` elsewhere
    return;
  }
  // The innermost scope that has it, the global one aside; else the timeline.
  for (std::size_t i = f.scope.size(); i-- > 1;) {
    Object* s = f.scope[i];
    if (s->kind == Kind::Clip && !s->clip) s = StandIn(f);
    if (s->kind == Kind::Clip && s->clip && ClipPropertyIndex(name) >= 0) {
      Set(s, name, std::move(v));
      return;
    }
    if (HasProperty(s, name)) {
      Set(s, name, std::move(v));
      return;
    }
  }
  Object* timeline = f.scope.size() > 1 ? f.scope[1] : f.locals;
  if (timeline && timeline->kind == Kind::Clip && !timeline->clip) timeline = StandIn(f);
  if (timeline) Set(timeline, name, std::move(v));
}

// ---- Calls -----------------------------------------------------------------------------------

Vm::Level::Level(Vm& vm) : vm_(vm) {
  if (vm.depth_ >= vm.max_calls_) {
    vm.Note("a script passed its levels of recursion: it was stopped");
    throw Stop{};
  }
  vm.Work();
  ++vm.depth_;
}

Value Vm::Call(const Value& fn, const Value& self, std::span<Value> args, Object* super) {
  if (!fn.IsObject() || fn.o->kind != Kind::Function) return Value{};
  Object* f = fn.o;
  const Level level(*this);
  if (f->native) return f->native(*this, self, args);
  if (f->script) return CallScript(f, self, args, super);
  return Value{};
}

Value Vm::CallScript(Object* fn, const Value& self, std::span<Value> args, Object* super) {
  const ScriptFunction& s = *fn->script;
  Frame f;
  f.scope = s.scope;
  Object* activation = NewObject(nullptr);
  activation->proto = nullptr;
  f.scope.push_back(activation);
  f.locals = activation;
  f.base = s.base;
  f.target = s.base;
  f.self = self;
  f.callee = fn;
  f.pool = s.pool;
  f.version = s.version;
  if (self.IsObject()) {
    f.super_this = self.o;
    // The prototype the method belongs to: a constructor's, or where `this` found it.
    if (super) {
      f.super_home = super;
    } else {
      const Value proto = Get(fn, "prototype");
      f.super_home = nullptr;
      for (Object* p = self.o->proto; p; p = p->proto) {
        if (proto.IsObject() && p == proto.o) {
          f.super_home = p;
          break;
        }
        bool holds = false;
        for (const Property& prop : p->props) {
          if (!prop.removed && prop.value.IsObject() && prop.value.o == fn) {
            holds = true;
            break;
          }
        }
        if (holds) {
          f.super_home = p;
          break;
        }
        if (p->proto == p) break;
      }
      if (!f.super_home) f.super_home = self.o->proto;
    }
  }
  const bool v2 = s.v2;
  const auto make_arguments = [&] {
    Object* a = NewArray(args);
    Define(a, "callee", Value::Obj(fn), DontEnum);
    Define(a, "caller", Value::Null(), DontEnum);
    return a;
  };
  if (v2) {
    f.registers.assign(std::size_t(std::max(s.registers, 1)), Value{});
    int r = 1;
    const auto preload = [&](std::uint16_t flag, const Value& v) {
      if ((s.flags & flag) && std::size_t(r) < f.registers.size())
        f.registers[std::size_t(r++)] = v;
    };
    preload(0x0001, self);
    if (s.flags & 0x0004) {
      preload(0x0004, Value::Obj(make_arguments()));
    } else if (!(s.flags & 0x0008)) {
      Define(activation, "arguments", Value::Obj(make_arguments()), DontEnum);
    }
    if (s.flags & 0x0010) {
      Object* sup = NewObject(f.super_home ? f.super_home->proto : nullptr);
      sup->super_this = f.super_this;
      sup->super_home = f.super_home;
      NoteSuperDepth(sup);
      preload(0x0010, Value::Obj(sup));
    }
    // Flash Player gives _global its register before _parent.
    preload(0x0040, Value::Obj(host_->RootOf(f.base)));
    preload(0x0100, Value::Obj(global));
    if (s.flags & 0x0080) {
      Object* p = f.base ? host_->Parent(f.base) : nullptr;
      preload(0x0080, p ? Value::Obj(p) : Value{});
    }
    if (!(s.flags & 0x0003)) Define(activation, "this", self, DontEnum);
    if (s.flags & 0x0020) f.super_this = nullptr;
  } else {
    Define(activation, "arguments", Value::Obj(make_arguments()), DontEnum);
    Define(activation, "this", self, DontEnum);
  }
  for (std::size_t i = 0; i < s.params.size(); ++i) {
    Value v = i < args.size() ? args[i] : Value{};
    const int reg = s.params[i].first;
    if (v2 && reg > 0) {
      if (std::size_t(reg) < f.registers.size()) f.registers[std::size_t(reg)] = std::move(v);
    } else {
      Define(activation, s.params[i].second, std::move(v));
    }
  }
  Value result;
  bool returned = false;
  f.stack_base = stack_.size();
  const int saved_version = block_version_;
  const int saved_rules = version_;
  Object* const saved_base = running_base_;
  block_version_ = s.version;
  if (s.version > 0) version_ = s.version;
  running_base_ = f.base;
  try {
    Execute(f, s.code, &result, &returned);
  } catch (...) {
    block_version_ = saved_version;
    version_ = saved_rules;
    running_base_ = saved_base;
    throw;
  }
  block_version_ = saved_version;
  version_ = saved_rules;
  running_base_ = saved_base;
  return result;
}

Value Vm::CallSuper(Object* sup, const std::string& method, std::span<Value> args) {
  // `this` stays; lookups start above the class the running method belongs to.
  // The class as many steps up from `this` as when `super` was made: a script may have
  // changed `this.__proto__` since.
  Object* home = sup->super_home;
  if (sup->primitive.type == Type::Number && sup->super_this) {
    home = sup->super_this;
    for (int i = 0; home && i < int(sup->primitive.n); ++i) home = home->proto;
  }
  Value fn;
  Object* holder = nullptr;
  if (method.empty()) {
    fn = home ? Get(home, "__constructor__") : Value{};
    if (!fn.IsObject() && home && home->proto) fn = Get(home->proto, "constructor");
    holder = home && home->proto ? home->proto : nullptr;
    const Value hp = fn.IsObject() ? Get(fn.o, "prototype") : Value{};
    if (hp.IsObject()) holder = hp.o;
  } else {
    int depth = 0;
    for (Object* p = home ? home->proto : nullptr; p && depth < 256; p = p->proto, ++depth) {
      if (FindOwn(p, method)) {
        holder = p;
        break;
      }
    }
    fn = holder ? Get(holder, method) : Value{};
  }
  if (fn.IsObject() && fn.o->native && fn.o->construct && method.empty()) {
    return fn.o->construct(*this, Value::Obj(sup->super_this), args);
  }
  return Call(fn, Value::Obj(sup->super_this), args, holder);
}

Value Vm::Construct(const Value& ctor, std::span<Value> args) {
  if (!ctor.IsObject() || ctor.o->kind != Kind::Function) return Value{};
  Object* c = ctor.o;
  const Value proto = Get(c, "prototype");
  Object* o = NewObject(proto.IsObject() ? proto.o : object_proto);
  if (version_ >= 6) Define(o, "__constructor__", ctor, DontEnum);
  if (version_ < 7) Define(o, "constructor", ctor, DontEnum);
  if (c->construct) {
    if (depth_ >= max_calls_) throw Stop{};
    ++depth_;
    Value r;
    try {
      r = c->construct(*this, Value::Obj(o), args);
    } catch (...) {
      --depth_;
      throw;
    }
    --depth_;
    if (r.IsObject()) return r;
    // A built-in refusing its arguments (BitmapData too large) makes nothing.
    if (r.IsNull()) return Value{};
    return Value::Obj(o);
  }
  Value r = Call(ctor, Value::Obj(o), args, proto.IsObject() ? proto.o : nullptr);
  if (c->native && r.IsObject()) return r;
  return Value::Obj(o);
}

Value Vm::CallSafe(Object* fn, const Value& self, std::span<Value> args) {
  const bool outer = running_;
  running_ = true;
  Value r;
  try {
    r = Call(Value::Obj(fn), self, args);
  } catch (const Stop&) {
    if (!outer) stack_.clear();
  } catch (const Thrown& t) {
    Trace("Warning: Uncaught exception, " + ToString(t.value));
  }
  running_ = outer;
  return r;
}

bool Vm::CallMethodSafe(Object* object, std::string_view method, std::span<Value> args) {
  const bool outer = running_;
  running_ = true;
  bool called = false;
  try {
    const Value fn = Get(object, method);
    if (fn.IsObject() && fn.o->kind == Kind::Function) {
      called = true;
      Call(fn, Value::Obj(object), args);
    }
  } catch (const Stop&) {
    if (!outer) stack_.clear();
  } catch (const Thrown& t) {
    Trace("Warning: Uncaught exception, " + ToString(t.value));
  }
  running_ = outer;
  return called;
}

void Vm::RunBlock(std::span<const std::uint8_t> code, Object* clip, int version) {
  Frame f;
  f.scope = {global, clip};
  f.locals = clip;
  f.base = clip;
  f.target = clip;
  f.self = Value::Obj(clip);
  f.version = version;
  // Each action block starts with four empty registers (a function's past its own count).
  Value saved_registers[4];
  for (int i = 0; i < 4; ++i) saved_registers[i] = std::exchange(global_registers_[i], Value{});
  const bool outer = running_;
  const int saved_version = block_version_;
  const int saved_rules = version_;
  Object* const saved_base = running_base_;
  block_version_ = version;
  if (version > 0) version_ = version;
  running_base_ = clip;
  running_ = true;
  try {
    Value result;
    bool returned = false;
    Execute(f, code, &result, &returned);
  } catch (const Stop&) {
    if (!outer) stack_.clear();
  } catch (const Thrown& t) {
    Trace("Warning: Uncaught exception, " + ToString(t.value));
  }
  block_version_ = saved_version;
  version_ = saved_rules;
  running_base_ = saved_base;
  running_ = outer;
  for (int i = 0; i < 4; ++i) global_registers_[i] = std::move(saved_registers[i]);
}

// ---- Timers ----------------------------------------------------------------------------------

int Vm::AddTimer(Timer t) {
  if (timers_.size() >= kMaxTimers) {
    Note("a movie set more than 256 intervals: the rest were left out");
    return 0;
  }
  t.id = next_timer_++;
  // No interval runs more often than once per 10 ms.
  t.interval = std::isfinite(t.interval) ? std::max(t.interval, 10.0) : 10.0;
  t.next = t.at_once ? now_ms : now_ms + t.interval;
  timers_.push_back(std::move(t));
  return timers_.back().id;
}

void Vm::ClearTimer(int id) {
  for (Timer& t : timers_) {
    if (t.id == id) t.target = nullptr;
  }
}

void Vm::RunTimers(double ms) {
  now_ms = ms;
  // A timer runs at most once a frame: one due many times over is late, never a burst.
  const std::size_t count = timers_.size();
  for (std::size_t i = 0; i < count && i < timers_.size(); ++i) {
    if (!timers_[i].target || timers_[i].next > ms) continue;
    Timer t = timers_[i];
    timers_[i].next = std::max(t.next + t.interval, ms);
    if (!t.repeat) timers_[i].target = nullptr;
    std::vector<Value> args = t.args;
    if (t.method.empty()) {
      CallSafe(t.target, Value{}, args);
    } else {
      CallMethodSafe(t.target, t.method, args);
    }
  }
  std::erase_if(timers_, [](const Timer& t) { return t.target == nullptr; });
}

// ---- The interpreter -------------------------------------------------------------------------

void Vm::Execute(Frame& f, std::span<const std::uint8_t> code, Value* result, bool* returned) {
  std::size_t pc = 0;
  const std::size_t size = code.size();
  const std::uint8_t* bytes = code.data();
  const auto pop_num = [this] { return ToNumber(Pop()); };
  const auto pop_str = [this] { return ToString(Pop()); };
  // Both operands popped, then converted left first: their valueOf calls run in that order.
  const auto pop_nums = [this] {
    const Value b = Pop();
    const Value a = Pop();
    const double x = ToNumber(a);
    return std::pair<double, double>(x, ToNumber(b));
  };
  const auto push = [this](Value v) { PushValue(std::move(v)); };
  const bool swf4 = f.version <= 4;
  const bool swf5 = f.version <= 5;
  const auto push_bool = [&](bool b) { push(swf4 ? Value::Num(b ? 1 : 0) : Value::Bool(b)); };
  const auto reg = [&](std::size_t r) -> Value* {
    if (!f.registers.empty() && r < f.registers.size()) return &f.registers[r];
    if (r < 4) return &global_registers_[r];
    return nullptr;
  };
  const auto pop_args = [&] {
    const double n = pop_num();
    const std::size_t count = std::isfinite(n) && n > 0 ? std::size_t(std::min(n, 65535.0)) : 0;
    std::vector<Value> args;
    args.reserve(std::min(count, stack_.size()));
    for (std::size_t i = 0; i < count; ++i) args.push_back(Pop());
    return args;
  };
  const auto string_of = [this](std::string_view raw) { return DecodeString(raw); };
  // A clip the timeline actions name: a path goes from the current target.
  const auto target_of = [&](const Value& v) -> Object* {
    if (v.type != Type::String || !f.target) return TargetOf(v);
    Object* found = ResolvePath(f.target, v.s);
    return found && found->kind == Kind::Clip && found->clip ? found : nullptr;
  };
  // The actions of a removed clip (a frame's, an event's, a function's) run on until their next
  // call (of an object's method or by name) returns.
  bool called = false;
  while (pc < size) {
    Work();
    if (called && f.base && f.base->kind == Kind::Clip && !f.base->clip) return;
    called = false;
    const std::uint8_t op = bytes[pc];
    if (op == 0) return;
    std::size_t length = 0;
    std::size_t next = pc + 1;
    if (op >= 0x80) {
      if (pc + 3 > size) return;
      length = std::size_t(bytes[pc + 1] | (bytes[pc + 2] << 8));
      next = pc + 3 + length;
      if (next > size) return;
    }
    Data d{bytes + pc + 3, length};
    Object* target = f.target;
    switch (op) {
      // ---- Timeline ----
      case 0x04:  // NextFrame
        if (target && target->clip)
          host_->GotoFrame(target, host_->CurrentFrame(target) + 1, false);
        break;
      case 0x05:  // PreviousFrame
        if (target && target->clip)
          host_->GotoFrame(target, host_->CurrentFrame(target) - 1, false);
        break;
      case 0x06:  // Play
        if (target && target->clip) host_->SetPlaying(target, true);
        break;
      case 0x07:  // Stop
        if (target && target->clip) host_->SetPlaying(target, false);
        break;
      case 0x08:  // ToggleQuality
      case 0x09:  // StopSounds
        break;
      case 0x81:  // GotoFrame
        if (target && target->clip) host_->GotoFrame(target, d.U16(), false);
        break;
      case 0x8C:  // GotoLabel
        if (target && target->clip) host_->GotoLabel(target, string_of(d.Str()), false, 0);
        break;
      case 0x9F: {  // GotoFrame2
        const std::uint8_t flags = d.U8();
        const int bias = (flags & 0x02) ? d.U16() : 0;
        GotoValue(target, Pop(), (flags & 0x01) != 0, bias);
        break;
      }
      case 0x8A:    // WaitForFrame
      case 0x8D: {  // WaitForFrame2
        int frame = 0;
        if (op == 0x8A) frame = d.U16();
        const int skip = d.U8();  // both forms end with the count of actions to skip
        bool loaded = false;
        if (op == 0x8D) {
          // The movie is all there: Flash Player then counts any frame loaded up to 16001
          // (as 32-bit integers), and a frame that isn't a whole number is a label, none
          // found being no wait either.
          const Value v = Pop();
          const double n = ToNumber(v);
          const bool label = v.type == Type::String ? !std::isfinite(StringToNumber(v.s, 7))
                                                    : std::isfinite(n) && n != std::trunc(n);
          const auto index = std::int32_t(std::uint32_t(ToInt32(Value::Num(n))) - 1u);
          loaded = target && target->clip && (label || index <= 16000);
        } else {
          loaded = target && target->clip && frame < host_->FramesLoaded(target);
        }
        if (!loaded) {
          for (int i = 0; i < skip && next < size; ++i) {
            std::size_t n = next + 1;
            if (bytes[next] >= 0x80 && next + 3 <= size) {
              n = next + 3 + std::size_t(bytes[next + 1] | (bytes[next + 2] << 8));
            }
            next = n;
          }
        }
        break;
      }
      case 0x83: {  // GetURL
        const std::string url = string_of(d.Str());
        const std::string window = string_of(d.Str());
        host_->GetUrl(url, window, 0);
        break;
      }
      case 0x9A: {  // GetURL2
        const std::uint8_t flags = d.U8();
        std::string window = pop_str();
        const std::string url = pop_str();
        if (flags & 0x40) {
          // A clip's path, from the running timeline: the host resolves from the root.
          Object* at = ResolvePath(f.target ? f.target : f.base, window);
          if (at && at->kind == Kind::Clip && at->clip) window = ClipPath(at, false);
        }
        host_->GetUrl(url, window, flags);
        break;
      }
      case 0x8B: {  // SetTarget
        const std::string path = string_of(d.Str());
        f.target = path.empty() ? f.base : ResolvePath(f.base, path);
        // A target not found: SWF 5 and 6 movies act on the root, SWF 4 ones on nothing.
        if (!f.target && f.version <= 6 && !Swf4Block()) f.target = RunningRoot();
        if (f.scope.size() > 1) f.scope[1] = f.target ? f.target : f.base;
        break;
      }
      case 0x20: {  // SetTarget2
        // A clip is taken by its path, found again (the first of its name); anything else by
        // its string.
        const Value v = Pop();
        const bool clip = v.IsObject() && v.o->kind == Kind::Clip && v.o->clip;
        const std::string path = clip ? ClipPath(v.o, false) : ToString(v);
        Object* t = path.empty() ? f.base : ResolvePath(f.base, path);
        if (t && !(t->kind == Kind::Clip && t->clip)) t = nullptr;
        if (!t && f.version <= 6 && !Swf4Block()) t = RunningRoot();
        f.target = t;
        if (f.scope.size() > 1) f.scope[1] = t ? t : f.base;
        break;
      }
      // ---- Stack and constants ----
      case 0x88: {  // ConstantPool
        auto pool = std::make_shared<std::vector<std::string>>();
        const std::size_t count = d.U16();
        for (std::size_t i = 0; i < count && d.i < d.n; ++i) pool->push_back(string_of(d.Str()));
        Charge(length);
        f.pool = std::move(pool);
        break;
      }
      case 0x96:  // Push
        while (d.i < d.n) {
          switch (d.U8()) {
            case 0:
              push(Value::Str(string_of(d.Str())));
              break;
            case 1:
              push(Value::Num(double(std::bit_cast<float>(d.U32()))));
              break;
            case 2:
              push(Value::Null());
              break;
            case 3:
              push(Value{});
              break;
            case 4: {
              const Value* r = reg(d.U8());
              push(r ? *r : Value{});
              break;
            }
            case 5:
              push_bool(d.U8() != 0);
              break;
            case 6: {
              const std::uint64_t high = d.U32();
              const std::uint64_t low = d.U32();
              push(Value::Num(std::bit_cast<double>((high << 32) | low)));
              break;
            }
            case 7:
              push(Value::Num(double(std::int32_t(d.U32()))));
              break;
            case 8:
            case 9: {
              const std::size_t i = d.p[d.i - 1] == 8 ? d.U8() : d.U16();
              if (f.pool && i < f.pool->size()) {
                push(Value::Str((*f.pool)[i]));
              } else {
                push(Value{});
              }
              break;
            }
            default:
              d.i = d.n;
              break;
          }
        }
        break;
      case 0x17:  // Pop
        Pop();
        break;
      case 0x4C: {  // PushDuplicate
        Value v = stack_.empty() ? Value{} : stack_.back();
        push(std::move(v));
        break;
      }
      case 0x4D: {  // StackSwap
        Value a = Pop();
        Value b = Pop();
        push(std::move(a));
        push(std::move(b));
        break;
      }
      case 0x87: {  // StoreRegister
        if (Value* r = reg(d.U8())) *r = stack_.empty() ? Value{} : stack_.back();
        break;
      }
      // ---- Arithmetic ----
      case 0x0A: {  // Add
        const auto [a, b] = pop_nums();
        push(Value::Num(a + b));
        break;
      }
      case 0x0B: {  // Subtract
        const auto [a, b] = pop_nums();
        push(Value::Num(a - b));
        break;
      }
      case 0x0C: {  // Multiply
        const auto [a, b] = pop_nums();
        push(Value::Num(a * b));
        break;
      }
      case 0x0D: {  // Divide
        const auto [a, b] = pop_nums();
        if (swf4 && b == 0) {
          push(Value::Str("#ERROR#"));
        } else {
          push(Value::Num(a / b));
        }
        break;
      }
      case 0x3F: {  // Modulo
        const auto [a, b] = pop_nums();
        push(Value::Num(std::fmod(a, b)));
        break;
      }
      case 0x0E: {  // Equals: the right operand is converted first
        const double b = pop_num();
        push_bool(pop_num() == b);
        break;
      }
      case 0x0F: {  // Less
        const auto [a, b] = pop_nums();
        push_bool(a < b);
        break;
      }
      case 0x10: {  // And
        const bool b = ToBoolean(Pop());
        push_bool(ToBoolean(Pop()) && b);
        break;
      }
      case 0x11: {  // Or
        const bool b = ToBoolean(Pop());
        push_bool(ToBoolean(Pop()) || b);
        break;
      }
      case 0x12:  // Not
        push_bool(!ToBoolean(Pop()));
        break;
      case 0x18: {  // ToInteger
        const double n = pop_num();
        push(Value::Num(std::isfinite(n) ? std::trunc(n) : (std::isnan(n) ? 0 : n)));
        break;
      }
      case 0x47: {  // Add2
        // valueOf first; an object it leaves is taken as its string.
        const auto operand = [this](const Value& v) {
          Value p = ToPrimitive(v);
          return p.IsObject() ? Value::Str(ToString(v)) : p;
        };
        const Value b = operand(Pop());
        const Value a = operand(Pop());
        if (a.type == Type::String || b.type == Type::String) {
          std::string s = ToString(a) + ToString(b);
          if (s.size() > kMaxStringBytes) {
            Note("a string passed its limit of 16 MB: the script was stopped");
            throw Stop{};
          }
          Work(s.size() / 4096);
          push(Value::Str(std::move(s)));
        } else {
          push(Value::Num(ToNumber(a) + ToNumber(b)));
        }
        break;
      }
      case 0x48: {  // Less2
        const Value b = Pop();
        push(Less(Pop(), b));
        break;
      }
      case 0x67: {  // Greater
        const Value b = Pop();
        push(Less(b, Pop()));
        break;
      }
      case 0x49: {  // Equals2
        const Value b = Pop();
        push(Value::Bool(Equals(Pop(), b)));
        break;
      }
      case 0x66: {  // StrictEquals
        const Value b = Pop();
        push(Value::Bool(StrictEquals(Pop(), b)));
        break;
      }
      case 0x4A:  // ToNumber
        push(Value::Num(pop_num()));
        break;
      case 0x4B:  // ToString
        push(Value::Str(pop_str()));
        break;
      case 0x50:  // Increment
        push(Value::Num(pop_num() + 1));
        break;
      case 0x51:  // Decrement
        push(Value::Num(pop_num() - 1));
        break;
      case 0x60:
      case 0x61:
      case 0x62:
      case 0x63:
      case 0x64:
      case 0x65: {
        const std::int32_t b = ToInt32(Pop());
        const std::int32_t a = ToInt32(Pop());
        double r = 0;
        switch (op) {
          case 0x60:
            r = a & b;
            break;
          case 0x61:
            r = a | b;
            break;
          case 0x62:
            r = a ^ b;
            break;
          case 0x63:
            r = std::int32_t(std::uint32_t(a) << (b & 31));
            break;
          case 0x64:
            r = a >> (b & 31);
            break;
          default:
            // Flash Player leaves a shift by 0 signed for movies up to SWF 8.
            r = (b & 31) == 0 && f.version <= 8 ? double(a) : double(std::uint32_t(a) >> (b & 31));
            break;
        }
        push(Value::Num(r));
        break;
      }
      // ---- Strings ----
      case 0x13: {  // StringEquals
        const std::string b = pop_str();
        push_bool(pop_str() == b);
        break;
      }
      case 0x29: {  // StringLess
        const std::string b = pop_str();
        push_bool(pop_str() < b);
        break;
      }
      case 0x68: {  // StringGreater
        const std::string b = pop_str();
        push_bool(pop_str() > b);
        break;
      }
      case 0x14:    // StringLength
      case 0x31: {  // MBStringLength
        const std::string s = pop_str();
        double n = double(s.size());
        if (op == 0x31 || !swf5) n = double(Utf16Length(s));
        push(Value::Num(n));
        break;
      }
      case 0x21: {  // StringAdd
        const std::string b = pop_str();
        std::string a = pop_str();
        if (a.size() + b.size() > kMaxStringBytes) throw Stop{};
        push(Value::Str(a + b));
        break;
      }
      case 0x15:    // StringExtract
      case 0x35: {  // MBStringExtract
        // 1-based index and count as 32-bit integers; a count below 0 takes the rest.
        const std::int32_t count = ToInt32(Pop());
        const std::int32_t index = ToInt32(Pop());
        const std::u32string s = Utf16Units(pop_str());
        const std::size_t start = std::min(std::size_t(std::max(index - 1, 0)), s.size());
        const std::size_t n =
            count < 0 ? s.size() - start : std::min(std::size_t(count), s.size() - start);
        push(Value::Str(FromUtf16Units(std::u32string_view(s).substr(start, n))));
        break;
      }
      case 0x32:    // CharToAscii
      case 0x36: {  // MBCharToAscii
        const std::u32string s = Utf16Units(pop_str());
        char32_t c = s.empty() ? 0 : s[0];
        if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;  // half of a pair
        push(Value::Num(double(c)));
        break;
      }
      case 0x33:    // AsciiToChar
      case 0x37: {  // MBAsciiToChar
        const auto c = char32_t(std::uint32_t(ToInt32(Pop())) & 0xFFFF);
        push(Value::Str(c == 0 ? std::string() : FromUtf16Units(std::u32string_view(&c, 1))));
        break;
      }
      // ---- Variables and properties ----
      case 0x1C: {  // GetVariable
        const std::string name = pop_str();
        Value v = GetVariable(f, name);
        // A clip is no value in SWF 4 scripts: they reach clips through paths alone.
        if (Swf4Block() && v.IsObject() && v.o->kind == Kind::Clip) v = Value{};
        push(std::move(v));
        break;
      }
      case 0x1D: {  // SetVariable
        Value v = Pop();
        SetVariable(f, pop_str(), std::move(v));
        break;
      }
      case 0x3C: {  // DefineLocal
        Value v = Pop();
        const std::string name = pop_str();
        std::string_view path, var;
        const bool has_path = SplitPath(name, path, var, Swf4Block());
        if (f.callee && has_path) {
          // In a function a path is a plain name, and of the timeline.
          if (f.target) Define(f.target, name, std::move(v));
        } else if (has_path) {
          SetVariable(f, name, std::move(v));  // a path names where it goes
        } else if (f.callee) {
          Define(f.locals, name, std::move(v));
        } else {
          Set(f.scope.size() > 1 ? f.scope[1] : f.locals, name, std::move(v));
        }
        break;
      }
      case 0x41: {  // DefineLocal2
        const std::string name = pop_str();
        std::string_view path, var;
        Object* where = f.callee ? f.locals : (f.scope.size() > 1 ? f.scope[1] : f.locals);
        std::string own = name;
        if (!f.callee && SplitPath(name, path, var, Swf4Block())) {
          where = PathTarget(f, path);
          own = std::string(var);
        }
        if (where && !own.empty() && !FindOwn(where, own)) Define(where, own, Value{});
        break;
      }
      case 0x22: {  // GetProperty
        const double index = pop_num();
        const Value where = Pop();
        Object* clip = where.type == Type::String && where.s.empty() ? target : target_of(where);
        Value v;
        if (clip && std::isfinite(index) && index > -1 && index < 22) {
          v = host_->GetProperty(clip, int(index));  // the index truncated: -0.8 is _x
        }
        push(std::move(v));
        break;
      }
      case 0x23: {  // SetProperty
        Value v = Pop();
        const double index = pop_num();
        const Value where = Pop();
        Object* clip = where.type == Type::String && where.s.empty() ? target : target_of(where);
        if (clip && clip->clip && std::isfinite(index) && index > -1 && index < 22) {
          host_->SetProperty(clip, int(index), v);
        }
        break;
      }
      case 0x4E: {  // GetMember
        const Value name = Pop();
        const Value object = Pop();
        push(GetMember(object, ToString(name)));
        break;
      }
      case 0x4F: {  // SetMember
        Value v = Pop();
        const std::string name = pop_str();
        const Value object = Pop();
        SetMember(object, name, std::move(v));
        break;
      }
      case 0x3A: {  // Delete
        const std::string name = pop_str();
        const Value object = Pop();
        push_bool(object.IsObject() && Delete(object.o, name));
        break;
      }
      case 0x3B: {  // Delete2
        const std::string name = pop_str();
        bool done = false;
        const std::size_t last = name.find_last_of(".:");
        if (last != std::string::npos && last > 0 && last + 1 < name.size()) {
          // A path: what its head names loses the last name.
          const Value at = GetVariable(f, name.substr(0, last));
          if (at.type == Type::String || at.type == Type::Number || at.type == Type::Boolean) {
            Trace(
                "Parameters of primitive types are no longer coerced into the required type - "
                "Object.");
          }
          push_bool(at.IsObject() && Delete(at.o, std::string_view(name).substr(last + 1)));
          break;
        }
        for (std::size_t i = f.scope.size(); i-- > 0 && !done;) {
          if (FindOwn(f.scope[i], name)) done = Delete(f.scope[i], name), i = 0;
        }
        push_bool(done);
        break;
      }
      case 0x44:  // TypeOf
        push(Value::Str(TypeOf(Pop())));
        break;
      case 0x45: {  // TargetPath
        const Value v = Pop();
        if (v.IsObject() && v.o->kind == Kind::Clip && v.o->clip) {
          push(Value::Str(ClipPath(v.o, f.version <= 4)));  // dots from SWF 5 on
        } else if (Value path = v.IsObject() ? host_->GetProperty(v.o, 11) : Value{};
                   path.type == Type::String && !path.s.empty() && path.s[0] == '/') {
          // Another display object (a text field): its _target, in dots from SWF 5 on.
          if (f.version > 4) {
            std::replace(path.s.begin(), path.s.end(), '/', '.');
            path.s.insert(0, "_level0");
          }
          push(std::move(path));
        } else {
          push(Value{});
        }
        break;
      }
      case 0x46:    // Enumerate
      case 0x55: {  // Enumerate2
        Value v = Pop();
        if (op == 0x46) {
          const std::string name = ToString(v);
          v = GetVariable(f, name);
        }
        push(Value::Null());
        if (v.IsObject()) {
          std::vector<std::string> names = Enumerate(v.o);
          if (v.o->kind == Kind::Clip && v.o->clip) {
            // The clip's named children too: the host lists them as own properties.
          }
          Work(names.size());
          for (std::string& name : names) push(Value::Str(std::move(name)));
        }
        break;
      }
      // ---- Objects ----
      case 0x42: {  // InitArray
        std::vector<Value> items = pop_args();
        push(Value::Obj(NewArray(items)));
        break;
      }
      case 0x43: {  // InitObject
        const double n = pop_num();
        const std::size_t count = std::isfinite(n) && n > 0 ? std::size_t(std::min(n, 65535.0)) : 0;
        Object* o = NewObject();
        std::vector<std::pair<std::string, Value>> pairs;
        for (std::size_t i = 0; i < count && !stack_.empty(); ++i) {
          Value v = Pop();
          pairs.emplace_back(pop_str(), std::move(v));
        }
        // Set as popped, the last pair first: for..in then lists them in the written order.
        for (auto& [key, value] : pairs) Set(o, key, std::move(value));
        push(Value::Obj(o));
        break;
      }
      case 0x3D: {  // CallFunction
        called = true;
        const std::string name = pop_str();
        std::vector<Value> args = pop_args();
        const Value fn = GetVariable(f, name);
        if (name == "super" && fn.IsObject() && fn.o->super_this) {
          push(CallSuper(fn.o, {}, args));  // a SWF 6 class's super()
          break;
        }
        if (!fn.IsObject() || fn.o->kind != Kind::Function) {
          push(Value{});
          break;
        }
        // A function called by name runs on the timeline that calls it, or on the `with`
        // object it was found on.
        Value self = f.target ? Value::Obj(f.target) : Value{};
        for (std::size_t i = f.scope.size(); i-- > 1 && !f.withs.empty();) {
          Object* s = f.scope[i];
          const bool with = std::find(f.withs.begin(), f.withs.end(), s) != f.withs.end();
          bool found = false;
          if (s->kind == Kind::Clip && s->clip) (void)ClipGet(s, name, &found);
          found = found || HasProperty(s, name);
          if (found) {
            if (with) self = Value::Obj(s);
            break;
          }
        }
        // A path names the object the function runs on ("_root.clip.gotoAndStop").
        std::string_view path, var;
        if (SplitPath(name, path, var, Swf4Block()) && !var.empty()) {
          if (Object* at = PathTarget(f, path)) self = Value::Obj(at);
        }
        push(Call(fn, self, args));
        break;
      }
      case 0x52: {  // CallMethod
        const Value name = Pop();
        const Value object = Pop();
        std::vector<Value> args = pop_args();
        const std::string method = name.IsUndefined() ? std::string() : ToString(name);
        called = object.IsObject();
        if (object.IsObject() && object.o->super_this) {
          push(CallSuper(object.o, method, args));
          break;
        }
        if (method.empty()) {
          push(Call(object, Value{}, args));
          break;
        }
        const Value fn = GetMember(object, method);
        if (!fn.IsObject() || fn.o->kind != Kind::Function) {
          push(Value{});
          break;
        }
        // A reference to a clip that left calls on the clip now at its path.
        Object* self = object.IsObject() ? Live(object.o) : nullptr;
        push(Call(fn, self ? Value::Obj(self) : object, args));
        break;
      }
      case 0x40: {  // NewObject
        called = true;
        const std::string name = pop_str();
        std::vector<Value> args = pop_args();
        const Value ctor = GetVariable(f, name);
        push(Construct(ctor, args));
        break;
      }
      case 0x53: {  // NewMethod
        const Value name = Pop();
        const Value object = Pop();
        std::vector<Value> args = pop_args();
        const std::string method = name.IsUndefined() ? std::string() : ToString(name);
        called = object.IsObject();
        const Value ctor = method.empty() ? object : GetMember(object, method);
        push(Construct(ctor, args));
        break;
      }
      case 0x54: {  // InstanceOf
        const Value ctor = Pop();
        const Value v = Pop();
        push(Value::Bool(ctor.IsObject() && InstanceOf(v, ctor.o)));
        break;
      }
      case 0x2B: {  // CastOp
        const Value v = Pop();
        const Value ctor = Pop();
        push(ctor.IsObject() && InstanceOf(v, ctor.o) ? v : Value::Null());
        break;
      }
      case 0x2C: {  // ImplementsOp
        const Value ctor = Pop();
        const std::vector<Value> interfaces = pop_args();
        Implement(ctor, interfaces);
        break;
      }
      case 0x69: {  // Extends
        const Value super_class = Pop();
        const Value sub_class = Pop();
        if (super_class.IsObject() && sub_class.IsObject()) {
          const Value super_proto = Get(super_class.o, "prototype");
          Object* proto = NewObject(super_proto.IsObject() ? super_proto.o : nullptr);
          if (!super_proto.IsObject()) proto->proto = nullptr;
          Define(proto, "__constructor__", super_class, DontEnum);
          Set(sub_class.o, "prototype", Value::Obj(proto));
        }
        break;
      }
      case 0x2A:  // Throw
        throw Thrown{Pop()};
      // ---- Functions and flow ----
      case 0x9B:    // DefineFunction
      case 0x8E: {  // DefineFunction2
        auto fn = std::make_shared<ScriptFunction>();
        fn->name = string_of(d.Str());
        const std::size_t params = d.U16();
        if (op == 0x8E) {
          fn->v2 = true;
          fn->registers = d.U8();
          fn->flags = d.U16();
        }
        for (std::size_t i = 0; i < params && d.i < d.n; ++i) {
          int r = 0;
          if (op == 0x8E) r = d.U8();
          fn->params.emplace_back(r, string_of(d.Str()));
        }
        const std::size_t body = d.U16();
        const std::size_t end = std::min(next + body, size);
        fn->code = code.subspan(next, end - next);
        next = end;
        fn->pool = f.pool;
        fn->scope = f.scope;
        fn->base = f.base;
        fn->version = f.version;
        Object* function = NewObject(function_proto);
        function->kind = Kind::Function;
        const std::string name = fn->name;
        function->script = std::move(fn);
        Object* proto = NewObject();
        Define(function, "prototype", Value::Obj(proto), DontEnum);
        Define(proto, "constructor", Value::Obj(function), DontEnum);
        std::string_view path, var;
        if (name.empty()) {
          push(Value::Obj(function));
        } else if (!f.callee && SplitPath(name, path, var, Swf4Block())) {
          SetVariable(f, name, Value::Obj(function));
        } else if (f.callee) {
          Define(f.locals, name, Value::Obj(function));
        } else {
          Set(f.scope.size() > 1 ? f.scope[1] : f.locals, name, Value::Obj(function));
        }
        break;
      }
      case 0x3E:  // Return
        *result = Pop();
        *returned = true;
        return;
      case 0x99: {  // Jump
        const auto offset = std::int16_t(d.U16());
        const std::int64_t to = std::int64_t(next) + offset;
        if (to < 0 || to > std::int64_t(size)) return;
        next = std::size_t(to);
        break;
      }
      case 0x9D: {  // If
        const auto offset = std::int16_t(d.U16());
        if (ToBoolean(Pop())) {
          const std::int64_t to = std::int64_t(next) + offset;
          if (to < 0 || to > std::int64_t(size)) return;
          next = std::size_t(to);
        }
        break;
      }
      case 0x9E: {  // Call: a frame's actions, run now on the target
        called = true;
        Value frame = Pop();
        Object* clip = target && target->kind == Kind::Clip && !target->clip ? StandIn(f) : target;
        if (frame.type == Type::String) {
          // "path:frame" names another clip's frame.
          const std::size_t colon = frame.s.rfind(':');
          if (colon != std::string::npos) {
            clip = ResolvePath(clip, frame.s.substr(0, colon));
            frame = Value::Str(frame.s.substr(colon + 1));
          }
        }
        if (!clip || clip->kind != Kind::Clip || !clip->clip) break;
        const double n = frame.type == Type::String ? StringToNumber(frame.s, 7) : ToNumber(frame);
        const Level level(*this);  // a frame may call itself
        if (std::isfinite(n)) {
          host_->CallFrame(clip, int(std::clamp(n, 0.0, 70000.0)) - 1, {});
        } else {
          host_->CallFrame(clip, -1, frame.s);
        }
        break;
      }
      case 0x94: {  // With
        const std::size_t body = d.U16();
        const std::size_t end = std::min(next + body, size);
        const Value v = Pop();
        Object* o = ToObject(v);
        if (o && f.scope.size() < 64) {
          f.scope.push_back(o);
          f.withs.push_back(o);
          try {
            Execute(f, code.subspan(next, end - next), result, returned);
          } catch (...) {
            f.scope.pop_back();
            f.withs.pop_back();
            throw;
          }
          f.scope.pop_back();
          f.withs.pop_back();
          if (*returned) return;
        }
        next = end;
        break;
      }
      case 0x8F: {  // Try
        const std::uint8_t flags = d.U8();
        const std::size_t try_size = d.U16();
        const std::size_t catch_size = d.U16();
        const std::size_t finally_size = d.U16();
        std::string catch_name;
        int catch_reg = -1;
        if (flags & 0x04) {
          catch_reg = d.U8();
        } else {
          catch_name = string_of(d.Str());
        }
        const std::size_t try_end = std::min(next + try_size, size);
        const std::size_t catch_end = std::min(try_end + catch_size, size);
        const std::size_t finally_end = std::min(catch_end + finally_size, size);
        const auto run = [&](std::size_t from, std::size_t to) {
          Execute(f, code.subspan(from, to - from), result, returned);
        };
        bool pending = false;
        Value pending_value;
        try {
          run(next, try_end);
        } catch (const Thrown& t) {
          if (flags & 0x01) {
            if (catch_reg >= 0) {
              if (Value* r = reg(std::size_t(catch_reg))) *r = t.value;
            } else if (f.callee) {
              Define(f.locals, catch_name, t.value);
            } else {
              SetVariable(f, catch_name, t.value);
            }
            try {
              run(try_end, catch_end);
            } catch (const Thrown& again) {
              pending = true;
              pending_value = again.value;
            }
          } else {
            pending = true;
            pending_value = t.value;
          }
        }
        if (flags & 0x02) {
          const bool had_return = *returned;
          Value kept = *result;
          *returned = false;
          run(catch_end, finally_end);
          if (*returned) {
            pending = false;  // a return in finally wins
          } else {
            *returned = had_return;
            *result = std::move(kept);
          }
        }
        if (pending) throw Thrown{std::move(pending_value)};
        if (*returned) return;
        next = finally_end;
        break;
      }
      case 0x26:  // Trace
      {
        const Value v = Pop();
        try {
          Trace(v.IsUndefined() ? "undefined" : ToString(v));
        } catch (const Thrown&) {
          // A toString that throws: Flash Player still prints the object, then the error goes on.
          Trace("[type Object]");
          throw;
        }
        break;
      }
      case 0x34:  // GetTime
        push(Value::Num(std::floor(now_ms)));
        break;
      case 0x30: {  // RandomNumber
        const double n = pop_num();
        const double max = std::isfinite(n) ? std::trunc(n) : 0;
        push(Value::Num(max <= 0 ? 0 : std::floor(Random() * max)));
        break;
      }
      case 0x24: {  // CloneSprite
        const double depth = pop_num();
        const std::string name = pop_str();
        const Value of = Pop();
        Object* clip = target_of(of);
        // A text field copies too: the host knows it by its object.
        if (!clip && of.IsObject()) clip = Live(of.o);
        if (clip && std::isfinite(depth)) host_->DuplicateClip(clip, name, int(depth) - 16384);
        break;
      }
      case 0x25: {  // RemoveSprite
        Object* clip = target_of(Pop());
        if (clip) host_->RemoveClip(clip);
        break;
      }
      case 0x27: {  // StartDrag
        Object* clip = target_of(Pop());
        const bool lock = ToBoolean(Pop());
        if (ToBoolean(Pop())) {
          for (int i = 0; i < 4; ++i) Pop();
        }
        if (clip) host_->StartDrag(clip, lock);
        break;
      }
      case 0x28:  // EndDrag
        host_->StopDrag();
        break;
      default: {
        static constexpr char kHex[] = "0123456789ABCDEF";
        LeftOut(std::string("action 0x") + kHex[op >> 4] + kHex[op & 15]);
        break;
      }
    }
    pc = next;
  }
}

}  // namespace swf::avm1
