#include "batch/align/multipoint_alignment.h"

#include <algorithm>

#include "core/settings.h"
#include "registration/combination/batch_combination_inputs.h"
#include "registration/matching/shift_grid_builder.h"
#include "registration/matching/similarity_fit.h"
#include "registration/matching/star_assignment.h"
#include "registration/matching/star_marks.h"
#include "store/image_store.h"

namespace astrelon {

int MultipointMarks(int slot) { return CountWindowMarks(slot, true); }

std::vector<TMarkPair> MatchMultipoint(int target, int work, bool mosaic, double brightnessRatio, float& weight) {
  const TStarMatchOptions options{.CrossCorrelation = Settings.ShiftMode == 1,
                                  .IsMosaic = mosaic,
                                  .BrightnessRatio = brightnessRatio};
  // A new image in the work slot: every mark is measured afresh, also where
  // its box happens to sit where the last image's did.
  if (work != target) {
    ReadWindowMarks(work);
    TMarkList& marks = WindowMarks[size_t(work)];
    std::fill(marks.Measured.begin(), marks.Measured.end(), uint8_t(0));
  }
  const TStarMatchResult r =
      SterneZuordnen(work, target, MultipointMarks(work), MultipointMarks(target), options, weight);
  if (r != TStarMatchResult::Matched) return {};
  return MatchedMarkPairs(work, target);
}

void FitTargetToFrame(std::span<const TMarkPair> pairs, int target, int work) {
  if (!SlotInUse(target) || !SlotInUse(work)) return;
  // Installing the pairs rewrites both mark lists and the pairing: they are
  // put back afterwards, so that the next image is matched against the
  // target's own marks.
  const TMarkList targetMarks = WindowMarks[size_t(target)];
  const TMarkList workMarks = ReferenceMarkList(work);
  const std::vector<uint16_t> pairIndex = ReferenceMarks.PairIndex;
  const TSimilarity fit = GlobalFit;
  const TMarkCentroids centroids = MarkCentroids;
  InstallMarkPairs(pairs, work, target);
  FitMarksToReference(target, work);
  BuildShiftGrid(target, work, 0, Store.Image[size_t(target)].Height - 1);
  WindowMarks[size_t(target)] = targetMarks;
  ReferenceMarkList(work) = workMarks;
  ReferenceMarks.PairIndex = pairIndex;
  GlobalFit = fit;
  MarkCentroids = centroids;
}

}  // namespace astrelon
