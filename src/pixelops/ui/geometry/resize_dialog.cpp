#include "pixelops/ui/geometry/resize_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <exception>
#include <new>

#include "common/engine_ui.h"
#include "common/number_text.h"
#include "common/pascal_format.h"
#include "common/paths.h"
#include "core/language.h"
#include "kernels/sampling/resample_image.h"
#include "pixelops/ui/operation_frame.h"
#include "shell/main/main_services.h"
#include "shell/ui/controls/control_utils.h"
#include "shell/ui/dialogs/translate_form.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/windows/image_window.h"
#include "shell/windows/histogram_refresh.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {

namespace {

constexpr int ResizeFormNumber = 8;
const char* const KindNames[5] = {"Linear", "Neuro", "Bikubisch", "dSinc", "Lanczos3"};
const char* const FileFilter = "Astrelon Größenverhältnis (*.qzg)";

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// Source image sizes (0 when the slot holds none).
std::array<int32_t, 2> SourceSize(int slot) {
  if (!SlotInUse(slot)) return {0, 0};
  return {Store.Image[size_t(slot)].Width, Store.Image[size_t(slot)].Height};
}

std::optional<int32_t> ParseInt32(const QString& text) {
  const auto v = TryStrToInt(S(text));
  if (!v || *v < INT32_MIN || *v > INT32_MAX) return std::nullopt;
  return int32_t(*v);
}

}  // namespace

