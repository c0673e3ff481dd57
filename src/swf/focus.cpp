#include "swf/focus.h"

#include <algorithm>
#include <cmath>

#include "swf/avm1/objects.h"

namespace swf {

std::vector<avm1::Object*> TabOrder(std::vector<TabStop> stops) {
  std::vector<avm1::Object*> order;
  const bool custom = std::any_of(stops.begin(), stops.end(),
                                  [](const TabStop& s) { return s.tab_index.has_value(); });
  if (custom) {
    std::erase_if(stops, [](const TabStop& s) { return !s.tab_index; });
    std::stable_sort(stops.begin(), stops.end(), [](const TabStop& a, const TabStop& b) {
      return *a.tab_index < *b.tab_index;
    });
    for (const TabStop& s : stops) order.push_back(s.object);
    return order;
  }
  // Whole twips: stops placed alike by different matrices meet on one line.
  const auto key = [](const TabStop& s) {
    return 6 * std::llround(double(s.y)) + std::llround(double(s.x));
  };
  std::stable_sort(stops.begin(), stops.end(),
                   [&](const TabStop& a, const TabStop& b) { return key(a) < key(b); });
  for (std::size_t i = 0; i < stops.size(); ++i) {
    if (i > 0 && key(stops[i]) == key(stops[i - 1])) continue;
    order.push_back(stops[i].object);
  }
  return order;
}

avm1::Object* NextTabStop(const std::vector<avm1::Object*>& order, avm1::Object* current,
                          bool reverse) {
  if (order.empty()) return nullptr;
  const auto it = current ? std::find(order.begin(), order.end(), current) : order.end();
  if (it == order.end()) return reverse ? order.back() : order.front();
  const std::size_t at = std::size_t(it - order.begin());
  const std::size_t n = order.size();
  return order[reverse ? (at + n - 1) % n : (at + 1) % n];
}

void AnnounceFocus(avm1::Vm& vm, avm1::Object* old, avm1::Object* next) {
  const avm1::Value old_v = avm1::Value::Obj(old);
  const avm1::Value next_v = avm1::Value::Obj(next);
  if (old) {
    avm1::Value a[1] = {next_v};
    avm1::CallMethod(vm, old, "onKillFocus", a);
  }
  if (next) {
    avm1::Value a[1] = {old_v};
    avm1::CallMethod(vm, next, "onSetFocus", a);
  }
  const avm1::Value selection = vm.Get(vm.global, "Selection");
  if (!selection.IsObject()) return;
  const avm1::Value broadcast = vm.Get(selection.o, "broadcastMessage");
  if (!broadcast.IsObject() || broadcast.o->kind != avm1::Kind::Function) return;
  avm1::Value b[3] = {avm1::Value::Str("onSetFocus"), old_v, next_v};
  vm.CallSafe(broadcast.o, selection, b);
}

}  // namespace swf
