#include "batch/exec/step_values.h"

#include <limits>

#include "batch/steps/batch_captions.h"
#include "batch/steps/translated_batch_table.h"
#include "common/engine_ui.h"
#include "common/number_text.h"
#include "common/pascal_format.h"

namespace astrelon {

namespace {

[[noreturn]] void NotANumber(const std::string& text) {
  throw TBatchStepError("'" + text + "'" + BatchCaption(TBatchCaption::NotANumber));
}

}  // namespace

int32_t StepInt(const std::string& text) {
  const auto v = TryStrToInt(text);
  if (!v || *v < std::numeric_limits<int32_t>::min() || *v > std::numeric_limits<int32_t>::max()) NotANumber(text);
  return int32_t(*v);
}

double StepFloat(const std::string& text) {
  const auto v = TryStrToFloat32Dot(text);
  if (!v) NotANumber(text);
  return *v;
}

double StepAngle(const std::string& text) {
  const auto v = TryStrToAngleDot(text);
  if (!v) NotANumber(text);
  return *v;
}

std::string TranslatedOperationName(TBatchOp op) {
  if (op < 0 || op > BatchOperationCount) return {};
  return TranslatedBatchTable[size_t(op) + 1].Name;
}

void ShowStepError(TBatchOp op) {
  EngineUi().ShowMessage(BatchCaption(TBatchCaption::Error) + TranslatedOperationName(op));
}

void ShowFileNotLoaded(const std::string& fileName) {
  EngineUi().ShowMessage(BatchCaption(TBatchCaption::Error) + "\r\n" + fileName + "\r\n" +
                         BatchCaption(TBatchCaption::CouldNotLoad));
}

}  // namespace astrelon
