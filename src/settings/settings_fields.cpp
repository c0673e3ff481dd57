#include "settings/settings_fields.h"

#include <string_view>

namespace launcher {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr int kEnd = std::char_traits<char>::eof();

bool IsBlank(int c) {
  return c == ' ' || c == '\t';
}
bool IsLineEnd(int c) {
  return c == '\r' || c == '\n';
}

// Reads a byte at a time and fails once a field has taken more than it may, so that neither a
// huge field nor a huge run of blanks or ignored text costs memory or time without bound.
class FieldCursor {
 public:
  explicit FieldCursor(std::istream& in) : in_(in) {}

  int Peek() { return in_.peek(); }
  int Take() {
    ++taken_;
    return in_.get();
  }
  [[nodiscard]] bool Exhausted() const { return taken_ > kMaxFieldBytes || in_.bad(); }

  // A line end is CR, CR LF or a lone LF (files edited on other systems have those).
  void TakeLineEnd() {
    if (Take() == '\r' && Peek() == '\n') Take();
  }

  // Takes the delimiter that ends a field. A comma that ends its line ("a,<line end>") is one
  // delimiter with that line end, so trailing commas don't produce empty fields.
  void TakeDelimiter() {
    const int c = Peek();
    if (c == ',') {
      Take();
      while (IsBlank(Peek())) Take();
      if (IsLineEnd(Peek())) TakeLineEnd();
    } else if (IsLineEnd(c)) {
      TakeLineEnd();
    }
  }

 private:
  std::istream& in_;
  std::size_t taken_ = 0;
};

}  // namespace

std::optional<std::string> ReadField(std::istream& in) {
  FieldCursor cursor(in);
  // Blanks before a field are skipped: spaces, and tabs, which an editor may put there.
  while (IsBlank(cursor.Peek()) && !cursor.Exhausted()) cursor.Take();
  if (cursor.Peek() == kEnd || cursor.Exhausted()) return std::nullopt;

  std::string field;
  if (cursor.Peek() == '"') {
    cursor.Take();
    // A quoted field ends at its closing quote; an unclosed one ends with its line, so a
    // forgotten quote can't swallow the rest of the file.
    while (cursor.Peek() != '"' && !IsLineEnd(cursor.Peek()) && cursor.Peek() != kEnd) {
      field += static_cast<char>(cursor.Take());
      if (cursor.Exhausted()) return std::nullopt;
    }
    if (cursor.Peek() == '"') {
      cursor.Take();
      // Text between the closing quote and the delimiter is ignored.
      while (cursor.Peek() != ',' && !IsLineEnd(cursor.Peek()) && cursor.Peek() != kEnd) {
        cursor.Take();
        if (cursor.Exhausted()) return std::nullopt;
      }
    }
  } else {
    // Unquoted: up to the comma or line end; a double quote inside is an ordinary character.
    while (cursor.Peek() != ',' && !IsLineEnd(cursor.Peek()) && cursor.Peek() != kEnd) {
      field += static_cast<char>(cursor.Take());
      if (cursor.Exhausted()) return std::nullopt;
    }
    // Blanks at the end of an unquoted field are not part of the name.
    while (!field.empty() && IsBlank(static_cast<unsigned char>(field.back()))) field.pop_back();
  }
  if (in.bad()) return std::nullopt;
  cursor.TakeDelimiter();
  // No file name holds a NUL; one here would silently cut the path short.
  if (field.find('\0') != std::string::npos) return std::nullopt;
  return field;
}

std::optional<std::array<std::string, 4>> ReadFourFields(std::istream& in) {
  std::array<std::string, 4> fields;
  for (auto& field : fields) {
    auto read = ReadField(in);
    if (!read) return std::nullopt;
    field = std::move(*read);
  }
  return fields;
}

// Notepad may save the file as UTF-8 with a byte-order mark; such a file means its names in
// UTF-8, and its mark is no part of the first name.
bool SkipUtf8Mark(std::istream& in) {
  char head[3] = {};
  in.read(head, sizeof head);
  if (in.gcount() == 3 && std::string_view(head, 3) == kUtf8Mark) return true;
  in.clear();
  in.seekg(0);
  return false;
}

}  // namespace launcher
