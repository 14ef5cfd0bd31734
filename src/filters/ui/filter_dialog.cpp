#include "filters/ui/filter_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "core/funktion_defs.h"
#include "core/language.h"
#include "core/run_state.h"
#include "filters/dialog/filter_functions.h"
#include "filters/dialog/filter_state.h"
#include "filters/ui/filter_slider.h"
#include "filters/ui/radio_group.h"
#include "shell/main/main_services.h"
#include "shell/ui/dialogs/cancel_key.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/main/main_window_marks.h"
#include "shell/ui/menu/main_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "store/display/display_histogram.h"

namespace astrelon {

namespace {

QFrame* MakePanel(const char* name, QWidget* parent) {
  auto* p = new QFrame(parent);
  p->setObjectName(name);
  return p;
}

QString TextOr(int key, const char* german) {
  QString s = QString::fromStdString(LangText(key));
  s.remove('&');
  return s.isEmpty() ? QString::fromUtf8(german) : s;
}

// The main window is being minimised or is minimised: the dialog hides and
// shows with it and keeps its state.
bool MainWindowMinimised() {
  const QMainWindow* w = MainLink().Window;
  return (w && w->isMinimized()) || (MainLink().ClosingOrMinimising && !Closing);
}

}  // namespace

TForm1::TForm1() : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName("Form1");
  // A tool window of its own: the program ends when the main window closes, whether it shows or not.
  setAttribute(Qt::WA_QuitOnClose, false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  Sliders[0] = new TFilterSlider(1, {"Panel1", "Label1", "Shape4", "Shape3", "Label4", "Label5", "Label8", "Label13"},
                                 3, this);
  Sliders[1] = new TFilterSlider(2, {"Panel2", "Label2", "Shape1", "Shape2", "Label6", "Label7", "Label9", "Label14"},
                                 2, this);
  Sliders[2] = new TFilterSlider(3, {"Panel7", "Label3", "Shape5", "Shape6", "Label10", "Label11", "Label12",
                                     "Label15"},
                                 6, this);
  for (TFilterSlider* s : Sliders) {
    layout->addWidget(s);
    connect(s, &TFilterSlider::Changed, this, &TForm1::SliderChanged);
  }

  Panel6 = MakePanel("Panel6", this);
  auto* row6 = new QHBoxLayout(Panel6);
  row6->setContentsMargins(8, 2, 8, 2);
  auto* boxes = new QVBoxLayout;
  CheckBox1 = new QCheckBox(Panel6);
  CheckBox1->setObjectName("CheckBox1");
  CheckBox2 = new QCheckBox(Panel6);
  CheckBox2->setObjectName("CheckBox2");
  boxes->addWidget(CheckBox1);
  boxes->addWidget(CheckBox2);
  row6->addLayout(boxes);
  RadioGroup1 = new TRadioGroup("Funktion", {"Linear", "Quadrat."}, 1, Panel6);
  RadioGroup1->setObjectName("RadioGroup1");
  row6->addWidget(RadioGroup1);
  layout->addWidget(Panel6);

  Panel8 = MakePanel("Panel8", this);
  auto* row8 = new QHBoxLayout(Panel8);
  row8->setContentsMargins(8, 2, 8, 2);
  RadioGroup3 = new TRadioGroup({}, {"Absolut", "Relativ"}, 2, Panel8);
  RadioGroup3->setObjectName("RadioGroup3");
  row8->addWidget(RadioGroup3);
  layout->addWidget(Panel8);

  Panel4 = MakePanel("Panel4", this);
  auto* row4 = new QHBoxLayout(Panel4);
  row4->setContentsMargins(8, 2, 8, 2);
  RadioGroup2 = new TRadioGroup("Farbe der Höfe", {"Rot", "Grün", "Blau", "Gelb", "Magenta", "Cyan"}, 3, Panel4);
  RadioGroup2->setObjectName("RadioGroup2");
  RadioGroup2->SetItemIndex(2);  // "Blau" until the user chooses
  row4->addWidget(RadioGroup2);
  layout->addWidget(Panel4);

  Panel3 = MakePanel("Panel3", this);
  auto* row3 = new QHBoxLayout(Panel3);
  row3->setContentsMargins(8, 6, 8, 6);
  Button1 = new QPushButton("&Ok", Panel3);
  Button1->setObjectName("Button1");
  Button2 = new QPushButton("&Abbruch", Panel3);
  Button2->setObjectName("Button2");
  Button3 = new QPushButton("&Berechnen", Panel3);
  Button3->setObjectName("Button3");
  row3->addWidget(Button1);
  row3->addWidget(Button2);
  row3->addWidget(Button3);
  layout->addWidget(Panel3);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(200);

  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
  auto enableCompute = [this] { Button3->setEnabled(true); };
  connect(CheckBox1, &QCheckBox::clicked, this, enableCompute);
  connect(CheckBox2, &QCheckBox::clicked, this, enableCompute);
  connect(RadioGroup1, &TRadioGroup::Clicked, this, enableCompute);
  connect(RadioGroup2, &TRadioGroup::Clicked, this, [this] { RunPreview(); });
  connect(RadioGroup3, &TRadioGroup::Clicked, this, [this] { RunPreview(); });
}

TForm1::~TForm1() = default;

QString TForm1::BerechnenText() { return TextOr(LangKey(6, 4), "Berechnen"); }
QString TForm1::UnterbrechenText() { return TextOr(LangKey(6, 6), "Unterbrechen"); }

void TForm1::TranslateOnce() {
  if (translated_ || !LanguageFileLoaded) return;
  translated_ = true;
  Button1->setText("&" + TextOr(LangKey(6, 1), "Ok"));
  Button2->setText("&" + TextOr(LangKey(6, 2), "Abbruch"));
}

void TForm1::FormShow() {
  if (MainWindowMinimised()) return;
  const int nr = FunktionNr;
  TFilterSession& s = FilterSession;
  s.Source = SlotPair.Source;
  s.Destination = SlotPair.Destination;
  s.Record = {};
  s.CloseOnHide = true;
  s.PreviewPending = false;
  okPending_ = abbruchPending_ = false;
  MovedWhileBusy = false;
  shown_ = true;
  TranslateOnce();

  SetOperationActive(true);
  InvalidateFilterBlur();
  const TFilterPanels panels = FilterPanels(nr);
  const TFunktionDef& d = FunktionDefTable[size_t(nr)];
  Sliders[1]->setVisible(panels.Slider2);
  Sliders[2]->setVisible(panels.Slider3);
  Panel6->setVisible(panels.Panel6);
  CheckBox2->setVisible(panels.CheckBox2);
  RadioGroup1->setVisible(panels.RadioGroup1);
  Panel4->setVisible(panels.Panel4);
  Panel8->setVisible(panels.Panel8);
  // "Funktion" shown without a chosen item takes the table's default, so that
  // the dialog shows the form the computation uses; a choice stays from show to show.
  if (panels.RadioGroup1 && RadioGroup1->ItemIndex() < 0) RadioGroup1->SetItemIndex(d.Radiogroup.Default);
  for (TFilterSlider* slider : Sliders)
    if (slider->Index() == 1 || !slider->isHidden()) slider->Setup(nr);
  CheckBox1->setText(QString::fromStdString(d.CheckBox[0].Caption));
  CheckBox1->setChecked(d.CheckBox[0].Checked != 0);
  CheckBox2->setText(QString::fromStdString(d.CheckBox[1].Caption));
  CheckBox2->setChecked(d.CheckBox[1].Checked != 0);

  Button1->setEnabled(true);
  Button2->setEnabled(true);
  SetButton3Computing(false);
  if (d.NeedsBerechnen) {
    Button3->show();
    const bool start = FunktionStartState[size_t(nr)] >= 1;
    Button3->setEnabled(start);
    if (start) Button1->setEnabled(false);
  } else {
    Button3->hide();
  }
  adjustSize();
  if (!placed_) {
    placed_ = true;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
      move(screen->availableGeometry().center() - rect().center());
  }

  if (nr == 15) CopyMarksToWindow(s.Source, s.Destination);
  ReleaseFilterSlot(FilterWorkSlot);
  if (const TFilterFunktion* f = FindFilterFunktion(nr); f && f->Shown) f->Shown(s.Source, s.Destination);
  if (!d.NeedsBerechnen) RunPreview();
}

void TForm1::FormHide() {
  if (!shown_ || MainWindowMinimised()) return;
  shown_ = false;
  Timer1->stop();
  TFilterSession& s = FilterSession;
  SlotPair = {s.Source, s.Destination};
  if (!Closing) SetOperationActive(false);
  // Every work slot goes, whatever the function: none may stay without a window.
  ReleaseFilterWorkSlots();
  const int nr = FunktionNr;
  if (const TFilterFunktion* f = FindFilterFunktion(nr); f && f->Hidden) f->Hidden(s.Source, s.Destination);
  CallUpdateMenuItems();
  if (nr >= 1 && nr <= FunktionCount) {
    TFunktionDef& d = FunktionDefTable[size_t(nr)];
    d.CheckBox[0].Checked = CheckBox1->isChecked() ? 1 : 0;
    d.CheckBox[1].Checked = CheckBox2->isChecked() ? 1 : 0;
  }
  SlotPair = {};
  const int dst = s.Destination;
  s.Source = s.Destination = -1;
  if (s.CloseOnHide && ValidSlot(dst) && Store.HasWindow[size_t(dst)]) CloseImageSlot(dst);
  s.CloseOnHide = false;
  // The side panel leaves a mode a start chose ("PSF schärfen" shows the PSF).
  if (!Closing && MainLink().SetInfoPanelMode) MainLink().SetInfoPanelMode(1);
}

void TForm1::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  if (!e->spontaneous()) FormHide();
}

