#include "store/color_models.h"

#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

void (*ReleaseWindowUndoHook)(int slot) = nullptr;

namespace {

bool ColourSlot(int slot) {
  if (!SlotInUse(slot)) return false;
  const TImageSlot& im = Store.Image[slot];
  return im.IsColor && im.PlaneCount >= 3 && im.Planes[1].size() >= im.PixelCount() &&
         im.Planes[2].size() >= im.PixelCount() && im.Planes[3].size() >= im.PixelCount();
}

void AfterModelSwitch(int slot, const char* history) {
  ComputeHistogram(slot, false, true);
  SetCtype3Card(slot);
  AddHistoryCard(slot, history, 0);
  if (ReleaseWindowUndoHook) ReleaseWindowUndoHook(slot);
}

}  // namespace

bool RGBtoYUV(int slot) {
  if (!ColourSlot(slot) || Store.Image[slot].ColorModel != CmRgb) return false;
  TImageSlot& im = Store.Image[slot];
  float* r = im.Planes[1].data();
  float* g = im.Planes[2].data();
  float* b = im.Planes[3].data();
  for (size_t i = 0, n = im.PixelCount(); i < n; ++i) {
    if (!IsValidPixel(r[i]) || !IsValidPixel(g[i]) || !IsValidPixel(b[i])) {
      r[i] = g[i] = b[i] = BlankPixel;
      continue;
    }
    const float y = 0.299f * r[i] + 0.587f * g[i] + 0.114f * b[i];
    const float u = 0.493f * (b[i] - y);
    const float v = 0.877f * (r[i] - y);
    r[i] = y;
    g[i] = u;
    b[i] = v;
  }
  im.ColorModel = CmYuv;
  Store.Display[slot].DisplayType = DtColorYuv;
  AfterModelSwitch(slot, "RGBtoYUV");
  return true;
}

bool YUVtoRGB(int slot) {
  if (!ColourSlot(slot) || Store.Image[slot].ColorModel != CmYuv) return false;
  TImageSlot& im = Store.Image[slot];
  float* py = im.Planes[1].data();
  float* pu = im.Planes[2].data();
  float* pv = im.Planes[3].data();
  for (size_t i = 0, n = im.PixelCount(); i < n; ++i) {
    if (!IsValidPixel(py[i]) || !IsValidPixel(pu[i]) || !IsValidPixel(pv[i])) {
      py[i] = pu[i] = pv[i] = BlankPixel;
      continue;
    }
    const float r = py[i] + pv[i] / 0.877f;
    const float b = py[i] + pu[i] / 0.493f;
    const float g = (py[i] - 0.299f * r - 0.114f * b) / 0.587f;
    py[i] = r;
    pu[i] = g;
    pv[i] = b;
  }
  im.ColorModel = CmRgb;
  Store.Display[slot].DisplayType = DtColorRgb;
  AfterModelSwitch(slot, "YUVtoRGB");
  return true;
}

void ToggleColorModel(int slot) {
  if (!SlotInUse(slot) || !Store.Image[slot].IsColor) return;
  if (Store.Image[slot].ColorModel == CmYuv)
    YUVtoRGB(slot);
  else
    RGBtoYUV(slot);
}

bool ColorModelsDiffer(int slot1, int slot2) {
  if (!SlotInUse(slot1) || !SlotInUse(slot2)) return false;
  const TImageSlot& a = Store.Image[slot1];
  const TImageSlot& b = Store.Image[slot2];
  return a.IsColor && b.IsColor && a.ColorModel != b.ColorModel;
}

void SetDisplayColorType(int slot) {
  if (slot < 0 || slot >= SlotArraySize) return;
  const TImageSlot& im = Store.Image[slot];
  Store.Display[slot].DisplayType = !im.IsColor ? DtGrey : (im.ColorModel == CmYuv ? DtColorYuv : DtColorRgb);
}

}  // namespace astrelon
