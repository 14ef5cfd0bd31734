#include "kernels/regions/blank_interpolation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <span>
#include <vector>

#include "common/pascal_format.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr std::array<int32_t, 4> StepX{1, 0, -1, 0};
constexpr std::array<int32_t, 4> StepY{0, 1, 0, -1};
constexpr size_t MaxRimPoints = 20001;

struct TPoint {
  int32_t X, Y;
  bool operator==(const TPoint&) const = default;
};

// Points of a ring with the values they were given.
struct TRing {
  std::vector<TPoint> Points;
  std::vector<float> Values;
  void Clear() {
    Points.clear();
    Values.clear();
  }
  void Add(TPoint p, float v) {
    Points.push_back(p);
    Values.push_back(v);
  }
  size_t Size() const { return Points.size(); }
};

// Weights 1 / (0.2 d2 + sqrt(depthTerm + d2)) of the samples (single precision)
// and the sums of the weights and of weight x value (double precision, in four
// lanes: sample i goes to lane i mod 4, the lanes are added at the end). The
// SSE2 path computes four samples at a time and gives the same bits.
void SumSampleWeights(std::span<const float> d2, std::span<const float> value, float depthTerm, double& total,
                      double& weighted, bool vector) {
  std::array<double, 4> t{}, s{};
  size_t i = 0;
#if ASTRELON_HAVE_SSE2
  if (vector && d2.size() >= 4) {
    const __m128 c = _mm_set1_ps(depthTerm), fifth = _mm_set1_ps(0.2f), one = _mm_set1_ps(1.0f);
    __m128d t01 = _mm_setzero_pd(), t23 = _mm_setzero_pd(), s01 = _mm_setzero_pd(), s23 = _mm_setzero_pd();
    for (; i + 4 <= d2.size(); i += 4) {
      const __m128 d = _mm_loadu_ps(d2.data() + i);
      const __m128 dist = _mm_sqrt_ps(_mm_add_ps(c, d));
      const __m128 w = _mm_div_ps(one, _mm_add_ps(_mm_mul_ps(fifth, d), dist));
      const __m128 v = _mm_loadu_ps(value.data() + i);
      const __m128d wLow = _mm_cvtps_pd(w), wHigh = _mm_cvtps_pd(_mm_movehl_ps(w, w));
      const __m128d vLow = _mm_cvtps_pd(v), vHigh = _mm_cvtps_pd(_mm_movehl_ps(v, v));
      t01 = _mm_add_pd(t01, wLow);
      t23 = _mm_add_pd(t23, wHigh);
      s01 = _mm_add_pd(s01, _mm_mul_pd(wLow, vLow));
      s23 = _mm_add_pd(s23, _mm_mul_pd(wHigh, vHigh));
    }
    _mm_storeu_pd(t.data(), t01);
    _mm_storeu_pd(t.data() + 2, t23);
    _mm_storeu_pd(s.data(), s01);
    _mm_storeu_pd(s.data() + 2, s23);
  }
#endif
  for (; i < d2.size(); ++i) {
    const float dist = std::sqrt(depthTerm + d2[i]);
    const float w = 1.0f / (0.2f * d2[i] + dist);
    t[i % 4] += double(w);
    s[i % 4] += double(w) * double(value[i]);
  }
  total = (t[0] + t[1]) + (t[2] + t[3]);
  weighted = (s[0] + s[1]) + (s[2] + s[3]);
}

class THoleFiller {
public:
  THoleFiller(std::span<float> target, std::span<const float> reference, int32_t w, int32_t h, bool allBlanks,
              bool vector)
      : b_(target), a_(reference), w_(w), h_(h), allBlanks_(allBlanks), vector_(vector) {}

  bool Inside(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < w_ && y < h_; }
  size_t Index(TPoint p) const { return size_t(p.Y) * size_t(w_) + size_t(p.X); }
  bool ToFill(size_t i) const { return !IsValidPixel(b_[i]) && (allBlanks_ || IsValidPixel(a_[i])); }
  bool ToFill(TPoint p) const { return Inside(p.X, p.Y) && ToFill(Index(p)); }

  // Fills the hole found at `found` (the first pixel to fill in row-major order).
  // Returns false when the abort flag ended the work.
  bool FillHole(TPoint found) {
    TPoint start = found;
    int dir = 0;
    if (found == TPoint{0, 0}) MoveCornerStart(start, dir);
    WalkRim(start, dir);
    GiveRimValues();
    if (ring_.Size() == 0) {
      if (!IsValidPixel(b_[Index(start)])) Set(Index(start), 0.0f);
      return true;
    }
    return GrowInward();
  }

