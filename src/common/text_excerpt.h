#pragma once
// The part of a text that a message quotes: a message box never grows wider
// than the screen however long the offending line of a file is.
#include <cstddef>
#include <string>
#include <string_view>

namespace astrelon {

// Characters a message quotes of a line at most.
constexpr size_t MessageExcerptLength = 40;

// The first `count` characters (UTF-8 code points) of the text, followed by
// "..." when the text is longer.
std::string MessageExcerpt(std::string_view text, size_t count = MessageExcerptLength);

}  // namespace astrelon
