#include "filters/noise/nlm_kernel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "common/round_even.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/image_slot.h"

namespace astrelon {

namespace {

// Rows computed together: per offset the column sums of the patch rows are
// carried down a strip, and the strip's sums stay in the first-level cache.
constexpr int32_t StripRows = 32;
constexpr float LastIndex = 2040.0f;
constexpr float Beyond = 2041.0f;  // larger scaled distances are held here (inside the table)

// The scaled distance, held at 2041 so that its index stays inside the table.
inline float Scaled(float d, float f, float k) {
  const float e = d * f * k;
  return e < Beyond ? e : Beyond;
}

// What a block of columns shares.
struct TSetup {
  const TNlmPlaneJob* Job = nullptr;
  const float* Table = nullptr;
  int32_t R = 0, Rs = 0;                       // patch and search radius
  std::array<std::array<float, 6>, 6> F{};     // index factor by patch half sizes [rx][ry]
  std::vector<float> K;                        // spatial factor by offset (1 without)
  uint32_t TermCap = 0;                        // narrow sums: squared differences held at most here
  bool Clamp = false;                          // TermCap can be reached
  int32_t X0 = 0, X1 = 0;                      // the columns asked for
};

// One strip's sums per pixel (rows x columns of the block) and the column sums
// of the current offset.
template <class TDist>
struct TStrip {
  std::vector<float> Sum, Weight;
  std::vector<TDist> Min;
  std::vector<TDist> Col;
};

template <class TDist>
inline TDist Square(const TSetup& s, int32_t a, int32_t b) {
  const int64_t d = a - b;
  const uint64_t q = uint64_t(d * d);
  if constexpr (sizeof(TDist) == 4)
    return s.Clamp && q > s.TermCap ? s.TermCap : uint32_t(q);
  else
    return q;
}

// One neighbour of one pixel, in every path's order of operations.
template <class TDist>
inline void Take(const float* table, TDist d, float f, float k, float v, float& sum, float& weight) {
  const float e = Scaled(float(d), f, k);
  if (e <= LastIndex && IsValidPixel(v)) {
    const float w = table[RoundEvenToInt(e)];
    sum = sum + w * v;
    weight = weight + w;
  }
}

// Column sums col[x' - ca] over the patch rows y - ry .. y + ry, x' = ca..cb.
template <class TDist>
void InitColumns(const TSetup& s, TStrip<TDist>& b, int32_t dx, int32_t dy, int32_t y, int32_t ry, int32_t ca,
                 int32_t cb) {
  const TNlmPlaneJob& j = *s.Job;
  const uint16_t* L = j.Levels.data();
  const int64_t w = j.Width;
  for (int32_t x = ca; x <= cb; ++x) {
    TDist sum = 0;
    for (int32_t t = y - ry; t <= y + ry; ++t) sum += Square<TDist>(s, L[t * w + x], L[(t + dy) * w + x + dx]);
    b.Col[size_t(x - ca)] = sum;
  }
}

// The rows of a step down: the row entering the patches (y + 1 + ry), the row
// leaving them (y - ry), and the offset of the compared patch.
struct TStepRows {
  const uint16_t* In;
  const uint16_t* Out;
  int64_t Shift;
};
inline TStepRows StepRows(const TSetup& s, int32_t dx, int32_t dy, int32_t y, int32_t ry) {
  const int64_t w = s.Job->Width;
  const uint16_t* L = s.Job->Levels.data();
  return {L + (y + 1 + ry) * w, L + (y - ry) * w, dy * w + dx};
}

// The column sums move down one row: row y + 1 + ry enters, row y - ry leaves.
template <class TDist>
void StepColumnsScalar(const TSetup& s, TDist* col, int32_t dx, int32_t dy, int32_t y, int32_t ry, int32_t ca,
                       int32_t from, int32_t cb) {
  const auto [in, out, shift] = StepRows(s, dx, dy, y, ry);
  for (int32_t x = from; x <= cb; ++x)
    col[x - ca] += Square<TDist>(s, in[x], in[x + shift]) - Square<TDist>(s, out[x], out[x + shift]);
}

// Pixels x = xa..xb of one row whose patches are complete (rx = r).
template <class TDist>
void RowScalar(const TSetup& s, const TDist* col, int32_t ca, int32_t xa, int32_t xb, const float* v, int32_t dx,
               float f, float k, float* sum, float* weight, TDist* mn) {
  const int32_t r = s.R;
  for (int32_t x = xa; x <= xb; ++x) {
    TDist d = 0;
    for (int32_t i = x - r; i <= x + r; ++i) d += col[i - ca];
    const int32_t o = x - s.X0;
    if (d < mn[o]) mn[o] = d;
    Take(s.Table, d, f, k, v[x + dx], sum[o], weight[o]);
  }
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 inline __m256i SquaresAvx2(const uint16_t* a, const uint16_t* b, bool clamp, __m256i cap) {
  const __m256i d = _mm256_sub_epi32(_mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
                                     _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b))));
  const __m256i q = _mm256_mullo_epi32(d, d);
  return clamp ? _mm256_min_epu32(q, cap) : q;
}

