// A stand-in for the Flash Player ActiveX control, for tests only: an in-process COM server that
// the tests register under the control's class id for the length of one test.
//
// It records every call it gets, one line each, in a journal that is appended to
// stand_in_flash.log in the current folder (and can be read back through DISPID 9001):
//   persist <name>=<value>       a persisted setting set by name
//   verb <n>                     IOleObject::DoVerb
//   invoke <dispid> <put|get|method> <argument types> [value]
//   fire <command> <args>        an FSCommand raised to the container
//   site <x> <y> <w> <h> shown|hidden   where the container's site window is when Play is called
//   close site <x> <y> <w> <h> shown|hidden   IOleObject::Close, and the site window then
// Argument types are VT_ names joined by "|", e.g. "VT_BYREF|VT_BSTR".
//
// A movie is a text file of lines, each optional:
//   duration <ms>                how long Play plays (default 1000)
//   fscommand <ms> <command> [args]   raise FSCommand this long after Play
//   exception <description>      the Movie put that loads it fails with DISP_E_EXCEPTION; the
//                                EXCEPINFO, from source "ShockwaveFlash", is filled in deferred
// Container properties (DISPIDs 0x8001xxxx) are recorded and declined, as the real control
// declines them: a container places and shows its site window instead, which the site lines report
// in the site's parent's client pixels. Test hooks: DISPID 9000 FireCommand(command, args) raises
// FSCommand at once; DISPID 9001 Journal reads the journal.

#include <windows.h>

#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr CLSID kClassId = {
    0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// The control's event interface (_IShockwaveFlashEvents).
constexpr IID kEventsId = {
    0xD27CDB6D, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

constexpr DISPID kMovie = 102;
constexpr DISPID kLoop = 106;
constexpr DISPID kPlay = 112;
constexpr DISPID kPlaying = 125;
constexpr DISPID kStopPlay = 126;
constexpr DISPID kFSCommand = 150;
constexpr DISPID kFireCommand = 9000;
constexpr DISPID kJournal = 9001;
constexpr UINT_PTR kFirstCommandTimer = 100;

struct Named {
  const wchar_t* name;
  DISPID id;
};
constexpr Named kNames[] = {{L"WMode", 133},           {L"Quality2", 141},
                            {L"Scale", 137},           {L"AllowScriptAccess", 171},
                            {L"AllowNetworking", 201}, {L"FireCommand", kFireCommand},
                            {L"Journal", kJournal}};

std::atomic<long> g_objects{0};

// The description of the exception being raised, for its deferred fill-in.
std::wstring g_exception;

HRESULT STDAPICALLTYPE FillInException(EXCEPINFO* info) {
  info->bstrSource = ::SysAllocString(L"ShockwaveFlash");
  info->bstrDescription =
      ::SysAllocStringLen(g_exception.data(), static_cast<UINT>(g_exception.size()));
  return S_OK;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
  return out;
}

std::wstring TypeName(VARTYPE type) {
  std::wstring name;
  if ((type & VT_BYREF) != 0) name = L"VT_BYREF|";
  switch (type & VT_TYPEMASK) {
    case VT_EMPTY:
      return name + L"VT_EMPTY";
    case VT_BOOL:
      return name + L"VT_BOOL";
    case VT_R4:
      return name + L"VT_R4";
    case VT_R8:
      return name + L"VT_R8";
    case VT_I2:
      return name + L"VT_I2";
    case VT_I4:
      return name + L"VT_I4";
    case VT_BSTR:
      return name + L"VT_BSTR";
    case VT_VARIANT:
      return name + L"VT_VARIANT";
    default:
      return name + L"VT_" + std::to_wstring(type & VT_TYPEMASK);
  }
}

std::wstring ValueText(const VARIANT& value) {
  VARIANT text;
  ::VariantInit(&text);
  std::wstring out;
  if (SUCCEEDED(::VariantChangeType(&text, const_cast<VARIANT*>(&value), 0, VT_BSTR)) &&
      text.bstrVal != nullptr) {
    out.assign(text.bstrVal, ::SysStringLen(text.bstrVal));
  }
  ::VariantClear(&text);
  if (value.vt == VT_BOOL) out = value.boolVal != VARIANT_FALSE ? L"true" : L"false";
  return out;
}

std::wstring Hex(DISPID id) {
  if (id >= 0 && id < 0x10000) return std::to_wstring(id);
  wchar_t text[16];
  std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(id));
  return text;
}

struct Command {
  DWORD after;
  std::wstring command;
  std::wstring args;
};

class Control;

// COM objects go through Release only.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

