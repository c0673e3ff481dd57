#pragma once
// What both bare Win32 reference programs share: COM on the window thread, the picture decoded
// through WIC into 32-bit BGR rows, and one borderless window over the primary monitor that
// paints it stretched until the window goes.

#include <windows.h>

#include <shellapi.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <string>
#include <vector>

namespace bench {

using Microsoft::WRL::ComPtr;

struct ComSession {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  ComSession() = default;
  ~ComSession() {
    if (SUCCEEDED(hr)) CoUninitialize();
  }
  ComSession(const ComSession&) = delete;
  ComSession& operator=(const ComSession&) = delete;
};

// The program's arguments after its own name.
inline std::vector<std::wstring> Arguments() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> result;
  for (int i = 1; i < count; ++i) result.emplace_back(args[i]);
  LocalFree(args);
  return result;
}

struct Picture {
  UINT width = 0;
  UINT height = 0;
  std::vector<BYTE> pixels;  // top-down rows of 32-bit BGR
};

// The first frame of a picture file; false when WIC can't read it.
inline bool LoadPicture(const wchar_t* path, Picture& picture) {
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&factory))) ||
      FAILED(factory->CreateDecoderFromFilename(path, nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnDemand, &decoder)) ||
      FAILED(decoder->GetFrame(0, &frame)) || FAILED(factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGR,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom)) ||
      FAILED(converter->GetSize(&picture.width, &picture.height))) {
    return false;
  }
  picture.pixels.resize(std::size_t{picture.width} * picture.height * 4);
  return SUCCEEDED(converter->CopyPixels(
      nullptr, picture.width * 4, static_cast<UINT>(picture.pixels.size()), picture.pixels.data()));
}

// Stretches the picture over the window's client area, for one WM_PAINT.
inline void PaintPicture(HWND window, const Picture& picture) {
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(window, &paint);
  RECT client{};
  GetClientRect(window, &client);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = static_cast<LONG>(picture.width);
  info.bmiHeader.biHeight = -static_cast<LONG>(picture.height);  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  // The launcher's stretch quality, so that both do the same work per paint.
  SetStretchBltMode(dc, HALFTONE);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, static_cast<int>(picture.width),
                static_cast<int>(picture.height), picture.pixels.data(), &info, DIB_RGB_COLORS,
                SRCCOPY);
  EndPaint(window, &paint);
}

inline Picture g_picture;  // what the window shows

inline bool IsKeyOrButton(UINT message) {
  return message == WM_KEYDOWN || message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN ||
         message == WM_MBUTTONDOWN;
}

// The window's painting and end, for what the program's own procedure leaves.
inline LRESULT PictureWindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT:
      PaintPicture(window, g_picture);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

// Decodes the picture, shows it in a borderless window over the primary monitor and runs the
// window until it goes; 1 when the picture can't be read or the window made.
inline int ShowPicture(HINSTANCE instance, const std::wstring& path, WNDPROC procedure) {
  if (!LoadPicture(path.c_str(), g_picture)) return 1;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = procedure;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  wc.lpszClassName = L"BenchReference";
  if (RegisterClassExW(&wc) == 0 ||
      CreateWindowExW(0, wc.lpszClassName, L"Reference", WS_POPUP | WS_VISIBLE, 0, 0,
                      GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr,
                      nullptr, instance, nullptr) == nullptr) {
    return 1;
  }
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace bench
