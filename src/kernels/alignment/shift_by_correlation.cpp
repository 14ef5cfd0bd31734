#include "kernels/alignment/shift_by_correlation.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "core/busy_cursor.h"
#include "core/settings.h"
#include "kernels/alignment/block_match_cost.h"
#include "kernels/alignment/cost_grid_fft.h"
#include "kernels/alignment/match_quality.h"
#include "kernels/mosaic/mosaic_kernels.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "platform/vector_lanes.h"
#include "store/planes/image_statistics.h"

#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

bool ShiftCostsBySpectra = true;
bool ShiftSpectraInSingle = true;

namespace {

constexpr float Unevaluated = NoBlockMatchCost;
constexpr float EvaluatedBelow = 0.9f * NoBlockMatchCost;

void ClipRect(TWorkRect& r, const TImageSlot& im) {
  r.x1 = std::max(r.x1, 0);
  r.y1 = std::max(r.y1, 0);
  r.x2 = std::min(r.x2, im.Width - 1);
  r.y2 = std::min(r.y2, im.Height - 1);
}

// The requested plane of an RGB colour image, else plane 1.
int CorrelationPlane(const TImageSlot& im, int plane) {
  return im.IsColor && im.ColorModel == CmRgb && plane >= 1 && plane <= std::min(im.PlaneCount, 3) ? plane : 1;
}

// Green at the buffer's first pixel: its non-green pixels start at column 1.
int32_t CheckerboardPhase(int32_t x, int32_t y) {
  return MosaicCellColor(MosaicSettings.Cells, x, y) == McGreen ? 1 : 0;
}

// The cost grid of the search: nx x ny cells, cell (i, j) placing the block's
// top-left pixel at (ox + i, oy + j) of the second image.
struct TCostGrid {
  int32_t nx = 0, ny = 0;
  std::vector<float> Cost;
  float At(int32_t i, int32_t j) const { return Cost[size_t(j) * size_t(nx) + size_t(i)]; }
};

// Parabola vertex of one line of three costs and the weight of that line.
struct TVertex {
  double Offset = 0, Weight = 0;
};
TVertex LineVertex(double fm, double f0, double fp) {
  TVertex v;
  if (!(fm < EvaluatedBelow && fp < EvaluatedBelow)) return v;
  const double fn = std::min(fm, fp);
  const double damping = f0 > 1e-10 ? 1 + 0.001 * (fn / f0) * (fn / f0) : 1;
  const double c = 2 * f0 - fp - fm;
  if (c < -1e-10) v.Offset = 0.5 * (fp - fm) / (c * damping);
  const double low = std::min(f0, fn);
  v.Weight = low > 1e-10 ? 1 / low : 1e18;
  return v;
}

// Weighted mean of the vertices of the centre line and its two neighbours
// (those at a fifth of the weight); 0 when every weight is 0.
double SubPixelOffset(const TVertex& below, const TVertex& centre, const TVertex& above) {
  const double den = centre.Weight + 0.2 * (below.Weight + above.Weight);
  if (!(den > 0)) return 0;
  return (centre.Offset * centre.Weight + 0.2 * (below.Offset * below.Weight + above.Offset * above.Weight)) / den;
}

// Place of the first smallest cost, as std::min_element finds it: the smallest
// value by lanes, then its first place (min_element itself when a cost is
// NaN). (Selections on one comparison each: GCC lowers combined masks of an
// inlined function for the default processor.)
[[gnu::always_inline]] inline size_t SmallestCostOf(const std::vector<float>& cost) {
  using simd::TVec8f;
  const size_t n = cost.size();
  const float* c = cost.data();
  TVec8f m = simd::Splat<TVec8f>(std::numeric_limits<float>::infinity()), nan{};
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const TVec8f a = simd::LoadLanes<TVec8f>(c + i);
    nan = a == a ? nan : 1.0f;
    m = a < m ? a : m;
  }
  float best = std::numeric_limits<float>::infinity();
  bool anyNan = false;
  for (int l = 0; l < 8; ++l) best = std::min(best, m[l]), anyNan |= nan[l] != 0.0f;
  for (; i < n; ++i) anyNan |= c[i] != c[i], best = std::min(best, c[i]);
  if (anyNan) return size_t(std::min_element(cost.begin(), cost.end()) - cost.begin());
  for (i = 0; i < n; ++i)
    if (c[i] == best) return i;
  return 0;
}

size_t SmallestCostPlain(const std::vector<float>& cost) { return SmallestCostOf(cost); }
#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 size_t SmallestCostAvx2(const std::vector<float>& cost) { return SmallestCostOf(cost); }
#endif

