#pragma once
// "Sonnen&oberfläche ebnen": the limb darkening of a sun image taken out in a
// copy of the active image.
class QAction;

namespace astrelon {

void FlattenSunSurfaceCommand(QAction* sender);

// Registers the command by its menu item's name.
void RegisterSunSurfaceCommands();

}  // namespace astrelon
