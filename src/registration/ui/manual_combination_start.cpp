#include "registration/ui/manual_combination_start.h"

#include <QAction>
#include <QWidget>

#include "core/language.h"
#include "registration/ui/choose_second_image.h"
#include "shell/main/main_services.h"
#include "shell/ui/controls/control_utils.h"
#include "shell/ui/main/main_services_ui.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

std::function<void(QWidget*, const TManualCombinationStart&)> ManualCombinationStarter;

void StartManualCombination(QAction* sender) {
  if (!DialogFormRegistered(ManualCombinationForm)) return;
  AddRecentFunction(sender);
  const int active = FindActiveSlot();
  if (!SlotInUse(active) || FindFreeSlot() < 1) return;
  const int second =
      OtherOrChosenImage(active, QString::fromStdString(LangTextOr(6153, "Mit welchem Bild kombinieren:")));
  if (!SlotInUse(second) || second == active) return;
  EnsureRgbPair(active, second);
  SlotPair = {second, active};
  SetOperationActive(true);
  const TImageSlot& s = Store.Image[size_t(second)];
  TPercentileLevels levels;
  GetPercentileLevels(second, 1, 0, s.Width - 1, 0, s.Height - 1, 50, 50, levels);
  EnsureDialogForm(ManualCombinationForm);
  QWidget* form = DialogForm(ManualCombinationForm);
  if (!form) {
    SetOperationActive(false);
    SlotPair = {};
    return;
  }
  if (ManualCombinationStarter) ManualCombinationStarter(form, {second, active, levels.LevelA});
  FadeInForm(form);
}

}  // namespace astrelon
