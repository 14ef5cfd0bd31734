#include "shell/ui/dialogs/list_chooser.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/language.h"

namespace astrelon {

TForm4::TForm4(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint) {
  setObjectName("Form4");
  ListBox1 = new QListWidget(this);
  ListBox1->setObjectName("ListBox1");
  ListBox1->setUniformItemSizes(true);
  ListBox1->setStyleSheet("QListWidget::item { height: 16px; }");
  Button1 = new QPushButton("&Ok", this);
  Button1->setObjectName("Button1");
  Button1->setEnabled(false);
  Button2 = new QPushButton("&Abbrechen", this);
  Button2->setObjectName("Button2");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ListBox1);
  layout->addLayout(buttons);
  connect(ListBox1, &QListWidget::itemClicked, this, [this] { Button1->setEnabled(true); });
  connect(ListBox1, &QListWidget::itemSelectionChanged, this, [this] {
    if (ItemIndex() >= 0) Button1->setEnabled(true);
  });
  connect(Button1, &QPushButton::clicked, this, &TForm4::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm4::Button2Click);
}

int TForm4::ItemIndex() const {
  const auto* item = ListBox1->currentItem();
  return item && item->isSelected() ? ListBox1->currentRow() : -1;
}

void TForm4::Button1Click() { done(QDialog::Accepted); }

void TForm4::Button2Click() {
  ListBox1->setCurrentRow(-1);
  ListBox1->clearSelection();
  done(QDialog::Rejected);
}

void TForm4::reject() { Button2Click(); }

void TForm4::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!translated_ && LanguageFileLoaded) {
    translated_ = true;
    Button1->setText(QString::fromStdString(LangTextOr(LangKey(6, 1), "&Ok")));
    Button2->setText(QString::fromStdString(LangTextOr(LangKey(6, 2), "&Abbrechen")));
  }
  Button1->setEnabled(ItemIndex() >= 0);
}

int ChooseFromList(const QString& caption, const QStringList& items, QWidget* parent) {
  TForm4 form(parent);
  form.setWindowTitle(caption);
  form.ListBox1->addItems(items);
  form.exec();
  return form.ItemIndex();
}

}  // namespace astrelon
