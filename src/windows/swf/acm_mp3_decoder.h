#pragma once
// MP3 for the SWF player through the Audio Compression Manager: Windows' own MPEG Layer-3 codec
// (Wine has one of its own). msacm32 and winmm come from the system folder only.

#include <string>

#include "swf/sound.h"

namespace launcher::win32 {

// A factory of ACM decoders, or an empty one (MP3 sound then stays silent) when the ACM can't be
// loaded; `why` then says why.
[[nodiscard]] swf::Mp3DecoderFactory AcmMp3Decoders(std::string& why);

}  // namespace launcher::win32
