#include "windows/flash_site.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <ole2.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "windows/scoped_win.h"
#include "windows/win32_text_rules.h"

namespace launcher::win32 {
namespace {

namespace fs = std::filesystem;

constexpr DISPID kFireCommand = 9000;
constexpr DISPID kJournal = 9001;

// The tests' stand-in control (stand_in_flash.dll beside the test program), made through its
// class factory instead of the registry. The test keeps a reference of its own to look inside.
class StandInControl {
 public:
  StandInControl() : dll_(::LoadLibraryW(L"stand_in_flash.dll")) {}

  [[nodiscard]] bool Loaded() const { return dll_ != nullptr; }

  ControlFactory Factory() {
    return [this](IUnknown** control) {
      using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
      const auto get = reinterpret_cast<GetClassObject>(
          reinterpret_cast<void (*)()>(::GetProcAddress(dll_, "DllGetClassObject")));
      ComPtr<IClassFactory> factory;
      HRESULT hr = get(kFlashClassId, IID_PPV_ARGS(&factory));
      if (FAILED(hr)) return hr;
      hr = factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(control));
      if (SUCCEEDED(hr)) control_ = ComPtr<IUnknown>(*control);
      return hr;
    };
  }

  // The calls the control got after its in-place activation, one a line.
  std::vector<std::wstring> CallsAfterActivation() {
    Variant journal;
    EXPECT_TRUE(SUCCEEDED(Invoke(kJournal, DISPATCH_PROPERTYGET, nullptr, 0, journal.get())));
    std::wistringstream lines(BstrText(journal->bstrVal));
    std::vector<std::wstring> calls;
    bool activated = false;
    for (std::wstring line; std::getline(lines, line);) {
      if (activated) calls.push_back(line);
      if (line == L"verb -5") activated = true;
    }
    return calls;
  }
  std::wstring Journal() {
    Variant journal;
    Invoke(kJournal, DISPATCH_PROPERTYGET, nullptr, 0, journal.get());
    return BstrText(journal->bstrVal);
  }

  // Makes the control raise FSCommand(command, args) at once.
  void Fire(const wchar_t* command, const wchar_t* args) {
    Bstr command_text(command);
    Bstr args_text(args);
    VARIANT arguments[2];
    arguments[1].vt = VT_BSTR;
    arguments[1].bstrVal = command_text.get();
    arguments[0].vt = VT_BSTR;
    arguments[0].bstrVal = args_text.get();
    ASSERT_TRUE(SUCCEEDED(Invoke(kFireCommand, DISPATCH_METHOD, arguments, 2, nullptr)));
  }

 private:
  HRESULT Invoke(DISPID id, WORD flags, VARIANT* args, UINT count, VARIANT* result) {
    auto dispatch = QueryAs<IDispatch>(control_);
    if (!dispatch) return E_NOINTERFACE;
    DISPPARAMS params{args, nullptr, count, 0};
    return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr,
                            nullptr);
  }

  HMODULE dll_;  // stays loaded: the control may outlive a test's references
  ComPtr<IUnknown> control_;
};

class FlashSite : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr)));
    // The stand-in writes its journal into the current folder.
    folder_ = fs::temp_directory_path() / (L"flash-" + std::to_wstring(::GetCurrentProcessId()));
    fs::create_directories(folder_);
    previous_ = fs::current_path();
    fs::current_path(folder_);
    window_ = std::make_unique<MainWindow>(::GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(control_.Loaded());
  }
  void TearDown() override {
    window_.reset();
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
    ::OleUninitialize();
  }

  FlashControl Create(const ControlFactory& factory) {
    return CreateFlashPlayer(
        window_->hwnd(), window_->Scale(), RECT{104, 8, 177, 81},
        [this](std::wstring command, std::wstring args) {
          commands_.emplace_back(command + L"|" + args);
        },
        factory);
  }
  [[nodiscard]] HWND SiteWindow() const {
    return ::FindWindowExW(window_->hwnd(), nullptr, L"LauncherControlSite", nullptr);
  }
  [[nodiscard]] RECT SiteBounds() const {
    RECT bounds{};
    ::GetWindowRect(SiteWindow(), &bounds);
    ::MapWindowPoints(HWND_DESKTOP, window_->hwnd(), reinterpret_cast<POINT*>(&bounds), 2);
    return bounds;
  }

  fs::path folder_;
  fs::path previous_;
  std::unique_ptr<MainWindow> window_;
  StandInControl control_;
  std::vector<std::wstring> commands_;
};

