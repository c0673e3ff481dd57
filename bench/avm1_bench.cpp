// The script machine's speed: actions per second of a tight AVM1 loop (arithmetic, a member get
// and set, a method call) run by the SWF player, beside a C++ loop doing the same work and Lua 5.4
// (Debian's lua5.4) running the same script; and the time of one frame of a movie of 500 clips,
// each with an onEnterFrame that moves it. The movies come from the tests' tag writer. Figures
// only; never fails on them.
//   avm1_bench [--runs N]
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "swf/swf_player.h"
#include "swf_writer.h"

namespace {

using namespace swf_test;
using Clock = std::chrono::steady_clock;

// AVM1 as a compiler writes it for a frame script, with the tag writer's action records.
Bytes PushInt(std::int32_t v) {
  return Act(0x96, Bits().U8(7).U32(std::uint32_t(v)).bytes);
}
Bytes GetVariable() {
  return Act(0x1C);
}
Bytes SetVariable() {
  return Act(0x1D);
}
Bytes GetMember() {
  return Act(0x4E);
}
Bytes SetMember() {
  return Act(0x4F);
}
Bytes Trace() {
  return Act(0x26);
}
// A DefineFunction with its body; an empty name pushes the function.
Bytes DefineFunction(const std::vector<std::string>& params, const Bytes& body) {
  Bits b;
  b.Str("").U16(std::uint32_t(params.size()));
  for (const std::string& p : params) b.Str(p);
  b.U16(std::uint32_t(body.size()));
  return Join({Act(0x9B, b.bytes), body});
}
Bytes Branch(int code, std::int32_t offset) {
  return Act(code, Bits().U16(std::uint32_t(offset) & 0xFFFF).bytes);
}
Bytes Cat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes DoActionOf(const Bytes& actions) {
  return Tag(12, Bits().Raw(actions).U8(0).bytes);
}

struct Loop {
  Bytes movie;
  int actions_per_iteration = 0;
};

// o = {x: 0}; o.f = function (a) { return a + 1; }; i = 0; s = 0;
// while (i < n) { s = s + i * 2 - 1; o.x = o.x + 1; s = o.f(s); i++; }
// trace(i); trace(o.x);
Loop LoopMovie(int n) {
  const Bytes setup =
      Cat({PushString("o"), PushString("x"), PushInt(0), PushInt(1), Act(0x43), SetVariable(),
           PushString("o"), GetVariable(), PushString("f"),
           DefineFunction({"a"},
                          Cat({PushString("a"), GetVariable(), PushInt(1), Act(0x47), Act(0x3E)})),
           SetMember(), PushString("i"), PushInt(0), SetVariable(), PushString("s"), PushInt(0),
           SetVariable()});
  const std::vector<Bytes> body = {
      // s = s + i * 2 - 1
      PushString("s"), PushString("s"), GetVariable(), PushString("i"), GetVariable(), PushInt(2),
      Act(0x0C), Act(0x47), PushInt(1), Act(0x0B), SetVariable(),
      // o.x = o.x + 1
      PushString("o"), GetVariable(), PushString("x"), PushString("o"), GetVariable(),
      PushString("x"), GetMember(), PushInt(1), Act(0x47), SetMember(),
      // s = o.f(s)
      PushString("s"), PushString("s"), GetVariable(), PushInt(1), PushString("o"), GetVariable(),
      PushString("f"), Act(0x52), SetVariable(),
      // i++
      PushString("i"), PushString("i"), GetVariable(), Act(0x50), SetVariable()};
  const std::vector<Bytes> test = {PushString("i"), GetVariable(), PushInt(n), Act(0x48),
                                   Act(0x12)};
  const Bytes body_bytes = Cat(body);
  const Bytes test_bytes = Cat(test);
  constexpr int kBranchSize = 5;
  // If jumps past the body and the Jump back; the Jump goes back to the test.
  const Bytes exit_if = Branch(0x9D, std::int32_t(body_bytes.size()) + kBranchSize);
  const Bytes back = Branch(
      0x99, -std::int32_t(test_bytes.size() + kBranchSize + body_bytes.size() + kBranchSize));
  const Bytes end = Cat({PushString("i"), GetVariable(), Trace(), PushString("o"), GetVariable(),
                         PushString("x"), GetMember(), Trace()});
  Loop loop;
  loop.movie = Movie(
      Join({DoActionOf(Cat({setup, test_bytes, exit_if, body_bytes, back, end})), ShowFrame()}),
      4000, 3000, 30, false, 7);
  // The loop's test and branches, its body, and the method's five actions.
  loop.actions_per_iteration = int(test.size() + 2 + body.size() + 5);
  return loop;
}

// 500 sprites of a small square, each named cK and given the same onEnterFrame:
// function () { this._x = this._x + 1; }
Bytes ClipsMovie(int clips) {
  Bytes tags = Join({RectShape(1, 200, 200, 0x3366CCFF),
                     DefineSprite(2, 1, Join({PlaceObject2(1, 1), ShowFrame()}))});
  std::vector<Bytes> script = {
      PushString("mv"),
      DefineFunction({}, Cat({PushString("this"), GetVariable(), PushString("_x"),
                              PushString("this"), GetVariable(), PushString("_x"), GetMember(),
                              PushInt(1), Act(0x47), SetMember()})),
      SetVariable()};
  for (int k = 0; k < clips; ++k) {
    std::string name = std::to_string(k);
    name.insert(name.begin(), 'c');  // GCC 12 sees a false overlap in "c" + to_string(k)
    tags = Join({tags, PlaceObject2(k + 1, 2, (k % 25) * 600, (k / 25) * 400, name)});
    script.insert(script.end(), {PushString(name), GetVariable(), PushString("onEnterFrame"),
                                 PushString("mv"), GetVariable(), SetMember()});
  }
  return Movie(Join({tags, DoActionOf(Cat(script)), ShowFrame(), ShowFrame()}), 16000, 12000, 30,
               false, 7);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

std::shared_ptr<const swf::Movie> Load(const Bytes& file) {
  swf::LoadResult loaded = swf::LoadMovie(file, nullptr);
  if (!loaded.movie) {
    std::fprintf(stderr, "avm1_bench: the movie is refused: %s\n", loaded.refusal.c_str());
    std::exit(1);
  }
  return loaded.movie;
}

// The loop in the player: seconds per run, or a negative value when the loop's trace didn't come
// (no script machine, or the work budget stopped it).
double PlayerLoop(int n, int runs, int& actions_per_iteration) {
  const Loop loop = LoopMovie(n);
  actions_per_iteration = loop.actions_per_iteration;
  const auto movie = Load(loop.movie);
  std::vector<double> times;
  for (int r = 0; r < runs; ++r) {
    swf::Player player(movie);
    player.Play();
    const auto start = Clock::now();
    player.AdvanceTo(0);
    times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    const std::vector<std::string> trace = player.TakeTrace();
    if (trace.size() != 2 || trace[0] != std::to_string(n) || trace[1] != std::to_string(n)) {
      return -1;
    }
  }
  return Median(times);
}

// The same work in C++: numbers as doubles, the member in an object, the method called through a
// pointer the optimiser can't see through.
struct Object {
  double x = 0;
  double (*f)(Object*, double) = nullptr;
};
double AddOne(Object*, double a) {
  return a + 1;
}

double CppLoop(int n, int runs) {
  std::vector<double> times;
  for (int r = 0; r < runs; ++r) {
    Object o;
    double (*volatile method)(Object*, double) = &AddOne;
    o.f = method;
    volatile double sink = 0;
    const auto start = Clock::now();
    double s = 0;
    for (double i = 0; i < n; ++i) {
      s = s + i * 2 - 1;
      o.x = o.x + 1;
      s = o.f(&o, s);
    }
    sink = s + o.x;
    static_cast<void>(sink);
    times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  return Median(times);
}

// Lua 5.4 on the same script, the variables global as a timeline's are the clip's; its own clock
// times the loop. Negative when lua5.4 can't be run.
double LuaLoop(int n, int runs) {
  const std::string script =
      "o = {x = 0} function o:f(a) return a + 1 end i = 0 s = 0 local t = os.clock() "
      "while i < " +
      std::to_string(n) +
      " do s = s + i * 2 - 1 o.x = o.x + 1 s = o:f(s) i = i + 1 end "
      "io.write(string.format('%d %.9f', i, os.clock() - t))";
  std::vector<double> times;
  for (int r = 0; r < runs; ++r) {
    FILE* lua = ::popen(("lua5.4 -e \"" + script + "\" 2>/dev/null").c_str(), "r");
    if (lua == nullptr) return -1;
    long long iterations = 0;
    double seconds = 0;
    const int read = std::fscanf(lua, "%lld %lf", &iterations, &seconds);
    if (::pclose(lua) != 0 || read != 2 || iterations != n) return -1;
    times.push_back(seconds);
  }
  return Median(times);
}

// One frame of the 500 clips: the tick (each clip's onEnterFrame), then the tick with the frame
// drawn at the stage's 800 x 600. Milliseconds; moved tells whether the clips moved.
struct ClipFrame {
  double tick_ms = 0;
  double drawn_ms = 0;
  bool moved = false;
};
ClipFrame Clips(int clips, int frames) {
  const auto movie = Load(ClipsMovie(clips));
  swf::Player player(movie);
  player.Play();
  const double period = 1.0 / 30;
  player.AdvanceTo(0);  // places the clips and gives them their handler
  const float x0 = player.DisplayList().front().matrix.tx;
  std::vector<std::uint32_t> pixels(800 * 600);
  std::vector<double> ticks, drawn;
  for (int k = 1; k <= 2 * frames; ++k) {
    const bool draw = k > frames;
    const auto start = Clock::now();
    player.AdvanceTo((k + 0.5) * period);
    if (draw) player.Render({pixels.data(), 800, 600, 800});
    (draw ? drawn : ticks)
        .push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return {Median(ticks), Median(drawn), player.DisplayList().front().matrix.tx != x0};
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 7;
  if (argc == 3 && std::strcmp(argv[1], "--runs") == 0) runs = std::max(1, std::atoi(argv[2]));
  std::printf("AVM1 benchmark: medians of %d runs\n", runs);

  // The loop's length: as long as the player finishes in one frame, from 100 000 down.
  int n = 100'000;
  int actions = 0;
  double player = PlayerLoop(n, runs, actions);
  while (player < 0 && n > 1000) {
    n /= 10;
    player = PlayerLoop(n, runs, actions);
  }
  if (player < 0) n = 100'000;  // the references still run the full loop
  const double total_actions = double(n) * actions;
  std::printf("loop: %d iterations of %d actions (arithmetic, member get and set, a method call)\n",
              n, actions);
  if (player < 0) {
    std::printf("  SWF player: the loop's trace didn't come: its scripts don't run (yet)\n");
  } else {
    std::printf("  SWF player: %9.3f ms, %7.2f million actions/s\n", player * 1e3,
                total_actions / player / 1e6);
  }
  const double cpp = CppLoop(n, runs);
  std::printf("  C++:        %9.3f ms, %7.2f million action-equivalents/s\n", cpp * 1e3,
              total_actions / cpp / 1e6);
  const double lua = LuaLoop(n, runs);
  if (lua < 0) {
    std::printf("  Lua 5.4:    not run (lua5.4 missing: apt-get install lua5.4)\n");
  } else {
    std::printf("  Lua 5.4:    %9.3f ms, %7.2f million action-equivalents/s\n", lua * 1e3,
                total_actions / lua / 1e6);
    if (player >= 0) std::printf("  player / Lua: %.2f (goal: at most 3)\n", player / lua);
  }

  const ClipFrame frame = Clips(500, 5 * runs);
  std::printf("500 clips, each with an onEnterFrame that moves it (800 x 600 stage):\n");
  std::printf("  one frame: %.3f ms of scripts and display list, %.3f ms drawn too (goal: < 4)\n",
              frame.tick_ms, frame.drawn_ms);
  if (!frame.moved) std::printf("  the clips didn't move: their scripts don't run (yet)\n");
  return 0;
}
