#include "windows/media/mf_api.h"

#include <bit>

namespace launcher::win32::mf {
namespace {

HMODULE LoadSystemLibrary(const wchar_t* name) {
  HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Windows 7 without KB2533623 knows no LOAD_LIBRARY_SEARCH_SYSTEM32.
  if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) module = LoadLibraryW(name);
  return module;
}

template <typename Function>
bool Find(HMODULE module, const char* name, Function& function) {
  function = std::bit_cast<Function>(GetProcAddress(module, name));
  return function != nullptr;
}

}  // namespace

std::optional<Failure> LoadApi(MediaFoundationApi& api) {
  HMODULE platform = LoadSystemLibrary(L"mfplat.dll");
  if (platform == nullptr)
    return Failure{L"loading mfplat.dll", HRESULT_FROM_WIN32(GetLastError())};
  HMODULE pipeline = LoadSystemLibrary(L"mf.dll");
  if (pipeline == nullptr) return Failure{L"loading mf.dll", HRESULT_FROM_WIN32(GetLastError())};
  const bool found = Find(platform, "MFStartup", api.startup) &&
                     Find(platform, "MFCreateSourceResolver", api.createSourceResolver) &&
                     Find(platform, "MFCreateFile", api.createFile) &&
                     Find(platform, "MFPutWorkItem", api.putWorkItem) &&
                     Find(pipeline, "MFCreateMediaSession", api.createMediaSession) &&
                     Find(pipeline, "MFCreateTopology", api.createTopology) &&
                     Find(pipeline, "MFCreateTopologyNode", api.createTopologyNode) &&
                     Find(pipeline, "MFCreateVideoRendererActivate", api.createVideoRenderer) &&
                     Find(pipeline, "MFCreateAudioRendererActivate", api.createAudioRenderer) &&
                     Find(pipeline, "MFGetService", api.getService);
  if (!found)
    return Failure{L"finding Media Foundation's functions", HRESULT_FROM_WIN32(GetLastError())};
  return std::nullopt;
}

}  // namespace launcher::win32::mf
