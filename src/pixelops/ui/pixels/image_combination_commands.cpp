#include "pixelops/ui/pixels/image_combination_commands.h"

#include <QAction>
#include <optional>
#include <string>
#include <utility>

#include "common/engine_ui.h"
#include "common/paths.h"
#include "core/busy_cursor.h"
#include "core/language.h"
#include "core/settings.h"
#include "kernels/alignment/alignment_points.h"
#include "kernels/colour/color_to_mono.h"
#include "kernels/sampling/align_to_reference.h"
#include "pixelops/colour/lrgb_combination.h"
#include "pixelops/pixels/multiply_by_image.h"
#include "pixelops/ui/operation_frame.h"
#include "registration/ui/choose_second_image.h"
#include "shell/main/main_services.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// More open images than this leave no room for the three-image result.
constexpr int MaxOpenForYuv = MaxImageSlots - 4;

// A slot taken by a command, closed again when the command ends early.
class TSlotGuard {
public:
  explicit TSlotGuard(int slot) : slot_(slot) {}
  ~TSlotGuard() {
    if (SlotInUse(slot_)) CloseImageSlot(slot_);
  }
  TSlotGuard(const TSlotGuard&) = delete;
  TSlotGuard& operator=(const TSlotGuard&) = delete;
  int Slot() const { return slot_; }
  int Release() { return std::exchange(slot_, -1); }

private:
  int slot_;
};

// The point pairs of a second image on a reference and the resampling of one
// of its planes into a plane of the target (whole image with plane 0).
void AlignOnto(int reference, int second, int target, int secondPlane, int targetPlane) {
  const TAlignPoints pts = GetAlignmentPoints(reference, second, false, -1.0);
  const TFloatPoint a1{pts.A1x, pts.A1y}, a2{pts.A2x, pts.A2y}, b1{pts.B1x, pts.B1y}, b2{pts.B2x, pts.B2y};
  if (secondPlane == 0)
    AlignImageToReference(second, target, pts.count, a1, a2, b1, b2);
  else
    AlignColourPlane(second, secondPlane, target, targetPlane, pts.count, a1, a2, b1, b2);
}

// Plane 1 of a slot also in planes 2 and 3: a three-plane colour image.
void SpreadPlaneOne(int slot) {
  CopyPlane(slot, 1, slot, 2);
  CopyPlane(slot, 1, slot, 3);
  TImageSlot& im = Store.Image[size_t(slot)];
  im.IsColor = 1;
  im.PlaneCount = 3;
  Store.InUse[size_t(slot)] = 1;
}

void MultiplyCommand(QAction* sender) {
  const int active = FindActiveSlot();
  if (active < 1) return;
  // A colour result needs room for its planes beside the two images.
  const int limit = Store.Image[size_t(active)].IsColor ? MaxImageSlots - 2 : MaxImageSlots;
  if (CountOpenWindows() >= limit) return;
  AddRecentFunction(sender);
  const int second = OtherOrChosenImage(active, Q(LangTextOr(7945, "Welches Bild multiplizieren:")));
  if (second < 1) return;
  ActivateImageWindow(active);
  // The pending events may have closed either image or changed the active one.
  if (!SlotInUse(second) || FindActiveSlot() != active) return;
  TResultSlot result;
  if (!result) return;
  const TBusyCursorScope busy;
  MultiplyByImage(result.Destination(), second, Options.Scale == 0);
  result.Finish({.ResetRange = true,
                 .AutoDisplayRange = true,
                 .History = OperationCaption(sender, "Bild multiplizieren").toStdString(),
                 .HistoryMode = 0});
}

// The L image and the colour image of an L+RGB combination; -1 when the
// command ends (a message said why, or a choice was cancelled).
std::pair<int, int> ChooseLrgbImages() {
  int greys = 0, colours = 0, grey = -1, colour = -1;
  for (int s = 1; s <= MaxImageSlots; ++s) {
    if (!Store.HasWindow[size_t(s)] || !Store.InUse[size_t(s)]) continue;
    if (Store.Image[size_t(s)].IsColor) {
      ++colours;
      colour = s;
    } else {
      ++greys;
      grey = s;
    }
  }
  if (greys == 0) {
    EngineUi().ShowMessage(LangTextOr(18441, "Es ist kein s/w Bild vorhanden"));
    return {-1, -1};
  }
  if (colours == 0) {
    EngineUi().ShowMessage(LangTextOr(18697, "Es ist kein Farbbild vorhanden"));
    return {-1, -1};
  }
  const int l = greys == 1 ? grey : ChooseSecondImage(-1, -1, Q(LangTextOr(6409, "Welches Bild als L:")), false);
  if (l < 1) return {-1, -1};
  const int c = colours == 1 ? colour : ChooseSecondImage(l, l, Q(LangTextOr(6665, "Welches Bild für die Farbe:")), true);
  if (c < 1 || c == l) return {-1, -1};
  return {l, c};
}

