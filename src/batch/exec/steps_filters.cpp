// Batch steps of the smoothing, noise, flattening and star filters, each on
// the whole work image (most from a copy of it). The abort flag is cleared
// first, so that an earlier Esc does not stop them at once.
#include "batch/exec/step_copy.h"
#include "batch/exec/step_run.h"
#include "batch/exec/step_values.h"
#include "filters/corrections/equalize_row_brightness.h"
#include "filters/noise/color_noise_filter.h"
#include "filters/noise/median_filter.h"
#include "filters/noise/noise_filter.h"
#include "filters/sharpening/shrink_star_radius.h"
#include "kernels/background/background_flattening.h"
#include "kernels/gauss/filter_poll.h"
#include "kernels/gauss/gauss_filters.h"
#include "kernels/regions/remove_hot_pixels.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

void ClearAbort() {
  AbortRequested = 0;
  FilterAbortRequested = 0;
}

// A filter from the copy F into the work image; nothing without a copy.
// `needsSlot`: the operation shows its error when no copy can be made.
template <typename F>
void FromCopy(const TStepRun& run, bool needsSlot, F&& filter) {
  const TStepCopy copy(run);
  if (!copy) {
    if (needsSlot) ShowStepError(run.Op);
    return;
  }
  ClearAbort();
  filter(copy.Slot());
  UpdateMinMax(run.Work);
}

}  // namespace

bool RunFilterStep(const TStepRun& run) {
  const int w = run.Work;
  const TWorkRect rect = WholeImageRect(w);
  switch (run.Op) {
    case 9: {
      const float radius = float(StepFloat(run.Value(1)));
      ClearAbort();
      fGauss(w, w, 0, rect.x1, rect.x2, rect.y1, rect.y2, radius, false, w, 100, "");
      return true;
    }
    case 15:
    case 29:
      RemoveHotPixels(w, rect.x1, rect.x2, rect.y1, rect.y2, run.Op == 15 ? 3.0f : 1.5f);
      return true;
    case 27: {
      const float radius = float(StepInt(run.Value(1)));
      FromCopy(run, true, [&](int f) { FlattenBackgroundForBatch(f, w, radius); });
      return true;
    }
    case 30: {
      if (!Store.Image[size_t(w)].IsColor) return true;
      const float threshold = float(StepFloat(run.Value(1))), radius = float(StepFloat(run.Value(2)));
      FromCopy(run, false, [&](int f) {
        TFilterPoll poll;
        FilterColorNoise(f, w, rect, radius, threshold, poll);
      });
      return true;
    }
    case 36: {
      const float strength = float(StepFloat(run.Value(1)));
      FromCopy(run, false, [&](int f) {
        TFilterPoll poll;
        EqualizeRowBrightness(f, w, !run.OptionOn(), strength, {rect.x1, rect.x2}, std::nullopt, poll);
      });
      return true;
    }
    case 37:
    case 38:
      FromCopy(run, false, [&](int f) { FlattenBackgroundAuto(f, w, run.Op == 37 ? 5 : 3, false); });
      return true;
    case 39: {
      const float threshold = float(StepFloat(run.Value(1)));
      const float radius = float(StepFloat(run.Value(2)));
      const float cauchy = float(StepFloat(run.Value(3)) * 0.01);
      FromCopy(run, false, [&](int f) {
        // The filter dialog's scale: "Schwelle" / 300 of ten times the noise.
        const float level = 10 * EstimateNoise(f, GetRgbCode(f));
        TFilterPoll poll;
        ApplyNoiseFilter(f, w, threshold / 300 * level, radius, cauchy, rect, poll);
      });
      return true;
    }
    case 40: {
      const float radius = float(StepFloat(run.Value(1)));
      const float lower = float(StepFloat(run.Value(2)));
      const float hide = float(StepFloat(run.Value(3)));
      FromCopy(run, false, [&](int f) {
        TFilterPoll poll;
        ShrinkStarRadius(f, w, run.OptionOn(), radius, lower, hide, rect, poll);
      });
      return true;
    }
    case 43: {
      const int32_t pixels = StepInt(run.Value(1)), centre = StepInt(run.Value(2));
      FromCopy(run, false, [&](int f) {
        TFilterPoll poll;
        ApplyMedianFilter(f, w, pixels, centre, rect, poll);
      });
      return true;
    }
    default: return false;
  }
}

}  // namespace astrelon
