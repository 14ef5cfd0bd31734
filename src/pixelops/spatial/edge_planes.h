#pragma once
// The frame of the edge images: every plane of a source slot into the same
// plane of a destination of its size (the menu passes a copy), rows in bands
// on all cores, in place from a copy of the plane.
#include <cstdint>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"

namespace astrelon {

// Calls rows(in, out, width, height, first, last) for the bands of each plane;
// `in` and `out` are whole planes. Nothing happens unless both slots are in use
// and the destination holds an image of the source's size with its planes.
template <typename F>
void ForEachEdgeBand(int source, int destination, F&& rows) {
  if (destination < 1 || !SlotInUse(source) || !SlotInUse(destination)) return;
  const TImageSlot& s = Store.Image[size_t(source)];
  TImageSlot& d = Store.Image[size_t(destination)];
  if (s.PlaneCount < 1 || s.Width != d.Width || s.Height != d.Height || d.PlaneCount < s.PlaneCount) return;
  const int32_t h = s.Height;
  for (int p = 1; p <= s.PlaneCount; ++p) {
    if (s.Planes[size_t(p)].size() < s.PixelCount() || d.Planes[size_t(p)].size() < d.PixelCount()) continue;
    // Working in place reads from a copy of the plane.
    TPlane copy;
    if (source == destination) copy.assign(s.Planes[size_t(p)].begin(), s.Planes[size_t(p)].end());
    const float* in = source == destination ? copy.data() : s.Planes[size_t(p)].data();
    float* out = d.Planes[size_t(p)].data();
    const int threads = BandThreads(h, 64, Options.Multicore != 0 && s.PixelCount() >= (size_t(1) << 18));
    ForEachBand(h, threads, [&](int64_t first, int64_t last) { rows(in, out, s.Width, h, first, last); });
  }
}

}  // namespace astrelon
