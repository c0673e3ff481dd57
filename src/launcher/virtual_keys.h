#pragma once
// Windows virtual-key codes, the indexes of KeyState (window_parts.h): the launcher reads Esc and
// the left mouse button in the movie phase, and each platform fills the state by these codes as
// GetKeyboardState does. Windows' own values.

#include <cstdint>

namespace launcher::vk {

inline constexpr std::uint8_t kLeftButton = 0x01, kRightButton = 0x02, kMiddleButton = 0x04,
                              kX1Button = 0x05, kX2Button = 0x06;
inline constexpr std::uint8_t kCancel = 0x03, kBack = 0x08, kTab = 0x09, kClear = 0x0C,
                              kReturn = 0x0D;
inline constexpr std::uint8_t kShift = 0x10, kControl = 0x11, kMenu = 0x12, kPause = 0x13,
                              kCapital = 0x14;
inline constexpr std::uint8_t kKana = 0x15, kHanja = 0x19, kConvert = 0x1C, kNonConvert = 0x1D;
inline constexpr std::uint8_t kEscape = 0x1B, kSpace = 0x20, kPrior = 0x21, kNext = 0x22,
                              kEnd = 0x23, kHome = 0x24, kLeft = 0x25, kUp = 0x26, kRight = 0x27,
                              kDown = 0x28;
inline constexpr std::uint8_t kSelect = 0x29, kExecute = 0x2B, kSnapshot = 0x2C, kInsert = 0x2D,
                              kDelete = 0x2E, kHelp = 0x2F;
inline constexpr std::uint8_t kLeftWin = 0x5B, kRightWin = 0x5C, kApps = 0x5D, kSleep = 0x5F;
inline constexpr std::uint8_t kNumpad0 = 0x60, kMultiply = 0x6A, kAdd = 0x6B, kSeparator = 0x6C,
                              kSubtract = 0x6D, kDecimal = 0x6E, kDivide = 0x6F;
inline constexpr std::uint8_t kF1 = 0x70, kF13 = 0x7C;
inline constexpr std::uint8_t kNumLock = 0x90, kScroll = 0x91;
inline constexpr std::uint8_t kLeftShift = 0xA0, kRightShift = 0xA1, kLeftControl = 0xA2,
                              kRightControl = 0xA3, kLeftMenu = 0xA4, kRightMenu = 0xA5;
inline constexpr std::uint8_t kBrowserBack = 0xA6, kBrowserForward = 0xA7, kBrowserRefresh = 0xA8,
                              kBrowserStop = 0xA9, kBrowserSearch = 0xAA, kBrowserFavorites = 0xAB,
                              kBrowserHome = 0xAC;
inline constexpr std::uint8_t kVolumeMute = 0xAD, kVolumeDown = 0xAE, kVolumeUp = 0xAF,
                              kMediaNext = 0xB0, kMediaPrev = 0xB1, kMediaStop = 0xB2,
                              kMediaPlayPause = 0xB3, kLaunchMail = 0xB4, kMediaSelect = 0xB5,
                              kLaunchApp1 = 0xB6, kLaunchApp2 = 0xB7;
inline constexpr std::uint8_t kOem1 = 0xBA, kOemPlus = 0xBB, kOemComma = 0xBC, kOemMinus = 0xBD,
                              kOemPeriod = 0xBE, kOem2 = 0xBF, kOem3 = 0xC0, kOem4 = 0xDB,
                              kOem5 = 0xDC, kOem6 = 0xDD, kOem7 = 0xDE, kOem102 = 0xE2;
inline constexpr std::uint8_t kAbntC1 = 0xC1, kAbntC2 = 0xC2;
// What Windows keyboard layouts report for a key without a code of its own.
inline constexpr std::uint8_t kNone = 0xFF;

}  // namespace launcher::vk
