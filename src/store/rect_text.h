#pragma once
// The text of a rectangle in history cards and info texts.
#include <string>

#include "store/image_store.h"

namespace astrelon {

// "[X1: left, X2: right, Y1: top, Y2: bottom]" with decimal integers.
std::string FormatRectText(const TRectI& r);

}  // namespace astrelon
