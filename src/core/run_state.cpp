#include "core/run_state.h"

namespace astrelon {

uint8_t CloseRequested = 0;
std::atomic<uint8_t> Closing{0};
uint8_t FirstShowPending = 0;
uint8_t UseWorkerThreads = 0;
std::vector<std::string> CommandLineFiles;
int32_t CommandLineOpened = 0;

}  // namespace astrelon
