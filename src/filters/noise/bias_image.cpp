#include "filters/noise/bias_image.h"

#include <algorithm>
#include <utility>

#include "core/settings.h"
#include "filters/dialog/filter_state.h"
#include "filters/noise/nlm_filter.h"
#include "kernels/regions/remove_hot_pixels.h"
#include "kernels/sampling/resample_image.h"
#include "platform/parallel_bands.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/raw/mosaic_repair.h"

namespace astrelon {

namespace {

// A slot taken for intermediate images and freed when the scope ends.
class TWorkImage {
public:
  TWorkImage() : slot_(FindFreeSlot()) {
    if (slot_ >= 1) Store.InUse[size_t(slot_)] = 1;
  }
  ~TWorkImage() {
    if (slot_ >= 1) FreeSlot(slot_);
  }
  TWorkImage(const TWorkImage&) = delete;
  TWorkImage& operator=(const TWorkImage&) = delete;
  explicit operator bool() const { return slot_ >= 1; }
  int Slot() const { return slot_; }

private:
  int slot_;
};

bool CopyInto(int source, const TWorkImage& copy) { return copy && CopyImageSlot(source, copy.Slot()); }

int Threads(int64_t pixels) { return BandThreads(pixels, int64_t(1) << 16, Options.Multicore != 0); }

// Non-local-means smoothing of `slot` through a copy, in the smooth-gradient
// mode, with work images of its own: a cache of the filter dialog (blur,
// difference, blank-filled source) must neither be used nor kept.
bool FilterBiasNoise(int slot) {
  TWorkImage copy;
  if (!CopyInto(slot, copy)) return false;
  TNLMParams params;
  BiasNoiseFilterParams(copy.Slot(), slot, params);
  ReleaseFilterSlot(FilterBlurSlot);
  ReleaseFilterSlot(FilterDiffSlot);
  const int32_t heldWork = std::exchange(FilterWorkSlot, -1);
  const bool done = NLMFilterStarten(params);
  FilterWorkSlot = heldWork;
  ReleaseFilterSlot(FilterBlurSlot);
  ReleaseFilterSlot(FilterDiffSlot);
  return done;
}

// The smoothing of a bias image in place: halving while the smaller side is
// `halveFrom` or more, hot pixels removed, non-local means.
bool SmoothBiasImage(int slot, int32_t halveFrom) {
  if (!HalveBiasImageFrom(slot, halveFrom)) return false;
  const TImageSlot& im = Store.Image[size_t(slot)];
  RemoveHotPixels(slot, 0, im.Width - 1, 0, im.Height - 1, 1.0f);
  UpdateMinMax(slot);
  return FilterBiasNoise(slot);
}

void ResampleTo(int slot, int32_t width, int32_t height) {
  ResampleImage(slot, Settings.InterpolationKind, width, 0, 0, height, true, false, false);
}

// Column of the first cell of class c in row y (the class's cells are every
// second column from there).
int32_t FirstCellOfClass(int c, int32_t y, int phase) {
  switch (c) {
    case 0: return 1 - phase;               // even rows
    case 1: return phase;                   // odd rows
    default: return int32_t(y % 2) ^ phase;  // green
  }
}

// Channel image c of a mosaic (see MakeBayerBiasImage) into `slot`.
void ExtractChannel(int source, int slot, int c, int phase) {
  const TImageSlot& s = Store.Image[size_t(source)];
  TImageSlot& t = Store.Image[size_t(slot)];
  t.FreePlanes();
  t.Width = s.Width / 2;
  t.Height = s.Height / 2;
  t.PlaneCount = 1;
  t.IsColor = 0;
  t.AllocatePlanesForOverwrite(1);
  ForEachBand(t.Height, Threads(int64_t(t.PixelCount())), [&](int64_t a, int64_t b) {
    for (int32_t y = int32_t(a); y < int32_t(b); ++y)
      for (int32_t x = 0; x < t.Width; ++x) {
        float v;
        if (c == 0) {
          v = s.At(1, 2 * x + 1 - phase, 2 * y);
        } else if (c == 1) {
          v = s.At(1, 2 * x + phase, 2 * y + 1);
        } else {
          const float g1 = s.At(1, 2 * x + phase, 2 * y), g2 = s.At(1, 2 * x + 1 - phase, 2 * y + 1);
          v = IsValidPixel(g1) && IsValidPixel(g2) ? (g1 + g2) / 2 : (IsValidPixel(g1) ? g1 : g2);
        }
        t.At(1, x, y) = v;
      }
  });
  UpdateMinMax(slot);
}

// BiasCellValue, inlined into the halving loop.
inline float CellValue(const std::array<float, 4>& cell, float resampled) {
  int n = 0;
  double sum = 0;
  float largest = 0;
  for (float v : cell)
    if (IsValidPixel(v)) {
      largest = n == 0 ? v : std::max(largest, v);
      sum += v;
      ++n;
    }
  if (n == 0) return resampled;
  return n >= 3 ? float((sum - largest) / (n - 1)) : float(sum / n);
}

}  // namespace

void BiasNoiseFilterParams(int source, int destination, TNLMParams& params) {
  const TImageSlot& im = Store.Image[size_t(destination)];
  params.Source = source;
  params.Destination = destination;
  params.X1 = 0;
  params.X2 = im.Width - 1;
  params.Y1 = 0;
  params.Y2 = im.Height - 1;
  params.PatchRadius = 2;
  params.SearchRadius = 6;
  params.Strength = 300;
  params.SmoothGradients = 1;
}

float BiasCellValue(const std::array<float, 4>& cell, float resampled) { return CellValue(cell, resampled); }

void HalveBiasImage(int sourceSlot, int destSlot) {
  if (!SlotInUse(sourceSlot) || !ValidSlot(destSlot)) return;
  if (sourceSlot != destSlot && !CopyImageSlot(sourceSlot, destSlot)) return;
  TImageSlot& im = Store.Image[size_t(destSlot)];
  const int32_t w = im.Width, h = im.Height;
  const int32_t hw = ScaledSide(w, 0.5), hh = ScaledSide(h, 0.5);
  if (hw < 1 || hh < 1 || 2 * hw > w || 2 * hh > h) return;
  const int planes = std::min(im.PlaneCount, 3);
  // The cells first; the resampled image is made only when a cell has no
  // valid value (it is read nowhere else).
  std::array<TPlane, 4> halved;
  std::array<std::vector<int64_t>, 4> emptyCells;
  for (int p = 1; p <= planes; ++p) {
    if (im.Planes[size_t(p)].size() != im.PixelCount()) return;
    halved[size_t(p)].resize(size_t(hw) * size_t(hh));
    std::vector<std::vector<int64_t>> empty(static_cast<size_t>(hh));
    const TImageSlot& s = im;
    ForEachBand(hh, Threads(int64_t(im.PixelCount())), [&](int64_t a, int64_t b) {
      for (int32_t y = int32_t(a); y < int32_t(b); ++y)
        for (int32_t x = 0; x < hw; ++x) {
          const std::array<float, 4> cell{s.At(p, 2 * x, 2 * y), s.At(p, 2 * x + 1, 2 * y),
                                          s.At(p, 2 * x, 2 * y + 1), s.At(p, 2 * x + 1, 2 * y + 1)};
          const float v = CellValue(cell, BlankPixel);
          halved[size_t(p)][size_t(y) * size_t(hw) + size_t(x)] = v;
          if (!IsValidPixel(v)) empty[size_t(y)].push_back(int64_t(y) * hw + x);
        }
    });
    for (const auto& row : empty) emptyCells[size_t(p)].insert(emptyCells[size_t(p)].end(), row.begin(), row.end());
  }
  const bool anyEmpty = std::any_of(emptyCells.begin(), emptyCells.end(), [](const auto& e) { return !e.empty(); });
  if (anyEmpty) {
    TWorkImage resampled;
    if (CopyInto(destSlot, resampled)) {
      ResampleImage(resampled.Slot(), Settings.InterpolationKind, 0, 0.5, 0.5, 0, false, false, false);
      const TImageSlot& r = Store.Image[size_t(resampled.Slot())];
      for (int p = 1; p <= planes; ++p)
        if (r.Width == hw && r.Height == hh && r.Planes[size_t(p)].size() == halved[size_t(p)].size())
          for (int64_t i : emptyCells[size_t(p)]) halved[size_t(p)][size_t(i)] = r.Planes[size_t(p)][size_t(i)];
    }
  }
  for (int p = 1; p <= planes; ++p) im.Planes[size_t(p)] = std::move(halved[size_t(p)]);
  im.Width = hw;
  im.Height = hh;
}

bool HalveBiasImageFrom(int slot, int32_t halveFrom) {
  while (SlotInUse(slot) && std::min(Store.Image[size_t(slot)].Width, Store.Image[size_t(slot)].Height) >= halveFrom) {
    const int32_t width = Store.Image[size_t(slot)].Width;
    HalveBiasImage(slot, slot);
    if (Store.Image[size_t(slot)].Width == width) return false;
  }
  return true;
}

bool MakeBiasImage(int source, int result) {
  if (!SlotInUse(source) || !SlotInUse(result)) return false;
  const int32_t w = Store.Image[size_t(source)].Width, h = Store.Image[size_t(source)].Height;
  if (!SmoothBiasImage(result, BiasHalvingLimitGrey)) return false;
  ResampleTo(result, w, h);
  return true;
}

bool MakeBayerBiasImage(int source, int result) {
  if (!SlotInUse(source) || !SlotInUse(result)) return false;
  const TImageSlot& s = Store.Image[size_t(source)];
  if (s.PlaneCount != 1 || s.Width < 2 || s.Height < 2) return false;
  const int32_t w = s.Width, h = s.Height;
  const int phase = DecideMosaicPhase(source);
  for (int c = 0; c < 3; ++c) {
    TWorkImage channel;
    if (!channel) return false;
    Store.Display[size_t(channel.Slot())] = Store.Display[size_t(source)];
    ExtractChannel(source, channel.Slot(), c, phase);
    if (!SmoothBiasImage(channel.Slot(), BiasHalvingLimitChannel + 1)) return false;
    ResampleTo(channel.Slot(), w, h);
    const TImageSlot& t = Store.Image[size_t(channel.Slot())];
    TImageSlot& r = Store.Image[size_t(result)];
    if (t.Width != w || t.Height != h || r.Width != w || r.Height != h) return false;
    for (int32_t y = (c == 1 ? 1 : 0); y < h; y += (c == 2 ? 1 : 2))
      for (int32_t x = FirstCellOfClass(c, y, phase); x < w; x += 2) r.At(1, x, y) = t.At(1, x, y);
  }
  return true;
}

}  // namespace astrelon
