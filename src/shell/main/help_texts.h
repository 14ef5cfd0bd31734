#pragma once
// The help window's texts: 20 paragraphs in four groups of five. Group 1 is the
// page on image addition, group 2 the page on batch processing, group 3 the
// tips, group 4 the continuation of the batch page.
#include <array>
#include <string>

namespace astrelon {

constexpr int HelpEntryCount = 20;

// The paragraphs, translated where the translation file has a text (a missing
// translation keeps the German paragraph). Entries 9, 18 and 19 are empty.
std::array<std::string, HelpEntryCount> HelpEntries();

// The five paragraphs of a group 1..4; none for other groups.
std::array<std::string, 5> HelpGroup(int group);

}  // namespace astrelon
