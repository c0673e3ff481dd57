#include "windows/media/mf_pipeline.h"

#include <evr.h>
#include <mfapi.h>
#include <mferror.h>

#include <functional>
#include <utility>

#include "windows/com_object.h"
#include "windows/media/mf_topology.h"
#include "windows/win32_files.h"

namespace launcher::win32::mf {
namespace {

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

}  // namespace

Pipeline::Pipeline(const MediaFoundationApi& api, HWND mailbox, HWND video)
    : api_(api),
      video_(video),
      closed_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      mailbox_(mailbox) {}

std::optional<Failure> Pipeline::Open(const PathText& path) {
  if (!closed_) return Failure{L"creating an event", HRESULT_FROM_WIN32(GetLastError())};
  ComPtr<IMFSourceResolver> resolver;
  HRESULT hr = api_.create_source_resolver(&resolver);
  if (FAILED(hr)) return Failure{L"creating the source resolver", hr};
  // The file is opened here with the same long-path handling as every other file; its name
  // still tells the resolver which kind of movie to expect.
  hr = api_.create_file(MF_ACCESSMODE_READ, MF_OPENMODE_FAIL_IF_NOT_EXIST, MF_FILEFLAGS_NONE,
                        ExtendedLengthPath(path).c_str(), &file_);
  if (FAILED(hr)) return Failure{L"opening the file", hr};
  hr = api_.create_media_session(nullptr, &session_);
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

HRESULT Pipeline::Start() {
  const std::scoped_lock lock(mutex_);
  if (!session_ || closing_) return MF_E_SHUTDOWN;
  PROPVARIANT from;
  PropVariantInit(&from);  // VT_EMPTY: from the current position, the start at first
  return session_->Start(&GUID_NULL, &from);
}

void Pipeline::ShutDownNow() {
  api_.put_work_item(
      MFASYNC_CALLBACK_QUEUE_MULTITHREADED,
      AsyncCallback::Make([self = shared_from_this()](IMFAsyncResult&) { self->Finish(); }).Get(),
      nullptr);
}

void Pipeline::FitVideo() {
  api_.put_work_item(MFASYNC_CALLBACK_QUEUE_MULTITHREADED,
                     AsyncCallback::Make([self = shared_from_this()](IMFAsyncResult&) {
                       self->ApplyVideoPosition();
                     }).Get(),
                     nullptr);
}

std::optional<std::chrono::nanoseconds> Pipeline::Position() {
  ComPtr<IMFPresentationClock> clock;
  {
    const std::scoped_lock lock(mutex_);
    clock = clock_;
  }
  MFTIME time = 0;
  if (!clock || FAILED(clock->GetTime(&time)) || time < 0) return std::nullopt;
  return From100ns(static_cast<UINT64>(time));
}

void Pipeline::Detach() {
  const std::scoped_lock lock(mutex_);
  mailbox_ = nullptr;
  notes_.clear();
}

std::deque<Note> Pipeline::TakeNotes() {
  const std::scoped_lock lock(mutex_);
  return std::exchange(notes_, {});
}

void Pipeline::Close() {
  {
    const std::scoped_lock lock(mutex_);
    if (closing_) return;
    closing_ = true;
    if (resolving_ || (source_ && session_ && SUCCEEDED(session_->Close()))) return;
  }
  Finish();
}

bool Pipeline::WaitClosed(ULONGLONG deadline) const {
  const HANDLE closed = closed_.get();
  while (true) {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    const DWORD woke = MsgWaitForMultipleObjects(1, &closed, FALSE, left, QS_SENDMESSAGE);
    if (woke == WAIT_OBJECT_0) return true;
    if (woke != WAIT_OBJECT_0 + 1) return false;
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

bool Pipeline::Closed() const {
  return WaitForSingleObject(closed_.get(), 0) == WAIT_OBJECT_0;
}

ComPtr<IMFAsyncCallback> Pipeline::SessionEvents() {
  return AsyncCallback::Make(
      [self = shared_from_this()](IMFAsyncResult& result) { self->OnSessionEvent(result); });
}

// On a work-queue thread.
void Pipeline::OnResolved(IMFSourceResolver& resolver, IMFAsyncResult& result) {
  MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
  ComPtr<IUnknown> object;
  HRESULT hr = resolver.EndCreateObjectFromByteStream(&result, &type, &object);
  ComPtr<IMFMediaSource> source;
  if (SUCCEEDED(hr)) hr = object.As(&source);
  Note note;
  note.kind = Note::Kind::Opened;
  note.status = hr;
  note.step = L"opening the movie";
  if (SUCCEEDED(hr)) {
    const ComApartment com(COINIT_MULTITHREADED);
    ComPtr<IMFPresentationDescriptor> presentation;
    ComPtr<IMFTopology> topology;
    std::optional<Failure> failure;
    hr = source->CreatePresentationDescriptor(&presentation);
    if (FAILED(hr)) failure = Failure{L"reading the movie's streams", hr};
    if (!failure) {
      failure = BuildTopology(api_, *source.Get(), *presentation.Get(), video_, topology);
    }
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
void Pipeline::OnSessionEvent(IMFAsyncResult& result) {
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
    UINT32 topology_status = MF_TOPOSTATUS_INVALID;
    event->GetUINT32(MF_EVENT_TOPOLOGY_STATUS, &topology_status);
    // The video is fitted as the renderer gets ready; later moves of the window fit it again.
    if (topology_status == MF_TOPOSTATUS_READY) {
      {
        const std::scoped_lock lock(mutex_);
        video_ready_ = true;
      }
      ApplyVideoPosition();
    }
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
void Pipeline::ApplyVideoPosition() {
  ComPtr<IMFMediaSession> session;
  {
    const std::scoped_lock lock(mutex_);
    if (closing_ || !video_ready_) return;
    session = session_;
  }
  ComPtr<IMFVideoDisplayControl> display;
  if (!session ||
      FAILED(api_.get_service(session.Get(), MR_VIDEO_RENDER_SERVICE, IID_PPV_ARGS(&display)))) {
    return;
  }
  RECT client{};
  GetClientRect(video_, &client);
  display->SetAspectRatioMode(MFVideoARMode_PreservePicture);
  display->SetVideoPosition(nullptr, &client);
}

// Whoever created the source shuts it down, and then the session; once, from whichever thread
// gets here first, never with mutex_ held (a source's shutdown waits for its own threads).
void Pipeline::Finish() {
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
  SetEvent(closed_.get());
}

void Pipeline::Post(const Note& note) {
  if (mailbox_ == nullptr) return;
  notes_.push_back(note);
  PostMessageW(mailbox_, kNotesMessage, 0, 0);
}

}  // namespace launcher::win32::mf
