// Shapes, morph shapes, fonts and static text, read into swf::Shape with global style indices.
#include <algorithm>
#include <cmath>

#include "swf/reader_parts.h"

namespace swf {
namespace {

// Which tag a style or record comes from, for the fields that differ between them.
struct Kind {
  int shape = 1;       // DefineShape version 1-4 (morph shapes read as 3, morph 2 as 4)
  bool morph = false;  // every style comes as a start and an end
};

bool CountAndCharge(std::size_t count, std::size_t each, ByteReader& r, LoadContext& ctx) {
  if (!r.ok() || !ctx.Charge(count * each)) {
    r.Fail();
    return false;
  }
  return true;
}

Gradient ReadGradient(ByteReader& r, Kind kind, int type, Gradient* end) {
  Gradient g;
  g.kind = type == 0x10 ? GradientKind::Linear
                        : (type == 0x13 ? GradientKind::Focal : GradientKind::Radial);
  g.matrix = r.ReadMatrix();
  if (end) {
    end->kind = g.kind;
    end->matrix = r.ReadMatrix();
  }
  const std::uint8_t flags = r.U8();
  const int spread = flags >> 6;
  g.spread =
      spread == 1 ? SpreadMode::Reflect : (spread == 2 ? SpreadMode::Repeat : SpreadMode::Pad);
  g.interpolation = ((flags >> 4) & 3) == 1 ? InterpolationMode::LinearRgb : InterpolationMode::Rgb;
  const int count = flags & 0x0F;
  if (end) {
    end->spread = g.spread;
    end->interpolation = g.interpolation;
  }
  for (int i = 0; i < count; ++i) {
    GradientStop stop;
    stop.ratio = r.U8();
    stop.color = kind.shape >= 3 ? r.ReadRgba() : r.ReadRgb();
    g.stops.push_back(stop);
    if (end) {
      stop.ratio = r.U8();
      stop.color = r.ReadRgba();
      end->stops.push_back(stop);
    }
  }
  if (type == 0x13) {
    g.focal_point = std::clamp(r.Fixed8(), -1.0f, 1.0f);
    if (end) end->focal_point = std::clamp(r.Fixed8(), -1.0f, 1.0f);
  }
  // The rasterizer expects at least one stop (in any order: Flash reads them as they come).
  for (Gradient* each : {&g, end}) {
    if (each && each->stops.empty()) each->stops.push_back({0, Rgba{0, 0, 0, 0}});
  }
  return g;
}

// One FILLSTYLE (or MORPHFILLSTYLE, its end in *end).
FillStyle ReadFill(ByteReader& r, Kind kind, LoadContext& ctx, FillStyle* end) {
  const int type = r.U8();
  if (type == 0x00) {
    const Rgba start = kind.shape >= 3 ? r.ReadRgba() : r.ReadRgb();
    if (end) *end = r.ReadRgba();
    return start;
  }
  if (type == 0x10 || type == 0x12 || type == 0x13) {
    Gradient end_gradient;
    Gradient g = ReadGradient(r, kind, type, end ? &end_gradient : nullptr);
    if (!ctx.Charge((g.stops.size() + end_gradient.stops.size()) * sizeof(GradientStop))) {
      r.Fail();
    }
    if (end) *end = std::move(end_gradient);
    return g;
  }
  if (type >= 0x40 && type <= 0x43) {
    const std::uint16_t id = r.U16();
    BitmapFill fill;
    if (const Character* c = ctx.movie.Find(id)) {
      if (const auto* bitmap = std::get_if<std::shared_ptr<const Bitmap>>(c)) fill.bitmap = *bitmap;
    }
    fill.repeat = (type & 1) == 0;
    fill.smooth = (type & 2) == 0;
    fill.matrix = r.ReadMatrix();
    if (end) {
      BitmapFill end_fill = fill;
      end_fill.matrix = r.ReadMatrix();
      *end = std::move(end_fill);
    }
    return fill;
  }
  r.Fail();  // an unknown fill type: what follows can't be found
  return Rgba{};
}

std::size_t ReadCount(ByteReader& r, bool extended) {
  std::size_t n = r.U8();
  if (n == 0xFF && extended) n = r.U16();
  return n;
}

void ReadFills(ByteReader& r, Kind kind, LoadContext& ctx, std::vector<FillStyle>& out,
               std::vector<FillStyle>* end) {
  const std::size_t n = ReadCount(r, kind.shape >= 2);
  if (!CountAndCharge(n, sizeof(FillStyle) * (end ? 2 : 1), r, ctx)) return;
  out.reserve(out.size() + n);
  if (end) end->reserve(end->size() + n);
  for (std::size_t i = 0; i < n && r.ok(); ++i) {
    FillStyle end_fill;
    out.push_back(ReadFill(r, kind, ctx, end ? &end_fill : nullptr));
    if (end) end->push_back(std::move(end_fill));
  }
}

void ReadLines(ByteReader& r, Kind kind, LoadContext& ctx, std::vector<LineStyle>& out,
               std::vector<LineStyle>* end) {
  const std::size_t n = ReadCount(r, true);
  if (!CountAndCharge(n, sizeof(LineStyle) * (end ? 2 : 1), r, ctx)) return;
  out.reserve(out.size() + n);
  if (end) end->reserve(end->size() + n);
  static constexpr CapStyle kCaps[] = {CapStyle::Round, CapStyle::None, CapStyle::Square,
                                       CapStyle::Round};
  static constexpr JoinStyle kJoins[] = {JoinStyle::Round, JoinStyle::Bevel, JoinStyle::Miter,
                                         JoinStyle::Round};
  for (std::size_t i = 0; i < n && r.ok(); ++i) {
    LineStyle line;
    line.width = r.U16();
    LineStyle end_line;
    if (end) end_line.width = r.U16();
    if (kind.shape >= 4) {
      const std::uint8_t a = r.U8();
      const std::uint8_t b = r.U8();
      line.start_cap = kCaps[a >> 6];
      line.join = kJoins[(a >> 4) & 3];
      const bool has_fill = (a & 0x08) != 0;
      line.no_close = (b & 0x04) != 0;
      line.end_cap = kCaps[b & 3];
      if (line.join == JoinStyle::Miter) line.miter_limit = std::max(1.0f, r.Fixed8());
      if (has_fill) {
        FillStyle end_fill;
        line.fill = ReadFill(r, kind, ctx, end ? &end_fill : nullptr);
        end_line.fill = std::move(end_fill);
      } else {
        line.fill = r.ReadRgba();
        if (end) end_line.fill = r.ReadRgba();
      }
    } else {
      line.fill = kind.shape >= 3 || kind.morph ? r.ReadRgba() : r.ReadRgb();
      if (end) end_line.fill = r.ReadRgba();
    }
    if (end) {
      const float width = end_line.width;
      FillStyle fill = std::move(end_line.fill);
      end_line = line;
      end_line.width = width;
      end_line.fill = std::move(fill);
      end->push_back(std::move(end_line));
    }
    out.push_back(std::move(line));
  }
}

// SHAPERECORDs up to the end record, appended to `shape` with global style indices. New styles
// are read only when `styles` is set (DefineShape); morph shapes and glyphs have none.
void ReadRecords(ByteReader& r, Kind kind, LoadContext& ctx, Shape& shape, bool styles) {
  int fill_bits = int(r.UB(4));
  int line_bits = int(r.UB(4));
  std::size_t fill_base = 0;
  std::size_t line_base = 0;
  // A glyph has no styles of its own: its fill 1 is the text's colour.
  std::size_t fill_count = shape.fills.empty() && !styles ? 1 : shape.fills.size();
  std::size_t line_count = shape.lines.size();
  std::uint16_t fill0 = 0, fill1 = 0, line = 0;
  Point pos;
  const auto style = [](std::uint32_t index, std::size_t base, std::size_t count) {
    return std::uint16_t(index == 0 || index > count || base + index > 0xFFFF ? 0 : base + index);
  };
  while (r.ok()) {
    if (!r.Flag()) {
      const std::uint32_t flags = r.UB(5);
      if (flags == 0) break;
      if (flags & 0x01) {
        const int n = int(r.UB(5));
        pos.x = float(r.SB(n));
        pos.y = float(r.SB(n));
      }
      const std::uint32_t f0 = (flags & 0x02) ? r.UB(fill_bits) : 0;
      const std::uint32_t f1 = (flags & 0x04) ? r.UB(fill_bits) : 0;
      const std::uint32_t l = (flags & 0x08) ? r.UB(line_bits) : 0;
      if ((flags & 0x10) && styles) {
        // Edges from here on are a layer above those before.
        if (!shape.edges.empty() &&
            (shape.layer_starts.empty() || shape.layer_starts.back() != shape.edges.size())) {
          ctx.Append(shape.layer_starts, shape.edges.size());
        }
        fill_base = shape.fills.size();
        line_base = shape.lines.size();
        ReadFills(r, kind, ctx, shape.fills, nullptr);
        ReadLines(r, kind, ctx, shape.lines, nullptr);
        fill_count = shape.fills.size() - fill_base;
        line_count = shape.lines.size() - line_base;
        fill_bits = int(r.UB(4));
        line_bits = int(r.UB(4));
        fill0 = fill1 = line = 0;
      }
      if (flags & 0x02) fill0 = style(f0, fill_base, fill_count);
      if (flags & 0x04) fill1 = style(f1, fill_base, fill_count);
      if (flags & 0x08) line = style(l, line_base, line_count);
      continue;
    }
    Edge e;
    e.from = pos;
    const bool straight = r.Flag();
    const int n = int(r.UB(4)) + 2;
    if (straight) {
      float dx = 0, dy = 0;
      if (r.Flag()) {
        dx = float(r.SB(n));
        dy = float(r.SB(n));
      } else if (r.Flag()) {
        dy = float(r.SB(n));
      } else {
        dx = float(r.SB(n));
      }
      e.to = {pos.x + dx, pos.y + dy};
      e.control = {(e.from.x + e.to.x) / 2, (e.from.y + e.to.y) / 2};
    } else {
      e.curved = true;
      e.control = {pos.x + float(r.SB(n)), pos.y + float(r.SB(n))};
      e.to = {e.control.x + float(r.SB(n)), e.control.y + float(r.SB(n))};
    }
    if (!r.ok()) break;
    pos = e.to;
    e.fill0 = fill0;
    e.fill1 = fill1;
    e.line = line;
    if (!ctx.Append(shape.edges, e)) {
      ctx.Note("a shape has more edges than can be kept: the rest left out");
      break;
    }
  }
}

Point Lerp(Point a, Point b, float t) {
  return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
}
float Lerp(float a, float b, float t) {
  return a + (b - a) * t;
}
Rgba Lerp(Rgba a, Rgba b, float t) {
  const auto c = [t](std::uint8_t x, std::uint8_t y) {
    return std::uint8_t(std::lround(Lerp(float(x), float(y), t)));
  };
  return {c(a.r, b.r), c(a.g, b.g), c(a.b, b.b), c(a.a, b.a)};
}
Matrix Lerp(const Matrix& a, const Matrix& b, float t) {
  return {Lerp(a.a, b.a, t), Lerp(a.b, b.b, t),   Lerp(a.c, b.c, t),
          Lerp(a.d, b.d, t), Lerp(a.tx, b.tx, t), Lerp(a.ty, b.ty, t)};
}
FillStyle Lerp(const FillStyle& a, const FillStyle& b, float t) {
  if (a.index() != b.index()) return a;
  if (const auto* c = std::get_if<Rgba>(&a)) return Lerp(*c, std::get<Rgba>(b), t);
  if (const auto* g = std::get_if<Gradient>(&a)) {
    const auto& h = std::get<Gradient>(b);
    Gradient out = *g;
    out.matrix = Lerp(g->matrix, h.matrix, t);
    out.focal_point = Lerp(g->focal_point, h.focal_point, t);
    for (std::size_t i = 0; i < out.stops.size() && i < h.stops.size(); ++i) {
      out.stops[i].ratio =
          std::uint8_t(std::lround(Lerp(float(g->stops[i].ratio), float(h.stops[i].ratio), t)));
      out.stops[i].color = Lerp(g->stops[i].color, h.stops[i].color, t);
    }
    return out;
  }
  BitmapFill out = std::get<BitmapFill>(a);
  out.matrix = Lerp(out.matrix, std::get<BitmapFill>(b).matrix, t);
  return out;
}

}  // namespace

std::optional<Shape> ReadDefineShape(ByteReader& r, TagCode code, LoadContext& ctx) {
  const Kind kind{code == TagCode::DefineShape    ? 1
                  : code == TagCode::DefineShape2 ? 2
                  : code == TagCode::DefineShape3 ? 3
                                                  : 4,
                  false};
  Shape shape;
  shape.bounds = r.ReadRect();
  shape.even_odd = true;
  if (kind.shape == 4) {
    static_cast<void>(r.ReadRect());  // the edges' bounds
    shape.even_odd = (r.U8() & 0x04) == 0;
  }
  ReadFills(r, kind, ctx, shape.fills, nullptr);
  ReadLines(r, kind, ctx, shape.lines, nullptr);
  if (!r.ok()) return std::nullopt;
  ReadRecords(r, kind, ctx, shape, true);  // a shape cut short keeps the edges read
  return shape;
}

std::optional<MorphShape> ReadDefineMorphShape(ByteReader& r, TagCode code, LoadContext& ctx) {
  const Kind kind{code == TagCode::DefineMorphShape2 ? 4 : 3, true};
  MorphShape m;
  m.start.bounds = r.ReadRect();
  m.end.bounds = r.ReadRect();
  if (code == TagCode::DefineMorphShape2) {
    static_cast<void>(r.ReadRect());
    static_cast<void>(r.ReadRect());
    r.Skip(1);
  }
  const std::uint32_t offset = r.U32();
  const std::size_t end_at = r.position() + offset;
  ReadFills(r, kind, ctx, m.start.fills, &m.end.fills);
  ReadLines(r, kind, ctx, m.start.lines, &m.end.lines);
  if (!r.ok()) return std::nullopt;
  ReadRecords(r, kind, ctx, m.start, false);
  m.end.edges.clear();
  const std::size_t here = r.position();
  if (offset != 0 && end_at >= here && end_at - here <= r.remaining()) {
    r.Skip(end_at - here);
    Shape end_edges;
    ReadRecords(r, kind, ctx, end_edges, false);
    m.end.edges = std::move(end_edges.edges);
  }
  // Edge i of the end is edge i of the start moved: it takes the start's styles.
  m.end.edges.resize(std::min(m.end.edges.size(), m.start.edges.size()));
  for (std::size_t i = 0; i < m.end.edges.size(); ++i) {
    m.end.edges[i].fill0 = m.start.edges[i].fill0;
    m.end.edges[i].fill1 = m.start.edges[i].fill1;
    m.end.edges[i].line = m.start.edges[i].line;
  }
  m.start.even_odd = m.end.even_odd = true;
  return m;
}

Shape MorphShape::At(std::uint16_t ratio) const {
  const float t = float(ratio) / 65535.0f;
  Shape out;
  out.even_odd = start.even_odd;
  out.bounds = {
      Lerp(start.bounds.x_min, end.bounds.x_min, t), Lerp(start.bounds.x_max, end.bounds.x_max, t),
      Lerp(start.bounds.y_min, end.bounds.y_min, t), Lerp(start.bounds.y_max, end.bounds.y_max, t)};
  out.fills.reserve(start.fills.size());
  for (std::size_t i = 0; i < start.fills.size(); ++i) {
    out.fills.push_back(i < end.fills.size() ? Lerp(start.fills[i], end.fills[i], t)
                                             : start.fills[i]);
  }
  out.lines = start.lines;
  for (std::size_t i = 0; i < out.lines.size() && i < end.lines.size(); ++i) {
    out.lines[i].width = Lerp(start.lines[i].width, end.lines[i].width, t);
    out.lines[i].fill = Lerp(start.lines[i].fill, end.lines[i].fill, t);
  }
  // Without an end for it, an edge stays where it starts.
  out.edges = start.edges;
  for (std::size_t i = 0; i < end.edges.size(); ++i) {
    Edge& e = out.edges[i];
    const Edge& b = end.edges[i];
    e.from = Lerp(e.from, b.from, t);
    e.to = Lerp(e.to, b.to, t);
    e.control = Lerp(e.control, b.control, t);
    e.curved = e.curved || b.curved;
  }
  return out;
}

std::optional<Font> ReadDefineFont(ByteReader& r, TagCode code, LoadContext& ctx) {
  Font font;
  std::uint8_t flags = 0;
  std::vector<std::uint32_t> offsets;
  const std::size_t table_at = [&] {
    if (code == TagCode::DefineFont) {
      const std::size_t at = r.position();
      const std::uint16_t first = r.U16();
      offsets.push_back(first);
      for (std::size_t i = 1; i < first / 2u && r.ok(); ++i) offsets.push_back(r.U16());
      return at;
    }
    font.em = code == TagCode::DefineFont3 ? 20480.0f : 1024.0f;
    flags = r.U8();
    r.Skip(1);  // language
    const auto name = r.Bytes(r.U8());
    font.name = FontName(name);
    font.bold = (flags & 0x01) != 0;
    font.italic = (flags & 0x02) != 0;
    const std::size_t count = r.U16();
    const std::size_t at = r.position();
    const bool wide = (flags & 0x08) != 0;
    if (!CountAndCharge(count, sizeof(std::uint32_t), r, ctx)) return at;
    offsets.reserve(count);
    for (std::size_t i = 0; i < count && r.ok(); ++i) offsets.push_back(wide ? r.U32() : r.U16());
    return at;
  }();
  if (!r.ok() || !ctx.Charge(offsets.size() * sizeof(Shape))) return std::nullopt;
  font.glyphs.reserve(offsets.size());
  ByteReader whole = r;  // positions are counted from the table's start
  const Kind kind{1, false};
  for (std::uint32_t offset : offsets) {
    Shape glyph;
    ByteReader g = whole;
    const std::size_t at = table_at + offset;
    if (at < g.position() || at - g.position() > g.remaining()) {
      font.glyphs.push_back(std::move(glyph));
      continue;
    }
    g.Skip(at - g.position());
    ReadRecords(g, kind, ctx, glyph, false);
    font.glyphs.push_back(std::move(glyph));
  }
  // The code table and layout follow the offsets (and, in the file, the glyphs).
  if (code != TagCode::DefineFont) ReadFontLayout(r, whole, table_at, flags, font, ctx);
  if (code == TagCode::DefineFont2) ApplyCodePage(font, (flags & 0x40) != 0, ctx);
  return font;
}

std::optional<Shape> ReadDefineText(ByteReader& r, TagCode code, LoadContext& ctx) {
  Shape text;
  text.bounds = r.ReadRect();
  const Matrix matrix = r.ReadMatrix();
  const int glyph_bits = r.U8();
  const int advance_bits = r.U8();
  const Font* font = nullptr;
  float height = 0, x = 0, y = 0;
  std::uint16_t fill = 0;
  while (r.ok()) {
    const std::uint8_t flags = r.U8();
    if (flags == 0) break;
    if (flags & 0x08) {
      font = nullptr;
      if (const Character* c = ctx.movie.Find(r.U16())) {
        if (const auto* f = std::get_if<std::shared_ptr<const Font>>(c)) font = f->get();
      }
    }
    if (flags & 0x04) {
      if (!ctx.Append(text.fills,
                      FillStyle(code == TagCode::DefineText2 ? r.ReadRgba() : r.ReadRgb()))) {
        return text;
      }
      fill = std::uint16_t(std::min<std::size_t>(text.fills.size(), 0xFFFF));
    }
    if (flags & 0x01) x = r.S16();
    if (flags & 0x02) y = r.S16();
    if (flags & 0x08) height = r.U16();
    const int count = r.U8();
    for (int i = 0; i < count && r.ok(); ++i) {
      const std::uint32_t index = r.UB(glyph_bits);
      const float advance = float(r.SB(advance_bits));
      if (font && fill != 0 && index < font->glyphs.size()) {
        const float scale = height / font->em;
        const Matrix place = Matrix{scale, 0, 0, scale, x, y}.Then(matrix);
        for (const Edge& e : font->glyphs[index].edges) {
          if (!ctx.Append(text.edges, PlaceGlyphEdge(e, place, fill))) return text;
        }
      }
      x += advance;
    }
    r.Align();
  }
  return text;
}

}  // namespace swf
