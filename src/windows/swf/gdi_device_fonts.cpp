#include "windows/swf/gdi_device_fonts.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace launcher::win32 {
namespace {

using swf::FaceKind;

// A face name as GDI wants it: the movie's UTF-8, or the Shift-JIS bytes Flash 5 files hold.
std::wstring Wide(const std::string& name) {
  for (const UINT page : {UINT(CP_UTF8), UINT(932)}) {
    const DWORD flags = page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int n = MultiByteToWideChar(page, flags, name.data(), int(name.size()), nullptr, 0);
    if (n <= 0) continue;
    std::wstring out(std::size_t(n), L'\0');
    MultiByteToWideChar(page, flags, name.data(), int(name.size()), out.data(), n);
    return out;
  }
  return {};
}

// The faces that stand for a name, best first: the name itself, then what Windows (or Wine with
// the free Japanese fonts) has of its kind.
std::vector<std::wstring> FacesFor(const std::string& name) {
  const swf::FaceMapping m = swf::FaceFor(name);
  const std::wstring own = Wide(name);
  switch (m.kind) {
    case FaceKind::Named:
      return {own, L"Arial"};
    case FaceKind::Sans:
      return {L"Arial", L"Liberation Sans", L"DejaVu Sans"};
    case FaceKind::Serif:
      return {L"Times New Roman", L"Liberation Serif", L"DejaVu Serif"};
    case FaceKind::Mono:
      return {L"Courier New", L"Liberation Mono", L"DejaVu Sans Mono"};
    case FaceKind::Gothic:
      if (m.proportional) {
        return {own,
                L"MS PGothic",
                L"\xFF2D\xFF33 \xFF30\x30B4\x30B7\x30C3\x30AF",
                L"Meiryo",
                L"Yu Gothic",
                L"IPAPGothic",
                L"Noto Sans CJK JP",
                L"MS Gothic",
                L"IPAGothic"};
      }
      return {own,
              L"MS Gothic",
              L"\xFF2D\xFF33 \x30B4\x30B7\x30C3\x30AF",
              L"IPAGothic",
              L"Noto Sans Mono CJK JP",
              L"MS PGothic",
              L"IPAPGothic"};
    case FaceKind::Mincho:
      if (m.proportional) {
        return {own,          L"MS PMincho", L"\xFF2D\xFF33 \xFF30\x660E\x671D",
                L"Yu Mincho", L"IPAPMincho", L"Noto Serif CJK JP",
                L"MS Mincho", L"IPAMincho"};
      }
      return {own,          L"MS Mincho",         L"\xFF2D\xFF33 \x660E\x671D",
              L"IPAMincho", L"Noto Serif CJK JP", L"MS PMincho",
              L"IPAPMincho"};
  }
  return {L"Arial"};
}

// Faces tried for a character the chosen face lacks: Japanese first, as the movies are.
const std::vector<std::wstring>& FallbackFaces() {
  static const std::vector<std::wstring> kFaces = {
      L"MS PGothic", L"Meiryo",           L"Yu Gothic",  L"IPAPGothic",
      L"IPAGothic",  L"Noto Sans CJK JP", L"Arial",      L"Segoe UI",
      L"Tahoma",     L"Arial Unicode MS", L"DejaVu Sans"};
  return kFaces;
}

double Fixed(const FIXED& f) {
  return double(f.value) + double(f.fract) / 65536.0;
}

// GDI's native outline (quadratic B-splines and lines, y up) as core edges (y down).
void ReadOutline(const std::vector<char>& buffer, swf::Shape& out) {
  std::size_t at = 0;
  const auto point = [](const POINTFX& p) {
    return swf::Point{float(Fixed(p.x)), float(-Fixed(p.y))};
  };
  auto add = [&out](swf::Point from, swf::Point control, swf::Point to, bool curved) {
    out.edges.push_back({from, control, to, curved, 0, 1, 0});
  };
  const auto line = [&add](swf::Point a, swf::Point b) {
    add(a, {(a.x + b.x) / 2, (a.y + b.y) / 2}, b, false);
  };
  while (at + sizeof(TTPOLYGONHEADER) <= buffer.size()) {
    TTPOLYGONHEADER header;
    std::memcpy(&header, buffer.data() + at, sizeof header);
    if (header.cb < sizeof header || at + header.cb > buffer.size()) break;
    const std::size_t end = at + header.cb;
    const swf::Point start = point(header.pfxStart);
    swf::Point pen = start;
    std::size_t c = at + sizeof header;
    while (c + offsetof(TTPOLYCURVE, apfx) <= end) {
      WORD type = 0, count = 0;
      std::memcpy(&type, buffer.data() + c, sizeof type);
      std::memcpy(&count, buffer.data() + c + sizeof(WORD), sizeof count);
      const std::size_t points = c + offsetof(TTPOLYCURVE, apfx);
      if (points + count * sizeof(POINTFX) > end) break;
      std::vector<swf::Point> p(count);
      for (WORD i = 0; i < count; ++i) {
        POINTFX fx;
        std::memcpy(&fx, buffer.data() + points + i * sizeof(POINTFX), sizeof fx);
        p[i] = point(fx);
      }
      if (type == TT_PRIM_QSPLINE) {
        // Control points; between two of them lies an on-curve point halfway; the last is on.
        for (WORD i = 0; i + 1 < count; ++i) {
          const swf::Point to =
              i + 2 == count ? p[i + 1]
                             : swf::Point{(p[i].x + p[i + 1].x) / 2, (p[i].y + p[i + 1].y) / 2};
          add(pen, p[i], to, true);
          pen = to;
        }
      } else {
        for (const swf::Point& q : p) {
          line(pen, q);
          pen = q;
        }
      }
      c = points + count * sizeof(POINTFX);
    }
    if (pen.x != start.x || pen.y != start.y) line(pen, start);
    at = end;
  }
}

class GdiDeviceFonts final : public swf::DeviceFonts {
 public:
  GdiDeviceFonts() : dc_(CreateCompatibleDC(nullptr)) {}
  ~GdiDeviceFonts() override {
    if (dc_) {
      SelectObject(dc_, GetStockObject(SYSTEM_FONT));
      DeleteDC(dc_);
    }
    for (auto& [key, font] : fonts_) DeleteObject(font);
  }
  GdiDeviceFonts(const GdiDeviceFonts&) = delete;
  GdiDeviceFonts& operator=(const GdiDeviceFonts&) = delete;
  GdiDeviceFonts(GdiDeviceFonts&&) = delete;
  GdiDeviceFonts& operator=(GdiDeviceFonts&&) = delete;

