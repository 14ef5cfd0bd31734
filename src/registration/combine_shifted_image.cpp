#include "registration/combine_shifted_image.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "common/engine_ui.h"
#include "core/batch_state.h"
#include "core/busy_cursor.h"
#include "core/settings.h"
#include "pixelops/subpixel_samplers.h"
#include "platform/parallel_bands.h"
#include "registration/batch_combination_inputs.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

// Wakes the waiting thread when a worker ends.
struct TFinishSignal {
  std::mutex Lock;
  std::condition_variable Changed;
};
TFinishSignal FinishSignal;

bool SlotIndex(int slot) { return slot >= 0 && slot < SlotArraySize; }

// Whether the slot's planes 1..planes hold width x height values each.
bool HasPlanes(int slot, int planes, int32_t width, int32_t height) {
  if (!SlotIndex(slot)) return false;
  const TImageSlot& im = Store.Image[size_t(slot)];
  if (im.Width != width || im.Height != height || width < 1 || height < 1) return false;
  for (int p = 1; p <= planes; ++p)
    if (im.Planes[size_t(p)].size() < im.PixelCount()) return false;
  return true;
}

// The level at 30 % of a whole plane; `floor` lifts magnitudes below 0.1 to 0.1.
double PlaneLevel(int slot, int plane, bool floor) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  TPercentileLevels levels;
  GetPercentileLevels(slot, plane, 0, im.Width - 1, 0, im.Height - 1, 30, 30, levels);
  return floor && std::fabs(levels.LevelA) < 0.1 ? 0.1 : levels.LevelA;
}

// The combination of valid-or-blank a with the sample b (normalised) of the
// plain operations.
inline float CombinePixel(TCombineOp op, float a, float b, double levelA, double levelB) {
  const bool aValid = a > BlankLimit, bValid = b > BlankLimit;
  switch (op) {
    case TCombineOp::Add:
      if (bValid) return aValid ? a + b : float(levelA + b);
      return aValid ? float(a + levelB) : a;
    case TCombineOp::Subtract:
      if (bValid) return aValid ? a - b : float(levelA - b);
      return aValid ? float(a - levelB) : BlankPixel;
    case TCombineOp::Minimum: return bValid && (!aValid || b < a) ? b : a;
    case TCombineOp::Maximum: return bValid && (!aValid || b > a) ? b : a;
  }
  return a;
}

}  // namespace

TADDMINMAXThread::~TADDMINMAXThread() {
  if (thread_.joinable()) thread_.join();
}

void TADDMINMAXThread::Start() {
  try {
    thread_ = StartBandThread([this] { Execute(); });
  } catch (...) {
    Execute();  // no thread to be had: the band runs here
  }
}

void TADDMINMAXThread::Execute() {
  const TCombineParams& P = params_;
  try {
    const TImageSlot& A = Store.Image[size_t(P.SlotA)];
    const TImageSlot& B = Store.Image[size_t(P.SlotB)];
    TImageSlot& T = Store.Image[size_t(P.Target)];
    const int planes = std::clamp(A.PlaneCount, 1, 3);
    const int32_t w = A.Width, h = A.Height;
    const bool weighted = P.WeightedAdd && P.Op == TCombineOp::Add;
    const int32_t frames = BatchAddedCount;
    const double gain = double(frames) + 1, f = frames < 1 ? 1.0 : 1.0 / frames;
    const bool grid = P.PairCount > 2;
    const bool normalised = P.PairCount == 1 && (P.Op == TCombineOp::Minimum || P.Op == TCombineOp::Maximum);
    for (int32_t y = P.Band; y <= P.LastRow; y += P.BandCount) {
      const double xRow = P.Tx - y * P.B, yRow = P.Ty + y * P.A;
      for (int p = 1; p <= planes; ++p) {
        const int q = B.IsColor ? p : 1;
        const TPlaneView view = PlaneView(P.SlotB, q);
        const float* rowA = A.Planes[size_t(p)].data() + size_t(y) * size_t(w);
        float* rowT = T.Planes[size_t(p)].data() + size_t(y) * size_t(w);
        float* cover = weighted ? BatchCoverageWeights.data() + (size_t(p - 1) * size_t(h) + size_t(y)) * size_t(w)
                                : nullptr;
        double xs = xRow, ys = yRow;
        for (int32_t x = 0; x < w; ++x, xs += P.A, ys += P.B) {
          double px = xs, py = ys;
          if (grid) {
            double dx, dy;
            GridShift(BatchShiftGrid, x, y, dx, dy);
            px += dx;
            py += dy;
          }
          // The sample: b normalised, v and wt the weighted sum and its weight.
          float b = BlankPixel, v = BlankPixel, wt = 0;
          if (!view.Empty() && InsideSecondImage(px, py, view.Width, view.Height)) {
            if (P.WholePixel) {
              b = v = view.At(int32_t(std::nearbyint(px)), int32_t(std::nearbyint(py)));
              wt = 1;
            } else if (normalised) {
              b = SamplePoint(view, P.Kind, float(px), float(py));
            } else {
              v = SamplePointBuffered(view, P.Kind, float(px), float(py), wt);
              if (v > BlankLimit && wt > 0) b = v / wt;
            }
          }
          const float a = rowA[x];
          if (!weighted) {
            rowT[x] = CombinePixel(P.Op, a, b, P.LevelA[size_t(p)], P.LevelB[size_t(p)]);
            continue;
          }
          float& W = cover[x];
          if (b > BlankLimit) {
            rowT[x] = W > 0 && a > BlankLimit ? float(gain * (a * double(W) * f + v) / (double(W) + wt))
                                              : float(gain * b);
            W += wt;
          } else {
            rowT[x] = a > BlankLimit ? float(gain * a * f) : a;
          }
        }
      }
    }
  } catch (...) {
    // Nothing here throws; the flag below must be set whatever happens.
  }
  {
    std::lock_guard lock(FinishSignal.Lock);
    finished_ = 1;
  }
  FinishSignal.Changed.notify_all();
}

