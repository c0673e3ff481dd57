#include "linux/posix_files.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <memory>

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

}  // namespace

bool FilePresent(const PathText& path) {
  const std::size_t slash = path.find_last_of('/');
  const PathText folder = slash == PathText::npos ? PathText(".") : path.substr(0, slash + 1);
  const PathText name = slash == PathText::npos ? path : path.substr(slash + 1);

  if (name.find_first_of("*?") == PathText::npos) return IsOrdinaryFile(path, name);

  const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return false;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view entryName = entry->d_name;
    if (::fnmatch(name.c_str(), entry->d_name, FNM_PERIOD) != 0) continue;
    if (IsOrdinaryFile(folder + PathText(entryName), entryName)) return true;
  }
  return false;
}

}  // namespace launcher::posix
