// The objects of the player itself: AsBroadcaster, Key, Mouse, Stage, System and its
// capabilities, Selection, ContextMenu, PrintJob, Accessibility; and the helpers the other files
// of built-in classes share.
#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cmath>

#include "swf/avm1/objects.h"

namespace swf::avm1 {

Object* DefineClass(Vm& vm, Object* where, std::string_view name, NativeFn construct,
                    Object** proto, Object* parent, NativeFn call) {
  Object* p = vm.NewObject(parent);
  const auto nothing = [](Vm&, const Value&, std::span<Value>) { return Value{}; };
  Object* ctor = vm.NewFunction(call ? call : +nothing, p, construct);
  vm.Define(where, name, Value::Obj(ctor), DontEnum);
  if (proto) *proto = p;
  return ctor;
}

void DefineAccessor(Vm& vm, Object* o, std::string_view name, NativeFn get, NativeFn set,
                    std::uint16_t flags) {
  vm.Define(o, name, Value{}, flags);
  Property* p = vm.FindOwn(o, name);
  if (!p) return;
  p->getter = vm.NewFunction(get);
  p->setter = set ? vm.NewFunction(set) : nullptr;
}

Object* Package(Vm& vm, std::string_view dotted) {
  Object* at = vm.global;
  while (!dotted.empty()) {
    const std::size_t dot = std::min(dotted.find('.'), dotted.size());
    const std::string_view part = dotted.substr(0, dot);
    const auto it = at->index.find(vm.Key(part));
    const Property* p = it == at->index.end() ? nullptr : &at->props[it->second];
    if (p && p->value.IsObject()) {
      at = p->value.o;
    } else {
      Object* made = vm.NewObject();
      vm.Define(at, part, Value::Obj(made), at == vm.global ? DontEnum | 0x1000 : DontEnum);
      at = made;
    }
    dotted.remove_prefix(std::min(dot + 1, dotted.size()));
  }
  return at;
}

std::string MovieFileName(std::string_view url) {
  if (url.empty() || url.size() > 1024) return {};
  // No scheme (http:, file:, C:), no absolute path, no way up.
  if (url.find(':') != std::string_view::npos || url[0] == '/' || url[0] == '\\') return {};
  std::string name(url.substr(0, url.find_first_of("?#")));
  std::replace(name.begin(), name.end(), '\\', '/');
  std::size_t start = 0;
  while (start <= name.size()) {
    const std::size_t slash = std::min(name.find('/', start), name.size());
    const std::string_view part(name.data() + start, slash - start);
    if (part == ".." || (part.empty() && slash != name.size())) return {};
    start = slash + 1;
  }
  for (char c : name) {
    if (std::uint8_t(c) < 0x20) return {};
  }
  return name;
}

bool CallMethod(Vm& vm, Object* object, std::string_view method, std::span<Value> args,
                Value* result) {
  if (!object) return false;
  const Value fn = vm.Get(object, method);
  if (!fn.IsObject() || fn.o->kind != Kind::Function) return false;
  Value r = vm.Call(fn, Value::Obj(object), args);
  if (result) *result = std::move(r);
  return true;
}

int ToIntClamped(Vm& vm, const Value& v) {
  const double n = vm.ToNumber(v);
  if (std::isnan(n)) return 0;
  return int(std::clamp(n, -2147483648.0, 2147483647.0));
}

Value NoOp(Vm&, const Value&, std::span<Value>) {
  return Value{};
}
Value ReturnFalse(Vm&, const Value&, std::span<Value>) {
  return Value::Bool(false);
}
Value ReturnTrue(Vm&, const Value&, std::span<Value>) {
  return Value::Bool(true);
}

namespace {

// ---- AsBroadcaster ----

// Listener lists hold at most this many: a movie adding without end is refused past it.
constexpr std::int64_t kMaxListeners = 4096;

Object* Listeners(Vm& vm, const Value& self) {
  if (!self.IsObject()) return nullptr;
  const Value l = vm.Get(self.o, "_listeners");
  return l.IsObject() ? l.o : nullptr;
}
Value RemoveListener(Vm& vm, const Value& self, std::span<Value> args) {
  Object* list = Listeners(vm, self);
  if (!list) return Value::Bool(false);
  const Value who = Arg(args, 0);
  std::vector<Value> items = vm.Elements(list);
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!Vm::StrictEquals(items[i], who)) continue;
    items.erase(items.begin() + std::ptrdiff_t(i));
    vm.SetLength(list, 0);
    for (Value& v : items) vm.Push(list, std::move(v));
    return Value::Bool(true);
  }
  return Value::Bool(false);
}
Value AddListener(Vm& vm, const Value& self, std::span<Value> args) {
  Object* list = Listeners(vm, self);
  if (!list) return Value::Bool(true);
  RemoveListener(vm, self, args.subspan(0, std::min<std::size_t>(args.size(), 1)));
  if (vm.Length(list) < kMaxListeners) vm.Push(list, Arg(args, 0));
  return Value::Bool(true);
}
Value BroadcastMessage(Vm& vm, const Value& self, std::span<Value> args) {
  Object* list = Listeners(vm, self);
  if (!list || args.empty()) return Value{};
  const std::string method = vm.ToString(args[0]);
  const std::vector<Value> items = vm.Elements(list);
  for (const Value& l : items) {
    if (l.IsObject()) CallMethod(vm, l.o, method, args.subspan(1));
  }
  return items.empty() ? Value{} : Value::Bool(true);
}
void MakeBroadcaster(Vm& vm, Object* o) {
  Object* broadcaster = vm.Get(vm.global, "AsBroadcaster").o;
  for (const char* name : {"broadcastMessage", "addListener", "removeListener"}) {
    vm.Define(o, name, broadcaster ? vm.Get(broadcaster, name) : Value{}, DontEnum);
  }
  vm.Define(o, "_listeners", Value::Obj(vm.NewArray()), DontEnum);
}
Value Initialize(Vm& vm, const Value&, std::span<Value> args) {
  const Value o = Arg(args, 0);
  if (o.IsObject()) MakeBroadcaster(vm, o.o);
  return Value{};
}

