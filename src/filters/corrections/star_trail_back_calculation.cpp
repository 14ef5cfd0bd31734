#include "filters/corrections/star_trail_back_calculation.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "filters/dialog/filter_state.h"
#include "kernels/gauss/filter_rows.h"
#include "kernels/network/network_training.h"
#include "store/display/display_histogram.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

constexpr float Far = 1e18f;

// The mean of the two smallest valid values seen, the one when only one was,
// else blank.
struct TTwoSmallest {
  float M1 = Far, M2 = Far;
  void Add(float v) {
    if (!IsValidPixel(v)) return;
    if (v < M1) {
      M2 = M1;
      M1 = v;
    } else if (v < M2) {
      M2 = v;
    }
  }
  float Mean() const {
    if (M1 >= Far) return BlankPixel;
    return M2 >= Far ? M1 : (M1 + M2) / 2;
  }
};

// One plane's figures and buffers.
struct TTrailPlane {
  const float* S = nullptr;  // source plane
  float* D = nullptr;        // destination plane
  int32_t Width = 0;
  TWorkRect R;
  int32_t Cols = 0, Rows = 0;
  int32_t W = 1, K = 0;
  float Noise = 0, Low = 0, High = 0, Minimum = 0, Span = 1;
  TUpdateWindow G{};
  std::vector<float> F;  // the floor, Cols x Rows
  float& Floor(int32_t i, int32_t j) { return F[size_t(j) * size_t(Cols) + size_t(i)]; }
  const float* SrcRow(int32_t j) const { return S + int64_t(R.y1 + j) * Width; }
  float* DstRow(int32_t j) const { return D + int64_t(R.y1 + j) * Width; }
};

// Step 1: the floor from the two smallest source values of each trail.
void TrailFloor(TTrailPlane& t, int64_t j0, int64_t j1) {
  for (int64_t j = j0; j < j1; ++j) {
    const float* s = t.SrcRow(int32_t(j));
    for (int32_t i = 0; i < t.Cols; ++i) {
      const int32_t x = t.R.x1 + i;
      TTwoSmallest m;
      for (int32_t u = x; u <= std::min(x + t.W - 1, t.Width - 1); ++u) m.Add(s[u]);
      float f = BlankPixel;
      if (m.M1 < Far) f = (m.M2 < Far ? (m.M1 + m.M2) / 2 : m.M1) + t.Noise;
      t.Floor(i, int32_t(j)) = f;
    }
  }
}

// Step 2: the floor smoothed down the columns over neighbours close to it,
// mixed into the destination.
void SmoothFloorIntoDestination(TTrailPlane& t, int64_t j0, int64_t j1) {
  const float gate = 3 * t.Noise;
  for (int64_t j = j0; j < j1; ++j) {
    float* d = t.DstRow(int32_t(j)) + t.R.x1;
    const int32_t a = std::min(int32_t(j), t.K), b = std::min(t.K, t.Rows - int32_t(j) - 1);
    for (int32_t i = 0; i < t.Cols; ++i) {
      const float c = t.Floor(i, int32_t(j));
      if (!IsValidPixel(c)) {
        d[i] = BlankPixel;
        continue;
      }
      double sum = 0, weights = 0;
      for (int32_t o = -a; o <= b; ++o) {
        const float v = t.Floor(i, int32_t(j) + o);
        if (!IsValidPixel(v) || std::fabs(v - c) > gate) continue;
        const double g = t.G[size_t(NetworkMaxUpdateHalfWidth + o)];
        sum += g * v;
        weights += g;
      }
      const float mean = weights > 0 ? float(sum / weights) : c;
      d[i] = IsValidPixel(d[i]) ? 0.05f * d[i] + 0.95f * mean : mean;
    }
  }
}

// Step 3: the floor becomes the minimum of the destination along the rows.
void RowMinimum(TTrailPlane& t, int64_t j0, int64_t j1) {
  for (int64_t j = j0; j < j1; ++j) {
    const float* d = t.DstRow(int32_t(j)) + t.R.x1;
    for (int32_t i = 0; i < t.Cols; ++i) {
      TTwoSmallest m;
      for (int32_t u = i - std::min(i, t.K); u <= i + std::min(t.K, t.Cols - i - 1); ++u) m.Add(d[u]);
      t.Floor(i, int32_t(j)) = m.Mean();
    }
  }
}

// Step 4: the same on the floor itself down the columns [i0, i1), in place.
void ColumnMinimum(TTrailPlane& t, int64_t i0, int64_t i1) {
  const int32_t k = t.K / 2 + 1;
  for (int32_t j = 0; j < t.Rows; ++j)
    for (int64_t i = i0; i < i1; ++i) {
      TTwoSmallest m;
      for (int32_t v = j - std::min(j, k); v <= j + std::min(k, t.Rows - j - 1); ++v) m.Add(t.Floor(int32_t(i), v));
      t.Floor(int32_t(i), j) = m.Mean();
    }
}

