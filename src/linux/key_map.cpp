#include "linux/key_map.h"

#include <SDL_mouse.h>

#include <array>
#include <utility>

#include "launcher/virtual_keys.h"

namespace launcher::sdl {
namespace {

constexpr std::size_t kTableSize = SDL_NUM_SCANCODES;

constexpr std::array<std::uint8_t, kTableSize> MakeTable() {
  std::array<std::uint8_t, kTableSize> table{};
  // Every key SDL can name counts as a key; the ones Windows gives a code to get it below.
  for (std::size_t i = 1; i < table.size(); ++i) table[i] = vk::kNone;

  for (int i = 0; i < 26; ++i) table[SDL_SCANCODE_A + i] = static_cast<std::uint8_t>('A' + i);
  for (int i = 0; i < 9; ++i) table[SDL_SCANCODE_1 + i] = static_cast<std::uint8_t>('1' + i);
  table[SDL_SCANCODE_0] = '0';
  for (int i = 0; i < 12; ++i) table[SDL_SCANCODE_F1 + i] = static_cast<std::uint8_t>(vk::kF1 + i);
  for (int i = 0; i < 12; ++i) {
    table[SDL_SCANCODE_F13 + i] = static_cast<std::uint8_t>(vk::kF13 + i);
  }
  for (int i = 0; i < 9; ++i) {
    table[SDL_SCANCODE_KP_1 + i] = static_cast<std::uint8_t>(vk::kNumpad0 + 1 + i);
  }

  constexpr std::pair<SDL_Scancode, std::uint8_t> kNamed[] = {
      {SDL_SCANCODE_RETURN, vk::kReturn},
      {SDL_SCANCODE_ESCAPE, vk::kEscape},
      {SDL_SCANCODE_BACKSPACE, vk::kBack},
      {SDL_SCANCODE_TAB, vk::kTab},
      {SDL_SCANCODE_SPACE, vk::kSpace},
      {SDL_SCANCODE_MINUS, vk::kOemMinus},
      {SDL_SCANCODE_EQUALS, vk::kOemPlus},
      {SDL_SCANCODE_LEFTBRACKET, vk::kOem4},
      {SDL_SCANCODE_RIGHTBRACKET, vk::kOem6},
      {SDL_SCANCODE_BACKSLASH, vk::kOem5},
      {SDL_SCANCODE_NONUSHASH, vk::kOem5},  // the same key position as the US backslash
      {SDL_SCANCODE_SEMICOLON, vk::kOem1},
      {SDL_SCANCODE_APOSTROPHE, vk::kOem7},
      {SDL_SCANCODE_GRAVE, vk::kOem3},
      {SDL_SCANCODE_COMMA, vk::kOemComma},
      {SDL_SCANCODE_PERIOD, vk::kOemPeriod},
      {SDL_SCANCODE_SLASH, vk::kOem2},
      {SDL_SCANCODE_CAPSLOCK, vk::kCapital},
      {SDL_SCANCODE_PRINTSCREEN, vk::kSnapshot},
      {SDL_SCANCODE_SCROLLLOCK, vk::kScroll},
      {SDL_SCANCODE_PAUSE, vk::kPause},
      {SDL_SCANCODE_INSERT, vk::kInsert},
      {SDL_SCANCODE_HOME, vk::kHome},
      {SDL_SCANCODE_PAGEUP, vk::kPrior},
      {SDL_SCANCODE_DELETE, vk::kDelete},
      {SDL_SCANCODE_END, vk::kEnd},
      {SDL_SCANCODE_PAGEDOWN, vk::kNext},
      {SDL_SCANCODE_RIGHT, vk::kRight},
      {SDL_SCANCODE_LEFT, vk::kLeft},
      {SDL_SCANCODE_DOWN, vk::kDown},
      {SDL_SCANCODE_UP, vk::kUp},
      {SDL_SCANCODE_NUMLOCKCLEAR, vk::kNumLock},
      {SDL_SCANCODE_KP_DIVIDE, vk::kDivide},
      {SDL_SCANCODE_KP_MULTIPLY, vk::kMultiply},
      {SDL_SCANCODE_KP_MINUS, vk::kSubtract},
      {SDL_SCANCODE_KP_PLUS, vk::kAdd},
      {SDL_SCANCODE_KP_ENTER, vk::kReturn},
      {SDL_SCANCODE_KP_0, vk::kNumpad0},
      {SDL_SCANCODE_KP_PERIOD, vk::kDecimal},
      {SDL_SCANCODE_KP_COMMA, vk::kSeparator},
      {SDL_SCANCODE_NONUSBACKSLASH, vk::kOem102},
      {SDL_SCANCODE_APPLICATION, vk::kApps},
      {SDL_SCANCODE_EXECUTE, vk::kExecute},
      {SDL_SCANCODE_HELP, vk::kHelp},
      {SDL_SCANCODE_SELECT, vk::kSelect},
      {SDL_SCANCODE_MUTE, vk::kVolumeMute},
      {SDL_SCANCODE_VOLUMEUP, vk::kVolumeUp},
      {SDL_SCANCODE_VOLUMEDOWN, vk::kVolumeDown},
      {SDL_SCANCODE_INTERNATIONAL1, vk::kAbntC1},  // Japanese "ro", Brazilian "/"
      {SDL_SCANCODE_INTERNATIONAL2, vk::kKana},
      {SDL_SCANCODE_INTERNATIONAL3, vk::kOem5},  // Japanese yen
      {SDL_SCANCODE_INTERNATIONAL4, vk::kConvert},
      {SDL_SCANCODE_INTERNATIONAL5, vk::kNonConvert},
      {SDL_SCANCODE_LANG1, vk::kKana},  // Korean Hangul shares the code
      {SDL_SCANCODE_LANG2, vk::kHanja},
      {SDL_SCANCODE_KP_EQUALSAS400, vk::kAbntC2},
      {SDL_SCANCODE_CANCEL, vk::kCancel},
      {SDL_SCANCODE_CLEAR, vk::kClear},
      {SDL_SCANCODE_PRIOR, vk::kPrior},
      {SDL_SCANCODE_RETURN2, vk::kReturn},
      {SDL_SCANCODE_SEPARATOR, vk::kSeparator},
      {SDL_SCANCODE_KP_CLEAR, vk::kClear},
      {SDL_SCANCODE_LCTRL, vk::kLeftControl},
      {SDL_SCANCODE_LSHIFT, vk::kLeftShift},
      {SDL_SCANCODE_LALT, vk::kLeftMenu},
      {SDL_SCANCODE_LGUI, vk::kLeftWin},
      {SDL_SCANCODE_RCTRL, vk::kRightControl},
      {SDL_SCANCODE_RSHIFT, vk::kRightShift},
      {SDL_SCANCODE_RALT, vk::kRightMenu},
      {SDL_SCANCODE_RGUI, vk::kRightWin},
      {SDL_SCANCODE_AUDIONEXT, vk::kMediaNext},
      {SDL_SCANCODE_AUDIOPREV, vk::kMediaPrev},
      {SDL_SCANCODE_AUDIOSTOP, vk::kMediaStop},
      {SDL_SCANCODE_AUDIOPLAY, vk::kMediaPlayPause},
      {SDL_SCANCODE_AUDIOMUTE, vk::kVolumeMute},
      {SDL_SCANCODE_MEDIASELECT, vk::kMediaSelect},
      {SDL_SCANCODE_MAIL, vk::kLaunchMail},
      {SDL_SCANCODE_CALCULATOR, vk::kLaunchApp2},
      {SDL_SCANCODE_COMPUTER, vk::kLaunchApp1},
      {SDL_SCANCODE_AC_SEARCH, vk::kBrowserSearch},
      {SDL_SCANCODE_AC_HOME, vk::kBrowserHome},
      {SDL_SCANCODE_AC_BACK, vk::kBrowserBack},
      {SDL_SCANCODE_AC_FORWARD, vk::kBrowserForward},
      {SDL_SCANCODE_AC_STOP, vk::kBrowserStop},
      {SDL_SCANCODE_AC_REFRESH, vk::kBrowserRefresh},
      {SDL_SCANCODE_AC_BOOKMARKS, vk::kBrowserFavorites},
      {SDL_SCANCODE_SLEEP, vk::kSleep},
      {SDL_SCANCODE_APP1, vk::kLaunchApp1},
      {SDL_SCANCODE_APP2, vk::kLaunchApp2},
  };
  for (const auto& [scancode, code] : kNamed) table[scancode] = code;
  return table;
}

constexpr auto kTable = MakeTable();

}  // namespace

std::uint8_t VirtualKeyOf(SDL_Scancode scancode) {
  const auto index = static_cast<std::size_t>(scancode);
  return index < kTable.size() ? kTable[index] : 0;
}

KeyState BuildKeyState(std::span<const std::uint8_t> keyboard, std::uint32_t mouse_buttons) {
  KeyState keys{};
  const auto press = [&](std::uint8_t code) {
    if (code != 0) keys[code] = kKeyDown;
  };

  for (std::size_t i = 0; i < keyboard.size() && i < kTable.size(); ++i) {
    if (keyboard[i] != 0) press(kTable[i]);
  }
  // The general codes are down whenever either hand's key is.
  const auto either = [&](std::uint8_t general, std::uint8_t left, std::uint8_t right) {
    if (keys[left] != 0 || keys[right] != 0) press(general);
  };
  either(vk::kShift, vk::kLeftShift, vk::kRightShift);
  either(vk::kControl, vk::kLeftControl, vk::kRightControl);
  either(vk::kMenu, vk::kLeftMenu, vk::kRightMenu);

  constexpr std::pair<std::uint32_t, std::uint8_t> kButtons[] = {
      {SDL_BUTTON_LMASK, vk::kLeftButton},   {SDL_BUTTON_RMASK, vk::kRightButton},
      {SDL_BUTTON_MMASK, vk::kMiddleButton}, {SDL_BUTTON_X1MASK, vk::kX1Button},
      {SDL_BUTTON_X2MASK, vk::kX2Button},
  };
  for (const auto& [mask, code] : kButtons) {
    if ((mouse_buttons & mask) != 0) press(code);
  }
  return keys;
}

}  // namespace launcher::sdl
