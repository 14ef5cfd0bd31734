#include "shell/ui/side_panel/side_panel.h"

#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QFontDialog>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "core/packed_params.h"
#include "core/settings.h"
#include "shell/stamps/stamp_size.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/windows/image_window_state.h"

namespace astrelon {

namespace {

QToolButton* ToolButton(QWidget* parent, const char* name, const QString& text, const QString& hint) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setText(text);
  b->setToolTip(hint);
  b->setStatusTip(hint);
  b->setFixedSize(22, 22);
  b->setAutoRaise(true);
  return b;
}

QLabel* Label(QWidget* parent, const char* name, const QString& text = {}) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(name);
  QFont f = l->font();
  f.setPointSizeF(std::max(6.0, f.pointSizeF() - 1));
  l->setFont(f);
  return l;
}

QLabel* Picture(QWidget* parent, const char* name) {
  auto* l = new QLabel(parent);
  l->setObjectName(name);
  l->setFixedSize(60, 60);
  l->setScaledContents(true);
  return l;
}

QFrame* Frame(QWidget* parent, const char* name, QLabel* picture) {
  auto* f = new QFrame(parent);
  f->setObjectName(name);
  f->setFrameShape(QFrame::Box);
  f->setFixedSize(64, 64);
  auto* l = new QVBoxLayout(f);
  l->setContentsMargins(1, 1, 1, 1);
  picture->setParent(f);
  l->addWidget(picture);
  return f;
}

void Call(const std::function<void(int)>& hook, int mode) {
  if (hook) hook(mode);
}

}  // namespace

