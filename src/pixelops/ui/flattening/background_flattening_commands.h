#pragma once
// "Hintergrund ebnen &Nebel", "… &Sterne" and "… &variabel": the sky background
// taken out of a copy of the active image, automatically or, on a selection,
// with a typed radius.
class QAction;

namespace astrelon {

void FlattenBackgroundNebulaCommand(QAction* sender);
void FlattenBackgroundStarsCommand(QAction* sender);
void FlattenBackgroundVariableCommand(QAction* sender);

// Registers the commands by their menu items' names.
void RegisterBackgroundFlatteningCommands();

}  // namespace astrelon
