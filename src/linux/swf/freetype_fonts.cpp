#include "linux/swf/freetype_fonts.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <vector>

namespace launcher::sdl {
namespace {

using swf::FaceKind;

// Faces fontconfig is asked for first, before its own generic family.
std::vector<std::string> FamiliesFor(const std::string& name) {
  const swf::FaceMapping m = swf::FaceFor(name);
  switch (m.kind) {
    case FaceKind::Named:
      return {name, "sans-serif"};
    case FaceKind::Sans:
      return {"sans-serif"};
    case FaceKind::Serif:
      return {"serif"};
    case FaceKind::Mono:
      return {"monospace"};
    case FaceKind::Gothic:
      if (m.proportional)
        return {name, "IPAPGothic", "Noto Sans CJK JP", "VL PGothic", "sans-serif"};
      return {name, "IPAGothic", "Noto Sans Mono CJK JP", "VL Gothic", "monospace"};
    case FaceKind::Mincho:
      if (m.proportional) return {name, "IPAPMincho", "Noto Serif CJK JP", "serif"};
      return {name, "IPAMincho", "Noto Serif CJK JP", "serif"};
  }
  return {"sans-serif"};
}

bool Japanese(const std::string& name) {
  const FaceKind kind = swf::FaceFor(name).kind;
  return kind == FaceKind::Gothic || kind == FaceKind::Mincho;
}

struct PatternDeleter {
  void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
using Pattern = std::unique_ptr<FcPattern, PatternDeleter>;

// The outline as the core wants it: 1/1024 em, y down, every edge filling style 1 on its right.
class OutlineWriter {
 public:
  OutlineWriter(swf::Shape& out, float scale) : out_(out), scale_(scale) {}

  static int MoveTo(const FT_Vector* to, void* self) {
    auto& w = *static_cast<OutlineWriter*>(self);
    w.at_ = w.Map(to);
    return 0;
  }
  static int LineTo(const FT_Vector* to, void* self) {
    auto& w = *static_cast<OutlineWriter*>(self);
    const swf::Point p = w.Map(to);
    w.Add(w.at_, {(w.at_.x + p.x) / 2, (w.at_.y + p.y) / 2}, p, false);
    return 0;
  }
  static int ConicTo(const FT_Vector* control, const FT_Vector* to, void* self) {
    auto& w = *static_cast<OutlineWriter*>(self);
    w.Add(w.at_, w.Map(control), w.Map(to), true);
    return 0;
  }
  // A cubic (CFF fonts) as two quadratics, one per half.
  static int CubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* self) {
    auto& w = *static_cast<OutlineWriter*>(self);
    const swf::Point p0 = w.at_, p1 = w.Map(c1), p2 = w.Map(c2), p3 = w.Map(to);
    const auto mid = [](swf::Point a, swf::Point b) {
      return swf::Point{(a.x + b.x) / 2, (a.y + b.y) / 2};
    };
    const swf::Point a = mid(p0, p1), b = mid(p1, p2), c = mid(p2, p3);
    const swf::Point ab = mid(a, b), bc = mid(b, c), m = mid(ab, bc);
    const auto quad = [&w](swf::Point s, swf::Point k1, swf::Point k2, swf::Point e) {
      const swf::Point control{(3 * (k1.x + k2.x) - s.x - e.x) / 4,
                               (3 * (k1.y + k2.y) - s.y - e.y) / 4};
      w.Add(s, control, e, true);
    };
    quad(p0, a, ab, m);
    quad(m, bc, c, p3);
    return 0;
  }

 private:
  swf::Point Map(const FT_Vector* v) const { return {float(v->x) * scale_, -float(v->y) * scale_}; }
  void Add(swf::Point from, swf::Point control, swf::Point to, bool curved) {
    out_.edges.push_back({from, control, to, curved, 0, 1, 0});
    for (const swf::Point& p : {from, to}) {
      out_.bounds.x_min = std::min(out_.bounds.x_min, p.x);
      out_.bounds.x_max = std::max(out_.bounds.x_max, p.x);
      out_.bounds.y_min = std::min(out_.bounds.y_min, p.y);
      out_.bounds.y_max = std::max(out_.bounds.y_max, p.y);
    }
    at_ = to;
  }

  swf::Shape& out_;
  float scale_;
  swf::Point at_;
};

}  // namespace

struct FreeTypeFonts::State {
  FT_Library library = nullptr;
  FcConfig* config = nullptr;
  std::map<std::pair<std::string, int>, FT_Face> files;  // faces opened, by file and index
  std::map<swf::DeviceFace, FT_Face> chosen;             // each request's face

  ~State() {
    for (auto& [key, face] : files) FT_Done_Face(face);
    if (library) FT_Done_FreeType(library);
    if (config) FcConfigDestroy(config);
  }