  int64_t Filled() const { return filled_; }
  int64_t Samples() const { return samples_; }
  // Called after each ring with the number of pixels filled so far; true stops.
  std::function<bool(int64_t)> AfterRing;

private:
  // A hole starting at (0, 0): the walk starts at the pixel before the first valid
  // pixel of the plane, going left, when that pixel is itself one to fill.
  void MoveCornerStart(TPoint& start, int& dir) const {
    const size_t n = size_t(w_) * size_t(h_);
    size_t i = 0;
    while (i < n && !IsValidPixel(b_[i])) ++i;
    if (i == n || i == 0) return;
    const TPoint valid{int32_t(i % size_t(w_)), int32_t(i / size_t(w_))};
    const TPoint before = valid.X > 0 ? TPoint{valid.X - 1, valid.Y} : TPoint{0, valid.Y - 1};
    if (!ToFill(before)) return;
    start = before;
    dir = 2;
  }

  // Follows the hole's edge from the start: at each point turn back one step,
  // then take the first direction whose neighbour is a pixel to fill.
  void WalkRim(TPoint start, int dir) {
    rim_.clear();
    TPoint p = start;
    for (;;) {
      rim_.push_back(p);
      if (rim_.size() >= MaxRimPoints) break;
      dir = (dir + 3) % 4;
      bool moved = false;
      for (int t = 0; t < 4; ++t) {
        const TPoint n{p.X + StepX[size_t(dir)], p.Y + StepY[size_t(dir)]};
        if (ToFill(n)) {
          p = n;
          moved = true;
          break;
        }
        dir = (dir + 1) % 4;
      }
      if (!moved || p == start) break;
    }
  }

  // Each rim point in order gets the mean of its valid neighbours, not counting
  // the point filled just before it; points without any leave the rim.
  void GiveRimValues() {
    ring_.Clear();
    bool haveLast = false;
    TPoint last{0, 0};
    for (const TPoint p : rim_) {
      double sum = 0;
      int count = 0;
      for (int d = 0; d < 4; ++d) {
        const TPoint n{p.X + StepX[size_t(d)], p.Y + StepY[size_t(d)]};
        if (!Inside(n.X, n.Y) || (haveLast && n == last)) continue;
        const float v = b_[Index(n)];
        if (IsValidPixel(v)) {
          sum += v;
          ++count;
        }
      }
      if (count == 0) continue;
      const float v = float(sum / count);
      Set(Index(p), v);
      ring_.Add(p, v);
      last = p;
      haveLast = true;
    }
  }

  // Rings inward from the rim: each new pixel is a weighted mean of samples of
  // the ring before, dense near the pixel and sparse far from it.
  bool GrowInward() {
    int64_t depth = 1;
    int64_t stride = int64_t(ring_.Size() / 15 + 1);
    int64_t memory = 1;
    int64_t step = 1;
    for (;;) {
      next_.Clear();
      const int64_t size = int64_t(ring_.Size());
      const double depthTerm = 0.04 * double(depth);
      BuildStepTable(depthTerm, stride);
      sampleD2_.resize(size_t(size));
      sampleValue_.resize(size_t(size));
      for (const TPoint p : ring_.Points)
        for (int d = 3; d >= 0; --d) {
          const TPoint n{p.X + StepX[size_t(d)], p.Y + StepY[size_t(d)]};
          if (!ToFill(n)) continue;
          int64_t j = memory > 1 ? int64_t(rng_() % uint64_t(memory)) : 0;
          if (j >= size) j = 0;
          // The squared distances and values of the samples with a valid value.
          size_t count = 0;
          const TPoint* points = ring_.Points.data();
          const float* values = ring_.Values.data();
          const int64_t* stepFrom = stepFrom_.data();
          while (j < size) {
            const TPoint q = points[j];
            const int64_t dx = int64_t(q.X) - n.X, dy = int64_t(q.Y) - n.Y;
            const int64_t d2 = dx * dx + dy * dy;
            // The step to the next sample, found in the table from the previous
            // one (it changes slowly along the ring).
            while (step < stride && d2 >= stepFrom[step + 1]) ++step;
            while (d2 < stepFrom[step]) --step;
            sampleD2_[count] = float(d2);
            sampleValue_[count] = values[j];
            count += IsValidPixel(values[j]) ? 1 : 0;
            memory = step;
            j += step;
          }
          samples_ += int64_t(count);
          double total = 0, weighted = 0;
          SumSampleWeights(std::span(sampleD2_).first(count), std::span(sampleValue_).first(count),
                           float(depthTerm), total, weighted, vector_);
          if (total > 0) {
            const float v = float(weighted / total);
            Set(Index(n), v);
            next_.Add(n, v);
          } else {
            Set(Index(n), 0.0f);
          }
        }
      if (next_.Size() == 0) return true;
      std::swap(ring_, next_);
      stride = int64_t(ring_.Size() / 15 + 1);
      step = std::min(step, stride);
      ++depth;
      if (AfterRing && AfterRing(filled_)) return false;
    }
  }

