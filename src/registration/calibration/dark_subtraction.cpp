#include "registration/calibration/dark_subtraction.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "common/engine_ui.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "registration/calibration/dark_hot_pixels.h"
#include "registration/calibration/dark_measures.h"
#include "store/image_store.h"
#include "store/raw/mosaic_repair.h"

namespace astrelon {

namespace {

bool HasPlane(const TImageSlot& im, int p) {
  return p >= 1 && p <= im.PlaneCount && im.PixelCount() > 0 && im.Planes[size_t(p)].size() >= im.PixelCount();
}

// The dark plane that serves image plane p: plane 1 of a one-plane dark, else plane p.
int DarkPlaneFor(const TImageSlot& dark, int p) { return dark.PlaneCount == 1 ? 1 : p; }

void SubtractRowScalar(float* x, const float* d, size_t first, size_t n, bool compensate, double scale,
                       double level) {
  if (!compensate) {
    for (size_t i = first; i < n; ++i) {
      const float xv = x[i], dv = d[i];
      x[i] = !IsValidPixel(xv) ? xv : (IsValidPixel(dv) ? xv - dv : BlankPixel);
    }
    return;
  }
  for (size_t i = first; i < n; ++i) {
    const float xv = x[i], dv = d[i];
    if (!IsValidPixel(xv)) continue;
    x[i] = IsValidPixel(dv) ? float(double(xv) - (double(dv) - level) * scale - level) : BlankPixel;
  }
}

#if ASTRELON_HAVE_AVX2
// Four pixels of the compensated form in double lanes, the scalar operations in their order.
ASTRELON_AVX2 inline __m128 CompensatedFour(__m128 x, __m128 d, __m256d scale, __m256d level) {
  const __m256d r = _mm256_sub_pd(
      _mm256_sub_pd(_mm256_cvtps_pd(x), _mm256_mul_pd(_mm256_sub_pd(_mm256_cvtps_pd(d), level), scale)), level);
  return _mm256_cvtpd_ps(r);
}

// Eight pixels a step; returns where the scalar loop takes over.
ASTRELON_AVX2 size_t SubtractRowAvx2(float* x, const float* d, size_t n, bool compensate, double scale,
                                     double level) {
  const __m256 limit = _mm256_set1_ps(BlankLimit), blank = _mm256_set1_ps(BlankPixel);
  const __m256d s = _mm256_set1_pd(scale), b = _mm256_set1_pd(level);
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 xv = _mm256_loadu_ps(x + i), dv = _mm256_loadu_ps(d + i);
    __m256 r;
    if (compensate)
      r = _mm256_set_m128(CompensatedFour(_mm256_extractf128_ps(xv, 1), _mm256_extractf128_ps(dv, 1), s, b),
                          CompensatedFour(_mm256_castps256_ps128(xv), _mm256_castps256_ps128(dv), s, b));
    else
      r = _mm256_sub_ps(xv, dv);
    r = _mm256_blendv_ps(blank, r, _mm256_cmp_ps(dv, limit, _CMP_GT_OQ));
    _mm256_storeu_ps(x + i, _mm256_blendv_ps(xv, r, _mm256_cmp_ps(xv, limit, _CMP_GT_OQ)));
  }
  return i;
}
#endif

}  // namespace

bool BatchBayerMode() { return BatchRunning != 0 && BatchAddToTarget != 0 && BatchMarkCount >= 1; }

void SubtractDarkRow(std::span<float> image, std::span<const float> dark, bool compensate, double scale,
                     double level, bool vector) {
  const size_t n = std::min(image.size(), dark.size());
  size_t first = 0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) first = SubtractRowAvx2(image.data(), dark.data(), n, compensate, scale, level);
#endif
  SubtractRowScalar(image.data(), dark.data(), first, n, compensate, scale, level);
}

std::string DarkSizeDiffersText(int32_t width, int32_t height, int32_t darkWidth, int32_t darkHeight) {
  return "Das Dunkelbild (" + std::to_string(darkWidth) + " x " + std::to_string(darkHeight) +
         ") hat nicht die Größe des Bildes (" + std::to_string(width) + " x " + std::to_string(height) +
         "); es wird nicht abgezogen.";
}

bool DarkSizeFits(int imageSlot, int darkSlot) {
  const TImageSlot& im = Store.Image[size_t(imageSlot)];
  const TImageSlot& dk = Store.Image[size_t(darkSlot)];
  if (im.Width == dk.Width && im.Height == dk.Height) return true;
  EngineUi().ShowMessage(DarkSizeDiffersText(im.Width, im.Height, dk.Width, dk.Height));
  return false;
}

