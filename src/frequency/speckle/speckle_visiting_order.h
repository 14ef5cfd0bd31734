#pragma once
// The order in which the phase walk visits the frequencies (column, row) of a
// spectrum of `half` bins and `height` rows: a rectangle growing from the zero
// frequency (column 0, row height/2), each step adding column i (rows outward
// from the middle) and then the two rows of the next ring up to column i. The
// zero frequency itself is not in it; every other frequency is, once.
#include <cstdint>
#include <utility>
#include <vector>

namespace astrelon {

// One stretch of the order: a column (its rows from the middle outward:
// mid, mid − 1, mid + 1, mid − 2, ...) or a ring (columns 0 .. Last, each
// with row mid − Index and then, where it exists, row mid + Index).
struct TSpeckleVisit {
  bool Column = true;
  int32_t Index = 0;      // the column, or the ring's distance from the middle
  int32_t First = 0;      // column: the first and last row; ring: 0 and the last column
  int32_t Last = 0;
  int32_t Mid = 0;
  bool LowerRow = false;  // ring: row mid + Index exists

  // Frequencies in the stretch.
  int32_t Count() const {
    return Column ? Last - First + 1 : (Last + 1) * (LowerRow ? 2 : 1);
  }
  // Calls f(x, y) for each frequency in visiting order.
  template <class F>
  void ForEach(F&& f) const {
    if (Column) {
      f(Index, Mid);
      for (int32_t k = 1; Mid - k >= First || Mid + k <= Last; ++k) {
        if (Mid - k >= First) f(Index, Mid - k);
        if (Mid + k <= Last) f(Index, Mid + k);
      }
    } else {
      for (int32_t c = 0; c <= Last; ++c) {
        f(c, Mid - Index);
        if (LowerRow) f(c, Mid + Index);
      }
    }
  }
};

std::vector<TSpeckleVisit> SpeckleVisits(int32_t half, int32_t height);

// The frequencies of SpeckleVisits one after the other.
std::vector<std::pair<int32_t, int32_t>> SpeckleVisitingOrder(int32_t half, int32_t height);

}  // namespace astrelon
