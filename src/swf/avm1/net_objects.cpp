// The network objects as an offline Flash Player has them: loads read only files of the movie's
// own folder (XML.load, LoadVars.load), a frame later as a download would arrive; everything that
// would reach another machine or the user's files (sockets, local connections, file dialogs,
// remote calls) exists, answers, and never starts.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "swf/avm1/objects.h"

namespace swf::avm1 {
namespace {

// ---- Loading ----

// What a load delivers: args are the target, the text (undefined when there is none) and its
// size; the target's onData takes the text.
Value Arrive(Vm& vm, const Value&, std::span<Value> args) {
  const Value target = Arg(args, 0);
  if (!target.IsObject()) return Value{};
  if (!Arg(args, 1).IsUndefined()) {
    vm.Define(target.o, "_bytesLoaded", Arg(args, 2), DontEnum | DontDelete);
    vm.Define(target.o, "_bytesTotal", Arg(args, 2), DontEnum | DontDelete);
  }
  Value text[1] = {Arg(args, 1)};
  CallMethod(vm, target.o, "onData", text);
  return Value{};
}

Value BytesLoaded(Vm& vm, const Value& self, std::span<Value>) {
  return vm.GetMember(self, "_bytesLoaded");
}
Value BytesTotal(Vm& vm, const Value& self, std::span<Value>) {
  return vm.GetMember(self, "_bytesTotal");
}

Value Load(Vm& vm, const Value& self, std::span<Value> args) {
  if (!self.IsObject() || args.empty()) return Value::Bool(false);
  const std::string name = MovieFileName(vm.ToString(args[0]));
  std::optional<std::string> text;
  if (!name.empty()) text = vm.host()->ReadMovieFile(name);
  vm.Define(self.o, "_bytesLoaded", Value::Num(0), DontEnum | DontDelete);
  vm.Set(self.o, "loaded", Value::Bool(false));
  Timer t;
  t.target = vm.NewFunction(Arrive);
  t.repeat = false;
  t.at_once = true;
  t.interval = 0;
  const double size = text ? double(text->size()) : 0;
  t.args = {self, text ? Value::Str(std::move(*text)) : Value{}, Value::Num(size)};
  vm.AddTimer(std::move(t));
  return Value::Bool(true);
}

// ---- LoadVars ----

std::string UrlEncode(std::string_view s) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : s) {
    const auto c = std::uint8_t(ch);
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
        c == '_' || c == '.' || c == '*') {
      out.push_back(ch);
    } else if (c == ' ') {
      out.push_back('+');
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}
std::string UrlDecode(std::string_view s) {
  const auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '+') {
      out.push_back(' ');
    } else if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
      out.push_back(char(hex(s[i + 1]) * 16 + hex(s[i + 2])));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

Value LoadVarsDecode(Vm& vm, const Value& self, std::span<Value> args) {
  if (!self.IsObject()) return Value{};
  const std::string text = vm.ToString(Arg(args, 0));
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t amp = std::min(text.find('&', start), text.size());
    const std::string_view pair(text.data() + start, amp - start);
    const std::size_t eq = pair.find('=');
    if (eq != std::string_view::npos && eq > 0) {
      vm.Set(self.o, UrlDecode(pair.substr(0, eq)), Value::Str(UrlDecode(pair.substr(eq + 1))));
    }
    start = amp + 1;
  }
  return Value{};
}
Value LoadVarsToString(Vm& vm, const Value& self, std::span<Value>) {
  if (!self.IsObject()) return Value::Str("");
  std::string out;
  std::vector<std::string> names = vm.Enumerate(self.o);
  std::reverse(names.begin(), names.end());
  for (const std::string& name : names) {
    const Value v = vm.Get(self.o, name);
    if (v.IsObject() && v.o->kind == Kind::Function) continue;
    if (!out.empty()) out += '&';
    out += UrlEncode(name) + "=" + UrlEncode(vm.ToString(v));
  }
  return Value::Str(out);
}
Value LoadVarsOnData(Vm& vm, const Value& self, std::span<Value> args) {
  return OnData(vm, self, Arg(args, 0), "decode");
}
Value SendAndLoad(Vm& vm, const Value&, std::span<Value> args) {
  // Sending needs a server: the target hears that nothing came.
  const Value target = Arg(args, 1);
  if (!target.IsObject()) return Value::Bool(false);
  Timer t;
  t.target = vm.NewFunction(Arrive);
  t.repeat = false;
  t.at_once = true;
  t.args = {target, Value{}, Value::Num(0)};
  vm.AddTimer(std::move(t));
  return Value::Bool(true);
}

// ---- LocalConnection ----

