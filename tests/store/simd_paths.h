#pragma once
// Sets the SSE2 switch for the life of the object, so a test can run both paths.
#include "store/processor_features.h"

namespace astrelon::test {

class SimdSwitchGuard {
public:
  explicit SimdSwitchGuard(bool on) : old_(Sse2Enabled) { Sse2Enabled = on; }
  ~SimdSwitchGuard() { Sse2Enabled = old_; }
  SimdSwitchGuard(const SimdSwitchGuard&) = delete;
  SimdSwitchGuard& operator=(const SimdSwitchGuard&) = delete;

private:
  bool old_;
};

}  // namespace astrelon::test
