#include "filters/noise/nlm_filter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/engine_ui.h"
#include "core/busy_cursor.h"
#include "core/settings.h"
#include "filters/dialog/filter_state.h"
#include "filters/noise/nlm_kernel.h"
#include "filters/noise/nlm_planes.h"
#include "kernels/gauss/gauss_filters.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/planes/plane_routines.h"
#include "store/slot_holds.h"

namespace astrelon {

TNLMParams& TNLMParams::operator=(const TNLMParams& o) {
  Source = o.Source;
  Destination = o.Destination;
  X1 = o.X1;
  X2 = o.X2;
  Y1 = o.Y1;
  Y2 = o.Y2;
  for (size_t p = 0; p < 3; ++p) DoneColumn[p] = o.DoneColumn[p].load();
  PatchRadius = o.PatchRadius;
  SearchRadius = o.SearchRadius;
  Strength = o.Strength;
  Progress = o.Progress.load();
  SmoothGradients = o.SmoothGradients;
  Finished = o.Finished.load();
  SpatialWeighting = o.SpatialWeighting;
  Spare = o.Spare;
  return *this;
}

namespace {

// Radius of the wide blur the smooth-gradient mode subtracts and adds back.
constexpr float SmoothModeBlurRadius = 12.0f;

constexpr int32_t NlmLevels = 13000;
// Columns a worker computes between two looks at the abort flag; a band's
// columns count as done a block at a time.
constexpr int32_t BlockColumns = 64;
constexpr auto PollInterval = std::chrono::milliseconds(20);

// What every worker reads: one job per selected plane, and how a worker says it ended.
struct TNlmShared {
  std::vector<int> Planes;          // the destination's selected planes
  std::vector<TNlmPlaneJob> Jobs;   // the same order
  bool Vector = true;
  std::mutex Mutex;
  std::condition_variable Ended;
};

// A worker: filters its band of columns plane by plane, reporting in its
// parameter block. Freeing it waits for its thread.
class TNLMThread {
public:
  TNLMThread(const TNLMParams& params, TNlmShared& shared) : Params(params), shared_(shared) {}
  ~TNLMThread() { Join(); }
  TNLMThread(const TNLMThread&) = delete;
  TNLMThread& operator=(const TNLMThread&) = delete;

  // Runs Execute on a thread of its own (on the calling thread when the
  // system refuses one).
  void Start() {
    try {
      thread_ = StartBandThread([this] { Execute(); });
    } catch (const std::system_error&) {
      Execute();
    }
  }
  void Terminate() { terminated_ = true; }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  void Execute();

