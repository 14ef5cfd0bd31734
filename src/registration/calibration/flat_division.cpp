#include "registration/calibration/flat_division.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "registration/calibration/flat_response_fit.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "store/raw/mosaic_repair.h"

namespace astrelon {

namespace {

constexpr double MinimumLevel = 0.1;
constexpr int32_t MaxBins = 8192;

bool HasPlane(const TImageSlot& im, int p) {
  return p >= 1 && p <= im.PlaneCount && im.PixelCount() > 0 && im.Planes[size_t(p)].size() >= im.PixelCount();
}

// The pixels of one pass in a row: every pixel, or those of one mosaic cell class.
struct TRowPixels {
  int32_t First = 0, Step = 1;
  bool Skip = false;
};
TRowPixels PassPixels(int32_t y, int phase, int cellClass) {
  if (phase < 0) return {};
  const int32_t other = (phase + y + 1) & 1;  // first x off the green checkerboard
  switch (cellClass) {
    case 1: return {(phase + y) & 1, 2, false};
    case 2: return {other, 2, (y & 1) != 0};
    default: return {other, 2, (y & 1) == 0};
  }
}

// Mean of the valid flat pixels of one cell class; `fallback` when there are none.
double CellClassMean(const TImageSlot& flat, int plane, int phase, int cellClass, double fallback) {
  double sum = 0;
  int64_t count = 0;
  for (int32_t y = 0; y < flat.Height; ++y) {
    const TRowPixels px = PassPixels(y, phase, cellClass);
    if (px.Skip) continue;
    const std::span<const float> row = flat.Row(plane, y);
    for (int32_t x = px.First; x < flat.Width; x += px.Step)
      if (IsValidPixel(row[size_t(x)])) {
        sum += row[size_t(x)];
        ++count;
      }
  }
  return count > 0 ? sum / double(count) : fallback;
}

// Every s-th pixel of the pass in x and y (s even, so that a cell class stays
// the same) with a valid source value inside the flat whose flat value is
// above the dark limit.
std::vector<TFlatSample> SampleFlatPass(const TImageSlot& src, int sp, const TImageSlot& flat, int fp, int phase,
                                        int cellClass, double level, double darkLimit) {
  const int32_t s = 2 * (src.Width / 768 + 1);
  const int32_t w = std::min(src.Width, flat.Width), h = std::min(src.Height, flat.Height);
  const int32_t y0 = phase >= 0 && cellClass == 3 ? 1 : 0;
  std::vector<TFlatSample> samples;
  for (int32_t y = y0; y < h; y += s) {
    const int32_t x0 = PassPixels(y, phase, cellClass).First;
    const std::span<const float> srow = src.Row(sp, y), frow = flat.Row(fp, y);
    for (int32_t x = x0; x < w; x += s) {
      const float S = srow[size_t(x)], F = frow[size_t(x)];
      if (IsValidPixel(S) && double(F) > darkLimit) samples.push_back({x, y, S, double(F) / level});
    }
  }
  return samples;
}

}  // namespace

void DivideByImage(int source, int destination, int flat, bool keepLevel, bool automatic) {
  if (!SlotInUse(source) || !SlotInUse(destination) || !SlotInUse(flat)) return;
  UpdateMinMax(source);
  const TImageSlot& src = Store.Image[size_t(source)];
  const TImageSlot& fl = Store.Image[size_t(flat)];
  TImageSlot& dst = Store.Image[size_t(destination)];
  const double valueRange = double(src.MaxValue) - double(src.MinValue);
  const bool colour = src.IsColor && src.PlaneCount >= 3;
  const int phase = automatic && !colour ? DetectMosaicPhase(flat) : -1;
  const bool mosaic = phase >= 0;
  const int passes = mosaic || colour ? 3 : 1;
  const bool multicore = Options.Multicore != 0;
  // The means of the flat's planes (each once, side by side): the measuring
  // plane's M and the levels of passes without a mosaic.
  const int measuring = GetRgbCode(flat);
  std::array<double, 4> planeMean{};
  {
    std::vector<int> wanted{measuring};
    for (int p = 1; p <= 3 && !mosaic; ++p)
      if (colour && fl.IsColor && fl.PlaneCount >= 3 && p != measuring) wanted.push_back(p);
    if (colour && !(fl.IsColor && fl.PlaneCount >= 3) && measuring != 1) wanted.push_back(1);
    const int64_t n = int64_t(wanted.size());
    ForEachBand(n, multicore ? int(n) : 1, [&](int64_t first, int64_t last) {
      for (int64_t i = first; i < last; ++i)
        planeMean[size_t(wanted[size_t(i)])] = double(GetPlaneMean(flat, wanted[size_t(i)]));
    });
  }
  const double mean = std::max(planeMean[size_t(measuring)], MinimumLevel);
  const double scale = keepLevel ? mean : 1.0;
  // What each pass works with. The levels and the fits (with the source's
  // noise) read only the pixels of their own plane or cell class, so they run
  // side by side before any division.
  struct TPass {
    int Dp = 0, Fp = 0, CellClass = 0;
    double Level = 0, DarkLimit = 0;
    TFlatFrame Frame;
    TFlatResponse Response;
  };
  std::vector<TPass> work;
  for (int pass = 1; pass <= passes; ++pass) {
    TPass w;
    w.Dp = colour ? pass : 1;
    w.Fp = colour ? (fl.IsColor && fl.PlaneCount >= 3 ? pass : 1) : GetRgbCode(flat);
    if (!HasPlane(src, w.Dp) || !HasPlane(dst, w.Dp) || !HasPlane(fl, w.Fp)) continue;
    w.CellClass = mosaic ? pass : 0;
    w.Level = planeMean[size_t(w.Fp)];
    w.Frame = {.Width = double(fl.Width), .Height = double(fl.Height), .Unit = 0.02 * valueRange,
               .ValueRange = valueRange};
    work.push_back(w);
  }
  ForEachBand(int64_t(work.size()), multicore ? int(work.size()) : 1, [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i) {
      TPass& w = work[size_t(i)];
      if (mosaic) w.Level = CellClassMean(fl, w.Fp, phase, w.CellClass, mean);
      w.Level = std::max(w.Level, MinimumLevel);
      w.DarkLimit = 0.2 * w.Level;
      if (automatic) {
        const double noise = std::max(double(EstimateNoise(source, w.Dp)), 0.01);
        w.Frame.Bins = int32_t(std::clamp(std::nearbyint(valueRange / noise), 0.0, double(MaxBins)));
        const std::vector<TFlatSample> samples =
            SampleFlatPass(src, w.Dp, fl, w.Fp, phase, w.CellClass, w.Level, w.DarkLimit);
        w.Response = FitFlatResponse(samples, w.Frame);
      }
    }
  });

