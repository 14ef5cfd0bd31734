#include "frequency/interference/periodic_noise_plane.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <queue>
#include <utility>
#include <vector>

#include "frequency/interference/gathered_line_sum.h"
#include "platform/big_buffers.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"

namespace astrelon {

namespace {

// The rows are worked in tiles of this many rows of the filter order by this
// many columns.
constexpr int32_t TileRows = 32, TileColumns = 64;

inline constexpr float Zero = 0.0f;

// Sum of n >= 1 floats in four double lanes (element k in lane k mod 4, the
// elements after the last group of four in the first lane), added in a fixed
// order. Runs of up to three values are that first lane alone (a missing
// value read as +0 from `Zero`).
inline double SumRun(const float* p, int32_t n) {
  if (n <= 3) {
    const float* p1 = n > 1 ? p + 1 : &Zero;
    const float* p2 = n > 2 ? p + 2 : &Zero;
    return (double(p[0]) + double(*p1)) + double(*p2);
  }
  double a = 0, b = 0, c = 0, d = 0;
  int32_t k = 0;
  for (; k + 4 <= n; k += 4) {
    a += p[k];
    b += p[k + 1];
    c += p[k + 2];
    d += p[k + 3];
  }
  for (; k < n; ++k) a += p[k];
  return (a + b) + (c + d);
}

// floor(a / d) for d >= 2 and a · d < 2^64 as the high half of a · M, with M
// the reciprocal from Reciprocal(d) (exact: the error of M, below d, keeps
// a · M / 2^64 short of the next integer).
inline uint64_t Reciprocal(uint64_t d) { return UINT64_MAX / d + 1; }
inline uint64_t DivideBy(uint64_t a, uint64_t reciprocal) {
  return uint64_t((static_cast<unsigned __int128>(a) * reciprocal) >> 64);
}

// The sum of the values along a digital line: n steps along its main
// direction, each also moving one place sideways when the running sideways
// share (P/Q a step, started at 0) exceeds 0.5, and 1 is taken off it. The
// sideways offset m holds from step First(m) = floor((2m − 1) Q / (2P)) + 1 on;
// the runs of equal offset are summed each with SumRun and the run sums added
// in order. Runs with offset mEnd or more are left out. at(m, first, last) is
// where the values of steps first .. last of run m lie one after the other.
// `reached` counts the values.
template <class At>
[[gnu::always_inline]] inline double SumLine(int32_t p, int32_t q, int32_t n, int32_t mEnd, At at,
                                             int32_t& reached) {
  reached = 0;
  if (n < 1 || mEnd < 1) return 0.0;
  if (p == 0) {
    // No sideways step: one run.
    reached = n;
    return SumRun(at(0, 1, n), n);
  }
  // Run m ends (before it is cut at n) at step floor((2m + 1) Q / (2P)). The
  // numerators stay below 2 n Q + Q, so their products with 2P stay below
  // 4 hw hh max(hw, hh): far below 2^64 for any spectrum that fits in memory.
  const uint64_t reciprocal = Reciprocal(2 * uint64_t(p));
  uint64_t numerator = uint64_t(q);
  // Run 0 is empty when the first sideways step comes at once.
  int32_t start = int32_t(std::min<uint64_t>(uint64_t(n), DivideBy(numerator, reciprocal))) + 1;
  double sum = start > 1 ? SumRun(at(0, 1, start - 1), start - 1) : 0.0;
  for (int32_t m = 1; start <= n && m < mEnd; ++m) {
    numerator += 2 * uint64_t(q);
    const int32_t next = int32_t(std::min<uint64_t>(uint64_t(n), DivideBy(numerator, reciprocal))) + 1;
    sum += SumRun(at(m, start, next - 1), next - start);
    start = next;
  }
  reached = start - 1;
  return sum;
}

// The amplitudes of columns From .. To − 1 of one spectrum row as double, and
// the ring of each coefficient (−1 outside 0.2 < radius < 1.35): radius =
// sqrt(column term + row term), ring = nr · radius · 0.735 rounded to the
// nearest integer (halves to even).
struct TRowRings {
  const float* Data;
  int32_t Width, From, To;
  double RowTerm, Nr;
  const double* ColumnTerm;
  double* Amplitude;
  int32_t* Ring;
};

constexpr double LowestRadius = 0.2, HighestRadius = 1.35, RingScale = 0.735;

void RowRingsScalar(const TRowRings& r, int32_t from) {
  for (int32_t c = from; c < r.To; ++c) {
    const double re = r.Data[c], im = r.Data[c + r.Width];
    r.Amplitude[c] = std::sqrt(re * re + im * im);
    const double radius = std::sqrt(r.ColumnTerm[c] + r.RowTerm);
    const bool inside = radius > LowestRadius && radius < HighestRadius;
    r.Ring[c] = inside ? int32_t(std::nearbyint(r.Nr * radius * RingScale)) : -1;
  }
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 __m256d Amplitude4(const float* re, const float* im) {
  const __m256d r = _mm256_cvtps_pd(_mm_loadu_ps(re)), i = _mm256_cvtps_pd(_mm_loadu_ps(im));
  return _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(r, r), _mm256_mul_pd(i, i)));
}

ASTRELON_AVX2 void RowRingsAvx2(const TRowRings& r) {
  const __m256d rowTerm = _mm256_set1_pd(r.RowTerm), nr = _mm256_set1_pd(r.Nr), scale = _mm256_set1_pd(RingScale);
  const __m256d lowest = _mm256_set1_pd(LowestRadius), highest = _mm256_set1_pd(HighestRadius);
  const __m256d outside = _mm256_set1_pd(-1.0);
  int32_t c = r.From;
  for (; c + 4 <= r.To; c += 4) {
    _mm256_storeu_pd(r.Amplitude + c, Amplitude4(r.Data + c, r.Data + c + r.Width));
    const __m256d radius = _mm256_sqrt_pd(_mm256_add_pd(_mm256_loadu_pd(r.ColumnTerm + c), rowTerm));
    const __m256d inside =
        _mm256_and_pd(_mm256_cmp_pd(radius, lowest, _CMP_GT_OQ), _mm256_cmp_pd(radius, highest, _CMP_LT_OQ));
    const __m256d ring =
        _mm256_round_pd(_mm256_mul_pd(_mm256_mul_pd(nr, radius), scale), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(r.Ring + c), _mm256_cvtpd_epi32(_mm256_blendv_pd(outside, ring, inside)));
  }
  RowRingsScalar(r, c);
}
#endif

// Whether the coefficients of one row stand out of their rings: inside 0.2 <
// radius < 1.35 with an amplitude above mean + f · spread of the ring, f =
// 0.1 + 0.2 (hw + hh) / (|dy| + i). Four at a time on the vector path (the
// same arithmetic); the filter looks only at those that do.
struct TStandOut {
  const float* Data;
  int32_t Width, Ady;
  double RowTerm, Nr, Tolerance;  // Tolerance = 0.2 (hw + hh)
  const double *ColumnTerm, *Mean, *Spread;
};

inline bool StandsOut(const TStandOut& s, int32_t c) {
  const double radius = std::sqrt(s.ColumnTerm[c] + s.RowTerm);
  if (!(radius > LowestRadius && radius < HighestRadius)) return false;
  const size_t b = size_t(std::nearbyint(s.Nr * radius * RingScale));
  const double f = 0.1 + s.Tolerance / (s.Ady + c + 1);
  const double re = s.Data[c], im = s.Data[c + s.Width];
  return std::sqrt(re * re + im * im) > s.Mean[b] + f * s.Spread[b];
}

#if ASTRELON_HAVE_AVX2
// Flags (one byte a column, from `low`) of columns low .. high.
ASTRELON_AVX2 void StandOutAvx2(const TStandOut& s, int32_t low, int32_t high, uint8_t* flags) {
  const __m256d rowTerm = _mm256_set1_pd(s.RowTerm), nr = _mm256_set1_pd(s.Nr), scale = _mm256_set1_pd(RingScale);
  const __m256d lowest = _mm256_set1_pd(LowestRadius), highest = _mm256_set1_pd(HighestRadius);
  const __m256d tolerance = _mm256_set1_pd(s.Tolerance), tenth = _mm256_set1_pd(0.1);
  const __m256d steps = _mm256_setr_pd(1, 2, 3, 4);
  int32_t c = low;
  for (; c + 3 <= high; c += 4) {
    const __m256d radius = _mm256_sqrt_pd(_mm256_add_pd(_mm256_loadu_pd(s.ColumnTerm + c), rowTerm));
    const __m256d inside =
        _mm256_and_pd(_mm256_cmp_pd(radius, lowest, _CMP_GT_OQ), _mm256_cmp_pd(radius, highest, _CMP_LT_OQ));
    const int mask = _mm256_movemask_pd(inside);
    if (mask == 0) {
      std::fill_n(flags + (c - low), 4, uint8_t(0));
      continue;
    }
    const __m256d ring =
        _mm256_round_pd(_mm256_mul_pd(_mm256_mul_pd(nr, radius), scale), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    alignas(16) int32_t b[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(b), _mm256_cvtpd_epi32(_mm256_and_pd(ring, inside)));
    const __m256d mean = _mm256_setr_pd(s.Mean[b[0]], s.Mean[b[1]], s.Mean[b[2]], s.Mean[b[3]]);
    const __m256d spread = _mm256_setr_pd(s.Spread[b[0]], s.Spread[b[1]], s.Spread[b[2]], s.Spread[b[3]]);
    const __m256d f = _mm256_add_pd(
        tenth, _mm256_div_pd(tolerance, _mm256_add_pd(_mm256_set1_pd(double(s.Ady + c)), steps)));
    const __m256d limit = _mm256_add_pd(mean, _mm256_mul_pd(f, spread));
    const __m256d re = _mm256_cvtps_pd(_mm_loadu_ps(s.Data + c)), im = _mm256_cvtps_pd(_mm_loadu_ps(s.Data + c + s.Width));
    const __m256d a = _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(re, re), _mm256_mul_pd(im, im)));
    const int out = _mm256_movemask_pd(_mm256_and_pd(inside, _mm256_cmp_pd(a, limit, _CMP_GT_OQ)));
    for (int j = 0; j < 4; ++j) flags[c - low + j] = uint8_t((out >> j) & 1);
  }
  for (; c <= high; ++c) flags[c - low] = StandsOut(s, c);
}
#endif

