#include "windows/win32_window.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <objbase.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

#include "launcher/event_dispatch.h"
#include "launcher/launcher_window.h"
#include "windows/wic_picture.h"
#include "windows/win32_text_rules.h"

namespace launcher::win32 {
namespace {

namespace fs = std::filesystem;

// A 2 x 1 PNG: an opaque red pixel and a transparent one.
constexpr unsigned char kRedAndClearPng[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0xF4,
    0x22, 0x7F, 0x8A, 0x00, 0x00, 0x00, 0x0F, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0xF8,
    0xCF, 0xC0, 0xF0, 0x1F, 0x08, 0x18, 0x00, 0x15, 0xF3, 0x04, 0xFC, 0x6C, 0x7C, 0xA6, 0xD6,
    0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

// A 24-bit BMP of one colour.
std::vector<char> Bmp(int width, int height, COLORREF colour) {
  const int stride = (width * 3 + 3) & ~3;
  const auto pixel_bytes = static_cast<DWORD>(stride * height);
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + pixel_bytes;
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  std::vector<char> bytes(file.bfSize, 0);
  std::memcpy(bytes.data(), &file, sizeof file);
  std::memcpy(bytes.data() + sizeof file, &info, sizeof info);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      char* p = bytes.data() + file.bfOffBits + y * stride + x * 3;
      p[0] = static_cast<char>(GetBValue(colour));
      p[1] = static_cast<char>(GetGValue(colour));
      p[2] = static_cast<char>(GetRValue(colour));
    }
  }
  return bytes;
}

// The colours a picture paints into a bitmap of the given size.
class Canvas {
 public:
  Canvas(int width, int height) : dc_(::CreateCompatibleDC(nullptr)) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    bitmap_ = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    previous_ = ::SelectObject(dc_, bitmap_);
    RECT all{0, 0, width, height};
    HBRUSH grey = ::CreateSolidBrush(RGB(128, 128, 128));
    ::FillRect(dc_, &all, grey);
    ::DeleteObject(grey);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  ~Canvas() {
    ::SelectObject(dc_, previous_);
    ::DeleteObject(bitmap_);
    ::DeleteDC(dc_);
  }
  [[nodiscard]] HDC dc() const { return dc_; }
  [[nodiscard]] COLORREF At(int x, int y) const {
    ::GdiFlush();
    return ::GetPixel(dc_, x, y);
  }

 private:
  HDC dc_;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  void* bits_ = nullptr;
};

class Win32Window : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    folder_ = fs::temp_directory_path() / (L"window-" + std::to_wstring(::GetCurrentProcessId()));
    fs::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
    ::CoUninitialize();
  }

  PathText Write(const std::wstring& name, const char* data, std::size_t size) {
    std::ofstream(folder_ / name, std::ios::binary).write(data, static_cast<std::streamsize>(size));
    return (folder_ / name).wstring();
  }
  PathText WriteBmp(const std::wstring& name, int width, int height, COLORREF colour) {
    const std::vector<char> bytes = Bmp(width, height, colour);
    return Write(name, bytes.data(), bytes.size());
  }

  fs::path folder_;
};

TEST(TwipsScale, ConvertsAtTheWindowsDpi) {
  const TwipsScale normal(96);
  EXPECT_EQ(normal.TwipsPerPixel(), 15.0);
  EXPECT_EQ(normal.Pixels(3090), 206);
  EXPECT_EQ(normal.FromPixels(400), 6000.0F);
  const TwipsScale large(144);  // 150 %
  EXPECT_EQ(large.Pixels(6000), 600);
  EXPECT_EQ(large.FromPixels(600), 6000.0F);
  const TwipsScale odd(168);  // 175 %: no whole number of twips to the pixel
  for (int pixels : {1, 199, 400, 1919}) EXPECT_EQ(odd.Pixels(odd.FromPixels(pixels)), pixels);
  EXPECT_EQ(normal.Pixels(22), 1);  // rounds to the nearest pixel
  EXPECT_THROW(static_cast<void>(normal.Pixels(1e12F)), std::out_of_range);
  EXPECT_THROW(static_cast<void>(normal.Pixels(std::numeric_limits<float>::quiet_NaN())),
               std::out_of_range);
}

