#include "filters/ui/network/training_commands.h"

#include <QAction>
#include <QFileDialog>
#include <QMainWindow>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "common/paths.h"
#include "core/settings.h"
#include "filters/training/debayer_training.h"
#include "filters/training/training_options.h"
#include "filters/training/two_times_training.h"
#include "filters/training/universal_training.h"
#include "filters/ui/network/training_panel.h"
#include "kernels/colour/color_to_mono.h"
#include "kernels/mosaic/mosaic_kernels.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "kernels/network/network_file.h"
#include "kernels/network/network_file_codec.h"
#include "kernels/network/network_file_writers.h"
#include "kernels/network/network_phases.h"
#include "kernels/network/network_weights.h"
#include "kernels/network/two_times_network_file.h"
#include "kernels/sampling/resample_image.h"
#include "pixelops/mosaic/debayer_nn.h"
#include "pixelops/mosaic/mosaic_interpolation.h"
#include "registration/ui/choose_second_image.h"
#include "shell/ui/dialogs/small_dialogs.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

std::function<QString(const QString& filter)> ChooseTrainingFile = [](const QString& filter) {
  QFileDialog dialog(MainLink().Window.data(), {}, QString::fromStdString(Settings.NetworkFolder), filter);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().first()
                                                                                 : QString();
};
std::optional<uint32_t> TrainingSeed;
TTrainingLimits TrainingLimits;

