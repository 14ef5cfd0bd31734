#include "shell/ui/dialogs/line_prompt.h"

#include <QAction>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "core/language.h"
#include "shell/stamps/line_marking.h"
#include "shell/ui/controls/control_utils.h"
#include "shell/ui/dialogs/cancel_key.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/windows/window_placement.h"

namespace astrelon {

namespace {

constexpr int FormNumber = 20;
constexpr int MinimumWidth = 277;

QString Text(int key, const char* german) { return QString::fromStdString(LangTextOr(key, german)); }

// The caption of a main-menu item without "&", or the German caption.
QString MenuCaption(const char* name, const char* german) {
  if (QMainWindow* main = MainLink().Window)
    if (const QAction* a = main->findChild<QAction*>(name)) return a->text().remove('&');
  return QString::fromUtf8(german);
}

}  // namespace

TForm20::TForm20(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName("Form20");
  Label1 = new QLabel(this);
  Label1->setWordWrap(true);
  Button1 = new QPushButton("Ok", this);
  Button1->setObjectName("Button1");
  Button2 = new QPushButton("Abbrechen", this);
  Button2->setObjectName("Button2");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label1);
  layout->addLayout(buttons);
  // "Ok" takes Return once the lines are marked.
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &TForm20::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm20::Button2Click);
}

void TForm20::showEvent(QShowEvent* e) {
  // Every instance translates its buttons on its first show.
  if (!translated_ && LanguageFileLoaded) {
    Button1->setText(Text(262, "Ok"));
    Button2->setText(Text(518, "Abbrechen"));
  }
  translated_ = true;
  LinePrompt.Active = 1;
  LinePrompt.OkPressed = 0;
  LinePrompt.LinesMarked = LinePrompt.LinesFinished = 0;
  LinePrompt.LinesNeeded = LinesNeededFor(LinePrompt.Mode);
  Button1->setEnabled(false);
  const QString tail = LanguageFileLoaded ? ", " + Text(3351, "") : QString();
  if (LinePrompt.Mode == 1) {
    Label1->setText(LanguageFileLoaded ? Text(2583, "") + tail
                                       : QString::fromUtf8("Bitte eine schiefe Linie markieren, dann Ok drücken."));
    setWindowTitle(MenuCaption("BildrotierenmitHilfslinie1", "Bild rotieren mit Hilfslinie"));
  } else if (LinePrompt.Mode == 2) {
    Label1->setText(LanguageFileLoaded
                        ? Text(2839, "") + tail
                        : QString::fromUtf8("Bitte zwei gegenüberliegende schiefe Linien markieren, dann Ok drücken."));
    setWindowTitle(MenuCaption("Perspektivekorrigieren1", "Perspektive korrigieren"));
  } else {
    Label1->setText(LanguageFileLoaded ? Text(3095, "") + tail
                                       : QString::fromUtf8("Bitte eine Linie im Bild einzeichnen, dann Ok drücken."));
    setWindowTitle(MenuCaption("BildliniealsDiagrammanzeigen1", "Pixellinie als Diagramm anzeigen"));
  }
  FitToText();
  MoveBeside(this, ActiveImageWindowOnDesk());
  QWidget::showEvent(e);
}

void TForm20::FitToText() {
  // At least the classic width; a long instruction wraps into two lines at most.
  const QFontMetrics metrics(Label1->font());
  const int text = metrics.horizontalAdvance(Label1->text());
  const int margins = layout()->contentsMargins().left() + layout()->contentsMargins().right();
  Label1->setMinimumWidth(std::max(MinimumWidth - margins, text / 2 + 4 * metrics.averageCharWidth()));
  layout()->activate();
  adjustSize();
  const int height = layout()->totalHeightForWidth(width());
  if (height > this->height()) resize(width(), height);
}

void TForm20::keyPressEvent(QKeyEvent* e) {
  if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && Button1->isEnabled()) {
    Button1->click();
    return;
  }
  if (EscapeCancels(e, false, [this] { Button2Click(); })) return;
  QWidget::keyPressEvent(e);
}

void TForm20::Button1Click() {
  LinePrompt.OkPressed = 1;
  close();
}

void TForm20::Button2Click() { close(); }

void TForm20::closeEvent(QCloseEvent* e) {
  LinePrompt.Active = 0;
  auto done = std::move(OnClose);
  OnClose = nullptr;
  QWidget::closeEvent(e);
  // Freed: the next use makes a new window.
  ReleaseDialogForm(objectName());
  if (done) done(LinePrompt.OkPressed == 1);
}

void ShowLinePrompt(int mode, std::function<void(bool ok)> done) {
  RegisterDialogForm(FormNumber, [] { return new TForm20; });
  if (TForm20* open = LinePromptWindow()) {
    open->OnClose = nullptr;
    open->close();
  }
  EnsureDialogForm(FormNumber);
  auto* form = qobject_cast<TForm20*>(DialogForm(FormNumber));
  if (!form) return;
  LinePrompt.Mode = mode;
  form->OnClose = std::move(done);
  FadeInForm(form);
}

void EnableLinePromptOk() {
  if (TForm20* form = LinePromptWindow()) form->Button1->setEnabled(true);
}

TForm20* LinePromptWindow() { return qobject_cast<TForm20*>(DialogForm(FormNumber)); }

}  // namespace astrelon
