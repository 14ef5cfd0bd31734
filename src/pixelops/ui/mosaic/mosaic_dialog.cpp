#include "pixelops/ui/mosaic/mosaic_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QScopeGuard>
#include <QToolButton>

#include "common/engine_ui.h"
#include "common/number_text.h"
#include "core/settings.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "pixelops/mosaic/mosaic_conversion.h"
#include "pixelops/mosaic/mosaic_passes.h"
#include "pixelops/mosaic/mosaic_settings_file.h"
#include "shell/ui/controls/control_utils.h"
#include "shell/ui/dialogs/cancel_key.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/histogram_refresh.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/slot_holds.h"

namespace astrelon {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The Qt file-dialog filter of "Name|*.ext".
QString FileFilter() {
  const QString f = MosaicSettingsFilter;
  const qsizetype bar = f.indexOf('|');
  return f.left(bar) + " (" + f.mid(bar + 1) + ")";
}

}  // namespace

TForm13::TForm13(QWidget* parent) : QDialog(parent) {
  setObjectName("Form13");
  setWindowTitle("Farb-CCD zu RGB");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
  setModal(false);
  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel("Farbmuster des CCD:"), 0, 0, 1, 2);
  for (size_t i = 0; i < Cells.size(); ++i) {
    auto* box = new QComboBox;
    box->setObjectName(QString("ComboBox%1").arg(i + 1));
    for (const char* name : MosaicColorNames) box->addItem(QString::fromUtf8(name));
    Cells[i] = box;
    const int row = int(i / 2) + (i >= 4 ? 2 : 1);
    grid->addWidget(box, row, int(i % 2));
    connect(box, &QComboBox::currentIndexChanged, this, [this] {
      if (!updating_) Change([] {});
    });
  }
  CheckBox1 = new QCheckBox("Noch weitere 2 Reihen:");
  grid->addWidget(CheckBox1, 3, 0, 1, 2);
  connect(CheckBox1, &QCheckBox::toggled, this, [this](bool on) {
    if (!updating_) Change([on] { SetMosaicFourRows(MosaicSettings, on); });
  });
  Button3 = new QPushButton("v");
  Button3->setToolTip("Alle Pixel 1 nach unten verschieben");
  Button4 = new QPushButton(">");
  Button4->setToolTip("Alle Pixel 1 nach rechts verschieben");
  grid->addWidget(Button3, 1, 2);
  grid->addWidget(Button4, 2, 2);
  connect(Button3, &QPushButton::clicked, this, [this] { Change([] { ShiftMosaicPatternDown(MosaicSettings); }); });
  connect(Button4, &QPushButton::clicked, this, [this] { Change([] { ShiftMosaicPatternRight(MosaicSettings); }); });

  ComboBox9 = new QComboBox;
  ComboBox9->setObjectName("ComboBox9");
  for (const std::string& text : DemosaicMethodTexts) ComboBox9->addItem(Q(text));
  grid->addWidget(ComboBox9, 6, 0, 1, 3);
  connect(ComboBox9, &QComboBox::currentIndexChanged, this, [this](int method) {
    if (updating_) return;
    Change([method] { ChooseMosaicMethod(MosaicSettings, method); });
    Settings.DemosaicMethod = method;
  });
  CheckBox2 = new QCheckBox("pixFilter");
  CheckBox2->setToolTip("Unterdrückt pixelige Strukturen wenn G1<>G2");
  CheckBox3 = new QCheckBox("  Highlights errechnen");
  CheckBox4 = new QCheckBox("Kamera Farbprofil");
  grid->addWidget(CheckBox2, 7, 0);
  grid->addWidget(CheckBox3, 7, 1, 1, 2);
  grid->addWidget(CheckBox4, 8, 0, 1, 3);
  for (QCheckBox* box : {CheckBox2, CheckBox3, CheckBox4})
    connect(box, &QCheckBox::toggled, this, [this] {
      if (!updating_) Change([] {});
    });

  const std::array<const char*, 7> labels{"Rmul.", "Bmul.", "Bias", "Bildgrößenverhältnis (bei chrom. Aberration): Rot:",
                                          "Blau:", "G1mul.", "Debayer-NN:"};
  for (size_t i = 0; i < Edits.size(); ++i) {
    auto* edit = new QLineEdit;
    edit->setObjectName(QString("Edit%1").arg(i + 1));
    Edits[i] = edit;
    auto* label = new QLabel(QString::fromUtf8(labels[i]));
    grid->addWidget(label, 9 + int(i), 0);
    grid->addWidget(edit, 9 + int(i), 1, 1, 2);
    connect(edit, &QLineEdit::textEdited, this, [this] {
      TakeControls();
      UpdateMosaicGenerateButton();
    });
    if (i == 6) networkLabel_ = label;
  }
  Edits[0]->setToolTip("Zum Ausgleich der Farbempfindlichkeit des CCD.");
  Edits[5]->setToolTip("Grünmultiplikator für ungerade Zeilen");
  SpeedButton1 = new QToolButton;
  SpeedButton1->setText("...");
  SpeedButton1->setToolTip("Debayer-NN öffnen");
  grid->addWidget(SpeedButton1, 15, 3);
  connect(SpeedButton1, &QToolButton::clicked, this, [this] {
    // Starts in the network folder unless a file is named already.
    const std::string start = MosaicSettings.NetworkFile.empty() ? Settings.NetworkFolder : MosaicSettings.NetworkFile;
    const QString file = QFileDialog::getOpenFileName(
        this, "Debayer-NN öffnen", Q(start), "Debayer NN-Filter (*.nnb);;Universeller Neuronal Network Filter (*.nnf)",
        nullptr, QFileDialog::DontUseNativeDialog);
    if (file.isEmpty()) return;
    Edits[6]->setText(file);
    TakeControls();
    UpdateMosaicGenerateButton();
  });

  Button5 = new QPushButton("!");
  Button5->setToolTip(
      "Die Multiplikation erfolgt schon bei der Bearbeitung, man kann so aber zB Raw Hellbilder neutralisieren.");
  grid->addWidget(Button5, 9, 3);
  connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(); });
  OpenBtn = new QToolButton;
  OpenBtn->setText("Öffnen");
  OpenBtn->setToolTip("Einstellungen öffnen");
  SaveBtn = new QToolButton;
  SaveBtn->setText("Speichern");
  SaveBtn->setToolTip("Einstellungen speichern");
  Button1 = new QPushButton("&Generier Bild");
  Button2 = new QPushButton("&Fenster zu");
  grid->addWidget(OpenBtn, 16, 0);
  grid->addWidget(SaveBtn, 16, 1);
  grid->addWidget(Button1, 17, 0);
  grid->addWidget(Button2, 17, 1, 1, 2);
  OpenDialog1 = MakeParameterFileDialog(this, false, FileFilter(), "qcm");
  OpenDialog1->setObjectName("OpenDialog1");
  connect(OpenBtn, &QToolButton::clicked, this, [this] {
    const QString file = ChooseSettingsFile(this);
    if (!file.isEmpty()) OpenSettings(file);
    UpdateMosaicGenerateButton();
  });
  connect(SaveBtn, &QToolButton::clicked, this, [this] {
    const QString file = QFileDialog::getSaveFileName(this, QString(), saveName_, FileFilter(), nullptr,
                                                      QFileDialog::DontUseNativeDialog);
    if (!file.isEmpty()) SaveSettings(file);
  });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  grid->setSizeConstraint(QLayout::SetFixedSize);

  MosaicSettingsChangedHook = [this] { ShowSettings(); };
  ShowSettings();
}

