#include "windows/win32_files.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>

#include "settings/launch_settings.h"
#include "windows/win32_text_rules.h"

namespace launcher::win32 {
namespace {

namespace fs = std::filesystem;

class Win32FilePresence : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / (L"presence-" + std::to_wstring(::GetCurrentProcessId()));
    fs::remove_all(folder_);
    fs::create_directories(folder_ / L"folder.jpg");
    Touch(L"logo.jpg", 0);
    Touch(L"hidden.jpg", FILE_ATTRIBUTE_HIDDEN);
    Touch(L"system.jpg", FILE_ATTRIBUTE_SYSTEM);
    Touch(L"readonly.jpg", FILE_ATTRIBUTE_READONLY);
    Touch(L"archived.jpg", FILE_ATTRIBUTE_ARCHIVE);
    Touch(L"\u30ed\u30b4.jpg", 0);
  }
  void TearDown() override {
    ::SetFileAttributesW((folder_ / L"readonly.jpg").c_str(), FILE_ATTRIBUTE_NORMAL);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  void Touch(const std::wstring& name, DWORD attributes) {
    std::ofstream(folder_ / name) << "x";
    if (attributes != 0) ::SetFileAttributesW((folder_ / name).c_str(), attributes);
  }
  [[nodiscard]] bool Present(const std::wstring& name) const {
    return FilePresent((folder_ / name).wstring());
  }

  fs::path folder_;
};

TEST_F(Win32FilePresence, OnlyOrdinaryFilesCount) {
  EXPECT_TRUE(Present(L"logo.jpg"));
  EXPECT_TRUE(Present(L"readonly.jpg"));
  EXPECT_TRUE(Present(L"archived.jpg"));
  EXPECT_TRUE(Present(L"\u30ed\u30b4.jpg"));
  EXPECT_FALSE(Present(L"missing.jpg"));
  EXPECT_FALSE(Present(L"folder.jpg"));
  EXPECT_FALSE(Present(L"hidden.jpg"));
  EXPECT_FALSE(Present(L"system.jpg"));
  EXPECT_FALSE(FilePresent((folder_ / L"nowhere" / L"logo.jpg").wstring()));
}

TEST_F(Win32FilePresence, WildcardsFindAnyOrdinaryMatch) {
  EXPECT_TRUE(Present(L"l?go.jpg"));
  EXPECT_TRUE(Present(L"*.jpg"));
  EXPECT_FALSE(Present(L"*.png"));
  EXPECT_FALSE(Present(L"fold*"));   // only a folder matches
  EXPECT_FALSE(Present(L"h*.jpg"));  // only a hidden file matches
}

TEST(Win32Paths, LongPathsGetTheExtendedPrefix) {
  const std::wstring short_path = L"C:\\game\\logo.jpg";
  EXPECT_EQ(ExtendedLengthPath(short_path), short_path);
  const std::wstring long_path = L"C:\\" + std::wstring(300, L'a');
  EXPECT_EQ(ExtendedLengthPath(long_path), L"\\\\?\\" + long_path);
  const std::wstring long_share = L"\\\\server\\share\\" + std::wstring(300, L'a');
  EXPECT_EQ(ExtendedLengthPath(long_share),
            L"\\\\?\\UNC\\server\\share\\" + std::wstring(300, L'a'));
}

TEST(Win32Paths, StartIniIsReadFromAFolderDeeperThanMaxPath) {
  const std::wstring root =
      (fs::temp_directory_path() / (L"deep-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                    std::to_wstring(::GetTickCount64())))
          .wstring();
  std::wstring folder = root;
  // Deepest first, through extended-length names: the ordinary path functions can't reach in.
  struct RemoveTree {
    const std::wstring& root;
    const std::wstring& folder;
    ~RemoveTree() {
      ::DeleteFileW(ExtendedLengthPath(folder + L"\\Start.ini").c_str());
      for (std::wstring level = folder; level.size() >= root.size();
           level.resize(level.rfind(L'\\'))) {
        ::RemoveDirectoryW(ExtendedLengthPath(level).c_str());
      }
    }
  } remove_tree{root, folder};
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  while (folder.size() < MAX_PATH + 20) {
    folder += L"\\" + std::wstring(40, L'd');
    ASSERT_TRUE(::CreateDirectoryW(ExtendedLengthPath(folder).c_str(), nullptr));
  }
  const HANDLE file = ::CreateFileW(ExtendedLengthPath(folder + L"\\Start.ini").c_str(),
                                    GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const char content[] = "a.jpg,b.mp4,Game.exe,FULL\r\n";
  DWORD written = 0;
  ::WriteFile(file, content, sizeof content - 1, &written, nullptr);
  ::CloseHandle(file);

  const LaunchSettings settings = ReadLaunchSettings(folder, Win32TextRules{});
  EXPECT_EQ(settings.movie_path, folder + L"\\b.mp4");
  EXPECT_TRUE(settings.full_screen);
}

TEST(Win32TextRules, DecodesUtf8AndUpperCasesByLocale) {
  const Win32TextRules rules;
  EXPECT_EQ(rules.Decode("\xE3\x83\xAD\xE3\x82\xB4.jpg", TextEncoding::Utf8), L"\u30ed\u30b4.jpg");
  EXPECT_EQ(rules.Decode("logo.jpg", TextEncoding::Ansi), L"logo.jpg");
  EXPECT_EQ(rules.Decode("", TextEncoding::Ansi), L"");
  EXPECT_EQ(rules.ToUpper(L"Full"), L"FULL");
  EXPECT_EQ(rules.ToUpper(L""), L"");
  EXPECT_EQ(ToUtf8(L"\u30ed\u30b4"), "\xE3\x83\xAD\xE3\x82\xB4");
  EXPECT_EQ(FromUtf8("\xE3\x83\xAD"), L"\u30ed");
}

}  // namespace
}  // namespace launcher::win32
