#include "shell/ui/dialogs/help_window.h"

#include <algorithm>

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/language.h"
#include "shell/main/help_texts.h"
#include "shell/ui/dialogs/hidden_menu_items.h"

namespace astrelon {

TForm14::TForm14(QWidget* parent) : QDialog(parent) {
  setObjectName("Form14");
  setWindowTitle("Hilfe");
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setStyleSheet("QPlainTextEdit { background: white; color: black; }");
  Button1 = new QPushButton("&Ok", this);
  Button1->setObjectName("Button1");
  Button2 = new QPushButton("weiter>", this);
  Button2->setObjectName("Button2");
  Button2->hide();
  Label13 = new QLabel(this);
  Label13->setObjectName("Label13");
  Label13->setFixedSize(9, 13);
  Label13->installEventFilter(this);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(Label13, 0, Qt::AlignLeft | Qt::AlignBottom);
  bottom->addStretch();
  bottom->addWidget(Button2);
  bottom->addWidget(Button1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Memo1);
  layout->addLayout(bottom);
  resize(520, 420);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  connect(Button2, &QPushButton::clicked, this, &TForm14::Button2Click);
}

void TForm14::ShowPage(int page, const QString& openerCaption) {
  Page = page;
  OpenerCaption = openerCaption;
  if (isVisible()) hide();
  show();
  raise();
  activateWindow();
}

void TForm14::AddGroup(int group) {
  for (const std::string& entry : HelpGroup(group)) {
    Memo1->appendPlainText("");
    Memo1->appendPlainText(QString::fromStdString(entry));
  }
}

void TForm14::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  Page = std::clamp(Page, 1, 5);
  Memo1->clear();
  Button2->setVisible(Page == 2);
  setWindowTitle(OpenerCaption.isEmpty() ? QString("Hilfe") : QString(OpenerCaption).remove('&'));
  if (LanguageFileLoaded) {
    Button1->setText(QString::fromStdString(LangTextOr(LangKey(6, 1), "&Ok")));
    Button2->setText(QString::fromStdString(LangTextOr(LangKey(19, 1), "weiter>")));
  }
  AddGroup(Page);
}

void TForm14::Button2Click() {
  Button2->hide();
  Memo1->clear();
  AddGroup(4);
}

bool TForm14::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Label13 && event->type() == QEvent::MouseButtonRelease) {
    AskMenuAccessCode();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace astrelon
