#pragma once
// Blocks of 16-byte aligned vectors of four equal 32-bit lanes, loaded by the
// vector loops, and the program-wide block of such constants.
#include <array>
#include <bit>
#include <cstdint>
#include <span>

namespace astrelon {

struct alignas(16) TSimdVector {
  std::array<uint32_t, 4> Lane{};
};

// Vector n of a block lies 16 x (n - 8) bytes from its base (vector 8), so that
// vectors 0..7 lie below and 8.. at or above the base.
constexpr int SimdBaseVector = 8;

// The program-wide constants:
//  0 -1e9 (blank limit)   1 1e18 (minimum search start)   2 -9e8   3 1.0
//  4 1e25   5 -1e25   6 -1.0   7 1e-25
//  8 sign mask 0x80000000   9 absolute-value mask 0x7FFFFFFF   10 0.0
// 11 10.0   12 0.5   13 0.02   14 0.01
struct TSimdConstants {
  std::array<TSimdVector, 15> Vector{};
  const TSimdVector* Base() const { return &Vector[SimdBaseVector]; }
};
extern TSimdConstants SimdConstants;

// Builds SimdConstants (once at start-up).
void InitSimdConstants();

// Broadcasts each value into the four lanes of consecutive vectors of the block,
// starting with vector 0.
void BuildAlignedVectors(std::span<const uint32_t> values, std::span<TSimdVector> block);
// Broadcasts one value into vector n of the block; the two differ only in argument order.
void SetVectorSlot(std::span<TSimdVector> block, int n, uint32_t value);
void PutVectorSlot(std::span<TSimdVector> block, uint32_t value, int n);

constexpr uint32_t FloatBits(float f) { return std::bit_cast<uint32_t>(f); }

}  // namespace astrelon
