#include "registration/matching/shift_grid_builder.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "common/engine_ui.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "registration/combination/batch_combination_inputs.h"
#include "registration/matching/mark_shadowing.h"
#include "registration/matching/similarity_fit.h"
#include "registration/matching/star_marks.h"

namespace astrelon {

namespace {

constexpr double Pi = std::numbers::pi;

// Keeps an angle in -pi .. pi.
double WrapAngle(double a) {
  if (a > Pi) return a - 2 * Pi;
  if (a < -Pi) return a + 2 * Pi;
  return a;
}

// Per mark, the state of its stepped distance and direction along a row, its
// values at the current node and its weight there; the shadowing state.
struct TRowWork {
  explicit TRowWork(size_t n)
      : ExactR2(n),
        ExactTheta(n),
        StepR2(n),
        StepTheta(n),
        R2(n),
        Theta(n),
        LastExact(n),
        NextExact(n),
        Rf(n),
        W(n),
        Shadowing(n) {}
  std::vector<double> ExactR2, ExactTheta, StepR2, StepTheta, R2, Theta;
  std::vector<int32_t> LastExact, NextExact;
  std::vector<float> Rf, W;
  TMarkShadowing Shadowing;
};

// Distance and direction of every mark at node gx of the row at pixel row py.
void AdvanceMarks(std::span<const TGridMark> marks, int32_t gx, double py, TRowWork& s) {
  const double px = 4.0 * gx;
  for (size_t k = 0; k < marks.size(); ++k) {
    if (gx == 0 || gx == s.NextExact[k]) {
      const double ox = marks[k].X - px, oy = marks[k].Y - py;
      const double r2 = ox * ox + oy * oy + 1.0, theta = std::atan2(oy, ox);
      if (gx == 0) {
        s.StepR2[k] = s.StepTheta[k] = 0;
      } else {
        const double span = double(gx - s.LastExact[k]);
        s.StepR2[k] = (r2 - s.ExactR2[k]) / span;
        s.StepTheta[k] = WrapAngle(theta - s.ExactTheta[k]) / span;
      }
      s.ExactR2[k] = s.R2[k] = r2;
      s.ExactTheta[k] = s.Theta[k] = theta;
      s.LastExact[k] = gx;
      s.NextExact[k] = gx + int32_t(std::sqrt(r2) * 0.01) + 1;
    } else {
      s.R2[k] = std::max(s.R2[k] + s.StepR2[k], 1.0);
      s.Theta[k] = WrapAngle(s.Theta[k] + s.StepTheta[k]);
    }
    s.Rf[k] = float(s.R2[k]);
    s.W[k] = 1e6f / s.Rf[k];
  }
}

void FillRow(std::span<const TGridMark> marks, int32_t gy, int32_t nodesPerRow, float* out, TRowWork& s) {
  const double py = 4.0 * gy;
  for (int32_t gx = 0; gx < nodesPerRow; ++gx) {
    AdvanceMarks(marks, gx, py, s);
    s.Shadowing.Apply(s.Rf, s.Theta, s.W);
    double sw = 0, sx = 0, sy = 0;
    for (size_t k = 0; k < marks.size(); ++k) {
      const double w = s.W[k];
      sw += w;
      sx += w * marks[k].Rx;
      sy += w * marks[k].Ry;
    }
    const double norm = sw < 0.0001 ? 10000.0 : 1.0 / sw;
    out[2 * gx] = float(sx * norm);
    out[2 * gx + 1] = float(sy * norm);
  }
}

}  // namespace

void AllocateShiftGrid(TShiftGrid& grid, int32_t width, int32_t height) {
  const int64_t perRow = int64_t(std::max(width, 0)) / 4 + 2, rows = int64_t(std::max(height, 0)) / 4 + 2;
  grid.NodesPerRow = int32_t(perRow);
  grid.Nodes.assign(size_t(2 * perRow * rows), 0.0f);
}

void FillShiftGridRows(std::span<const TGridMark> marks, TShiftGrid& grid, int32_t firstNodeRow, int32_t lastNodeRow,
                       bool multicore) {
  const int32_t perRow = grid.NodesPerRow;
  if (perRow <= 0) return;
  const int32_t rows = int32_t(grid.Nodes.size() / 2 / size_t(perRow));
  firstNodeRow = std::max(firstNodeRow, 0);
  lastNodeRow = std::min(lastNodeRow, rows - 1);
  if (lastNodeRow < firstNodeRow) return;
  const int64_t count = int64_t(lastNodeRow) - firstNodeRow + 1;
  const int threads = BandThreads(count, 2, multicore);
  ForEachBand(count, threads, [&](int64_t first, int64_t last) {
    TRowWork work(marks.size());
    for (int64_t r = first; r < last; ++r) {
      const int32_t gy = firstNodeRow + int32_t(r);
      FillRow(marks, gy, perRow, grid.Nodes.data() + size_t(2) * size_t(gy) * size_t(perRow), work);
      // The first band runs on the calling thread, which keeps the interface live.
      if (first == 0) EngineUi().ProcessMessages();
    }
  });
}

const TShiftGrid& BuildShiftGrid(int window, int reference, int firstRow, int lastRow) {
  TShiftGrid& grid = BatchShiftGrid;
  if (window == reference || !SlotInUse(window)) {
    grid = {};
    return grid;
  }
  const TImageSlot& im = Store.Image[size_t(window)];
  AllocateShiftGrid(grid, im.Width, im.Height);
  const TMarkList& own = WindowMarks[size_t(window)];
  const TMarkList& ref = ReferenceMarkList(reference);
  const TSimilarity& f = GlobalFit;
  std::vector<TGridMark> marks;
  const int32_t n = std::min<int32_t>(own.Count, int32_t(ReferenceMarks.PairIndex.size()));
  for (int32_t k = 0; k < n; ++k) {
    const uint16_t j = ReferenceMarks.PairIndex[size_t(k)];
    if (j >= ref.Count) continue;
    const double x = own.Points[size_t(k)].X, y = own.Points[size_t(k)].Y;
    const double xr = ref.Points[j].X, yr = ref.Points[j].Y;
    marks.push_back({x, y, xr - f.Tx - f.A * x + f.B * y, yr - f.Ty - f.A * y - f.B * x});
  }
  FillShiftGridRows(marks, grid, std::max(firstRow, 0) / 4, std::max(lastRow, 0) / 4 + 2, Options.Multicore != 0);
  return grid;
}

}  // namespace astrelon
