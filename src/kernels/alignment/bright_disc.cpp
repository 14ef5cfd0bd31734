#include "kernels/alignment/bright_disc.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "common/number_text.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "kernels/alignment/brightest_in_work_rect.h"
#include "kernels/alignment/match_quality.h"
#include "platform/parallel_bands.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

// Pixels of one row or column that reach the threshold, and their sum.
struct TLineCount {
  int64_t Count = 0;
  double Sum = 0;
};

class TDiscLines {
public:
  // The counts of the columns x1..x2 over rows y1..y2 are formed at once, row by
  // row (columns of a large image are slow to walk one by one).
  TDiscLines(const TImageSlot& im, int plane, double threshold, const TWorkRect& r)
      : im_(im), plane_(im.Plane(plane)), threshold_(threshold), x1_(r.x1), y1_(r.y1), y2_(r.y2) {
    if (r.x2 < r.x1 || r.y2 < r.y1 || r.x1 < 0 || r.y1 < 0 || r.x2 >= im.Width || r.y2 >= im.Height) return;
    const int64_t width = int64_t(r.x2) - r.x1 + 1;
    columns_.resize(size_t(width));
    const int64_t minColumns = std::max<int64_t>(16, (int64_t(1) << 16) / (int64_t(r.y2) - r.y1 + 1));
    ForEachBand(width, BandThreads(width, minColumns, Options.Multicore != 0), [&](int64_t first, int64_t last) {
      for (int32_t y = r.y1; y <= r.y2; ++y) {
        const float* row = plane_.data() + size_t(y) * size_t(im.Width) + size_t(r.x1);
        for (int64_t i = first; i < last; ++i) Add(columns_[size_t(i)], row[i]);
      }
    });
  }

  // Row y between columns x1 and x2; nothing for a row outside the image.
  TLineCount Row(int32_t y, int32_t x1, int32_t x2) const {
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
  int32_t x1_, y1_, y2_;
  std::vector<TLineCount> columns_;
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

  const TBrightestInRect start = FindBrightestInWorkRect(slot, plane, DiscStartBoxRadius);
  disc.BrightestX = start.BrightestX;
  disc.BrightestY = start.BrightestY;
  const int32_t xc = start.BrightestX, yc = start.BrightestY;
  const TWorkRect r = WorkRect;
  const int64_t limit = int64_t((r.x2 - r.x1) / 100 + 2);

  const TDiscLines lines(im, plane, threshold, r);
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
