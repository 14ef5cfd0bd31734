#include "filters/sharpening/cores/kept_cores.h"

#include <algorithm>
#include <cmath>

#include "filters/sharpening/cores/clipped_cores.h"
#include "store/image_slot.h"

namespace astrelon {

void TKeptCores::Prepare(int plane, std::span<const float> source, int32_t w, int32_t h, const TWorkRect& rect,
                         float background, float noise, float clip) {
  std::vector<TEntry>& entries = entries_[size_t(plane)];
  entries.clear();
  shown_[size_t(plane)] = false;
  const int32_t reach = int32_t(CoreReach);
  const float reach2 = CoreReach * CoreReach;
  auto inside = [&](int32_t x, int32_t y) { return x >= rect.x1 && x <= rect.x2 && y >= rect.y1 && y <= rect.y2; };
  for (const TClippedCore& core : FindClippedCores(source, w, h, background, noise, clip))
    for (int64_t i : core.Pixels) {
      const int32_t cx = int32_t(i % w), cy = int32_t(i / w);
      if (inside(cx, cy)) entries.push_back({i, source[size_t(i)], source[size_t(i)], true});
      for (int32_t y = std::max(cy - reach, rect.y1); y <= std::min(cy + reach, rect.y2); ++y)
        for (int32_t x = std::max(cx - reach, rect.x1); x <= std::min(cx + reach, rect.x2); ++x)
          if (float((x - cx) * (x - cx) + (y - cy) * (y - cy)) <= reach2 && (x != cx || y != cy))
            entries.push_back({int64_t(y) * w + x, source[size_t(i)], source[size_t(int64_t(y) * w + x)], false});
    }
  // One entry per pixel: a core's wins, else the highest core value within
  // reach.
  std::sort(entries.begin(), entries.end(), [](const TEntry& a, const TEntry& b) {
    return a.At != b.At ? a.At < b.At : a.Core != b.Core ? a.Core : a.Top > b.Top;
  });
  const auto same = [](const TEntry& a, const TEntry& b) { return a.At == b.At; };
  entries.erase(std::unique(entries.begin(), entries.end(), same), entries.end());
  for (TEntry& e : entries)
    if (!e.Core) e.Top = std::max(e.Top, source[size_t(e.At)]);
  iterated_[size_t(plane)].assign(entries.size(), 0.0f);
}

void TKeptCores::Show(int plane, std::span<float> destination) {
  if (shown_[size_t(plane)]) return;
  const std::vector<TEntry>& entries = entries_[size_t(plane)];
  std::vector<float>& iterated = iterated_[size_t(plane)];
  for (size_t k = 0; k < entries.size(); ++k) {
    float& d = destination[size_t(entries[k].At)];
    iterated[k] = d;
    // A blank or NaN value within reach stays as it is.
    if (entries[k].Core)
      d = entries[k].Top;
    else if (d == d && IsValidPixel(d))
      d = std::clamp(d, entries[k].Floor, entries[k].Top);
  }
  shown_[size_t(plane)] = true;
}

void TKeptCores::Resume(int plane, std::span<float> destination) {
  if (!shown_[size_t(plane)]) return;
  const std::vector<TEntry>& entries = entries_[size_t(plane)];
  const std::vector<float>& iterated = iterated_[size_t(plane)];
  for (size_t k = 0; k < entries.size(); ++k) destination[size_t(entries[k].At)] = iterated[k];
  shown_[size_t(plane)] = false;
}

}  // namespace astrelon
