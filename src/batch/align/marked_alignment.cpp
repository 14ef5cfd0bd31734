#include "batch/align/marked_alignment.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <chrono>
#include <string>
#include <thread>

#include "batch/accumulate/bayer_special.h"
#include "batch/accumulate/frame_alignment.h"
#include "batch/align/alignment_state.h"
#include "batch/align/comet_marks.h"
#include "batch/align/comet_offset.h"
#include "batch/align/comet_reference.h"
#include "batch/align/lost_star_search.h"
#include "batch/align/multipoint_alignment.h"
#include "batch/align/prompt_texts.h"
#include "batch/align/reference_resample.h"
#include "batch/align/star_check.h"
#include "batch/exec/step_run.h"
#include "batch/inputs/series_file_list.h"
#include "batch/run/batch_run_state.h"
#include "batch/run/batch_run_view.h"
#include "batch/steps/batch_captions.h"
#include "common/engine_ui.h"
#include "core/batch_series.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "kernels/alignment/alignment_points.h"
#include "kernels/alignment/match_quality.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "kernels/sampling/shift_image.h"
#include "pixelops/mosaic/mosaic_conversion.h"
#include "registration/combination/batch_combination_inputs.h"
#include "registration/combination/combine_shifted_image.h"
#include "registration/matching/frame_weight.h"
#include "registration/matching/star_assignment.h"
#include "registration/stacking/master_frame_state.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"
#include "store/header_dates.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

// Three or more marks: star matching and the shift grid.
bool Multipoint(int marks) { return marks > 2; }

// The mark pairs of the current image in multipoint mode (target x, y, work x, y).
std::vector<TMarkPair> CurrentPairs;
// The pairs the combination uses: the target's points moved by the comet offset.
std::vector<TMarkPair> FitPairs;

// The first image of a list that lost its reference goes onto that
// reference's grid; the run ends when no slot is free for it.
bool PlaceOnListedReference(int slot, bool listed) {
  TBatchRunState& s = BatchRun;
  if (!listed || !s.UseShiftList || !s.ReferenceDropped) return true;
  if (ResampleOntoListedReference(slot, s.MarkCount, FitPairs)) return true;
  s.EndOfRun = true;
  return false;
}

bool DirectMark(int slot, int n) {
  const TImageWindowLink* w = OpenWindowLink(slot);
  return w && w->MarkerVisible(n);
}

bool AnyDirectMark(int slot, int marks) {
  for (int n = 1; n <= marks; ++n)
    if (DirectMark(slot, n)) return true;
  return false;
}

// The points (a direct mark or a selection each) the window carries; in
// multipoint mode its marks.
int PointsShown(int slot, int marks) {
  if (Multipoint(marks)) return MultipointMarks(slot);
  const TImageWindowLink* w = OpenWindowLink(slot);
  int count = 0;
  for (int n = 1; w && n <= marks; ++n) count += w->MarkerVisible(n) || w->SelectionVisible(n);
  return count;
}

// The level range (0 % to 99 %) of plane 1.
double LevelRange(int slot) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  TPercentileLevels l;
  GetPercentileLevels(slot, 1, 0, im.Width - 1, 0, im.Height - 1, 0, 99, l);
  return l.LevelB - l.LevelA;
}

// Block matching compares brightness by the ratio of the level ranges; star
// centroids do not.
double BrightnessRatio(int target, int work) {
  if (Settings.ShiftMode != 1) return -1;
  const double t = LevelRange(target);
  return t > 0 ? LevelRange(work) / t : -1;
}

// The work window's selections follow the measured points B where the target
// has no direct mark.
void PlaceWorkMarks(int target, int work, int marks) {
  TImageWindowLink* w = OpenWindowLink(work);
  if (!w || Multipoint(marks)) return;
  const TFloatPoint b[2] = {PointB1(), PointB2()};
  for (int n = 1; n <= marks; ++n)
    if (!DirectMark(target, n)) w->CentreSelection(n, b[n - 1].X, b[n - 1].Y);
}

