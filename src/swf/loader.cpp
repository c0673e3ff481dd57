// Reading the files a movie loads as movies, and bounding the requests (loader.h).
#include "swf/loader.h"

#include <cstdint>
#include <span>
#include <utility>

#include "swf/avm1/objects.h"
#include "swf/avm1/vm.h"
#include "swf/movie.h"

namespace swf {
namespace {

// A picture as a movie: one frame, the bitmap at depth 1, the stage its size.
std::shared_ptr<const Movie> PictureMovie(const std::string& bytes, ImageDecoder* images) {
  if (!images) return nullptr;
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  std::optional<Bitmap> picture =
      images->Decode(std::span(data, bytes.size()), Limits::kMaxBitmapPixels);
  if (!picture || picture->width <= 0 || picture->height <= 0) return nullptr;
  auto movie = std::make_shared<Movie>();
  movie->header.version = 0;  // no SWF: getSWFVersion says -1
  movie->header.stage = {0, float(picture->width) * 20, 0, float(picture->height) * 20};
  movie->header.frame_rate = 12;
  movie->header.frame_count = 1;
  movie->header.file_length = std::uint32_t(bytes.size());
  movie->dictionary.emplace(1, std::make_shared<const Bitmap>(std::move(*picture)));
  Frame frame;
  PlaceTag place;
  place.depth = 1;
  place.character = 1;
  frame.tags.emplace_back(std::move(place));
  movie->main.frames.push_back(std::move(frame));
  movie->main.tags_before = {0};
  return movie;
}

}  // namespace

bool Loads::Add(avm1::Vm& vm, LoadRequest request) {
  if (waiting_.size() >= kMaxWaiting) {
    vm.Note(
        "a movie asked for more loads in a frame than a frame may start: the rest were left out");
    return false;
  }
  if (request.target) vm.Pin(request.target);
  if (request.loader) vm.Pin(request.loader);
  waiting_.push_back(std::move(request));
  return true;
}

void Loads::Finish(avm1::Vm& vm, const LoadRequest& request) {
  if (request.target) vm.Unpin(request.target);
  if (request.loader) vm.Unpin(request.loader);
}

std::shared_ptr<const Movie> Loads::Open(const std::string& url, const Player::FileReader& read,
                                         ImageDecoder* images, std::size_t* bytes_read) {
  const std::string name = avm1::MovieFileName(url);
  if (name.empty() || !read) return nullptr;
  if (const auto known = movies_.find(name); known != movies_.end()) {
    *bytes_read = known->second.second;
    return known->second.first;
  }
  if (movies_.size() >= kMaxMovies) return nullptr;
  const std::optional<std::string> bytes = read(name);
  if (!bytes) return nullptr;
  std::shared_ptr<const Movie> movie;
  std::size_t held = 0;  // what the movie keeps: an SWF's inflated file, a picture's pixels
  if (bytes->starts_with("FWS") || bytes->starts_with("CWS")) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes->data());
    movie = swf::LoadMovie(std::span(data, bytes->size()), images).movie;
    if (movie) held = movie->stream ? std::size_t(movie->stream->bytes_loaded()) : bytes->size();
  } else if (bytes->starts_with("\xFF\xD8") || bytes->starts_with("\x89PNG") ||
             bytes->starts_with("GIF8")) {
    movie = PictureMovie(*bytes, images);
    if (movie)
      held = std::size_t(movie->header.stage.x_max / 20 * movie->header.stage.y_max / 20) * 4;
  }
  if (held > kMaxHeldBytes - held_bytes_) return nullptr;
  held_bytes_ += held;
  // A file that is no movie is remembered as such too: asking again costs nothing.
  movies_.emplace(name, std::pair(movie, bytes->size()));
  *bytes_read = bytes->size();
  return movie;
}

}  // namespace swf
