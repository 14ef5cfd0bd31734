#pragma once
// Images in slots for the spectrum tests, and runs under each code path and
// worker count.
#include <cmath>
#include <functional>
#include <vector>

#include "core/settings.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {

// A w × h image of `planes` planes with value f(x, y, plane) in `slot`.
inline void MakeImage(int slot, int w, int h, int planes, const std::function<float(int, int, int)>& f) {
  TImageSlot& im = Store.Image[size_t(slot)];
  im = TImageSlot{};
  im.Width = w;
  im.Height = h;
  im.PlaneCount = planes;
  im.IsColor = planes == 3;
  im.AllocatePlanes(planes);
  for (int p = 1; p <= planes; ++p)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) im.At(p, x, y) = f(x, y, p);
  Store.InUse[size_t(slot)] = 1;
  Store.FileName[size_t(slot)] = "/data/bild.fit";
  MakeDefaultHeader(slot);
  UpdateMinMax(slot);
}

// A smooth image with some structure and a little pseudo-random detail.
inline float Sky(int x, int y, int p) {
  const unsigned hsh = unsigned(x) * 73856093u ^ unsigned(y) * 19349663u ^ unsigned(p) * 83492791u;
  return 100.0f + 20.0f * float(std::sin(0.3 * x + 0.1 * p)) + 0.5f * float(y) + float(hsh % 1000u) * 0.01f;
}

// Sets the vector switch and the "Multicores" option for the life of the object.
class PathAndThreads {
public:
  PathAndThreads(bool vector, bool multicore)
      : sse2_(Sse2Enabled), avx2_(Avx2Enabled), multicore_(Options.Multicore) {
    Sse2Enabled = vector;
    Avx2Enabled = vector;
    Options.Multicore = multicore ? 1 : 0;
  }
  ~PathAndThreads() {
    Sse2Enabled = sse2_;
    Avx2Enabled = avx2_;
    Options.Multicore = multicore_;
  }

private:
  bool sse2_, avx2_;
  uint8_t multicore_;
};

inline std::vector<float> PlaneOf(int slot, int p) {
  const TPlane& q = Store.Image[size_t(slot)].Planes[size_t(p)];
  return std::vector<float>(q.begin(), q.end());
}

}  // namespace astrelon::test
