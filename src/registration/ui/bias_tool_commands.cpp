#include "registration/ui/bias_tool_commands.h"

#include <QAction>
#include <string>

#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "core/busy_cursor.h"
#include "filters/noise/bias_image.h"
#include "pixelops/ui/operation_frame.h"
#include "registration/calibration/bayer_flat_normalisation.h"
#include "registration/ui/larson_sekanina_start.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

constexpr const char* NotGreyText = "Das Bild ist nicht s/w";

// Resets the slot pair when a command ends, also on its early exits.
struct TSlotPairReset {
  ~TSlotPairReset() { SlotPair = {}; }
};

// Whether the active image has one plane; says so when it has not.
bool ActiveImageIsGrey() {
  const int active = FindActiveSlot();
  if (active < 1) return false;
  if (Store.Image[size_t(active)].PlaneCount == 1) return true;
  EngineUi().ShowMessage(NotGreyText);
  return false;
}

// A bias-image command: the worker fills the result copy; a stopped or failed
// worker closes the copy again.
void RunBiasCommand(bool (*worker)(int source, int result), bool greyOnly) {
  TBusyCursorScope busy;
  TSlotPairReset reset;
  if (greyOnly && !ActiveImageIsGrey()) return;
  TResultSlot result;
  if (!result) return;
  if (!worker(result.Source(), result.Destination())) return;
  result.Finish({.ResetRange = true, .AutoDisplayRange = false, .History = {}, .HistoryMode = 0});
}

std::string ClassNames(uint32_t classes) {
  static constexpr const char* Names[] = {"Grün", "ungerade Zeilen", "gerade Zeilen"};
  std::string text;
  for (int c = 0; c < 3; ++c)
    if (classes & (1u << c)) text += (text.empty() ? "" : ", ") + std::string(Names[c]);
  return text;
}

void NormalizeFlatCommand(QAction* sender) {
  TBusyCursorScope busy;
  TSlotPairReset reset;
  if (!ActiveImageIsGrey()) return;
  TResultSlot result;
  if (!result) return;
  const uint32_t unusable = NormalizeBayerFlat(result.Source(), result.Destination());
  if (unusable)
    EngineUi().ShowMessage("Bayer Masterflat: Mittelwert nicht über 0 (" + ClassNames(unusable) +
                           "), Faktor 1 behalten");
  result.Finish({.ResetRange = true,
                 .AutoDisplayRange = false,
                 .History = OperationCaption(sender, "Bayer Masterflat normalisieren").toStdString(),
                 .HistoryMode = 0});
}

void BayerNoiseCommand() {
  TBusyCursorScope busy;
  TSlotPairReset reset;
  const int active = FindActiveSlot();
  if (active < 1) return;
  EngineUi().ShowMessage("Rauschanteilbayer: " + FloatToStr(EstimateNoise(active, 1)));
}

}  // namespace

void RegisterBiasToolCommands() {
  RegisterMenuCommand("biasbildmachen1", [](QAction*) { RunBiasCommand(MakeBiasImage, false); });
  RegisterMenuCommand("EinBiasbildvomMasterdarkgenerierenBayer1",
                      [](QAction*) { RunBiasCommand(MakeBayerBiasImage, true); });
  RegisterMenuCommand("BayerMasterflatnormalisieren1", NormalizeFlatCommand);
  RegisterMenuCommand("RauschanteilbestimmenBayer1", [](QAction*) { BayerNoiseCommand(); });
  RegisterMenuCommand("LarsonSekaninaFilter1", LarsonSekaninaStart);
}

}  // namespace astrelon
