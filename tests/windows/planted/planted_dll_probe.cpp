// Runs beside planted msacm32.dll and winmm.dll (planted_dll.cpp), under
// WINEDLLOVERRIDES="msacm32,winmm=n,b" so that Wine, which otherwise prefers its own DLLs, would
// load them if the search order let it.
//   planted_dll_probe system   the SWF player's sound adapters load both libraries: neither
//                              planted DLL may run, and both libraries must come from elsewhere
//   planted_dll_probe plain    LoadLibraryW("msacm32.dll") must run the planted one: the check
//                              that this set-up would show a wrong search order at all
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "windows/swf/acm_mp3_decoder.h"
#include "windows/swf/wave_out_sink.h"
#include "windows/win32_system.h"

namespace {

const wchar_t* const kPlanted[] = {L"msacm32.dll", L"winmm.dll"};

std::wstring Beside(const wchar_t* name) {
  return launcher::win32::FolderOf(launcher::win32::ModuleFileName()) + L"\\" + name;
}

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int System() {
  std::string why;
  const auto decoders = launcher::win32::AcmMp3Decoders(why);
  if (!decoders) std::fprintf(stderr, "no ACM: %s\n", why.c_str());
  const auto sink = launcher::win32::OpenWaveOut([](std::span<std::int16_t>) {}, why);
  int failures = decoders ? 0 : 1;
  for (const wchar_t* name : kPlanted) {
    if (Exists(Beside(name) + L".loaded")) {
      std::fprintf(stderr, "the planted %ls ran\n", name);
      ++failures;
    }
    wchar_t path[MAX_PATH] = L"";
    const HMODULE module = ::GetModuleHandleW(name);
    if (module == nullptr || ::GetModuleFileNameW(module, path, MAX_PATH) == 0) {
      std::fprintf(stderr, "%ls is not loaded\n", name);
      ++failures;
    } else if (Beside(name) == path) {
      std::fprintf(stderr, "%ls was loaded from beside the program\n", name);
      ++failures;
    } else {
      std::printf("%ls from %ls\n", name, path);
    }
  }
  return failures == 0 ? 0 : 1;
}

int Plain() {
  ::LoadLibraryW(L"msacm32.dll");
  if (Exists(Beside(L"msacm32.dll") + L".loaded")) {
    std::printf(
        "a plain LoadLibraryW ran the planted msacm32.dll: the set-up shows a wrong order\n");
    return 0;
  }
  std::fprintf(stderr,
               "a plain LoadLibraryW did not run the planted msacm32.dll: is "
               "WINEDLLOVERRIDES=\"msacm32,winmm=n,b\" set?\n");
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  for (const wchar_t* name : kPlanted) ::DeleteFileW((Beside(name) + L".loaded").c_str());
  if (argc == 2 && std::wcscmp(argv[1], L"system") == 0) return System();
  if (argc == 2 && std::wcscmp(argv[1], L"plain") == 0) return Plain();
  std::fprintf(stderr, "usage: planted_dll_probe system|plain\n");
  return 2;
}
