// libFuzzer target for batch files ".qzb": every input is read into a fresh
// batch; what the program then saves, opened again, must save to the same
// file. Built by fuzz/build.sh (clang).
#include <cstdint>
#include <string>
#include <vector>

#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_file.h"
#include "batch/steps/batch_step_list.h"
#include "batch/steps/batch_text.h"
#include "batch/steps/batch_window_state.h"
#include "common/file_bytes.h"
#include "fuzz_input.h"

namespace {

void FreshBatch() {
  using namespace astrelon;
  BatchSteps = TBatchStepList();
  BatchWindow = TBatchWindowState();
  BatchText = TBatchTextLists();
  BatchRun.CometValuesSet = BatchRun.InputList = BatchRun.ByTimestamp = BatchRun.UseShiftList = false;
  BatchRun.CombineMode = 0;
  BatchRun.MosaicFileName = "*.qcm";
}

std::vector<uint8_t> Saved(const std::string& path) {
  std::vector<uint8_t> bytes;
  astrelon::fuzz::Check(astrelon::SaveBatchFile(path), "batch saved");
  astrelon::fuzz::Check(astrelon::ReadFileBytes(path, bytes), "saved batch read");
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace astrelon;
  static const std::string input = fuzz::TempName(".qzb"), once = fuzz::TempName("-1.qzb"),
                           twice = fuzz::TempName("-2.qzb");
  fuzz::QuietMessages();
  if (!fuzz::WriteInput(input, data, size)) return 0;
  FreshBatch();
  fuzz::Check(LoadBatchFile(input), "batch file read");
  fuzz::Check(BatchSteps.StepCount >= 1 && BatchSteps.StepCount <= MaxBatchSteps, "step count");
  fuzz::Check(BatchSteps.Records.size() > size_t(BatchSteps.StepCount), "step records");
  const std::vector<uint8_t> first = Saved(once);
  // Opened again in the same window, as the program does.
  fuzz::Check(LoadBatchFile(once), "saved batch read back");
  fuzz::Check(Saved(twice) == first, "batch survives saving and reading");
  return 0;
}