  std::optional<swf::DeviceGlyph> Glyph(const swf::DeviceFace& face, char32_t code) override {
    if (!dc_ || code > 0xFFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
    const wchar_t wide = wchar_t(code);
    HFONT font = FontFor(face);
    if (!Has(font, wide)) {
      font = nullptr;
      for (const std::wstring& name : FallbackFaces()) {
        HFONT f = Font(name, face.bold, face.italic);
        if (Has(f, wide)) {
          font = f;
          break;
        }
      }
    }
    if (!font) return std::nullopt;
    SelectObject(dc_, font);
    static constexpr MAT2 kIdentity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};
    GLYPHMETRICS metrics{};
    const UINT format = GGO_NATIVE | GGO_UNHINTED;
    const DWORD size = GetGlyphOutlineW(dc_, code, format, &metrics, 0, nullptr, &kIdentity);
    if (size == GDI_ERROR || size > (1u << 20)) return std::nullopt;
    std::vector<char> buffer(size);
    if (size > 0 && GetGlyphOutlineW(dc_, code, format, &metrics, size, buffer.data(),
                                     &kIdentity) == GDI_ERROR) {
      return std::nullopt;
    }
    swf::DeviceGlyph glyph;
    glyph.advance = float(metrics.gmCellIncX);
    ReadOutline(buffer, glyph.outline);
    glyph.outline.bounds = {float(metrics.gmptGlyphOrigin.x),
                            float(metrics.gmptGlyphOrigin.x + LONG(metrics.gmBlackBoxX)),
                            float(-metrics.gmptGlyphOrigin.y),
                            float(-metrics.gmptGlyphOrigin.y + LONG(metrics.gmBlackBoxY))};
    return glyph;
  }

  swf::DeviceFontMetrics Metrics(const swf::DeviceFace& face) override {
    swf::DeviceFontMetrics m;
    HFONT font = FontFor(face);
    if (!dc_ || !font) return m;
    SelectObject(dc_, font);
    TEXTMETRICW tm{};
    if (!GetTextMetricsW(dc_, &tm)) return m;
    m.ascent = float(tm.tmAscent);
    m.descent = float(tm.tmDescent);
    m.leading = float(tm.tmExternalLeading);
    return m;
  }

 private:
  // An em of kDeviceEm pixels: the outlines come in the core's units.
  HFONT Font(const std::wstring& name, bool bold, bool italic) {
    const auto key = std::tuple(name, bold, italic);
    if (const auto it = fonts_.find(key); it != fonts_.end()) return it->second;
    if (fonts_.size() >= 64) return nullptr;
    LOGFONTW lf{};
    lf.lfHeight = -LONG(swf::kDeviceEm);
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = italic ? TRUE : FALSE;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfOutPrecision = OUT_TT_ONLY_PRECIS;
    lf.lfQuality = ANTIALIASED_QUALITY;
    name.copy(lf.lfFaceName, LF_FACESIZE - 1);
    HFONT font = Installed(name) ? CreateFontIndirectW(&lf) : nullptr;
    fonts_.emplace(key, font);
    return font;
  }

  // Whether a face of that name is installed (GDI would otherwise give another silently).
  bool Installed(const std::wstring& name) {
    if (name.empty() || name.size() >= LF_FACESIZE) return false;
    LOGFONTW lf{};
    lf.lfCharSet = DEFAULT_CHARSET;
    name.copy(lf.lfFaceName, LF_FACESIZE - 1);
    bool found = false;
    EnumFontFamiliesExW(dc_, &lf, &MarkFound, reinterpret_cast<LPARAM>(&found), 0);
    return found;
  }

  // The enumeration's callback (stdcall on 32-bit Windows, which a lambda can't be): the first
  // face found sets the flag and ends the enumeration.
  static int CALLBACK MarkFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM flag) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the enumeration's parameter is our flag
    *reinterpret_cast<bool*>(flag) = true;
    return 0;
  }

  HFONT FontFor(const swf::DeviceFace& face) {
    for (const std::wstring& name : FacesFor(face.name)) {
      if (HFONT font = Font(name, face.bold, face.italic)) return font;
    }
    return nullptr;
  }

  bool Has(HFONT font, wchar_t code) {
    if (!font) return false;
    SelectObject(dc_, font);
    WORD index = 0xFFFF;
    return GetGlyphIndicesW(dc_, &code, 1, &index, GGI_MARK_NONEXISTING_GLYPHS) == 1 &&
           index != 0xFFFF;
  }

  HDC dc_;
  std::map<std::tuple<std::wstring, bool, bool>, HFONT> fonts_;  // null: not installed
};

}  // namespace

std::unique_ptr<swf::DeviceFonts> MakeGdiDeviceFonts() {
  return std::make_unique<GdiDeviceFonts>();
}

}  // namespace launcher::win32