TForm13::~TForm13() { MosaicSettingsChangedHook = nullptr; }

void TForm13::SetCameraProfileVisible(bool visible) { CheckBox4->setVisible(visible); }
bool TForm13::CameraProfileVisible() const { return !CheckBox4->isHidden(); }

void TForm13::ShowSettings() {
  const TMosaicSettings& s = MosaicSettings;
  updating_ = true;
  for (size_t i = 0; i < Cells.size(); ++i) Cells[i]->setCurrentIndex(s.Cells[i]);
  CheckBox1->setChecked(s.FourRows);
  ComboBox9->setCurrentIndex(s.Method);
  CheckBox2->setChecked(s.PixFilter);
  CheckBox3->setChecked(s.Highlights);
  CheckBox4->setChecked(s.CameraProfile);
  const std::array<const std::string*, 7> texts{&s.Rmul,      &s.Bmul,  &s.Bias,       &s.RedRatio,
                                                &s.BlueRatio, &s.G1mul, &s.NetworkFile};
  for (size_t i = 0; i < Edits.size(); ++i)
    if (Edits[i]->text() != Q(*texts[i])) Edits[i]->setText(Q(*texts[i]));
  updating_ = false;
  EnableControls();
  UpdateMosaicGenerateButton();
}

void TForm13::TakeControls() {
  if (updating_) return;
  TMosaicSettings& s = MosaicSettings;
  for (size_t i = 0; i < Cells.size(); ++i) s.Cells[i] = Cells[i]->currentIndex();
  s.FourRows = CheckBox1->isChecked();
  s.Method = ComboBox9->currentIndex();
  s.PixFilter = CheckBox2->isChecked();
  s.Highlights = CheckBox3->isChecked();
  s.CameraProfile = CheckBox4->isChecked();
  const std::array<std::string*, 7> texts{&s.Rmul, &s.Bmul, &s.Bias, &s.RedRatio, &s.BlueRatio, &s.G1mul, &s.NetworkFile};
  for (size_t i = 0; i < Edits.size(); ++i) *texts[i] = Edits[i]->text().toStdString();
}

