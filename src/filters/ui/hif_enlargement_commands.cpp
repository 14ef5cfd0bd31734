#include "filters/ui/hif_enlargement_commands.h"

#include <QAction>
#include <optional>

#include "core/language.h"
#include "filters/enlargement/upscale_x2_hif.h"
#include "filters/ui/enlargement_frame.h"
#include "filters/ui/status_poll.h"
#include "kernels/sampling/resample_image.h"
#include "registration/calibration/dark_subtraction.h"
#include "shell/main/main_services.h"
#include "shell/main/main_texts.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {

namespace {

// The strength typed into the input box and the history text it makes.
struct TStrength {
  int32_t Value = 0;
  std::string History;
};

std::optional<TStrength> AskStrength(QAction* sender) {
  const QString caption = QString::fromStdString(LangTextOr(LangKey(9, 41), "Künstliche Schärfung"));
  const QString prompt = QString::fromStdString(LangTextOr(LangKey(9, 42), "Stärke")) + " (1-10)";
  QString typed;
  const auto value = AskWholeNumber(caption, prompt, QString::number(LastX2Strength), &typed);
  if (!value) return std::nullopt;
  const std::string item = StripAccelerators(sender ? sender->text().toStdString() : std::string());
  return TStrength{*value, item + " " + caption.toStdString() + " " + typed.toStdString()};
}

// The progress panel "Bildgröße ändern k% (Abbruch mit ESC)" while the engine runs.
class THiFProgress {
public:
  THiFProgress() : poll_([this](int, int64_t) { return text_; }) {}
  TEnlargementPoll Poll() {
    return [this](int percent) {
      text_ = ResizeStatusText() + " " + QString::number(percent) + "% " +
              QString::fromStdString(MainTexts.AbortWithEsc);
      return poll_(2, 0);
    };
  }

private:
  QString text_;
  TStatusPoll poll_;
};

// A working slot of the back-projection, closed on every way out.
class TWorkSlot {
public:
  explicit TWorkSlot(int source) : slot_(FindFreeSlot()) {
    if (slot_ >= 1 && !CopyImageSlot(source, slot_)) slot_ = -1;
  }
  ~TWorkSlot() { Close(); }
  TWorkSlot(const TWorkSlot&) = delete;
  TWorkSlot& operator=(const TWorkSlot&) = delete;
  int Slot() const { return slot_; }
  void Close() {
    if (slot_ >= 1 && SlotInUse(slot_)) CloseImageSlot(slot_);
    slot_ = -1;
  }

private:
  int slot_;
};

// The hi-f enlargement of the active image with the strength asked for.
void RunHiF(QAction* sender, THiFVariant variant) {
  if (FindActiveSlot() < 1) return;
  const auto strength = AskStrength(sender);
  if (!strength) return;
  const bool tri = variant == THiFVariant::Tri;
  const TEnlargementRun run = RunEnlargementOnResult(strength->History, tri ? 1 : 0, [&](int src, int dst) {
    if (!tri) AddRecentFunction(sender);
    AbortRequested = 0;
    THiFProgress progress;
    return UpscaleX2HiF(src, dst, true, variant, strength->Value, progress.Poll());
  });
  if (tri && run != TEnlargementRun::NoResult) AddRecentFunction(sender);
}

// Enlarges the error of the enlargement `result` of `source` and takes it off
// the result, soft-thresholded; false when stopped or short of slots.
bool BackProject(int source, int result, int32_t strength, THiFProgress& progress) {
  TWorkSlot error(result);
  if (error.Slot() < 1) return false;
  ResampleImage(error.Slot(), IkLinear, 0, 0.5, 0.5, 0, false, false, true);
  SubtractDarkFrame(error.Slot(), source, false, false);
  TWorkSlot enlarged(error.Slot());
  if (enlarged.Slot() < 1) return false;
  UpdateMinMax(enlarged.Slot());
  if (!UpscaleX2HiF(error.Slot(), enlarged.Slot(), true, THiFVariant::Tri, strength, progress.Poll())) return false;
  error.Close();
  const float t = 0.5f * EstimatePlaneNoise(source, 1);
  SubtractSoftThresholded(result, enlarged.Slot(), t);
  return true;
}

}  // namespace

void Bildgrex2smart31Click(QAction* sender) { RunHiF(sender, THiFVariant::Tri); }

void Bildgrex2hiffine1Click(QAction* sender) { RunHiF(sender, THiFVariant::Sinc); }

void Bildgrex2hiftriBackpropagation1Click(QAction* sender) {
  if (FindActiveSlot() < 1) return;
  const auto strength = AskStrength(sender);
  if (!strength) return;
  // The result and the two working copies: all three slots or nothing.
  if (CountFreeSlots() < 3) return;
  RunEnlargementOnResult(strength->History, 1, [&](int src, int dst) {
    AddRecentFunction(sender);
    AbortRequested = 0;
    THiFProgress progress;
    if (!UpscaleX2HiF(src, dst, true, THiFVariant::Tri, strength->Value, progress.Poll())) return false;
    return BackProject(src, dst, strength->Value, progress);
  });
}

void RegisterHiFEnlargementCommands() {
  RegisterMenuCommand("Bildgrex2smart31", Bildgrex2smart31Click);
  RegisterMenuCommand("Bildgrex2hiffine1", Bildgrex2hiffine1Click);
  RegisterMenuCommand("Bildgrex2hiftriBackpropagation1", Bildgrex2hiftriBackpropagation1Click);
}

}  // namespace astrelon
