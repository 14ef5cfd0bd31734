#include "filters/ui/psf_sharpen_start.h"

#include "filters/dialog/filter_state.h"
#include "filters/sharpening/psf/psf_source.h"
#include "filters/sharpening/psf/psf_steepening.h"
#include "filters/ui/filter_commands.h"
#include "pixelops/ui/colour/channel_commands.h"
#include "shell/stars/star_pick.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "store/image_store.h"

namespace astrelon {

namespace {
constexpr int PsfSharpenFunction = 9;
constexpr int PsfPanelMode = 2;
}  // namespace

void IterativesPSFschrfennichtlinear1Click(QAction* sender) {
  if (!OpenFilterResult()) return;
  const int src = SlotPair.Source, dst = SlotPair.Destination;
  if (!PickPsfSourceImage(src)) {
    CloseImageSlot(dst);
    SlotPair = {};
    if (sender) AddRecentFunction(sender);
    return;
  }
  // The dialog works with a smoothed, steepened copy of the picked PSF.
  PrepareSteepenedPsf(PsfStore);
  AbortRequested = 0;
  // The side panel's PSF view shows the picked star as its locked star; the
  // lock ends when the panel leaves that view.
  LockedStar = PsfStore;
  LockedStar.NeedsRedraw = 1;
  if (MainLink().SetInfoPanelMode) MainLink().SetInfoPanelMode(PsfPanelMode);
  FunktionNr = PsfSharpenFunction;
  ShowFilterDialog(sender, PsfSharpenFunction);
}

}  // namespace astrelon
