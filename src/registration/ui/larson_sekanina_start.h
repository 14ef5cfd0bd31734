#pragma once
// "&Larson-Sekanina Filter": opens the filter dialog's rotational gradient
// around the centre marked in the active image.
class QAction;

namespace astrelon {

// Without selection 1 or mark 1 in the active window the user is asked to mark
// the centre first; otherwise the 40 % level of each plane becomes the
// function's background level and the dialog opens on a result copy.
void LarsonSekaninaStart(QAction* sender);

}  // namespace astrelon
