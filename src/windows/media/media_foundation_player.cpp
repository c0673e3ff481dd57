#include "windows/media/media_foundation_player.h"

#include <evr.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mmdeviceapi.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "launcher/twips_scale.h"
#include "player/playback_watch.h"
#include "windows/scoped_win.h"
#include "windows/skip_report.h"
#include "windows/win32_files.h"

namespace launcher::win32 {
namespace {

// Class id of the audio endpoint enumerator (MMDeviceEnumerator).
constexpr CLSID kDeviceEnumerator = {
    0xbcde0395, 0xe52f, 0x467c, {0x8e, 0x3d, 0xc4, 0x57, 0x92, 0x91, 0x69, 0x2e}};

// MF_TOPOLOGY_ENUMERATE_SOURCE_TYPES (mfidl.h of the Windows SDK; MinGW's lacks it): the
// topology loader may try every type a source stream offers, not only its current one, to find a
// decoder and converters that reach the renderer.
constexpr GUID kEnumerateSourceTypes = {
    0x6248c36d, 0x5d0b, 0x4f40, {0xa0, 0xbb, 0xb0, 0xb3, 0x05, 0xf7, 0x76, 0x98}};

constexpr wchar_t kVideoWindowClass[] = L"LauncherMovieVideo";
// Posted to the video window when Media Foundation's threads have left notes for the engine.
constexpr UINT kNotesMessage = WM_APP + 1;
// How long the engine's end waits for the pipeline to close before the process goes on without
// it. The window is already gone and the game started by then.
constexpr DWORD kTeardownWaitMs = 800;
// How long the session gets to report itself closed before the source and the session are shut
// down without that report. Wine 8's session sometimes never reports the close of a movie played
// to its end, and a process ended under its still busy threads crashes.
constexpr DWORD kCloseReportWaitMs = 250;

// A failed step and the code it failed with.
struct Failure {
  const wchar_t* step;
  HRESULT code;
};

// The Media Foundation functions the engine calls, loaded at run time so that the launcher starts
// where Media Foundation isn't installed (Windows "N" editions). The libraries stay loaded for the
// rest of the process: Media Foundation's threads may run their code after the engine is gone.
struct MediaFoundationApi {
  HRESULT(WINAPI* startup)(ULONG version, DWORD flags) = nullptr;
  HRESULT(WINAPI* createSourceResolver)(IMFSourceResolver** resolver) = nullptr;
  HRESULT(WINAPI* createFile)
  (MF_FILE_ACCESSMODE access, MF_FILE_OPENMODE open, MF_FILE_FLAGS flags, LPCWSTR path,
   IMFByteStream** stream) = nullptr;
  HRESULT(WINAPI* createMediaSession)(IMFAttributes* settings, IMFMediaSession** session) = nullptr;
  HRESULT(WINAPI* createTopology)(IMFTopology** topology) = nullptr;
  HRESULT(WINAPI* createTopologyNode)(MF_TOPOLOGY_TYPE type, IMFTopologyNode** node) = nullptr;
  HRESULT(WINAPI* createVideoRenderer)(HWND window, IMFActivate** activate) = nullptr;
  HRESULT(WINAPI* createAudioRenderer)(IMFActivate** activate) = nullptr;
  HRESULT(WINAPI* getService)
  (IUnknown* object, REFGUID service, REFIID iid, void** result) = nullptr;
  HRESULT(WINAPI* putWorkItem)(DWORD queue, IMFAsyncCallback* callback, IUnknown* state) = nullptr;
};

HMODULE LoadSystemLibrary(const wchar_t* name) {
  HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Windows 7 without KB2533623 knows no LOAD_LIBRARY_SEARCH_SYSTEM32.
  if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) module = LoadLibraryW(name);
  return module;
}

template <typename Function>
bool Find(HMODULE module, const char* name, Function& function) {
  function = std::bit_cast<Function>(GetProcAddress(module, name));
  return function != nullptr;
}

// The functions, or the step that failed: a missing library or export.
std::optional<Failure> LoadApi(MediaFoundationApi& api) {
  HMODULE platform = LoadSystemLibrary(L"mfplat.dll");
  if (platform == nullptr)
    return Failure{L"loading mfplat.dll", HRESULT_FROM_WIN32(GetLastError())};
  HMODULE pipeline = LoadSystemLibrary(L"mf.dll");
  if (pipeline == nullptr) return Failure{L"loading mf.dll", HRESULT_FROM_WIN32(GetLastError())};
  const bool found = Find(platform, "MFStartup", api.startup) &&
                     Find(platform, "MFCreateSourceResolver", api.createSourceResolver) &&
                     Find(platform, "MFCreateFile", api.createFile) &&
                     Find(platform, "MFPutWorkItem", api.putWorkItem) &&
                     Find(pipeline, "MFCreateMediaSession", api.createMediaSession) &&
                     Find(pipeline, "MFCreateTopology", api.createTopology) &&
                     Find(pipeline, "MFCreateTopologyNode", api.createTopologyNode) &&
                     Find(pipeline, "MFCreateVideoRendererActivate", api.createVideoRenderer) &&
                     Find(pipeline, "MFCreateAudioRendererActivate", api.createAudioRenderer) &&
                     Find(pipeline, "MFGetService", api.getService);
  if (!found)
    return Failure{L"finding Media Foundation's functions", HRESULT_FROM_WIN32(GetLastError())};
  return std::nullopt;
}

// COM on the calling thread for as long as it lives, in the given apartment.
class ComApartment {
 public:
  explicit ComApartment(DWORD model) : joined_(SUCCEEDED(CoInitializeEx(nullptr, model))) {}
  ~ComApartment() {
    if (joined_) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool joined_;
};

// Whether the system has a default output device to play sound on. Without one the movie plays
// without its sound: Media Foundation would refuse the whole movie for a missing audio branch.
bool HasAudioOutput() {
  ComPtr<IMMDeviceEnumerator> devices;
  if (FAILED(CoCreateInstance(kDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&devices)))) {
    return false;
  }
  ComPtr<IMMDevice> device;
  return SUCCEEDED(devices->GetDefaultAudioEndpoint(eRender, eConsole, &device));
}

std::chrono::nanoseconds From100ns(UINT64 units) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<UINT64, std::ratio<1, 10'000'000>>(units));
}

