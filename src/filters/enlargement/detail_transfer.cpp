#include "filters/enlargement/detail_transfer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <vector>

#include "kernels/gauss/filter_rows.h"
#include "platform/simd_support.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int32_t Lanes = 8;          // candidates dx = -3 .. 4 of one dy (the last never counts)
constexpr double NoError = 1e18;
constexpr double OwnFloorTri = 0.0316227, CandidateFloorTri = 0.0632454;

// A pixel of the (trimmed) window: its place, weight and own value.
struct TWindowPixel {
  int32_t R = 0, C = 0;
  float Weight = 0;
  double Own = 0;
  bool OwnValid = false;
};

// Running statistics of a set of values.
struct TStats {
  double N = 0, Sum = 0, SumSq = 0;
  double Min = 1e300, Max = -1e300;
  void Add(double v) {
    N += 1;
    Sum += v;
    SumSq += v * v;
    Min = v < Min ? v : Min;
    Max = v > Max ? v : Max;
  }
  void Remove(double v) {
    N -= 1;
    Sum -= v;
    SumSq -= v * v;
  }
  double Mean() const { return Sum / N; }
  double Variance() const { return SumSq / N - Mean() * Mean(); }
};

// The spread of the own patch: sigma with the variant's floor (full window or trimmed).
double OwnSigma(THiFVariant v, double var, bool trimmed) {
  if (v == THiFVariant::Tri) return var < 0.001 ? OwnFloorTri : std::sqrt(var);
  if (!trimmed) return std::sqrt(std::max(var, 0.001));
  return var < 0.01 ? 0.1 : std::sqrt(var);
}
// Twice the spread of a candidate with the variant's floor.
double CandidateSigma2(THiFVariant v, double var) {
  if (v == THiFVariant::Tri) return var < 0.001 ? CandidateFloorTri : 2 * std::sqrt(var);
  return 2 * std::sqrt(std::max(var, 0.001));
}

struct TCandidate {
  bool Valid = false;
  double MeanC = 0, Scale2 = 0;
};

// Mean and scale of a candidate from its statistics (none for an empty window).
TCandidate FinishCandidate(THiFVariant v, TStats s, double scale1) {
  TCandidate c;
  if (!(s.N > 0)) return c;
  double mean = s.Mean(), sigma2 = CandidateSigma2(v, s.Variance());
  if (s.N > 1 && s.Max > mean + sigma2) {
    s.Remove(s.Max);
    mean = s.Mean();
    sigma2 = CandidateSigma2(v, s.Variance());
  }
  if (s.N > 1 && s.Min < mean - sigma2) {
    s.Remove(s.Min);
    mean = s.Mean();
    sigma2 = CandidateSigma2(v, s.Variance());
  }
  double scale2 = 0.66 / sigma2;
  const double ratio = scale2 / scale1;
  if (ratio > 1.5)
    scale2 = 2 * scale1;
  else if (ratio < 0.7)
    scale2 = 0.7 * scale1;
  c.Valid = true;
  c.MeanC = mean;
  c.Scale2 = scale2;
  return c;
}

