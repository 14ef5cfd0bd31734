#include "pixelops/spatial/jpeg_deblock.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "core/settings.h"
#include "kernels/colour/color_to_mono.h"
#include "kernels/gauss/gauss_filters.h"
#include "pixelops/spatial/jpeg_quality_estimate.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/display/render_image_bitmap.h"
#include "store/image_store.h"
#include "store/pictures/jpeg_bitmap_decode.h"
#include "store/pictures/jpeg_writer.h"

namespace astrelon {

namespace {

constexpr int OffsetCount = 64;
constexpr char Caption[] = "JPEG Artefakte reduzieren";

// Offset k (0..63) of the block grid: dy = k div 8 − 3, dx = k mod 8 − 3.
int OffsetX(int k) { return k % 8 - 3; }
int OffsetY(int k) { return k / 8 - 3; }

// The result of one round: the decoded shifted copy and, per 4 × 4 cell of it,
// 1 / w² of its activity weight w.
struct TDeblockRound {
  TDisplayBitmap Shifted, Decoded;
  std::vector<uint8_t> Bytes;
  std::vector<float> InverseWeight;
  bool Done = false;
};

struct TCellGrid {
  int32_t Columns = 0, Rows = 0;
};
TCellGrid CellGrid(int32_t width, int32_t height) { return {2 * ((width + 7) / 8), 2 * ((height + 7) / 8)}; }

// The copy shifted by (dx, dy); rows and columns the shift uncovers keep the
// copy's own content.
void ShiftCopy(const TDisplayBitmap& from, int dx, int dy, TDisplayBitmap& to) {
  to = from;
  const int32_t w = from.Width, h = from.Height;
  const int32_t x0 = std::max(dx, 0), x1 = std::min(w, w + dx);  // destination columns covered
  if (x1 <= x0) return;
  for (int32_t y = std::max(dy, 0); y < std::min(h, h + dy); ++y)
    std::memcpy(to.Row(y).data() + x0, from.Row(y - dy).data() + (x0 - dx), size_t(x1 - x0));
}

// Activity weight of every cell: 1 plus, for a cell fully inside the picture,
// the absolute differences of horizontal neighbours (three pairs per row) and of
// each of the first three pixels of a row with the pixel below (when there is a
// row below), kept in 16 bits.
void CellWeights(const TDisplayBitmap& bmp, const TCellGrid& grid, std::vector<float>& inverse) {
  inverse.assign(size_t(grid.Columns) * size_t(grid.Rows), 1.0f);
  const int32_t w = bmp.Width, h = bmp.Height;
  for (int32_t cy = 0; cy < grid.Rows && 4 * cy + 3 < h; ++cy)
    for (int32_t cx = 0; cx < grid.Columns && 4 * cx + 3 < w; ++cx) {
      uint16_t weight = 1;
      for (int32_t r = 0; r < 4; ++r) {
        const int32_t y = 4 * cy + r;
        const uint8_t* p = bmp.Row(y).data() + 4 * cx;
        const uint8_t* below = y + 1 < h ? bmp.Row(y + 1).data() + 4 * cx : nullptr;
        int sum = 0;
        for (int i = 0; i < 3; ++i) {
          sum += std::abs(int(p[i + 1]) - int(p[i]));
          if (below) sum += std::abs(int(below[i]) - int(p[i]));
        }
        weight = uint16_t(weight + sum);
      }
      inverse[size_t(cy) * size_t(grid.Columns) + size_t(cx)] = 1.0f / (float(weight) * float(weight));
    }
}

bool RunRound(const TDisplayBitmap& rendered, int32_t quality, int k, const TCellGrid& grid, TDeblockRound& round) {
  ShiftCopy(rendered, OffsetX(k), OffsetY(k), round.Shifted);
  if (!EncodeJpeg(round.Shifted, quality, true, round.Bytes)) return false;
  if (!DecodeJpegBitmap(round.Bytes, true, round.Decoded)) return false;
  if (round.Decoded.Width != rendered.Width || round.Decoded.Height != rendered.Height) return false;
  CellWeights(round.Decoded, grid, round.InverseWeight);
  return true;
}

// acc[x] += v[x]·e[x] and sum[x] += e[x] for x in [from, count), in this order
// on every path.
void AddRunScalar(const uint8_t* v, const float* e, float* acc, float* sum, int32_t from, int32_t count) {
  for (int32_t x = from; x < count; ++x) {
    acc[x] += float(v[x]) * e[x];
    sum[x] += e[x];
  }
}

void AddRun(const uint8_t* v, const float* e, float* acc, float* sum, int32_t count, bool vector) {
  int32_t x = 0;
#if ASTRELON_HAVE_SSE2
  if (vector) {
    const __m128i zero = _mm_setzero_si128();
    for (; x + 8 <= count; x += 8) {
      const __m128i bytes = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x)), zero);
      const __m128 lo = _mm_cvtepi32_ps(_mm_unpacklo_epi16(bytes, zero));
      const __m128 hi = _mm_cvtepi32_ps(_mm_unpackhi_epi16(bytes, zero));
      const __m128 e0 = _mm_loadu_ps(e + x), e1 = _mm_loadu_ps(e + x + 4);
      _mm_storeu_ps(acc + x, _mm_add_ps(_mm_loadu_ps(acc + x), _mm_mul_ps(lo, e0)));
      _mm_storeu_ps(acc + x + 4, _mm_add_ps(_mm_loadu_ps(acc + x + 4), _mm_mul_ps(hi, e1)));
      _mm_storeu_ps(sum + x, _mm_add_ps(_mm_loadu_ps(sum + x), e0));
      _mm_storeu_ps(sum + x + 4, _mm_add_ps(_mm_loadu_ps(sum + x + 4), e1));
    }
  }
