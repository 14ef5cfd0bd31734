#include "shell/stars/star_pick.h"

#include <algorithm>
#include <cmath>

#include "common/round_even.h"
#include "shell/stars/star_cutout_min_max.h"
#include "store/image_store.h"

namespace astrelon {

TStarCutout LockedStar;
TStarCutout MeasuredStar;
TStarCutout PanelCutout;
int32_t PanelCellSize = 32;

namespace {

std::string WithoutFolder(const std::string& name) {
  const size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace

void FillStarCutout(int slot, int32_t x, int32_t y, TStarCutout& cutout, int32_t channel) {
  TImageSlot& img = Store.Image[size_t(slot)];
  cutout.HoldCount = 5;
  cutout.PlaneCount = std::clamp(img.PlaneCount, 1, 3);
  cutout.ColorModel = img.ColorModel;
  cutout.CellSize = PanelCellSize == 16 ? 16 : 32;
  cutout.OriginX = x - 15;
  cutout.OriginY = y - 15;
  for (int p = 1; p <= 3; ++p) {
    auto& dst = cutout.Planes[size_t(p - 1)];
    const bool has = p <= cutout.PlaneCount && img.Planes[size_t(p)].size() >= img.PixelCount();
    for (int j = 0; j < StarCutoutSize; ++j) {
      const int64_t iy = int64_t(cutout.OriginY) + j;
      for (int i = 0; i < StarCutoutSize; ++i) {
        const int64_t ix = int64_t(cutout.OriginX) + i;
        const bool inside = has && ix >= 0 && iy >= 0 && ix < img.Width && iy < img.Height;
        dst[size_t(j * StarCutoutSize + i)] = inside ? img.Planes[size_t(p)][size_t(iy * img.Width + ix)] : BlankPixel;
      }
    }
    if (p <= cutout.PlaneCount)
      cutout.SaturationLevel[size_t(p)] =
          img.PlaneMax[size_t(p)] - (img.PlaneMax[size_t(p)] - img.PlaneMin[size_t(p)]) * 0.005f;
  }
  CutoutMinMax(cutout);
  if (channel > 0)
    cutout.Channel = std::min(channel, cutout.PlaneCount);
  else
    cutout.Channel = (img.IsColor && img.ColorModel == CmRgb && cutout.PlaneCount == 3) ? 2 : 1;
  cutout.FileName = WithoutFolder(Store.FileName[size_t(slot)]);
  cutout.NeedsRedraw = 1;
}

void PickStar(int slot, int32_t x, int32_t y, int32_t channel, TStarCutout& cutout, TStarMode mode, bool analyse,
              bool search, const std::optional<TPeakPixel>& peak, const TCutoutPreparation& prepare) {
  const auto fill = [&](int32_t fx, int32_t fy, int32_t c) {
    FillStarCutout(slot, fx, fy, cutout, c);
    if (prepare) {
      prepare(cutout);
      CutoutMinMax(cutout);
    }
  };
  fill(x, y, channel);
  if (!analyse || !(cutout.MinValue < 1e19f)) {
    cutout.FullWidthX = cutout.FullWidthY = 0;
    cutout.Analysed = 1;
    return;
  }
  AnalyseStarCutout(cutout.Channel, cutout, mode, search, peak);
  const int32_t oldX = cutout.OriginX, oldY = cutout.OriginY;
  const float cx = cutout.CentreX, cy = cutout.CentreY;
  fill(x - 15 + RoundEvenToInt(cx), y - 15 + RoundEvenToInt(cy), cutout.Channel);
  if (mode == TStarMode::Photometry) AnalyseStarCutout(cutout.Channel, cutout, mode, search, peak);
  if (std::max(cutout.FullWidthX, cutout.FullWidthY) > 6.0f) {
    if (mode == TStarMode::Position) AnalyseStarCutout(cutout.Channel, cutout, mode, search, peak);
    cutout.CellSize = 32;
  } else {
    if (mode == TStarMode::Position) {
      // The first fit's centre, moved into the re-centred cutout.
      cutout.CentreX = cx + float(oldX - cutout.OriginX);
      cutout.CentreY = cy + float(oldY - cutout.OriginY);
    }
    cutout.CellSize = 16;
  }
  cutout.Analysed = 1;
}

}  // namespace astrelon
