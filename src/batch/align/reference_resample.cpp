#include "batch/align/reference_resample.h"

#include "batch/accumulate/bayer_special.h"
#include "batch/accumulate/frame_alignment.h"
#include "batch/align/alignment_state.h"
#include "batch/align/multipoint_alignment.h"
#include "registration/combination/batch_combination_inputs.h"
#include "registration/combination/combine_shifted_image.h"
#include "store/image_store.h"

namespace astrelon {

bool ResampleOntoListedReference(int slot, int32_t marks, std::span<const TMarkPair> pairs) {
  if (!SlotInUse(slot)) return true;
  const int copy = FindFreeSlot();
  if (copy < 1) return false;
  CopyImageSlot(slot, copy);
  if (marks > 2) FitTargetToFrame(pairs, slot, copy);
  // The slot turns blank and takes the samples of its copy (the maximum of a
  // blank and a sample is the sample); the coverage weights stay out of it.
  TImageSlot& im = Store.Image[size_t(slot)];
  for (int p = 1; p <= im.PlaneCount; ++p) im.Planes[size_t(p)].assign(im.PixelCount(), BlankPixel);
  const uint8_t weighted = BatchWeightedAdd;
  BatchWeightedAdd = 0;
  CombineShiftedImage(slot, copy, slot, marks, PointA1(), PointA2(), PointB1(), PointB2(), TCombineOp::Maximum);
  BatchWeightedAdd = weighted;
  FreeSlot(copy);
  return true;
}

bool AddListedReferenceMosaic(int slot, int32_t marks, std::span<const TMarkPair> pairs) {
  if (!SlotInUse(slot)) return true;
  if (marks <= 2) {
    BayerSpezialAddieren(slot, FrameAlignment(BatchPoints, marks), true);
    return true;
  }
  // The fit maps the target's pixels into a second slot holding the frame:
  // fitted against its own slot it would be the identity.
  const int copy = FindFreeSlot();
  if (copy < 1) return false;
  CopyImageSlot(slot, copy);
  FitTargetToFrame(pairs, slot, copy);
  BayerSpezialAddieren(copy, FrameAlignment(BatchPoints, marks), true);
  FreeSlot(copy);
  return true;
}

}  // namespace astrelon
