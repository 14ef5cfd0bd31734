#include "filters/dialog/filter_state.h"

#include "store/image_store.h"

namespace astrelon {

int32_t FunktionNr = 0;
int32_t FilterBlurSlot = -1;
int32_t FilterDiffSlot = -1;
int32_t FilterWorkSlot = -1;
bool FilterBlurValid = false;
float FilterBlurRadius = -1.0f;
bool MovedWhileBusy = false;

void ReleaseFilterSlot(int32_t& slot) {
  if (ValidSlot(slot) && Store.InUse[size_t(slot)] && !Store.HasWindow[size_t(slot)]) FreeSlot(slot);
  slot = -1;
}

void ReleaseFilterWorkSlots() {
  ReleaseFilterSlot(FilterWorkSlot);
  ReleaseFilterSlot(FilterBlurSlot);
  ReleaseFilterSlot(FilterDiffSlot);
  InvalidateFilterBlur();
}

void InvalidateFilterBlur() {
  FilterBlurValid = false;
  FilterBlurRadius = -1.0f;
}

}  // namespace astrelon
