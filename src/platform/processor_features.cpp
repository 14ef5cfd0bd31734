#include "platform/processor_features.h"

#include <thread>

#include "core/settings.h"

namespace astrelon {

bool MmxEnabled = false;
bool SseEnabled = false;
bool Sse2Enabled = false;
bool Avx2Enabled = true;
bool HasMmx = false;
bool HasSse = false;
bool HasSse2 = false;
int32_t ProcessorCount = 1;

void DetectCpuFeatures() {
  HasMmx = HasSse = HasSse2 = false;
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  HasMmx = __builtin_cpu_supports("mmx");
  HasSse = __builtin_cpu_supports("sse");
  HasSse2 = __builtin_cpu_supports("sse2");
#endif
}

void ApplySimdSetting() {
  const bool on = Options.Simd != 0;
  MmxEnabled = on && HasMmx;
  SseEnabled = on && HasSse;
  Sse2Enabled = on && HasSse2;
}

int32_t GetProcessorCount() {
  const unsigned n = std::thread::hardware_concurrency();
  ProcessorCount = n == 0 ? 1 : int32_t(n > 0x7fffffffu ? 0x7fffffffu : n);
  return ProcessorCount;
}

}  // namespace astrelon
