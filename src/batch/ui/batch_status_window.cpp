#include "batch/ui/batch_status_window.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_captions.h"
#include "batch/steps/batch_step_list.h"
#include "batch/ui/batch_window.h"
#include "batch/ui/star_check_prompt.h"
#include "core/batch_state.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

QPointer<TForm10>& Instance() {
  static QPointer<TForm10> form;
  return form;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString Caption(TBatchCaption c) { return Q(BatchCaption(c)); }

}  // namespace

TForm10::TForm10() : QWidget(nullptr, Qt::Window) {
  setObjectName("Form10");
  setWindowTitle(Caption(TBatchCaption::StatusTitle));
  setAttribute(Qt::WA_DeleteOnClose);
  auto* panel = new QWidget(this);
  panel->setObjectName("Panel1");
  auto* rows = new QVBoxLayout(panel);
  auto label = [&](const char* name) {
    auto* l = new QLabel(panel);
    l->setObjectName(name);
    rows->addWidget(l);
    return l;
  };
  Label1 = label("Label1");
  Label2 = label("Label2");
  Label3 = label("Label3");
  Label4 = label("Label4");
  auto button = [this](const char* name, TBatchCaption caption) {
    auto* b = new QPushButton(Caption(caption), this);
    b->setObjectName(name);
    return b;
  };
  Button3 = button("Button3", TBatchCaption::Pause);
  Button2 = button("Button2", TBatchCaption::CheckOn);
  Button1 = button("Button1", TBatchCaption::Abort);
  Button2->hide();
  Button3->hide();
  connect(Button1, &QPushButton::pressed, this, [this] { Button1MouseDown(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  // The check is asked for at the press: a long step may hold the click back.
  connect(Button2, &QPushButton::pressed, this, [this] { Button2Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(Button3);
  buttons->addWidget(Button2);
  buttons->addStretch(1);
  buttons->addWidget(Button1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(panel);
  layout->addLayout(buttons);
  BatchStatusLabels = this;
}

TForm10::~TForm10() {
  if (BatchStatusLabels == this) BatchStatusLabels = nullptr;
}

void TForm10::SetFunctionLabel(const std::string& text) { Label2->setText(Q(text)); }
void TForm10::SetProgressLabel(const std::string& text) { Label4->setText(Q(text)); }
void TForm10::SetFileLabel(const std::string& text) { ShowStatusFileName(text); }
void TForm10::SetCountLabel(const std::string& text) { Label3->setText(Q(text)); }

void TForm10::StartRun(bool batch) {
  for (QLabel* l : {Label1, Label2, Label3, Label4}) l->clear();
  ended_ = false;
  batch_ = batch;
  paused_ = false;
  AbortPressed = false;
  Button1->setText(Caption(TBatchCaption::Abort));
  Button2->hide();
  ShowPauseCaption();
  Button3->setEnabled(true);
  Button3->setVisible(batch);
  show();
  raise();
}

void TForm10::EndRun() {
  ended_ = true;
  paused_ = false;
  Button1->setText(Caption(TBatchCaption::Ok));
  ShowPauseCaption();
  Button3->setEnabled(false);
}

void TForm10::ShowPauseCaption() {
  Button3->setText(Caption(paused_ ? TBatchCaption::Continue : TBatchCaption::Pause));
}

void TForm10::AbortRun() {
  // The master dark and flat tool only listens to the abort flags.
  BatchAbort = 1;
  AbortRequested = 1;
  if (!batch_) return;
  if (BatchRun.EndOfRun) hide();
  BatchRun.EndOfRun = true;
  BatchRun.CurrentStep = BatchSteps.StepCount + 1;
  // The end is processed even while paused.
  if (TForm7* window = BatchWindowForm(); window && !window->Timer1->isActive() && BatchRun.Running)
    window->Timer1->start();
}

void TForm10::Button1Click() {
  if (ended_) {
    hide();
    if (StarCheckPromptVisible()) StarCheckPrompt().hide();
    if (batch_) BatchRun.EndOfRun = true;
    return;
  }
  if (!AbortPressed) AbortRun();
  AbortPressed = false;
}

void TForm10::Button1MouseDown() {
  if (ended_) return;
  AbortRun();
  AbortPressed = true;
}

void TForm10::Button2Click() {
  BatchRun.CheckStars = true;
  Button2->hide();
}

void TForm10::Button3Click() {
  TForm7* window = BatchWindowForm();
  if (!paused_ && BatchRun.Running) {
    paused_ = true;
    if (window) window->Timer1->stop();
  } else {
    paused_ = false;
    if (window) window->Timer1->start();
  }
  ShowPauseCaption();
}

void TForm10::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    AbortRequested = 1;
    BatchAbort = 1;
    return;
  }
  QWidget::keyPressEvent(event);
}

void TForm10::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (translated_) return;
  translated_ = true;
  setWindowTitle(Caption(TBatchCaption::StatusTitle));
  Button2->setText(Caption(TBatchCaption::CheckOn));
  ShowPauseCaption();
}

TForm10& BatchStatusWindow() {
  QPointer<TForm10>& form = Instance();
  if (!form) form = new TForm10();  // frees itself when closed
  return *form;
}

bool BatchStatusWindowExists() { return !Instance().isNull(); }

QString ShortenedFileName(const QString& name, const QFontMetrics& metrics) {
  constexpr int maxWidth = 185;
  QString rest = name;
  bool cut = false;
  while (!rest.isEmpty() && metrics.horizontalAdvance(rest) > maxWidth) {
    rest.remove(0, 1);
    cut = true;
  }
  return cut ? "..." + rest : rest;
}

void ShowStatusFileName(const std::string& name) {
  TForm10& form = BatchStatusWindow();
  form.Label1->setText(ShortenedFileName(Q(name), form.Label1->fontMetrics()));
}

}  // namespace astrelon
