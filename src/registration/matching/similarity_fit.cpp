#include "registration/matching/similarity_fit.h"

#include <algorithm>

#include "registration/combination/batch_combination_inputs.h"
#include "registration/matching/star_marks.h"

namespace astrelon {

TSimilarity GlobalFit;
TMarkCentroids MarkCentroids;

void MeanOfPoints(std::span<const TFloatPoint> points, double& x, double& y) {
  double sx = 0, sy = 0;
  for (const TFloatPoint& p : points) {
    sx += p.X;
    sy += p.Y;
  }
  const double n = double(std::max<size_t>(points.size(), 1));
  x = sx / n;
  y = sy / n;
}

TSimilarity FitSimilarity(std::span<const TFloatPoint> current, std::span<const TFloatPoint> reference,
                          std::span<const uint16_t> pairIndex, const TMarkCentroids& c, const TSimilarity& previous) {
  double sr = 0, sa = 0, sb = 0, spread = 0;
  const size_t n = std::min(current.size(), pairIndex.size());
  for (size_t k = 0; k < n; ++k) {
    const size_t j = pairIndex[k];
    if (j >= reference.size()) continue;
    const double dx = current[k].X - c.XA, dy = current[k].Y - c.YA;
    const double r2 = dx * dx + dy * dy;
    if (r2 <= 8.0) continue;
    const double X = reference[j].X - c.XB, Y = reference[j].Y - c.YB;
    sr += r2;
    spread += X * X + Y * Y;
    sa += dx * X + dy * Y;
    sb += dx * Y - dy * X;
  }
  TSimilarity f = previous;
  // Partners all on their centroid (a single reference star) would give scale 0.
  if (sr > 0 && spread > 0) {
    f.A = sa / sr;
    f.B = sb / sr;
  }
  f.Tx = c.XB - f.A * c.XA + f.B * c.YA;
  f.Ty = c.YB - f.A * c.YA - f.B * c.XA;
  return f;
}

void AehnlichkeitsFit(int window, int reference, int n, bool useStoredReference, int m) {
  if (!ValidSlot(window)) return;
  const TMarkList& own = WindowMarks[size_t(window)];
  const TMarkList& ref = useStoredReference ? ReferenceMarks.Stored : ReferenceMarkList(reference);
  n = std::clamp(n, 0, own.Count);
  m = std::clamp(m, 0, ref.Count);
  const size_t pairs = std::min<size_t>(size_t(n), ReferenceMarks.PairIndex.size());
  GlobalFit = FitSimilarity(own.Used().first(pairs), std::span(ref.Points.data(), size_t(m)),
                            std::span(ReferenceMarks.PairIndex.data(), pairs), MarkCentroids, GlobalFit);
}

void FitMarksToReference(int window, int reference) {
  if (!ValidSlot(window)) return;
  const TMarkList& own = WindowMarks[size_t(window)];
  const TMarkList& ref = ReferenceMarkList(reference);
  MeanOfPoints(own.Used(), MarkCentroids.XA, MarkCentroids.YA);
  if (window == reference) {
    MarkCentroids.XB = MarkCentroids.XA;
    MarkCentroids.YB = MarkCentroids.YA;
  } else {
    MeanOfPoints(ref.Used(), MarkCentroids.XB, MarkCentroids.YB);
  }
  AehnlichkeitsFit(window, reference, own.Count, false, ref.Count);
  BatchFittedTransform = {.Tx = GlobalFit.Tx, .Ty = GlobalFit.Ty, .A = GlobalFit.A, .B = GlobalFit.B, .Ox = 0, .Oy = 0};
}

}  // namespace astrelon
