// Lookup tables of the display transfer.
#include "shell/display/display_lut.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// fn(first, last) over bands of the entries 0 .. n-1 on threads; each entry is
// computed on its own, so the split does not matter.
template <class F>
void ForEntryBands(int64_t n, F&& fn) {
  ForEachBand(n, BandThreads(n, 8192, Options.Multicore != 0), fn);
}

double RangeOf(const TDisplayRecord& d) { return std::max(double(d.White) - double(d.Black), 0.001); }

// Histogram bin (0..500) of a relative position; NaN gives 0.
int BinOfRelative(double r) {
  if (!(r >= 0)) return 0;
  return int(std::nearbyint(std::min(r, 1.0) * 500.0));
}

void FillEqualisation(std::vector<double>& out, int steps, double g, double scale, const TEqualisationInput& eq) {
  double total = 0;
  for (double c : eq.Counts) total += c;
  const double norm = total < 1 ? 1.0 : 1.0 / total;
  int64_t p = 0;
  double cum = 0;
  for (size_t k = 0; k < eq.Counts.size(); ++k) {
    const double h = eq.Counts[k];
    const double e = std::clamp(eq.Ends[k], -1.0, double(steps));
    const int64_t n = int64_t(std::trunc(e - double(p - 1)));
    if (n < 1) {  // an empty span: its pixels only raise the later entries
      cum += h;
      continue;
    }
    for (int64_t j = 0; j < n && p + j <= steps; ++j)
      out[size_t(p + j)] = (double(p + j) * (1 + g) / steps - (cum + double(j) * h / double(n)) * g * norm) * scale;
    p += n;
    cum += h;
  }
}

void FillPolygonCurve(std::vector<double>& out, const TDisplayRecord& d, int steps, double scale) {
  std::array<double, 7> x{}, y{};
  x[0] = d.Black;
  y[0] = 0;
  for (size_t k = 1; k <= 5; ++k) {
    x[k] = d.CurvePoints[k].X;
    y[k] = d.CurvePoints[k].Y;
  }
  x[6] = d.White;
  y[6] = 1;
  const double range = RangeOf(d);
  size_t s = 0;
  auto keepApart = [&] {
    if (x[s + 1] < x[s] + 0.0001) x[s + 1] = x[s] + 0.0001;
  };
  keepApart();
  for (int i = 0; i <= steps; ++i) {
    const double v = double(d.Black) + double(i) * range / steps;
    while (s < 5 && v > x[s + 1]) {
      ++s;
      keepApart();
    }
    out[size_t(i)] = (y[s] + (v - x[s]) * (y[s + 1] - y[s]) / (x[s + 1] - x[s])) * scale;
  }
}

}  // namespace

TEqualisationInput DisplayEqualisationInput(int slot, int steps) {
  TEqualisationInput eq;
  if (slot < 0 || slot >= SlotArraySize) return eq;
  const TDisplayRecord& d = Store.Display[slot];
  const TImageSlot& im = Store.Image[slot];
  std::array<double, HistogramBins> h{};
  for (int k = 0; k < HistogramBins; ++k) h[size_t(k)] = d.Histogram[0][size_t(k) + 1];
  if (im.IsColor && im.ColorModel == CmRgb) {
    if (im.PlaneCount >= 2)
      for (int k = 0; k < HistogramBins; ++k) h[size_t(k)] += d.Histogram[1][size_t(k) + 1] * 1.96666;
    if (im.PlaneCount >= 3)
      for (int k = 0; k < HistogramBins; ++k) h[size_t(k)] += d.Histogram[2][size_t(k) + 1] * 0.36916244140625;
  }
  const double range = RangeOf(d);
  const double axis = double(d.RangeHigh) - double(d.RangeLow);
  const bool sqrtScale = d.SqrtHistogram != 0;
  // The bins that cover black..white: the whole histogram when its axis spans
  // black..white, else black and white placed on the axis in its own scale.
  int i0 = 0, i1 = 500;
  if (!d.SpanBlackWhite) {
    double rb = (double(d.Black) - d.RangeLow) / axis;
    double rw = (double(d.White) - d.RangeLow) / axis;
    if (sqrtScale) {
      rb = std::sqrt(std::max(rb, 0.0));
      rw = std::sqrt(std::max(rw, 0.0));
    }
    i0 = BinOfRelative(rb);
    i1 = BinOfRelative(rw);
  }
  if (i0 >= i1) {
    ++i1;
    if (i1 > 500) {
      --i0;
      --i1;
    }
  }
  const double sb = std::sqrt(std::max(0.0, double(d.Black) - d.RangeLow));
  const double sw = std::sqrt(std::max(0.0, double(d.White) - d.RangeLow));
  for (int k = i0; k <= i1; ++k) {
    eq.Counts.push_back(h[size_t(k)]);
    double e;
    if (k == i1) {
      e = steps;
    } else if (!sqrtScale) {
      e = double(k - i0) * steps / double(i1 - i0 + 1);
    } else if (d.SpanBlackWhite) {
      const double w = (sw - sb) * 0.002;
      const double r = k * w + sb;
      e = (r * r + d.RangeLow - d.Black) * steps / range;
    } else {
      auto sq = [](int j) { return (j * 0.002) * (j * 0.002); };
      e = (sq(k) - sq(i0)) * steps / (sq(i1) - sq(i0));
    }
    eq.Ends.push_back(e);
  }
  return eq;
}

