#pragma once
// Small owners for COM references, BSTRs and VARIANTs, and HRESULT failures as exceptions.

#include <windows.h>

#include <oleauto.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace launcher::win32 {

class ComError : public std::runtime_error {
 public:
  ComError(std::string_view what, HRESULT code)
      : std::runtime_error(Describe(what, code)), code_(code) {}
  [[nodiscard]] HRESULT code() const { return code_; }

 private:
  static std::string Describe(std::string_view what, HRESULT code) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    return std::string(what) + " failed (" + hex + ")";
  }
  HRESULT code_;
};

inline void ThrowIfFailed(HRESULT code, std::string_view what) {
  if (FAILED(code)) throw ComError(what, code);
}

// One counted reference to a COM object.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  // Shares p: takes a reference of its own.
  explicit ComPtr(T* p) : p_(p) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Takes over a reference that the caller already holds.
  static ComPtr Adopt(T* p) {
    ComPtr owner;
    owner.p_ = p;
    return owner;
  }

  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  [[nodiscard]] T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // For functions that return a new reference through an out parameter.
  T** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  // Another interface of the same object, or null.
  template <typename U>
  [[nodiscard]] ComPtr<U> As(REFIID iid = __uuidof(U)) const {
    ComPtr<U> other;
    if (p_ != nullptr) p_->QueryInterface(iid, other.PutVoid());
    return other;
  }

 private:
  T* p_ = nullptr;
};

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
  BSTR* Put() {
    ::SysFreeString(std::exchange(b_, nullptr));
    return &b_;
  }

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

  // The value converted in place to type; throws when it can't be.
  void ChangeType(VARTYPE type, std::string_view what) {
    ThrowIfFailed(::VariantChangeType(&v_, &v_, 0, type), what);
  }

 private:
  VARIANT v_;
};

// A BSTR's text; the null BSTR is the empty text.
inline std::wstring BstrText(BSTR text) {
  return text == nullptr ? std::wstring() : std::wstring(text, ::SysStringLen(text));
}

}  // namespace launcher::win32
