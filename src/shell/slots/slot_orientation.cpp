#include "shell/slots/slot_orientation.h"

#include <algorithm>
#include <utility>

#include "core/run_state.h"
#include "platform/parallel_bands.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/slot_holds.h"

namespace astrelon {

namespace {

// Rows of at least this many pixels in all are worth sharing among threads.
constexpr int64_t PixelsPerThread = int64_t(1) << 18;

int Threads(int64_t items, int64_t pixelsPerItem) {
  return BandThreads(items, std::max<int64_t>(1, PixelsPerThread / std::max<int64_t>(pixelsPerItem, 1)),
                     UseWorkerThreads != 0);
}

// Planes 1..PlaneCount that hold a whole image.
template <typename F>
void ForEachFullPlane(TImageSlot& im, F&& fn) {
  for (int p = 1; p <= std::min(im.PlaneCount, 3); ++p)
    if (im.Planes[size_t(p)].size() >= im.PixelCount()) fn(p);
}

// Tile edge of the blocked transpose: a tile of source rows and one of
// destination rows both stay in the first-level cache.
constexpr int Tile = 32;

}  // namespace

bool MirrorSlotHorizontal(int slot) {
  if (!SlotInUse(slot) || SlotHeldByWorkers(slot)) return false;
  TImageSlot& im = Store.Image[size_t(slot)];
  const int w = im.Width;
  ForEachFullPlane(im, [&](int p) {
    ForEachBand(im.Height, Threads(im.Height, w), [&](int64_t first, int64_t last) {
      for (int64_t y = first; y < last; ++y) {
        float* row = im.Row(p, int(y)).data();
        std::reverse(row, row + w);
      }
    });
  });
  return true;
}

bool FlipSlotVertical(int slot) {
  if (!SlotInUse(slot) || SlotHeldByWorkers(slot)) return false;
  TImageSlot& im = Store.Image[size_t(slot)];
  const int h = im.Height;
  ForEachFullPlane(im, [&](int p) {
    ForEachBand(h / 2, Threads(h / 2, 2 * int64_t(im.Width)), [&](int64_t first, int64_t last) {
      for (int64_t y = first; y < last; ++y) {
        const auto top = im.Row(p, int(y)), bottom = im.Row(p, h - 1 - int(y));
        std::swap_ranges(top.begin(), top.end(), bottom.begin());
      }
    });
  });
  return true;
}

bool RotateSlotRight90(int slot) {
  if (!SlotInUse(slot) || SlotHeldByWorkers(slot)) return false;
  TImageSlot& im = Store.Image[size_t(slot)];
  const int w = im.Width, h = im.Height;
  if (w < 1 || h < 1) return false;
  // All new planes are made before any is replaced, so that running out of
  // memory leaves the image as it was.
  std::array<TPlane, 4> turned;
  ForEachFullPlane(im, [&](int p) { turned[size_t(p)].resize(im.PixelCount()); });
  // New row x holds old column x read from the bottom row up; bands of new rows
  // are written by one thread each, tile by tile.
  ForEachFullPlane(im, [&](int p) {
    const float* src = im.Planes[size_t(p)].data();
    float* dst = turned[size_t(p)].data();
    const int64_t tilesX = (w + Tile - 1) / Tile;
    ForEachBand(tilesX, Threads(tilesX, int64_t(Tile) * h), [&](int64_t first, int64_t last) {
      for (int64_t tx = first; tx < last; ++tx) {
        const int x0 = int(tx) * Tile, x1 = std::min(w, x0 + Tile);
        for (int y0 = 0; y0 < h; y0 += Tile) {
          const int y1 = std::min(h, y0 + Tile);
          for (int x = x0; x < x1; ++x) {
            float* out = dst + size_t(x) * size_t(h) + size_t(h - 1);
            for (int y = y0; y < y1; ++y) out[-y] = src[size_t(y) * size_t(w) + size_t(x)];
          }
        }
      }
    });
  });
  ForEachFullPlane(im, [&](int p) { im.Planes[size_t(p)].swap(turned[size_t(p)]); });
  im.Width = h;
  im.Height = w;
  SetNaxisCards(slot);
  return true;
}

}  // namespace astrelon
