// swfcheck on Windows, a console program: bitmaps through WIC, as the launcher decodes them. The
// arguments arrive as UTF-16 and go on as UTF-8; what it prints is UTF-8, with "\n" line ends.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "swfcheck/swfcheck.h"
#include "windows/scoped_win.h"
#include "windows/swf/wic_image_decoder.h"

namespace {

std::string Utf8(const wchar_t* wide) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string text(std::size_t(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
  text.pop_back();  // the terminating NUL
  return text;
}

// A console shows the UTF-8 text as such while swfcheck runs; its own code page comes back after.
class ConsoleUtf8 {
 public:
  ConsoleUtf8() : previous_(::GetConsoleOutputCP()) {
    if (previous_ != 0) ::SetConsoleOutputCP(CP_UTF8);
  }
  ~ConsoleUtf8() {
    if (previous_ != 0) ::SetConsoleOutputCP(previous_);
  }
  ConsoleUtf8(const ConsoleUtf8&) = delete;
  ConsoleUtf8& operator=(const ConsoleUtf8&) = delete;
  ConsoleUtf8(ConsoleUtf8&&) = delete;
  ConsoleUtf8& operator=(ConsoleUtf8&&) = delete;

 private:
  UINT previous_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  const ConsoleUtf8 console;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8(argv[i]));
  const launcher::win32::ComApartment com(COINIT_MULTITHREADED);
  const auto images = launcher::win32::MakeWicImageDecoder();
  const int status = swfcheck::Run(args, images.get(), std::cout, std::cerr);
  std::cout.flush();
  return status;
}
