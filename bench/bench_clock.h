#pragma once
// The benchmarks' clocks: wall time, and the thread's own processor time, which on a machine
// other work shares is closer to what a frame costs than the wall clock (that also counts the
// time the thread waited for a core); and the median of a run.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace bench {

inline double Wall() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

inline double Cpu() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct Times {
  std::vector<double> wall, cpu;
};

template <typename F>
void Measure(Times& times, F&& draw) {
  const double w = Wall(), c = Cpu();
  draw();
  times.cpu.push_back(Cpu() - c);
  times.wall.push_back(Wall() - w);
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace bench
