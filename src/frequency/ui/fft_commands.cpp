#include "frequency/ui/fft_commands.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>

#include <QAction>
#include <QString>

#include "common/engine_ui.h"
#include "core/busy_cursor.h"
#include "frequency/interference/interference_filter.h"
#include "frequency/ui/speckle_dialog.h"
#include "kernels/fft/fft_edges.h"
#include "kernels/fft/spectrum_conversion.h"
#include "kernels/fft/spectrum_image.h"
#include "pixelops/ui/operation_frame.h"
#include "shell/main/main_services.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Frees a slot made by a command when the command does not end normally.
class TSlotGuard {
public:
  explicit TSlotGuard(int slot) : slot_(slot) {}
  ~TSlotGuard() {
    if (slot_ >= 1) FreeSlot(slot_);
  }
  void Keep() { slot_ = -1; }
  TSlotGuard(const TSlotGuard&) = delete;
  TSlotGuard& operator=(const TSlotGuard&) = delete;

private:
  int slot_;
};

// The closing steps of the two transforms, whose slots are not result slots of
// the active image: statistics and histogram, the automatic display range, the
// history card, the new window.
void ShowTransformed(int slot, QAction* sender, const char* german) {
  AddHistoryCard(slot, OperationCaption(sender, german).toStdString(), 0);
  ComputeHistogram(slot, false, true);
  SetAutoDisplayRange(slot, false);
  ShowImageWindow(slot);
  AddRecentFunction(sender);
}

void ImageToSpectrum(QAction* sender) {
  const int source = FindActiveSlot();
  if (source < 1) return;
  TBusyCursorScope busy;
  const int spectrum = ImageToFft2D(source, 0, 0);
  if (spectrum < 1) return;
  TSlotGuard guard(spectrum);
  ConvertToAmplitudePhase(spectrum);
  Store.Display[spectrum].SqrtHistogram = 1;
  ShowTransformed(spectrum, sender, "Bild -> 2D FFT");
  guard.Keep();
}

void SpectrumToImage(QAction* sender) {
  const int source = FindActiveSlot();
  if (source < 1) return;
  TBusyCursorScope busy;
  const int copy = FindFreeSlot();
  if (copy < 1) return;
  TSlotGuard copyGuard(copy);
  CopyImageSlot(source, copy);
  // The recorded size of the image before its transform; a spectrum read from a
  // file has none and takes its own lengths.
  TImageSlot& im = Store.Image[copy];
  if (im.FftWidth == 0 || im.FftHeight == 0) {
    im.FftWidth = im.Width - 2;
    im.FftHeight = im.Height;
  } else {
    im.FftWidth = std::min(im.FftWidth, im.Width);
    im.FftHeight = std::min(im.FftHeight, im.Height);
  }
  ConvertToRealImaginary(copy);
  const int result = FftToImage2D(copy, -1, 0);
  if (result < 1) {
    EngineUi().ShowMessage("Das Bild ist kein 2D-Spektrum, das sich zurückrechnen lässt.");
    return;
  }
  TSlotGuard guard(result);
  Store.Display[result].SqrtHistogram = 0;
  ShowTransformed(result, sender, "2D FFT -> Bild");
  guard.Keep();
}

// A margin typed into an input box: a whole number of at least 0.
int32_t AskMargin(const char* prompt) {
  const QString text = PlainInputBox("randanpassenRadix", prompt, "0");
  const int32_t value = StrToIntTrim(text.toStdString());
  if (value < 0) throw std::invalid_argument("Der Rand muss 0 oder größer sein.");
  return value;
}

void AdaptEdges(QAction* sender) {
  TResultSlot result;
  if (!result) return;
  int32_t inner = 0, outer = 0;
  try {
    inner = AskMargin("Anpassen Innen");
    outer = AskMargin("Anpassen Außen");
  } catch (const std::invalid_argument& e) {
    EngineUi().ShowMessage(e.what());
    return;
  }
  TBusyCursorScope busy;
  // Lengths beyond every good length are sizes beyond memory.
  if (!AdaptFftEdges(result.Destination(), inner, outer, true)) throw std::bad_alloc();
  result.Finish({.ResetRange = false,
                 .History = OperationCaption(sender, "randanpassenRadix").toStdString() + " " +
                            std::to_string(inner) + " " + std::to_string(outer)});
  AddRecentFunction(sender);
}

void RemoveInterference(QAction* sender) {
  TBusyCursorScope busy;
  TResultSlot result;
  if (!result) return;
  RemoveInterference1D(result.Source(), result.Destination());
  result.Finish({.ResetRange = false,
                 .History = OperationCaption(sender, "Automatischer 1D-FFT Störfilter").toStdString()});
  AddRecentFunction(sender);
}

}  // namespace

void RegisterFrequencyCommands() {
  RegisterMenuCommand("Bild2DFFT1", ImageToSpectrum);
  RegisterMenuCommand("N2DFFTBild1", SpectrumToImage);
  RegisterMenuCommand("N2DFFTAmplitudePhasenachkomplex1", [](QAction* sender) {
    TBusyCursorScope busy;
    RunResultCommand(sender, "Amplitude+Phase -> Real+Imaginär", ConvertToRealImaginary, true, false);
  });
  RegisterMenuCommand("N2DFFTWirkspektrum1", [](QAction* sender) {
    TBusyCursorScope busy;
    RunResultCommand(sender, "Real+Imaginär -> Amplitude+Phase", ConvertToAmplitudePhase, true, false);
  });
  RegisterMenuCommand("Automatischer1DFFTStrfilter1", RemoveInterference);
  RegisterSpeckleForm();
  RegisterMenuCommand("randanpassenRadix1", AdaptEdges);
}

}  // namespace astrelon
