#include "frequency/ui/frequency_filter_commands.h"

#include <QAction>
#include <string>
#include <utility>

#include "common/engine_ui.h"
#include "core/busy_cursor.h"
#include "frequency/spectra/psf_convolution.h"
#include "frequency/spectra/relief_view.h"
#include "frequency/spectra/spectrum_morph.h"
#include "frequency/ui/frequency_filter_dialog.h"
#include "pixelops/ui/operation_frame.h"
#include "registration/ui/choose_second_image.h"
#include "shell/slots/graph_image.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/preview_partners.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/load_messages.h"

namespace astrelon {

namespace {

void StartFrequencyFilter(QAction* sender, bool twoD) {
  if (TForm6* shown = FrequencyFilterDialog(); shown && shown->isVisible()) {
    shown->raise();
    shown->activateWindow();
    return;
  }
  if (FindActiveSlot() < 1) return;
  if (FindFreeSlot() < 1) {
    EngineUi().ShowMessage(TooManyImagesText());
    return;
  }
  if (!NewResultSlot()) return;
  const int source = SlotPair.Source, result = SlotPair.Destination;
  ShowImageWindow(result);
  TForm6* dialog = EnsureFrequencyFilterDialog();
  if (!dialog->Start(source, result, twoD)) {
    dialog->close();
    return;
  }
  AddRecentFunction(sender);
}

void Convolution(QAction* sender) {
  const int active = FindActiveSlot();
  if (active < 1) return;
  const int psf = OtherOrChosenImage(active, "Welches Bild als PSF");
  if (psf < 1) return;
  std::string error;
  int result = -1;
  {
    TBusyCursorScope busy;
    result = ConvolveWithPsfImage(active, psf, &error);
  }
  if (result < 1) {
    if (!error.empty()) EngineUi().ShowMessage(error);
    return;
  }
  AddHistoryCard(result, OperationCaption(sender, "Mit PSF falten (&Convolution)").toStdString(), 0);
  ComputeHistogram(result, false, true);
  ShowImageWindow(result);
  AddRecentFunction(sender);
}

void Morph(QAction* sender) {
  const int active = FindActiveSlot();
  if (active < 1) return;
  const int second = OtherOrChosenImage(active, "2tes Bild zum morphen:");
  if (second < 1) return;
  TResultSlot result;
  if (!result) return;
  TBusyCursorScope busy;
  if (!MorphSpectra(result.Destination(), second)) return;
  result.Finish({.ResetRange = false, .History = OperationCaption(sender, "FFT Morph").toStdString()});
  AddRecentFunction(sender);
}

void Relief(QAction* sender) {
  const int active = FindActiveSlot();
  if (active < 1) return;
  int slot = -1;
  {
    TBusyCursorScope busy;
    const TPicture picture = RenderRelief(active);
    if (picture.Samples8.empty()) return;
    slot = PictureToNewImage(picture);
  }
  if (slot < 1) {
    EngineUi().ShowMessage(TooManyImagesText());
    return;
  }
  ShowImageWindow(slot);
  AddRecentFunction(sender);
}

}  // namespace

void RegisterFrequencyFilterCommands() {
  RegisterMenuCommand("Frequenzfilter1", [](QAction* sender) { StartFrequencyFilter(sender, false); });
  RegisterMenuCommand("N2DFrequenzfilter1", [](QAction* sender) { StartFrequencyFilter(sender, true); });
  RegisterMenuCommand("Convolution1", Convolution);
  RegisterMenuCommand("FFTMorph1", Morph);
  RegisterMenuCommand("N3DDarstellung1", Relief);
  // The source and the result follow each other's colour model and channel selection.
  RegisterPreviewPartner(6, DialogPartner(FrequencyFilterDialog));
  // The dialog ends when one of its images closes.
  static bool hooked = false;
  if (hooked) return;
  hooked = true;
  auto previousClosed = std::move(TMDIChild::WindowClosedHook);
  TMDIChild::WindowClosedHook = [previousClosed](int slot) {
    if (previousClosed) previousClosed(slot);
    if (TForm6* dialog = FrequencyFilterDialog()) dialog->PartnerClosed(slot);
  };
}

}  // namespace astrelon
