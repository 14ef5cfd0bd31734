#include "pixelops/ui/flattening/gradient_flattening_commands.h"

#include "core/language.h"
#include "pixelops/flattening/gradient_flattening.h"
#include "pixelops/flattening/mask_image.h"
#include "pixelops/ui/operation_frame.h"
#include "registration/ui/choose_second_image.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int KeyMaskPrompt = 8201;

void GradientCommand(int mode, const std::string& history) {
  TResultSlot result;
  if (!result) return;
  FlattenGradient(result.Destination(), mode);
  // The fitted correction moves the background by its own offset: the result
  // is shown from its own levels, not by the source's range.
  result.Finish({.ResetRange = true, .AutoDisplayRange = true, .History = history});
}

}  // namespace

void FlattenGradientLinearCommand(QAction* sender) {
  GradientCommand(1, OperationCaption(sender, "Hintergrund Gradient ebnen &automatisch").toStdString());
  AddRecentFunction(sender);
}

void FlattenGradientRadialCommand(QAction*) { GradientCommand(2, "Hintergund geebnet nichtlinear"); }

void MaskImageCommand(QAction* sender) {
  const int source = FindActiveSlot();
  if (source < 1) return;
  const int mask = OtherOrChosenImage(
      source, QString::fromStdString(LangTextOr(KeyMaskPrompt, "Welches Bild als Maske nehmen:")));
  if (mask <= 0) return;
  ActivateImageWindow(source);
  {
    TResultSlot result;
    if (!result) return;
    MaskImageByImage(result.Source(), mask, result.Destination(), false);
    result.Finish({.ResetRange = true, .History = OperationCaption(sender, "Bild maskieren").toStdString()});
  }
  AddRecentFunction(sender);
}

void RegisterGradientFlatteningCommands() {
  RegisterMenuCommand("HintergrundGradientebnenautomatisch1", FlattenGradientLinearCommand);
  RegisterMenuCommand("Hintergrundebnennichtlinearautomatisch1", FlattenGradientRadialCommand);
  RegisterMenuCommand("Bildmaskieren1", MaskImageCommand);
}

}  // namespace astrelon
