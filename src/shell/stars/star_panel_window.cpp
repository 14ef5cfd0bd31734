#include "shell/stars/star_panel_window.h"

#include <algorithm>
#include <cmath>

#include "common/pascal_format.h"
#include "core/language.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Row access of the window's source: returns plane p's value at (x, y) or blank.
using TSampler = std::function<float(int p, int32_t x, int32_t y)>;

bool Measure(const TSampler& at, int planes, TPanelImageKind kind, int32_t x, int32_t y, int32_t w, int32_t h,
             TPanelWindow& out, const std::function<bool()>& overtaken) {
  out = TPanelWindow{};
  out.Kind = kind;
  const int statPlane = kind == TPanelImageKind::Rgb ? 2 : 1;
  const int rangePlanes = kind == TPanelImageKind::Rgb ? planes : 1;
  double sum = 0, sum2 = 0;
  float lo = 1e30f, hi = -1e30f;
  for (int32_t j = y - 7; j <= y + 7; ++j) {
    if (j < 0 || j >= h) continue;
    for (int32_t i = std::max(x - 7, 0); i <= std::min(x + 7, w - 1); ++i) {
      const float v = at(statPlane, i, j);
      for (int p = 1; p <= rangePlanes; ++p) {
        const float u = at(p, i, j);
        if (IsValidPixel(u)) lo = std::min(lo, u), hi = std::max(hi, u);
      }
      if (!IsValidPixel(v)) continue;
      ++out.Count;
      sum += v;
      sum2 += double(v) * v;
    }
    if (overtaken && overtaken()) return false;
  }
  if (out.Count == 0) return true;
  out.DC = sum / double(out.Count);
  const double var = sum2 / double(out.Count) - out.DC * out.DC;
  out.Rms = var > 0 ? std::sqrt(var) : 0;
  out.Min = lo;
  out.Max = hi;
  const double top = hi > lo ? hi : lo + 1.0;
  const double scale = 255.0 / (top - lo);
  for (int32_t j = 0; j < 15; ++j)
    for (int32_t i = 0; i < 15; ++i) {
      const int32_t ix = x - 7 + i, iy = y - 7 + j;
      if (ix < 0 || iy < 0 || ix >= w || iy >= h) continue;
      const size_t k = size_t(j * 15 + i);
      auto byteOf = [&](float v) { return uint8_t(std::clamp(std::nearbyint((double(v) - lo) * scale), 0.0, 255.0)); };
      const float v1 = at(1, ix, iy);
      if (!IsValidPixel(v1)) continue;
      if (kind == TPanelImageKind::Rgb && planes >= 3) {
        const float v2 = at(2, ix, iy), v3 = at(3, ix, iy);
        if (!IsValidPixel(v2) || !IsValidPixel(v3)) continue;
        out.Bytes[k] = {byteOf(v1), byteOf(v2), byteOf(v3)};
      } else {
        const uint8_t b = byteOf(v1);
        out.Bytes[k] = {b, b, b};
      }
      out.Drawn[k] = true;
    }
  return true;
}

}  // namespace

bool MeasurePanelWindow(int slot, int32_t x, int32_t y, TPanelWindow& w, const std::function<bool()>& overtaken) {
  if (!SlotInUse(slot)) {
    w = TPanelWindow{};
    return true;
  }
  const TImageSlot& img = Store.Image[size_t(slot)];
  const int planes = std::clamp(img.PlaneCount, 1, 3);
  const TPanelImageKind kind = !img.IsColor || planes < 3 ? TPanelImageKind::Grey
                               : img.ColorModel == CmYuv  ? TPanelImageKind::Yuv
                                                          : TPanelImageKind::Rgb;
  auto at = [&img](int p, int32_t i, int32_t j) {
    const auto& plane = img.Planes[size_t(p)];
    const size_t k = size_t(j) * size_t(img.Width) + size_t(i);
    return k < plane.size() ? plane[k] : BlankPixel;
  };
  return Measure(at, planes, kind, x, y, img.Width, img.Height, w, overtaken);
}

bool MeasurePsfArrayWindow(std::span<const float> psf, int32_t x, int32_t y, TPanelWindow& w) {
  auto at = [psf](int, int32_t i, int32_t j) {
    const size_t k = size_t(i) * 64 + size_t(j);
    return k < psf.size() ? psf[k] : BlankPixel;
  };
  return Measure(at, 1, TPanelImageKind::Grey, x, y, 64, 64, w, {});
}

std::string PanelNumberText(const std::string& prefix, double value) {
  return prefix + FloatToStrF(value, TFloatFormat::General, 5, 0);
}

std::string PanelDcPrefix(TPanelImageKind kind) {
  return kind == TPanelImageKind::Rgb ? "DCg: " : kind == TPanelImageKind::Yuv ? "DCy: " : "DC: ";
}

std::array<std::string, 4> PanelStatisticsTexts(const TPanelWindow& w) {
  std::array<std::string, 4> prefix{PanelDcPrefix(w.Kind), "rms: ", "max: ", "min: "};
  if (LanguageFileLoaded) {
    // Words of the panel's section: DC of RGB or grey images, rms, max, min.
    constexpr int KeyDcRgb = LangKey(3, 1, 6), KeyDcGrey = LangKey(3, 1, 1);
    if (w.Kind != TPanelImageKind::Yuv) prefix[0] = LangText(w.Kind == TPanelImageKind::Rgb ? KeyDcRgb : KeyDcGrey) + " ";
    prefix[1] = LangText(LangKey(3, 1, 2)) + " ";
    prefix[2] = LangText(LangKey(3, 5, 3)) + " ";
    prefix[3] = LangText(LangKey(3, 1, 4)) + " ";
  }
  return {PanelNumberText(prefix[0], w.DC), PanelNumberText(prefix[1], w.Rms), PanelNumberText(prefix[2], w.Max),
          PanelNumberText(prefix[3], w.Min)};
}

int32_t ProfileY(uint8_t byte) { return 58 - int32_t(std::nearbyint(double(byte) * 56.0 / 255.0)); }

}  // namespace astrelon