// Measures the marked points of the work image against the target's (the
// first image's, when the target is a comet stack); the quality starts from
// 99. Points that cannot be measured keep their values; false when fewer
// pairs than marks were found.
bool Measure(int target, int work, int marks) {
  MatchQuality = 99;
  const TCometReferenceView reference(work != target ? target : -1);
  if (Multipoint(marks)) {
    BatchFrameWeight = 1;
    CurrentPairs =
        MatchMultipoint(target, work, BatchRun.BayerSpecial, BrightnessRatio(target, work), BatchFrameWeight);
    BatchPoints.count = marks;
    return int(CurrentPairs.size()) >= 3;
  }
  const TAlignPoints p = GetAlignmentPoints(target, work, BatchRun.BayerSpecial, BrightnessRatio(target, work));
  if (p.count >= 1) {
    BatchPoints.A1x = p.A1x;
    BatchPoints.A1y = p.A1y;
    BatchPoints.B1x = p.B1x;
    BatchPoints.B1y = p.B1y;
  }
  if (p.count >= 2) {
    BatchPoints.A2x = p.A2x;
    BatchPoints.A2y = p.A2y;
    BatchPoints.B2x = p.B2x;
    BatchPoints.B2y = p.B2y;
  }
  BatchPoints.count = marks;
  return p.count >= marks;
}

// A frame dithered further than its boxes reach: points that look wrong are
// checked against the sky's shift at each mark; where a star went elsewhere
// the boxes are centred where block matching puts it and measured again.
// Points that stay unconfirmed bring the prompt. `followed`: the stars the
// boxes followed before this frame's measurement.
void FindLostStars(int target, int work, int marks, const std::array<TFollowedStar, 2>& followed) {
  TBatchRunState& s = BatchRun;
  if (Multipoint(marks) || Settings.ShiftMode != 0 || BatchDiscMode || CometRun() || BatchPoints.count < marks) return;
  const auto fluxes = [](const std::array<TFollowedStar, 2>& f) { return std::array<double, 2>{f[0].Flux, f[1].Flux}; };
  if (!PointsDoubtful(BatchPoints, marks, MatchQuality, fluxes(followed), fluxes(BatchFollowedStars)))
    return;
  const TFloatPoint a[2] = {PointA1(), PointA2()};
  std::array<std::optional<TFloatPoint>, 2> sky;
  const auto agree = [&] {
    const TFloatPoint b[2] = {PointB1(), PointB2()};
    for (int n = 0; n < marks; ++n)
      if (!sky[size_t(n)] || std::hypot(b[n].X - sky[size_t(n)]->X, b[n].Y - sky[size_t(n)]->Y) > LostStarAgreement)
        return false;
    return marks < 2 || PairDistanceKept(BatchPoints);
  };
  bool found = true;
  for (int n = 0; n < marks; ++n) {
    sky[size_t(n)] = SkyPosition(target, work, a[n]);
    found = found && sky[size_t(n)];
  }
  if (agree()) return;
  TImageWindowLink* w = OpenWindowLink(work);
  if (found && w) {
    for (int n = 1; n <= marks; ++n)
      if (!DirectMark(target, n)) w->CentreSelection(n, sky[size_t(n - 1)]->X, sky[size_t(n - 1)]->Y);
    BatchFollowedStars = followed;
    Measure(target, work, marks);
    if (agree() && !PointsDoubtful(BatchPoints, marks, MatchQuality, fluxes(followed), fluxes(BatchFollowedStars)))
      return;
  }
  // The user is asked; the boxes follow the stars they followed before.
  BatchFollowedStars = followed;
  s.CheckStars = true;
}

// A colour-mosaic frame of the Bayer-special page: the bias off every valid
// pixel, red sites times "Rmul.:", blue sites times "Bmul.:".
void CorrectMosaic(int work) {
  const auto numbers = ReadMosaicNumbers(MosaicSettings);
  if (!numbers || !SlotInUse(work)) return;
  StoreMosaicPattern();
  TImageSlot& im = Store.Image[size_t(work)];
  if (im.Planes[1].size() < im.PixelCount()) return;
  for (int32_t j = 0; j < im.Height; ++j)
    for (int32_t i = 0; i < im.Width; ++i) {
      float& v = im.At(1, i, j);
      if (!IsValidPixel(v)) continue;
      double x = double(v) - numbers->Bias;
      const int32_t colour = MosaicCellColor(MosaicPattern, i, j);
      if (colour == McRed) x *= numbers->Rmul;
      if (colour == McBlue) x *= numbers->Bmul;
      v = float(x);
    }
}

// "&Ok, weiter" is offered when both windows carry the run's marks; in
// multipoint mode the same number of marks, more than 2.
bool MarksComplete(int target, int work, int marks) {
  if (Multipoint(marks)) {
    const int n = MultipointMarks(target);
    return n > 2 && MultipointMarks(work) == n;
  }
  return PointsShown(target, marks) == marks && PointsShown(work, marks) == marks;
}

