#include "frequency/deconvolution/psf_shapes.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace astrelon {

namespace {

enum TShape { Cone = 0, Gauss = 1, Disc = 2, Ring = 3 };

// One sub-sample of a shape: horizontal offset dx, vertical offset already divided by q.
double SubSample(int shape, double dx, double dy, double R, double q) {
  const double d2 = dx * dx + dy * dy, d = std::sqrt(d2);
  switch (shape) {
    case Cone: return d / 2 < R ? (16.0 / R) * (R - d / 2) : 0.0;
    case Gauss: return 10.0 * std::exp(-d2 / (R * R));
    case Disc: return d2 <= R * R ? 16.0 : 0.0;
    default: {
      const double w = d > 0 ? std::fabs(dx) / d : 1.0;
      const double h = ((1.0 - w) / q + w) / 2.0;
      return R - h < d && d <= R + h ? 16.0 : 0.0;
    }
  }
}

// Offset of sub-sample j (0..3) of cell c from the centre of cell 31.
double SubOffset(int32_t c, int j) { return (4.0 * c + j) * 0.25 - 31.375; }

// (1 − f)·shape + f·next shape (f = 0: the shape alone), 4 × 4 sub-samples per cell.
void BlendedShape(int shape, double f, double R, double q, TPsfGrid& grid) {
  for (int32_t x = 0; x < PsfGridSide; ++x)
    for (int32_t y = 0; y < PsfGridSide; ++y) {
      double sum = 0;
      for (int i = 0; i < 4; ++i) {
        const double dy = SubOffset(y, i) / q;
        for (int j = 0; j < 4; ++j) {
          const double dx = SubOffset(x, j);
          double v = SubSample(shape, dx, dy, R, q);
          if (f > 0) v = (1.0 - f) * v + f * SubSample(shape + 1, dx, dy, R, q);
          sum += v;
        }
      }
      grid[PsfCell(x, y)] = float(sum);
    }
}

void Add(TPsfGrid& grid, int32_t x, int32_t y, double v) {
  if (InPsfGrid(x, y)) grid[PsfCell(x, y)] += float(v);
}

// The line from −(ex, ey) to +(ex, ey) around the centre cell, sampled every
// half pixel along its longer axis (at most 63 half pixels before and 64 after
// the centre); each sample spreads 127.5 over the two cells across the line
// that its crossing lies between. Cells beyond the grid get nothing.
void Line(double ex, double ey, TPsfGrid& grid) {
  grid.fill(0.0f);
  const bool alongX = std::fabs(ex) >= std::fabs(ey);
  const double major = alongX ? ex : ey, minor = alongX ? ey : ex;
  // An angle that is a right angle up to rounding draws an exact axis line.
  double slope = major != 0 ? minor / major : 0.0;
  if (std::fabs(slope) < 1e-12) slope = 0.0;
  const double reach = std::min(std::nearbyint(2.0 * std::fabs(major)), 64.0);
  const int32_t first = int32_t(std::max(-reach, -63.0)), last = int32_t(reach);
  for (int32_t s = first; s <= last; ++s) {
    const double a = s * 0.5, c = a * slope;
    const double base = std::floor(c), frac = c - base;
    const int32_t along = PsfGridCentre + int32_t(std::floor(a));
    const int32_t across = PsfGridCentre + int32_t(base);
    for (const auto& [k, v] : {std::pair{0, 127.5 * (1.0 - frac)}, std::pair{1, 127.5 * frac}}) {
      if (alongX)
        Add(grid, along, across + k, v);
      else
        Add(grid, across + k, along, v);
    }
  }
}

}  // namespace

double PsfLineAngle(double x) { return std::numbers::pi * (x - 3.1) / 1.8; }

bool BuildPsfShape(int32_t position, double radius, double aspect, TPsfGrid& grid) {
  const double R = radius, q = aspect;
  if (!(R > 0.002 && R < 500 && q > 0.002 && q < 500)) return false;
  if (position < 0 || position >= PsfShapePositions) return false;
  // Whole and tenth parts from the integer position, so that 30 is the ring exactly.
  const int k = position / 10;
  const double f = (position % 10) / 10.0;
  if (k <= 2) {
    BlendedShape(k, f, R, q, grid);
  } else if (k == 3 && f == 0) {
    BlendedShape(Ring, 0.0, R, q, grid);
  } else {
    const double theta = PsfLineAngle(position / 10.0);
    Line(R * std::cos(theta), q * R * std::sin(theta), grid);
  }
  return true;
}

}  // namespace astrelon
