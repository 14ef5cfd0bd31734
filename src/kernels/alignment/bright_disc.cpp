#include "kernels/alignment/bright_disc.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
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
#include "store/planes/percentile_selection.h"

#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

// Pixels of one row or column that reach the threshold, and their sum.
struct TLineSum {
  int64_t Count = 0;
  double Sum = 0;
};

using lanes::D;

// One row of a band of columns: the column counts cn and the row's count rn
// gain the row's pixel when it counts (valid and at least countFrom), and a
// pixel from waitFrom up that does not count yet is counted in rw. Blank
// values become NaN, which never reaches a bound (one comparison per
// selection, see double_lanes.h).
template <class V>
[[gnu::always_inline]] inline void LineStep(V v, float waitFrom, float countFrom, V& cn, V& rn, V& rw) {
  constexpr float nan = std::numeric_limits<float>::quiet_NaN();
  const V w = v > BlankLimit ? v : nan;
  const V one = w >= countFrom ? 1.0f : 0.0f;
  const V from = w >= waitFrom ? w : nan;
  rw += from < countFrom ? 1.0f : 0.0f;
  cn += one;
  rn += one;
}

// What one row of a band yields besides the column counts.
struct TRowLine {
  double Count = 0;
  double Waiting = 0;  // pixels from waitFrom up that do not count yet
  TRowStats Stats;
};

// R rows (`stride` apart) of a band: colN[x] counts the rows' pixels at x, and the rows' statistics for the box search are gathered on
// the way. The rows from `ahead` on (R of them) are fetched meanwhile.
template <int L, int R>
[[gnu::always_inline]] inline void LineRowsOf(const float* row, int64_t stride, int32_t n, float waitFrom,
                                              float countFrom, float* colN, const float* ahead, TRowLine* out) {
  using V = lanes::TStatLanes<L>;
  constexpr int N = simd::LaneCount<V>;
  lanes::TStatsAccumulator<V> acc[R];
  V rn[R], rw[R];
  for (int r = 0; r < R; ++r) rn[r] = rw[r] = V{};
  int32_t x = 0;
  for (; x + N <= n; x += N) {
    if constexpr (N > 1)
      if (N >= 16 || x % 16 == 0)
#pragma GCC unroll 4
        for (int r = 0; r < R; ++r) __builtin_prefetch(ahead + r * stride + x, 0, 2);
    V cn = simd::LoadLanes<V>(colN + x);
    // Unrolled, so that each row's sums stay in registers.
#pragma GCC unroll 4
    for (int r = 0; r < R; ++r) {
      const V v = simd::LoadLanes<V>(row + r * stride + x);
      acc[r].Add(v);
      LineStep<V>(v, waitFrom, countFrom, cn, rn[r], rw[r]);
    }
    simd::StoreLanes(colN + x, cn);
  }
  for (int r = 0; r < R; ++r) {
    const float* line = row + r * stride;
    lanes::TStatsAccumulator<float> one;
    acc[r].Fold(one);
    float sn = 0, sw = 0;
    double cn = 0, cw = 0;
    for (int l = 0; l < N; ++l) cn += lanes::Lane(rn[r], l), cw += lanes::Lane(rw[r], l);
    for (int32_t i = x; i < n; ++i) {
      one.Add(line[i]);
      LineStep<float>(line[i], waitFrom, countFrom, colN[i], sn, sw);
    }
    out[r].Count = cn + sn;
    out[r].Waiting = cw + sw;
    out[r].Stats = one.Stats();
  }
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

using TLineRowsFn = void (*)(const float*, int64_t, int32_t, float, float, float*, const float*, TRowLine*);

#define ASTRELON_LINE_ROW(Name, Attr, L)                                                                          \
  Attr void LineRow##Name(const float* row, int64_t stride, int32_t n, float waitFrom, float countFrom,           \
                          float* colN, const float* ahead, TRowLine* out) {                                       \
    LineRowsOf<L, 1>(row, stride, n, waitFrom, countFrom, colN, ahead, out);                                      \
  }                                                                                                               \
  Attr void LineRowPair##Name(const float* row, int64_t stride, int32_t n, float waitFrom, float countFrom,       \
                              float* colN, const float* ahead, TRowLine* out) {                                   \
    LineRowsOf<L, 2>(row, stride, n, waitFrom, countFrom, colN, ahead, out);                                      \
  }