namespace {

constexpr int MethodNetwork = 5;  // the colour mosaic's "Bayer, Neuronales Netzwerk"

bool FileExists(const std::string& name) {
  std::error_code ec;
  return std::filesystem::is_regular_file(name, ec);
}

// A whole number asked with the translated input box; nullopt when cancelled
// or left empty, and, with a message, for a text that is no whole number.
std::optional<int64_t> AskWhole(const QString& caption, const QString& prompt, const QString& start) {
  QString text = start;
  if (!LangInputQuery(caption, prompt, text)) return std::nullopt;
  const std::string typed = text.trimmed().toStdString();
  if (typed.empty()) return std::nullopt;
  const std::optional<int64_t> v = TryStrToInt(typed);
  if (!v) EngineUi().ShowMessage("'" + typed + "' ist kein gültiger ganzzahliger Wert");
  return v;
}

// A neuron count: the top index n = count - 1 when it lies in 9..999, else a
// message.
std::optional<int32_t> AskNeurons(const QString& caption, const QString& prompt, const QString& start) {
  const std::optional<int64_t> count = AskWhole(caption, prompt, start);
  if (!count) return std::nullopt;
  if (*count - 1 < 9 || *count - 1 > 999) {
    EngineUi().ShowMessage("Die Neuronenanzahl muss zwischen 10 und 1000 liegen.");
    return std::nullopt;
  }
  return int32_t(*count - 1);
}

// A new network of n + 1 neurons for inputs 0..N of `type` with `current` + 1
// neurons in use, learning at 0.05.
void NewNetwork(int32_t type, int32_t n, int32_t current, int32_t N) {
  TNetworkWeights layout;
  layout.TypeCode = type;
  SetNetworkLayout(layout);
  InitNetwork(n, std::min(current, n), N);
  Network.TypeCode = type;
  Network.Layer2Top = layout.Layer2Top;
  Network.Rate = 0.05;
}

// A slot in use only while the command runs (closed at its end).
class TTemporarySlots {
public:
  ~TTemporarySlots() {
    for (const int slot : slots_)
      if (SlotInUse(slot)) CloseImageSlot(slot);
  }
  int Add(int slot) {
    slots_.push_back(slot);
    return slot;
  }

private:
  std::vector<int> slots_;
};

// A grey copy of a colour image in a free slot, or the slot itself when grey;
// -1 without a free slot.
int GreyImage(int slot, TTemporarySlots& temporary) {
  if (!Store.Image[size_t(slot)].IsColor) return slot;
  const int grey = FindFreeSlot();
  if (grey < 1 || !ConvertColorToMono(slot, grey, false)) return -1;
  return temporary.Add(grey);
}

// The source window's selections, in the position image's pixels (`scale`
// times smaller).
std::vector<TRectI> SelectionAreas(int slot, int scale) {
  std::vector<TRectI> areas;
  const TImageWindowLink* w = ValidSlot(slot) && Store.HasWindow[size_t(slot)] ? Store.Window[size_t(slot)] : nullptr;
  if (!w) return areas;
  for (int n = 1; n <= 2; ++n)
    if (w->SelectionVisible(n)) {
      const TRectI r = w->SelectionImageRect(n);
      areas.push_back({r.Left / scale, r.Top / scale, r.Right / scale, r.Bottom / scale});
    }
  return areas;
}

// The run of a training: the pair guarded while events run, the panel, the
// loop, then the panel hidden, the weight file written and the menus rebuilt
// for a new network.
struct TTrainingRun {
  int Source = -1, Result = -1;
  std::string File;
  bool NewFile = false;
  bool (*Write)(const std::string&, const TNetworkWeights&) = nullptr;
};

// Undoes the guards of a run, also after an exception.
class TRunGuard {
public:
  explicit TRunGuard(const TTrainingRun& run) : run_(run) {
    OperationRunning = 1;
    SlotPair = {run.Source, run.Result};
    LockWindowBorderIcons(run.Source);
  }
  ~TRunGuard() {
    HideTrainingPanel();
    UnlockWindowBorderIcons(run_.Source);
    OperationRunning = 0;
    SlotPair = {};
    CallUpdateMenuItems();
  }
  TRunGuard(const TRunGuard&) = delete;
  TRunGuard& operator=(const TRunGuard&) = delete;

private:
  const TTrainingRun& run_;
};

void RunTraining(TTrainingKind& kind, const TTrainingRun& run, const std::vector<TRectI>& areas) {
  {
    TRunGuard guard(run);
    ShowImageWindow(run.Result);
    const TNetworkWeights& net = Network;
    TrainingControls.Thresholds.fill(TrainingOptions.SwitchThreshold);
    ShowTrainingPanel(net.Current, net.Top, net.InputTop);
    TTrainingView plain;
    TTrainingView* view = TrainingPanel() ? static_cast<TTrainingView*>(TrainingPanel()) : &plain;
    std::mt19937 rng(TrainingSeed ? *TrainingSeed
                                  : uint32_t(std::chrono::steady_clock::now().time_since_epoch().count()));
    RunNetworkTraining(kind, *view, rng, areas, TrainingLimits);
  }
  SetMainStatusText(3, " Training unterbrochen");
  if (SlotInUse(run.Result)) {
    ComputeHistogram(run.Result, false, true);
    ImageChanged(run.Result);
  }
  if (Network.Top >= 1 && run.Write) run.Write(run.File, Network);
  if (run.NewFile && MainLink().BuildNetworkFilterMenu) MainLink().BuildNetworkFilterMenu();
}

// The result image: a copy of `from` in a free slot; -1 without one.
int NewTrainingResult(int from) {
  const int result = FindFreeSlot();
  if (result < 1 || !CopyImageSlot(from, result)) return -1;
  return result;
}

// The base step count: the image's pixels divided by `share`, at least 20000.
void SetBaseSteps(int slot, int64_t share) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  TrainingControls.BaseSteps = std::max<int64_t>(int64_t(im.Width) * im.Height / share, 20000);
  TrainingControls.PhaseSteps = TrainingControls.BaseSteps;
}

// A flat image (all pixels alike) would divide by its range of 0: the
// message, and true.
bool AnyFlat(std::initializer_list<int> images) {
  for (const int slot : images) {
    const TImageSlot& im = Store.Image[size_t(slot)];
    if (!(double(im.MaxValue) - double(im.MinValue) > 0)) {
      EngineUi().ShowMessage("Das Bild hat keinen Wertebereich (alle Pixel gleich): es kann nicht trainiert werden.");
      return true;
    }
  }
  return false;
}

// The weight file of a training, chosen in the open dialog (a new name is a
// new network); an existing one is read with `load` (nullopt when it cannot
// be). With `setsFolder` the file's folder becomes the network folder when
// none is set.
struct TChosenFile {
  std::string Name;
  bool Exists = false;
};
using TNetworkLoader = bool (*)(const std::string&, int32_t&, int32_t&, int32_t&);
std::optional<TChosenFile> ChooseNetwork(const char* filter, TNetworkLoader load, bool setsFolder = false) {
  const QString chosen = ChooseTrainingFile(filter);
  if (chosen.isEmpty()) return std::nullopt;
  TChosenFile file{chosen.toStdString(), false};
  if (setsFolder && Settings.NetworkFolder.empty()) {
    std::string folder = ExtractFilePath(file.Name);
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    Settings.NetworkFolder = folder;
  }
  file.Exists = FileExists(file.Name);
  int32_t n = 0, current = 0, top = 0;
  if (file.Exists && load && !load(file.Name, n, current, top)) return std::nullopt;
  return file;
}

}  // namespace

