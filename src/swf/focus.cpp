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

Restrict::Restrict(std::u32string_view chars) {
  bool allow = true;
  std::optional<char32_t> last;  // a single character a dash may range from
  bool dash = false;             // a range waits for its end
  for (std::size_t i = 0; i < chars.size(); ++i) {
    char32_t c = chars[i];
    if (c == U'^') {
      allow = !allow;
      dash = false;
      last.reset();
      continue;
    }
    if (c == U'-') {
      // Even a range that never ends keeps out what it doesn't name.
      all_by_default_ = all_by_default_ && !allow;
      dash = true;
      continue;
    }
    if (c == U'\\') {
      if (++i == chars.size()) break;
      c = chars[i];
    }
    if (dash) {
      const char32_t low = last.value_or(0);
      if (low <= c) rules_.push_back({low, c, allow});
      dash = false;
      last.reset();
    } else {
      rules_.push_back({c, c, allow});
      last = c;
    }
  }
  all_by_default_ = all_by_default_ && std::none_of(rules_.begin(), rules_.end(),
                                                    [](const Rule& r) { return r.allow; });
}

bool Restrict::Allows(char32_t c) const {
  bool allowed = all_by_default_;
  for (const Rule& r : rules_) {
    if (c >= r.low && c <= r.high) allowed = r.allow;
  }
  return allowed;
}

std::optional<char32_t> Restrict::Filter(char32_t c) const {
  if (Allows(c)) return c;
  char32_t other = c;
  if (c >= U'a' && c <= U'z') other = c - U'a' + U'A';
  if (c >= U'A' && c <= U'Z') other = c - U'A' + U'a';
  if (other != c && Allows(other)) return other;
  return std::nullopt;
}

std::u32string TypedText(std::u32string_view typed, const std::optional<Restrict>& restrict,
                         bool multiline, std::size_t length, std::size_t replaced,
                         std::size_t max_chars) {
  std::u32string out;
  const std::size_t kept = length - std::min(length, replaced);
  for (char32_t c : typed) {
    if (max_chars > 0 && kept + out.size() >= max_chars) break;
    if (c == U'\n') c = U'\r';
    if (c == U'\r' ? !multiline : c < 0x20 || c == 0x7F) continue;
    if (restrict && c != U'\r') {
      const std::optional<char32_t> f = restrict->Filter(c);
      if (!f) continue;
      c = *f;
    }
    out.push_back(c);
  }
  return out;
}

}  // namespace swf