void TForm1::closeEvent(QCloseEvent* e) {
  // The window's close button acts as "&Abbruch"; the dialog goes only when idle.
  e->ignore();
  Button2Click();
}

void TForm1::keyPressEvent(QKeyEvent* e) {
  // "&Abbruch" itself stops a running computation rather than closing.
  if (EscapeCancels(e, false, [this] { Button2Click(); })) return;
  QWidget::keyPressEvent(e);
}

void TForm1::wheelEvent(QWheelEvent* e) {
  const int dy = e->angleDelta().y();
  if (dy < 0) ZoomOutAtCursor();
  if (dy > 0) ZoomInAtCursor();
  e->accept();
}

void TForm1::SliderChanged(int index) {
  if (!ComputationDone) MovedWhileBusy = true;
  const int nr = FunktionNr;
  if (index == 1) {
    if (Button3->isHidden())
      Timer1->start();
    else if (FilterBlurValid)
      Button3->setEnabled(FunktionParamValue(nr, 1) != FilterBlurRadius);
    else
      Button3->setEnabled(true);
    return;
  }
  if (ComputationDone) {
    const bool keep = FilterBlurValid && !Button3->isEnabled() && (UsesBlurCache(nr) || (nr == 19 && index == 2));
    if (!keep) Button3->setEnabled(true);
  }
  Timer1->start();
}

