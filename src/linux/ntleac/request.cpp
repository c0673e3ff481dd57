#include "linux/ntleac/request.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "handoff/launch_command.h"

namespace ntleac {
namespace {

// The common Windows locales. The first one of each code page stands for that code page when a
// command names the code page alone.
constexpr std::array kLocales{
    WindowsLocale{1041, 932, "ja_JP.UTF-8"},  WindowsLocale{2052, 936, "zh_CN.UTF-8"},
    WindowsLocale{1042, 949, "ko_KR.UTF-8"},  WindowsLocale{1028, 950, "zh_TW.UTF-8"},
    WindowsLocale{3076, 950, "zh_HK.UTF-8"},  WindowsLocale{4100, 936, "zh_SG.UTF-8"},
    WindowsLocale{1033, 1252, "en_US.UTF-8"}, WindowsLocale{2057, 1252, "en_GB.UTF-8"},
    WindowsLocale{1031, 1252, "de_DE.UTF-8"}, WindowsLocale{1036, 1252, "fr_FR.UTF-8"},
    WindowsLocale{1040, 1252, "it_IT.UTF-8"}, WindowsLocale{3082, 1252, "es_ES.UTF-8"},
    WindowsLocale{1034, 1252, "es_ES.UTF-8"}, WindowsLocale{1046, 1252, "pt_BR.UTF-8"},
    WindowsLocale{2070, 1252, "pt_PT.UTF-8"}, WindowsLocale{1043, 1252, "nl_NL.UTF-8"},
    WindowsLocale{1053, 1252, "sv_SE.UTF-8"}, WindowsLocale{1045, 1250, "pl_PL.UTF-8"},
    WindowsLocale{1029, 1250, "cs_CZ.UTF-8"}, WindowsLocale{1038, 1250, "hu_HU.UTF-8"},
    WindowsLocale{1049, 1251, "ru_RU.UTF-8"}, WindowsLocale{1058, 1251, "uk_UA.UTF-8"},
    WindowsLocale{1032, 1253, "el_GR.UTF-8"}, WindowsLocale{1055, 1254, "tr_TR.UTF-8"},
    WindowsLocale{1037, 1255, "he_IL.UTF-8"}, WindowsLocale{1025, 1256, "ar_SA.UTF-8"},
    WindowsLocale{1054, 874, "th_TH.UTF-8"},  WindowsLocale{1066, 1258, "vi_VN.UTF-8"},
};

// Windows' time-zone biases lie between UTC+14 and UTC-12.
constexpr int kMinBias = -14 * 60;
constexpr int kMaxBias = 12 * 60;

// The whole of text as a decimal number, or nothing.
std::optional<int> Number(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

int NumberOf(std::string_view option, std::string_view what) {
  const std::optional<int> value = Number(option.substr(1));
  if (!value) {
    throw std::invalid_argument("malformed argument \"" + std::string(option) +
                                "\": " + std::string(what) + " expected after " +
                                std::string(option.substr(0, 1)));
  }
  return *value;
}

WindowsLocale LocaleById(int lcid, std::optional<int> code_page) {
  const auto found = std::ranges::find(kLocales, lcid, &WindowsLocale::lcid);
  if (found == kLocales.end()) {
    throw std::invalid_argument("unknown Windows locale id in \"L" + std::to_string(lcid) + "\"");
  }
  if (code_page && *code_page != found->code_page) {
    throw std::invalid_argument("code page " + std::to_string(*code_page) +
                                " doesn't belong to locale " + std::to_string(lcid) +
                                ", whose code page is " + std::to_string(found->code_page));
  }
  return *found;
}

WindowsLocale LocaleByCodePage(int code_page) {
  const auto found = std::ranges::find(kLocales, code_page, &WindowsLocale::code_page);
  if (found == kLocales.end()) {
    throw std::invalid_argument("unknown Windows code page in \"C" + std::to_string(code_page) +
                                "\"");
  }
  return *found;
}

}  // namespace

Request ParseRequest(std::span<const std::string_view> args) {
  if (args.empty() || args.front().empty()) throw std::invalid_argument("no game named");
  Request request;
  request.game = std::string(args.front());
  if (args.size() >= 2) {
    // The splitter takes the first word as the program's name: a leading blank gives it an empty
    // one, and the line's words all come back as arguments.
    std::string line(1, ' ');
    line += args[1];
    std::vector<std::string> words = launcher::SplitCommandLine(line);
    request.game_arguments.assign(std::make_move_iterator(words.begin() + 1),
                                  std::make_move_iterator(words.end()));
  }
  std::optional<int> code_page;
  std::optional<int> lcid;
  for (const std::string_view option : args.subspan(std::min<std::size_t>(args.size(), 2))) {
    switch (option.empty() ? '\0' : option.front()) {
      case 'C':
        code_page = NumberOf(option, "a code page");
        break;
      case 'L':
        lcid = NumberOf(option, "a locale id");
        break;
      case 'T': {
        const int bias = NumberOf(option, "minutes");
        if (bias < kMinBias || bias > kMaxBias) {
          throw std::invalid_argument("time-zone bias out of range in \"" + std::string(option) +
                                      "\": minutes from -840 to 720 expected");
        }
        request.bias_minutes = bias;
        break;
      }
      default:
        break;  // the Windows tool's own options
    }
  }
  if (lcid) {
    request.locale = LocaleById(*lcid, code_page);
  } else if (code_page) {
    request.locale = LocaleByCodePage(*code_page);
  }
  return request;
}

std::string PosixTimeZone(int bias_minutes) {
  // POSIX offsets have the sign of the bias (added to local time to give UTC); the name in angle
  // brackets is the usual "+hhmm" seen from UTC, so the signs are opposite.
  const int hours = std::abs(bias_minutes) / 60;
  const int minutes = std::abs(bias_minutes) % 60;
  const char* name_sign = bias_minutes <= 0 ? "+" : "-";
  const char* offset_sign = bias_minutes < 0 ? "-" : "";
  std::array<char, 32> text{};
  if (minutes == 0) {
    std::snprintf(text.data(), text.size(), "<%s%02d>%s%d", name_sign, hours, offset_sign, hours);
  } else {
    std::snprintf(text.data(), text.size(), "<%s%02d%02d>%s%d:%02d", name_sign, hours, minutes,
                  offset_sign, hours, minutes);
  }
  return text.data();
}

}  // namespace ntleac
