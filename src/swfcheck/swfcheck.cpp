#include "swfcheck/swfcheck.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <optional>
#include <ostream>
#include <sstream>
#include <string_view>
#include <system_error>
#include <vector>

#include "player/swf/swf_movie_player.h"
#include "player/swf/swf_player_core.h"
#include "swf/bitmap_cache.h"
#include "swf/movie.h"
#include "swf/swf_player.h"
#include "swfcheck/png_writer.h"

namespace swfcheck {
namespace {

constexpr std::string_view kUsage =
    "usage: swfcheck MOVIE.swf [--frames N] [--loop] [--trace] [--draw] [--png FILE] [--size WxH]\n"
    "                [--input FILE] [--clock YYYY-MM-DDTHH:MM:SS+HHMM]\n"
    "                [--quality low|medium|high|best]\n"
    "  Says on standard error what the launcher's SWF player makes of MOVIE.swf; exits 0 when\n"
    "  it loads, 1 when it is refused, 2 on a usage error.\n"
    "  --frames N   play N frames on the movie's own clock (default: its timeline's frames)\n"
    "  --loop       loop the main timeline as Flash Player does by default (the launcher doesn't)\n"
    "  --trace      print the movie's trace lines on standard output\n"
    "  --draw       draw every frame played, as the launcher does (its bitmaps decoded as shown)\n"
    "  --png FILE   write the last frame played as a PNG picture\n"
    "  --size WxH   the frame's size in pixels, the window's for the movie (default: the stage's)\n"
    "  --quality Q  Flash's stage quality: low draws without anti-aliasing (default: high)\n"
    "  --input FILE input given after the frames, a line each: 'move X Y', 'down X Y', 'up X Y'\n"
    "               (stage pixels), 'keydown CODE CHAR', 'keyup CODE CHAR' (Flash's key code and\n"
    "               the character typed, 0 for none); 'text CHAR...' (code points typed, or\n"
    "               pasted at once, into the focused text field; 13 is Enter); 'wait' lets the\n"
    "               next frame run first\n"
    "  --clock T    the local date and time when the movie starts, with the zone's offset from\n"
    "               UTC, for the movie's Date (default: the system's clock and zone)\n";

// Bounds whatever the command line asks for: a frame's pixels as a movie's bitmap may have them.
constexpr int kMaxFrames = 1'000'000;
constexpr int kMaxSide = 8192;
constexpr std::uint64_t kMaxPixels = swf::Limits::kMaxBitmapPixels;

struct Options {
  std::string movie;
  std::optional<int> frames;
  bool trace = false;
  bool loop = false;
  bool draw = false;
  std::optional<std::string> png;
  std::optional<std::pair<int, int>> size;
  std::optional<std::string> input;
  std::optional<std::pair<double, int>> clock;  // UTC ms, zone minutes
  bool low_quality = false;
};

std::optional<int> Number(std::string_view text, int max) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0 || value > max) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::pair<int, int>> Size(std::string_view text) {
  const std::size_t x = text.find_first_of("xX");
  if (x == std::string_view::npos) return std::nullopt;
  const auto w = Number(text.substr(0, x), kMaxSide);
  const auto h = Number(text.substr(x + 1), kMaxSide);
  if (!w || !h || *w == 0 || *h == 0 || std::uint64_t(*w) * std::uint64_t(*h) > kMaxPixels) {
    return std::nullopt;
  }
  return std::pair(*w, *h);
}

// "2001-02-03T04:05:06+0545": the UTC time in ms and the zone's offset in minutes.
std::optional<std::pair<double, int>> Clock(const std::string& text) {
  std::array<int, 7> f{};  // year, month, day, hour, minute, second, zone as HHMM
  char sign = 0;
  int end = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%4d%n", &f[0], &f[1], &f[2], &f[3], &f[4],
                  &f[5], &sign, &f[6], &end) != 8 ||
      std::size_t(end) != text.size() || (sign != '+' && sign != '-') || f[1] < 1 || f[1] > 12 ||
      f[2] < 1 || f[2] > 31 || f[3] > 23 || f[4] > 59 || f[5] > 59 || f[6] % 100 > 59 ||
      f[6] > 1400) {
    return std::nullopt;
  }
  // Days since 1970-01-01 of the proleptic Gregorian calendar.
  const int month = f[1];
  const int y = f[0] - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int year_of_era = y - era * 400;
  const int day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + f[2] - 1;
  const int day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  const double days = double(era) * 146097 + day_of_era - 719468;
  const int zone_minutes = (sign == '-' ? -1 : 1) * (f[6] / 100 * 60 + f[6] % 100);
  const double local = ((days * 24 + f[3]) * 60 + f[4]) * 60000.0 + f[5] * 1000.0;
  return std::pair(local - zone_minutes * 60000.0, zone_minutes);
}

