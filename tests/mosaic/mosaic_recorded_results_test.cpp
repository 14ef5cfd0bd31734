// The interpolation methods give, bit for bit, the planes recorded from their
// plain one-pixel-at-a-time form, on every number of workers: a scene of slopes,
// edges, stars and noise wide enough for several column chunks per row.
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "../pixelops/slot_images.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "pixelops/mosaic/mosaic_interpolation.h"
#include "pixelops/mosaic/mosaic_passes.h"
#include "platform/processor_features.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr int Width = 613, Height = 131;

std::vector<float> Scene() {
  std::vector<float> m(size_t(Width) * Height);
  std::mt19937 rng(29);
  std::normal_distribution<float> noise(0.0f, 30.0f);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) {
      float v = 2000.0f + 600.0f * float((x & 1) + (y & 1)) + 1.5f * float(x) - 3.0f * float(y);
      if (x > 300 && x < 420) v += 9000.0f;                     // a bright band with vertical edges
      if (y > 60 && y < 70) v += 5000.0f;                       // a horizontal stripe
      if ((x + 2 * y) % 97 == 0) v += 20000.0f;                 // oblique line
      if (rng() % 500 == 0) v = 65535.0f;                        // hot pixels
      m[size_t(y) * Width + size_t(x)] = std::max(v + noise(rng), 0.0f);
    }
  return m;
}

// FNV-1a over the bits of the three planes.
uint64_t Fingerprint(int slot) {
  uint64_t h = 1469598103934665603ull;
  const TImageSlot& im = Store.Image[size_t(slot)];
  h ^= uint64_t(im.Width) << 32 | uint64_t(uint32_t(im.Height));
  for (int p = 1; p <= 3; ++p)
    for (size_t i = 0; i < im.PixelCount(); ++i) {
      uint32_t bits;
      std::memcpy(&bits, &im.Planes[size_t(p)][i], 4);
      h = (h ^ bits) * 1099511628211ull;
    }
  return h;
}

uint64_t Interpolated(const std::vector<float>& m, const TMosaicCells& cells, int rowMask, int method, int workers) {
  MosaicPattern = cells;
  PutImage(1, Width, Height, {m});
  PutImage(2, Width, Height, {m, m, m});
  const std::vector<int32_t> cols = SizeRatioOffsets(Width, 1.0), rows = SizeRatioOffsets(Height, 1.0);
  TMosaicStage s;
  s.Source = 1;
  s.Destination = 2;
  s.Method = method;
  s.RowMask = rowMask;
  s.Noise = 30.0;
  s.RedMultiplier = 1.5;
  s.BlueMultiplier = 0.75;
  s.RedColumns = s.BlueColumns = cols;
  s.RedRows = s.BlueRows = rows;
  EXPECT_TRUE(InterpolateMosaic(s, workers));
  return Fingerprint(2);
}

struct TRecorded {
  const char* Name;
  TMosaicCells Cells;
  int RowMask;
  int Method;
  uint64_t Fingerprint;
};

class MosaicRecordedResultsTest : public StoreTest {};

TEST_F(MosaicRecordedResultsTest, EveryWorkerCountAndPathGivesTheRecordedPlanes) {
  constexpr TMosaicCells Rggb{McRed, McGreen, McGreen, McBlue, -1, -1, -1, -1};
  constexpr TMosaicCells Gbrg{McGreen, McBlue, McRed, McGreen, -1, -1, -1, -1};
  constexpr TMosaicCells Cmyg{McCyan, McYellow, McMagenta, McGreen, McYellow, McCyan, McGreen, McMagenta};
  const TRecorded table[] = {
      {"linear rggb", Rggb, 1, DmLinear, 0xf36f1e278a63dcf4ull},
      {"linear gbrg", Gbrg, 1, DmLinear, 0x3ca7ecbfd563392aull},
      {"linear cmyg", Cmyg, 3, DmLinear, 0x182336c70dd9d9e8ull},
      {"vng rggb", Rggb, 1, DmVng, 0xe43db0bc77a1c277ull},
      {"vng gbrg", Gbrg, 1, DmVng, 0x91e83d1a614a6dccull},
      {"kimmel rggb", Rggb, 1, DmKimmel, 0xac669bc2240a577cull},
      {"kimmel gbrg", Gbrg, 1, DmKimmel, 0x46833e823735731full},
      {"astro rggb", Rggb, 1, DmAstro, 0xbb6d2b19bdc85d18ull},
      {"astro gbrg", Gbrg, 1, DmAstro, 0x20f39c94d00d4899ull},
  };
  const std::vector<float> m = Scene();
  const bool avx2 = Avx2Enabled;
  for (const TRecorded& r : table) {
    for (const bool vector : {true, false}) {
      Avx2Enabled = vector && avx2;
      for (const int workers : {1, 2, 7, 8}) {
        const uint64_t got = Interpolated(m, r.Cells, r.RowMask, r.Method, workers);
        EXPECT_EQ(got, r.Fingerprint) << r.Name << " workers " << workers << " vector " << vector;
      }
    }
  }
  Avx2Enabled = avx2;
  MosaicPattern = Rggb;
}

}  // namespace
}  // namespace astrelon::test
