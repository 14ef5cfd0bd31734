#include "pixelops/ui/colour/color_commands.h"

#include <QAction>

#include "core/busy_cursor.h"
#include "kernels/colour/color_to_mono.h"
#include "pixelops/colour/camera_profile.h"
#include "pixelops/ui/operation_frame.h"
#include "shell/main/main_services.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

void KameraRAWFarbennachRGB1Click(QAction* sender) {
  const int active = FindActiveSlot();
  if (active < 1) return;
  if (!LookupCameraMatrix(GetHeaderValue(active, "INSTRUME", false))) {
    ShowUnknownCameraMessage();
  } else if (TResultSlot result; result) {
    bool done = false;
    {
      TBusyCursorScope busy;
      done = ApplyCameraProfile(result.Destination(), true);
    }
    // A copy the profile could not be applied to is no result: the frame closes it.
    if (done) result.Finish({.ResetRange = false, .AutoDisplayRange = false, .History = {}, .HistoryMode = 0});
  }
  AddRecentFunction(sender);
}

void ColorToMonoCommand(QAction* sender, bool luminance) {
  const int source = FindActiveSlot();
  const int destination = FindFreeSlot();
  if (source < 1 || destination < 1) return;
  {
    TBusyCursorScope busy;
    if (!ConvertColorToMono(source, destination, luminance)) return;
  }
  MakeCopyName(source, destination);
  AddHistoryCard(destination, OperationCaption(sender, luminance ? "Farb-Bild in s/w umwandeln (Luminanz)" : "Farb-Bild in s/w umwandeln").toStdString(), 0);
  ComputeHistogram(destination, false, false);
  TDisplayRecord& d = Store.Display[size_t(destination)];
  if (d.White > d.RangeHigh) d.White = d.RangeHigh;
  if (d.Black < d.RangeLow) d.Black = d.RangeLow;
  if (d.White == d.Black) d.White += 0.01f;
  ShowImageWindow(destination);
  AddRecentFunction(sender);
}

void RGBBildnachswwandeln1Click(QAction* sender) { ColorToMonoCommand(sender, false); }

void RegisterColorCommands() {
  CloseImageSlotHook = [](int slot) { CloseImageSlot(slot); };
  RegisterMenuCommand("KameraRAWFarbennachRGB1", KameraRAWFarbennachRGB1Click);
  RegisterMenuCommand("RGBBildnachswwandeln1", RGBBildnachswwandeln1Click);
}

}  // namespace astrelon
