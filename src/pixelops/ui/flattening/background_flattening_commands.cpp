#include "pixelops/ui/flattening/background_flattening_commands.h"

#include <algorithm>
#include <cmath>

#include "core/language.h"
#include "kernels/background/background_flattening.h"
#include "pixelops/ui/flattening/background_mask_dialog.h"
#include "pixelops/ui/operation_frame.h"
#include "shell/ui/dialogs/small_dialogs.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/preview_partners.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/histogram_refresh.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int KeyRadiusPrompt = 4105;

// The radius of "variabel" last used (the prompt's default).
int32_t LastRadius = 15;

// The automatic commands: the result window shows the progress while the
// background is estimated.
void AutoCommand(QAction* sender, const char* german, int32_t divisor) {
  {
    TResultSlot result;
    if (result) {
      ShowImageWindow(result.Destination());
      AbortRequested = 0;
      SetOperationActive(true);
      const bool done = FlattenBackgroundAuto(result.Source(), result.Destination(), divisor, true);
      SetOperationActive(false);
      if (done) {
        result.Finish({.ResetRange = true, .History = OperationCaption(sender, german).toStdString()});
        RefreshHistogramWindow();
      }
    }
  }
  AddRecentFunction(sender);
}

}  // namespace

void FlattenBackgroundNebulaCommand(QAction* sender) { AutoCommand(sender, "Hintergrund ebnen &Nebel", 3); }

void FlattenBackgroundStarsCommand(QAction* sender) { AutoCommand(sender, "Hintergrund ebnen &Sterne", 5); }

void FlattenBackgroundVariableCommand(QAction* sender) {
  const int slot = FindActiveSlot();
  if (slot < 1) return;
  const TImageWindowLink* window = Store.Window[size_t(slot)];
  const QString caption = OperationCaption(sender, "Hintergrund ebnen &variabel");
  // Without a selection the mask dialog takes over; its "Ok" writes the card.
  if (!window || !window->SelectionVisible(1)) {
    OpenBackgroundMaskDialog(caption);
    return;
  }
  QString text = QString::number(LastRadius);
  if (!LangInputQuery(caption,
                      QString::fromStdString(LangTextOr(KeyRadiusPrompt, "Bitte den Wirkradius in Pixel angeben:")),
                      text))
    return;
  const auto number = ReadNumber(text.toStdString(), TNumberKind::Double);
  if (!number) return;
  LastRadius = int32_t(std::nearbyint(std::clamp(number->Value, 1.0, 200.0)));
  const int destination = FlattenBackgroundWithRadius(slot, float(LastRadius), caption.toStdString());
  SlotPair = {};
  if (destination > 0) {
    AddHistoryCard(destination, caption.toStdString() + " " + std::to_string(LastRadius), 0);
    ShowImageWindow(destination);
  }
  AddRecentFunction(sender);
}

void RegisterBackgroundFlatteningCommands() {
  RegisterMenuCommand("HintergrundebnenNebel1", FlattenBackgroundNebulaCommand);
  RegisterMenuCommand("HintergrundebnenSterne1", FlattenBackgroundStarsCommand);
  RegisterMenuCommand("HintergrundebnenSterne21", FlattenBackgroundVariableCommand);
  // The mask dialog's source and result follow each other's colour model and channel selection.
  RegisterPreviewPartner(12, DialogPartner(BackgroundMaskDialog));
}

}  // namespace astrelon