// Runs a function for each asynchronous result Media Foundation delivers, on its work-queue
// thread.
class AsyncCallback final : public ComObject<IMFAsyncCallback> {
 public:
  using Work = std::function<void(IMFAsyncResult&)>;
  static ComPtr<IMFAsyncCallback> Make(Work work) {
    return MakeCom<AsyncCallback>(std::move(work));
  }
  explicit AsyncCallback(Work work) : work_(std::move(work)) {}

  HRESULT STDMETHODCALLTYPE GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(IMFAsyncResult* result) override {
    if (result == nullptr) return E_POINTER;
    try {
      work_(*result);
    } catch (...) {
      return E_OUTOFMEMORY;  // the only thing that can throw here; no exception leaves COM
    }
    return S_OK;
  }

 private:
  void* Find(REFIID iid) override {
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IMFAsyncCallback)) {
      return static_cast<IMFAsyncCallback*>(this);
    }
    return nullptr;
  }

  Work work_;
};

// The playback topology of every stream the launcher shows: the first video stream into the
// enhanced video renderer drawing in window, the first audio stream into the audio renderer when
// there is a device to play it; every other stream is deselected.
std::optional<Failure> BuildTopology(const MediaFoundationApi& api, IMFMediaSource& source,
                                     IMFPresentationDescriptor& presentation, HWND window,
                                     ComPtr<IMFTopology>& topology) {
  HRESULT hr = api.createTopology(&topology);
  if (FAILED(hr)) return Failure{L"creating the playback topology", hr};
  const bool sound = HasAudioOutput();
  bool video = false;
  bool audio = false;
  DWORD count = 0;
  presentation.GetStreamDescriptorCount(&count);
  for (DWORD index = 0; index < count; ++index) {
    BOOL selected = FALSE;
    ComPtr<IMFStreamDescriptor> stream;
    if (FAILED(presentation.GetStreamDescriptorByIndex(index, &selected, &stream)) || !selected) {
      continue;
    }
    ComPtr<IMFMediaTypeHandler> handler;
    GUID major = GUID_NULL;
    if (SUCCEEDED(stream->GetMediaTypeHandler(&handler))) handler->GetMajorType(&major);
    ComPtr<IMFActivate> renderer;
    if (major == MFMediaType_Video && !video) {
      hr = api.createVideoRenderer(window, &renderer);
      if (FAILED(hr)) return Failure{L"creating the video renderer", hr};
      video = true;
    } else if (major == MFMediaType_Audio && sound && !audio) {
      hr = api.createAudioRenderer(&renderer);
      if (FAILED(hr)) return Failure{L"creating the audio renderer", hr};
      audio = true;
    } else {
      presentation.DeselectStream(index);
      continue;
    }
    ComPtr<IMFTopologyNode> from;
    ComPtr<IMFTopologyNode> to;
    hr = api.createTopologyNode(MF_TOPOLOGY_SOURCESTREAM_NODE, &from);
    if (SUCCEEDED(hr)) hr = from->SetUnknown(MF_TOPONODE_SOURCE, &source);
    if (SUCCEEDED(hr)) hr = from->SetUnknown(MF_TOPONODE_PRESENTATION_DESCRIPTOR, &presentation);
    if (SUCCEEDED(hr)) hr = from->SetUnknown(MF_TOPONODE_STREAM_DESCRIPTOR, stream.Get());
    if (SUCCEEDED(hr)) hr = topology->AddNode(from.Get());
    if (SUCCEEDED(hr)) hr = api.createTopologyNode(MF_TOPOLOGY_OUTPUT_NODE, &to);
    if (SUCCEEDED(hr)) hr = to->SetObject(renderer.Get());
    if (SUCCEEDED(hr)) hr = to->SetUINT32(MF_TOPONODE_STREAMID, 0);
    if (SUCCEEDED(hr)) hr = to->SetUINT32(MF_TOPONODE_NOSHUTDOWN_ON_REMOVE, FALSE);
    if (SUCCEEDED(hr)) hr = topology->AddNode(to.Get());
    if (SUCCEEDED(hr)) hr = from->ConnectOutput(0, to.Get(), 0);
    if (FAILED(hr)) return Failure{L"building the playback topology", hr};
  }
  if (!video && !audio) return Failure{L"finding a stream to play", MF_E_INVALIDSTREAMNUMBER};
  topology->SetUINT32(kEnumerateSourceTypes, TRUE);
  return std::nullopt;
}

