#pragma once
// Inverting an image within its display range.
namespace astrelon {

// On the channels selected for display, inside the working rectangle: every
// valid pixel v becomes White - v + Black (Black and White of the slot's display
// record, read once); the chroma planes 2 and 3 of an image in the YUV model are
// negated instead. Blank pixels and the display range stay as they are. False,
// with nothing changed, when the slot holds no image or running workers hold it.
bool InvertImage(int slot);

}  // namespace astrelon
