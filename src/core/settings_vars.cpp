#include "core/settings.h"

#include <stdexcept>
#include <string>

namespace astrelon {
TProgramOptions Options;
TSettingsVars Settings;
bool HistogramPlaceDefaulted = false;

uint8_t& OptionByte(TProgramOptions& options, int index) {
  if (index < 0 || index >= int(sizeof options)) throw std::out_of_range("option byte " + std::to_string(index));
  return reinterpret_cast<uint8_t*>(&options)[index];
}
}  // namespace astrelon
