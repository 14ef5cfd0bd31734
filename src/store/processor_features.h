#pragma once
// SIMD switches: set from the processor's features and the "MMXundSSE" setting.
namespace astrelon {
extern bool MmxEnabled;
extern bool SseEnabled;
extern bool Sse2Enabled;
}  // namespace astrelon