// ---- Key, Mouse ----

Value KeyIsDown(Vm& vm, const Value&, std::span<Value> args) {
  return Value::Bool(vm.host()->KeyDown(ToIntClamped(vm, Arg(args, 0))));
}
Value KeyCode(Vm& vm, const Value&, std::span<Value>) {
  return Value::Num(vm.host()->LastKey(false));
}
Value KeyAscii(Vm& vm, const Value&, std::span<Value>) {
  return Value::Num(vm.host()->LastKey(true));
}
Value KeyIsToggled(Vm& vm, const Value&, std::span<Value> args) {
  return Value::Bool(vm.host()->KeyToggled(ToIntClamped(vm, Arg(args, 0))));
}
Value MouseShow(Vm&, const Value&, std::span<Value>) {
  return Value::Num(1);
}

// ---- Stage ----

struct StageState : NativeData {
  std::string align;
  std::string scale_mode = "showAll";
  bool show_menu = true;
};
StageState* StageOf(Vm& vm) {
  const Value stage = vm.Get(vm.global, "Stage");
  return DataOf<StageState>(stage);
}
Value StageAlignGet(Vm& vm, const Value&, std::span<Value>) {
  StageState* s = StageOf(vm);
  return Value::Str(s ? s->align : "");
}
Value StageAlignSet(Vm& vm, const Value&, std::span<Value> args) {
  StageState* s = StageOf(vm);
  if (!s) return Value{};
  std::string text = vm.ToString(Arg(args, 0));
  for (char& c : text) c = char(std::toupper(std::uint8_t(c)));
  s->align.clear();
  for (char c : std::string_view("LTRB")) {
    if (text.find(c) != std::string::npos) s->align.push_back(c);
  }
  return Value{};
}
Value StageScaleModeGet(Vm& vm, const Value&, std::span<Value>) {
  StageState* s = StageOf(vm);
  return Value::Str(s ? s->scale_mode : "showAll");
}
Value StageScaleModeSet(Vm& vm, const Value&, std::span<Value> args) {
  StageState* s = StageOf(vm);
  if (!s) return Value{};
  std::string text = vm.ToString(Arg(args, 0));
  for (char& c : text) c = char(std::tolower(std::uint8_t(c)));
  const std::string before = s->scale_mode;
  s->scale_mode = "showAll";
  for (const char* mode : {"exactFit", "noBorder", "noScale"}) {
    std::string lower(mode);
    for (char& c : lower) c = char(std::tolower(std::uint8_t(c)));
    if (text == lower) s->scale_mode = mode;
  }
  if (before != s->scale_mode && (before == "noScale" || s->scale_mode == "noScale")) {
    // The stage's size changes with the mode: its listeners hear of it.
    Value method[1] = {Value::Str("onResize")};
    BroadcastMessage(vm, vm.Get(vm.global, "Stage"), method);
  }
  return Value{};
}
Value StageSize(Vm& vm, bool height) {
  StageState* s = StageOf(vm);
  double w = 0, h = 0;
  vm.host()->StageSize(s && s->scale_mode == "noScale", &w, &h);
  return Value::Num(height ? h : w);
}
Value StageWidth(Vm& vm, const Value&, std::span<Value>) {
  return StageSize(vm, false);
}
Value StageHeight(Vm& vm, const Value&, std::span<Value>) {
  return StageSize(vm, true);
}
Value StageShowMenuGet(Vm& vm, const Value&, std::span<Value>) {
  StageState* s = StageOf(vm);
  return Value::Bool(!s || s->show_menu);
}
Value StageShowMenuSet(Vm& vm, const Value&, std::span<Value> args) {
  if (StageState* s = StageOf(vm)) s->show_menu = vm.ToBoolean(Arg(args, 0));
  return Value{};
}

