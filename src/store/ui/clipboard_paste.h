#pragma once
// The picture on the clipboard as a new image.

namespace astrelon {

// Copies the clipboard's picture into the lowest free slot and shows it in a new
// window named "ClpBrd1.bmp" (the next free number). Without a picture nothing
// happens; without a free slot the user is told that too many images are open.
void PasteClipboardImage();

}  // namespace astrelon
