// Reference for the movie phase under Windows: Media Foundation's own time to a first frame
// through the API the launcher uses (a Media Session with the enhanced video renderer), in the
// plainest host. Shows the picture like wic_reference; the first key or button resolves the
// movie's source, builds a topology of its streams (video into the renderer drawing on this
// window, audio into the audio renderer when there is a device to play it, as the launcher does)
// and starts the session. The end of the movie, or a failure, closes the session and ends the
// program.
//   mf_reference PICTURE MOVIE
#include <windows.h>

#include <mfapi.h>
#include <mfidl.h>
#include <mmdeviceapi.h>

#include <memory>
#include <string>
#include <thread>

#include "reference_win32.h"

namespace {

using bench::ComPtr;

// Posted by the event thread: wparam the session event's type, lparam its status.
constexpr UINT kSessionEvent = WM_APP + 1;
// MF_TOPOLOGY_ENUMERATE_SOURCE_TYPES (missing from MinGW's mfidl.h): lets the topology loader try
// every type the source offers. Wine's finds no H.264 decoder for the source's current type alone.
constexpr GUID kEnumerateSourceTypes = {
    0x6248c36d, 0x5d0b, 0x4f40, {0xa0, 0xbb, 0xb0, 0xb3, 0x05, 0xf7, 0x76, 0x98}};
// Wine 8's Media Session does not always report the end of a movie after the source's end of
// presentation, nor itself closed after Close, and then hangs in Shutdown: the program goes on
// without the first report, and ends at once without the second.
constexpr UINT kReportWaitMs = 1000;

struct Movie {
  ComPtr<IMFMediaSource> source;
  ComPtr<IMFMediaSession> session;
  std::thread events;  // blocks in GetEvent until the session shuts down
  bool closing = false;

  Movie() = default;
  Movie(const Movie&) = delete;
  Movie& operator=(const Movie&) = delete;
  ~Movie() {
    if (source) source->Shutdown();
    if (session) session->Shutdown();
    if (events.joinable()) events.join();
  }
};

std::wstring g_movie_path;
std::unique_ptr<Movie> g_movie;

void ForwardEvents(HWND window, const ComPtr<IMFMediaSession>& session) {
  ComPtr<IMFMediaEvent> event;
  while (SUCCEEDED(session->GetEvent(0, &event))) {
    MediaEventType type = MEUnknown;
    HRESULT status = S_OK;
    event->GetType(&type);
    event->GetStatus(&status);
    event.Reset();
    PostMessageW(window, kSessionEvent, type, status);
    if (type == MESessionClosed) return;
  }
}

// Without a sound device the audio renderer fails the whole topology.
bool HasAudioOutput() {
  ComPtr<IMMDeviceEnumerator> devices;
  ComPtr<IMMDevice> device;
  return SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(&devices))) &&
         SUCCEEDED(devices->GetDefaultAudioEndpoint(eRender, eConsole, &device));
}

// One stream of the source into a renderer.
HRESULT AddBranch(IMFTopology& topology, Movie& movie, IMFPresentationDescriptor& presentation,
                  IMFStreamDescriptor& stream, IMFActivate& renderer) {
  ComPtr<IMFTopologyNode> from;
  ComPtr<IMFTopologyNode> to;
  HRESULT hr = MFCreateTopologyNode(MF_TOPOLOGY_SOURCESTREAM_NODE, &from);
  if (SUCCEEDED(hr)) hr = from->SetUnknown(MF_TOPONODE_SOURCE, movie.source.Get());
  if (SUCCEEDED(hr)) hr = from->SetUnknown(MF_TOPONODE_PRESENTATION_DESCRIPTOR, &presentation);
  if (SUCCEEDED(hr)) hr = from->SetUnknown(MF_TOPONODE_STREAM_DESCRIPTOR, &stream);
  if (SUCCEEDED(hr)) hr = topology.AddNode(from.Get());
  if (SUCCEEDED(hr)) hr = MFCreateTopologyNode(MF_TOPOLOGY_OUTPUT_NODE, &to);
  if (SUCCEEDED(hr)) hr = to->SetObject(&renderer);
  if (SUCCEEDED(hr)) hr = topology.AddNode(to.Get());
  if (SUCCEEDED(hr)) hr = from->ConnectOutput(0, to.Get(), 0);
  return hr;
}

