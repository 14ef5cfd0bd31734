// A batch run over 50 FITS frames of 4096 x 4096 with "Wert addieren" and
// "Bild spiegeln", each result saved as 32-bit float FITS, against a plain
// loop doing the same loads, operations and saves. The frames are links to
// one file in memory (/dev/shm); each result is removed once the next image
// is under way (in both), so that the run keeps two results at most. Figure
// "plain_loop" (goal 1.1): the run's time over the loop's. Check: the run ends
// with every image done, and its last result, read back, is the frame plus 1
// mirrored left to right, exactly.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "batch/run/batch_engine.h"
#include "batch/run/batch_engine_state.h"
#include "batch/run/batch_run_start.h"
#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_step_list.h"
#include "batch/steps/batch_text.h"
#include "bench_folder.h"
#include "common/engine_ui.h"
#include "core/settings.h"
#include "kernels/regions/value_arithmetic.h"
#include "peer_measure.h"
#include "shell/slots/slot_orientation.h"
#include "store/fits/fits_writer.h"
#include "store/image_loader.h"
#include "store/image_store.h"

namespace astrelon::bench {
namespace {

namespace fs = std::filesystem;

constexpr int Side = 4096, Frames = 50;

std::string FrameName(const std::string& folder, int i) {
  char name[32];
  std::snprintf(name, sizeof name, "/f%04d.fit", i);
  return folder + name;
}

std::string ResultName(const std::string& folder, int i) {
  char name[32];
  std::snprintf(name, sizeof name, "/out/r_%04d.FIT", i);
  return folder + name;
}

// The first frame written once, the others linked to it.
TBenchFolder& Folder() {
  static TBenchFolder folder("batch_run");
  static bool made = false;
  if (!made) {
    made = true;
    std::vector<float> v(size_t(Side) * Side);
    std::mt19937 rng(5);
    std::normal_distribution<float> noise(1000, 30);
    for (float& x : v) x = noise(rng);
    TImageSlot& im = Store.Image[1];
    im.Width = im.Height = Side;
    im.PlaneCount = 1;
    im.Planes[1].assign(v.begin(), v.end());
    Store.InUse[1] = 1;
    MakeDefaultHeader(1);
    SaveFits(1, -32, FrameName(folder.Path, 1), false, false);
    Store.Reset();
    for (int i = 2; i <= Frames; ++i) fs::create_hard_link(FrameName(folder.Path, 1), FrameName(folder.Path, i));
    fs::create_directories(folder.Path + "/out");
  }
  return folder;
}

// Removes the results before the one of image `current`.
void RemoveEarlierResults(const std::string& folder, int current) {
  std::error_code ec;
  for (int i = std::max(1, current - 3); i < current; ++i) fs::remove(ResultName(folder, i), ec);
}

// The engine's pumps remove finished results.
class TBenchUi : public TEngineUi {
public:
  void ProcessMessages() override { RemoveEarlierResults(Folder, BatchRun.FilesDone); }
  std::string Folder;
};

void PlainLoop(const std::string& folder) {
  for (int i = 1; i <= Frames; ++i) {
    const int slot = FindFreeSlot();
    if (!LoadImageFile(slot, FrameName(folder, i))) Fail("frame not read");
    SetWorkRectToImage(slot);
    AddValuesToRect(slot, 1, 1, 1);
    MirrorSlotHorizontal(slot);
    if (!SaveFits(slot, -32, ResultName(folder, i), true, false)) Fail("result not written");
    FreeSlot(slot);
    RemoveEarlierResults(folder, i);
  }
  RemoveEarlierResults(folder, Frames + 1);
}

void EngineRun(const std::string& folder) {
  TBenchUi ui;
  ui.Folder = folder;
  SetEngineUi(&ui);
  BatchSteps = TBatchStepList();
  BatchSteps.Records[1].Values[0] = FrameName(folder, 1);
  BatchSteps.Records[1].Values[1] = folder + "/out/r.fit";
  int32_t mode = 0;
  for (const TBatchOp op : {4, 21}) {
    BatchSteps.EditorStep = BatchSteps.StepCount + 1;
    SetStepOperation(BatchSteps, op, mode);
    BatchSteps.StepCount = BatchSteps.EditorStep;
  }
  BatchSteps.Records[2].Values[0] = "1";
  BatchTextSchreiben();
  BatchRun.OverwriteAll = true;
  if (!CheckBatchStart()) Fail("the run did not start");
  BatchRun.OverwriteAll = true;
  BeginBatchRun();
  while (BatchRun.Running)
    if (!BatchEngineTick()) break;
  SetEngineUi(nullptr);
  const bool done = BatchRun.FilesDone == Frames && !BatchRun.EndOfRun;
  BatchRun.Running = 0;
  // The last result stays for the check.
  RemoveEarlierResults(folder, Frames);
  if (!done) Fail("the run ended early");
}

// The run's last result against the frame plus 1, mirrored left to right.
void CheckLastResult(const std::string& folder) {
  Store.Reset();
  if (!LoadImageFile(1, FrameName(folder, 1)) || !LoadImageFile(2, ResultName(folder, Frames)))
    Fail("frame or last result not read");
  const TImageSlot& frame = Store.Image[1];
  Expect(Store.Image[2].Width == Side && Store.Image[2].Height == Side, "last result of another size");
  TPlane want(frame.PixelCount());
  for (int y = 0; y < Side; ++y)
    for (int x = 0; x < Side; ++x) want[size_t(y) * Side + size_t(x)] = frame.At(1, Side - 1 - x, y) + 1.0f;
  ExpectNear(Store.Image[2].Planes[1], want, 0, "last result");
  Store.Reset();
  std::error_code ec;
  fs::remove(ResultName(folder, Frames), ec);
}

void BM_BatchRun(benchmark::State& state) {
  const std::string folder = Folder().Path;
  Settings.FitsSaveFormat = -32;
  InstallBatchEngine();
  Measure(
      state, [&] { EngineRun(folder); },
      {{"plain_loop", [&] { PlainLoop(folder); }, 1.1}},
      [] { Store.Reset(); }, [&] { CheckLastResult(folder); });
}

ASTRELON_FIGURES(BM_BatchRun, "plain_loop");
BENCHMARK(BM_BatchRun)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace astrelon::bench
