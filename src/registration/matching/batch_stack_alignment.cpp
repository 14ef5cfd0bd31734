#include "registration/matching/batch_stack_alignment.h"

#include "registration/combination/batch_combination_inputs.h"
#include "registration/matching/shift_grid_builder.h"
#include "registration/matching/similarity_fit.h"
#include "registration/matching/star_marks.h"

namespace astrelon {

namespace {

// The target's marks are the current marks and the frame's the reference, so
// that the fit and the grid map a target pixel into the frame.
class TBatchStackAlignment final : public TStackAlignment {
public:
  void ApplyShiftListMarks(int index, int frameSlot, int targetSlot) override {
    astrelon::ApplyShiftListMarks(index, frameSlot, targetSlot);
  }
  TFittedTransform FitMarksToReference(int targetSlot, int frameSlot) override {
    astrelon::FitMarksToReference(targetSlot, frameSlot);
    return BatchFittedTransform;
  }
  const TShiftGrid& BuildShiftGrid(int targetSlot, int frameSlot, int firstRow, int endRow) override {
    return astrelon::BuildShiftGrid(targetSlot, frameSlot, firstRow, endRow - 1);
  }
};

TBatchStackAlignment BatchAlignment;

}  // namespace

void InstallBatchStackAlignment() { StackAlignment = &BatchAlignment; }

void RemoveBatchStackAlignment() {
  if (StackAlignment == &BatchAlignment) StackAlignment = nullptr;
}

}  // namespace astrelon
