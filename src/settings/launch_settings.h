#pragma once
// The launcher's settings from Start.ini in the application folder, or their defaults.

#include <stdexcept>

#include "settings/text_rules.h"
#include "vocabulary/path_text.h"

namespace launcher {

struct LaunchSettings {
  PathText logo_path;
  PathText movie_path;
  bool full_screen = false;

  friend bool operator==(const LaunchSettings&, const LaunchSettings&) = default;
};

// Raised when Start.ini can't be opened or its four fields can't be read.
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Opens, reads and closes folder + "Start.ini". Throws SettingsError; the file is closed on every
// path. Fields 1 and 2 are appended to the folder, field 3 (the game) is read and dropped, field 4
// chooses full screen when it upper-cases to "FULL".
LaunchSettings ReadLaunchSettings(const PathText& folder, const TextRules& rules);

// "logo.jpg", "OP.swf", windowed, in the folder. Reads nothing.
LaunchSettings DefaultLaunchSettings(const PathText& folder);

}  // namespace launcher
