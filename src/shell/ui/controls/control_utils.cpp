#include "shell/ui/controls/control_utils.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFontMetrics>
#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <vector>

#include "shell/display/user_palette.h"
#include "store/display/colour_tables.h"

namespace astrelon {

void FadeInForm(QWidget* form) {
  if (!form) return;
  if (form->isVisible()) {
    form->setWindowOpacity(1.0);
    return;
  }
  form->setWindowOpacity(20.0 / 255.0);
  form->show();
  QPointer<QWidget> target = form;
  for (int step = 1; step <= 4; ++step) {
    QTimer::singleShot(15 * step, form, [target, step] {
      if (target) target->setWindowOpacity(step == 4 ? 1.0 : (step * 64 - 1) / 255.0);
    });
  }
}

int ListBoxFitScrollWidth(QListWidget* list) {
  if (!list) return 0;
  const QFontMetrics metrics(list->font());
  int widest = 0;
  for (int i = 0; i < list->count(); ++i)
    widest = std::max(widest, metrics.horizontalAdvance(list->item(i)->text()));
  const int width = widest + 4;
  if (list->property("ScrollWidth").toInt() != width) list->setProperty("ScrollWidth", width);
  return width;
}

namespace {
QString AsciiLower(const QString& s) {
  QString out = s;
  for (QChar& c : out)
    if (c >= 'A' && c <= 'Z') c = QChar(c.unicode() + 32);
  return out;
}
}  // namespace

int SortedInsertIndex(const QStringList& items, const QString& text, int startIndex) {
  const QString folded = AsciiLower(text);
  for (const QString& item : items)
    if (AsciiLower(item) == folded) return -1;
  int pos = std::clamp(startIndex, 0, int(items.size()));
  while (pos < items.size()) {
    const QString& item = items[pos];
    const bool before = item.size() < text.size() || (item.size() == text.size() && item < text);
    if (!before) break;
    ++pos;
  }
  return pos;
}

int ListBoxInsertSorted(QListWidget* list, const QString& text, int startIndex) {
  if (!list) return -1;
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
  const int pos = SortedInsertIndex(items, text, startIndex);
  if (pos < 0) return -1;
  list->insertItem(pos, text);
  ListBoxFitScrollWidth(list);
  return pos;
}

void RecolourButtonGlyph(QAbstractButton* button, const QColor& colour) {
  if (!button) return;
  const QSize size = button->iconSize();
  QImage glyph = button->icon().pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
  if (glyph.isNull() || glyph.width() < 1 || glyph.height() < 1) return;
  const QRgb transparent = glyph.pixel(0, glyph.height() - 1);
  for (int y = 0; y < glyph.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(glyph.scanLine(y));
    for (int x = 0; x < glyph.width(); ++x)
      if (row[x] != transparent) row[x] = colour.rgb();
  }
  button->setIcon(QIcon(QPixmap::fromImage(glyph)));
}

QImage BrightenPngImage(const QImage& png, bool shiftUp) {
  QImage src = png.convertToFormat(QImage::Format_ARGB32);
  QImage out = src;
  const int w = src.width(), h = src.height();
  auto brighten = [](int v) { return int(std::clamp(std::nearbyint(v * 1.25 - 30.0), 0.0, 255.0)); };
  for (int y = 0; y < h; ++y) {
    const auto* in = reinterpret_cast<const QRgb*>(src.constScanLine(y));
    const int target = shiftUp ? y - 1 : y;
    if (target < 0) continue;  // row 0's own result has nowhere to go
    auto* row = reinterpret_cast<QRgb*>(out.scanLine(target));
    for (int x = 0; x < w; ++x)
      row[x] = qRgba(brighten(qRed(in[x])), brighten(qGreen(in[x])), brighten(qBlue(in[x])), qAlpha(in[x]));
  }
  if (shiftUp && h > 0) {
    auto* last = reinterpret_cast<QRgb*>(out.scanLine(h - 1));
    for (int x = 0; x < w; ++x) last[x] = qRgba(qRed(last[x]), qGreen(last[x]), qBlue(last[x]), 0);
  }
  return out;
}

bool PointOverControl(const QWidget* control, QPoint p) {
  if (!control) return false;
  const QPoint o = control->mapToGlobal(QPoint(0, 0));
  return p.x() >= o.x() && p.x() < o.x() + control->width() && p.y() >= o.y() - 2 && p.y() < o.y() + control->height();
}

QPixmap TextGlyph(QSize size, const QString& text, const QFont& font, const QColor& fontColour,
                  const QColor& fillColour) {
  const int cw = size.width(), h = size.height();
  if (cw < 4 || h < 4) return {};
  QPixmap glyph(size);
  glyph.fill(Qt::transparent);
  QPainter p(&glyph);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(fillColour);
  p.setBrush(fillColour);
  p.drawRoundedRect(QRectF(0, 0, cw, h - 1), h / 4 / 2.0, h / 4 / 2.0);
  p.setFont(font);
  p.setPen(fontColour);
  const QFontMetrics m(font);
  p.drawText((cw - m.horizontalAdvance(text)) / 2, (h - m.height()) / 2 + m.ascent(), text);
  return glyph;
}

void DrawTextGlyph(QAbstractButton* button, const QString& text, const QColor& fontColour, const QColor& fillColour) {
  if (!button) return;
  const QPixmap glyph = TextGlyph(button->iconSize(), text, button->font(), fontColour, fillColour);
  if (!glyph.isNull()) button->setIcon(QIcon(glyph));
}

void DrawCenteredCaption(QPixmap& picture, const QString& text, const QColor& fontColour) {
  if (picture.isNull()) return;
  picture.fill(QApplication::palette().button().color());
  QPainter p(&picture);
  QFont font = QApplication::font();
  font.setPointSize(8);
  p.setFont(font);
  p.setPen(fontColour);
  p.drawText(QRect(QPoint(0, 0), picture.size() / picture.devicePixelRatio()), Qt::AlignCenter, text);
}

QPixmap DisplayTypeGlyph(QSize cell, int displayType, const QFont& font, const QColor& textColour) {
  if (cell.width() < 1 || cell.height() < 1) return {};
  QPixmap glyph(cell);
  const QColor face = QApplication::palette().button().color();
  glyph.fill(face);
  const int h = cell.height();
  if (displayType >= 9) {
    QPixmap text(cell);
    DrawCenteredCaption(text, displayType == 9 ? "RGB" : "YUV", textColour);
    Q_UNUSED(font);
    return text;
  }
  // The square bar, centred in a wider cell; it needs three rows (one is left empty).
  if (h < 3) return glyph;
  const int side = std::min(cell.width(), h);
  const int left = (cell.width() - side) / 2;
  QImage bar(side, h, QImage::Format_RGB32);
  bar.fill(face);
  const std::vector<uint32_t> own = displayType == 8 ? OwnPalettePreview(std::max(1, side / 2), h - 1) : std::vector<uint32_t>();
  if (!own.empty()) {
    // The reduced palette picture: its bottom (bright) band at the top, under a one-pixel line.
    const int cols = std::max(1, side / 2), rows = h - 1;
    const int ox = (side - cols) / 2;
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c)
        bar.setPixel(ox + c, 1 + r, 0xFF000000u | own[size_t(rows - 1 - r) * size_t(cols) + size_t(c)]);
  } else {
    const TColourTable& table = ColourTableForType(displayType);
    for (int r = 0; r <= h - 2; ++r) {
      const int entry = displayType == 7 ? (1023 - r * 1023 / (h - 2)) % 256 : 255 - r * 255 / (h - 2);
      uint32_t c = 0xFF000000u | table[size_t(entry)];
      if (displayType == 2 && r % 5 == 4) c = 0xFFFFFFFFu;
      for (int x = 0; x < side; ++x) bar.setPixel(x, r, c);
    }
  }
  QPainter p(&glyph);
  p.drawImage(left, 0, bar);
  return glyph;
}

void DrawDisplayTypeGlyph(QAbstractButton* button, int displayType) {
  if (!button) return;
  const QPixmap glyph =
      DisplayTypeGlyph(button->iconSize(), displayType, button->font(), button->palette().buttonText().color());
  if (!glyph.isNull()) button->setIcon(QIcon(glyph));
}

QString CutCaption(const QString& caption, int textWidth, int area) {
  if (textWidth <= 0 || textWidth < area) return caption;
  const int keep = int(int64_t(caption.size()) * std::max(0, area - 2) / textWidth);
  return caption.left(keep) + "..";
}

QFileDialog* MakeParameterFileDialog(QWidget* parent, bool save, const QString& filter, const QString& suffix) {
  auto* d = new QFileDialog(parent);
  d->setOption(QFileDialog::DontUseNativeDialog, true);
  d->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  d->setNameFilter(filter);
  d->setDefaultSuffix(suffix);
  if (!save) d->setFileMode(QFileDialog::ExistingFile);
  return d;
}

}  // namespace astrelon
