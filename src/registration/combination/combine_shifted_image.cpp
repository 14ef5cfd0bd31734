#include "registration/combination/combine_shifted_image.h"

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
#include "kernels/sampling/subpixel_samplers.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "registration/combination/batch_combination_inputs.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "store/slot_holds.h"

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

// The level at 30 % of a whole plane; `floor` lifts magnitudes below 0.1 to
// 0.1.
double PlaneLevel(int slot, int plane, bool floor) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  TPercentileLevels levels;
  GetPercentileLevels(slot, plane, 0, im.Width - 1, 0, im.Height - 1, 30, 30, levels);
  return floor && std::fabs(levels.LevelA) < 0.1 ? 0.1 : levels.LevelA;
}

// The image the workers sample: slot B, or its copy when B is also the target.
const TImageSlot& SecondImage(const TCombineParams& P) {
  return P.SecondCopy ? *P.SecondCopy : Store.Image[size_t(P.SlotB)];
}

// Whether a plane holds a blank pixel.
bool HasBlank(int slot, int plane) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  const float* v = im.Planes[size_t(plane)].data();
  const int64_t n = int64_t(im.PixelCount());
  std::atomic<bool> found{false};
  ForEachBand(n, BandThreads(n, 1 << 20, Options.Multicore != 0), [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last && !found.load(std::memory_order_relaxed); i += 4096) {
      bool blank = false;
      for (int64_t k = i; k < std::min(i + 4096, last); ++k) blank |= !(v[k] > BlankLimit);
      if (blank) found = true;
    }
  });
  return found;
}

// Whether every pixel of A samples B inside: the corners of A map inside B
// (the mapped image is a parallelogram, B's inside a rectangle).
bool AllInside(const TPointPairTransform& t, const TImageSlot& A, const TImageSlot& B, int32_t count) {
  if (count > 2) return false;  // the shift field may move any pixel
  for (const int32_t y : {0, A.Height - 1})
    for (const int32_t x : {0, A.Width - 1}) {
      double xs, ys;
      t.Map(x, y, xs, ys);
      if (!InsideSecondImage(xs, ys, B.Width, B.Height)) return false;
    }
  return true;
}

// The combination of valid-or-blank a with the sample b (normalised) of the
// plain operations.
template <TCombineOp Op>
inline float CombinePixel(float a, float b, float levelA, float levelB) {
  const bool aValid = a > BlankLimit, bValid = b > BlankLimit;
  if constexpr (Op == TCombineOp::Add) {
    if (bValid) return (aValid ? a : levelA) + b;
    return aValid ? a + levelB : a;
  } else if constexpr (Op == TCombineOp::Subtract) {
    if (bValid) return (aValid ? a : levelA) - b;
    return aValid ? a - levelB : BlankPixel;
  } else if constexpr (Op == TCombineOp::Minimum) {
    return bValid && (!aValid || b < a) ? b : a;
  } else {
    return bValid && (!aValid || b > a) ? b : a;
  }
}

// CombinePixel over n pixels (t may be a). The vector path gives the scalar
// results: each lane does the same float operations.
template <TCombineOp Op>
void CombineSpan(const float* a, const float* b, float* t, int32_t n, float la, float lb) {
  int32_t x = 0;
#if defined(__SSE2__)
  if (Sse2Enabled) {
    const __m128 limit = _mm_set1_ps(BlankLimit), vla = _mm_set1_ps(la), vlb = _mm_set1_ps(lb);
    auto select = [](__m128 m, __m128 yes, __m128 no) { return _mm_or_ps(_mm_and_ps(m, yes), _mm_andnot_ps(m, no)); };
    for (; x + 4 <= n; x += 4) {
      const __m128 va = _mm_loadu_ps(a + x), vb = _mm_loadu_ps(b + x);
      const __m128 aValid = _mm_cmpgt_ps(va, limit), bValid = _mm_cmpgt_ps(vb, limit);
      __m128 r;
      if constexpr (Op == TCombineOp::Add) {
        r = select(bValid, _mm_add_ps(select(aValid, va, vla), vb), select(aValid, _mm_add_ps(va, vlb), va));
      } else if constexpr (Op == TCombineOp::Subtract) {
        r = select(bValid, _mm_sub_ps(select(aValid, va, vla), vb),
                   select(aValid, _mm_sub_ps(va, vlb), _mm_set1_ps(BlankPixel)));
      } else if constexpr (Op == TCombineOp::Minimum) {
        // b where it is valid and a is blank or greater.
        r = select(_mm_and_ps(bValid, _mm_or_ps(_mm_andnot_ps(aValid, bValid), _mm_cmplt_ps(vb, va))), vb, va);
      } else {
        r = select(_mm_and_ps(bValid, _mm_or_ps(_mm_andnot_ps(aValid, bValid), _mm_cmpgt_ps(vb, va))), vb, va);
      }
      _mm_storeu_ps(t + x, r);
    }
  }
#endif
  for (; x < n; ++x) t[x] = CombinePixel<Op>(a[x], b[x], la, lb);
}

