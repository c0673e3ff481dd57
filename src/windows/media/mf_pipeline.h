#pragma once
// One movie's media source and Media Session: the pipeline that opens and plays it on Media
// Foundation's work queues, and closes it on its own time.
//
// Threads and locking:
// - The engine calls the pipeline's public members on the window's thread. Media Foundation calls
//   the pipeline back on its work-queue threads: the movie resolved, each session event, the
//   video's fit and the forced shut-down all run there, each holding a reference of its own.
// - The source is resolved, the topology built and the video renderer called on those threads;
//   the window's thread only reads notes, starts the session and begins its close. It never waits
//   on the pipeline (the renderer's thread may wait on the window's), except in WaitClosed, which
//   answers the messages other threads send it meanwhile.
// - mutex_ guards every member the two sides share: the mailbox and its notes, the source, the
//   session, the file, the clock and the flags. Held, it covers only short work: the session's
//   asynchronous requests (SetTopology, Start, Close return at once) and the notes' queue. Never
//   held for a Shutdown, which waits for the source's own threads: Finish takes the objects out
//   under it and shuts them down after.
// - What the window's thread learns arrives as notes: the pipeline queues them and posts
//   kNotesMessage to the mailbox window, whose thread takes them (TakeNotes). After Detach no more
//   notes come, and those not taken are dropped.
// - A closing pipeline outlives the engine: once the session reports itself closed, the callback
//   shuts down the source and the session (whoever created a source owes it that) and Closed
//   turns true.

#include <windows.h>

#include <mfidl.h>

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "vocabulary/path_text.h"
#include "windows/media/mf_api.h"
#include "windows/scoped_win.h"

namespace launcher::win32::mf {

// Posted to the mailbox window when the pipeline has left notes there.
inline constexpr UINT kNotesMessage = WM_APP + 1;

// What Media Foundation's threads leave for the window's thread: the movie opened (or why not),
// or one event of the session with its status.
struct Note {
  enum class Kind { Opened, Event };
  Kind kind = Kind::Event;
  HRESULT status = S_OK;
  const wchar_t* step = L"";
  MediaEventType event = MEUnknown;
  std::optional<std::chrono::nanoseconds> duration;  // Opened: the movie's length, when known
};

class Pipeline : public std::enable_shared_from_this<Pipeline> {
 public:
  // Notes go to mailbox; the video is drawn in video. Made through std::make_shared.
  Pipeline(const MediaFoundationApi& api, HWND mailbox, HWND video);
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Starts opening the movie; the result arrives as an Opened note. The step that failed at once.
  [[nodiscard]] std::optional<Failure> Open(const PathText& path);
  // Asks the opened session to play from where it stands (the start at first).
  [[nodiscard]] HRESULT Start();
  // Fits the video into the video window's client area again, once the video renderer is there.
  void FitVideo();
  // The presentation clock's time once the session has started; none before, or when the clock
  // can't tell. The clock only reads its time source here: it never waits on the pipeline.
  [[nodiscard]] std::optional<std::chrono::nanoseconds> Position();
  // No more notes to the window's thread; those not taken yet are dropped.
  void Detach();
  [[nodiscard]] std::deque<Note> TakeNotes();

  // Begins closing; returns at once. The session reports itself closed on a work-queue thread,
  // which then finishes the job; a source still being resolved is shut down when it arrives.
  void Close();
  // Shuts the source and the session down on a work-queue thread without waiting any longer for
  // the session's report that it closed.
  void ShutDownNow();
  // Waits for the close to finish, answering messages other threads send to the window's thread
  // meanwhile (the video renderer's may); false if the deadline (GetTickCount64) came first.
  // Posted messages stay queued: the window's handlers are gone by now.
  [[nodiscard]] bool WaitClosed(ULONGLONG deadline) const;
  [[nodiscard]] bool Closed() const;

 private:
  ComPtr<IMFAsyncCallback> SessionEvents();
  void OnResolved(IMFSourceResolver& resolver, IMFAsyncResult& result);
  void OnSessionEvent(IMFAsyncResult& result);
  void ApplyVideoPosition();
  void Finish();
  void Post(const Note& note);  // with mutex_ held

  const MediaFoundationApi api_;
  const HWND video_;
  const KernelHandle closed_;
  std::mutex mutex_;
  HWND mailbox_;
  ComPtr<IMFByteStream> file_;
  ComPtr<IMFMediaSource> source_;
  ComPtr<IMFMediaSession> session_;
  ComPtr<IMFPresentationClock> clock_;
  std::deque<Note> notes_;
  bool resolving_ = false;
  bool video_ready_ = false;  // the topology is resolved: the video renderer can be reached
  bool closing_ = false;
  bool finished_ = false;
};

}  // namespace launcher::win32::mf
