#pragma once
// Function 17 "Universeller NN-Filter" of the shared filter dialog: a filter
// network whose file name begins with "_" applied with the dialog's
// "Skalierung" slider as its strength.
#include <string>

#include "filters/dialog/filter_functions.h"

namespace astrelon {

// The network file of the dialog's run, set by the command that opens it.
extern std::string NetworkFilterDialogFile;

// Whether a network filter file is applied through the dialog (its name
// begins with "_").
bool AppliedThroughDialog(const std::string& fileName);

// The entry: the start loads the network (or a list file's first network; a
// file that cannot be read refuses the start with the reader's message), each
// computation clears the dialog's abort flag and filters the source anew with
// the slider's strength, the dialog's hiding frees the network.
TFilterFunktion NetworkFilterFunktion();

}  // namespace astrelon
