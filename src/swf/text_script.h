#pragma once
// TextFormat objects as scripts see them, and their conversion to and from the formats of a text
// field's text.

#include "swf/avm1/vm.h"
#include "swf/text/text_field.h"

namespace swf {

// A script's 0xRRGGBB number as a colour.
Rgba RgbOf(avm1::Vm& vm, const avm1::Value& v, std::uint8_t alpha = 255);

// Defines the global `TextFormat` constructor; returns its prototype.
avm1::Object* InstallTextFormat(avm1::Vm& vm);
// TextFormat.getTextExtent(text, width) on `self`: the measures in a new object.
avm1::Value TextExtentObject(avm1::Vm& vm, TextFonts& fonts, const avm1::Value& self,
                             std::span<avm1::Value> args);
// A TextFormat object with the parts `f` has set, the others null.
avm1::Object* TextFormatObject(avm1::Vm& vm, const FormatChange& f);
// The parts of a script's TextFormat object that aren't null or undefined.
FormatChange FormatFromObject(avm1::Vm& vm, avm1::Object* o);

}  // namespace swf
