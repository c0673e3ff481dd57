// ntleac for Linux: starts a Windows game under Wine with the code page, locale and time zone
// that the Windows tool of the same name would give it. Wine replaces this process, so nothing
// is left waiting once the game runs.
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "linux/ntleac/request.h"

namespace {

constexpr int kBadArguments = 2;
constexpr int kCannotStart = 1;

constexpr std::string_view kUsage =
    "usage: ntleac GAME [COMMAND-LINE [Cnnn] [Lnnnn] [Tnnn]...]: runs GAME under Wine with the "
    "code page, locale and time-zone bias given";

// Failures the player can fix, each told in one line.
class CannotStart : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

void RequireGame(const std::string& game) {
  struct stat info {};
  if (::stat(game.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    std::error_code ignored;
    throw CannotStart("the game " + game + " is not in " +
                      std::filesystem::current_path(ignored).string());
  }
}

// Wine takes its locale, and with it the code page, from the POSIX locale.
void RequireInstalled(const ntleac::WindowsLocale& locale) {
  const std::string name(locale.posix);
  const locale_t handle = ::newlocale(LC_ALL_MASK, name.c_str(), nullptr);
  if (handle == nullptr) {
    throw CannotStart("the locale " + name + " (Windows locale " + std::to_string(locale.lcid) +
                      ") is not installed; install it with \"apt-get install locales-all\" or "
                      "choose it in \"dpkg-reconfigure locales\"");
  }
  ::freelocale(handle);
}

void SetEnvironment(const char* name, const std::string& value) {
  if (::setenv(name, value.c_str(), 1) != 0) {
    throw CannotStart(std::string("can't set ") + name + ": " + std::strerror(errno));
  }
}

[[noreturn]] void RunWine(const ntleac::Request& request) {
  const char* chosen = std::getenv("WINE");
  const std::string wine = chosen != nullptr && *chosen != '\0' ? chosen : "wine";
  std::vector<std::string> words{wine, request.game};
  words.insert(words.end(), request.game_arguments.begin(), request.game_arguments.end());
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  ::execvp(wine.c_str(), argv.data());
  const int error = errno;
  if (error == ENOENT) {
    throw CannotStart(chosen != nullptr && *chosen != '\0'
                          ? "no Wine at WINE=" + wine
                          : std::string("no Wine found: \"wine\" is not on PATH; install it "
                                        "(apt-get install wine) or set WINE to its path"));
  }
  throw CannotStart("can't run " + wine + ": " + std::strerror(error));
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  if (args.size() == 1 && args.front() == "--version") {
    std::cout << "ntleac " << NTLEAC_VERSION << '\n';
    return 0;
  }
  if (args.empty()) {
    std::cerr << kUsage << '\n';
    return kBadArguments;
  }
  try {
    const ntleac::Request request = ntleac::ParseRequest(args);
    RequireGame(request.game);
    if (request.locale) {
      RequireInstalled(*request.locale);
      SetEnvironment("LANG", std::string(request.locale->posix));
      SetEnvironment("LC_ALL", std::string(request.locale->posix));
    }
    if (request.bias_minutes) SetEnvironment("TZ", ntleac::PosixTimeZone(*request.bias_minutes));
    RunWine(request);
  } catch (const std::invalid_argument& error) {
    std::cerr << "ntleac: " << error.what() << '\n';
    return kBadArguments;
  } catch (const std::exception& error) {
    std::cerr << "ntleac: " << error.what() << '\n';
    return kCannotStart;
  }
}
