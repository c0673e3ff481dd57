#pragma once
// Hears what a PulseAudio sink plays: parec records the sink's monitor, and each piece that
// arrives is noted on CLOCK_MONOTONIC, the clock the driver's pixel watch uses. A null sink plays
// at the pace of its own timer and hands the monitor each block as it plays it, so a sample's
// arrival is when it was heard, within the block (a few ms: parec asks for 5 ms pieces, and the
// sink renders no further ahead than its smallest reader asks).
//
// Pieces arrive late when the reader is held up, never early, so the clock that maps sample
// numbers to moments is taken from the earliest arrivals (a low percentile of arrival minus the
// sample's own time, a second at a time, and a line through those), not from any single piece.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace bench {

class MonitorRecorder {
 public:
  using Ns = std::int64_t;
  static constexpr int kRate = 44100;

  // Records `source` (e.g. "silent.monitor") of the server PULSE_SERVER names.
  explicit MonitorRecorder(const std::string& source) {
    int ends[2];
    if (pipe(ends) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(ends[1], STDOUT_FILENO);
      close(ends[0]);
      close(ends[1]);
      const std::string device = "--device=" + source;
      execlp("parec", "parec", "--raw", "--format=s16le", "--rate=44100", "--channels=1",
             "--latency-msec=5", device.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(ends[1]);
    if (pid_ < 0) {
      close(ends[0]);
      return;
    }
    fd_ = ends[0];
    reader_ = std::thread([this] { Read(); });
  }
  ~MonitorRecorder() { Stop(); }
  MonitorRecorder(const MonitorRecorder&) = delete;
  MonitorRecorder& operator=(const MonitorRecorder&) = delete;
  MonitorRecorder(MonitorRecorder&&) = delete;
  MonitorRecorder& operator=(MonitorRecorder&&) = delete;

  // Ends the recording (parec was started here, and only it is signalled).
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  // The moments (CLOCK_MONOTONIC ns) at which each click was heard: a click is a sample louder
  // than `threshold` after at least `quiet_ms` below it. Call after Stop.
  [[nodiscard]] std::vector<Ns> Clicks(int threshold, double quiet_ms) const {
    std::vector<Ns> clicks;
    if (arrivals_.size() < 16) return clicks;
    // Each piece's arrival less its samples' time, taken over a second's pieces at a time at the
    // low end; a line through those maps sample numbers to moments, so a sink whose clock runs a
    // little off 44.1 kHz doesn't move the later clicks.
    std::vector<std::pair<double, double>> lows;  // (sample, arrival less its time)
    std::vector<double> window;
    const auto close_window = [&](double sample) {
      if (window.size() < 8) return;
      std::nth_element(window.begin(), window.begin() + std::ptrdiff_t(window.size() / 20),
                       window.end());
      lows.emplace_back(sample, window[window.size() / 20]);
      window.clear();
    };
    std::size_t window_start = 0;
    for (const auto& [count, at] : arrivals_) {
      window.push_back(double(at) - double(count) * 1e9 / kRate);
      if (count - window_start >= std::size_t(kRate)) {
        close_window(double(window_start + count) / 2);
        window_start = count;
      }
    }
    close_window(double(window_start + arrivals_.back().first) / 2);
    if (lows.empty()) return clicks;
    double mean_n = 0, mean_d = 0;
    for (const auto& [n, d] : lows) {
      mean_n += n / double(lows.size());
      mean_d += d / double(lows.size());
    }
    double covariance = 0, variance = 0;
    for (const auto& [n, d] : lows) {
      covariance += (n - mean_n) * (d - mean_d);
      variance += (n - mean_n) * (n - mean_n);
    }
    const double slope = variance > 0 ? covariance / variance : 0;
    const auto first = [&](double n) { return mean_d + slope * (n - mean_n); };
    const auto quiet = static_cast<std::size_t>(quiet_ms * kRate / 1000);
    std::size_t last_loud = 0;
    bool any = false;
    for (std::size_t i = 0; i < samples_.size(); ++i) {
      if (std::abs(int(samples_[i])) <= threshold) continue;
      if (!any || i - last_loud >= quiet) {
        clicks.push_back(static_cast<Ns>(first(double(i)) + double(i) * 1e9 / kRate));
      }
      any = true;
      last_loud = i;
    }
    return clicks;
  }

 private:
  static Ns Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<Ns>(t.tv_sec) * 1000000000LL + t.tv_nsec;
  }

  void Read() {
    std::vector<std::int16_t> piece(256);
    std::size_t odd = 0;  // a byte of a sample split between reads
    unsigned char carry = 0;
    for (;;) {
      auto* bytes = reinterpret_cast<unsigned char*>(piece.data());
      if (odd != 0) bytes[0] = carry;
      const ssize_t got = read(fd_, bytes + odd, piece.size() * 2 - odd);
      if (got <= 0) return;
      const Ns at = Now();
      const std::size_t total = odd + std::size_t(got);
      samples_.insert(samples_.end(), piece.begin(), piece.begin() + std::ptrdiff_t(total / 2));
      odd = total % 2;
      if (odd != 0) carry = bytes[total - 1];
      arrivals_.emplace_back(samples_.size(), at);
    }
  }

  pid_t pid_ = -1;
  int fd_ = -1;
  std::vector<std::int16_t> samples_;
  std::vector<std::pair<std::size_t, Ns>> arrivals_;  // samples so far, when they had arrived
  std::thread reader_;
};

}  // namespace bench