#if ASTRELON_HAVE_AVX2
// Statistics of eight (Halves 2) or four (1) candidates side by side: lane l
// reads base[l] of each window pixel's row;
// lanes 0 .. 4 Halves - 1 are written. The maximum needs no mask: a blank
// value lies below every valid one, and a lane without a valid value is not
// used.
template <int Halves>
ASTRELON_AVX2 void StatsAvx2(const float* base, size_t w, int32_t cy, const std::vector<TWindowPixel>& window,
                             TStats* s) {
  const __m256d limit = _mm256_set1_pd(double(BlankLimit)), one = _mm256_set1_pd(1.0);
  __m256d n[Halves], sum[Halves], sq[Halves], mn[Halves], mx[Halves];
  for (int h = 0; h < Halves; ++h) {
    n[h] = sum[h] = sq[h] = _mm256_setzero_pd();
    mn[h] = _mm256_set1_pd(1e300);
    mx[h] = _mm256_set1_pd(-1e300);
  }
  for (const TWindowPixel& p : window) {
    const float* at = base + size_t(cy + 2 * p.R) * w + size_t(2 * p.C);
    __m256d v[Halves];
    if constexpr (Halves == 2) {
      const __m256 v8 = _mm256_loadu_ps(at);
      v[0] = _mm256_cvtps_pd(_mm256_castps256_ps128(v8));
      v[1] = _mm256_cvtps_pd(_mm256_extractf128_ps(v8, 1));
    } else {
      v[0] = _mm256_cvtps_pd(_mm_loadu_ps(at));
    }
    for (int h = 0; h < Halves; ++h) {
      const __m256d ok = _mm256_cmp_pd(v[h], limit, _CMP_GT_OQ);
      n[h] = _mm256_add_pd(n[h], _mm256_and_pd(ok, one));
      sum[h] = _mm256_add_pd(sum[h], _mm256_and_pd(ok, v[h]));
      sq[h] = _mm256_add_pd(sq[h], _mm256_and_pd(ok, _mm256_mul_pd(v[h], v[h])));
      mn[h] = _mm256_blendv_pd(mn[h], _mm256_min_pd(v[h], mn[h]), ok);
      mx[h] = _mm256_max_pd(v[h], mx[h]);
    }
  }
  alignas(32) double t[5][4 * Halves];
  for (int h = 0; h < Halves; ++h) {
    _mm256_store_pd(t[0] + 4 * h, n[h]);
    _mm256_store_pd(t[1] + 4 * h, sum[h]);
    _mm256_store_pd(t[2] + 4 * h, sq[h]);
    _mm256_store_pd(t[3] + 4 * h, mn[h]);
    _mm256_store_pd(t[4] + 4 * h, mx[h]);
  }
  for (size_t l = 0; l < size_t(4 * Halves); ++l) s[l] = TStats{t[0][l], t[1][l], t[2][l], t[3][l], t[4][l]};
}

// Mean and twice the spread (with the floor) of four lanes, as CandidateSigma2.
ASTRELON_AVX2 inline __m256d CandidateSigma2Avx2(bool tri, __m256d n, __m256d sum, __m256d sq, __m256d& mean) {
  const __m256d floorVar = _mm256_set1_pd(0.001), two = _mm256_set1_pd(2.0);
  mean = _mm256_div_pd(sum, n);
  const __m256d var = _mm256_sub_pd(_mm256_div_pd(sq, n), _mm256_mul_pd(mean, mean));
  if (tri)
    return _mm256_blendv_pd(_mm256_mul_pd(two, _mm256_sqrt_pd(var)), _mm256_set1_pd(CandidateFloorTri),
                            _mm256_cmp_pd(var, floorVar, _CMP_LT_OQ));
  return _mm256_mul_pd(two, _mm256_sqrt_pd(_mm256_max_pd(var, floorVar)));
}

