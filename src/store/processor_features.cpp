#include "store/processor_features.h"

namespace astrelon {

bool MmxEnabled = false;
bool SseEnabled = false;
bool Sse2Enabled = false;

}  // namespace astrelon
