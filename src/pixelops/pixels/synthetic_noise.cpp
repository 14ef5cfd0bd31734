#include "pixelops/pixels/synthetic_noise.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "core/settings.h"
#include "kernels/gauss/gauss_table.h"
#include "kernels/regions/rect_runs.h"
#include "platform/parallel_bands.h"

namespace astrelon {

TSyntheticNoiseState SyntheticNoise;

namespace {

// The noise field is drawn in blocks of this many values; each block starts its
// own generator (and a fresh Gauss table) from the seed and its number.
constexpr int64_t NoiseBlock = 4096;
// Work between two looks at pending events and the abort flag.
constexpr int64_t StepValues = int64_t(1) << 20;
constexpr double UniformScale = 3.46410162;  // √12: unit standard deviation
constexpr double SmoothWeight = 0.176;
constexpr double SmoothNorm = 0.9416;  // 1 / (1 + 2 · 0.176²)

class TBusyScope {
public:
  TBusyScope() { SyntheticNoise.Busy = true; }
  ~TBusyScope() { SyntheticNoise.Busy = false; }
  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;
};

int Threads(int64_t items, int64_t perThread) { return BandThreads(items, perThread, Options.Multicore != 0); }

// Runs fn(first, last) over [0, count) in steps of about `step` items, each step
// split over the cores; between steps pending events run. False when the abort
// flag was raised or `stillValid` fails after the events.
template <typename F, typename V>
bool StepwiseBands(int64_t count, int64_t step, F&& fn, V&& stillValid) {
  for (int64_t first = 0; first < count; first += step) {
    const int64_t n = std::min(step, count - first);
    ForEachBand(n, Threads(n, std::max<int64_t>(step / 16, 1)),
                [&](int64_t a, int64_t b) { fn(first + a, first + b); });
    EngineUi().ProcessMessages();
    if (AbortRequested || !stillValid()) return false;
  }
  return true;
}

void DrawNoise(std::span<float> field, const TNoiseSettings& s, uint64_t seed, int64_t firstBlock, int64_t lastBlock) {
  TGaussTable table{};
  for (int64_t k = firstBlock; k < lastBlock; ++k) {
    TNoiseRandom random(MixSeed(seed ^ uint64_t(k)));
    const size_t begin = size_t(k * NoiseBlock);
    const size_t end = std::min(field.size(), begin + size_t(NoiseBlock));
    if (s.Distribution == TNoiseDistribution::Gauss) {
      FillGaussTable(table, random);
      for (size_t i = begin; i < end; ++i)
        field[i] = float(double(table[random.Below(GaussTableSize - 1)]) * s.Amount);
    } else {
      for (size_t i = begin; i < end; ++i) field[i] = float((random.Uniform() - 0.5) * s.Amount * UniformScale);
    }
  }
}

}  // namespace

bool AddSyntheticNoise(int source, int destination, const TNoiseSettings& settings) {
  return AddSyntheticNoise(source, destination, settings, NewNoiseSeed());
}

bool AddSyntheticNoise(int source, int destination, const TNoiseSettings& settings, uint64_t seed) {
  AbortRequested = 0;
  TBusyScope busy;
  if (!SlotInUse(source) || !SlotInUse(destination) || source == destination) return false;
  const int32_t width = Store.Image[size_t(source)].Width, height = Store.Image[size_t(source)].Height;
  const int32_t planeCount = Store.Image[size_t(source)].PlaneCount;
  auto sameImages = [&] {
    if (!SlotInUse(source) || !SlotInUse(destination)) return false;
    const TImageSlot& s = Store.Image[size_t(source)];
    const TImageSlot& d = Store.Image[size_t(destination)];
    return s.Width == width && s.Height == height && d.Width == width && d.Height == height &&
           s.PlaneCount == planeCount && d.PlaneCount >= planeCount;
  };
  if (!sameImages()) return false;
  SetWorkRectFromWindow(destination, 1, false);
  const TClippedRect rect = ClipRectToSlot(destination, WorkRect);
  if (rect.Empty()) return false;
  const int64_t w = rect.Width(), h = rect.Height(), n = w * h;

  // Brightness scale: the noise grows with the square root of the value above o.
  const TImageSlot& src = Store.Image[size_t(source)];
  double r = std::max((double(src.MaxValue) - double(src.MinValue)) / 2, 0.01);
  const double o = double(src.MinValue) - r / 8;
  r = std::max(r + r / 8, 0.0001);

  const TPlaneList chosen = SelectedChannels(destination);
  std::vector<float> field, smoothed;
  for (int32_t p = 1; p <= planeCount; ++p) {
    const bool noisy = std::find(chosen.Planes().begin(), chosen.Planes().end(), p) != chosen.Planes().end();
    auto rows = [&](int64_t first, int64_t last) {
      const TImageSlot& s = Store.Image[size_t(source)];
      TImageSlot& d = Store.Image[size_t(destination)];
      for (int64_t k = first; k < last; ++k) {
        const int32_t y = rect.y1 + int32_t(k);
        const float* in = s.Row(p, y).data() + rect.x1;
        float* out = d.Row(p, y).data() + rect.x1;
        if (!noisy) {
          std::copy(in, in + w, out);
          continue;
        }
        const float* v = field.data() + k * w;
        if (settings.BrightnessScaled) {
          for (int64_t x = 0; x < w; ++x)
            if (IsValidPixel(in[x]))
              out[x] = float(double(in[x]) + std::sqrt(std::max(double(in[x]) - o, 0.0) / r) * double(v[x]));
        } else {
          for (int64_t x = 0; x < w; ++x)
            if (IsValidPixel(in[x])) out[x] = in[x] + v[x];
        }
      }
    };
    const int64_t rowStep = std::max<int64_t>(1, StepValues / w);
    if (!noisy) {
      if (!StepwiseBands(h, rowStep, rows, sameImages)) return false;
      continue;
    }
    field.resize(size_t(n));
    const uint64_t planeSeed = MixSeed(seed + uint64_t(p));
    const int64_t blocks = (n + NoiseBlock - 1) / NoiseBlock;
    if (!StepwiseBands(
            blocks, StepValues / NoiseBlock,
            [&](int64_t a, int64_t b) { DrawNoise(field, settings, planeSeed, a, b); }, sameImages))
      return false;
    if (settings.LowPass) {
      // Each pass reads only values from before it: v[i] from its old neighbours.
      smoothed.resize(size_t(n));
      smoothed.front() = field.front();
      smoothed.back() = field.back();
      if (!StepwiseBands(
              n, StepValues,
              [&](int64_t a, int64_t b) {
                for (int64_t i = std::max<int64_t>(a, 1); i < std::min(b, n - 1); ++i)
                  smoothed[size_t(i)] = float(
                      ((double(field[size_t(i - 1)]) + field[size_t(i + 1)]) * SmoothWeight + field[size_t(i)]) *
                      SmoothNorm);
              },
              sameImages))
        return false;
      if (!StepwiseBands(
              h, rowStep,
              [&](int64_t a, int64_t b) {
                for (int64_t y = a; y < b; ++y) {
                  float* out = field.data() + y * w;
                  const float* mid = smoothed.data() + y * w;
                  if (y == 0 || y == h - 1) {
                    std::copy(mid, mid + w, out);
                    continue;
                  }
                  const float* up = mid - w;
                  const float* down = mid + w;
                  for (int64_t x = 0; x < w; ++x)
                    out[x] = float((double(up[x]) + down[x]) * SmoothWeight + mid[x]);
                }
              },
              sameImages))
        return false;
    }
    if (!StepwiseBands(h, rowStep, rows, sameImages)) return false;
  }
  SyntheticNoise.Last = settings;
  SyntheticNoise.Valid = true;
  return true;
}

std::string NoiseAmountText(int position) {
  const double q = (100.0 - std::clamp(position, 0, 100)) / 3.0;
  return FormatFixed(q * q, 2);
}

}  // namespace astrelon
