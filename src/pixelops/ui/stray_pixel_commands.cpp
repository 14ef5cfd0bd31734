#include "pixelops/ui/stray_pixel_commands.h"

#include "pixelops/remove_hot_pixels.h"
#include "pixelops/ui/operation_frame.h"
#include "shell/ui/main/main_services_ui.h"
#include "store/image_store.h"

namespace astrelon {

namespace {
void StrayPixels(QAction* sender, const char* german, float factor) {
  TResultSlot result;
  if (!result) return;
  result.UseSelection();
  RemoveHotPixels(result.Destination(), WorkRect.x1, WorkRect.x2, WorkRect.y1, WorkRect.y2, factor);
  result.Finish({.ResetRange = false,
                 .AutoDisplayRange = false,
                 .History = OperationCaption(sender, german).toStdString(),
                 .HistoryMode = 0});
  AddRecentFunction(sender);
}
}  // namespace

void RemoveStrayPixelsCommand(QAction* sender) { StrayPixels(sender, "&Störpixel entfernen", 3.0f); }

void RemoveStrayPixelsStrongCommand(QAction* sender) { StrayPixels(sender, "Störpixel &entfernen +", 1.5f); }

}  // namespace astrelon