// FinishCandidate for eight lanes side by side, with the same operations in
// the same order (the lanes of an empty window come out invalid).
ASTRELON_AVX2 void FinishCandidatesAvx2(THiFVariant v, const std::array<TStats, 8>& s, double scale1,
                                        std::array<TCandidate, 8>& out) {
  alignas(32) double t[5][8];
  for (size_t l = 0; l < 8; ++l) {
    t[0][l] = s[l].N;
    t[1][l] = s[l].Sum;
    t[2][l] = s[l].SumSq;
    t[3][l] = s[l].Min;
    t[4][l] = s[l].Max;
  }
  const bool tri = v == THiFVariant::Tri;
  const __m256d one = _mm256_set1_pd(1.0), two = _mm256_set1_pd(2.0), s1 = _mm256_set1_pd(scale1);
  alignas(32) double meanC[8], scale2[8];
  for (int h = 0; h < 2; ++h) {
    __m256d n = _mm256_load_pd(t[0] + 4 * h), sum = _mm256_load_pd(t[1] + 4 * h), sq = _mm256_load_pd(t[2] + 4 * h);
    const __m256d mn = _mm256_load_pd(t[3] + 4 * h), mx = _mm256_load_pd(t[4] + 4 * h);
    __m256d mean;
    __m256d sg = CandidateSigma2Avx2(tri, n, sum, sq, mean);
    for (int k = 0; k < 2; ++k) {
      const __m256d out1 = k == 0 ? _mm256_cmp_pd(mx, _mm256_add_pd(mean, sg), _CMP_GT_OQ)
                                  : _mm256_cmp_pd(mn, _mm256_sub_pd(mean, sg), _CMP_LT_OQ);
      const __m256d c = _mm256_and_pd(_mm256_cmp_pd(n, one, _CMP_GT_OQ), out1);
      const __m256d x = k == 0 ? mx : mn;
      n = _mm256_blendv_pd(n, _mm256_sub_pd(n, one), c);
      sum = _mm256_blendv_pd(sum, _mm256_sub_pd(sum, x), c);
      sq = _mm256_blendv_pd(sq, _mm256_sub_pd(sq, _mm256_mul_pd(x, x)), c);
      __m256d mean2;
      const __m256d sg2 = CandidateSigma2Avx2(tri, n, sum, sq, mean2);
      mean = _mm256_blendv_pd(mean, mean2, c);
      sg = _mm256_blendv_pd(sg, sg2, c);
    }
    __m256d sc = _mm256_div_pd(_mm256_set1_pd(0.66), sg);
    const __m256d ratio = _mm256_div_pd(sc, s1);
    sc = _mm256_blendv_pd(sc, _mm256_mul_pd(_mm256_set1_pd(0.7), s1), _mm256_cmp_pd(ratio, _mm256_set1_pd(0.7), _CMP_LT_OQ));
    sc = _mm256_blendv_pd(sc, _mm256_mul_pd(two, s1), _mm256_cmp_pd(ratio, _mm256_set1_pd(1.5), _CMP_GT_OQ));
    _mm256_store_pd(meanC + 4 * h, mean);
    _mm256_store_pd(scale2 + 4 * h, sc);
  }
  for (size_t l = 0; l < 8; ++l) out[l] = {t[0][l] > 0, meanC[l], scale2[l]};
}

// The errors of eight candidates side by side.
ASTRELON_AVX2 void ErrorsAvx2(const float* base, size_t w, int32_t cy, const std::vector<TWindowPixel>& matched,
                              const std::vector<float>& a, const float* meanC, const float* scale2, float* err) {
  const __m256 limit = _mm256_set1_ps(BlankLimit);
  const __m256 mc = _mm256_loadu_ps(meanC), s2 = _mm256_loadu_ps(scale2);
  __m256 e = _mm256_setzero_ps();
  for (size_t i = 0; i < matched.size(); ++i) {
    const TWindowPixel& p = matched[i];
    const __m256 v = _mm256_loadu_ps(base + size_t(cy + 2 * p.R) * w + size_t(2 * p.C));
    const __m256 t = _mm256_sub_ps(_mm256_set1_ps(a[i]), _mm256_mul_ps(_mm256_sub_ps(v, mc), s2));
    const __m256 q = _mm256_mul_ps(_mm256_set1_ps(p.Weight), _mm256_mul_ps(t, t));
    e = _mm256_add_ps(e, _mm256_and_ps(_mm256_cmp_ps(v, limit, _CMP_GT_OQ), q));
  }
  _mm256_storeu_ps(err, e);
}
#endif

class TAnalyser {
public:
  explicit TAnalyser(const TDetailInputs& in) : in_(in) {
    for (int32_t r = -2; r <= 3; ++r)
      for (int32_t c = -2; c <= 3; ++c) weight_[size_t(r + 2)][size_t(c + 2)] = float(PatchWeight(in.Variant, r, c));
    const double s = in.Strength;
    flat_ = (in.Variant == THiFVariant::Tri ? 2.5 - 0.18 * s : 2.0 - 0.15 * s) * in.Noise;
  }