TSidePanel::TSidePanel(QWidget* parent) : QFrame(parent) {
  setObjectName("Panel1");
  setFixedWidth(PanelWidth);
  setFrameShape(QFrame::StyledPanel);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(2, 2, 2, 2);
  outer->setSpacing(2);
  auto* tools = new QGridLayout;
  tools->setSpacing(0);
  SpeedButton1 = ToolButton(this, "SpeedButton1", "i", "Infomodus - normaler Modus");
  SpeedButton2 = ToolButton(this, "SpeedButton2", "St", "Stempel: Rechtsklick->Auswahl, Linksklick->malen");
  SpeedButton4 = ToolButton(this, "SpeedButton4", "Ko",
                            "Kopier Stempel:  Rechtsklick->markieren, Linke Maustaste->kopieren");
  SpeedButton6 = ToolButton(this, "SpeedButton6", "T ", "Textfunktion");
  SpeedButton5y = ToolButton(this, "SpeedButton5y", QString::fromUtf8("↗"), "Pfeil malen. 1.Klick: Ende, 2.Klick: Spitze");
  SpeedButton5x = ToolButton(this, "SpeedButton5x", {}, "Textfarbe");
  SpeedButton3 = ToolButton(this, "SpeedButton3", QString::fromUtf8("↶"), QString::fromUtf8("Rückgängig machen"));
  SpeedButton5 = ToolButton(this, "SpeedButton5", "=", "Quelle und Ziel an derselben Bildstelle");
  for (QToolButton* b : {SpeedButton1, SpeedButton2, SpeedButton4, SpeedButton6, SpeedButton5y}) b->setCheckable(true);
  SpeedButton5->setCheckable(true);
  SpeedButton1->setChecked(true);
  SpeedButton3->setEnabled(false);
  SpeedButton5->hide();
  tools->addWidget(SpeedButton1, 0, 0);
  tools->addWidget(SpeedButton2, 0, 1);
  tools->addWidget(SpeedButton4, 0, 2);
  tools->addWidget(SpeedButton6, 1, 0);
  tools->addWidget(SpeedButton5y, 1, 1);
  tools->addWidget(SpeedButton5x, 1, 2);
  tools->addWidget(SpeedButton3, 2, 0);
  tools->addWidget(SpeedButton5, 2, 1);
  outer->addLayout(tools);

  SpinEdit1 = new QSpinBox(this);
  SpinEdit1->setObjectName("SpinEdit1");
  SpinEdit1->setRange(6, 100);
  SpinEdit1->setValue(std::clamp(Settings.TextOptions / 16, 6, 100));
  SpinEdit1->setToolTip(QString::fromUtf8("Font Größe"));
  SpinEdit1->hide();
  ComboBox1 = new QComboBox(this);
  ComboBox1->setObjectName("ComboBox1");
  ComboBox1->addItems({"paste", "max", "min", "add", "sub"});
  ComboBox1->setCurrentIndex(0);
  ComboBox1->setToolTip("Stempelfunktion");
  ComboBox1->hide();
  SpinEdit2 = new QSpinBox(this);
  SpinEdit2->setObjectName("SpinEdit2");
  SpinEdit2->setRange(1, 99);
  SpinEdit2->setValue(std::clamp(GetParamDigits(15) > 0 ? GetParamDigits(15) : 10, 1, 99));
  SpinEdit2->setToolTip(QString::fromUtf8("Stempel Größe"));
  SpinEdit2->hide();
  StampRadiusSquared = StampRadiusSquaredOf(SpinEdit2->value());
  for (QWidget* w : {static_cast<QWidget*>(SpinEdit1), static_cast<QWidget*>(ComboBox1),
                     static_cast<QWidget*>(SpinEdit2)}) {
    w->setFixedWidth(PanelWidth - 6);
    outer->addWidget(w);
  }

  Label2 = Label(this, "Label2", "X");
  Image2 = Picture(this, "Image2");
  Shape1 = Frame(this, "Shape1", Image2);
  Label1 = Label(this, "Label1");
  Image1 = Picture(this, "Image1");
  Label3 = Label(this, "Label3", "Y");
  Image3 = Picture(this, "Image3");
  Shape2 = Frame(this, "Shape2", Image3);
  Shape1->installEventFilter(this);
  Image2->installEventFilter(this);
  for (QWidget* w : {static_cast<QWidget*>(Label2), static_cast<QWidget*>(Shape1), static_cast<QWidget*>(Label1),
                     static_cast<QWidget*>(Image1), static_cast<QWidget*>(Label3), static_cast<QWidget*>(Shape2)})
    outer->addWidget(w, 0, Qt::AlignHCenter);

  auto* li = new QHBoxLayout;
  li->setSpacing(0);
  SpeedButtonLI1 = ToolButton(this, "SpeedButtonLI1", "Rot", {});
  SpeedButtonLI2 = ToolButton(this, "SpeedButtonLI2", "x2", {});
  SpeedButtonLI1->setFixedWidth(40);
  li->addWidget(SpeedButtonLI1);
  li->addWidget(SpeedButtonLI2);
  outer->addLayout(li);
  Label4 = Label(this, "Label4", "DC:");
  Label5 = Label(this, "Label5", "rms:");
  Label7 = Label(this, "Label7", "max:");
  Label8 = Label(this, "Label8", "min:");
  Label6 = Label(this, "Label6", "fwhmX:");
  Label19 = Label(this, "Label19", "fwhmY:");
  Label17 = Label(this, "Label17", "X:");
  Label18 = Label(this, "Label18", "Y:");
  Label20 = Label(this, "Label20", "Flux:");
  Label21 = Label(this, "Label21", "Mag:");
  for (QLabel* l : {Label4, Label5, Label7, Label8, Label6, Label19, Label17, Label18, Label20, Label21}) {
    outer->addWidget(l);
    l->hide();
  }
  for (QWidget* w : {static_cast<QWidget*>(SpeedButtonLI1), static_cast<QWidget*>(SpeedButtonLI2)}) w->hide();
  outer->addStretch(1);

  PopupMenuInfos = new QMenu(this);
  PopupMenuInfos->setObjectName("PopupMenuInfos");
  InfoszuTabellehinzufgen1 = PopupMenuInfos->addAction(QString::fromUtf8("Infos zur Tabelle hinzufügen"));
  InfoszuTabellehinzufgen1->setObjectName("InfoszuTabellehinzufgen1");
  connect(InfoszuTabellehinzufgen1, &QAction::triggered, this, [] {
    if (MainLink().AddStarToTable) MainLink().AddStarToTable();
  });

  PaintColourButton();
  connect(SpeedButton1, &QToolButton::clicked, this, [] { Call(MainLink().SetInfoPanelMode, 1); });
  connect(SpeedButton2, &QToolButton::clicked, this, [] { Call(MainLink().SetInfoPanelMode, 3); });
  connect(SpeedButton4, &QToolButton::clicked, this, [] {
    // A new copy stamp starts without a source point.
    CopySourceSlot = 0;
    Call(MainLink().SetInfoPanelMode, 7);
  });
  connect(SpeedButton6, &QToolButton::clicked, this, [] { Call(MainLink().SetInfoPanelMode, 4); });
  connect(SpeedButton5y, &QToolButton::clicked, this, [] { Call(MainLink().SetInfoPanelMode, 5); });
  connect(SpeedButton3, &QToolButton::clicked, this, [] {
    if (MainLink().UndoLastStep) MainLink().UndoLastStep();
  });
  connect(SpeedButton5x, &QToolButton::clicked, this, &TSidePanel::SpeedButton5xClick);
  connect(SpeedButtonLI1, &QToolButton::clicked, this, [] {
    if (MainLink().StarChannelClicked) MainLink().StarChannelClicked();
  });
  connect(SpeedButtonLI2, &QToolButton::clicked, this, [] {
    if (MainLink().StarCellSizeClicked) MainLink().StarCellSizeClicked();
  });
  SpeedButton6->installEventFilter(this);
  SpinEdit2->installEventFilter(this);
  connect(SpinEdit1, &QSpinBox::valueChanged, this, &TSidePanel::SpinEdit1Change);
  connect(SpinEdit2, &QSpinBox::valueChanged, this, [this](int v) {
    if (StampChangeActive) SpinEdit2Change(v);
  });
}

