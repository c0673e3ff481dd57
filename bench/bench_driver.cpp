// Drives one run of a launcher-like program from outside and prints what it measured, one
// "name=value" per line. It watches the screen, not the program: a screenshot of one pixel (the
// probe point, the screen's centre) is taken about every millisecond, and a phase counts as shown
// when that pixel has the colour the phase paints there.
//
//   bench_driver [options] -- PROGRAM ARGS...
//     --cwd DIR          folder to start PROGRAM in (ntleac.time is looked for there)
//     --logo RRGGBB      colour of the logo at the probe point
//     --movie RRGGBB     colour of the movie's first part at the probe point (omit: no movie)
//     --tail RRGGBB      colour of the movie's last part at the probe point
//     --idle-ms N        length of the idle measurement on the logo (default 3000)
//     --stamp-wait-ms N  how long ntleac.time may follow the program's end (default 5000; 0 for
//                        an ntleac that notes no time, such as the Windows stand-in)
//     --keep-focus       leave the keyboard focus where the window manager put it (Wine's
//                        windows lose the keyboard when the focus moves to their frame)
//     --frames N         the movie numbers its frames 2..N at the probe point (red 0x80, frame
//                        number in green * 256 + blue) after its first frame in --movie's colour
//     --fps F            its frame rate (frames are due on its grid from the first frame, or
//                        where their sound is heard with --listen)
//     --listen SOURCE    record the PulseAudio source SOURCE (a null sink's monitor) through
//                        parec while the program runs, to hear the movie's clicks
//     --click-every N    the movie's sound clicks at the start of frames 1, 1 + N, 1 + 2N...
//     --frame-log FILE   write when each numbered frame first showed (ms after frame 1) and how
//                        late it was (ms) to FILE
//     --click-delay-ms D the sound's own delay: its clicks come D ms after their frames' starts
//                        in the decoded samples (an MP3 encoder's priming)
//
// Figures: start_to_logo_ms (fork to logo pixel), idle_cpu_pct (CPU time of all threads over the
// idle window, as % of one core), shown_hwm_kb, logo_hwm_kb and movie_hwm_kb (VmHWM read when the
// logo appeared, just before the key, and last while the program lived), key_to_frame_ms (XTest key
// press to movie pixel), frame_to_ntleac_ms and tail_to_ntleac_ms (first movie pixel, first tail
// pixel, to the start ntleac noted in ntleac.time), ntleac_to_exit_ms (that start to the program's
// end), exit_status; and for a program that notes when libmpv reported the end of the file
// (end_file.time, the mpv reference): tail_to_end_ms and end_to_ntleac_ms. With --listen:
// clicks_heard, and sound_offset_ms (median), sound_offset_min_ms and sound_offset_max_ms: when
// each clicking frame after the first showed less when its click was heard (positive: the
// picture is late); sound_first_offset_ms the same for the first frame.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "monitor_recorder.h"

namespace {

using Ns = std::int64_t;

Ns Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<Ns>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}
double Ms(Ns ns) {
  return static_cast<double>(ns) / 1e6;
}
void SleepMs(double ms) {
  std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(ms * 1000)));
}

struct Rgb {
  int r = 0, g = 0, b = 0;
};
std::optional<Rgb> ParseRgb(const std::string& hex) {
  if (hex.size() != 6) return std::nullopt;
  const unsigned long v = std::strtoul(hex.c_str(), nullptr, 16);
  return Rgb{static_cast<int>((v >> 16) & 255U), static_cast<int>((v >> 8) & 255U),
             static_cast<int>(v & 255U)};
}
bool Near(const Rgb& a, const Rgb& b) {
  return std::abs(a.r - b.r) <= 40 && std::abs(a.g - b.g) <= 40 && std::abs(a.b - b.b) <= 40;
}

struct DisplayClose {
  void operator()(Display* d) const { XCloseDisplay(d); }
};

class ProbeScreen {
 public:
  ProbeScreen() : display_(XOpenDisplay(nullptr)) {
    if (!display_) return;
    root_ = XDefaultRootWindow(display_.get());
    const int screen = XDefaultScreen(display_.get());
    x_ = XDisplayWidth(display_.get(), screen) / 2;
    y_ = XDisplayHeight(display_.get(), screen) / 2;
  }
  bool Ok() const { return display_ != nullptr; }