// ---- Selection ----

Value SelectionGetFocus(Vm& vm, const Value&, std::span<Value>) {
  std::string path = vm.host()->FocusPath();
  return path.empty() ? Value::Null() : Value::Str(std::move(path));
}
Value SelectionSetFocus(Vm& vm, const Value&, std::span<Value> args) {
  const Value target = Arg(args, 0);
  if (target.IsNullish()) return Value::Bool(vm.host()->SetFocus(nullptr));
  Object* next = target.IsObject()             ? target.o
                 : target.type == Type::String ? vm.ResolvePath(vm.host()->Root(), target.s)
                                               : nullptr;
  return Value::Bool(next && vm.host()->SetFocus(next));
}
Value SelectionIndex(Vm& vm, int which) {
  int at[3];
  vm.host()->GetSelection(&at[0], &at[1], &at[2]);
  return Value::Num(at[which]);
}
Value SelectionBegin(Vm& vm, const Value&, std::span<Value>) {
  return SelectionIndex(vm, 0);
}
Value SelectionEnd(Vm& vm, const Value&, std::span<Value>) {
  return SelectionIndex(vm, 1);
}
Value SelectionCaret(Vm& vm, const Value&, std::span<Value>) {
  return SelectionIndex(vm, 2);
}
Value SelectionSet(Vm& vm, const Value&, std::span<Value> args) {
  if (args.empty()) return Value{};
  const int begin = ToIntClamped(vm, args[0]);
  // Without an end the selection runs to the end of the text.
  vm.host()->SetSelection(begin, args.size() > 1 ? ToIntClamped(vm, args[1]) : INT_MAX);
  return Value{};
}
Value NullResult(Vm&, const Value&, std::span<Value>) {
  return Value::Null();
}
Value MinusOne(Vm&, const Value&, std::span<Value>) {
  return Value::Num(-1);
}

// ---- ContextMenu ----

constexpr std::array<const char*, 8> kBuiltInItems = {"print", "forward_back", "rewind", "loop",
                                                      "play",  "quality",      "zoom",   "save"};

