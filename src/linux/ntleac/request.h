#pragma once
// What ntleac is asked to do, read from its arguments, and the POSIX settings that give a Windows
// program under Wine the code page, locale and time zone asked for.
//
//   ntleac GAME [COMMAND-LINE [OPTION...]]
//
// COMMAND-LINE is the game's whole Windows command line in one argument. Options: Cnnn (ANSI code
// page), Lnnnn (Windows locale id), Tnnn (time-zone bias in minutes, UTC = local + bias); any
// other option (P0 and the like) belongs to the Windows tool and means nothing here.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ntleac {

// A Windows locale and the POSIX locale that makes Wine use it, with its ANSI code page.
struct WindowsLocale {
  int lcid = 0;
  int code_page = 0;
  std::string_view posix;  // e.g. "ja_JP.UTF-8"
};

struct Request {
  std::string game;                         // relative to the current folder
  std::vector<std::string> game_arguments;  // the command line split as Windows splits it
  std::optional<WindowsLocale> locale;      // none: the caller's locale is kept
  std::optional<int> bias_minutes;          // none: the caller's time zone is kept
};

// args: the arguments after the program's name. Throws std::invalid_argument with a message for
// the user when one is malformed or names a locale or code page this tool doesn't know.
[[nodiscard]] Request ParseRequest(std::span<const std::string_view> args);

// The POSIX TZ value of a Windows time-zone bias: -540 gives "<+09>-9", 330 gives "<-0530>5:30".
// It names its own offset, so no time-zone database is needed.
[[nodiscard]] std::string PosixTimeZone(int bias_minutes);

}  // namespace ntleac