HRESULT StartMovie(HWND window, Movie& movie) {
  ComPtr<IMFSourceResolver> resolver;
  MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
  ComPtr<IUnknown> object;
  ComPtr<IMFPresentationDescriptor> presentation;
  ComPtr<IMFTopology> topology;
  DWORD count = 0;
  HRESULT hr = MFCreateSourceResolver(&resolver);
  if (SUCCEEDED(hr)) {
    hr = resolver->CreateObjectFromURL(g_movie_path.c_str(), MF_RESOLUTION_MEDIASOURCE, nullptr,
                                       &type, &object);
  }
  if (SUCCEEDED(hr)) hr = object.As(&movie.source);
  if (SUCCEEDED(hr)) hr = movie.source->CreatePresentationDescriptor(&presentation);
  if (SUCCEEDED(hr)) hr = MFCreateTopology(&topology);
  if (SUCCEEDED(hr)) hr = presentation->GetStreamDescriptorCount(&count);
  for (DWORD index = 0; SUCCEEDED(hr) && index < count; ++index) {
    BOOL selected = FALSE;
    ComPtr<IMFStreamDescriptor> stream;
    ComPtr<IMFMediaTypeHandler> handler;
    GUID major = GUID_NULL;
    ComPtr<IMFActivate> renderer;
    hr = presentation->GetStreamDescriptorByIndex(index, &selected, &stream);
    if (FAILED(hr) || !selected) continue;
    hr = stream->GetMediaTypeHandler(&handler);
    if (SUCCEEDED(hr)) hr = handler->GetMajorType(&major);
    if (SUCCEEDED(hr) && major == MFMediaType_Video) {
      hr = MFCreateVideoRendererActivate(window, &renderer);
    } else if (SUCCEEDED(hr) && major == MFMediaType_Audio && HasAudioOutput()) {
      hr = MFCreateAudioRendererActivate(&renderer);
    } else if (SUCCEEDED(hr)) {
      hr = presentation->DeselectStream(index);
      continue;
    }
    if (SUCCEEDED(hr))
      hr = AddBranch(*topology.Get(), movie, *presentation.Get(), *stream.Get(), *renderer.Get());
  }
  if (SUCCEEDED(hr)) hr = topology->SetUINT32(kEnumerateSourceTypes, TRUE);
  if (SUCCEEDED(hr)) hr = MFCreateMediaSession(nullptr, &movie.session);
  if (FAILED(hr)) return hr;
  movie.events = std::thread(ForwardEvents, window, movie.session);
  hr = movie.session->SetTopology(0, topology.Get());
  PROPVARIANT start;
  PropVariantInit(&start);  // empty: from the beginning
  if (SUCCEEDED(hr)) hr = movie.session->Start(&GUID_NULL, &start);
  return hr;
}

// The window goes once the session reports itself closed, or after a while without that report.
void End(HWND window) {
  if (g_movie->closing) return;
  g_movie->closing = true;
  if (g_movie->session && SUCCEEDED(g_movie->session->Close())) {
    SetTimer(window, 1, kReportWaitMs, nullptr);
  } else {
    DestroyWindow(window);
  }
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ERASEBKGND:
      // Once the movie plays, the renderer draws the whole client area.
      return g_movie ? 1 : DefWindowProcW(window, message, wparam, lparam);
    case WM_PAINT:
      if (!g_movie) break;
      ValidateRect(window, nullptr);
      return 0;
    case kSessionEvent: {
      const auto type = static_cast<MediaEventType>(wparam);
      if (type == MESessionClosed) {
        DestroyWindow(window);
      } else if (type == MESessionEnded || FAILED(static_cast<HRESULT>(lparam))) {
        End(window);
      } else if (type == MEEndOfPresentation) {
        SetTimer(window, 1, kReportWaitMs, nullptr);
      }
      return 0;
    }
    case WM_TIMER:
      if (g_movie->closing) TerminateProcess(GetCurrentProcess(), 0);
      End(window);
      return 0;
    default:
      if (bench::IsKeyOrButton(message) && !g_movie) {
        g_movie = std::make_unique<Movie>();
        if (FAILED(StartMovie(window, *g_movie))) End(window);
        return 0;
      }
      break;
  }
  return bench::PictureWindowProcedure(window, message, wparam, lparam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*command_line*/,
                    int /*show*/) {
  const auto args = bench::Arguments();
  if (args.size() != 2) return 2;
  g_movie_path = args[1];
  const bench::ComSession com;
  if (FAILED(com.hr) || FAILED(MFStartup(MF_VERSION, MFSTARTUP_FULL))) return 1;
  const int status = bench::ShowPicture(instance, args[0], WindowProcedure);
  g_movie.reset();
  MFShutdown();
  return status;
}