// The options, or the sentence saying what is wrong with them.
std::optional<Options> Parse(std::span<const std::string> args, std::string& wrong) {
  Options o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    if (arg == "--trace") {
      o.trace = true;
    } else if (arg == "--loop") {
      o.loop = true;
    } else if (arg == "--draw") {
      o.draw = true;
    } else if (arg == "--frames" || arg == "--png" || arg == "--size" || arg == "--input" ||
               arg == "--clock" || arg == "--quality") {
      if (!has_value) {
        wrong = arg + " needs a value";
        return std::nullopt;
      }
      const std::string& value = args[++i];
      if (arg == "--png") {
        o.png = value;
      } else if (arg == "--input") {
        o.input = value;
      } else if (arg == "--quality") {
        if (value != "low" && value != "medium" && value != "high" && value != "best") {
          wrong = "--quality takes low, medium, high or best";
          return std::nullopt;
        }
        o.low_quality = value == "low";
      } else if (arg == "--frames" && !(o.frames = Number(value, kMaxFrames))) {
        wrong = "--frames takes a whole number from 0 to " + std::to_string(kMaxFrames);
        return std::nullopt;
      } else if (arg == "--size" && !(o.size = Size(value))) {
        wrong = "--size takes WxH, each from 1 to " + std::to_string(kMaxSide) + " and at most " +
                std::to_string(kMaxPixels) + " pixels";
        return std::nullopt;
      } else if (arg == "--clock" && !(o.clock = Clock(value))) {
        wrong = "--clock takes YYYY-MM-DDTHH:MM:SS+HHMM";
        return std::nullopt;
      }
    } else if (arg.starts_with("-") && arg != "-") {
      wrong = "unknown option " + arg;
      return std::nullopt;
    } else if (o.movie.empty()) {
      o.movie = arg;
    } else {
      wrong = "one movie at a time";
      return std::nullopt;
    }
  }
  if (o.movie.empty()) wrong = "no movie named";
  return o.movie.empty() ? std::nullopt : std::optional(o);
}

std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

struct InputEvent {
  enum Kind : std::uint8_t { Move, Down, Up, KeyDown, KeyUp, Text, Wait };
  Kind kind = Wait;
  double x = 0;  // a key's code and character for the keys
  double y = 0;
  std::u32string text;  // what Text types
};

// The --input file's events; false with `why` for a file that can't be read or a line that
// isn't one.
bool ReadInput(const std::string& name, std::vector<InputEvent>& out, std::string& why) {
  std::ifstream in(PathOf(name));
  if (!in) {
    why = "can't be read";
    return false;
  }
  constexpr std::size_t kMaxEvents = 1'000'000;
  std::string line;
  while (std::getline(in, line) && out.size() < kMaxEvents) {
    std::istringstream words(line);
    std::string word;
    if (!(words >> word)) continue;
    InputEvent e;
    if (word == "wait") {
      out.push_back(e);
      continue;
    }
    if (word == "text") {
      e.kind = InputEvent::Text;
      long long code = 0;
      while (words >> code && code > 0 && code <= 0x10FFFF && e.text.size() < 100'000) {
        e.text.push_back(char32_t(code));
      }
      if (e.text.empty() || !words.eof()) {
        why = "not an input line: " + line;
        return false;
      }
      out.push_back(std::move(e));
      continue;
    }
    e.kind = word == "move"      ? InputEvent::Move
             : word == "down"    ? InputEvent::Down
             : word == "keydown" ? InputEvent::KeyDown
             : word == "keyup"   ? InputEvent::KeyUp
                                 : InputEvent::Up;
    const bool known =
        word == "move" || word == "down" || word == "up" || word == "keydown" || word == "keyup";
    if (!known || !(words >> e.x >> e.y) || !std::isfinite(e.x) || !std::isfinite(e.y) ||
        (e.kind >= InputEvent::KeyDown && (e.x < 0 || e.x > 255 || e.y < 0 || e.y > 0x10FFFF))) {
      why = "not an input line: " + line;
      return false;
    }
    out.push_back(e);
  }
  return true;
}

