#pragma once
// Keyboard focus as Flash Player 8-10 moves it in ActionScript 1/2 movies: the order Tab walks
// and the events a change of focus sends. The player finds what may take the focus; this decides
// where it goes.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "swf/avm1/vm.h"

namespace swf {

// Something Tab may give the focus to, in the order the display list is walked (a clip before
// its children, lower depths first).
struct TabStop {
  avm1::Object* object = nullptr;
  float x = 0;  // the top left corner of its bounds on the stage, twips
  float y = 0;
  std::optional<int> tab_index;  // a script's tabIndex
};

// The order Tab walks. With any tabIndex set, only the stops with one, by index (equal ones in
// walking order); else by 6y + x of their corners (a line falling gently to the left sweeps the
// stage), of stops on one such line only the first walked.
std::vector<avm1::Object*> TabOrder(std::vector<TabStop> stops);

// Where Tab (Shift+Tab: `reverse`) goes from `current`: the next in `order`, round the end; from
// something outside the order, its first (last). Null for an empty order.
avm1::Object* NextTabStop(const std::vector<avm1::Object*>& order, avm1::Object* current,
                          bool reverse);

// Tells of a change of focus as Flash does: old.onKillFocus(next), next.onSetFocus(old), then
// Selection's listeners onSetFocus(old, next). Either may be null.
void AnnounceFocus(avm1::Vm& vm, avm1::Object* old, avm1::Object* next);

// A text field's `restrict`: the characters typing may enter. Ranges "a-z", "^" flipping between
// what is allowed and what isn't (a later mention wins), "\\" taking the next character as it
// is; a dash with nothing before starts at U+0000, one with nothing after ends nothing.
class Restrict {
 public:
  explicit Restrict(std::u32string_view chars);
  // What typing `c` enters: `c`, the other case of an ASCII letter that alone is allowed, or
  // nothing.
  [[nodiscard]] std::optional<char32_t> Filter(char32_t c) const;

 private:
  struct Rule {
    char32_t low;
    char32_t high;
    bool allow;
  };
  [[nodiscard]] bool Allows(char32_t c) const;
  std::vector<Rule> rules_;
  bool all_by_default_ = true;
};

// What typing `typed` into a field holding `length` characters of which `replaced` are selected
// enters: the characters `restrict` allows (none: all), newlines only in a multiline field, no
// other control character, and no more than `max_chars` (0: any) in all.
std::u32string TypedText(std::u32string_view typed, const std::optional<Restrict>& restrict,
                         bool multiline, std::size_t length, std::size_t replaced,
                         std::size_t max_chars);

}  // namespace swf
