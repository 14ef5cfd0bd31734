#pragma once
// How the info text window lays out its text: lines cut at CR, each with one
// blank in front, and the text after the first TAB of each line aligned in one
// column.
#include <cstddef>
#include <string>
#include <vector>

namespace astrelon {

// The lines of a text: the part before each CR becomes a line with a blank in
// front; the CR and the character after it go; every further LF at the front
// adds a line holding one blank. A rest after the last CR becomes a last line
// (with its blank) when it is longer than one character.
std::vector<std::string> InfoTextLines(const std::string& text);

// In lines[from..]: the first TAB of each line is replaced by blanks so that the
// text after it starts in one column (one blank after the line whose TAB stands
// furthest right). Positions count characters. Returns the index of the longest
// of these lines (`from` when there are none).
size_t AlignFirstTabs(std::vector<std::string>& lines, size_t from);

}  // namespace astrelon
