#include "windows/flash_site.h"

#include <ocidl.h>
#include <olectl.h>
#include <oleidl.h>

#include <stdexcept>

#include "windows/scoped_win.h"

namespace launcher::win32 {
namespace {

constexpr wchar_t kSiteClass[] = L"LauncherControlSite";
constexpr double kHimetricPerTwip = 2540.0 / kTwipsPerInch;  // HIMETRIC: 0.01 mm

// The site the control lives in: client site, in-place site and frame, and the ambient
// properties. Everything it is asked for beyond that is declined.
class ControlSite final
    : public ComObject<IOleClientSite, IOleInPlaceSite, IOleInPlaceFrame, IDispatch> {
 public:
  ControlSite(HWND siteWindow, HWND frameWindow) : site_(siteWindow), frame_(frameWindow) {}
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
class CommandSink final : public ComObject<IDispatch> {
 public:
  CommandSink(const IID& source, CommandHandler handler)
      : source_(source), handler_(std::move(handler)) {}
  void Disconnect() { handler_ = nullptr; }

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

// IDispatch::Invoke with positional arguments (last to first); a property put names its value.
HRESULT InvokeDispatch(IDispatch* target, DISPID id, WORD flags, VARIANT* args, UINT count,
                       VARIANT* result) {
  DISPID named = DISPID_PROPERTYPUT;
  const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
  DISPPARAMS params{args, put ? &named : nullptr, count, put ? 1u : 0u};
  EXCEPINFO exception{};
  UINT badArgument = 0;
  const HRESULT hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result,
                                    &exception, &badArgument);
  if (hr == DISP_E_EXCEPTION) {
    if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
  }
  return hr;
}

VARIANT BoolArgument(bool value) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

class FlashPlayer final : public MoviePlayer {
 public:
  FlashPlayer(HWND parent, const TwipsScale& scale, const RECT& bounds)
      : scale_(scale), bounds_(bounds) {
    const HINSTANCE instance = InstanceOf(parent);
    // Without the class the window below can't be made, and there is no player.
    static_cast<void>(RegisterWindowClass(instance, kSiteClass, ::DefWindowProcW));
    window_ = ::CreateWindowExW(0, kSiteClass, L"SWFPlayer", WS_CHILD | WS_CLIPCHILDREN,
                                bounds.left, bounds.top, bounds.right - bounds.left,
                                bounds.bottom - bounds.top, parent, nullptr, instance, nullptr);
    if (window_ != nullptr) {
      site_ = MakeCom<ControlSite>(window_, ::GetAncestor(parent, GA_ROOT));
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
    if (window_ != nullptr) ::DestroyWindow(window_);
  }

  // False when there is no control to play with.
  bool Create(const ControlFactory& factory, CommandHandler onCommand) {
    if (!site_) return false;
    ComPtr<IUnknown> control;
    HRESULT hr = factory ? factory(&control)
                         : ::CoCreateInstance(kFlashClassId, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_PPV_ARGS(&control));
    if (FAILED(hr) || !control) return false;
    object_ = QueryAs<IOleObject>(control);
    dispatch_ = QueryAs<IDispatch>(control);
    if (!object_ || !dispatch_) return false;

    if (FAILED(object_->SetClientSite(site_.Get()))) return false;
    if (auto persist = QueryAs<IPersistStreamInit>(control)) persist->InitNew();
    SetPersistedSettings();
    ConnectEvents(control, std::move(onCommand));

    RECT area{0, 0, bounds_.right - bounds_.left, bounds_.bottom - bounds_.top};
    hr = object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.Get(), 0, window_, &area);
    if (FAILED(hr)) return false;
    in_place_ = QueryAs<IOleInPlaceObject>(control);
    FitControl();
    return true;
  }

  // The container properties are the site's own: it moves, sizes, shows and hides the control's
  // window. The control never hears of them.
  void SetVisible(bool visible) override { ::ShowWindow(window_, visible ? SW_SHOW : SW_HIDE); }
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
    VARIANT value = BoolArgument(loop);
    ThrowIfFailed(
        InvokeDispatch(dispatch_.Get(), flash::kLoop, DISPATCH_PROPERTYPUT, &value, 1, nullptr),
        "SWFPlayer.Loop");
  }

  void SetMovie(const PathText& path) override {
    Bstr movie(path);
    VARIANT value;
    ::VariantInit(&value);
    value.vt = VT_BYREF | VT_BSTR;  // text by reference
    value.pbstrVal = movie.Address();
    ThrowIfFailed(
        InvokeDispatch(dispatch_.Get(), flash::kMovie, DISPATCH_PROPERTYPUT, &value, 1, nullptr),
        "SWFPlayer.Movie");
  }

  void Play() override {
    ThrowIfFailed(
        InvokeDispatch(dispatch_.Get(), flash::kPlay, DISPATCH_METHOD, nullptr, 0, nullptr),
        "SWFPlayer.Play");
  }

  bool Playing() override {
    Variant result;
    ThrowIfFailed(InvokeDispatch(dispatch_.Get(), flash::kPlaying, DISPATCH_PROPERTYGET, nullptr, 0,
                                 result.get()),
                  "SWFPlayer.Playing");
    result.ChangeType(VT_BOOL, "SWFPlayer.Playing as a boolean");
    return result->boolVal != VARIANT_FALSE;
  }

  void StopPlay() override {
    ThrowIfFailed(
        InvokeDispatch(dispatch_.Get(), flash::kStopPlay, DISPATCH_METHOD, nullptr, 0, nullptr),
        "SWFPlayer.StopPlay");
  }

 private:
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
    Bstr value(text);
    VARIANT argument;
    ::VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = value.get();
    InvokeDispatch(dispatch_.Get(), id, DISPATCH_PROPERTYPUT, &argument, 1, nullptr);
  }

  // The event interface named by the control's class information, else the first connection
  // point that isn't for property changes. Without one the movie plays but sends no commands.
  void ConnectEvents(const ComPtr<IUnknown>& control, CommandHandler onCommand) {
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
    sink_ = MakeCom<CommandSink>(source, std::move(onCommand));
    if (FAILED(events_->Advise(static_cast<IDispatch*>(sink_.Get()), &cookie_))) {
      cookie_ = 0;
      events_.Reset();
    }
  }

  void Place() {
    ::MoveWindow(window_, bounds_.left, bounds_.top, bounds_.right - bounds_.left,
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
  HWND window_ = nullptr;
  ComPtr<ControlSite> site_;
  ComPtr<IOleObject> object_;
  ComPtr<IDispatch> dispatch_;
  ComPtr<IOleInPlaceObject> in_place_;
  ComPtr<CommandSink> sink_;
  ComPtr<IConnectionPoint> events_;
  DWORD cookie_ = 0;
};

}  // namespace

std::unique_ptr<MoviePlayer> CreateFlashPlayer(HWND parent, const TwipsScale& scale,
                                               const RECT& bounds, CommandHandler onCommand,
                                               const ControlFactory& factory) {
  auto player = std::make_unique<FlashPlayer>(parent, scale, bounds);
  if (!player->Create(factory, std::move(onCommand))) return nullptr;
  return player;
}

}  // namespace launcher::win32
