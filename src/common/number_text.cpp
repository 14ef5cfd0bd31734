#include "common/number_text.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "common/pascal_format.h"
#include "common/text_excerpt.h"

namespace astrelon {

std::string CommaToDot(std::string_view text) {
  std::string s(text);
  std::replace(s.begin(), s.end(), ',', '.');
  return s;
}

std::optional<double> TryStrToFloatDot(std::string_view text) { return TryStrToFloat(CommaToDot(text)); }

double StrToFloatDot(std::string_view text) {
  if (auto v = TryStrToFloatDot(text)) return *v;
  throw std::invalid_argument("'" + MessageExcerpt(text) + "' ist kein gültiger Gleitkommawert");
}

}  // namespace astrelon
