#pragma once
// The pictures of the histogram window's three picture buttons: a glyph drawn
// into the first of four images of a strip, which RecolorBitmap turns into the
// button's states on the button-face colour (normal, disabled, pressed, down).
#include <QColor>
#include <QIcon>
#include <QImage>

namespace astrelon {

enum class THistogramGlyph {
  SpanWidth,  // SpeedButton1: a double arrow, the histogram spans black to white
  SqrtAxis,   // SpeedButton3: a root curve, the non-linear x axis
  SoftGamma,  // SpeedButton5: a soft curve, the softer gamma function
};

// The strip of four 16 x 16 images after RecolorBitmap with `face`.
QImage HistogramGlyphStrip(THistogramGlyph glyph, QColor face);
// The button's icon from that strip.
QIcon HistogramButtonIcon(THistogramGlyph glyph, QColor face);

}  // namespace astrelon
