#include "registration/stacking/stack_run.h"

#include <algorithm>
#include <cmath>

#include "common/engine_ui.h"
#include "platform/memory_probe.h"
#include "registration/stacking/stack_frame_loading.h"
#include "store/image_store.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

bool StackFitsRows = true;
int32_t StackBandRowsOverride = 0;

int TFlatDark::PlaneFor(int p) const { return p <= Store.Image[size_t(Slot)].PlaneCount ? p : 1; }

int TStackRun::Combined() const {
  return Count - int(std::count(LeftOut.begin(), LeftOut.end(), uint8_t(1)));
}

void TStackRun::LeaveOut(int i, const std::string& message) {
  if (LeftOut[size_t(i)]) return;
  LeftOut[size_t(i)] = 1;
  if (!message.empty()) EngineUi().ShowMessage(message);
}

TLevelling TStackRun::LevellingOf(int i, int planes) const {
  TLevelling lev;
  lev.Multiply = Options.IsFlat;
  for (int p = 1; p <= planes; ++p) {
    const float li = FrameLevel[size_t(i)][size_t(p)], l = L1[size_t(p)];
    float c = 0;
    if (!Options.IsFlat) {
      c = l - li;
    } else {
      c = li > 0 ? l / li : 1.0f;
      if (Dark.Slot > 0) {
        const float d = Dark.Level[size_t(Dark.PlaneFor(p))];
        if (li - d > 0) c = (l - d) / (li - d);
      }
    }
    lev.C[size_t(p)] = c;
  }
  return lev;
}

TPlaneFigures TStackRun::MedianLevelDifference() const {
  TPlaneFigures m{};
  std::vector<float> table(static_cast<size_t>(Count));
  for (int p = 1; p <= P; ++p) {
    for (int i = 0; i < Count; ++i)
      table[size_t(i)] =
          LeftOut[size_t(i)] || p > LevelPlanes[size_t(i)] ? 0.0f : FrameLevel[size_t(i)][size_t(p)] - L1[size_t(p)];
    m[size_t(p)] = Percentile(table, 0.5);
  }
  return m;
}

void TStackRun::ShowProgress(int percent) const {
  if (Options.ShowProgress && Store.HasWindow[size_t(Target)] && Store.Window[size_t(Target)])
    Store.Window[size_t(Target)]->ShowProgressBar(percent, ProgressText);
  SetStackStatusProgress(std::to_string(percent) + " %");
}

int32_t TStackRun::BandRows(uint64_t reserve) const {
  if (StackBandRowsOverride > 0) return std::min(StackBandRowsOverride, H);
  const uint64_t free = AvailableMemory();
  // Without a figure for the free memory the rule's own fallback applies.
  if (free == 0) return StackBandRows(0, W, H, Count, P);
  return StackBandRows(std::max<uint64_t>(free > reserve ? free - reserve : 0, 1), W, H, Count, P);
}

}  // namespace astrelon
