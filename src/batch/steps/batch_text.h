#pragma once
// The batch as text: the untranslated lines (parsed and saved) and the
// translated lines (shown, and the source of each step's history cards). Each
// step is a header "n. NAME", one line per parameter (label, three blanks,
// value), the lines of its options and an empty line.
#include <string>
#include <string_view>
#include <vector>

namespace astrelon {

struct TBatchTextLists {
  std::vector<std::string> Lines;       // untranslated
  std::vector<std::string> Translated;  // as shown to the user
};

extern TBatchTextLists BatchText;

// Only the letters a to z turned into capitals; umlauts and "ß" stay.
std::string StepTextUpperCase(std::string_view text);

// Writes both line lists from the steps 1..StepCount of BatchSteps, the run
// state's batch settings and the window's pages.
void BatchTextSchreiben();
// Reads the untranslated lines back into BatchSteps (and the settings the text
// carries into BatchRun and BatchWindow).
void BatchTextLesen();

}  // namespace astrelon
