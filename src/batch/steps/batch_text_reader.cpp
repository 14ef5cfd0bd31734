// BatchTextLesen: the untranslated batch text back into step records. Step
// headers are found by their upper-cased names, so lines between steps that
// match no header are passed over; the lines after a header are read by the
// operation's layout, optional lines only where they are present.
#include <algorithm>
#include <array>

#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_operation_table.h"
#include "batch/steps/batch_step_list.h"
#include "batch/steps/batch_text.h"
#include "batch/steps/batch_window_state.h"
#include "common/paths.h"
#include "common/text_codec.h"

namespace astrelon {
namespace {

class TReader {
public:
  explicit TReader(const std::vector<std::string>& lines) : lines_(lines) {}

  // Line k, or an empty line past the end.
  const std::string& Line(size_t k) const { return k < lines_.size() ? lines_[k] : empty_; }
  size_t Count() const { return lines_.size(); }
  bool Begins(size_t k, std::string_view prefix) const { return Line(k).starts_with(prefix); }

  // The text of line k from character `column` (1-based) on, without
  // surrounding blanks.
  std::string ValueAt(size_t k, size_t column) const { return Trim(Utf8Substr(Line(k), column - 1)); }
  // The value after a label and three blanks.
  std::string LabelValue(size_t k, std::string_view label) const { return ValueAt(k, Utf8Length(label) + 4); }
  size_t Length(size_t k) const { return Utf8Length(Line(k)); }

private:
  static std::string Trim(std::string s) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!s.empty() && blank(s.back())) s.pop_back();
    const auto first = std::find_if_not(s.begin(), s.end(), blank);
    s.erase(s.begin(), first);
    return s;
  }

  const std::vector<std::string>& lines_;
  const std::string empty_;
};

// The operation whose header the line holds after `skip` characters; 0 when none.
TBatchOp MatchHeader(const std::string& line, size_t skip) {
  static const auto headers = [] {
    std::array<std::string, BatchOperationCount + 1> h;
    for (TBatchOp op = 1; op <= BatchOperationCount; ++op) h[size_t(op)] = StepTextUpperCase(BatchTableRow(op).Name);
    return h;
  }();
  static const size_t longest = std::max_element(headers.begin(), headers.end(), [](auto& a, auto& b) {
                                  return a.size() < b.size();
                                })->size();
  // A step number of up to three characters and its ". " take at most 5 * 4 bytes.
  if (line.size() > longest + 20) return 0;
  const std::string text = Utf8Substr(line, skip);
  for (TBatchOp op = 1; op <= BatchOperationCount; ++op)
    if (text == headers[size_t(op)]) return op;
  return 0;
}

// Reads the lines of an add-to-target (10) or fit-to-target (14) step from line
// q; returns the line after the last one read. The page of the batch window
// belongs to the add step: a fit step's "Kreuzkorrelation" is its option only,
// so that a fit step after an add step leaves the add step's page alone.
size_t ReadAlignStep(const TReader& in, size_t q, TBatchOp op, bmenuitem& r) {
  const bool add = op == 10;
  TBatchWindowState& w = BatchWindow;
  if (add) w.Page = TAddTargetPage::NormalComet;
  r.OptionCaption.clear();
  if (in.Begins(q, "+ ")) {
    if (add) r.Values[0] = in.LabelValue(q, "+ Verschiebung X");
    ++q;
    if (in.Begins(q, "+ ")) {
      if (add) r.Values[1] = in.LabelValue(q, "+ Verschiebung Y");
      ++q;
    }
    if (in.Begins(q, "Pro")) {
      if (add) BatchRun.ByTimestamp = w.TimestampTicked = true;
      ++q;
    }
  } else if (in.Begins(q, "Ra") || in.Begins(q, "So")) {
    if (add) {
      w.Page = TAddTargetPage::PlanetMoon;
      w.EdgeDetection = true;
      if (in.Begins(q, "Ra") && in.Length(q) >= 17) w.EdgeValue = in.ValueAt(q, 17);
    }
    ++q;
  } else if (in.Begins(q, "Kr")) {
    if (add) {
      w.Page = TAddTargetPage::PlanetMoon;
      w.EdgeDetection = false;
    } else {
      r.OptionCaption = BatchTableRow(op).OptionCaption;
    }
    ++q;
  } else if (in.Begins(q, "Ba")) {
    if (add) {
      w.Page = TAddTargetPage::BayerSpecial;
      BatchRun.MosaicFileName = in.ValueAt(q, 13);
    }
    ++q;
  }
  if (op == 10 && in.Begins(q, "Do")) {
    r.OptionCaption = BatchTableRow(op).OptionCaption;
    ++q;
  }
  if (in.Begins(q, "Sternanzahl")) {
    const std::string mark = Utf8Substr(in.Line(q++), 14, 1);
    if (mark.size() == 1 && mark[0] >= '0' && mark[0] <= '3') r.MarksOrInterpolation = mark[0] - '0';
  }
  if (in.Begins(q, "Fu")) {
    const std::string name = in.ValueAt(q++, 12);
    const auto found = std::find(BatchCombineNames.begin(), BatchCombineNames.end(), name);
    if (add) BatchRun.CombineMode = found == BatchCombineNames.end() ? 0 : int32_t(found - BatchCombineNames.begin());
  }
  return q;
}

