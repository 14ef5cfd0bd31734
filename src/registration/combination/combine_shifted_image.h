#pragma once
// Pixel-by-pixel combination of an image A with a second image B sampled
// through the point-pair transform: add, subtract, minimum or maximum, on
// worker threads that take every n-th row of the target. In the batch's
// weighted-add mode the target holds (frames + 1) times the coverage-weighted
// mean of the frames and the coverage weights grow with every frame.
#include <array>
#include <atomic>
#include <cstdint>
#include <thread>

#include "kernels/sampling/point_pair_transform.h"
#include "store/image_slot.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {

enum class TCombineOp : int32_t { Add = 0, Subtract = -1, Minimum = 1, Maximum = 2 };

// The parameter block of one worker, copied into it before it starts.
struct TCombineParams {
  int32_t SlotA = 0;   // read: the image whose pixels are combined
  int32_t SlotB = 0;   // sampled: the second image
  int32_t Target = 0;  // written; the size of A (may be A itself)
  int32_t PairCount = 0;
  TCombineOp Op = TCombineOp::Add;
  int32_t Band = 0;  // rows Band, Band + BandCount, ... up to LastRow
  int32_t LastRow = 0;
  int32_t BandCount = 1;
  double Tx = 0, Ty = 0, A = 1, B = 0;
  // Stand-ins for a blank pixel of the other image, by plane 1..3 of the
  // target.
  std::array<double, 4> LevelA{};
  std::array<double, 4> LevelB{};
  uint8_t WholePixel = 0;
  uint8_t WeightedAdd = 0;  // the batch's coverage-weighted add
  TSamplingKind Kind;       // the interpolation kind of the run
  // A copy of B that the workers sample instead of slot B (set when B is also
  // the target); nullptr: slot B.
  const TImageSlot* SecondCopy = nullptr;
};

// One worker: combines the rows of its band when started. The calling thread
// polls Finished(); the destructor waits for the thread.
class TADDMINMAXThread {
public:
  explicit TADDMINMAXThread(const TCombineParams& params) : params_(params) {}
  ~TADDMINMAXThread();
  TADDMINMAXThread(const TADDMINMAXThread&) = delete;
  TADDMINMAXThread& operator=(const TADDMINMAXThread&) = delete;

  // Runs Execute on a thread of its own, or here when the system refuses one.
  void Start();
  // Combines the band, then sets the finished flag.
  void Execute();
  bool Finished() const { return finished_.load() != 0; }

private:
  TCombineParams params_;
  std::atomic<uint8_t> finished_{0};
  std::thread thread_;
};

// Workers for a target of `rows` rows: one per processor with "Multicores" on
// and more than 50 rows, else 1.
int CombineWorkerCount(int32_t rows);

// The parameter block (band 0 of 1) for combining B into A as the combination
// does: transform, whole-pixel flag, levels and the weighted-add mode (whose
// flag is cleared when the weights do not cover the target). The program-wide
// kind's window is set from the settings.
TCombineParams PrepareCombineParams(int slotA, int slotB, int target, int32_t count, TFloatPoint a1, TFloatPoint a2,
                                    TFloatPoint b1, TFloatPoint b2, TCombineOp op);
// Runs the block on `workers` workers and waits for all of them, letting
// window events run while the slots it reads and writes are guarded.
void RunCombineWorkers(const TCombineParams& params, int workers);

// Combines slot B into the target (the size of A) through the transform of the
// point pairs, with the program-wide interpolation kind.
void CombineShiftedImage(int slotA, int slotB, int target, int32_t count, TFloatPoint a1, TFloatPoint a2,
                         TFloatPoint b1, TFloatPoint b2, TCombineOp op);

}  // namespace astrelon
