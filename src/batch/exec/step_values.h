#pragma once
// Reading a batch step's values and reporting a step that cannot run: a value
// read as a number that is none is an error of the run (the tick stops with
// its message and waits); a step whose work cannot be done shows "Fehler: "
// and the operation's translated name.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "batch/steps/batch_menu_item.h"

namespace astrelon {

// An error of the run raised by a step (its message is shown as it is).
class TBatchStepError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The text as a whole number (blanks around it allowed); TBatchStepError
// "'text' ist keine gültige Zahl" otherwise, or for one beyond 32 bits.
int32_t StepInt(const std::string& text);
// The text as a number with "." (or ",") as decimal separator that a float
// holds (the steps compute in floats); TBatchStepError otherwise.
double StepFloat(const std::string& text);
// The text as an angle in degrees within the angle limit (TryStrToAngleDot);
// TBatchStepError as for a value that is no number otherwise.
double StepAngle(const std::string& text);

// The operation's name as the user sees it.
std::string TranslatedOperationName(TBatchOp op);
// "Fehler: " + the translated name.
void ShowStepError(TBatchOp op);
// "Fehler: ", the file name and " konnte nicht geladen werden." on three lines.
void ShowFileNotLoaded(const std::string& fileName);

}  // namespace astrelon