void TForm1::SelectionChanged() {
  if (!isVisible()) return;
  if (!ComputationDone) MovedWhileBusy = true;
  Button3->setEnabled(true);
  if (FunktionNr == 19) Timer1->start();
}

TSlotPair TForm1::Pair() const {
  if (!shown_) return {};
  return {FilterSession.Source, FilterSession.Destination};
}

void TForm1::PartnerSwitched() {
  if (!shown_) return;
  InvalidateFilterBlur();
  if (Button3->isHidden()) {
    RunPreview();
    return;
  }
  if (!ComputationDone) MovedWhileBusy = true;
  Button3->setEnabled(true);
}

void TForm1::Timer1Timer() {
  if (!Button3->isHidden() && Button3->isEnabled()) return;
  ++PreviewGeneration;
  if (ComputationDone) {
    Timer1->stop();
    RunPreview();
  }
}

void TForm1::RunPreview() {
  RequestFilterPreview(*this);
  if (!FilterSession.PreviewRunning) RunPendingButtons();
}

void TForm1::RunPendingButtons() {
  if (abbruchPending_) {
    abbruchPending_ = okPending_ = false;
    Button2Click();
  } else if (okPending_) {
    okPending_ = false;
    Button1Click();
  }
}

void TForm1::Button3Click() {
  if (Button3->text().remove('&') == BerechnenText()) {
    SetButton3Computing(true);
    ++computing_;
    FunktionAusfuehren(*this);
    --computing_;
    if (computing_ == 0) RunPendingButtons();
  } else if (!AbortRequested) {
    AbortRequested = 1;
    FilterAbortRequested = 1;
  } else if (computing_ == 0) {
    // A second "Unterbrechen" with nothing running puts the buttons right again.
    SetOkAbbruchEnabled(true);
    ComputationDone = 1;
    SetButton3Computing(false);
  }
}

