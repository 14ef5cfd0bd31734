#include "registration/ui/shift_test_command.h"

#include <QAction>
#include <algorithm>
#include <cmath>
#include <optional>

#include "common/number_text.h"
#include "common/pascal_format.h"
#include "core/busy_cursor.h"
#include "kernels/gauss/gauss_table.h"
#include "registration/shift_test/shift_finding_sweeps.h"
#include "shell/ui/dialogs/small_dialogs.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int32_t TestWidth = 200, TestHeight = 120;

// The values typed last, kept while the program runs.
QString LastRadius = "2", LastNoise = "0.1", LastSubPixel = "0";

// Asks for one number; nothing on Cancel or a text that is no number.
std::optional<double> AskNumber(const QString& prompt, QString& value) {
  if (!LangInputQuery("Teste Verschiebungsfindung", prompt, value)) return std::nullopt;
  const std::optional<double> v = TryStrToFloatDot(value.trimmed().toStdString());
  if (!v || !std::isfinite(*v)) return std::nullopt;
  return v;
}

// A grey test image of zeros with a default header in a free slot; -1 without one.
int NewTestImage() {
  const int slot = FindFreeSlot();
  if (slot < 1) return -1;
  TImageSlot& im = Store.Image[size_t(slot)];
  im = TImageSlot{};
  im.Width = TestWidth;
  im.Height = TestHeight;
  im.PlaneCount = 1;
  im.AllocatePlanes(1);
  Store.InUse[size_t(slot)] = 1;
  Store.FileName[size_t(slot)].clear();
  MakeDefaultHeader(slot);
  UpdateMinMax(slot);
  return slot;
}

void ShiftTestCommand(QAction* sender) {
  TShiftSweepSettings settings;
  const std::optional<double> radius = AskNumber("Sternradius", LastRadius);
  if (!radius) return;
  const std::optional<double> noise = AskNumber("Rauschen", LastNoise);
  if (!noise) return;
  const std::optional<double> sub = AskNumber("Subpixelposition", LastSubPixel);
  if (!sub) return;
  settings.StarRadius = std::clamp(*radius, 0.1, 50.0);
  settings.Noise = std::clamp(*noise, 0.0, 1e6);
  settings.SubPixel = *sub - std::trunc(*sub);
  settings.IsMosaic = LangMessageBox("Bayer?", TMsgDlgType::Confirmation, mbYes | mbNo) == mrYes;

  const TBusyCursorScope busy;
  const int test = NewTestImage();
  if (test < 1) return;
  const int result = FindFreeSlot();
  if (result < 1 || !CopyImageSlot(test, result)) {
    FreeSlot(test);
    return;
  }
  const double error = RunShiftFindingSweeps(test, result, settings, NewNoiseSeed());
  FreeSlot(test);
  // A window name only: nothing is written.
  Store.FileName[size_t(result)] = "V-test-Vari_" + FloatToStrF(error, TFloatFormat::Fixed, 15, 3) + ".png";
  Store.Display[size_t(result)].Black = 0;
  Store.Display[size_t(result)].White = 10000;
  ComputeHistogram(result, false, true);
  ShowImageWindow(result);
  AddRecentFunction(sender);
}

}  // namespace

void RegisterShiftTestCommands() { RegisterMenuCommand("TesteVerschiebungsfindung1", ShiftTestCommand); }

}  // namespace astrelon
