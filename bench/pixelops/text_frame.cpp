// Speed of the caption block: a 6000 x 4000 RGB image gets a border of 20, a
// frame of 3 and a two-line caption in a new slot. The baseline is a plain pass
// on one thread that copies the three planes into cleared planes of the grown
// size (figure "plain", goal 3: the frame, the caption drawn with Qt's fonts
// and the display's scaling on top). Check: the result has the grown size and
// the fingerprint of a checked run (the frame and caption included).
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <random>
#include <vector>

#include "peer_measure.h"
#include "pixelops/ui/stamping/text_frame_render.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int W = 6000, H = 4000, Source = 1;

QGuiApplication& App() {
  static int argc = 1;
  static char name[] = "bench_text_frame";
  static char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QGuiApplication app(argc, argv);
  return app;
}

void BM_RenderTextFrame(benchmark::State& state) {
  App();
  Store.Reset();
  TImageSlot& im = Store.Image[Source];
  im.Width = W, im.Height = H, im.PlaneCount = 3, im.IsColor = 1;
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> value(0, 60000);
  im.AllocatePlanes(3);
  for (int p = 1; p <= 3; ++p)
    for (float& v : im.Planes[size_t(p)]) v = value(rng);
  Store.InUse[Source] = 1;
  Store.Display[Source].Black = 0, Store.Display[Source].White = 60000;

  TTextFrameRequest r;
  r.BorderWidth = 20, r.FrameWidth = 3;
  r.Text = "NGC 7000, 12 x 300 s\nTelescope 200/1000, camera at -10.0 \u00B0C";
  const TTextFrameLayout layout = LayoutTextFrame(TextFrameInputFor(r, W, H));
  const size_t grown = size_t(layout.ResultWidth) * size_t(layout.ResultHeight);
  std::vector<std::vector<float>> out(3);
  const auto baseline = [&] {
    for (int p = 1; p <= 3; ++p) {
      std::vector<float>& o = out[size_t(p - 1)];
      o.assign(grown, 0.0f);
      for (int y = 0; y < H; ++y)
        std::copy_n(im.Planes[size_t(p)].data() + size_t(y) * W, W,
                    o.data() + size_t(y + 20) * size_t(layout.ResultWidth) + 20);
    }
    benchmark::DoNotOptimize(out.data());
  };
  int result = -1;
  const auto prepare = [&] {
    if (result > 0) {
      Store.Image[size_t(result)].FreePlanes();
      Store.InUse[size_t(result)] = 0;
    }
    for (auto& o : out) std::vector<float>().swap(o);
  };
  bench::Measure(
      state,
      [&] {
        result = RenderTextFrame(Source, r);
        bench::Expect(result > 0, "no caption block made");
      },
      {{"plain", baseline, 3.0}}, prepare,
      [&] {
        const TImageSlot& im = Store.Image[size_t(result)];
        bench::Expect(im.Width == layout.ResultWidth && im.Height == layout.ResultHeight, "result of another size");
        bench::ExpectFingerprint(
            bench::SlotFingerprint(result),
            {73820880, 0, 0, 60000, 29409.10808, 17731.33174, 0.4204291568, 0.9108010912, 19536.47508}, "framed image");
      });
  prepare();
  Store.Reset();
}

ASTRELON_FIGURES(BM_RenderTextFrame, "plain");
BENCHMARK(BM_RenderTextFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(6);

}  // namespace
}  // namespace astrelon
