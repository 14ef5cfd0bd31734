#include "frequency/ui/wavelet_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <new>

#include "common/engine_ui.h"
#include "common/number_text.h"
#include "common/pascal_format.h"
#include "common/paths.h"
#include "core/busy_cursor.h"
#include "core/language.h"
#include "filters/ui/radio_group.h"
#include "frequency/wavelet/wavelet_noise_filter.h"
#include "frequency/wavelet/wavelet_pyramid.h"
#include "pixelops/ui/tool_launch_commands.h"
#include "shell/main/main_services.h"
#include "shell/ui/controls/control_utils.h"
#include "shell/ui/dialogs/cancel_key.h"
#include "shell/ui/dialogs/translate_form.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/main/preview_partners.h"
#include "shell/ui/menu/main_menu.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/histogram_refresh.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"

namespace astrelon {

namespace {

constexpr const char* FileFilter = "Wavelet Einstellungen (*.wvl)";
constexpr int GainSliders = 4;  // TrackBar5..TrackBar8 (index 4..7)

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.trimmed().toStdString(); }

// The text a slider writes into its field: (position / 16)² for the layers,
// (position / 25)² for the strength.
QString SliderText(int index, int position) {
  if (index == 8) return Q(FloatToStrF(std::pow(position / 25.0, 2), TFloatFormat::Fixed, 4, 2));
  return Q(FloatToStrF(std::pow(position / 16.0, 2), TFloatFormat::Fixed, 3, 2));
}

}  // namespace

TForm23::TForm23() : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName("Form23");
  setWindowTitle("Wavelet Rauschfilter");
  setAttribute(Qt::WA_QuitOnClose, false);
  auto* layout = new QVBoxLayout(this);

  auto* grid = new QGridLayout;
  auto* thresholdTitle = new QLabel("Rauschschwelle", this);
  thresholdTitle->setObjectName("Label10");
  auto* gainTitle = new QLabel("Detail Verstärkung", this);
  gainTitle->setObjectName("Label11");
  grid->addWidget(thresholdTitle, 0, 1, 1, 2);
  grid->addWidget(gainTitle, 0, 3, 1, 2);
  for (int i = 0; i < 9; ++i) {
    auto* slider = new QSlider(Qt::Horizontal, this);
    slider->setObjectName(QString("TrackBar%1").arg(i + 1));
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString("Edit%1").arg(i + 1));
    edit->setFixedWidth(52);
    edit->setText("1.00");
    if (i == 8) {
      slider->setRange(2, 76);
      slider->setTickInterval(2);
      slider->setSingleStep(2);
      slider->setValue(25);
    } else {
      slider->setRange(0, 32);
      slider->setValue(16);
    }
    TrackBars[size_t(i)] = slider;
    Edits[size_t(i)] = edit;
    connect(slider, &QSlider::valueChanged, this, [this, i] { TrackBarChange(i); });
    connect(edit, &QLineEdit::textChanged, this, [this, i] { EditChange(i); });
  }
  for (int l = 0; l < 4; ++l) {
    auto* label = new QLabel(QString("Layer %1").arg(l + 1), this);
    label->setObjectName(QString("Label%1").arg(l + 1));
    grid->addWidget(label, l + 1, 0);
    grid->addWidget(TrackBars[size_t(l)], l + 1, 1);
    grid->addWidget(Edits[size_t(l)], l + 1, 2);
    grid->addWidget(TrackBars[size_t(l + 4)], l + 1, 3);
    grid->addWidget(Edits[size_t(l + 4)], l + 1, 4);
  }
  auto* strength = new QLabel(QString::fromUtf8("Gesamtstärke:"), this);
  strength->setObjectName("Label9");
  grid->addWidget(strength, 5, 0);
  grid->addWidget(TrackBars[8], 5, 1);
  grid->addWidget(Edits[8], 5, 2);
  layout->addLayout(grid);

  auto* options = new QHBoxLayout;
  RadioGroup1 = new TRadioGroup(QString::fromUtf8("Thresholdhärte"), {"1", "2", "3", "4"}, 4, this);
  RadioGroup1->setObjectName("RadioGroup1");
  RadioGroup1->SetItemIndex(1);
  CheckBox1 = new QCheckBox("Bessere Berechnung", this);
  CheckBox1->setObjectName("CheckBox1");
  options->addWidget(RadioGroup1);
  options->addWidget(CheckBox1);
  layout->addLayout(options);
  connect(RadioGroup1, &TRadioGroup::Clicked, this, [this] { Button3->setEnabled(true); });
  connect(CheckBox1, &QCheckBox::toggled, this, [this] { Button3->setEnabled(true); });

  auto* buttons = new QHBoxLayout;
  Button1 = new QPushButton("&Ok", this);
  Button1->setObjectName("Button1");
  Button2 = new QPushButton("&Abbrechen", this);
  Button2->setObjectName("Button2");
  Button3 = new QPushButton("&Berechnen", this);
  Button3->setObjectName("Button3");
  Button3->setToolTip(QString::fromUtf8("Für schnelle Vorschau einen Ausschnitt im Bild markieren"));
  Button4 = new QPushButton(QString::fromUtf8("Werte zurücksetzen"), this);
  Button4->setObjectName("Button4");
  SpeedButton1 = new QToolButton(this);
  SpeedButton1->setObjectName("SpeedButton1");
  SpeedButton1->setText(QString::fromUtf8("&Laden"));
  SpeedButton1->setToolTip("Einstellungen laden");
  SpeedButton2 = new QToolButton(this);
  SpeedButton2->setObjectName("SpeedButton2");
  SpeedButton2->setText(QString::fromUtf8("&Speichern"));
  SpeedButton2->setToolTip("Einstellungen speichern");
  for (QPushButton* b : {Button1, Button2, Button3, Button4}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  buttons->addWidget(SpeedButton1);
  buttons->addWidget(SpeedButton2);
  layout->addLayout(buttons);
  connect(Button1, &QPushButton::clicked, this, &TForm23::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm23::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm23::Button3Click);
  connect(Button4, &QPushButton::clicked, this, &TForm23::Button4Click);
  connect(SpeedButton1, &QToolButton::clicked, this, &TForm23::SpeedButton1Click);
  connect(SpeedButton2, &QToolButton::clicked, this, &TForm23::SpeedButton2Click);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(200);
  Timer1->setSingleShot(true);
  connect(Timer1, &QTimer::timeout, this, &TForm23::Timer1Timer);
  OpenDialog1 = MakeParameterFileDialog(this, false, FileFilter, "wvl");
  SaveDialog1 = MakeParameterFileDialog(this, true, FileFilter, "wvl");
}