void LrgbCommand(QAction* sender, bool autoScaled) {
  AddRecentFunction(sender);
  const auto [l, c] = ChooseLrgbImages();
  if (l < 1 || FindFreeSlot() < 1) return;
  ActivateImageWindow(l);
  if (!SlotInUse(c) || FindActiveSlot() != l) return;
  // The colour formulas work on RGB values.
  if (Store.Image[size_t(c)].ColorModel == CmYuv) {
    EnsureRgbPair(c, -1);
    ImageChanged(c);
  }
  TResultSlot result;
  if (!result) return;
  const TBusyCursorScope busy;
  const int target = result.Destination();
  SpreadPlaneOne(target);
  Store.Image[size_t(target)].ColorModel = CmRgb;
  {
    // The plain combination resamples linearly; the user's kind comes back on
    // every way out.
    std::optional<TInterpolationKindScope> linear;
    if (!autoScaled) linear.emplace(0);
    AlignOnto(l, c, target, 0, 0);
  }
  const TSlotGuard luminance(FindFreeSlot());
  if (luminance.Slot() < 1 || !ConvertColorToMono(target, luminance.Slot(), false)) return;
  if (!CombineLrgb(target, luminance.Slot(), l, autoScaled)) return;
  CloseImageSlot(luminance.Slot());
  SetHeader3Axis(target);
  Store.Display[size_t(target)].DisplayType = DtColorRgb;
  const char* caption = autoScaled ? "L+RGB Bild kombinieren auto. skaliert" : "L+RGB Bild kombinieren nicht skaliert";
  result.Finish({.ResetRange = !autoScaled,
                 .AutoDisplayRange = false,
                 .History = OperationCaption(sender, caption).toStdString(),
                 .HistoryMode = 0});
}

// The name of a new YUV image: the translation of key 17673; without a
// language file the German name, with an empty translation the English one.
std::string YuvImageName() {
  if (!LanguageFileLoaded) return "YUV_neu";
  const std::string text = LangText(17673);
  return text.empty() ? "YUV_new" : text;
}

void GreyImagesToYuvCommand(QAction* sender) {
  AddRecentFunction(sender);
  if (CountOpenWindows() > MaxOpenForYuv) return;
  const int y = ChooseSecondImage(-1, -1, "Y:", false);
  if (y < 1) return;
  const int u = ChooseSecondImage(-1, -1, "U:", false);
  if (u < 1) return;
  const int v = ChooseSecondImage(-1, -1, "V:", false);
  if (v < 1 || !SlotInUse(y) || !SlotInUse(u)) return;
  const TBusyCursorScope busy;
  TSlotGuard result(FindFreeSlot());
  const int target = result.Slot();
  if (target < 1 || !CopyImageSlot(u, target)) return;
  SpreadPlaneOne(target);
  Store.FileName[size_t(target)] = ExtractFilePath(Store.FileName[size_t(u)]) + YuvImageName() + ".fit";
  Store.Image[size_t(target)].NumberedName = 0;
  AlignOnto(u, y, target, 1, 1);
  AlignOnto(u, v, target, 1, 3);
  TImageSlot& im = Store.Image[size_t(target)];
  im.ColorModel = CmYuv;
  TDisplayRecord& d = Store.Display[size_t(target)];
  d.ChannelSelection = 0;
  d.DisplayType = DtColorYuv;
  MakeCopyName(target, target);
  MakeDefaultHeader(target);
  AddHistoryCard(target, OperationCaption(sender, "3 s/w Bilder zu YUV Bild").toStdString(), 0);
  ComputeHistogram(target, true, true);
  ShowImageWindow(result.Release());
}

}  // namespace

void RegisterImageCombinationCommands() {
  RegisterMenuCommand("Bildmultiplizieren1", [](QAction* sender) { MultiplyCommand(sender); });
  RegisterMenuCommand("LRGBBildkombinieren1", [](QAction* sender) { LrgbCommand(sender, true); });
  RegisterMenuCommand("LRGBBildkombinierennichtskaliert1", [](QAction* sender) { LrgbCommand(sender, false); });
  RegisterMenuCommand("N3swBilderzuYUVBild1", [](QAction* sender) { GreyImagesToYuvCommand(sender); });
}

}  // namespace astrelon