// StepColumnsScalar for the narrow sums, eight columns at a time; returns the first column left.
ASTRELON_AVX2 int32_t StepColumnsAvx2(const TSetup& s, uint32_t* col, int32_t dx, int32_t dy, int32_t y, int32_t ry,
                                      int32_t ca, int32_t cb) {
  const auto [in, out, shift] = StepRows(s, dx, dy, y, ry);
  const __m256i cap = _mm256_set1_epi32(int32_t(s.TermCap));
  int32_t x = ca;
  for (; x + 8 <= cb + 1; x += 8) {
    __m256i* c = reinterpret_cast<__m256i*>(col + (x - ca));
    const __m256i add = SquaresAvx2(in + x, in + x + shift, s.Clamp, cap);
    const __m256i sub = SquaresAvx2(out + x, out + x + shift, s.Clamp, cap);
    _mm256_storeu_si256(c, _mm256_add_epi32(_mm256_loadu_si256(c), _mm256_sub_epi32(add, sub)));
  }
  return x;
}

// RowScalar for the narrow sums, eight pixels at a time; returns the first pixel left.
ASTRELON_AVX2 int32_t RowAvx2(const TSetup& s, const uint32_t* col, int32_t ca, int32_t xa, int32_t xb, const float* v,
                              int32_t dx, float f, float k, float* sum, float* weight, uint32_t* mn) {
  const int32_t r = s.R;
  const __m256 fv = _mm256_set1_ps(f), kv = _mm256_set1_ps(k), beyond = _mm256_set1_ps(Beyond);
  const __m256 last = _mm256_set1_ps(LastIndex), limit = _mm256_set1_ps(BlankLimit);
  const __m256 high = _mm256_set1_ps(65536.0f);
  const __m256i low16 = _mm256_set1_epi32(0xFFFF);
  int32_t x = xa;
  for (; x + 8 <= xb + 1; x += 8) {
    const uint32_t* c = col + (x - r - ca);
    __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c));
    for (int32_t i = 1; i <= 2 * r; ++i)
      d = _mm256_add_epi32(d, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + i)));
    const int32_t o = x - s.X0;
    __m256i* m = reinterpret_cast<__m256i*>(mn + o);
    _mm256_storeu_si256(m, _mm256_min_epu32(_mm256_loadu_si256(m), d));
    // The distance as a float, rounded once: high and low halves are exact.
    const __m256 df = _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srli_epi32(d, 16)), high),
                                    _mm256_cvtepi32_ps(_mm256_and_si256(d, low16)));
    const __m256 e = _mm256_min_ps(_mm256_mul_ps(_mm256_mul_ps(df, fv), kv), beyond);
    const __m256 val = _mm256_loadu_ps(v + x + dx);
    const __m256 in = _mm256_and_ps(_mm256_cmp_ps(e, last, _CMP_LE_OQ), _mm256_cmp_ps(val, limit, _CMP_GT_OQ));
    const __m256 t = _mm256_i32gather_ps(s.Table, _mm256_cvtps_epi32(e), 4);
    _mm256_storeu_ps(sum + o, _mm256_add_ps(_mm256_loadu_ps(sum + o), _mm256_and_ps(_mm256_mul_ps(t, val), in)));
    _mm256_storeu_ps(weight + o, _mm256_add_ps(_mm256_loadu_ps(weight + o), _mm256_and_ps(t, in)));
  }
  return x;
}
#endif

