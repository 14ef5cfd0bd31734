#include "frequency/speckle/speckle_reconstruction.h"

#include <algorithm>
#include <cmath>

#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "core/settings.h"
#include "frequency/speckle/speckle_amplitudes.h"
#include "frequency/speckle/speckle_phases.h"
#include "frequency/speckle/speckle_power.h"
#include "frequency/speckle/speckle_session.h"
#include "platform/parallel_bands.h"
#include "store/display/display_record.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// A result spectrum with more planes than layers were accumulated becomes grey.
void MakeResultGrey(int slot, int32_t layers) {
  TImageSlot& r = Store.Image[size_t(slot)];
  if (r.PlaneCount <= layers) return;
  r.IsColor = 0;
  r.PlaneCount = 1;
  for (int p = 2; p <= 3; ++p) TPlane().swap(r.Planes[size_t(p)]);
  SetHeader2Axis(slot);
  Store.Display[size_t(slot)].DisplayType = DtGrey;
}

// (amplitude, phase) of every frequency to (re, im) in single precision, after the zero
// frequency's amplitude was brought back to the frames' level.
void FinishLayer(std::span<float> plane, int32_t W, int32_t H, const TSpeckleLayerSums& sums) {
  const int32_t half = W / 2;
  float& zero = plane[size_t(H / 2) * size_t(W)];
  if (sums.ZeroCount > 0) zero = float(zero * sums.D / sums.ZeroCount);
  const TSpeckleLanes lanes = SpeckleLanes(true);
  for (int32_t y = 0; y < H; ++y) {
    float* re = plane.data() + size_t(y) * size_t(W);
    SpecklePolarToCartesian(lanes, half, re, re + half);
  }
}

std::string Percent(const char* text, int64_t percent) { return text + IntToStr(percent) + "%"; }

}  // namespace

int32_t SpeckleStepLimit(int64_t planeValues, int32_t regular, int32_t layers) {
  const double x = double(planeValues) * double(regular) * regular * 1e-5 * std::max(layers, 1);
  if (!(x > 0)) return 6;
  return int32_t(std::clamp<int64_t>(Round(6 - 0.5 * std::log2(x)), 2, 6));
}

TSpeckleOutcome SpeckleRekonstruktion(TSpeckleSession& s, bool recompute, const TSpeckleReconstructionSettings& settings,
                                      const TSpeckleReconstructionHooks& hooks) {
  if (!s.DataPresent || !SlotInUse(s.ResultSpectrum) || s.Acc.Empty()) return TSpeckleOutcome::NotRun;
  TSpeckleAccumulators& acc = s.Acc;
  const int R = s.ResultSpectrum;
  {
    const TImageSlot& r = Store.Image[size_t(R)];
    if (r.Width != acc.Width || r.Height != acc.Height || r.PlaneCount < 1) return TSpeckleOutcome::NotRun;
  }
  AbortRequested = 0;
  auto status = [&](const std::string& text) {
    if (hooks.Status) hooks.Status(text);
    EngineUi().ProcessMessages();
  };

  // Set-up: the path length, the power ellipse and its triples.
  const int32_t P = acc.Width * acc.Height;
  const int32_t n = std::min(s.Vectors.Regular, acc.Vectors);
  const int32_t limit = SpeckleStepLimit(P, n, s.RunLayers);
  const int32_t maxSteps = std::clamp(settings.MaxSteps, 0, limit);
  const TSpecklePowerSetUp power = SpecklePowerTriples(s.Vectors, settings.MaxRadius);
  if (hooks.SetUp) hooks.SetUp(maxSteps, power.Radius);
  status("Reconstruction");

  const int threads = BandThreads(acc.Height, 2, Options.Multicore != 0);
  const int32_t layers = acc.Layers;
  const int32_t W = acc.Width, H = acc.Height;
  MakeResultGrey(R, layers);
  for (int32_t l = 1; l <= layers; ++l) {
    TSpeckleLayerNoise& noise = s.Noise[size_t(l)];
    // After a new accumulation (or a run that stopped before this layer) the
    // accumulators are converted; later runs reuse them.
    if (!noise.Converted) ConvertSpeckleLayer(acc, l, s.Vectors, noise, threads);
    std::span<float> plane = Store.Image[size_t(R)].Planes[size_t(std::min(l, Store.Image[size_t(R)].PlaneCount))];
    const bool powerDone = SpecklePowerPass(acc, l, s.Vectors, power.Triples, noise.Eps, settings.NoiseCorrection,
                                            plane, threads, [&](int32_t rows) {
                                              status(Percent("Reconstruct Power ",
                                                             layers == 1 ? 50LL * rows / H
                                                                         : 16LL * rows / H + 33LL * (l - 1)));
                                            });
    if (!powerDone) return TSpeckleOutcome::Aborted;
    TSpecklePhaseWalk walk(acc, l, s.Vectors, noise, acc.Sums[size_t(l)], maxSteps, power.Mx, power.My, s.KT, plane,
                           threads);
    const bool phasesDone = walk.Run([&](int64_t count) {
      status(Percent("Reconstruct Phases ",
                     layers == 1 ? 50 + 100 * count / P : 16 + 32 * count / P + 33LL * (l - 1)));
    });
    if (!phasesDone) return TSpeckleOutcome::Aborted;
    FinishLayer(plane, W, H, acc.Sums[size_t(l)]);
  }

  // The reconstructed spectrum is kept; the result gets the response.
  if (!SlotInUse(s.KeptSpectrum)) s.KeptSpectrum = FindFreeSlot();
  if (s.KeptSpectrum < 1 || !CopyImageSlot(R, s.KeptSpectrum)) {
    if (SlotInUse(s.KeptSpectrum)) FreeSlot(s.KeptSpectrum);
    s.KeptSpectrum = -1;
  } else {
    AdjustSpeckleFrequencyResponse(s.KeptSpectrum, R, settings.Response);
  }
  if (recompute) s.ResultImage = -1;
  return TSpeckleOutcome::Done;
}

}  // namespace astrelon
