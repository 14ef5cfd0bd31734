#include "filters/ui/enlargement_commands.h"

#include <QAction>
#include <optional>

#include "common/engine_ui.h"
#include "core/busy_cursor.h"
#include "core/language.h"
#include "filters/enlargement/autoscan_enlargement.h"
#include "filters/enlargement/upscale_x2_nedi.h"
#include "filters/enlargement/upscale_x2_triangulation.h"
#include "filters/ui/enlargement_frame.h"
#include "filters/ui/status_poll.h"
#include "shell/main/main_texts.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon {

std::function<uint64_t()> AutoscanSeed = [] { return AutoscanDefaultSeed; };

namespace {

constexpr const char* AutoscanCaption = "Bildgröße x2 NN autoscan";

QString Percent(const char* what, int percent) { return QString::fromUtf8(what) + QString::number(percent) + "%"; }

}  // namespace

void Bildgrex2triangulation1Click(QAction* sender) {
  if (FindActiveSlot() < 1) return;
  const QString status = ResizeStatusText() + " " + QString::fromStdString(MainTexts.AbortWithEsc);
  const TEnlargementRun run = RunEnlargementOnResult("Größe x2 triangulation", 0, [&](int src, int dst) {
    SetMainStatusText(2, status);
    TStatusPoll poll([](int, int64_t) { return QString(); });
    return UpscaleX2Triangulation(src, dst, [&](int) { return poll(1, 0); });
  });
  if (run != TEnlargementRun::NoResult) AddRecentFunction(sender);
}

void Bildgrex2spline1Click(QAction* sender) {
  const TEnlargementRun run = RunEnlargementOnResult("Größe x2 Nedi", 0, [](int src, int dst) {
    TStatusPoll poll([](int, int64_t) { return QString(); });
    return UpscaleX2Nedi(src, dst, [&](int) { return poll(1, 0); });
  });
  if (run != TEnlargementRun::NoResult) AddRecentFunction(sender);
}

void Bildgrex2NeuronalesNetzwerk1Click(QAction* sender) {
  const int source = FindActiveSlot();
  if (source < 1) return;
  const QString caption = QString::fromUtf8(AutoscanCaption);
  TAutoscanSettings settings;
  const auto quality = AskWholeNumber(caption, QString::fromUtf8("Qualitätseingabe: (1-10)"), "2");
  if (!quality) return;
  const auto neurons = AskWholeNumber(caption, QString::fromUtf8("Neuronenanzahl: (10-50)"), "21");
  if (!neurons) return;
  const auto box = AskWholeNumber(caption, QString::fromUtf8("Scan-Boxgröße: (10-300)"), "45");
  if (!box) return;
  settings = ClampAutoscanSettings({*quality, *neurons, *box});
  {
    TAutoscanImages probe;
    if (!SlotInUse(source) || !MakeAutoscanWorkImage(source, probe)) {
      EngineUi().ShowMessage("Das Bild hat keine Helligkeitsunterschiede, aus denen das Netzwerk lernen könnte.");
      return;
    }
  }
  const uint64_t seed = AutoscanSeed();
  const TEnlargementRun run = RunEnlargementOnResult(AutoscanCaption, 0, [&](int src, int dst) {
    QString progress;
    TStatusPoll poll([&](int, int64_t) { return progress; });
    const TAutoscanEnd end = UpscaleX2Autoscan(src, dst, settings, seed, [&](bool scanning, int percent) {
      if (percent >= 0) progress = Percent(scanning ? "Berechnung " : "Anfangstraining ", percent);
      return poll(1, 0);
    });
    return end == TAutoscanEnd::Done || end == TAutoscanEnd::KeptBase;
  });
  if (run == TEnlargementRun::Aborted) SetMainStatusText(2, QString::fromUtf8("Abgebrochen!"));
  if (run != TEnlargementRun::NoResult) AddRecentFunction(sender);
}

void RegisterEnlargementCommands() {
  RegisterMenuCommand("Bildgrex2triangulation1", Bildgrex2triangulation1Click);
  RegisterMenuCommand("Bildgrex2spline1", Bildgrex2spline1Click);
  RegisterMenuCommand("Bildgrex2NeuronalesNetzwerk1", Bildgrex2NeuronalesNetzwerk1Click);
}

}  // namespace astrelon