TEST_F(Win32Window, IsCreatedHiddenBorderlessAtTheCreatedSize) {
  MainWindow window(::GetModuleHandleW(nullptr), nullptr);
  HWND hwnd = window.hwnd();
  ASSERT_NE(hwnd, nullptr);
  EXPECT_FALSE(::IsWindowVisible(hwnd));
  wchar_t caption[16]{};
  ::GetWindowTextW(hwnd, caption, 16);
  EXPECT_STREQ(caption, L"Game");
  const auto style = static_cast<DWORD>(::GetWindowLongPtrW(hwnd, GWL_STYLE));
  EXPECT_TRUE(style & WS_POPUP);
  EXPECT_FALSE(style & (WS_CAPTION | WS_BORDER | WS_THICKFRAME));
  EXPECT_EQ(window.Handle(), reinterpret_cast<WindowHandle>(hwnd));

  const TwipsScale& scale = window.Scale();
  EXPECT_EQ(scale.Pixels(window.Width()), scale.Pixels(created::kWindowWidth));
  EXPECT_EQ(scale.Pixels(window.Height()), scale.Pixels(created::kWindowHeight));
  RECT outer{};
  ::GetWindowRect(hwnd, &outer);
  EXPECT_EQ(outer.right - outer.left, scale.Pixels(created::kWindowWidth));  // outer = client

  window.SetWidth(scale.FromPixels(400));
  window.SetHeight(scale.FromPixels(300));
  EXPECT_EQ(window.Width(), scale.FromPixels(400));
  EXPECT_EQ(window.Height(), scale.FromPixels(300));

  window.Dismiss();
  window.Dismiss();
  EXPECT_TRUE(window.Dismissed());
  EXPECT_FALSE(::IsWindowVisible(hwnd));
}

TEST_F(Win32Window, LogoTakesThePicturesSizeOnlyWithAutomaticSizing) {
  MainWindow window(::GetModuleHandleW(nullptr), nullptr);
  const TwipsScale& scale = window.Scale();
  PictureBoxWindow logo(window, PixelRect(scale, created::kLogo.left, created::kLogo.top,
                                          created::kLogo.width, created::kLogo.height));
  const PictureRef picture = LoadWicPicture(WriteBmp(L"logo.bmp", 40, 30, RGB(255, 0, 0)));

  logo.SetPicture(picture);  // automatic sizing is off as created
  EXPECT_EQ(scale.Pixels(logo.Width()), scale.Pixels(created::kLogo.width));
  logo.SetAutoSize(true);
  EXPECT_EQ(logo.Width(), scale.FromPixels(40));
  EXPECT_EQ(logo.Height(), scale.FromPixels(30));
  EXPECT_EQ(logo.Picture(), picture);

  logo.SetTop(0);
  logo.SetLeft(0);
  logo.SetAutoSize(false);
  logo.SetHeight(scale.FromPixels(300));
  logo.SetWidth(scale.FromPixels(500));
  EXPECT_EQ(logo.Width(), scale.FromPixels(500));
  EXPECT_EQ(logo.Height(), scale.FromPixels(300));
  logo.SetVisible(false);
}

