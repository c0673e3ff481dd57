// The script machine on what the peer movies don't reach: conversions per SWF version, closures,
// exceptions, property flags and accessors through traces; the collector on the heap itself.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "swf/avm1/vm.h"
#include "swf/swf_player.h"
#include "swf_writer.h"

namespace {

using namespace swf_test;

constexpr int kAdd2 = 0x47, kGetVariable = 0x1C, kSetVariable = 0x1D, kToNumber = 0x4A,
              kCallFunction = 0x3D, kCallMethod = 0x52, kReturn = 0x3E, kDefineLocal = 0x3C,
              kThrow = 0x2A, kInitObject = 0x43, kGetMember = 0x4E, kEnumerate2 = 0x55,
              kDivide = 0x0D;

struct ScriptCase {
  const char* name;
  int version;
  Bytes code;
  std::vector<std::string> trace;
};

std::vector<std::string> Traced(int version, const Bytes& code) {
  const Bytes file = Movie(Join({DoAction({code}), ShowFrame()}), 4000, 3000, 10, false, version);
  const swf::LoadResult loaded = swf::LoadMovie(file, nullptr);
  if (!loaded.movie) return {"refused: " + loaded.refusal};
  swf::Player player(loaded.movie);
  player.Play();
  player.AdvanceTo(0);
  return player.TakeTrace();
}

std::vector<ScriptCase> Cases() {
  const std::string x = "x";
  return {
      {"fifteen_digits", 8, Join({Push({0.1, 0.2}), Op(kAdd2), Trace()}), {"0.3"}},
      {"third", 8, Join({Push({1.0, 3.0}), Op(kDivide), Trace()}), {"0.333333333333333"}},
      {"large_exponent",
       8,
       Join({Push({8.64e15}), Trace(), Push({123456789012345.0}), Trace()}),
       {"8.64e+15", "123456789012345"}},
      {"undefined_in_swf6", 6, Join({Push({x, Undefined{}}), Op(kAdd2), Trace()}), {"x"}},
      {"undefined_in_swf7", 7, Join({Push({x, Undefined{}}), Op(kAdd2), Trace()}), {"xundefined"}},
      // SWF 5 strings are in the author's code page: Windows-1252 unless a font says Shift-JIS.
      {"windows_1252_in_swf5",
       5,
       Join({Push({std::string("caf\xE9 \x80")}), Trace()}),
       {"caf\xC3\xA9 \xE2\x82\xAC"}},
      {"names_ignore_case_in_swf6",
       6,
       Join({Push({std::string("Foo"), 1.0}), Op(kSetVariable), Push({std::string("foo")}),
             Op(kGetVariable), Trace()}),
       {"1"}},
      {"names_keep_case_in_swf7",
       7,
       Join({Push({std::string("Foo"), 1.0}), Op(kSetVariable), Push({std::string("foo")}),
             Op(kGetVariable), Trace()}),
       {"undefined"}},
      {"string_to_number",
       7,
       Join({Push({std::string("0x1A")}), Op(kToNumber), Trace(), Push({std::string(" 12")}),
             Op(kToNumber), Trace(), Push({std::string("12abc")}), Op(kToNumber), Trace()}),
       {"26", "12", "NaN"}},
      // function mk() { var v = 5; return function () { return v; }; } trace(mk()());
      {"closure",
       7,
       Join({Function("mk", Join({Push({std::string("v"), 5.0}), Op(kDefineLocal),
                                  Function("", Join({Push({std::string("v")}), Op(kGetVariable),
                                                     Op(kReturn)})),
                                  Op(kReturn)})),
             Push({0.0, 0.0, std::string("mk")}), Op(kCallFunction), Push({Undefined{}}),
             Op(kCallMethod), Trace()}),
       {"5"}},
      // try { throw "boom"; } catch (e) { trace(e); } finally { trace("fin"); }
      {"try_catch_finally",
       7,
       [] {
         const Bytes body = Join({Push({std::string("boom")}), Op(kThrow)});
         const Bytes handler = Join({Push({std::string("e")}), Op(kGetVariable), Trace()});
         const Bytes last = Join({Push({std::string("fin")}), Trace()});
         Bits t;
         t.U8(0x03).U16(std::uint32_t(body.size())).U16(std::uint32_t(handler.size()));
         t.U16(std::uint32_t(last.size())).Str("e");
         return Join({Act(0x8F, t.bytes), body, handler, last});
       }(),
       {"boom", "fin"}},
      // o = {a: 1, b: 2}; ASSetPropFlags(o, "a", 1); for (k in o) trace(k);
      {"hidden_from_for_in",
       7,
       Join({Push({std::string("o"), std::string("a"), 1.0, std::string("b"), 2.0, 2.0}),
             Op(kInitObject), Op(kSetVariable), Push({1.0, std::string("a"), std::string("o")}),
             Op(kGetVariable), Push({3.0, std::string("ASSetPropFlags")}), Op(kCallFunction),
             Op(0x17), Push({std::string("o")}), Op(kGetVariable), Op(kEnumerate2),
             // loop: r0 = the next name; if (r0 == null) break; trace(r0)
             Act(0x87, {0}), Push({Undefined{}}), Op(0x49), Act(0x9D, Bits().U16(11).bytes),
             Act(0x96, {4, 0}), Trace(), Act(0x99, Bits().U16(std::uint32_t(-25 & 0xFFFF)).bytes)}),
       {"b"}},
      // o = {}; o.addProperty("x", function () { return 7; }, null); trace(o.x);
      {"getter",
       7,
       Join({Push({std::string("o"), 0.0}), Op(kInitObject), Op(kSetVariable),
             Act(0x96, Bits().U8(2).bytes), Function("", Join({Push({7.0}), Op(kReturn)})),
             Push({std::string("x"), 3.0}), Push({std::string("o")}), Op(kGetVariable),
             Push({std::string("addProperty")}), Op(kCallMethod), Op(0x17),
             Push({std::string("o")}), Op(kGetVariable), Push({std::string("x")}), Op(kGetMember),
             Trace()}),
       {"7"}},
  };
}

class Script : public testing::TestWithParam<ScriptCase> {};

TEST_P(Script, Traces) {
  const ScriptCase& c = GetParam();
  EXPECT_EQ(Traced(c.version, c.code), c.trace);
}

INSTANTIATE_TEST_SUITE_P(Avm1, Script, testing::ValuesIn(Cases()),
                         [](const auto& param) { return std::string(param.param.name); });

// A host with no display list: scripts that touch clips find none.
class NoClips : public swf::avm1::Host {
 public:
  swf::avm1::Object* Root() override { return root; }
  swf::avm1::Object* Parent(swf::avm1::Object*) override { return nullptr; }
  swf::avm1::Object* Child(swf::avm1::Object*, std::string_view) override { return nullptr; }
  swf::avm1::Value GetProperty(swf::avm1::Object*, int) override { return {}; }
  void SetProperty(swf::avm1::Object*, int, const swf::avm1::Value&) override {}
  void GotoFrame(swf::avm1::Object*, int, bool) override {}
  bool GotoLabel(swf::avm1::Object*, std::string_view, bool, int) override { return false; }
  void SetPlaying(swf::avm1::Object*, bool) override {}
  int CurrentFrame(swf::avm1::Object*) override { return 0; }
  int FramesLoaded(swf::avm1::Object*) override { return 1; }
  void GetUrl(const std::string&, const std::string&, int) override {}
  void RemoveClip(swf::avm1::Object*) override {}
  void DuplicateClip(swf::avm1::Object*, const std::string&, int) override {}
  void LeftOut(const std::string&) override {}
  swf::avm1::Object* root = nullptr;
};

TEST(Avm1Collector, TakesCyclesAndKeepsWhatIsReachable) {
  using swf::avm1::Value;
  NoClips host;
  swf::avm1::Vm vm(8, &host);
  host.root = vm.NewObject();
  vm.Pin(host.root);
  vm.Collect();
  const std::size_t base = vm.HeapObjects();
  swf::avm1::Object* a = vm.NewObject();
  swf::avm1::Object* b = vm.NewObject();
  vm.Set(a, "b", Value::Obj(b));
  vm.Set(b, "a", Value::Obj(a));  // a cycle nothing reaches
  swf::avm1::Object* kept = vm.NewObject();
  vm.Set(kept, "self", Value::Obj(kept));
  vm.Set(vm.global, "kept", Value::Obj(kept));
  vm.Collect();
  EXPECT_EQ(vm.HeapObjects(), base + 1);
  const Value found = vm.Get(vm.global, "kept");
  ASSERT_TRUE(found.IsObject());
  EXPECT_EQ(vm.Get(found.o, "self").o, kept);
}

}  // namespace
