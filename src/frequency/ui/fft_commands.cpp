#include "frequency/ui/fft_commands.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>

#include <QAction>
#include <QString>

#include "common/engine_ui.h"
#include "core/busy_cursor.h"
#include "frequency/fft_edges.h"
#include "frequency/interference_filter.h"
#include "frequency/spectrum_conversion.h"
#include "frequency/spectrum_image.h"
#include "shell/main_services.h"
#include "shell/ui/dialogs/small_dialogs.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/menu_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// The caption of the item without "&", or the built-in one when run without an item.
std::string Caption(QAction* sender, const char* builtIn) {
  return sender ? StripAccelerators(sender->text().toStdString()) : std::string(builtIn);
}

// Frees a slot made by the command when the command does not end normally.
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

// The end of every command: history, statistics and histogram, the new window.
void ShowResult(int slot, const std::string& history, bool autoRange, QAction* sender) {
  AddHistoryCard(slot, history, 0);
  ComputeHistogram(slot, false, true);
  if (autoRange) SetAutoDisplayRange(slot, false);
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
  ShowResult(spectrum, Caption(sender, "Bild -> 2D FFT"), true, sender);
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
  ShowResult(result, Caption(sender, "2D FFT -> Bild"), true, sender);
  guard.Keep();
}

// A result slot of the active image changed in place by work(source, result,
// detail); false from it closes the result again. `detail` follows the caption
// in the history text.
template <class F>
void OnResultSlot(QAction* sender, const char* builtIn, F&& work) {
  if (!NewResultSlot()) return;
  const int result = SlotPair.Destination;
  const int source = SlotPair.Source;
  SlotPair = {};
  TSlotGuard guard(result);
  TBusyCursorScope busy;
  std::string detail;
  if (!work(source, result, detail)) return;
  ShowResult(result, Caption(sender, builtIn) + detail, false, sender);
  guard.Keep();
}

// A margin typed into an input box: a whole number of at least 0.
int32_t AskMargin(const char* prompt) {
  const QString text = LangInputBox("randanpassenRadix", prompt, "0");
  const int32_t value = StrToIntTrim(text.toStdString());
  if (value < 0) throw std::invalid_argument("Der Rand muss 0 oder größer sein.");
  return value;
}

}  // namespace

void RegisterFrequencyCommands() {
  RegisterMenuCommand("Bild2DFFT1", ImageToSpectrum);
  RegisterMenuCommand("N2DFFTBild1", SpectrumToImage);
  RegisterMenuCommand("N2DFFTAmplitudePhasenachkomplex1", [](QAction* sender) {
    OnResultSlot(sender, "Amplitude+Phase -> Real+Imaginär", [](int, int result, std::string&) {
      ConvertToRealImaginary(result);
      return true;
    });
  });
  RegisterMenuCommand("N2DFFTWirkspektrum1", [](QAction* sender) {
    OnResultSlot(sender, "Real+Imaginär -> Amplitude+Phase", [](int, int result, std::string&) {
      ConvertToAmplitudePhase(result);
      return true;
    });
  });
  RegisterMenuCommand("Automatischer1DFFTStrfilter1", [](QAction* sender) {
    OnResultSlot(sender, "Automatischer 1D-FFT Störfilter", [](int source, int result, std::string&) {
      RemoveInterference1D(source, result);
      return true;
    });
  });
  RegisterMenuCommand("randanpassenRadix1", [](QAction* sender) {
    OnResultSlot(sender, "randanpassenRadix", [](int, int result, std::string& detail) {
      int32_t inner = 0, outer = 0;
      try {
        inner = AskMargin("Anpassen Innen");
        outer = AskMargin("Anpassen Außen");
      } catch (const std::invalid_argument& e) {
        EngineUi().ShowMessage(e.what());
        return false;
      }
      // Lengths beyond every good length are sizes beyond memory.
      if (!AdaptFftEdges(result, inner, outer, true)) throw std::bad_alloc();
      detail = " " + std::to_string(inner) + " " + std::to_string(outer);
      return true;
    });
  });
}

}  // namespace astrelon
