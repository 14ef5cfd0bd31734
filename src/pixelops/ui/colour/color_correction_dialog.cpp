#include "pixelops/ui/colour/color_correction_dialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

#include "common/engine_ui.h"
#include "common/number_text.h"
#include "common/pascal_format.h"
#include "core/language.h"
#include "pixelops/colour/color_correction_file.h"
#include "shell/main/main_texts.h"
#include "shell/ui/controls/control_utils.h"
#include "shell/ui/dialogs/cancel_key.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/main_menu.h"
#include "shell/ui/tool_bar/main_tool_bar.h"
#include "shell/windows/histogram_refresh.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

bool ColorCorrectionActive = false;

namespace {

constexpr int PreviewDelayMs = 500;
constexpr double FieldLimit = 1e6;
const char* const FileFilter = "Astrelon Farbkorrektur (*.qzf)";

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString Text(int key, const char* german) { return Q(LangTextOr(key, german)); }

// A percent field that shows its value as the program writes numbers ("100",
// "12.5") and takes "," or "." as the decimal separator.
class TPercentEdit : public QDoubleSpinBox {
public:
  explicit TPercentEdit(QWidget* parent) : QDoubleSpinBox(parent) {
    setDecimals(6);
    setRange(-FieldLimit, FieldLimit);
    setSingleStep(5);
    setKeyboardTracking(true);
  }
  QString textFromValue(double value) const override { return Q(FloatToStr(value)); }
  double valueFromText(const QString& text) const override {
    return TryStrToFloatDot(text.toStdString()).value_or(value());
  }
  QValidator::State validate(QString& text, int&) const override {
    const QString t = text.trimmed();
    if (t.isEmpty() || t == "-" || t == "+") return QValidator::Intermediate;
    const auto v = TryStrToFloatDot(t.toStdString());
    if (!v) {
      // A number being typed ("1e", "2.") may still become one.
      const bool partial = TryStrToFloatDot((t + "0").toStdString()).has_value();
      return partial ? QValidator::Intermediate : QValidator::Invalid;
    }
    return std::isfinite(*v) && std::fabs(*v) <= FieldLimit ? QValidator::Acceptable : QValidator::Invalid;
  }
};

// The tool bar's colour-space and plane lists change the source under the
// preview: they stay disabled while the dialog shows.
void LockColourLists(bool locked) {
  MainLink().ColourListsLocked = locked;
  if (TMainToolBar* bar = MainLink().ToolBar) {
    if (locked) {
      bar->CloseDropDownLists(0);
      bar->RxSpeedButton[2]->setEnabled(false);
      bar->RxSpeedButton[3]->setEnabled(false);
    }
  }
  if (!locked) CallUpdateMenuItems();
}

}  // namespace

TForm18::TForm18() {
  setObjectName("Form18");
  setWindowTitle("Farbkorrektur");
  setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
  setAttribute(Qt::WA_DeleteOnClose, false);

  auto* grid = new QGridLayout;
  const TColorMatrix identity;
  for (int row = 0; row < 3; ++row) {
    RowLabel[size_t(row)] = new QLabel(Q(MainTexts.ChannelNames[size_t(row + 1)] + ":"), this);
    RowLabel[size_t(row)]->setObjectName(QString("Label%1").arg(row + 1));
    grid->addWidget(RowLabel[size_t(row)], row, 0);
    for (int col = 0; col < 3; ++col) {
      const size_t i = size_t(row * 3 + col);
      auto* edit = new TPercentEdit(this);
      edit->setObjectName(QString("RxSpinEdit%1").arg(i + 1));
      edit->setValue(identity.Percent[i]);
      RxSpinEdit[i] = edit;
      grid->addWidget(edit, row, col + 1);
      connect(edit, &QDoubleSpinBox::valueChanged, this, [this] { Timer1->start(); });
    }
    grid->addWidget(new QLabel("%", this), row, 4);
  }
  Button1 = new QPushButton("&Ok", this);
  Button1->setObjectName("Button1");
  Button2 = new QPushButton("&Abbruch", this);
  Button2->setObjectName("Button2");
  Button3 = new QPushButton("Reset", this);
  Button3->setObjectName("Button3");
  SpeedButton1 = new QToolButton(this);
  SpeedButton1->setObjectName("SpeedButton1");
  SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
  SpeedButton1->setToolTip("Werte laden");
  SpeedButton2 = new QToolButton(this);
  SpeedButton2->setObjectName("SpeedButton2");
  SpeedButton2->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  SpeedButton2->setToolTip("Werte speichern");
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setSingleShot(true);
  Timer1->setInterval(PreviewDelayMs);
  OpenDialog1 = MakeParameterFileDialog(this, false, FileFilter, "qzf");
  SaveDialog1 = MakeParameterFileDialog(this, true, FileFilter, "qzf");

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(SpeedButton1);
  buttons->addWidget(SpeedButton2);
  buttons->addWidget(Button3);
  buttons->addStretch(1);
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  auto* outer = new QVBoxLayout(this);
  outer->addLayout(grid);
  outer->addLayout(buttons);

  connect(Timer1, &QTimer::timeout, this, &TForm18::SpinEdit1Change);
  connect(Button1, &QPushButton::clicked, this, &TForm18::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm18::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm18::Button3Click);
  connect(SpeedButton1, &QToolButton::clicked, this, &TForm18::SpeedButton1Click);
  connect(SpeedButton2, &QToolButton::clicked, this, &TForm18::SpeedButton2Click);
}

TColorMatrix TForm18::FieldMatrix() const {
  TColorMatrix m;
  for (size_t i = 0; i < RxSpinEdit.size(); ++i) m.Percent[i] = RxSpinEdit[i]->value();
  return m;
}

