#include "registration/ui/image_merge_commands.h"

#include <QApplication>
#include <cstdint>
#include <new>
#include <string>

#include "core/language.h"
#include "kernels/alignment/alignment_points.h"
#include "kernels/sampling/align_to_reference.h"
#include "pixelops/ui/operation_frame.h"
#include "platform/memory_probe.h"
#include "registration/combination/exposure_combination.h"
#include "registration/combination/two_image_mosaic.h"
#include "registration/ui/choose_second_image.h"
#include "registration/ui/manual_combination_dialog.h"
#include "shell/main/main_services.h"
#include "shell/ui/dialogs/small_dialogs.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_marks.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// The second image of a command, or -1; the pending events that the chooser
// lets run may close either image or change the active one.
int SecondImage(int active, const char* prompt) {
  const int second = OtherOrChosenImage(active, QString::fromStdString(prompt));
  return second >= 1 && SlotInUse(second) && SlotInUse(active) ? second : -1;
}

// False when the user stopped at a shift that could not be measured.
bool MakeMosaicInto(int target, int pointsFrom, int second, bool matchContrast) {
  const TAlignPoints p = GetAlignmentPoints(pointsFrom, second, false, 0.0);
  if (p.Stopped) return false;
  MakeMosaic(target, second, matchContrast, {p.A1x, p.A1y}, {p.A2x, p.A2y}, {p.B1x, p.B1y}, {p.B2x, p.B2y},
             p.count);
  return true;
}

void MosaicCommand(QAction* sender) {
  const int active = FindActiveSlot();
  if (active < 1 || FindFreeSlot() < 1) return;
  const int second = SecondImage(active, "Welches Bild zum Mosaik erstellen:");
  const bool matchContrast =
      LangMessageBox("Soll der Kontrast auch angepasst werden?", TMsgDlgType::Confirmation, mbYes | mbNo) == mrYes;
  if (second < 1 || !SlotInUse(active) || !SlotInUse(second)) return;
  EnsureRgbPair(active, second);
  ActivateImageWindow(active);
  if (!SlotInUse(active) || !SlotInUse(second) || FindActiveSlot() != active) return;
  const QString caption = OperationCaption(sender, "Mosaik machen");
  const TImageSlot& im = Store.Image[size_t(active)];
  const uint64_t need = 8ull * uint64_t(im.PixelCount()) * uint64_t(std::max(im.PlaneCount, 1));
  if (need < AvailableMemory()) {
    TResultSlot result;
    if (!result) return;
    // The copy has no window yet: the marks are read from the active window.
    if (!MakeMosaicInto(result.Destination(), active, second, matchContrast)) return;
    result.Finish({.ResetRange = true, .History = caption.toStdString(), .HistoryMode = 0});
  } else {
    // Too little memory for a copy: the active image grows itself, without undo.
    if (!MakeMosaicInto(active, active, second, matchContrast)) return;
    FinishInPlace(active, caption.toStdString(), 0);
    FitWindowToImage(active);
    HideWindowMarks(active);
    ImageChanged(active);
  }
  AddRecentFunction(sender);
}

void ExposureCommand(QAction* sender) {
  const int active = FindActiveSlot();
  if (active < 1 || FindFreeSlot() < 1) return;
  const int second = SecondImage(active, LangTextOr(6153, "Mit welchem Bild kombinieren:").c_str());
  if (second < 1) return;
  EnsureRgbPair(active, second);
  ActivateImageWindow(active);
  if (!SlotInUse(active) || !SlotInUse(second) || FindActiveSlot() != active) return;
  TResultSlot result;
  if (!result) return;
  const int source = result.Source(), target = result.Destination();
  MakeCopyName(second, target);
  const TAlignPoints p = GetAlignmentPoints(source, second, false, -1.0);
  if (p.Stopped) return;  // the shift could not be measured: no result
  AlignImageToReference(second, target, p.count, {p.A1x, p.A1y}, {p.A2x, p.A2y}, {p.B1x, p.B1y}, {p.B2x, p.B2y});
  CombineExposures(source, target);
  result.Finish({.ResetRange = true,
                 .AutoDisplayRange = true,
                 .History = OperationCaption(sender, "Bild mit unterschiedlicher Belichtungszeit kombinieren").toStdString(),
                 .HistoryMode = 0});
  AddRecentFunction(sender);
}

}  // namespace

void RegisterImageMergeCommands() {
  RegisterManualCombinationForm();
  RegisterMenuCommand("Mosaik1", MosaicCommand);
  RegisterMenuCommand("mitunterschiedlicherBelichtungszeitkombinieren1", ExposureCommand);
}

}  // namespace astrelon
