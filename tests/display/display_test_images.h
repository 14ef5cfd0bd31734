#pragma once
// Small images for the display tests.
#include <initializer_list>
#include <vector>

#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon::test {

// Puts a grey image of the given values (row-major) into slot and sets its minimum
// and maximum; the display spans black..white with a straight gamma.
inline void MakeGreySlot(int slot, int w, int h, const std::vector<float>& values, float black, float white) {
  TImageSlot& im = Store.Image[slot];
  im.Width = w;
  im.Height = h;
  im.IsColor = 0;
  im.PlaneCount = 1;
  im.ColorModel = CmRgb;
  im.AllocatePlanes(1);
  for (size_t i = 0; i < im.Planes[1].size(); ++i) im.Planes[1][i] = i < values.size() ? values[i] : 0.0f;
  Store.InUse[slot] = 1;
  MakeDefaultHeader(slot);
  UpdateMinMax(slot);
  TDisplayRecord& d = Store.Display[slot];
  d = TDisplayRecord{};
  d.Black = black;
  d.White = white;
  d.RangeLow = std::min(black, im.MinValue);
  d.RangeHigh = std::max(white, im.MaxValue);
  d.Gamma = 1;
  d.CurveMode = 0;
  d.DisplayType = DtGrey;
}

// A colour image with the three planes given.
inline void MakeColourSlot(int slot, int w, int h, const std::vector<float>& p1, const std::vector<float>& p2,
                           const std::vector<float>& p3, int model, float black, float white) {
  MakeGreySlot(slot, w, h, p1, black, white);
  TImageSlot& im = Store.Image[slot];
  im.IsColor = 1;
  im.PlaneCount = 3;
  im.ColorModel = model;
  im.AllocatePlanes(3);
  im.Planes[2].assign(p2.begin(), p2.end());
  im.Planes[3].assign(p3.begin(), p3.end());
  im.Planes[2].resize(im.PixelCount(), 0.0f);
  im.Planes[3].resize(im.PixelCount(), 0.0f);
  UpdateMinMax(slot);
  Store.Display[slot].DisplayType = model == CmYuv ? DtColorYuv : DtColorRgb;
}

}  // namespace astrelon::test