Object* BuiltInItems(Vm& vm, bool on) {
  Object* items = vm.NewObject();
  for (const char* name : kBuiltInItems) vm.Define(items, name, Value::Bool(on));
  return items;
}
Value ContextMenuConstruct(Vm& vm, const Value& self, std::span<Value> args) {
  vm.Set(self.o, "onSelect", Arg(args, 0));
  vm.Set(self.o, "builtInItems", Value::Obj(BuiltInItems(vm, true)));
  vm.Set(self.o, "customItems", Value::Obj(vm.NewArray()));
  return self;
}
Value ContextMenuHide(Vm& vm, const Value& self, std::span<Value>) {
  if (!self.IsObject()) return Value{};
  const Value items = vm.Get(self.o, "builtInItems");
  if (!items.IsObject()) return Value{};
  for (const char* name : kBuiltInItems) vm.Set(items.o, name, Value::Bool(false));
  return Value{};
}
Value ContextMenuCopy(Vm& vm, const Value& self, std::span<Value>) {
  if (!self.IsObject()) return Value{};
  Value on_select[1] = {vm.Get(self.o, "onSelect")};
  Value made = vm.Construct(vm.Get(vm.global, "ContextMenu"), on_select);
  if (!made.IsObject()) return made;
  const Value from = vm.Get(self.o, "builtInItems");
  const Value to = vm.Get(made.o, "builtInItems");
  if (from.IsObject() && to.IsObject()) {
    for (const char* name : kBuiltInItems) vm.Set(to.o, name, vm.Get(from.o, name));
  }
  const Value custom = vm.Get(self.o, "customItems");
  const Value copies = vm.Get(made.o, "customItems");
  if (custom.IsObject() && copies.IsObject()) {
    for (const Value& item : vm.Elements(custom.o)) {
      Value copy;
      if (!item.IsObject() || !CallMethod(vm, item.o, "copy", {}, &copy)) copy = item;
      vm.Push(copies.o, copy);
    }
  }
  return made;
}
Value ContextMenuItemConstruct(Vm& vm, const Value& self, std::span<Value> args) {
  const auto flag = [&](std::size_t i, bool fallback) {
    return i < args.size() && !args[i].IsUndefined() ? Value::Bool(vm.ToBoolean(args[i]))
                                                     : Value::Bool(fallback);
  };
  vm.Set(self.o, "caption", Arg(args, 0));
  vm.Set(self.o, "onSelect", Arg(args, 1));
  vm.Set(self.o, "separatorBefore", flag(2, false));
  vm.Set(self.o, "enabled", flag(3, true));
  vm.Set(self.o, "visible", flag(4, true));
  return self;
}
Value ContextMenuItemCopy(Vm& vm, const Value& self, std::span<Value>) {
  if (!self.IsObject()) return Value{};
  Value args[5];
  std::size_t i = 0;
  for (const char* name : {"caption", "onSelect", "separatorBefore", "enabled", "visible"}) {
    args[i++] = vm.Get(self.o, name);
  }
  return vm.Construct(vm.Get(vm.global, "ContextMenuItem"), args);
}

// ---- System ----

void InstallCapabilities(Vm& vm, Object* system) {
  Object* caps = vm.NewObject();
  vm.Define(system, "capabilities", Value::Obj(caps), DontEnum);
  struct Entry {
    const char* name;
    Value value;
  };
  const Entry entries[] = {
      {"avHardwareDisable", Value::Bool(false)},
      {"hasAccessibility", Value::Bool(true)},
      {"hasAudio", Value::Bool(true)},
      {"hasAudioEncoder", Value::Bool(true)},
      {"hasEmbeddedVideo", Value::Bool(true)},
      {"hasIME", Value::Bool(true)},
      {"hasMP3", Value::Bool(true)},
      {"hasPrinting", Value::Bool(true)},
      {"hasScreenBroadcast", Value::Bool(false)},
      {"hasScreenPlayback", Value::Bool(false)},
      {"hasStreamingAudio", Value::Bool(true)},
      {"hasStreamingVideo", Value::Bool(true)},
      {"hasVideoEncoder", Value::Bool(true)},
      {"isDebugger", Value::Bool(false)},
      {"language", Value::Str("en")},
      {"localFileReadDisable", Value::Bool(false)},
      {"manufacturer", Value::Str("Adobe Windows")},
      {"os", Value::Str("Windows XP")},
      {"pixelAspectRatio", Value::Num(1)},
      {"playerType", Value::Str("StandAlone")},
      {"screenColor", Value::Str("color")},
      {"screenDPI", Value::Num(72)},
      {"screenResolutionX", Value::Num(1536)},
      {"screenResolutionY", Value::Num(864)},
      {"version", Value::Str("WIN 9,0,115,0")},
  };
  for (const Entry& e : entries) vm.Define(caps, e.name, e.value);
}

Value EmptyText(Vm&, const Value&, std::span<Value>) {
  return Value::Str("");
}

// TextFormat: the thirteen settings the constructor takes, each null unless given, as the
// kind of value it holds.
Value TextFormatConstruct(Vm& vm, const Value& self, std::span<Value> args) {
  enum As { Text, Whole, Color, Flag, Align };
  struct Setting {
    const char* name;
    As as;
  };
  static constexpr Setting kSettings[] = {
      {"font", Text},     {"size", Whole},       {"color", Color},       {"bold", Flag},
      {"italic", Flag},   {"underline", Flag},   {"url", Text},          {"target", Text},
      {"align", Align},   {"leftMargin", Whole}, {"rightMargin", Whole}, {"indent", Whole},
      {"leading", Whole},
  };
  for (std::size_t i = 0; i < std::size(kSettings); ++i) {
    const Value v = Arg(args, i);
    Value out = Value::Null();
    if (!v.IsNullish()) {
      switch (kSettings[i].as) {
        case Text:
          out = Value::Str(vm.ToString(v));
          break;
        case Whole:
          out = Value::Num(vm.ToInt32(v));
          break;
        case Color:
          out = Value::Num(double(std::uint32_t(vm.ToInt32(v))));
          break;
        case Flag:
          out = Value::Bool(vm.ToBoolean(v));
          break;
        case Align: {
          const std::string a = LowerCase(vm.ToString(v));
          if (a == "left" || a == "right" || a == "center" || a == "justify") out = Value::Str(a);
          break;
        }
      }
    }
    vm.Set(self.o, kSettings[i].name, out);
  }
  for (const char* name : {"blockIndent", "bullet", "tabStops"})
    vm.Set(self.o, name, Value::Null());
  return self;
}