  TNLMParams Params;

private:
  TNlmShared& shared_;
  std::atomic<bool> terminated_{false};
  std::thread thread_;
};

void TNLMThread::Execute() {
  const int32_t first = Params.X1, last = Params.X2;
  for (int p : shared_.Planes) Params.DoneColumn[size_t(p - 1)] = first - 1;
  const double m = double(shared_.Planes.size());
  const double rows = Params.Y2 - Params.Y1;
  for (size_t k = 0; k < shared_.Planes.size(); ++k) {
    const int p = shared_.Planes[k];
    for (int32_t x = first; x <= last; x += BlockColumns) {
      if (terminated_ || AbortRequested) break;
      const int32_t to = std::min(last, x + BlockColumns - 1);
      NlmFilterColumns(shared_.Jobs[k], x, to, shared_.Vector);
      Params.DoneColumn[size_t(p - 1)] = to;
      // The row at the same fraction of the rectangle as the column of the band (a band of one column is done).
      const double fraction = last > first ? double(to - first) / double(last - first) : 1.0;
      Params.Progress = int32_t(std::nearbyint(double(k) / m * 100 + fraction * rows * 100 / (m * (rows + 0.01))));
    }
    if (terminated_ || AbortRequested) break;
  }
  {
    std::lock_guard<std::mutex> lock(shared_.Mutex);
    Params.Finished = 1;
  }
  shared_.Ended.notify_all();
}

bool SameShape(int a, int b) {
  const TImageSlot& x = Store.Image[size_t(a)];
  const TImageSlot& y = Store.Image[size_t(b)];
  return x.Width == y.Width && x.Height == y.Height && x.PlaneCount == y.PlaneCount && !ColorModelsDiffer(a, b);
}

// The smooth-gradient mode's work images: the blur of the working source and
// the difference, made once and then kept. False, with nothing changed, when
// no free slots are left or the blur was stopped.
bool PrepareSmoothMode(int work) {
  if (SlotInUse(FilterBlurSlot) && !SameShape(FilterBlurSlot, work)) ReleaseFilterSlot(FilterBlurSlot);
  if (SlotInUse(FilterDiffSlot) && !SameShape(FilterDiffSlot, work)) ReleaseFilterSlot(FilterDiffSlot);
  if (SlotInUse(FilterBlurSlot) && SlotInUse(FilterDiffSlot)) return true;
  ReleaseFilterSlot(FilterBlurSlot);
  if (CountFreeSlots() < 1 + !SlotInUse(FilterDiffSlot)) {
    EngineUi().ShowMessage(TooManyImagesText());
    return false;
  }
  FilterBlurSlot = FindFreeSlot();
  CopyImageSlot(work, FilterBlurSlot);
  const TImageSlot& im = Store.Image[size_t(work)];
  fGauss(FilterBlurSlot, FilterBlurSlot, 0, 0, im.Width - 1, 0, im.Height - 1, SmoothModeBlurRadius, false, 0, 100, "");
  if (AbortRequested) {
    ReleaseFilterSlot(FilterBlurSlot);
    FilterAborted = true;
    return false;
  }
  if (!SlotInUse(FilterDiffSlot)) FilterDiffSlot = FindFreeSlot();
  CopyImageSlot(work, FilterDiffSlot);
  TImageSlot& diff = Store.Image[size_t(FilterDiffSlot)];
  const TImageSlot& blur = Store.Image[size_t(FilterBlurSlot)];
  for (int p = 1; p <= std::min(im.PlaneCount, 3); ++p)
    CombinePlanes(diff.Planes[size_t(p)], blur.Planes[size_t(p)], diff.Planes[size_t(p)], im.Width, im.Height,
                  im.Width, im.Width, im.Width, 2, 0);
  UpdateMinMax(FilterDiffSlot);
  return true;
}

// Adds the blur back into columns x1..x2 of the rectangle's rows of a plane.
void AddBlurBack(int destination, int p, int32_t x1, int32_t x2, int32_t y1, int32_t y2) {
  if (x1 > x2 || !SlotInUse(FilterBlurSlot)) return;
  TImageSlot& d = Store.Image[size_t(destination)];
  const TImageSlot& b = Store.Image[size_t(FilterBlurSlot)];
  if (b.Planes[size_t(p)].size() != d.Planes[size_t(p)].size()) return;
  const int64_t at = int64_t(y1) * d.Width + x1;
  const std::span<float> dst = std::span<float>(d.Planes[size_t(p)]).subspan(size_t(at));
  CombinePlanes(dst, std::span<const float>(b.Planes[size_t(p)]).subspan(size_t(at)), dst, x2 - x1 + 1, y2 - y1 + 1,
                d.Width, d.Width, d.Width, 1, 0);
}

}  // namespace

int32_t NlmWorkerCount(int32_t x1, int32_t x2) {
  if (!Options.Multicore || x2 - x1 <= 50) return 1;
  const int32_t cores = int32_t(std::max(1u, std::thread::hardware_concurrency()));
  return std::clamp(cores, 1, x2 - x1 + 1);
}

bool NLMFilterStarten(const TNLMParams& in, const TNlmRun& run) {
  FilterAborted = false;
  const int src = in.Source, dst = in.Destination;
  if (!SlotInUse(src) || !SlotInUse(dst) || in.Strength == 0) return true;
  const TImageSlot& source = Store.Image[size_t(src)];
  const int32_t w = source.Width, h = source.Height;
  if (w < 1 || h < 1 || Store.Image[size_t(dst)].Width != w || Store.Image[size_t(dst)].Height != h) return true;
  const int32_t x1 = std::max(in.X1, 0), x2 = std::min(in.X2, w - 1);
  const int32_t y1 = std::max(in.Y1, 0), y2 = std::min(in.Y2, h - 1);
  if (x1 > x2 || y1 > y2) return true;
  TBusyCursorScope cursor;

  // The working source: the blank-filled copy when there is one.
  int work = src;
  if (SlotInUse(FilterWorkSlot) && Store.Image[size_t(FilterWorkSlot)].Width == w &&
      Store.Image[size_t(FilterWorkSlot)].Height == h) {
    if (ColorModelsDiffer(FilterWorkSlot, src)) ToggleColorModel(FilterWorkSlot);
    work = FilterWorkSlot;
  }
  if (in.SmoothGradients) {
    if (!PrepareSmoothMode(work)) return false;
    work = FilterDiffSlot;
  }

  PrepareNlmPlanes(work, NlmLevels);
  // The workers read their own copy: the info panel may prepare the set anew meanwhile.
  const TNlmPlaneSet planes = NlmPlanes;
  const TImageSlot& ws = Store.Image[size_t(work)];
  TImageSlot& out = Store.Image[size_t(dst)];
  const bool yuv = ws.IsColor && ws.ColorModel == CmYuv;
  const double s = (in.SpatialWeighting ? 0.03 : 0.01) * in.Strength;
  TNlmShared shared;
  shared.Vector = Sse2Enabled;
  for (int p = FirstChannel(dst); p >= 1 && p <= std::min({out.PlaneCount, ws.PlaneCount, 3}); NextChannel(dst, p)) {
    const TNlmPlane& plane = planes.Plane[size_t(p)];
    const size_t n = size_t(w) * size_t(h);
    if (plane.Levels.size() != n || ws.Planes[size_t(p)].size() != n || out.Planes[size_t(p)].size() != n) continue;
    TNlmPlaneJob job;
    job.Source = ws.Planes[size_t(p)];
    job.Levels = plane.Levels;
    job.Destination = out.Planes[size_t(p)];
    job.Width = w;
    job.Height = h;
    job.Y1 = y1;
    job.Y2 = y2;
    job.PatchRadius = std::clamp(in.PatchRadius, 1, 5);
    job.SearchRadius = std::clamp(in.SearchRadius, 2, 12);
    job.MaxLevel = NlmLevels;
    job.Scale = plane.Scale;
    double a = 0.5 * double(plane.Noise) * double(plane.Noise);
    if (yuv && p > 1) a *= 2;
    job.H = std::max(a, 1e-9) * s * s;
    job.SpatialWeighting = in.SpatialWeighting != 0;
    shared.Planes.push_back(p);
    shared.Jobs.push_back(job);
  }

  // Bands of columns: worker i ends at x1 + (x2 - x1) i / N.
  const int32_t count = run.Workers > 0 ? std::clamp(run.Workers, 1, x2 - x1 + 1) : NlmWorkerCount(x1, x2);
  // The workers read the working source and write the destination while the
  // windows stay live: those slots (and the blur the smooth mode adds back) are held.
  const TSlotHold hold({src, dst, work, in.SmoothGradients ? FilterBlurSlot : -1});
  std::vector<std::unique_ptr<TNLMThread>> workers;
  int32_t from = x1;
  for (int32_t i = 1; i <= count; ++i) {
    TNLMParams p = in;
    p.Source = work;
    p.X1 = from;
    p.X2 = x1 + int32_t(int64_t(x2 - x1) * i / count);
    p.Y1 = y1;
    p.Y2 = y2;
    p.Finished = 0;
    p.Progress = 0;
    from = p.X2 + 1;
    workers.push_back(std::make_unique<TNLMThread>(p, shared));
  }
  for (auto& t : workers) t->Start();

  // Poll every 20 ms, keeping the windows live, until every worker has ended.
  bool stopped = false;
  auto ended = [&] {
    return std::all_of(workers.begin(), workers.end(), [](const auto& t) { return t->Params.Finished != 0; });
  };
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(shared.Mutex);
      shared.Ended.wait_for(lock, PollInterval, ended);
    }
    if (ended()) break;
    EngineUi().ProcessMessages();
    if (AbortRequested || (run.Poll && run.Poll->Stopped())) {
      stopped = true;
      for (auto& t : workers) t->Terminate();
    }
    int64_t sum = 0, running = 0;
    for (const auto& t : workers)
      if (!t->Params.Finished) {
        ++running;
        sum += t->Params.Progress;
      }
    if (running > 0 && ValidSlot(run.ProgressSlot))
      ShowProgress(dst, run.ProgressSlot, 1, float(sum / running), true, false, true, true, run.Caption);
  }
  for (auto& t : workers) t->Join();
  stopped = stopped || AbortRequested;
  if (stopped) FilterAborted = AbortRequested != 0;

  // The smooth mode adds the blur back: over the rectangle, or after a stop
  // over the columns each worker finished.
  if (in.SmoothGradients)
    for (const auto& t : workers)
      for (int p : shared.Planes)
        AddBlurBack(dst, p, t->Params.X1, stopped ? t->Params.DoneColumn[size_t(p - 1)].load() : t->Params.X2, y1, y2);
  workers.clear();
  if (ValidSlot(run.ProgressSlot)) HideProgress(run.ProgressSlot);
  return !stopped;
}

}  // namespace astrelon
