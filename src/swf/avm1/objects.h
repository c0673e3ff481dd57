#pragma once
// What the files of the built-in classes beyond the core (XML, flash.geom, BitmapData, filters,
// Sound, the system and network objects) share.
#include <span>
#include <string_view>

#include "swf/avm1/builtins.h"

namespace swf::avm1 {

// The state `T` an object of a built-in class carries, or null for any other object.
template <class T>
T* DataOf(const Value& v) {
  return v.IsObject() && v.o->data ? dynamic_cast<T*>(v.o->data.get()) : nullptr;
}

// A constructor on `where` as `name` with a new prototype (inheriting `parent`, Object's by
// default); `construct` runs for `new`, `call` for a plain call (null: does nothing).
Object* DefineClass(Vm& vm, Object* where, std::string_view name, NativeFn construct,
                    Object** proto, Object* parent = nullptr, NativeFn call = nullptr);
// A getter (and setter, or none) as addProperty makes them.
void DefineAccessor(Vm& vm, Object* o, std::string_view name, NativeFn get, NativeFn set,
                    std::uint16_t flags = DontEnum);
// The object at `_global.a.b.c`, made on the way; found even where the movie's version hides
// it (the `flash` package is there from SWF 8 on).
Object* Package(Vm& vm, std::string_view dotted);
// A file's relative name when it stays inside the movie's folder; empty for a URL, an absolute
// path or a way out.
std::string MovieFileName(std::string_view url);
// Calls `object.method(args)` when it is a function; false when there is none.
bool CallMethod(Vm& vm, Object* object, std::string_view method, std::span<Value> args,
                Value* result = nullptr);
// A number argument as an int, 0 for NaN, clamped to the int range.
int ToIntClamped(Vm& vm, const Value& v);

// Methods that do nothing, or answer true or false whatever they are given.
Value NoOp(Vm& vm, const Value& self, std::span<Value> args);
Value ReturnTrue(Vm& vm, const Value& self, std::span<Value> args);
Value ReturnFalse(Vm& vm, const Value& self, std::span<Value> args);
// XML's and LoadVars' onData: `parse` (their parseXML or decode) takes the text, then onLoad
// hears whether there was any.
Value OnData(Vm& vm, const Value& self, const Value& text, std::string_view parse);

// A flash.geom.ColorTransform's multipliers (red, green, blue, alpha) then offsets; false for any
// other value.
bool ColorTransformOf(const Value& v, double out[8]);

// A new flash.geom.Point.
Value MakePoint(Vm& vm, double x, double y);
// A new flash.geom.Rectangle.
Value MakeRectangle(Vm& vm, double x, double y, double width, double height);

// loadVariables: the url-encoded variables of a file of the movie's folder, set on `target` at
// the frame's timers (nothing when there is no such file).
void LoadVariables(Vm& vm, Object* target, const std::string& url);
// Sets the url-encoded variables of `text` (a=1&b=2) on `target` now.
void DecodeVariables(Vm& vm, Object* target, const std::string& text);

// Text for XML: the five special characters as entities.
std::string EscapeXml(std::string_view s);

// Each file's classes; InstallObjects calls them all from the globals' set-up.
void InstallObjects(Vm& vm);
void InstallSystemObjects(Vm& vm);
void InstallGeom(Vm& vm);
void InstallXml(Vm& vm);
void InstallBitmapData(Vm& vm);
void InstallFilters(Vm& vm);
void InstallNetObjects(Vm& vm);
void InstallSound(Vm& vm);
// Date, made with the core globals (the other classes reach its prototype).
void InstallDate(Vm& vm);

}  // namespace swf::avm1
