// The SWF player's Windows parts around the core: bitmaps through WIC, and the frame window.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "windows/scoped_win.h"
#include "windows/swf/frame_window.h"
#include "windows/swf/wic_image_decoder.h"

namespace launcher::win32 {
namespace {

// A 1 x 1 GIF: one opaque red pixel.
const std::vector<std::uint8_t> kRedGif = {
    0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00, 0xFF, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x21, 0xF9, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00,
    0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};

// The start of a PNG that claims 100,000 x 100,000 pixels and holds none of them.
const std::vector<std::uint8_t> kHugePngHeader = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52,
    0x00, 0x01, 0x86, 0xA0, 0x00, 0x01, 0x86, 0xA0, 0x08, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

class ComThread : public testing::Test {
 protected:
  ComThread() { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  ~ComThread() override { ::CoUninitialize(); }
};

using WicImages = ComThread;

TEST_F(WicImages, DecodesPremultipliedWithinTheLimitAndRefusesTheRest) {
  const auto decoder = MakeWicImageDecoder();
  const std::optional<swf::Bitmap> red = decoder->Decode(kRedGif, 1);
  ASSERT_TRUE(red);
  EXPECT_EQ(red->width, 1);
  EXPECT_EQ(red->height, 1);
  EXPECT_EQ(red->pixels, std::vector<std::uint32_t>{0xFFFF0000u});

  EXPECT_FALSE(decoder->Decode(kRedGif, 0));                // over the limit
  EXPECT_FALSE(decoder->Decode(kHugePngHeader, 1u << 30));  // refused from its header alone
  EXPECT_FALSE(decoder->Decode(std::vector<std::uint8_t>(64, 0x5A), 1u << 20));
  EXPECT_FALSE(decoder->Decode({}, 1u << 20));
}

// A hidden top-level window as the frames' parent, and the messages of this thread pumped until
// a condition holds.
class FrameWindowTest : public ComThread {
 protected:
  FrameWindowTest()
      : parent_(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 200, 200, nullptr, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr)) {}
  ~FrameWindowTest() override { ::DestroyWindow(parent_); }

  static bool PumpUntil(const bool& done, DWORD milliseconds) {
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    while (!done && ::GetTickCount64() < deadline) {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
      MSG message;
      while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    }
    return done;
  }

  static bool Shown(HWND window) { return (::GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0; }

  HWND parent_;
};

TEST_F(FrameWindowTest, ShowsWithItsFirstFrameAtThePlayersSizeInPixels) {
  FrameWindow frames(parent_, TwipsScale(96), [] {});
  frames.SetLeft(150);  // 15 twips to a pixel at 96 dpi
  frames.SetTop(300);
  frames.SetWidth(40 * 15);
  frames.SetHeight(30 * 15);
  frames.SetVisible(true);
  EXPECT_FALSE(Shown(frames.Handle()));  // the logo stays in view until there is a frame

  int draws = 0;
  frames.DrawFrame([&](const FramePixels& frame) {
    ++draws;
    EXPECT_EQ(frame.width, 40);
    EXPECT_EQ(frame.height, 30);
    EXPECT_EQ(frame.stride, 40);
    std::fill_n(frame.pixels, 40 * 30, 0xFF00FF00u);
  });
  EXPECT_EQ(draws, 1);
  EXPECT_TRUE(Shown(frames.Handle()));
  RECT placed{};
  ::GetWindowRect(frames.Handle(), &placed);
  ::MapWindowPoints(HWND_DESKTOP, parent_, reinterpret_cast<POINT*>(&placed), 2);
  EXPECT_EQ(placed.left, 10);
  EXPECT_EQ(placed.top, 20);
  EXPECT_EQ(placed.right - placed.left, 40);
  EXPECT_EQ(placed.bottom - placed.top, 30);
  // The mouse goes through to the window beneath, which closes on the left button.
  EXPECT_EQ(::SendMessageW(frames.Handle(), WM_NCHITTEST, 0, MAKELPARAM(15, 25)), HTTRANSPARENT);

  frames.SetVisible(false);
  EXPECT_FALSE(Shown(frames.Handle()));
  frames.SetWidth(0);  // no area: nothing to draw
  frames.DrawFrame([&](const FramePixels&) { ++draws; });
  EXPECT_EQ(draws, 1);
  EXPECT_THROW(frames.SetWidth(1e7f), std::out_of_range);
}

TEST_F(FrameWindowTest, RunsTheDueFrameOnceFromItsThreadUnlessCancelled) {
  int runs = 0;
  bool ran = false;
  FrameWindow frames(parent_, TwipsScale(96), [&] {
    ++runs;
    ran = true;
  });
  frames.RunAfter(0);
  EXPECT_TRUE(PumpUntil(ran, 2000));
  ran = false;
  EXPECT_FALSE(PumpUntil(ran, 100));  // once per RunAfter
  EXPECT_EQ(runs, 1);

  frames.RunAfter(20);
  frames.CancelRun();
  EXPECT_FALSE(PumpUntil(ran, 100));
  EXPECT_EQ(runs, 1);
}

}  // namespace
}  // namespace launcher::win32
