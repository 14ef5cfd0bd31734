#include "pixelops/ui/pixels/pixel_arithmetic_commands.h"

#include "pixelops/ui/geometry/crop_command.h"
#include "pixelops/ui/pixels/half_frame_commands.h"
#include "pixelops/ui/pixels/stray_pixel_commands.h"
#include "pixelops/ui/pixels/value_commands.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon {

void RegisterPixelArithmeticCommands() {
  RegisterMenuCommand("Wertaddieren1", AddValueCommand);
  RegisterMenuCommand("Wertmultiplizieren1", MultiplyValueCommand);
  RegisterMenuCommand("Wertdividieren1", DivideValueCommand);
  RegisterMenuCommand("UntereGrenzefestlegen1", LowerLimitCommand);
  RegisterMenuCommand("ObereGrenzefestlegen1", UpperLimitCommand);
  RegisterMenuCommand("Wurzelziehen1", SquareRootCommand);
  RegisterMenuCommand("Wertequadrieren1", SquareCommand);
  RegisterMenuCommand("Werteaufrunden1", RoundCommand);
  RegisterMenuCommand("Pixelwertenheran0bringen1", MoveTowardZeroCommand);
  RegisterMenuCommand("Ausschneiden1", CropCommand);
  RegisterMenuCommand("Strpixelausblenden1", RemoveStrayPixelsCommand);
  RegisterMenuCommand("Strpixelentfernen1", RemoveStrayPixelsStrongCommand);
  RegisterMenuCommand("InHalbbilderaufteilen1", SplitFieldsInterpolatedCommand);
  RegisterMenuCommand("i1", SplitFieldsHalfHeightCommand);
}

}  // namespace astrelon
