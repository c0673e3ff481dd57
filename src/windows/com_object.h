#pragma once
// The COM objects the launcher implements itself: their reference counting and QueryInterface, and
// how one is made.

#include <windows.h>

#include <objbase.h>

#include <atomic>
#include <utility>

#include "windows/scoped_win.h"

namespace launcher::win32 {

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

}  // namespace launcher::win32
