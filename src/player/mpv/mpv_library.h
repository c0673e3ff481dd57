#pragma once
// libmpv, opened at run time. Linking it would cost every start of the launcher the loading of
// FFmpeg before the logo can show; opened on a thread of its own while the logo shows, it costs
// nothing that the player sees, and a missing libmpv only matters once a movie is to play.

#include <mpv/client.h>
#include <mpv/render.h>

#include <functional>
#include <future>
#include <memory>
#include <thread>

namespace launcher::mpv {

// The functions of libmpv the player uses; the library stays loaded while this, or a copy of it,
// lives. A copy may have some of its functions wrapped (tests count calls so).
class MpvLibrary {
 public:
  static constexpr const char* kSoname = "libmpv.so.2";

  // Opens the library and resolves every function. Throws std::runtime_error.
  [[nodiscard]] static std::shared_ptr<const MpvLibrary> Open(const char* soname = kSoname);

  decltype(&::mpv_error_string) error_string = nullptr;
  decltype(&::mpv_create) create = nullptr;
  decltype(&::mpv_initialize) initialize = nullptr;
  decltype(&::mpv_terminate_destroy) terminate_destroy = nullptr;
  decltype(&::mpv_set_option_string) set_option_string = nullptr;
  decltype(&::mpv_request_log_messages) request_log_messages = nullptr;
  decltype(&::mpv_observe_property) observe_property = nullptr;
  decltype(&::mpv_command_async) command_async = nullptr;
  decltype(&::mpv_set_property_async) set_property_async = nullptr;
  decltype(&::mpv_wait_event) wait_event = nullptr;
  decltype(&::mpv_set_wakeup_callback) set_wakeup_callback = nullptr;
  decltype(&::mpv_render_context_create) render_context_create = nullptr;
  decltype(&::mpv_render_context_set_update_callback) render_context_set_update_callback = nullptr;
  decltype(&::mpv_render_context_update) render_context_update = nullptr;
  decltype(&::mpv_render_context_render) render_context_render = nullptr;
  decltype(&::mpv_render_context_free) render_context_free = nullptr;

 private:
  explicit MpvLibrary(std::shared_ptr<void> handle) : handle_(std::move(handle)) {}
  std::shared_ptr<void> handle_;
};

// Opens libmpv on a thread of its own once started; whoever needs it waits only for what is left.
class MpvLibraryLoader {
 public:
  // How the library is opened, on the loader's thread. Throws what opening it throws.
  using Opener = std::function<std::shared_ptr<const MpvLibrary>()>;

  explicit MpvLibraryLoader(const char* soname = MpvLibrary::kSoname)
      : open_([soname] { return MpvLibrary::Open(soname); }) {}
  explicit MpvLibraryLoader(Opener open) : open_(std::move(open)) {}
  ~MpvLibraryLoader();  // waits for the thread: the process must not end inside the loader
  MpvLibraryLoader(const MpvLibraryLoader&) = delete;
  MpvLibraryLoader& operator=(const MpvLibraryLoader&) = delete;

  // Starts opening the library in the background; later calls do nothing.
  void Start();
  // The library, opened now if nobody started it. Throws what opening it threw.
  [[nodiscard]] std::shared_ptr<const MpvLibrary> Get();

 private:
  Opener open_;
  std::thread thread_;
  std::shared_future<std::shared_ptr<const MpvLibrary>> library_;
};

}  // namespace launcher::mpv
