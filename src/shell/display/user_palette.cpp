// Storage of the user's display palette.
#include "shell/display/user_palette.h"

namespace astrelon {

namespace {
std::vector<uint32_t> Palette;
}

void SetUserPalette(std::vector<uint32_t> colours) {
  if (colours.size() > 65536) colours.resize(65536);
  for (uint32_t& c : colours) c &= 0x00FFFFFFu;
  Palette = std::move(colours);
}

bool UserPaletteLoaded() { return !Palette.empty(); }
std::span<const uint32_t> UserPalette() { return Palette; }
bool UserPaletteUsable() { return Palette.size() > 65535; }

}  // namespace astrelon