  Rgb Probe() const {
    XImage* image = XGetImage(display_.get(), root_, x_, y_, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr) return {};
    const unsigned long p = XGetPixel(image, 0, 0);
    auto channel = [p](unsigned long mask) {
      if (mask == 0) return 0;
      int shift = 0;
      while (((mask >> shift) & 1U) == 0) ++shift;
      return static_cast<int>(((p & mask) >> shift) * 255 / (mask >> shift));
    };
    const Rgb rgb{channel(image->red_mask), channel(image->green_mask), channel(image->blue_mask)};
    XDestroyImage(image);
    return rgb;
  }

  // The pointer on the probe point and the keyboard focus on the window under it: with no window
  // manager, that is how a player's key would reach it.
  void FocusProbedWindow() const {
    XWarpPointer(display_.get(), None, root_, 0, 0, 0, 0, x_, y_);
    int wx = 0, wy = 0;
    Window child = 0;
    XTranslateCoordinates(display_.get(), root_, root_, x_, y_, &wx, &wy, &child);
    if (child != 0) XSetInputFocus(display_.get(), child, RevertToPointerRoot, CurrentTime);
    XSync(display_.get(), False);
  }

  void Key(bool down) const {
    XTestFakeKeyEvent(display_.get(), XKeysymToKeycode(display_.get(), XK_space),
                      down ? True : False, CurrentTime);
    XFlush(display_.get());
  }

 private:
  std::unique_ptr<Display, DisplayClose> display_;
  Window root_ = 0;
  int x_ = 0, y_ = 0;
};

// CPU time of every thread of pid, in ns (first field of each task's schedstat), by thread id.
std::map<std::string, Ns> CpuTimes(pid_t pid) {
  std::map<std::string, Ns> times;
  std::error_code ec;
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& entry : std::filesystem::directory_iterator(tasks, ec)) {
    std::ifstream in(entry.path() / "schedstat");
    long long ns = 0;
    if (in >> ns) times[entry.path().filename().string()] = ns;
  }
  return times;
}

// CPU time spent between two readings: a thread that ended meanwhile takes its time with it, so
// only what each thread still there added is counted (never less than nothing).
Ns CpuSpent(const std::map<std::string, Ns>& before, const std::map<std::string, Ns>& after) {
  Ns spent = 0;
  for (const auto& [thread, ns] : after) {
    const auto then = before.find(thread);
    spent += ns - (then == before.end() ? 0 : then->second);
  }
  return spent;
}

// The process's own memory now, in kB, from /proc/PID/smaps_rollup: RSS, PSS, and USS (private
// clean + private dirty: what ending the process would give back; shared library pages that
// another process also maps are not in it).
struct Footprint {
  long rss = 0, pss = 0, uss = 0;
};
Footprint Memory(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
  Footprint f;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name;
    long kb = 0;
    if (!(fields >> name >> kb)) continue;
    if (name == "Rss:") f.rss = kb;
    if (name == "Pss:") f.pss = kb;
    if (name == "Private_Clean:" || name == "Private_Dirty:") f.uss += kb;
  }
  return f;
}

// VmHWM of pid in kB, or 0 once it has gone.
long HighWater(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return 0;
}

struct Options {
  std::string cwd = ".";
  Rgb logo;
  std::optional<Rgb> movie;
  std::optional<Rgb> tail;
  double idle_ms = 3000;
  int stamp_wait_ms = 5000;
  bool keep_focus = false;
  int frames = 0;
  double fps = 0;
  std::string listen;
  int click_every = 0;
  double click_delay_ms = 0;
  std::string frame_log;
  std::vector<std::string> command;
};

