#include "app/startup.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <thread>

#include "common/paths.h"
#include "core/batch_state.h"
#include "core/funktion_defs.h"
#include "core/language.h"
#include "core/run_state.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "kernels/network/neural_tables.h"
#include "platform/processor_features.h"
#include "platform/simd_constants.h"
#include "registration/stacking/master_file_names.h"
#include "shell/display/user_palette.h"
#include "store/display/colour_tables.h"
#include "store/image_store.h"
#include "store/planes/interpolation_kernels.h"
#include "store/planes/value_statistics.h"
#include "store/raw/own_raw.h"

namespace astrelon {

std::vector<std::string> LanguageSearchFolders;

namespace {

// Runs one start-up step; any failure inside it is swallowed.
template <class F>
void Guarded(F&& step) {
  try {
    step();
  } catch (...) {
  }
}

}  // namespace

void ResetProgramState() {
  ResetSettings();
  FunktionDefTable = DefaultFunktionDefTable();
  CloseRequested = 0;
  Closing = 0;
  FirstShowPending = 0;
  CommandLineOpened = 0;
  for (int s = 0; s <= MaxImageSlots; ++s) {
    Store.InUse[size_t(s)] = 0;
    Store.HasWindow[size_t(s)] = 0;
  }
  Store.Image[0].IsColor = 0;
  ComputationDone = 1;
  OperationRunning = 0;
  AbortRequested = 0;
  FilterAbortRequested = 0;
  BatchAbort = 0;
  UnloadLanguageFile();
}

void ReadSettingsAtStartup() {
  Guarded([] { ReadSettings(); });
  Guarded([] {
    const int kind = Settings.InterpolationKind;
    Options.OpInterpolation = uint8_t(kind == 4 ? 3 : std::clamp(kind, 0, 3));
  });
  Guarded([] {
    Settings.OpenDialogFileName.clear();
    for (int k = 1; k <= RecentFileCount; ++k) {
      const std::string& name = Settings.RecentFiles[size_t(k)];
      if (name.empty()) continue;
      std::error_code ec;
      const auto folder = std::filesystem::path(name).parent_path();
      if (!folder.empty() && std::filesystem::is_directory(folder, ec)) {
        Settings.OpenDialogFileName = name;
        break;
      }
    }
  });
  Guarded([] { LoadRawDefinitions(); });
}

void BuildStartupTables() {
  Guarded([] { InitSimdConstants(); });
  Guarded([] { DisplayColourTables(); });
  Guarded([] { KernelTables(); });
  Guarded([] { SetToolMode(std::clamp(Settings.InterpolationKind, 0, 4)); });
  Guarded([] { BuildMasterFileNames(); });
  Guarded([] { Log10Table(1); });  // the logarithm table is filled on its first use
  Guarded([] { BuildTanhTable(); });
}

void ApplyHistogramWindowDefaults() {
  auto& S = Settings;
  // Summed in 64 bits: the stored bounds may be any 32-bit numbers.
  auto place = [](int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
  if (S.HistHeight < 0) S.HistHeight = 115;
  if (S.HistWidth < 0) S.HistWidth = 345;
  HistogramPlaceDefaulted = S.HistLeft < 0 || S.HistTop < 0;
  if (S.HistLeft < 0) S.HistLeft = place(int64_t(S.MainLeft) + S.MainWidth - S.HistWidth - 6);
  if (S.HistTop < 0) S.HistTop = place(int64_t(S.MainTop) + S.MainHeight - S.HistHeight - 25);
}

void LoadLanguageAtStartup() {
  Guarded([] {
    const std::vector<std::string> folders =
        LanguageSearchFolders.empty() ? ProgramDataFolders() : LanguageSearchFolders;
    for (const std::string& folder : folders) {
      const std::string name = ListLanguageFiles(folder);
      if (name.empty()) continue;
      // The default master names follow the translation.
      if (LoadLanguageFileFrom(name)) BuildMasterFileNames();
      return;
    }
  });
}

void DetectProcessorAtStartup() {
  Guarded([] {
    DetectCpuFeatures();
    ApplySimdSetting();
  });
  FirstShowPending = 1;
  Guarded([] { GetProcessorCount(); });
  if (ProcessorCount < 1) ProcessorCount = 1;
  UseWorkerThreads = (ProcessorCount > 1 && Options.Multicore) ? 1 : 0;
  if (Settings.DemosaicMethod == 5) Settings.DemosaicMethod = -1;
}

void LoadPaletteAtStartup() {
  Guarded([] {
    if (!Settings.PaletteFile.empty()) LoadOwnPaletteFile(Settings.PaletteFile);
  });
}

void ApplyStoredZoom() {
  Settings.ZoomEntry = 0;
  const int n = Settings.StoredZoom;
  if (n > -4 && n < 9) Settings.ZoomEntry = ZoomEntryFromNumber(n);
}

void RunEngineStartup() {
  ResetProgramState();
  ReadSettingsAtStartup();
  BuildStartupTables();
  ApplyHistogramWindowDefaults();
  LoadLanguageAtStartup();
  DetectProcessorAtStartup();
  LoadPaletteAtStartup();
  ApplyStoredZoom();
}

bool OperationStillRunning() { return OperationRunning == 1 && ComputationDone == 0; }

void RaiseAbortFlags() {
  AbortRequested = 1;
  FilterAbortRequested = 1;
  BatchAbort = 1;
}

bool WaitForRunningOperation(const std::function<void()>& processMessages, int timeoutMs, int stepMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (ComputationDone == 0) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    if (processMessages) processMessages();
  }
  return true;
}

}  // namespace astrelon
