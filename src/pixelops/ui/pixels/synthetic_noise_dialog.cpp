#include "pixelops/ui/pixels/synthetic_noise_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include "common/number_text.h"
#include "common/pascal_format.h"
#include "filters/ui/radio_group.h"
#include "shell/ui/dialogs/cancel_key.h"
#include "shell/ui/dialogs/translate_form.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/windows/histogram_refresh.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

QPointer<TForm28> Dialog;

constexpr int PreviewDelayMs = 100;
constexpr int DefaultSlider = 91;

}  // namespace

TForm28::TForm28() {
  setObjectName("Form28");
  setWindowTitle(QString::fromUtf8(" Rauschen hinzufügen"));
  setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
  setAttribute(Qt::WA_DeleteOnClose, false);

  RadioGroup3 = new TRadioGroup("Verteilung", {"Gauss", "Random"}, 1, this);
  RadioGroup3->setObjectName("RadioGroup3");
  RadioGroup1 = new TRadioGroup("Frequenz", {"Konstant", "Tiefpass"}, 1, this);
  RadioGroup1->setObjectName("RadioGroup1");
  TrackBar2 = new QSlider(Qt::Vertical, this);
  TrackBar2->setObjectName("TrackBar2");
  TrackBar2->setRange(0, 100);
  TrackBar2->setInvertedAppearance(true);
  Edit1 = new QLineEdit("10.0", this);
  Edit1->setObjectName("Edit1");
  auto* amountLabel = new QLabel(QString::fromUtf8("Stärke (rms)"), this);
  amountLabel->setObjectName("Label1");
  CheckBox1 = new QCheckBox(QString::fromUtf8("Stärke der Bildhelligkeit anpassen"), this);
  CheckBox1->setObjectName("CheckBox1");
  OkButton = new QPushButton("&Ok", this);
  OkButton->setObjectName("Button1");
  AbbrechenButton = new QPushButton("&Abbrechen", this);
  AbbrechenButton->setObjectName("Button2");
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setSingleShot(true);
  Timer1->setInterval(PreviewDelayMs);

  auto* choices = new QVBoxLayout;
  choices->addWidget(RadioGroup3);
  choices->addWidget(RadioGroup1);
  auto* amount = new QHBoxLayout;
  amount->addWidget(amountLabel);
  amount->addWidget(Edit1);
  choices->addLayout(amount);
  choices->addWidget(CheckBox1);
  choices->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(OkButton);
  buttons->addWidget(AbbrechenButton);
  auto* top = new QHBoxLayout;
  top->addLayout(choices, 1);
  top->addWidget(TrackBar2);
  auto* outer = new QVBoxLayout(this);
  outer->addLayout(top, 1);
  outer->addLayout(buttons);

  {
    const QSignalBlocker block(TrackBar2);
    TrackBar2->setValue(DefaultSlider);
  }
  RadioGroup3->SetItemIndex(0);
  RadioGroup1->SetItemIndex(0);

  connect(TrackBar2, &QSlider::valueChanged, this,
          [this](int position) { Edit1->setText(QString::fromStdString(NoiseAmountText(position))); });
  connect(Edit1, &QLineEdit::textChanged, this, [this] { Timer1->start(); });
  connect(RadioGroup3, &TRadioGroup::Clicked, this, [this] { ComputeSoon(); });
  connect(RadioGroup1, &TRadioGroup::Clicked, this, [this] { ComputeSoon(); });
  connect(CheckBox1, &QCheckBox::clicked, this, [this] { ComputeSoon(); });
  connect(Timer1, &QTimer::timeout, this, &TForm28::Timer1Timer);
  connect(OkButton, &QPushButton::clicked, this, &TForm28::OkClick);
  connect(AbbrechenButton, &QPushButton::clicked, this, &QWidget::close);
}

TForm28::~TForm28() = default;

