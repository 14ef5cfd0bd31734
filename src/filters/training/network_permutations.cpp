#include "filters/training/network_permutations.h"

#include <cstddef>
#include <utility>

namespace astrelon {

namespace {

// The 4-cycles of one quarter turn: each moves the value at its first index
// to the second, and so on.
constexpr int8_t DiscCycles[9][4] = {{21, 27, 36, 30}, {22, 29, 35, 28}, {23, 31, 34, 26},
                                     {24, 25, 33, 32}, {9, 13, 20, 16},  {10, 15, 19, 14},
                                     {11, 17, 18, 12}, {1, 3, 8, 6},     {2, 5, 7, 4}};
constexpr int8_t RegionCycles[6][4] = {{57, 60, 59, 58}, {53, 56, 55, 54}, {49, 50, 52, 51},
                                       {45, 48, 47, 46}, {41, 42, 44, 43}, {37, 38, 40, 39}};
// Left-right and top-bottom pairs of the disc, then of the regions.
constexpr int8_t LeftRight[15][2] = {{21, 23}, {24, 25}, {9, 11},  {26, 27}, {12, 13}, {1, 3},   {28, 29}, {14, 15},
                                     {4, 5},   {30, 31}, {16, 17}, {6, 8},   {32, 33}, {18, 20}, {34, 36}};
constexpr int8_t LeftRightRegions[9][2] = {{49, 50}, {41, 42}, {37, 38}, {58, 60}, {54, 56},
                                           {46, 48}, {51, 52}, {43, 44}, {39, 40}};
constexpr int8_t TopBottom[15][2] = {{21, 34}, {22, 35}, {23, 36}, {24, 32}, {9, 18}, {10, 19}, {11, 20}, {25, 33},
                                     {26, 30}, {12, 16}, {1, 6},   {2, 7},   {3, 8},  {13, 17}, {27, 31}};
constexpr int8_t TopBottomRegions[9][2] = {{57, 59}, {49, 51}, {53, 55}, {50, 52}, {41, 43},
                                           {45, 47}, {42, 44}, {37, 39}, {38, 40}};

template <size_t Count>
void Cycle(const int8_t (&cycles)[Count][4], float* x, bool backwards) {
  for (const auto& c : cycles) {
    if (backwards) {
      const float first = x[c[0]];
      x[c[0]] = x[c[1]];
      x[c[1]] = x[c[2]];
      x[c[2]] = x[c[3]];
      x[c[3]] = first;
    } else {
      const float last = x[c[3]];
      x[c[3]] = x[c[2]];
      x[c[2]] = x[c[1]];
      x[c[1]] = x[c[0]];
      x[c[0]] = last;
    }
  }
}

template <size_t Count>
void Swap(const int8_t (&pairs)[Count][2], float* x) {
  for (const auto& p : pairs) std::swap(x[p[0]], x[p[1]]);
}

}  // namespace

void PermuteNetworkInputs(int32_t N, int rotation, int mirror, float* x) {
  if (N < 36) return;
  const bool regions = N >= 60;
  const int turns = rotation & 3;
  // Three quarter turns are one turn backwards.
  for (int r = 0; r < (turns == 3 ? 1 : turns); ++r) {
    Cycle(DiscCycles, x, turns == 3);
    if (regions) Cycle(RegionCycles, x, turns == 3);
  }
  if (mirror == 1) {
    Swap(LeftRight, x);
    if (regions) Swap(LeftRightRegions, x);
  } else if (mirror == 2) {
    Swap(TopBottom, x);
    if (regions) Swap(TopBottomRegions, x);
  }
}

namespace {

// Block order after one to three quarter turns: new value k is old value
// Turned[r][k]; the way back uses the turn 4 - r.
constexpr int8_t Turned[4][4] = {{0, 1, 2, 3}, {2, 0, 3, 1}, {3, 2, 1, 0}, {1, 3, 0, 2}};

void TurnBlock(int turns, std::array<float, 4>& t) {
  const std::array<float, 4> o = t;
  for (size_t k = 0; k < 4; ++k) t[k] = o[size_t(Turned[turns & 3][k])];
}

// Mirror 1 swaps left and right, mirror 2 top and bottom (each its own inverse).
void MirrorBlock(int mirror, std::array<float, 4>& t) {
  if (mirror == 1) {
    std::swap(t[0], t[1]);
    std::swap(t[2], t[3]);
  } else if (mirror == 2) {
    std::swap(t[0], t[2]);
    std::swap(t[1], t[3]);
  }
}

}  // namespace

void PermuteTargets(int rotation, int mirror, std::array<float, 4>& t) {
  TurnBlock(rotation, t);
  MirrorBlock(mirror, t);
}

void UnpermuteOutputs(int rotation, int mirror, std::array<float, 4>& y) {
  MirrorBlock(mirror, y);
  TurnBlock(4 - (rotation & 3), y);
}

}  // namespace astrelon
