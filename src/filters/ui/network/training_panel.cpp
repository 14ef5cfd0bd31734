#include "filters/ui/network/training_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/language.h"
#include "filters/training/training_options.h"
#include "filters/ui/network/network_menus.h"
#include "kernels/network/network_phases.h"
#include "kernels/network/network_weights.h"
#include "shell/ui/controls/up_down.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_translation.h"
#include "shell/ui/main/main_window_link.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

QString Number(double v) { return QString::fromStdString(TrainingNumberText(v)); }

QPointer<QDockWidget>& Dock() {
  static QPointer<QDockWidget> dock;
  return dock;
}

}  // namespace

TTrainingPanel::TTrainingPanel(QWidget* parent) : QFrame(parent) {
  setObjectName("Panel2");
  setFrameShape(QFrame::StyledPanel);
  auto label = [this](const char* name, const QString& text) {
    auto* l = new QLabel(text, this);
    l->setObjectName(name);
    return l;
  };
  auto check = [this](const char* name, const QString& text) {
    auto* c = new QCheckBox(text, this);
    c->setObjectName(name);
    return c;
  };
  // The up/down controls only report their clicks.
  auto UpDown = [this](const char* name) {
    auto* u = new TUpDown(-1000000, 1000000, 0, this);
    u->setObjectName(name);
    u->setFixedSize(18, 22);
    return u;
  };
  Label9 = label("Label9", "Netzwerk Training:");
  Label10 = label("Label10", "Trainingsstärke:");
  RateLabel = label("Label12", "0.05000");
  UpDown1 = UpDown("UpDown1");
  Label11 = label("Label11", "Aktuelle Neuronenanzahl:");
  Label14 = label("Label14", {});
  auto phase = [this](const char* name, const QString& text, const QString& hint) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    b->setCheckable(true);
    b->setToolTip(hint);
    return b;
  };
  SpeedButton5nn = phase("SpeedButton5nn", "Phase1", "Die Verknüpfungen werden trainiert");
  SpeedButton7 = phase("SpeedButton7", "Phase2", "Die Funktionen von Layer1 werden geändert");
  SpeedButton8 = phase("SpeedButton8", "Phase3", "Die Funktionen von Layer2 werden geändert");
  CheckBox1 = check("CheckBox1", "Bild gut berechnen (verlangsamt das Training)");
  CheckBox3 = check("CheckBox3", "Gedrehte,");
  CheckBox4 = check("CheckBox4", "gespiegelte");
  Label16 = label("Label16", " Versionen des Bildes mit trainieren.");
  CheckBox2 = check("CheckBox2", "Autom. Phasen Weiterschaltung");
  ThresholdLabel = label("Label15", "0.00100");
  UpDown2 = UpDown("UpDown2");
  Button1 = new QPushButton("&Unterbrechen (ESC)", this);
  Button1->setObjectName("Button1");

  auto* rows = new QVBoxLayout(this);
  rows->setContentsMargins(6, 4, 6, 4);
  auto row = [rows](std::initializer_list<QWidget*> widgets) {
    auto* r = new QHBoxLayout;
    for (QWidget* w : widgets) r->addWidget(w);
    r->addStretch(1);
    rows->addLayout(r);
  };
  row({Label9, Label10, RateLabel, UpDown1, Label11, Label14, SpeedButton5nn, SpeedButton7, SpeedButton8});
  row({CheckBox1, CheckBox3, CheckBox4, Label16, CheckBox2, ThresholdLabel, UpDown2, Button1});

  connect(UpDown1, &TUpDown::Clicked, this, [this](bool up) {
    StepTrainingRate(up);
    ShowState();
  });
  connect(UpDown2, &TUpDown::Clicked, this, [this](bool up) {
    StepSwitchThreshold(up);
    ThresholdLabel->setText(Number(TrainingOptions.SwitchThreshold));
  });
  connect(SpeedButton5nn, &QPushButton::clicked, this, [this] { PhaseClicked(1); });
  connect(SpeedButton7, &QPushButton::clicked, this, [this] { PhaseClicked(2); });
  connect(SpeedButton8, &QPushButton::clicked, this, [this] { PhaseClicked(3); });
  connect(CheckBox1, &QCheckBox::toggled, this, [](bool on) { TrainingOptions.GoodImage = on; });
  connect(CheckBox3, &QCheckBox::toggled, this, [](bool on) { TrainingOptions.Rotated = on; });
  connect(CheckBox4, &QCheckBox::toggled, this, [](bool on) { TrainingOptions.Mirrored = on; });
  connect(CheckBox2, &QCheckBox::toggled, this, [](bool on) { TrainingOptions.AutoPhase = on; });
  connect(Button1, &QPushButton::clicked, this, [] { AbortRequested = 1; });
  // Esc in "Bild gut berechnen" interrupts too.
  CheckBox1->installEventFilter(this);
  TranslateTrainingPanel(this);
}

