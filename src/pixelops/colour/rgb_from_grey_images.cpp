#include "pixelops/colour/rgb_from_grey_images.h"

#include "common/paths.h"
#include "kernels/alignment/alignment_points.h"
#include "kernels/sampling/align_to_reference.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Plane 1 of `source` resampled onto the result's grid into plane `target`.
void AlignFirstPlane(int reference, int source, int result, int target) {
  const TAlignPoints pts = GetAlignmentPoints(reference, source, false, -1.0);
  AlignColourPlane(source, 1, result, target, pts.count, {pts.A1x, pts.A1y}, {pts.A2x, pts.A2y}, {pts.B1x, pts.B1y},
                   {pts.B2x, pts.B2y});
}

}  // namespace

bool ComposeRgbFromGrey(int red, int green, int blue, int result, const std::string& baseName,
                        const std::string& extension) {
  if (!SlotInUse(red) || !SlotInUse(green) || !SlotInUse(blue) || !ValidSlot(result) || Store.InUse[size_t(result)])
    return false;
  if (!CopyImageSlot(green, result)) return false;
  TImageSlot& im = Store.Image[size_t(result)];
  CopyPlane(result, 1, result, 2);
  CopyPlane(result, 1, result, 3);
  im.IsColor = 1;
  im.PlaneCount = 3;
  Store.FileName[size_t(result)] = ExtractFilePath(Store.FileName[size_t(green)]) + baseName + extension;
  im.NumberedName = 0;
  AlignFirstPlane(green, red, result, 1);
  AlignFirstPlane(green, blue, result, 3);
  im.ColorModel = CmRgb;
  Store.Display[size_t(result)].ChannelSelection = 0;
  Store.Display[size_t(result)].DisplayType = DtColorRgb;
  MakeDefaultHeader(result);
  return true;
}

}  // namespace astrelon