// One sample of B for up to three planes: b normalised, v and w the weighted
// sum and its weight (the pixel and 1 for whole-pixel samples).
struct TSample {
  std::array<float, 3> b, v, w;
};

// Samples of B along the rows of one worker. With a colour A and a colour B the
// three planes are sampled in one pass; otherwise B's plane 1 serves every
// plane.
class TRowSampler {
public:
  TRowSampler(const TCombineParams& P, int planesA) : P_(P) {
    const TImageSlot& B = SecondImage(P);
    count_ = B.IsColor && planesA == 3 ? 3 : 1;
    for (int i = 0; i < count_; ++i) view_[size_t(i)] = {B.Planes[size_t(i + 1)].data(), B.Width, B.Height};
    normalised_ = P.PairCount == 1 && (P.Op == TCombineOp::Minimum || P.Op == TCombineOp::Maximum);
    windowed_ = P.Kind.Kind != IkNeuro && P.Kind.Kind != IkLinear;
    // A one-pair shift samples every pixel at the same fractions: a 4-tap
    // window's weights are taken once.
    const TSamplingKind own = SamplingKindOf(P.Kind.Kind);
    if (windowed_ && P.PairCount == 1 && !P.WholePixel && P.A == 1 && P.B == 0 && own.Lo == -1 && own.Hi == 2 &&
        P.Kind.Lo == -1 && P.Kind.Hi == 2 && std::fabs(P.Tx) < 1e9 && std::fabs(P.Ty) < 1e9) {
      const double fx = std::floor(P.Tx), fy = std::floor(P.Ty);
      shiftX_ = int32_t(fx);
      shiftY_ = int32_t(fy);
      const auto& taps = KernelWindowTables()[size_t(P.Kind.Kind)];
      cw_ = taps[size_t(KernelFractionIndex(float(P.Tx - fx)))].data();
      rw_ = taps[size_t(KernelFractionIndex(float(P.Ty - fy)))].data();
    }
  }
  int Count() const { return count_; }
  // The sample index of target plane p (1..3).
  size_t Index(int p) const { return count_ == 3 ? size_t(p - 1) : 0; }

  // The sample for target pixel (x, y) at (px, py) in B.
  void Sample(int32_t x, int32_t y, double px, double py, TSample& s) const {
    const TPlaneView& v0 = view_[0];
    if (v0.Empty() || !InsideSecondImage(px, py, v0.Width, v0.Height)) {
      s.b.fill(BlankPixel);
      s.v.fill(BlankPixel);
      s.w.fill(0);
      return;
    }
    if (P_.WholePixel) {
      const int32_t ix = int32_t(std::nearbyint(px)), iy = int32_t(std::nearbyint(py));
      for (int i = 0; i < count_; ++i) {
        s.b[size_t(i)] = s.v[size_t(i)] = view_[size_t(i)].At(ix, iy);
        s.w[size_t(i)] = 1;
      }
      return;
    }
    if (cw_) {
      const int32_t ix = x + shiftX_, iy = y + shiftY_;
      if (ix >= 1 && iy >= 1 && ix + 2 < v0.Width && iy + 2 < v0.Height) {
        float W[3], V[3];
        const size_t origin = size_t(iy - 1) * size_t(v0.Width) + size_t(ix - 1);
        if (count_ == 3)
          FixedSums<3>(origin, W, V);
        else
          FixedSums<1>(origin, W, V);
        for (size_t i = 0; i < size_t(count_); ++i) FromSums(W[i], V[i], s, i);
        return;
      }
    }
    const float fx = float(px), fy = float(py);
    if (windowed_) {
      const sampler_detail::TSplitPosition sp = sampler_detail::SplitPosition(fx, fy);
      float W[3], V[3];
      const bool inner =
          count_ == 3 ? sampler_detail::InteriorWindow<3>(view_.data(), P_.Kind, sp.Ix, sp.Fx, sp.Iy, sp.Fy, W, V)
                      : sampler_detail::InteriorWindow<1>(view_.data(), P_.Kind, sp.Ix, sp.Fx, sp.Iy, sp.Fy, W, V);
      if (inner) {
        for (size_t i = 0; i < size_t(count_); ++i) FromSums(W[i], V[i], s, i);
        return;
      }
    }
    for (size_t i = 0; i < size_t(count_); ++i) {
      if (normalised_) {
        s.b[i] = SamplePoint(view_[i], P_.Kind, fx, fy);
        continue;
      }
      float w = 0;
      const float v = SamplePointBuffered(view_[i], P_.Kind, fx, fy, w);
      s.v[i] = v;
      s.w[i] = w;
      s.b[i] = v > BlankLimit && w > 0 ? v / w : BlankPixel;
    }
  }

private:
  // The 4 x 4 window sums at `origin` with the fixed weights.
  template <int N>
  void FixedSums(size_t origin, float* W, float* V) const {
#if defined(__SSE2__)
    if (Sse2Enabled) return sampler_detail::SumWindow4Sse2<N>(view_.data(), cw_, rw_, origin, W, V);
#endif
    sampler_detail::SumWindow<N, 4>(view_.data(), cw_, 4, rw_, 4, origin, W, V);
  }