TForm23::~TForm23() = default;

void TForm23::TrackBarChange(int index) {
  Edits[size_t(index)]->setText(SliderText(index, TrackBars[size_t(index)]->value()));
  if (index >= 4 && index < 4 + GainSliders) Timer1->start();
}

void TForm23::EditChange(int index) {
  if (index >= 4 && index < 4 + GainSliders) {
    // A gain: the result is rebuilt once the thresholds' filtering is current.
    if (!Button3->isEnabled()) Timer1->start();
    return;
  }
  Button3->setEnabled(true);
}

void TForm23::Timer1Timer() {
  Timer1->stop();
  if (Button3->isEnabled() || computing_ || !SlotInUse(destination_)) return;
  TWaveletNumbers n;
  if (!WaveletNumbers(CurrentSettings(), n)) return;
  TPyramidSet& set = PyramidSets[0];
  {
    TBusyCursorScope busy;
    // The planes and rectangle the set was built from, whatever the selections are now.
    for (int p = 1; p <= 3; ++p)
      if (set.Built[size_t(p)]) CollapsePyramid(0, destination_, p, set.LevelCount, n.Gains, set.Rect);
  }
  ImageChanged(destination_);
}

void TForm23::SetComputing(bool on) {
  computing_ = on;
  Button3->setText(on ? "&Unterbrechen" : "&Berechnen");
  Button1->setEnabled(!on);
  Button2->setEnabled(!on);
}

