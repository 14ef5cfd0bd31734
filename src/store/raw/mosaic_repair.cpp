#include "store/raw/mosaic_repair.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <vector>

#include "common/pascal_format.h"
#include "platform/simd_support.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// The slot's first plane when it holds a whole image, else an empty span.
std::span<float> FirstPlane(int slot) {
  if (slot < 0 || slot >= SlotArraySize) return {};
  TImageSlot& im = Store.Image[size_t(slot)];
  if (im.Width <= 0 || im.Height <= 0 || im.Planes[1].size() < im.PixelCount()) return {};
  return std::span<float>(im.Planes[1].data(), im.PixelCount());
}

constexpr int MosaicBins = 20002;
constexpr int MosaicTopBin = MosaicBins - 1;

enum : uint8_t { PixelValid = 0, PixelClipped = 1, PixelBlank = 2 };

}  // namespace

void MeasureMosaicPhase(int slot, double& a, double& b) {
  a = 0;
  b = 0;
  const std::span<const float> m = FirstPlane(slot);
  if (m.empty()) return;
  const TImageSlot& im = Store.Image[size_t(slot)];
  const size_t w = size_t(im.Width);
  // Both classes in one pass: the pair at x of row y belongs to class (x + y) mod 2
  // (with x + y odd the other); each class adds its pairs in row and column order.
  std::array<double, 2> sum{};
  std::array<int64_t, 2> count{};
  for (int32_t y = 0; y + 1 < im.Height; ++y) {
    const float* row = m.data() + size_t(y) * w;
    const float* next = row + w;
    // Even x belong to class y mod 2, odd x to the other.
    const size_t even = size_t(y & 1), odd = even ^ 1;
    double se = sum[even], so = sum[odd];
    int64_t ce = count[even], co = count[odd];
    auto add = [&](int32_t x, double& s, int64_t& c) {
      const float v0 = row[x], v1 = next[x + 1];
      if (IsValidPixel(v0) && IsValidPixel(v1)) {
        s += std::fabs(double(v1) - double(v0));
        ++c;
      }
    };
    int32_t x = 0;
    for (; x + 2 < im.Width; x += 2) {
      add(x, se, ce);
      add(x + 1, so, co);
    }
    if (x + 1 < im.Width) add(x, se, ce);
    sum[even] = se;
    sum[odd] = so;
    count[even] = ce;
    count[odd] = co;
  }
  a = count[0] > 0 ? sum[0] / double(count[0]) : 0.0;
  b = count[1] > 0 ? sum[1] / double(count[1]) : 0.0;
}

namespace {

// Terms each float lane of the vector path adds before its sum goes to double.
constexpr int PhaseFloatRun = 128;

void AddMosaicPhasePairs(const float* row, const float* next, int32_t from, int32_t width, int32_t y,
                         TMosaicPhaseSums& sums) {
  for (int32_t x = from; x + 1 < width; ++x) {
    const float v0 = row[x], v1 = next[x + 1];
    if (IsValidPixel(v0) && IsValidPixel(v1)) {
      const size_t c = size_t((x + y) & 1);
      sums.Sum[c] += std::fabs(double(v1) - double(v0));
      ++sums.Count[c];
    }
  }
}

#if ASTRELON_HAVE_AVX2
// Eight pairs at a time: lanes of even x in one sum, of odd x in the other.
ASTRELON_AVX2 inline __m256d WidenSum(__m256 s) {
  return _mm256_add_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(s)), _mm256_cvtps_pd(_mm256_extractf128_ps(s, 1)));
}