size_t SmallestCost(const std::vector<float>& cost) {
#if ASTRELON_HAVE_AVX2
  if (CpuHasAvx2()) return SmallestCostAvx2(cost);
#endif
  return SmallestCostPlain(cost);
}

// The reference block times s into ref (w x h; blank values as BlankPixel),
// eight values at a time.
[[gnu::always_inline]] inline void ScaledBlockOf(const float* src, int64_t stride, int32_t w, int32_t h, double s,
                                                 float* ref) {
  using simd::TVec4d;
  typedef float TVec4f __attribute__((vector_size(16)));
  for (int32_t y = 0; y < h; ++y) {
    const float* row = src + y * stride;
    float* out = ref + size_t(y) * size_t(w);
    int32_t x = 0;
    for (; x + 4 <= w; x += 4) {
      const TVec4f v = simd::LoadLanes<TVec4f>(row + x);
      const TVec4f scaled = __builtin_convertvector(__builtin_convertvector(v, TVec4d) * s, TVec4f);
      simd::StoreLanes(out + x, v > BlankLimit ? scaled : BlankPixel);
    }
    for (; x < w; ++x) out[x] = IsValidPixel(row[x]) ? float(row[x] * s) : BlankPixel;
  }
}

void ScaledBlockPlain(const float* src, int64_t stride, int32_t w, int32_t h, double s, float* ref) {
  ScaledBlockOf(src, stride, w, h, s, ref);
}
#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void ScaledBlockAvx2(const float* src, int64_t stride, int32_t w, int32_t h, double s, float* ref) {
  ScaledBlockOf(src, stride, w, h, s, ref);
}
#endif

}  // namespace

