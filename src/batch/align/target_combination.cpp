#include "batch/align/target_combination.h"

#include <algorithm>

#include "batch/align/alignment_state.h"
#include "batch/align/comet_offset.h"
#include "batch/run/batch_run_state.h"
#include "core/batch_series.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "registration/combination/combine_shifted_image.h"
#include "registration/stacking/master_frame_state.h"
#include "store/header_dates.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

template <int Mode>
inline void CombineRow(float* t, const float* v, int32_t n) {
  for (int32_t x = 0; x < n; ++x) {
    const float a = t[x], b = v[x];
    if (!IsValidPixel(a)) {
      t[x] = b;
    } else if (IsValidPixel(b)) {
      if constexpr (Mode == 0)
        t[x] = a + b;
      else if constexpr (Mode == 1)
        t[x] = b < a ? b : a;
      else
        t[x] = b > a ? b : a;
    }
  }
}

}  // namespace

void CombinePixelwise(int target, int work, int32_t mode) {
  if (!SlotInUse(target) || !SlotInUse(work) || target == work) return;
  TImageSlot& T = Store.Image[size_t(target)];
  const TImageSlot& W = Store.Image[size_t(work)];
  const int32_t width = std::min(T.Width, W.Width), height = std::min(T.Height, W.Height);
  if (width < 1 || height < 1) return;
  const int planes = T.IsColor ? std::min(T.PlaneCount, 3) : 1;
  const int threads = BandThreads(int64_t(width) * height, 1 << 18, Options.Multicore != 0);
  ForEachBand(height, threads, [&](int64_t first, int64_t last) {
    for (int p = 1; p <= planes; ++p) {
      const int q = std::min(p, W.PlaneCount);
      if (T.Planes[size_t(p)].size() < T.PixelCount() || W.Planes[size_t(q)].size() < W.PixelCount()) continue;
      for (int64_t y = first; y < last; ++y) {
        float* t = T.Planes[size_t(p)].data() + size_t(y) * size_t(T.Width);
        const float* v = W.Planes[size_t(q)].data() + size_t(y) * size_t(W.Width);
        if (mode == 1)
          CombineRow<1>(t, v, width);
        else if (mode == 2)
          CombineRow<2>(t, v, width);
        else
          CombineRow<0>(t, v, width);
      }
    }
  });
}

void CombineWithoutMarks() {
  TBatchRunState& s = BatchRun;
  const int target = s.TargetSlot, work = s.WorkSlot;
  const double temperature = ReadCcdTemperature(work);
  if (temperature > -300) {
    CcdTemperatureSum += temperature;
    ++CcdTemperatureCount;
  }
  if (s.FirstImage || !SlotInUse(target) || target == work) return;
  const TCombineOp op = s.CombineMode == 1 ? TCombineOp::Minimum
                        : s.CombineMode == 2 ? TCombineOp::Maximum
                                             : TCombineOp::Add;
  const bool listed = s.UseShiftList && s.InShiftList;
  if (!HasCometOffset() && !listed) {
    CombinePixelwise(target, work, s.CombineMode);
    UpdateMinMax(target);
    return;
  }
  TAlignPoints points;
  points.A1x = points.A1y = points.B1x = points.B1y = 0;
  points.A2x = points.A2y = points.B2x = points.B2y = 1;
  const int32_t count = 1;
  if (listed && size_t(s.ShiftListIndex) < BatchStarPairs.size()) {
    const TStarPair& pair = BatchStarPairs[size_t(s.ShiftListIndex)];
    points = TAlignPoints{pair[0], pair[1], pair[2], pair[3], pair[4], pair[5], pair[6], pair[7], 0};
  }
  const TFloatPoint offset = ReferencePointOffset();
  points.A1x += offset.X;
  points.A1y += offset.Y;
  points.A2x += offset.X;
  points.A2y += offset.Y;
  CombineShiftedImage(target, work, target, count, {points.A1x, points.A1y}, {points.A2x, points.A2y},
                      {points.B1x, points.B1y}, {points.B2x, points.B2y}, op);
  UpdateMinMax(target);
}

}  // namespace astrelon