// A buffer that is written in full before it is read: not cleared, huge pages.
std::unique_ptr<float[]> NewBuffer(size_t n) {
  std::unique_ptr<float[]> buffer(new float[n]);
  AdviseHugePages(buffer.get(), n * sizeof(float));
  return buffer;
}

// One spectrum plane: W values a row, real parts in columns 0 .. hw − 1 and the
// imaginary parts hw columns to the right; vertical frequency 0 in row hh.
//
// The rows are filtered in a fixed order (each half from its outer edge toward
// the centre row), and a reference line reads the amplitudes as that order
// leaves them: rows before the row in the order filtered, rows after it not
// yet. So the amplitudes are kept three times: unfiltered row by row (read-only
// once measured), filtered row by row, and filtered column by column, so that
// reference lines read runs of them. A coefficient's line reads only rows
// before its row in the order, from its column to the right, and its own row
// to the right; so the plane is cut into tiles (rows of the order × columns
// from the right), and a tile is worked once the tile above it in the order
// and the tile to its right are done. Tiles run on several threads, each as
// soon as it is ready: no thread waits inside a tile, and a thread that is
// held up holds up only the tiles after its own.
class TSpectrumPlane {
public:
  // Buffers for planes of this size, kept from one plane to the next.
  TSpectrumPlane(int32_t width, int32_t height)
      : W_(width), H_(height), hw_(width / 2), hh_(height / 2), nr_((hw_ + hh_) / 2) {
    columnTerm_.resize(size_t(hw_));
    for (int32_t c = 0; c < hw_; ++c) {
      const double i = double(c + 1) / hw_;
      columnTerm_[size_t(c)] = i * i;
    }
    unfiltered_ = NewBuffer(size_t(hw_) * size_t(H_));
    filtered_ = NewBuffer(size_t(hw_) * size_t(H_));
    columns_ = NewBuffer(size_t(hw_) * size_t(H_));
  }