ASTRELON_DOUBLE_LANE_TIERS(ASTRELON_LINE_ROW)

// A pixel of the working rectangle that waits for the threshold.
struct TWaiting {
  int32_t X, Y;
  float Value;
};

// The lines of the working rectangle and the brightest box where the searches
// start, in one pass over its rows in bands of columns: how many pixels of
// every column and every row reach the threshold. A search needs the sum of
// one line only (the last one of the disc), which is then added pixel by pixel.
//
// The pass may run before the threshold is known exactly, with bounds around
// it: pixels from countFrom up count at once, those from waitFrom up to it are
// kept, and Settle counts those that reach the threshold. The pass can hand its
// pixels to a percentile selection too (the background level over the
// rectangle's pixels, read once).
class TDiscLines {
public:
  TDiscLines(const TImageSlot& im, int plane, const TWorkRect& r, int32_t boxRadius, float waitFrom,
             float countFrom, TLevelSelection* levels)
      : im_(im), plane_(im.Plane(plane)), x1_(r.x1), x2_(r.x2), y1_(r.y1), y2_(r.y2), waitFrom_(waitFrom),
        countFrom_(countFrom) {
    // (Columns count in floats: exact up to 2^24 rows.)
    if (r.x2 < r.x1 || r.y2 < r.y1 || r.x1 < 0 || r.y1 < 0 || r.x2 >= im.Width || r.y2 >= im.Height ||
        plane_.size() < im.PixelCount() || r.y2 - r.y1 >= (1 << 24))
      return;
    const int32_t w = r.x2 - r.x1 + 1, h = r.y2 - r.y1 + 1, br = boxRadius;
    const int64_t stride = im.Width;
    const std::span<const float> data = plane_.subspan(size_t(r.y1) * size_t(stride) + size_t(r.x1));
    const bool vector = Sse2Enabled;
    const TLineRowsFn lineRow = lanes::ChooseTier(vector, ASTRELON_TIER_KERNELS(LineRow));
    const TLineRowsFn lineRowPair = lanes::ChooseTier(vector, ASTRELON_TIER_KERNELS(LineRowPair));
    colN_.assign(size_t(w), 0.0f);
    const bool boxFits = int64_t(w) >= 2 * int64_t(br) + 1 && int64_t(h) >= 2 * int64_t(br) + 1;
    const int64_t minColumns = std::max<int64_t>(16, (int64_t(1) << 16) / h);
    threads_ = BandThreads(w, minColumns, Options.Multicore != 0);
    partN_.assign(size_t(threads_) * size_t(h), 0.0);
    std::vector<TBoxBest> boxes(static_cast<size_t>(threads_));
    std::vector<std::unique_ptr<TLevelSelection::TPart>> parts(static_cast<size_t>(threads_));
    if (levels)
      for (auto& part : parts) part = levels->NewPart(vector);
    waiting_.resize(size_t(threads_));
    // Kept pixels beyond this many: the pass cannot settle (too many near the threshold).
    const size_t keep = size_t(int64_t(w) * int64_t(h) / 64 + 65536);
    std::atomic<bool> overflow{false};
    ForEachBand(threads_, threads_, [&](int64_t band, int64_t) {
      const int32_t a = int32_t(w * band / threads_), b = int32_t(w * (band + 1) / threads_);
      const int32_t from = std::max(a, br), to = std::min(b, w - br);
      const bool box = boxFits && from < to;
      TBoxSearch search(data, h, stride, br, from, to, vector);
      TLevelSelection::TPart* part = parts[size_t(band)].get();
      std::vector<TWaiting>& kept = waiting_[size_t(band)];
      double* pn = partN_.data() + size_t(band) * size_t(h);
      // Rows two at a time (the column counts loaded once for both), the next
      // two fetched meanwhile.
      for (int32_t y = 0; y < h;) {
        const int rows = y + 1 < h ? 2 : 1;
        const float* row = data.data() + y * stride + a;
        const float* ahead = y + rows + rows <= h ? row + rows * stride : row;
        if (part) part->AddRows(row, b - a, rows, stride);
        TRowLine line[2];
        (rows == 2 ? lineRowPair : lineRow)(row, stride, b - a, waitFrom, countFrom, colN_.data() + a,
                                            ahead, line);
        for (int k = 0; k < rows; ++k, ++y) {
          pn[y] = line[k].Count;
          if (line[k].Waiting > 0) {
            const float* at = data.data() + y * stride + a;
            for (int32_t x = 0; x < b - a; ++x)
              if (IsValidPixel(at[x]) && at[x] >= waitFrom && at[x] < countFrom) kept.push_back({a + x, y, at[x]});
            if (kept.size() > keep) overflow = true;
          }
          if (box) search.AddRow(y, line[k].Stats, a, b);
        }
      }
      if (box) boxes[size_t(band)] = search.Result();
    });
    if (levels)
      for (auto& part : parts) levels->Merge(*part);
    overflow_ = overflow;
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

  // The lines' counts of pixels that reach `threshold`: false when the pass's
  // bounds do not hold its smallest such float.
  bool Settle(double threshold) {
    threshold_ = threshold;
    if (!scanned_) return true;
    const int32_t w = x2_ - x1_ + 1, h = y2_ - y1_ + 1;
    const float tf = SmallestFloatAtLeast(threshold);
    if (!(waitFrom_ <= tf && tf <= countFrom_) || overflow_) return false;
    for (size_t band = 0; band < waiting_.size(); ++band)
      for (const TWaiting& p : waiting_[band])
        if (p.Value >= tf) {
          colN_[size_t(p.X)] += 1.0f;
          partN_[band * size_t(h) + size_t(p.Y)] += 1.0;
        }
    columns_.resize(size_t(w));
    for (size_t i = 0; i < columns_.size(); ++i) columns_[i] = int64_t(colN_[i]);
    rows_.resize(size_t(h));
    for (int32_t y = 0; y < h; ++y) {
      double n = 0;
      for (int k = 0; k < threads_; ++k) n += partN_[size_t(k) * size_t(h) + size_t(y)];
      rows_[size_t(y)] = int64_t(n);
    }
    return true;
  }

  // The count of row y between columns x1 and x2; nothing for a row outside the image.
  int64_t RowCount(int32_t y, int32_t x1, int32_t x2) const {
    if (!rows_.empty() && y >= y1_ && y <= y2_ && x1 == x1_ && x2 == x2_) return rows_[size_t(y - y1_)];
    return Row(y, x1, x2).Count;
  }
  // The count of column x between the rectangle's rows; nothing for a column outside the image.
  int64_t ColumnCount(int32_t x) const {
    if (x >= x1_ && int64_t(x) - x1_ < int64_t(columns_.size())) return columns_[size_t(x - x1_)];
    return Column(x).Count;
  }
  // Row y between columns x1 and x2, pixel by pixel.
  TLineSum Row(int32_t y, int32_t x1, int32_t x2) const {
    TLineSum c;
    if (y < 0 || y >= im_.Height) return c;
    const size_t base = size_t(y) * size_t(im_.Width);
    for (int32_t x = std::max(x1, 0); x <= std::min(x2, im_.Width - 1); ++x) Add(c, plane_[base + size_t(x)]);
    return c;
  }
  // Column x between the rectangle's rows, pixel by pixel.
  TLineSum Column(int32_t x) const {
    TLineSum c;
    if (x < 0 || x >= im_.Width) return c;
    for (int32_t y = std::max(y1_, 0); y <= std::min(y2_, im_.Height - 1); ++y)
      Add(c, plane_[size_t(y) * size_t(im_.Width) + size_t(x)]);
    return c;
  }

private:
  void Add(TLineSum& c, float v) const {
    if (IsValidPixel(v) && v >= threshold_) {
      ++c.Count;
      c.Sum += v;
    }
  }
  const TImageSlot& im_;
  std::span<const float> plane_;
  int32_t x1_, x2_, y1_, y2_;
  float waitFrom_, countFrom_;
  double threshold_ = 0;
  int threads_ = 1;
  bool overflow_ = false;
  std::vector<float> colN_;
  std::vector<double> partN_;  // rows by bands
  std::vector<std::vector<TWaiting>> waiting_;  // by bands
  std::vector<int64_t> columns_, rows_;  // counts; rows between x1_ and x2_
  TBrightestInRect start_;
  bool scanned_ = false;
};

struct TEdgeSearch {
  int32_t Edge = 0;         // the first line that no longer belongs to the disc
  double InnerMean = 0;     // mean of the counted pixels of the last line that did
  bool AtBorder = false;    // the search ran into the rectangle's border
};

// Steps from `start` by `step` (line first, then test) until a line no longer
// belongs to the disc or `border` is reached; `count` gives a line's count,
// `line` its count and sum.
template <typename Count, typename Line, typename Belongs>
TEdgeSearch SearchEdge(int32_t start, int32_t step, int32_t border, Count&& count, Line&& line, Belongs&& belongs) {
  TEdgeSearch s;
  std::optional<int32_t> last;
  int32_t pos = start;
  while (step < 0 ? pos > border : pos < border) {
    pos += step;
    if (!belongs(count(pos))) break;
    last = pos;
  }
  s.Edge = pos;
  s.AtBorder = step < 0 ? pos <= border : pos >= border;
  if (last) {
    const TLineSum c = line(*last);
    s.InnerMean = c.Count > 0 ? c.Sum / double(c.Count) : c.Sum;
  }
  return s;
}

// The fraction of the way from the background to the maximum where the disc begins.
double DiscFraction() {
  double fraction = 0.3;
  if (BatchRunning.load() && !BatchDiscThreshold.empty())
    if (const auto percent = TryStrToFloatDot(BatchDiscThreshold)) fraction = *percent * 0.01;
  return fraction;
}

double DiscThreshold(double fraction, double background, double maximum) {
  return fraction * (maximum - background) + background;
}

// The background level (GetBackgroundLevel's 5 % level of the whole plane)
// taken in the disc's pass over the working rectangle, the rest of the plane
// read apart: the level's window from a sample bounds the threshold, the pass
// runs with those bounds and settles once the level is known. False when any
// step cannot give exactly what the level and the lines would give one after
// the other (a rectangle or plane it does not cover, a value to clamp, a
// level outside its window, bounds that miss): the caller does that then.
bool FusedDiscPass(const TImageSlot& im, int plane, const TWorkRect& r, double fraction, double maximum,
                   std::optional<TDiscLines>& lines, double& background) {
  const bool vector = Sse2Enabled;
  if (!vector || plane < 1 || plane > std::min(im.PlaneCount, 3) || im.Plane(plane).size() < im.PixelCount() ||
      int64_t(im.Width) * int64_t(im.Height) < (int64_t(1) << 16))
    return false;
  const std::span<const float> values = im.Plane(plane).first(im.PixelCount());
  const int32_t W = im.Width, H = im.Height;
  TLevelSelection levels(values, W, H, W, 5.0, 5.0);
  float lo = 0, hi = 0;
  if (!levels.Usable() || !levels.WindowA(lo, hi)) return false;
  // The level is the lower end of a bin of a value in [lo, hi], then a float:
  // within two bins (of the range the plane had when last measured) and a
  // little rounding of [lo, hi].
  const double bin = std::max(double(im.PlaneMax[size_t(plane)]) - double(im.PlaneMin[size_t(plane)]), 0.001) / 65000;
  const double slack = 2 * bin + 1e-6 * std::max(std::fabs(double(lo)), std::fabs(double(hi)));
  const double tLo = DiscThreshold(fraction, double(lo) - slack, maximum);
  const double tHi = DiscThreshold(fraction, double(hi) + slack, maximum);
  constexpr float inf = std::numeric_limits<float>::infinity();
  const float waitFrom = std::nextafter(SmallestFloatAtLeast(std::min(tLo, tHi)), -inf);
  const float countFrom = std::nextafter(SmallestFloatAtLeast(std::max(tLo, tHi)), inf);
  if (!(waitFrom <= countFrom)) return false;
  lines.emplace(im, plane, r, DiscStartBoxRadius, waitFrom, countFrom, &levels);
  if (!lines->Scanned()) return false;
  // The plane outside the rectangle: the rows above and below, the columns beside.
  const float* base = values.data();
  levels.AddRect(base, W, r.y1, W, vector);
  levels.AddRect(base + int64_t(r.y2 + 1) * W, W, H - 1 - r.y2, W, vector);
  levels.AddRect(base + int64_t(r.y1) * W, r.x1, r.y2 - r.y1 + 1, W, vector);
  levels.AddRect(base + int64_t(r.y1) * W + r.x2 + 1, W - 1 - r.x2, r.y2 - r.y1 + 1, W, vector);
  TPercentileLevels level;
  float mn = 0, mx = 1;
  if (levels.Finish(level, mn, mx, vector) != TLevelSelection::TResult::Done) return false;
  background = float(level.LevelA);
  return lines->Settle(DiscThreshold(fraction, background, maximum));
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
  const double maximum = im.MaxValue;
  const double fraction = DiscFraction();

  ClipWorkRect(im);
  const TWorkRect r = WorkRect;
  std::optional<TDiscLines> lines;
  double background = 0;
  if (!FusedDiscPass(im, plane, r, fraction, maximum, lines, background)) {
    background = GetBackgroundLevel(slot, plane);
    const double threshold = DiscThreshold(fraction, background, maximum);
    const float tf = SmallestFloatAtLeast(threshold);
    lines.emplace(im, plane, r, DiscStartBoxRadius, tf, tf, nullptr);
    lines->Settle(threshold);
  }
  const TBrightestInRect start =
      lines->Scanned() ? lines->Start() : FindBrightestInWorkRect(slot, plane, DiscStartBoxRadius);
  disc.BrightestX = start.BrightestX;
  disc.BrightestY = start.BrightestY;
  const int32_t xc = start.BrightestX, yc = start.BrightestY;
  const int64_t limit = int64_t((r.x2 - r.x1) / 100 + 2);
  auto rowCount = [&](int32_t y) { return lines->RowCount(y, r.x1, r.x2); };
  auto columnCount = [&](int32_t x) { return lines->ColumnCount(x); };
  auto row = [&](int32_t y) { return lines->Row(y, r.x1, r.x2); };
  auto column = [&](int32_t x) { return lines->Column(x); };
  // At the top a line with exactly `limit` pixels still belongs to the disc; on
  // the other three sides it ends the search.
  auto atLeast = [limit](int64_t n) { return n >= limit; };
  auto above = [limit](int64_t n) { return n > limit; };

  const TEdgeSearch top = SearchEdge(std::max(yc, 2), -1, r.y1, rowCount, row, atLeast);
  const TEdgeSearch bottom = SearchEdge(yc >= im.Height ? im.Height - 3 : yc, 1, r.y2, rowCount, row, above);
  const TEdgeSearch left = SearchEdge(std::max(xc, 1), -1, r.x1, columnCount, column, above);
  const TEdgeSearch right = SearchEdge(xc > im.Width - 2 ? im.Width - 2 : xc, 1, r.x2, columnCount, column, above);

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
