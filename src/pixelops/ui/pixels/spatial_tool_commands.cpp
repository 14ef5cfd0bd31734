#include "pixelops/ui/pixels/spatial_tool_commands.h"

#include <QAction>
#include <QApplication>
#include <cmath>

#include "common/engine_ui.h"
#include "core/busy_cursor.h"
#include "core/language.h"
#include "frequency/spectra/frequency_response_match.h"
#include "kernels/sampling/low_pass2.h"
#include "kernels/sampling/shift_image.h"
#include "pixelops/spatial/cross_edges.h"
#include "pixelops/spatial/jpeg_deblock.h"
#include "pixelops/spatial/jpeg_quality_estimate.h"
#include "pixelops/ui/operation_frame.h"
#include "registration/ui/choose_second_image.h"
#include "shell/main/main_texts.h"
#include "shell/ui/dialogs/small_dialogs.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "store/color_models.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

QString Text(int key, const char* german) { return QString::fromStdString(LangTextOr(key, german)); }

// The quality of the active image: the one its JPEG reader or an earlier run
// stored, else the estimate (kept in the slot unless Esc stopped it).
int32_t DefaultJpegQuality(int source) {
  if (Store.Image[size_t(source)].JpegQuality > 0) return Store.Image[size_t(source)].JpegQuality;
  TBusyCursorScope busy;
  SetMainStatusText(2, QString::fromUtf8("Versuche die Qualität des JPEGs zu bestimmen ") +
                           QString::fromStdString(MainTexts.AbortWithEsc));
  QApplication::processEvents();
  const TQualityEstimate estimate = EstimateJpegQuality(source);
  SetMainStatusText(2, {});
  if (!estimate.Aborted && SlotInUse(source)) Store.Image[size_t(source)].JpegQuality = estimate.Quality;
  return estimate.Quality;
}

void JpegArtefacts(QAction* sender) {
  const int source = FindActiveSlot();
  if (source < 1) return;
  QString typed = QString::number(DefaultJpegQuality(source));
  if (!LangInputQuery(Text(1289, "JPEG Artefakte reduzieren"),
                      Text(1545, "Qualität des JPEG: (1-100, die Vorgabe ist geschätzt)"), typed))
    return;
  bool ok = false;
  const int quality = typed.trimmed().toInt(&ok);
  if (!ok) {
    EngineUi().ShowMessage("'" + typed.toStdString() + "' ist kein gültiger Integerwert");
    return;
  }
  if (!SlotInUse(source)) return;
  if (Store.Image[size_t(source)].IsColor && Store.Image[size_t(source)].ColorModel == CmYuv) {
    YUVtoRGB(source);
    ImageChanged(source);
  }
  TResultSlot result;
  if (!result) return;
  ShowImageWindow(result.Destination());
  SetOperationActive(true);
  {
    TBusyCursorScope busy;
    ReduceJpegArtefacts(result.Source(), result.Destination(), quality);
  }
  SetOperationActive(false);
  if (!SlotInUse(result.Destination())) return;
  result.Finish({.ResetRange = false,
                 .History = (OperationCaption(sender, "JPG Artefakte reduzieren") + " " + typed).toStdString(),
                 .HistoryMode = 0});
  AddRecentFunction(sender);
}

void CrossEdgeImage(QAction* sender) {
  TResultSlot result;
  if (!result) return;
  TBusyCursorScope busy;
  CrossEdges(result.Source(), result.Destination());
  result.Finish({.ResetRange = true, .AutoDisplayRange = true, .History = {}});
  AddRecentFunction(sender);
}

void ShiftCommand(QAction* sender) {
  if (FindActiveSlot() < 1) return;
  const QString caption = OperationCaption(sender, "Bild verschieben");
  const auto x = ReadNumber(LangInputBox(caption, Text(11529, "X-Richtung (Pixel)"), "0.0").toStdString(),
                            TNumberKind::Double);
  if (!x) return;
  const auto y = ReadNumber(LangInputBox(caption, Text(11785, "Y-Richtung (Pixel)"), "0.0").toStdString(),
                            TNumberKind::Double);
  if (!y) return;
  if (!(std::fabs(x->Value) + std::fabs(y->Value) > 0)) return;
  TResultSlot result;
  if (!result) return;
  TBusyCursorScope busy;
  ShiftImage(result.Destination(), -x->Value, -y->Value);
  result.Finish({.ResetRange = false, .History = {}});
  AddRecentFunction(sender);
}

void LowPass2(QAction*) {
  const int source = FindActiveSlot();
  if (source < 1) return;
  const QString caption = "Tiefpass2";
  const auto cutOff = ReadNumber(PlainInputBox(caption, "Grenzfrequenz angeben: (0.01->1)", "0.5").toStdString(),
                                 TNumberKind::Double);
  if (!cutOff) return;
  const auto steepness =
      ReadNumber(PlainInputBox(caption, "Steilheit angeben: (1->5)", "2.0").toStdString(), TNumberKind::Double);
  if (!steepness) return;
  const auto shift =
      ReadNumber(PlainInputBox(caption, "Verschiebung angeben: (-1->1)", "0.0").toStdString(), TNumberKind::Double);
  if (!shift) return;
  const TLowPass2Parameters p = LimitLowPass2Parameters({cutOff->Value, steepness->Value, shift->Value});
  TResultSlot result;
  if (!result) return;
  TBusyCursorScope busy;
  ApplyLowPass2(result.Destination(), true, p.Shift, p.Steepness, p.CutOff);
  ApplyLowPass2(result.Destination(), false, p.Shift, p.Steepness, p.CutOff);
  result.Finish({.ResetRange = false, .History = {}});
}

void FrequencyMatch(QAction*) {
  const int active = FindActiveSlot();
  if (active < 1 || FindFreeSlot() < 1) return;
  const int second = OtherOrChosenImage(active, "Freq. an welches Bild anpassen:");
  if (second < 1 || !SlotInUse(second) || !SlotInUse(active)) return;
  ActivateImageWindow(active);
  TResultSlot result;
  if (!result) return;
  TBusyCursorScope busy;
  if (!MatchFrequencyResponse(result.Destination(), second)) return;
  result.Finish({.ResetRange = false, .History = "Frequenzgang an ein zweites Bild angepasst", .HistoryMode = 0});
}

}  // namespace

void RegisterSpatialToolCommands() {
  RegisterMenuCommand("JPGArtefaktereduzieren1", JpegArtefacts);
  RegisterMenuCommand("CannesRanderkennung1", CrossEdgeImage);
  RegisterMenuCommand("Bildverschieben1", ShiftCommand);
  RegisterMenuCommand("Tiefpass21", LowPass2);
  RegisterMenuCommand("FrequenzganganeinanderesBildanpassen1", FrequencyMatch);
}

}  // namespace astrelon
