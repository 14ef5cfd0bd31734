#include "pixelops/ui/flattening/sun_surface_commands.h"

#include "core/busy_cursor.h"
#include "kernels/alignment/bright_disc.h"
#include "pixelops/flattening/sun_surface.h"
#include "pixelops/ui/operation_frame.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon {

void FlattenSunSurfaceCommand(QAction* sender) {
  TResultSlot result;
  if (!result) return;
  TBusyCursorScope busy;
  result.UseSelection();
  const TBrightDisc disc = FindBrightDisc(result.Source());
  // Without any measurable ring the copy is closed again.
  if (!FlattenSunSurface(result.Destination(), disc)) return;
  result.Finish({.ResetRange = true,
                 .AutoDisplayRange = true,
                 .History = OperationCaption(sender, "Sonnen&oberfläche ebnen").toStdString(),
                 .HistoryMode = 0});
  AddRecentFunction(sender);
}

void RegisterSunSurfaceCommands() { RegisterMenuCommand("Sonnenoberflcheebnen1", FlattenSunSurfaceCommand); }

}  // namespace astrelon
