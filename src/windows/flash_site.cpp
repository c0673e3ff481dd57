#include "windows/flash_site.h"

#include <ocidl.h>
#include <olectl.h>
#include <oleidl.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "player/skip_once.h"
#include "windows/com_object.h"
#include "windows/scoped_win.h"
#include "windows/skip_report.h"
#include "windows/win32_failure.h"

namespace launcher::win32 {
namespace {

constexpr wchar_t kSiteClass[] = L"LauncherControlSite";
constexpr double kHimetricPerTwip = 2540.0 / kTwipsPerInch;  // HIMETRIC: 0.01 mm

// A COM object of ours with IDispatch among its interfaces, and without type information: whoever
// calls it knows its DISPIDs.
template <typename... Interfaces>
class DispatchObject : public ComObject<Interfaces..., IDispatch> {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
};

// The site the control lives in: client site, in-place site and frame, and the ambient
// properties. Everything it is asked for beyond that is declined.
class ControlSite final : public DispatchObject<IOleClientSite, IOleInPlaceSite, IOleInPlaceFrame> {
 public:
  ControlSite(HWND site_window, HWND frame_window) : site_(site_window), frame_(frame_window) {}
  // Called when the site window goes: the control may keep a reference for a while.
  void Detach() { site_ = frame_ = nullptr; }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return S_OK; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
    if (moniker != nullptr) *moniker = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** container) override {
    if (container != nullptr) *container = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (of the in-place site and of the frame)
  STDMETHODIMP GetWindow(HWND* window) override {
    if (window == nullptr) return E_POINTER;
    *window = site_;
    return site_ != nullptr ? S_OK : E_FAIL;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return site_ != nullptr ? S_OK : S_FALSE; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    if (frame == nullptr || document == nullptr || position == nullptr || clip == nullptr ||
        info == nullptr) {
      return E_POINTER;
    }
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *document = nullptr;
    ::GetClientRect(site_, position);
    *clip = *position;
    info->fMDIApp = FALSE;
    info->hwndFrame = frame_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  // The site decides where the control is; its own wishes are not taken.
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow, IOleInPlaceFrame: no menus, toolbars or borders to share.
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return S_OK; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDispatch: the ambient properties of a running program's form.
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    if ((flags & DISPATCH_PROPERTYGET) == 0 || result == nullptr) return DISP_E_MEMBERNOTFOUND;
    ::VariantInit(result);
    switch (id) {
      case DISPID_AMBIENT_USERMODE:
      case DISPID_AMBIENT_AUTOCLIP:
        return Boolean(result, true);
      case DISPID_AMBIENT_UIDEAD:
      case DISPID_AMBIENT_SHOWGRABHANDLES:
      case DISPID_AMBIENT_SHOWHATCHING:
      case DISPID_AMBIENT_DISPLAYASDEFAULT:
      case DISPID_AMBIENT_MESSAGEREFLECT:
      case DISPID_AMBIENT_SUPPORTSMNEMONICS:
        return Boolean(result, false);
      case DISPID_AMBIENT_BACKCOLOR:
        result->vt = VT_I4;
        result->lVal = 0;  // black, like the window
        return S_OK;
      case DISPID_AMBIENT_LOCALEID:
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(::GetUserDefaultLCID());
        return S_OK;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  void* Find(REFIID iid) override {
    if (iid == IID_IUnknown || iid == IID_IOleClientSite) return static_cast<IOleClientSite*>(this);
    if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) {
      return static_cast<IOleInPlaceSite*>(this);
    }
    if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame) {
      return static_cast<IOleInPlaceFrame*>(this);
    }
    if (iid == IID_IDispatch) return static_cast<IDispatch*>(this);
    return nullptr;
  }

  static HRESULT Boolean(VARIANT* result, bool value) {
    result->vt = VT_BOOL;
    result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

  HWND site_;
  HWND frame_;
};

// Sink of the control's event interface. It takes any Invoke; DISPID 150 is FSCommand(command,
// args), and every other event is declined quietly.
class CommandSink final : public DispatchObject<> {
 public:
  CommandSink(const IID& source, CommandHandler handler)
      : source_(source), handler_(std::move(handler)) {}
  void Disconnect() { handler_ = nullptr; }

  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    if (id != flash::kFSCommand || !handler_ || params == nullptr || params->cArgs < 2) {
      return S_OK;
    }
    try {
      // Arguments come last to first.
      std::wstring command = Text(params->rgvarg[params->cArgs - 1]);
      std::wstring args = Text(params->rgvarg[params->cArgs - 2]);
      handler_(std::move(command), std::move(args));
    } catch (...) {
      return E_OUTOFMEMORY;  // nothing else can go wrong here; no exception leaves COM
    }
    return S_OK;
  }

 private:
  void* Find(REFIID iid) override {
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != source_) return nullptr;
    return static_cast<IDispatch*>(this);
  }

