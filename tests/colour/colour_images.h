#pragma once
// Small colour images in slots for the colour tests.
#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/engine_ui.h"
#include "core/settings.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {

using TRgb = std::array<float, 3>;

// A colour image of the given pixels (row-major, width w) in the RGB model.
inline void MakeColourImage(int slot, int w, const std::vector<TRgb>& pixels) {
  std::vector<std::vector<float>> planes(3);
  for (const TRgb& p : pixels)
    for (size_t c = 0; c < 3; ++c) planes[c].push_back(p[c]);
  MakeImage(slot, w, int(pixels.size()) / w, planes, "/data/colour_" + std::to_string(slot) + ".fit");
  ResetDisplayRange(slot, 0);
}

inline TRgb PixelOf(int slot, size_t i) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  return {im.Planes[1][i], im.Planes[2][i], im.Planes[3][i]};
}

// A noisy colour run with blanks (a NaN too) in single planes and whole pixels.
inline std::array<std::vector<float>, 3> NoisyColourRun(size_t n, uint32_t seed) {
  std::array<std::vector<float>, 3> p;
  uint32_t s = seed;
  auto next = [&] {
    s = s * 1664525u + 1013904223u;
    return float(s >> 8) / float(1u << 24);
  };
  for (auto& v : p) {
    v.resize(n);
    for (float& x : v) x = 40000.0f * next() - 1000.0f;
  }
  for (size_t i = 3; i < n; i += 37) p[i % 3][i] = BlankPixel;
  for (size_t i = 11; i < n; i += 101) p[0][i] = p[1][i] = p[2][i] = BlankPixel;
  if (n > 7) p[1][7] = std::bit_cast<float>(0x7FC00000u);  // NaN
  return p;
}

inline void ExpectSameBits(const std::vector<float>& a, const std::vector<float>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i)
    ASSERT_EQ(std::bit_cast<uint32_t>(a[i]), std::bit_cast<uint32_t>(b[i])) << "pixel " << i;
}

// Frees the store and the collected messages around each test; keeps the options.
class ColourTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    EngineUi().Messages.clear();
    saved_ = Options;
  }
  void TearDown() override {
    Options = saved_;
    EngineUi().Messages.clear();
    StoreTest::TearDown();
  }
  TProgramOptions saved_;
};

}  // namespace astrelon::test
