#pragma once
// A main window with its MDI area and images in windows, for the header editor,
// the settings dialog and the blink window.
#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "common/engine_ui.h"
#include "core/run_state.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "platform/processor_features.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/image_window_state.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/planes/interpolation_kernels.h"
#include "test_support.h"

namespace astrelon::test {

class ToolWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    Store.Reset();
    ResetImageWindowState();
    savedSettings_ = Settings;
    savedOptions_ = Options;
    savedSimd_ = {MmxEnabled, SseEnabled, Sse2Enabled};
    savedWorkers_ = UseWorkerThreads;
    Settings.ZoomEntry = 5;  // 100 %
    OperationRunning = 0;
    main_ = std::make_unique<QMainWindow>();
    area_ = new QMdiArea;
    main_->setCentralWidget(area_);
    main_->resize(1000, 760);
    AttachMainWindow(main_.get(), area_);
    main_->show();
    SetEngineUi(&ui_);
    QApplication::processEvents();
  }
  void TearDown() override {
    SetEngineUi(nullptr);
    OperationRunning = 0;
    area_->closeAllSubWindows();
    QApplication::processEvents();
    main_.reset();
    QApplication::processEvents();
    Settings = savedSettings_;
    Options = savedOptions_;
    MmxEnabled = savedSimd_[0], SseEnabled = savedSimd_[1], Sse2Enabled = savedSimd_[2];
    UseWorkerThreads = savedWorkers_;
    SetToolMode(Settings.InterpolationKind);
    Store.Reset();
  }

  // A w x h grey image rising from 0 to the right, shown in its window and made active.
  TMDIChild* Open(int slot, int w = 64, int h = 48) {
    std::vector<float> plane(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) plane[size_t(y) * size_t(w) + size_t(x)] = float(x * 255 / (w - 1));
    MakeImage(slot, w, h, {plane}, "/data/bild_" + std::to_string(slot) + ".fit");
    ResetDisplayRange(slot, 255);
    ComputeHistogram(slot, false, false);
    ShowImageWindow(slot);
    TMDIChild* window = ImageWindow(slot);
    Activate(slot);
    return window;
  }
  void Activate(int slot) {
    area_->setActiveSubWindow(ImageWindow(slot));
    QApplication::processEvents();
  }

  std::unique_ptr<QMainWindow> main_;
  QMdiArea* area_ = nullptr;
  TEngineUi ui_;
  ConfigHome home_;
  TSettingsVars savedSettings_;
  TProgramOptions savedOptions_;
  std::array<bool, 3> savedSimd_{};
  uint8_t savedWorkers_ = 0;
};

}  // namespace astrelon::test