void TForm28::Start(int source, int destination) {
  source_ = source;
  destination_ = destination;
  SlotPair = {source, destination};
  SetOperationActive(true);
  running_ = true;
  if (SyntheticNoise.Valid) {
    const TNoiseSettings& last = SyntheticNoise.Last;
    const QSignalBlocker block(Edit1);
    Edit1->setText(QString::fromStdString(FloatToStr(last.Amount)));
    RadioGroup3->SetItemIndex(last.Distribution == TNoiseDistribution::Random ? 1 : 0);
    RadioGroup1->SetItemIndex(last.LowPass ? 1 : 0);
    CheckBox1->setChecked(last.BrightnessScaled);
  }
  show();
  TranslateForm("Form28");
  raise();
  Timer1->start();
}

std::optional<TNoiseSettings> TForm28::ChosenSettings() const {
  const std::optional<double> amount = TryStrToFloat32Dot(Edit1->text().trimmed().toStdString());
  if (!amount) return std::nullopt;
  TNoiseSettings s;
  s.Amount = *amount;
  s.Distribution = RadioGroup3->ItemIndex() == 1 ? TNoiseDistribution::Random : TNoiseDistribution::Gauss;
  s.LowPass = RadioGroup1->ItemIndex() == 1;
  s.BrightnessScaled = CheckBox1->isChecked();
  return s;
}

TSlotPair TForm28::Pair() const {
  if (!running_) return {};
  return {source_, destination_};
}

void TForm28::PartnerSwitched() {
  if (running_) ComputeSoon();
}

void TForm28::ComputeSoon() {
  if (SyntheticNoise.Busy) {
    AbortRequested = 1;
    Timer1->start();
    return;
  }
  Compute();
}

void TForm28::Compute() {
  if (!running_ || !SlotInUse(source_) || !SlotInUse(destination_)) return;
  // An amount that is not a number computes nothing; the last preview stays.
  const std::optional<TNoiseSettings> settings = ChosenSettings();
  if (!settings) return;
  const int source = source_, destination = destination_;
  bool done = AddSyntheticNoise(source, destination, *settings);
  if (okPending_) {
    // Ok was pressed meanwhile: it takes a complete result.
    okPending_ = false;
    if (!done && running_) done = AddSyntheticNoise(source, destination, *settings);
    if (done && running_) OkClick();
    return;
  }
  if (running_ && SlotInUse(destination)) ImageChanged(destination);
}

void TForm28::Timer1Timer() {
  Timer1->stop();
  if (SyntheticNoise.Busy) {
    AbortRequested = 1;
    for (int k = 0; k < 9 && SyntheticNoise.Busy; ++k) {
      QThread::msleep(20);
      QApplication::processEvents();
    }
  }
  if (SyntheticNoise.Busy) {
    Timer1->start();
    return;
  }
  Compute();
}

void TForm28::OkClick() {
  if (!running_) return;
  if (SyntheticNoise.Busy) {
    // The running preview ends first; Ok then acts on its result.
    okPending_ = true;
    return;
  }
  Timer1->stop();
  if (SlotInUse(destination_)) {
    const std::string text = windowTitle().toStdString() + " " + "Stärke (rms)" + " " + Edit1->text().toStdString();
    AddHistoryCard(destination_, text, 1);
    ComputeHistogram(destination_, false, true);
    RefreshHistogramWindow();
    ImageChanged(destination_);
  }
  EndOperation(true);
  close();
}

void TForm28::EndOperation(bool keep) {
  if (!running_) return;
  running_ = false;
  Timer1->stop();
  if (SyntheticNoise.Busy) AbortRequested = 1;
  SlotPair = {source_, destination_};
  SetOperationActive(false);
  SlotPair = {};
  if (!keep && SlotInUse(destination_)) CloseImageSlot(destination_);
}

void TForm28::keyPressEvent(QKeyEvent* e) {
  if (EscapeCancels(e, false, [this] { close(); })) return;
  QWidget::keyPressEvent(e);
}

void TForm28::closeEvent(QCloseEvent* e) {
  EndOperation(false);
  e->accept();
}

TForm28* EnsureSyntheticNoiseDialog() {
  if (!Dialog) Dialog = new TForm28();
  return Dialog;
}

TForm28* SyntheticNoiseDialog() { return Dialog; }

}  // namespace astrelon