// Channel names are the movie's own: one connection per name within the player.
struct Connection : NativeData {
  std::string name;
};
// A channel's key: names are case-blind, and the movie's own domain may be named before one that
// doesn't start with '_'.
std::string ChannelKey(std::string name) {
  for (char& c : name) c = char(std::tolower(std::uint8_t(c)));
  if (name.starts_with("localhost:") && name.size() > 10 && name[10] != '_') name.erase(0, 10);
  return name;
}
Value Listener(Vm& vm, const Value& channel) {
  const Value channels = vm.GetMember(vm.Get(vm.global, "LocalConnection"), "__channels");
  if (!channels.IsObject()) return Value{};
  const Property* p = vm.FindOwn(channels.o, ChannelKey(vm.ToString(channel)));
  return p ? p->value : Value{};
}
Value LcConnect(Vm& vm, const Value& self, std::span<Value> args) {
  Connection* c = DataOf<Connection>(self);
  const Value name = Arg(args, 0);
  if (!c || name.type != Type::String || name.s.empty() || !c->name.empty()) {
    return Value::Bool(false);
  }
  if (name.s.find(':') != std::string::npos) return Value::Bool(false);
  const Value channels = vm.GetMember(vm.Get(vm.global, "LocalConnection"), "__channels");
  if (!channels.IsObject() || !Listener(vm, name).IsUndefined()) return Value::Bool(false);
  const std::string key = ChannelKey(name.s);
  vm.Define(channels.o, key, self, DontEnum);
  c->name = key;
  return Value::Bool(true);
}
Value LcClose(Vm& vm, const Value& self, std::span<Value>) {
  Connection* c = DataOf<Connection>(self);
  if (!c || c->name.empty()) return Value{};
  const Value channels = vm.GetMember(vm.Get(vm.global, "LocalConnection"), "__channels");
  if (channels.IsObject()) vm.Delete(channels.o, c->name);
  c->name.clear();
  return Value{};
}
// Delivers a message the next frame: args are the sender, the channel, the method, its args.
// The connection listening on a channel now, or undefined.
// Delivers a message at the next frame: args are the sender, the channel, the method, its args
// and the listener when it was sent. The sender hears first; the channel must have had a listener
// at the send, and the one it has now takes the message.
Value LcDeliver(Vm& vm, const Value&, std::span<Value> args) {
  const Value sender = Arg(args, 0);
  const Value receiver = Listener(vm, Arg(args, 1));
  const bool there = receiver.IsObject() && Arg(args, 4).IsObject();
  if (sender.IsObject()) {
    Object* info = vm.NewObject();
    vm.Set(info, "level", Value::Str(there ? "status" : "error"));
    Value status[1] = {Value::Obj(info)};
    CallMethod(vm, sender.o, "onStatus", status);
  }
  if (there) {
    std::vector<Value> call_args;
    if (Arg(args, 3).IsObject()) call_args = vm.Elements(args[3].o);
    CallMethod(vm, receiver.o, vm.ToString(Arg(args, 2)), call_args);
  }
  return Value{};
}
Value LcSend(Vm& vm, const Value& self, std::span<Value> args) {
  if (args.size() < 2 || args[0].type != Type::String || args[1].type != Type::String ||
      args[0].s.empty() || args[1].s.empty()) {
    return Value::Bool(false);
  }
  for (const char* reserved :
       {"send", "connect", "close", "allowDomain", "allowInsecureDomain", "domain"}) {
    if (args[1].s == reserved) return Value::Bool(false);
  }
  Timer t;
  t.target = vm.NewFunction(LcDeliver);
  t.repeat = false;
  t.args = {self, args[0], args[1], Value::Obj(vm.NewArray(args.subspan(2))),
            Listener(vm, args[0])};
  vm.AddTimer(std::move(t));
  return Value::Bool(true);
}
Value LcConstruct(Vm&, const Value& self, std::span<Value>) {
  self.o->data = std::make_unique<Connection>();
  return self;
}
Value LcDomain(Vm&, const Value&, std::span<Value>) {
  return Value::Str("localhost");
}

// ---- SharedObject ----