template <typename F>
void TForm13::Change(F&& change) {
  TakeControls();
  change();
  ShowSettings();
}

void TForm13::EnableControls() {
  const TMosaicSettings& s = MosaicSettings;
  for (size_t i = 4; i < Cells.size(); ++i) Cells[i]->setEnabled(s.FourRows);
  CheckBox2->setEnabled(MosaicSwitchesEnabled(s));
  CheckBox3->setEnabled(MosaicSwitchesEnabled(s));
  const bool network = s.Method == DmNetwork;
  Edits[6]->setVisible(network);
  networkLabel_->setVisible(network);
  SpeedButton1->setVisible(network);
}

void TForm13::UpdateMosaicGenerateButton() { Button1->setEnabled(MosaicGenerateEnabled(MosaicSettings)); }

bool TForm13::OpenSettings(const QString& fileName) {
  if (!ReadMosaicSettings(fileName.toStdString())) return false;
  saveName_ = fileName;
  ShowSettings();
  return true;
}

QString TForm13::ChooseSettingsFile(QWidget* parent) {
  // One ".qcm" dialog for this window, the batch window and the RAW layout editor.
  if (!openName_.isEmpty()) OpenDialog1->selectFile(openName_);
  if (parent && parent != this) OpenDialog1->setParent(parent, OpenDialog1->windowFlags());
  const bool chosen = OpenDialog1->exec() == QDialog::Accepted && !OpenDialog1->selectedFiles().isEmpty();
  if (parent && parent != this) OpenDialog1->setParent(this, OpenDialog1->windowFlags());
  if (!chosen) return {};
  openName_ = OpenDialog1->selectedFiles().first();
  return openName_;
}

bool TForm13::SaveSettings(const QString& fileName) {
  TakeControls();
  std::string error;
  if (!WriteMosaicSettings(fileName.toStdString(), MosaicSettings, &error)) {
    EngineUi().ShowMessage(error.empty() ? "Die Datei konnte nicht geschrieben werden." : error);
    return false;
  }
  openName_ = Q(MosaicSettingsFileName(fileName.toStdString()));
  return true;
}