TShiftResult FindShiftByCorrelation(int refSlot, int refPlane, int secondSlot, int secondPlane, TWorkRect refRect,
                                    TWorkRect searchRect, int32_t radius, bool isMosaic, double scale) {
  TShiftResult result;
  if (!SlotInUse(refSlot) || !SlotInUse(secondSlot)) return result;
  const TImageSlot& ri = Store.Image[size_t(refSlot)];
  const TImageSlot& si = Store.Image[size_t(secondSlot)];
  ClipRect(searchRect, si);
  ClipRect(refRect, ri);
  const TBusyCursorScope busy;
  const int p1 = CorrelationPlane(ri, refPlane), p2 = CorrelationPlane(si, secondPlane);
  const std::span<const float> refData = ri.Plane(p1), secondData = si.Plane(p2);

  const int32_t W = refRect.x2 - refRect.x1 + 1, H = refRect.y2 - refRect.y1 + 1;
  const double cx = (W - 1) * 0.5, cy = (H - 1) * 0.5;
  const bool vector = SseEnabled;
  const int32_t r = std::min(vector ? 80 : 65, radius);
  TCostGrid grid;
  grid.nx = std::max(std::min(r, (3 * W) / 2), 3);
  grid.ny = std::max(std::min(r, (3 * H) / 2), 3);
  const int32_t hx = (grid.nx + 1) / 2, hy = (grid.ny + 1) / 2, K = std::max(hx, hy);
  if (W < 3 || H < 3 || refData.size() < ri.PixelCount() || secondData.size() < si.PixelCount()) {
    MatchQuality = 0.0;
    return result;
  }
  grid.Cost.assign(size_t(grid.nx) * size_t(grid.ny), Unevaluated);

  const int32_t ox = (searchRect.x1 + searchRect.x2 - W - grid.nx) / 2;
  const int32_t oy = (searchRect.y1 + searchRect.y2 - H - grid.ny) / 2;

  // The second image's pixels the cells read: the plane itself, or a buffer of
  // the search area whose non-green pixels are filled from their neighbours.
  std::vector<float> buffer;
  std::span<const float> second = secondData;
  int64_t stride = si.Width;
  int32_t limitW = si.Width, limitH = si.Height, baseX = ox, baseY = oy;
  if (isMosaic) {
    const int32_t bw = 2 * hx + 1 + W, bh = 2 * hy + 1 + H;
    buffer.assign(size_t(bw) * size_t(bh), BlankPixel);
    for (int32_t v = 0; v < bh; ++v) {
      const int64_t y = int64_t(oy) + v;
      if (y < 0 || y >= si.Height) continue;
      for (int32_t u = 0; u < bw; ++u) {
        const int64_t x = int64_t(ox) + u;
        if (x >= 0 && x < si.Width) buffer[size_t(v) * size_t(bw) + size_t(u)] = secondData[size_t(y * si.Width + x)];
      }
    }
    InterpolateCheckerboardPixels(buffer, bw, bh, CheckerboardPhase(ox, oy), bw);
    second = buffer;
    stride = bw;
    limitW = bw;
    limitH = bh;
    baseX = baseY = 0;
  }

  // Contrast factor: the second image's value range over the search area
  // grown by the grid's half sizes against the reference block's range.
  double s = scale;
  if (!(scale > 0)) {
    TPercentileLevels sl, rl;
    GetPercentileLevels(secondSlot, p2, searchRect.x1 - hx, searchRect.x2 + hx, searchRect.y1 - hy,
                        searchRect.y2 + hy, 1.0, 99.5, sl);
    GetPercentileLevels(refSlot, p1, refRect.x1, refRect.x2, refRect.y1, refRect.y2, 4.0, 98.0, rl);
    s = std::max(sl.LevelB - sl.LevelA, 0.001) / std::max(rl.LevelB - rl.LevelA, 0.001);
  }
  result.UsedScale = float(s);

  // The scaled reference block (four blank values of room after it).
  std::vector<float> ref(size_t(W) * size_t(H) + 4, BlankPixel);
  {
    const float* src = refData.data() + size_t(refRect.y1) * size_t(ri.Width) + size_t(refRect.x1);
#if ASTRELON_HAVE_AVX2
    if (CpuHasAvx2())
      ScaledBlockAvx2(src, ri.Width, W, H, s, ref.data());
    else
#endif
      ScaledBlockPlain(src, ri.Width, W, H, s, ref.data());
  }
  if (isMosaic)
    InterpolateCheckerboardPixels(ref, W, H, CheckerboardPhase(refRect.x1, refRect.y1), W);
  const std::span<const float> block = std::span<const float>(ref).first(size_t(W) * size_t(H));

  auto eligible = [&](int32_t i, int32_t j) {
    const int32_t x = baseX + i, y = baseY + j;
    return i >= 0 && j >= 0 && i < grid.nx && j < grid.ny && x >= 0 && y >= 0 && x + W < limitW && y + H < limitH;
  };
  // Cells computed pixel by pixel (side by side when each thread gets about two
  // million pixel pairs, enough to be worth its start); a cell and its right
  // neighbour next in the list are computed together.
  const int64_t minCells = std::max<int64_t>(1, (int64_t(1) << 21) / (int64_t(W) * H));
  std::vector<std::pair<size_t, bool>> jobs;  // first cell, with its right neighbour
  auto direct = [&](const std::vector<std::pair<int32_t, int32_t>>& cells) {
    jobs.clear();
    for (size_t c = 0; c < cells.size(); ++c) {
      const bool pair = c + 1 < cells.size() && cells[c + 1].first == cells[c].first + 1 &&
                        cells[c + 1].second == cells[c].second;
      jobs.emplace_back(c, pair);
      c += pair ? 1 : 0;
    }
    const int threads = BandThreads(int64_t(cells.size()), minCells, Options.Multicore != 0);
    ForEachBand(int64_t(jobs.size()), threads, [&](int64_t first, int64_t last) {
      for (int64_t k = first; k < last; ++k) {
        const auto [c, pair] = jobs[size_t(k)];
        const auto [i, j] = cells[c];
        const size_t at = size_t(baseY + j) * size_t(stride) + size_t(baseX + i);
        float* cost = grid.Cost.data() + size_t(j) * size_t(grid.nx) + size_t(i);
        if (pair) {
          double left = 0, right = 0;
          BlockMatchCostPair(block, W, H, second.subspan(at), stride, vector, left, right);
          cost[0] = float(left), cost[1] = float(right);
        } else {
          cost[0] = float(BlockMatchCost(block, W, H, second.subspan(at), stride, vector));
        }
      }
    });
  };
  // The costs of every cell at once through spectra (cells reading pixels
  // outside the image or the buffer are never asked for, so those pixels are 0).
  std::vector<double> costs;
  const TGridPrecision precision = ShiftSpectraInSingle ? TGridPrecision::Single : TGridPrecision::Double;
  if (ShiftCostsBySpectra) {
    const int32_t rw = W + grid.nx - 1, rh = H + grid.ny - 1;
    if (baseX >= 0 && baseY >= 0 && baseX + rw <= limitW && baseY + rh <= limitH) {
      costs = BlockMatchCostGrid(block, W, H, second.subspan(size_t(baseY) * size_t(stride) + size_t(baseX)), stride,
                                 grid.nx, grid.ny, vector, precision);
    } else {
      std::vector<float> region(size_t(rw) * size_t(rh), 0.0f);
      for (int32_t v = 0; v < rh; ++v) {
        const int64_t y = int64_t(baseY) + v;
        if (y < 0 || y >= limitH) continue;
        for (int32_t u = 0; u < rw; ++u) {
          const int64_t x = int64_t(baseX) + u;
          if (x >= 0 && x < limitW) region[size_t(v) * size_t(rw) + size_t(u)] = second[size_t(y * stride + x)];
        }
      }
      costs = BlockMatchCostGrid(block, W, H, region, rw, grid.nx, grid.ny, vector, precision);
    }
  }

  // Rings around the grid's centre, nearest first, until a ring's costs stay
  // far above the best at least two rings after its last improvement.
  float best = Unevaluated;
  int32_t lastImproved = 200;
  std::vector<std::pair<int32_t, int32_t>> cells;
  for (int32_t k = 0; k <= K; ++k) {
    cells.clear();
    // The ring's cells in rows: its top row, the two ends of the rows between, its bottom row.
    for (int32_t j = hy - k; j <= hy + k; ++j) {
      const bool full = j == hy - k || j == hy + k;
      for (int32_t i = hx - k; i <= hx + k; i += full || k == 0 ? 1 : 2 * k)
        if (eligible(i, j)) cells.emplace_back(i, j);
    }
    if (costs.empty()) direct(cells);
    else
      for (const auto& [i, j] : cells) {
        const size_t at = size_t(j) * size_t(grid.nx) + size_t(i);
        grid.Cost[at] = float(costs[at]);
      }
    float ringMin = Unevaluated;
    for (const auto& [i, j] : cells) ringMin = std::min(ringMin, grid.At(i, j));
    if (ringMin < best) {
      best = ringMin;
      lastImproved = k;
    } else if (ringMin > 9 * best && lastImproved + 1 < k) {
      break;
    }
  }

  // The costs the minimum and the sub-pixel step read computed pixel by pixel:
  // the 5 x 5 cells around the smallest, again around a new smallest among them.
  std::vector<uint8_t> exact(grid.Cost.size(), costs.empty() ? 1 : 0);
  for (int round = 0; round < 8; ++round) {
    const size_t smallest = SmallestCost(grid.Cost);
    const int32_t ci = int32_t(smallest % size_t(grid.nx)), cj = int32_t(smallest / size_t(grid.nx));
    cells.clear();
    for (int32_t j = cj - 2; j <= cj + 2; ++j)
      for (int32_t i = ci - 2; i <= ci + 2; ++i) {
        if (!eligible(i, j)) continue;
        const size_t at = size_t(j) * size_t(grid.nx) + size_t(i);
        if (grid.Cost[at] < EvaluatedBelow && !exact[at]) cells.emplace_back(i, j), exact[at] = 1;
      }
    if (cells.empty()) break;
    direct(cells);
  }

  int32_t bi = 0, bj = 0;
  float minCost = grid.Cost[0], maxCost = 0;
  for (int32_t j = 0; j < grid.ny; ++j)
    for (int32_t i = 0; i < grid.nx; ++i) {
      const float c = grid.At(i, j);
      if (c < minCost) {
        minCost = c;
        bi = i;
        bj = j;
      }
      if (c < EvaluatedBelow && c > maxCost) maxCost = c;
    }
  if (!(minCost < EvaluatedBelow)) {
    // Nothing could be compared: a failed measurement, not a perfect one.
    MatchQuality = 0.0;
    return result;
  }
  double x = ox + bi + cx, y = oy + bj + cy;
  LowerMatchQuality(minCost > 0 ? maxCost / (1.4 * minCost) : 99.0);
  result.AtSearchEdge = bi == 0 || bj == 0 || bi == grid.nx - 1 || bj == grid.ny - 1;

  if (bi >= 2 && bi <= grid.nx - 3 && bj >= 2 && bj <= grid.ny - 3) {
    TVertex rows[3], cols[3];
    for (int m = -1; m <= 1; ++m) {
      rows[m + 1] = LineVertex(grid.At(bi - 1, bj + m), grid.At(bi, bj + m), grid.At(bi + 1, bj + m));
      cols[m + 1] = LineVertex(grid.At(bi + m, bj - 1), grid.At(bi + m, bj), grid.At(bi + m, bj + 1));
    }
    x += SubPixelOffset(rows[0], rows[1], rows[2]);
    y += SubPixelOffset(cols[0], cols[1], cols[2]);
  }
  result.Position = {float(x), float(y)};
  return result;
}

}  // namespace astrelon
