#include "shell/ui/dialogs/small_dialogs.h"

#include <algorithm>

#include <QFontInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/language.h"

namespace astrelon {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The first word of a translated text, or the German caption when the
// translation is missing.
QString FirstWordOr(int key, const char* german) {
  const std::string word = FirstWord(LangText(key));
  return word.empty() ? QString::fromUtf8(german) : Q(word);
}

QString TextOr(int key, const char* german) { return Q(LangTextOr(key, german)); }

const int kYesKey = LangKey(32, 70, 1);
const int kNoKey = LangKey(32, 70, 2);
const int kCancelWordKey = LangKey(32, 70, 3);
const int kOkKey = LangKey(6, 1);
const int kCancelKey = LangKey(6, 2);

constexpr Qt::WindowFlags kDialogFlags =
    Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint;

}  // namespace

TForm31::TForm31(QWidget* parent) : QDialog(parent, kDialogFlags) {
  setObjectName("Form31");
  setMinimumWidth(307);
  Label1 = new QLabel(this);
  Label1->setObjectName("Label1");
  Label1->setWordWrap(true);
  Label1->setMinimumSize(313, 83);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Button1 = new QPushButton(this);
  Button1->setObjectName("Button1");
  Button2 = new QPushButton(this);
  Button2->setObjectName("Button2");
  Button3 = new QPushButton(this);
  Button3->setObjectName("Button3");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  buttons->addWidget(Button3);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label1);
  layout->addLayout(buttons);
  connect(Button1, &QPushButton::clicked, this, [this] { done(mrYes); });
  connect(Button2, &QPushButton::clicked, this, [this] { done(mrNo); });
  connect(Button3, &QPushButton::clicked, this, [this] { done(mrCancel); });
}

void TForm31::Prepare(const QString& text, const QString& caption) {
  setWindowTitle(caption);
  Label1->setText(text);
  Button1->setText(FirstWordOr(kYesKey, "Ja"));
  Button2->setText(FirstWordOr(kNoKey, "Nein"));
  Button3->setText(FirstWordOr(kCancelWordKey, "Abbrechen"));
  Button1->setDefault(true);
}

TForm30::TForm30(QWidget* parent) : QDialog(parent, kDialogFlags) {
  setObjectName("Form30");
  Label1 = new QLabel(this);
  Label1->setObjectName("Label1");
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Edit1 = new QLineEdit(this);
  Edit1->setObjectName("Edit1");
  Button1 = new QPushButton(this);
  Button1->setObjectName("Button1");
  Button2 = new QPushButton(this);
  Button2->setObjectName("Button2");
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
  connect(Edit1, &QLineEdit::returnPressed, this, &QDialog::accept);
}

void TForm30::Prepare(const QString& caption, const QString& prompt, const QString& value) {
  setWindowTitle(caption);
  Label1->setText(prompt);
  Edit1->setText(value);
  Button1->setText(TextOr(kOkKey, "Ok"));
  Button2->setText(TextOr(kCancelKey, "Abbrechen"));

  // One text line fits the base height; each line feed of the prompt adds a line.
  const int lineFeeds = int(prompt.count(QLatin1Char('\n')));
  const int fontHeight = QFontInfo(font()).pixelSize();
  const int height = logicalDpiY() * 103 / 96 + (fontHeight + 3) * lineFeeds;
  const int labelWidth = std::min(250, Label1->sizeHint().width());
  const int width = std::max(270, labelWidth + 24);
  const int buttonHeight = std::max(25, Button1->sizeHint().height());
  const int buttonWidth = std::max(75, std::max(Button1->sizeHint().width(), Button2->sizeHint().width()));
  const int editHeight = Edit1->sizeHint().height();
  const int buttonTop = height - 13 - buttonHeight;
  const int editTop = buttonTop - 15 - editHeight;
  setFixedSize(width, height);
  Label1->setGeometry(12, 8, labelWidth, std::max(0, editTop - 10));
  Edit1->setGeometry(12, editTop, width - 24, editHeight);
  Button1->setGeometry(width / 2 - buttonWidth - 4, buttonTop, buttonWidth, buttonHeight);
  Button2->setGeometry(width / 2 + 4, buttonTop, buttonWidth, buttonHeight);
}

void TForm30::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  Edit1->setFocus();
  Edit1->selectAll();
}

int LangYesNoCancel(const QString& text, const QString& caption) {
  TForm31 form;
  form.Prepare(text, caption);
  const int r = form.exec();
  return (r == mrYes || r == mrNo) ? r : mrCancel;
}

bool LangInputQuery(const QString& caption, const QString& prompt, QString& value) {
  TForm30 form;
  form.Prepare(caption, prompt, value);
  if (form.exec() != QDialog::Accepted) return false;
  value = form.Edit1->text();
  return true;
}

QString LangInputBox(const QString& caption, const QString& prompt, const QString& defaultValue) {
  QString value = defaultValue;
  return LangInputQuery(caption, prompt, value) ? value : defaultValue;
}

int LangMessageBox(const QString& text, TMsgDlgType type, unsigned buttons) {
  QMessageBox box;
  box.setText(text);
  switch (type) {
    case TMsgDlgType::Warning:
      box.setIcon(QMessageBox::Warning);
      box.setWindowTitle(TextOr(LangKey(32, 71), "Warnung"));
      break;
    case TMsgDlgType::Error:
      box.setIcon(QMessageBox::Critical);
      box.setWindowTitle("Fehler");
      break;
    case TMsgDlgType::Information:
      box.setIcon(QMessageBox::Information);
      box.setWindowTitle("Information");
      break;
    case TMsgDlgType::Confirmation:
      box.setIcon(QMessageBox::Question);
      box.setWindowTitle(TextOr(LangKey(32, 72), "Bestätigen"));
      break;
    case TMsgDlgType::Custom:
      box.setWindowTitle("Astrelon");
      break;
  }
  struct TButtonDef {
    unsigned Flag;
    QMessageBox::StandardButton Standard;
    QString Caption;
    int Result;
  };
  const TButtonDef defs[] = {
      {mbYes, QMessageBox::Yes, FirstWordOr(kYesKey, "&Ja"), mrYes},
      {mbNo, QMessageBox::No, FirstWordOr(kNoKey, "&Nein"), mrNo},
      {mbOK, QMessageBox::Ok, TextOr(kOkKey, "OK"), mrOk},
      {mbCancel, QMessageBox::Cancel, TextOr(kCancelKey, "Abbrechen"), mrCancel},
      {mbAbort, QMessageBox::Abort, "&Abbruch", mrAbort},
      {mbRetry, QMessageBox::Retry, "&Wiederholen", mrRetry},
      {mbIgnore, QMessageBox::Ignore, "&Ignorieren", mrIgnore},
  };
  if ((buttons & 127u) == 0) buttons = mbOK;
  QMessageBox::StandardButtons set;
  for (const auto& d : defs)
    if (buttons & d.Flag) set |= d.Standard;
  box.setStandardButtons(set);
  for (const auto& d : defs)
    if (auto* b = box.button(d.Standard)) b->setText(d.Caption);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.exec();
  const auto clicked = box.standardButton(box.clickedButton());
  for (const auto& d : defs)
    if (clicked == d.Standard) return d.Result;
  return (buttons & mbCancel) || !(buttons & mbOK) ? mrCancel : mrOk;
}

}  // namespace astrelon
