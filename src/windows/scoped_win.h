#pragma once
// The launcher's Win32 and COM owners, in one place: handles, local memory, device contexts,
// windows (with the tie between a window and its object), COM on a thread, COM references, BSTRs,
// VARIANTs and exception information. Header-only, so that every Windows library of the launcher
// can use it without linking anything more.

#include <windows.h>

#include <objbase.h>
#include <ole2.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "windows/window_class.h"

namespace launcher::win32 {

// ---- Handles

// Sole owner of one handle of type T, closed by `close` when it goes. Null, and for kernel handles
// also INVALID_HANDLE_VALUE, mean "no handle".
template <typename T, auto close>
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
    if (valid()) close(handle_);
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
// Memory the system allocated for the caller (FormatMessage's text, for one), freed when it goes.
using LocalMemory = UniqueHandle<HLOCAL, &::LocalFree>;

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

// How a window of the launcher is made: its class (registered on first use), caption, styles,
// place (in its parent's client area, or on the screen) and parent or owner.
struct WindowParams {
  const wchar_t* class_name = nullptr;
  const wchar_t* caption = L"";
  DWORD style = 0;
  DWORD ex_style = 0;
  RECT bounds{};
  HWND parent = nullptr;
  HICON icon = nullptr;
};

// A window whose procedure calls a member of its object: Owner::OnMessage(HWND, UINT, WPARAM,
// LPARAM) receives its messages from WM_NCCREATE on. The window goes with this object, unless the
// system destroyed it first (a parent takes its children along, an owner its owned windows); the
// tie is cut either way, and messages outside it go to DefWindowProc. The owner hears nothing of
// its window's destruction by this object: it is going itself. Not movable: the window holds this
// object's address.
template <typename Owner>
class BoundWindow {
 public:
  explicit BoundWindow(Owner& owner) : owner_(owner) {}
  BoundWindow(const BoundWindow&) = delete;
  BoundWindow& operator=(const BoundWindow&) = delete;
  ~BoundWindow() {
    if (window_ == nullptr) return;
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(std::exchange(window_, nullptr));
  }

  // Registers the class on first use and creates the window. Null when the window exists; else
  // the call that failed, and GetLastError says why.
  [[nodiscard]] const char* Create(HINSTANCE instance, const WindowParams& params) {
    if (!RegisterWindowClass(instance, params.class_name, &Procedure, params.icon)) {
      return "RegisterClassEx";
    }
    const RECT& at = params.bounds;
    if (::CreateWindowExW(params.ex_style, params.class_name, params.caption, params.style, at.left,
                          at.top, at.right - at.left, at.bottom - at.top, params.parent, nullptr,
                          instance, this) == nullptr) {
      return "CreateWindowEx";
    }
    return nullptr;
  }

  // The window, or null before it is made and after it is gone.
  [[nodiscard]] HWND get() const { return window_; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
    if (message == WM_NCCREATE) {
      // NOLINTNEXTLINE(performance-no-int-to-ptr): WM_NCCREATE's parameter is the creation data
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l_param);
      auto* made = static_cast<BoundWindow*>(create->lpCreateParams);
      made->window_ = window;
      ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(made));
    }
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the window's slot holds this object's address
    auto* self = reinterpret_cast<BoundWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcW(window, message, w_param, l_param);
    if (message == WM_NCDESTROY) {
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      self->window_ = nullptr;
      return ::DefWindowProcW(window, message, w_param, l_param);
    }
    return self->owner_.OnMessage(window, message, w_param, l_param);
  }

  Owner& owner_;
  HWND window_ = nullptr;
};

// One WM_PAINT of a window of the launcher: black wherever it is to be painted, then draw(dc) over
// that.
template <typename Draw>
void PaintBlack(HWND window, Draw&& draw) {
  const Painting paint(window);
  if (paint.dc() == nullptr) return;
  ::FillRect(paint.dc(), &paint.Area(), static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
  std::forward<Draw>(draw)(paint.dc());
}

inline void PaintBlack(HWND window) {
  PaintBlack(window, [](HDC) {});
}

// ---- COM

// The calling thread's membership of something it joined (COM, OLE) for as long as this lives;
// left when this goes, unless the join failed (a thread already in another apartment, say).
template <auto leave>
class ThreadMembership {
 public:
  ThreadMembership(const ThreadMembership&) = delete;
  ThreadMembership& operator=(const ThreadMembership&) = delete;
  ~ThreadMembership() {
    if (joined_) leave();
  }

 protected:
  explicit ThreadMembership(HRESULT joined) : joined_(SUCCEEDED(joined)) {}

 private:
  bool joined_;
};

// COM on the calling thread, in the given apartment.
class ComApartment final : public ThreadMembership<&::CoUninitialize> {
 public:
  explicit ComApartment(DWORD model) : ThreadMembership(::CoInitializeEx(nullptr, model)) {}
};

// OLE on the calling thread: COM in a single-threaded apartment, and what in-place controls need
// besides.
class OleSession final : public ThreadMembership<&::OleUninitialize> {
 public:
  OleSession() : ThreadMembership(::OleInitialize(nullptr)) {}
};

using Microsoft::WRL::ComPtr;

// Another interface of the same object, or null (also for a null object).
template <typename U, typename T>
[[nodiscard]] ComPtr<U> QueryAs(const ComPtr<T>& object) {
  ComPtr<U> other;
  if (object) static_cast<void>(object.As(&other));
  return other;
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

  // A boolean.
  void SetBool(bool value) {
    ::VariantClear(&v_);
    v_.vt = VT_BOOL;
    v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  }
  // A copy of text, freed with the VARIANT.
  void SetText(std::wstring_view text) {
    BSTR copy = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (copy == nullptr) throw std::bad_alloc();
    ::VariantClear(&v_);
    v_.vt = VT_BSTR;
    v_.bstrVal = copy;
  }
  // Text by reference, for a callee that may replace it: the text stays the caller's.
  void SetTextReference(BSTR* text) {
    ::VariantClear(&v_);
    v_.vt = VT_BYREF | VT_BSTR;
    v_.pbstrVal = text;
  }

 private:
  VARIANT v_;
};

// A BSTR's text; the null BSTR is the empty text.
inline std::wstring BstrText(BSTR text) {
  return text == nullptr ? std::wstring() : std::wstring(text, ::SysStringLen(text));
}

// The EXCEPINFO of an IDispatch::Invoke that failed with DISP_E_EXCEPTION; its texts are freed
// when it goes.
class ExceptionInfo {
 public:
  ExceptionInfo() = default;
  ExceptionInfo(const ExceptionInfo&) = delete;
  ExceptionInfo& operator=(const ExceptionInfo&) = delete;
  ~ExceptionInfo() {
    ::SysFreeString(info_.bstrSource);
    ::SysFreeString(info_.bstrDescription);
    ::SysFreeString(info_.bstrHelpFile);
  }

  // For the call to fill in.
  EXCEPINFO* get() { return &info_; }
  // What the call filled in, with the part it deferred filled in now.
  const EXCEPINFO& Filled() {
    if (const auto fill = std::exchange(info_.pfnDeferredFillIn, nullptr)) fill(&info_);
    return info_;
  }

 private:
  EXCEPINFO info_{};
};

}  // namespace launcher::win32
