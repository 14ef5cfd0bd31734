#pragma once
// The commands of the "Pixelmathematik" menu: adding, multiplying and dividing by
// values, clamping the value range, square root, square, rounding and moving
// values toward 0, each on the frame of operation_frame.h.
#include <array>

class QAction;

namespace astrelon {

// The last values of the prompts, kept for the run of the program (not in the
// settings file).
struct TLastValues {
  std::array<double, 3> Added{0, 0, 0};
  std::array<double, 3> Factors{1.0, 1.0, 1.0};
  std::array<double, 3> Divisors{1.0, 1.0, 1.0};
  double LowerLimit = 0;
  double UpperLimit = 32767.0;
};
extern TLastValues LastValues;

void AddValueCommand(QAction* sender);          // "Wert &addieren", in place
void MultiplyValueCommand(QAction* sender);     // "Wert &multiplizieren"
void DivideValueCommand(QAction* sender);       // "Wert dividieren"
void LowerLimitCommand(QAction* sender);        // "Wertebereich &unten begrenzen"
void UpperLimitCommand(QAction* sender);        // "Wertebereich &oben begrenzen"
void SquareRootCommand(QAction* sender);        // "&Wurzel ziehen"
void SquareCommand(QAction* sender);            // "Werte &quadrieren"
void RoundCommand(QAction* sender);             // "Werte run&den"
void MoveTowardZeroCommand(QAction* sender);    // "Pixelwerte nach 0 verschieben"

}  // namespace astrelon