// Step 5: five sweeps over row j pulling its trailing mean towards the source.
void CorrectRow(TTrailPlane& t, int32_t j, std::vector<double>& sums, std::vector<float>& m,
                std::vector<float>& e) {
  const float* s = t.SrcRow(j);
  float* d = t.DstRow(j);
  const int32_t x1 = t.R.x1, x2 = t.R.x2, first = std::max(x1 - t.W + 1, 0);
  const int32_t cols = t.Cols;
  // Prefix sums over the image columns first..x2: valid values and counts (M),
  // then low and high residual sums and counts (E).
  const size_t span = size_t(x2 - first + 2);
  sums.assign(6 * span, 0.0);
  double* sv = sums.data();
  double* sc = sv + span;
  double* lo = sc + span;
  double* lc = lo + span;
  double* hi = lc + span;
  double* hc = hi + span;
  const float root = std::sqrt(float(t.W));
  for (int32_t sweep = 1; sweep <= 5; ++sweep) {
    const float gateWidth = 7 * t.Noise / float(sweep);
    // Trailing mean M of the destination at the rectangle's columns.
    for (int32_t x = first; x <= x2; ++x) {
      const size_t k = size_t(x - first);
      const bool valid = IsValidPixel(d[x]);
      sv[k + 1] = sv[k] + (valid ? double(d[x]) : 0.0);
      sc[k + 1] = sc[k] + (valid ? 1.0 : 0.0);
    }
    for (int32_t i = 0; i < cols; ++i) {
      const int32_t x = x1 + i;
      const size_t a = size_t(std::max(x - t.W + 1, 0) - first), b = size_t(x - first + 1);
      const double n = sc[b] - sc[a];
      m[size_t(i)] = n > 0 ? float((sv[b] - sv[a]) / n) : BlankPixel;
    }
    // Residual E of the source against M over the trail starting at each column.
    for (int32_t i = 0; i < cols; ++i) {
      const float v = s[x1 + i], mv = m[size_t(i)];
      double l = 0, lcount = 0, h = 0, hcount = 0;
      if (IsValidPixel(v) && IsValidPixel(mv)) {
        if (v < t.High) {
          l = double(v) - mv;
          lcount = 1;
        } else if (v > mv) {
          h = double(v) - mv;
          hcount = 1;
        }
      }
      lo[i + 1] = lo[i] + l;
      lc[i + 1] = lc[i] + lcount;
      hi[i + 1] = hi[i] + h;
      hc[i + 1] = hc[i] + hcount;
    }
    const double half = double(t.W / 2);
    for (int32_t i = 0; i < cols; ++i) {
      const size_t a = size_t(i), b = size_t(std::min(i + t.W, cols));
      const double sl = lo[b] - lo[a], cl = lc[b] - lc[a], sh = hi[b] - hi[a], ch = hc[b] - hc[a];
      float r = BlankPixel;
      if (cl > half || (ch == 0 && cl > 0)) r = float(sl / cl);
      else if (ch > 0) r = float((0.3 * sh + sl) / (0.3 * ch + cl));
      e[size_t(i)] = r;
    }
    // The correction of every pixel above the low level.
    const float mix = 0.1f * float(sweep - 1);
    for (int32_t i = 0; i < cols; ++i) {
      float& out = d[x1 + i];
      const float r = e[size_t(i)], f = t.Floor(i, j);
      if (!(out > t.Low) || !IsValidPixel(r) || !IsValidPixel(f)) continue;
      const float base = f * (1 - mix) + t.Minimum * mix;
      float q = out - base;
      if (q < gateWidth) {
        if (q >= 0) q = (q / gateWidth) * (q / gateWidth) / (60 * t.Noise);
      } else {
        q = (q - gateWidth / 2) / (30 * t.Noise);
      }
      q += 0.04f * float(sweep - 1);
      if (q > 0) q = std::sqrt(q);
      q = std::clamp(q, 0.0f, 1.0f);
      const float gain = r <= 0 ? r / (r - t.Noise / root) : r / (r + t.Noise / root) + r * 3 / t.Span;
      out = std::max(out + gain * q * r, t.Low);
    }
  }
}

// Smallest and largest valid value of a plane (0 and 0 when none is valid).
void PlaneExtremes(const TImageSlot& im, int p, float& lo, float& hi) {
  lo = Far;
  hi = -Far;
  for (const float v : im.Planes[size_t(p)])
    if (IsValidPixel(v)) {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  if (lo > hi) lo = hi = 0;
}

}  // namespace