void TForm18::SetFields(const TColorMatrix& m) {
  for (size_t i = 0; i < RxSpinEdit.size(); ++i) RxSpinEdit[i]->setValue(m.Percent[i]);
}

void TForm18::Start(int source, int destination) {
  source_ = source;
  destination_ = destination;
  show();
  raise();
  FormShow();
}

void TForm18::FormShow() {
  if (LanguageFileLoaded && DialogFormNeedsTranslation(ColorCorrectionForm)) {
    if (QAction* item = MainMenuItem("Farbkorrektur1")) setWindowTitle(item->text().remove('&'));
    Button1->setText(Text(262, "&Ok"));
    Button2->setText(Text(278, "&Abbruch"));
    Button3->setText(Text(774, "Reset"));
    SpeedButton1->setToolTip(Text(1286, "Werte laden"));
    SpeedButton2->setToolTip(Text(3349, "Werte speichern"));
    for (int row = 0; row < 3; ++row)
      RowLabel[size_t(row)]->setText(Q(MainTexts.ChannelNames[size_t(row + 1)] + ":"));
    SetDialogFormTranslated(ColorCorrectionForm);
  }
  SlotPair = {source_, destination_};
  SetOperationActive(true);
  running_ = true;
  LockColourLists(true);
  ColorCorrectionActive = true;
  Ready = true;
  Preview();
}

void TForm18::Preview() {
  if (!running_ || !SlotInUse(source_) || !SlotInUse(destination_)) return;
  ColorCorrection = FieldMatrix();
  if (ApplyColorMatrix(source_, destination_, ColorCorrection)) ImageChanged(destination_);
}

void TForm18::SpinEdit1Change() {
  Timer1->stop();
  if (Ready) Preview();
}

void TForm18::Button1Click() {
  if (!running_) return;
  Timer1->stop();
  // The result is the preview of the fields as they stand now.
  Preview();
  if (SlotInUse(destination_)) {
    Store.NewHistoryCard[size_t(destination_)] = 1;
    AddHistoryCard(destination_, windowTitle().toStdString(), 1);
    const TColorMatrix m = FieldMatrix();
    for (int row = 0; row < 3; ++row) {
      std::string text = RowLabel[size_t(row)]->text().toStdString();
      for (int col = 0; col < 3; ++col)
        text += " " + FloatToStrF(m.Percent[size_t(row * 3 + col)], TFloatFormat::General, 6, 0);
      AddHistoryCard(destination_, text, 1);
    }
    ComputeHistogram(destination_, false, true);
    RefreshHistogramWindow();
    ImageChanged(destination_);
  }
  EndOperation(true);
  hide();
}

void TForm18::Button2Click() {
  EndOperation(false);
  hide();
}

void TForm18::Button3Click() {
  Ready = false;
  SetFields(TColorMatrix{});
  QApplication::processEvents();
  Timer1->stop();
  Ready = true;
  Preview();
}

void TForm18::SpeedButton1Click() {
  if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty()) return;
  LoadFile(OpenDialog1->selectedFiles().first());
}

void TForm18::SpeedButton2Click() {
  if (SaveDialog1->exec() != QDialog::Accepted || SaveDialog1->selectedFiles().isEmpty()) return;
  SaveFile(SaveDialog1->selectedFiles().first());
}

void TForm18::LoadFile(const QString& fileName) {
  TColorMatrix m = FieldMatrix();
  std::string message;
  switch (ReadColorCorrection(fileName.toStdString(), m, &message)) {
    case TColorCorrectionRead::Missing: return;
    case TColorCorrectionRead::Refused: EngineUi().ShowMessage(message); return;
    case TColorCorrectionRead::Read: break;
  }
  Ready = false;
  SetFields(m);
  QApplication::processEvents();
  Timer1->stop();
  Ready = true;
  Preview();
}

void TForm18::SaveFile(const QString& fileName) {
  const std::string name = ColorCorrectionFileName(fileName.toStdString());
  std::string error;
  if (!WriteColorCorrection(name, FieldMatrix(), &error)) {
    EngineUi().ShowMessage(error.empty() ? "Die Datei kann nicht geschrieben werden: " + name : error);
    return;
  }
  OpenDialog1->selectFile(Q(name));
}

void TForm18::EndOperation(bool keep) {
  if (!running_) return;
  running_ = false;
  Timer1->stop();
  SlotPair = {source_, destination_};
  SetOperationActive(false);
  SlotPair = {};
  if (!keep && SlotInUse(destination_)) CloseImageSlot(destination_);
}

void TForm18::closeEvent(QCloseEvent* e) {
  // Closing the dialog without "&Ok" drops the result, as "&Abbruch" does.
  EndOperation(false);
  e->accept();
}

void TForm18::keyPressEvent(QKeyEvent* e) {
  if (EscapeCancels(e, false, [this] { Button2Click(); })) return;
  QWidget::keyPressEvent(e);
}

void TForm18::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  if (e->spontaneous()) return;  // minimised with the desktop, not closed
  EndOperation(false);
  Ready = false;
  ColorCorrectionActive = false;
  LockColourLists(false);
  SlotPair = {};
}

TForm18* ColorCorrectionDialog() { return qobject_cast<TForm18*>(DialogForm(ColorCorrectionForm)); }

TForm18* EnsureColorCorrectionDialog() {
  if (!DialogFormRegistered(ColorCorrectionForm)) RegisterDialogForm(ColorCorrectionForm, [] { return new TForm18; });
  EnsureDialogForm(ColorCorrectionForm);
  return ColorCorrectionDialog();
}

}  // namespace astrelon
