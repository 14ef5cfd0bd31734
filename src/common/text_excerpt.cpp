#include "common/text_excerpt.h"

#include "common/text_codec.h"

namespace astrelon {

std::string MessageExcerpt(std::string_view text, size_t count) {
  if (Utf8Length(text) <= count) return std::string(text);
  return Utf8Substr(text, 0, count) + "...";
}

}  // namespace astrelon
