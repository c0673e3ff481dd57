#include "linux/key_map.h"

#include <SDL_mouse.h>
#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <vector>

namespace launcher::sdl {
namespace {

constexpr std::uint8_t kDown = 0x80;

KeyState Hold(std::initializer_list<SDL_Scancode> scancodes, std::uint32_t buttons = 0) {
  std::vector<std::uint8_t> keyboard(SDL_NUM_SCANCODES, 0);
  for (const SDL_Scancode scancode : scancodes) keyboard[scancode] = 1;
  return BuildKeyState(keyboard, buttons);
}

std::vector<int> DownCodes(const KeyState& keys) {
  std::vector<int> codes;
  for (std::size_t code = 0; code < keys.size(); ++code) {
    if (keys[code] != 0) {
      EXPECT_EQ(keys[code], kDown) << "code " << code << " has more than the down bit";
      codes.push_back(static_cast<int>(code));
    }
  }
  return codes;
}

TEST(KeyMap, KeysTakeTheirWindowsCodesByUsPosition) {
  const std::pair<SDL_Scancode, int> expected[] = {
      {SDL_SCANCODE_A, 'A'},
      {SDL_SCANCODE_M, 'M'},
      {SDL_SCANCODE_Z, 'Z'},
      {SDL_SCANCODE_1, '1'},
      {SDL_SCANCODE_9, '9'},
      {SDL_SCANCODE_0, '0'},
      {SDL_SCANCODE_ESCAPE, 27},
      {SDL_SCANCODE_RETURN, 13},
      {SDL_SCANCODE_KP_ENTER, 13},
      {SDL_SCANCODE_SPACE, 32},
      {SDL_SCANCODE_TAB, 9},
      {SDL_SCANCODE_BACKSPACE, 8},
      {SDL_SCANCODE_F1, 0x70},
      {SDL_SCANCODE_F12, 0x7B},
      {SDL_SCANCODE_F13, 0x7C},
      {SDL_SCANCODE_F24, 0x87},
      {SDL_SCANCODE_KP_0, 0x60},
      {SDL_SCANCODE_KP_9, 0x69},
      {SDL_SCANCODE_KP_PERIOD, 0x6E},
      {SDL_SCANCODE_KP_DIVIDE, 0x6F},
      {SDL_SCANCODE_NUMLOCKCLEAR, 0x90},
      {SDL_SCANCODE_LEFT, 0x25},
      {SDL_SCANCODE_UP, 0x26},
      {SDL_SCANCODE_RIGHT, 0x27},
      {SDL_SCANCODE_DOWN, 0x28},
      {SDL_SCANCODE_INSERT, 0x2D},
      {SDL_SCANCODE_DELETE, 0x2E},
      {SDL_SCANCODE_HOME, 0x24},
      {SDL_SCANCODE_END, 0x23},
      {SDL_SCANCODE_PAGEUP, 0x21},
      {SDL_SCANCODE_PAGEDOWN, 0x22},
      {SDL_SCANCODE_SEMICOLON, 0xBA},
      {SDL_SCANCODE_EQUALS, 0xBB},
      {SDL_SCANCODE_COMMA, 0xBC},
      {SDL_SCANCODE_MINUS, 0xBD},
      {SDL_SCANCODE_PERIOD, 0xBE},
      {SDL_SCANCODE_SLASH, 0xBF},
      {SDL_SCANCODE_GRAVE, 0xC0},
      {SDL_SCANCODE_LEFTBRACKET, 0xDB},
      {SDL_SCANCODE_BACKSLASH, 0xDC},
      {SDL_SCANCODE_RIGHTBRACKET, 0xDD},
      {SDL_SCANCODE_APOSTROPHE, 0xDE},
      {SDL_SCANCODE_CAPSLOCK, 0x14},
      {SDL_SCANCODE_LGUI, 0x5B},
      {SDL_SCANCODE_APPLICATION, 0x5D},
  };
  for (const auto& [scancode, code] : expected) {
    EXPECT_EQ(VirtualKeyOf(scancode), code) << "scancode " << static_cast<int>(scancode);
    EXPECT_EQ(DownCodes(Hold({scancode})), std::vector<int>{code})
        << "scancode " << static_cast<int>(scancode);
  }
}

TEST(KeyMap, ModifiersAreDownUnderTheirGeneralAndTheirOwnCodes) {
  EXPECT_EQ(DownCodes(Hold({SDL_SCANCODE_LSHIFT})), (std::vector<int>{16, 160}));
  EXPECT_EQ(DownCodes(Hold({SDL_SCANCODE_RSHIFT})), (std::vector<int>{16, 161}));
  EXPECT_EQ(DownCodes(Hold({SDL_SCANCODE_LCTRL})), (std::vector<int>{17, 162}));
  EXPECT_EQ(DownCodes(Hold({SDL_SCANCODE_RCTRL})), (std::vector<int>{17, 163}));
  EXPECT_EQ(DownCodes(Hold({SDL_SCANCODE_LALT})), (std::vector<int>{18, 164}));
  EXPECT_EQ(DownCodes(Hold({SDL_SCANCODE_RALT})), (std::vector<int>{18, 165}));
  EXPECT_EQ(DownCodes(Hold({SDL_SCANCODE_LSHIFT, SDL_SCANCODE_RSHIFT, SDL_SCANCODE_A})),
            (std::vector<int>{16, 'A', 160, 161}));
}

TEST(KeyMap, MouseButtonsTakeTheButtonCodes) {
  EXPECT_EQ(DownCodes(Hold({}, SDL_BUTTON_LMASK)), std::vector<int>{1});
  EXPECT_EQ(DownCodes(Hold({}, SDL_BUTTON_RMASK)), std::vector<int>{2});
  EXPECT_EQ(DownCodes(Hold({}, SDL_BUTTON_MMASK)), std::vector<int>{4});
  EXPECT_EQ(DownCodes(Hold({}, SDL_BUTTON_X1MASK)), std::vector<int>{5});
  EXPECT_EQ(DownCodes(Hold({}, SDL_BUTTON_X2MASK)), std::vector<int>{6});
  EXPECT_EQ(DownCodes(Hold({SDL_SCANCODE_ESCAPE}, SDL_BUTTON_LMASK | SDL_BUTTON_RMASK)),
            (std::vector<int>{1, 2, 27}));
}

TEST(KeyMap, NothingHeldIsAllUp) {
  EXPECT_TRUE(DownCodes(Hold({})).empty());
  EXPECT_TRUE(DownCodes(BuildKeyState({}, 0)).empty());  // no keyboard state at all
}

TEST(KeyMap, EveryKeyCountsAndNoKeyPassesForAMouseButtonOrAGeneralModifier) {
  // The logo phase starts the movie on any key, so no key may be left without a code; and a key
  // must never read as the left mouse button, which closes the movie.
  for (int scancode = SDL_SCANCODE_A; scancode < SDL_NUM_SCANCODES; ++scancode) {
    const std::uint8_t code = VirtualKeyOf(static_cast<SDL_Scancode>(scancode));
    EXPECT_NE(code, 0) << "scancode " << scancode;
    for (const int reserved : {1, 2, 4, 5, 6, 16, 17, 18}) {
      EXPECT_NE(code, reserved) << "scancode " << scancode;
    }
  }
  EXPECT_EQ(VirtualKeyOf(SDL_SCANCODE_UNKNOWN), 0);
  EXPECT_EQ(VirtualKeyOf(static_cast<SDL_Scancode>(SDL_NUM_SCANCODES)), 0);
  EXPECT_EQ(VirtualKeyOf(SDL_SCANCODE_KP_HEXADECIMAL), 0xFF);  // a key Windows has no code for
}

}  // namespace
}  // namespace launcher::sdl
