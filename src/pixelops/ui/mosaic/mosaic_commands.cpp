#include "pixelops/ui/mosaic/mosaic_commands.h"

#include <QAction>

#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "core/language.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "pixelops/colour/camera_matrix_table.h"
#include "pixelops/mosaic/mosaic_conversion.h"
#include "pixelops/ui/mosaic/mosaic_dialog.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/ui/raw_format_editor.h"
#include "store/slot_holds.h"

namespace astrelon {

namespace {

constexpr int KeyNotGrey = 16137;

// Multiplier a / b in fixed notation with four decimals; "1.0000" when b is 0.
std::string MultiplierRatio(float a, float b) { return FormatFixed(b != 0.0f ? double(a) / double(b) : 1.0, 4); }

}  // namespace

void FarbCCDzuRGBBild1Click(QAction* sender) {
  const int active = FindActiveSlot();
  if (active < 1) return;
  const TImageSlot& im = Store.Image[size_t(active)];
  if (im.IsColor) {
    EngineUi().ShowMessage(LangTextOr(KeyNotGrey, "Das Bild muß s/w sein"));
    return;
  }
  TForm13* dialog = MosaicDialog();
  if (!dialog) return;
  dialog->SetSource(active);
  SlotPair = {active, -1};
  OperationRunning = 1;
  LockWindowBorderIcons(active);
  NotifySlotGuardChanged();
  int32_t preset = -1;
  const bool known = LookupCameraMatrix(GetHeaderValue(active, "INSTRUME", false));
  dialog->SetCameraProfileVisible(known);
  if (known) {
    MosaicSettings.Rmul = MultiplierRatio(im.RawMultipliers[0], im.RawMultipliers[1]);
    MosaicSettings.Bmul = MultiplierRatio(im.RawMultipliers[2], im.RawMultipliers[1]);
    MosaicSettings.G1mul = "1";
    if (CameraMosaicPhase >= 0 && CameraMosaicPhase <= 3) preset = CameraMosaicPhase;
  }
  if (preset < 0) {
    preset = MosaicPresetOfFilterCode(im.RawFilterPattern);
    if (im.Height > im.Width) preset = PortraitMosaicPreset(preset);
  }
  ApplyMosaicPreset(MosaicSettings, preset);
  dialog->ShowSettings();
  dialog->show();
  dialog->raise();
  AddRecentFunction(sender);
}

void RegisterMosaicCommands() {
  InstallMosaicConversion();
  RegisterMenuCommand("FarbCCDzuRGBBild1", FarbCCDzuRGBBild1Click);
  // The raw-layout editor chooses pattern files with this dialog's open dialog.
  TForm24::ChooseMosaicFile = [](QWidget* parent) {
    TForm13* dialog = MosaicDialog();
    return dialog ? dialog->ChooseSettingsFile(parent) : QString();
  };
}

}  // namespace astrelon