// Eight pairs at a time, the differences and runs of their sums in float (two
// chains, at most PhaseFloatRun terms per lane), then in double: lanes of even x
// in one class, of odd x in the other.
ASTRELON_AVX2 void AddMosaicPhaseRowAvx2(const float* row, const float* next, int32_t width, int32_t y,
                                         TMosaicPhaseSums& sums) {
  const __m256 blank = _mm256_set1_ps(BlankLimit);
  const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  __m256d total = _mm256_setzero_pd();
  __m256i count = _mm256_setzero_si256();
  int32_t x = 0;
  while (x + 9 <= width) {
    __m256 s0 = _mm256_setzero_ps(), s1 = _mm256_setzero_ps();
    for (int run = 0; run < PhaseFloatRun && x + 17 <= width; ++run, x += 16)
      for (int half = 0; half < 2; ++half) {
        const __m256 v0 = _mm256_loadu_ps(row + x + 8 * half), v1 = _mm256_loadu_ps(next + x + 8 * half + 1);
        const __m256 ok = _mm256_and_ps(_mm256_cmp_ps(v0, blank, _CMP_GT_OQ), _mm256_cmp_ps(v1, blank, _CMP_GT_OQ));
        const __m256 d = _mm256_and_ps(_mm256_and_ps(ok, absMask), _mm256_sub_ps(v1, v0));
        if (half == 0)
          s0 = _mm256_add_ps(s0, d);
        else
          s1 = _mm256_add_ps(s1, d);
        count = _mm256_sub_epi32(count, _mm256_castps_si256(ok));
      }
    if (x + 17 > width && x + 9 <= width) {
      const __m256 v0 = _mm256_loadu_ps(row + x), v1 = _mm256_loadu_ps(next + x + 1);
      const __m256 ok = _mm256_and_ps(_mm256_cmp_ps(v0, blank, _CMP_GT_OQ), _mm256_cmp_ps(v1, blank, _CMP_GT_OQ));
      s0 = _mm256_add_ps(s0, _mm256_and_ps(_mm256_and_ps(ok, absMask), _mm256_sub_ps(v1, v0)));
      count = _mm256_sub_epi32(count, _mm256_castps_si256(ok));
      x += 8;
    }
    total = _mm256_add_pd(total, _mm256_add_pd(WidenSum(s0), WidenSum(s1)));
  }
  alignas(32) double s[4];
  alignas(32) int32_t c[8];
  _mm256_store_pd(s, total);
  _mm256_store_si256(reinterpret_cast<__m256i*>(c), count);
  const size_t even = size_t(y & 1), odd = even ^ 1;
  sums.Sum[even] += s[0] + s[2];
  sums.Sum[odd] += s[1] + s[3];
  sums.Count[even] += int64_t(c[0]) + c[2] + c[4] + c[6];
  sums.Count[odd] += int64_t(c[1]) + c[3] + c[5] + c[7];
  AddMosaicPhasePairs(row, next, x, width, y, sums);
}
#endif

}  // namespace

void AddMosaicPhaseRow(const float* row, const float* next, int32_t width, int32_t y, TMosaicPhaseSums& sums,
                       bool vector) {
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) return AddMosaicPhaseRowAvx2(row, next, width, y, sums);
#endif
  AddMosaicPhasePairs(row, next, 0, width, y, sums);
}

int MosaicPhaseFromSums(const TMosaicPhaseSums& sums) {
  // The sums add the measure's terms in another order, the vector path also
  // forms them in float and adds runs of at most PhaseFloatRun of them in float
  // before double. For terms of one sign every such sum stays within
  // (run + 2) 2^-24 + (n + 4) 2^-52 of the exact sum relative to it (n terms),
  // and the measure's own within (n + 1) 2^-53; `tol` holds both with room.
  const double total = double(sums.Count[0]) + double(sums.Count[1]);
  const double tol = 4.0 * ((PhaseFloatRun + 2) * 0x1p-24 + (total + 4.0) * 0x1p-52);
  double m[2];
  for (int c = 0; c < 2; ++c) {
    if (!std::isfinite(sums.Sum[c])) return -3;
    m[c] = sums.Count[c] > 0 ? sums.Sum[c] / double(sums.Count[c]) : 0.0;
  }
  // "x > 1.5 y" as the measure decides it: 1 certain, 0 certainly not, -1 unsure.
  // Zero sums are exact in any order, and a positive sum stays positive.
  auto above = [&](double x, double y) {
    if (x == 0) return 0;
    if (y == 0) return 1;
    if (x * (1 - tol) > 1.5 * y * (1 + tol)) return 1;
    if (x * (1 + tol) < 1.5 * y * (1 - tol)) return 0;
    return -1;
  };
  const int first = above(m[0], m[1]);
  if (first < 0) return -3;
  if (first == 1) return 1;
  const int second = above(m[1], m[0]);
  if (second < 0) return -3;
  return second == 1 ? 0 : -1;
}

uint32_t ThreeColorFilterCode(uint32_t code) {
  uint32_t out = code;
  for (int shift = 0; shift < 32; shift += 2)
    if (((code >> shift) & 3u) == 3u) out &= ~(2u << shift);  // 3 -> 1
  return out;
}

