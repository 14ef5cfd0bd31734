#pragma once
// Text drawn into coverage bitmaps: the text tool's stamp (8-bit grey, white on
// black, optionally at four times the size for smooth text) and the text area of
// a caption block (grey, or red, green and blue bytes for a colour image). All
// bitmaps are drawn at 96 dots per inch, so sizes do not depend on the screen.
#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "pixelops/stamping/stamp_mask.h"
#include "pixelops/stamping/text_frame.h"

namespace astrelon {

// A Windows colour value (red in the low byte; the fourth byte is ignored).
QColor WindowsColour(int32_t value);
int32_t WindowsColourValue(const QColor& c);

// Font height in pixels at 96 dots per inch for a size in points (rounded).
int32_t PointsToPixels(int32_t points);

// A black 8-bit grey (or RGB32 when `colour`) image at 96 dots per inch.
QImage MaskImage(int32_t w, int32_t h, bool colour);

// The text tool's font: family and style bits (bold 1, italic 2, underline 4,
// strike-out 8) at a size in points.
QFont TextToolFont(const std::string& family, int32_t style, double points);

// The text tool's stamp of `text`: the mask, its size in image pixels and the
// scale of the mask (4 for smooth text, drawn at four times the point size).
struct TTextStamp {
  TByteMask Mask;
  int32_t Width = 0, Height = 0, Scale = 1;
};
TTextStamp RenderTextStamp(const QString& text, const QFont& font, int32_t points, bool smooth);

// What the caption's text area shows.
struct TTextAreaDrawing {
  QFont TextFont;        // pixel size = the text height
  QFont TitleFont;       // pixel size = the title height
  QColor TextColour, Background;
  QString Title;
  QStringList Lines;     // the lines drawn (a last empty one left out)
  TTextAlignment Alignment = TTextAlignment::Left;
  bool Colour = false;   // three bytes per pixel
  bool Smooth = false;   // four times the size each way
};

// Draws the text area of the layout into a bitmap filled with the background;
// std::bad_alloc when the bitmap cannot be made.
TTextAreaBitmap DrawTextArea(const TTextFrameLayout& layout, const TTextAreaDrawing& d);

}  // namespace astrelon