// The prompt and its wait loop, repeated while the answer needs confirming.
// False when the image is skipped or the run ends.
bool AskForMarks(int target, int work, int& marks, bool first, std::string text, bool& counted) {
  TBatchRunState& s = BatchRun;
  bool directConfirmed = false;
  for (;;) {
    if (!first) PlaceWorkMarks(target, work, marks);
    s.DirectMarks = false;
    s.PromptAnswered = false;
    ViewShowPrompt(text);
    while (!s.PromptAnswered && !s.EndOfRun) {
      ViewEnablePromptOk(MarksComplete(target, work, marks));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      EngineUi().ProcessMessages();
      // A window closed meanwhile: without the target the run ends, without
      // the work image the image is dropped.
      if (!SlotInUse(target)) s.EndOfRun = true;
      if (!SlotInUse(work)) s.SkipImage = true;
      if (s.SkipImage) break;
    }
    if (s.EndOfRun || s.SkipImage) return false;
    // Multipoint runs go on with the marks the user left on the target.
    if (Multipoint(marks)) {
      marks = std::max(3, MultipointMarks(target));
      s.MarkCount = marks;
    }
    // A direct mark brings the prompt once more to confirm the measurement.
    if (!directConfirmed && AnyDirectMark(target, marks)) {
      s.DirectMarks = true;
      s.CheckStars = true;
      directConfirmed = true;
      ViewUntickNoMoreChecks();
    }
    // The first image's marks in multipoint mode pair with themselves.
    Measure(target, first && Multipoint(marks) ? target : work, marks);
    if (first) {
      // The reference is its own second image: A and B are the same points.
      BatchPoints.B1x = BatchPoints.A1x;
      BatchPoints.B1y = BatchPoints.A1y;
      BatchPoints.B2x = BatchPoints.A2x;
      BatchPoints.B2y = BatchPoints.A2y;
      if (Multipoint(marks) ? MultipointMarks(target) > 2 : PointsShown(target, marks) == marks) break;
      text = FirstImagePrompt(marks, RunMarkKind());
      continue;
    }
    if (Settings.ShiftMode == 0 && !HasCometOffset()) PlaceWorkMarks(target, work, marks);
    const bool doubtful = MatchQuality < s.StarTolerance || s.CheckStars;
    const bool missing = Multipoint(marks) ? !MarksComplete(target, work, marks) : PointsShown(target, marks) != marks;
    if ((s.DirectMarks && doubtful) || missing) {
      text = ConfirmPrompt(marks, RunMarkKind());
      continue;
    }
    break;
  }
  // The frame's weight from the spread of its marks' qualities, the level
  // entering the run's average.
  if (FrameStatisticCount() > 0) BatchFrameWeight = BildgewichtAusStatistik(true);
  if (!counted && !s.CometCompute && MatchQuality < 50) {
    EnterQuality(float(MatchQuality));
    counted = true;
  }
  return true;
}

// The listed points of the current file.
void ListedPoints() {
  const TBatchRunState& s = BatchRun;
  if (Multipoint(s.MarkCount)) {
    const bool has = size_t(s.ShiftListIndex) < BatchMarkPairs.size();
    CurrentPairs = has ? BatchMarkPairs[size_t(s.ShiftListIndex)] : std::vector<TMarkPair>{};
    BatchPoints.count = s.MarkCount;
    return;
  }
  if (size_t(s.ShiftListIndex) >= BatchStarPairs.size()) return;
  const TStarPair& p = BatchStarPairs[size_t(s.ShiftListIndex)];
  BatchPoints = TAlignPoints{p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], s.MarkCount};
}

// The entry of the run's shift list: name, quality and points, inserted at
// the list position (later entries of a loaded list move up).
void RecordShiftListEntry() {
  TBatchRunState& s = BatchRun;
  const TAlignPoints& p = BatchPoints;
  const size_t at = size_t(std::clamp<int32_t>(s.ShiftListIndex, 0, int32_t(SeriesFileList.size())));
  SeriesFileList.insert(SeriesFileList.begin() + std::ptrdiff_t(at), s.InputFileName);
  BatchStarPairs.resize(std::max(BatchStarPairs.size(), at));
  BatchStarPairs.insert(BatchStarPairs.begin() + std::ptrdiff_t(at),
                        TStarPair{p.A1x, p.A1y, p.A2x, p.A2y, p.B1x, p.B1y, p.B2x, p.B2y});
  if (Multipoint(s.MarkCount)) {
    BatchMarkPairs.resize(std::max(BatchMarkPairs.size(), at));
    BatchMarkPairs.insert(BatchMarkPairs.begin() + std::ptrdiff_t(at), FitPairs);
  }
  BatchQualities.resize(std::max(BatchQualities.size(), at));
  BatchQualities.insert(BatchQualities.begin() + std::ptrdiff_t(at), float(MatchQuality));
  ++s.ShiftListIndex;
  ++s.ShiftListCount;
  s.WriteShiftList = true;
}