// What Media Foundation's threads leave for the window thread.
struct Note {
  enum class Kind { kOpened, kEvent };
  Kind kind = Kind::kEvent;
  HRESULT status = S_OK;
  const wchar_t* step = L"";
  MediaEventType event = MEUnknown;
  UINT32 topologyStatus = MF_TOPOSTATUS_INVALID;
  std::optional<std::chrono::nanoseconds> duration;
};

// One movie's media source and Media Session, shared by the engine on the window thread and by
// Media Foundation's callbacks on its work-queue threads. The source is resolved, the topology
// built and the video renderer called on those threads; the window thread only reads notes and
// starts or closes the session, never waiting on the pipeline (the renderer's thread may wait on
// the window's). A closing pipeline outlives the engine: once the session reports it closed, the
// callback shuts down the source and the session, which is what whoever created a source owes it.
class Pipeline : public std::enable_shared_from_this<Pipeline> {
 public:
  Pipeline(MediaFoundationApi api, HWND mailbox, HWND video)
      : api_(api),
        mailbox_(mailbox),
        video_(video),
        closed_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Pipeline() {
    if (closed_ != nullptr) CloseHandle(closed_);
  }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Starts opening the movie; the result arrives as a kOpened note.
  std::optional<Failure> Open(const PathText& path) {
    if (closed_ == nullptr)
      return Failure{L"creating an event", HRESULT_FROM_WIN32(GetLastError())};
    ComPtr<IMFSourceResolver> resolver;
    HRESULT hr = api_.createSourceResolver(&resolver);
    if (FAILED(hr)) return Failure{L"creating the source resolver", hr};
    // The file is opened here with the same long-path handling as every other file; its name
    // still tells the resolver which kind of movie to expect.
    hr = api_.createFile(MF_ACCESSMODE_READ, MF_OPENMODE_FAIL_IF_NOT_EXIST, MF_FILEFLAGS_NONE,
                         ExtendedLengthPath(path).c_str(), &file_);
    if (FAILED(hr)) return Failure{L"opening the file", hr};
    hr = api_.createMediaSession(nullptr, &session_);
    if (FAILED(hr)) return Failure{L"creating the media session", hr};
    hr = session_->BeginGetEvent(SessionEvents().Get(), nullptr);
    if (FAILED(hr)) return Failure{L"listening to the media session", hr};
    resolving_ = true;
    hr = resolver->BeginCreateObjectFromByteStream(
        file_.Get(), path.c_str(), MF_RESOLUTION_MEDIASOURCE | MF_RESOLUTION_READ, nullptr, nullptr,
        AsyncCallback::Make([self = shared_from_this(), resolver](IMFAsyncResult& result) {
          self->OnResolved(*resolver.Get(), result);
        }).Get(),
        nullptr);
    if (FAILED(hr)) {
      resolving_ = false;
      return Failure{L"opening the movie", hr};
    }
    return std::nullopt;
  }