  void Filter(float* data, double k, int threads, bool vector) {
    data_ = data;
    vector_ = UseAvx2(vector);
    Measure(k, vector, threads);
    const int32_t rowTiles = (H_ + TileRows - 1) / TileRows, columnTiles = (hw_ + TileColumns - 1) / TileColumns;
    // Tiles not yet ready count the tiles they still wait for; ready tiles
    // are taken nearest the start first (the longest chain of tiles after
    // them).
    std::vector<int8_t> waiting(size_t(rowTiles) * size_t(columnTiles));
    for (int32_t r = 0; r < rowTiles; ++r)
      for (int32_t t = 0; t < columnTiles; ++t)
        waiting[size_t(r) * size_t(columnTiles) + size_t(t)] = int8_t((r > 0) + (t > 0));
    using TTile = std::pair<int32_t, int32_t>;  // (row tile + column tile, row tile)
    std::priority_queue<TTile, std::vector<TTile>, std::greater<>> ready;
    ready.emplace(0, 0);
    int64_t left = int64_t(rowTiles) * columnTiles;
    std::mutex mutex;
    std::condition_variable changed;
    ForEachBand(threads, threads, [&](int64_t, int64_t) {
      std::unique_lock lock(mutex);
      for (;;) {
        changed.wait(lock, [&] { return !ready.empty() || left == 0; });
        if (ready.empty()) return;
        const auto [sum, r] = ready.top();
        ready.pop();
        const int32_t t = sum - r;
        lock.unlock();
        const int32_t high = hw_ - 1 - t * TileColumns, low = std::max(high - TileColumns + 1, 0);
        for (int32_t order = r * TileRows; order < std::min((r + 1) * TileRows, H_); ++order)
          FilterColumns(order, high, low);
        lock.lock();
        --left;
        int woken = 0;
        const auto done = [&](int32_t r2, int32_t t2) {
          if (r2 < rowTiles && t2 < columnTiles && --waiting[size_t(r2) * size_t(columnTiles) + size_t(t2)] == 0) {
            ready.emplace(r2 + t2, r2);
            ++woken;
          }
        };
        done(r + 1, t);
        done(r, t + 1);
        if (left == 0 || woken > 1)
          changed.notify_all();
        else if (woken == 1)
          changed.notify_one();
      }
    });
  }

private:
  float& Re(int32_t y, int32_t c) { return data_[size_t(y) * size_t(W_) + size_t(c)]; }
  float& Im(int32_t y, int32_t c) { return data_[size_t(y) * size_t(W_) + size_t(c + hw_)]; }
  double Amplitude(int32_t y, int32_t c) {
    const double re = Re(y, c), im = Im(y, c);
    return std::sqrt(re * re + im * im);
  }
  const float* Unfiltered(int32_t y) const { return unfiltered_.get() + size_t(y) * size_t(hw_); }
  const float* Column(int32_t c) const { return columns_.get() + size_t(c) * size_t(H_); }
  double RowTerm(int32_t y) const {
    const double dy = double(hh_ - y) / hh_;
    return dy * dy;
  }
  int32_t Ring(double radius) const { return int32_t(std::nearbyint(nr_ * radius * RingScale)); }
  static bool InRange(double radius) { return radius > LowestRadius && radius < HighestRadius; }

