#include "store/planes/percentile_over_planes.h"

#include <algorithm>

#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

float PlaneLevel(int slot, int plane, float percent) {
  const TImageSlot& im = Store.Image[slot];
  TPercentileLevels levels;
  GetPercentileLevels(slot, plane, 0, im.Width - 1, 0, im.Height - 1, percent, percent, levels);
  return float(levels.LevelA);
}

int PlanesOf(int slot) {
  const TImageSlot& im = Store.Image[slot];
  return im.IsColor ? std::min(im.PlaneCount, 3) : 1;
}

}  // namespace

float GetPercentileMinOverPlanes(int slot, float percent) {
  float level = PlaneLevel(slot, 1, percent);
  for (int p = 2; p <= PlanesOf(slot); ++p) level = std::min(level, PlaneLevel(slot, p, percent));
  return level;
}

float GetPercentileMaxOverPlanes(int slot, float percent) {
  float level = PlaneLevel(slot, 1, percent);
  for (int p = 2; p <= PlanesOf(slot); ++p) level = std::max(level, PlaneLevel(slot, p, percent));
  return level;
}

}  // namespace astrelon
