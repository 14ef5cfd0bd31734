#include "frequency/spectra/spectrum_selected_inverse.h"

#include <algorithm>

#include "store/image_store.h"

namespace astrelon {

namespace {

bool SamePlanes(const TPlaneList& a, const TPlaneList& b) {
  return a.Count == b.Count && std::equal(a.Planes().begin(), a.Planes().end(), b.Planes().begin());
}

}  // namespace

void SelectPlanes(int slot, const TPlaneList& planes) {
  if (!ValidSlot(slot)) return;
  int32_t& selection = Store.Display[slot].ChannelSelection;
  for (selection = 0; selection <= 4; ++selection)
    if (SamePlanes(SelectedChannels(slot), planes)) return;
  selection = 0;
}

bool InverseIntoPlanes(int spectrum, int destination, const TPlaneList& planes,
                       const std::function<int(int spectrum)>& inverse) {
  if (!SlotInUse(spectrum) || !SlotInUse(destination)) return false;
  SelectPlanes(spectrum, planes);
  const int image = inverse(spectrum);
  if (image < 1 || image == destination || !SlotInUse(image)) return false;
  TImageSlot& in = Store.Image[image];
  TImageSlot& out = Store.Image[destination];
  bool fits = in.Width == out.Width && in.Height == out.Height;
  for (int p : planes.Planes())
    fits = fits && p <= in.PlaneCount && p <= out.PlaneCount && in.Planes[p].size() == out.PixelCount();
  if (fits)
    for (int p : planes.Planes()) out.Planes[p].swap(in.Planes[p]);
  FreeSlot(image);
  if (fits) UpdateMinMax(destination);
  return fits;
}

}  // namespace astrelon
