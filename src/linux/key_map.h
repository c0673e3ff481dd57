#pragma once
// SDL's keyboard and mouse-button state as the Windows key-state array: 256 entries by virtual-key
// code, bit 7 set for a key that is down. Keys are placed by their position on a US keyboard.

#include <SDL_scancode.h>

#include <cstdint>
#include <span>

#include "launcher/window_parts.h"

namespace launcher::sdl {

// The virtual-key code of a physical key; 0xFF for a key that has no code of its own (as Windows
// keyboard layouts report such keys), 0 for SDL_SCANCODE_UNKNOWN and codes beyond the table.
[[nodiscard]] std::uint8_t VirtualKeyOf(SDL_Scancode scancode);

// keyboard: SDL_GetKeyboardState's array, one entry per scancode; mouse_buttons: the mask that
// SDL_GetMouseState returns. Shift, Ctrl and Alt are also reported under their general codes.
[[nodiscard]] KeyState BuildKeyState(std::span<const std::uint8_t> keyboard,
                                     std::uint32_t mouse_buttons);

}  // namespace launcher::sdl
