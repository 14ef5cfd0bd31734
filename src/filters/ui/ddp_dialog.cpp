#include "filters/ui/ddp_dialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "common/pascal_format.h"
#include "core/busy_cursor.h"
#include "core/language.h"
#include "core/packed_params.h"
#include "core/settings.h"
#include "filters/ui/radio_group.h"
#include "shell/ui/controls/control_utils.h"
#include "shell/ui/dialogs/cancel_key.h"
#include "shell/ui/dialogs/translate_form.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/histogram_refresh.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int GammaTimerMs = 100;

QSlider* MakeSlider(QWidget* parent) {
  auto* s = new QSlider(Qt::Horizontal, parent);
  s->setRange(0, DdpSliderMax);
  return s;
}

QString RadiusText(int position) { return QString::fromStdString(FloatToStr(position * 0.1)); }

// "&Berechnen", translated as the filter dialog's button when a language is loaded.
QString ComputeCaption() { return "&" + QString::fromStdString(LangTextOr(LangKey(6, 4), "Berechnen")); }

}  // namespace

TForm16::TForm16() {
  setObjectName("Form16");
  setWindowTitle("DDP");
  setWindowFlags(Qt::Tool);
  auto* layout = new QVBoxLayout(this);
  auto* gammaRow = new QHBoxLayout;
  gammaRow->addWidget(new QLabel("Gammawert:", this));
  TrackBar1 = MakeSlider(this);
  TrackBar1->setObjectName("TrackBar1");
  gammaRow->addWidget(TrackBar1);
  layout->addLayout(gammaRow);

  auto* sharpening = new QGroupBox(QString::fromUtf8("Schärfung"), this);
  auto* radiusRow = new QHBoxLayout(sharpening);
  radiusRow->addWidget(new QLabel("Radius:", sharpening));
  TrackBar3 = MakeSlider(sharpening);
  TrackBar3->setObjectName("TrackBar3");
  radiusRow->addWidget(TrackBar3);
  Label8 = new QLabel("1.5", sharpening);
  Label8->setObjectName("Label8");
  radiusRow->addWidget(Label8);
  layout->addWidget(sharpening);

  auto* colour = new QGroupBox(QString::fromUtf8("Farbverstärkung"), this);
  auto* masks = new QHBoxLayout(colour);
  const QStringList items{"R", "G", "B", "L"};
  RadioGroup1 = new TRadioGroup("Rotmaske", items, 4, colour);
  RadioGroup2 = new TRadioGroup(QString::fromUtf8("Grünmaske"), items, 4, colour);
  RadioGroup3 = new TRadioGroup("Blaumaske", items, 4, colour);
  RadioGroup1->setObjectName("RadioGroup1");
  RadioGroup2->setObjectName("RadioGroup2");
  RadioGroup3->setObjectName("RadioGroup3");
  RadioGroup1->SetItemIndex(DdpMaskR);
  RadioGroup2->SetItemIndex(DdpMaskG);
  RadioGroup3->SetItemIndex(DdpMaskB);
  for (TRadioGroup* g : {RadioGroup1, RadioGroup2, RadioGroup3}) {
    masks->addWidget(g);
    connect(g, &TRadioGroup::Clicked, this, [this](int) { RadioClicked(); });
  }
  layout->addWidget(colour);

  auto* buttons = new QHBoxLayout;
  Button1 = new QPushButton("&Berechnen", this);
  Button2 = new QPushButton("&Ok", this);
  Button3 = new QPushButton("&Abbruch", this);
  Button1->setObjectName("Button1");
  Button2->setObjectName("Button2");
  Button3->setObjectName("Button3");
  for (QPushButton* b : {Button1, Button2, Button3}) buttons->addWidget(b);
  layout->addLayout(buttons);

  Timer1 = new QTimer(this);
  Timer1->setSingleShot(true);
  Timer1->setInterval(GammaTimerMs);
  connect(Timer1, &QTimer::timeout, this, &TForm16::Timer1Timer);
  connect(TrackBar1, &QSlider::valueChanged, this, [this](int) { Timer1->start(); });
  connect(TrackBar3, &QSlider::valueChanged, this, &TForm16::RadiusMoved);
  connect(Button1, &QPushButton::clicked, this, &TForm16::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm16::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm16::Button3Click);
}

TForm16::~TForm16() { session_.End(); }

bool TForm16::Prepare(int source, int destination) {
  if (!session_.Start(source, destination)) return false;
  source_ = source;
  destination_ = destination;
  const bool colour = Store.Image[size_t(source)].IsColor && Store.Image[size_t(source)].PlaneCount >= 3;
  for (TRadioGroup* g : {RadioGroup1, RadioGroup2, RadioGroup3}) g->setEnabled(colour);
  return true;
}