bool SubtractDarkFrame(int imageSlot, int darkSlot, bool temperatureCompensation, bool hotPixelRepair) {
  if (darkSlot < 1 || !SlotInUse(imageSlot) || !SlotInUse(darkSlot)) return false;
  // A dark of another size would calibrate only the overlap.
  if (!DarkSizeFits(imageSlot, darkSlot)) return false;
  TImageSlot& im = Store.Image[size_t(imageSlot)];
  // A slot subtracted from itself reads the dark from a copy taken before.
  std::optional<TImageSlot> ownCopy;
  if (imageSlot == darkSlot) ownCopy = im;
  const TImageSlot& dk = ownCopy ? *ownCopy : Store.Image[size_t(darkSlot)];

  // The planes to work on and the dark planes they use.
  std::vector<int> planes, darkPlanes;
  for (int p = 1; p <= std::min(im.PlaneCount, 3); ++p) {
    const int q = DarkPlaneFor(dk, p);
    if (!HasPlane(im, p) || !HasPlane(dk, q)) continue;
    planes.push_back(p);
    if (std::find(darkPlanes.begin(), darkPlanes.end(), q) == darkPlanes.end()) darkPlanes.push_back(q);
  }
  // Measured before any pixel changes.
  const TDarkMeasures measures = MeasureDark(imageSlot, darkSlot, darkPlanes, temperatureCompensation, hotPixelRepair);
  if (planes.empty()) return true;

  // One pass over bands of rows subtracts the dark from every plane, finds the
  // hot pixels of the dark rows (which depend on the dark alone) and repairs
  // the lone ones while the rows are at hand. Row y - 2 is searched once row y
  // is subtracted (its dark rows are still in the cache), and the lone hot
  // pixels of row y - 4 are repaired once the rows around them are subtracted
  // and searched. The repair needs the mosaic phase of a one-plane image, found
  // on the subtracted image: there, and in the two rows at either end of a
  // band, whose neighbours another band subtracts, the repair waits for the pass.
  const int32_t rows = std::min(im.Height, dk.Height);
  const int32_t columns = std::min(im.Width, dk.Width);
  const bool multicore = Options.Multicore != 0;
  const int32_t y2 = rows - 3, x2 = columns - 3;
  const bool repair = hotPixelRepair && y2 >= 2 && x2 >= 2;
  const bool bayer = BatchBayerMode();
  const bool mosaicPhase = im.PlaneCount == 1 && !bayer;
  const bool vector = Sse2Enabled;
  std::vector<THotPixelPlane> repairs;
  for (const int p : planes) {
    const int q = DarkPlaneFor(dk, p);
    repairs.push_back({im.Plane(p).first(im.PixelCount()), im.Width, dk.Plane(q).first(dk.PixelCount()), dk.Width});
  }
  const int bands = BandThreads(int64_t(rows) * columns * int64_t(planes.size()), 1 << 16, multicore);
  std::array<std::vector<THotRowCollector>, 4> found;  // per dark plane and band
  for (const int q : darkPlanes) found[size_t(q)].resize(size_t(bands));
  std::vector<uint8_t> loneRepaired(size_t(rows), 0);
  ForEachBand(bands, bands, [&](int64_t b0, int64_t b1) {
    for (int64_t b = b0; b < b1; ++b) {
      const int32_t y0 = int32_t(rows * b / bands), y1 = int32_t(rows * (b + 1) / bands);
      std::array<std::optional<THotPixelFinder>, 4> finders;
      std::array<std::optional<THotRowCollector>, 4> local;
      if (repair)
        for (const int q : darkPlanes) {
          finders[size_t(q)].emplace(dk.Plane(q), dk.Width, 2, x2, measures.HotOffset[size_t(q)], vector);
          local[size_t(q)].emplace(std::max(y0, 2));
        }
      const auto find = [&](int32_t y) {
        if (repair && y >= std::max(y0, 2) && y <= y2)
          for (const int q : darkPlanes) local[size_t(q)]->FindNextRow(*finders[size_t(q)]);
      };
      const auto repairLone = [&](int32_t y) {
        if (!repair || mosaicPhase || y < std::max(y0 + 2, 2) || y > std::min(y1 - 3, y2)) return;
        for (size_t i = 0; i < planes.size(); ++i) {
          const THotPixelRows& hot = local[size_t(DarkPlaneFor(dk, planes[i]))]->Rows();
          for (const THotDarkPixel& h : hot.Row(y))
            if (!hot.Crowded(h)) RepairHotPixel(repairs[i], h, -1, bayer);
        }
        loneRepaired[size_t(y)] = 1;
      };
      for (int32_t y = y0; y < y1; ++y) {
        for (const int p : planes) {
          const int q = DarkPlaneFor(dk, p);
          SubtractDarkRow(im.Row(p, y).first(size_t(columns)), dk.Row(q, y).first(size_t(columns)),
                          temperatureCompensation, measures.Scale, measures.Level[size_t(q)], vector);
        }
        find(y - 2);
        repairLone(y - 4);
      }
      for (const int32_t y : {y1 - 2, y1 - 1}) {
        find(y);
        repairLone(y - 2);
      }
      if (repair)
        for (const int q : darkPlanes) found[size_t(q)][size_t(b)] = std::move(*local[size_t(q)]);
    }
  });
  if (!repair) return true;

  // The rest: the lone hot pixels at the bands' ends (or all with a mosaic
  // phase), then the crowded ones in scan order.
  const int phase = mosaicPhase ? DetectMosaicPhase(imageSlot) : -1;
  std::array<THotPixelRows, 4> hot;
  for (const int q : darkPlanes) hot[size_t(q)] = JoinHotPixelBands(found[size_t(q)]);
  for (size_t i = 0; i < planes.size(); ++i) repairs[i].Hot = &hot[size_t(DarkPlaneFor(dk, planes[i]))];
  RepairHotPixelPlanes(repairs, phase, bayer, BandThreads(int64_t(rows) * columns, 1 << 16, multicore),
                       [&](int32_t y) { return loneRepaired[size_t(y)] != 0; });
  return true;
}

}  // namespace astrelon
