#include "shell/ui/windows/guide_lines.h"

namespace astrelon {

std::function<std::optional<std::vector<TRectI>>(int mode)> MarkGuideLines;

}  // namespace astrelon
