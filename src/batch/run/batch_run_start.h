#pragma once
// Starting a batch run: the folders of the run, the check of every step with
// the reset of the run state (PrepareBatchRun), and the start button's checks
// of the start file, the target folder and an existing target file. Questions
// and messages go through EngineUi(). A refused start leaves `Running` off and
// the shift mode as it was.
#include <functional>
#include <string>

namespace astrelon {

// The folder of a target file name: an absolute folder stays, any other is
// taken relative to the start folder, none is the start folder. Ends in "/".
std::string BatchTargetFolder(const std::string& startFolder, const std::string& targetFile);

// Checks the steps and resets the run state for the first input: an add to the
// target ends the batch; a batch of the file step alone, or 46 and more open
// image windows, is refused without a message; the files of the file-name
// steps must exist and the parameter files of operations 13, 24 and 25 must
// read ("Fehler: " + name + " konnte nicht geöffnet werden."); the comet shift
// fields must be numbers. True with `Running` set.
bool PrepareBatchRun();

// What the input series makes of the run's inputs before a start: the input
// list from the drop list (called first, while the input list is used), and
// the images of the start folder in all-files mode (called after the checks).
struct TBatchInputHooks {
  std::function<void()> BuildInputList;
  std::function<void()> BuildFolderList;
};
extern TBatchInputHooks BatchInputHooks;

// The start button up to the opening of the status window: the start file
// must exist, the run is prepared, a missing target folder is created when the
// user agrees, and an existing target file is loaded when the user wants to
// add to it (or as the reference of a fit-to-target batch). True when the run
// may start.
bool CheckBatchStart();

// The comet button: the start file must exist, the run is prepared and marked
// as the two-image comet computation. True when the run may start.
bool CheckCometComputation();

}  // namespace astrelon
