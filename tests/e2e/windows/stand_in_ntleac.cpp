// A stand-in for the locale-emulation tool: it starts no game, it records how it was started.
// Each run appends one line of JSON to ntleac.log in its current folder:
//   {"commandLine": GetCommandLineW(), "argv": [...], "cwd": "...", "consoleVisible": false,
//    "parentCommandLine": "<the command line of the process that started it>",
//    "started": <when it started, in milliseconds since 1970 (the host's clock under Wine)>}
// All text is UTF-8. The parent is cmd.exe when the launcher started it.

#include <windows.h>

#include <shellapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
  return out;
}

std::string Json(const std::wstring& text) {
  std::string out = "\"";
  for (const char c : Utf8(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

DWORD ParentId() {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD parent = 0;
  const DWORD self = ::GetCurrentProcessId();
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
       more = ::Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self) {
      parent = entry.th32ParentProcessID;
      break;
    }
  }
  ::CloseHandle(snapshot);
  return parent;
}

// The command line of another process, read from its process parameters.
std::wstring CommandLineOf(DWORD process_id) {
  const HANDLE process =
      ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id);
  if (process == nullptr) return L"<no access>";
  std::wstring line = L"<unreadable>";
  PROCESS_BASIC_INFORMATION basic{};
  ULONG got = 0;
  if (NT_SUCCESS(::NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic,
                                             &got))) {
    PEB peb{};
    RTL_USER_PROCESS_PARAMETERS parameters{};
    SIZE_T read = 0;
    if (::ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, &read) &&
        ::ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters,
                            &read)) {
      std::wstring text(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
      if (::ReadProcessMemory(process, parameters.CommandLine.Buffer, text.data(),
                              parameters.CommandLine.Length, &read)) {
        line = text;
      }
    }
  }
  ::CloseHandle(process);
  return line;
}

}  // namespace

int wmain() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const std::wstring command_line = ::GetCommandLineW();
  int count = 0;
  LPWSTR* argv = ::CommandLineToArgvW(command_line.c_str(), &count);
  std::string record = "{\"commandLine\": " + Json(command_line) + ", \"argv\": [";
  for (int i = 0; argv != nullptr && i < count; ++i) {
    if (i > 0) record += ", ";
    record += Json(argv[i]);
  }
  if (argv != nullptr) ::LocalFree(argv);
  std::wstring cwd(32768, L'\0');
  cwd.resize(::GetCurrentDirectoryW(static_cast<DWORD>(cwd.size()), cwd.data()));
  const HWND console = ::GetConsoleWindow();
  const bool visible = console != nullptr && ::IsWindowVisible(console);
  record += "], \"cwd\": " + Json(cwd);
  record += std::string(", \"consoleVisible\": ") + (visible ? "true" : "false");
  record += ", \"parentCommandLine\": " + Json(CommandLineOf(ParentId()));
  constexpr unsigned long long kUnixEpoch = 116444736000000000ULL;  // in 100 ns since 1601
  const unsigned long long ticks =
      (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  record += ", \"started\": " + std::to_string((ticks - kUnixEpoch) / 10000) + "}\n";

  const HANDLE log =
      ::CreateFileW(L"ntleac.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  ::WriteFile(log, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  ::CloseHandle(log);
  return 0;
}
