#include "store/rect_text.h"

#include "common/pascal_format.h"

namespace astrelon {

std::string FormatRectText(const TRectI& r) {
  return "[X1: " + IntToStr(r.Left) + ", X2: " + IntToStr(r.Right) + ", Y1: " + IntToStr(r.Top) +
         ", Y2: " + IntToStr(r.Bottom) + "]";
}

}  // namespace astrelon