#endif
  AddRunScalar(v, e, acc, sum, x, count);
}

// Adds the rounds of a group to the sums of rows first .. last − 1, each pixel
// in offset order. The cell weights of a decoded row are spread to its pixels
// once per cell row.
void Accumulate(std::span<TDeblockRound> rounds, int firstOffset, const TCellGrid& grid, int32_t width,
                int32_t height, int64_t first, int64_t last, float* acc, float* weightSum, bool vector) {
  std::vector<std::vector<float>> spread(rounds.size(), std::vector<float>(size_t(width)));
  std::vector<int64_t> spreadRow(rounds.size(), -1);
  for (int64_t y = first; y < last; ++y) {
    float* a = acc + size_t(y) * size_t(width);
    float* s = weightSum + size_t(y) * size_t(width);
    for (size_t i = 0; i < rounds.size(); ++i) {
      const TDeblockRound& round = rounds[i];
      if (!round.Done) continue;
      const int k = firstOffset + int(i), dx = OffsetX(k);
      const int64_t sy = y + OffsetY(k);
      if (sy < 0 || sy >= height) continue;
      float* e = spread[i].data();
      if (spreadRow[i] != sy / 4) {
        spreadRow[i] = sy / 4;
        const float* cells = round.InverseWeight.data() + size_t(sy / 4) * size_t(grid.Columns);
        for (int32_t x = 0; x < width; ++x) e[x] = cells[x / 4];
      }
      // Pixel x takes decoded pixel x + dx.
      const int32_t x0 = std::max(0, -dx), x1 = std::min(width, width - dx);
      if (x1 > x0)
        AddRun(round.Decoded.Row(int(sy)).data() + x0 + dx, e + x0 + dx, a + x0, s + x0, x1 - x0, vector);
    }
  }
}

}  // namespace

bool JpegDeblockPlane(std::span<const float> source, int32_t width, int32_t height, int32_t quality,
                      std::span<float> out, int threads, const TDeblockPoll& poll) {
  const size_t n = size_t(width) * size_t(height);
  if (width < 1 || height < 1 || source.size() < n || out.size() < n) return false;
  quality = std::clamp(quality, 1, 100);
  float maximum = BlankLimit;
  for (float v : source.first(n))
    if (IsValidPixel(v)) maximum = std::max(maximum, v);
  maximum = std::max(maximum, 255.0f);
  TDisplayBitmap rendered;
  RenderPlaneToBitmap(source, width, height, JpegRenderFactor(maximum), rendered);

  const TCellGrid grid = CellGrid(width, height);
  std::vector<float> acc(n, 0.0f), weightSum(n, 0.0f);
  const int group = std::clamp(threads, 1, 8);
  std::vector<TDeblockRound> rounds(static_cast<size_t>(group));
  bool failed = false;
  for (int first = 0; first < OffsetCount && !failed; first += group) {
    const int count = std::min(group, OffsetCount - first);
    ForEachBand(count, count, [&](int64_t a, int64_t b) {
      for (int64_t i = a; i < b; ++i)
        rounds[size_t(i)].Done = RunRound(rendered, quality, first + int(i), grid, rounds[size_t(i)]);
    });
    for (int i = 0; i < count; ++i) failed = failed || !rounds[size_t(i)].Done;
    if (failed) break;
    ForEachBand(height, BandThreads(height, 16, group > 1), [&](int64_t a, int64_t b) {
      Accumulate(std::span(rounds).first(size_t(count)), first, grid, width, height, a, b, acc.data(),
                 weightSum.data(), Sse2Enabled);
    });
    if (poll && !poll(first + count)) break;
  }
  if (failed) return false;

  // Level: the mean ratio of the average to the source over the bright middle.
  const float high = maximum, low = 0.2f * maximum;
  double ratioSum = 0;
  int64_t ratioCount = 0;
  for (int32_t y = 3; y <= height - 5; ++y)
    for (int32_t x = 3; x <= width - 5; ++x) {
      const size_t i = size_t(y) * size_t(width) + size_t(x);
      const float v = source[i];
      if (v >= low && v < high && weightSum[i] > 0) {
        ratioSum += double(acc[i]) / (double(v) * double(weightSum[i]));
        ++ratioCount;
      }
    }
  // Too few pixels to measure: the render factor.
  const double ratio = ratioCount >= 11 ? ratioSum / double(ratioCount) : JpegRenderFactor(maximum);
  for (size_t i = 0; i < n; ++i) {
    const float v = source[i];
    if (!IsValidPixel(v) || !(weightSum[i] > 0))
      out[i] = v;
    else
      out[i] = float(double(acc[i]) / (double(weightSum[i]) * ratio));
  }
  return true;
}

