#include "pixelops/ui/stamping/text_mask.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <new>

namespace astrelon {

namespace {

constexpr int DotsPerMeter96 = 3780;  // 96 dots per inch

}  // namespace

QColor WindowsColour(int32_t value) {
  const uint32_t v = uint32_t(value);
  return QColor(int(v & 255), int((v >> 8) & 255), int((v >> 16) & 255));
}

int32_t WindowsColourValue(const QColor& c) { return int32_t(c.red() | (c.green() << 8) | (c.blue() << 16)); }

int32_t PointsToPixels(int32_t points) {
  return int32_t((int64_t(std::clamp(points, -100000, 100000)) * 96 + 36) / 72);
}

QImage MaskImage(int32_t w, int32_t h, bool colour) {
  QImage img(std::max(w, 1), std::max(h, 1), colour ? QImage::Format_RGB32 : QImage::Format_Grayscale8);
  img.setDotsPerMeterX(DotsPerMeter96);
  img.setDotsPerMeterY(DotsPerMeter96);
  img.fill(Qt::black);
  return img;
}

QFont TextToolFont(const std::string& family, int32_t style, double points) {
  QFont f(QString::fromStdString(family));
  f.setPointSizeF(std::max(points, 1.0));
  f.setBold(style & 1);
  f.setItalic(style & 2);
  f.setUnderline(style & 4);
  f.setStrikeOut(style & 8);
  return f;
}

TTextStamp RenderTextStamp(const QString& text, const QFont& font, int32_t points, bool smooth) {
  TTextStamp s;
  if (text.isEmpty()) return s;
  QFont f = font;
  s.Scale = smooth ? 4 : 1;
  f.setPointSizeF(std::max(1, points * s.Scale));
  QImage probe = MaskImage(1, 1, false);
  const QFontMetrics fm(f, &probe);
  const int32_t tw = fm.horizontalAdvance(text), th = fm.height();
  int32_t bw = tw, bh = th;
  if (smooth) {
    bw = (tw + 3) / 4 * 4;
    bh = (th + 3) / 4 * 4;
    s.Width = (tw + 3) / 4;
    s.Height = (th + 3) / 4;
  } else {
    s.Width = tw, s.Height = th;
  }
  if (bw < 1 || bh < 1) return {};
  QImage img = MaskImage(bw, bh, false);
  if (img.isNull()) return {};
  {
    QPainter p(&img);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QPointF(0, fm.ascent()), text);
  }
  s.Mask = TByteMask(bw, bh);
  for (int32_t y = 0; y < bh; ++y) std::copy_n(img.constScanLine(y), bw, &s.Mask.At(0, y));
  return s;
}

TTextAreaBitmap DrawTextArea(const TTextFrameLayout& layout, const TTextAreaDrawing& d) {
  const int32_t k = d.Smooth ? 4 : 1;
  TTextAreaBitmap out;
  out.Width = layout.ResultWidth * k;
  out.Height = layout.TextAreaHeight * k;
  out.Channels = d.Colour ? 3 : 1;
  out.Bytes.assign(size_t(out.Width) * size_t(out.Height) * size_t(out.Channels), 0);
  if (out.Width < 1 || out.Height < 1) return out;
  QImage img = MaskImage(out.Width, out.Height, d.Colour);
  if (img.isNull()) throw std::bad_alloc();
  img.fill(d.Background);
  {
    QPainter p(&img);
    QFont title = d.TitleFont, text = d.TextFont;
    title.setPixelSize(std::max(1, title.pixelSize() * k));
    text.setPixelSize(std::max(1, text.pixelSize() * k));
    if (!d.Title.isEmpty()) {
      const QFontMetrics fm(title, &img);
      const QRect box(layout.TitleX * k, layout.TitleY * k, fm.horizontalAdvance(d.Title), fm.height());
      p.fillRect(box, d.Background);
      p.setFont(title);
      p.setPen(d.TextColour);
      p.drawText(QPointF(box.left(), box.top() + fm.ascent()), d.Title);
    }
    const QFontMetrics fm(text, &img);
    p.setFont(text);
    p.setPen(d.TextColour);
    const int32_t n = int32_t(d.Lines.size());
    for (int32_t i = 0; i < n; ++i) {
      const QString& line = d.Lines[i];
      const int32_t w = fm.horizontalAdvance(line);
      int32_t x = layout.X0 * k;
      if (d.Alignment == TTextAlignment::Right) x = layout.XR * k - w;
      if (d.Alignment == TTextAlignment::Centre) x = layout.XR * k - w / 2;
      p.drawText(QPointF(x, layout.LineY(i, n) * k + fm.ascent()), line);
    }
  }
  for (int32_t y = 0; y < out.Height; ++y) {
    uint8_t* dst = out.Bytes.data() + size_t(y) * size_t(out.Width) * size_t(out.Channels);
    if (d.Colour) {
      const QRgb* src = reinterpret_cast<const QRgb*>(img.constScanLine(y));
      for (int32_t x = 0; x < out.Width; ++x) {
        dst[3 * x] = uint8_t(qRed(src[x]));
        dst[3 * x + 1] = uint8_t(qGreen(src[x]));
        dst[3 * x + 2] = uint8_t(qBlue(src[x]));
      }
    } else {
      std::copy_n(img.constScanLine(y), out.Width, dst);
    }
  }
  return out;
}

}  // namespace astrelon
