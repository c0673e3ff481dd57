#include "linux/app_folder.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace launcher::posix {

PathText FolderOf(const PathText& executable) {
  const std::size_t slash = executable.find_last_of('/');
  if (slash == PathText::npos) return ".";
  if (slash == 0) return "/";
  return executable.substr(0, slash);
}

PathText ApplicationFolder() {
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) throw std::runtime_error("can't find the launcher's folder: " + error.message());
  return FolderOf(executable.native());
}

}  // namespace launcher::posix
