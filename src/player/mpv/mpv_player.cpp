#include "player/mpv/mpv_player.h"

#include <array>
#include <stdexcept>
#include <string>
#include <utility>

namespace launcher::mpv {
namespace {

constexpr std::uint64_t kChapterReply = 1;
constexpr std::uint64_t kDurationReply = 2;

// Options fixed before mpv starts: no input of its own, no extras, one play of the file, and
// silence rather than an error where there is no sound device.
constexpr std::pair<const char*, const char*> kOptions[] = {
    {"vo", "libmpv"},
    {"audio-fallback-to-null", "yes"},
    // Not SDL's audio: mpv would start SDL's audio subsystem from its own thread, in a process
    // whose SDL belongs to the window's thread.
    {"ao", "pipewire,pulse,alsa,jack"},
    {"input-default-bindings", "no"},
    {"input-vo-keyboard", "no"},
    {"input-cursor", "no"},
    {"input-terminal", "no"},
    {"terminal", "no"},
    {"config", "no"},
    {"load-scripts", "no"},
    {"ytdl", "no"},
    {"osd-level", "0"},
    {"sub-auto", "no"},
    {"audio-file-auto", "no"},
    {"resume-playback", "no"},
    {"keep-open", "no"},
    {"loop-file", "no"},
    {"idle", "yes"},
    {"hwdec", "no"},
};

}  // namespace

// mpv's core and its render context, each freed by its owner; the context goes first, as mpv
// requires.
struct MpvMoviePlayer::Engine {
  struct HandleCloser {
    const MpvLibrary* library;
    void operator()(mpv_handle* core) const {
      library->set_wakeup_callback(core, nullptr, nullptr);
      library->terminate_destroy(core);
    }
  };
  struct ContextCloser {
    const MpvLibrary* library;
    void operator()(mpv_render_context* renderer) const {
      library->render_context_set_update_callback(renderer, nullptr, nullptr);
      library->render_context_free(renderer);
    }
  };

  explicit Engine(std::shared_ptr<const MpvLibrary> lib)
      : library(std::move(lib)),
        handle(nullptr, {library.get()}),
        context(nullptr, {library.get()}) {}

  void Check(int status, const char* what) const {
    if (status < 0) {
      throw std::runtime_error(std::string("mpv can't ") + what + ": " +
                               library->error_string(status));
    }
  }

