#include "shell/ui/histogram/histogram_button_glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>

#include "store/display/bitmap_tools.h"

namespace astrelon {

namespace {

constexpr int Side = 16;
// The strip's transparent colour (its bottom-left pixel).
const QColor ClearColour(255, 0, 255);

void DrawGlyph(QPainter& g, THistogramGlyph glyph) {
  g.setPen(QPen(Qt::black, 1));
  switch (glyph) {
    case THistogramGlyph::SpanWidth:
      g.drawLine(2, 8, 13, 8);
      g.drawLine(2, 8, 5, 5);
      g.drawLine(2, 8, 5, 11);
      g.drawLine(13, 8, 10, 5);
      g.drawLine(13, 8, 10, 11);
      g.drawLine(1, 3, 1, 13);
      g.drawLine(14, 3, 14, 13);
      break;
    case THistogramGlyph::SqrtAxis: {
      QPainterPath curve;
      curve.moveTo(2, 13);
      for (int x = 3; x <= 13; ++x) curve.lineTo(x, 13 - 10 * std::sqrt((x - 2) / 11.0));
      g.drawPath(curve);
      g.drawLine(1, 14, 14, 14);
      break;
    }
    case THistogramGlyph::SoftGamma: {
      QPainterPath curve;
      curve.moveTo(2, 13);
      curve.cubicTo(5, 13, 7, 3, 13, 3);
      g.drawPath(curve);
      g.drawLine(1, 14, 14, 14);
      g.drawLine(1, 2, 1, 14);
      break;
    }
  }
}

}  // namespace

QImage HistogramGlyphStrip(THistogramGlyph glyph, QColor face) {
  QImage strip(4 * Side, Side, QImage::Format_RGB32);
  strip.fill(ClearColour);
  {
    QPainter g(&strip);
    g.setRenderHint(QPainter::Antialiasing, false);
    g.setClipRect(0, 0, Side, Side - 1);  // the bottom row keeps the clear colour
    DrawGlyph(g, glyph);
  }
  const TBitmapView view{strip.bits(), strip.width(), strip.height(), strip.bytesPerLine(), 4, nullptr};
  RecolorBitmap(view, RgbColor(uint32_t(face.red()), uint32_t(face.green()), uint32_t(face.blue())));
  return strip;
}

QIcon HistogramButtonIcon(THistogramGlyph glyph, QColor face) {
  const QImage strip = HistogramGlyphStrip(glyph, face);
  auto image = [&strip](int k) { return QPixmap::fromImage(strip.copy(k * Side, 0, Side, Side)); };
  QIcon icon;
  icon.addPixmap(image(0), QIcon::Normal, QIcon::Off);
  icon.addPixmap(image(1), QIcon::Disabled, QIcon::Off);
  icon.addPixmap(image(1), QIcon::Disabled, QIcon::On);
  icon.addPixmap(image(2), QIcon::Active, QIcon::Off);
  icon.addPixmap(image(3), QIcon::Normal, QIcon::On);
  icon.addPixmap(image(3), QIcon::Active, QIcon::On);
  return icon;
}

}  // namespace astrelon
