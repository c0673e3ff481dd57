#pragma once
// The fixed command line that hands over to the game, and the Windows rules that split one.

#include <string>
#include <string_view>
#include <vector>

namespace launcher {

// cmd.exe runs ntleac, which starts Game.exe with the Japanese code page, locale and time zone.
// Fixed text: nothing from the settings goes into it. The trailing blank belongs to it.
inline constexpr std::string_view kLaunchCommand =
    R"(cmd.exe /c ntleac Game.exe "A-G 123 -B 456" "P0" "C932" "L1041" "T-540" )";
static_assert(kLaunchCommand.size() == 72);

// Splits a command line into arguments the way Windows programs do (CommandLineToArgvW):
// blanks and tabs separate; double quotes group and are removed; 2n backslashes before a quote
// give n backslashes and the quote counts, 2n+1 give n backslashes and a literal quote; other
// backslashes are literal. In a run of quotes every third one counted, the opening quote of a
// quoted part included, is a literal quote that ends the part: inside quotes "" gives a quote
// and ends the part, outside """ gives a quote. The first argument, the program, is taken as
// Windows takes it: up to the next blank or tab, or quoted up to the next quote, no escapes.
std::vector<std::string> SplitCommandLine(std::string_view line);

// The line as it stands after its first `count` blank-separated words and the blanks after
// them: what "cmd.exe /c" runs as one command.
std::string_view TextAfterWords(std::string_view line, std::size_t count);

}  // namespace launcher