void trainNNbp1Click(QAction* sender) {
  const int active = FindActiveSlot();
  if (active < 1) return;
  // The file is read after the reduced image is chosen.
  const std::optional<TChosenFile> file = ChooseNetwork("Neuronal Network Weights (*.nnw)", nullptr, true);
  if (!file) return;
  TTemporarySlots temporary;
  const int goal = GreyImage(active, temporary);
  if (goal < 1) return;
  const std::optional<int64_t> reduction =
      AskWhole("Neues Netzwerk",
               "Filter zum Verkleinern: Bikubisch(0), Lancszos(1),\nBox(2), eigenes verkleinertes Bild(3)?", "0");
  if (!reduction) return;
  int reduced = -1;
  if (*reduction >= 3) {
    const int chosen = ChooseSecondImage(active, active, "Welches ist das verkleinerte Bild:", false);
    if (chosen < 1) return;
    reduced = GreyImage(chosen, temporary);
  } else {
    reduced = FindFreeSlot();
    if (reduced < 1 || !CopyImageSlot(goal, temporary.Add(reduced))) return;
    const int32_t kind = *reduction == 1 ? 4 : 2;  // Lanczos3, bicubic
    ResampleImage(reduced, kind, 0, 0.5, 0.5, 0, false, false, *reduction == 2);
    UpdateMinMax(reduced);
  }
  if (reduced < 1 || AnyFlat({goal, reduced})) return;
  if (file->Exists) {
    int32_t n = 0, current = 0, top = 0;
    if (!LoadTwoTimesNetworkFile(file->Name, n, current, top)) return;
  } else {
    const auto inputs = AskWhole("Neues Netzwerk", "Anzahl der Eingänge: (37 oder 61)", "37");
    if (!inputs) return;
    const auto layers = AskWhole("Neues Netzwerk", "1 or 2 hidden layer?", "2");
    if (!layers) return;
    const auto n = AskNeurons("Neues Netzwerk", "Neuronenanzahl eingeben: (21-200)", "37");
    if (!n) return;
    const bool wide = *inputs > 37;
    NewNetwork((wide ? 4 : 3) + (*layers == 1 ? 10 : 0), *n, 15, wide ? 60 : 36);
  }
  const int result = NewTrainingResult(goal);
  if (result < 1) return;
  SetBaseSteps(active, 8);
  TTwoTimesTraining kind(reduced, goal, result);
  RunTraining(kind, {active, result, file->Name, !file->Exists, WriteTwoTimesNetworkFile}, SelectionAreas(active, 2));
  if (sender) AddRecentFunction(sender);
}