void TForm1::Button1Click() {
  if (!shown_) return;
  if (FilterSession.PreviewRunning) {
    okPending_ = true;
    return;
  }
  if (!ComputationDone || computing_ > 0) return;
  TFilterSession& s = FilterSession;
  SlotPair = {s.Source, s.Destination};
  SetOperationActive(false);
  if (FilterBlurValid) {
    ReleaseFilterSlot(FilterBlurSlot);
    InvalidateFilterBlur();
  }
  const int dst = s.Destination;
  if (s.Record.Computed) WriteFilterHistory(dst, Caption(), FilterHistoryTexts(FunktionNr, s.Record, *this));
  if (SlotInUse(dst)) ComputeHistogram(dst, false, true);
  CallUpdateStatusBar();
  s.CloseOnHide = false;
  hide();
}

void TForm1::Button2Click() {
  if (!shown_) return;
  ++PreviewGeneration;
  if (FilterSession.PreviewRunning) {
    abbruchPending_ = true;  // the preview stops at its next check, then the dialog goes
    return;
  }
  if (ComputationDone && computing_ == 0)
    hide();
  else
    AbortRequested = 1;
}

bool TForm1::CheckBoxChecked(int k) const {
  const QCheckBox* b = k == 1 ? CheckBox1 : CheckBox2;
  return !b->isHidden() && !Panel6->isHidden() && b->isChecked();
}

TRadioGroup* TForm1::Group(int group) const {
  return group == 1 ? RadioGroup1 : group == 3 ? RadioGroup3 : RadioGroup2;
}

int32_t TForm1::RadioIndex(int group) const { return Group(group)->ItemIndex(); }

std::string TForm1::RadioCaption(int group) const { return Group(group)->title().toStdString(); }

std::string TForm1::RadioItem(int group, int index) const { return Group(group)->Item(index).toStdString(); }

bool TForm1::Button3Visible() const { return !Button3->isHidden(); }

bool TForm1::Button3Enabled() const { return Button3->isEnabled(); }

void TForm1::SetButton3Enabled(bool on) { Button3->setEnabled(on); }

void TForm1::SetButton3Computing(bool computing) {
  Button3->setText("&" + (computing ? UnterbrechenText() : BerechnenText()));
}

void TForm1::SetOkAbbruchEnabled(bool on) {
  Button1->setEnabled(on);
  Button2->setEnabled(on);
}

std::string TForm1::Caption() const { return windowTitle().toStdString(); }

void TForm1::Redraw(int slot) { ImageChanged(slot); }

TForm1* FilterDialog() {
  RegisterDialogForm(1, [] {
    auto* form = new TForm1;
    // The main window disables image operations while it shows and hides it with itself.
    AttachToolWindow(TToolWindow::Filter, form);
    return form;
  });
  EnsureDialogForm(1);
  return qobject_cast<TForm1*>(DialogForm(1));
}

}  // namespace astrelon
