#include "settings/launch_settings.h"

#include <fstream>
#include <string_view>

#include "settings/settings_fields.h"

namespace launcher {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// Notepad may save the file as UTF-8 with a byte-order mark; such a file means its names in
// UTF-8, and its mark is no part of the first name.
bool SkipUtf8Mark(std::istream& in) {
  char head[3] = {};
  in.read(head, sizeof head);
  if (in.gcount() == 3 && std::string_view(head, 3) == kUtf8Mark) return true;
  in.clear();
  in.seekg(0);
  return false;
}

}  // namespace

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
