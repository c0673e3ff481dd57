// Stand-in for ntleac in the benchmark: notes the moment it started (CLOCK_MONOTONIC, ns) in
// ntleac.time in the current folder. Compiled rather than a script so the figure holds no shell
// start-up.
#include <time.h>

#include <cstdio>

int main() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long ns = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
  if (std::FILE* out = std::fopen("ntleac.time", "a")) {
    std::fprintf(out, "%lld\n", ns);
    std::fclose(out);
  }
  return 0;
}