void TForm23::Button3Click() {
  if (computing_) {
    AbortRequested = 1;
    Button3->setEnabled(false);
    return;
  }
  if (!SlotInUse(source_) || !SlotInUse(destination_)) return;
  const TWaveletSettings settings = CurrentSettings();
  TWaveletNumbers n;
  if (!WaveletNumbers(settings, n)) {
    EngineUi().ShowMessage("Die Schwellen, Verstärkungen und die Gesamtstärke müssen Zahlen sein.");
    return;
  }
  SetComputing(true);
  AbortRequested = 0;
  const int dst = destination_;
  {
    TBusyCursorScope busy;
    SetWorkRectFromWindow(dst, 1, false);
    const TRectI rect = GetSelectionRect();
    TWaveletFilterOptions options;
    options.Hardness = settings.Hardness;
    options.Thresholds = n.Thresholds;
    options.Better = settings.Better;
    options.ShowProgress = settings.Better;
    const std::string caption = windowTitle().toStdString();
    try {
      BuildPyramid(source_, 0, 4, rect);
      const TImageSlot& im = Store.Image[size_t(dst)];
      const float h = float(im.Height);
      for (int p = FirstChannel(dst); p >= 1 && p <= std::min(im.PlaneCount, 3); NextChannel(dst, p)) {
        if (!AbortRequested) ShowProgress(dst, dst, p, settings.Better ? h * 0.05f : h * 0.3f, false, false, false, false, caption);
        if (!AbortRequested && SlotInUse(source_)) PyramidNoiseFilter(source_, 0, p, options, dst, rect);
        if (!AbortRequested) ShowProgress(dst, dst, p, settings.Better ? h - 1 : h * 0.7f, false, false, false, false, caption);
        if (!AbortRequested && SlotInUse(dst)) CollapsePyramid(0, dst, p, 4, n.Gains, rect);
      }
    } catch (const std::bad_alloc&) {
      AbortRequested = 1;
      EngineUi().ShowMessage("Nicht genug Speicher");
    }
  }
  const bool interrupted = AbortRequested != 0;
  SetComputing(false);
  Button3->setEnabled(interrupted);
  if (SlotInUse(dst)) {
    ImageChanged(dst);
    HideProgress(dst);
  }
  if (closePending_) {
    // Closed while computing: the close ends now.
    closePending_ = false;
    close();
  }
}

void TForm23::Button1Click() {
  if (computing_) return;
  if (SlotInUse(destination_)) {
    AddHistoryCard(destination_, windowTitle().remove('&').toStdString(), 1);
    ComputeHistogram(destination_, false, true);
  }
  discard_ = false;
  hide();
  RefreshHistogramWindow();
}

void TForm23::Button2Click() {
  if (computing_) return;
  discard_ = true;
  hide();
}

void TForm23::Button4Click() {
  // Each slider moves away and back, so that each reports a change.
  for (int i = 0; i < 8; ++i) {
    TrackBars[size_t(i)]->setValue(17);
    TrackBars[size_t(i)]->setValue(16);
  }
  TrackBars[8]->setValue(26);
  TrackBars[8]->setValue(25);
  RadioGroup1->SetItemIndex(1);
}

void TForm23::SpeedButton1Click() {
  if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty()) return;
  LoadSettingsFile(OpenDialog1->selectedFiles().first());
}

void TForm23::SpeedButton2Click() {
  if (SaveDialog1->exec() != QDialog::Accepted || SaveDialog1->selectedFiles().isEmpty()) return;
  SaveSettingsFile(SaveDialog1->selectedFiles().first());
}

bool TForm23::LoadSettingsFile(const QString& fileName) {
  TWaveletSettings s;
  std::string error;
  const TWaveletFileRead read = ReadWaveletSettings(fileName.toStdString(), s, &error);
  if (read == TWaveletFileRead::Refused) EngineUi().ShowMessage(error);
  if (read != TWaveletFileRead::Read) return false;
  ShowSettings(s);
  SaveDialog1->selectFile(fileName);
  return true;
}

bool TForm23::SaveSettingsFile(const QString& fileName) {
  const std::string name = ChangeFileExt(fileName.toStdString(), WaveletSettingsExtension);
  std::string error;
  if (!WriteWaveletSettings(name, CurrentSettings(), &error)) {
    EngineUi().ShowMessage(error.empty() ? "Die Datei " + name + " konnte nicht geschrieben werden." : error);
    return false;
  }
  return true;
}

