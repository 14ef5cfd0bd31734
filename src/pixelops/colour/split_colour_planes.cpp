#include "pixelops/colour/split_colour_planes.h"

#include <algorithm>
#include <array>

#include "common/paths.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

std::string PlanePrefix(int colorModel, int plane) {
  static constexpr std::array<const char*, 3> Rgb{"Rot_von_", "Gruen_von_", "Blau_von_"};
  static constexpr std::array<const char*, 3> Yuv{"Y_von_", "U_von_", "V_von_"};
  const size_t i = size_t(std::clamp(plane, 1, 3) - 1);
  return colorModel == CmYuv ? Yuv[i] : Rgb[i];
}

bool ExtractColourPlane(int source, int plane, int result) {
  if (!SlotInUse(source) || !Store.Image[size_t(source)].IsColor || plane < 1 || plane > 3 || !ValidSlot(result) ||
      Store.InUse[size_t(result)] || source == result)
    return false;
  const TImageSlot& s = Store.Image[size_t(source)];
  TImageSlot& d = Store.Image[size_t(result)];
  d = TImageSlot{};
  CopyPlane(source, plane, result, 1);
  d.IsColor = 0;
  d.PlaneCount = 1;
  d.ColorModel = CmRgb;
  // The copied cards would bring back the third axis: they come first.
  CopyHeaderCards(source, result);
  SetHeader2Axis(result);
  CopyDisplayRecord(source, result);
  Store.Display[size_t(result)].DisplayType = DtGrey;
  Store.Display[size_t(result)].ChannelSelection = 0;
  const std::string& name = Store.FileName[size_t(source)];
  Store.FileName[size_t(result)] =
      ExtractFilePath(name) + PlanePrefix(s.ColorModel, plane) + ExtractFileName(name);
  UpdateMinMax(result);
  ClampDisplayRange(result, true);
  ComputeHistogram(result, false, false);
  return true;
}

}  // namespace astrelon