  TDetailPixel Analyse(int32_t X, int32_t Y, bool vector);

private:
  float L(int32_t x, int32_t y) const { return in_.L[size_t(y) * size_t(in_.Width) + size_t(x)]; }
  float M(int32_t x, int32_t y) const { return in_.M[size_t(y) * size_t(in_.Width) + size_t(x)]; }
  float Own(int32_t X, int32_t Y, int32_t r, int32_t c) const {
    if (in_.Variant == THiFVariant::Tri) return M(X + c, Y + r);
    return in_.E[size_t(Y + 2 * r) * size_t(2 * in_.Width) + size_t(X + 2 * c)];
  }
  // Statistics of the eight candidates dx = -3 .. 4 of row cy over the window
  // (lanes that cannot count may stay empty).
  void CandidateStats(int32_t x, int32_t y, int32_t cy, bool vector, std::array<TStats, Lanes>& s) const;
  // Their errors against the normalised own values `a`.
  void CandidateErrors(int32_t x, int32_t cy, const std::array<float, Lanes>& meanC,
                       const std::array<float, Lanes>& scale2, bool vector, std::array<float, Lanes>& err) const;

  const TDetailInputs& in_;
  std::array<std::array<float, 6>, 6> weight_{};
  double flat_ = 0;
  // The trimmed window of the pixel in hand, and its own pixels' normalised
  // values (those with a valid own value only).
  std::vector<TWindowPixel> window_;
  std::vector<TWindowPixel> matched_;
  std::vector<float> a_;
};

void TAnalyser::CandidateStats(int32_t x, int32_t y, int32_t cy, bool vector, std::array<TStats, Lanes>& s) const {
  const size_t w = size_t(in_.Width);
  const float* base = in_.L.data() + size_t(x) - 3;
  size_t lane = 0;
#if ASTRELON_HAVE_AVX2
  // All eight lanes read inside the plane: columns x - 7 .. x + 10.
  if (UseAvx2(vector) && x >= 7 && x + 10 < in_.Width) {
    lane = Lanes;
    if (std::abs(cy - y) == 3) {
      // Three steps up or down only dx = -1 .. 1 count: lanes 2 .. 5 do.
      s = {};
      StatsAvx2<1>(base + 2, w, cy, window_, s.data() + 2);
    } else {
      StatsAvx2<2>(base, w, cy, window_, s.data());
    }
  }
#else
  (void)vector;
#endif
  for (; lane < Lanes; ++lane) {
    TStats st;
    const int32_t cx = x - 3 + int32_t(lane);
    if (cx - 4 >= 0 && cx + 6 < in_.Width)
      for (const TWindowPixel& p : window_) {
        const double v = L(cx + 2 * p.C, cy + 2 * p.R);
        const bool ok = v > double(BlankLimit);
        st.N += ok ? 1.0 : 0.0;
        st.Sum += ok ? v : 0.0;
        st.SumSq += ok ? v * v : 0.0;
        st.Min = ok ? (v < st.Min ? v : st.Min) : st.Min;
        st.Max = ok ? (v > st.Max ? v : st.Max) : st.Max;
      }
    s[lane] = st;
  }
}

void TAnalyser::CandidateErrors(int32_t x, int32_t cy, const std::array<float, Lanes>& meanC,
                                const std::array<float, Lanes>& scale2, bool vector,
                                std::array<float, Lanes>& err) const {
  const size_t w = size_t(in_.Width);
  const float* base = in_.L.data() + size_t(x) - 3;
  size_t lane = 0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector) && x >= 7 && x + 10 < in_.Width) {
    lane = Lanes;
    ErrorsAvx2(base, w, cy, matched_, a_, meanC.data(), scale2.data(), err.data());
  }
#else
  (void)vector;