bool TTrainingPanel::eventFilter(QObject* watched, QEvent* e) {
  if (watched == CheckBox1 && e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) {
    AbortRequested = 1;
    return true;
  }
  return QFrame::eventFilter(watched, e);
}

void TTrainingPanel::PhaseClicked(int phase) {
  if (phase == 1)
    ReturnToPhase1();
  else if (phase == 2)
    SwitchToPhase2();
  else
    SwitchToPhase3();
  ShowState();
}

void TTrainingPanel::ShowState() {
  const TNetworkWeights& net = Network;
  RateLabel->setText(Number(net.Rate));
  ShowNeuronCount(net.Current, net.Top);
  SpeedButton7->setEnabled(TrainingControls.Phase2Enabled);
  SpeedButton8->setEnabled(TrainingControls.Phase2Enabled);
  SpeedButton5nn->setChecked(net.Phase == 1);
  SpeedButton7->setChecked(net.Phase == 2);
  SpeedButton8->setChecked(net.Phase == 3);
  ThresholdLabel->setText(Number(TrainingOptions.SwitchThreshold));
}

void TTrainingPanel::ProcessEvents() { QApplication::processEvents(); }

void TTrainingPanel::ShowProgress(int slot, int percent) {
  TImageWindowLink* w = ValidSlot(slot) && Store.HasWindow[size_t(slot)] ? Store.Window[size_t(slot)] : nullptr;
  if (!w) return;
  if (percent < 0)
    w->HideProgressBar();
  else
    w->ShowProgressBar(percent, "Bild berechnen");
}

void TTrainingPanel::Redraw(int slot) {
  if (SlotInUse(slot)) ImageChanged(slot);
}

void TTrainingPanel::ShowError(const std::string& text) { SetMainStatusText(3, QString::fromStdString(text)); }

TTrainingPanel* TrainingPanel() {
  auto* window = qobject_cast<QMainWindow*>(MainLink().Window.data());
  if (!window) return nullptr;
  QPointer<QDockWidget>& dock = Dock();
  if (!dock || dock->parent() != window) {
    dock = new QDockWidget(window);
    dock->setObjectName("TrainingPanelDock");
    dock->setFeatures(QDockWidget::NoDockWidgetFeatures);
    dock->setTitleBarWidget(new QWidget(dock));
    dock->setWidget(new TTrainingPanel(dock));
    window->addDockWidget(Qt::BottomDockWidgetArea, dock);
    dock->hide();
    MainLink().TrainingPanelVisible = [] { return Dock() && Dock()->isVisible(); };
  }
  return qobject_cast<TTrainingPanel*>(dock->widget());
}

void ShowNeuronCount(int32_t current, int32_t n) {
  TTrainingPanel* panel = TrainingPanel();
  if (!panel) return;
  const std::string word = LanguageFileLoaded ? LangText(LangKey(4, 9)) : std::string();
  const QString text = word.empty()
                           ? QString("%1 (von %2)").arg(current + 1).arg(n + 1)
                           : QString("%1 (%2  %3)").arg(current + 1).arg(QString::fromStdString(word)).arg(n + 1);
  panel->Label14->setText(text);
}

void ShowTrainingPanel(int32_t current, int32_t n, int32_t N) {
  AbortRequested = 0;
  DisableNetworkMenus();
  TTrainingPanel* panel = TrainingPanel();
  TNetworkWeights& net = Network;
  TTrainingControls& c = TrainingControls;
  c.Phase2Enabled = current >= n;
  if (net.TypeCode > 10 && net.Phase == 3) net.Phase = 2;
  if (current < n) net.Phase = 1;
  c.PressedPhase = net.Phase;
  c.PhaseSteps = net.Phase == 1 ? c.BaseSteps : 2 * c.BaseSteps;
  c.RateText = TrainingNumberText(net.Rate);
  if (!panel) return;
  panel->CheckBox3->setEnabled(N >= 4);
  panel->CheckBox4->setEnabled(N >= 4);
  panel->SpeedButton8->setVisible(net.TypeCode < 10);
  panel->CheckBox1->setChecked(TrainingOptions.GoodImage);
  panel->CheckBox2->setChecked(TrainingOptions.AutoPhase);
  panel->CheckBox3->setChecked(TrainingOptions.Rotated);
  panel->CheckBox4->setChecked(TrainingOptions.Mirrored);
  panel->ShowState();
  Dock()->show();
  CallUpdateMenuItems();
}

void HideTrainingPanel() {
  if (Dock()) Dock()->hide();
  EnableNetworkMenus();
  CallUpdateMenuItems();
}

}  // namespace astrelon
