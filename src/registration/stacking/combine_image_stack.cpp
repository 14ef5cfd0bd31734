#include "registration/stacking/combine_image_stack.h"

#include <algorithm>
#include <new>
#include <string>
#include <thread>

#include "common/engine_ui.h"
#include "core/batch_series.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "kernels/sampling/subpixel_samplers.h"
#include "platform/memory_probe.h"
#include "registration/stacking/master_frame_state.h"
#include "registration/stacking/stack_alignment.h"
#include "registration/stacking/stack_frame_loading.h"
#include "registration/stacking/stack_run.h"
#include "store/header_cards.h"
#include "store/header_dates.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/planes/image_statistics.h"
#include "store/slot_holds.h"

namespace astrelon {

TStackAlignment* StackAlignment = nullptr;
TAviReader* StackVideo = nullptr;

std::string_view StackMethodName(TStackMethod method) {
  switch (method) {
    case TStackMethod::Sigma: return "Sigma";
    case TStackMethod::MeanMed: return "Mittelmed";
    case TStackMethod::Median: return "Median";
    default: return "";
  }
}

int32_t StackBandRows(uint64_t freeBytes, int32_t w, int32_t h, int32_t count, int32_t planes) {
  const int64_t W = std::max(w, 1), H = std::max(h, 1), n = std::max(count, 1), P = std::max(planes, 1);
  int64_t b = 0;
  if (freeBytes == 0) {
    b = (4 * H) / (n * P);
  } else {
    const int64_t m = int64_t(std::min<uint64_t>(freeBytes, uint64_t(INT64_MAX / 2)));
    b = (m - 4 * W * H * P) / (7 * W * n * P);
  }
  b = std::max<int64_t>(std::min(b, H), 1);
  // The largest height within the value cap, but never below one row (a single
  // row above the cap still has to be combined).
  b = std::min(b, std::max<int64_t>(MaxBandValues / (W * n * P), 1));
  return int32_t(b);
}

namespace {

// Level of a plane at percentage q over the whole image.
float PlaneLevel(int slot, int plane, double q) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  TPercentileLevels lv;
  GetPercentileLevels(slot, plane, 0, im.Width - 1, 0, im.Height - 1, q, q, lv);
  return float(lv.LevelA);
}

int StackThreads() {
  return Options.Multicore != 0 ? int(std::max(1u, std::thread::hardware_concurrency())) : 1;
}

}  // namespace

int32_t CombineImageStack(const TStackOptions& o) {
  const int target = o.TargetSlot;
  const int count = std::min({o.Count, MaxStackFrames, int32_t(SeriesFileList.size())});
  if (!ValidSlot(target) || count < 3) return -1;
  // Beside the target one slot for the frames: checked before anything is loaded.
  const int freeBeside = CountFreeSlots() - (Store.InUse[size_t(target)] ? 0 : 1);
  if (freeBeside < 1) {
    EngineUi().ShowMessage(TooFewSlotsText());
    return -1;
  }
  const std::string keptName = Store.FileName[size_t(target)];
  if (!LoadStackFrame(target, SeriesFileList[0], true)) return -1;
  if (BatchMarkCount > 2 && StackAlignment) StackAlignment->ApplyShiftListMarks(0, target, target);

  TStackRun run;
  run.Options = o;
  run.Target = target;
  run.Count = count;
  const TImageSlot& first = Store.Image[size_t(target)];
  run.W = first.Width;
  run.H = first.Height;
  run.P = std::clamp(first.PlaneCount, 1, MaxStackPlanes);
  run.FirstShape = TFrameShape::Of(first);
  run.Q = o.IsFlat ? 70 : 30;
  for (int p = 1; p <= run.P; ++p) run.L1[size_t(p)] = PlaneLevel(target, p, run.Q);
  const double t = ReadCcdTemperature(target);
  if (t > -300) {
    CcdTemperatureSum += t;
    ++CcdTemperatureCount;
  }
  run.Name = std::string(StackMethodName(o.Method));
  run.ProgressText = run.Name.empty() ? "combining " : run.Name + " ";
  run.FrameLevel.assign(size_t(count), TPlaneFigures{});
  run.LevelPlanes.assign(size_t(count), 0);
  run.LeftOut.assign(size_t(count), 0);

  SetOperationActive(true);
  SetStackStatusFunction(run.Name + " Funktion");
  SetStackStatusProgress("");
  SetKernelWindow(Settings.InterpolationKind);
  EngineUi().ShowStatus(run.Name);

  if (FlatDarkSlot > 0 && SlotInUse(FlatDarkSlot)) {
    run.Dark.Slot = FlatDarkSlot;
    for (int p = 1; p <= std::min(Store.Image[size_t(run.Dark.Slot)].PlaneCount, MaxStackPlanes); ++p)
      run.Dark.Level[size_t(p)] = PlaneLevel(run.Dark.Slot, p, run.Q);
  }

  TStackBands done = TStackBands::NoMemory;
  {
    // Workers fill the target and read the flat-dark while the user interface runs.
    const TSlotHold hold({target, run.Dark.Slot});
    try {
      TWorkerPool pool(StackThreads());
      run.Pool = &pool;
      done = StackFramesReadAsFits(run) ? StackBandsFromFits(run) : StackBandsFromSlots(run);
    } catch (const std::bad_alloc&) {
      // Memory ran out on the way (levels, buffers, workers): no result.
      done = TStackBands::NoMemory;
    }
    run.Pool = nullptr;
  }

  if (o.ShowProgress) HideProgress(target);
  SetOperationActive(false);
  Store.FileName[size_t(target)] = keptName;
  SetStackStatusFunction("");
  SetStackStatusProgress("");
  const int used = run.Combined();
  if (done == TStackBands::NoMemory || done == TStackBands::TooFew) {
    // No band memory, or fewer than three frames: no result at all.
    EngineUi().ShowMessage(done == TStackBands::NoMemory ? OutOfMemoryText(SeriesFileList[0]) : TooFewFramesText(used));
    FreeSlot(target);
    Store.FileName[size_t(target)] = keptName;
    return -1;
  }
  UpdateMinMax(target);
  Store.NewHistoryCard[size_t(target)] = 1;
  AddHistoryCard(target, std::to_string(used) + " Bilder " + run.Name, 1);
  return BatchAbort ? -1 : used;
}

}  // namespace astrelon