// The frame number a numbered frame shows at the probe point, or 0.
int FrameNumber(const Rgb& c) {
  return std::abs(c.r - 0x80) <= 1 ? c.g * 256 + c.b : 0;
}

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options o;
  bool have_logo = false;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--") {
      ++i;
      break;
    }
    if (a == "--keep-focus") {
      o.keep_focus = true;
      continue;
    }
    if (i + 1 >= argc) return std::nullopt;
    const std::string v = argv[++i];
    if (a == "--cwd") {
      o.cwd = v;
    } else if (a == "--logo") {
      auto c = ParseRgb(v);
      if (!c) return std::nullopt;
      o.logo = *c;
      have_logo = true;
    } else if (a == "--movie") {
      o.movie = ParseRgb(v);
      if (!o.movie) return std::nullopt;
    } else if (a == "--tail") {
      o.tail = ParseRgb(v);
      if (!o.tail) return std::nullopt;
    } else if (a == "--idle-ms") {
      o.idle_ms = std::strtod(v.c_str(), nullptr);
    } else if (a == "--frames") {
      o.frames = std::atoi(v.c_str());
    } else if (a == "--fps") {
      o.fps = std::strtod(v.c_str(), nullptr);
    } else if (a == "--listen") {
      o.listen = v;
    } else if (a == "--click-every") {
      o.click_every = std::atoi(v.c_str());
    } else if (a == "--frame-log") {
      o.frame_log = v;
    } else if (a == "--click-delay-ms") {
      o.click_delay_ms = std::strtod(v.c_str(), nullptr);
    } else if (a == "--stamp-wait-ms") {
      o.stamp_wait_ms = std::atoi(v.c_str());
    } else {
      return std::nullopt;
    }
  }
  for (; i < argc; ++i) o.command.emplace_back(argv[i]);
  if (!have_logo || o.command.empty()) return std::nullopt;
  return o;
}