#endif
  for (; lane < Lanes; ++lane) {
    float e = 0;
    const int32_t cx = x - 3 + int32_t(lane);
    if (cx - 4 >= 0 && cx + 6 < in_.Width)
      for (size_t i = 0; i < matched_.size(); ++i) {
        const TWindowPixel& p = matched_[i];
        const float v = L(cx + 2 * p.C, cy + 2 * p.R);
        const float t = a_[i] - (v - meanC[lane]) * scale2[lane];
        const float q = p.Weight * (t * t);
        e += IsValidPixel(v) ? q : 0.0f;
      }
    err[lane] = e;
  }
}

TDetailPixel TAnalyser::Analyse(int32_t X, int32_t Y, bool vector) {
  TDetailPixel d;
  const THiFVariant variant = in_.Variant;
  const bool tri = variant == THiFVariant::Tri;
  const int32_t x = tri ? X : X / 2, y = tri ? Y : Y / 2;

  // 1. Own statistics over the full window; minimum and maximum without the centre.
  TStats all;
  double lo = 1e300, hi = -1e300;
  for (int32_t r = -2; r <= 3; ++r)
    for (int32_t c = PatchLo(r); c <= PatchHi(r); ++c) {
      const float v = Own(X, Y, r, c);
      if (!IsValidPixel(v)) continue;
      all.N += 1;
      all.Sum += v;
      all.SumSq += double(v) * v;
      if (r == 0 && c == 0) continue;
      lo = std::min(lo, double(v));
      hi = std::max(hi, double(v));
    }
  // A window without a valid pixel besides its centre counts as flat.
  if (!(all.N > 0) || lo > hi) return d;
  double mean = all.Mean(), sigma = OwnSigma(variant, all.Variance(), false);
  if (all.N > 1 && hi > mean + 2 * sigma) {
    all.Remove(hi);
    mean = all.Mean();
    sigma = OwnSigma(variant, all.Variance(), false);
  }
  if (all.N > 1 && lo < mean - 2 * sigma) {
    all.Remove(lo);
    mean = all.Mean();
    sigma = OwnSigma(variant, all.Variance(), false);
  }
  d.Mean = mean;
  d.Sigma = sigma;
  double scale1 = 0.33 / sigma;

  // 2. Flat.
  if (sigma <= flat_) return d;

  // 3. Trimming by probes in the low-pass model around (x, y).
  const double hiLevel = hi - 0.2 * (hi - lo), loLevel = lo + 0.25 * (hiLevel - lo);
  auto counts = [&](int32_t px, int32_t py) {
    const float v = L(px, py);
    return !IsValidPixel(v) || v > hiLevel || v < loLevel;
  };
  double q = 3.0;
  if (counts(x - 4, y - 1) || counts(x - 4, y + 2)) d.Left = -1, q = 2.684;
  if (counts(x + 5, y - 1) || counts(x + 5, y + 2)) d.Right = 2, q -= 0.188;
  if (counts(x - 1, y - 4) || counts(x + 2, y - 4)) d.Top = -1, q -= 0.316;
  if (counts(x - 1, y + 5) || counts(x + 2, y + 5)) d.Bottom = 2, q -= 0.188;
  d.Q = q;
  window_.clear();
  for (int32_t r = d.Top; r <= d.Bottom; ++r)
    for (int32_t c = std::max(PatchLo(r), d.Left); c <= std::min(PatchHi(r), d.Right); ++c) {
      const float v = Own(X, Y, r, c);
      window_.push_back({r, c, weight_[size_t(r + 2)][size_t(c + 2)], double(v), IsValidPixel(v)});
    }

  // 4. The own statistics again over a trimmed window.
  double meanS = mean;
  if (q < 2.95) {
    TStats t;
    for (const TWindowPixel& p : window_)
      if (p.OwnValid) t.Add(p.Own);
    if (!(t.N > 0)) return d;
    meanS = t.Mean();
    scale1 = 0.33 / OwnSigma(variant, t.Variance(), true);
  }
  d.Flat = false;
  d.Scale1 = scale1;
  d.MeanS = meanS;
  matched_.clear();
  a_.clear();
  for (const TWindowPixel& p : window_)
    if (p.OwnValid) {
      matched_.push_back(p);
      a_.push_back(float((p.Own - meanS) * scale1));
    }

  // 5. The candidates, eight offsets dx of one dy at a time.
  std::array<double, 8> errSum{};
  std::array<int32_t, 8> count{};
  double best = NoError;
  for (int32_t dy = -3; dy <= 3; ++dy) {
    const int32_t cy = y + dy;
    if (cy < 4 || cy > in_.Height - 7) continue;
    std::array<bool, Lanes> use{};
    bool any = false;
    for (size_t l = 0; l < 7; ++l) {
      const int32_t dx = int32_t(l) - 3, cx = x + dx;
      use[l] = std::abs(dx) + std::abs(dy) < 5 && cx >= 4 && cx <= in_.Width - 7 &&
               (tri || IsValidPixel(M(cx, cy)));
      any = any || use[l];
    }
    if (!any) continue;
    std::array<TStats, Lanes> stats;
    CandidateStats(x, y, cy, vector, stats);
    std::array<TCandidate, Lanes> cand;
    std::array<float, Lanes> meanC{}, scale2{}, err{};
#if ASTRELON_HAVE_AVX2
    if (UseAvx2(vector))
      FinishCandidatesAvx2(variant, stats, scale1, cand);
    else
#endif
      for (size_t l = 0; l < Lanes; ++l)
        if (use[l]) cand[l] = FinishCandidate(variant, stats[l], scale1);
    for (size_t l = 0; l < Lanes; ++l) {
      meanC[l] = float(cand[l].MeanC);
      scale2[l] = float(cand[l].Scale2);
    }
    CandidateErrors(x, cy, meanC, scale2, vector, err);
    for (size_t l = 0; l < 7; ++l) {
      if (!use[l] || !cand[l].Valid) continue;
      const int32_t dx = int32_t(l) - 3;
      const double e = err[l];
      if (e < best) {
        best = e;
        d.Dx = dx;
        d.Dy = dy;
        d.MeanC = cand[l].MeanC;
        d.Gain = scale1 > 1e-10 ? cand[l].Scale2 / scale1 : cand[l].Scale2 * 1e10;
      }
      const int32_t k = DirectionClass(dy, dx);
      errSum[size_t(k)] += e;
      ++count[size_t(k)];
    }
  }
  d.Error = best;

  // 6. The direction byte.
  double total = 0;
  size_t kmin = 0;
  for (size_t k = 0; k < 8; ++k) {
    if (count[k] > 1) errSum[k] /= count[k];
    total += errSum[k];
    if (errSum[k] < errSum[kmin]) kmin = k;
  }
  const double weight = std::nearbyint(total / (total / 128 + errSum[kmin] + 0.001)) - 1;
  d.Direction = DirectionByte(int32_t(kmin), int32_t(std::clamp(weight, 0.0, 31.0)));

  // 7. The blend factor.
  const double s = in_.Strength;
  d.Blend = std::max((0.71 + 0.025 * s) - (1.95 - 0.075 * s) * std::sqrt(best) / q, 0.0);
  return d;
}

