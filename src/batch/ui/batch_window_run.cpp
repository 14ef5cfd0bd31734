// The batch window's run: comet timing, the start and comet buttons, the
// status window at the start, and the timer that rewrites the text while no
// run goes and drives the run while one does.
#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>
#include <exception>
#include <string>

#include "batch/run/batch_engine.h"
#include "batch/run/batch_run_start.h"
#include "batch/run/batch_run_state.h"
#include "batch/run/batch_tick.h"
#include "batch/steps/batch_captions.h"
#include "batch/steps/batch_step_list.h"
#include "batch/steps/batch_text.h"
#include "batch/steps/batch_window_state.h"
#include "batch/ui/batch_status_window.h"
#include "batch/ui/batch_window.h"
#include "batch/ui/star_check_prompt.h"
#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/windows/window_creation.h"
#include "store/image_store.h"
#include "store/observation_time.h"

namespace astrelon {

namespace {

QString Fixed8(double v) { return QString::fromStdString(FormatFixed(v, 8)); }

// An exception never leaves a handler: it is shown and the run waits.
template <typename F>
bool Guarded(F&& f) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    EngineUi().ShowMessage("Nicht genug Speicher");
  } catch (const std::exception& e) {
    EngineUi().ShowMessage(std::string("Fehler: ") + e.what());
  }
  return false;
}

}  // namespace

void TForm7::ShowCometValues() {
  const bool perMinute = BatchRun.ByTimestamp;
  Edit5->setText(Fixed8(perMinute ? BatchRun.CometPerMinuteX : BatchRun.CometPerFrameX));
  Edit6->setText(Fixed8(perMinute ? BatchRun.CometPerMinuteY : BatchRun.CometPerFrameY));
  show();
  raise();
}

void TForm7::CheckBox5Click() {
  if (CheckBox5->isChecked()) {
    if (BatchRun.CometValuesSet) {
      Edit5->setText(Fixed8(BatchRun.CometPerMinuteX));
      Edit6->setText(Fixed8(BatchRun.CometPerMinuteY));
    } else {
      TDateTime time = UnknownDateTime;
      int32_t quality = 0;
      GetObservationTime(BatchSteps.Records[1].Values[0], time, quality);
      if (quality == 1) {
        if (EngineUi().AskYesNoCancel(BatchCaption(TBatchCaption::OnlyFileTime), false) != TDialogAnswer::Yes)
          CheckBox5->setChecked(false);
      } else if (quality < 1) {
        EngineUi().ShowMessage(BatchCaption(TBatchCaption::NoObservationTime));
        CheckBox5->setChecked(false);
      }
    }
  } else if (BatchRun.CometValuesSet) {
    Edit5->setText(Fixed8(BatchRun.CometPerFrameX));
    Edit6->setText(Fixed8(BatchRun.CometPerFrameY));
  }
  BatchWindow.TimestampTicked = CheckBox5->isChecked();
  BatchRun.ByTimestamp = BatchWindow.TimestampTicked;
  ShowCometCaption();
  Debounce();
}

void TForm7::Button3Click() {
  if (BatchRun.Running) return;
  const bool start = Guarded([] { return CheckBatchStart(); });
  SchrittAnzeigen();  // the preparation may have ended the batch at its add step
  BatchTextSchreiben();
  ShowBatchText();
  if (start) StartBatchRun();
}

void TForm7::Button5Click() {
  if (BatchRun.Running) return;
  const bool start = Guarded([] { return CheckCometComputation(); });
  SchrittAnzeigen();
  if (start) StartBatchRun();
}

void TForm7::StartBatchRun() {
  BatchStatusWindow().StartRun(true);
  BatchRun.StepSlot.fill(-1);
  BatchRun.CombinedCount = 1;
  BatchStartPending = true;
  if (StarCheckPromptExists()) StarCheckPrompt().PrepareForRun(BatchRun.CometCompute);
  // An existing target loaded by the start.
  if (SlotInUse(BatchRun.TargetSlot) && !Store.HasWindow[size_t(BatchRun.TargetSlot)])
    ShowImageWindow(BatchRun.TargetSlot);
  BeginBatchRun();
  CallUpdateMenuItems();
  // The engine takes over at the first tick; each unit of work starts as soon
  // as the event loop is idle.
  Timer1->setInterval(0);
  Timer1->start();
}

void TForm7::Timer1Timer() {
  Timer1->stop();
  if (!BatchRun.Running) {
    BatchTextSchreiben();
    ShowBatchText();
    return;
  }
  const bool again = Guarded([] { return BatchTick(); });
  // Windows of later images open where the user put the first ones.
  if (BatchRun.FilesDone >= 1) BatchStartPending = false;
  if (!BatchRun.Running) {
    Timer1->setInterval(100);
    BatchStartPending = false;
    if (BatchStatusWindowExists()) {
      BatchStatusWindow().EndRun();
      // A finished comet computation leaves its motion on this window alone.
      if (BatchRun.CometCompute && !BatchRun.EndOfRun) BatchStatusWindow().hide();
    }
    CallUpdateMenuItems();
    return;
  }
  if (again && !(BatchStatusWindowExists() && BatchStatusWindow().Paused())) Timer1->start();
}

}  // namespace astrelon