  HRESULT Start() {
    const std::scoped_lock lock(mutex_);
    if (!session_ || closing_) return MF_E_SHUTDOWN;
    PROPVARIANT from;
    PropVariantInit(&from);  // VT_EMPTY: from the current position, the start at first
    return session_->Start(&GUID_NULL, &from);
  }

  // Shuts the source and the session down on a work-queue thread without waiting any longer for
  // the session's report that it closed.
  void ShutDownNow() {
    api_.putWorkItem(
        MFASYNC_CALLBACK_QUEUE_MULTITHREADED,
        AsyncCallback::Make([self = shared_from_this()](IMFAsyncResult&) { self->Finish(); }).Get(),
        nullptr);
  }

  // Fits the video into the video window's client area again, on a work-queue thread.
  void FitVideo() {
    api_.putWorkItem(MFASYNC_CALLBACK_QUEUE_MULTITHREADED,
                     AsyncCallback::Make([self = shared_from_this()](IMFAsyncResult&) {
                       self->ApplyVideoPosition();
                     }).Get(),
                     nullptr);
  }

  // The presentation clock's time once the session has started; none before, or when the
  // clock can't tell. The clock only reads its time source here: it never waits on the pipeline.
  std::optional<std::chrono::nanoseconds> Position() {
    ComPtr<IMFPresentationClock> clock;
    {
      const std::scoped_lock lock(mutex_);
      clock = clock_;
    }
    MFTIME time = 0;
    if (!clock || FAILED(clock->GetTime(&time)) || time < 0) return std::nullopt;
    return From100ns(static_cast<UINT64>(time));
  }

  // No more notes to the window thread; those not read yet are dropped.
  void Detach() {
    const std::scoped_lock lock(mutex_);
    mailbox_ = nullptr;
    notes_.clear();
  }

  std::deque<Note> TakeNotes() {
    const std::scoped_lock lock(mutex_);
    return std::exchange(notes_, {});
  }