// The file's bytes as the launcher reads them, or why they can't be had.
std::optional<std::vector<std::uint8_t>> ReadMovie(const std::string& name, std::string& why) {
  const std::filesystem::path path = PathOf(name);
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    why = error ? error.message() : "not a file";
    return std::nullopt;
  }
  constexpr std::size_t kMax = launcher::swfplayer::SwfMoviePlayer::kMaxFileBytes;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (!error && size > kMax) {
    why = "larger than the " + std::to_string(kMax >> 20) + " MiB the launcher reads";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> bytes(error ? 0 : std::size_t(size));
  if (in) in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!in) {
    why = std::strerror(errno);
    return std::nullopt;
  }
  return bytes;
}

bool WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(PathOf(name), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  out.close();
  return !bytes.empty() && out.good();
}

int Pixels(double twips) {
  return int(std::lround(std::clamp(twips / 20.0, 1.0, double(kMaxSide))));
}

// The stage's size in pixels, made smaller (proportions kept) where it has too many.
std::pair<int, int> StageSize(const swf::Rect& r) {
  int w = Pixels(r.x_max - r.x_min);
  int h = Pixels(r.y_max - r.y_min);
  const double pixels = double(w) * double(h);
  if (pixels > double(kMaxPixels)) {
    const double scale = std::sqrt(double(kMaxPixels) / pixels);
    w = std::max(1, int(w * scale));
    h = std::max(1, int(h * scale));
  }
  return {w, h};
}

std::string Hex(const swf::Rgba& c) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", c.r, c.g, c.b);
  return text;
}

void Describe(const Options& o, const swf::Movie& movie, std::ostream& err) {
  const swf::Header& header = movie.header;
  const swf::StageInfo stage = swf::Stage(movie);
  const swf::Rect& r = stage.bounds;
  err << o.movie << ": SWF " << header.version << ", "
      << (header.compressed ? "zlib-compressed (CWS)" : "uncompressed (FWS)") << ", "
      << header.file_length << " bytes\n";
  const auto [width, height] = StageSize(r);
  err << "stage: " << width << " x " << height << " pixels (" << r.x_min << "," << r.y_min << " to "
      << r.x_max << "," << r.y_max << " twips), background " << Hex(stage.background) << "\n";
  err << "frame rate: " << stage.frame_rate << " fps\n";
  err << "frames: " << stage.frame_count << " (the header says " << header.frame_count << ")\n";
}

// The bitmap cache as the frames played left it: how often pictures were decoded and dropped,
// and the most pixels it held at once.
void DescribeBitmaps(const swf::BitmapCache& bitmaps, std::ostream& err) {
  if (bitmaps.size() == 0) return;
  const swf::BitmapCache::Stats stats = bitmaps.stats();
  const auto mib = [](std::size_t bytes) { return double(bytes) / double(1 << 20); };
  err << "bitmaps: " << bitmaps.size() << "; decoded " << stats.decoded << " times, dropped "
      << stats.dropped << " times, " << stats.failed << " not decoded; at most " << std::fixed
      << std::setprecision(1) << mib(stats.peak_bytes) << " MiB of pixels held (the cache keeps "
      << mib(swf::Limits::kBitmapCacheBytes) << ")" << std::defaultfloat << "\n";
}

}  // namespace

