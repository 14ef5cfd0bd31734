#include "frequency/deconvolution/deconvolution_spectrum.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "kernels/fft/fft_plan.h"
#include "kernels/fft/spectrum_columns.h"
#include "kernels/fft/spectrum_conversion.h"
#include "kernels/fft/spectrum_slots.h"
#include "platform/processor_features.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int BlockWidth = TColumnBlock::Width;

// The PSF columns of the block into its sequences: point i from kept row rowAt[i].
void LoadPsfColumns(TColumnBlock& block, const TPsfRowSpectra& psf, const float* psfPlane,
                    const std::vector<int32_t>& rowAt, int used) {
  const int64_t W = psf.Width(), half = psf.Nx / 2 + 1, k0 = block.First();
  const double scale = 1.0 / double(rowAt.size());
  std::array<double, BlockWidth> re{}, im{};
  for (size_t i = 0; i < rowAt.size(); ++i) {
    re.fill(0.0);
    im.fill(0.0);
    if (rowAt[i] >= 0) {
      const float* row = psfPlane + int64_t(rowAt[i]) * W;
      for (int c = 0; c < used; ++c) {
        re[size_t(c)] = double(row[k0 + c]) * scale;
        im[size_t(c)] = double(row[half + k0 + c]) * scale;
      }
    }
    block.PutValues(int32_t(i), re.data(), im.data());
  }
}

// F·conj(H)·G/(|H|² + K) over every row of the block's columns.
void DivideBlock(const TColumnBlock& block, float* plane, const TFftImage& f, int used, double K, double G) {
  const int64_t W = f.Width(), half = f.Half(), k0 = block.First();
  std::array<double, BlockWidth> hr{}, hi{};
  for (int32_t y = 0; y < f.M; ++y) {
    if (y + 8 < f.M) {
      __builtin_prefetch(plane + (y + 8) * W + k0);
      __builtin_prefetch(plane + (y + 8) * W + half + k0);
    }
    block.Point(f.BinOfRow(y), hr.data(), hi.data());
    float* re = plane + y * W + k0;
    float* im = plane + y * W + half + k0;
    for (int c = 0; c < used; ++c) {
      const double a = re[c], b = im[c], x = hr[size_t(c)], z = hi[size_t(c)];
      const double factor = G / (x * x + z * z + K);
      re[c] = float((a * x + b * z) * factor);
      im[c] = float((b * x - a * z) * factor);
    }
  }
}

double Power(const double* re, const double* im) { return re[0] * re[0] + im[0] * im[0]; }

}  // namespace

TDeconvolutionGain DeconvolutionGain(int spectrum, int plane, double noise) {
  const double P = std::max(CentrePeak(spectrum, plane, false), 1e-30);
  const double C = CornerPower(spectrum, plane);
  const double r = std::max(std::sqrt(C / P), 1e-30);
  // A float as in the stored parameter; kept finite for a spectrum without low frequencies.
  const double K = double(float(std::min(noise * r * 500.0, double(FLT_MAX))));
  return {K, K + 1.0};
}

bool DeconvolveSpectrumPlane(int spectrum, int plane, const TPsfRowSpectra& psf, int psfPlane, double noise) {
  if (!SlotInUse(spectrum) || plane < 1 || plane > 3 || psfPlane < 1 || psfPlane > psf.PlaneCount) return false;
  TImageSlot& sp = Store.Image[spectrum];
  const TFftImage f = TFftImage::OfSize(sp.Width, sp.Height);
  if (plane > sp.PlaneCount || f.N != psf.Nx || f.M < 1 || psf.Rows < 1) return false;
  if (sp.Planes[plane].size() < size_t(f.Width()) * size_t(f.M)) return false;
  const float* psfValues = psf.Planes[size_t(psfPlane)].data();
  const auto plan = FftPlanFor(f.M);
  if (!plan) throw std::logic_error("Interner Fehler: Für diese Transformationslänge gibt es keinen Plan.");

  // Point i of a PSF column comes from kept row r with (r − centre) mod Ny = i.
  std::vector<int32_t> rowAt(size_t(f.M), -1);
  for (int32_t r = 0; r < psf.Rows; ++r) rowAt[size_t((((r - psf.CentreRow) % f.M) + f.M) % f.M)] = r;

  TDeconvolutionGain gain = DeconvolutionGain(spectrum, plane, noise);
  float* values = sp.Planes[plane].data();
  const int lanes = FftLaneCount(Sse2Enabled);
  const int64_t half = f.Half(), blocks = (half + BlockWidth - 1) / BlockWidth;
  auto usedIn = [&](int64_t b) { return int(std::min<int64_t>(BlockWidth, half - b * BlockWidth)); };

  // Column 0 fixes K and G for the plane: the first block goes alone.
  {
    TColumnBlock block(*plan, lanes);
    block.Begin(0, usedIn(0));
    LoadPsfColumns(block, psf, psfValues, rowAt, usedIn(0));
    block.Transform();
    std::array<double, BlockWidth> re{}, im{};
    double Pm = 0;
    for (const int32_t i : {0, std::min(1, f.M - 1), f.M - 1}) {
      block.Point(i, re.data(), im.data());
      Pm = std::max(Pm, Power(re.data(), im.data()));
    }
    Pm = std::max(Pm, 1e-15);
    gain.K *= Pm;
    gain.G *= std::sqrt(Pm);
    DivideBlock(block, values, f, usedIn(0), gain.K, gain.G);
  }
  ForEachBand(blocks - 1, SpectrumThreads(blocks - 1, int64_t(f.M) * 2 * BlockWidth), [&](int64_t b0, int64_t b1) {
    TColumnBlock block(*plan, lanes);
    for (int64_t b = b0 + 1; b < b1 + 1; ++b) {
      block.Begin(b * BlockWidth, usedIn(b));
      LoadPsfColumns(block, psf, psfValues, rowAt, usedIn(b));
      block.Transform();
      DivideBlock(block, values, f, usedIn(b), gain.K, gain.G);
    }
  });
  return true;
}

}  // namespace astrelon
