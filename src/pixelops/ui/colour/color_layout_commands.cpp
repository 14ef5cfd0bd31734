#include "pixelops/ui/colour/color_layout_commands.h"

#include <QAction>

#include "core/busy_cursor.h"
#include "kernels/colour/expand_mono_to_rgb.h"
#include "pixelops/mosaic/rgb_to_bayer.h"
#include "pixelops/ui/colour/color_correction_dialog.h"
#include "pixelops/ui/operation_frame.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/histogram_refresh.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

bool IsColourSlot(int slot) { return SlotInUse(slot) && Store.Image[size_t(slot)].IsColor; }

void Farbkorrektur1Click(QAction* sender) {
  TForm18* dialog = EnsureColorCorrectionDialog();
  if (!dialog) return;
  if (dialog->isVisible()) {
    dialog->raise();
    return;
  }
  if (!IsColourSlot(FindActiveSlot())) return;
  if (!NewResultSlotRgb()) return;
  const int source = SlotPair.Source, destination = SlotPair.Destination;
  ShowImageWindow(destination);
  dialog->Start(source, destination);
  AddRecentFunction(sender);
}

void BildnachRGBerweitern1Click(QAction* sender) {
  const int active = FindActiveSlot();
  if (!SlotInUse(active) || !ExpandMonoToRgb(active)) return;
  Store.Display[size_t(active)].ChannelSelection = 0;
  UpdateInfoPanel(active, 0);
  FinishInPlace(active, OperationCaption(sender, "Bild nach RGB erweitern").toStdString(), 0);
  RefreshHistogramWindow();
  AddRecentFunction(sender);
}

void RGBzuBayerPattern1Click(QAction* sender) {
  const int active = FindActiveSlot();
  if (!IsColourSlot(active)) return;
  if (Store.Image[size_t(active)].ColorModel == CmYuv) YUVtoRGB(active);
  const int destination = FindFreeSlot();
  if (destination < 1) return;
  {
    TBusyCursorScope busy;
    if (!MakeBayerPattern(active, destination)) return;
  }
  MakeCopyName(active, destination);
  ComputeHistogram(destination, false, true);
  ShowImageWindow(destination);
  AddRecentFunction(sender);
}

}  // namespace

void RegisterColorLayoutCommands() {
  RegisterDialogForm(ColorCorrectionForm, [] { return new TForm18; });
  RegisterMenuCommand("Farbkorrektur1", Farbkorrektur1Click);
  RegisterMenuCommand("BildnachRGBerweitern1", BildnachRGBerweitern1Click);
  RegisterMenuCommand("RGBzuBayerPattern1", RGBzuBayerPattern1Click);
}

}  // namespace astrelon
