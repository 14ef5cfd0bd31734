#pragma once
// State of the shared filter dialog that its computations and kernels share:
// the current function, the work slots the dialog holds (cached blur,
// difference image, blank-filled source copy) and the flags a computation
// leaves behind. The preview generation and the abort flag of a kernel's run
// belong to the kernels' poll (filter_poll.h).
#include <cstdint>

#include "kernels/gauss/filter_poll.h"

namespace astrelon {

// The function the dialog serves (1..21, index of FunktionDefTable).
extern int32_t FunktionNr;

// Slots held by the dialog (below 1 when absent): a blurred copy of the source
// (one radius at a time), the difference image of the non-local-means smooth
// mode and the blank-filled working copy of the source.
extern int32_t FilterBlurSlot;
extern int32_t FilterDiffSlot;
extern int32_t FilterWorkSlot;
// FilterBlurSlot holds a blur of FilterBlurRadius (-1 after an abort).
extern bool FilterBlurValid;
extern float FilterBlurRadius;

// A slider moved (or the selection changed) while a computation ran.
extern bool MovedWhileBusy;

// Frees a work slot (it has no window) and forgets its number, so that a slot
// the dialog released is never written again under the old number.
void ReleaseFilterSlot(int32_t& slot);
// Releases every work slot the dialog holds and invalidates the blur cache.
void ReleaseFilterWorkSlots();
// Forgets the blur cache (the slot stays until it is released).
void InvalidateFilterBlur();

}  // namespace astrelon
