#include "registration/ui/calibration_commands.h"

#include <QAction>
#include <array>

#include "core/busy_cursor.h"
#include "core/language.h"
#include "core/settings.h"
#include "pixelops/ui/operation_frame.h"
#include "registration/calibration/flat_division.h"
#include "registration/ui/choose_second_image.h"
#include "shell/main/main_services.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/main_menu.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int KeyWhichSubtract = 5385;  // "Welches Bild subtrahieren:"
constexpr int KeyWhichDivide = 6921;    // "Welches Bild dividieren:"

// The dark-subtraction items by their option (tag) 0..3.
constexpr std::array<const char*, 4> DarkItems{"Bildsubtraktionnormal1", "mitHotpixelkorrektur1",
                                               "mitTemperaturausgleich1",
                                               "mitTemperaturausgleichundHotpixelkorrektur1"};
constexpr std::array<const char*, 4> DarkCaptions{"Bildsubtraktion normal", "Bildsubtraktion mit Hotpixelkorrektur",
                                                  "Bildsubtraktion mit Temperaturausgleich",
                                                  "Bildsubtraktion mit Temperaturausgleich und Hotpixelkorrektur"};

// The calibration image for the active one: the other window when exactly two
// are open, else the user's choice. Both are brought back to RGB (a converted
// window is shown anew) and the active window is made active again while
// pending events run. -1 when none is chosen or either image went meanwhile.
int ChooseCalibrationImage(int active, int key, const char* german) {
  const int second = OtherOrChosenImage(active, QString::fromStdString(LangTextOr(key, german)));
  if (second < 1 || !SlotInUse(second)) return -1;
  const std::array<int, 2> pair{active, second};
  std::array<bool, 2> yuv{};
  for (size_t i = 0; i < 2; ++i)
    yuv[i] = Store.Image[size_t(pair[i])].IsColor && Store.Image[size_t(pair[i])].ColorModel == CmYuv;
  EnsureRgbPair(active, second);
  for (size_t i = 0; i < 2; ++i)
    if (yuv[i] && SlotInUse(pair[i])) ImageChanged(pair[i]);
  ActivateImageWindow(active);
  if (!SlotInUse(active) || !SlotInUse(second) || FindActiveSlot() != active) return -1;
  return second;
}

}  // namespace

void mitHotpixelkorrektur1Click(QAction* sender, TDarkOptions options) {
  if (sender && sender->data().isValid()) options = TDarkOptions(MenuItemTag(sender) & 3);
  const int active = FindActiveSlot();
  if (active < 1) return;
  // A colour image needs two spare slots.
  if (CountOpenWindows() >= MaxImageSlots - (Store.Image[size_t(active)].IsColor ? 2 : 0)) return;
  const int dark = ChooseCalibrationImage(active, KeyWhichSubtract, "Welches Bild subtrahieren:");
  if (dark < 1) return;
  TResultSlot result;
  if (!result) return;
  TBusyCursorScope busy;
  if (!SubtractDarkFrame(result.Destination(), dark, options)) return;  // no result: the message said why
  result.Finish({.ResetRange = true,
                 .AutoDisplayRange = true,
                 .History = OperationCaption(sender, DarkCaptions[size_t(options)]).toStdString(),
                 .HistoryMode = 0});
  AddRecentFunction(sender);
}

void DivideByFlatCommand(QAction* sender, bool automatic) {
  const int active = FindActiveSlot();
  if (active < 1 || CountOpenWindows() >= MaxImageSlots) return;
  const int flat = ChooseCalibrationImage(active, KeyWhichDivide, "Welches Bild dividieren:");
  if (flat < 1) return;
  TResultSlot result;
  if (!result) return;
  TBusyCursorScope busy;
  if (!DivideByImage(result.Source(), result.Destination(), flat, Options.Scale != 0, automatic))
    return;  // no result: the message said why
  const char* caption = automatic ? "Hellbild dividieren - automatisch skaliert" : "(Hell-)Bild &dividieren";
  result.Finish({.ResetRange = true,
                 .AutoDisplayRange = true,
                 .History = OperationCaption(sender, caption).toStdString(),
                 .HistoryMode = 0});
  AddRecentFunction(sender);
}

void RegisterCalibrationCommands() {
  for (size_t tag = 0; tag < DarkItems.size(); ++tag)
    RegisterMenuCommand(DarkItems[tag],
                        [tag](QAction* sender) { mitHotpixelkorrektur1Click(sender, TDarkOptions(tag)); });
  RegisterMenuCommand("HellBilddividieren1", [](QAction* sender) { DivideByFlatCommand(sender, false); });
  RegisterMenuCommand("Hellbilddividierenautomatischskaliert1",
                      [](QAction* sender) { DivideByFlatCommand(sender, true); });
}

}  // namespace astrelon
