#pragma once
// The video packets of an FLV file, for tests that play what ffmpeg encoded.

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace swf_test {

struct FlvVideo {
  int codec = 0;  // the FLV codec id, which SWF's DefineVideoStream shares
  std::vector<std::vector<std::uint8_t>> packets;
};

// Empty when the file can't be read or isn't FLV.
inline FlvVideo ReadFlvVideo(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> f((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
  FlvVideo video;
  if (f.size() < 13 || f[0] != 'F' || f[1] != 'L' || f[2] != 'V') return video;
  std::size_t at = std::size_t(f[5] << 24 | f[6] << 16 | f[7] << 8 | f[8]) + 4;
  while (at + 11 <= f.size()) {
    const int type = f[at];
    const std::size_t size = std::size_t(f[at + 1] << 16 | f[at + 2] << 8 | f[at + 3]);
    const std::size_t data = at + 11;
    if (data + size > f.size()) break;
    if (type == 9 && size > 1) {
      video.codec = f[data] & 0x0F;
      video.packets.emplace_back(f.begin() + std::ptrdiff_t(data + 1),
                                 f.begin() + std::ptrdiff_t(data + size));
    }
    at = data + size + 4;
  }
  return video;
}

}  // namespace swf_test
