#include "kernels/alignment/bright_disc.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <span>
#include <vector>

#include "common/number_text.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "kernels/alignment/box_search.h"
#include "kernels/alignment/brightest_in_work_rect.h"
#include "kernels/alignment/double_lanes.h"
#include "kernels/alignment/match_quality.h"
#include "kernels/alignment/row_stats.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

// Pixels of one row or column that reach the threshold, and their sum.
struct TLineCount {
  int64_t Count = 0;
  double Sum = 0;
};

using lanes::D;

// One row of a band of columns: colN/colS[x] gain the row's pixel at x when it
// reaches the threshold (valid and at least t; tf is the smallest float that
// is), the row's own count and sum gain it too (added by lanes, so exact only
// where such sums are), and the row's statistics for the box search are
// gathered on the way. Blank values become NaN, which never reaches tf (one
// comparison per selection, see double_lanes.h).
template <class V, int L>
[[gnu::always_inline]] inline void LineStep(V v, float tf, float* colN, double* colS, V& rn, D<L>& rs, D<L>& rs2) {
  const V w = v > BlankLimit ? v : std::numeric_limits<float>::quiet_NaN();
  const V value = w >= tf ? w : 0.0f, one = w >= tf ? 1.0f : 0.0f;
  simd::StoreLanes(colN, simd::LoadLanes<V>(colN) + one);
  rn += one;
  if constexpr (simd::LaneCount<V> == 1) {
    colS[0] += double(value);
    rs += double(value);
    (void)rs2;
  } else {
    const D<L> lo = lanes::WidenPart<L, 0>(value), hi = lanes::WidenPart<L, L>(value);
    simd::StoreLanes(colS, simd::LoadLanes<D<L>>(colS) + lo);
    simd::StoreLanes(colS + L, simd::LoadLanes<D<L>>(colS + L) + hi);
    rs += lo;
    rs2 += hi;
  }
}

template <int L>
[[gnu::always_inline]] inline void LineRowOf(const float* row, int32_t n, float tf, float* colN, double* colS,
                                             double& count, double& sum, TRowStats& st) {
  using V = lanes::TStatLanes<L>;
  constexpr int N = simd::LaneCount<V>;
  lanes::TStatsAccumulator<V> acc;
  V rn{};
  D<L> rs{}, rs2{};
  int32_t x = 0;
  for (; x + N <= n; x += N) {
    const V v = simd::LoadLanes<V>(row + x);
    acc.Add(v);
    LineStep<V, L>(v, tf, colN + x, colS + x, rn, rs, rs2);
  }
  lanes::TStatsAccumulator<float> one;
  acc.Fold(one);
  float sn = 0;
  double cn = 0, ss = 0;
  for (int l = 0; l < N; ++l) cn += lanes::Lane(rn, l);
  for (int l = 0; l < L; ++l) ss += lanes::Lane(rs, l) + lanes::Lane(rs2, l);
  for (; x < n; ++x) {
    one.Add(row[x]);
    LineStep<float, 1>(row[x], tf, colN + x, colS + x, sn, ss, ss);
  }
  count = cn + sn;
  sum = ss;
  st = one.Stats();
}

// The smallest float f with double(f) >= t: a float v reaches t exactly when v >= f.
float SmallestFloatAtLeast(double t) {
  constexpr float inf = std::numeric_limits<float>::infinity();
  if (std::isnan(t)) return std::numeric_limits<float>::quiet_NaN();
  if (t > std::numeric_limits<float>::max()) return inf;
  if (t < -std::numeric_limits<float>::max()) return -inf;
  float f = float(t);
  if (double(f) < t) f = std::nextafter(f, inf);
  return f;
}

using TLineRowFn = void (*)(const float*, int32_t, float, float*, double*, double&, double&, TRowStats&);

#define ASTRELON_LINE_ROW(Name, Attr, L)                                                                  \
  Attr void LineRow##Name(const float* row, int32_t n, float tf, float* colN, double* colS, double& count, \
                          double& sum, TRowStats& st) {                                                   \
    LineRowOf<L>(row, n, tf, colN, colS, count, sum, st);                                                 \
  }
ASTRELON_DOUBLE_LANE_TIERS(ASTRELON_LINE_ROW)