  // Every amplitude (bands of rows), and the mean and k standard deviations of
  // those of every ring. Each ring's sums run in row order and within a row in
  // column order, whatever the threads: the rings are shared out in groups,
  // and a group's coefficients in a row are one stretch of columns (the ring
  // never falls along a row), found while the amplitudes are taken. Four at a
  // time on the vector path, the same values.
  void Measure(double k, bool vector, int threads) {
    const bool avx2 = UseAvx2(vector);
    const size_t rings = size_t(nr_) + 1;
    const int32_t groups = threads > 1 ? int32_t(std::min<size_t>(rings, size_t(threads) * 8)) : 1;
    const size_t bounds = size_t(groups) + 1;
    // Row y's stretch of group g: columns starts[y · bounds + g] .. starts[y · bounds + g + 1] − 1.
    std::vector<int32_t> starts(size_t(H_) * bounds);
    const auto rowRings = [&](const TRowRings& row) {
#if ASTRELON_HAVE_AVX2
      if (avx2)
        RowRingsAvx2(row);
      else
#endif
        RowRingsScalar(row, row.From);
    };
    ForEachBand(H_, threads, [&](int64_t first, int64_t last) {
      std::vector<double> amplitude(static_cast<size_t>(hw_));
      std::vector<int32_t> ring(static_cast<size_t>(hw_));
      for (int64_t y = first; y < last; ++y) {
        rowRings({data_ + size_t(y) * size_t(W_), hw_, 0, hw_, RowTerm(int32_t(y)), double(nr_), columnTerm_.data(),
                  amplitude.data(), ring.data()});
        float* out = unfiltered_.get() + size_t(y) * size_t(hw_);
        for (int32_t c = 0; c < hw_; ++c) out[c] = float(amplitude[size_t(c)]);
        // The rings fill one stretch of the row, growing along it.
        int32_t* start = starts.data() + size_t(y) * bounds;
        int32_t c = 0;
        while (c < hw_ && ring[size_t(c)] < 0) ++c;
        for (int32_t g = 0; g < groups; ++g) {
          const int32_t from = int32_t(int64_t(rings) * g / groups);
          while (c < hw_ && ring[size_t(c)] >= 0 && ring[size_t(c)] < from) ++c;
          start[g] = c;
        }
        while (c < hw_ && ring[size_t(c)] >= 0) ++c;
        start[groups] = c;
      }
    });
    std::vector<double> sum(rings, 0.0), squares(rings, 0.0);
    std::vector<int32_t> count(rings, 0);
    std::atomic<int32_t> next{0};
    ForEachBand(threads, threads, [&](int64_t, int64_t) {
      std::vector<double> amplitude(static_cast<size_t>(hw_));
      std::vector<int32_t> ring(static_cast<size_t>(hw_));
      for (int32_t g; (g = next.fetch_add(1, std::memory_order_relaxed)) < groups;)
        for (int32_t y = 0; y < H_; ++y) {
          const int32_t c0 = starts[size_t(y) * bounds + size_t(g)], c1 = starts[size_t(y) * bounds + size_t(g) + 1];
          if (c0 >= c1) continue;
          rowRings({data_ + size_t(y) * size_t(W_), hw_, c0, c1, RowTerm(y), double(nr_), columnTerm_.data(),
                    amplitude.data(), ring.data()});
          // The same additions in the same order, a ring's running sums held
          // while its stretch lasts.
          size_t b = size_t(ring[size_t(c0)]);
          double s = sum[b], q = squares[b];
          int32_t n = count[b];
          for (int32_t c = c0; c < c1; ++c) {
            if (size_t(ring[size_t(c)]) != b) {
              sum[b] = s;
              squares[b] = q;
              count[b] = n;
              b = size_t(ring[size_t(c)]);
              s = sum[b];
              q = squares[b];
              n = count[b];
            }
            const double a = amplitude[size_t(c)];
            s += a;
            q += a * a;
            ++n;
          }
          sum[b] = s;
          squares[b] = q;
          count[b] = n;
        }
    });
    mean_.assign(rings, 0.0);
    spread_.assign(rings, 0.0);
    for (size_t b = 0; b < rings; ++b) {
      if (count[b] == 0) continue;
      mean_[b] = sum[b] / count[b];
      const double var = squares[b] / count[b] - mean_[b] * mean_[b];
      spread_[b] = var < 0 ? 0.0 : k * std::sqrt(var);
    }
  }

