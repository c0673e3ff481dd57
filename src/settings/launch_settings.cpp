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
  const TextEncoding encoding = SkipUtf8Mark(in) ? TextEncoding::kUtf8 : TextEncoding::kAnsi;
  const auto fields = ReadFourFields(in);
  if (!fields) throw SettingsError("Start.ini has fewer than four readable fields");

  const auto& [logo, movie, game, mode] = *fields;
  static_cast<void>(game);  // the launch always names Game.exe
  return LaunchSettings{
      .LogoPath = JoinPath(folder, rules.Decode(logo, encoding)),
      .MoviePath = JoinPath(folder, rules.Decode(movie, encoding)),
      .FullScreen = rules.ToUpper(rules.Decode(mode, encoding)) == AsciiPath("FULL"),
  };
}

LaunchSettings DefaultLaunchSettings(const PathText& folder) {
  return LaunchSettings{
      .LogoPath = JoinPath(folder, AsciiPath("logo.jpg")),
      .MoviePath = JoinPath(folder, AsciiPath("OP.swf")),
      .FullScreen = false,
  };
}

}  // namespace launcher
