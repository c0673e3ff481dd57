#include "settings/launch_settings.h"

#include <fstream>

#include "settings/settings_fields.h"

namespace launcher {
LaunchSettings ReadLaunchSettings(const PathText& folder, const TextRules& rules) {
  const std::filesystem::path file = rules.OpenName(JoinPath(folder, AsciiPath("Start.ini")));
  std::error_code error;
  // A folder named Start.ini opens on some systems and then fails every read; refuse it plainly.
  if (std::filesystem::is_directory(file, error)) throw SettingsError("Start.ini is a folder");

  std::ifstream in(file, std::ios::binary);  // closed by its destructor on every path
  if (!in) throw SettingsError("Start.ini can't be opened");
  const TextEncoding encoding = SkipUtf8Mark(in) ? TextEncoding::Utf8 : TextEncoding::Ansi;
  const auto fields = ReadFourFields(in);
  if (!fields) throw SettingsError("Start.ini has fewer than four readable fields");

  const auto& [logo, movie, game, mode] = *fields;
  static_cast<void>(game);  // the launch always names Game.exe
  return LaunchSettings{
      .logo_path = JoinPath(folder, rules.Decode(logo, encoding)),
      .movie_path = JoinPath(folder, rules.Decode(movie, encoding)),
      .full_screen = rules.ToUpper(rules.Decode(mode, encoding)) == AsciiPath("FULL"),
  };
}

LaunchSettings DefaultLaunchSettings(const PathText& folder) {
  return LaunchSettings{
      .logo_path = JoinPath(folder, AsciiPath("logo.jpg")),
      .movie_path = JoinPath(folder, AsciiPath("OP.swf")),
      .full_screen = false,
  };
}

}  // namespace launcher
