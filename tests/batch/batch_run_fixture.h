#pragma once
// Whole batch runs without windows: the engine's questions answered by a
// script, the status window's lines recorded, input files written as FITS
// into a temporary folder, and a run driven tick by tick as the timer would.
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "batch/exec/enlargement_hook.h"
#include "batch/inputs/series_file_list.h"
#include "batch/run/batch_engine.h"
#include "batch/run/batch_engine_state.h"
#include "batch/run/batch_run_start.h"
#include "batch/run/batch_run_view.h"
#include "batch/run/batch_tick.h"
#include "batch/steps/batch_operation_table.h"
#include "batch_fixture.h"
#include "core/batch_series.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "registration/combination/batch_combination_inputs.h"
#include "scripted_ui.h"
#include "store/fits/fits_writer.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon::test {

// The status window's lines as the engine writes them.
class RecordingLabels : public TBatchStatusLabels {
public:
  void SetFunctionLabel(const std::string& text) override { Label2 = text; }
  void SetProgressLabel(const std::string& text) override { Label4 = text; }
  void SetFileLabel(const std::string& text) override { Label1 = text; }
  void SetCountLabel(const std::string& text) override {
    Label3 = text;
    Counts.push_back(text);
  }
  std::string Label1, Label2, Label3, Label4;
  std::vector<std::string> Counts;
};

// Scripted answers, and a hook for every time the engine lets events run.
class RunUi : public TScriptedUi {
public:
  void ProcessMessages() override {
    ++Pumps;
    if (OnPump) OnPump();
  }
  std::function<void()> OnPump;
  int Pumps = 0;
};

// What the status window's "&Abbruch" does to a run.
inline void PressAbort() {
  BatchAbort = 1;
  AbortRequested = 1;
  BatchRun.EndOfRun = true;
  BatchRun.CurrentStep = BatchSteps.StepCount + 1;
}

class BatchRunTest : public BatchTest {
protected:
  void SetUp() override {
    BatchTest::SetUp();
    SetEngineUi(&ui);
    BatchStatusLabels = &labels;
    saved_ = Settings;
    Settings.FitsSaveFormat = -32;
    Settings.FitsExtension = ".fit";
    Settings.ShiftMode = 0;
    InstallBatchEngine();
    ResetRun();
  }
  void TearDown() override {
    ResetRun();
    BatchTick = EndBatchRunAtOnce;
    BatchInputHooks = {};
    BatchRunView = {};
    BatchEnlargeX2 = savedEnlarge_;
    BatchStatusLabels = nullptr;
    SetEngineUi(nullptr);
    Settings = saved_;
    BatchTest::TearDown();
  }
  static void ResetRun() {
    BatchRun.Running = 0;
    BatchRun.Abort = 0;
    AbortRequested = 0;
    FilterAbortRequested = 0;
    MultiMarkMode = 0;
    BatchRun.EndOfRun = false;
    BatchRun.UseShiftList = false;
    BatchRun.TargetSlot = BatchRun.WorkSlot = -1;
    BatchRun.CentroidMode = 0;
    BatchRun.WeightedAdd = 0;
    BatchRun.AviInput = 0;
    ResetBatchEngineState();
    ClearRunFiles();
    SeriesFiles = TSeriesFileList();
    BatchCoverageWeights.clear();
  }

  // Appends steps of these operations after the file step.
  static void Steps(std::initializer_list<TBatchOp> ops) { AppendSteps(ops); }
  static bmenuitem& Step(int n) { return BatchSteps.Records[size_t(n)]; }

  // A FITS file of one or three planes in the folder (slot 49 serves to write it).
  std::string WriteImage(const std::string& name, int w, int h, const std::vector<std::vector<float>>& planes,
                         double temperature = -999) {
    const std::string path = dir.file(name);
    MakeImage(49, w, h, planes, path);
    if (planes.size() == 3) SetHeader3Axis(49);
    if (temperature > -300) SetHeaderKeyword(49, "CCD-TEMP", "", temperature, true, false, false);
    EXPECT_TRUE(SaveFits(49, -32, path, false, false));
    FreeSlot(49);
    Store.FileName[49].clear();
    return path;
  }
  std::string WriteFlat(const std::string& name, int w, int h, float value, double temperature = -999) {
    return WriteImage(name, w, h, {std::vector<float>(size_t(w) * h, value)}, temperature);
  }

  // The file step: start file and target.
  static void Files(const std::string& start, const std::string& target) {
    Step(1).Values[0] = start;
    Step(1).Values[1] = target;
  }

  // Starts the run as the start button does (the batch text written first).
  bool Start() {
    BatchTextSchreiben();
    if (!CheckBatchStart()) return false;
    BeginBatchRun();
    return true;
  }
  // Ticks while the run goes and the timer would run again; the ticks made.
  int Run(int maxTicks = 1000000) {
    int ticks = 0;
    while (BatchRun.Running && ticks < maxTicks) {
      ++ticks;
      if (!BatchEngineTick()) break;
    }
    return ticks;
  }

  static bool Exists(const std::string& path) { return std::filesystem::exists(path); }

  RunUi ui;
  RecordingLabels labels;
  TempDir dir;

private:
  TSettingsVars saved_;
  TBatchEnlargement savedEnlarge_ = BatchEnlargeX2;
};

}  // namespace astrelon::test