  std::shared_ptr<const MpvLibrary> library;
  std::unique_ptr<mpv_handle, HandleCloser> handle;
  std::unique_ptr<mpv_render_context, ContextCloser> context;
};

MpvMoviePlayer::MpvMoviePlayer(MpvLibraryLoader& loader, VideoLayer& layer, Wake wakeForEvents,
                               Wake wakeForFrame)
    : loader_(loader),
      layer_(layer),
      wake_for_events_(std::move(wakeForEvents)),
      wake_for_frame_(std::move(wakeForFrame)) {}

MpvMoviePlayer::~MpvMoviePlayer() = default;

void MpvMoviePlayer::SetVisible(bool visible) {
  layer_.SetVisible(visible);
}
void MpvMoviePlayer::SetTop(Twips top) {
  layer_.SetTop(top);
}
void MpvMoviePlayer::SetLeft(Twips left) {
  layer_.SetLeft(left);
}
void MpvMoviePlayer::SetHeight(Twips height) {
  layer_.SetHeight(height);
}
void MpvMoviePlayer::SetWidth(Twips width) {
  layer_.SetWidth(width);
}

void MpvMoviePlayer::SetLoop(bool loop) {
  loop_ = loop;
  if (engine_) {
    engine_->Check(engine_->library->set_property_string(engine_->handle.get(), "loop-file",
                                                         loop ? "inf" : "no"),
                   "set looping");
  }
}

void MpvMoviePlayer::SetMovie(const PathText& path) {
  if (!engine_) {
    auto engine = std::make_unique<Engine>(loader_.Get());
    const MpvLibrary& mpv = *engine->library;
    engine->handle.reset(mpv.create());
    if (!engine->handle) throw std::runtime_error("mpv can't be created");
    mpv_handle* handle = engine->handle.get();
    for (const auto& [name, value] : kOptions) {
      engine->Check(mpv.set_option_string(handle, name, value), name);
    }
    engine->Check(mpv.set_option_string(handle, "loop-file", loop_ ? "inf" : "no"), "loop-file");
    engine->Check(mpv.initialize(handle), "start");
    engine->Check(mpv.observe_property(handle, kChapterReply, "chapter", MPV_FORMAT_INT64),
                  "watch chapters");
    engine->Check(mpv.observe_property(handle, kDurationReply, "duration", MPV_FORMAT_DOUBLE),
                  "watch the duration");

    char api[] = MPV_RENDER_API_TYPE_SW;
    std::array<mpv_render_param, 2> params{
        {{MPV_RENDER_PARAM_API_TYPE, api}, {MPV_RENDER_PARAM_INVALID, nullptr}}};
    mpv_render_context* context = nullptr;
    engine->Check(mpv.render_context_create(&context, handle, params.data()), "render");
    engine->context.reset(context);

    mpv.set_wakeup_callback(
        handle, [](void* wake) { (*static_cast<Wake*>(wake))(); }, &wake_for_events_);
    mpv.render_context_set_update_callback(
        context, [](void* wake) { (*static_cast<Wake*>(wake))(); }, &wake_for_frame_);
    engine_ = std::move(engine);
  }
  movie_ = path;
  watch_.Load();
}

void MpvMoviePlayer::Play() {
  if (!engine_ || movie_.empty()) return;
  const MpvLibrary& mpv = *engine_->library;
  watch_.Load();
  entry_ = -1;
  entry_started_ = false;
  chapter_ = -1;
  layer_.ClearFrame();

  std::array<const char*, 4> args{"loadfile", movie_.c_str(), "replace", nullptr};
  mpv_node result{};
  if (mpv.command_ret(engine_->handle.get(), args.data(), &result) < 0) {
    watch_.Failed();  // reads as not playing: the window closes at the next tick
    return;
  }
  if (result.format == MPV_FORMAT_NODE_MAP) {
    const mpv_node_list* map = result.u.list;
    for (int i = 0; i < map->num; ++i) {
      if (std::string_view(map->keys[i]) == "playlist_entry_id" &&
          map->values[i].format == MPV_FORMAT_INT64) {
        entry_ = map->values[i].u.int64;
      }
    }
  }
  mpv.free_node_contents(&result);
  watch_.Play();
}

bool MpvMoviePlayer::Playing() {
  return watch_.Playing();
}

void MpvMoviePlayer::StopPlay() {
  watch_.Stop();
  entry_ = -1;
  if (!engine_) return;
  std::array<const char*, 2> args{"stop", nullptr};
  engine_->Check(engine_->library->command(engine_->handle.get(), args.data()), "stop");
}

std::vector<MovieCommand> MpvMoviePlayer::HandleEvents() {
  std::vector<MovieCommand> commands;
  if (!engine_) return commands;
  const MpvLibrary& mpv = *engine_->library;
  while (true) {
    const mpv_event* event = mpv.wait_event(engine_->handle.get(), 0);
    if (event == nullptr || event->event_id == MPV_EVENT_NONE) break;
    switch (event->event_id) {
      case MPV_EVENT_START_FILE: {
        const auto* start = static_cast<const mpv_event_start_file*>(event->data);
        if (start->playlist_entry_id == entry_) entry_started_ = true;
        break;
      }
      case MPV_EVENT_PLAYBACK_RESTART:
        if (entry_started_) watch_.Began();
        break;
      case MPV_EVENT_END_FILE: {
        const auto* end = static_cast<const mpv_event_end_file*>(event->data);
        if (end->playlist_entry_id != entry_ || end->reason == MPV_END_FILE_REASON_REDIRECT) break;
        if (end->reason == MPV_END_FILE_REASON_ERROR) {
          watch_.Failed();
        } else {
          watch_.Ended();
        }
        entry_started_ = false;
        break;
      }
      case MPV_EVENT_PROPERTY_CHANGE: {
        const auto* property = static_cast<const mpv_event_property*>(event->data);
        if (!entry_started_ || property->format == MPV_FORMAT_NONE) break;
        if (event->reply_userdata == kChapterReply && property->format == MPV_FORMAT_INT64) {
          HandleChapter(*static_cast<const std::int64_t*>(property->data), commands);
        } else if (event->reply_userdata == kDurationReply &&
                   property->format == MPV_FORMAT_DOUBLE) {
          const double seconds = *static_cast<const double*>(property->data);
          if (seconds > 0) {
            watch_.SetDuration(std::chrono::duration_cast<std::chrono::nanoseconds>(
                std::chrono::duration<double>(seconds)));
          }
        }
        break;
      }
      case MPV_EVENT_SHUTDOWN:
        watch_.Failed();
        break;
      default:
        break;
    }
  }
  return commands;
}

void MpvMoviePlayer::HandleChapter(std::int64_t chapter, std::vector<MovieCommand>& commands) {
  const MpvLibrary& mpv = *engine_->library;
  const std::vector<std::int64_t> entered = ChaptersEntered(chapter_, chapter);
  chapter_ = chapter;
  for (const std::int64_t index : entered) {
    const std::string name = "chapter-list/" + std::to_string(index) + "/title";
    char* title = mpv.get_property_string(engine_->handle.get(), name.c_str());
    if (title == nullptr) continue;
    std::optional<MovieCommand> command = ParseCommandChapter(title);
    mpv.free(title);
    if (command) commands.push_back(std::move(*command));
  }
}

void MpvMoviePlayer::DrawFrame() {
  if (!engine_ || !engine_->context) return;
  const MpvLibrary& mpv = *engine_->library;
  mpv_render_context* context = engine_->context.get();
  if ((mpv.render_context_update(context) & MPV_RENDER_UPDATE_FRAME) == 0) return;
  layer_.DrawFrame([&](const FrameMemory& memory) {
    int size[2] = {memory.width, memory.height};
    char format[] = "bgr0";
    std::size_t stride = memory.stride;
    std::array<mpv_render_param, 5> params{{{MPV_RENDER_PARAM_SW_SIZE, size},
                                            {MPV_RENDER_PARAM_SW_FORMAT, format},
                                            {MPV_RENDER_PARAM_SW_STRIDE, &stride},
                                            {MPV_RENDER_PARAM_SW_POINTER, memory.pixels},
                                            {MPV_RENDER_PARAM_INVALID, nullptr}}};
    mpv.render_context_render(context, params.data());
  });
}

}  // namespace launcher::mpv