  // Mean amplitude along the reference line from (y, c) at frequency (i, dy);
  // the line ends at the spectrum's edges. `reached` counts its coefficients.
  // `own` holds row y's amplitudes as filtered so far.
  double LineMean(int32_t y, int32_t c, int32_t i, int32_t dy, int32_t& reached, const float* own) const {
    if (vector_) {
      double sum = 0;
      if (GatheredLineMean(y, c, i, dy, reached, sum)) return reached > 0 ? sum / reached : 0.0;
    }
    const int32_t ady = std::abs(dy);
    double sum = 0;
    if (i < ady) {
      // Steeper than 45°: rows away from the centre row (before this one in the
      // order), moving one column right when i/|dy| a step adds up past 0.5;
      // past the top or bottom edge or the last column the line ends.
      const bool down = y > hh_;
      const int32_t n = std::min({hh_ - ady - 2, hh_ / 3, down ? H_ - 1 - y : y});
      const float* column = Column(c);
      const size_t h = size_t(H_);
      sum = down ? SumLine(i, ady, n, hw_ - c,
                           [&](int32_t m, int32_t first, int32_t) { return column + size_t(m) * h + size_t(y + first); },
                           reached)
                 : SumLine(i, ady, n, hw_ - c,
                           [&](int32_t m, int32_t, int32_t last) { return column + size_t(m) * h + size_t(y - last); },
                           reached);
    } else {
      // Columns to the right (never past the last), moving one row down (dy >
      // 0) or up (dy < 0) when dy/i a step adds up past ±0.5: toward the centre
      // row, whose side rows come later in the order; past it (from below) rows
      // come earlier. Past the top or bottom edge the line ends.
      const int32_t n = std::min(hw_ - i - 1, hw_ / 3);
      const size_t w = size_t(hw_);
      const float* right = own + c;
      if (dy >= 0) {
        const float* below = Unfiltered(y) + c;
        sum = SumLine(ady, i, n, H_ - y,
                      [&](int32_t m, int32_t first, int32_t) {
                        return (m == 0 ? right : below + size_t(m) * w) + first;
                      },
                      reached);
      } else {
        // Rows hh + 1 .. y − 1 unfiltered, rows up to hh filtered.
        const int32_t filteredFrom = y - hh_;
        sum = SumLine(ady, i, n, y + 1,
                      [&](int32_t m, int32_t first, int32_t) {
                        const float* base = m >= filteredFrom ? filtered_.get() : unfiltered_.get();
                        return (m == 0 ? right : base + size_t(y - m) * w + size_t(c)) + first;
                      },
                      reached);
      }
    }
    return reached > 0 ? sum / reached : 0.0;
  }

