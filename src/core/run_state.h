#pragma once
// Program-wide run state that start-up sets and shut-down reads.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace astrelon {

// Set by the main window's close query; the settings file is written at the end
// of the run only when it is set.
extern uint8_t CloseRequested;
// Set while the main window closes (windows then skip their own bookkeeping).
extern std::atomic<uint8_t> Closing;
// Set at the end of start-up, cleared by the main window's first showing.
extern uint8_t FirstShowPending;
// Worker threads are used: more than one processor and the option "Multicores" on.
extern uint8_t UseWorkerThreads;

// Files named on the command line, opened one per timer tick, and how many are opened.
extern std::vector<std::string> CommandLineFiles;
extern int32_t CommandLineOpened;

}  // namespace astrelon