// Error: a message (the prototype's "Error" unless given) that is also its string.
Value ErrorConstruct(Vm& vm, const Value& self, std::span<Value> args) {
  if (!args.empty() && !args[0].IsUndefined()) vm.Set(self.o, "message", args[0]);
  return self;
}
Value ErrorToString(Vm& vm, const Value& self, std::span<Value>) {
  return self.IsObject() ? vm.Get(self.o, "message") : Value{};
}

}  // namespace

void InstallSystemObjects(Vm& vm) {
  const std::uint16_t fixed = DontEnum | DontDelete | ReadOnly;
  Object* g = vm.global;

  // AsBroadcaster's prototype is there for SWF 6 movies on.
  Object* broadcaster = DefineClass(vm, g, "AsBroadcaster", nullptr, nullptr);
  if (Property* p = vm.FindOwn(broadcaster, "prototype")) p->flags |= 0x0080;
  vm.DefineNative(broadcaster, "initialize", Initialize);
  vm.DefineNative(broadcaster, "addListener", AddListener);
  vm.DefineNative(broadcaster, "removeListener", RemoveListener);
  vm.DefineNative(broadcaster, "broadcastMessage", BroadcastMessage);

  Object* key = vm.NewObject();
  vm.Define(g, "Key", Value::Obj(key), DontEnum);
  MakeBroadcaster(vm, key);
  vm.DefineNative(key, "isDown", KeyIsDown);
  vm.DefineNative(key, "isToggled", KeyIsToggled);
  vm.DefineNative(key, "getCode", KeyCode);
  vm.DefineNative(key, "getAscii", KeyAscii);
  vm.DefineNative(key, "isAccessible", ReturnTrue);
  const std::pair<const char*, int> codes[] = {
      {"ALT", 18},    {"BACKSPACE", 8}, {"CAPSLOCK", 20}, {"CONTROL", 17}, {"DELETEKEY", 46},
      {"DOWN", 40},   {"END", 35},      {"ENTER", 13},    {"ESCAPE", 27},  {"HOME", 36},
      {"INSERT", 45}, {"LEFT", 37},     {"PGDN", 34},     {"PGUP", 33},    {"RIGHT", 39},
      {"SHIFT", 16},  {"SPACE", 32},    {"TAB", 9},       {"UP", 38}};
  for (const auto& [name, code] : codes) vm.Define(key, name, Value::Num(code), fixed);

  Object* mouse = vm.NewObject();
  vm.Define(g, "Mouse", Value::Obj(mouse), DontEnum);
  MakeBroadcaster(vm, mouse);
  vm.DefineNative(mouse, "show", MouseShow);
  vm.DefineNative(mouse, "hide", MouseShow);

  Object* stage = vm.NewObject();
  stage->data = std::make_unique<StageState>();
  vm.Define(g, "Stage", Value::Obj(stage), DontEnum);
  MakeBroadcaster(vm, stage);
  DefineAccessor(vm, stage, "align", StageAlignGet, StageAlignSet);
  DefineAccessor(vm, stage, "scaleMode", StageScaleModeGet, StageScaleModeSet);
  DefineAccessor(vm, stage, "width", StageWidth, nullptr);
  DefineAccessor(vm, stage, "height", StageHeight, nullptr);
  DefineAccessor(vm, stage, "showMenu", StageShowMenuGet, StageShowMenuSet);

  Object* selection = vm.NewObject();
  vm.Define(g, "Selection", Value::Obj(selection), DontEnum);
  MakeBroadcaster(vm, selection);
  vm.DefineNative(selection, "getFocus", SelectionGetFocus);
  vm.DefineNative(selection, "setFocus", SelectionSetFocus);
  vm.DefineNative(selection, "getBeginIndex", SelectionBegin);
  vm.DefineNative(selection, "getEndIndex", SelectionEnd);
  vm.DefineNative(selection, "getCaretIndex", SelectionCaret);
  vm.DefineNative(selection, "setSelection", SelectionSet);

  Object* system = vm.NewObject();
  vm.Define(g, "System", Value::Obj(system), DontEnum);
  InstallCapabilities(vm, system);
  Object* security = vm.NewObject();
  vm.Define(system, "security", Value::Obj(security), DontEnum);
  vm.Define(security, "sandboxType", Value::Str("localWithNetwork"), fixed);
  vm.DefineNative(security, "allowDomain", ReturnTrue);
  vm.DefineNative(security, "allowInsecureDomain", ReturnTrue);
  vm.DefineNative(security, "loadPolicyFile", NoOp);
  vm.Define(system, "useCodepage", Value::Bool(false), DontEnum);
  vm.Define(system, "exactSettings", Value::Bool(true), DontEnum);
  vm.DefineNative(system, "setClipboard", ReturnTrue);
  vm.DefineNative(system, "showSettings", NoOp);
  vm.Define(system, "IME", Value::Obj(vm.NewObject()), DontEnum);

  Object* proto = nullptr;
  DefineClass(vm, g, "ContextMenu", ContextMenuConstruct, &proto);
  vm.DefineNative(proto, "hideBuiltInItems", ContextMenuHide);
  vm.DefineNative(proto, "copy", ContextMenuCopy);
  DefineClass(vm, g, "ContextMenuItem", ContextMenuItemConstruct, &proto);
  vm.DefineNative(proto, "copy", ContextMenuItemCopy);

  // Printing is never done: a job never starts.
  DefineClass(vm, g, "PrintJob", nullptr, &proto);
  vm.DefineNative(proto, "start", ReturnFalse);
  vm.DefineNative(proto, "addPage", ReturnFalse);
  vm.DefineNative(proto, "send", NoOp);

  // No camera or microphone is ever there.
  Object* camera = DefineClass(vm, g, "Camera", nullptr, nullptr);
  vm.DefineNative(camera, "get", NullResult);
  Object* microphone = DefineClass(vm, g, "Microphone", nullptr, nullptr);
  vm.DefineNative(microphone, "get", NullResult);

  // The display classes as names: their objects come from the player, which fills these in.
  for (const char* name : {"Button", "TextField", "Video", "TextSnapshot"}) {
    Object* ctor = DefineClass(vm, g, name, nullptr, &proto);
    if (std::string_view(name) == "TextField") {
      if (Property* p = vm.FindOwn(ctor, "prototype")) p->flags |= 0x0080;
      // Its constructor gives the object back, to a subclass's super() too.
      const auto itself = [](Vm&, const Value& self, std::span<Value>) { return self; };
      DefineClass(vm, ctor, "StyleSheet", +itself, nullptr);
      if (Property* p = vm.FindOwn(ctor, "StyleSheet")) p->flags |= 0x0080;
    }
  }
  vm.DefineNative(proto, "getCount", MinusOne);
  vm.DefineNative(proto, "getText", EmptyText);
  vm.DefineNative(proto, "getSelectedText", EmptyText);
  vm.DefineNative(proto, "findText", MinusOne);
  vm.DefineNative(proto, "getSelected", ReturnFalse);
  vm.DefineNative(proto, "setSelected", NoOp);
  vm.DefineNative(proto, "setSelectColor", NoOp);
  vm.DefineNative(proto, "hitTestTextNearPos", MinusOne);
  vm.DefineNative(proto, "getTextRunInfo", NullResult);

  DefineClass(vm, g, "TextFormat", TextFormatConstruct, nullptr);

  Object* error_proto = nullptr;
  DefineClass(vm, g, "Error", ErrorConstruct, &error_proto);
  vm.Define(error_proto, "name", Value::Str("Error"), DontEnum);
  vm.Define(error_proto, "message", Value::Str("Error"), DontEnum);
  vm.DefineNative(error_proto, "toString", ErrorToString);

  Object* accessibility = vm.NewObject();
  vm.Define(g, "Accessibility", Value::Obj(accessibility), DontEnum);
  vm.DefineNative(accessibility, "isActive", ReturnFalse);
  vm.DefineNative(accessibility, "updateProperties", NoOp);
}

void InstallObjects(Vm& vm) {
  InstallSystemObjects(vm);
  InstallGeom(vm);
  InstallXml(vm);
  InstallBitmapData(vm);
  InstallFilters(vm);
  InstallNetObjects(vm);
  InstallSound(vm);
}

}  // namespace swf::avm1
