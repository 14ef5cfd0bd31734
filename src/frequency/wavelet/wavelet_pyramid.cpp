#include "frequency/wavelet/wavelet_pyramid.h"

#include <algorithm>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "store/display/display_histogram.h"

namespace astrelon {

std::array<TPyramidSet, PyramidSetCount> PyramidSets;

namespace {

bool ValidSet(int set) { return set >= 0 && set < PyramidSetCount; }

bool RectInside(int slot, const TRectI& r) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  return r.Left >= 0 && r.Top >= 0 && r.Left <= r.Right && r.Top <= r.Bottom && r.Right < im.Width &&
         r.Bottom < im.Height;
}

// The rectangle of plane p of a slot as a view (the slot's rows are its width apart).
TPlaneView RectView(int slot, int p, const TRectI& r) {
  TImageSlot& im = Store.Image[size_t(slot)];
  float* origin = im.Planes[size_t(p)].data() + int64_t(r.Top) * im.Width + r.Left;
  return {origin, r.Right - r.Left + 1, r.Bottom - r.Top + 1, im.Width};
}

void BuildPlane(TPyramidSet& s, int setIndex, int source, int p, const TRectI& rect, int threads) {
  auto& levels = s.Levels[size_t(p)];
  const TPlaneView from = RectView(source, p, rect);
  TPyramidLevel& base = levels[0];
  base.Width = from.Width;
  base.Height = from.Height;
  base.Data.resize(size_t(from.Width) * size_t(from.Height));
  for (int32_t y = 0; y < from.Height; ++y) std::copy_n(from.Row(y), from.Width, base.View().Row(y));
  std::vector<float> scratch;  // the row-reduced plane
  for (int l = 1; l <= s.LevelCount; ++l) {
    TPyramidLevel& fine = levels[size_t(l - 1)];
    TPyramidLevel& coarse = levels[size_t(l)];
    coarse.Width = ReducedLength(fine.Width);
    coarse.Height = ReducedLength(fine.Height);
    coarse.Data.resize(size_t(coarse.Width) * size_t(coarse.Height));
    ReduceLevel(fine.View(), coarse.View(), scratch, threads);
    // The finer level keeps what the coarser one does not hold (blank where either is).
    const TPlaneView detail = fine.View();
    ExpandLevel(coarse.View(), detail, threads, TExpandInto::FromDetail, &detail);
    UpdateLevelRange(setIndex, p, l - 1);
  }
  UpdateLevelRange(setIndex, p, s.LevelCount);
}

}  // namespace

int PyramidThreads(int64_t pixels) { return BandThreads(pixels, int64_t(1) << 14, Options.Multicore != 0); }

bool BuildPyramid(int source, int set, int levels, const TRectI& rect) {
  if (!ValidSet(set)) return false;
  FreePyramid(set);
  if (!SlotInUse(source) || levels < 1 || levels > PyramidMaxLevels || !RectInside(source, rect)) return false;
  TPyramidSet& s = PyramidSets[size_t(set)];
  const TImageSlot& im = Store.Image[size_t(source)];
  s.Width = rect.Right - rect.Left + 1;
  s.Height = rect.Bottom - rect.Top + 1;
  s.PlaneCount = im.PlaneCount;
  s.LevelCount = levels;
  s.Rect = rect;
  const int threads = PyramidThreads(int64_t(s.Width) * s.Height);
  for (int p = FirstChannel(source); p >= 1 && p <= std::min(im.PlaneCount, 3); NextChannel(source, p)) {
    if (im.Planes[size_t(p)].size() < im.PixelCount()) continue;
    BuildPlane(s, set, source, p, rect, threads);
    s.Built[size_t(p)] = true;
  }
  return true;
}

void CollapsePyramid(int set, int destination, int plane, int levels, std::span<const float> gains,
                     const TRectI& rect) {
  if (!ValidSet(set) || plane < 1 || plane > 3 || !SlotInUse(destination)) return;
  TPyramidSet& s = PyramidSets[size_t(set)];
  if (!s.Built[size_t(plane)] || levels < 1 || levels > s.LevelCount || int(gains.size()) < levels) return;
  if (rect.Right - rect.Left + 1 != s.Width || rect.Bottom - rect.Top + 1 != s.Height) return;
  if (!RectInside(destination, rect) || Store.Image[size_t(destination)].Planes[size_t(plane)].size() <
                                             Store.Image[size_t(destination)].PixelCount())
    return;
  auto& lv = s.Levels[size_t(plane)];
  const int threads = PyramidThreads(int64_t(s.Width) * s.Height);
  // The rebuilt coarser levels go to the set's two buffers in turn, the finest
  // into the destination's rectangle.
  TPlaneView coarse = lv[size_t(levels)].View();
  for (int l = levels; l >= 1; --l) {
    TPyramidLevel& fine = lv[size_t(l - 1)];
    TPlaneView out = RectView(destination, plane, rect);
    if (l > 1) {
      TPlane& buffer = s.Rebuilt[size_t(l % 2)];
      buffer.resize(size_t(fine.Width) * size_t(fine.Height));
      out = {buffer.data(), fine.Width, fine.Height, fine.Width};
    }
    const TPlaneView detail = fine.View();
    ExpandLevel(coarse, out, threads, TExpandInto::AddToDetail, &detail, gains[size_t(l - 1)]);
    coarse = out;
  }
}

void FreePyramid(int set) {
  if (!ValidSet(set)) return;
  PyramidSets[size_t(set)] = TPyramidSet{};
}

void UpdateLevelRange(int set, int plane, int level) {
  if (!ValidSet(set) || plane < 1 || plane > 3 || level < 0 || level > PyramidMaxLevels) return;
  TPyramidLevel& l = PyramidSets[size_t(set)].Levels[size_t(plane)][size_t(level)];
  float lo = 1e20f, hi = -1e11f;
  // Blank pixels are no data: taken in they would make the range enormous.
  for (const float v : l.Data)
    if (IsValidPixel(v)) {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  if (hi < lo) {
    lo = 0;
    hi = 1;
  }
  l.Min = lo;
  l.Max = hi;
}

}  // namespace astrelon
