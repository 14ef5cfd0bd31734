#include "pixelops/ui/stamping/text_insert_dialog.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "common/pascal_format.h"
#include "common/text_codec.h"
#include "core/settings.h"
#include "pixelops/ui/stamping/text_mask.h"
#include "shell/ui/dialogs/translate_form.h"
#include "shell/ui/main/main_services_ui.h"

namespace astrelon {

namespace {

constexpr int FormNumber = 21;
constexpr int Columns = 32, Rows = 8;
constexpr int EditTop = 8, DividerTop = 56;
QPointer<TForm21> Dialog;

double ScreenDpi(const QWidget* w) {
  const QScreen* s = w->screen();
  return s ? s->logicalDotsPerInch() : 96.0;
}

QString CodeText(int code) { return QString::fromStdString(Windows1252ToUtf8(std::string(1, char(code)))); }

}  // namespace

TForm21::TForm21() {
  setObjectName("Form21");
  setWindowTitle(QString::fromUtf8("Text einfügen"));
  setMouseTracking(true);
  Edit1 = new QLineEdit(this);
  Edit1->setObjectName("Edit1");
  Bevel1 = new QFrame(this);
  Bevel1->setObjectName("Bevel1");
  Bevel1->setFrameShape(QFrame::HLine);
  Shape1 = new QFrame(this);
  Shape1->setObjectName("Shape1");
  Shape1->setStyleSheet("border: 1px solid red; background: transparent;");
  Shape1->setAttribute(Qt::WA_TransparentForMouseEvents);
  Shape1->hide();
  CheckBox1 = new QCheckBox("Text abgerundet", this);
  CheckBox1->setObjectName("CheckBox1");
  CheckBox1->setChecked(true);
  CheckBox2 = new QCheckBox("Schatten", this);
  CheckBox2->setObjectName("CheckBox2");
  CheckBox3 = new QCheckBox("3D Effekt", this);
  CheckBox3->setObjectName("CheckBox3");
  CheckBox4 = new QCheckBox("Transparenz", this);
  CheckBox4->setObjectName("CheckBox4");
  Edit2 = new QLineEdit("50", this);
  Edit2->setObjectName("Edit2");
  auto* percent = new QLabel("%", this);
  percent->setObjectName("Label1");
  OkButton = new QPushButton("Ok", this);
  OkButton->setObjectName("Button1");
  OkButton->setDefault(true);
  CancelButton = new QPushButton("Abbrechen", this);
  CancelButton->setObjectName("Button2");
  connect(OkButton, &QPushButton::clicked, this, [this] {
    Cancelled = false;
    hide();
    accept();
  });
  connect(CancelButton, &QPushButton::clicked, this, [this] {
    Cancelled = true;
    hide();
    reject();
  });
  Arrange();
  // The options row below the chart.
  const int y = ChartTop() + Rows * CellHeight() + 10;
  int x = 8;
  for (QWidget* w : {static_cast<QWidget*>(CheckBox1), static_cast<QWidget*>(CheckBox2),
                     static_cast<QWidget*>(CheckBox3), static_cast<QWidget*>(CheckBox4)}) {
    w->adjustSize();
    w->move(x, y);
    x += w->width() + 12;
  }
  Edit2->setGeometry(x, y, 40, Edit2->sizeHint().height());
  percent->move(x + 44, y + 4);
  OkButton->move(width() - 2 * (OkButton->sizeHint().width() + 8), y + 36);
  CancelButton->move(width() - CancelButton->sizeHint().width() - 8, y + 36);
  setFixedHeight(y + 36 + OkButton->sizeHint().height() + 10);
}

int TForm21::CellWidth() const { return int(15 * ScreenDpi(this) / 96); }
int TForm21::CellHeight() const { return int(23 * ScreenDpi(this) / 96); }
int TForm21::ChartTop() const { return Bevel1->y() + 10; }

void TForm21::Arrange() {
  setFixedWidth(Columns * CellWidth() + 16);
  Bevel1->setGeometry(0, DividerTop, width(), 2);
}

int TForm21::CodeAt(QPoint p) const {
  const int cw = CellWidth(), ch = CellHeight(), top = ChartTop();
  if (p.x() < 7 || p.y() < top) return -1;
  const int column = (p.x() - 7) / cw, row = (p.y() - top) / ch;
  if (column >= Columns || row >= Rows) return -1;
  return row * Columns + column;
}

void TForm21::InsertCode(int code) {
  // Control codes have no glyph to stamp.
  if (code < 32 || code > 255) return;
  Edit1->insert(CodeText(code));
  Edit1->setFocus();
}

void TForm21::showEvent(QShowEvent* e) {
  Arrange();
  LayoutTextInsertEdit();
  Edit1->setText(QString::fromStdString(Settings.Text));
  CheckBox1->setChecked(Settings.TextOptions & 1);
  CheckBox2->setChecked(Settings.TextOptions & 2);
  CheckBox3->setChecked(Settings.TextOptions & 4);
  CheckBox4->setChecked(Settings.TextOptions & 8);
  Edit2->setText(QString::number(Settings.TextTransparency));
  Cancelled = true;
  if (DialogFormNeedsTranslation(FormNumber)) {
    TranslateForm("Form21");
    SetDialogFormTranslated(FormNumber);
  }
  QDialog::showEvent(e);
}

void TForm21::hideEvent(QHideEvent* e) {
  Settings.TextOptions = (Settings.TextOptions & ~15) | (CheckBox1->isChecked() ? 1 : 0) |
                         (CheckBox2->isChecked() ? 2 : 0) | (CheckBox3->isChecked() ? 4 : 0) |
                         (CheckBox4->isChecked() ? 8 : 0);
  Settings.Text = Edit1->text().toStdString();
  if (const auto p = TryStrToInt(Edit2->text().trimmed().toStdString()); p && *p >= 0 && *p <= 100)
    Settings.TextTransparency = int32_t(*p);
  Shape1->hide();
  QDialog::hideEvent(e);
}

void TForm21::paintEvent(QPaintEvent* e) {
  // The text tool's font may have changed while the dialog is open.
  if (Edit1->font() != TextToolFont(Settings.TextFont, Settings.TextStyle, 15)) LayoutTextInsertEdit();
  QDialog::paintEvent(e);
  QPainter p(this);
  QFont f = Edit1->font();
  f.setPointSize(12);
  p.setFont(f);
  p.setPen(palette().color(QPalette::WindowText));
  const int cw = CellWidth(), ch = CellHeight(), top = ChartTop();
  const QFontMetrics fm(f);
  for (int row = 0; row < Rows; ++row)
    for (int column = 0; column < Columns; ++column)
      p.drawText(QPoint(column * cw + 8, row * ch + top + 2 + fm.ascent()), CodeText(row * Columns + column));
}

void TForm21::mouseMoveEvent(QMouseEvent* e) {
  const QPoint pos = e->position().toPoint();
  if (CodeAt(pos) < 0) {
    Shape1->hide();
  } else {
    const int cw = CellWidth(), ch = CellHeight(), top = ChartTop();
    Shape1->setGeometry(((pos.x() - 7) / cw) * cw + 6, ((pos.y() - top) / ch) * ch + top, cw, ch);
    Shape1->show();
  }
  QDialog::mouseMoveEvent(e);
}

void TForm21::mousePressEvent(QMouseEvent* e) {
  const QPoint pos = e->position().toPoint();
  if (e->button() == Qt::LeftButton && Shape1->isVisible() && Shape1->geometry().contains(pos))
    InsertCode(CodeAt(Shape1->geometry().center()));
  QDialog::mousePressEvent(e);
}

TForm21* TextInsertDialog() { return Dialog.data(); }

void RegisterTextInsertDialog() {
  RegisterDialogForm(FormNumber, [] {
    Dialog = new TForm21;
    return static_cast<QWidget*>(Dialog.data());
  });
}

void LayoutTextInsertEdit() {
  TForm21* form = Dialog.data();
  if (!form) return;
  form->Edit1->setFont(TextToolFont(Settings.TextFont, Settings.TextStyle, 15));
  form->Edit1->setGeometry(8, EditTop, form->width() - 16, DividerTop - EditTop - 4);
}

}  // namespace astrelon
