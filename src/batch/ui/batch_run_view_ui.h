#pragma once
// The batch engine's view of the image windows and the status window, on Qt.
namespace astrelon {

// Installs BatchRunView: windows shown, rendered, captioned and closed
// through the main window's services, a work window's picture area disabled
// for reuse, the note across the target's picture, "&Kontrolle an".
void InstallBatchRunView();

}  // namespace astrelon
