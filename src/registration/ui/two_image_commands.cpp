#include "registration/ui/two_image_commands.h"

#include <QApplication>
#include <algorithm>
#include <array>
#include <string>

#include "core/language.h"
#include "kernels/alignment/alignment_points.h"
#include "pixelops/ui/operation_frame.h"
#include "registration/ui/choose_second_image.h"
#include "shell/main/main_services.h"
#include "shell/main/main_texts.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

struct TTwoImageCommand {
  const char* Item;  // the menu item's object name
  TCombineOp Op;
  int PromptKey;        // translation key of the chooser's prompt
  const char* Prompt;   // the prompt without a language file
  const char* History;  // the history card's first word
};

constexpr std::array<TTwoImageCommand, 4> Commands{{
    {"Bildaddieren1", TCombineOp::Add, 7433, "Welches Bild addieren:", "Add"},
    {"Bildsubtrahieren1", TCombineOp::Subtract, 5385, "Welches Bild subtrahieren:", "Sub"},
    {"Minimum1", TCombineOp::Minimum, 6153, "Mit welchem Bild kombinieren:", "Min"},
    {"Maximum1", TCombineOp::Maximum, 6153, "Mit welchem Bild kombinieren:", "Max"},
}};

const TTwoImageCommand& CommandOf(TCombineOp op) {
  return *std::find_if(Commands.begin(), Commands.end(), [op](const auto& c) { return c.Op == op; });
}

// The display range of a sum: black and white points the sums of both images',
// the range widened to them and to the sum's minimum and maximum.
void SumDisplayRange(int result, int source, int second) {
  TDisplayRecord& d = Store.Display[size_t(result)];
  d.Black = Store.Display[size_t(second)].Black + Store.Display[size_t(source)].Black;
  d.White = Store.Display[size_t(second)].White + Store.Display[size_t(source)].White;
  UpdateMinMax(result);
  const TImageSlot& im = Store.Image[size_t(result)];
  d.RangeLow = std::min({d.RangeLow, d.Black, im.MinValue});
  d.RangeHigh = std::max({d.RangeHigh, d.White, im.MaxValue});
}

}  // namespace

void CombineWithSecondImage(TCombineOp op, QAction* sender) {
  const TTwoImageCommand& command = CommandOf(op);
  const int active = FindActiveSlot();
  if (active < 1 || FindFreeSlot() < 1) return;
  const int second = OtherOrChosenImage(active, QString::fromStdString(LangTextOr(command.PromptKey, command.Prompt)));
  if (second < 1 || !SlotInUse(second)) return;
  MatchColourModel(active, second);
  QApplication::processEvents();
  // The pending events may have closed either image or changed the active one.
  if (!SlotInUse(active) || !SlotInUse(second) || FindActiveSlot() != active) return;
  TResultSlot result;
  if (!result) return;
  const int source = result.Source(), target = result.Destination();
  const TAlignPoints pts = GetAlignmentPoints(source, second, false, -1.0);
  if (pts.Stopped) return;  // the shift could not be measured: no result
  CombineShiftedImage(target, second, target, pts.count, {pts.A1x, pts.A1y}, {pts.A2x, pts.A2y}, {pts.B1x, pts.B1y},
                      {pts.B2x, pts.B2y}, op);
  const bool add = op == TCombineOp::Add;
  if (add) SumDisplayRange(target, source, second);
  result.Finish({.ResetRange = !add,
                 .AutoDisplayRange = op == TCombineOp::Subtract,
                 .History = std::string(command.History) + " " + MainTexts.Image,
                 .HistoryMode = 0});
  AddRecentFunction(sender);
}

void RegisterTwoImageCommands() {
  for (const TTwoImageCommand& c : Commands)
    RegisterMenuCommand(c.Item, [op = c.Op](QAction* sender) { CombineWithSecondImage(op, sender); });
}

}  // namespace astrelon