namespace {

int DeblockThreads() { return BandThreads(OffsetCount, 1, Options.Multicore != 0); }

bool RunDeblock(std::span<const float> source, int32_t width, int32_t height, int32_t quality, std::span<float> out,
                int progressSlot) {
  const bool done = JpegDeblockPlane(source, width, height, quality, out, DeblockThreads(), [&](int position) {
    ShowProgress(progressSlot, progressSlot, 1, float(position * 100 / OffsetCount), false, false, true, true,
                 Caption);
    return !AbortRequested;
  });
  HideProgress(progressSlot);
  return done;
}

bool SameShape(const TImageSlot& a, const TImageSlot& b, int planes) {
  if (a.Width != b.Width || a.Height != b.Height || a.PlaneCount < planes || b.PlaneCount < planes) return false;
  for (int p = 1; p <= planes; ++p)
    if (a.Planes[size_t(p)].size() < a.PixelCount() || b.Planes[size_t(p)].size() < b.PixelCount()) return false;
  return true;
}

}  // namespace

// Pending events run between the rounds: a window closed meanwhile may have
// freed either slot, so the source is worked on as a copy and the result is
// checked again before it is written.
void JpegDeblock(int source, int result, int32_t quality) {
  if (!SlotInUse(source) || !SlotInUse(result)) return;
  const TImageSlot& s = Store.Image[size_t(source)];
  if (!SameShape(s, Store.Image[size_t(result)], 1)) return;
  const int32_t width = s.Width, height = s.Height;
  const std::vector<float> plane(s.Planes[1].begin(), s.Planes[1].begin() + ptrdiff_t(s.PixelCount()));
  std::vector<float> out(plane.size());
  if (!RunDeblock(plane, width, height, quality, out, result)) return;
  if (!SlotInUse(result)) return;
  TImageSlot& d = Store.Image[size_t(result)];
  if (d.Width != width || d.Height != height || d.Planes[1].size() < out.size()) return;
  std::copy(out.begin(), out.end(), d.Planes[1].begin());
}

void ReduceJpegArtefacts(int source, int result, int32_t quality) {
  if (!SlotInUse(source) || !SlotInUse(result)) return;
  const TImageSlot& s = Store.Image[size_t(source)];
  if (!(s.IsColor && s.PlaneCount >= 3)) {
    JpegDeblock(source, result, quality);
    return;
  }
  TImageSlot& d = Store.Image[size_t(result)];
  if (!SameShape(s, d, 3)) return;
  const size_t n = s.PixelCount();
  std::vector<float> luma(n), deblocked(n);
  LumaRun(s.Plane(1), s.Plane(2), s.Plane(3), luma);
  if (!RunDeblock(luma, s.Width, s.Height, quality, deblocked, result)) return;
  if (!SlotInUse(source) || !SlotInUse(result) || !SameShape(s, d, 3)) return;
  // The colour differences to the luma, smoothed at low qualities.
  std::array<TPlane, 4> difference;
  for (int p = 1; p <= 3; ++p) {
    difference[size_t(p)].resize(n);
    const auto in = s.Plane(p);
    for (size_t i = 0; i < n; ++i)
      difference[size_t(p)][i] = IsValidPixel(in[i]) && IsValidPixel(luma[i]) ? in[i] - luma[i] : BlankPixel;
    if (quality < 30) {
      const TGaussPlane plane{difference[size_t(p)], difference[size_t(p)], s.Width, s.Height,
                              TWorkRect{0, s.Width - 1, 0, s.Height - 1}};
      SelectiveGaussPlane(plane, 35.0f / float(quality + 5), 100.0f, TGaussPlaneRun{.Vector = Sse2Enabled, .PlaneIndex = p});
    }
  }
  for (int p = 1; p <= 3; ++p) {
    float* out = d.Planes[size_t(p)].data();
    const float* diff = difference[size_t(p)].data();
    for (size_t i = 0; i < n; ++i) {
      if (!IsValidPixel(diff[i]) || !IsValidPixel(deblocked[i]))
        out[i] = BlankPixel;
      else if (quality < 30)
        out[i] = deblocked[i] + diff[i];
      else
        out[i] = s.Planes[size_t(p)][i] + (deblocked[i] - luma[i]);
    }
  }
}

}  // namespace astrelon