// The lines of the working rectangle and the brightest box where the searches
// start, in one pass over its rows in bands of columns: the counts and sums of
// every column (added row by row, as one column at a time adds them) and of
// every row (used when such sums are exact, else formed pixel by pixel when a
// search asks for the row).
class TDiscLines {
public:
  TDiscLines(const TImageSlot& im, int plane, double threshold, const TWorkRect& r, int32_t boxRadius)
      : im_(im), plane_(im.Plane(plane)), threshold_(threshold), x1_(r.x1), x2_(r.x2), y1_(r.y1), y2_(r.y2) {
    // (Columns count in floats: exact up to 2^24 rows.)
    if (r.x2 < r.x1 || r.y2 < r.y1 || r.x1 < 0 || r.y1 < 0 || r.x2 >= im.Width || r.y2 >= im.Height ||
        plane_.size() < im.PixelCount() || r.y2 - r.y1 >= (1 << 24))
      return;
    const int32_t w = r.x2 - r.x1 + 1, h = r.y2 - r.y1 + 1, br = boxRadius;
    const int64_t stride = im.Width;
    const std::span<const float> data = plane_.subspan(size_t(r.y1) * size_t(stride) + size_t(r.x1));
    const bool vector = Sse2Enabled;
    const TLineRowFn lineRow = lanes::ChooseTier(vector, ASTRELON_TIER_KERNELS(LineRow));
    const float tf = SmallestFloatAtLeast(threshold);
    std::vector<float> colN(static_cast<size_t>(w), 0.0f);
    std::vector<double> colS(static_cast<size_t>(w), 0.0);
    const bool boxFits = int64_t(w) >= 2 * int64_t(br) + 1 && int64_t(h) >= 2 * int64_t(br) + 1;
    const int64_t minColumns = std::max<int64_t>(16, (int64_t(1) << 16) / h);
    const int threads = BandThreads(w, minColumns, Options.Multicore != 0);
    std::vector<double> partN(size_t(threads) * size_t(h)), partS(partN.size());
    std::vector<double> largest(static_cast<size_t>(threads), 0.0);
    std::vector<TBoxBest> boxes(static_cast<size_t>(threads));
    ForEachBand(threads, threads, [&](int64_t band, int64_t) {
      const int32_t a = int32_t(w * band / threads), b = int32_t(w * (band + 1) / threads);
      const int32_t from = std::max(a, br), to = std::min(b, w - br);
      const bool box = boxFits && from < to;
      TBoxSearch search(data, h, stride, br, from, to, vector);
      double* pn = partN.data() + size_t(band) * size_t(h);
      double* ps = partS.data() + size_t(band) * size_t(h);
      double top = 0;
      for (int32_t y = 0; y < h; ++y) {
        TRowStats st;
        lineRow(data.data() + y * stride + a, b - a, tf, colN.data() + a, colS.data() + a, pn[y], ps[y], st);
        top = std::max(top, double(st.Max));
        if (box) search.AddRow(y, st, a, b);
      }
      largest[size_t(band)] = top;
      if (box) boxes[size_t(band)] = search.Result();
    });
    columns_.resize(size_t(w));
    for (size_t i = 0; i < columns_.size(); ++i) columns_[i] = {int64_t(colN[i]), colS[i]};
    // Row sums added by lanes and bands equal those added pixel by pixel where
    // every such sum is exact: all pixels that count lie between t and the
    // largest valid one.
    const double top = *std::max_element(largest.begin(), largest.end());
    if (threshold > 0 && FloatSumsExact(top, threshold, w)) {
      rows_.resize(size_t(h));
      for (int32_t y = 0; y < h; ++y) {
        double n = 0, sum = 0;
        for (int k = 0; k < threads; ++k) {
          n += partN[size_t(k) * size_t(h) + size_t(y)];
          sum += partS[size_t(k) * size_t(h) + size_t(y)];
        }
        rows_[size_t(y)] = {int64_t(n), sum};
      }
    }
    int32_t bx = 0, by = 0;
    float value = BlankLimit;
    if (boxFits)
      BestOfBands(boxes, w, h, bx, by, value);
    else
      FindBrightestBox(data, w, h, stride, br, bx, by, value, vector, 1);
    start_ = {r.x1 + bx, r.y1 + by, value};
    scanned_ = true;
  }

  // Whether the pass ran (a rectangle inside the image) and the brightest box it found.
  bool Scanned() const { return scanned_; }
  const TBrightestInRect& Start() const { return start_; }

  // Row y between columns x1 and x2; nothing for a row outside the image.
  TLineCount Row(int32_t y, int32_t x1, int32_t x2) const {
    if (!rows_.empty() && y >= y1_ && y <= y2_ && x1 == x1_ && x2 == x2_) return rows_[size_t(y - y1_)];
    TLineCount c;
    if (y < 0 || y >= im_.Height) return c;
    const size_t base = size_t(y) * size_t(im_.Width);
    for (int32_t x = std::max(x1, 0); x <= std::min(x2, im_.Width - 1); ++x) Add(c, plane_[base + size_t(x)]);
    return c;
  }
  // Column x between the rectangle's rows; nothing for a column outside the image.
  TLineCount Column(int32_t x) const {
    if (x >= x1_ && int64_t(x) - x1_ < int64_t(columns_.size())) return columns_[size_t(x - x1_)];
    TLineCount c;
    if (x < 0 || x >= im_.Width) return c;
    for (int32_t y = std::max(y1_, 0); y <= std::min(y2_, im_.Height - 1); ++y)
      Add(c, plane_[size_t(y) * size_t(im_.Width) + size_t(x)]);
    return c;
  }

private:
  void Add(TLineCount& c, float v) const {
    if (IsValidPixel(v) && v >= threshold_) {
      ++c.Count;
      c.Sum += v;
    }
  }
  const TImageSlot& im_;
  std::span<const float> plane_;
  double threshold_;
  int32_t x1_, x2_, y1_, y2_;
  std::vector<TLineCount> columns_, rows_;  // rows between x1_ and x2_
  TBrightestInRect start_;
  bool scanned_ = false;
};

