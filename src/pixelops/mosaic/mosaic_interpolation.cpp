#include "pixelops/mosaic/mosaic_interpolation.h"

#include <vector>

#include "kernels/mosaic/mosaic_kernels.h"
#include "pixelops/mosaic/mosaic_astro.h"
#include "pixelops/mosaic/mosaic_kimmel.h"
#include "pixelops/mosaic/mosaic_linear.h"
#include "pixelops/mosaic/mosaic_vng.h"
#include "pixelops/mosaic/mosaic_workers.h"
#include "store/image_store.h"
#include "store/slot_holds.h"

namespace astrelon {

namespace {

bool HasPlanes(const TImageSlot& im, int count) {
  for (int p = 1; p <= count; ++p)
    if (im.Planes[size_t(p)].size() < im.PixelCount()) return false;
  return true;
}

// The linear method wrote its rows (w - 2) values apart from the start: the
// slot becomes that size, one pixel less on each side, keeping its memory.
void CutToInterior(TImageSlot& im) {
  im.Width -= 2;
  im.Height -= 2;
  for (int p = 1; p <= 3; ++p) im.Planes[size_t(p)].resize(im.PixelCount());
  im.RawFilterPattern = 0;
}

}  // namespace

int32_t MosaicBorderMargin(int32_t method) {
  switch (method) {
    case DmVng:
    case DmKimmel: return 2;
    case DmAstro: return 3;
    case DmNetwork: return 4;
    default: return 0;
  }
}

bool InterpolateMosaic(const TMosaicStage& stage, int32_t workers) {
  if (!SlotInUse(stage.Source) || !SlotInUse(stage.Destination)) return false;
  const TImageSlot& dst = Store.Image[size_t(stage.Destination)];
  const int32_t w = dst.Width, h = dst.Height;
  if (w <= 5 || h <= 5 || Store.Image[size_t(stage.Source)].Width != w ||
      Store.Image[size_t(stage.Source)].Height != h)
    return false;
  if (!HasPlanes(Store.Image[size_t(stage.Source)], 1) || !HasPlanes(dst, 3)) return false;
  TMosaicWorkerMethod method;
  switch (stage.Method) {
    case DmLinear: method = LinearMosaicMethod(stage); break;
    case DmVng: method = VngMosaicMethod(stage); break;
    case DmKimmel:
      // Its refinement follows the red and blue sites of a Bayer pattern.
      if (!IsBayerCells(MosaicPattern)) return false;
      method = KimmelMosaicMethod(stage);
      break;
    case DmAstro: method = AstroMosaicMethod(stage); break;
    default: return false;
  }
  if (const int32_t margin = MosaicBorderMargin(stage.Method); margin > 0)
    InterpolateMosaicBorder(stage.Destination, margin);
  std::vector<TMosaicWorkerBlock> blocks(size_t(std::max(workers, 1)));
  for (size_t k = 0; k < blocks.size(); ++k) blocks[k] = {&stage, int32_t(k), int32_t(blocks.size()), 0.0f};
  {
    // The user interface runs while the workers fill the result: both slots are held.
    const TSlotHold hold({stage.Source, stage.Destination});
    RunMosaicWorkers(blocks, method);
  }
  if (stage.Method == DmLinear) CutToInterior(Store.Image[size_t(stage.Destination)]);
  return true;
}

bool InterpolateMosaicOnWorkers(const TMosaicStage& stage) {
  if (!SlotInUse(stage.Destination)) return false;
  return InterpolateMosaic(stage, MosaicWorkerCount(Store.Image[size_t(stage.Destination)].Height));
}

}  // namespace astrelon
