#pragma once
// A failed Win32 or COM call, said one way wherever it is said: "<step> failed: 0x8007000E Not
// enough memory resources are available to complete this operation." That is a skipped movie's
// reason and the text of the exceptions the Windows adapters throw.

#include <windows.h>

#include <string>
#include <string_view>

namespace launcher::win32 {

// The line for a step that failed with code: the code in hex and, when the system knows it (or
// Media Foundation, for its own codes), its message, without a line end.
[[nodiscard]] std::wstring FailureText(std::wstring_view step, HRESULT code);

// FailureText of the calling thread's last error, in UTF-8 for an exception's text.
[[nodiscard]] std::string LastErrorText(std::string_view step);
[[noreturn]] void ThrowLastError(std::string_view step);
// Throws std::runtime_error with FailureText when code is a failure.
void ThrowIfFailed(HRESULT code, std::string_view step);

}  // namespace launcher::win32
