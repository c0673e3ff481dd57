#pragma once
// The playback topology of a movie: which of its streams play, and through which renderers.

#include <windows.h>

#include <mfidl.h>

#include <optional>

#include "windows/media/mf_api.h"
#include "windows/scoped_win.h"

namespace launcher::win32::mf {

// The first video stream into the enhanced video renderer drawing in window, the first audio
// stream into the audio renderer when the system has a sound device to play it on (without one
// the movie plays silently: Media Foundation would refuse the whole movie for a missing audio
// branch); every other stream of presentation is deselected. The step that failed, or none.
[[nodiscard]] std::optional<Failure> BuildTopology(const MediaFoundationApi& api,
                                                   IMFMediaSource& source,
                                                   IMFPresentationDescriptor& presentation,
                                                   HWND window, ComPtr<IMFTopology>& topology);

}  // namespace launcher::win32::mf
