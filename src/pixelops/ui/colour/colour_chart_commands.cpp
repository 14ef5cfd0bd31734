#include "pixelops/ui/colour/colour_chart_commands.h"

#include <QAction>
#include <QFileDialog>
#include <QMainWindow>
#include <string>
#include <vector>

#include "common/engine_ui.h"
#include "core/busy_cursor.h"
#include "pixelops/colour/it8_chart.h"
#include "pixelops/colour/xyz_to_rgb.h"
#include "pixelops/pixels/raw_time_stamps.h"
#include "pixelops/ui/colour/color_commands.h"
#include "pixelops/ui/operation_frame.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/ui/open_dialog.h"

namespace astrelon {

namespace {

QStringList AskFiles(bool picture) {
  if (picture) {
    TPicOpenDialog& dialog = PicOpenDialog(MainLink().Window.data());
    if (!ExecuteOpenDialog(dialog)) return {};
    return dialog.selectedFiles();
  }
  const QString name =
      QFileDialog::getOpenFileName(MainLink().Window.data(), {}, {}, {}, nullptr, QFileDialog::DontUseNativeDialog);
  return name.isEmpty() ? QStringList{} : QStringList{name};
}

}  // namespace

std::function<QStringList(bool picture)> ChooseChartFiles = AskFiles;

void ImportIt8ChartCommand(QAction*, int illuminant) {
  const QStringList files = ChooseChartFiles(false);
  if (files.isEmpty()) return;
  const int slot = FindFreeSlot();
  const TIt8Import done = ImportIt8Chart(slot, files.first().toStdString(), illuminant);
  if (done == TIt8Import::NotIt8)
    EngineUi().ShowMessage("Das Format ist leider nicht bekannt.");
  else if (done == TIt8Import::Unreadable)
    EngineUi().ShowMessage(FileOpenErrorText(files.first().toStdString()));
  else if (done == TIt8Import::Done)
    ShowImageWindow(slot);
}

void BildvonXYZnachRGBwandeln1Click(QAction* sender) {
  {
    TResultSlot result;
    if (!result) return;
    // A grey image is no XYZ image: the copy is closed again.
    if (!Store.Image[size_t(result.Destination())].IsColor) return;
    {
      TBusyCursorScope busy;
      ConvertXyzToRgb(result.Destination(), true);
    }
    result.Finish({.ResetRange = false, .History = OperationCaption(sender, "Farbraum von XYZ nach RGB").toStdString()});
  }
  AddRecentFunction(sender);
}

void Timestampladen1Click(QAction*) {
  const QStringList files = ChooseChartFiles(true);
  if (files.isEmpty()) return;
  std::vector<std::string> names;
  for (const QString& f : files) names.push_back(f.toStdString());
  std::string text;
  {
    TBusyCursorScope busy;
    text = ListRawTimeStamps(names);
  }
  EngineUi().ShowMessage(text);
}

void RegisterColourChartCommands() {
  RegisterMenuCommand("IT8FarbtafelD501", [](QAction* sender) { ImportIt8ChartCommand(sender, 50); });
  RegisterMenuCommand("IT8FarbtafelD651", [](QAction* sender) { ImportIt8ChartCommand(sender, 65); });
  RegisterMenuCommand("BildvonXYZnachRGBwandeln1", BildvonXYZnachRGBwandeln1Click);
  RegisterMenuCommand("RGBBildinswumwandelnLuminanz1", [](QAction* sender) { ColorToMonoCommand(sender, true); });
  RegisterMenuCommand("Timestampladen1", Timestampladen1Click);
}

}  // namespace astrelon
