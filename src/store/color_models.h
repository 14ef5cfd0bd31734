#pragma once
// Colour models of three-plane images: RGB and YUV
// (Y = 0.299 R + 0.587 G + 0.114 B, U = 0.493 (B - Y), V = 0.877 (R - Y)).
namespace astrelon {

bool RGBtoYUV(int slot);
bool YUVtoRGB(int slot);
void ToggleColorModel(int slot);
bool ColorModelsDiffer(int slot1, int slot2);
// Display type from the image: 1 grey, 9 colour in RGB, 11 colour in YUV.
void SetDisplayColorType(int slot);

// Drops the undo entries of a slot; set by the undo store when it exists.
extern void (*ReleaseWindowUndoHook)(int slot);

}  // namespace astrelon
