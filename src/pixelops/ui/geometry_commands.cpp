#include "pixelops/ui/geometry_commands.h"

#include "pixelops/ui/border_dialog.h"
#include "pixelops/ui/crop_frame_dialog.h"
#include "pixelops/ui/rotate_commands.h"
#include "shell/ui/main/menu_commands.h"

namespace astrelon {

void RegisterGeometryCommands() {
  RegisterMenuCommand("Erweitern1", AddBorderCommand);
  RegisterMenuCommand("Bildrotieren1", RotateImageCommand);
  RegisterMenuCommand("BildrotierenmitHilfslinie1", RotateByGuideLineCommand);
  InstallCropFrameDialog();
}

}  // namespace astrelon