Value SoGetLocal(Vm& vm, const Value&, std::span<Value> args) {
  const std::string name = vm.ToString(Arg(args, 0));
  if (name.empty() || name.size() > 256 ||
      name.find_first_of("~%&\\;:\"',<>?# ") != std::string::npos) {
    return Value::Null();
  }
  // Kept for the session only: the same name gives the same object.
  const Value ctor = vm.Get(vm.global, "SharedObject");
  const Value store = vm.GetMember(ctor, "__objects");
  if (!store.IsObject()) return Value::Null();
  Value known = vm.Get(store.o, name);
  if (known.IsObject()) return known;
  const Value proto = vm.GetMember(ctor, "prototype");
  Object* so = vm.NewObject(proto.IsObject() ? proto.o : nullptr);
  vm.Define(so, "data", Value::Obj(vm.NewObject()), DontEnum | DontDelete);
  vm.Define(store.o, name, Value::Obj(so), DontEnum);
  return Value::Obj(so);
}
Value SoGetSize(Vm& vm, const Value& self, std::span<Value>) {
  const Value data = vm.GetMember(self, "data");
  if (!data.IsObject()) return Value::Num(0);
  return Value::Num(vm.Enumerate(data.o).empty() ? 0
                                                 : double(LoadVarsToString(vm, data, {}).s.size()));
}
Value SoClear(Vm& vm, const Value& self, std::span<Value>) {
  if (self.IsObject()) vm.Define(self.o, "data", Value::Obj(vm.NewObject()), DontEnum | DontDelete);
  return Value{};
}

// ---- ExternalInterface ----

Value EiAddCallback(Vm&, const Value&, std::span<Value>) {
  return Value::Bool(false);
}
Value EiCall(Vm&, const Value&, std::span<Value>) {
  return Value::Null();
}

// ---- ExternalInterface's serialisation ----

// Nesting deeper than this is written as undefined: a cyclic object ends.
constexpr int kMaxXmlDepth = 64;

std::string ToXml(Vm& vm, const Value& v, int depth);

std::string ArrayToXml(Vm& vm, const Value& v, int depth) {
  std::string out = "<array>";
  const double n = vm.ToNumber(vm.GetMember(v, "length"));
  const std::int64_t length = std::isfinite(n) && n > 0 ? std::int64_t(std::min(n, 65536.0)) : 0;
  for (std::int64_t i = 0; i < length && out.size() < Vm::kMaxStringBytes; ++i) {
    out += "<property id=\"" + std::to_string(i) + "\">";
    out += ToXml(vm, vm.GetMember(v, std::to_string(i)), depth + 1) + "</property>";
  }
  return out + "</array>";
}
std::string ObjectToXml(Vm& vm, const Value& v, int depth) {
  std::string out = "<object>";
  if (v.IsObject()) {
    std::vector<std::string> names = vm.Enumerate(v.o);
    std::reverse(names.begin(), names.end());
    for (const std::string& name : names) {
      const Value item = vm.Get(v.o, name);
      out += "<property id=\"" + name + "\">" + ToXml(vm, item, depth + 1) + "</property>";
      if (out.size() > Vm::kMaxStringBytes) break;
    }
  }
  return out + "</object>";
}
std::string ToXml(Vm& vm, const Value& v, int depth) {
  if (depth > kMaxXmlDepth) return "<undefined/>";
  switch (v.type) {
    case Type::Undefined:
      return "<undefined/>";
    case Type::Null:
      return "<null/>";
    case Type::Boolean:
      return v.b ? "<true/>" : "<false/>";
    case Type::Number:
      return "<number>" + Vm::NumberToString(v.n) + "</number>";
    case Type::String:
      return "<string>" + (v.s.empty() ? "null" : EscapeXml(v.s)) + "</string>";
    case Type::Object:
      if (v.o->kind == Kind::Function) return "<null/>";
      // Anything with a length is written as an array.
      if (v.o->kind == Kind::Array || vm.HasProperty(v.o, "length"))
        return ArrayToXml(vm, v, depth);
      return ObjectToXml(vm, v, depth);
  }
  return "<undefined/>";
}
Value EiToXml(Vm& vm, const Value&, std::span<Value> args) {
  return Value::Str(ToXml(vm, Arg(args, 0), 0));
}
Value EiArrayToXml(Vm& vm, const Value&, std::span<Value> args) {
  return Value::Str(ArrayToXml(vm, Arg(args, 0), 0));
}
Value EiObjectToXml(Vm& vm, const Value&, std::span<Value> args) {
  return Value::Str(ObjectToXml(vm, Arg(args, 0), 0));
}
// The arguments of a call: every item but the first (the function's name).
Value EiArgumentsToXml(Vm& vm, const Value&, std::span<Value> args) {
  const Value v = Arg(args, 0);
  std::string out = "<arguments>";
  const double n = vm.ToNumber(vm.GetMember(v, "length"));
  const std::int64_t length = std::isfinite(n) && n > 0 ? std::int64_t(std::min(n, 65536.0)) : 0;
  for (std::int64_t i = 1; i < length && out.size() < Vm::kMaxStringBytes; ++i) {
    out += ToXml(vm, vm.GetMember(v, std::to_string(i)), 1);
  }
  return Value::Str(out + "</arguments>");
}

