#include "pixelops/ui/tool_launch_commands.h"

#include <QAction>
#include <QWidget>

#include "filters/ui/filter_commands.h"
#include "filters/ui/filter_dialog.h"
#include "registration/ui/manual_combination_start.h"
#include "shell/ui/controls/control_utils.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "store/color_models.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Form n created, a result slot from the active image with its window, then the
// form shown; it finds its source and result in the slot pair.
void OpenWithResultSlot(QAction* sender, int n) {
  if (!DialogFormRegistered(n)) return;
  EnsureDialogForm(n);
  QWidget* form = DialogForm(n);
  if (!form) return;
  if (form->isVisible()) {
    form->raise();
    return;
  }
  if (!NewResultSlot()) return;
  ShowImageWindow(SlotPair.Destination);
  FadeInForm(form);
  AddRecentFunction(sender);
}

void CielabStart(QAction* sender) {
  TForm1* form = FilterDialog();
  if (!form || form->isVisible()) return;
  // The filter works on RGB: a YUV image is converted back first.
  const int active = FindActiveSlot();
  if (SlotInUse(active) && Store.Image[size_t(active)].IsColor && Store.Image[size_t(active)].ColorModel == CmYuv)
    YUVtoRGB(active);
  AllgemeinerFunktionsStart(sender, CielabFunction);
}

}  // namespace

void RegisterToolLaunchCommands() {
  RegisterFormLauncher("FFTpsfschaerfen1", DeconvolutionForm,
                       [](QAction* sender) { OpenWithResultSlot(sender, DeconvolutionForm); });
  RegisterFormLauncher("WaveletFilter1", WaveletFilterForm,
                       [](QAction* sender) { OpenWithResultSlot(sender, WaveletFilterForm); });
  RegisterFormLauncher("BildaddierenmitmanuellerVerschiebung1", ManualCombinationForm, StartManualCombination);
  RegisterMenuCommand("CIELABHelligkeitKontrast1", CielabStart);
}

}  // namespace astrelon
