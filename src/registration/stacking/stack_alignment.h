#pragma once
// What the stack combination needs of the batch's frame alignment: the
// multi-star fit and its local shift grid, and the open video the frames may
// come from. The batch installs its implementations; tests install fakes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "kernels/sampling/fitted_transform.h"

namespace astrelon {

struct TAviReader;

// Local shift field: one (dx, dy) node every 4 pixels, NodesPerRow nodes per
// node row; node (gx, gy) is at Nodes[2 * (gy * NodesPerRow + gx)].
struct TShiftGrid {
  int32_t NodesPerRow = 0;
  std::vector<float> Nodes;
};

// (dx, dy) of the shift grid at target position (c, r): bilinear in the 4 x 4
// cell (nodes every 4 pixels); positions beyond the last node take the edge.
inline void GridShift(const TShiftGrid& g, double c, double r, double& dx, double& dy) {
  dx = dy = 0;
  if (g.NodesPerRow <= 0) return;
  const int64_t nodeRows = int64_t(g.Nodes.size() / 2) / g.NodesPerRow;
  if (nodeRows <= 0) return;
  auto node = [&](int64_t gx, int64_t gy, int k) {
    gx = std::clamp<int64_t>(gx, 0, g.NodesPerRow - 1);
    gy = std::clamp<int64_t>(gy, 0, nodeRows - 1);
    return double(g.Nodes[size_t(2 * (gy * g.NodesPerRow + gx) + k)]);
  };
  const double cellX = std::floor(c / 4), cellY = std::floor(r / 4);
  const int64_t gx = int64_t(cellX), gy = int64_t(cellY);
  const double wx = c / 4 - cellX, wy = r / 4 - cellY;
  for (int k = 0; k < 2; ++k) {
    const double top = node(gx, gy, k) * (1 - wx) + node(gx + 1, gy, k) * wx;
    const double bottom = node(gx, gy + 1, k) * (1 - wx) + node(gx + 1, gy + 1, k) * wx;
    (k == 0 ? dx : dy) = top * (1 - wy) + bottom * wy;
  }
}

class TStackAlignment {
public:
  virtual ~TStackAlignment() = default;
  // Installs the stored marks of frame `index` as the current and reference marks.
  virtual void ApplyShiftListMarks(int index, int frameSlot, int targetSlot) = 0;
  // Least-squares similarity fit of the frame's marks to the reference marks.
  virtual TFittedTransform FitMarksToReference(int targetSlot, int frameSlot) = 0;
  // The shift field for rows firstRow .. endRow - 1 (node rows indexed from row 0).
  virtual const TShiftGrid& BuildShiftGrid(int targetSlot, int frameSlot, int firstRow, int endRow) = 0;
};

// The installed alignment (used when the batch's mark count exceeds 2), or nullptr.
extern TStackAlignment* StackAlignment;
// The batch's open video (used while BatchVideoInput is set), or nullptr.
extern TAviReader* StackVideo;

}  // namespace astrelon