  // The text of an argument, by value or by reference; one that isn't text counts as empty.
  static std::wstring Text(const VARIANT& argument) {
    Variant text;
    if (FAILED(::VariantCopyInd(text.get(), const_cast<VARIANT*>(&argument))) ||
        FAILED(::VariantChangeType(text.get(), text.get(), 0, VT_BSTR))) {
      return {};
    }
    return BstrText(text->bstrVal);
  }

  IID source_;
  CommandHandler handler_;
};

// "<step> failed: <code> <message> (<source>: <description>)" for a call that failed with
// DISP_E_EXCEPTION. The code is the exception's own when it names one (scode, or wCode mapped as
// comdef.h's _com_error does), else DISP_E_EXCEPTION.
std::wstring ExceptionText(std::wstring_view step, ExceptionInfo& exception) {
  const EXCEPINFO& info = exception.Filled();
  HRESULT code = DISP_E_EXCEPTION;
  if (FAILED(info.scode)) {
    code = info.scode;
  } else if (info.wCode != 0) {
    code = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, std::min(0x200U + info.wCode, 0xFFFFU));
  }
  std::wstring words = BstrText(info.bstrSource);
  const std::wstring description = BstrText(info.bstrDescription);
  if (!words.empty() && !description.empty()) words += L": ";
  words += description;
  std::wstring text = FailureText(step, code);
  if (!words.empty()) text += L" (" + words + L")";
  return text;
}

// IDispatch::Invoke with positional arguments (last to first); a property put names its value.
HRESULT InvokeDispatch(IDispatch* target, DISPID id, WORD flags, VARIANT* args, UINT count,
                       VARIANT* result, ExceptionInfo& exception) {
  DISPID named = DISPID_PROPERTYPUT;
  const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
  DISPPARAMS params{args, put ? &named : nullptr, count, put ? 1u : 0u};
  UINT bad_argument = 0;
  return target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, exception.get(),
                        &bad_argument);
}

class FlashPlayer final : public MoviePlayer {
 public:
  FlashPlayer(HWND parent, const TwipsScale& scale, const RECT& bounds)
      : scale_(scale), bounds_(bounds) {
    // Without its window there is no player.
    if (window_.Create(InstanceOf(parent), {.class_name = kSiteClass,
                                            .caption = L"SWFPlayer",
                                            .style = WS_CHILD | WS_CLIPCHILDREN,
                                            .bounds = bounds,
                                            .parent = parent}) == nullptr) {
      site_ = MakeCom<ControlSite>(window_.get(), ::GetAncestor(parent, GA_ROOT));
    } else {
      site_error_ = ::GetLastError();
    }
  }
  FlashPlayer(const FlashPlayer&) = delete;
  FlashPlayer& operator=(const FlashPlayer&) = delete;

  ~FlashPlayer() override {
    if (events_ && cookie_ != 0) events_->Unadvise(cookie_);
    if (sink_) sink_->Disconnect();
    if (in_place_) in_place_->InPlaceDeactivate();
    if (object_) {
      object_->Close(OLECLOSE_NOSAVE);
      object_->SetClientSite(nullptr);
    }
    events_.Reset();
    sink_.Reset();
    in_place_.Reset();
    dispatch_.Reset();
    object_.Reset();
    if (site_) site_->Detach();
    site_.Reset();
    // The site's window goes last, with window_.
  }