int32_t StarTrailHalfWidth(int32_t w) {
  const double k = std::trunc(std::sqrt(double(std::max(w, 1))) - 0.3);
  return std::clamp(int32_t(k), 0, NetworkMaxUpdateHalfWidth);
}

bool StrichspurZurueckrechnen(int source, int destination, int32_t w, float threshold, const TWorkRect& rectIn,
                              TFilterPoll& poll) {
  FilterAborted = false;
  if (!SlotInUse(source) || !ValidSlot(destination) || !std::isfinite(threshold)) return true;
  const TImageSlot& src = Store.Image[size_t(source)];
  TImageSlot& dst = Store.Image[size_t(destination)];
  const int32_t width = src.Width, height = src.Height;
  if (width < 1 || height < 1 || dst.Width != width || dst.Height != height) return true;
  const TWorkRect rect{std::max(rectIn.x1, 0), std::min(rectIn.x2, width - 1), std::max(rectIn.y1, 0),
                       std::min(rectIn.y2, height - 1)};
  if (rect.x1 > rect.x2 || rect.y1 > rect.y2) return true;
  w = std::max(w, 1);
  poll.SetCaption("Berechne...");

  const int planes = std::min(src.PlaneCount, 3);
  const size_t count = src.PixelCount();
  float overallLo = Far, overallHi = -Far;
  for (int p = 1; p <= planes; ++p) {
    if (src.Planes[size_t(p)].size() != count) continue;
    float lo = 0, hi = 0;
    PlaneExtremes(src, p, lo, hi);
    overallLo = std::min(overallLo, lo);
    overallHi = std::max(overallHi, hi);
  }
  if (overallLo > overallHi) return true;

  TTrailPlane t;
  t.Width = width;
  t.R = rect;
  t.Cols = rect.x2 - rect.x1 + 1;
  t.Rows = rect.y2 - rect.y1 + 1;
  t.W = w;
  t.K = StarTrailHalfWidth(w);
  t.G = MakeUpdateWindow(t.K);
  t.Span = overallHi - overallLo + 0.001f;
  t.F.assign(size_t(t.Cols) * size_t(t.Rows), BlankPixel);
  const int64_t cols = t.Cols;
  const int threadsForColumns = FilterThreads(int64_t(t.Cols) * t.Rows);

  bool stopped = false;
  for (int p = FirstChannel(source); p >= 1 && p <= planes; NextChannel(source, p)) {
    if (src.Planes[size_t(p)].size() != count) continue;
    if (dst.Planes[size_t(p)].size() != count) dst.Planes[size_t(p)] = src.Planes[size_t(p)];
    float hi = 0;
    PlaneExtremes(src, p, t.Minimum, hi);
    t.S = src.Planes[size_t(p)].data();
    t.D = dst.Planes[size_t(p)].data();
    t.Noise = std::max(EstimatePlaneNoise(source, p) * threshold, 0.001f);
    t.Low = t.Minimum - t.Noise;
    t.High = hi - (hi - t.Minimum) / 80;

    // Steps 1 to 4 write one value per pixel (step 4 one column per item).
    const bool ok = ForEachChunk(0, t.Rows, cols, [&](int64_t a, int64_t b) { TrailFloor(t, a, b); },
                                 [&](int64_t) { return !poll.Stopped(); }) &&
                    ForEachChunk(0, t.Rows, cols, [&](int64_t a, int64_t b) { SmoothFloorIntoDestination(t, a, b); },
                                 [&](int64_t) { return !poll.Stopped(); }) &&
                    ForEachChunk(0, t.Rows, cols, [&](int64_t a, int64_t b) { RowMinimum(t, a, b); },
                                 [&](int64_t) { return !poll.Stopped(); });
    if (!ok) {
      stopped = true;
      break;
    }
    ForEachBand(cols, threadsForColumns, [&](int64_t a, int64_t b) { ColumnMinimum(t, a, b); });
    // Step 5: rows are independent of each other.
    const bool rowsDone = ForEachRowChunk(0, t.Rows, cols, &poll, p, [&](int64_t a, int64_t b) {
      std::vector<double> sums;
      std::vector<float> m(size_t(t.Cols)), e(size_t(t.Cols));
      for (int64_t j = a; j < b; ++j) CorrectRow(t, int32_t(j), sums, m, e);
    });
    if (!rowsDone) {
      stopped = true;
      break;
    }
  }
  if (!EndFilterRun(poll, !stopped)) return false;
  ComputeHistogram(destination, false, true);
  return true;
}

}  // namespace astrelon
