#pragma once
// The value axis of the 501-bin display histogram and the bin counter.
#include <cstdint>
#include <span>

#include "store/display/display_record.h"

namespace astrelon {

struct THistogramAxis {
  bool SqrtScale = false;
  float Low = 0;        // value at bin 0 (linear) or the origin of the square root
  float Threshold = 0;  // values below it are not counted
  float Sqrt0 = 0;      // square root of the axis start above Low (square-root scale)
  float Factor = 500;   // bins per value unit (or per square-root unit)
};

THistogramAxis HistogramAxisOf(const TDisplayRecord& d);

// Adds every counted value to entries 1..501 (bins 0..500); the guard entries
// stay untouched. Both paths give identical counts.
void CountHistogram(std::span<const float> values, const THistogramAxis& axis,
                    std::span<uint32_t, HistogramEntries> entries, bool useSse2);

}  // namespace astrelon
