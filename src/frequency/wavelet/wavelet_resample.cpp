#include "frequency/wavelet/wavelet_resample.h"

#include <algorithm>
#include <stdexcept>

#include "frequency/wavelet/wavelet_row_loops.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/image_slot.h"

namespace astrelon {

namespace {

// The weights scaled to whole numbers: reduce 1/6, 2/3, 1, 2/3, 1/6 as 1, 4, 6,
// 4, 1; expand 1/6, 1, 1/6 as 1, 6, 1. A mean over all its inputs then divides
// by a power of two. Each row is first computed as if every input were valid;
// a row that holds a blank input is computed again value by value, which gives
// the same numbers where all inputs are valid.
constexpr float ReduceWeights[5] = {1, 4, 6, 4, 1};

// The weighted mean of the valid values among the inputs, blank without any.
struct TMean {
  float Sum = 0, Weight = 0;
  void Add(float v, float w) {
    if (IsValidPixel(v)) {
      Sum += w * v;
      Weight += w;
    }
  }
  float Value() const { return Weight > 0 ? Sum / Weight : BlankPixel; }
};

bool AnyBlank(const float* v, int32_t n) {
  bool blank = false;
  for (int32_t i = 0; i < n; ++i) blank |= !IsValidPixel(v[i]);
  return blank;
}

// ---- reduce ----

// One row reduced along x: n values to (n+1)/2.
void ReduceRow(const float* s, int32_t n, float* out) {
  const int32_t m = ReducedLength(n);
  auto general = [&](int32_t x) {
    TMean mean;
    for (int j = -2; j <= 2; ++j) {
      const int32_t i = 2 * x + j;
      if (i >= 0 && i < n) mean.Add(s[i], ReduceWeights[j + 2]);
    }
    return mean.Value();
  };
  // Outputs whose five samples exist: x = 1 .. (n - 3) / 2.
  const int32_t first = 1, last = n >= 5 ? (n - 3) / 2 : 0;
  for (int32_t x = first; x <= last; ++x) {
    const float* c = s + 2 * x;
    out[x] = ((((c[-2] + 4.0f * c[-1]) + 6.0f * c[0]) + 4.0f * c[1]) + c[2]) * 0.0625f;
  }
  if (AnyBlank(s, n)) {
    for (int32_t x = 0; x < m; ++x) out[x] = general(x);
    return;
  }
  out[0] = general(0);
  for (int32_t x = std::max(last + 1, first); x < m; ++x) out[x] = general(x);
}

// One output row of the vertical reduction: rows 2y-2 .. 2y+2 of `src`.
void ReduceColumns(const TPlaneView& src, int32_t y, float* out) {
  const float* rows[5] = {};
  int present = 0;
  for (int j = -2; j <= 2; ++j) {
    const int32_t r = 2 * y + j;
    if (r >= 0 && r < src.Height) {
      rows[j + 2] = src.Row(r);
      ++present;
    }
  }
  const int32_t w = src.Width;
  bool recompute = present < 5;
  if (!recompute) {
    const float *a = rows[0], *b = rows[1], *c = rows[2], *d = rows[3], *e = rows[4];
    for (int32_t x = 0; x < w; ++x) out[x] = ((((a[x] + 4.0f * b[x]) + 6.0f * c[x]) + 4.0f * d[x]) + e[x]) * 0.0625f;
    for (int k = 0; k < 5 && !recompute; ++k) recompute = AnyBlank(rows[k], w);
  }
  if (!recompute) return;
  for (int32_t x = 0; x < w; ++x) {
    TMean m;
    for (int k = 0; k < 5; ++k)
      if (rows[k]) m.Add(rows[k][x], ReduceWeights[k]);
    out[x] = m.Value();
  }
}

// ---- expand ----

// Output o of a line of n samples expanded to m, read through `at`.
template <typename At>
float ExpandSample(At at, int32_t n, int32_t o) {
  const int32_t i = o / 2;
  TMean mean;
  if (o % 2 == 0) {
    if (i >= 1) mean.Add(at(i - 1), 1.0f);
    mean.Add(at(i), 6.0f);
    if (i + 1 < n) mean.Add(at(i + 1), 1.0f);
  } else if (i + 1 < n) {
    mean.Add(at(i), 1.0f);
    mean.Add(at(i + 1), 1.0f);
  } else {
    mean.Add(at(i), 1.0f);  // the last sample of an even target repeats s[n - 1]
  }
  return mean.Value();
}

// Output row o of the column expansion: the one, two or three source rows it
// reads (rowValid says which hold only valid values), combined into `out`.
void ExpandColumns(const TPlaneView& src, const std::vector<char>& rowValid, int32_t o, float* out, bool vector) {
  const int32_t n = src.Height, w = src.Width, i = o / 2;
  const float* above = i >= 1 ? src.Row(i - 1) : nullptr;
  const float* here = src.Row(i);
  const float* below = i + 1 < n ? src.Row(i + 1) : nullptr;
  if (o % 2 == 0 && above && below && rowValid[size_t(i - 1)] && rowValid[size_t(i)] && rowValid[size_t(i + 1)]) {
    ExpandEvenColumns(above, here, below, out, w, vector);
    return;
  }
  if (o % 2 == 1 && below && rowValid[size_t(i)] && rowValid[size_t(i + 1)]) {
    ExpandOddColumns(here, below, out, w, vector);
    return;
  }
  for (int32_t x = 0; x < w; ++x) {
    auto at = [&](int32_t r) { return r == i ? here[x] : r < i ? above[x] : below[x]; };
    out[x] = ExpandSample(at, n, o);
  }
}

// A row of n samples expanded to m along x and taken into `out` with the detail
// row as `step` says; `scratch` holds m values.
void ExpandRow(const float* s, int32_t n, int32_t m, const float* d, float* out, TDetailStep step, float gain,
               float* scratch, bool vector) {
  auto at = [s](int32_t i) { return s[i]; };
  if (AllValid(s, n, vector)) {
    ExpandRowInterior(s, n, d, out, step, gain, vector);
    // The first two outputs and those from s[n - 1] on.
    auto edge = [&](int32_t o) {
      const float e = ExpandSample(at, n, o);
      CombineWithDetail(d ? d + o : nullptr, &e, out + o, 1, step, gain, false);
    };
    for (int32_t o = 0; o < std::min(2, m); ++o) edge(o);
    for (int32_t o = std::max(2, 2 * (n - 1)); o < m; ++o) edge(o);
    return;
  }
  for (int32_t o = 0; o < m; ++o) scratch[o] = ExpandSample(at, n, o);
  CombineWithDetail(d, scratch, out, m, step, gain, vector);
}

void CheckExpand(int32_t n, int32_t m) {
  if (n < 1 || (m != 2 * n && m != 2 * n - 1)) throw std::invalid_argument("Interner Fehler: Die Zielgröße der Vergrößerung ist nicht 2n oder 2n - 1.");
}

int BandsFor(int64_t rows, int64_t width, int threads) {
  return int(std::clamp<int64_t>(int64_t(threads), 1, std::max<int64_t>(1, rows * width / 4096)));
}

}  // namespace

void ReduceLevel(const TPlaneView& src, const TPlaneView& dst, std::vector<float>& rows, int threads) {
  if (dst.Width != ReducedLength(src.Width) || dst.Height != ReducedLength(src.Height))
    throw std::invalid_argument("Interner Fehler: Die Zielgröße der Verkleinerung passt nicht.");
  // Rows first (src.Height rows of dst.Width), then down the columns.
  rows.resize(size_t(src.Height) * size_t(dst.Width));
  const TPlaneView half{rows.data(), dst.Width, src.Height, dst.Width};
  ForEachBand(src.Height, BandsFor(src.Height, src.Width, threads), [&](int64_t first, int64_t last) {
    for (int64_t y = first; y < last; ++y) ReduceRow(src.Row(int32_t(y)), src.Width, half.Row(int32_t(y)));
  });
  ForEachBand(dst.Height, BandsFor(dst.Height, dst.Width, threads), [&](int64_t first, int64_t last) {
    for (int64_t y = first; y < last; ++y) ReduceColumns(half, int32_t(y), dst.Row(int32_t(y)));
  });
}

void ExpandLevel(const TPlaneView& src, const TPlaneView& dst, int threads, TExpandInto into,
                 const TPlaneView* detail, float gain) {
  CheckExpand(src.Width, dst.Width);
  CheckExpand(src.Height, dst.Height);
  if (into != TExpandInto::Store && (!detail || detail->Width != dst.Width || detail->Height != dst.Height))
    throw std::invalid_argument("Interner Fehler: Die Größe der Detailebene passt nicht.");
  // Each output row: down the columns into one row of the source's width, then
  // along that row with the detail as asked.
  const bool vector = Sse2Enabled;
  const TDetailStep step = into == TExpandInto::Store         ? TDetailStep::Store
                           : into == TExpandInto::AddToDetail ? TDetailStep::Add
                                                              : TDetailStep::Subtract;
  ForEachBand(dst.Height, BandsFor(dst.Height, dst.Width, threads), [&](int64_t first, int64_t last) {
    std::vector<float> column(size_t(src.Width)), scratch(size_t(dst.Width));
    // Which of the source rows this band reads hold only valid values.
    std::vector<char> rowValid(size_t(src.Height), 0);
    const int64_t top = std::max<int64_t>(first / 2 - 1, 0), bottom = std::min<int64_t>(last / 2 + 1, src.Height - 1);
    for (int64_t r = top; r <= bottom; ++r) rowValid[size_t(r)] = AllValid(src.Row(int32_t(r)), src.Width, vector);
    for (int64_t y = first; y < last; ++y) {
      ExpandColumns(src, rowValid, int32_t(y), column.data(), vector);
      const float* d = step == TDetailStep::Store ? nullptr : detail->Row(int32_t(y));
      ExpandRow(column.data(), src.Width, dst.Width, d, dst.Row(int32_t(y)), step, gain, scratch.data(), vector);
    }
  });
}

}  // namespace astrelon