int FilterCodeToPhase(int slot) {
  if (slot < 0 || slot >= SlotArraySize) return -1;
  const TImageSlot& im = Store.Image[size_t(slot)];
  if (im.IsColor) return -1;
  switch (ThreeColorFilterCode(im.RawFilterPattern)) {
    case 0x94949494u:  // R G / G B
    case 0x16161616u:  // B G / G R
      return 1;
    case 0x49494949u:  // G B / R G
    case 0x61616161u:  // G R / B G
      return 0;
    default:
      return -2;
  }
}

int DetectMosaicPhase(int slot) {
  const int phase = FilterCodeToPhase(slot);
  if (phase != -2) return phase;
  double a, b;
  MeasureMosaicPhase(slot, a, b);
  if (a > 1.5 * b) return 1;
  if (b > 1.5 * a) return 0;
  return -1;
}

int DecideMosaicPhase(int slot) {
  const int phase = FilterCodeToPhase(slot);
  if (phase == 0 || phase == 1) return phase;
  double a, b;
  MeasureMosaicPhase(slot, a, b);  // a colour image is measured on plane 1
  return a > b ? 1 : 0;
}

bool RepairClippedMosaic(int slot, int phase) {
  const std::span<float> plane = FirstPlane(slot);
  if (plane.empty() || Store.Image[size_t(slot)].IsColor) return false;
  const TImageSlot& im = Store.Image[size_t(slot)];
  const int32_t w = im.Width, h = im.Height;
  const size_t W = size_t(w);
  if (phase < 0) phase = DecideMosaicPhase(slot);
  phase &= 1;

  // Range of the valid pixels.
  float lo = NoMinimum, hi = -NoMinimum;
  for (const float v : plane)
    if (IsValidPixel(v)) lo = std::min(lo, v), hi = std::max(hi, v);
  if (lo > hi) return false;
  const double minimum = lo, maximum = hi;
  const double k = maximum > minimum ? 20000.0 / (maximum - minimum) : 1.0;

  // Histograms per colour site: 0 green, 1 the other site of the even rows,
  // 2 the other site of the odd rows.
  std::array<std::vector<int64_t>, 3> hist;
  for (auto& hs : hist) hs.assign(MosaicBins, 0);
  const auto add = [&](int site, float v) {
    if (!(v > lo)) return;  // blank pixels and the minimum itself are not counted
    const double pos = std::clamp((double(v) - minimum) * k, 0.0, double(MosaicTopBin));
    ++hist[size_t(site)][size_t(Round(pos))];
  };
  for (int32_t y = 0; y + 1 < h; y += 2) {
    const float* row = plane.data() + size_t(y) * W;
    const float* next = row + W;
    for (int32_t x = (y + phase) & 1; x + 1 < w; x += 2) {
      add(0, row[x]);
      add(0, next[x + 1]);
      add(1, row[x + 1]);
      add(2, next[x]);
    }
  }

  // Clipping level per site, scanned from the top bin down.
  const int64_t n = int64_t(w) * int64_t(h);
  std::array<double, 3> level{};
  bool allFound = true;
  for (int s = 0; s < 3; ++s) {
    const int64_t limit = s == 0 ? n / 200 : n / 200 / 2;
    const int64_t margin = s == 0 ? 5 : 3;
    int64_t peak = 0, sum = 0;
    int b95 = -1;
    bool peakNoted = false;
    int found = -1;
    for (int bin = MosaicTopBin; bin >= 0 && found < 0; --bin) {
      const int64_t c = hist[size_t(s)][size_t(bin)];
      if (c > peak) {
        if (!peakNoted) b95 = bin * 95 / 100, peakNoted = true;
        peak = c;
      } else if (c > 0) {
        sum += c;
        if (sum > limit || c + margin < peak || bin < b95) found = bin;
      }
    }
    if (found < 0) {
      allFound = false;
      break;
    }
    // A level far below the site's top values means it was not clipped.
    level[size_t(s)] = found < b95 ? maximum + 1.0 : 0.996 * found / k + minimum;
  }
  if (!allFound) return false;

  // Class map.
  std::vector<uint8_t> cls(static_cast<size_t>(n));
  int64_t clipped = 0;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const size_t i = size_t(y) * W + size_t(x);
      const float v = plane[i];
      uint8_t c = PixelBlank;
      if (IsValidPixel(v)) {
        const int site = ((x + y + phase) & 1) == 0 ? 0 : ((y & 1) == 0 ? 1 : 2);
        c = double(v) > level[size_t(site)] ? PixelClipped : PixelValid;
      }
      cls[i] = c;
      clipped += c == PixelClipped;
    }
  if (clipped == 0) return false;

  bool changed = false;
  // Passes of repair from second differences of the neighbours; each pass reads
  // the state at its start.
  std::vector<float> vals;
  std::vector<uint8_t> before;
  for (;;) {
    vals.assign(plane.begin(), plane.end());
    before = cls;
    int64_t repaired = 0, left = 0;
    const auto V = [&](int32_t x, int32_t y) { return vals[size_t(y) * W + size_t(x)]; };
    const auto ok = [&](int32_t x, int32_t y) { return before[size_t(y) * W + size_t(x)] == PixelValid; };
    // Second difference of the horizontal (or vertical) triple centred at (cx, cy).
    const auto triple = [&](int32_t cx, int32_t cy, bool vertical, double& sum, int& count) {
      if (!ok(cx, cy)) return;
      const int32_t dx = vertical ? 0 : 1, dy = vertical ? 1 : 0;
      if (!ok(cx - dx, cy - dy) || !ok(cx + dx, cy + dy)) return;
      sum += (double(V(cx - dx, cy - dy)) + double(V(cx + dx, cy + dy))) / 2.0 - double(V(cx, cy));
      ++count;
    };
    static constexpr std::array<std::array<int, 2>, 8> TwoAway{
        {{0, -2}, {0, 2}, {-2, 0}, {2, 0}, {-2, -2}, {-2, 2}, {2, -2}, {2, 2}}};
    static constexpr std::array<std::array<int, 2>, 4> Diagonal{{{-1, -1}, {-1, 1}, {1, -1}, {1, 1}}};
    for (int32_t y = 3; y <= h - 4; ++y)
      for (int32_t x = 3; x <= w - 4; ++x) {
        const size_t i = size_t(y) * W + size_t(x);
        if (before[i] != PixelClipped) continue;
        const bool lr = ok(x - 1, y) && ok(x + 1, y), ud = ok(x, y - 1) && ok(x, y + 1);
        const double hMean = lr ? (double(V(x - 1, y)) + double(V(x + 1, y))) / 2.0 : 0.0;
        const double vMean = ud ? (double(V(x, y - 1)) + double(V(x, y + 1))) / 2.0 : 0.0;
        double estimate = 0;
        int estimates = 0;
        if (((x + y + phase) & 1) == 0) {  // green site
          double sa = 0, sb = 0;
          int na = 0, nb = 0;
          for (const auto& c : TwoAway) {
            triple(x + c[0], y + c[1], false, sa, na);
            triple(x + c[0], y + c[1], true, sb, nb);
          }
          for (const auto& c : Diagonal) {
            triple(x + c[0], y + c[1], true, sa, na);
            triple(x + c[0], y + c[1], false, sb, nb);
          }
          if (lr && na > 0) estimate += hMean - sa / na, ++estimates;
          if (ud && nb > 0) estimate += vMean - sb / nb, ++estimates;
        } else {  // red or blue site
          double s = 0;
          int ns = 0;
          for (const auto& c : TwoAway) {
            triple(x + c[0], y + c[1], false, s, ns);
            triple(x + c[0], y + c[1], true, s, ns);
          }
          // Without a valid neighbour pair there is nothing to lift the curvature onto.
          const int pairs = int(lr) + int(ud);
          if (ns > 0 && pairs > 0) estimate = (hMean + vMean) / pairs - s / ns, estimates = 1;
        }
        if (estimates > 0) {
          const double e = std::clamp(estimate / estimates, -3.0e38, 3.0e38);
          plane[i] = float(e);
          cls[i] = PixelValid;
          ++repaired;
          changed = true;
        } else {
          ++left;
        }
      }
    if (repaired == 0 || left == 0) break;
  }

  // What is still clipped takes the largest of its diagonal same-colour
  // neighbours, first top-down, then bottom-up for the rest.
  static constexpr std::array<std::array<int, 2>, 4> Corners{{{-2, -2}, {-2, 2}, {2, -2}, {2, 2}}};
  const auto lift = [&](int32_t x, int32_t y, bool always) {
    const size_t i = size_t(y) * W + size_t(x);
    if (cls[i] != PixelClipped) return false;
    float m = plane[i];
    bool valid = false;
    for (const auto& c : Corners) {
      const size_t j = size_t(y + c[1]) * W + size_t(x + c[0]);
      if (plane[j] > m) {
        m = plane[j];
        if (cls[j] == PixelValid) valid = true;
      }
    }
    if (valid) cls[i] = PixelValid;
    if (valid || always) {
      if (plane[i] != m) changed = true;
      plane[i] = m;
    }
    return cls[i] == PixelClipped;
  };
  bool stillClipped = false;
  for (int32_t y = 2; y <= h - 3; ++y)
    for (int32_t x = 2; x <= w - 3; ++x) stillClipped |= lift(x, y, false);
  if (stillClipped)
    for (int32_t y = h - 3; y >= 2; --y)
      for (int32_t x = 2; x <= w - 3; ++x) lift(x, y, true);
  return changed;
}

}  // namespace astrelon

