#include "windows/win32_system.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "windows/win32_text_rules.h"

namespace launcher::win32 {
namespace {

TEST(Win32System, TheApplicationFolderIsTheExecutablesFolder) {
  const PathText path = ModuleFileName();
  ASSERT_TRUE(path.ends_with(L"\\windows_tests.exe")) << ToUtf8(path);
  const PathText folder = FolderOf(path);
  EXPECT_EQ(folder + L"\\windows_tests.exe", path);
  EXPECT_EQ(::GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

  EXPECT_EQ(FolderOf(L"C:\\Games\\\u30b2\u30fc\u30e0\\launcher.exe"),
            L"C:\\Games\\\u30b2\u30fc\u30e0");
  EXPECT_EQ(FolderOf(L"C:\\launcher.exe"), L"C:");  // joined with "\" it names the root again
  EXPECT_EQ(FolderOf(L"launcher.exe"), L"");
}

TEST(Win32System, AProgramThatCantBeStartedRaisesAProcessStartError) {
  Win32ProcessStarter starter;
  EXPECT_THROW(starter.Start("no-such-program-anywhere.exe /c"), ProcessStartError);
  EXPECT_THROW(starter.Start(""), ProcessStartError);
  // A command interpreter exists: it starts, unwaited.
  EXPECT_NO_THROW(starter.Start("cmd.exe /c exit 0"));
}

TEST(Win32System, ScreenSizeIsThePrimaryDisplaysInPixels) {
  Win32System system;
  const PixelSize screen = system.ScreenSize();
  EXPECT_EQ(screen.width, ::GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(screen.height, ::GetSystemMetrics(SM_CYSCREEN));
  EXPECT_GT(screen.width, 0);
}

}  // namespace
}  // namespace launcher::win32
