#pragma once
// Small test images put straight into the image store.
#include <initializer_list>
#include <string>
#include <vector>

#include "core/settings.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon::test {

// A w x h image in the slot: grey with one plane, colour (RGB) with three.
inline void PutImage(int slot, int w, int h, std::initializer_list<std::vector<float>> planes) {
  TImageSlot& im = Store.Image[size_t(slot)];
  im = TImageSlot{};
  im.Width = w;
  im.Height = h;
  im.PlaneCount = int(planes.size());
  im.IsColor = planes.size() == 3;
  int p = 1;
  for (const auto& v : planes) {
    im.Planes[size_t(p)].assign(v.begin(), v.end());
    im.Planes[size_t(p)].resize(size_t(w) * size_t(h), 0.0f);
    ++p;
  }
  Store.InUse[size_t(slot)] = 1;
  Store.FileName[size_t(slot)] = "/d/test" + std::to_string(slot) + ".fit";
  MakeDefaultHeader(slot);
  UpdateMinMax(slot);
}

inline std::vector<float> Plane(int slot, int p) {
  const auto& v = Store.Image[size_t(slot)].Planes[size_t(p)];
  return {v.begin(), v.end()};
}

inline void WholeImageRect(int slot) { SetWorkRectToImage(slot); }

// Runs a block with the "Multicores" option on or off.
class MulticoreGuard {
public:
  explicit MulticoreGuard(bool on) : old_(Options.Multicore) { Options.Multicore = on ? 1 : 0; }
  ~MulticoreGuard() { Options.Multicore = old_; }
  MulticoreGuard(const MulticoreGuard&) = delete;
  MulticoreGuard& operator=(const MulticoreGuard&) = delete;

private:
  uint8_t old_;
};

}  // namespace astrelon::test
