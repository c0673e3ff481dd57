#include "windows/media/mf_api.h"

#include "windows/system_library.h"

namespace launcher::win32::mf {

std::optional<Failure> LoadApi(MediaFoundationApi& api) {
  HMODULE platform = LoadSystemLibrary(L"mfplat.dll");
  if (platform == nullptr)
    return Failure{L"loading mfplat.dll", HRESULT_FROM_WIN32(GetLastError())};
  HMODULE pipeline = LoadSystemLibrary(L"mf.dll");
  if (pipeline == nullptr) return Failure{L"loading mf.dll", HRESULT_FROM_WIN32(GetLastError())};
  const bool found =
      FindExport(platform, "MFStartup", api.startup) &&
      FindExport(platform, "MFCreateSourceResolver", api.createSourceResolver) &&
      FindExport(platform, "MFCreateFile", api.createFile) &&
      FindExport(platform, "MFPutWorkItem", api.putWorkItem) &&
      FindExport(pipeline, "MFCreateMediaSession", api.createMediaSession) &&
      FindExport(pipeline, "MFCreateTopology", api.createTopology) &&
      FindExport(pipeline, "MFCreateTopologyNode", api.createTopologyNode) &&
      FindExport(pipeline, "MFCreateVideoRendererActivate", api.createVideoRenderer) &&
      FindExport(pipeline, "MFCreateAudioRendererActivate", api.createAudioRenderer) &&
      FindExport(pipeline, "MFGetService", api.getService);
  if (!found)
    return Failure{L"finding Media Foundation's functions", HRESULT_FROM_WIN32(GetLastError())};
  return std::nullopt;
}

}  // namespace launcher::win32::mf