TForm8::TForm8(QWidget* parent) : QDialog(parent) {
  setObjectName("Form8");
  setWindowTitle("Bildgröße ändern");
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  setModal(false);

  RadioGroup1 = new QGroupBox("Interpolation", this);
  RadioGroup1->setObjectName("RadioGroup1");
  RadioButtons = new QButtonGroup(this);
  auto* radioLayout = new QVBoxLayout(RadioGroup1);
  for (int i = 0; i < 5; ++i) {
    RadioItems[size_t(i)] = new QRadioButton(KindNames[i], RadioGroup1);
    RadioButtons->addButton(RadioItems[size_t(i)], i);
    radioLayout->addWidget(RadioItems[size_t(i)]);
  }
  SetItemIndex(IkBicubic);

  TabControl1 = new QTabBar(this);
  TabControl1->setObjectName("TabControl1");
  TabControl1->addTab("Faktor");
  TabControl1->addTab("Pixelanzahl");
  Label1 = new QLabel("Horizontal", this);
  Label1->setObjectName("Label1");
  Label2 = new QLabel("Vertikal", this);
  Label2->setObjectName("Label2");
  Edit1 = new QLineEdit("1.0", this);
  Edit1->setObjectName("Edit1");
  Edit2 = new QLineEdit("1.0", this);
  Edit2->setObjectName("Edit2");
  CheckBox1 = new QCheckBox("Proportion\nerhalten", this);
  CheckBox1->setObjectName("CheckBox1");
  CheckBox1->setChecked(true);
  CheckBox2 = new QCheckBox("Anti Moiré", this);
  CheckBox2->setObjectName("CheckBox2");
  CheckBox2->setChecked(true);
  CheckBox2->setEnabled(false);
  CheckBox3 = new QCheckBox("Kasten Funktion (verkleinern)", this);
  CheckBox3->setObjectName("CheckBox3");
  CheckBox3->setEnabled(false);
  OpenBtn = new QToolButton(this);
  OpenBtn->setObjectName("OpenBtn");
  OpenBtn->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
  OpenBtn->setToolTip("Bildskalierung öffnen");
  SaveBtn = new QToolButton(this);
  SaveBtn->setObjectName("SaveBtn");
  SaveBtn->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  SaveBtn->setToolTip("Bildskalierung speichern");
  Button1 = new QPushButton("&OK", this);
  Button1->setObjectName("Button1");
  Button1->setDefault(true);
  Button2 = new QPushButton("&Abbrechen", this);
  Button2->setObjectName("Button2");
  OpenDialog1 = MakeParameterFileDialog(this, false, FileFilter, "qzg");
  SaveDialog1 = MakeParameterFileDialog(this, true, FileFilter, "qzg");

  auto* edits = new QGridLayout;
  edits->addWidget(Label1, 0, 0);
  edits->addWidget(Edit1, 0, 1);
  edits->addWidget(Label2, 1, 0);
  edits->addWidget(Edit2, 1, 1);
  edits->addWidget(CheckBox1, 0, 2, 2, 1);
  auto* files = new QHBoxLayout;
  files->addWidget(OpenBtn);
  files->addWidget(SaveBtn);
  files->addStretch();
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  auto* right = new QVBoxLayout;
  right->addWidget(TabControl1);
  right->addLayout(edits);
  right->addWidget(CheckBox2);
  right->addWidget(CheckBox3);
  right->addLayout(files);
  right->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(RadioGroup1);
  top->addLayout(right);
  auto* all = new QVBoxLayout(this);
  all->addLayout(top);
  all->addLayout(buttons);

  connect(TabControl1, &QTabBar::currentChanged, this, [this] { TabControl1Change(); });
  connect(Edit1, &QLineEdit::textChanged, this, [this] { Edit2Change(Edit1); });
  connect(Edit2, &QLineEdit::textChanged, this, [this] { Edit2Change(Edit2); });
  connect(CheckBox1, &QCheckBox::toggled, this, [this] { CheckBox1Click(); });
  connect(CheckBox3, &QCheckBox::clicked, this, [this] { CheckBox3Click(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(OpenBtn, &QToolButton::clicked, this, [this] { OpenBtnClick(); });
  connect(SaveBtn, &QToolButton::clicked, this, [this] { SaveDialog1Close(); });
}

int TForm8::ItemIndex() const { return RadioButtons->checkedId(); }

void TForm8::SetItemIndex(int index) {
  if (index >= 0 && index < 5) RadioItems[size_t(index)]->setChecked(true);
}

void TForm8::SetSource(int slot) {
  const std::array<int32_t, 2> size = SourceSize(slot);
  const std::array<int32_t, 3> key{slot, size[0], size[1]};
  if (key != reinitFor_) reinitialise_ = true;
  reinitFor_ = key;
  SourceSlot = slot;
}

TResizeSettings TForm8::CurrentSettings() const {
  TResizeSettings s;
  s.PixelTab = TabControl1->currentIndex() == 1;
  s.Horizontal = S(Edit1->text());
  s.Vertical = S(Edit2->text());
  s.Kind = ItemIndex();
  s.AntiMoire = CheckBox2->isChecked();
  s.Box = CheckBox3->isChecked();
  return s;
}

void TForm8::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  FormShow();
}

void TForm8::FormShow() {
  Edit1Last = {true, true};
  if (reinitialise_) {
    PixelSizes = SourceSize(SourceSlot);
    Factors = {1.0, 1.0};
    reinitialise_ = false;
  }
  if (LanguageFileLoaded) TranslateForm(S(objectName()));
  TabControl1Change();
}

void TForm8::WriteEdit(QLineEdit* edit, const QString& text) {
  const bool was = attached_;
  attached_ = false;
  edit->setText(text);
  attached_ = was;
}

void TForm8::CoupleOtherEdit(bool fromEdit1) {
  QLineEdit* from = fromEdit1 ? Edit1 : Edit2;
  QLineEdit* to = fromEdit1 ? Edit2 : Edit1;
  if (TabControl1->currentIndex() == 0) {
    WriteEdit(to, from->text());
    return;
  }
  const auto v = ParseInt32(from->text());
  const auto [w, h] = SourceSize(SourceSlot);
  if (!v || w < 1 || h < 1) return;
  const int64_t other = fromEdit1 ? int64_t(h) * *v / w : int64_t(w) * *v / h;
  WriteEdit(to, QString::number(other));
}

void TForm8::ApplyEnabling() {
  bool shrinks;
  if (TabControl1->currentIndex() == 1) {
    if (const auto v = ParseInt32(Edit1->text())) PixelSizes[0] = *v;
    if (const auto v = ParseInt32(Edit2->text())) PixelSizes[1] = *v;
    const auto [w, h] = SourceSize(SourceSlot);
    shrinks = w > PixelSizes[0] || h > PixelSizes[1];
  } else {
    if (const auto v = TryStrToFloatDot(S(Edit1->text()))) Factors[0] = *v;
    if (const auto v = TryStrToFloatDot(S(Edit2->text()))) Factors[1] = *v;
    shrinks = Factors[0] < 1 || Factors[1] < 1;
  }
  CheckBox2->setEnabled(shrinks);
  CheckBox3->setEnabled(shrinks);
  if (CheckBox3->isEnabled() && CheckBox3->isChecked()) {
    CheckBox2->setEnabled(false);
    RadioGroup1->setEnabled(false);
  } else {
    RadioGroup1->setEnabled(true);
  }
}

void TForm8::Edit2Change(QLineEdit* edit) {
  if (!attached_) return;
  // Typing marks the edit modified; text written by the program does not.
  if (edit->isModified()) {
    const bool first = edit == Edit1;
    Edit1Last[size_t(TabControl1->currentIndex() == 1)] = first;
    if (CheckBox1->isChecked()) CoupleOtherEdit(first);
  }
  ApplyEnabling();
}

void TForm8::TabControl1Change() {
  const bool pixels = TabControl1->currentIndex() == 1;
  if (pixels) {
    WriteEdit(Edit1, QString::number(PixelSizes[0]));
    WriteEdit(Edit2, QString::number(PixelSizes[1]));
    const auto [w, h] = SourceSize(SourceSlot);
    if (w > 0 && int64_t(h) * PixelSizes[0] / w != PixelSizes[1]) CheckBox1->setChecked(false);
  } else {
    WriteEdit(Edit1, Q(FloatToStrF(Factors[0], TFloatFormat::General, 10, 0)));
    WriteEdit(Edit2, Q(FloatToStrF(Factors[1], TFloatFormat::General, 10, 0)));
    if (Factors[0] != Factors[1]) CheckBox1->setChecked(false);
  }
  ApplyEnabling();
}

void TForm8::CheckBox1Click() {
  if (!CheckBox1->isChecked()) return;
  CoupleOtherEdit(Edit1Last[size_t(TabControl1->currentIndex() == 1)]);
  ApplyEnabling();
}

void TForm8::CheckBox3Click() {
  CheckBox2->setEnabled(!CheckBox3->isChecked());
  RadioGroup1->setEnabled(CheckBox2->isEnabled());
}

void TForm8::Button2Click() { hide(); }

void TForm8::Button1Click() {
  hide();
  try {
    const std::optional<TResizeRequest> request = ResizeRequest(CurrentSettings());
    // The dialog is not modal: its source may have been closed meanwhile.
    if (request && SlotInUse(SourceSlot) && ImageWindow(SourceSlot)) RunResize(*request);
  } catch (const std::bad_alloc&) {
    EngineUi().ShowMessage("Nicht genug Speicher");
  } catch (const std::exception& e) {
    EngineUi().ShowMessage(e.what());
  }
}

void TForm8::RunResize(const TResizeRequest& r) {
  ActivateImageWindow(SourceSlot);
  if (FindActiveSlot() != SourceSlot) return;
  TResultSlot result;
  if (!result) return;
  const int d = result.Destination();
  ResampleImage(d, r.Kind, r.NewWidth, r.RatioX, r.RatioY, r.NewHeight, r.SizesGiven, r.AntiMoire, r.Box);
  SetNaxisCards(d);
  auto caption = [](const QString& text) { return StripAccelerators(S(text)); };
  result.Finish({.ResetRange = false, .AutoDisplayRange = false, .History = S(windowTitle()), .HistoryMode = 2});
  RefreshHistogramWindow();
  AddHistoryCard(d, S(TabControl1->tabText(TabControl1->currentIndex())), 0);
  AddHistoryCard(d, caption(Label1->text()) + " " + S(Edit1->text()), 0);
  AddHistoryCard(d, caption(Label2->text()) + " " + S(Edit2->text()), 0);
  if (RadioGroup1->isEnabled() && ItemIndex() >= 0)
    AddHistoryCard(d, S(RadioGroup1->title()) + " " + caption(RadioItems[size_t(ItemIndex())]->text()), 0);
  if (CheckBox2->isEnabled() && CheckBox2->isChecked()) AddHistoryCard(d, caption(CheckBox2->text()), 0);
  if (CheckBox3->isEnabled() && CheckBox3->isChecked()) AddHistoryCard(d, caption(CheckBox3->text()), 0);
  // The next history text of the result starts a card of its own.
  Store.NewHistoryCard[size_t(d)] = 1;
}

void TForm8::OpenBtnClick() {
  if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty()) return;
  LoadSettingsFile(OpenDialog1->selectedFiles().first());
}

bool TForm8::LoadSettingsFile(const QString& fileName) {
  TResizeSettings s = CurrentSettings();
  if (!ReadResizeSettings(S(fileName), s)) {
    EngineUi().ShowMessage("Die Datei " + S(fileName) + " kann nicht gelesen werden.");
    return false;
  }
  CheckBox1->setChecked(false);
  {
    const QSignalBlocker block(TabControl1);
    TabControl1->setCurrentIndex(s.PixelTab ? 1 : 0);
  }
  WriteEdit(Edit1, Q(s.Horizontal));
  Edit2->setText(Q(s.Vertical));
  SetItemIndex(s.Kind);
  CheckBox2->setChecked(s.AntiMoire);
  CheckBox3->setChecked(s.Box);
  ApplyEnabling();
  SaveDialog1->selectFile(fileName);
  return true;
}

void TForm8::SaveDialog1Close() {
  const auto h = TryStrToFloatDot(S(Edit1->text())), v = TryStrToFloatDot(S(Edit2->text()));
  if (!h || !v || !(*h > 0) || !(*v > 0)) return;
  if (SaveDialog1->exec() != QDialog::Accepted || SaveDialog1->selectedFiles().isEmpty()) return;
  SaveSettingsFile(SaveDialog1->selectedFiles().first());
}

bool TForm8::SaveSettingsFile(const QString& fileName) {
  const std::string name = ChangeFileExt(S(fileName), ".qzg");
  std::string error;
  if (!WriteResizeSettings(name, CurrentSettings(), &error)) {
    EngineUi().ShowMessage(error);
    return false;
  }
  OpenDialog1->selectFile(Q(name));
  return true;
}

TForm8* ResizeDialog() {
  static const bool registered = [] {
    RegisterDialogForm(ResizeFormNumber, [] { return new TForm8(MainLink().Window.data()); });
    return true;
  }();
  (void)registered;
  EnsureDialogForm(ResizeFormNumber);
  return qobject_cast<TForm8*>(DialogForm(ResizeFormNumber));
}

}  // namespace astrelon