// Rows sy0..sy1 (all with patch half height ry) of the block's columns.
template <class TDist>
void RunStrip(const TSetup& s, TStrip<TDist>& b, int32_t sy0, int32_t sy1, int32_t ry, bool avx2) {
  const TNlmPlaneJob& j = *s.Job;
  const int32_t w = j.Width, h = j.Height, r = s.R, R = s.Rs;
  const int32_t cols = s.X1 - s.X0 + 1, rows = sy1 - sy0 + 1;
  const size_t n = size_t(cols) * size_t(rows);
  b.Sum.assign(n, 0.0f);
  b.Weight.assign(n, 0.0f);
  b.Min.assign(n, std::numeric_limits<TDist>::max());
  b.Col.resize(size_t(cols + 2 * r + 8));
  // Columns whose patch is cut by the left or right image edge.
  std::vector<int32_t> edge;
  for (int32_t x = s.X0; x <= s.X1; ++x)
    if (x < r || x > w - 1 - r) edge.push_back(x);

  for (int32_t dy = -R; dy <= R; ++dy)
    for (int32_t dx = -R; dx <= R; ++dx) {
      if (dx == 0 && dy == 0) continue;
      const int32_t ya = std::max(sy0, ry - dy), yb = std::min(sy1, h - 1 - ry - dy);
      const int32_t ca = std::max({s.X0 - r, 0, -dx}), cb = std::min({s.X1 + r, w - 1, w - 1 - dx});
      if (ya > yb || ca > cb) continue;
      const int32_t xa = std::max({s.X0, r, r - dx}), xb = std::min({s.X1, w - 1 - r, w - 1 - r - dx});
      const float k = s.K[size_t((dy + R) * (2 * R + 1) + dx + R)];
      const float f = s.F[size_t(r)][size_t(ry)];
      InitColumns(s, b, dx, dy, ya, ry, ca, cb);
      TDist* col = b.Col.data();
      for (int32_t y = ya; y <= yb; ++y) {
        const int64_t at = int64_t(y - sy0) * cols;
        float* sum = b.Sum.data() + at;
        float* weight = b.Weight.data() + at;
        TDist* mn = b.Min.data() + at;
        const float* v = j.Source.data() + int64_t(y + dy) * w;  // the neighbours' row
        if (xa <= xb) {
          int32_t x = xa;
#if ASTRELON_HAVE_AVX2
          if constexpr (sizeof(TDist) == 4)
            if (avx2) x = RowAvx2(s, col, ca, xa, xb, v, dx, f, k, sum, weight, mn);
#endif
          RowScalar(s, col, ca, x, xb, v, dx, f, k, sum, weight, mn);
        }
        for (int32_t x : edge) {
          const int32_t rx = std::min(x, w - 1 - x);
          if (x + dx - rx < 0 || x + dx + rx > w - 1) continue;
          TDist d = 0;
          for (int32_t i = x - rx; i <= x + rx; ++i) d += col[i - ca];
          const int32_t o = x - s.X0;
          if (d < mn[o]) mn[o] = d;
          Take(s.Table, d, s.F[size_t(rx)][size_t(ry)], k, v[x + dx], sum[o], weight[o]);
        }
        if (y < yb) {
          int32_t from = ca;
#if ASTRELON_HAVE_AVX2
          if constexpr (sizeof(TDist) == 4)
            if (avx2) from = StepColumnsAvx2(s, col, dx, dy, y, ry, ca, cb);
#endif
          StepColumnsScalar(s, col, dx, dy, y, ry, ca, from, cb);
        }
      }
    }

  // The centre and the result.
  for (int32_t y = sy0; y <= sy1; ++y)
    for (int32_t x = s.X0; x <= s.X1; ++x) {
      const int64_t i = int64_t(y) * w + x;
      const float v0 = j.Source[size_t(i)];
      if (!IsValidPixel(v0) || !IsValidPixel(j.Destination[size_t(i)])) continue;
      const size_t o = size_t(y - sy0) * size_t(cols) + size_t(x - s.X0);
      if (!(b.Weight[o] > 0)) {
        j.Destination[size_t(i)] = v0;
        continue;
      }
      const int32_t rx = std::min({r, x, w - 1 - x});
      const float e = Scaled(float(b.Min[o]), s.F[size_t(rx)][size_t(ry)], 1.0f);
      const float w0 = e <= LastIndex ? s.Table[RoundEvenToInt(e)] : NlmSmallestCentreWeight;
      j.Destination[size_t(i)] = (b.Sum[o] + w0 * v0) / (b.Weight[o] + w0);
    }
}

