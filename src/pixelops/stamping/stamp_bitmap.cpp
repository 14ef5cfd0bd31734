#include "pixelops/stamping/stamp_bitmap.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "core/settings.h"
#include "shell/undo/undo_store.h"
#include "store/color_models.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// A float coverage mask, 0 no ink .. 1 full ink (the shading may go above 1).
struct TCoverage {
  int32_t Width = 0, Height = 0;
  std::vector<float> V;
  TCoverage(int32_t w, int32_t h) : Width(w), Height(h), V(size_t(std::max(w, 0)) * size_t(std::max(h, 0)), 0.0f) {}
  float& At(int32_t x, int32_t y) { return V[size_t(y) * size_t(Width) + size_t(x)]; }
  float At(int32_t x, int32_t y) const { return V[size_t(y) * size_t(Width) + size_t(x)]; }
};

// The work mask from the bitmap: block means for q = 2 or 4, a doubled copy of a
// 1:1 bitmap when the work area is twice the bitmap, else byte / 255.
TCoverage WorkMask(const TByteMask& bitmap, int32_t workW, int32_t workH) {
  TCoverage m(workW, workH);
  if (workW < 1 || workH < 1) return m;
  const int32_t q = bitmap.Width / workW;
  for (int32_t y = 0; y < workH; ++y)
    for (int32_t x = 0; x < workW; ++x) {
      float v = 0;
      if (q >= 2) {
        int sum = 0;
        for (int32_t j = 0; j < q; ++j)
          for (int32_t i = 0; i < q; ++i)
            if (bitmap.Inside(x * q + i, y * q + j)) sum += bitmap.At(x * q + i, y * q + j);
        v = float(sum) / float(255 * q * q);
      } else if (q == 0) {
        if (bitmap.Inside(x / 2, y / 2)) v = bitmap.At(x / 2, y / 2) / 255.0f;
      } else if (bitmap.Inside(x, y)) {
        v = bitmap.At(x, y) / 255.0f;
      }
      m.At(x, y) = v;
    }
  return m;
}

// The raised look: a Gaussian blur of the mask gives the slope, and the ink is
// brightened where the slope faces the light (upper left) and darkened elsewhere.
void ShadeThreeD(TCoverage& m, double r) {
  if (!(r > 0)) return;
  std::array<double, 256> g{};
  int K = 0;
  bool found = false;
  for (int i = 0; i < 256; ++i) {
    g[size_t(i)] = i / r > 100 ? 0.0 : std::exp(-(i / r) * (i / r));
    if (!found && g[size_t(i)] < 0.05) {
      K = i;
      found = true;
    }
  }
  double weightSum = g[0];
  for (int i = 1; i <= K; ++i) weightSum += 2 * g[size_t(i)];
  const int32_t w = m.Width, h = m.Height;
  TCoverage across(w, h), b(w, h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      double s = 0;
      for (int i = -K; i <= K; ++i)
        if (x + i >= 0 && x + i < w) s += g[size_t(std::abs(i))] * m.At(x + i, y);
      across.At(x, y) = float(s / weightSum);
    }
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      double s = 0;
      for (int i = -K; i <= K; ++i)
        if (y + i >= 0 && y + i < h) s += g[size_t(std::abs(i))] * across.At(x, y + i);
      b.At(x, y) = float(s / weightSum);
    }
  const double e = std::max(0.05, 0.05 * (5 - std::sqrt(r)));
  const double cap = 1.2 + r / 30;
  const double t = r / 3 + 0.5;
  for (int32_t y = 1; y + 1 < h; ++y)
    for (int32_t x = 1; x < w; ++x) {
      const float v = m.At(x, y);
      if (!(v > 0)) continue;
      const double gx = std::abs(0.15 + (b.At(x, y) - b.At(x - 1, y)) * t);
      const double gy = std::abs(0.15 + (b.At(x, y) - b.At(x, y + 1)) * t);
      m.At(x, y) = float(std::min(cap, 0.5 * v / (gx + gy + e)));
    }
}

TCoverage HalveByMeans(const TCoverage& m, int32_t w, int32_t h) {
  TCoverage out(w, h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      float s = 0;
      for (int32_t j = 0; j < 2; ++j)
        for (int32_t i = 0; i < 2; ++i)
          if (2 * x + i < m.Width && 2 * y + j < m.Height) s += m.At(2 * x + i, 2 * y + j);
      out.At(x, y) = s / 4;
    }
  return out;
}

// Pixel access in RGB whatever the colour model: a YUV pixel is converted on
// reading and back on writing.
struct TPixelRgb {
  std::array<float, 3> V{};
  int Count = 1;
};

TPixelRgb ReadPixel(const TImageSlot& im, size_t i, bool yuv) {
  TPixelRgb p;
  p.Count = std::clamp(im.PlaneCount, 1, 3);
  for (int k = 0; k < p.Count; ++k) p.V[size_t(k)] = im.Planes[size_t(k + 1)][i];
  if (yuv) {
    const TRgbPixel c = YuvToRgbPixel(p.V[0], p.V[1], p.V[2]);
    p.V = {c.R, c.G, c.B};
  }
  return p;
}

void WritePixel(TImageSlot& im, size_t i, const TPixelRgb& p, bool yuv) {
  if (yuv) {
    const TRgbPixel c = RgbToYuvPixel(p.V[0], p.V[1], p.V[2]);
    im.Planes[1][i] = c.R, im.Planes[2][i] = c.G, im.Planes[3][i] = c.B;
    return;
  }
  for (int k = 0; k < p.Count; ++k) im.Planes[size_t(k + 1)][i] = p.V[size_t(k)];
}

}  // namespace