TTransferTable BuildTransfer(int slot, int steps, double scale, const TEqualisationInput* eq) {
  TTransferTable t;
  t.Values.assign(size_t(steps) + 1, 0.0);
  if (slot < 0 || slot >= SlotArraySize || steps < 2) return t;
  const TDisplayRecord& d = Store.Display[slot];
  const double range = RangeOf(d);
  const float gamma = d.Gamma;
  if (gamma == CurveModeGamma) {
    if (d.CurveMode) {
      LoadCurvePoints(slot);
      ForEntryBands(int64_t(steps) + 1, [&](int64_t first, int64_t last) {
        for (int64_t i = first; i < last; ++i)
          t.Values[size_t(i)] = EvaluateCurve(float(double(d.Black) + double(i) * range / steps)) * scale;
      });
    } else {
      t.Truncate = true;
      FillPolygonCurve(t.Values, d, steps, scale);
    }
  } else if (gamma > 0) {
    t.EvenOnly = true;
    if (!d.CurveMode) {
      const double e = 1.0 / gamma;
      ForEntryBands(steps / 2 + 1, [&](int64_t first, int64_t last) {
        for (int64_t i = 2 * first; i < 2 * last; i += 2) t.Values[size_t(i)] = std::pow(double(i) / steps, e) * scale;
      });
    } else {
      double e = 1.0 / gamma;
      double k = 1.1;
      if (e < 1) {
        e = e * e;
        k = 0.1 * e + 1;
      }
      const double a = 1 - 1 / k;
      const double p0 = std::pow(a, e);
      ForEntryBands(steps / 2 + 1, [&](int64_t first, int64_t last) {
        for (int64_t i = 2 * first; i < 2 * last; i += 2)
          t.Values[size_t(i)] = (std::pow(a + double(i) / (steps * k), e) - p0) / (1 - p0) * scale;
      });
    }
    t.Values[size_t(steps)] = scale;
  } else if (eq) {
    FillEqualisation(t.Values, steps, gamma, scale, *eq);
  } else {  // NaN gamma or no histogram: straight ramp
    for (int i = 0; i <= steps; ++i) t.Values[size_t(i)] = double(i) / steps * scale;
  }
  return t;
}

namespace {

template <class T, class Convert, class Middle>
std::vector<T> MakeIntegerLut(const TTransferTable& t, Convert convert, Middle middle, T top) {
  const size_t n = t.Values.size();
  std::vector<T> lut(std::max(n, LutSize - 1) + 1, T(0));
  ForEntryBands(int64_t(n), [&](int64_t first, int64_t last) {
    for (size_t i = size_t(first); i < size_t(last); ++i) {
      if (t.EvenOnly && (i & 1)) continue;
      const double v = t.Truncate ? std::trunc(t.Values[i]) : std::nearbyint(t.Values[i]);
      lut[i] = convert(v);
    }
  });
  if (t.EvenOnly) {
    for (size_t i = 1; i + 1 < n; i += 2) lut[i] = middle(lut[i - 1], lut[i + 1]);
    lut[n - 1] = top;
  }
  lut[lut.size() - 1] = T(0);  // blank pixels
  return lut;
}

int32_t ClampedInt(double v, double hi) {
  if (!(v > 0)) return 0;
  return int32_t(std::min(v, hi));
}

}  // namespace

std::vector<uint8_t> MakePlainLut(const TTransferTable& t) {
  return MakeIntegerLut<uint8_t>(
      t, [](double v) { return uint8_t(ClampedInt(v, 255)); },
      [](uint8_t l, uint8_t r) { return uint8_t((l + r + 1) / 2); }, uint8_t(255));
}

std::vector<uint8_t> MakeFourGradientLut(const TTransferTable& t) {
  return MakeIntegerLut<uint8_t>(
      t, [](double v) { return uint8_t(Clamp1023LowByte(ClampedInt(v, 1e6))); },
      [](uint8_t l, uint8_t r) { return std::abs(int(l) - int(r)) >= 51 ? l : uint8_t((l + r + 1) / 2); },
      uint8_t(Clamp1023LowByte(1023)));
}

std::vector<uint16_t> MakePaletteIndexLut(const TTransferTable& t) {
  return MakeIntegerLut<uint16_t>(
      t, [](double v) { return uint16_t(ClampedInt(v, 65535)); },
      [](uint16_t l, uint16_t r) { return uint16_t((uint32_t(l) + r + 1) / 2); }, uint16_t(65535));
}

std::vector<float> MakeFloatLut(const TTransferTable& t, double maxValue) {
  const size_t n = t.Values.size();
  std::vector<float> lut(n + 1, 0.0f);
  auto clampValue = [&](double v) { return v > 0 ? std::min(v, maxValue) : 0.0; };
  for (size_t i = 0; i < n; ++i)
    if (!(t.EvenOnly && (i & 1))) lut[i] = float(clampValue(t.Values[i]));
  if (t.EvenOnly) {
    for (size_t i = 1; i + 1 < n; i += 2) lut[i] = float((double(lut[i - 1]) + lut[i + 1]) / 2);
    lut[n - 1] = float(maxValue);
  }
  lut[n] = 0.0f;
  return lut;
}

}  // namespace astrelon
