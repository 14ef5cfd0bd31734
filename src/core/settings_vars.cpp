#include "core/settings.h"

namespace astrelon {
TProgramOptions Options;
TSettingsVars Settings;
}  // namespace astrelon
