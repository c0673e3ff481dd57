#include "linux/display_scale.h"

#include <charconv>

namespace launcher::sdl {
namespace {

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

TwipsScale ScaleFromResources(std::string_view resources) {
  constexpr std::string_view kName = "Xft.dpi";
  constexpr double kLowest = 24.0, kHighest = 1440.0;

  TwipsScale scale;
  while (!resources.empty()) {
    const std::size_t end = resources.find('\n');
    const std::string_view line = resources.substr(0, end);
    resources = end == std::string_view::npos ? std::string_view() : resources.substr(end + 1);

    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || Trim(line.substr(0, colon)) != kName) continue;
    const std::string_view value = Trim(line.substr(colon + 1));
    double dpi = 0;
    const auto [rest, error] = std::from_chars(value.data(), value.data() + value.size(), dpi);
    // The last entry wins, as in the resource database.
    if (error == std::errc() && rest == value.data() + value.size() && dpi >= kLowest &&
        dpi <= kHighest) {
      scale = TwipsScale(dpi);
    } else {
      scale = TwipsScale();
    }
  }
  return scale;
}

}  // namespace launcher::sdl