  // The results the samplers give for window sums W and V.
  void FromSums(float W, float V, TSample& s, size_t i) const {
    if (normalised_) {
      s.b[i] = W > 0.3f ? V / W : BlankPixel;
      return;
    }
    s.w[i] = W;
    s.v[i] = W > 0.1f ? V : BlankPixel;
    s.b[i] = W > 0.1f ? V / W : BlankPixel;
  }

  const TCombineParams& P_;
  std::array<TPlaneView, 3> view_{};
  int count_ = 1;
  bool normalised_ = false;
  bool windowed_ = false;
  const float* cw_ = nullptr;  // fixed column and row weights, or nullptr
  const float* rw_ = nullptr;
  int32_t shiftX_ = 0, shiftY_ = 0;
};

// Rows of a whole-pixel shift without a shift field: each target row reads one
// row of B at a fixed column offset.
template <TCombineOp Op>
void CombineWholePixelRows(const TCombineParams& P, int planes) {
  const TImageSlot& A = Store.Image[size_t(P.SlotA)];
  const TImageSlot& B = SecondImage(P);
  TImageSlot& T = Store.Image[size_t(P.Target)];
  const int32_t w = A.Width;
  const int32_t dx = int32_t(std::nearbyint(P.Tx)), dy = int32_t(std::nearbyint(P.Ty));
  // Columns whose sample lies inside B: 0 <= x + dx <= B's width - 1.
  const int32_t x0 = std::clamp(-dx, 0, w), x1 = std::clamp(B.Width - dx, x0, w);
  for (int32_t y = P.Band; y <= P.LastRow; y += P.BandCount) {
    const int32_t by = y + dy;
    const bool rowInside = by >= 0 && by < B.Height;
    for (int p = 1; p <= planes; ++p) {
      const float* a = A.Planes[size_t(p)].data() + size_t(y) * size_t(w);
      float* t = T.Planes[size_t(p)].data() + size_t(y) * size_t(w);
      const float la = float(P.LevelA[size_t(p)]), lb = float(P.LevelB[size_t(p)]);
      const int q = B.IsColor ? p : 1;
      const int32_t s0 = rowInside ? x0 : w, s1 = rowInside ? x1 : w;
      for (int32_t x = 0; x < s0; ++x) t[x] = CombinePixel<Op>(a[x], BlankPixel, la, lb);
      if (s1 > s0) {
        const float* b = B.Planes[size_t(q)].data() + size_t(by) * size_t(B.Width) + dx;
        CombineSpan<Op>(a + s0, b + s0, t + s0, s1 - s0, la, lb);
      }
      for (int32_t x = std::max(s1, s0); x < w; ++x) t[x] = CombinePixel<Op>(a[x], BlankPixel, la, lb);
    }
  }
}

// The rows of one band through the sampler.
template <TCombineOp Op>
void CombineSampledRows(const TCombineParams& P, int planes) {
  const TImageSlot& A = Store.Image[size_t(P.SlotA)];
  TImageSlot& T = Store.Image[size_t(P.Target)];
  const int32_t w = A.Width, h = A.Height;
  const bool weighted = Op == TCombineOp::Add && P.WeightedAdd;
  const int32_t frames = BatchAddedCount;
  const double gain = double(frames) + 1, f = frames < 1 ? 1.0 : 1.0 / frames;
  const double frameWeight = BatchFrameWeight;
  const bool grid = P.PairCount > 2;
  const TRowSampler sampler(P, planes);
  std::array<float, 4> la{}, lb{};
  for (int p = 1; p <= planes; ++p) {
    la[size_t(p)] = float(P.LevelA[size_t(p)]);
    lb[size_t(p)] = float(P.LevelB[size_t(p)]);
  }
  TSample s;
  for (int32_t y = P.Band; y <= P.LastRow; y += P.BandCount) {
    double xs = P.Tx - y * P.B, ys = P.Ty + y * P.A;
    const size_t row = size_t(y) * size_t(w);
    for (int32_t x = 0; x < w; ++x, xs += P.A, ys += P.B) {
      double px = xs, py = ys;
      if (grid) {
        double dx, dy;
        GridShift(BatchShiftGrid, x, y, dx, dy);
        px += dx;
        py += dy;
      }
      sampler.Sample(x, y, px, py, s);
      for (int p = 1; p <= planes; ++p) {
        const size_t i = sampler.Index(p);
        const float a = A.Planes[size_t(p)][row + size_t(x)];
        float& t = T.Planes[size_t(p)][row + size_t(x)];
        if (!weighted) {
          t = CombinePixel<Op>(a, s.b[i], la[size_t(p)], lb[size_t(p)]);
          continue;
        }
        // (frames + 1) times the coverage-weighted mean; the weight grows by
        // the sample's weight times the frame's.
        float& W = BatchCoverageWeights[(size_t(p - 1) * size_t(h) + size_t(y)) * size_t(w) + size_t(x)];
        if (s.b[i] > BlankLimit) {
          const double v = frameWeight * s.v[i], sw = frameWeight * s.w[i];
          t = W > 0 && a > BlankLimit ? float(gain * (a * double(W) * f + v) / (double(W) + sw))
                                      : float(gain * s.b[i]);
          W += float(sw);
        } else {
          t = a > BlankLimit ? float(gain * a * f) : a;
        }
      }
    }
  }
}

