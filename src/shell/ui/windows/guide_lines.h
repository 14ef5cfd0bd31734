#pragma once
// Lines the user draws in an image window to guide a geometry command.
#include <functional>
#include <optional>
#include <vector>

#include "store/image_store.h"

namespace astrelon {

// Shows the line-marking prompt in `mode` (1: one slanted line, 2: two opposite
// slanted lines) with the line tool active, waits until it closes and gives the
// lines drawn (end points as Left, Top = x1, y1 and Right, Bottom = x2, y2, image
// pixels); nullopt when the prompt was closed without "Ok" or cannot be shown.
// Installed by the prompt's module; unset, no line can be marked.
extern std::function<std::optional<std::vector<TRectI>>(int mode)> MarkGuideLines;

}  // namespace astrelon
