#pragma once
// Menu commands that combine a second image with the active one through the
// shift, rotation and scale measured from the user's marks: add, subtract,
// minimum and maximum, each into a new window.
#include "registration/combination/combine_shifted_image.h"

class QAction;

namespace astrelon {

// The body of the four commands; `sender` is the clicked item (nullptr when
// the command runs without one).
void CombineWithSecondImage(TCombineOp op, QAction* sender = nullptr);

void RegisterTwoImageCommands();

}  // namespace astrelon
