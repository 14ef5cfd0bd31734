// BatchTextSchreiben: the step records as untranslated and translated text.
#include <algorithm>
#include <cmath>

#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_captions.h"
#include "batch/steps/batch_operation_table.h"
#include "batch/steps/batch_step_list.h"
#include "batch/steps/batch_text.h"
#include "batch/steps/batch_window_state.h"
#include "batch/steps/translated_batch_table.h"
#include "common/number_text.h"
#include "common/pascal_format.h"
#include "common/paths.h"

namespace astrelon {

TBatchTextLists BatchText;

std::string StepTextUpperCase(std::string_view text) { return UpperCase(text); }

namespace {

constexpr const char* Gap = "   ";

// Appends one line to each list.
void Add(TBatchTextLists& out, std::string untranslated, std::string translated) {
  out.Lines.push_back(std::move(untranslated));
  out.Translated.push_back(std::move(translated));
}

// A value that is a number of magnitude above 1e-9; anything else counts as 0.
bool NonZeroShift(const std::string& value) {
  const auto v = TryStrToFloatDot(value);
  return v && std::fabs(*v) > 1e-9;
}

void WriteFileStep(TBatchTextLists& out, const bmenuitem& r) {
  const bmenuitem& u = BatchTableRow(0);
  const bmenuitem& t = TranslatedBatchTable[1];
  const bool list = BatchRun.InputList;
  Add(out, StepTextUpperCase("1. " + u.Name), StepTextUpperCase("1. " + t.Name));
  const std::string start = list && r.Values[0].empty() ? BatchCaption(TBatchCaption::FileList) : r.Values[0];
  Add(out, u.Labels[0] + Gap + r.Values[0], t.Labels[0] + Gap + start);
  Add(out, u.Labels[1] + Gap + r.Values[1], t.Labels[1] + Gap + r.Values[1]);
  if (!r.OptionCaption.empty()) {
    out.Lines.push_back(r.OptionCaption);
    if (!list) out.Translated.push_back(t.OptionCaption);
  } else if (BatchWindow.AllFilesInFolder) {
    Add(out, BatchCaptionGerman(TBatchCaption::AllFiles), BatchCaption(TBatchCaption::AllFiles));
  }
  Add(out, "", "");
}

// The page lines of the add-to-target step.
void WritePageLines(TBatchTextLists& out, const bmenuitem& r) {
  switch (BatchWindow.Page) {
    case TAddTargetPage::NormalComet:
      if (NonZeroShift(r.Values[0]) || NonZeroShift(r.Values[1])) {
        const std::string shift = "+ " + BatchCaption(TBatchCaption::Shift);
        Add(out, "+ Verschiebung X" + std::string(Gap) + r.Values[0], shift + " X" + Gap + r.Values[0]);
        Add(out, "+ Verschiebung Y" + std::string(Gap) + r.Values[1], shift + " Y" + Gap + r.Values[1]);
        if (BatchRun.ByTimestamp) Add(out, "Pro Minute", BatchCaption(TBatchCaption::PerMinute));
      }
      break;
    case TAddTargetPage::PlanetMoon:
      if (BatchWindow.EdgeDetection)
        Add(out, "Randerkennung" + std::string(Gap) + BatchWindow.EdgeValue,
            BatchCaption(TBatchCaption::EdgeDetection) + Gap + BatchWindow.EdgeValue);
      else
        Add(out, "Kreuzkorrelation", BatchCaption(TBatchCaption::CrossCorrelation));
      break;
    case TAddTargetPage::BayerSpecial:
      Add(out, "Bayeripol" + std::string(Gap) + BatchRun.MosaicFileName,
          BatchCaption(TBatchCaption::BayerPage) + Gap + BatchRun.MosaicFileName);
      break;
  }
}

void WriteStep(TBatchTextLists& out, int32_t i, TBatchOp op, const bmenuitem& r) {
  const bmenuitem& t = TranslatedBatchTable[size_t(op >= -1 && op <= BatchOperationCount ? op + 1 : 0)];
  const std::string number = IntToStr(i) + ". ";
  Add(out, StepTextUpperCase(number + r.Name), StepTextUpperCase(number + t.Name));
  const bool pixelCounts = op == 3 && r.OptionFlags >= 0 && (r.OptionFlags & 2);
  for (size_t j = 0; j < 4; ++j) {
    if (r.Labels[j].empty()) continue;
    std::string label = r.Labels[j], shown = t.Labels[j].empty() ? r.Labels[j] : t.Labels[j];
    if (pixelCounts && j < 2) {
      label = j == 0 ? "Pixelanzahl X" : "Pixelanzahl Y";
      shown = BatchCaption(j == 0 ? TBatchCaption::PixelCountX : TBatchCaption::PixelCountY);
    }
    Add(out, label + Gap + r.Values[j], shown + Gap + r.Values[j]);
  }
  if (op == 10) WritePageLines(out, r);
  if (!r.OptionCaption.empty())
    Add(out, r.OptionCaption, t.OptionCaption.empty() ? r.OptionCaption : t.OptionCaption);
  if (op == 3 && r.OptionFlags > 0) {
    if (r.OptionFlags & 1) Add(out, "Kastenfunktion", BatchCaption(TBatchCaption::BoxFunction));
    if ((r.OptionFlags & 6) == 6) Add(out, "MaximumWerte", BatchCaption(TBatchCaption::MaximumValues));
  }
  if (op == 11 && r.OptionFlags > 0)
    Add(out, "Temperaturausgleich", BatchCaption(TBatchCaption::TemperatureComp));
  if (r.MarksOrInterpolation >= 0) {
    const int32_t m = r.MarksOrInterpolation;
    if (op == 10 || op == 14) {
      Add(out, "Sternanzahl" + std::string(Gap) + IntToStr(m),
          BatchCaption(TBatchCaption::MarksGroup) + Gap + (m == 3 ? std::string("Multi") : IntToStr(m)));
      if (op == 10) {
        const size_t f = BatchRun.CombineMode >= 0 && BatchRun.CombineMode < 6 ? size_t(BatchRun.CombineMode) : 0;
        Add(out, "Funktion" + std::string(Gap) + BatchCombineNames[f],
            BatchCaption(TBatchCaption::FunctionGroup) + Gap + BatchCombineItems[f]);
      }
    } else {
      const size_t k = m < 5 ? size_t(m) : 2;
      Add(out, "Interpolation" + std::string(Gap) + BatchInterpolationNames[k],
          BatchCaption(TBatchCaption::InterpolationGroup) + Gap + BatchInterpolationNames[k]);
    }
  }
  Add(out, "", "");
}

}  // namespace

void BatchTextSchreiben() {
  TBatchTextLists& out = BatchText;
  out.Lines.clear();
  out.Translated.clear();
  const TBatchStepList& list = BatchSteps;
  const int32_t count = std::min<int32_t>(list.StepCount, int32_t(list.Records.size()) - 1);
  if (count < 1) return;
  WriteFileStep(out, list.Records[1]);
  for (int32_t i = 2; i <= count; ++i) WriteStep(out, i, list.Ops[size_t(i)], list.Records[size_t(i)]);
}

}  // namespace astrelon
