#pragma once
// Soft grey-value erosion with a radius per pixel. Around a pixel of value c and
// radius t, the offsets are visited in rings of equal distance d, nearest first,
// while d < t; a ring's smallest valid value v (only pixels inside the rectangle
// count) replaces e (starting at c) when it is below e: fully when t - d >= 1,
// else as min(e, c + (v - c)(t - d)). The result is min(c, e + lift). Rows and
// columns outside the rectangle and blank pixels take no part.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "kernels/gauss/filter_poll.h"
#include "store/image_store.h"

namespace astrelon {

struct TErosionOffset {
  int32_t Dx = 0, Dy = 0;
};

// Offsets |dx| <= Reach, |dy| <= ReachV in rings of equal distance, nearest
// first (within a ring by dy, then dx).
struct TErosionTable {
  struct TRing {
    float Distance = 0;
    int32_t First = 0, Count = 0;  // members in Offsets
  };
  int32_t Reach = 0, ReachV = 0;
  std::vector<TErosionOffset> Offsets;
  std::vector<TRing> Rings;
  // Per number k of leading rings (the disc of those rings): the half width of
  // the disc in row dy (index dy + ReachV), -1 where it has no offset, its
  // number of offsets and of rows.
  std::vector<std::vector<int32_t>> HalfWidth;
  std::vector<int32_t> DiscCount, DiscRows;
};

TErosionTable MakeErosionTable(int32_t reach, int32_t reachV);

struct TErosionPlane {
  std::span<const float> Source;  // the whole plane, Width per row
  std::span<float> Destination;   // the same size; only valid source pixels of Rect are written
  int32_t Width = 0;
  TWorkRect Rect;                 // inclusive, inside the plane
  std::span<const float> Radius;  // t per pixel of Rect, row-major; NaN or <= 0 leaves the pixel
  float UniformRadius = 0;        // t of every pixel when Radius is empty
  float Lift = 0;                 // e0
};

// Erodes the rows of one band of the rectangle in order, a block of rows at a
// time, each with its radius given with it; the rows around the blocks are kept
// from one block to the next. The same results as ErodePlane.
class TErosionBand {
public:
  TErosionBand(const TErosionPlane& plane, const TErosionTable& table, bool vector);
  ~TErosionBand();
  TErosionBand(const TErosionBand&) = delete;
  TErosionBand& operator=(const TErosionBand&) = delete;
  // Rows [first, last) of the rectangle (counted from its top), following the
  // block before; `radius` holds t of their pixels row-major (null: the plane's
  // Radius, or UniformRadius when that is empty). After the band's last block
  // (`final`) the rows kept for each strip of columns are let go as soon as
  // the strip is done.
  void Erode(int64_t first, int64_t last, const float* radius, bool final);

private:
  struct TState;
  std::unique_ptr<TState> state_;
};

// Erodes one plane; the vector path (SSE2, AVX2 when allowed) gives the same
// results as the scalar one. False when the poll stopped it.
bool ErodePlane(const TErosionPlane& plane, const TErosionTable& table, bool vector, TFilterPoll* poll,
                int planeIndex);

}  // namespace astrelon
