#include "platform/simd_constants.h"

namespace astrelon {

TSimdConstants SimdConstants;

void BuildAlignedVectors(std::span<const uint32_t> values, std::span<TSimdVector> block) {
  for (size_t i = 0; i < values.size() && i < block.size(); ++i) block[i].Lane.fill(values[i]);
}

void SetVectorSlot(std::span<TSimdVector> block, int n, uint32_t value) {
  if (n >= 0 && size_t(n) < block.size()) block[size_t(n)].Lane.fill(value);
}

void PutVectorSlot(std::span<TSimdVector> block, uint32_t value, int n) { SetVectorSlot(block, n, value); }

void InitSimdConstants() {
  const std::array<uint32_t, 8> first{FloatBits(-1e9f), FloatBits(1e18f), FloatBits(-9e8f), FloatBits(1.0f),
                                      FloatBits(1e25f), FloatBits(-1e25f), FloatBits(-1.0f), FloatBits(1e-25f)};
  std::span<TSimdVector> block(SimdConstants.Vector);
  BuildAlignedVectors(first, block);
  SetVectorSlot(block, 8, 0x80000000u);
  SetVectorSlot(block, 9, 0x7FFFFFFFu);
  SetVectorSlot(block, 10, FloatBits(0.0f));
  SetVectorSlot(block, 11, FloatBits(10.0f));
  SetVectorSlot(block, 12, FloatBits(0.5f));
  SetVectorSlot(block, 13, FloatBits(0.02f));
  SetVectorSlot(block, 14, FloatBits(0.01f));
}

}  // namespace astrelon