  // Step at which a line of P sideways steps in Q (P > 0) reaches sideways offset m.
  static int32_t FirstStep(int32_t m, int32_t p, int32_t q) {
    return int32_t((2 * int64_t(m) - 1) * q / (2 * int64_t(p))) + 1;
  }
  // Steps a line of n steps takes before it reaches sideways offset mEnd.
  static int32_t Reached(int32_t n, int32_t mEnd, int32_t p, int32_t q) {
    if (n < 1 || mEnd < 1) return 0;
    return p == 0 ? n : std::min(n, FirstStep(mEnd, p, q) - 1);
  }

  // LineMean's sum gathered in any order; false when that order could change it.
  bool GatheredLineMean(int32_t y, int32_t c, int32_t i, int32_t dy, int32_t& reached, double& sum) const {
    const int32_t ady = std::abs(dy);
    const size_t at = size_t(y) * size_t(hw_) + size_t(c);
    if (i < ady) {
      const bool down = y > hh_;
      reached = Reached(std::min({hh_ - ady - 2, hh_ / 3, down ? H_ - 1 - y : y}), hw_ - c, i, ady);
      const TLineStretch line{columns_.get() + size_t(c) * size_t(H_) + size_t(y), down ? 1 : -1, H_, 1, reached};
      return GatheredLineSum({&line, 1}, uint32_t(i), uint32_t(ady), sum);
    }
    reached = Reached(std::min(hw_ - i - 1, hw_ / 3), dy >= 0 ? H_ - y : y + 1, ady, i);
    const int32_t side = dy >= 0 ? hw_ : -hw_;
    const float* filtered = filtered_.get() + at;
    const float* unfiltered = unfiltered_.get() + at;
    if (ady == 0) {
      const TLineStretch line{filtered, 1, side, 1, reached};
      return GatheredLineSum({&line, 1}, 0, uint32_t(i), sum);
    }
    // Own row to the right, then unfiltered rows toward the centre row; from
    // below, the rows up to the centre row filtered.
    const int32_t sideways = FirstStep(1, ady, i);
    const int32_t filteredFrom = dy >= 0 ? reached + 1 : std::max(FirstStep(y - hh_, ady, i), sideways);
    const TLineStretch lines[3] = {{filtered, 1, side, 1, std::min(reached, sideways - 1)},
                                   {unfiltered, 1, side, sideways, std::min(reached, filteredFrom - 1)},
                                   {filtered, 1, side, filteredFrom, reached}};
    return GatheredLineSum(lines, uint32_t(ady), uint32_t(i), sum);
  }

