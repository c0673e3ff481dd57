#pragma once
// The launcher's Win32 and COM helpers, in one place: owners for handles, device contexts, COM
// references, BSTRs and VARIANTs; the reference counting of the COM objects the launcher
// implements; its window classes; failures as exceptions. Header-only, so that every Windows
// library of the launcher can use it without linking anything more.

#include <windows.h>

#include <oleauto.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace launcher::win32 {

// ---- Failures

// "what failed (error N)" with the calling thread's last error.
inline std::string LastErrorText(std::string_view what) {
  return std::string(what) + " failed (error " + std::to_string(::GetLastError()) + ")";
}

[[noreturn]] inline void ThrowLastError(std::string_view what) {
  throw std::runtime_error(LastErrorText(what));
}

class ComError : public std::runtime_error {
 public:
  ComError(std::string_view what, HRESULT code) : std::runtime_error(Describe(what, code)) {}

 private:
  static std::string Describe(std::string_view what, HRESULT code) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    return std::string(what) + " failed (" + hex + ")";
  }
};

inline void ThrowIfFailed(HRESULT code, std::string_view what) {
  if (FAILED(code)) throw ComError(what, code);
}

// ---- Handles

// Sole owner of one handle of type T, closed by Close when it goes. Null, and for kernel handles
// also INVALID_HANDLE_VALUE, mean "no handle".
template <typename T, auto Close>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(T handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, T{})) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.handle_, T{}));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Reset(); }

  [[nodiscard]] T get() const { return handle_; }
  [[nodiscard]] bool valid() const {
    if constexpr (std::is_same_v<T, HANDLE>) {
      return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE;
    } else {
      return handle_ != nullptr;
    }
  }
  explicit operator bool() const { return valid(); }
  void Reset(T handle = T{}) {
    if (valid()) Close(handle_);
    handle_ = handle;
  }

 private:
  T handle_{};
};

using KernelHandle = UniqueHandle<HANDLE, &::CloseHandle>;
using FindHandle = UniqueHandle<HANDLE, &::FindClose>;
using Bitmap = UniqueHandle<HBITMAP, &::DeleteObject>;
// A memory device context (CreateCompatibleDC), deleted when it goes.
using MemoryDC = UniqueHandle<HDC, &::DeleteDC>;

// ---- Device contexts

// A window's device context, or the screen's for a null window, released when it goes.
class WindowDC {
 public:
  explicit WindowDC(HWND window) : window_(window), dc_(::GetDC(window)) {}
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  ~WindowDC() {
    if (dc_ != nullptr) ::ReleaseDC(window_, dc_);
  }
  [[nodiscard]] HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// BeginPaint until EndPaint, for one WM_PAINT.
class Painting {
 public:
  explicit Painting(HWND window) : window_(window), dc_(::BeginPaint(window, &paint_)) {}
  Painting(const Painting&) = delete;
  Painting& operator=(const Painting&) = delete;
  ~Painting() { ::EndPaint(window_, &paint_); }
  [[nodiscard]] HDC dc() const { return dc_; }
  [[nodiscard]] const RECT& Area() const { return paint_.rcPaint; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

// An object selected into a device context until the selection goes.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  ~Selection() { ::SelectObject(dc_, previous_); }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// ---- Windows

// The module a window was created by.
inline HINSTANCE InstanceOf(HWND window) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the window's slot holds a handle
  return reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(window, GWLP_HINSTANCE));
}

// Registers a window class of the launcher (arrow cursor, black background) unless the module has
// it already: a second window or a second engine in one process finds it there. False when it
// can't be registered (GetLastError says why).
[[nodiscard]] inline bool RegisterWindowClass(HINSTANCE instance, const wchar_t* name,
                                              WNDPROC procedure, HICON icon = nullptr) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (::GetClassInfoExW(instance, name, &existing)) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = procedure;
  wc.hInstance = instance;
  wc.hIcon = icon;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
  wc.lpszClassName = name;
  return ::RegisterClassExW(&wc) != 0;
}

// ---- COM

using Microsoft::WRL::ComPtr;

// Another interface of the same object, or null (also for a null object).
template <typename U, typename T>
[[nodiscard]] ComPtr<U> QueryAs(const ComPtr<T>& object) {
  ComPtr<U> other;
  if (object) static_cast<void>(object.As(&other));
  return other;
}

// COM objects are destroyed through Release, never deleted through an interface pointer, so the
// interfaces' destructors need not be virtual.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// IUnknown for a COM object of the launcher's own that implements Interfaces: a thread-safe
// count, and QueryInterface through Find. Made with one reference (see MakeCom).
template <typename... Interfaces>
class ComObject : public Interfaces... {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** object) final {
    if (object == nullptr) return E_POINTER;
    *object = Find(iid);
    if (*object == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() final { return ++count_; }
  STDMETHODIMP_(ULONG) Release() final {
    const ULONG left = --count_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;
  // The object's interface for iid (IUnknown included), or null when it has none.
  [[nodiscard]] virtual void* Find(REFIID iid) = 0;

 private:
  std::atomic<ULONG> count_{1};
};

#pragma GCC diagnostic pop

// A new object of the launcher's own, its first reference held by the result.
template <typename T, typename... Args>
[[nodiscard]] ComPtr<T> MakeCom(Args&&... args) {
  ComPtr<T> object;
  object.Attach(new T(std::forward<Args>(args)...));
  return object;
}

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::wstring_view text)
      : b_(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
    if (b_ == nullptr) throw std::bad_alloc();
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { ::SysFreeString(b_); }

  [[nodiscard]] BSTR get() const { return b_; }
  // For passing by reference: the callee may replace the text, and whatever is there at the
  // end is freed.
  BSTR* Address() { return &b_; }

 private:
  BSTR b_ = nullptr;
};

// A VARIANT that is cleared when it goes.
class Variant {
 public:
  Variant() { ::VariantInit(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { ::VariantClear(&v_); }

  VARIANT* get() { return &v_; }
  const VARIANT* get() const { return &v_; }
  VARIANT* operator->() { return &v_; }

 private:
  VARIANT v_;
};

// A BSTR's text; the null BSTR is the empty text.
inline std::wstring BstrText(BSTR text) {
  return text == nullptr ? std::wstring() : std::wstring(text, ::SysStringLen(text));
}

}  // namespace launcher::win32