class Child {
 public:
  explicit Child(const Options& o) {
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(o.cwd.c_str()) != 0) _exit(126);
      const int null = open("/dev/null", O_RDWR);
      if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
      }
      std::vector<char*> args;
      for (const auto& s : o.command) args.push_back(const_cast<char*>(s.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~Child() {
    if (Running()) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t Pid() const { return pid_; }
  bool Running() {
    if (pid_ <= 0 || reaped_) return false;
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return false;
    }
    return r == 0;
  }
  int ExitStatus() const { return status_; }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = -1;
};

// How far each clicking frame showed from its click as heard: click j belongs to frame
// 1 + j * click_every (the clicks before the movie's are none: the sink is silent until it plays).
// Returns when each clicking frame's sound was heard.
std::vector<Ns> PrintSoundOffsets(bench::MonitorRecorder& ears, const std::vector<Ns>& shown,
                                  const Options& o) {
  ears.Stop();
  const std::vector<Ns> clicks = ears.Clicks(8000, 100);
  // The first frame shows at once, before any sound can be heard: it is told apart.
  std::vector<double> offsets;
  for (std::size_t j = 0; j < clicks.size(); ++j) {
    const std::size_t k = 1 + j * std::size_t(o.click_every);
    if (k >= shown.size()) break;
    if (shown[k] == 0) continue;
    const double offset = Ms(shown[k] - clicks[j]) + o.click_delay_ms;
    std::fprintf(stderr, "sound offset %.1f ms\n", offset);
    if (j == 0) {
      std::printf("sound_first_offset_ms=%.1f\n", offset);
    } else {
      offsets.push_back(offset);
    }
  }
  std::printf("clicks_heard=%zu\n", clicks.size());
  if (!offsets.empty()) {
    std::sort(offsets.begin(), offsets.end());
    std::printf("sound_offset_ms=%.1f\nsound_offset_min_ms=%.1f\nsound_offset_max_ms=%.1f\n",
                offsets[offsets.size() / 2], offsets.front(), offsets.back());
  }
  std::vector<Ns> heard;
  for (const Ns click : clicks) heard.push_back(click - static_cast<Ns>(o.click_delay_ms * 1e6));
  return heard;
}

int Fail(const std::string& why) {
  std::printf("error=%s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = ParseOptions(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: bench_driver --logo RRGGBB [--movie RRGGBB [--tail RRGGBB]] [--cwd DIR] "
                 "-- PROGRAM ARGS\n");
    return 2;
  }
  const Options& o = *options;
  ProbeScreen screen;
  if (!screen.Ok()) return Fail("no X display");
  const std::filesystem::path stamp = std::filesystem::path(o.cwd) / "ntleac.time";
  std::filesystem::remove(stamp);
  std::filesystem::remove(std::filesystem::path(o.cwd) / "end_file.time");

  // Listening starts before the program, so the recording's clock has settled by its first sound.
  std::optional<bench::MonitorRecorder> ears;
  if (!o.listen.empty()) {
    ears.emplace(o.listen);
    SleepMs(300);
  }
  const Ns t0 = Now();
  Child child(o);
  auto wait_for = [&](const Rgb& colour, double timeout_ms, long* hwm) -> std::optional<Ns> {
    const Ns deadline = Now() + static_cast<Ns>(timeout_ms * 1e6);
    while (Now() < deadline) {
      if (Near(screen.Probe(), colour)) return Now();
      if (!child.Running()) return std::nullopt;
      if (hwm != nullptr) *hwm = std::max(*hwm, HighWater(child.Pid()));
      SleepMs(1);
    }
    return std::nullopt;
  };

  const auto logo = wait_for(o.logo, 20000, nullptr);
  if (!logo) return Fail("logo never shown");
  std::printf("start_to_logo_ms=%.1f\n", Ms(*logo - t0));
  std::printf("shown_hwm_kb=%ld\n", HighWater(child.Pid()));

  SleepMs(500);  // let start-up work that follows the first paint settle
  const auto cpu0 = CpuTimes(child.Pid());
  const Ns idle0 = Now();
  SleepMs(o.idle_ms);
  const auto cpu1 = CpuTimes(child.Pid());
  const Ns idle1 = Now();
  std::printf("idle_cpu_pct=%.2f\n", 100.0 * static_cast<double>(CpuSpent(cpu0, cpu1)) /
                                         static_cast<double>(idle1 - idle0));
  std::printf("logo_hwm_kb=%ld\n", HighWater(child.Pid()));
  const Footprint logo_memory = Memory(child.Pid());
  std::printf("logo_rss_kb=%ld\nlogo_pss_kb=%ld\nlogo_uss_kb=%ld\n", logo_memory.rss,
              logo_memory.pss, logo_memory.uss);

  if (!o.keep_focus) screen.FocusProbedWindow();
  screen.Key(true);
  const Ns key = Now();
  if (!o.movie) {
    SleepMs(150);
    screen.Key(false);
    for (int i = 0; i < 5000 && child.Running(); ++i) SleepMs(1);
    std::printf("exit_status=%d\n", child.ExitStatus());
    return 0;
  }
  // The key is held across a few 50 ms polls, then let go, while the first frame is watched for.
  long movie_hwm = 0;
  std::optional<Ns> frame;
  // When each numbered frame first showed (0: not seen); the first ones may show while the key is
  // still held.
  std::vector<Ns> shown(static_cast<std::size_t>(std::max(o.frames, 0)) + 1, 0);
  const auto note_frame = [&](const Rgb& probe) {
    const int k = FrameNumber(probe);
    if (k <= 1 || k > o.frames || shown[std::size_t(k)] != 0) return false;
    shown[std::size_t(k)] = Now();
    return true;
  };
  bool released = false;
  const Ns deadline = key + 10'000'000'000LL;
  while (Now() < deadline && child.Running()) {
    if (!released && Now() - key >= 150'000'000LL) {
      screen.Key(false);
      released = true;
    }
    const Rgb probe = screen.Probe();
    if (!frame && Near(probe, *o.movie)) frame = Now();
    if (frame) note_frame(probe);
    movie_hwm = std::max(movie_hwm, HighWater(child.Pid()));
    if (frame && released) break;
    SleepMs(1);
  }
  if (!released) screen.Key(false);
  if (!frame) return Fail("movie never shown");
  std::printf("key_to_frame_ms=%.1f\n", Ms(*frame - key));

  std::optional<Ns> tail;
  shown.at(shown.size() > 1 ? 1 : 0) = *frame;
  const auto cpu_first = CpuTimes(child.Pid());
  std::map<std::string, Ns> cpu_last;
  Ns last_seen = *frame;
  long play_uss = 0;
  // A minute, or the movie's length and half a minute more for a longer one.
  const auto play_limit =
      static_cast<Ns>(std::max(60.0, o.fps > 0 ? o.frames / o.fps + 30.0 : 0.0) * 1e9);
  while (child.Running()) {
    movie_hwm = std::max(movie_hwm, HighWater(child.Pid()));
    const Rgb probe = screen.Probe();
    if (o.tail && !tail && Near(probe, *o.tail)) tail = Now();
    if (note_frame(probe)) {
      const int k = FrameNumber(probe);
      last_seen = shown[std::size_t(k)];
      cpu_last = CpuTimes(child.Pid());
      if (k == o.frames / 2) play_uss = Memory(child.Pid()).uss;
    }
    SleepMs(1);
    if (Now() - key > play_limit) return Fail("program did not end");
  }
  const Ns ended = Now();
  std::printf("movie_hwm_kb=%ld\n", movie_hwm);
  if (o.frames > 1 && o.fps > 0) {
    const double period = 1e9 / o.fps;
    // A frame is due where its sound is heard: a period a frame on from the last click before it
    // (a sound that stalls takes its frames with it); without the sound, on the first frame's grid.
    std::vector<Ns> heard;
    if (ears && o.click_every > 0) heard = PrintSoundOffsets(*ears, shown, o);
    const auto due = [&](int k) {
      if (heard.empty()) return double(*frame) + (k - 1) * period;
      const std::size_t j =
          std::min(std::size_t(k - 1) / std::size_t(o.click_every), heard.size() - 1);
      return double(heard[j]) + double(k - 1 - int(j) * o.click_every) * period;
    };
    int seen = 0, on_time = 0, last = 1;
    for (int k = 1; k <= o.frames; ++k) {
      if (shown[std::size_t(k)] == 0) continue;
      ++seen;
      last = k;
      const double late = double(shown[std::size_t(k)]) - due(k);
      if (late <= period) ++on_time;
    }
    std::printf("frames_seen=%d\nframes_on_time_pct=%.1f\n", seen, 100.0 * on_time / o.frames);
    // Each frame's offset from its time on the grid; the drift is how far it moved from the first
    // numbered frame to the last, so a constant start-up offset doesn't count.
    const auto offset = [&](int k) {
      return double(shown[std::size_t(k)] - *frame) - (k - 1) * period;
    };
    int second = 0;
    for (int k = 2; k <= o.frames && second == 0; ++k) second = shown[std::size_t(k)] != 0 ? k : 0;
    if (second != 0) {
      std::printf("second_frame_offset_ms=%.1f\n", offset(second) / 1e6);
      std::printf("drift_ms=%.1f\n", (offset(last) - offset(second)) / 1e6);
    }
    if (!cpu_last.empty() && last_seen > *frame) {
      std::printf("play_cpu_pct=%.1f\n",
                  100.0 * double(CpuSpent(cpu_first, cpu_last)) / double(last_seen - *frame));
    }
    if (play_uss > 0) std::printf("play_uss_kb=%ld\n", play_uss);
    if (!o.frame_log.empty()) {
      std::ofstream log(o.frame_log);
      for (int k = 1; k <= o.frames; ++k) {
        if (shown[std::size_t(k)] != 0)
          log << k << ' ' << Ms(shown[std::size_t(k)] - *frame) << ' '
              << (double(shown[std::size_t(k)]) - due(k)) / 1e6 << '\n';
      }
    }
  }
  // ntleac is started unwaited, so it may note its start a moment after the program ended.
  auto read_stamp = [](const std::filesystem::path& file, int wait_ms) -> std::optional<Ns> {
    for (int i = 0; i <= wait_ms; ++i) {
      std::ifstream in(file);
      long long ns = 0;
      if (in >> ns) return ns;
      if (wait_ms > 0) SleepMs(1);
    }
    return std::nullopt;
  };
  if (const auto started = read_stamp(stamp, o.stamp_wait_ms)) {
    std::printf("frame_to_ntleac_ms=%.1f\n", Ms(*started - *frame));
    if (tail) std::printf("tail_to_ntleac_ms=%.1f\n", Ms(*started - *tail));
    std::printf("ntleac_to_exit_ms=%.1f\n", Ms(ended - *started));
    // Only the mpv reference notes the moment libmpv reported the end of the file.
    if (const auto end = read_stamp(std::filesystem::path(o.cwd) / "end_file.time", 0)) {
      if (tail) std::printf("tail_to_end_ms=%.1f\n", Ms(*end - *tail));
      std::printf("end_to_ntleac_ms=%.1f\n", Ms(*started - *end));
    }
  }
  std::printf("exit_status=%d\n", child.ExitStatus());
  return 0;
}