  // Begins closing; returns at once. The session reports itself closed on a work-queue thread,
  // which then finishes the job; a source still being resolved is shut down when it arrives.
  void Close() {
    {
      const std::scoped_lock lock(mutex_);
      if (closing_) return;
      closing_ = true;
      if (resolving_ || (source_ && session_ && SUCCEEDED(session_->Close()))) return;
    }
    Finish();
  }

  // Waits for the close to finish, answering messages other threads send to the window thread
  // meanwhile (the video renderer's may); false if the deadline (GetTickCount64) came first.
  // Posted messages stay queued: the window's handlers are gone by now.
  bool WaitClosed(ULONGLONG deadline) const {
    while (true) {
      const ULONGLONG now = GetTickCount64();
      const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
      const DWORD woke = MsgWaitForMultipleObjects(1, &closed_, FALSE, left, QS_SENDMESSAGE);
      if (woke == WAIT_OBJECT_0) return true;
      if (woke != WAIT_OBJECT_0 + 1) return false;
      MSG message;
      PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
  }

  [[nodiscard]] bool Closed() const { return WaitForSingleObject(closed_, 0) == WAIT_OBJECT_0; }

 private:
  ComPtr<IMFAsyncCallback> SessionEvents() {
    return AsyncCallback::Make(
        [self = shared_from_this()](IMFAsyncResult& result) { self->OnSessionEvent(result); });
  }

  // On a work-queue thread.
  void OnResolved(IMFSourceResolver& resolver, IMFAsyncResult& result) {
    MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
    ComPtr<IUnknown> object;
    HRESULT hr = resolver.EndCreateObjectFromByteStream(&result, &type, &object);
    ComPtr<IMFMediaSource> source;
    if (SUCCEEDED(hr)) hr = object.As(&source);
    Note note;
    note.kind = Note::Kind::kOpened;
    note.status = hr;
    note.step = L"opening the movie";
    if (SUCCEEDED(hr)) {
      const ComApartment com(COINIT_MULTITHREADED);
      ComPtr<IMFPresentationDescriptor> presentation;
      ComPtr<IMFTopology> topology;
      std::optional<Failure> failure;
      hr = source->CreatePresentationDescriptor(&presentation);
      if (FAILED(hr)) failure = Failure{L"reading the movie's streams", hr};
      if (!failure)
        failure = BuildTopology(api_, *source.Get(), *presentation.Get(), video_, topology);
      UINT64 length = 0;
      if (!failure && SUCCEEDED(presentation->GetUINT64(MF_PD_DURATION, &length))) {
        note.duration = From100ns(length);
      }
      const std::scoped_lock lock(mutex_);
      source_ = source;
      if (!failure && !closing_) {
        hr = session_->SetTopology(0, topology.Get());
        if (FAILED(hr)) failure = Failure{L"setting the playback topology", hr};
      }
      if (failure) {
        note.step = failure->step;
        note.status = failure->code;
      }
    }
    {
      const std::scoped_lock lock(mutex_);
      resolving_ = false;
      if (!closing_) {
        Post(note);
        return;
      }
      if (source_ && session_ && SUCCEEDED(session_->Close())) return;
    }
    Finish();
  }

  // On a work-queue thread: one event of the session, and the request for the next one.
  void OnSessionEvent(IMFAsyncResult& result) {
    ComPtr<IMFMediaSession> session;
    {
      const std::scoped_lock lock(mutex_);
      session = session_;
    }
    ComPtr<IMFMediaEvent> event;
    // Without a session, or with one that fails to deliver, no event will come again.
    if (!session || FAILED(session->EndGetEvent(&result, &event))) {
      Finish();
      return;
    }
    MediaEventType type = MEUnknown;
    HRESULT status = S_OK;
    event->GetType(&type);
    event->GetStatus(&status);
    if (type == MESessionClosed || FAILED(session->BeginGetEvent(SessionEvents().Get(), nullptr))) {
      Finish();
      return;
    }
    Note note;
    note.status = status;
    note.event = type;
    if (type == MESessionTopologyStatus) {
      event->GetUINT32(MF_EVENT_TOPOLOGY_STATUS, &note.topologyStatus);
      if (note.topologyStatus == MF_TOPOSTATUS_READY) ApplyVideoPosition();
    }
    // Some sessions (Wine's) never report the end of a movie played through: its clock tells.
    ComPtr<IMFPresentationClock> clock;
    if (type == MESessionStarted && SUCCEEDED(status)) {
      ComPtr<IMFClock> any;
      if (SUCCEEDED(session->GetClock(&any))) any.As(&clock);
    }
    const std::scoped_lock lock(mutex_);
    if (clock) clock_ = clock;
    Post(note);
  }

  // On a work-queue thread: the whole picture into the video window's client area, its
  // proportions kept (black bars where they differ).
  void ApplyVideoPosition() {
    ComPtr<IMFMediaSession> session;
    {
      const std::scoped_lock lock(mutex_);
      if (closing_) return;
      session = session_;
    }
    ComPtr<IMFVideoDisplayControl> display;
    if (!session ||
        FAILED(api_.getService(session.Get(), MR_VIDEO_RENDER_SERVICE, IID_PPV_ARGS(&display)))) {
      return;
    }
    RECT client{};
    GetClientRect(video_, &client);
    display->SetAspectRatioMode(MFVideoARMode_PreservePicture);
    display->SetVideoPosition(nullptr, &client);
  }

  // Whoever created the source shuts it down, and then the session; once, from whichever thread
  // gets here first, never with mutex_ held (a source's shutdown waits for its own threads).
  void Finish() {
    ComPtr<IMFMediaSource> source;
    ComPtr<IMFMediaSession> session;
    ComPtr<IMFByteStream> file;
    ComPtr<IMFPresentationClock> clock;
    {
      const std::scoped_lock lock(mutex_);
      if (finished_) return;
      finished_ = true;
      source = std::move(source_);
      session = std::move(session_);
      file = std::move(file_);
      clock = std::move(clock_);
    }
    if (source) source->Shutdown();
    if (session) session->Shutdown();
    if (file) file->Close();
    SetEvent(closed_);
  }

  // With mutex_ held.
  void Post(Note note) {
    if (mailbox_ == nullptr) return;
    notes_.push_back(note);
    PostMessageW(mailbox_, kNotesMessage, 0, 0);
  }

  const MediaFoundationApi api_;
  std::mutex mutex_;
  HWND mailbox_;
  HWND video_;
  HANDLE closed_;
  ComPtr<IMFByteStream> file_;
  ComPtr<IMFMediaSource> source_;
  ComPtr<IMFMediaSession> session_;
  ComPtr<IMFPresentationClock> clock_;
  std::deque<Note> notes_;
  bool resolving_ = false;
  bool closing_ = false;
  bool finished_ = false;
};

class VideoSurface {
 public:
  virtual void FitVideo() = 0;
  virtual void ReadNotes() = 0;

