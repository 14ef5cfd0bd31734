#pragma once
// Pictures for the window system and the open dialog's preview control: a
// rendered bitmap or a decoded picture wrapped as an image, and a picture
// stretched into the preview box.
#include <QImage>

#include "common/picture.h"
#include "store/display/display_bitmap.h"

class QLabel;

namespace astrelon {

// The bitmap as an image that refers to its pixels (valid while the bitmap is
// unchanged): 8-bit with its colour table, or 24-bit.
QImage BitmapImage(const TDisplayBitmap& bitmap);
// An 8-bit grey or RGB picture as an image that refers to its samples; a null
// image for other pictures.
QImage PictureImage(const TPicture& picture);
// The image as an 8-bit RGB picture.
TPicture ImagePicture(const QImage& image);

// Draws the picture into the preview control at the place PreviewPlacement
// gives (wide pictures 280 wide, tall ones 186 high), scaled down smoothly.
void StretchPreviewToControl(QLabel* control, const QImage& image);

}  // namespace astrelon