TEST_F(Win32Window, PicturesLoadFromEveryFormatAndPaintAtSizeOrStretched) {
  const PictureRef png = LoadWicPicture(
      Write(L"logo.png", reinterpret_cast<const char*>(kRedAndClearPng), sizeof kRedAndClearPng));
  const auto& picture = static_cast<const WicPicture&>(*png);
  ASSERT_EQ(picture.Width(), 2);
  ASSERT_EQ(picture.Height(), 1);

  Canvas unstretched(4, 2);
  picture.Paint(unstretched.dc(), RECT{0, 0, 4, 2}, false);
  EXPECT_EQ(unstretched.At(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(unstretched.At(1, 0), RGB(0, 0, 0));        // transparent comes out black
  EXPECT_EQ(unstretched.At(2, 0), RGB(128, 128, 128));  // beyond the picture: untouched
  EXPECT_EQ(unstretched.At(0, 1), RGB(128, 128, 128));

  Canvas stretched(4, 2);
  picture.Paint(stretched.dc(), RECT{0, 0, 4, 2}, true);
  EXPECT_EQ(stretched.At(0, 1), RGB(255, 0, 0));
  EXPECT_EQ(stretched.At(3, 1), RGB(0, 0, 0));

  const PictureRef bmp = LoadWicPicture(WriteBmp(L"name with blanks \u30ed\u30b4.bmp", 3, 5, 0));
  EXPECT_EQ(static_cast<const WicPicture&>(*bmp).Height(), 5);
}

TEST_F(Win32Window, WhatIsNoPictureFailsToLoad) {
  const char text[] = "not a picture";
  EXPECT_THROW(static_cast<void>(LoadWicPicture(Write(L"logo.jpg", text, sizeof text))),
               std::runtime_error);
  EXPECT_THROW(static_cast<void>(LoadWicPicture(Write(L"empty.jpg", text, 0))), std::runtime_error);
  EXPECT_THROW(static_cast<void>(LoadWicPicture((folder_ / L"missing.jpg").wstring())),
               std::runtime_error);
}

// What the window's handlers reach besides the window: recorded, never real.
struct RecordingPlayer final : MoviePlayer {
  void SetVisible(bool visible) override { calls.push_back(visible ? "show" : "hide"); }
  void SetTop(Twips) override {}
  void SetLeft(Twips) override {}
  void SetHeight(Twips) override {}
  void SetWidth(Twips) override {}
  void SetLoop(bool) override {}
  void SetMovie(const PathText&) override {}
  void Play() override {}
  bool Playing() override { return true; }
  void StopPlay() override { calls.push_back("stop"); }
  std::vector<std::string> calls;
};

struct QuietSystem final : SystemServices {
  void GetKeyboardState(KeyState&) noexcept override {}
  void Sleep(int) noexcept override {}
  PixelSize ScreenSize() override { return {}; }
  void SetWindowPos(WindowHandle, WindowHandle, int, int, int, int, unsigned) noexcept override {}
  bool FilePresent(const PathText&) override { return false; }
  PictureRef LoadPicture(const PathText&) override { return nullptr; }
};

struct CountingStarter final : ProcessStarter {
  void Start(std::string_view) override { ++starts; }
  int starts = 0;
};

struct SilentReporter final : ErrorReporter {
  void Report(std::string_view) noexcept override {}
};

TEST_F(Win32Window, MovieCommandsAndTheSystemsCloseComeThroughTheMessageLoopInOrder) {
  MainWindow window(::GetModuleHandleW(nullptr), nullptr);
  WindowTimer timer(window);
  RecordingPlayer player;
  PictureBoxWindow logo(window, RECT{0, 0, 10, 10});
  PaintedImage image(window, RECT{0, 0, 10, 10});
  QuietSystem system;
  CountingStarter starter;
  const Win32TextRules text;
  SilentReporter reporter;
  Main main(MainControls{window, timer, player, logo, image},
            MainServices{system, starter, text, folder_.wstring()});
  EventDispatcher dispatcher(main, reporter);
  window.Attach(dispatcher);

  // Queued from a control's event: nothing is delivered until the loop runs.
  window.QueueCommand(L"close", L"");
  window.QueueCommand(L"Close", L"now");
  EXPECT_TRUE(player.calls.empty());
  ::PostMessageW(window.hwnd(), WM_CLOSE, 0, 0);
  window.QueueCommand(L"Close", L"after the close");  // never delivered: the window is gone
  window.RunMessageLoop();

  EXPECT_EQ(player.calls, (std::vector<std::string>{"stop", "hide"}));
  EXPECT_EQ(starter.starts, 1);
  EXPECT_TRUE(window.Dismissed());
  EXPECT_EQ(dispatcher.ExitCode(), 0);
}

}  // namespace
}  // namespace launcher::win32