struct TEdgeSearch {
  int32_t Edge = 0;         // the first line that no longer belongs to the disc
  double InnerMean = 0;     // mean of the counted pixels of the last line that did
  bool AtBorder = false;    // the search ran into the rectangle's border
};

// Steps from `start` by `step` (line first, then test) until a line no longer
// belongs to the disc or `border` is reached.
template <typename Line, typename Belongs>
TEdgeSearch SearchEdge(int32_t start, int32_t step, int32_t border, Line&& line, Belongs&& belongs) {
  TEdgeSearch s;
  TLineCount last;
  int32_t pos = start;
  while (step < 0 ? pos > border : pos < border) {
    pos += step;
    const TLineCount c = line(pos);
    if (!belongs(c.Count)) break;
    last = c;
  }
  s.Edge = pos;
  s.AtBorder = step < 0 ? pos <= border : pos >= border;
  s.InnerMean = last.Count > 0 ? last.Sum / double(last.Count) : last.Sum;
  return s;
}

double DiscThreshold(double background, double maximum) {
  double fraction = 0.3;
  if (BatchRunning.load() && !BatchDiscThreshold.empty())
    if (const auto percent = TryStrToFloatDot(BatchDiscThreshold)) fraction = *percent * 0.01;
  return fraction * (maximum - background) + background;
}

}  // namespace

TBrightDisc FindBrightDisc(int slot) {
  TBrightDisc disc;
  if (!SlotInUse(slot)) {
    disc.Quality = 0;
    LowerMatchQuality(disc.Quality);
    return disc;
  }
  const TImageSlot& im = Store.Image[size_t(slot)];
  const int plane = GetRgbCode(slot);
  const double background = GetBackgroundLevel(slot, plane);
  const double maximum = im.MaxValue;
  const double threshold = DiscThreshold(background, maximum);

  ClipWorkRect(im);
  const TWorkRect r = WorkRect;
  const TDiscLines lines(im, plane, threshold, r, DiscStartBoxRadius);
  const TBrightestInRect start =
      lines.Scanned() ? lines.Start() : FindBrightestInWorkRect(slot, plane, DiscStartBoxRadius);
  disc.BrightestX = start.BrightestX;
  disc.BrightestY = start.BrightestY;
  const int32_t xc = start.BrightestX, yc = start.BrightestY;
  const int64_t limit = int64_t((r.x2 - r.x1) / 100 + 2);
  auto row = [&](int32_t y) { return lines.Row(y, r.x1, r.x2); };
  auto column = [&](int32_t x) { return lines.Column(x); };
  // At the top a line with exactly `limit` pixels still belongs to the disc; on
  // the other three sides it ends the search.
  auto atLeast = [limit](int64_t n) { return n >= limit; };
  auto above = [limit](int64_t n) { return n > limit; };

  const TEdgeSearch top = SearchEdge(std::max(yc, 2), -1, r.y1, row, atLeast);
  const TEdgeSearch bottom = SearchEdge(yc >= im.Height ? im.Height - 3 : yc, 1, r.y2, row, above);
  const TEdgeSearch left = SearchEdge(std::max(xc, 1), -1, r.x1, column, above);
  const TEdgeSearch right = SearchEdge(xc > im.Width - 2 ? im.Width - 2 : xc, 1, r.x2, column, above);

  disc.Quality = top.AtBorder || bottom.AtBorder || left.AtBorder || right.AtBorder ? 0.0 : 99.0;
  LowerMatchQuality(disc.Quality);

  // Sub-pixel shift from the brightness of the outermost disc lines, at most half a pixel.
  double s = 2.0 * (maximum - background);
  if (!(s > 0.001)) s = 0.001;
  const double dx = std::clamp((right.InnerMean - left.InnerMean) / s, -0.5, 0.5);
  const double dy = std::clamp((bottom.InnerMean - top.InnerMean) / s, -0.5, 0.5);
  disc.LeftEdge = left.Edge + dx;
  disc.RightEdge = right.Edge + dx;
  disc.TopEdge = top.Edge + dy;
  disc.BottomEdge = bottom.Edge + dy;
  disc.CentreX = float((double(left.Edge) + double(right.Edge)) * 0.5 + dx);
  disc.CentreY = float((double(top.Edge) + double(bottom.Edge)) * 0.5 + dy);
  return disc;
}

}  // namespace astrelon