// Blends the example v into the result pixel at index i.
void BlendPixel(TImageSlot& result, int32_t colorModel, size_t i, float v, const TDetailPixel& d, double base) {
  if (!IsValidPixel(v)) return;
  const double a = d.Blend;
  if (result.PlaneCount < 3) {
    float& t = result.Planes[1][i];
    if (IsValidPixel(t)) t = float(((v - d.MeanC) * d.Gain + d.MeanS) * a + t * (1 - a));
    return;
  }
  const bool yuv = colorModel == CmYuv;
  float* p[3] = {&result.Planes[1][i], &result.Planes[2][i], &result.Planes[3][i]};
  // The brightness needs all three planes of an RGB pixel.
  if (!IsValidPixel(*p[0]) || (!yuv && (!IsValidPixel(*p[1]) || !IsValidPixel(*p[2])))) return;
  const double lum = std::max(yuv ? *p[0] - base : 0.3 * *p[0] + 0.59 * *p[1] + 0.11 * *p[2] - base, 1.0);
  const double f = ((v - d.MeanC) * d.Gain + (d.MeanS - base)) * a / lum;
  for (int k = 0; k < (yuv ? 1 : 3); ++k) *p[k] = float((*p[k] - base) * f + *p[k] * (1 - a) + base * a);
}

}  // namespace

