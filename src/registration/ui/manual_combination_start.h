#pragma once
// What the menu command "Bild kombinieren mit manueller Verschiebung" prepares
// before the manual combination dialog shows: the second image, both images in
// RGB, the slot pair and the running operation, and the second image's median.
#include <functional>

class QAction;
class QWidget;

namespace astrelon {

constexpr int ManualCombinationForm = 27;

// What the dialog is given.
struct TManualCombinationStart {
  int Second = -1;     // the image moved over the reference
  int Active = -1;     // the reference (the active image)
  double Level = 0;    // the 50 % level of the second image's plane 1
};

// Set by the dialog's module together with its form factory: hands the start
// to the created form before it shows.
extern std::function<void(QWidget* form, const TManualCombinationStart& start)> ManualCombinationStarter;

// The command: nothing happens before the dialog's form is registered.
void StartManualCombination(QAction* sender);

}  // namespace astrelon