// The largest distance whose scaled value is at most 2040 (f > 0).
uint64_t AdmittedLimit(float f) {
  auto admitted = [f](uint64_t d) { return Scaled(float(d), f, 1.0f) <= LastIndex; };
  uint64_t lo = 0, hi = uint64_t(1) << 62;
  if (admitted(hi)) return hi;
  while (hi - lo > 1) {
    const uint64_t mid = lo + (hi - lo) / 2;
    (admitted(mid) ? lo : hi) = mid;
  }
  return lo;
}

template <class TDist>
void RunBlock(const TSetup& s, bool avx2) {
  const TNlmPlaneJob& j = *s.Job;
  const int32_t r = s.R, h = j.Height;
  TStrip<TDist> b;
  int32_t y = j.Y1;
  while (y <= j.Y2) {
    const int32_t ry = std::min({r, y, h - 1 - y});
    int32_t last = y;
    if (ry == r) last = std::min({j.Y2, y + StripRows - 1, h - 1 - r});  // rows with complete patches
    RunStrip(s, b, y, last, ry, avx2);
    y = last + 1;
  }
}

}  // namespace

const std::array<float, NlmTableSize>& NlmWeightTable() {
  static const std::array<float, NlmTableSize> table = [] {
    std::array<float, NlmTableSize> t{};
    for (int32_t i = 0; i < NlmTableSize; ++i) t[size_t(i)] = float(std::exp(-i / 81.915));
    return t;
  }();
  return table;
}

void NlmFilterColumns(const TNlmPlaneJob& job, int32_t x0, int32_t x1, bool vector) {
  const int32_t w = job.Width, h = job.Height;
  x0 = std::max(x0, 0);
  x1 = std::min(x1, w - 1);
  if (x0 > x1 || job.Y1 > job.Y2 || job.Y1 < 0 || job.Y2 >= h || !(job.H > 0)) return;
  const size_t n = size_t(w) * size_t(h);
  if (job.Source.size() < n || job.Levels.size() < n || job.Destination.size() < n) return;

  TSetup s;
  s.Job = &job;
  s.Table = NlmWeightTable().data();
  s.R = std::clamp(job.PatchRadius, 1, 5);
  s.Rs = std::clamp(job.SearchRadius, 2, 12);
  s.X0 = x0;
  s.X1 = x1;
  const double scale2 = double(job.Scale) * double(job.Scale);
  for (int32_t rx = 0; rx <= s.R; ++rx)
    for (int32_t ry = 0; ry <= s.R; ++ry)
      s.F[size_t(rx)][size_t(ry)] = float(81.915 / (double((2 * rx + 1) * (2 * ry + 1)) * scale2 * job.H));
  const int32_t side = 2 * s.Rs + 1;
  s.K.assign(size_t(side * side), 1.0f);
  if (job.SpatialWeighting)
    for (int32_t dy = -s.Rs; dy <= s.Rs; ++dy)
      for (int32_t dx = -s.Rs; dx <= s.Rs; ++dx)
        s.K[size_t((dy + s.Rs) * side + dx + s.Rs)] = float(std::exp(double(dx * dx + dy * dy) / double(s.Rs * s.Rs)));

  // Distances fit 32 bits when the largest patch of the largest differences
  // does; else the squared differences are held at a cap that no admitted
  // distance reaches (above it a neighbour is left out either way), or, when
  // even the cap would be admitted, the sums run in 64 bits.
  const uint64_t top = uint64_t(std::clamp(job.MaxLevel, 0, 65535));
  const uint64_t patch = uint64_t((2 * s.R + 1) * (2 * s.R + 1));
  const uint64_t room = std::numeric_limits<uint32_t>::max();
  s.Clamp = top * top * patch > room;
  s.TermCap = s.Clamp ? uint32_t(room / patch) : uint32_t(top * top);
  const bool wide = s.Clamp && AdmittedLimit(s.F[size_t(s.R)][size_t(s.R)]) >= s.TermCap;
  const bool avx2 = UseAvx2(vector);
  if (wide)
    RunBlock<uint64_t>(s, false);
  else
    RunBlock<uint32_t>(s, avx2);
}

}  // namespace astrelon
