#include "pixelops/ui/geometry/geometry_commands.h"

#include "pixelops/ui/geometry/border_dialog.h"
#include "pixelops/ui/geometry/crop_frame_dialog.h"
#include "pixelops/ui/geometry/rotate_commands.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon {

void RegisterGeometryCommands() {
  RegisterMenuCommand("Erweitern1", AddBorderCommand);
  RegisterMenuCommand("Bildrotieren1", RotateImageCommand);
  RegisterMenuCommand("BildrotierenmitHilfslinie1", RotateByGuideLineCommand);
  InstallCropFrameDialog();
}

}  // namespace astrelon
