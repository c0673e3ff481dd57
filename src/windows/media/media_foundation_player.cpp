#include "windows/media/media_foundation_player.h"

namespace launcher::win32 {
namespace {

// Placeholder until the MFPlay engine lands: plays nothing, so the next tick closes the window.
class SilentPlayer final : public MoviePlayer {
 public:
  void SetVisible(bool) override {}
  void SetTop(Twips) override {}
  void SetLeft(Twips) override {}
  void SetHeight(Twips) override {}
  void SetWidth(Twips) override {}
  void SetLoop(bool) override {}
  void SetMovie(const PathText&) override {}
  void Play() override {}
  bool Playing() override { return false; }
  void StopPlay() override {}
};

}  // namespace

std::unique_ptr<MoviePlayer> CreateMediaFoundationPlayer(HWND, double) {
  return std::make_unique<SilentPlayer>();
}

}  // namespace launcher::win32
