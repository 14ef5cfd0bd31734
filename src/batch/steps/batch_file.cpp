#include "batch/steps/batch_file.h"

#include <cmath>

#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_captions.h"
#include "batch/steps/batch_step_list.h"
#include "batch/steps/batch_text.h"
#include "batch/steps/batch_window_state.h"
#include "common/atomic_file.h"
#include "common/engine_ui.h"
#include "common/number_text.h"
#include "common/pascal_format.h"
#include "common/paths.h"
#include "common/text_codec.h"

namespace astrelon {
namespace {

// Batch files are a few kilobytes; anything beyond this is not one.
constexpr size_t MaxBatchFileBytes = size_t(64) << 20;
// Comet motion in pixels per minute or frame; a larger magnitude is no motion
// (and near the end of the double range its 15 written digits would not read
// back).
constexpr double MaxCometValue = 1e300;

}  // namespace

std::string BatchFileText(const TBatchFile& file) {
  std::string text;
  const auto line = [&text](std::string_view l) {
    text += l;
    text += "\r\n";
  };
  for (const std::string& l : file.Lines) line(l);
  if (file.CometValuesSet) {
    line("VDiffBerechnet");
    for (double v : file.Comet) line(FloatToStrF(v, TFloatFormat::General, 15, 0));
  }
  if (!file.InputFiles.empty()) {
    line("Eingangsliste");
    for (const std::string& name : file.InputFiles) line(name);
  }
  line("");
  return text;
}

TBatchFile ParseBatchFile(std::string_view text) {
  TBatchFile file;
  const std::vector<std::string> lines = SplitLines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    if (l.starts_with("VDiffBerechnet")) {
      // The four numbers; the block ends early at a line that is not one.
      std::array<double, 4> values{};
      size_t n = 0;
      while (n < 4 && i + 1 < lines.size()) {
        const auto v = TryStrToFloatDot(lines[i + 1]);
        if (!v || !(std::fabs(*v) <= MaxCometValue)) break;
        values[n++] = *v;
        ++i;
      }
      if (n == 4) {
        file.Comet = values;
        file.CometValuesSet = true;
      }
    } else if (l.starts_with("Eingangsliste")) {
      while (i + 1 < lines.size() && !lines[++i].empty()) file.InputFiles.push_back(lines[i]);
    } else {
      file.Lines.push_back(l);
    }
  }
  return file;
}

bool SaveBatchFile(const std::string& path) {
  if (BatchSteps.StepCount < 1) return true;
  BatchTextSchreiben();
  TBatchFile file;
  file.Lines = BatchText.Lines;
  file.CometValuesSet = BatchRun.CometValuesSet;
  file.Comet = {BatchRun.CometPerMinuteX, BatchRun.CometPerMinuteY, BatchRun.CometPerFrameX, BatchRun.CometPerFrameY};
  if (BatchRun.InputList) file.InputFiles = BatchWindow.DropList;
  std::string error;
  if (WriteFileAtomic(path, BatchFileText(file), &error)) return true;
  EngineUi().ShowMessage(BatchCaption(TBatchCaption::SaveFailed) + "\r\n" + path);
  return false;
}

bool LoadBatchFile(const std::string& path) {
  const std::optional<std::string> text = ReadTextFile(path, MaxBatchFileBytes);
  if (!text) {
    EngineUi().ShowMessage(BatchCaption(TBatchCaption::TheFile) + path + BatchCaption(TBatchCaption::CouldNotOpen));
    return false;
  }
  TBatchFile file = ParseBatchFile(*text);
  BatchRun.UseShiftList = false;
  BatchWindow.TimestampTicked = false;
  BatchRun.CometValuesSet = file.CometValuesSet;
  if (file.CometValuesSet) {
    BatchRun.CometPerMinuteX = file.Comet[0];
    BatchRun.CometPerMinuteY = file.Comet[1];
    BatchRun.CometPerFrameX = file.Comet[2];
    BatchRun.CometPerFrameY = file.Comet[3];
  }
  BatchRun.InputList = !file.InputFiles.empty();
  BatchWindow.DropList = std::move(file.InputFiles);
  BatchText.Lines = std::move(file.Lines);
  BatchWindow.ShiftListFolder = ExtractFilePath(path);
  BatchWindow.ShiftListFileName.clear();
  BatchTextLesen();
  return true;
}

}  // namespace astrelon
