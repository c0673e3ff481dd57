// The Media Foundation engine with Media Foundation's own functions, but for its source resolver:
// a stand-in that counts the movies it is asked to open and never finishes one, so that each movie
// stays opening as long as the test looks at it.
#include "windows/media/media_foundation_player.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <mfidl.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "windows/com_object.h"
#include "windows/scoped_win.h"
#include "windows/win32_system.h"
#include "windows/win32_window.h"

namespace launcher::win32 {
namespace {

class OpeningResolver final : public ComObject<IMFSourceResolver> {
 public:
  static inline int opened = 0;

  STDMETHODIMP CreateObjectFromURL(LPCWSTR, DWORD, IPropertyStore*, MF_OBJECT_TYPE*,
                                   IUnknown**) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP CreateObjectFromByteStream(IMFByteStream*, LPCWSTR, DWORD, IPropertyStore*,
                                          MF_OBJECT_TYPE*, IUnknown**) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP BeginCreateObjectFromURL(LPCWSTR, DWORD, IPropertyStore*, IUnknown**,
                                        IMFAsyncCallback*, IUnknown*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP EndCreateObjectFromURL(IMFAsyncResult*, MF_OBJECT_TYPE*, IUnknown**) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP BeginCreateObjectFromByteStream(IMFByteStream*, LPCWSTR, DWORD, IPropertyStore*,
                                               IUnknown** cancel, IMFAsyncCallback*,
                                               IUnknown*) override {
    ++opened;
    if (cancel != nullptr) *cancel = nullptr;
    return S_OK;  // and the result never comes
  }
  STDMETHODIMP EndCreateObjectFromByteStream(IMFAsyncResult*, MF_OBJECT_TYPE*,
                                             IUnknown**) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP CancelObjectCreation(IUnknown*) override { return E_NOTIMPL; }

 private:
  void* Find(REFIID iid) override {
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IMFSourceResolver)) {
      return static_cast<IMFSourceResolver*>(this);
    }
    return nullptr;
  }
};

HRESULT WINAPI CreateOpeningResolver(IMFSourceResolver** resolver) {
  *resolver = MakeCom<OpeningResolver>().Detach();
  return S_OK;
}

bool VideoShown() {
  HWND video = ::FindWindowExW(nullptr, nullptr, L"LauncherMovieVideo", nullptr);
  return video != nullptr && ::IsWindowVisible(video);
}

TEST(MediaFoundationPlayer, TheSameMovieSetAgainAndPlayedWhileOpeningIsOpenedOnce) {
  const ComApartment com(COINIT_APARTMENTTHREADED);
  mf::MediaFoundationApi api;
  ASSERT_FALSE(mf::LoadApi(api)) << "no Media Foundation";
  api.create_source_resolver = &CreateOpeningResolver;
  OpeningResolver::opened = 0;
  MainWindow window(::GetModuleHandleW(nullptr), nullptr);
  std::vector<std::wstring> reasons;
  auto player = CreateMediaFoundationPlayer(
      window.hwnd(), window.Scale(),
      [&reasons](const PathText&, std::wstring_view reason) { reasons.emplace_back(reason); }, api);
  player->SetVisible(false);
  player->SetHeight(window.Scale().FromPixels(30));
  player->SetWidth(window.Scale().FromPixels(40));
  // Any file opens; the stand-in resolver never says what it holds.
  const PathText movie = ModuleFileName();

  // What a tick with two codes down does (Shift is two): show, set and play, twice.
  for (int key = 0; key < 2; ++key) {
    player->SetVisible(true);
    player->SetMovie(movie);
    player->Play();
  }
  EXPECT_EQ(OpeningResolver::opened, 1);
  EXPECT_TRUE(player->Playing());  // and it reads as one set and play would
  EXPECT_FALSE(VideoShown());      // the logo stays in view until a first frame
  EXPECT_TRUE(reasons.empty());

  player->StopPlay();  // over now: set and played again, it is opened again
  player->SetMovie(movie);
  player->Play();
  EXPECT_EQ(OpeningResolver::opened, 2);
  player.reset();
}

}  // namespace
}  // namespace launcher::win32