void TForm16::ComputeDDP() {
  if (computing_ || !session_.Active()) return;
  TBusyCursorScope busy;
  computing_ = true;
  const std::array<int32_t, 4> masks{-1, RadioGroup1->ItemIndex(), RadioGroup2->ItemIndex(), RadioGroup3->ItemIndex()};
  cachedGamma_ = TrackBar1->value();
  const TDdpCompute r = session_.Compute(cachedGamma_, TrackBar3->value(), masks, Options.Multicore != 0);
  computing_ = false;
  if (r == TDdpCompute::Done) {
    ImageChanged(destination_);
    Button1->setEnabled(false);
  } else {
    // Stopped: the blur is to be made again, so "&Berechnen" stays available.
    Button1->setEnabled(true);
  }
  HideProgress(destination_);
  Button1->setText(ComputeCaption());
  AbortRequested = 0;
  if (closePending_) {
    closePending_ = false;
    close();
  }
}

void TForm16::Button1Click() {
  if (computing_) {
    AbortRequested = 1;
    return;
  }
  Button1->setText("&Unterbrechen");
  AbortRequested = 0;
  ComputeDDP();
}

void TForm16::Button2Click() {
  if (computing_) return;
  session_.End();
  if (SlotInUse(destination_)) {
    AddHistoryCard(destination_, windowTitle().remove('&').toStdString(), 1);
    ComputeHistogram(destination_, false, true);
  }
  discard_ = false;
  hide();
  RefreshHistogramWindow();
}

void TForm16::Button3Click() {
  if (computing_) return;
  discard_ = true;
  hide();
}

void TForm16::Timer1Timer() {
  Timer1->stop();
  if (!Button1->isEnabled() && TrackBar1->value() != cachedGamma_) ComputeDDP();
}

void TForm16::RadiusMoved(int position) {
  Label8->setText(RadiusText(position));
  Button1->setEnabled(position != session_.CachedRadius());
}

void TForm16::RadioClicked() {
  if (!Button1->isEnabled()) ComputeDDP();
}

void TForm16::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (!e->spontaneous()) FormShow();
}

void TForm16::FormShow() {
  if (shown_) return;
  shown_ = true;
  discard_ = true;
  closePending_ = false;
  SlotPair = {source_, destination_};
  SetOperationActive(true);
  const QSignalBlocker b1(TrackBar1), b3(TrackBar3);
  TrackBar1->setValue(std::clamp(GetParamDigits(DdpGammaParam), 0, DdpSliderMax));
  TrackBar3->setValue(std::clamp(GetParamDigits(DdpRadiusParam), 0, DdpSliderMax));
  Label8->setText(RadiusText(TrackBar3->value()));
  if (LanguageFileLoaded && DialogFormNeedsTranslation(DdpForm)) {
    TranslateForm("Form16");
    SetDialogFormTranslated(DdpForm);
  }
  Button1->setEnabled(false);
  cachedGamma_ = -1;
  session_.InvalidateBlur();
  ComputeDDP();
}

void TForm16::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  if (!e->spontaneous()) FormHide();
}

void TForm16::FormHide() {
  if (!shown_) return;
  if (computing_) {
    closePending_ = true;
    AbortRequested = 1;
    return;
  }
  shown_ = false;
  Timer1->stop();
  session_.End();
  SlotPair = {source_, destination_};
  SetOperationActive(false);
  if (discard_ && SlotInUse(destination_)) CloseImageSlot(destination_);
  SetParamDigits(DdpGammaParam, TrackBar1->value());
  SetParamDigits(DdpRadiusParam, TrackBar3->value());
  SlotPair = {};
  source_ = destination_ = -1;
  CallUpdateMenuItems();
}

void TForm16::closeEvent(QCloseEvent* e) {
  if (computing_) {
    e->ignore();
    closePending_ = true;
    AbortRequested = 1;
    return;
  }
  QWidget::closeEvent(e);
  FormHide();
  ReleaseDialogForm(objectName());
}

void TForm16::keyPressEvent(QKeyEvent* e) {
  if (EscapeCancels(e, computing_, [this] { Button3Click(); })) return;
  QWidget::keyPressEvent(e);
}

TForm16* DdpDialog() { return qobject_cast<TForm16*>(DialogForm(DdpForm)); }

void DDP1Click(QAction* sender) {
  if (!EnsureDialogForm(DdpForm)) return;
  TForm16* form = DdpDialog();
  if (!form) return;
  if (form->isVisible()) {
    form->raise();
    return;
  }
  const int active = FindActiveSlot();
  if (active < 1) return;
  if (Store.Image[size_t(active)].IsColor && Store.Image[size_t(active)].ColorModel == CmYuv) YUVtoRGB(active);
  if (!NewResultSlot()) return;
  const int src = SlotPair.Source, dst = SlotPair.Destination;
  if (!form->Prepare(src, dst)) {
    CloseImageSlot(dst);
    SlotPair = {};
    return;
  }
  ShowImageWindow(dst);
  FadeInForm(form);
  AddRecentFunction(sender);
}

void RegisterDdpCommands() {
  RegisterDialogForm(DdpForm, [] { return new TForm16; });
  RegisterFormLauncher("DDP1", DdpForm, DDP1Click);
}

}  // namespace astrelon
