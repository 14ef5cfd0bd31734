#pragma once
// The noise filters as functions of the shared filter dialog: how the dialog's
// values become the kernels' arguments, and what the dialog prepares for them
// when it starts, shows and hides.
#include "filters/dialog/filter_functions.h"

namespace astrelon {

TFilterFunktion NoiseFilterFunktion();  // 4 "Rauschfilter"
TFilterFunktion ColorNoiseFunktion();   // 12 "Farbrauschen filtern"
TFilterFunktion MedianFilterFunktion(); // 14 "Medianfilter"
TFilterFunktion NlmFilterFunktion();    // 20 "NLM Rauschfilter"

// A slot's colour model or channel selection changed: while the dialog serves
// "NLM Rauschfilter" for it, its planes are prepared for the filter anew.
void NlmSlotChanged(int slot);

}  // namespace astrelon
