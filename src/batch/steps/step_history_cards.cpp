#include "batch/steps/step_history_cards.h"

#include <algorithm>

#include "batch/steps/batch_text.h"
#include "common/pascal_format.h"
#include "common/text_codec.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

void AddStepHistoryCards(int slot, int32_t n) {
  if (slot < 0 || slot >= SlotArraySize) return;
  const std::vector<std::string>& lines = BatchText.Translated;
  const std::string number = IntToStr(n) + ".";
  const auto header = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(number); });
  if (header == lines.end()) return;
  Store.NewHistoryCard[size_t(slot)] = 1;
  AddHistoryCard(slot, Utf8Substr(*header, Utf8Length(number) + 1), 0);
  for (auto it = header + 1; it != lines.end() && Utf8Length(*it) > 2; ++it) AddHistoryCard(slot, *it, 0);
  Store.NewHistoryCard[size_t(slot)] = 1;
}

}  // namespace astrelon
