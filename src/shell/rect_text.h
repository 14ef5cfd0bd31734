#pragma once
// The text of a rectangle in history texts and statistics.
#include <string>

#include "store/image_store.h"

namespace astrelon {

// "[X1: left, X2: right, Y1: top, Y2: bottom]".
std::string FormatRectText(const TRectI& r);

}  // namespace astrelon
