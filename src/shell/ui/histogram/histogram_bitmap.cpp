#include "shell/ui/histogram/histogram_bitmap.h"

#include <QPainter>
#include <algorithm>
#include <array>
#include <cstdint>

#include "shell/ui/histogram/histogram_geometry.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// $BBGGRR values by plane mask 1..7.
constexpr std::array<uint32_t, 8> RgbColours = {0, 0x0000C0, 0x00C000, 0x00A8B0, 0xFF0000, 0xE800C8, 0xB0A800, 0x909090};
constexpr std::array<uint32_t, 8> YuvColours = {0, 0x909090, 0xFF8000, 0xB08040, 0x0080FF, 0x4080B0, 0xC070D0, 0xA070B0};

QColor FromBgr(uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

// Pixels of a bar between heights `from` and `to` above the base line H + 2.
void BarSegment(QImage& img, int x, int from, int to, int H, QRgb colour) {
  const int top = std::max(H + 3 - to, 0);
  const int bottom = std::min(H + 2 - from, img.height() - 1);
  for (int y = top; y <= bottom; ++y) reinterpret_cast<QRgb*>(img.scanLine(y))[x] = colour;
}

}  // namespace

QColor HistogramPlaneColour(int mask, int colorModel) {
  const auto& table = colorModel == CmYuv ? YuvColours : RgbColours;
  return FromBgr(table[size_t(std::clamp(mask, 0, 7))]);
}

QImage DrawHistogramBitmap(int slot, int W, int H) {
  QImage img(W + 5, H + 4, QImage::Format_RGB32);
  img.fill(Qt::white);
  {
    QPainter p(&img);
    p.setPen(Qt::black);
    p.drawRect(0, 0, W + 4, H + 3);
  }
  if (!SlotInUse(slot)) return img;
  const TImageSlot& im = Store.Image[size_t(slot)];
  const TDisplayRecord& d = Store.Display[size_t(slot)];
  const int planes = im.IsColor ? std::clamp(im.PlaneCount, 1, 3) : 1;
  auto height = [&](int bin, int plane) { return BarHeight(d.Histogram[size_t(plane)][size_t(bin) + 1], d.HistogramPeak, H); };
  const QRgb grey = qRgb(0x60, 0x60, 0x60);
  for (int i = 0; i <= 500; ++i) {
    std::array<int, 3> h{};
    for (int p = 0; p < planes; ++p) h[size_t(p)] = height(i, p);
    if (i < 500 && BinColumn(i + 1, W) == BinColumn(i, W)) {
      ++i;
      for (int p = 0; p < planes; ++p) h[size_t(p)] = std::max(h[size_t(p)], height(i, p));
    }
    const int x = BinColumn(i, W);
    if (x < 0 || x >= img.width()) continue;
    if (planes < 3) {
      BarSegment(img, x, 0, h[0], H, grey);
      continue;
    }
    // Planes by height, lowest first; each segment in the colour of the planes that reach it.
    std::array<int, 3> order = {0, 1, 2};
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return h[size_t(a)] < h[size_t(b)]; });
    const int lo = h[size_t(order[0])], mid = h[size_t(order[1])], hi = h[size_t(order[2])];
    const int maskMid = (1 << order[1]) | (1 << order[2]);
    const int maskHi = 1 << order[2];
    BarSegment(img, x, 0, lo, H, HistogramPlaneColour(7, im.ColorModel).rgb());
    BarSegment(img, x, lo, mid, H, HistogramPlaneColour(maskMid, im.ColorModel).rgb());
    BarSegment(img, x, mid, hi, H, HistogramPlaneColour(maskHi, im.ColorModel).rgb());
  }
  return img;
}

}  // namespace astrelon
