#pragma once
// The least-squares similarity transform (rotation, scale and shift) that maps
// the marks of the current image onto their partners among the reference
// marks: x' = A x - B y + Tx, y' = B x + A y + Ty.
#include <cstdint>
#include <span>

#include "kernels/alignment/float_point.h"

namespace astrelon {

struct TSimilarity {
  double A = 1, B = 0, Tx = 0, Ty = 0;
  void Map(double x, double y, double& xr, double& yr) const {
    xr = A * x - B * y + Tx;
    yr = B * x + A * y + Ty;
  }
};

// Centre of the current image's marks (XA, YA) and of the reference marks (XB, YB).
struct TMarkCentroids {
  double XA = 0, YA = 0, XB = 0, YB = 0;
};

// The mean of the points; (0, 0) for none.
void MeanOfPoints(std::span<const TFloatPoint> points, double& x, double& y);

// The fit given the centroids: marks within about 2.83 pixels of the current
// centroid (squared distance not above 8) take no part in rotation and scale;
// when no mark is left, or all their partners lie on the reference centroid,
// A and B keep the values of `previous`. The shift then
// takes the current centroid onto the reference centroid. pairIndex[k] is the
// partner of current[k] in `reference`; a partner out of range is skipped.
TSimilarity FitSimilarity(std::span<const TFloatPoint> current, std::span<const TFloatPoint> reference,
                          std::span<const uint16_t> pairIndex, const TMarkCentroids& centroids,
                          const TSimilarity& previous);

// The last fit of the batch's star alignment and the centroids it used.
extern TSimilarity GlobalFit;
extern TMarkCentroids MarkCentroids;

// The fit proper for the first n marks of the window against the reference
// marks (the stored ones when useStoredReference is set or the reference is no
// open window), with the centroids in MarkCentroids; leaves it in GlobalFit.
void AehnlichkeitsFit(int window, int reference, int n, bool useStoredReference, int m);

// Centroids of the window's marks and of the reference marks (the current
// centroid for both when window and reference are one image) and the fit of
// the window's marks through the pair index, which must be set. The fit also
// goes into the batch's BatchFittedTransform (without reference offset).
void FitMarksToReference(int window, int reference);

}  // namespace astrelon
