#include "player/mpv/mpv_library.h"

#include <dlfcn.h>

#include <stdexcept>
#include <string>
#include <system_error>

namespace launcher::mpv {
namespace {

std::string LastDlError() {
  const char* error = ::dlerror();
  return error != nullptr ? error : "unknown error";
}

template <typename Function>
void Resolve(void* handle, Function& function, const char* name) {
  void* symbol = ::dlsym(handle, name);
  if (symbol == nullptr) {
    throw std::runtime_error(std::string("libmpv lacks ") + name + ": " + LastDlError());
  }
  // POSIX guarantees that a function's address survives the trip through void*.
  function = reinterpret_cast<Function>(symbol);
}

}  // namespace

std::shared_ptr<const MpvLibrary> MpvLibrary::Open(const char* soname) {
  // Every relocation is done here, on the loading thread, and none later on the window's. The
  // library stays mapped after dlclose: FFmpeg and the audio libraries leave exit handlers behind.
  void* handle = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) throw std::runtime_error(LastDlError());
  std::shared_ptr<MpvLibrary> library(
      new MpvLibrary(std::shared_ptr<void>(handle, [](void* opened) { ::dlclose(opened); })));
  Resolve(handle, library->error_string, "mpv_error_string");
  Resolve(handle, library->create, "mpv_create");
  Resolve(handle, library->initialize, "mpv_initialize");
  Resolve(handle, library->terminate_destroy, "mpv_terminate_destroy");
  Resolve(handle, library->set_option_string, "mpv_set_option_string");
  Resolve(handle, library->request_log_messages, "mpv_request_log_messages");
  Resolve(handle, library->observe_property, "mpv_observe_property");
  Resolve(handle, library->command_async, "mpv_command_async");
  Resolve(handle, library->set_property_async, "mpv_set_property_async");
  Resolve(handle, library->wait_event, "mpv_wait_event");
  Resolve(handle, library->set_wakeup_callback, "mpv_set_wakeup_callback");
  Resolve(handle, library->render_context_create, "mpv_render_context_create");
  Resolve(handle, library->render_context_set_update_callback,
          "mpv_render_context_set_update_callback");
  Resolve(handle, library->render_context_update, "mpv_render_context_update");
  Resolve(handle, library->render_context_render, "mpv_render_context_render");
  Resolve(handle, library->render_context_free, "mpv_render_context_free");
  return library;
}

MpvLibraryLoader::~MpvLibraryLoader() {
  if (thread_.joinable()) thread_.join();
}

void MpvLibraryLoader::Start() {
  if (library_.valid()) return;
  std::packaged_task<std::shared_ptr<const MpvLibrary>()> open(open_);
  auto library = open.get_future().share();
  try {
    thread_ = std::thread(std::move(open));
  } catch (const std::system_error&) {
    return;  // no thread to spare: Get opens it itself
  }
  library_ = std::move(library);
}

std::shared_ptr<const MpvLibrary> MpvLibraryLoader::Get() {
  Start();
  if (!library_.valid()) return open_();
  return library_.get();
}

}  // namespace launcher::mpv