int CombineWorkerCount(int32_t rows) {
  if (!Options.Multicore || rows <= 50) return 1;
  return int(std::max(1u, std::thread::hardware_concurrency()));
}

TCombineParams PrepareCombineParams(int slotA, int slotB, int target, int32_t count, TFloatPoint a1,
                                    TFloatPoint a2, TFloatPoint b1, TFloatPoint b2, TCombineOp op) {
  SetKernelWindow(Settings.InterpolationKind);
  const TPointPairTransform t = PointPairTransform(count, a1, a2, b1, b2);
  TCombineParams P;
  P.SlotA = slotA;
  P.SlotB = slotB;
  P.Target = target;
  P.PairCount = count;
  P.Op = op;
  P.Tx = t.Tx;
  P.Ty = t.Ty;
  P.A = t.A;
  P.B = t.B;
  P.WholePixel = t.WholePixel ? 1 : 0;
  P.Kind = CurrentSamplingKind();
  if (!SlotIndex(slotA) || !SlotIndex(slotB)) return P;
  const TImageSlot& A = Store.Image[size_t(slotA)];
  const TImageSlot& B = Store.Image[size_t(slotB)];
  const int planes = std::clamp(A.PlaneCount, 1, 3);
  P.LastRow = A.Height - 1;
  // The weighted add needs a weight for every pixel and plane of the target.
  if (BatchWeightedAdd && BatchCoverageWeights.size() < A.PixelCount() * size_t(planes)) BatchWeightedAdd = 0;
  P.WeightedAdd = BatchWeightedAdd ? 1 : 0;
  for (int p = 1; p <= planes; ++p) {
    const int q = B.IsColor ? p : 1;
    const bool ok = HasPlanes(slotA, p, A.Width, A.Height) && HasPlanes(slotB, q, B.Width, B.Height);
    P.LevelA[size_t(p)] = P.WeightedAdd || !ok ? 1.0 : PlaneLevel(slotA, p, true);
    P.LevelB[size_t(p)] = P.WeightedAdd || !ok ? 1.0 : PlaneLevel(slotB, q, false);
  }
  return P;
}

void RunCombineWorkers(const TCombineParams& params, int workers) {
  if (!SlotIndex(params.SlotA) || !SlotIndex(params.SlotB) || !SlotIndex(params.Target)) return;
  const TImageSlot& A = Store.Image[size_t(params.SlotA)];
  const TImageSlot& B = Store.Image[size_t(params.SlotB)];
  const int planes = std::clamp(A.PlaneCount, 1, 3);
  if (!HasPlanes(params.SlotA, planes, A.Width, A.Height) || !HasPlanes(params.Target, planes, A.Width, A.Height) ||
      !HasPlanes(params.SlotB, B.IsColor ? planes : 1, B.Width, B.Height))
    return;
  if (params.WeightedAdd && BatchCoverageWeights.size() < A.PixelCount() * size_t(planes)) return;
  const int n = std::clamp(workers, 1, std::max(1, A.Height));

  // Window events run while the workers work, with the slots they read and
  // write guarded against closing; not inside another operation or the batch,
  // and not when a third slot is read.
  const bool guard = !OperationRunning && !BatchRunning &&
                     (params.SlotA == params.Target || params.SlotA == params.SlotB);
  const TSlotPair saved = SlotPair;
  if (guard) {
    SlotPair = {params.SlotB, params.Target};
    SetOperationActive(true);
  }
  std::vector<std::unique_ptr<TADDMINMAXThread>> threads;
  threads.reserve(size_t(n));
  for (int j = 0; j < n; ++j) {
    TCombineParams p = params;
    p.Band = j;
    p.BandCount = n;
    p.LastRow = A.Height - 1;
    threads.push_back(std::make_unique<TADDMINMAXThread>(p));
  }
  for (auto& t : threads) t->Start();
  auto allDone = [&] {
    return std::all_of(threads.begin(), threads.end(), [](const auto& t) { return t->Finished(); });
  };
  for (;;) {
    {
      std::unique_lock lock(FinishSignal.Lock);
      FinishSignal.Changed.wait_for(lock, std::chrono::milliseconds(20), allDone);
    }
    if (allDone()) break;
    if (guard) EngineUi().ProcessMessages();
  }
  threads.clear();  // joins
  if (guard) {
    SetOperationActive(false);
    SlotPair = saved;
  }
}

void CombineShiftedImage(int slotA, int slotB, int target, int32_t count, TFloatPoint a1, TFloatPoint a2,
                         TFloatPoint b1, TFloatPoint b2, TCombineOp op) {
  if (!SlotIndex(slotA)) return;
  const TBusyCursorScope busy;
  const TCombineParams params = PrepareCombineParams(slotA, slotB, target, count, a1, a2, b1, b2, op);
  RunCombineWorkers(params, CombineWorkerCount(Store.Image[size_t(slotA)].Height));
}

}  // namespace astrelon