// The target's coverage weights from its first image: 1 where valid, 0 where blank.
void StartCoverageWeights(int target) {
  const TImageSlot& im = Store.Image[size_t(target)];
  const int planes = im.IsColor ? std::min(im.PlaneCount, 3) : 1;
  BatchCoverageWeights.assign(im.PixelCount() * size_t(planes), 0.0f);
  for (int p = 1; p <= planes; ++p) {
    const TPlane& v = im.Planes[size_t(p)];
    float* w = BatchCoverageWeights.data() + size_t(p - 1) * im.PixelCount();
    for (size_t i = 0; i < v.size() && i < im.PixelCount(); ++i) w[i] = IsValidPixel(v[i]) ? 1.0f : 0.0f;
  }
}

void Refresh(int slot) {
  ComputeHistogram(slot, false, true);
  SetAutoDisplayRange(slot, false);
  ViewRender(slot);
}

// Operation 10: the image into the target.
void AddToTarget(int target, int work, bool first, bool listed) {
  TBatchRunState& s = BatchRun;
  const int32_t marks = s.MarkCount;
  if (first && s.CombineMode < 3 && s.NewTarget) {
    if (s.BayerSpecial) {
      if (!PrepareBayerSpecialTarget(work)) {
        EngineUi().ShowMessage(BatchCaption(TBatchCaption::BayerInitFailed));
        s.EndOfRun = true;
        return;
      }
      if (listed && s.UseShiftList && s.ReferenceDropped) {
        // The first listed image goes onto the lost reference's grid.
        if (!AddListedReferenceMosaic(work, marks, FitPairs)) {
          s.EndOfRun = true;
          return;
        }
      } else {
        TAlignPoints same = BatchPoints;
        same.B1x = same.A1x;
        same.B1y = same.A1y;
        same.B2x = same.A2x;
        same.B2y = same.A2y;
        BayerSpezialAddieren(work, FrameAlignment(same, marks), listed);
      }
    } else {
      if (!PlaceOnListedReference(target, listed)) return;
      StartCoverageWeights(target);
      s.WeightedAdd = 1;
    }
    s.CombinedCount = 1;
    BatchAddedCount = 1;
  }
  const double temperature = ReadCcdTemperature(work);
  if (temperature > -300) {
    CcdTemperatureSum += temperature;
    ++CcdTemperatureCount;
  }
  if (s.CombineMode >= 3 || first) return;
  if (s.BayerSpecial) {
    BayerSpezialAddieren(work, FrameAlignment(BatchPoints, marks), listed, BatchFrameWeight);
    return;
  }
  const TCombineOp op = s.CombineMode == 1   ? TCombineOp::Minimum
                        : s.CombineMode == 2 ? TCombineOp::Maximum
                                             : TCombineOp::Add;
  CombineShiftedImage(target, work, target, marks, PointA1(), PointA2(), PointB1(), PointB2(), op);
  ++BatchAddedCount;
  Refresh(target);
}

// Operation 14: the work image onto the target's grid.
void FitToTarget(int target, int work) {
  const int32_t marks = BatchRun.MarkCount;
  if (marks == 1) {
    ShiftImage(work, double(BatchPoints.B1x) - BatchPoints.A1x, double(BatchPoints.B1y) - BatchPoints.A1y);
  } else {
    const int copy = FindFreeSlot();
    if (copy < 1) {
      BatchRun.EndOfRun = true;
      return;
    }
    // A blank image of the target's size takes the resampled work image (the
    // maximum of a blank and a sample is the sample).
    CopyImageSlot(work, copy);
    TImageSlot& c = Store.Image[size_t(copy)];
    c.Width = Store.Image[size_t(target)].Width;
    c.Height = Store.Image[size_t(target)].Height;
    for (int p = 1; p <= c.PlaneCount; ++p) c.Planes[size_t(p)].assign(c.PixelCount(), BlankPixel);
    const uint8_t weighted = BatchWeightedAdd;
    BatchWeightedAdd = 0;
    CombineShiftedImage(copy, work, copy, marks, PointA1(), PointA2(), PointB1(), PointB2(), TCombineOp::Maximum);
    BatchWeightedAdd = weighted;
    TImageSlot& w = Store.Image[size_t(work)];
    w.Width = c.Width;
    w.Height = c.Height;
    for (int p = 1; p <= c.PlaneCount; ++p) w.Planes[size_t(p)].swap(c.Planes[size_t(p)]);
    FreeSlot(copy);
  }
  Refresh(work);
}

}  // namespace

