#pragma once
// Small images for the filter tests: grey planes filled by a function, and a
// result slot made as a copy of the source (as the dialog's start makes it).
#include <functional>
#include <vector>

#include "common/engine_ui.h"
#include "core/settings.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {

// A free store; the options, the abort flag and the engine interface as they were afterwards.
class KernelTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    saved_ = Options;
  }
  void TearDown() override {
    Options = saved_;
    AbortRequested = 0;
    SetEngineUi(nullptr);
    StoreTest::TearDown();
  }
  TProgramOptions saved_;
};

// A w x h image of `planes` planes whose pixels come from value(plane, x, y).
inline void MakeImage(int slot, int w, int h, int planes, const std::function<float(int p, int x, int y)>& value) {
  std::vector<std::vector<float>> data(size_t(planes), std::vector<float>(size_t(w) * size_t(h)));
  for (int p = 1; p <= planes; ++p)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) data[size_t(p - 1)][size_t(y) * size_t(w) + size_t(x)] = value(p, x, y);
  MakeImage(slot, w, h, data);
  UpdateMinMax(slot);
}

inline void MakeGrey(int slot, int w, int h, const std::function<float(int x, int y)>& value) {
  MakeImage(slot, w, h, 1, [&](int, int x, int y) { return value(x, y); });
}

// The destination as a copy of the source.
inline void MakeResult(int source, int destination) { CopyImageSlot(source, destination); }

inline TWorkRect WholeImage(int slot) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  return {0, im.Width - 1, 0, im.Height - 1};
}

}  // namespace astrelon::test