int Run(std::span<const std::string> args, const Decoders& decoders, std::ostream& out,
        std::ostream& err) {
  std::string wrong;
  const std::optional<Options> parsed = Parse(args, wrong);
  if (!parsed) {
    err << "swfcheck: " << wrong << "\n" << kUsage;
    return kExitUsage;
  }
  const Options& o = *parsed;

  std::string why;
  const auto file = ReadMovie(o.movie, why);
  if (!file) {
    err << o.movie << ": can't be read: " << why << "\n";
    return kExitRefused;
  }
  swf::LoadResult loaded = swf::LoadMovie(*file, decoders.images);
  if (!loaded.movie) {
    err << o.movie << ": refused: " << loaded.refusal << "\n";
    return kExitRefused;
  }
  const swf::Movie& movie = *loaded.movie;
  Describe(o, movie, err);

  // Headless, on the movie's own clock: frame k is due k periods after the first, and each call
  // asks for half a period past it, so every call runs exactly one frame.
  swf::Player player(loaded.movie, {}, decoders.video);
  player.SetDeviceFonts(decoders.fonts);
  player.SetRandomSeed(kRandomSeed);
  if (o.clock) player.SetWallClock(o.clock->first, o.clock->second);
  if (o.size) player.SetWindowSize(o.size->first, o.size->second);
  player.SetLoop(o.loop);
  player.SetLowQuality(o.low_quality);
  player.SetImageDecoder(decoders.images);
  // Files the movie loads come from its own folder (the player checks the name stays in it).
  player.SetFileReader([folder = PathOf(o.movie).parent_path()](const std::string& name) {
    std::string unread;
    const auto bytes = ReadMovie((folder / PathOf(name)).string(), unread);
    return bytes ? std::optional<std::string>(std::string(bytes->begin(), bytes->end()))
                 : std::nullopt;
  });
  player.Play();
  const swf::StageInfo stage = swf::Stage(movie);
  const double rate =
      std::isfinite(stage.frame_rate) ? std::clamp(double(stage.frame_rate), 1.0, 120.0) : 1.0;
  int frames = o.frames.value_or(std::max(1, stage.frame_count));
  const auto [width, height] = o.size.value_or(StageSize(stage.bounds));
  std::vector<std::uint32_t> pixels(o.draw || o.png ? std::size_t(width) * std::size_t(height) : 0);
  std::size_t trace_lines = 0;
  std::vector<InputEvent> input;
  if (o.input) {
    std::string bad_line;
    if (!ReadInput(*o.input, input, bad_line)) {
      err << *o.input << ": " << bad_line << "\n";
      return kExitRefused;
    }
  }
  std::size_t next_input = 0;
  const auto take_trace = [&] {
    for (const std::string& line : player.TakeTrace()) {
      ++trace_lines;
      if (o.trace) out << line << '\n';
    }
  };
  bool quit = false;
  for (int k = 0; k < frames && !quit; ++k) {
    player.AdvanceTo(k == 0 ? 0.0 : (k + 0.5) / rate);
    if (o.draw) player.Render({pixels.data(), width, height, width});
    take_trace();
    // FSCommand "quit" ends the standalone Flash Player: the movie plays no further.
    for (const swf::MovieCommand& c : player.TakeCommands()) {
      std::string name = c.command;
      for (char& ch : name) ch = char(std::tolower(static_cast<unsigned char>(ch)));
      if (name == "quit") {
        quit = true;
        frames = k + 1;
      }
    }
    // The input after this frame, up to the next wait.
    for (; next_input < input.size(); ++next_input) {
      const InputEvent& e = input[next_input];
      if (e.kind == InputEvent::Wait) {
        ++next_input;
        break;
      }
      if (e.kind == InputEvent::KeyDown) {
        player.KeyDown(int(e.x), char32_t(e.y));
      } else if (e.kind == InputEvent::KeyUp) {
        player.KeyUp(int(e.x));
      } else if (e.kind == InputEvent::Text) {
        player.TextInput(e.text);
      } else {
        player.PointerMove(e.x, e.y);
        if (e.kind != InputEvent::Move) player.PointerButton(e.kind == InputEvent::Down);
      }
      take_trace();
    }
  }
  out.flush();
  err << "played: " << frames << " frames, " << std::fixed << std::setprecision(3)
      << (frames > 0 ? (frames - 1) / rate : 0.0) << std::defaultfloat
      << " s on the movie's clock; the main timeline is on frame " << player.CurrentFrame()
      << (player.Playing() ? ", playing" : ", stopped") << "\n";
  err << "trace: " << trace_lines << " lines\n";

  const std::vector<swf::LeftOut> left_out = player.LeftOutSoFar();
  err << "left out:" << (left_out.empty() ? " nothing" : "") << "\n";
  for (const swf::LeftOut& item : left_out) err << "  " << item.what << ": " << item.count << "\n";
  DescribeBitmaps(*movie.bitmaps, err);
  for (const std::string& note : movie.notes) err << "note: " << note << "\n";
  for (const std::string& note : movie.bitmaps->Notes()) err << "note: " << note << "\n";
  if (const std::string video = launcher::swfplayer::UndecodedVideo(movie, decoders.video);
      !video.empty()) {
    err << "note: " << video << "; on Linux the launcher hands this movie to libmpv\n";
  }

  if (o.png) {
    player.Render({pixels.data(), width, height, width});
    if (!WriteFile(*o.png, EncodePng(pixels.data(), width, height, width))) {
      err << *o.png << ": can't be written\n";
      return kExitRefused;
    }
    err << "frame " << frames << " written to " << *o.png << " (" << width << " x " << height
        << " pixels)\n";
  }
  return kExitLoaded;
}

}  // namespace swfcheck