namespace astrelon {

namespace {

// A copy of the row with each blank entry replaced by the mean of the entry
// before it (already filled) and the next valid entry; false when none is valid.
bool FilledRow(std::span<const float> row, std::vector<double>& out) {
  const size_t n = row.size();
  out.assign(n, 0.0);
  // nextValid[i]: the first valid index >= i, n when none.
  std::vector<size_t> nextValid(n + 1, n);
  for (size_t i = n; i-- > 0;) nextValid[i] = IsValidPixel(row[i]) ? i : nextValid[i + 1];
  if (nextValid[0] == n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (IsValidPixel(row[i])) {
      out[i] = row[i];
      continue;
    }
    double sum = 0;
    int count = 0;
    if (i > 0) sum += out[i - 1], ++count;
    if (const size_t j = nextValid[i]; j < n) sum += row[j], ++count;
    out[i] = sum / count;  // count >= 1: an entry before exists or a valid one follows
  }
  return true;
}

}  // namespace

void FitQuadraticToRowDifference(std::span<const float> a, std::span<const float> b, double& c0, double& c1,
                                 double& c2) {
  c0 = c1 = c2 = 0;
  const size_t n = std::min(a.size(), b.size());
  if (n <= 2) return;
  std::vector<double> fa, fb;
  if (!FilledRow(a.first(n), fa) || !FilledRow(b.first(n), fb)) return;
  std::vector<double> r2(n);
  const double last = double(n - 1);
  const double first = fa[0] - fb[0];
  std::array<double, 3> c{first, (fa[n - 1] - fb[n - 1] - first) / last, 0.0};
  // Squared residuals of coefficients k into r2; their mean.
  const auto residuals = [&](const std::array<double, 3>& k) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
      const double x = double(i);
      const double r = fa[i] - (fb[i] + k[0] + k[1] * x + k[2] * x * x);
      r2[i] = r * r;
      sum += r2[i];
    }
    return sum / double(n);
  };
  double best = residuals(c);
  const double rms = std::sqrt(best);
  std::array<double, 3> step{0.2 * rms, 2.0 * rms / last, 0.0};
  step[2] = 2.0 * step[1] / last;
  std::array<double, 3> sign{1.0, 1.0, 1.0};
  const double h = last / 2.0;
  size_t j = 1;
  for (int t = 0; t <= 7000; ++t) {
    const double d = sign[j] * step[j];
    std::array<double, 3> trial = c;
    if (j == 1) {  // a tilt about the middle
      trial[0] -= d * h;
      trial[1] += d;
    } else if (j == 2) {  // a bend that keeps the ends
      trial[0] += d * 0.59 * h * h;
      trial[1] -= last * d;
      trial[2] += d;
    } else {
      trial[0] += d;
    }
    // The error counts the residuals below a limit that narrows from 17 to 3
    // times the trial's rms over the trials.
    const double limit = 0.002 * (8500 - t);
    const double threshold = limit * limit * residuals(trial);
    double sum = 0;
    size_t count = 0;
    for (const double v : r2)
      if (v < threshold) sum += v, ++count;
    const double error = count < 2 ? best + 1.0 : sum / double(count);
    if (error <= best) {
      best = error;
      c = trial;
    } else if (sign[j] < 0) {
      step[j] *= 0.77;
      sign[j] = 1.0;
      j = (j + 1) % 3;
    } else {
      sign[j] = -1.0;
    }
  }
  c0 = c[0];
  c1 = c[1];
  c2 = c[2];
}

}  // namespace astrelon