// ---- MovieClipLoader ----

Value MclConstruct(Vm& vm, const Value& self, std::span<Value>) {
  Value args[1] = {self};
  CallMethod(vm, vm.Get(vm.global, "AsBroadcaster").o, "initialize", args);
  const Value listeners = vm.Get(self.o, "_listeners");
  if (listeners.IsObject()) vm.Push(listeners.o, self);
  return self;
}
Value MclLoadClip(Vm& vm, const Value& self, std::span<Value> args) {
  if (!self.IsObject() || args.size() < 2) return Value::Bool(false);
  return Value::Bool(vm.host()->LoadMovie(vm.ToString(args[0]), args[1], self.o));
}
Value MclUnloadClip(Vm& vm, const Value&, std::span<Value> args) {
  return Value::Bool(!args.empty() && vm.host()->UnloadMovie(args[0]));
}
// A clip's progress; a path or a level's number that names nothing has none to tell.
Value MclGetProgress(Vm& vm, const Value&, std::span<Value> args) {
  const Value target = Arg(args, 0);
  Object* clip = nullptr;
  if (target.type == Type::Number) {
    if (target.n >= 0 && target.n < 1e9) clip = vm.host()->Level(int(target.n));
  } else {
    clip = vm.TargetOf(target);
    if (!clip && target.type != Type::String) return Value{};
  }
  double loaded = 0, total = 0;
  const bool known = clip && vm.host()->MovieBytes(clip, &loaded, &total);
  Object* o = vm.NewObject();
  vm.Set(o, "bytesLoaded", known ? Value::Num(loaded) : Value{});
  vm.Set(o, "bytesTotal", known ? Value::Num(total) : Value{});
  return Value::Obj(o);
}

// ---- FileReference ----

Value FileRefConstruct(Vm& vm, const Value& self, std::span<Value>) {
  Value args[1] = {self};
  CallMethod(vm, vm.Get(vm.global, "AsBroadcaster").o, "initialize", args);
  return Value{};  // `new` gives the object; a subclass's super() nothing
}

// A NetConnection starts unconnected, a subclass's through super() too (which gives nothing).
Value NetConnectionInit(Vm& vm, const Value& self, std::span<Value>) {
  if (self.IsObject()) vm.Set(self.o, "isConnected", Value::Bool(false));
  return Value{};
}

// What loadVariables delivers: args are the target and the text.
Value ArriveVariables(Vm& vm, const Value&, std::span<Value> args) {
  if (Arg(args, 0).IsObject()) LoadVarsDecode(vm, args[0], args.subspan(1));
  return Value{};
}

}  // namespace

void LoadVariables(Vm& vm, Object* target, const std::string& url) {
  const std::string name = MovieFileName(url);
  std::optional<std::string> text;
  if (!target || name.empty() || !(text = vm.host()->ReadMovieFile(name))) return;
  Timer t;
  t.target = vm.NewFunction(ArriveVariables);
  t.repeat = false;
  t.at_once = true;
  t.args = {Value::Obj(target), Value::Str(std::move(*text))};
  vm.AddTimer(std::move(t));
}

void DecodeVariables(Vm& vm, Object* target, const std::string& text) {
  Value arg[1] = {Value::Str(text)};
  LoadVarsDecode(vm, Value::Obj(target), arg);
}

Value OnData(Vm& vm, const Value& self, const Value& text, std::string_view parse) {
  if (!self.IsObject()) return Value{};
  Value ok[1] = {Value::Bool(!text.IsNullish())};
  if (!text.IsNullish()) {
    Value arg[1] = {text};
    CallMethod(vm, self.o, parse, arg);
  }
  vm.Set(self.o, "loaded", ok[0]);
  CallMethod(vm, self.o, "onLoad", ok);
  return Value{};
}

