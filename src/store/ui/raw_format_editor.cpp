#include "store/ui/raw_format_editor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <optional>

#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "common/paths.h"
#include "core/language.h"
#include "pixelops/ui/mosaic_dialog.h"
#include "shell/ui/dialogs/translate_form.h"
#include "shell/ui/main/main_services_ui.h"
#include "store/raw/own_raw.h"
#include "store/ui/open_dialog.h"

namespace astrelon {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::optional<int32_t> IntOf(const QLineEdit* edit) {
  const std::optional<int64_t> v = TryStrToInt(edit->text().toStdString());
  if (!v || *v < INT32_MIN || *v > INT32_MAX) return std::nullopt;
  return int32_t(*v);
}

QToolButton* IconButton(QWidget* parent, const char* name, QStyle::StandardPixmap icon, const char* hint) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setIcon(parent->style()->standardIcon(icon));
  b->setToolTip(QString::fromUtf8(hint));
  return b;
}

}  // namespace

TForm24::TForm24(QWidget* parent) : QDialog(parent) {
  setObjectName("Form24");
  setWindowTitle("Eigene RAW Formate erstellen");
  setAttribute(Qt::WA_DeleteOnClose);

  TabControl1 = new QTabBar(this);
  TabControl1->setObjectName("TabControl1");
  for (int n = 1; n <= RawFormatCount; ++n) TabControl1->addTab(QString::number(n));

  auto edit = [this](const char* name) {
    auto* e = new QLineEdit(this);
    e->setObjectName(name);
    return e;
  };
  Edit1 = edit("Edit1");
  Edit1->setToolTip(QString::fromUtf8("Muss für die 5 Formate unterschiedlich sein!"));
  Edit2 = edit("Edit2");
  Edit3 = edit("Edit3");
  Edit4 = edit("Edit4");
  Edit5 = edit("Edit5");
  ComboBox1 = new QComboBox(this);
  ComboBox1->setObjectName("ComboBox1");
  ComboBox1->addItems({"8", "16"});
  ComboBox2 = new QComboBox(this);
  ComboBox2->setObjectName("ComboBox2");
  ComboBox2->addItems({"Intel", "Win"});
  CheckBox1 = new QCheckBox("Dieses Raw Format verwenden", this);
  CheckBox1->setObjectName("CheckBox1");
  CheckBox2 = new QCheckBox("Farbinterpolation", this);
  CheckBox2->setObjectName("CheckBox2");
  OpenBtn = IconButton(this, "OpenBtn", QStyle::SP_DirOpenIcon, "Datei zur Farbinterpolation öffnen");
  SpeedButton1 = IconButton(this, "SpeedButton1", QStyle::SP_FileDialogStart, "RAW Format laden");
  SaveBtn = IconButton(this, "SaveBtn", QStyle::SP_DialogSaveButton, "Die Einstellungen für dieses Format speichern");
  Button1 = new QPushButton("Fenster schliessen", this);
  Button1->setObjectName("Button1");

  auto* grid = new QGridLayout;
  int row = 0;
  auto addRow = [&](const char* label, QWidget* field, const char* unit) {
    grid->addWidget(new QLabel(QString::fromUtf8(label), this), row, 0);
    grid->addWidget(field, row, 1);
    if (unit) grid->addWidget(new QLabel(unit, this), row, 2);
    ++row;
  };
  addRow("Dateierweiterung", Edit1, nullptr);
  addRow("Headerlänge", Edit2, "Bytes");
  addRow("Bildbreite", Edit3, "Pixel");
  addRow("Bildhöhe", Edit4, "Pixel");
  addRow("Bits pro Pixel", ComboBox1, nullptr);
  addRow("Byte Reihenfolge", ComboBox2, nullptr);
  grid->addWidget(CheckBox1, row++, 0, 1, 3);
  grid->addWidget(CheckBox2, row++, 0, 1, 3);
  auto* pattern = new QHBoxLayout;
  pattern->addWidget(new QLabel("*.qcm Datei", this));
  pattern->addWidget(Edit5, 1);
  pattern->addWidget(OpenBtn);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(SpeedButton1);
  buttons->addWidget(SaveBtn);
  buttons->addStretch(1);
  buttons->addWidget(Button1);
  auto* outer = new QVBoxLayout(this);
  outer->addWidget(TabControl1);
  outer->addLayout(grid);
  outer->addLayout(pattern);
  outer->addLayout(buttons);

  connect(TabControl1, &QTabBar::currentChanged, this, [this] { ShowLayout(); });
  for (QLineEdit* e : {Edit1, Edit2, Edit3, Edit4, Edit5})
    connect(e, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
  for (QComboBox* c : {ComboBox1, ComboBox2})
    connect(c, &QComboBox::currentIndexChanged, this, [this] { Edit1Change(); });
  connect(CheckBox1, &QCheckBox::toggled, this, [this] { Edit1Change(); });
  connect(CheckBox2, &QCheckBox::clicked, this, &TForm24::CheckBox2Click);
  connect(OpenBtn, &QToolButton::clicked, this, &TForm24::OpenBtnClick);
  connect(SpeedButton1, &QToolButton::clicked, this, &TForm24::SpeedButton1Click);
  connect(SaveBtn, &QToolButton::clicked, this, &TForm24::SaveBtnClick);
  connect(Button1, &QPushButton::clicked, this, &TForm24::Button1Click);
}

int TForm24::CurrentLayout() const { return TabControl1->currentIndex() + 1; }

void TForm24::ShowLayout() {
  tracking_ = false;
  const TRawFormatDef& d = RawFormatDefs[size_t(CurrentLayout())];
  Edit1->setText(Q(d.Extension));
  Edit2->setText(QString::number(d.HeaderOffset));
  Edit3->setText(QString::number(d.Width));
  Edit4->setText(QString::number(d.Height));
  ComboBox1->setCurrentIndex(d.Bits == 8 ? 0 : 1);
  ComboBox2->setCurrentIndex(d.IntelOrder ? 0 : 1);
  CheckBox1->setChecked(d.InUse != 0);
  CheckBox2->setChecked(d.ColorInterpolation != 0);
  Edit5->setText(Q(d.Pattern));
  Edit5->setEnabled(d.ColorInterpolation != 0);
  OpenBtn->setEnabled(d.ColorInterpolation != 0);
  SaveBtn->setEnabled(d.Modified != 0);
  tracking_ = true;
}

void TForm24::Edit1Change() {
  if (!tracking_) return;
  TRawFormatDef& d = RawFormatDefs[size_t(CurrentLayout())];
  d.Extension = Edit1->text().toStdString();
  d.ColorInterpolation = CheckBox2->isChecked() ? 1 : 0;
  d.Pattern = Edit5->text().toStdString();
  d.InUse = CheckBox1->isChecked() ? 1 : 0;
  d.Bits = ComboBox1->currentIndex() == 0 ? 8 : 16;
  d.IntelOrder = ComboBox2->currentIndex() == 0 ? 1 : 0;
  // A number that is no integer, or that no picture can have, stops the copy there.
  const std::optional<int32_t> offset = IntOf(Edit2);
  if (!offset || *offset < 0) return;
  d.HeaderOffset = *offset;
  const std::optional<int32_t> width = IntOf(Edit3);
  if (!width || *width < 1) return;
  d.Width = *width;
  const std::optional<int32_t> height = IntOf(Edit4);
  if (!height || *height < 1 || int64_t(*width) * *height > MaxOwnRawPixels) return;
  d.Height = *height;
  d.Modified = 1;
  SaveBtn->setEnabled(true);
}

void TForm24::CheckBox2Click() {
  Edit1Change();
  ShowLayout();
}

void TForm24::OpenBtnClick() {
  // The colour-mosaic dialog's own ".qcm" dialog.
  TForm13* mosaic = MosaicDialog();
  if (!mosaic) return;
  QFileDialog* dialog = mosaic->OpenDialog1;
  if (!Edit5->text().isEmpty()) dialog->selectFile(Edit5->text());
  if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
    Edit5->setText(dialog->selectedFiles().first());
}

void TForm24::SpeedButton1Click() {
  const QString file = QFileDialog::getOpenFileName(this, QString(), Q(SettingsFolder()),
                                                    "Eigenes RAW Format (rawdef*.ini)", nullptr,
                                                    QFileDialog::DontUseNativeDialog);
  if (!file.isEmpty()) LoadDefinition(file);
}

void TForm24::LoadDefinition(const QString& fileName) {
  ReadRawDefinition(CurrentLayout(), fileName.toStdString());
  ShowLayout();
}

void TForm24::SaveBtnClick() {
  const int n = CurrentLayout();
  if (!RawFormatSpeichern(n)) {
    EngineUi().ShowMessage("Das RAW Format konnte nicht gespeichert werden: " + RawDefinitionFileName(n));
    return;
  }
  RawFormatDefs[size_t(n)].Modified = 0;
  SaveBtn->setEnabled(false);
}

void TForm24::Button1Click() {
  BuildOwnRawExtensionList();
  BuildOpenFilter();
  close();
}

void TForm24::showEvent(QShowEvent* e) {
  if (LanguageFileLoaded) {
    setWindowTitle(Q(LangTextOr(LangKey(11, 1), windowTitle().toStdString())));
    TranslateForm(objectName().toStdString());
    const std::pair<QWidget*, int> hints[] = {
        {Edit1, LangKey(11, 11)}, {OpenBtn, LangKey(11, 12)}, {SpeedButton1, LangKey(11, 13)}, {SaveBtn, LangKey(11, 14)}};
    for (const auto& [control, key] : hints) {
      const std::string text = LangText(key);
      if (!text.empty()) control->setToolTip(Q(text));
    }
  }
  ShowLayout();
  QDialog::showEvent(e);
}

void RegisterRawFormatEditor() {
  RegisterDialogForm(RawFormatEditorForm, [] { return new TForm24; });
}

void RAWFormaterstellen1Click() {
  EnsureDialogForm(RawFormatEditorForm);
  if (QWidget* form = DialogForm(RawFormatEditorForm)) {
    form->show();
    form->raise();
    form->activateWindow();
  }
}

}  // namespace astrelon
