#include "batch/accumulate/weighted_target.h"

#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

TWeightedTarget BayerTarget;
TWeightedTarget SwarpTarget;

bool TWeightedTarget::Exists() const { return SlotInUse(Slot); }

void TWeightedTarget::ReleaseWeights() {
  for (auto& w : Weights) std::vector<float>().swap(w);
}

void TWeightedTarget::Abandon(int slot) {
  ReleaseWeights();
  FreeSlot(slot);
  Slot = -1;
}

float PlaneLevel30(int slot, int plane) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  TPercentileLevels levels;
  GetPercentileLevels(slot, plane, 0, im.Width - 1, 0, im.Height - 1, 30, 30, levels);
  return float(levels.LevelA);
}

}  // namespace astrelon