TWaveletSettings TForm23::CurrentSettings() const {
  TWaveletSettings s;
  s.Hardness = std::clamp(RadioGroup1->ItemIndex(), 0, 3);
  s.Strength = S(Edits[8]->text());
  for (size_t l = 0; l < 4; ++l) {
    s.Thresholds[l] = S(Edits[l]->text());
    s.Gains[l] = S(Edits[l + 4]->text());
  }
  s.Better = CheckBox1->isChecked();
  return s;
}

void TForm23::ShowSettings(const TWaveletSettings& s) {
  RadioGroup1->SetItemIndex(std::clamp(s.Hardness, 0, 3));
  Edits[8]->setText(Q(s.Strength));
  for (size_t l = 0; l < 4; ++l) {
    Edits[l]->setText(Q(s.Thresholds[l]));
    Edits[l + 4]->setText(Q(s.Gains[l]));
  }
  CheckBox1->setChecked(s.Better);
  Button3->setEnabled(true);
}

void TForm23::SelectionChanged() {
  if (isVisible()) Button3->setEnabled(true);
}

TSlotPair TForm23::Pair() const {
  if (!shown_) return {};
  return {source_, destination_};
}

void TForm23::PartnerSwitched() {
  if (!shown_) return;
  // The pyramid holds the planes of the other model: it must be filtered anew.
  if (computing_) {
    AbortRequested = 1;
    return;
  }
  Timer1->stop();
  FreePyramid(0);
  Button3->setEnabled(true);
}

void TForm23::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (!e->spontaneous()) FormShow();
}

void TForm23::FormShow() {
  if (shown_) return;
  shown_ = true;
  source_ = SlotPair.Source;
  destination_ = SlotPair.Destination;
  SetOperationActive(true);
  discard_ = true;
  closePending_ = false;
  Button3->setEnabled(true);
  Button1->setEnabled(false);
  if (!captionSet_ || DialogFormNeedsTranslation(WaveletFilterForm)) {
    captionSet_ = true;
    if (QAction* item = MainMenuItem("WaveletFilter1")) setWindowTitle(item->text().remove('&'));
    if (LanguageFileLoaded) TranslateForm("Form23");
    SetDialogFormTranslated(WaveletFilterForm);
  }
}

void TForm23::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  if (!e->spontaneous()) FormHide();
}

void TForm23::FormHide() {
  if (!shown_) return;
  if (computing_) {
    // Hidden from outside while computing: it ends once the computation returns.
    closePending_ = true;
    AbortRequested = 1;
    return;
  }
  shown_ = false;
  Timer1->stop();
  SlotPair = {source_, destination_};
  SetOperationActive(false);
  if (discard_ && SlotInUse(destination_)) CloseImageSlot(destination_);
  CallUpdateMenuItems();
  FreePyramid(0);
  SlotPair = {};
  source_ = destination_ = -1;
}

void TForm23::closeEvent(QCloseEvent* e) {
  if (computing_) {
    // The filter loop works on the pyramid: the close waits until it has stopped.
    e->ignore();
    closePending_ = true;
    AbortRequested = 1;
    return;
  }
  QWidget::closeEvent(e);
  FormHide();
  // The next use makes and translates the dialog anew.
  ReleaseDialogForm(objectName());
}

void TForm23::keyPressEvent(QKeyEvent* e) {
  if (EscapeCancels(e, computing_, [this] { Button2Click(); })) return;
  QWidget::keyPressEvent(e);
}

void TForm23::wheelEvent(QWheelEvent* e) {
  const int dy = e->angleDelta().y();
  if (dy < 0) ZoomOutAtCursor();
  if (dy > 0) ZoomInAtCursor();
  e->accept();
}

TForm23* WaveletDialog() { return qobject_cast<TForm23*>(DialogForm(WaveletFilterForm)); }

void RegisterWaveletCommands() {
  RegisterDialogForm(WaveletFilterForm, [] { return new TForm23; });
  RegisterPreviewPartner(WaveletFilterForm, DialogPartner(WaveletDialog));
  static bool hooked = false;
  if (hooked) return;
  hooked = true;
  // Image windows enable "&Berechnen" when a selection is drawn, moved or hidden.
  auto previous = std::move(TMDIChild::SelectionChangedHook);
  TMDIChild::SelectionChangedHook = [previous](TMDIChild& w, int kind) {
    if (previous) previous(w, kind);
    if (TForm23* form = WaveletDialog()) form->SelectionChanged();
  };
}

}  // namespace astrelon
