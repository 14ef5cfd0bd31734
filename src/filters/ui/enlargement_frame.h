#pragma once
// The frame of the two-times enlargement commands: whole numbers typed into
// input boxes, and a run on a new result slot with the busy cursor, the
// operation guard, the closing steps and the status panel.
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace astrelon {

// "Bildgröße ändern" (the translation of the menu's item without "&").
QString ResizeStatusText();

// A whole number typed into the input box `caption` / `prompt`, preset with
// `preset`; nullopt after Cancel or after a text that is no whole number (a
// message says so). `typed` receives the text as typed.
std::optional<int32_t> AskWholeNumber(const QString& caption, const QString& prompt, const QString& preset,
                                      QString* typed = nullptr);

enum class TEnlargementRun { NoResult, Aborted, Done };

// Makes a copy of the active image in the lowest free slot (nothing happens
// when none can be made) and runs enlarge(source, destination) with the busy
// cursor and the operation marked active (closing either window only raises
// the abort flag). A run that returns true and was not aborted gets its
// histogram, its NAXIS cards, the history card `history` (mode as for
// AddHistoryCard; none when empty) and its window; otherwise, and after an exception, the result
// slot is closed. The status panel 2 is cleared and the slot pair reset.
TEnlargementRun RunEnlargementOnResult(const std::string& history, int historyMode,
                                       const std::function<bool(int source, int destination)>& enlarge);

}  // namespace astrelon
