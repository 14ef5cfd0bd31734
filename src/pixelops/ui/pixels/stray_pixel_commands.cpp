#include "pixelops/ui/pixels/stray_pixel_commands.h"

#include "kernels/regions/remove_hot_pixels.h"
#include "pixelops/ui/operation_frame.h"
#include "store/image_store.h"

namespace astrelon {

namespace {
void StrayPixels(QAction* sender, const char* german, float factor) {
  RunResultCommand(
      sender, german,
      [factor](int destination) {
        RemoveHotPixels(destination, WorkRect.x1, WorkRect.x2, WorkRect.y1, WorkRect.y2, factor);
      },
      false, false);
}
}  // namespace

void RemoveStrayPixelsCommand(QAction* sender) { StrayPixels(sender, "&Störpixel entfernen", 3.0f); }

void RemoveStrayPixelsStrongCommand(QAction* sender) { StrayPixels(sender, "Störpixel &entfernen +", 1.5f); }

}  // namespace astrelon
