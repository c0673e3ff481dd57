#pragma once
// What the files of built-in objects share.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "swf/avm1/vm.h"

namespace swf::avm1 {

// An argument, undefined past the end.
Value Arg(std::span<Value> args, std::size_t i);
// A string's length as scripts count it: UTF-16 units.
std::size_t Utf16Length(const std::string& s);
// A string as UTF-16 units (one per element) and back; a lone surrogate comes back as U+FFFD.
std::u32string Utf16Units(const std::string& s);
std::string FromUtf16Units(std::u32string_view units);
// Appends one code point (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, std::uint32_t code_point);
// Flash Player's toLowerCase, which SWF 6 and older also use to compare names.
std::string LowerCase(const std::string& s);

}  // namespace swf::avm1
