// The SWF player's Sorenson H.263 decoder beside libavcodec's decoder of the same stream in the
// same run: a 640x480 stream libavcodec's FLV1 encoder makes of a moving picture (a keyframe a
// second at 30 fps), decoded to YUV by each, packets interleaved so both meet the same machine.
// Prints the median time per picture of each, their ratio and how far the pictures differ.
// Figures only; never fails on them.
//   swf_video_bench [--frames N]
extern "C" {
#include <libavcodec/avcodec.h>
}
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "swf/video/h263_decoder.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

double Cpu() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Picture i: a gradient drifting, a textured square moving across it, a circle growing.
void Paint(AVFrame* f, int i) {
  for (int y = 0; y < kHeight; ++y) {
    std::uint8_t* row = f->data[0] + std::ptrdiff_t(y) * f->linesize[0];
    for (int x = 0; x < kWidth; ++x) {
      int v = (x + y + 3 * i) % 220 + 16;
      const int sx = x - 40 - 5 * i, sy = y - 100 - 2 * i;
      if (sx >= 0 && sx < 160 && sy >= 0 && sy < 120)
        v = ((sx / 8 + sy / 8) % 2 ? 200 : 40) + (sx * 7 + sy * 3) % 23;
      const int cx = x - 420, cy = y - 300;
      if (cx * cx + cy * cy < (20 + 2 * i % 160) * (20 + 2 * i % 160))
        v = 235 - (cx * cx + cy * cy) % 31;
      row[x] = std::uint8_t(v);
    }
  }
  for (int y = 0; y < kHeight / 2; ++y) {
    for (int x = 0; x < kWidth / 2; ++x) {
      f->data[1][y * f->linesize[1] + x] = std::uint8_t(128 + (x - 2 * i) % 60 - 30);
      f->data[2][y * f->linesize[2] + x] = std::uint8_t(128 + (y + i) % 50 - 25);
    }
  }
}

std::vector<std::vector<std::uint8_t>> Encode(int frames) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_FLV1);
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->width = kWidth;
  c->height = kHeight;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->time_base = {1, 30};
  c->gop_size = 30;
  c->bit_rate = 2'000'000;
  std::vector<std::vector<std::uint8_t>> packets;
  if (avcodec_open2(c, codec, nullptr) < 0) return packets;
  AVFrame* f = av_frame_alloc();
  f->format = c->pix_fmt;
  f->width = kWidth;
  f->height = kHeight;
  av_frame_get_buffer(f, 0);
  AVPacket* p = av_packet_alloc();
  for (int i = 0; i <= frames; ++i) {
    if (i < frames) {
      av_frame_make_writable(f);
      Paint(f, i);
      f->pts = i;
    }
    avcodec_send_frame(c, i < frames ? f : nullptr);
    while (avcodec_receive_packet(c, p) == 0) {
      packets.emplace_back(p->data, p->data + p->size);
      av_packet_unref(p);
    }
  }
  av_packet_free(&p);
  av_frame_free(&f);
  avcodec_free_context(&c);
  return packets;
}

}  // namespace

int main(int argc, char** argv) {
  int frames = 300;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--frames") == 0) frames = std::max(1, std::atoi(argv[i + 1]));
  }
  const auto packets = Encode(frames);
  if (packets.empty()) {
    std::fprintf(stderr, "swf_video_bench: libavcodec has no FLV1 encoder\n");
    return 1;
  }
  std::size_t bytes = 0;
  for (const auto& p : packets) bytes += p.size();

  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_FLV1);
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->thread_count = 1;
  avcodec_open2(c, codec, nullptr);
  AVFrame* f = av_frame_alloc();
  AVPacket* p = av_packet_alloc();
  swf::video::H263Decoder ours;
  std::vector<double> our_ms, their_ms;
  double diff = 0;
  long compared = 0;
  for (int pass = 0; pass < 2; ++pass) {  // the first pass warms both up
    for (const auto& packet : packets) {
      double t = Cpu();
      const bool decoded = ours.Decode(packet);
      const double mine = Cpu() - t;
      std::vector<std::uint8_t> padded(packet);
      padded.resize(packet.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
      p->data = padded.data();
      p->size = int(packet.size());
      t = Cpu();
      avcodec_send_packet(c, p);
      const bool theirs = avcodec_receive_frame(c, f) == 0;
      const double reference = Cpu() - t;
      if (pass == 0) continue;
      our_ms.push_back(mine);
      their_ms.push_back(reference);
      if (decoded && theirs) {
        const auto& y = ours.Picture();
        for (int row = 0; row < kHeight; row += 7) {
          for (int x = 0; x < kWidth; ++x) {
            diff +=
                std::abs(int(y.y[std::size_t(row) * std::size_t(y.luma_stride) + std::size_t(x)]) -
                         int(f->data[0][row * f->linesize[0] + x]));
            ++compared;
          }
        }
      }
      av_frame_unref(f);
    }
  }
  std::printf("Sorenson H.263 %dx%d, %zu pictures (a keyframe every 30), %.0f kbit/s at 30 fps\n",
              kWidth, kHeight, packets.size(),
              double(bytes) * 8 * 30 / double(packets.size()) / 1000);
  const auto line = [](const char* name, const std::vector<double>& ms) {
    std::printf("  %-22s median %6.3f ms  (min %.3f, max %.3f)\n", name, Median(ms),
                *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()));
  };
  std::printf("processor time per picture, to YUV (this thread)\n");
  line("swf::video::H263Decoder", our_ms);
  line("libavcodec flv", their_ms);
  std::printf("  ratio (ours / libavcodec) %.2f\n", Median(our_ms) / Median(their_ms));
  std::printf("libavcodec %s; mean |luma difference| %.3f / 255\n", av_version_info(),
              compared ? diff / double(compared) : 0.0);
  av_packet_free(&p);
  av_frame_free(&f);
  avcodec_free_context(&c);
  return 0;
}
