#include "windows/media/media_foundation_player.h"

#include <mfplay.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>

#include "player/playback_watch.h"

namespace launcher::win32 {
namespace {

using Microsoft::WRL::ComPtr;

using CreatePlayerFunction = HRESULT(WINAPI*)(LPCWSTR url, BOOL startPlayback,
                                              MFP_CREATION_OPTIONS options,
                                              IMFPMediaPlayerCallback* callback, HWND window,
                                              IMFPMediaPlayer** player);

// Class id of the audio endpoint enumerator (MMDeviceEnumerator).
constexpr CLSID kDeviceEnumerator = {
    0xbcde0395, 0xe52f, 0x467c, {0x8e, 0x3d, 0xc4, 0x57, 0x92, 0x91, 0x69, 0x2e}};
// MFP_POSITIONTYPE_100NS is the null GUID: positions and lengths in 100 ns units.
constexpr GUID kPositionIn100ns = {};

constexpr wchar_t kVideoWindowClass[] = L"LauncherMovieVideo";

// MFPCreateMediaPlayer, or null where Media Foundation isn't installed (Windows "N" editions).
// mfplay.dll stays loaded for the rest of the process: the player delivers its events through a
// window whose procedure lives in it, and events may still be queued when the engine is gone.
CreatePlayerFunction LoadMediaPlayerFactory() {
  HMODULE module = LoadLibraryExW(L"mfplay.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Windows 7 without KB2533623 knows no LOAD_LIBRARY_SEARCH_SYSTEM32.
  if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
    module = LoadLibraryW(L"mfplay.dll");
  }
  if (module == nullptr) return nullptr;
  return std::bit_cast<CreatePlayerFunction>(GetProcAddress(module, "MFPCreateMediaPlayer"));
}

// MFPlay needs COM on the thread that creates the player; the window's thread may have it already.
class ComApartment {
 public:
  ComApartment() : joined_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComApartment() {
    if (joined_) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool joined_;
};

// Whether the system has a default output device to play sound on. Without one Media Foundation
// can't build the audio branch and would refuse the whole movie.
bool HasAudioOutput() {
  ComPtr<IMMDeviceEnumerator> devices;
  if (FAILED(CoCreateInstance(kDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&devices)))) {
    return false;
  }
  ComPtr<IMMDevice> device;
  return SUCCEEDED(devices->GetDefaultAudioEndpoint(eRender, eConsole, &device));
}

// Leaves only the video selected. A stream's kind is found by deselecting it and asking whether
// any video is still selected, which works whatever attributes the media source publishes.
void SelectVideoOnly(IMFPMediaItem& item) {
  DWORD streams = 0;
  if (FAILED(item.GetNumberOfStreams(&streams))) return;
  for (DWORD index = 0; index < streams; ++index) {
    BOOL selected = FALSE;
    if (FAILED(item.GetStreamSelection(index, &selected)) || !selected) continue;
    BOOL hasVideo = FALSE;
    BOOL videoBefore = FALSE;
    BOOL videoAfter = FALSE;
    item.HasVideo(&hasVideo, &videoBefore);
    if (FAILED(item.SetStreamSelection(index, FALSE))) continue;
    item.HasVideo(&hasVideo, &videoAfter);
    if (videoBefore && !videoAfter) item.SetStreamSelection(index, TRUE);
  }
}

std::chrono::nanoseconds From100ns(ULONGLONG units) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<ULONGLONG, std::ratio<1, 10'000'000>>(units));
}

class PlayerEvents {
 public:
  virtual void OnPlayerEvent(const MFP_EVENT_HEADER& event) = 0;

 protected:
  ~PlayerEvents() = default;
};

// The callback MFPlay holds. It outlives the engine while the player or queued events keep a
// reference, so the engine detaches it before it goes. COM interfaces have no virtual destructor:
// the object deletes itself in Release, never through an interface pointer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class EventSink final : public IMFPMediaPlayerCallback {
 public:
  explicit EventSink(PlayerEvents& owner) : owner_(&owner) {}
  EventSink(const EventSink&) = delete;
  EventSink& operator=(const EventSink&) = delete;

  void Detach() { owner_ = nullptr; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IMFPMediaPlayerCallback)) {
      *object = static_cast<IMFPMediaPlayerCallback*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  void STDMETHODCALLTYPE OnMediaPlayerEvent(MFP_EVENT_HEADER* event) override {
    if (owner_ != nullptr && event != nullptr) owner_->OnPlayerEvent(*event);
  }

 private:
  std::atomic<ULONG> references_{1};
  PlayerEvents* owner_;
};
#pragma GCC diagnostic pop

