#pragma once
// What the files of built-in objects share.
#include <span>

#include "swf/avm1/vm.h"

namespace swf::avm1 {

// An argument, undefined past the end.
Value Arg(std::span<Value> args, std::size_t i);
// A string's length as scripts count it: UTF-16 units.
std::size_t Utf16Length(const std::string& s);

}  // namespace swf::avm1