  // Empty when the control is in place; else the step that failed, in the system's words.
  std::wstring Create(const ControlFactory& factory, CommandHandler on_command) {
    if (!site_) {
      return CreationFailure(L"creating its site window", HRESULT_FROM_WIN32(site_error_));
    }
    ComPtr<IUnknown> control;
    HRESULT hr = factory ? factory(&control)
                         : ::CoCreateInstance(kFlashClassId, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_PPV_ARGS(&control));
    if (SUCCEEDED(hr) && !control) hr = E_POINTER;
    if (FAILED(hr)) return CreationFailure(L"CoCreateInstance", hr);
    if (hr = control.As(&object_); FAILED(hr)) {
      return CreationFailure(L"QueryInterface(IOleObject)", hr);
    }
    if (hr = control.As(&dispatch_); FAILED(hr)) {
      return CreationFailure(L"QueryInterface(IDispatch)", hr);
    }

    if (hr = object_->SetClientSite(site_.Get()); FAILED(hr)) {
      return CreationFailure(L"SetClientSite", hr);
    }
    if (auto persist = QueryAs<IPersistStreamInit>(control)) persist->InitNew();
    SetPersistedSettings();
    ConnectEvents(control, std::move(on_command));

    RECT area{0, 0, bounds_.right - bounds_.left, bounds_.bottom - bounds_.top};
    hr = object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.Get(), 0, window_.get(), &area);
    if (FAILED(hr)) return CreationFailure(L"DoVerb", hr);
    in_place_ = QueryAs<IOleInPlaceObject>(control);
    FitControl();
    return {};
  }

  // The container properties are the site's own: it moves, sizes, shows and hides the control's
  // window. The control never hears of them.
  void SetVisible(bool visible) override {
    ::ShowWindow(window_.get(), visible ? SW_SHOW : SW_HIDE);
  }
  void SetTop(Twips top) override {
    ::OffsetRect(&bounds_, 0, scale_.Pixels(top) - bounds_.top);
    Place();
  }
  void SetLeft(Twips left) override {
    ::OffsetRect(&bounds_, scale_.Pixels(left) - bounds_.left, 0);
    Place();
  }
  void SetHeight(Twips height) override {
    bounds_.bottom = bounds_.top + scale_.Pixels(height);
    Place();
  }
  void SetWidth(Twips width) override {
    bounds_.right = bounds_.left + scale_.Pixels(width);
    Place();
  }

  void SetLoop(bool loop) override {
    Variant value;
    value.SetBool(loop);
    Call(L"Loop", flash::kLoop, DISPATCH_PROPERTYPUT, value.get(), 1, nullptr);
  }

  void SetMovie(const PathText& path) override {
    path_ = path;
    Bstr movie(path);
    Variant value;
    value.SetTextReference(movie.Address());
    Call(L"Movie", flash::kMovie, DISPATCH_PROPERTYPUT, value.get(), 1, nullptr);
    Report();  // also when an earlier call (the Loop put of the load) failed
  }

  void Play() override { Call(L"Play", flash::kPlay, DISPATCH_METHOD, nullptr, 0, nullptr); }

  bool Playing() override {
    Variant result;
    if (!Call(L"Playing", flash::kPlaying, DISPATCH_PROPERTYGET, nullptr, 0, result.get())) {
      return false;
    }
    if (const HRESULT hr = ::VariantChangeType(result.get(), result.get(), 0, VT_BOOL);
        FAILED(hr)) {
      Fail(FailureText(L"Playing as a boolean", hr));
      return false;
    }
    return result->boolVal != VARIANT_FALSE;
  }

  void StopPlay() override {
    Call(L"StopPlay", flash::kStopPlay, DISPATCH_METHOD, nullptr, 0, nullptr);
  }

 private:
  friend class BoundWindow<FlashPlayer>;
  // The site's window is the system's own: the control draws in a window of its own within it.
  static LRESULT OnMessage(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
    return ::DefWindowProcW(window, message, w_param, l_param);
  }

  void SetPersistedSettings() {
    // By name: the DISPIDs of these properties have moved between versions of the control, the
    // names have not. A control without one of them plays all the same.
    PutText(L"WMode", L"Window");
    PutText(L"Quality2", L"High");
    PutText(L"Scale", L"ShowAll");
    PutText(L"AllowScriptAccess", L"always");
    PutText(L"AllowNetworking", L"all");
  }

  void PutText(const wchar_t* name, const wchar_t* text) {
    std::wstring copy(name);
    LPOLESTR names[] = {copy.data()};
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return;
    Variant argument;
    argument.SetText(text);
    ExceptionInfo ignored;
    InvokeDispatch(dispatch_.Get(), id, DISPATCH_PROPERTYPUT, argument.get(), 1, nullptr, ignored);
  }

  // Calls the control unless an earlier call failed: the first failure skips the movie, and the
  // control is asked nothing more. False when the call wasn't made or failed.
  bool Call(std::wstring_view step, DISPID id, WORD flags, VARIANT* args, UINT count,
            VARIANT* result) {
    if (failure_) return false;
    ExceptionInfo exception;
    const HRESULT hr = InvokeDispatch(dispatch_.Get(), id, flags, args, count, result, exception);
    if (SUCCEEDED(hr)) return true;
    Fail(hr == DISP_E_EXCEPTION ? ExceptionText(step, exception) : FailureText(step, hr));
    return false;
  }

  void Fail(std::wstring reason) {
    failure_ = std::move(reason);
    Report();
  }

  // Told once the movie's path is known.
  void Report() {
    if (failure_ && !path_.empty()) skip_.Skip(path_, *failure_);
  }

  static std::wstring CreationFailure(std::wstring_view step, HRESULT code) {
    return FailureText(L"Flash control: " + std::wstring(step), code);
  }

  // The event interface named by the control's class information, else the first connection
  // point that isn't for property changes. Without one the movie plays but sends no commands.
  void ConnectEvents(const ComPtr<IUnknown>& control, CommandHandler on_command) {
    auto container = QueryAs<IConnectionPointContainer>(control);
    if (!container) return;
    IID source = IID_NULL;
    if (auto info = QueryAs<IProvideClassInfo2>(control);
        info && SUCCEEDED(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source))) {
      container->FindConnectionPoint(source, &events_);
    }
    if (!events_) {
      ComPtr<IEnumConnectionPoints> points;
      if (FAILED(container->EnumConnectionPoints(&points)) || !points) return;
      ComPtr<IConnectionPoint> point;
      while (points->Next(1, &point, nullptr) == S_OK) {
        IID iid{};
        if (SUCCEEDED(point->GetConnectionInterface(&iid)) && iid != IID_IPropertyNotifySink) {
          source = iid;
          events_ = point;
          break;
        }
      }
    }
    if (!events_) return;
    sink_ = MakeCom<CommandSink>(source, std::move(on_command));
    if (FAILED(events_->Advise(static_cast<IDispatch*>(sink_.Get()), &cookie_))) {
      cookie_ = 0;
      events_.Reset();
    }
  }

  void Place() {
    ::MoveWindow(window_.get(), bounds_.left, bounds_.top, bounds_.right - bounds_.left,
                 bounds_.bottom - bounds_.top, TRUE);
    FitControl();
  }

  // The control fills its site window.
  void FitControl() {
    const RECT area{0, 0, bounds_.right - bounds_.left, bounds_.bottom - bounds_.top};
    if (in_place_) in_place_->SetObjectRects(&area, &area);
    if (object_) {
      const double himetric = scale_.TwipsPerPixel() * kHimetricPerTwip;
      SIZEL extent{static_cast<LONG>(area.right * himetric),
                   static_cast<LONG>(area.bottom * himetric)};
      object_->SetExtent(DVASPECT_CONTENT, &extent);
    }
  }

  TwipsScale scale_;
  RECT bounds_;
  BoundWindow<FlashPlayer> window_{*this};
  DWORD site_error_ = ERROR_SUCCESS;
  ComPtr<ControlSite> site_;
  ComPtr<IOleObject> object_;
  ComPtr<IDispatch> dispatch_;
  ComPtr<IOleInPlaceObject> in_place_;
  ComPtr<CommandSink> sink_;
  ComPtr<IConnectionPoint> events_;
  DWORD cookie_ = 0;
  PathText path_;
  std::optional<std::wstring> failure_;
  SkipOnce skip_{&ReportSkippedMovie};
};

}  // namespace

FlashControl CreateFlashPlayer(HWND parent, const TwipsScale& scale, const RECT& bounds,
                               CommandHandler on_command, const ControlFactory& factory) {
  auto player = std::make_unique<FlashPlayer>(parent, scale, bounds);
  std::wstring failure = player->Create(factory, std::move(on_command));
  if (!failure.empty()) return {nullptr, std::move(failure)};
  return {std::move(player), {}};
}

}  // namespace launcher::win32
