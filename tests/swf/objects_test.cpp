// The built-in classes beyond the core on what the peer movies don't reach: hostile sizes and
// depths, and the names a load may read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "swf/avm1/objects.h"

namespace {

using swf::avm1::Object;
using swf::avm1::Value;
using swf::avm1::Vm;

// No display list; records what the objects ask to read.
class FakeHost : public swf::avm1::Host {
 public:
  Object* Root() override { return nullptr; }
  Object* Parent(Object*) override { return nullptr; }
  Object* Child(Object*, std::string_view) override { return nullptr; }
  Value GetProperty(Object*, int) override { return {}; }
  void SetProperty(Object*, int, const Value&) override {}
  void GotoFrame(Object*, int, bool) override {}
  bool GotoLabel(Object*, std::string_view, bool, int) override { return false; }
  void SetPlaying(Object*, bool) override {}
  int CurrentFrame(Object*) override { return 0; }
  int FramesLoaded(Object*) override { return 0; }
  void GetUrl(const std::string&, const std::string&, int) override {}
  void RemoveClip(Object*) override {}
  void DuplicateClip(Object*, const std::string&, int) override {}
  void LeftOut(const std::string&) override {}
  std::optional<std::string> ReadMovieFile(const std::string& name) override {
    read.push_back(name);
    return "a=1";
  }
  std::vector<std::string> read;
};

Value New(Vm& vm, Object* at, std::string_view name, std::vector<Value> args) {
  return vm.Construct(vm.Get(at, name), args);
}
Value Call(Vm& vm, const Value& self, std::string_view method, std::vector<Value> args) {
  return vm.Call(vm.GetMember(self, method), self, args);
}

struct FileCase {
  const char* url;
  const char* name;  // empty: refused
};

TEST(Avm1Objects, LoadsReadOnlyTheMoviesFolder) {
  const FileCase cases[] = {
      {"data.txt", "data.txt"},
      {"sub/data.xml?x=1", "sub/data.xml"},
      {"sub\\data.xml", "sub/data.xml"},
      {"../secret.txt", ""},
      {"sub/../../secret.txt", ""},
      {"/etc/passwd", ""},
      {"\\\\server\\share", ""},
      {"C:\\secret.txt", ""},
      {"file:///etc/passwd", ""},
      {"http://example.com/x.xml", ""},
      {"a//b", ""},
      {"", ""},
  };
  for (const FileCase& c : cases) {
    EXPECT_EQ(swf::avm1::MovieFileName(c.url), c.name) << c.url;
  }
  FakeHost host;
  Vm vm(8, &host);
  const Value vars = New(vm, vm.global, "LoadVars", {});
  Call(vm, vars, "load", {Value::Str("../outside.txt")});
  Call(vm, vars, "load", {Value::Str("inside.txt")});
  EXPECT_EQ(host.read, std::vector<std::string>{"inside.txt"});
}

TEST(Avm1Objects, XmlStaysBoundedAndAcyclic) {
  FakeHost host;
  Vm vm(8, &host);
  // Nesting past the parser's depth is refused as malformed, without recursion.
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  const Value doc = New(vm, vm.global, "XML", {Value::Str(deep)});
  EXPECT_EQ(vm.ToNumber(vm.GetMember(doc, "status")), -6);
  EXPECT_LT(vm.ToString(Call(vm, doc, "toString", {})).size(), 2000u);

  // A node never becomes its own ancestor.
  const Value outer = Call(vm, doc, "createElement", {Value::Str("outer")});
  const Value inner = Call(vm, doc, "createElement", {Value::Str("inner")});
  Call(vm, outer, "appendChild", {inner});
  Call(vm, inner, "appendChild", {outer});
  Call(vm, inner, "appendChild", {inner});
  EXPECT_EQ(vm.ToString(Call(vm, outer, "toString", {})), "<outer><inner /></outer>");
  EXPECT_TRUE(vm.GetMember(outer, "parentNode").IsNull());
}

struct SizeCase {
  int version;
  double width, height;
  bool made;
};

TEST(Avm1Objects, BitmapDataKeepsFlashPlayersLimits) {
  const SizeCase cases[] = {
      {8, 2880, 2880, true},   {8, 2881, 1, false},  {9, 1, 2881, false}, {10, 8191, 2048, true},
      {10, 8191, 2049, false}, {10, 8192, 1, false}, {10, 0, 5, false},   {10, -1, 5, false},
  };
  for (const SizeCase& c : cases) {
    FakeHost host;
    Vm vm(c.version, &host);
    Object* display = swf::avm1::Package(vm, "flash.display");
    const Value made = New(vm, display, "BitmapData", {Value::Num(c.width), Value::Num(c.height)});
    EXPECT_EQ(made.IsObject(), c.made) << c.version << " " << c.width << "x" << c.height;
  }
}

TEST(Avm1Objects, ListenerListsAreCapped) {
  FakeHost host;
  Vm vm(8, &host);
  const Value mouse = vm.Get(vm.global, "Mouse");
  for (int i = 0; i < 5000; ++i) {
    vm.BeginFrame();
    Call(vm, mouse, "addListener", {Value::Num(i)});
  }
  EXPECT_EQ(vm.ToNumber(vm.GetMember(vm.GetMember(mouse, "_listeners"), "length")), 4096);
}

}  // namespace