class VideoSurface {
 public:
  virtual bool ShowsVideo() const = 0;
  virtual void UpdateVideo() = 0;

 protected:
  ~VideoSurface() = default;
};

// The window the video is drawn in: black until the first frame, and wherever the movie leaves
// bars. It is an owned pop-up kept over the player's rectangle rather than a child window: Direct3D
// output into child windows is lost on some systems (Wine on X11 among them), while an owned pop-up
// shows it everywhere, stays above its owner, goes with it and never takes the focus.
LRESULT CALLBACK VideoWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* surface = reinterpret_cast<VideoSurface*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_ERASEBKGND:
      if (surface != nullptr && surface->ShowsVideo()) return 1;
      break;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      if (surface != nullptr && surface->ShowsVideo()) {
        surface->UpdateVideo();
      } else {
        FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      }
      EndPaint(window, &paint);
      return 0;
    }
    case WM_SIZE:
      if (surface != nullptr && surface->ShowsVideo()) surface->UpdateVideo();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

class VideoWindow {
 public:
  VideoWindow(HWND owner, VideoSurface& surface) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &VideoWindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kVideoWindowClass;
    // A second engine in the same process finds the class registered already.
    RegisterClassExW(&windowClass);
    window_ = CreateWindowExW(WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW, kVideoWindowClass, L"", WS_POPUP,
                              0, 0, 0, 0, owner, nullptr, instance, nullptr);
    if (window_ != nullptr) {
      SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&surface));
    }
  }
  ~VideoWindow() {
    // The owner's destruction may have taken the window already.
    if (window_ != nullptr && IsWindow(window_)) {
      SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
      DestroyWindow(window_);
    }
  }
  VideoWindow(const VideoWindow&) = delete;
  VideoWindow& operator=(const VideoWindow&) = delete;

  [[nodiscard]] HWND Handle() const { return window_; }

 private:
  HWND window_ = nullptr;
};

class MediaFoundationPlayer final : public MoviePlayer, PlayerEvents, VideoSurface {
 public:
  MediaFoundationPlayer(HWND parent, double twipsPerPixel)
      : owner_(parent),
        twips_per_pixel_(twipsPerPixel > 0 ? twipsPerPixel : 15.0),
        create_player_(LoadMediaPlayerFactory()),
        window_(parent, *this) {
    sink_.Attach(new EventSink(*this));
  }

  ~MediaFoundationPlayer() override {
    sink_->Detach();
    Unload();
  }

  MediaFoundationPlayer(const MediaFoundationPlayer&) = delete;
  MediaFoundationPlayer& operator=(const MediaFoundationPlayer&) = delete;

  void SetVisible(bool visible) override {
    visible_ = visible;
    Place();
  }
  void SetTop(Twips top) override { Resize(top_, top); }
  void SetLeft(Twips left) override { Resize(left_, left); }
  void SetHeight(Twips height) override { Resize(height_, height); }
  void SetWidth(Twips width) override { Resize(width_, width); }

  // The engine plays every movie once.
  void SetLoop(bool) override {}

  void SetMovie(const PathText& path) override {
    Unload();
    watch_.Load();
    if (create_player_ == nullptr || window_.Handle() == nullptr) {
      watch_.Failed();
      return;
    }
    ComPtr<IMFPMediaPlayer> player;
    if (FAILED(create_player_(nullptr, FALSE, MFP_OPTION_NONE, sink_.Get(), window_.Handle(),
                              &player))) {
      watch_.Failed();
      return;
    }
    player_ = player;
    ComPtr<IMFPMediaItem> item;
    if (FAILED(player_->CreateMediaItemFromURL(path.c_str(), TRUE, 0, &item))) {
      watch_.Failed();
      return;
    }
    PROPVARIANT duration;
    PropVariantInit(&duration);
    if (SUCCEEDED(item->GetDuration(kPositionIn100ns, &duration)) && duration.vt == VT_UI8) {
      watch_.SetDuration(From100ns(duration.uhVal.QuadPart));
    }
    PropVariantClear(&duration);
    if (!HasAudioOutput()) SelectVideoOnly(*item.Get());
    // The item is set asynchronously; Play waits for it (see OnPlayerEvent).
    if (FAILED(player_->SetMediaItem(item.Get()))) watch_.Failed();
  }

