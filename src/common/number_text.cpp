#include "common/number_text.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "common/float_range.h"
#include "common/pascal_format.h"
#include "common/text_excerpt.h"

namespace astrelon {

std::string CommaToDot(std::string_view text) {
  std::string s(text);
  std::replace(s.begin(), s.end(), ',', '.');
  return s;
}

std::optional<double> TryStrToFloatDot(std::string_view text) { return TryStrToFloat(CommaToDot(text)); }

std::optional<double> TryStrToFloat32Dot(std::string_view text) {
  const std::optional<double> v = TryStrToFloatDot(text);
  if (!v || !InFloatRange(*v)) return std::nullopt;
  return v;
}

std::optional<double> TryStrToAngleDot(std::string_view text) {
  const std::optional<double> v = TryStrToFloatDot(text);
  if (!v || !InAngleRange(*v)) return std::nullopt;
  return v;
}

double StrToFloatDot(std::string_view text) {
  if (auto v = TryStrToFloatDot(text)) return *v;
  throw std::invalid_argument("'" + MessageExcerpt(text) + "' ist kein gültiger Gleitkommawert");
}

}  // namespace astrelon