TVisitedRange VisitedRange(const TDetailInputs& in) {
  const int32_t w = in.Width, h = in.Height;
  if (w < 10 || h < 10) return {};
  if (in.Variant == THiFVariant::Tri) return {4, w - 6, 4, h - 6};
  return {8, 2 * w - 11, 8, 2 * h - 11};
}

TDetailPixel AnalyseDetailPixel(const TDetailInputs& in, int32_t X, int32_t Y, bool vector) {
  TAnalyser analyser(in);
  return analyser.Analyse(X, Y, vector);
}

bool TransferDetail(const TDetailInputs& in, TImageSlot& result, int32_t colorModel, std::span<uint8_t> directions,
                    const std::function<bool(int32_t row)>& poll, bool vector) {
  std::fill(directions.begin(), directions.end(), uint8_t(0));
  const TVisitedRange v = VisitedRange(in);
  if (v.Y1 < v.Y0) return true;
  const bool tri = in.Variant == THiFVariant::Tri;
  const int32_t w2 = 2 * in.Width, mapWidth = tri ? in.Width : w2;
  auto row = [&](TAnalyser& analyser, int32_t Y) {
    for (int32_t X = v.X0; X <= v.X1; ++X) {
      const TDetailPixel d = analyser.Analyse(X, Y, vector);
      directions[size_t(Y) * size_t(mapWidth) + size_t(X)] = d.Flat ? uint8_t(0) : d.Direction;
      if (d.Flat || !(d.Blend > 0)) continue;
      if (!tri) {
        const float e = in.M[size_t(Y / 2 + d.Dy) * size_t(in.Width) + size_t(X / 2 + d.Dx)];
        BlendPixel(result, colorModel, size_t(Y) * size_t(w2) + size_t(X), e, d, in.Base);
        continue;
      }
      for (int32_t i = 0; i < 2; ++i)
        for (int32_t j = 0; j < 2; ++j) {
          const float e = in.M[size_t(Y + d.Dy + i) * size_t(in.Width) + size_t(X + d.Dx + j)];
          BlendPixel(result, colorModel, size_t(2 * Y + i) * size_t(w2) + size_t(2 * X + j), e, d, in.Base);
        }
    }
  };
  // A pixel costs about as much as a hundred of a plain filter: chunks of
  // about 64 k visited pixels per thread, whose rows the threads take one at
  // a time (a row is computed the same way whichever thread takes it), and the
  // poll between chunks.
  const int64_t rowPixels = v.X1 - v.X0 + 1, rows = v.Y1 - v.Y0 + 1;
  const int threads = FilterThreads(rowPixels * rows * 64);
  const int32_t chunk = int32_t(threads * std::max<int64_t>(1, (int64_t(1) << 16) / rowPixels));
  for (int32_t first = v.Y0; first <= v.Y1; first += chunk) {
    const int32_t last = std::min(v.Y1 + 1, first + chunk);
    std::atomic<int32_t> next{first};
    ForEachBand(threads, threads, [&](int64_t, int64_t) {
      TAnalyser analyser(in);
      for (int32_t Y = next.fetch_add(1); Y < last; Y = next.fetch_add(1)) row(analyser, Y);
    });
    if (poll && !poll(last - 1)) return false;
  }
  return true;
}

}  // namespace astrelon