// Resize: factors or pixel counts, then the optional lines in their order.
size_t ReadResizeStep(const TReader& in, size_t p, bmenuitem& r) {
  if (in.Begins(p, "P")) {
    r.OptionFlags = 2;
    r.Values[0] = in.ValueAt(p, 17);
    r.Values[1] = in.ValueAt(p + 1, 17);
  } else {
    r.OptionFlags = 0;
    r.Values[0] = in.LabelValue(p, r.Labels[0]);
    r.Values[1] = in.LabelValue(p + 1, r.Labels[1]);
  }
  size_t q = p + 2;
  r.OptionCaption.clear();
  if (in.Begins(q, "Anti")) {
    r.OptionCaption = BatchTableRow(3).OptionCaption;
    ++q;
  }
  if (in.Begins(q, "Kast")) {
    r.OptionFlags += 1;
    ++q;
  }
  if (in.Begins(q, "Maxi")) {
    r.OptionFlags += 4;
    ++q;
  }
  const std::string kind = Utf8Substr(in.Line(q), 16, 2);
  for (size_t k = 0; k < BatchInterpolationNames.size(); ++k)
    if (kind.size() == 2 && std::string_view(BatchInterpolationNames[k]).starts_with(kind)) {
      r.MarksOrInterpolation = int32_t(k);
      ++q;
      break;
    }
  return q;
}

// Any other operation: one line per parameter, then its option line.
size_t ReadPlainStep(const TReader& in, size_t p, TBatchOp op, bmenuitem& r) {
  size_t q = p;
  for (size_t j = 0; j < 4 && !r.Labels[j].empty(); ++j, ++q) {
    const bool take = (op == 28 && j == 0)   ? in.Length(q) >= 14
                      : (op == 31 && j == 0) ? in.Length(q) > 10
                      : (op == 32 && j == 1) ? !in.Line(q).empty()
                      : (op == 34 && j == 3) ? in.Length(q) >= 2
                                             : true;
    if (take)
      r.Values[j] = in.LabelValue(q, r.Labels[j]);
    else if (op == 28)
      r.Values[j] = "2";
    else if (op == 32)
      r.Values[j] = "1.0";
    else if (op == 34)
      r.Values[j] = "65535.0";
  }
  // The single option: on when its line is there.
  const auto option = [&](std::string_view prefix) {
    const bool on = in.Begins(q, prefix);
    r.OptionCaption = on ? BatchTableRow(op).OptionCaption : std::string();
    if (on) ++q;
  };
  switch (op) {
    case 11:
      option("Ho");
      r.OptionFlags = in.Begins(q, "Te") ? 1 : 0;
      if (r.OptionFlags) ++q;
      break;
    case 12: option("Au"); break;
    case 20: option("Tr"); break;
    case 36: option("Ab"); break;
    default: break;
  }
  return q;
}

// Clears every step after `last`: blank records, no operation.
void ClearStepsAfter(TBatchStepList& list, int32_t last) {
  for (size_t i = size_t(last) + 1; i < list.Records.size(); ++i) list.Records[i] = BatchTableRow(-1);
  for (size_t i = size_t(last) + 1; i < list.Ops.size(); ++i) list.Ops[i] = -1;
}

}  // namespace

void BatchTextLesen() {
  TBatchStepList& list = BatchSteps;
  const TReader in(BatchText.Lines);
  list.EditorStep = 1;
  list.StepCount = 1;
  list.Ops[1] = 0;
  EnsureStepCapacity(list, 1);
  bmenuitem& file = list.Records[1];
  file = BatchTableRow(0);
  if (in.Begins(1, "Anfangsdatei")) {
    file.Values[0] = in.ValueAt(1, 16);
    BatchWindow.ShiftListFolder = ExtractFilePath(file.Values[0]);
    BatchWindow.ShiftListFileName.clear();
    if (in.Length(2) > 12) file.Values[1] = in.ValueAt(2, 13);
    size_t k = 5;
    if (in.Begins(3, "All")) {
      BatchWindow.AllFilesInFolder = true;
      file.OptionCaption.clear();
    } else if (!in.Begins(3, "Feh")) {
      // Without an option line neither option is on.
      BatchWindow.AllFilesInFolder = false;
      file.OptionCaption.clear();
      k = 4;
    } else {
      BatchWindow.AllFilesInFolder = false;
    }
    while (k < in.Count() && list.StepCount < MaxBatchSteps) {
      const int32_t n = list.StepCount + 1;
      const TBatchOp op = MatchHeader(in.Line(k), n < 10 ? 3 : n < 100 ? 4 : 5);
      if (op == 0) {
        ++k;
        continue;
      }
      EnsureStepCapacity(list, n);
      bmenuitem& r = list.Records[size_t(n)];
      r = BatchTableRow(op);
      list.Ops[size_t(n)] = op;
      const size_t p = k + 1;
      k = op == 10 || op == 14 ? ReadAlignStep(in, p, op, r) : op == 3 ? ReadResizeStep(in, p, r) : ReadPlainStep(in, p, op, r);
      list.StepCount = n;
    }
  }
  ClearStepsAfter(list, list.StepCount);
  BatchRun.ByTimestamp = BatchWindow.TimestampTicked;
}

}  // namespace astrelon
