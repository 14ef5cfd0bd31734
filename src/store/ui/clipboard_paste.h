#pragma once
// The picture on the clipboard as a new image.

namespace astrelon {

// Copies the clipboard's picture into the lowest free slot and shows it in a new
// window named "ClpBrd1.bmp" (the next free number). Without a picture nothing
// happens; without a free slot the user is told that too many images are open.
// The picture is decoded up to the size the store's memory check allows; a
// picture that still cannot be had is reported.
void PasteClipboardImage();

}  // namespace astrelon
