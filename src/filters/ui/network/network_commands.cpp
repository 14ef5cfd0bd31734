#include "filters/ui/network/network_commands.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QMainWindow>
#include <QMdiArea>
#include <QPointer>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "core/busy_cursor.h"
#include "core/funktion_defs.h"
#include "core/language.h"
#include "core/settings.h"
#include "filters/dialog/filter_functions.h"
#include "filters/dialog/filter_state.h"
#include "filters/network/network_filter.h"
#include "filters/network/network_filter_function.h"
#include "filters/network/upscale_x2_network.h"
#include "filters/ui/filter_commands.h"
#include "filters/ui/network/network_filter_menu.h"
#include "filters/ui/network/network_menus.h"
#include "filters/ui/status_poll.h"
#include "filters/ui/network/training_commands.h"
#include "shell/main/main_services.h"
#include "shell/main/main_texts.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/main_menu.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

std::function<QString(const QString& filter)> ChooseNetworkFile = [](const QString& filter) {
  return QFileDialog::getOpenFileName(MainLink().Window.data(), {}, QString::fromStdString(Settings.NetworkFolder),
                                      filter, nullptr, QFileDialog::DontUseNativeDialog);
};

namespace {

constexpr const char* EnlargeFilter = "Neuronal Network Weights (*.nnw)";
constexpr const char* FilterFilter = "Universeller Neuronal Network Filter (*.nnf)";
constexpr int KeyResize = LangKey(1, 2, 3);  // "Bildgröße ändern" of the menu

std::string Plain(const QAction* item, const char* german) {
  return StripAccelerators(item ? item->text().toStdString() : std::string(german));
}

bool FileExists(const std::string& name) {
  std::error_code ec;
  return !name.empty() && std::filesystem::is_regular_file(name, ec);
}

// The frame of a network run on the active image: the source window keeps
// only its maximise icon, the menu items of `items` are disabled, the busy
// cursor shows and no other operation starts; all comes back at the end, also
// after an exception.
class TNetworkRun {
public:
  TNetworkRun(int source, std::vector<const char*> items) : source_(source), items_(std::move(items)) {
    OperationRunning = 1;
    LockWindowBorderIcons(source_);
    SetItems(false);
    PushBusyCursor();
  }
  ~TNetworkRun() {
    PopBusyCursor();
    SetItems(true);
    UnlockWindowBorderIcons(source_);
    OperationRunning = 0;
    SetMainStatusText(2, {});
    CallUpdateMenuItems();
  }
  TNetworkRun(const TNetworkRun&) = delete;
  TNetworkRun& operator=(const TNetworkRun&) = delete;

private:
  void SetItems(bool enabled) const {
    if (items_.empty()) {
      enabled ? EnableNetworkMenus() : DisableNetworkMenus();
      return;
    }
    for (const char* name : items_)
      if (QAction* a = MainMenuItem(QString::fromLatin1(name))) a->setEnabled(enabled);
  }
  int source_;
  std::vector<const char*> items_;
};

void BringToFront(int slot) {
  TMDIChild* w = ImageWindow(slot);
  if (QMdiArea* area = MainLink().MdiArea; w && area) area->setActiveSubWindow(w);
}

// Runs `work(source, destination)` on a new result slot made from the active
// image, inside a network run that disables `items` (all network items when
// empty). A finished result gets its histogram, the history card and its
// window in front; an unfinished one (refused file, abort) is closed.
// False when no result slot could be made.
using TNetworkWork = std::function<bool(int source, int destination, TStatusPoll& poll)>;
bool RunOnNewResult(const std::string& history, std::vector<const char*> items,
                    std::function<QString(int source, int plane, int64_t rows)> progress, const TNetworkWork& work) {
  if (!NewResultSlot()) {
    SlotPair = {};
    return false;
  }
  const int src = SlotPair.Source, dst = SlotPair.Destination;
  bool done = false;
  try {
    TNetworkRun run(src, std::move(items));
    TStatusPoll poll([&](int plane, int64_t rows) { return progress(src, plane, rows); });
    done = work(src, dst, poll);
    if (done) {
      ComputeHistogram(dst, true, true);
      AddHistoryCard(dst, history, 0);
      ShowImageWindow(dst);
    } else {
      CloseImageSlot(dst);
    }
  } catch (...) {
    CloseImageSlot(dst);
    SlotPair = {};
    throw;
  }
  if (done) BringToFront(dst);
  SlotPair = {};
  return true;
}

// "Bildgröße ändern k% (Abbruch mit ESC)": k runs to 100 over the planes.
QString EnlargementProgress(int source, int plane, int64_t rows) {
  const TImageSlot& im = Store.Image[size_t(source)];
  const int64_t h = std::max(im.Height, 1);
  const int64_t k = im.PlaneCount >= 3 ? 33 * rows / h + 33 * (plane - 1) : 100 * rows / h;
  const std::string resize = LangText(KeyResize);
  return QString::fromStdString((resize.empty() ? "Bildgröße ändern" : StripAccelerators(resize)) + " " +
                                std::to_string(k) + "% " + MainTexts.AbortWithEsc);
}

// Enlarges the active image with the two-times network of `file`.
bool RunEnlargement(const std::string& file, const std::string& history, std::vector<const char*> items) {
  if (!FileExists(file)) return false;
  return RunOnNewResult(history, std::move(items), EnlargementProgress,
                 [&](int src, int dst, TStatusPoll& poll) { return UpscaleX2Network(src, dst, file, std::ref(poll)); });
}

// Opens the filter dialog's function 17 for a network file named "_..." on a
// new result slot; a network that cannot be read closes it again.
bool OpenNetworkFilterDialog(const std::string& file, const std::string& caption) {
  if (!NewResultSlot()) {
    SlotPair = {};
    return false;
  }
  const int src = SlotPair.Source, dst = SlotPair.Destination;
  DisableNetworkMenus();
  ShowImageWindow(dst);
  FunktionNr = 17;
  NetworkFilterDialogFile = file;
  const TFilterFunktion* f = FindFilterFunktion(17);
  if (f && f->Started && !f->Started(src, dst))
    CloseImageSlot(dst);
  else
    ShowFilterDialog(nullptr, 17, QString::fromStdString(caption));
  EnableNetworkMenus();
  SlotPair = {};
  return true;
}

// Applies the filter network of `file` to the whole active image; `caption`
// is the history text (and the dialog's caption for files named "_...").
// False when nothing was started (no such file, no result slot).
bool RunNetworkFilter(const std::string& file, const std::string& caption) {
  if (!FileExists(file)) return false;
  if (AppliedThroughDialog(file)) return OpenNetworkFilterDialog(file, caption);
  const QString text = QString::fromStdString(caption);
  return RunOnNewResult(
      caption, {},
      [text](int src, int, int64_t rows) {
        return text + QString::number(100 * rows / std::max(Store.Image[size_t(src)].Height, 1)) + "% ";
      },
      [&](int src, int dst, TStatusPoll& poll) {
        const TImageSlot& im = Store.Image[size_t(src)];
        return ApplyNetworkFilter(src, dst, file, TWorkRect{0, im.Width - 1, 0, im.Height - 1}, 1.0, std::ref(poll));
      });
}

std::string NameWithoutFolder(const std::string& file) {
  const std::filesystem::path p(file);
  return p.stem().string();
}

}  // namespace

