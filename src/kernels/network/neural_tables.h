#pragma once
// Activation tables of the neural-network engine: tanh at steps of 0.001 from 0 to 2.
#include <array>
#include <cstdint>

namespace astrelon {

constexpr int TanhTableSize = 2001;  // i = 0..2000, x = i * 0.001
extern std::array<float, TanhTableSize> TanhTable;
// The same values in 16-bit fixed point, scaled by 16384.
extern std::array<int16_t, TanhTableSize> TanhTableFixed;

// Fills both tables; called once at start-up.
void BuildTanhTable();

}  // namespace astrelon
