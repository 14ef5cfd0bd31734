#include "pixelops/ui/pixels/image_tool_commands.h"

#include <QAction>

#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "core/busy_cursor.h"
#include "frequency/interference/periodic_noise_filter.h"
#include "pixelops/pixels/logarithm.h"
#include "pixelops/spatial/sobel_magnitude.h"
#include "pixelops/ui/operation_frame.h"
#include "pixelops/ui/pixels/synthetic_noise_dialog.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_marks.h"
#include "shell/ui/main/preview_partners.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

void Logarithm(QAction* sender) {
  TResultSlot result;
  if (!result) return;
  result.UseSelection();
  TBusyCursorScope busy;
  TakeLogarithm(result.Destination());
  result.Finish({.ResetRange = false,
                 .AutoDisplayRange = true,
                 .History = OperationCaption(sender, "&Logarithmieren").toStdString()});
  AddRecentFunction(sender);
}

void Sobel(QAction* sender) {
  TResultSlot result;
  if (!result) return;
  TBusyCursorScope busy;
  SobelMagnitude(result.Source(), result.Destination());
  result.Finish({.ResetRange = false, .AutoDisplayRange = true, .History = {}});
  AddRecentFunction(sender);
}

void NoiseReadout(QAction*) {
  const int slot = FindActiveSlot();
  if (slot < 1) return;
  double noise = 0;
  {
    TBusyCursorScope busy;
    noise = EstimatePlaneNoise(slot, 1);
  }
  EngineUi().ShowMessage("Rauschanteil: " + FloatToStr(noise));
}

void PeriodicNoise(QAction* sender) {
  const int source = FindActiveSlot();
  if (source < 1 || FindFreeSlot() < 1) return;
  int result = -1;
  {
    TBusyCursorScope busy;
    result = FilterPeriodicNoiseFft(source, StoredPeriodicNoiseK());
    if (result >= 1) {
      CopyDisplayRecord(source, result);
      ComputeHistogram(result, false, true);
      ShowImageWindow(result);
      AddHistoryCard(result, OperationCaption(sender, "Automatischer 2D-FFT Störfilter").toStdString(), 0);
    }
  }
  AddRecentFunction(sender);
  SlotPair.Source = -1;
}

void AddNoise(QAction* sender) {
  if (TForm28* shown = SyntheticNoiseDialog(); shown && shown->isVisible()) {
    shown->raise();
    shown->activateWindow();
    return;
  }
  if (!NewResultSlot()) return;
  const int source = SlotPair.Source, result = SlotPair.Destination;
  ShowImageWindow(result);
  CopyMarksToWindow(source, result);
  EnsureSyntheticNoiseDialog()->Start(source, result);
  AddRecentFunction(sender);
}

}  // namespace

void RegisterImageToolCommands() {
  RegisterMenuCommand("Logarithmieren1", Logarithm);
  RegisterMenuCommand("SobelFunktionRanderkennung1", Sobel);
  RegisterMenuCommand("Rauschanteilbestimmen1", NoiseReadout);
  RegisterMenuCommand("Automatischer2DFFTStrfilter1", PeriodicNoise);
  RegisterMenuCommand("objectRauschenhinzufgen11TMenuItem1", AddNoise);
  // The noisy copy follows the colour model and channel selection of its source, and back.
  RegisterPreviewPartner(28, DialogPartner(SyntheticNoiseDialog));
}

}  // namespace astrelon
