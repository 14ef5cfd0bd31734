// Channel iteration over the planes that a window's channel selection enables,
// and small per-slot queries.
#include <array>

#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// One bit per plane number; bits 4..7 are always set so that iteration ends.
constexpr std::array<uint8_t, 5> RgbMasks{0xFE, 0xF2, 0xF4, 0xF8, 0xFA};
constexpr std::array<uint8_t, 5> YuvMasks{0xFE, 0xF2, 0xF4, 0xF8, 0xFC};

bool IsColourSlot(int slot) {
  return slot >= 1 && slot < SlotArraySize && Store.Image[slot].IsColor;
}

uint8_t ChannelMask(int slot) {
  int sel = Store.Display[slot].ChannelSelection;
  if (sel < 0 || sel > 4) sel = 0;
  return Store.Image[slot].ColorModel == CmYuv ? YuvMasks[size_t(sel)] : RgbMasks[size_t(sel)];
}

}  // namespace

int FirstChannel(int slot) {
  if (!IsColourSlot(slot)) return 1;
  const uint8_t mask = ChannelMask(slot);
  int p = 1;
  while (!(mask & (1u << p))) ++p;
  return p;
}

void NextChannel(int slot, int& p) {
  ++p;
  if (!IsColourSlot(slot)) return;
  const uint8_t mask = ChannelMask(slot);
  while (p >= 0 && p < 8 && !(mask & (1u << p))) ++p;
}

int GetRgbCode(int slot) {
  return IsColourSlot(slot) && Store.Image[slot].ColorModel == CmRgb ? 2 : 1;
}

float ImageMaxOr255(int slot) {
  if (slot < 0 || slot >= SlotArraySize) return 255.0f;
  const float m = Store.Image[slot].MaxValue;
  return m < 255.0f ? 255.0f : m;
}

}  // namespace astrelon