void Bildgrx2NN1Click(QAction* sender) {
  AddRecentFunction(sender);
  const QString file = ChooseNetworkFile(EnlargeFilter);
  if (file.isEmpty()) return;
  RunEnlargement(file.toStdString(), Plain(sender, "Bildgröße x2 Neuronales Netzwerk"), {});
}

void Bildgrex2NNDirektwahl1Click(QAction* item) {
  if (!item || MenuItemTag(item) <= 0) return;
  const std::string file = NetworkItemFile(item).toStdString();
  const QPointer<QAction> sender = item;
  if (RunEnlargement(file, Plain(MainMenuItem("Bildgrx2NN1"), "Bildgröße x2 Neuronales Netzwerk"),
                     {"Bildgrx2NN1", "trainNNbp1"}))
    AddRecentFunction(sender);
}

void UniversellerFilterNeuronalesNetzwerk1Click(QAction* sender) {
  const QString file = ChooseNetworkFile(FilterFilter);
  if (file.isEmpty()) return;
  const std::string name = file.toStdString();
  const QPointer<QAction> item = sender;
  if (RunNetworkFilter(name, Plain(sender, "Universeller Filter (Neuronales Netzwerk)") + " [" +
                                 NameWithoutFolder(name) + "] "))
    AddRecentFunction(item);
}

void EigeneNNFilter1Click(QAction* item) {
  if (!item) return;
  const std::string file = NetworkItemFile(item).toStdString();
  const QPointer<QAction> sender = item;
  if (RunNetworkFilter(file, "[" + NameWithoutFolder(file) + "]")) AddRecentFunction(sender);
}

void RegisterNetworkCommands() {
  RegisterMenuCommand("Bildgrx2NN1", Bildgrx2NN1Click);
  RegisterMenuCommand("UniversellerFilterNeuronalesNetzwerk1", UniversellerFilterNeuronalesNetzwerk1Click);
  MainLink().BuildNetworkFilterMenu = BuildNetworkFilterMenu;
  RegisterTrainingCommands();
}

}  // namespace astrelon
