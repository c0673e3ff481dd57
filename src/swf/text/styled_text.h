#pragma once
// A text field's text with its formats: plain text under one format, or the HTML subset Flash
// renders (<p>, <br>, <font face size color>, <b>, <i>, <u>, <li>, <textformat>, <a>, entities).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "swf/movie.h"

namespace swf {

struct TextFormat {
  // Characters.
  std::string font;  // a face name (UTF-8)
  float size = 240;  // twips
  Rgba color{0, 0, 0, 255};
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool kerning = false;
  float letter_spacing = 0;  // twips
  // Paragraphs: taken from the paragraph's first character.
  EditText::Align align = EditText::Align::Left;
  float left_margin = 0;  // twips
  float right_margin = 0;
  float indent = 0;
  float block_indent = 0;
  float leading = 0;
  bool bullet = false;
  std::vector<float> tab_stops;  // twips from the text's left edge; none: tabs take no stop
  std::string url;               // a link's
  std::string target;
  friend bool operator==(const TextFormat&, const TextFormat&) = default;
};

// Runs cover the text in order, run i up to (not including) `end`; '\n' ends a paragraph.
struct TextRun {
  std::size_t end = 0;
  TextFormat format;
};
struct StyledText {
  std::u32string text;
  std::vector<TextRun> runs;

  // The format of the character at `i` (the last run's past the end).
  [[nodiscard]] const TextFormat& FormatAt(std::size_t i) const;
  // Appends characters under `format`, up to `limit` characters in all.
  void Append(std::u32string_view chars, const TextFormat& format, std::size_t limit);
};

// "left", "right", "center" or "justify", as scripts and HTML name an alignment.
[[nodiscard]] const char* AlignName(EditText::Align a);

// Text of the file or of a script as code points: UTF-8, with any byte that isn't part of a
// valid sequence read as Latin-1 (the files of Flash 5 and before are in the system's code page).
// At most `limit` code points.
[[nodiscard]] std::u32string DecodeUtf8(std::string_view bytes, std::size_t limit);
[[nodiscard]] std::string EncodeUtf8(std::u32string_view text);

// Plain text under one format; "\r\n", '\r' and '\n' each end a paragraph.
[[nodiscard]] StyledText PlainText(std::string_view utf8, const TextFormat& format,
                                   std::size_t limit);
// HTML text on top of `base`: unknown tags are dropped, their text kept; anything malformed is
// read as far as it makes sense, never refused. Only a multiline field breaks lines at tags.
// Movies before Flash 8 (not `flash8`) drop the text between tags that is all blanks, and know no
// KERNING.
[[nodiscard]] StyledText HtmlText(std::string_view html, const TextFormat& base, std::size_t limit,
                                  bool multiline = false, bool flash8 = true);

}  // namespace swf
