#pragma once
// The batch window opened through its menu item, with the engine's questions
// answered by a script and its file dialogs answered by the test.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>
#include <deque>

#include "../batch/batch_fixture.h"
#include "batch/run/batch_tick.h"
#include "batch/ui/batch_commands.h"
#include "batch/ui/batch_status_window.h"
#include "batch/ui/batch_window.h"
#include "batch/ui/star_check_prompt.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "filters/ui/radio_group.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "scripted_ui.h"
#include "shell/ui/controls/dd_button.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "store/image_store.h"

namespace astrelon::test {

class BatchWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    Store.Reset();
    ResetBatchModule();
    SetEngineUi(&ui);
    mosaic_ = MosaicSettings;
    shiftMode_ = Settings.ShiftMode;
    RegisterBatchCommands();
    ASSERT_TRUE(RunMenuCommand("Batchprocessing1"));
    form = BatchWindowForm();
    ASSERT_NE(form, nullptr);
    form->ChooseFiles = [this](TBatchBrowse kind, const QString& start) {
      Asked.push_back(kind);
      Starts.push_back(start);
      if (Chosen.empty()) return QStringList();
      const QStringList files = Chosen.front();
      Chosen.pop_front();
      return files;
    };
    QApplication::processEvents();
  }
  void TearDown() override {
    BatchTick = EndBatchRunAtOnce;
    if (form) form->Timer1->stop();
    if (BatchStatusWindowExists()) BatchStatusWindow().close();
    if (StarCheckPromptExists()) StarCheckPrompt().close();
    ReleaseDialogForm("Form7");
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    SetEngineUi(nullptr);
    BatchRun.Running = 0;
    BatchRun.Abort = 0;
    AbortRequested = 0;
    MultiMarkMode = 0;
    BatchStartPending = false;
    MosaicSettings = mosaic_;
    Settings.ShiftMode = shiftMode_;
    ResetBatchModule();
    Store.Reset();
  }

  // The step shown in the editor and its record.
  static bmenuitem& Shown() { return BatchSteps.Records[size_t(BatchSteps.EditorStep)]; }
  // The operation item of PopupMenu2 with this tag.
  QAction* MenuItem(int op) const {
    for (QAction* a : form->PopupMenu2->findChildren<QAction*>())
      if (a->data().isValid() && a->data().toInt() == op) return a;
    return nullptr;
  }
  // Moves to the next step and gives it an operation.
  void NextStep(int op) {
    form->SButton2->click();
    ASSERT_NE(MenuItem(op), nullptr);
    MenuItem(op)->trigger();
  }
  static void ClickItem(TRadioGroup* group, int index) {
    group->findChildren<QRadioButton*>().at(index)->click();
  }

  TScriptedUi ui;
  TempDir dir;
  TForm7* form = nullptr;
  std::deque<QStringList> Chosen;
  std::vector<TBatchBrowse> Asked;
  std::vector<QString> Starts;

private:
  TMosaicSettings mosaic_;
  int shiftMode_ = 0;
};

}  // namespace astrelon::test