TStampInk TextToolInk() {
  return {Settings.TextColour, Settings.TextOptions / 16, (Settings.TextStyle & 1) != 0};
}

void StampBitmapIntoImage(int slot, int32_t x, int32_t y, double factor, bool transparent, bool shadow, bool threeD,
                          const TByteMask& bitmap, int32_t scale, const TStampInk& ink) {
  if (!SlotInUse(slot) || scale < 1) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  const int planes = std::clamp(im.PlaneCount, 1, 3);
  for (int p = 1; p <= planes; ++p)
    if (im.Planes[size_t(p)].size() < im.PixelCount()) return;
  const int32_t w = bitmap.Width / scale, h = bitmap.Height / scale;
  if (w < 1 || h < 1) return;
  const bool doubled = threeD && ink.FontSize < 15;
  const int32_t workW = doubled ? 2 * w : w, workH = doubled ? 2 * h : h;

  const uint32_t colour = uint32_t(ink.Colour) & 0xFFFFFFu;
  const double R = colour & 255, G = (colour >> 8) & 255, B = (colour >> 16) & 255;
  const double grey = 0.3 * R + 0.59 * G + 0.11 * B;
  const TDisplayRecord& d = Store.Display[size_t(slot)];
  const double black = d.Black;
  const double white = d.White > d.Black ? double(d.White) : black + 0.001;
  const double s = (white - black) / 255;
  const bool colourImage = im.IsColor && planes == 3;
  const std::array<double, 3> ink3{(colourImage ? R : grey) * s + black, G * s + black, B * s + black};

  if (shadow)
    PushUndo(slot, 0, im.Width - 1, std::max(0, y - 7), std::min(im.Height - 1, y + h + 12));
  else
    PushUndo(slot, 0, im.Width - 1, std::max(0, y), std::min(im.Height - 1, y + h - 1));

  TCoverage m = WorkMask(bitmap, workW, workH);
  if (threeD) {
    double r = 0.1 * ink.FontSize * (double(workW) / w);
    if (ink.Bold) r *= 1.6;
    ShadeThreeD(m, r);
    if (doubled) m = HalveByMeans(m, w, h);
  }

  const bool yuv = colourImage && im.ColorModel == CmYuv;
  const size_t W = size_t(im.Width);
  if (shadow) {
    const double rs = std::min(10.0, 0.1 * ink.FontSize + 1);
    const int32_t ox = int32_t(std::nearbyint(0.6 * rs)), oy = int32_t(std::nearbyint(rs));
    // The shadow reads the unshaded mask around each pixel, so it is computed
    // from a copy before the picture changes.
    std::vector<float> shade;
    const int32_t sw = w + 20, sh = h + 20;
    shade.assign(size_t(sw) * size_t(sh), 0.0f);
    for (int32_t j = -7; j <= h + 12; ++j)
      for (int32_t i = -12; i <= w + 7; ++i) {
        double sum = 0;
        int n = 0;
        for (int k = -10; k <= 10; ++k)
          for (int l = -10; l <= 10; ++l) {
            if (std::sqrt(double(k * k + l * l)) >= rs) continue;
            ++n;
            const int32_t mx = i + l + ox, my = j + k - oy;
            if (mx >= 0 && my >= 0 && mx < w && my < h) sum += m.At(mx, my);
          }
        shade[size_t(j + 7) * size_t(sw) + size_t(i + 12)] = n > 0 ? float(sum / n) : 0.0f;
      }
    for (int32_t j = -7; j <= h + 12; ++j) {
      const int32_t py = y + j;
      if (py < 0 || py >= im.Height) continue;
      for (int32_t i = -12; i <= w + 7; ++i) {
        const int32_t px = x + i;
        if (px < 0 || px >= im.Width) continue;
        const double a = shade[size_t(j + 7) * size_t(sw) + size_t(i + 12)];
        if (!(a > 0)) continue;
        const double t = 1 - a * factor;
        const size_t idx = size_t(py) * W + size_t(px);
        TPixelRgb p = ReadPixel(im, idx, yuv);
        for (int k = 0; k < p.Count; ++k) {
          const double v = p.V[size_t(k)];
          if (v - black > 0) p.V[size_t(k)] = float(std::max(black, (v - black) * t + black));
        }
        WritePixel(im, idx, p, yuv);
      }
    }
  }

  for (int32_t j = 0; j < h; ++j) {
    const int32_t py = y + j;
    if (py < 0 || py >= im.Height) continue;
    for (int32_t i = 0; i < w; ++i) {
      const int32_t px = x + i;
      if (px < 0 || px >= im.Width) continue;
      const float mv = m.At(i, j);
      if (!(mv > 0)) continue;
      double alpha = mv;
      if (transparent) alpha *= factor;
      alpha = std::min(alpha, 1.0);
      const size_t idx = size_t(py) * W + size_t(px);
      TPixelRgb p = ReadPixel(im, idx, yuv);
      for (int k = 0; k < p.Count; ++k) {
        double old = p.V[size_t(k)];
        // A blank pixel (or one whose conversion ran away) counts as black.
        const bool blank = yuv ? (old <= -1e8 || (k == 1 && old >= 1e8)) : !(old > -1e9);
        if (blank) old = black;
        p.V[size_t(k)] = float(ink3[size_t(k)] * alpha + old * (1 - alpha));
      }
      WritePixel(im, idx, p, yuv);
    }
  }
  im.DataChanged = 1;
}

}  // namespace astrelon