  void Play() override {
    if (!player_) return;
    watch_.Play();
    if (item_set_) {
      if (FAILED(player_->Play())) watch_.Failed();
    } else {
      play_pending_ = true;
    }
  }

  bool Playing() override {
    // Read on every tick of the movie: the moment to follow the owner should it have moved.
    if (visible_) Place();
    return watch_.Playing();
  }

  void StopPlay() override {
    play_pending_ = false;
    if (player_) player_->Stop();
    watch_.Stop();
  }

  void OnPlayerEvent(const MFP_EVENT_HEADER& event) override {
    // Events of a player already replaced by a newer movie are of no interest.
    if (!player_ || event.pMediaPlayer != player_.Get()) return;
    if (FAILED(event.hrEvent)) {
      watch_.Failed();
      return;
    }
    switch (event.eEventType) {
      case MFP_EVENT_TYPE_MEDIAITEM_SET:
        item_set_ = true;
        UpdateVideo();
        if (play_pending_) {
          play_pending_ = false;
          if (FAILED(player_->Play())) watch_.Failed();
        }
        break;
      case MFP_EVENT_TYPE_PLAY:
        watch_.Began();
        UpdateVideo();
        break;
      case MFP_EVENT_TYPE_PLAYBACK_ENDED:
        watch_.Ended();
        break;
      case MFP_EVENT_TYPE_ERROR:
        watch_.Failed();
        break;
      default:
        break;
    }
  }

  bool ShowsVideo() const override { return player_ && item_set_; }

  void UpdateVideo() override {
    if (!ShowsVideo()) return;
    // Scales the whole picture into the window's client area, keeping its proportions.
    const MFVideoNormalizedRect whole{0.0F, 0.0F, 1.0F, 1.0F};
    player_->SetVideoSourceRect(&whole);
    player_->UpdateVideo();
  }

 private:
  int Pixels(Twips twips) const {
    return static_cast<int>(std::lround(static_cast<double>(twips) / twips_per_pixel_));
  }

  void Resize(int& field, Twips twips) {
    field = Pixels(twips);
    Place();
  }

  // Puts the video window over the player's rectangle in the owner's client area, shown above
  // the owner or hidden, without taking the activation from it.
  void Place() {
    const HWND window = window_.Handle();
    if (window == nullptr) return;
    if (!visible_) {
      ShowWindow(window, SW_HIDE);
      return;
    }
    POINT origin{left_, top_};
    ClientToScreen(owner_, &origin);
    RECT now{};
    GetWindowRect(window, &now);
    const bool placed = IsWindowVisible(window) && now.left == origin.x && now.top == origin.y &&
                        now.right - now.left == width_ && now.bottom - now.top == height_;
    if (placed) return;
    // A topmost owner (full screen) needs its video in the topmost band too.
    const bool topmost = (GetWindowLongPtrW(owner_, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    SetWindowPos(window, topmost ? HWND_TOPMOST : HWND_TOP, origin.x, origin.y, width_, height_,
                 SWP_NOACTIVATE | SWP_SHOWWINDOW);
  }

  // Lets go of the current movie without waiting for the media pipeline to wind down.
  void Unload() {
    play_pending_ = false;
    item_set_ = false;
    if (player_) {
      player_->Shutdown();
      player_.Reset();
    }
    if (window_.Handle() != nullptr) InvalidateRect(window_.Handle(), nullptr, TRUE);
  }

  ComApartment com_;
  HWND owner_;
  double twips_per_pixel_;
  CreatePlayerFunction create_player_;
  VideoWindow window_;
  ComPtr<EventSink> sink_;
  ComPtr<IMFPMediaPlayer> player_;
  PlaybackWatch watch_;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = false;
  bool item_set_ = false;
  bool play_pending_ = false;
};

}  // namespace

std::unique_ptr<MoviePlayer> CreateMediaFoundationPlayer(HWND parent, double twipsPerPixel) {
  return std::make_unique<MediaFoundationPlayer>(parent, twipsPerPixel);
}

}  // namespace launcher::win32