class EventPoint final : public IConnectionPoint {
 public:
  explicit EventPoint(Control& owner) : owner_(owner) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IConnectionPoint) return E_NOINTERFACE;
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetConnectionInterface(IID* iid) override {
    *iid = kEventsId;
    return S_OK;
  }
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    if (sink_ != nullptr) return CONNECT_E_ADVISELIMIT;
    if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&sink_)))) {
      return CONNECT_E_CANNOTCONNECT;
    }
    *cookie = 1;
    return S_OK;
  }
  STDMETHODIMP Unadvise(DWORD cookie) override {
    if (cookie != 1 || sink_ == nullptr) return CONNECT_E_NOCONNECTION;
    sink_->Release();
    sink_ = nullptr;
    return S_OK;
  }
  STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

  IDispatch* sink() const { return sink_; }
  void Drop() {
    if (sink_ != nullptr) sink_->Release();
    sink_ = nullptr;
  }

 private:
  Control& owner_;
  IDispatch* sink_ = nullptr;
};

class Control final : public IDispatch,
                      public IOleObject,
                      public IOleInPlaceObject,
                      public IPersistStreamInit,
                      public IConnectionPointContainer,
                      public IProvideClassInfo2 {
 public:
  Control() : events_(*this) {
    ++g_objects;
    Record(L"create");
  }
  virtual ~Control() {
    events_.Drop();
    DestroyOwnWindow();
    if (site_ != nullptr) site_->Release();
    --g_objects;
  }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *object = static_cast<IDispatch*>(this);
    } else if (iid == IID_IOleObject) {
      *object = static_cast<IOleObject*>(this);
    } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject) {
      *object = static_cast<IOleInPlaceObject*>(this);
    } else if (iid == IID_IPersist || iid == IID_IPersistStreamInit) {
      *object = static_cast<IPersistStreamInit*>(this);
    } else if (iid == IID_IConnectionPointContainer) {
      *object = static_cast<IConnectionPointContainer*>(this);
    } else if (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2) {
      *object = static_cast<IProvideClassInfo2*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (count != 1) return DISP_E_UNKNOWNNAME;
    for (const Named& named : kNames) {
      if (::_wcsicmp(named.name, names[0]) == 0) {
        ids[0] = named.id;
        return S_OK;
      }
    }
    return DISP_E_UNKNOWNNAME;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT*) override {
    if (id == kJournal) return ReadJournal(result);
    if (id == kFireCommand) {
      if (params == nullptr || params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
      Fire(ValueText(params->rgvarg[1]), ValueText(params->rgvarg[0]));
      return S_OK;
    }
    for (const Named& named : kNames) {
      if (named.id == id && (flags & DISPATCH_PROPERTYPUT) != 0 && params != nullptr &&
          params->cArgs == 1) {
        Record(L"persist " + std::wstring(named.name) + L"=" + ValueText(params->rgvarg[0]));
        return S_OK;
      }
    }

    std::wstring line = L"invoke " + Hex(id);
    line += (flags & DISPATCH_PROPERTYPUT) != 0   ? L" put"
            : (flags & DISPATCH_PROPERTYGET) != 0 ? L" get"
                                                  : L" method";
    const UINT count = params != nullptr ? params->cArgs : 0;
    std::wstring value;
    for (UINT i = count; i > 0; --i) {
      const VARIANT& argument = params->rgvarg[i - 1];
      line += L" " + TypeName(argument.vt);
      value = Dereferenced(argument);
    }
    if (count > 0) line += L" " + value;

    HRESULT hr = S_OK;
    if ((static_cast<unsigned long>(id) & 0xFFFF0000ul) == 0x80010000ul) {
      hr = DISP_E_MEMBERNOTFOUND;  // a container property: the real control knows none
    } else if (id == kMovie && count == 1) {
      movie_ = value;
      LoadMovie();
      if (!g_exception.empty()) {
        if (exception != nullptr) {
          *exception = EXCEPINFO{};
          exception->pfnDeferredFillIn = &FillInException;
        }
        hr = DISP_E_EXCEPTION;
      }
    } else if (id == kLoop && count == 1) {
    } else if (id == kPlay) {
      StartPlaying();
    } else if (id == kPlaying) {
      const bool playing = Playing();
      line += playing ? L" -> true" : L" -> false";
      if (result != nullptr) {
        ::VariantInit(result);
        result->vt = VT_BOOL;
        result->boolVal = playing ? VARIANT_TRUE : VARIANT_FALSE;
      }
    } else if (id == kStopPlay) {
      playing_ = false;
    } else {
      hr = DISP_E_MEMBERNOTFOUND;
    }
    Record(line);
    return hr;
  }

  // IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* site) override {
    if (site_ != nullptr) site_->Release();
    site_ = site;
    if (site_ != nullptr) site_->AddRef();
    return S_OK;
  }
  STDMETHODIMP GetClientSite(IOleClientSite** site) override {
    *site = site_;
    if (site_ != nullptr) site_->AddRef();
    return S_OK;
  }
  STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP Close(DWORD) override {
    Record(L"close " + SiteText());
    DestroyOwnWindow();
    return S_OK;
  }
  STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
  STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND parent,
                      LPCRECT position) override {
    Record(L"verb " + std::to_wstring(verb));
    if (verb != OLEIVERB_INPLACEACTIVATE || parent == nullptr || position == nullptr) {
      return E_NOTIMPL;
    }
    site_window_ = parent;
    CreateOwnWindow(parent, *position);
    return window_ != nullptr ? S_OK : E_FAIL;
  }
  STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
  STDMETHODIMP Update() override { return S_OK; }
  STDMETHODIMP IsUpToDate() override { return S_OK; }
  STDMETHODIMP GetUserClassID(CLSID* id) override {
    *id = kClassId;
    return S_OK;
  }
  STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
  STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return S_OK; }
  STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
  STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
  STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) override {
    *status = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE;
    return S_OK;
  }
  STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // IOleWindow, IOleInPlaceObject
  STDMETHODIMP GetWindow(HWND* window) override {
    *window = window_;
    return window_ != nullptr ? S_OK : E_FAIL;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP InPlaceDeactivate() override {
    DestroyOwnWindow();
    return S_OK;
  }
  STDMETHODIMP UIDeactivate() override { return S_OK; }
  STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT) override {
    if (window_ != nullptr && position != nullptr) {
      ::MoveWindow(window_, position->left, position->top, position->right - position->left,
                   position->bottom - position->top, TRUE);
    }
    return S_OK;
  }
  STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }

  // IPersistStreamInit
  STDMETHODIMP GetClassID(CLSID* id) override {
    *id = kClassId;
    return S_OK;
  }
  STDMETHODIMP IsDirty() override { return S_FALSE; }
  STDMETHODIMP Load(LPSTREAM) override { return E_NOTIMPL; }
  STDMETHODIMP Save(LPSTREAM, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
  STDMETHODIMP InitNew() override { return S_OK; }

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
    if (point == nullptr) return E_POINTER;
    *point = nullptr;
    if (iid != kEventsId) return CONNECT_E_NOCONNECTION;
    *point = &events_;
    events_.AddRef();
    return S_OK;
  }

  // IProvideClassInfo2
  STDMETHODIMP GetClassInfo(ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override {
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *guid = kEventsId;
    return S_OK;
  }

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM w_param,
                                          LPARAM l_param) {
    auto* self = reinterpret_cast<Control*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_TIMER && self != nullptr) {
      ::KillTimer(window, w_param);
      const std::size_t index = w_param - kFirstCommandTimer;
      if (index < self->commands_.size()) {
        self->Fire(self->commands_[index].command, self->commands_[index].args);
      }
      return 0;
    }
    if (message == WM_ERASEBKGND) {
      RECT client{};
      ::GetClientRect(window, &client);
      HBRUSH blue = ::CreateSolidBrush(RGB(0, 64, 255));
      ::FillRect(reinterpret_cast<HDC>(w_param), &client, blue);
      ::DeleteObject(blue);
      return 1;
    }
    return ::DefWindowProcW(window, message, w_param, l_param);
  }

  void CreateOwnWindow(HWND parent, const RECT& position) {
    if (window_ != nullptr) return;
    HINSTANCE instance = nullptr;
    ::GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&Control::WindowProcedure), &instance);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Control::WindowProcedure;
    wc.hInstance = instance;
    wc.lpszClassName = L"StandInFlashMovie";
    ::RegisterClassExW(&wc);  // fails harmlessly when already registered
    window_ = ::CreateWindowExW(0, L"StandInFlashMovie", L"movie", WS_CHILD | WS_VISIBLE,
                                position.left, position.top, position.right - position.left,
                                position.bottom - position.top, parent, nullptr, instance, nullptr);
    if (window_ != nullptr) {
      ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
  }

  void DestroyOwnWindow() {
    if (window_ == nullptr) return;
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
    window_ = nullptr;
  }

  static std::wstring Dereferenced(const VARIANT& argument) {
    VARIANT copy;
    ::VariantInit(&copy);
    std::wstring text;
    if (SUCCEEDED(::VariantCopyInd(&copy, const_cast<VARIANT*>(&argument)))) {
      text = ValueText(copy);
    }
    ::VariantClear(&copy);
    return text;
  }

  void LoadMovie() {
    duration_ = 1000;
    commands_.clear();
    g_exception.clear();
    const HANDLE handle = ::CreateFileW(movie_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    std::string content(65536, '\0');
    DWORD read = 0;
    ::ReadFile(handle, content.data(), static_cast<DWORD>(content.size()), &read, nullptr);
    ::CloseHandle(handle);
    content.resize(read);
    std::istringstream lines(content);
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream words(line);
      std::string keyword;
      words >> keyword;
      if (keyword == "duration") {
        words >> duration_;
      } else if (keyword == "fscommand") {
        Command command{};
        std::string name;
        std::string rest;
        words >> command.after >> name;
        std::getline(words >> std::ws, rest);
        command.command.assign(name.begin(), name.end());
        command.args.assign(rest.begin(), rest.end());
        commands_.push_back(command);
      } else if (keyword == "exception") {
        std::string description;
        std::getline(words >> std::ws, description);
        g_exception.assign(description.begin(), description.end());
      }
    }
  }

  std::wstring SiteText() const {
    RECT bounds{};
    if (site_window_ == nullptr || !::GetWindowRect(site_window_, &bounds)) return L"site none";
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(site_window_), reinterpret_cast<POINT*>(&bounds),
                      2);
    const bool shown = (::GetWindowLongPtrW(site_window_, GWL_STYLE) & WS_VISIBLE) != 0;
    return L"site " + std::to_wstring(bounds.left) + L" " + std::to_wstring(bounds.top) + L" " +
           std::to_wstring(bounds.right - bounds.left) + L" " +
           std::to_wstring(bounds.bottom - bounds.top) + (shown ? L" shown" : L" hidden");
  }

  void StartPlaying() {
    Record(SiteText());
    playing_ = true;
    started_ = ::GetTickCount();
    for (std::size_t i = 0; i < commands_.size() && window_ != nullptr; ++i) {
      ::SetTimer(window_, kFirstCommandTimer + i, commands_[i].after, nullptr);
    }
  }

  bool Playing() {
    if (playing_ && ::GetTickCount() - started_ >= duration_) playing_ = false;
    return playing_;
  }

  void Fire(const std::wstring& command, const std::wstring& args) {
    Record(L"fire " + command + L" " + args);
    IDispatch* sink = events_.sink();
    if (sink == nullptr) return;
    sink->AddRef();
    VARIANT arguments[2];
    arguments[1].vt = VT_BSTR;  // last to first: command, then args
    arguments[1].bstrVal = ::SysAllocStringLen(command.data(), static_cast<UINT>(command.size()));
    arguments[0].vt = VT_BSTR;
    arguments[0].bstrVal = ::SysAllocStringLen(args.data(), static_cast<UINT>(args.size()));
    DISPPARAMS params{arguments, nullptr, 2, 0};
    sink->Invoke(kFSCommand, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                 nullptr, nullptr);
    ::VariantClear(&arguments[0]);
    ::VariantClear(&arguments[1]);
    sink->Release();
  }

  HRESULT ReadJournal(VARIANT* result) {
    if (result == nullptr) return E_POINTER;
    ::VariantInit(result);
    result->vt = VT_BSTR;
    result->bstrVal = ::SysAllocStringLen(journal_.data(), static_cast<UINT>(journal_.size()));
    return S_OK;
  }

  void Record(const std::wstring& line) {
    journal_ += line + L"\n";
    const HANDLE log =
        ::CreateFileW(L"stand_in_flash.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) return;
    const std::string bytes = Utf8(line) + "\n";
    DWORD written = 0;
    ::WriteFile(log, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(log);
  }

  std::atomic<ULONG> refs_{1};
  EventPoint events_;
  IOleClientSite* site_ = nullptr;
  HWND window_ = nullptr;
  HWND site_window_ = nullptr;  // the container's window that holds window_
  std::wstring journal_;
  std::wstring movie_;
  DWORD duration_ = 1000;
  std::vector<Command> commands_;
  bool playing_ = false;
  DWORD started_ = 0;
};

ULONG EventPoint::AddRef() {
  return owner_.AddRef();
}
ULONG EventPoint::Release() {
  return owner_.Release();
}
HRESULT EventPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  *container = static_cast<IConnectionPointContainer*>(&owner_);
  owner_.AddRef();
  return S_OK;
}

class Factory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* control = new Control();
    const HRESULT hr = control->QueryInterface(iid, object);
    control->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

#pragma GCC diagnostic pop

Factory g_factory;

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    DllGetClassObject(REFCLSID id, REFIID iid, void** object) {
  if (id != kClassId) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, object);
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return g_objects == 0 ? S_OK : S_FALSE;
}