  // Columns high down to low of the row at place `order` of the filter order.
  void FilterColumns(int32_t order, int32_t high, int32_t low) {
    const int32_t y = order <= hh_ ? order : H_ - order + hh_;
    float* own = filtered_.get() + size_t(y) * size_t(hw_);
    if (high == hw_ - 1) std::copy_n(Unfiltered(y), hw_, own);
    const double rowTerm = RowTerm(y);
    const int32_t dy = hh_ - y;
    // On the vector path the coefficients that stand out are found first.
    uint8_t standsOut[TileColumns];
#if ASTRELON_HAVE_AVX2
    if (vector_)
      StandOutAvx2({data_ + size_t(y) * size_t(W_), hw_, std::abs(dy), rowTerm, double(nr_), 0.2 * double(hw_ + hh_),
                    columnTerm_.data(), mean_.data(), spread_.data()},
                   low, high, standsOut);
#endif
    for (int32_t c = high; c >= low; --c) {
      if (vector_ && !standsOut[c - low]) {
        columns_[size_t(c) * size_t(H_) + size_t(y)] = own[c];
        continue;
      }
      const int32_t i = c + 1;
      const double radius = std::sqrt(columnTerm_[size_t(c)] + rowTerm);
      if (InRange(radius)) {
        const size_t b = size_t(Ring(radius));
        const double f = 0.1 + 0.2 * double(hw_ + hh_) / (std::abs(dy) + i);
        const double limit = mean_[b] + f * spread_[b];
        const double a = Amplitude(y, c);
        if (a > limit) {
          int32_t reached = 0;
          const double lineMean = LineMean(y, c, i, dy, reached, own);
          double scale = 1;
          if (reached < 1) {
            scale = mean_[b] / a;
          } else {
            const double target = f * spread_[b] + lineMean;
            if (target <= limit || target < a) scale = target / a;
          }
          Re(y, c) = float(Re(y, c) * scale);
          Im(y, c) = float(Im(y, c) * scale);
          own[c] = float(Amplitude(y, c));
        }
      }
      columns_[size_t(c) * size_t(H_) + size_t(y)] = own[c];
    }
  }

  float* data_ = nullptr;
  int32_t W_, H_, hw_, hh_, nr_;
  bool vector_ = false;
  std::vector<double> columnTerm_, mean_, spread_;
  std::unique_ptr<float[]> unfiltered_, filtered_, columns_;
};

}  // namespace

void FilterPeriodicNoisePlanes(std::span<float* const> planes, int32_t width, int32_t height, double k, int threads,
                               bool vector) {
  if (width < 2 || height < 2 || planes.empty()) return;
  TSpectrumPlane work(width, height);
  for (float* plane : planes) work.Filter(plane, k, std::max(threads, 1), vector);
}

void FilterPeriodicNoisePlane(std::span<float> plane, int32_t width, int32_t height, double k, int threads,
                              bool vector) {
  if (plane.size() < size_t(std::max(width, 0)) * size_t(std::max(height, 0))) return;
  float* const data = plane.data();
  FilterPeriodicNoisePlanes({&data, 1}, width, height, k, threads, vector);
}

}  // namespace astrelon
