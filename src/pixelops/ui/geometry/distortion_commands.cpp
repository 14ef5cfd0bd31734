#include "pixelops/ui/geometry/distortion_commands.h"

#include <QAction>
#include <optional>
#include <vector>

#include "common/engine_ui.h"
#include "pixelops/geometry/perspective_correction.h"
#include "pixelops/ui/geometry/field_distortion_dialog.h"
#include "pixelops/ui/operation_frame.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/guide_lines.h"
#include "shell/ui/windows/window_creation.h"
#include "store/image_store.h"

namespace astrelon {

void PerspectiveCommand(QAction* sender) {
  const int source = FindActiveSlot();
  if (source < 1 || !MarkGuideLines) return;
  if (sender) AddRecentFunction(sender);
  const std::optional<std::vector<TRectI>> lines = MarkGuideLines(2);
  ImageChanged(source);  // the drawn lines go
  if (!lines || lines->size() < 2) return;
  const auto line = [](const TRectI& r) { return TGuideLine{r.Left, r.Top, r.Right, r.Bottom}; };
  const TGuideLine a = line((*lines)[0]), b = line((*lines)[1]);
  if (PerspectiveCase(a, b) == TPerspectiveCase::Unusable) {
    EngineUi().ShowMessage("Die Ausrichtung der Linien kann nicht bearbeitet werden.\nVielleicht das Bild vorher rotieren.");
    return;
  }
  ActivateImageWindow(source);
  if (FindActiveSlot() != source) return;
  TResultSlot result;
  if (!result) return;
  if (!CorrectPerspective(result.Source(), result.Destination(), a, b)) return;
  result.Finish({.ResetRange = true, .AutoDisplayRange = false,
                 .History = OperationCaption(sender, "&Perspektive korrigieren").toStdString(), .HistoryMode = 0});
}

void FieldDistortionCommand(QAction* sender) {
  TForm19* form = FieldDistortionDialog();
  if (!form || form->isVisible() || FindActiveSlot() < 1) return;
  if (!NewResultSlot()) return;
  const int source = SlotPair.Source, destination = SlotPair.Destination;
  if (sender) AddRecentFunction(sender);
  ShowImageWindow(destination);
  form->SetSlots(source, destination);
  form->show();
}

void RegisterDistortionCommands() {
  RegisterMenuCommand("Perspektivekorrigieren1", PerspectiveCommand);
  RegisterMenuCommand("Kissenentzerrung1", FieldDistortionCommand);
}

}  // namespace astrelon
