#pragma once
// What the stack combination needs of the batch's frame alignment: the
// multi-star fit and its local shift grid, and the open video the frames may
// come from. The batch installs its implementations; tests install fakes.
#include <cstdint>
#include <vector>

namespace astrelon {

struct TAviReader;

// The similarity transform of the multi-star fit: the frame is sampled at
// (Tx - Ox + A x - B y, Ty - Oy + B x + A y).
struct TFittedTransform {
  double Tx = 0, Ty = 0, A = 1, B = 0;
  float Ox = 0, Oy = 0;
};

// Local shift field: one (dx, dy) node every 4 pixels, NodesPerRow nodes per
// node row; node (gx, gy) is at Nodes[2 * (gy * NodesPerRow + gx)].
struct TShiftGrid {
  int32_t NodesPerRow = 0;
  std::vector<float> Nodes;
};

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
