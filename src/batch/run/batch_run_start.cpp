#include "batch/run/batch_run_start.h"

#include <filesystem>
#include <new>
#include <optional>

#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_captions.h"
#include "batch/steps/batch_operation_table.h"
#include "batch/steps/batch_step_list.h"
#include "batch/steps/batch_window_state.h"
#include "common/engine_ui.h"
#include "common/number_text.h"
#include "common/paths.h"
#include "common/text_codec.h"
#include "core/batch_series.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "pixelops/colour/color_correction_file.h"
#include "pixelops/geometry/field_distortion_file.h"
#include "pixelops/mosaic/mosaic_settings_file.h"
#include "registration/combination/batch_combination_inputs.h"
#include "store/image_loader.h"
#include "store/image_store.h"

namespace astrelon {

TBatchInputHooks BatchInputHooks;

namespace {

namespace fs = std::filesystem;

// The store's 49 slots minus the three a run needs at least.
constexpr int MaxOpenWindowsForRun = 46;

bool FileExists(const std::string& name) {
  std::error_code ec;
  return !name.empty() && fs::is_regular_file(fs::path(name), ec);
}

bool FolderExists(const std::string& name) {
  std::error_code ec;
  return !name.empty() && fs::is_directory(fs::path(name), ec);
}

// A folder path with exactly one trailing "/".
std::string WithSlash(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

// The first input the run names: the start file, or the first list entry
// when the start value is empty and the input list is used.
std::string FirstInput() {
  const std::string& start = BatchSteps.Records[1].Values[0];
  if (start.empty() && BatchRun.InputList && !BatchWindow.DropList.empty()) return BatchWindow.DropList.front();
  return start;
}

// A comet field as a number: empty is 0; nullopt (with the message shown) for
// any other text that is not a number.
std::optional<double> CometField(const std::string& text) {
  if (text.find_first_not_of(" \t") == std::string::npos) return 0.0;
  if (const auto v = TryStrToFloatDot(text)) return *v;
  EngineUi().ShowMessage("'" + text + "'" + BatchCaption(TBatchCaption::NotANumber));
  return std::nullopt;
}

// What the steps ask of the run, gathered before anything is changed.
struct TStepScan {
  TBatchRunSetup Setup;
  bool CrossCorrelation = false;  // a fit step switches to cross-correlation
  bool NormalPage = false;
  double CometX = 0, CometY = 0;
  std::string DiscThreshold;
};

// Checks every step; false with the message shown.
bool ScanSteps(TStepScan& scan) {
  const TBatchStepList& list = BatchSteps;
  for (int32_t i = 2; i <= list.StepCount; ++i) {
    const TBatchOp op = list.Ops[size_t(i)];
    const bmenuitem& r = list.Records[size_t(i)];
    const std::string& file = r.Values[0];
    switch (op) {
      case 10:
        scan.Setup.HasAddStep = true;
        scan.Setup.MarkCount = std::max(0, r.MarksOrInterpolation);
        switch (BatchWindow.Page) {
          case TAddTargetPage::NormalComet: {
            const auto x = CometField(r.Values[0]);
            if (!x) return false;
            const auto y = CometField(r.Values[1]);
            if (!y) return false;
            scan.NormalPage = true;
            scan.CometX = *x;
            scan.CometY = *y;
            scan.Setup.ByTimestamp = BatchWindow.TimestampTicked;
            break;
          }
          case TAddTargetPage::PlanetMoon:
            scan.Setup.CentroidMode = BatchWindow.EdgeDetection;
            if (BatchWindow.EdgeDetection) scan.DiscThreshold = BatchWindow.EdgeValue;
            break;
          case TAddTargetPage::BayerSpecial:
            if (!ReadMosaicSettings(BatchRun.MosaicFileName)) {
              EngineUi().ShowMessage(CouldNotOpenMessage(BatchRun.MosaicFileName));
              return false;
            }
            scan.Setup.BayerSpecial = true;
            break;
        }
        break;
      case 14:
        scan.Setup.HasFitStep = true;
        scan.Setup.MarkCount = std::max(0, r.MarksOrInterpolation);
        scan.CrossCorrelation = !r.OptionCaption.empty();
        break;
      case 13:
        if (!ReadMosaicSettings(file)) {
          EngineUi().ShowMessage(CouldNotOpenMessage(file));
          return false;
        }
        break;
      case 24: {
        std::string why;
        const TColorCorrectionRead read = ReadColorCorrection(file, ColorCorrection, &why);
        if (read != TColorCorrectionRead::Read) {
          EngineUi().ShowMessage(CouldNotOpenMessage(file) + (why.empty() ? "" : "\r\n" + why));
          return false;
        }
        break;
      }
      case 25:
        if (!LoadDistortionSettings(file)) {
          EngineUi().ShowMessage(CouldNotOpenMessage(file));
          return false;
        }
        break;
      case 11: case 12: case 20: case 32: case 34: case 41: case 42:
        if (!FileExists(file)) {
          EngineUi().ShowMessage(CouldNotOpenMessage(file));
          return false;
        }
        break;
      default: break;
    }
  }
  return true;
}

// Ends a start that was refused after the preparation: nothing runs and the
// shift mode the preparation switched goes back.
bool RefuseStart() {
  BatchRun.Running = 0;
  BatchRun.Abort = 0;
  AbortRequested = 0;
  Settings.ShiftMode = BatchRun.SavedShiftMode;
  MultiMarkMode = 0;
  return false;
}

// Loads an existing target file into a free slot as the run's target; as the
// reference of a fit-to-target batch it is also the first work image, and the
// run starts at the fit step. False with the message shown.
bool LoadExistingTarget(const std::string& name, bool reference) {
  const int slot = FindFreeSlot();
  bool loaded = false;
  try {
    loaded = slot > 0 && LoadImageFile(slot, name);
  } catch (const std::bad_alloc&) {
    loaded = false;
  }
  if (!loaded) {
    EngineUi().ShowMessage(CouldNotOpenMessage(name));
    return false;
  }
  BatchRun.TargetSlot = slot;
  BatchRun.TargetFileName = name;
  BatchRun.NewTarget = false;
  if (reference) {
    BatchRun.WorkSlot = slot;
    BatchRun.ExistingTarget = true;
    for (int32_t i = 2; i <= BatchSteps.StepCount; ++i)
      if (BatchSteps.Ops[size_t(i)] == 14) {
        BatchRun.CurrentStep = i;
        break;
      }
  }
  return true;
}

}  // namespace

std::string BatchTargetFolder(const std::string& startFolder, const std::string& targetFile) {
  const std::string folder = ExtractFilePath(targetFile);
  if (folder.empty()) return WithSlash(startFolder);
  fs::path path(folder);
  if (!path.is_absolute()) path = fs::path(startFolder) / path;
  return WithSlash(path.lexically_normal().generic_string());
}

bool PrepareBatchRun() {
  TBatchStepList& list = BatchSteps;
  EnsureStepCapacity(list, 1);
  // Nothing follows an add to the target.
  for (int32_t i = 2; i <= list.StepCount; ++i) {
    if (list.Ops[size_t(i)] != 10) continue;
    for (int32_t k = i + 1; k <= MaxBatchSteps; ++k) {
      list.Ops[size_t(k)] = -1;
      if (size_t(k) < list.Records.size()) list.Records[size_t(k)] = BatchTableRow(-1);
    }
    list.StepCount = i;
    break;
  }
  if (list.StepCount < 2 || CountOpenWindows() >= MaxOpenWindowsForRun) return false;

  TStepScan scan;
  if (!ScanSteps(scan)) return false;

  // The run state for the first input.
  BatchRun.SavedShiftMode = Settings.ShiftMode;
  if (scan.CrossCorrelation) Settings.ShiftMode = 1;
  ResetBatchRunState(BatchRun, scan.Setup);
  AbortRequested = 0;
  std::error_code ec;
  const std::string first = FirstInput();
  const fs::path absolute = first.empty() ? fs::path() : fs::absolute(fs::path(first), ec);
  BatchRun.StartFolder = WithSlash(ExtractFilePath(absolute.generic_string()));
  BatchRun.TargetFolder = BatchTargetFolder(BatchRun.StartFolder, list.Records[1].Values[1]);
  // The comet motion of the page "Normal/Komet"; none on the other pages. The
  // computed values stay as they are, for the batch file.
  BatchRun.CometRunX = scan.NormalPage ? scan.CometX : 0.0;
  BatchRun.CometRunY = scan.NormalPage ? scan.CometY : 0.0;
  BatchDiscThreshold = scan.DiscThreshold;
  BatchFittedTransform = TFittedTransform{};
  // With a shift list the first input is its first name unless the start file is listed.
  BatchRun.InputFileName = first;
  if (BatchRun.UseShiftList && !SeriesFileList.empty()) {
    const std::string upper = UpperCase(first);
    bool listed = false;
    for (const std::string& name : SeriesFileList) listed = listed || UpperCase(name) == upper;
    if (!listed) BatchRun.InputFileName = SeriesFileList.front();
  }
  BatchRun.Running = 1;
  return true;
}

bool CheckBatchStart() {
  bmenuitem& file = BatchSteps.Records[1];
  if (BatchRun.InputList) {
    if (BatchInputHooks.BuildInputList) BatchInputHooks.BuildInputList();
  } else if (!FileExists(file.Values[0])) {
    EngineUi().ShowMessage(BatchCaption(TBatchCaption::StartNotFound));
    return false;
  }
  if (!PrepareBatchRun()) return false;

  const std::string& folder = BatchRun.TargetFolder;
  if (!FolderExists(folder)) {
    const std::string question = BatchCaption(TBatchCaption::TargetFolder) + "\r\n" + folder + "\r\n" +
                                 BatchCaption(TBatchCaption::CreateFolder);
    if (EngineUi().AskYesNoCancel(question, false) != TDialogAnswer::Yes) return RefuseStart();
    std::error_code ec;
    fs::create_directories(fs::path(folder), ec);
    if (!FolderExists(folder)) {
      EngineUi().ShowMessage(BatchCaption(TBatchCaption::CreateFolderFailed));
      return RefuseStart();
    }
  }

  BatchRun.TargetName = ExtractFileName(file.Values[1]);
  BatchRun.TargetExt = Utf8Substr(UpperCase(ExtractFileExt(BatchRun.TargetName)), 0, 4);
  MultiMarkMode = BatchRun.MarkCount > 2 ? 1 : 0;

  const std::string target = folder + BatchRun.TargetName;
  const bool targetExists = !BatchRun.TargetName.empty() && FileExists(target);
  if (BatchRun.HasAddStep) {
    if (targetExists) {
      switch (EngineUi().AskYesNoCancel(BatchCaption(TBatchCaption::TargetExists), true)) {
        case TDialogAnswer::Yes:
          if (!LoadExistingTarget(target, false)) return RefuseStart();
          break;
        case TDialogAnswer::No: break;
        default: return RefuseStart();
      }
    }
  } else {
    BatchRun.CombineMode = 0;
    if (targetExists && BatchRun.HasFitStep && !LoadExistingTarget(target, true)) return RefuseStart();
  }

  if (BatchWindow.AllFilesInFolder && !BatchRun.InputList && BatchInputHooks.BuildFolderList)
    BatchInputHooks.BuildFolderList();
  return true;
}

bool CheckCometComputation() {
  if (!FileExists(BatchSteps.Records[1].Values[0])) {
    EngineUi().ShowMessage(BatchCaption(TBatchCaption::ChooseStartFirst));
    return false;
  }
  if (!PrepareBatchRun()) return false;
  EngineUi().ShowMessage(BatchCaption(TBatchCaption::TwoImageRun));
  BatchRun.CometCompute = true;
  BatchRun.CometSeriesA = 40;
  BatchRun.CometSeriesB = 40;
  return true;
}

}  // namespace astrelon
