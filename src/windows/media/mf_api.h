#pragma once
// Media Foundation's functions as the engine calls them, loaded at run time so that the launcher
// starts where Media Foundation isn't installed (Windows "N" editions); and the engine's failures,
// a step and the code it failed with.

#include <windows.h>

#include <mfidl.h>

#include <optional>

namespace launcher::win32::mf {

// A failed step and the code it failed with.
struct Failure {
  const wchar_t* step;
  HRESULT code;
};

// The functions the engine calls. Filled by LoadApi; a test may wrap one to count its calls.
struct MediaFoundationApi {
  HRESULT(WINAPI* startup)(ULONG version, DWORD flags) = nullptr;
  HRESULT(WINAPI* create_source_resolver)(IMFSourceResolver** resolver) = nullptr;
  HRESULT(WINAPI* create_file)
  (MF_FILE_ACCESSMODE access, MF_FILE_OPENMODE open, MF_FILE_FLAGS flags, LPCWSTR path,
   IMFByteStream** stream) = nullptr;
  HRESULT(WINAPI* create_media_session)
  (IMFAttributes* settings, IMFMediaSession** session) = nullptr;
  HRESULT(WINAPI* create_topology)(IMFTopology** topology) = nullptr;
  HRESULT(WINAPI* create_topology_node)(MF_TOPOLOGY_TYPE type, IMFTopologyNode** node) = nullptr;
  HRESULT(WINAPI* create_video_renderer)(HWND window, IMFActivate** activate) = nullptr;
  HRESULT(WINAPI* create_audio_renderer)(IMFActivate** activate) = nullptr;
  HRESULT(WINAPI* get_service)
  (IUnknown* object, REFGUID service, REFIID iid, void** result) = nullptr;
  HRESULT(WINAPI* put_work_item)
  (DWORD queue, IMFAsyncCallback* callback, IUnknown* state) = nullptr;
};

// Loads mfplat.dll and mf.dll from the system folder and finds every function; or the step that
// failed: a missing library or export. The libraries stay loaded for the rest of the process:
// Media Foundation's threads may run their code after the engine is gone.
[[nodiscard]] std::optional<Failure> LoadApi(MediaFoundationApi& api);

}  // namespace launcher::win32::mf
