#pragma once
// SIMD switches: set from the processor's features and the "MMXundSSE" setting.
#include <cstdint>

namespace astrelon {
extern bool MmxEnabled;
extern bool SseEnabled;
extern bool Sse2Enabled;

// Lets the vector paths use their eight-wide AVX2 loops where the processor has
// them (on by default; the results are the same as with the four-wide loops).
extern bool Avx2Enabled;

// What the processor offers, found by DetectCpuFeatures.
extern bool HasMmx;
extern bool HasSse;
extern bool HasSse2;

// Number of processors, found by GetProcessorCount at start-up; 1 before.
extern int32_t ProcessorCount;

// Clears the feature flags and sets them from the processor's feature bits.
void DetectCpuFeatures();
// Switches := features when the setting "MMXundSSE" is on, else all off.
void ApplySimdSetting();
// Number of processors the system reports (1 when it cannot tell); also stored
// in ProcessorCount.
int32_t GetProcessorCount();
}  // namespace astrelon
