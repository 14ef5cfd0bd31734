#include "batch/steps/translated_batch_table.h"

#include "batch/steps/batch_captions.h"
#include "core/language.h"

namespace astrelon {

TBatchOperationTable TranslatedBatchTable = BatchOperationTable();

void ResetTranslatedBatchTable() { TranslatedBatchTable = BatchOperationTable(); }

void TranslateBatchTable() {
  ResetTranslatedBatchTable();
  if (!LanguageFileLoaded) return;
  const auto translate = [](std::string& text, int row, int entry) {
    if (text.empty()) return;
    if (std::string t = LangText(LangKey(BatchLanguageSection, row, entry)); !t.empty()) text = std::move(t);
  };
  for (int r = 1; r < int(TranslatedBatchTable.size()); ++r) {
    bmenuitem& row = TranslatedBatchTable[size_t(r)];
    translate(row.Name, r, 1);
    for (int j = 0; j < 4; ++j) translate(row.Labels[size_t(j)], r, 2 + j);
    translate(row.OptionCaption, r, 6);
  }
}

}  // namespace astrelon