void InstallNetObjects(Vm& vm) {
  Object* g = vm.global;
  Object* proto = nullptr;

  const Value xml = vm.GetMember(vm.Get(g, "XML"), "prototype");
  if (xml.IsObject()) {
    vm.DefineNative(xml.o, "load", Load);
    vm.DefineNative(xml.o, "send", ReturnFalse);
    vm.DefineNative(xml.o, "sendAndLoad", SendAndLoad);
    vm.DefineNative(xml.o, "getBytesLoaded", BytesLoaded);
    vm.DefineNative(xml.o, "getBytesTotal", BytesTotal);
    vm.DefineNative(xml.o, "addRequestHeader", NoOp);
  }

  DefineClass(vm, g, "LoadVars", nullptr, &proto);
  vm.DefineNative(proto, "load", Load);
  vm.DefineNative(proto, "send", ReturnFalse);
  vm.DefineNative(proto, "sendAndLoad", SendAndLoad);
  vm.DefineNative(proto, "decode", LoadVarsDecode);
  vm.DefineNative(proto, "toString", LoadVarsToString);
  vm.DefineNative(proto, "onData", LoadVarsOnData);
  vm.DefineNative(proto, "getBytesLoaded", BytesLoaded);
  vm.DefineNative(proto, "getBytesTotal", BytesTotal);
  vm.DefineNative(proto, "addRequestHeader", NoOp);
  vm.Define(proto, "contentType", Value::Str("application/x-www-form-urlencoded"), DontEnum);

  // No server answers: a socket never connects.
  DefineClass(vm, g, "XMLSocket", nullptr, &proto);
  vm.DefineNative(proto, "connect", ReturnFalse);
  vm.DefineNative(proto, "send", NoOp);
  vm.DefineNative(proto, "close", NoOp);

  Object* lc = DefineClass(vm, g, "LocalConnection", LcConstruct, &proto);
  vm.Define(lc, "__channels", Value::Obj(vm.NewObject()), DontEnum);
  vm.DefineNative(proto, "connect", LcConnect);
  vm.DefineNative(proto, "close", LcClose);
  vm.DefineNative(proto, "send", LcSend);
  vm.DefineNative(proto, "domain", LcDomain);

  Object* so = DefineClass(vm, g, "SharedObject", nullptr, &proto);
  vm.Define(so, "__objects", Value::Obj(vm.NewObject()), DontEnum);
  vm.DefineNative(so, "getLocal", SoGetLocal);
  vm.DefineNative(so, "getRemote", EiCall);
  vm.DefineNative(so, "deleteAll", NoOp);
  vm.DefineNative(so, "getDiskUsage", NoOp);
  vm.DefineNative(proto, "flush", ReturnTrue);
  vm.DefineNative(proto, "getSize", SoGetSize);
  vm.DefineNative(proto, "clear", SoClear);
  vm.DefineNative(proto, "close", NoOp);
  vm.DefineNative(proto, "connect", ReturnFalse);
  vm.DefineNative(proto, "send", NoOp);
  vm.DefineNative(proto, "setFps", ReturnFalse);

  Object* external = Package(vm, "flash.external");
  Object* ei = vm.NewObject();
  vm.Define(external, "ExternalInterface", Value::Obj(ei), DontEnum);
  vm.Define(ei, "available", Value::Bool(false), DontEnum | DontDelete | ReadOnly);
  vm.DefineNative(ei, "addCallback", EiAddCallback);
  vm.DefineNative(ei, "call", EiCall);
  vm.DefineNative(ei, "_toXML", EiToXml);
  vm.DefineNative(ei, "_arrayToXML", EiArrayToXml);
  vm.DefineNative(ei, "_objectToXML", EiObjectToXml);
  vm.DefineNative(ei, "_argumentsToXML", EiArgumentsToXml);

  DefineClass(vm, g, "MovieClipLoader", MclConstruct, &proto);
  vm.DefineNative(proto, "loadClip", MclLoadClip);
  vm.DefineNative(proto, "unloadClip", MclUnloadClip);
  vm.DefineNative(proto, "getProgress", MclGetProgress);

  Object* net = Package(vm, "flash.net");
  for (const char* name : {"FileReference", "FileReferenceList"}) {
    DefineClass(vm, net, name, FileRefConstruct, &proto);
    // No dialog is ever shown and nothing is sent.
    vm.DefineNative(proto, "browse", ReturnFalse);
    vm.DefineNative(proto, "download", ReturnFalse);
    vm.DefineNative(proto, "upload", ReturnFalse);
    vm.DefineNative(proto, "cancel", NoOp);
  }

  DefineClass(vm, g, "NetConnection", NetConnectionInit, &proto, nullptr, NetConnectionInit);
  vm.DefineNative(proto, "connect", ReturnFalse);
  vm.DefineNative(proto, "call", NoOp);
  vm.DefineNative(proto, "close", NoOp);
  vm.DefineNative(proto, "addHeader", NoOp);
  DefineClass(vm, g, "NetStream", nullptr, &proto);
  for (const char* name : {"play", "pause", "seek", "close", "setBufferTime", "attachAudio",
                           "attachVideo", "publish", "receiveAudio", "receiveVideo", "send"}) {
    vm.DefineNative(proto, name, NoOp);
  }
}

}  // namespace swf::avm1
