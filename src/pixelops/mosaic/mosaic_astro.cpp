#include "pixelops/mosaic/mosaic_astro.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "kernels/mosaic/mosaic_kernels.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Stage 1 on the worker's rows; the block keeps the smallest green it wrote.
void AstroGreenRows(TMosaicWorkerBlock& blk) {
  const TMosaicStage& job = *blk.Job;
  TImageSlot& dst = Store.Image[size_t(job.Destination)];
  const int32_t w = dst.Width, h = dst.Height;
  float* g = dst.Planes[2].data();
  const ptrdiff_t W = w;
  const float eps = float(3 * job.Noise);
  float smallest = blk.Minimum;
  for (int32_t y = blk.Index + 3; y <= h - 4; y += blk.Count) {
    float* row = g + ptrdiff_t(y) * W;
    for (int32_t x = MosaicCellColor(MosaicPattern, 1, y) == McGreen ? 4 : 3; x <= w - 4; x += 2) {
      const float a = row[x - 1], b = row[x + 1], c = row[x - 3], d = row[x + 3];
      const float e = row[x - W], f = row[x + W], gg = row[x - 3 * W], hh = row[x + 3 * W];
      const float mh = (a + b + c + d) / 4, mv = (e + f + gg + hh) / 4;
      const float wh =
          1.0f / (std::abs(a - mh) + std::abs(b - mh) + std::abs(c - mh) + std::abs(d - mh) + eps);
      const float wv =
          1.0f / (std::abs(e - mv) + std::abs(f - mv) + std::abs(gg - mv) + std::abs(hh - mv) + eps);
      const float v =
          (0.2734375f * (wh * (a + b) + wv * (e + f)) - 0.0234375f * (wh * (c + d) + wv * (gg + hh))) /
          ((wh + wv) / 2);
      row[x] = v;
      smallest = std::min(smallest, v);
    }
  }
  blk.Minimum = smallest;
}

}  // namespace

TMosaicWorkerMethod AstroMosaicMethod(const TMosaicStage& job) {
  auto offset = std::make_shared<float>(0.0f);
  TMosaicWorkerMethod method;
  method.Stages = 2;
  method.Stage = [offset](TMosaicWorkerBlock& blk, int32_t stage) {
    const TMosaicStage& job = *blk.Job;
    if (stage == 1) {
      blk.Minimum = Store.Image[size_t(job.Source)].MinValue;
      AstroGreenRows(blk);
    } else {
      FillRedBlueAstro(job.Source, job.Destination, blk.Index, blk.Count, float(3 * job.Noise), *offset);
    }
  };
  const double noise = job.Noise;
  method.Between = [offset, noise](int32_t, std::span<TMosaicWorkerBlock> blocks) {
    float smallest = blocks.front().Minimum;
    for (const TMosaicWorkerBlock& b : blocks) smallest = std::min(smallest, b.Minimum);
    *offset = float(double(smallest) - 18 * noise);
  };
  return method;
}

}  // namespace astrelon