void RunMarkedAlignment(const TStepRun& run) {
  TBatchRunState& s = BatchRun;
  const int target = s.TargetSlot, work = run.Work;
  int32_t marks = s.MarkCount;
  if (!SlotInUse(target) || !SlotInUse(work)) {
    s.FirstImage = false;
    return;
  }
  MatchQuality = 99;
  if (s.FirstImage) ReleaseCometReference();
  if (s.FirstImage && Multipoint(marks)) ResetStarMatching();
  // A frame counts fully unless its matching finds otherwise.
  BatchFrameWeight = 1;
  StartFrameStatistics(0);
  const bool listed = s.UseShiftList && s.InShiftList;
  if (s.BayerSpecial && !listed) CorrectMosaic(work);
  const bool first = s.FirstImage && !s.UseShiftList;
  const TMarkKind kind = RunMarkKind();
  std::string text;
  bool counted = false;
  // The comet computation's second image is aligned on the first one's
  // stars, always confirmed by the user.
  if (s.CometCompute && !first) {
    RestoreCometReference(target, work);
    s.CheckStars = true;
  }
  if (first) {
    ResetQualityStatistics();
    text = FirstImagePrompt(marks, kind);
    s.CheckStars = true;
  } else if (!listed && OpenWindowLink(work)) {
    if (ViewPictureEnabled(work))
      ViewCopyMarks(target, work);
    else
      ViewSetPictureEnabled(work, true);
    PlaceWorkMarks(target, work, marks);
    const std::array<TFollowedStar, 2> followed = BatchFollowedStars;
    if (!Measure(target, work, marks)) s.CheckStars = true;
    FindLostStars(target, work, marks, followed);
    counted = CheckQuality(float(MatchQuality));
    PlaceWorkMarks(target, work, marks);
    if (AnyDirectMark(target, marks)) {
      text = DirectMarkPrompt(marks);
      ViewUntickNoMoreChecks();
      s.CheckStars = true;
    } else {
      text = ConfirmPrompt(marks, kind);
    }
  } else if (!listed) {
    // No window to measure in: the user is asked.
    s.CheckStars = true;
    text = ConfirmPrompt(marks, kind);
  }

  // A listed file takes its listed points without asking.
  if (listed) {
    ListedPoints();
  } else if (s.CheckStars || first) {
    if (!AskForMarks(target, work, marks, first, text, counted)) return;
  }

  // The comet computation combines nothing: the comet is marked in the image.
  if (s.CometCompute) {
    MarkComet(first ? target : work, first);
    s.FirstImage = false;
    return;
  }

  // The first image of the run is the target itself, listed or not.
  const bool reference = s.FirstImage || work == target;
  // Each image goes where its stars put it, moved by the comet offset.
  const TFloatPoint offset = ReferencePointOffset();
  MoveReferencePoints(offset.X, offset.Y);
  FitPairs = CurrentPairs;
  for (TMarkPair& p : FitPairs) {
    p.Xa += offset.X;
    p.Ya += offset.Y;
  }
  if (Multipoint(s.MarkCount)) FitTargetToFrame(FitPairs, target, reference ? target : work);
  if (run.Op == 10) {
    AddToTarget(target, work, reference, listed);
  } else if (!reference) {
    FitToTarget(target, work);
  } else if (listed && s.ReferenceDropped) {
    if (PlaceOnListedReference(work, listed)) Refresh(work);
  }
  // The list holds the points as combined, the comet offset included, so
  // that a run from it places every image alike.
  if (!listed && !s.EndOfRun) RecordShiftListEntry();
  // The accepted match is where the next image's matching starts.
  if (Multipoint(s.MarkCount) && !listed && !reference && !s.EndOfRun && !s.CometCompute) AcceptMatchedFrame();
  MoveReferencePoints(-offset.X, -offset.Y);
  // The stars of a comet stack's later images are measured on its first.
  if (reference && run.Op == 10 && s.CombineMode < 3 && CometRun() && !s.EndOfRun) KeepCometReference(target);
  s.FirstImage = false;
}

}  // namespace astrelon
