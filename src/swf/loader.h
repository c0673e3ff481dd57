#pragma once
// Files a movie loads as movies from its own folder (loadMovie, loadMovieNum, MovieClipLoader):
// the requests scripts make, waiting for the end of the frame as a download would, and the movies
// the files hold. The player places what arrives; this side reads, parses and bounds it.
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "swf/swf_player.h"

namespace swf {

namespace avm1 {
class Object;
class Vm;
}  // namespace avm1

// One load or unload a script asked for.
struct LoadRequest {
  std::string url;                 // empty: unload
  avm1::Object* target = nullptr;  // the clip; null for a level
  int level = -1;
  avm1::Object* loader = nullptr;  // the MovieClipLoader that hears how it goes, or null
};

class Loads {
 public:
  // Whatever a movie asks, these bound the work and memory of its loads: requests waiting at
  // once (a movie loading itself each frame asks one more each time), and the movies kept.
  static constexpr std::size_t kMaxWaiting = 64;
  static constexpr std::size_t kMaxMovies = 32;
  static constexpr std::size_t kMaxHeldBytes = std::size_t{256} << 20;  // their files, inflated

  // Queues a request; its objects stay alive until Finish. False when too many wait.
  bool Add(avm1::Vm& vm, LoadRequest request);
  // The requests waiting now; what they ask for next waits for the next frame.
  std::vector<LoadRequest> Take() { return std::move(waiting_); }
  static void Finish(avm1::Vm& vm, const LoadRequest& request);

  // The movie `url` names: an SWF, or a picture (JPEG, PNG, GIF) as a movie of one frame that
  // shows it. A file is read and parsed once: files of the folder don't change while a movie
  // plays. Null when there is none, it is outside the folder, or it is neither; `bytes` the
  // file's size.
  std::shared_ptr<const Movie> Open(const std::string& url, const Player::FileReader& read,
                                    ImageDecoder* images, std::size_t* bytes);

  // A MovieClipLoader's loads whose clip hasn't run its first frame: onLoadInit waits for it.
  struct Init {
    avm1::Object* target = nullptr;  // pinned until heard
    avm1::Object* loader = nullptr;
  };
  std::vector<Init> inits;

 private:
  std::vector<LoadRequest> waiting_;
  std::map<std::string, std::pair<std::shared_ptr<const Movie>, std::size_t>> movies_;
  std::size_t held_bytes_ = 0;
};

}  // namespace swf
