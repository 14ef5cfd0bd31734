#include "batch/ui/star_check_prompt.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPointer>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_captions.h"
#include "batch/ui/batch_status_window.h"
#include "common/engine_ui.h"
#include "core/batch_state.h"
#include "shell/ui/windows/window_creation.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

QPointer<TForm9>& Instance() {
  static QPointer<TForm9> form;
  return form;
}

QString Caption(TBatchCaption c) { return QString::fromStdString(BatchCaption(c)); }

bool AskYes(TBatchCaption question) {
  return EngineUi().AskYesNoCancel(BatchCaption(question), false) == TDialogAnswer::Yes;
}

}  // namespace

TForm9::TForm9() : QWidget(nullptr, Qt::Window) {
  setObjectName("Form9");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(Caption(TBatchCaption::PromptTitle));
  auto* panel = new QWidget(this);
  panel->setObjectName("Panel1");
  auto* rows = new QVBoxLayout(panel);
  Label1 = new QLabel(panel);
  Label1->setObjectName("Label1");
  Label1->setWordWrap(true);
  rows->addWidget(Label1);
  auto button = [this](const char* name, TBatchCaption caption) {
    auto* b = new QPushButton(Caption(caption), this);
    b->setObjectName(name);
    return b;
  };
  Button1 = button("Button1", TBatchCaption::OkContinue);
  Button2 = button("Button2", TBatchCaption::Cancel);
  Button3 = button("Button3", TBatchCaption::SkipImage);
  CheckBox1 = new QCheckBox(Caption(TBatchCaption::NoMoreChecks), this);
  CheckBox1->setObjectName("CheckBox1");
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
  connect(CheckBox1, &QCheckBox::clicked, this, [this] { CheckBox1Click(); });
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(Button1);
  buttons->addWidget(Button3);
  buttons->addWidget(Button2);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(panel);
  layout->addLayout(buttons);
  layout->addWidget(CheckBox1);
  // Made by the engine in the middle of a run: the controls of that run.
  PrepareForRun(BatchRun.Running && BatchRun.CometCompute);
}

void TForm9::PrepareForRun(bool cometComputation) {
  CheckBox1->setChecked(false);
  Button1->show();
  Button2->show();
  Button3->setVisible(!cometComputation);
  CheckBox1->setVisible(!cometComputation);
}

void TForm9::Button1Click() {
  BatchRun.PromptAnswered = true;
  hide();
  const bool noMoreChecks = CheckBox1->isChecked();
  BatchRun.CheckStars = !noMoreChecks;
  if (!noMoreChecks || !BatchRun.AskReportProblems) return;
  BatchRun.ReportProblems = AskYes(TBatchCaption::AskReport);
  BatchRun.StarToleranceAfterCheck = 2.5f;
  if (BatchRun.ReportProblems && AskYes(TBatchCaption::AskStrict)) BatchRun.StarToleranceAfterCheck = 1.9f;
  BatchRun.AskReportProblems = false;
}

void TForm9::Button2Click() {
  BatchRun.EndOfRun = true;
  BatchAbort = 1;
  AbortRequested = 1;
  BatchRun.PromptAnswered = true;
  hide();
}

void TForm9::Button3Click() {
  BatchRun.SkipImage = true;
  BatchRun.PromptAnswered = true;
  BatchRun.CheckStars = !CheckBox1->isChecked();
  hide();
}

void TForm9::CheckBox1Click() {
  BatchRun.CheckStars = !CheckBox1->isChecked();
  if (!BatchRun.CheckStars) BatchRun.AskReportProblems = true;
}

void TForm9::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    AbortRequested = 1;
    BatchAbort = 1;
    return;
  }
  QWidget::keyPressEvent(event);
}

void TForm9::wheelEvent(QWheelEvent* event) {
  const int delta = event->angleDelta().y();
  if (delta < 0)
    ZoomOutAtCursor();
  else if (delta > 0)
    ZoomInAtCursor();
  event->accept();
}

void TForm9::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!firstShow_) return;
  firstShow_ = false;
  // Directly below the status window.
  if (BatchStatusWindowExists()) {
    const QRect status = BatchStatusWindow().frameGeometry();
    move(status.left(), status.top() + status.height());
  }
  setWindowTitle(Caption(TBatchCaption::PromptTitle));
  Button1->setText(Caption(TBatchCaption::OkContinue));
  Button2->setText(Caption(TBatchCaption::Cancel));
  Button3->setText(Caption(TBatchCaption::SkipImage));
  CheckBox1->setText(Caption(TBatchCaption::NoMoreChecks));
}

TForm9& StarCheckPrompt() {
  QPointer<TForm9>& form = Instance();
  if (!form) form = new TForm9();  // frees itself when closed
  return *form;
}

bool StarCheckPromptExists() { return !Instance().isNull(); }

bool StarCheckPromptVisible() { return StarCheckPromptExists() && Instance()->isVisible(); }

}  // namespace astrelon
