#include "pixelops/ui/colour/channel_commands.h"

#include <QAction>
#include <array>

#include "common/engine_ui.h"
#include "common/number_text.h"
#include "core/language.h"
#include "core/settings.h"
#include "filters/sharpening/psf/psf_source.h"
#include "kernels/alignment/alignment_points.h"
#include "kernels/sampling/align_to_reference.h"
#include "pixelops/colour/rgb_from_grey_images.h"
#include "pixelops/colour/split_colour_planes.h"
#include "pixelops/pixels/gaussian_psf_image.h"
#include "pixelops/ui/operation_frame.h"
#include "registration/ui/choose_second_image.h"
#include "shell/main/main_services.h"
#include "shell/ui/dialogs/small_dialogs.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// The radius typed last for the PSF image.
QString LastPsfRadius = "2.5";

}  // namespace

void N3swBilderzuRGB1Click(QAction* sender) {
  AddRecentFunction(sender);
  if (CountOpenWindows() > MaxOpenForRgbComposition) return;
  static constexpr std::array<const char*, 3> Prompts{
      "Welches Bild für den Rot-Kanal?", "Welches Bild für den Grün-Kanal?", "Welches Bild für den Blau-Kanal?"};
  std::array<int, 3> chosen{};
  for (size_t i = 0; i < 3; ++i) {
    chosen[i] = ChooseSecondImage(-1, -1, QString::fromUtf8(Prompts[i]), false);
    if (!SlotInUse(chosen[i])) return;
  }
  const int result = FindFreeSlot();
  if (result < 1) return;
  if (!ComposeRgbFromGrey(chosen[0], chosen[1], chosen[2], result, "RGB_neu", Settings.FitsExtension)) return;
  AddHistoryCard(result, OperationCaption(sender, "&3 s/w Bilder zu RGB Bild").toStdString(), 0);
  ComputeHistogram(result, true, true);
  ShowImageWindow(result);
}

void RGBzu3swBilder1Click(QAction* sender) {
  const int source = FindActiveSlot();
  if (source < 1 || !Store.Image[size_t(source)].IsColor) return;
  AddRecentFunction(sender);
  for (int p = 1; p <= 3; ++p) {
    const int result = FindFreeSlot();
    if (result < 1 || !ExtractColourPlane(source, p, result)) continue;
    ShowImageWindow(result);
  }
}

void Bildabbilden1Click(QAction* sender) {
  const int moving = FindActiveSlot();
  if (moving < 1 || FindFreeSlot() < 1) return;
  const int reference = OtherOrChosenImage(moving, QString::fromUtf8("An welches Bild anpassen:"));
  if (reference < 1 || reference == moving || !SlotInUse(reference)) return;
  MatchColourModel(reference, moving);
  ActivateImageWindow(reference);
  // The pending events may have closed either image or changed the active one.
  if (!SlotInUse(moving) || !SlotInUse(reference) || FindActiveSlot() != reference) return;
  {
    TResultSlot result;
    if (!result) return;
    const int target = result.Destination();
    const TAlignPoints pts = GetAlignmentPoints(reference, moving, false, -1.0);
    if (pts.Stopped) return;  // the shift could not be measured: no result
    AlignImageToReference(moving, target, pts.count, {pts.A1x, pts.A1y}, {pts.A2x, pts.A2y}, {pts.B1x, pts.B1y},
                          {pts.B2x, pts.B2y});
    CopyDisplayRecord(moving, target);
    Store.Display[size_t(target)].DisplayType = Store.Display[size_t(reference)].DisplayType;
    result.Finish({.ResetRange = false,
                   .History = OperationCaption(sender, "Bild an ein Zweites anpassen (verschieben)").toStdString()});
  }
  AddRecentFunction(sender);
}

void PSFbildmitgauverteilunggenerieren1Click(QAction* sender) {
  QString text = LastPsfRadius;
  if (!LangInputQuery("Radius", "(<=50)", text)) return;
  const auto r = TryStrToFloatDot(text.trimmed().toStdString());
  if (!r || GaussianPsfSize(*r) == 0) return;
  LastPsfRadius = text;
  const int slot = FindFreeSlot();
  if (slot < 1 || !MakeGaussianPsfImage(slot, *r)) return;
  ShowImageWindow(slot);
  AddRecentFunction(sender);
}

bool PickPsfSourceImage(int slot) {
  for (int s = slot; SlotInUse(s);) {
    if (CutPsfFromWindow(s)) return true;
    s = ChooseSecondImage(-1, -1, QString::fromUtf8("Von welchem Bild soll die PSF genommen werden?"), false);
  }
  EngineUi().ShowMessage("Die PSF konnte nicht bestimmt werden. Bitte die PSF markieren!");
  return false;
}

void RegisterChannelCommands() {
  RegisterMenuCommand("N3swBilderzuRGB1", N3swBilderzuRGB1Click);
  RegisterMenuCommand("RGBzu3swBilder1", RGBzu3swBilder1Click);
  RegisterMenuCommand("Bildabbilden1", Bildabbilden1Click);
  RegisterMenuCommand("PSFbildmitgauverteilunggenerieren1", PSFbildmitgauverteilunggenerieren1Click);
}

}  // namespace astrelon