void TForm13::Button1Click() {
  if (!SlotInUse(source_)) return;
  TakeControls();
  StoreMosaicPattern();
  // The window stays live while the workers run: no second conversion meanwhile.
  Button1->setEnabled(false);
  generating_ = true;
  const auto enable = qScopeGuard([this] {
    generating_ = false;
    UpdateMosaicGenerateButton();
  });
  const int result = GenerateRgbFromMosaic(source_);
  if (result < 1) return;
  lastResult_ = result;
  ComputeHistogram(result, false, false);
  if (CameraProfileVisible() && MosaicSettings.CameraProfile) {
    SetAutoDisplayRange(result, false);
  } else {
    const double bias = ReadMosaicNumbers(MosaicSettings).value_or(TMosaicNumbers{}).Bias;
    TDisplayRecord& d = Store.Display[size_t(result)];
    d.Black = float(d.Black - bias);
    d.White = float(d.White - bias);
  }
  ShowImageWindow(result);
  raise();
  activateWindow();
}

void TForm13::Button2Click() {
  OperationRunning = 0;
  if (SlotInUse(source_)) UnlockWindowBorderIcons(source_);
  NotifySlotGuardChanged();
  if (TMDIChild* w = SlotInUse(lastResult_) ? ImageWindow(lastResult_) : nullptr) {
    if (QMdiArea* area = w->mdiArea()) area->setActiveSubWindow(w);
    w->raise();
  }
  hide();
}

void TForm13::Button5Click() {
  const std::string question =
      "Soll das Rawbild wirklich verändert werden?\n(Bei der Generierung werden die Faktoren+Bias schon berücksichtigt.)";
  if (EngineUi().AskYesNoCancel(question, false) != TDialogAnswer::Yes || !SlotInUse(source_)) return;
  TakeControls();
  StoreMosaicPattern();
  const std::optional<TMosaicNumbers> n = ReadMosaicNumbers(MosaicSettings);
  if (!n) return;
  const TMosaicBalance b{.Bias = n->Bias, .Rmul = n->Rmul, .Bmul = n->Bmul, .G1mul = n->G1mul};
  TImageSlot& im = Store.Image[size_t(source_)];
  CorrectMosaicInPlace(im.Plane(1), im.Width, im.Height, MosaicPattern, b);
  for (float& m : im.RawMultipliers) m = 1.0f;
  ComputeHistogram(source_, false, true);
  ImageChanged(source_);
  RefreshHistogramWindow();
}

void TForm13::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (MosaicSettings.Method < 0 && IsStandardBayerPattern(MosaicSettings)) {
    const int remembered = Settings.DemosaicMethod;
    ChooseMosaicMethod(MosaicSettings, remembered >= 0 && remembered < DemosaicMethodCount ? remembered : DmVng);
  }
  ShowSettings();
}

void TForm13::hideEvent(QHideEvent* e) {
  SlotPair = {};
  QDialog::hideEvent(e);
}

void TForm13::keyPressEvent(QKeyEvent* e) {
  if (EscapeCancels(e, generating_, [this] { Button2Click(); })) return;
  QDialog::keyPressEvent(e);
}

// The window's close (and Escape) stop a running conversion; otherwise they
// act as "&Fenster zu", so that the commands come back with the dialog gone.
void TForm13::reject() {
  if (generating_)
    AbortRequested = 1;
  else
    Button2Click();
}

TForm13* MosaicDialog() {
  static bool registered = false;
  if (!registered) {
    RegisterDialogForm(MosaicDialogForm, [] { return new TForm13; });
    registered = true;
  }
  EnsureDialogForm(MosaicDialogForm);
  return qobject_cast<TForm13*>(DialogForm(MosaicDialogForm));
}

}  // namespace astrelon
