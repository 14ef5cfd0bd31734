#include "pixelops/ui/colour/colour_repair_commands.h"

#include <QAction>
#include <QApplication>

#include "common/engine_ui.h"
#include "core/busy_cursor.h"
#include "core/language.h"
#include "pixelops/colour/colour_layer_alignment.h"
#include "pixelops/colour/remove_colour_fringes.h"
#include "pixelops/pixels/smooth_defect_pixels.h"
#include "pixelops/ui/operation_frame.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int KeyMarkRegions = 11017;
constexpr int KeyShiftFailed = 11273;

bool ActiveIsColour(int slot) { return slot >= 1 && Store.Image[size_t(slot)].IsColor; }

// A colour image held in the YUV model is turned back to RGB in place first.
bool ActiveColourAsRgb() {
  const int active = FindActiveSlot();
  if (!ActiveIsColour(active)) return false;
  if (Store.Image[size_t(active)].ColorModel != CmYuv) return true;
  YUVtoRGB(active);
  QApplication::processEvents();
  // The pending events may have closed the image or activated another.
  return FindActiveSlot() == active;
}

}  // namespace

void Fehlpixelgltten1Click(QAction* sender) {
  RunResultCommand(
      sender, "Fehlpixel &glätten",
      [](int destination) { SmoothDefectPixels(destination, WorkRect.x1, WorkRect.y1, WorkRect.x2, WorkRect.y2); },
      false, false);
}

void Farbkantenentfernen1Click(QAction* sender) {
  if (!ActiveColourAsRgb()) return;
  {
    TResultSlot result;
    if (!result) return;
    result.UseSelection();
    {
      TBusyCursorScope busy;
      RemoveColourFringes(result.Source(), result.Destination(), WorkRect.x1, WorkRect.y1, WorkRect.x2, WorkRect.y2,
                          5);
    }
    result.Finish({.ResetRange = false, .History = OperationCaption(sender, "&Farbkanten entfernen").toStdString()});
  }
  AddRecentFunction(sender);
}

void Farbenzurechtrcken1Click(QAction* sender) {
  if (!ActiveColourAsRgb()) return;
  // Every exit before Finish closes the result slot again.
  TResultSlot result;
  if (!result) return;
  AddRecentFunction(sender);
  const int source = result.Source();
  bool red = false, blue = false;
  for (int p = FirstChannel(source); p <= 3; NextChannel(source, p)) {
    red = red || p == 1;
    blue = blue || p == 3;
  }
  const TImageWindowLink* window = Store.HasWindow[size_t(source)] ? Store.Window[size_t(source)] : nullptr;
  if (!window || !window->SelectionVisible(1)) {
    EngineUi().ShowMessage(LangTextOr(KeyMarkRegions, "Markieren Sie zuerst einen oder zwei Bereiche."));
    return;
  }
  SetWorkRectFromWindow(source, 1, false);
  const std::optional<TLayerMatch> first = MeasureLayerShifts(source, WorkRect);
  if (!first) {
    EngineUi().ShowMessage(LangTextOr(KeyShiftFailed, "Fehler bei der Verschiebungsbestimmung!"));
    return;
  }
  std::optional<TLayerMatch> second;
  if (window->SelectionVisible(2)) {
    SetWorkRectFromWindow(source, 2, false);
    second = MeasureLayerShifts(source, WorkRect);
  }
  {
    TBusyCursorScope busy;
    AlignColourLayers(source, result.Destination(), red, blue, *first, second);
  }
  Store.Image[size_t(source)].IsColor = 1;
  Store.Image[size_t(result.Destination())].IsColor = 1;
  result.Finish({.ResetRange = false, .History = OperationCaption(sender, "Farblayer zurechtrücken").toStdString()});
}

void RegisterColourRepairCommands() {
  RegisterMenuCommand("Fehlpixelgltten1", Fehlpixelgltten1Click);
  RegisterMenuCommand("Farbkantenentfernen1", Farbkantenentfernen1Click);
  RegisterMenuCommand("Farbenzurechtrcken1", Farbenzurechtrcken1Click);
}

}  // namespace astrelon