  for (const TPass& w : work) {
    const int dp = w.Dp, fp = w.Fp, cellClass = w.CellClass;
    const double level = w.Level, darkLimit = w.DarkLimit;
    const TFlatFrame& frame = w.Frame;
    const TFlatResponse& response = w.Response;
    const double k = (response.C0 + response.C1 + response.C2) / level;
    // The gradient's factors per pixel step (the same products as in the fit).
    const double gy = -frame.Unit * response.Gy / frame.Height, gx = -frame.Unit * response.Gx / frame.Width;
    const double factor = scale * k;

    const int32_t rows = std::min(dst.Height, fl.Height), columns = std::min(dst.Width, fl.Width);
    ForEachBand(rows, BandThreads(int64_t(rows) * columns, 1 << 16, multicore), [&](int64_t first, int64_t last) {
      for (int64_t yy = first; yy < last; ++yy) {
        const int32_t y = int32_t(yy);
        const TRowPixels px = PassPixels(y, phase, cellClass);
        if (px.Skip) continue;
        const std::span<float> out = dst.Row(dp, y);
        const std::span<const float> frow = fl.Row(fp, y);
        const double rowTerm = (frame.Height / 2 - y) * gy;
        for (int32_t x = px.First; x < columns; x += px.Step) {
          float& v = out[size_t(x)];
          if (!IsValidPixel(v)) continue;
          const double F = frow[size_t(x)];
          if (!(F > darkLimit)) {
            v = BlankPixel;
            continue;
          }
          if (!automatic) {
            v = float(double(v) * scale / F);
            continue;
          }
          const double g = response.Gain(F / level);
          v = g > 0.1 ? float((double(v) / g + (rowTerm + (frame.Width / 2 - x) * gx)) * factor) : BlankPixel;
        }
      }
    });
  }
}

}  // namespace astrelon
