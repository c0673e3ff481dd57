#include "player/mpv/mpv_player.h"

#include <array>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

namespace launcher::mpv {
namespace {

// Observed properties and replies, told apart by their userdata. Each loadfile's reply has a
// number of its own from Reply::FirstLoad on, so a late reply to an earlier one is known as such.
enum Reply : std::uint64_t { ChapterList = 1, Chapter, Duration, Stop, Loop, FirstLoad };

// How many of mpv's latest warnings a skipped movie's line quotes.
constexpr std::size_t kKeptWarnings = 3;

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

// The playlist entry that a loadfile reply names, or -1.
std::int64_t EntryOf(const mpv_node& result) {
  if (result.format != MPV_FORMAT_NODE_MAP) return -1;
  const mpv_node_list* map = result.u.list;
  for (int i = 0; i < map->num; ++i) {
    if (std::string_view(map->keys[i]) == "playlist_entry_id" &&
        map->values[i].format == MPV_FORMAT_INT64) {
      return map->values[i].u.int64;
    }
  }
  return -1;
}

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

MpvMoviePlayer::MpvMoviePlayer(MpvLibraryLoader& loader, VideoLayer& layer, Wake wake_for_events,
                               Wake wake_for_frame, SkipReporter report_skipped)
    : loader_(loader),
      layer_(layer),
      wake_for_events_(std::move(wake_for_events)),
      wake_for_frame_(std::move(wake_for_frame)),
      skip_(std::move(report_skipped)) {}

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
  if (!engine_) return;
  const char* value = loop ? "inf" : "no";
  engine_->Check(
      engine_->library->set_property_async(engine_->handle.get(), Reply::Loop, "loop-file",
                                           MPV_FORMAT_STRING, static_cast<void*>(&value)),
      "set looping");
}

void MpvMoviePlayer::StartEngine() {
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
  // mpv's own words for a movie it can't play.
  engine->Check(mpv.request_log_messages(handle, "warn"), "report warnings");
  // The chapter list before the chapter: mpv reports changes in the order they are observed, so
  // a chapter's title is known by the time playback enters it.
  engine->Check(mpv.observe_property(handle, Reply::ChapterList, "chapter-list", MPV_FORMAT_NODE),
                "watch the chapter list");
  engine->Check(mpv.observe_property(handle, Reply::Chapter, "chapter", MPV_FORMAT_INT64),
                "watch chapters");
  engine->Check(mpv.observe_property(handle, Reply::Duration, "duration", MPV_FORMAT_DOUBLE),
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

void MpvMoviePlayer::SetMovie(const PathText& path) {
  // The same movie again while it opens (a second key in the same tick): nothing to do.
  if (path == movie_ && watch_.Opening()) return;
  movie_ = path;
  watch_.Load();
  if (engine_) return;
  try {
    StartEngine();
  } catch (const std::exception& error) {
    Skip(error.what());
  }
}

void MpvMoviePlayer::Play() {
  // Played again while it opens: its loadfile is on its way already.
  if (!engine_ || movie_.empty() || watch_.Starting()) return;
  watch_.Load();
  entry_ = -1;
  entry_started_ = false;
  chapter_ = -1;
  warnings_.clear();
  layer_.ClearFrame();

  load_reply_ = Reply::FirstLoad + loads_++;
  std::array<const char*, 4> args{"loadfile", movie_.c_str(), "replace", nullptr};
  const int status =
      engine_->library->command_async(engine_->handle.get(), load_reply_, args.data());
  if (status < 0) {
    load_reply_ = 0;
    Skip(InMpvWords(status));  // reads as not playing: the window closes at the next tick
    return;
  }
  watch_.Play();
}

bool MpvMoviePlayer::Playing() {
  return watch_.Playing();
}

void MpvMoviePlayer::StopPlay() {
  watch_.Stop();
  entry_ = -1;
  load_reply_ = 0;
  if (!engine_) return;
  std::array<const char*, 2> args{"stop", nullptr};
  engine_->Check(engine_->library->command_async(engine_->handle.get(), Reply::Stop, args.data()),
                 "stop");
}

std::vector<MovieCommand> MpvMoviePlayer::HandleEvents() {
  std::vector<MovieCommand> commands;
  if (!engine_) return commands;
  while (true) {
    const mpv_event* event = engine_->library->wait_event(engine_->handle.get(), 0);
    if (event == nullptr || event->event_id == MPV_EVENT_NONE) break;
    HandleEvent(*event, commands);
  }
  return commands;
}

void MpvMoviePlayer::HandleEvent(const mpv_event& event, std::vector<MovieCommand>& commands) {
  switch (event.event_id) {
    case MPV_EVENT_COMMAND_REPLY:
      // mpv replies to a loadfile before it starts the entry, so the entry is known in time.
      if (load_reply_ == 0 || event.reply_userdata != load_reply_) break;
      load_reply_ = 0;
      if (event.error < 0) {
        Skip(InMpvWords(event.error));
      } else {
        entry_ = EntryOf(static_cast<const mpv_event_command*>(event.data)->result);
      }
      break;
    case MPV_EVENT_START_FILE: {
      const auto* start = static_cast<const mpv_event_start_file*>(event.data);
      if (entry_ >= 0 && start->playlist_entry_id == entry_) entry_started_ = true;
      break;
    }
    case MPV_EVENT_PLAYBACK_RESTART:
      if (entry_started_) watch_.Began();
      break;
    case MPV_EVENT_END_FILE: {
      const auto* end = static_cast<const mpv_event_end_file*>(event.data);
      if (entry_ < 0 || end->playlist_entry_id != entry_ ||
          end->reason == MPV_END_FILE_REASON_REDIRECT) {
        break;
      }
      entry_started_ = false;
      if (end->reason == MPV_END_FILE_REASON_ERROR) {
        Skip(InMpvWords(end->error));
      } else {
        watch_.Ended();
      }
      break;
    }
    case MPV_EVENT_LOG_MESSAGE: {
      const auto* message = static_cast<const mpv_event_log_message*>(event.data);
      std::string line = message->prefix;
      line += ": ";
      line += WithoutLineEnd<char>(message->text);
      warnings_.push_back(std::move(line));
      if (warnings_.size() > kKeptWarnings) warnings_.pop_front();
      break;
    }
    case MPV_EVENT_PROPERTY_CHANGE: {
      const auto* property = static_cast<const mpv_event_property*>(event.data);
      if (event.reply_userdata == Reply::ChapterList) {
        // Kept whatever plays: mpv reports a list only when it differs from the last one.
        chapter_titles_.clear();
        if (property->format == MPV_FORMAT_NODE) {
          KeepChapterTitles(*static_cast<const mpv_node*>(property->data));
        }
        break;
      }
      if (!entry_started_ || property->format == MPV_FORMAT_NONE) break;
      if (event.reply_userdata == Reply::Chapter && property->format == MPV_FORMAT_INT64) {
        HandleChapter(*static_cast<const std::int64_t*>(property->data), commands);
      } else if (event.reply_userdata == Reply::Duration && property->format == MPV_FORMAT_DOUBLE) {
        const double seconds = *static_cast<const double*>(property->data);
        if (seconds > 0) {
          watch_.SetDuration(std::chrono::duration_cast<std::chrono::nanoseconds>(
              std::chrono::duration<double>(seconds)));
        }
      }
      break;
    }
    case MPV_EVENT_SHUTDOWN:
      // The core went away under a playing movie.
      if (watch_.Playing()) Skip("mpv shut down");
      watch_.Failed();
      break;
    default:
      break;
  }
}

void MpvMoviePlayer::KeepChapterTitles(const mpv_node& list) {
  if (list.format != MPV_FORMAT_NODE_ARRAY) return;
  for (int i = 0; i < list.u.list->num; ++i) {
    const mpv_node& chapter = list.u.list->values[i];
    std::string title;
    if (chapter.format == MPV_FORMAT_NODE_MAP) {
      const mpv_node_list* fields = chapter.u.list;
      for (int k = 0; k < fields->num; ++k) {
        if (std::string_view(fields->keys[k]) == "title" &&
            fields->values[k].format == MPV_FORMAT_STRING) {
          title = fields->values[k].u.string;
        }
      }
    }
    chapter_titles_.push_back(std::move(title));
  }
}

void MpvMoviePlayer::HandleChapter(std::int64_t chapter, std::vector<MovieCommand>& commands) {
  const std::vector<std::int64_t> entered = ChaptersEntered(chapter_, chapter);
  chapter_ = chapter;
  for (const std::int64_t index : entered) {
    if (index < 0 || static_cast<std::size_t>(index) >= chapter_titles_.size()) continue;
    std::optional<MovieCommand> command =
        ParseCommandChapter(chapter_titles_[static_cast<std::size_t>(index)]);
    if (command) commands.push_back(std::move(*command));
  }
}

std::string MpvMoviePlayer::InMpvWords(int error) const {
  std::string reason = engine_->library->error_string(error);
  const char* separator = " (";
  for (const std::string& warning : warnings_) {
    reason += separator;
    reason += warning;
    separator = "; ";
  }
  if (!warnings_.empty()) reason += ')';
  return reason;
}

void MpvMoviePlayer::Skip(std::string_view reason) {
  watch_.Failed();
  skip_.Skip(movie_, reason);
}

void MpvMoviePlayer::DrawFrame() {
  if (!engine_ || !engine_->context) return;
  const MpvLibrary& mpv = *engine_->library;
  mpv_render_context* context = engine_->context.get();
  if ((mpv.render_context_update(context) & MPV_RENDER_UPDATE_FRAME) == 0) return;
  layer_.DrawFrame([&](const FramePixels& memory) {
    int size[2] = {memory.width, memory.height};
    char format[] = "bgr0";
    // The layer's rows: the core's pixels with their alpha byte unused ("bgr0"); mpv counts
    // the stride in bytes.
    std::size_t stride = std::size_t(memory.stride) * sizeof(std::uint32_t);
    std::array<mpv_render_param, 5> params{{{MPV_RENDER_PARAM_SW_SIZE, size},
                                            {MPV_RENDER_PARAM_SW_FORMAT, format},
                                            {MPV_RENDER_PARAM_SW_STRIDE, &stride},
                                            {MPV_RENDER_PARAM_SW_POINTER, memory.pixels},
                                            {MPV_RENDER_PARAM_INVALID, nullptr}}};
    mpv.render_context_render(context, params.data());
  });
}

}  // namespace launcher::mpv
