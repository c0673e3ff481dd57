#include "windows/media/mf_topology.h"

#include <mfapi.h>
#include <mferror.h>
#include <mmdeviceapi.h>

namespace launcher::win32::mf {
namespace {

// Class id of the audio endpoint enumerator (MMDeviceEnumerator).
constexpr CLSID kDeviceEnumerator = {
    0xbcde0395, 0xe52f, 0x467c, {0x8e, 0x3d, 0xc4, 0x57, 0x92, 0x91, 0x69, 0x2e}};

// MF_TOPOLOGY_ENUMERATE_SOURCE_TYPES (mfidl.h of the Windows SDK; MinGW's lacks it): the
// topology loader may try every type a source stream offers, not only its current one, to find a
// decoder and converters that reach the renderer.
constexpr GUID kEnumerateSourceTypes = {
    0x6248c36d, 0x5d0b, 0x4f40, {0xa0, 0xbb, 0xb0, 0xb3, 0x05, 0xf7, 0x76, 0x98}};

// Whether the system has a default output device to play sound on.
bool HasAudioOutput() {
  ComPtr<IMMDeviceEnumerator> devices;
  if (FAILED(CoCreateInstance(kDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&devices)))) {
    return false;
  }
  ComPtr<IMMDevice> device;
  return SUCCEEDED(devices->GetDefaultAudioEndpoint(eRender, eConsole, &device));
}

}  // namespace

std::optional<Failure> BuildTopology(const MediaFoundationApi& api, IMFMediaSource& source,
                                     IMFPresentationDescriptor& presentation, HWND window,
                                     ComPtr<IMFTopology>& topology) {
  HRESULT hr = api.create_topology(&topology);
  if (FAILED(hr)) return Failure{L"creating the playback topology", hr};
  const bool sound = HasAudioOutput();
  bool video = false;
  bool audio = false;
  DWORD count = 0;
  presentation.GetStreamDescriptorCount(&count);
  for (DWORD index = 0; index < count; ++index) {
    BOOL selected = FALSE;
    ComPtr<IMFStreamDescriptor> stream;
    if (FAILED(presentation.GetStreamDescriptorByIndex(index, &selected, &stream)) || !selected) {
      continue;
    }
    ComPtr<IMFMediaTypeHandler> handler;
    GUID major = GUID_NULL;
    if (SUCCEEDED(stream->GetMediaTypeHandler(&handler))) handler->GetMajorType(&major);
    ComPtr<IMFActivate> renderer;
    if (major == MFMediaType_Video && !video) {
      hr = api.create_video_renderer(window, &renderer);
      if (FAILED(hr)) return Failure{L"creating the video renderer", hr};
      video = true;
    } else if (major == MFMediaType_Audio && sound && !audio) {
      hr = api.create_audio_renderer(&renderer);
      if (FAILED(hr)) return Failure{L"creating the audio renderer", hr};
      audio = true;
    } else {
      presentation.DeselectStream(index);
      continue;
    }
    ComPtr<IMFTopologyNode> from;
    ComPtr<IMFTopologyNode> to;
    hr = api.create_topology_node(MF_TOPOLOGY_SOURCESTREAM_NODE, &from);
    if (SUCCEEDED(hr)) hr = from->SetUnknown(MF_TOPONODE_SOURCE, &source);
    if (SUCCEEDED(hr)) hr = from->SetUnknown(MF_TOPONODE_PRESENTATION_DESCRIPTOR, &presentation);
    if (SUCCEEDED(hr)) hr = from->SetUnknown(MF_TOPONODE_STREAM_DESCRIPTOR, stream.Get());
    if (SUCCEEDED(hr)) hr = topology->AddNode(from.Get());
    if (SUCCEEDED(hr)) hr = api.create_topology_node(MF_TOPOLOGY_OUTPUT_NODE, &to);
    if (SUCCEEDED(hr)) hr = to->SetObject(renderer.Get());
    if (SUCCEEDED(hr)) hr = to->SetUINT32(MF_TOPONODE_STREAMID, 0);
    if (SUCCEEDED(hr)) hr = to->SetUINT32(MF_TOPONODE_NOSHUTDOWN_ON_REMOVE, FALSE);
    if (SUCCEEDED(hr)) hr = topology->AddNode(to.Get());
    if (SUCCEEDED(hr)) hr = from->ConnectOutput(0, to.Get(), 0);
    if (FAILED(hr)) return Failure{L"building the playback topology", hr};
  }
  if (!video && !audio) return Failure{L"finding a stream to play", MF_E_INVALIDSTREAMNUMBER};
  topology->SetUINT32(kEnumerateSourceTypes, TRUE);
  return std::nullopt;
}

}  // namespace launcher::win32::mf
