#include "filters/experimental/text_aa_filter.h"

#include <algorithm>
#include <cmath>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "store/image_slot.h"

namespace astrelon {

float TextAntiAliasPixel(float c, const TTextNeighbours& n) {
  const float all[8] = {n.L, n.R, n.U, n.D, n.UL, n.UR, n.DL, n.DR};
  const float hi = *std::max_element(all, all + 8), lo = *std::min_element(all, all + 8);
  const float mid = (hi + lo) / 2, h = std::fabs(c - mid) / 2;
  if (c >= mid) {
    const int e = (n.L < mid) + (n.R < mid) + (n.U < mid) + (n.D < mid);
    const int dg = (n.UL > mid) + (n.UR > mid) + (n.DL > mid) + (n.DR > mid);
    if (e == 4 && dg == 3) return c - 0.3333f * h;
    if ((e == 4 && dg == 2) || (e == 3 && dg == 1)) return c - 0.6666f * h;
    if (e != 2 || !((n.L < mid && n.R > mid) || (n.L >= mid && n.R <= mid))) return c;
    bool holds;
    if (n.L <= mid) holds = n.U <= mid ? (n.DL > mid || n.UR > mid) : (n.UL > mid || n.DR > mid);
    else holds = n.U <= mid ? (n.DR > mid || n.UL > mid) : (n.UR > mid || n.DL > mid);
    return holds ? c - h : c;
  }
  const int e = (n.L > mid) + (n.R > mid) + (n.U > mid) + (n.D > mid);
  const int dg = (n.UL < mid) + (n.UR < mid) + (n.DL < mid) + (n.DR < mid);
  if (e == 4 && dg == 3) return c + 0.3333f * h;
  if ((e == 4 && dg == 2) || (e == 3 && dg == 1)) return c + 0.6666f * h;
  if (e != 2 || !((n.L > mid && n.R < mid) || (n.L <= mid && n.R >= mid))) return c;
  bool skipped;
  if (n.L >= mid) skipped = n.U >= mid ? (n.DL >= mid && n.UR >= mid) : (n.UL >= mid && n.DR >= mid);
  else skipped = n.U < mid ? (n.UR >= mid && n.DL >= mid) : (n.DR >= mid && n.UL >= mid);
  return skipped ? c : c + h;
}

void TextAntiAliasPlane(std::span<const float> in, std::span<float> out, int32_t w, int32_t h) {
  const size_t count = size_t(std::max(w, 0)) * size_t(std::max(h, 0));
  if (w < 3 || h < 3 || in.size() < count || out.size() < count) return;
  const int64_t rows = h - 2;
  const int threads = BandThreads(rows * w, int64_t(1) << 15, Options.Multicore != 0);
  ForEachBand(rows, threads, [&](int64_t a, int64_t b) {
    for (int64_t y = a + 1; y < b + 1; ++y)
      for (int32_t x = 1; x < w - 1; ++x) {
        const size_t i = size_t(y) * size_t(w) + size_t(x), sw = size_t(w);
        const TTextNeighbours n{in[i - 1], in[i + 1], in[i - sw], in[i + sw],
                                in[i - sw - 1], in[i - sw + 1], in[i + sw - 1], in[i + sw + 1]};
        const float c = in[i];
        if (!IsValidPixel(c) || !IsValidPixel(n.L) || !IsValidPixel(n.R) || !IsValidPixel(n.U) ||
            !IsValidPixel(n.D) || !IsValidPixel(n.UL) || !IsValidPixel(n.UR) || !IsValidPixel(n.DL) ||
            !IsValidPixel(n.DR))
          continue;
        out[i] = TextAntiAliasPixel(c, n);
      }
  });
}

}  // namespace astrelon
