#include "filters/ui/shift_commands.h"

#include <QAction>
#include <QApplication>
#include <QPointer>
#include <vector>

#include "common/engine_ui.h"
#include "common/number_text.h"
#include "common/pascal_format.h"
#include "core/busy_cursor.h"
#include "filters/enlargement/sharpen_neighbours3.h"
#include "filters/experimental/magnitude_test.h"
#include "filters/experimental/parameter_search.h"
#include "filters/experimental/ring_significance.h"
#include "filters/experimental/shift_sharpening.h"
#include "filters/experimental/text_aa_filter.h"
#include "filters/network/upscale_x2_network.h"
#include "filters/ui/enlargement_frame.h"
#include "filters/ui/network/network_commands.h"
#include "registration/ui/choose_second_image.h"
#include "shell/display/renderer.h"
#include "shell/main/main_services.h"
#include "shell/ui/dialogs/small_dialogs.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/histogram_refresh.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/load_messages.h"

namespace astrelon {

namespace {

// A free slot for the result, or the message that none is left.
bool FreeSlotLeft() {
  if (FindFreeSlot() >= 1) return true;
  EngineUi().ShowMessage(TooManyImagesText());
  return false;
}

// Runs fn(source, destination) on a copy of the active image in its own window;
// a run that made its copy puts `sender` into "Letzte Funktionen".
void RunOnCopy(QAction* sender, const std::string& history, const std::function<bool(int, int)>& fn) {
  if (FindActiveSlot() < 1 || !FreeSlotLeft()) return;
  if (RunEnlargementOnResult(history, 0, fn) != TEnlargementRun::NoResult) AddRecentFunction(sender);
}

// Two numbers asked one after the other under `caption`.
struct TTwoNumbers {
  double Strength = 0, MaximumShift = 0;
};
std::optional<TTwoNumbers> AskStrengthAndShift(const QString& caption, const char* strength, const char* shift) {
  const auto s = AskRealNumber(caption, "Staerke", strength);
  if (!s) return std::nullopt;
  const auto m = AskRealNumber(caption, "Maximale Verschiebung", shift);
  if (!m) return std::nullopt;
  return TTwoNumbers{*s, *m};
}

QString Caption(const QAction* sender, const char* german) {
  return sender ? QString::fromStdString(StripAccelerators(sender->text().toStdString())) : QString::fromUtf8(german);
}

// The plane compared by the fits: 2 of a colour image, else 1.
int FitPlane(int slot) { return Store.Image[size_t(slot)].IsColor && Store.Image[size_t(slot)].PlaneCount >= 3 ? 2 : 1; }

// The reference image of a fit: the other of two open images, else the one chosen.
int ReferenceImage(int active) {
  return OtherOrChosenImage(active, QString::fromUtf8("Welches Bild ist das Original:"));
}

bool SameSize(int a, int b) {
  const TImageSlot &x = Store.Image[size_t(a)], &y = Store.Image[size_t(b)];
  return x.Width == y.Width && x.Height == y.Height;
}

QString Number(double v) { return QString::fromStdString(FloatToStr(v)); }

}  // namespace

std::optional<double> AskRealNumber(const QString& caption, const QString& prompt, const QString& preset) {
  QString text = preset;
  if (!LangInputQuery(caption, prompt, text)) return std::nullopt;
  const auto v = TryStrToFloatDot(text.trimmed().toStdString());
  if (!v) {
    EngineUi().ShowMessage("'" + text.toStdString() + "' ist keine gültige Zahl");
    return std::nullopt;
  }
  return *v;
}

void VSchrfung1Click(QAction* sender) {
  if (FindActiveSlot() < 1) return;
  const auto v = AskStrengthAndShift(Caption(sender, "Verschiebungs-schärfen"), "1.0", "1.0");
  if (!v) return;
  RunOnCopy(sender, {},
            [&](int src, int dst) { return SharpenByGradientShift(src, dst, v->MaximumShift, v->Strength); });
}

void BildabhngigesVSchrfen1Click(QAction* sender) {
  if (FindActiveSlot() < 1) return;
  const auto v = AskStrengthAndShift(Caption(sender, "Bildabhängiges V-Schärfen"), "1.5", "0.4");
  if (!v) return;
  RunOnCopy(sender, {}, [&](int src, int dst) { return ShiftSharpenImage(src, dst, v->MaximumShift, v->Strength); });
}

void CFilter1Click(QAction* sender) {
  if (FindActiveSlot() < 1) return;
  double c[4];
  for (int k = 0; k < 4; ++k) {
    const auto v = AskRealNumber("CFilter", QString("c%1:").arg(k), "0.0");
    if (!v) return;
    c[k] = *v;
  }
  RunOnCopy(sender, "cFilter", [&](int, int dst) {
    SharpenNeighbours3(dst, c[0], c[1], c[2], c[3]);
    return true;
  });
}

void extAAFilter1Click(QAction* sender) {
  RunOnCopy(sender, "Text AA-Filter", [](int src, int dst) {
    const TImageSlot& s = Store.Image[size_t(src)];
    TImageSlot& d = Store.Image[size_t(dst)];
    for (int p = 1; p <= std::min(s.PlaneCount, 3); ++p)
      TextAntiAliasPlane(s.Planes[size_t(p)], d.Planes[size_t(p)], s.Width, s.Height);
    return true;
  });
  RefreshHistogramWindow();
}

void RadiusisoFunktion1Click(QAction* sender) {
  RunOnCopy(sender, {}, [](int src, int dst) {
    SetMainStatusText(2, "Radius iso");
    return RadiusIsoFunction(src, dst);
  });
}

void filterfinden(QAction* sender) {
  const QPointer<QAction> item = sender;  // the loop below lets events run
  const int active = FindActiveSlot();
  if (active < 1) return;
  const int reference = ReferenceImage(active);
  if (!SlotInUse(reference) || reference == active) return;
  const QString file = ChooseNetworkFile("Neuronal Network Weights (*.nnw)");
  if (file.isEmpty() || !FreeSlotLeft() || !NewResultSlot()) return;
  const int src = SlotPair.Source, dst = SlotPair.Destination;
  SlotPair = {};
  {
    TBusyCursorScope busy;
    bool enlarged = false;
    try {
      enlarged = UpscaleX2Network(src, dst, file.toStdString());
    } catch (...) {
      CloseImageSlot(dst);  // refused for memory: the command reports it
      throw;
    }
    if (!enlarged) {
      CloseImageSlot(dst);
      return;
    }
  }
  if (!SameSize(dst, reference)) {
    CloseImageSlot(dst);
    EngineUi().ShowMessage("Das Original muss doppelt so groß sein wie das aktive Bild.");
    return;
  }
  UpdateMinMax(dst);
  ComputeHistogram(dst, false, true);
  SetNaxisCards(dst);
  ShowImageWindow(dst);
  const int p = FitPlane(dst), q = std::min(p, Store.Image[size_t(reference)].PlaneCount);
  const TImageSlot& r = Store.Image[size_t(reference)];
  const int32_t w = r.Width, h = r.Height;
  const TPlane base = Store.Image[size_t(dst)].Planes[size_t(p)];
  TCoefficientSearch search;
  std::vector<float> trial;
  AbortRequested = 0;
  while (!AbortRequested && SlotInUse(dst) && SlotInUse(reference)) {
    const auto& c = search.Propose();
    trial.assign(base.begin(), base.end());
    SharpenNeighbours3Plane(trial, w, h, CoefficientWeights(c), true);
    const double rms = PlaneRmsDifference(trial, Store.Image[size_t(reference)].Planes[size_t(q)], w, h, 5);
    const std::array<double, 4> tried = c;
    search.Report(rms);
    std::copy(trial.begin(), trial.end(), Store.Image[size_t(dst)].Planes[size_t(p)].begin());
    SetMainStatusText(2, "RMS=" + Number(search.Best) + "C0=" + Number(tried[0]) + " C1=" + Number(tried[1]) +
                             " C2=" + Number(tried[2]) + " C3=" + Number(tried[3]));
    RenderImageWindow(dst, false);
    QApplication::processEvents();
  }
  AbortRequested = 0;
  if (SlotInUse(dst)) ComputeHistogram(dst, false, true);
  AddRecentFunction(item);
}

void dsincvschrfenbesteMSEermitteln1Click(QAction* sender) {
  const QPointer<QAction> item = sender;  // the loop below lets events run
  const int active = FindActiveSlot();
  if (active < 1 || !FreeSlotLeft()) return;
  const int reference = ReferenceImage(active);
  if (!SlotInUse(reference) || reference == active) return;
  if (!SameSize(active, reference)) {
    EngineUi().ShowMessage("Die Bilder müssen gleich groß sein.");
    return;
  }
  const int work = FindFreeSlot();
  if (work < 1 || !CopyImageSlot(active, work)) return;
  const bool colour = FitPlane(active) == 2 && FitPlane(reference) == 2;
  const int p = colour ? 2 : 1;
  const TImageSlot& r = Store.Image[size_t(reference)];
  TShiftSearch search;
  AbortRequested = 0;
  while (!AbortRequested && SlotInUse(active) && SlotInUse(reference)) {
    const auto [shift, strength] = search.Propose();
    CopyImageSlot(active, work);
    SharpenByGradientShift(active, work, shift, strength);
    const double rms = PlaneRmsDifference(Store.Image[size_t(work)].Planes[size_t(p)], r.Planes[size_t(p)],
                                          r.Width, r.Height, 0);
    search.Report(rms);
    SetMainStatusText(2, "RMS=" + Number(search.Best) + QString::fromUtf8("Stärke= ") + Number(search.Strength) +
                             "   MaxV= " + Number(search.MaximumShift));
    QApplication::processEvents();
  }
  AbortRequested = 0;
  CloseImageSlot(work);
  AddRecentFunction(item);
}

void esteVerschiebungsfindung1Click(QAction* sender) {
  const QString caption = Caption(sender, "Teste Mag Verteilung");
  TMagnitudeTestSettings s;
  const auto radius = AskRealNumber(caption, "Sternradius", "2.0");
  if (!radius) return;
  const auto position = AskRealNumber(caption, "Subpixelposition", "0.5");
  if (!position) return;
  const auto mode = AskRealNumber(caption, "0:Weiss  1:Tiefpass", "0");
  if (!mode) return;
  s.StarRadius = *radius;
  s.Subpixel = *position;
  s.LowPass = *mode == 1;
  if (s.LowPass) {
    const auto f = AskRealNumber(caption, "Frequenz", "0.5");
    if (!f) return;
    s.Frequency = *f;
  }
  const int plot = FindFreeSlot();
  if (plot < 1 || CountFreeSlots() < 2) {
    EngineUi().ShowMessage(TooManyImagesText());
    return;
  }
  TBusyCursorScope busy;
  if (!MakeMagnitudeTest(plot, s)) return;
  ShowImageWindow(plot);
  AddRecentFunction(sender);
}

void RegisterShiftCommands() {
  RegisterMenuCommand("VSchrfung1", VSchrfung1Click);
  RegisterMenuCommand("BildabhngigesVSchrfen1", BildabhngigesVSchrfen1Click);
  RegisterMenuCommand("CFilter1", CFilter1Click);
  RegisterMenuCommand("extAAFilter1", extAAFilter1Click);
  RegisterMenuCommand("Filtercoeffberechnen1", filterfinden);
  RegisterMenuCommand("dsincvschrfenbesteMSEermitteln1", dsincvschrfenbesteMSEermitteln1Click);
  RegisterMenuCommand("RadiusisoFunktion1", RadiusisoFunktion1Click);
  RegisterMenuCommand("esteVerschiebungsfindung1", esteVerschiebungsfindung1Click);
}

}  // namespace astrelon