  Pattern Ask(const swf::DeviceFace& face) const {
    Pattern p(FcPatternCreate());
    for (const std::string& family : FamiliesFor(face.name)) {
      FcPatternAddString(p.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    }
    if (Japanese(face.name)) FcPatternAddString(p.get(), FC_LANG, FcChar8Ptr("ja"));
    FcPatternAddInteger(p.get(), FC_WEIGHT, face.bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(p.get(), FC_SLANT, face.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(p.get(), FC_SCALABLE, FcTrue);
    return p;
  }
  static const FcChar8* FcChar8Ptr(const char* s) { return reinterpret_cast<const FcChar8*>(s); }

  FT_Face Open(Pattern ask) {
    if (!config || !library) return nullptr;
    FcConfigSubstitute(config, ask.get(), FcMatchPattern);
    FcDefaultSubstitute(ask.get());
    FcResult result = FcResultNoMatch;
    const Pattern match(FcFontMatch(config, ask.get(), &result));
    FcChar8* file = nullptr;
    int index = 0;
    if (!match || FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch) {
      return nullptr;
    }
    FcPatternGetInteger(match.get(), FC_INDEX, 0, &index);
    const auto key = std::pair(std::string(reinterpret_cast<const char*>(file)), index);
    if (const auto it = files.find(key); it != files.end()) return it->second;
    FT_Face face = nullptr;
    if (files.size() >= 64 || FT_New_Face(library, key.first.c_str(), index, &face) != 0) {
      return nullptr;
    }
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) {
      FT_Done_Face(face);
      face = nullptr;
    }
    files.emplace(key, face);
    return face;
  }

  FT_Face Face(const swf::DeviceFace& face) {
    if (const auto it = chosen.find(face); it != chosen.end()) return it->second;
    if (chosen.size() >= 256) chosen.clear();
    return chosen[face] = Open(Ask(face));
  }

  // A face with the character: the request's own, else the one fontconfig finds for it.
  FT_Face FaceWith(const swf::DeviceFace& request, char32_t code, FT_UInt& glyph) {
    FT_Face face = Face(request);
    glyph = face ? FT_Get_Char_Index(face, code) : 0;
    if (glyph != 0) return face;
    Pattern ask = Ask(request);
    FcCharSet* set = FcCharSetCreate();
    FcCharSetAddChar(set, code);
    FcPatternAddCharSet(ask.get(), FC_CHARSET, set);
    FcCharSetDestroy(set);
    face = Open(std::move(ask));
    glyph = face ? FT_Get_Char_Index(face, code) : 0;
    return glyph != 0 ? face : nullptr;
  }
};

FreeTypeFonts::FreeTypeFonts() : state_(std::make_unique<State>()) {
  if (FT_Init_FreeType(&state_->library) != 0) state_->library = nullptr;
  state_->config = FcInitLoadConfigAndFonts();
}

FreeTypeFonts::~FreeTypeFonts() = default;

std::optional<swf::DeviceGlyph> FreeTypeFonts::Glyph(const swf::DeviceFace& face, char32_t code) {
  FT_UInt index = 0;
  FT_Face ft = state_->FaceWith(face, code, index);
  if (!ft) return std::nullopt;
  if (FT_Load_Glyph(ft, index, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0 ||
      ft->glyph->format != FT_GLYPH_FORMAT_OUTLINE) {
    return std::nullopt;
  }
  FT_Outline& outline = ft->glyph->outline;
  const FT_Pos em = ft->units_per_EM;
  // A style the face lacks is made as Windows makes it: thicker strokes, a slant.
  if (face.bold && !(ft->style_flags & FT_STYLE_FLAG_BOLD)) FT_Outline_Embolden(&outline, em / 32);
  if (face.italic && !(ft->style_flags & FT_STYLE_FLAG_ITALIC)) {
    FT_Matrix shear{0x10000, 0x3333, 0, 0x10000};  // x += 0.2 y
    FT_Outline_Transform(&outline, &shear);
  }
  swf::DeviceGlyph out;
  const float scale = swf::kDeviceEm / float(em);
  out.advance = float(ft->glyph->advance.x) * scale;
  if (face.bold && !(ft->style_flags & FT_STYLE_FLAG_BOLD)) out.advance += float(em) / 32 * scale;
  out.outline.bounds = {1e9f, -1e9f, 1e9f, -1e9f};
  OutlineWriter writer(out.outline, scale);
  const FT_Outline_Funcs funcs{&OutlineWriter::MoveTo,
                               &OutlineWriter::LineTo,
                               &OutlineWriter::ConicTo,
                               &OutlineWriter::CubicTo,
                               0,
                               0};
  if (FT_Outline_Decompose(&outline, &funcs, &writer) != 0) out.outline.edges.clear();
  if (out.outline.edges.empty()) out.outline.bounds = {};
  return out;
}

swf::DeviceFontMetrics FreeTypeFonts::Metrics(const swf::DeviceFace& face) {
  swf::DeviceFontMetrics m;
  FT_Face ft = state_->Face(face);
  if (!ft) return m;
  const float scale = swf::kDeviceEm / float(ft->units_per_EM);
  m.ascent = float(ft->ascender) * scale;
  m.descent = float(-ft->descender) * scale;
  m.leading = std::max(0.0f, float(ft->height - ft->ascender + ft->descender) * scale);
  return m;
}

}  // namespace launcher::sdl
