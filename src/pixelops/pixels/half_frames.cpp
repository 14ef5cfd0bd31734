#include "pixelops/pixels/half_frames.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

struct TFieldTap {
  int32_t Offset;
  float Weight;
};
constexpr std::array<TFieldTap, 4> FieldTaps{{{-3, -0.1f}, {-1, 0.6f}, {1, 0.6f}, {3, -0.1f}}};

bool PlanesComplete(const TImageSlot& im) {
  for (int p = 1; p <= std::clamp(im.PlaneCount, 1, 3); ++p)
    if (im.Planes[size_t(p)].size() < im.PixelCount()) return false;
  return true;
}

}  // namespace

void InterpolateHalfFrame(int slot, int field) {
  if (!SlotInUse(slot) || (field != 1 && field != 2)) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  if (!PlanesComplete(im)) return;
  const int32_t w = im.Width, h = im.Height;
  const int planes = std::clamp(im.PlaneCount, 1, 3);
  // Rows of the other field: 2 - f, 4 - f, ... They read only kept rows, so
  // the bands of rows can be written side by side.
  const int32_t firstRow = 2 - field;
  const int64_t rows = firstRow < h ? (h - firstRow + 1) / 2 : 0;
  const int64_t count = rows * planes;
  const int threads = BandThreads(count, std::max<int64_t>(1, (int64_t(1) << 15) / std::max(w, 1)),
                                  Options.Multicore != 0);
  ForEachBand(count, threads, [&](int64_t first, int64_t last) {
    for (int64_t k = first; k < last; ++k) {
      const int p = 1 + int(k / rows);
      const int32_t y = firstRow + 2 * int32_t(k % rows);
      std::span<float> row = im.Row(p, y);
      for (int32_t x = 0; x < w; ++x) {
        double sum = 0, weight = 0;
        for (const TFieldTap& t : FieldTaps) {
          const int32_t yy = y + t.Offset;
          if (yy < 0 || yy >= h) continue;
          const float v = im.At(p, x, yy);
          if (!IsValidPixel(v)) continue;
          sum += double(t.Weight) * double(v);
          weight += double(t.Weight);
        }
        if (weight > 0.1) row[size_t(x)] = float(sum / weight);
      }
    }
  });
}

void KeepHalfFrameRows(int slot, int field) {
  if (!SlotInUse(slot) || (field != 1 && field != 2)) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  if (im.Height < 2 || !PlanesComplete(im)) return;
  const int32_t h2 = im.Height / 2;
  const size_t w = size_t(im.Width);
  const int planes = std::clamp(im.PlaneCount, 1, 3);
  for (int p = 1; p <= planes; ++p) {
    TPlane& plane = im.Planes[size_t(p)];
    // Row r comes from row (f - 1) + 2r, never before r: moving in rising order is safe.
    for (int32_t r = 0; r < h2; ++r)
      std::memmove(plane.data() + size_t(r) * w, plane.data() + size_t(field - 1 + 2 * r) * w, w * sizeof(float));
    plane.resize(w * size_t(h2));
    plane.shrink_to_fit();
  }
  im.Height = h2;
  SetNaxisCards(slot);
}

std::string HalfFrameFileName(const std::string& fileName, const std::string& word, int field) {
  const size_t slash = fileName.find_last_of('/');
  const size_t cut = slash == std::string::npos ? 0 : slash + 1;
  return fileName.substr(0, cut) + word + std::to_string(field) + "_" + fileName.substr(cut);
}

}  // namespace astrelon