  // The step after a sample at squared distance d2 from the pixel:
  // (sqrt(0.04 depth + d2) + 9) / 6 rounded, at most the stride.
  static int64_t SampleStep(double depthTerm, int64_t d2, int64_t stride) {
    return std::min<int64_t>(Round((std::sqrt(depthTerm + double(d2)) + 9.0) * 0.1666666), stride);
  }

  // stepFrom_[k] (k = 1 .. stride) is the smallest squared distance whose step
  // is at least k. SampleStep never falls as d2 grows, so the table gives the
  // same steps as the formula for every integer d2.
  void BuildStepTable(double depthTerm, int64_t stride) {
    stepFrom_.assign(size_t(stride + 2), std::numeric_limits<int64_t>::max());
    stepFrom_[1] = 0;
    int64_t d2 = 0;
    for (int64_t k = 2; k <= stride; ++k) {
      // Start just below the solution of the unrounded equation, then walk to
      // the exact first d2 of the rounded one.
      const double root = (double(k) - 0.5) / 0.1666666 - 9.0;
      if (root > 0) d2 = std::max(d2, int64_t(std::max(root * root - depthTerm - 2.0, 0.0)));
      while (d2 > stepFrom_[size_t(k - 1)] && SampleStep(depthTerm, d2 - 1, stride) >= k) --d2;
      while (SampleStep(depthTerm, d2, stride) < k) ++d2;
      stepFrom_[size_t(k)] = d2;
    }
  }

  // Writes a value, counting pixels that were blank.
  void Set(size_t i, float v) {
    if (!IsValidPixel(b_[i])) ++filled_;
    b_[i] = v;
  }

  std::span<float> b_;
  std::span<const float> a_;
  int32_t w_, h_;
  bool allBlanks_;
  bool vector_;
  std::vector<TPoint> rim_;
  std::vector<int64_t> stepFrom_;
  std::vector<float> sampleD2_, sampleValue_;
  TRing ring_, next_;
  int64_t filled_ = 0;
  int64_t samples_ = 0;
  // A fixed seed: the same holes are filled the same way on every run.
  std::mt19937 rng_{20240229u};
};

// The samples of the last call (one call at a time: the routine is not re-entrant).
int64_t LastSamples = 0;

}  // namespace

int64_t LastInterpolationSamples() { return LastSamples; }

void InterpolateBlankPixels(int a, int b, bool allBlanks, bool progress) {
  LastSamples = 0;
  if (a < 0 || a >= SlotArraySize || b < 0 || b >= SlotArraySize) return;
  const TImageSlot& ref = Store.Image[size_t(a)];
  TImageSlot& dst = Store.Image[size_t(b)];
  const int32_t w = ref.Width, h = ref.Height;
  if (w < 1 || h < 1 || dst.Width != w || dst.Height != h) return;
  const size_t n = ref.PixelCount();
  const int planes = std::clamp(ref.PlaneCount, 0, 3);
  auto usable = [&](int p) { return ref.Planes[size_t(p)].size() >= n && dst.Planes[size_t(p)].size() >= n; };

  // The count of pixels to fill is needed for the progress only; without
  // anything to fill no progress is shown.
  int64_t toFill = 0;
  if (progress) {
    for (int p = 1; p <= planes; ++p) {
      if (!usable(p)) continue;
      const std::span<const float> pa = ref.Plane(p), pb = dst.Plane(p);
      for (size_t i = 0; i < n; ++i)
        if (!IsValidPixel(pb[i]) && (allBlanks || IsValidPixel(pa[i]))) ++toFill;
    }
    if (toFill == 0) return;
  }

  int64_t filledBefore = 0;
  int shownPercent = -1;
  auto report = [&](int64_t filled) {
    if (!progress) return;
    const int percent = int(filled * 100 / toFill);
    if (percent == shownPercent) return;
    shownPercent = percent;
    ShowProgress(b, b, 1, float(percent), false, false, true, true, "Interpolation");
  };
  report(0);
  bool aborted = false;
  for (int p = 1; p <= planes && !aborted; ++p) {
    if (!usable(p)) continue;
    // Each plane compares against its own pixels of a, also when a and b are one slot.
    THoleFiller filler(dst.Plane(p), ref.Plane(p), w, h, allBlanks, Sse2Enabled);
    filler.AfterRing = [&](int64_t filled) {
      report(filledBefore + filled);
      return AbortRequested.load() != 0;
    };
    for (int32_t y = 0; y < h && !aborted; ++y)
      for (int32_t x = 0; x < w; ++x) {
        if (!filler.ToFill(filler.Index({x, y}))) continue;
        if (AbortRequested.load() != 0 || !filler.FillHole({x, y})) {
          aborted = true;
          break;
        }
        // The scan goes on at the same place: the found pixel is filled now
        // unless its hole was a different one, which the next pass takes.
        --x;
      }
    filledBefore += filler.Filled();
    LastSamples += filler.Samples();
  }
  if (progress) HideProgress(b);
}

}  // namespace astrelon