template <TCombineOp Op>
void CombineRows(const TCombineParams& P, int planes) {
  if (P.WholePixel && P.PairCount <= 2 && !(Op == TCombineOp::Add && P.WeightedAdd))
    CombineWholePixelRows<Op>(P, planes);
  else
    CombineSampledRows<Op>(P, planes);
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
    const int planes = std::clamp(Store.Image[size_t(P.SlotA)].PlaneCount, 1, 3);
    switch (P.Op) {
      case TCombineOp::Add:
        CombineRows<TCombineOp::Add>(P, planes);
        break;
      case TCombineOp::Subtract:
        CombineRows<TCombineOp::Subtract>(P, planes);
        break;
      case TCombineOp::Minimum:
        CombineRows<TCombineOp::Minimum>(P, planes);
        break;
      case TCombineOp::Maximum:
        CombineRows<TCombineOp::Maximum>(P, planes);
        break;
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

TCombineParams PrepareCombineParams(int slotA, int slotB, int target, int32_t count, TFloatPoint a1, TFloatPoint a2,
                                    TFloatPoint b1, TFloatPoint b2, TCombineOp op) {
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
  // Only the add and the subtract read the levels, and only where a pixel of A
  // or a sample of B is blank: they are measured only when one can be, the
  // planes side by side.
  struct TLevelJob {
    double* Level;
    int Slot, Plane;
    bool Floor;
  };
  std::vector<TLevelJob> jobs;
  const bool used = !P.WeightedAdd && (op == TCombineOp::Add || op == TCombineOp::Subtract);
  for (int p = 1; p <= planes; ++p) {
    const int q = B.IsColor ? p : 1;
    P.LevelA[size_t(p)] = P.LevelB[size_t(p)] = 1.0;
    if (!used || !HasPlanes(slotA, p, A.Width, A.Height) || !HasPlanes(slotB, q, B.Width, B.Height)) continue;
    if (HasBlank(slotA, p)) jobs.push_back({&P.LevelA[size_t(p)], slotA, p, true});
    if (HasBlank(slotB, q) || !AllInside(t, A, B, count)) jobs.push_back({&P.LevelB[size_t(p)], slotB, q, false});
  }
  ForEachBand(int64_t(jobs.size()), Options.Multicore ? int(jobs.size()) : 1, [&](int64_t first, int64_t last) {
    for (int64_t j = first; j < last; ++j) {
      const TLevelJob& job = jobs[size_t(j)];
      *job.Level = PlaneLevel(job.Slot, job.Plane, job.Floor);
    }
  });
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
  // A target that is also the second image is sampled from a copy.
  TCombineParams shared = params;
  std::unique_ptr<TImageSlot> copy;
  if (params.Target == params.SlotB) {
    copy = std::make_unique<TImageSlot>(B);
    shared.SecondCopy = copy.get();
  }

  // Window events run while the workers work, with the slots they read and
  // write guarded against closing; not inside another operation or the batch,
  // and not when a third slot is read.
  const bool guard =
      !OperationRunning && !BatchRunning && (params.SlotA == params.Target || params.SlotA == params.SlotB);
  const TSlotPair saved = SlotPair;
  if (guard) {
    SlotPair = {params.SlotB, params.Target};
    SetOperationActive(true);
  }
  const TSlotHold hold({params.SlotA, params.SlotB, params.Target});
  std::vector<std::unique_ptr<TADDMINMAXThread>> threads;
  threads.reserve(size_t(n));
  for (int j = 0; j < n; ++j) {
    TCombineParams p = shared;
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
