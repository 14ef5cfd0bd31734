#pragma once
// The engine run from the batch window with a main window and image windows:
// the engine's questions answered by a script, and a hook for every time it
// lets events run.
#include <QMainWindow>
#include <QMdiArea>
#include <QTest>
#include <functional>
#include <memory>

#include "batch/run/batch_engine.h"
#include "batch/run/batch_run_view.h"
#include "batch_window_fixture.h"
#include "shell/ui/main/main_window_link.h"
#include "store/fits/fits_writer.h"

namespace astrelon::test {

// Scripted answers, and a hook for every time the engine lets events run.
class PumpUi : public TScriptedUi {
public:
  void ProcessMessages() override {
    QApplication::processEvents();
    if (OnPump) OnPump();
  }
  std::function<void()> OnPump;
};

class BatchEngineWindowTest : public BatchWindowTest {
protected:
  void SetUp() override {
    BatchWindowTest::SetUp();
    SetEngineUi(&pump);
    saved_ = Settings;
    Settings.FitsSaveFormat = -32;
    Settings.FitsExtension = ".fit";
    main_ = std::make_unique<QMainWindow>();
    area_ = new QMdiArea;
    main_->setCentralWidget(area_);
    main_->resize(900, 700);
    AttachMainWindow(main_.get(), area_);
    main_->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    if (form) form->Timer1->stop();
    BatchRun.Running = 0;
    area_->closeAllSubWindows();
    QApplication::processEvents();
    main_.reset();
    QApplication::processEvents();
    Settings = saved_;
    BatchWindowTest::TearDown();
  }
  std::string Flat(const std::string& name, int w, int h, float v) {
    const std::string path = dir.file(name);
    MakeImage(49, w, h, {std::vector<float>(size_t(w) * h, v)}, path);
    EXPECT_TRUE(SaveFits(49, -32, path, false, false));
    FreeSlot(49);
    return path;
  }
  // Waits until the run has ended (at most `seconds`).
  void WaitForEnd(int seconds = 4) {
    for (int i = 0; i < seconds * 100 && BatchRun.Running; ++i) QTest::qWait(10);
  }

  PumpUi pump;
  std::unique_ptr<QMainWindow> main_;
  QMdiArea* area_ = nullptr;

private:
  TSettingsVars saved_;
};

}  // namespace astrelon::test
