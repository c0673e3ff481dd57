#include "linux/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

namespace launcher::posix {
namespace {

bool IsOrdinaryFile(const PathText& path, std::string_view name) {
  if (name.empty() || name.front() == '.') return false;
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&&) = delete;
  FileDescriptor& operator=(FileDescriptor&&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  [[nodiscard]] int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

// Opens an ordinary file of at most max_bytes (OrdinaryFile), its size into `size`.
int OpenChecked(const PathText& path, std::size_t max_bytes, std::size_t& size) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) throw SystemError("can't open the file");
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) throw SystemError("can't read the file");
  if (!S_ISREG(info.st_mode)) throw std::runtime_error("not an ordinary file");
  if (static_cast<std::uintmax_t>(info.st_size) > max_bytes) {
    throw std::runtime_error("the file is larger than " + std::to_string(max_bytes >> 20) + " MiB");
  }
  size = static_cast<std::size_t>(info.st_size);
  return file.release();
}

}  // namespace

bool FilePresent(const PathText& path) {
  const std::size_t slash = path.find_last_of('/');
  const PathText folder = slash == PathText::npos ? PathText(".") : path.substr(0, slash + 1);
  const PathText name = slash == PathText::npos ? path : path.substr(slash + 1);

  if (name.find_first_of("*?") == PathText::npos) return IsOrdinaryFile(path, name);

  const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return false;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view entry_name = entry->d_name;
    if (::fnmatch(name.c_str(), entry->d_name, FNM_PERIOD) != 0) continue;
    if (IsOrdinaryFile(folder + PathText(entry_name), entry_name)) return true;
  }
  return false;
}

OrdinaryFile::OrdinaryFile(const PathText& path, std::size_t max_bytes)
    : fd_(OpenChecked(path, max_bytes, size_)) {}

OrdinaryFile::~OrdinaryFile() {
  ::close(fd_);
}

std::size_t OrdinaryFile::Read(std::span<std::uint8_t> out) {
  std::size_t filled = 0;
  while (filled < out.size()) {
    const ssize_t got = ::read(fd_, out.data() + filled, out.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw SystemError("can't read the file");
    if (got == 0) break;  // the file shrank while it was read
    filled += static_cast<std::size_t>(got);
  }
  return filled;
}

std::vector<std::uint8_t> ReadOrdinaryFile(const PathText& path, std::size_t max_bytes) {
  OrdinaryFile file(path, max_bytes);
  std::vector<std::uint8_t> bytes(file.size());
  bytes.resize(file.Read(bytes));
  return bytes;
}

}  // namespace launcher::posix