 protected:
  ~VideoSurface() = default;
};

// The window the video is drawn in, also the mailbox of the pipeline's notes. It is shown from
// the first frame on (until then the logo stays in view), black wherever the movie leaves bars.
// It is an owned pop-up kept over the player's rectangle rather than a child window: Direct3D
// output into child windows is lost on some systems (Wine on X11 among them), while an owned pop-up
// shows it everywhere, stays above its owner, goes with it and never takes the focus.
LRESULT CALLBACK VideoWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the window's slot holds the engine's address
  auto* surface = reinterpret_cast<VideoSurface*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case kNotesMessage:
      if (surface != nullptr) surface->ReadNotes();
      return 0;
    case WM_PAINT: {
      const Painting paint(window);
      // Bars and the moment before a frame; the renderer draws every frame itself.
      FillRect(paint.dc(), &paint.Area(), static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers every pixel
    case WM_SIZE:
      if (surface != nullptr) surface->FitVideo();
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
    // Without the class the window isn't made, and the engine reports that.
    static_cast<void>(RegisterWindowClass(instance, kVideoWindowClass, &VideoWindowProc));
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

// Media Foundation's Media Session with the enhanced video renderer and the audio renderer.
class MediaFoundationPlayer final : public MoviePlayer, VideoSurface {
 public:
  MediaFoundationPlayer(HWND parent, const TwipsScale& scale, SkipReporter report)
      : owner_(parent), scale_(scale), report_(std::move(report)), window_(parent, *this) {
    unavailable_ = LoadApi(api_);
    if (!unavailable_) {
      const HRESULT hr = api_.startup(MF_VERSION, MFSTARTUP_LITE);
      if (FAILED(hr)) unavailable_ = Failure{L"starting Media Foundation", hr};
    }
    if (!unavailable_ && window_.Handle() == nullptr) {
      unavailable_ = Failure{L"creating the video window", HRESULT_FROM_WIN32(GetLastError())};
    }
  }

  ~MediaFoundationPlayer() override {
    if (window_.Handle() != nullptr) ShowWindow(window_.Handle(), SW_HIDE);
    Unload();
    // The window is gone and the game started: what is left of the pipelines gets a short while
    // to close, so that no thread of theirs is busy when the process ends. One that takes longer
    // is left behind rather than keep the process alive.
    const ULONGLONG start = GetTickCount64();
    for (const auto& pipeline : closing_) {
      if (!pipeline->WaitClosed(start + kCloseReportWaitMs)) pipeline->ShutDownNow();
    }
    for (const auto& pipeline : closing_) pipeline->WaitClosed(start + kTeardownWaitMs);
    // No MFShutdown: it closes the work queues' thread pools, whose threads then exit just as the
    // process ends, and Wine 8 crashes a process that ends under threads still at work. The
    // process ends right after this; Media Foundation's start-up count needs no balancing then.
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
    path_ = path;
    reported_ = false;
    if (unavailable_) {
      Fail(*unavailable_);
      return;
    }
    pipeline_ = std::make_shared<Pipeline>(api_, window_.Handle(), window_.Handle());
    if (auto failure = pipeline_->Open(path)) Fail(*failure);
  }

  void Play() override {
    watch_.Play();
    if (!pipeline_) return;
    play_wanted_ = true;
    if (opened_) Start();
  }

  bool Playing() override {
    // Read on every tick of the movie: the moment to follow the owner should it have moved.
    Place();
    if (pipeline_ && !winding_down_) {
      if (const auto position = pipeline_->Position()) watch_.Reached(*position);
    }
    if (watch_.Playing()) return true;
    // Over by the watch (the end report may never come): the pipeline starts closing now, while
    // the launcher goes on to start the game.
    if (!winding_down_) WindDown();
    return false;
  }

  void StopPlay() override {
    play_wanted_ = false;
    watch_.Stop();
    // A stopped movie is never resumed: the pipeline may go.
    WindDown();
  }

  void ReadNotes() override {
    if (!pipeline_) return;
    // A note may lead to the pipeline's close, which retires it: read from a reference of our own.
    const std::shared_ptr<Pipeline> pipeline = pipeline_;
    for (const Note& note : pipeline->TakeNotes()) {
      if (pipeline_ != pipeline) return;
      Read(note);
    }
  }

  void FitVideo() override {
    if (pipeline_ && topology_ready_) pipeline_->FitVideo();
  }

 private:
  void Read(const Note& note) {
    // What a closing pipeline still reports (its stop, an error on the way) changes nothing.
    if (winding_down_) return;
    if (FAILED(note.status)) {
      Fail(Failure{note.kind == Note::Kind::kOpened ? note.step : EventStep(note.event),
                   note.status});
      return;
    }
    if (note.kind == Note::Kind::kOpened) {
      if (note.duration) watch_.SetDuration(*note.duration);
      opened_ = true;
      if (play_wanted_) Start();
      return;
    }
    switch (note.event) {
      case MESessionTopologyStatus:
        // The pipeline fitted the video as it got ready; later moves of the window refit it.
        if (note.topologyStatus == MF_TOPOSTATUS_READY) topology_ready_ = true;
        break;
      case MESessionStarted:
        first_frame_ = true;
        watch_.Began();
        Place();
        break;
      case MESessionEnded:
        watch_.Ended();
        // Played once: the pipeline may start closing while the window still shows.
        WindDown();
        break;
      default:
        break;
    }
  }

  static const wchar_t* EventStep(MediaEventType event) {
    switch (event) {
      case MESessionTopologySet:
        return L"setting the playback topology";
      case MESessionTopologyStatus:
        return L"resolving the playback topology";
      case MESessionStarted:
        return L"starting playback";
      default:
        return L"playing the movie";
    }
  }

  void Start() {
    play_wanted_ = false;
    if (const HRESULT hr = pipeline_->Start(); FAILED(hr)) Fail(Failure{L"starting playback", hr});
  }

  // The movie reads as not playing from now on, and its reason goes out once.
  void Fail(const Failure& failure) {
    watch_.Failed();
    if (!reported_) {
      reported_ = true;
      report_(path_, FailureText(failure.step, failure.code));
    }
    WindDown();
  }

  void WindDown() {
    winding_down_ = true;
    if (pipeline_) pipeline_->Close();
  }

  void Resize(int& field, Twips twips) {
    field = scale_.Pixels(twips);
    Place();
  }

  // Puts the video window over the player's rectangle in the owner's client area, above the
  // owner without taking the activation from it, once the first frame is there; hidden before.
  void Place() {
    const HWND window = window_.Handle();
    if (window == nullptr) return;
    const bool shown = visible_ && first_frame_;
    if (!shown && IsWindowVisible(window)) ShowWindow(window, SW_HIDE);
    // Placed also while hidden: the renderer sizes the video to the window before it shows.
    POINT origin{left_, top_};
    ClientToScreen(owner_, &origin);
    RECT now{};
    GetWindowRect(window, &now);
    const bool placed = (IsWindowVisible(window) != FALSE) == shown && now.left == origin.x &&
                        now.top == origin.y && now.right - now.left == width_ &&
                        now.bottom - now.top == height_;
    if (placed) return;
    // A topmost owner (full screen) needs its video in the topmost band too.
    const bool topmost = (GetWindowLongPtrW(owner_, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    SetWindowPos(window, topmost ? HWND_TOPMOST : HWND_TOP, origin.x, origin.y, width_, height_,
                 SWP_NOACTIVATE | (shown ? SWP_SHOWWINDOW : 0));
  }

  // Lets go of the current movie without waiting for its pipeline to wind down.
  void Unload() {
    if (pipeline_) {
      pipeline_->Detach();
      pipeline_->Close();
      closing_.push_back(std::move(pipeline_));
      pipeline_.reset();
    }
    std::erase_if(closing_, [](const auto& pipeline) { return pipeline->Closed(); });
    opened_ = false;
    play_wanted_ = false;
    first_frame_ = false;
    topology_ready_ = false;
    winding_down_ = false;
    Place();
  }

  ComApartment com_{COINIT_APARTMENTTHREADED};
  HWND owner_;
  TwipsScale scale_;
  SkipReporter report_;
  MediaFoundationApi api_;
  std::optional<Failure> unavailable_;
  VideoWindow window_;
  std::shared_ptr<Pipeline> pipeline_;
  std::vector<std::shared_ptr<Pipeline>> closing_;
  PlaybackWatch watch_;
  PathText path_;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = false;
  bool opened_ = false;
  bool play_wanted_ = false;
  bool first_frame_ = false;
  bool topology_ready_ = false;
  bool winding_down_ = false;
  bool reported_ = false;
};

}  // namespace

std::unique_ptr<MoviePlayer> CreateMediaFoundationPlayer(HWND parent, const TwipsScale& scale,
                                                         SkipReporter report) {
  return std::make_unique<MediaFoundationPlayer>(parent, scale, std::move(report));
}

}  // namespace launcher::win32
