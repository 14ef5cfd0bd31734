#pragma once
// The engine half of the program's start and end. Each start-up step is guarded:
// a step that fails leaves the defaults and start-up goes on, without a message.
#include <functional>
#include <string>
#include <vector>

namespace astrelon {

// Folders searched for the translation file; empty means the program's data folders.
extern std::vector<std::string> LanguageSearchFolders;

// Start values of the settings, the run flags and the slot flags.
void ResetProgramState();
// Reads the settings file and applies what needs more than a field: the
// interpolation kind of operations and the open dialog's start file; then reads
// the own RAW layouts.
void ReadSettingsAtStartup();
// Colour tables, interpolation kernels and the current tap window, the master
// file names, the logarithm table and the activation tables of the neural networks.
void BuildStartupTables();
// Default place of the histogram window beside the main window's lower right
// corner, for each value the settings did not give.
void ApplyHistogramWindowDefaults();
// Loads the first translation file found; the program stays German when there is none.
void LoadLanguageAtStartup();
// Processor features, SIMD switches, processor count and the use of worker threads.
void DetectProcessorAtStartup();
// Loads the own display palette named by the setting "Palette"; failures are ignored.
void LoadPaletteAtStartup();
// Selects the zoom list entry of the stored zoom number.
void ApplyStoredZoom();

// All of the above in the order of the program's start.
void RunEngineStartup();

// An interactive operation has started and has not finished.
bool OperationStillRunning();
// Asks every running operation, batch and worker to stop.
void RaiseAbortFlags();
// Waits until the running operation has finished or `timeoutMs` has passed,
// sleeping `stepMs` and calling `processMessages` between checks. True when no
// operation runs any more.
bool WaitForRunningOperation(const std::function<void()>& processMessages, int timeoutMs = 7000, int stepMs = 50);

}  // namespace astrelon
