// Fourier deconvolution of a 4096 × 4096 grey star field with a 64 × 64 PSF,
// against FFTW's 2D real transform forth and back of the same transform size
// (planned with FFTW_MEASURE) at the same thread count, in the same
// iterations. Figures: "fftw" our time over FFTW's double transforms (goal
// 1.5), "fftwf" over its float transforms (the best peer for float images;
// goal 2.0). Argument: worker threads (1, or 0 for all cores). Check: the
// deconvolution reports success and its result equals that of the scalar twin
// (the vector loops off) on the same image after the timed runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "fftw_peer.h"
#include "frequency/deconvolution/deconvolution.h"
#include "frequency/deconvolution/psf_designer.h"
#include "frequency/deconvolution/psf_images.h"
#include "kernels/fft/spectrum_image.h"
#include "peer_measure.h"
#include "platform/processor_features.h"
#include "star_field.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Side = 4096, Source = 1, Work = 2;

// The star field in slot 1, its copy in slot 2 and the designer's Gauss PSF (R 2) in a slot.
int Prepare() {
  bench::MakeStarFieldSlot(Source, Side, 7, 3000);
  CopyImageSlot(Source, Work);
  DetectCpuFeatures();
  ApplySimdSetting();
  TPsfDesigner d;
  BuildDesignerPsf(d, 1, 10, 2.0, 1.0);
  CombineDesignerPsf(d);
  return PsfGridToNewSlot(d.DesignedPsf, "PSF.fit");
}

void BM_DeconvolutionBerechnen(benchmark::State& state) {
  const int threads = state.range(0) > 0 ? int(state.range(0))
                                         : int(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
  const int psf = Prepare();
  const TFftImage f = MixedRadixLayout(Side, Side, FftOuterMarginSetting());
  bench::TFftwPeer& peer = bench::Peer(f.N, f.M, threads);
  bench::WithThreads(state, threads, [&] {
    const std::function<void()> deconvolve = [&] {
      bench::Expect(DeconvolutionBerechnen(Source, Work, psf, 0.1), "no deconvolution");
    };
    bench::Measure(
        state, deconvolve,
        {{"fftw",
          [&] {
            fftw_execute(peer.forward);
            fftw_execute(peer.backward);
          },
          1.5},
         {"fftwf",
          [&] {
            fftwf_execute(peer.forwardF);
            fftwf_execute(peer.backwardF);
          },
          2.0}},
        [] { CopyPlane(Source, 1, Work, 1); },
        [&] {
          bench::ExpectTwin([] { return bench::SlotPlanes(Work); }, [] { CopyPlane(Source, 1, Work, 1); }, deconvolve, 0,
                            "deconvolved image");
        });
  });
}

ASTRELON_FIGURES(BM_DeconvolutionBerechnen, "fftw", "fftwf");
BENCHMARK(BM_DeconvolutionBerechnen)->Arg(1)->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace astrelon