bool TSidePanel::eventFilter(QObject* watched, QEvent* e) {
  if (watched == SpeedButton6 && e->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(e)->button() == Qt::RightButton) {
    ChooseTextFont();
    return true;
  }
  // A left click on the star frame; the right button goes on to the panel.
  if ((watched == Shape1 || watched == Image2) && e->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
    if (MainLink().StarFrameClicked) MainLink().StarFrameClicked();
    return true;
  }
  if (watched == SpinEdit2) {
    // While a key is held the field changes without effect; its release applies the value.
    if (e->type() == QEvent::KeyPress && !static_cast<QKeyEvent*>(e)->isAutoRepeat()) StampChangeActive = false;
    if (e->type() == QEvent::KeyRelease && !static_cast<QKeyEvent*>(e)->isAutoRepeat()) {
      StampChangeActive = true;
      SpinEdit2Change(SpinEdit2->value());
    }
  }
  return QFrame::eventFilter(watched, e);
}

void TSidePanel::mousePressEvent(QMouseEvent* e) {
  // Pictures and labels take no clicks: theirs arrive here as well.
  if (e->button() == Qt::RightButton && MainLink().StarPanelMenuRequested) {
    MainLink().StarPanelMenuRequested(e->globalPosition().toPoint());
    e->accept();
    return;
  }
  QFrame::mousePressEvent(e);
}

void TSidePanel::SpinEdit1Change(int value) {
  if (fontDialogSetsSize_) return;
  Settings.TextOptions = value * 16 + Settings.TextOptions % 16;
}

void TSidePanel::ChooseTextFont() {
  QFont start = SpeedButton6->font();
  start.setFamily(QString::fromStdString(Settings.TextFont));
  start.setPointSize(SpinEdit1->value());
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, start, this);
  if (!ok) return;
  QFont shown = chosen;
  shown.setPointSize(10);
  SpeedButton6->setFont(shown);
  Settings.TextFont = chosen.family().toStdString();
  // The size reaches the packed text option only through a later change of the field.
  fontDialogSetsSize_ = true;
  SpinEdit1->setValue(std::clamp(chosen.pointSize(), 6, 100));
  fontDialogSetsSize_ = false;
  if (EnsureDialogForm(21))
    if (QWidget* form = DialogForm(21); form && form->isVisible()) form->update();
}

void TSidePanel::SpinEdit2Change(int value) {
  const int size = std::clamp(value, 1, SpinEdit2->maximum());
  if (size != SpinEdit2->value()) {
    const bool active = StampChangeActive;
    StampChangeActive = false;
    SpinEdit2->setValue(size);
    StampChangeActive = active;
  }
  StampRadiusSquared = StampRadiusSquaredOf(size);
  SetParamDigits(15, size);
  // The stamp source in the upper picture is redrawn by the stamp tool.
  if (MainLink().StampSizeChanged) MainLink().StampSizeChanged();
}

void TSidePanel::PaintColourButton() {
  SpeedButton5x->setIconSize(QSize(14, 14));
  SpeedButton5x->setIcon(QIcon(ColourButtonGlyph(QSize(14, 14))));
}

void TSidePanel::SpeedButton5xClick() {
  const uint32_t c = uint32_t(Settings.TextColour);
  const QColor start(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
  const QColor chosen = QColorDialog::getColor(start, this);
  if (chosen.isValid()) {
    Settings.TextColour = int32_t(uint32_t(chosen.red()) | uint32_t(chosen.green()) << 8 | uint32_t(chosen.blue()) << 16);
    PaintColourButton();
  }
  SpeedButton5x->setDown(false);
}

}  // namespace astrelon
