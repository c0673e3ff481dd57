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
      FindExport(platform, "MFCreateSourceResolver", api.create_source_resolver) &&
      FindExport(platform, "MFCreateFile", api.create_file) &&
      FindExport(platform, "MFPutWorkItem", api.put_work_item) &&
      FindExport(pipeline, "MFCreateMediaSession", api.create_media_session) &&
      FindExport(pipeline, "MFCreateTopology", api.create_topology) &&
      FindExport(pipeline, "MFCreateTopologyNode", api.create_topology_node) &&
      FindExport(pipeline, "MFCreateVideoRendererActivate", api.create_video_renderer) &&
      FindExport(pipeline, "MFCreateAudioRendererActivate", api.create_audio_renderer) &&
      FindExport(pipeline, "MFGetService", api.get_service);
  if (!found)
    return Failure{L"finding Media Foundation's functions", HRESULT_FROM_WIN32(GetLastError())};
  return std::nullopt;
}

}  // namespace launcher::win32::mf
