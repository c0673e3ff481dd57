#include "linux/process_start.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "handoff/launch_command.h"
#include "vocabulary/path_text.h"

namespace launcher::posix {
namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

// What the started program gets of the launcher, whichever way below it is started: its standard
// streams on the null device, none of the launcher's other files or sockets, no blocked signal
// and every signal at its default action.
constexpr const char* kNullDevice = "/dev/null";
constexpr int kStandardStreams[] = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
constexpr int kFirstLauncherFile = 3;

// Exit status of the intermediate child when it could not start the program's process.
constexpr int kForkFailed = 71;

[[noreturn]] void RunInChild(const char* program, char* const* argv) {
  // Only async-signal-safe calls from here on: the launcher has other threads.
  if (::setsid() < 0) ::_exit(kForkFailed);
  const pid_t grandchild = ::fork();
  if (grandchild < 0) ::_exit(kForkFailed);
  if (grandchild > 0) ::_exit(0);

  const int null = ::open(kNullDevice, O_RDWR);
  if (null >= 0) {
    for (const int stream : kStandardStreams) ::dup2(null, stream);
  }
  ::close_range(kFirstLauncherFile, ~0U, 0);
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int number = 1; number < NSIG; ++number) ::signal(number, SIG_DFL);
  ::execv(program, argv);
  ::_exit(127);  // as a shell reports a program it could not run
}

// The system's setsid(1), which with --fork starts the program in a session of its own from a
// child and ends at once: the same hand-over as forking twice, without copying the launcher's
// memory map twice (tens of milliseconds once a movie has played).
constexpr const char* kSetsid = "/usr/bin/setsid";

// posix_spawn's file actions and attributes, destroyed with their scope.
class SpawnOptions {
 public:
  SpawnOptions()
      : files_ready_(::posix_spawn_file_actions_init(&files_) == 0),
        attributes_ready_(::posix_spawnattr_init(&attributes_) == 0) {}
  ~SpawnOptions() {
    if (attributes_ready_) ::posix_spawnattr_destroy(&attributes_);
    if (files_ready_) ::posix_spawn_file_actions_destroy(&files_);
  }
  SpawnOptions(const SpawnOptions&) = delete;
  SpawnOptions& operator=(const SpawnOptions&) = delete;

  [[nodiscard]] bool Ready() const { return files_ready_ && attributes_ready_; }
  posix_spawn_file_actions_t* Files() { return &files_; }
  posix_spawnattr_t* Attributes() { return &attributes_; }

 private:
  posix_spawn_file_actions_t files_{};
  posix_spawnattr_t attributes_{};
  bool files_ready_;
  bool attributes_ready_;
};

// Starts setsid for argv, set up as the program is to be, and returns its process, or -1 when it
// can't be started.
pid_t SpawnThroughSetsid(char* const* argv) {
  SpawnOptions options;
  if (!options.Ready()) return -1;
  posix_spawn_file_actions_t* files = options.Files();
  const int first = kStandardStreams[0];
  if (::posix_spawn_file_actions_addopen(files, first, kNullDevice, O_RDWR, 0) != 0) return -1;
  for (const int stream : kStandardStreams) {
    if (stream != first && ::posix_spawn_file_actions_adddup2(files, first, stream) != 0) return -1;
  }
  if (::posix_spawn_file_actions_addclosefrom_np(files, kFirstLauncherFile) != 0) return -1;
  sigset_t none;
  sigset_t all;
  ::sigemptyset(&none);
  ::sigfillset(&all);
  posix_spawnattr_t* attributes = options.Attributes();
  if (::posix_spawnattr_setsigmask(attributes, &none) != 0 ||
      ::posix_spawnattr_setsigdefault(attributes, &all) != 0 ||
      ::posix_spawnattr_setflags(attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) != 0) {
    return -1;
  }
  pid_t child = -1;
  if (::posix_spawn(&child, kSetsid, files, attributes, argv, environ) != 0) return -1;
  return child;
}

}  // namespace

PosixCommand TranslateCommandLine(std::string_view command_line) {
  std::vector<std::string> words = SplitCommandLine(command_line);
  if (words.size() >= 2 && EqualsIgnoringAsciiCase<char>(words[0], "cmd.exe") &&
      EqualsIgnoringAsciiCase<char>(words[1], "/c")) {
    // The rest of the line, as it stands, is the command.
    words = SplitCommandLine(TextAfterWords(command_line, 2));
  }
  PosixCommand command;
  if (!words.empty()) {
    command.program = std::move(words.front());
    command.arguments.assign(std::make_move_iterator(words.begin() + 1),
                             std::make_move_iterator(words.end()));
  }
  return command;
}

std::optional<std::string> FindProgram(const std::string& name, std::string_view search_path) {
  if (name.empty()) return std::nullopt;
  if (name.find('/') != std::string::npos) return name;

  const auto look_in = [&](std::string_view folder) -> std::optional<std::string> {
    std::string base = folder.empty() ? std::string(".") : std::string(folder);
    if (base.back() != '/') base += '/';
    for (const std::string& candidate : {base + name, base + name + ".exe"}) {
      if (IsExecutableFile(candidate)) return candidate;
    }
    return std::nullopt;
  };

  if (auto found = look_in(".")) return found;
  std::size_t start = 0;
  while (start <= search_path.size()) {
    std::size_t end = search_path.find(':', start);
    if (end == std::string_view::npos) end = search_path.size();
    if (auto found = look_in(search_path.substr(start, end - start))) return found;
    start = end + 1;
  }
  return std::nullopt;
}

void PosixProcessStarter::Start(std::string_view command_line) {
  const PosixCommand command = TranslateCommandLine(command_line);
  const char* search_path = std::getenv("PATH");
  // A program that isn't there still gets a process, which fails like the interpreter would.
  const std::string program =
      FindProgram(command.program, search_path != nullptr ? search_path : "")
          .value_or(command.program);

  // Everything the child needs is made before fork: after it, no allocation is safe.
  std::vector<std::string> owned{"setsid", "--fork", program};
  owned.insert(owned.end(), command.arguments.begin(), command.arguments.end());
  std::vector<char*> argv;
  argv.reserve(owned.size() + 1);
  for (std::string& arg : owned) argv.push_back(arg.data());
  argv.push_back(nullptr);
  char* const* program_argv = argv.data() + 2;  // what the program itself is given

  pid_t child = SpawnThroughSetsid(argv.data());
  if (child < 0) {
    // No setsid on this system: the launcher forks twice itself.
    child = ::fork();
    if (child < 0) {
      throw ProcessStartError(std::string("can't start a process: ") + std::strerror(errno));
    }
    if (child == 0) RunInChild(program.c_str(), program_argv);
  }

  // The intermediate child ends as soon as it has forked: this reaps it, it doesn't wait for the
  // started program. Anything but a clean end means it couldn't fork.
  int status = 0;
  pid_t reaped = 0;
  do {
    reaped = ::waitpid(child, &status, 0);
  } while (reaped < 0 && errno == EINTR);
  if (reaped == child && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
    throw ProcessStartError("can't start a process for the launch command");
  }
}

}  // namespace launcher::posix
