#include "windows/win32_system.h"

#include <limits>
#include <string>
#include <vector>

#include "windows/scoped_win.h"
#include "windows/wic_picture.h"
#include "windows/win32_failure.h"
#include "windows/win32_files.h"
#include "windows/win32_text_rules.h"

namespace launcher::win32 {
namespace {

// The longest path Windows handles, in UTF-16 units, with its terminator.
constexpr DWORD kMaxPathUnits = 32768;

}  // namespace

void Win32System::GetKeyboardState(KeyState& keys) noexcept {
  ::GetKeyboardState(keys.data());
}

void Win32System::Sleep(int milliseconds) noexcept {
  ::Sleep(milliseconds < 0 ? 0 : static_cast<DWORD>(milliseconds));
}

PixelSize Win32System::ScreenSize() {
  return PixelSize{::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
}

void Win32System::SetWindowPos(WindowHandle window, WindowHandle insert_after, int x, int y, int cx,
                               int cy, unsigned flags) noexcept {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): window handles cross the interfaces as integers
  ::SetWindowPos(reinterpret_cast<HWND>(window), reinterpret_cast<HWND>(insert_after), x, y, cx, cy,
                 flags);
}

bool Win32System::FilePresent(const PathText& path) {
  return win32::FilePresent(path);
}

PictureRef Win32System::LoadPicture(const PathText& path) {
  return LoadWicPicture(path);
}

void Win32ProcessStarter::Start(std::string_view command_line) {
  // CreateProcessW may write into the command line, so it gets a copy of its own.
  std::wstring line = FromUtf8(command_line);
  std::vector<wchar_t> writable(line.begin(), line.end());
  writable.push_back(L'\0');

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    throw ProcessStartError(LastErrorText("CreateProcess"));
  }
  const KernelHandle thread(process.hThread);
  const KernelHandle started(process.hProcess);
}

void Win32ErrorReporter::Report(std::string_view line) noexcept {
  try {
    const std::wstring wide = FromUtf8(line) + L"\r\n";
    ::OutputDebugStringW(wide.c_str());
    HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    DWORD mode = 0;
    if (::GetConsoleMode(error, &mode)) {
      ::WriteConsoleW(error, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
      std::string bytes(line);
      bytes += '\n';
      ::WriteFile(error, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
  } catch (...) {
    // Reporting must never add a failure of its own.
  }
}

PathText ModuleFileName(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    const DWORD size = static_cast<DWORD>(path.size());
    const DWORD length = ::GetModuleFileNameW(module, path.data(), size);
    if (length == 0) ThrowLastError("GetModuleFileName");
    if (length < size) {
      path.resize(length);
      return path;
    }
    // Truncated: try again with room to spare, up to the longest path there is.
    if (size >= kMaxPathUnits) throw std::runtime_error("GetModuleFileName: path too long");
    path.resize(std::min<std::size_t>(path.size() * 2, kMaxPathUnits));
  }
}

PathText FolderOf(const PathText& file_path) {
  const auto last = file_path.find_last_of(L'\\');
  return last == PathText::npos ? PathText() : file_path.substr(0, last);
}

}  // namespace launcher::win32
