#pragma once
// Choosing the second image of a two-image operation from the open windows.
#include <QString>

namespace astrelon {

// The list dialog under `prompt` with every image window except `current` and
// `excluded` (with colourOnly only colour images), each by its file name
// shortened to 302 pixels; the chosen slot, or −1 when nothing was chosen or
// nothing could be listed.
int ChooseSecondImage(int current, int excluded, const QString& prompt, bool colourOnly);

// The other window when exactly two image windows are open, else the choice above.
int OtherOrChosenImage(int current, const QString& prompt);

}  // namespace astrelon