void UniversellenFiltertrainieren1Click(QAction* sender) {
  const int input = FindActiveSlot();
  if (input < 1) return;
  if (CountOpenWindows() < 2) {
    EngineUi().ShowMessage(
        "Es muss zusätzlich ein gleichartiges Bild vorhanden sein,\nwelches den gewünschten Filtereffekt besitzt.");
    return;
  }
  const int goal = OtherOrChosenImage(input, "Bild als Sollvorlage:");
  if (goal < 1) return;
  const TImageSlot& in = Store.Image[size_t(input)];
  const TImageSlot& g = Store.Image[size_t(goal)];
  if (g.Width < in.Width || g.Height < in.Height) {
    EngineUi().ShowMessage("Das Sollbild muss mindestens so groß wie das Eingangsbild sein.");
    return;
  }
  if (AnyFlat({input, goal})) return;
  const std::optional<TChosenFile> file =
      ChooseNetwork("Universeller Neuronal Network Filter (*.nnf)", LoadNetworkFile);
  if (!file) return;
  if (!file->Exists) {
    const bool colour = in.IsColor && in.PlaneCount >= 3;
    int32_t type = 1, N = 36;
    if (colour && EngineUi().AskYesNoCancel("Sollen Farbmanipulationen erfolgen? (maximal 37 Eingänge möglich)",
                                            false) == TDialogAnswer::Yes) {
      const auto inputs =
          AskWhole("Neues Netzwerk", "Anzahl der Eingänge: (3 oder 37)\n(3=RGB: nur Helligkeit+Farbveränderung)", "37");
      if (!inputs) return;
      type = *inputs < 37 ? 7 : 6;
      N = *inputs < 37 ? 2 : 40;
    } else {
      const auto inputs = AskWhole("Neues Netzwerk", "Anzahl der Eingänge: (37 oder 61)", "37");
      if (!inputs) return;
      if (*inputs > 37) {
        type = 4;
        N = 60;
      }
    }
    if (type == 7) {
      type += 10;
    } else {
      const auto layers = AskWhole("Neues Netzwerk", "1 oder 2 Layer (neuronale Schichten)?", "1");
      if (!layers) return;
      if (*layers == 1) type += 10;
    }
    const auto n = AskNeurons("Neues Netzwerk", "Neuronenanzahl eingeben: (10-200)", N == 2 ? "10" : "37");
    if (!n) return;
    NewNetwork(type, *n, *n, N);
  }
  const int result = NewTrainingResult(input);
  if (result < 1) return;
  SetBaseSteps(input, 3);
  TUniversalTraining kind(input, goal, result);
  RunTraining(kind, {input, result, file->Name, !file->Exists, WriteUniversalNetworkFile}, SelectionAreas(input, 1));
  if (sender) AddRecentFunction(sender);
}

namespace {

// The debayer training's result: a mosaic made from the colour image by the
// mosaic pattern in use, its border pass and the network debayer with the
// network in memory.
bool ComputeDebayerResult(int colour, int result) {
  const int mosaic = FindFreeSlot();
  if (mosaic < 1) return true;
  TTemporarySlots temporary;
  if (!ConvertColorToMono(colour, temporary.Add(mosaic), false)) return true;
  const TImageSlot& c = Store.Image[size_t(colour)];
  TImageSlot& m = Store.Image[size_t(mosaic)];
  TImageSlot& r = Store.Image[size_t(result)];
  for (int32_t y = 0; y < c.Height; ++y)
    for (int32_t x = 0; x < c.Width; ++x) {
      const int plane = std::clamp<int32_t>(MosaicCellColor(MosaicPattern, x, y), 0, 2) + 1;
      m.At(1, x, y) = c.At(plane, x, y);
    }
  UpdateMinMax(mosaic);
  for (int p = 1; p <= 3; ++p) r.Planes[size_t(p)] = m.Planes[1];
  InterpolateMosaicBorder(result, MosaicBorderMargin(MethodNetwork));
  DebayerNNLoaded(mosaic, result);
  return AbortRequested == 0;
}

}  // namespace

void DebayerFiltertrainieren1Click(QAction* sender) {
  const int colour = FindActiveSlot();
  if (colour < 1) return;
  const TImageSlot& im = Store.Image[size_t(colour)];
  if (!im.IsColor || im.PlaneCount < 3) {
    EngineUi().ShowMessage("Das Bild muss in Farbe sein.");
    return;
  }
  if (AnyFlat({colour})) return;
  const std::optional<TChosenFile> file = ChooseNetwork("Debayer NN-Filter (*.nnb)", LoadNetworkFile);
  if (!file) return;
  if (!file->Exists) {
    const auto n = AskNeurons("Neues Netzwerk", "Neuronenanzahl eingeben: (21-200)", "37");
    if (!n) return;
    NewNetwork(2, *n, 15, 36);
  }
  const int result = NewTrainingResult(colour);
  if (result < 1) return;
  SetBaseSteps(colour, 3);
  TDebayerTraining kind(colour, result, [colour, result](const std::function<bool(int)>&) {
    return ComputeDebayerResult(colour, result);
  });
  RunTraining(kind, {colour, result, file->Name, !file->Exists, WriteDebayerNetworkFile}, SelectionAreas(colour, 1));
  if (sender) AddRecentFunction(sender);
}

void RegisterTrainingCommands() {
  RegisterMenuCommand("trainNNbp1", trainNNbp1Click);
  RegisterMenuCommand("UniversellenFiltertrainieren1", UniversellenFiltertrainieren1Click);
  RegisterMenuCommand("DebayerFiltertrainieren1", DebayerFiltertrainieren1Click);
}

}  // namespace astrelon
