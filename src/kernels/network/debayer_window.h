#pragma once
// The input layout of the debayer networks: a 7 x 7 window of the colour
// mosaic around a red or blue site, each used position one of the 37 inputs.
#include <array>
#include <cstdint>

namespace astrelon {

// Network input of each window position (row dy = -3..3, column dx = -3..3),
// -1 where the position is not used.
inline constexpr std::array<std::array<int8_t, 7>, 7> DebayerWindowInput{{
    {-1, 21, -1, 22, -1, 23, -1},
    {26, 24, 9, 10, 11, 25, 27},
    {-1, 12, 1, 2, 3, 13, -1},
    {28, 14, 4, 0, 5, 15, 29},
    {-1, 16, 6, 7, 8, 17, -1},
    {30, 32, 18, 19, 20, 33, 31},
    {-1, 34, -1, 35, -1, 36, -1},
}};

inline constexpr int32_t DebayerInputCount = 37;

}  // namespace astrelon
