#pragma once
// Keyboard focus as Flash Player 8-10 moves it in ActionScript 1/2 movies: the order Tab walks
// and the events a change of focus sends. The player finds what may take the focus; this decides
// where it goes.

#include <optional>
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

}  // namespace swf