TEST_F(FlashSite, NoControlNoPlayerNothingLeftBehindAndTheStepThatFailed) {
  FlashControl missing = Create([](IUnknown**) { return REGDB_E_CLASSNOTREG; });
  EXPECT_EQ(missing.player, nullptr);
  EXPECT_EQ(SiteWindow(), nullptr);
  EXPECT_EQ(missing.failure.rfind(L"Flash control: CoCreateInstance failed: 0x80040154", 0), 0U)
      << ToUtf8(missing.failure);
  // An object that is no ActiveX control can't be activated either.
  FlashControl stream = Create([](IUnknown** control) {
    IStream* made = nullptr;
    const HRESULT hr = ::CreateStreamOnHGlobal(nullptr, TRUE, &made);
    *control = made;
    return hr;
  });
  EXPECT_EQ(stream.player, nullptr);
  EXPECT_EQ(SiteWindow(), nullptr);
  EXPECT_EQ(
      stream.failure.rfind(L"Flash control: QueryInterface(IOleObject) failed: 0x80004002", 0), 0U)
      << ToUtf8(stream.failure);
}

TEST_F(FlashSite, CallsEachOperationByItsDispidWithItsArgumentTypes) {
  auto player = Create(control_.Factory()).player;
  ASSERT_NE(player, nullptr);
  EXPECT_NE(control_.Journal().find(L"persist WMode=Window\npersist Quality2=High\n"
                                    L"persist Scale=ShowAll\npersist AllowScriptAccess=always\n"
                                    L"persist AllowNetworking=all\nverb -5\n"),
            std::wstring::npos)
      << ToUtf8(control_.Journal());
  const TwipsScale& scale = window_->Scale();
  ASSERT_FALSE(::GetWindowLongPtrW(SiteWindow(), GWL_STYLE) & WS_VISIBLE);  // hidden as created

  player->SetVisible(false);
  player->SetTop(0);
  player->SetLeft(0);
  player->SetHeight(scale.FromPixels(300));
  player->SetWidth(scale.FromPixels(400));
  player->SetLoop(false);
  player->SetVisible(true);
  player->SetMovie(L"C:\\\u30b2\u30fc\u30e0\\OP.swf");
  player->Play();
  EXPECT_TRUE(player->Playing());
  player->StopPlay();
  EXPECT_FALSE(player->Playing());

  // The container properties are the site's alone: the control hears of none of them.
  const std::vector<std::wstring> expected = {
      L"invoke 106 put VT_BOOL false",
      L"invoke 102 put VT_BYREF|VT_BSTR C:\\\u30b2\u30fc\u30e0\\OP.swf",
      L"site 0 0 400 300 shown",
      L"invoke 112 method",
      L"invoke 125 get -> true",
      L"invoke 126 method",
      L"invoke 125 get -> false",
  };
  EXPECT_EQ(control_.CallsAfterActivation(), expected);

  // The site's window is placed and shown.
  const RECT bounds = SiteBounds();
  EXPECT_EQ(bounds.left, 0);
  EXPECT_EQ(bounds.top, 0);
  EXPECT_EQ(bounds.right, 400);
  EXPECT_EQ(bounds.bottom, 300);
  EXPECT_TRUE(::GetWindowLongPtrW(SiteWindow(), GWL_STYLE) & WS_VISIBLE);
  HWND movie = ::GetWindow(SiteWindow(), GW_CHILD);
  ASSERT_NE(movie, nullptr);
  RECT area{};
  ::GetClientRect(movie, &area);
  EXPECT_EQ(area.right, 400);  // the control fills its site
  EXPECT_EQ(area.bottom, 300);
  player->SetVisible(false);
  EXPECT_FALSE(::GetWindowLongPtrW(SiteWindow(), GWL_STYLE) & WS_VISIBLE);
}

TEST_F(FlashSite, FSCommandReachesTheHandlerUntilThePlayerGoes) {
  auto player = Create(control_.Factory()).player;
  ASSERT_NE(player, nullptr);
  control_.Fire(L"Close", L"");
  control_.Fire(L"\u30b3\u30de\u30f3\u30c9", L"a, b");
  EXPECT_EQ(commands_, (std::vector<std::wstring>{L"Close|", L"\u30b3\u30de\u30f3\u30c9|a, b"}));

  player.reset();
  EXPECT_EQ(SiteWindow(), nullptr);
  EXPECT_NE(control_.Journal().find(L"close site"), std::wstring::npos);
  control_.Fire(L"Close", L"late");  // disconnected: nobody hears it
  EXPECT_EQ(commands_.size(), 2U);
}

}  // namespace
}  // namespace launcher::win32
