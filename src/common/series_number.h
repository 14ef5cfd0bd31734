#pragma once
// The number of a frame in a series, taken from its file name.
#include <cstdint>
#include <string>

namespace astrelon {

// The number formed by the trailing digits of the name without folder and
// extension ("/d/light_0012.fit" gives 12); -1 when there are none or they do
// not fit in 32 bits.
int32_t GetSeriesNumber(const std::string& fileName);

}  // namespace astrelon
