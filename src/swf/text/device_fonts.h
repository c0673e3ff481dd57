#pragma once
// Fonts of the system, for text fields that embed none: the platform gives a code point's outline
// and advance in a named face (fontconfig and FreeType on Linux, GDI on Windows), the core lays
// the text out and the one rasterizer fills the outlines, so both platforms draw text alike.

#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "swf/shape.h"

namespace swf {

// What a text format asks of the system: a face as the movie names it (UTF-8) and its style.
struct DeviceFace {
  std::string name;
  bool bold = false;
  bool italic = false;
  friend bool operator<(const DeviceFace& a, const DeviceFace& b) {
    return std::tie(a.name, a.bold, a.italic) < std::tie(b.name, b.bold, b.italic);
  }
};

// Units of the outlines and metrics below: an em is this many, whatever the size drawn, so one
// outline serves every size (unhinted, as Flash draws device text into a transformed field).
inline constexpr float kDeviceEm = 1024;

// One glyph: its outline with y growing down and the baseline at 0, every edge filling style 1
// on its right by the non-zero rule (holes wind the other way), and the pen's advance.
struct DeviceGlyph {
  Shape outline;
  float advance = 0;
};

struct DeviceFontMetrics {
  float ascent = 0.9f * kDeviceEm;
  float descent = 0.2f * kDeviceEm;
  float leading = 0;
};

class DeviceFonts {
 public:
  DeviceFonts() = default;
  virtual ~DeviceFonts() = default;
  DeviceFonts(const DeviceFonts&) = delete;
  DeviceFonts& operator=(const DeviceFonts&) = delete;
  DeviceFonts(DeviceFonts&&) = delete;
  DeviceFonts& operator=(DeviceFonts&&) = delete;

  // The glyph of `code` from the face that best stands for `face` (FaceFor below), or from any
  // face of the system that has the character when that one doesn't; nullopt when none has it.
  virtual std::optional<DeviceGlyph> Glyph(const DeviceFace& face, char32_t code) = 0;
  // The line metrics of the face that stands for `face`.
  virtual DeviceFontMetrics Metrics(const DeviceFace& face) = 0;
};

// What a movie's font name stands for, the same on every platform. The generic names and the
// Japanese faces movies of the era ask for (in English, in Japanese, and in the Shift-JIS bytes
// of Flash 5 files) become a kind the platform has a face for; any other name is looked up as
// it is, a sans-serif face standing in when the system has none of that name.
enum class FaceKind : std::uint8_t { Named, Sans, Serif, Mono, Gothic, Mincho };
struct FaceMapping {
  FaceKind kind = FaceKind::Named;
  bool proportional = true;  // the "P" faces (MS PGothic); MS Gothic and MS Mincho are fixed
};
[[nodiscard]] FaceMapping FaceFor(std::string_view name);

}  // namespace swf
