#include "registration/matching/star_assignment.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <vector>

#include "core/batch_state.h"
#include "kernels/alignment/determine_shift.h"
#include "kernels/alignment/stars/find_star_centroid.h"
#include "kernels/alignment/match_quality.h"
#include "registration/matching/frame_weight.h"
#include "registration/matching/similarity_fit.h"
#include "registration/matching/star_marks.h"

namespace astrelon {

TStarMatchRun StarMatchRun;

namespace {

constexpr double NoCandidate = 1e20;


// The box of mark k of the slot's window, clipped to the image.
TWorkRect MarkBox(int slot, int k) {
  SetWorkRectFromWindow(slot, -k - 1, false);
  return WorkRect;
}

TFloatPoint BoxCentre(const TWorkRect& r) {
  return {float((double(r.x1) + r.x2) * 0.5), float((double(r.y1) + r.y2) * 0.5)};
}

// A box of the size of `size` centred on p (rounded).
TWorkRect BoxAround(TFloatPoint p, const TWorkRect& size) {
  const int32_t w = size.x2 - size.x1, h = size.y2 - size.y1;
  const int32_t x1 = int32_t(std::nearbyint(std::clamp(double(p.X), -1e7, 1e7))) - w / 2;
  const int32_t y1 = int32_t(std::nearbyint(std::clamp(double(p.Y), -1e7, 1e7))) - h / 2;
  return {x1, x1 + w, y1, y1 + h};
}

// The star in the box; a box of a pair finds its partner's star again
// (`reference` null: any star).
TFloatPoint StarIn(int slot, const TWorkRect& rect, float threshold, bool mosaic,
                   const TStarReference* reference = nullptr, int referenceSlot = 0, TFloatPoint partner = {}) {
  FindStarCentroid(slot, rect, threshold, 1,
                   {.BlockMatch = false, .IsMosaic = mosaic, .OtherSlot = referenceSlot, .RefPoint = partner,
                    .Rule = TBoxRule::Star, .Reference = reference});
  return StarPosition;
}

// Measures the window's unmeasured marks among the first `count` in their
// boxes. `fluxKnown`: the fluxes of their stars are those of single frames
// (not so for the marks of a running batch's target, which holds a sum of
// frames: their partners' boxes then follow the stars measured in the frames).
void MeasureMarks(int slot, int count, const TStarMatchOptions& o, bool fluxKnown) {
  ReadWindowMarks(slot);
  TMarkList& list = WindowMarks[size_t(slot)];
  count = std::min(count, list.Count);
  float threshold = -1;
  for (int k = 0; k < count; ++k) {
    if (list.Measured[size_t(k)]) continue;
    const TWorkRect box = MarkBox(slot, k);
    if (o.CrossCorrelation) {
      list.Points[size_t(k)] = BoxCentre(box);
    } else {
      if (threshold < 0) threshold = StarSearchThreshold(slot, o.IsMosaic);
      list.Points[size_t(k)] = StarIn(slot, box, threshold, o.IsMosaic);
    }
    list.Fluxes[size_t(k)] = fluxKnown && !o.CrossCorrelation ? StarFlux : 0.0;
    list.Measured[size_t(k)] = 1;
  }
}

// Pairs every current mark with the nearest reference mark transformed into
// the current image by the rotation and scale (a, b) about the centroids;
// the sum of the squared distances.
double PairByCandidate(std::span<const TFloatPoint> cur, std::span<const TFloatPoint> ref, const TMarkCentroids& c,
                       double a, double b, std::vector<uint16_t>& pairs, std::vector<double>& scratch) {
  scratch.resize(2 * ref.size());
  for (size_t j = 0; j < ref.size(); ++j) {
    const double X = ref[j].X - c.XB, Y = ref[j].Y - c.YB;
    scratch[2 * j] = a * X + b * Y + c.XA;
    scratch[2 * j + 1] = a * Y - b * X + c.YA;
  }
  pairs.resize(cur.size());
  double sum = 0;
  for (size_t k = 0; k < cur.size(); ++k) {
    double best = 0;
    size_t partner = 0;
    for (size_t j = 0; j < ref.size(); ++j) {
      const double dx = scratch[2 * j] - cur[k].X, dy = scratch[2 * j + 1] - cur[k].Y;
      const double d2 = dx * dx + dy * dy;
      if (j == 0 || d2 < best) {
        best = d2;
        partner = j;
      }
    }
    pairs[k] = uint16_t(partner);
    sum += best;
  }
  return sum;
}

// The correspondence search between two images (pair index and candidate).
void FindCorrespondence(std::span<const TFloatPoint> cur, std::span<const TFloatPoint> ref, const TMarkCentroids& c,
                        double weight, std::vector<uint16_t>& pairs) {
  TStarMatchRun& run = StarMatchRun;
  std::vector<double> scratch;
  // Without a usable anchor every mark keeps the last frame's candidate.
  PairByCandidate(cur, ref, c, run.PrevA, run.PrevB, pairs, scratch);
  run.CandA = run.PrevA;
  run.CandB = run.PrevB;
  size_t anchor = 0;
  double far = -1;
  for (size_t k = 0; k < cur.size(); ++k) {
    const double dx = cur[k].X - c.XA, dy = cur[k].Y - c.YA;
    if (dx * dx + dy * dy > far) {
      far = dx * dx + dy * dy;
      anchor = k;
    }
  }
  if (far < 1.0) return;
  const double dx0 = cur[anchor].X - c.XA, dy0 = cur[anchor].Y - c.YA;
  const double penalty = double(cur.size()) * weight;
  double best = NoCandidate;
  std::vector<uint16_t> tentative;
  for (size_t p = 0; p < ref.size(); ++p) {
    const double X = ref[p].X - c.XB, Y = ref[p].Y - c.YB;
    const double den = X * X + Y * Y;
    // A reference mark on its centroid says nothing about rotation and scale.
    const float a = den > 0 ? float((dx0 * X + dy0 * Y) / den) : run.PrevA;
    const float b = den > 0 ? float((dx0 * Y - dy0 * X) / den) : run.PrevB;
    const double da = double(run.PrevA) - a, db = double(run.PrevB) - b;
    const double error = PairByCandidate(cur, ref, c, a, b, tentative, scratch) + (da * da + db * db) * penalty;
    if (error < best) {
      best = error;
      pairs = tentative;
      run.CandA = a;
      run.CandB = b;
    }
  }
}

// The partners' stars as the boxes of their marks must find them again, each
// read from the reference image when first needed.
struct TPartnerStars {
  std::vector<std::optional<TStarReference>> Read;
  float Threshold = -1;  // the reference image's noise level, measured when first needed
  const TStarReference& Of(int reference, int j, TMarkList& list, bool mosaic) {
    if (Read.size() <= size_t(j)) Read.resize(size_t(j) + 1);
    std::optional<TStarReference>& r = Read[size_t(j)];
    if (r) return *r;
    const double flux = list.Fluxes[size_t(j)];
    if (flux > 0 && IsOpenWindow(reference)) {
      if (Threshold < 0) Threshold = StarSearchThreshold(reference, mosaic);
      r = ReadStarReference(reference, list.Points[size_t(j)], Threshold, mosaic, flux);
    } else {
      r = TStarReference{flux, {}};
    }
    return *r;
  }
};

// Measures current mark k again with the box of its partner j: by correlation
// of the partner's box of the reference against the current image, or by the
// star centroid in a box of the partner's size around the mark.
void MeasureAgainst(int window, int reference, int k, int j, const TStarMatchOptions& o, float& threshold,
                    TPartnerStars& partners) {
  TMarkList& own = WindowMarks[size_t(window)];
  TMarkList& ref = ReferenceMarkList(reference);
  TFloatPoint& mark = own.Points[size_t(k)];
  if (o.CrossCorrelation) {
    if (!IsOpenWindow(reference) || !SlotInUse(window)) return;
    const TWorkRect refBox = MarkBox(reference, j);
    const TFloatPoint centre = BoxCentre(refBox);
    const double offsetX = double(ref.Points[size_t(j)].X) - centre.X,
                 offsetY = double(ref.Points[size_t(j)].Y) - centre.Y;
    const double saved = MatchQuality;
    MatchQuality = 99.0;
    const TShiftResult found =
        DetermineShift(reference, window, -j - 1, o.BrightnessRatio, o.IsMosaic, BoxAround(mark, refBox));
    const double quality = MatchQuality;
    MatchQuality = std::min(saved, quality);
    AddFrameStatistic(float(quality));
    const double x = found.DiscDisplacement ? centre.X + found.Position.X : found.Position.X;
    const double y = found.DiscDisplacement ? centre.Y + found.Position.Y : found.Position.Y;
    mark = {float(x + offsetX), float(y + offsetY)};
    return;
  }
  TWorkRect size;
  if (IsOpenWindow(reference))
    size = MarkBox(reference, j);
  else if (IsOpenWindow(window))
    size = MarkBox(window, k);
  else
    return;
  if (!SlotInUse(window)) return;
  if (threshold < 0) threshold = StarSearchThreshold(window, o.IsMosaic);
  const TStarReference& partner = partners.Of(reference, j, ref, o.IsMosaic);
  mark = StarIn(window, BoxAround(mark, size), threshold, o.IsMosaic, &partner, IsOpenWindow(reference) ? reference : 0,
                ref.Points[size_t(j)]);
  own.Fluxes[size_t(k)] = StarFlux;
  // In a running batch the partner's box follows the star from frame to frame.
  if (BatchRunning && StarFlux > 0) ref.Fluxes[size_t(j)] = StarFlux;
}

}  // namespace

void ResetStarMatching() {
  StarMatchRun = {};
  ResetFrameWeightRun();
  GlobalFit = {};
  MarkCentroids = {};
  ReferenceMarks = {};
  for (TMarkList& list : WindowMarks) list = {};
}

void AcceptMatchedFrame() {
  TStarMatchRun& run = StarMatchRun;
  run.ResidualSum += run.ResidualVariance + 0.3;
  run.ResidualCount += 1;
  run.PrevA = run.CandA;
  run.PrevB = run.CandB;
}

TStarMatchResult SterneZuordnen(int window, int reference, int n, int m, const TStarMatchOptions& o,
                                float& frameWeight) {
  if (n < 1 || m < 1 || !ValidSlot(window)) return TStarMatchResult::NoMarks;
  const bool same = window == reference;
  const double savedQuality = MatchQuality;
  if (IsOpenWindow(window)) MeasureMarks(window, n, o, true);
  if (!same && IsOpenWindow(reference)) MeasureMarks(reference, m, o, !BatchRunning);
  MatchQuality = savedQuality;

  TMarkList& own = WindowMarks[size_t(window)];
  const TMarkList& ref = ReferenceMarkList(reference);
  n = std::min(n, own.Count);
  m = std::min(m, ref.Count);
  if (n < 1 || m < 1) return TStarMatchResult::NoMarks;
  const std::span<const TFloatPoint> cur(own.Points.data(), size_t(n));
  const std::span<const TFloatPoint> refs(ref.Points.data(), size_t(m));
  TMarkCentroids& c = MarkCentroids;
  MeanOfPoints(cur, c.XA, c.YA);
  if (same) {
    c.XB = c.XA;
    c.YB = c.YA;
  } else {
    MeanOfPoints(refs, c.XB, c.YB);
  }

  std::vector<uint16_t>& pairs = ReferenceMarks.PairIndex;
  if (same) {
    pairs.resize(size_t(n));
    for (int k = 0; k < n; ++k) pairs[size_t(k)] = uint16_t(std::min(k, m - 1));
  } else {
    FindCorrespondence(cur, refs, c, o.CrossCorrelation ? 10000.0 : 2000.0, pairs);
  }

  if (o.CrossCorrelation || !same) {
    StartFrameStatistics(n);
    double sx = 0, sy = 0;
    for (int k = 0; k < n; ++k) {
      sx += refs[pairs[size_t(k)]].X;
      sy += refs[pairs[size_t(k)]].Y;
    }
    c.XB = sx / n;
    c.YB = sy / n;
    float threshold = -1;  // measured when first needed
    TPartnerStars partners;
    for (int k = 0; k < n; ++k) MeasureAgainst(window, reference, k, pairs[size_t(k)], o, threshold, partners);
    // The fit takes the current marks about their new centre.
    MeanOfPoints(cur, c.XA, c.YA);
    frameWeight *= BildgewichtAusStatistik(false);
  }

  AehnlichkeitsFit(window, reference, n, false, m);

  TStarMatchRun& run = StarMatchRun;
  double sumD = 0, sumD2 = 0;
  for (int k = 0; k < n; ++k) {
    const TFloatPoint& partner = refs[pairs[size_t(k)]];
    double x = 0, y = 0;
    GlobalFit.Map(cur[size_t(k)].X, cur[size_t(k)].Y, x, y);
    const double d = std::hypot(x - partner.X, y - partner.Y);
    sumD += d;
    sumD2 += d * d;
  }
  run.ResidualMean = sumD / n;
  run.ResidualVariance = sumD2 / n - run.ResidualMean * run.ResidualMean;
  if (run.ResidualCount > 0) {
    const double level = run.ResidualSum / run.ResidualCount;
    if (3 * run.ResidualVariance > level) frameWeight *= float(0.8 * level / (3 * run.ResidualVariance) + 0.2);
  }

  for (int k = 0; k < n; ++k) ShowMarkAt(window, k);
  if (!same)
    for (int j = 0; j < m; ++j) ShowMarkAt(reference, j);
  return TStarMatchResult::Matched;
}

}  // namespace astrelon
