#include "pixelops/ui/stamping/text_frame_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QColorDialog>
#include <QFontDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSizeGrip>
#include <QSlider>
#include <QTextBlock>
#include <QToolButton>
#include <new>

#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "pixelops/ui/operation_frame.h"
#include "pixelops/ui/stamping/text_mask.h"
#include "shell/ui/controls/up_down.h"
#include "shell/ui/dialogs/translate_form.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/windows/window_creation.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

int TextSlot = -1;

namespace {

constexpr int FormNumber = 17;
QPointer<TForm17> Dialog;

// The object names of the header boxes, in the order of THeaderInfoKey.
constexpr std::array<const char*, HeaderInfoKeyCount> HeaderBoxNames{
    "CheckBox2", "CheckBox3", "CheckBox4", "CheckBox5", "CheckBox6", "CheckBox7",
    "CheckBox8", "CheckBox10", "CheckBox11", "CheckBox12", "CheckBox13", "CheckBox14"};

QToolButton* Button(QWidget* parent, const char* name, const QString& text, const QString& hint = {}) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setText(text);
  if (!hint.isEmpty()) b->setToolTip(hint);
  return b;
}

// An edit with its up-down pair: a typed number in range moves the up-down, any
// other text leaves it where it is.
void Pair(QLineEdit* edit, TUpDown* upDown, const std::function<void()>& changed) {
  QObject::connect(upDown, &TUpDown::Clicked, edit, [edit, upDown, changed](bool) {
    edit->setText(QString::number(upDown->Position()));
    changed();
  });
  QObject::connect(edit, &QLineEdit::textEdited, edit, [edit, upDown, changed](const QString& t) {
    if (const auto v = TryStrToInt(t.trimmed().toStdString()); v && *v >= upDown->Min() && *v <= upDown->Max())
      upDown->SetPosition(int(*v));
    changed();
  });
}

}  // namespace

TForm17::TForm17() {
  setObjectName("Form17");
  setWindowTitle(QString::fromUtf8("Text+Rahmen einfügen"));
  setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
  setMinimumSize(338, 402);
  textFont_ = QFont("Arial");

  auto* grid = new QGridLayout(this);
  auto* titleLabel = new QLabel("Titel:", this);
  titleLabel->setObjectName("Label1");
  Edit2 = new QLineEdit(this);
  Edit2->setObjectName("Edit2");
  grid->addWidget(titleLabel, 0, 0);
  grid->addWidget(Edit2, 0, 1, 1, 3);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->viewport()->installEventFilter(this);
  grid->addWidget(Memo1, 1, 0, 1, 4);

  auto* keys = new QGroupBox("Header", this);
  keys->setObjectName("Panel1");
  auto* keyLayout = new QVBoxLayout(keys);
  for (int k = 0; k < HeaderInfoKeyCount; ++k) {
    auto* box = new QCheckBox(HeaderInfoCaption(THeaderInfoKey(k)), keys);
    box->setObjectName(HeaderBoxNames[size_t(k)]);
    keyLayout->addWidget(box);
    HeaderBoxes[size_t(k)] = box;
  }
  Button3 = new QPushButton(QString::fromUtf8("&Header-Infos einfügen"), keys);
  Button3->setObjectName("Button3");
  keyLayout->addWidget(Button3);
  grid->addWidget(keys, 0, 4, 3, 1);

  auto* options = new QGridLayout;
  CheckBox1 = new QCheckBox(QString::fromUtf8("Rahmen hinzufügen"), this);
  CheckBox1->setObjectName("CheckBox1");
  CheckBox1->setChecked(true);
  auto* widthLabel = new QLabel("Breite:", this);
  widthLabel->setObjectName("Label2");
  Edit1 = new QLineEdit("2", this);
  Edit1->setObjectName("Edit1");
  UpDown1 = new TUpDown(0, 200, 2, this);
  UpDown1->setObjectName("UpDown1");
  auto* borderLabel = new QLabel("Randbreite:", this);
  borderLabel->setObjectName("Label3");
  Edit3 = new QLineEdit("10", this);
  Edit3->setObjectName("Edit3");
  UpDown2 = new TUpDown(0, 300, 10, this);
  UpDown2->setObjectName("UpDown2");
  auto* sizeLabel = new QLabel(QString::fromUtf8("Größe:"), this);
  sizeLabel->setObjectName("Label4");
  TrackBar1 = new QSlider(Qt::Horizontal, this);
  TrackBar1->setObjectName("TrackBar1");
  TrackBar1->setRange(6, 16);
  TrackBar1->setValue(8);
  CheckBox9 = new QCheckBox("Abgerundet (im Bild)", this);
  CheckBox9->setObjectName("CheckBox9");
  CheckBox15 = new QCheckBox(QString::fromUtf8("Übergang zum Rahmen"), this);
  CheckBox15->setObjectName("CheckBox15");
  options->addWidget(CheckBox1, 0, 0, 1, 3);
  options->addWidget(widthLabel, 1, 0);
  options->addWidget(Edit1, 1, 1);
  options->addWidget(UpDown1, 1, 2);
  options->addWidget(borderLabel, 2, 0);
  options->addWidget(Edit3, 2, 1);
  options->addWidget(UpDown2, 2, 2);
  options->addWidget(sizeLabel, 3, 0);
  options->addWidget(TrackBar1, 3, 1, 1, 2);
  options->addWidget(CheckBox9, 4, 0, 1, 3);
  options->addWidget(CheckBox15, 5, 0, 1, 3);
  grid->addLayout(options, 2, 0, 1, 2);

  auto* tools = new QGridLayout;
  SpeedButton2 = Button(this, "SpeedButton2", "|<");
  SpeedButton5 = Button(this, "SpeedButton5", "><");
  SpeedButton7 = Button(this, "SpeedButton7", ">|");
  auto* align = new QButtonGroup(this);
  for (QToolButton* b : {SpeedButton2, SpeedButton5, SpeedButton7}) {
    b->setCheckable(true);
    align->addButton(b);
  }
  SpeedButton2->setChecked(true);
  SpeedButton3 = Button(this, "SpeedButton3", "Rahmen", QString::fromUtf8("Rahmenfarbe ändern"));
  SpeedButton1 = Button(this, "SpeedButton1", "Hintergrund", QString::fromUtf8("Hintergrundfarbe ändern"));
  SpeedButton4 = Button(this, "SpeedButton4", "Schrift", QString::fromUtf8("Schriftart ändern"));
  SpeedButton6 = Button(this, "SpeedButton6", "Speichern", "Einstellungen speichern");
  Shape1 = new QFrame(this);
  Shape1->setObjectName("Shape1");
  Shape1->setFixedSize(24, 24);
  tools->addWidget(SpeedButton2, 0, 0);
  tools->addWidget(SpeedButton5, 0, 1);
  tools->addWidget(SpeedButton7, 0, 2);
  tools->addWidget(SpeedButton3, 1, 0, 1, 2);
  tools->addWidget(Shape1, 1, 2);
  tools->addWidget(SpeedButton1, 2, 0, 1, 3);
  tools->addWidget(SpeedButton4, 3, 0, 1, 3);
  tools->addWidget(SpeedButton6, 4, 0, 1, 3);
  grid->addLayout(tools, 2, 2, 1, 2);

  Button2 = new QPushButton("&Generier Bild", this);
  Button2->setObjectName("Button2");
  Button1 = new QPushButton("&Fenster zu", this);
  Button1->setObjectName("Button1");
  grid->addWidget(Button2, 3, 0, 1, 2);
  grid->addWidget(Button1, 3, 2, 1, 2);
  auto* grip = new QSizeGrip(this);
  grip->setObjectName("Image1");
  grid->addWidget(grip, 3, 4, Qt::AlignBottom | Qt::AlignRight);
  grid->setRowStretch(1, 1);

  const auto changed = [this] { Changed(); };
  Pair(Edit1, UpDown1, changed);
  Pair(Edit3, UpDown2, changed);
  connect(Memo1, &QPlainTextEdit::textChanged, this, changed);
  connect(Edit2, &QLineEdit::textEdited, this, [this] {
    UpdateFonts();
    Changed();
  });
  connect(TrackBar1, &QSlider::valueChanged, this, [this] {
    UpdateFonts();
    Changed();
  });
  for (QCheckBox* b : {CheckBox1, CheckBox9, CheckBox15}) connect(b, &QCheckBox::toggled, this, changed);
  connect(align, &QButtonGroup::buttonClicked, this, [this] {
    UpdateFonts();
    Changed();
  });
  connect(SpeedButton3, &QToolButton::clicked, this, &TForm17::ChooseFrameColour);
  connect(SpeedButton1, &QToolButton::clicked, this, &TForm17::ChooseBackgroundColour);
  connect(SpeedButton4, &QToolButton::clicked, this, &TForm17::ChooseFont);
  connect(SpeedButton6, &QToolButton::clicked, this, [this] { SaveSettingsClick(); });
  connect(Button3, &QPushButton::clicked, this, &TForm17::HeaderInfoClick);
  connect(Button2, &QPushButton::clicked, this, [this] { GenerateClick(); });
  connect(Button1, &QPushButton::clicked, this, &QWidget::close);
  ApplySettings(TTextFrameSettings{});
}

void TForm17::Changed() {
  if (!loading_) SpeedButton6->setEnabled(true);
}

void TForm17::UpdateFonts() {
  const TTextFrameSettings s = CurrentSettings();
  QFont memo = TextFrameFont(s);
  Memo1->setFont(memo);
  Edit2->setFont(TextFrameTitleFont(s));
  QPalette p = Memo1->palette();
  p.setColor(QPalette::Base, WindowsColour(background_));
  p.setColor(QPalette::Text, WindowsColour(fontColour_));
  Memo1->setPalette(p);
  Edit2->setPalette(p);
  QPalette shape = Shape1->palette();
  shape.setColor(QPalette::Window, WindowsColour(frameColour_));
  Shape1->setAutoFillBackground(true);
  Shape1->setPalette(shape);
  const Qt::Alignment a = SpeedButton5->isChecked()   ? Qt::AlignHCenter
                          : SpeedButton7->isChecked() ? Qt::AlignRight
                                                      : Qt::AlignLeft;
  QTextOption o = Memo1->document()->defaultTextOption();
  o.setAlignment(a);
  Memo1->document()->setDefaultTextOption(o);
}

TTextFrameSettings TForm17::CurrentSettings() const {
  TTextFrameSettings s;
  s.FrameOn = CheckBox1->isChecked();
  s.FrameColour = frameColour_;
  s.FrameWidth = Edit1->text().toStdString();
  s.FontName = textFont_.family().toStdString();
  s.FontSize = fontSize_;
  s.FontColour = fontColour_;
  s.Bold = textFont_.bold(), s.Italic = textFont_.italic();
  s.Underline = textFont_.underline(), s.StrikeOut = textFont_.strikeOut();
  s.Background = background_;
  s.TitleFactor = TrackBar1->value();
  s.Smooth = CheckBox9->isChecked();
  s.BorderWidth = Edit3->text().toStdString();
  s.Transition = CheckBox15->isChecked();
  s.Alignment = SpeedButton5->isChecked()   ? TTextAlignment::Centre
                : SpeedButton7->isChecked() ? TTextAlignment::Right
                                            : TTextAlignment::Left;
  return s;
}

void TForm17::ApplySettings(const TTextFrameSettings& s) {
  loading_ = true;
  CheckBox1->setChecked(s.FrameOn);
  frameColour_ = s.FrameColour & 0xFFFFFF;
  Edit1->setText(QString::fromStdString(s.FrameWidth));
  if (const auto v = TryStrToInt(s.FrameWidth)) UpDown1->SetPosition(int(*v));
  textFont_ = QFont(QString::fromStdString(s.FontName));
  textFont_.setBold(s.Bold);
  textFont_.setItalic(s.Italic);
  textFont_.setUnderline(s.Underline);
  textFont_.setStrikeOut(s.StrikeOut);
  fontSize_ = s.FontSize;
  fontColour_ = s.FontColour & 0xFFFFFF;
  background_ = s.Background & 0xFFFFFF;
  TrackBar1->setValue(s.TitleFactor);
  CheckBox9->setChecked(s.Smooth);
  Edit3->setText(QString::fromStdString(s.BorderWidth));
  if (const auto v = TryStrToInt(s.BorderWidth)) UpDown2->SetPosition(int(*v));
  CheckBox15->setChecked(s.Transition);
  (s.Alignment == TTextAlignment::Centre  ? SpeedButton5
   : s.Alignment == TTextAlignment::Right ? SpeedButton7
                                          : SpeedButton2)
      ->setChecked(true);
  UpdateFonts();
  loading_ = false;
}

TTextFrameRequest TForm17::CurrentRequest() const {
  TTextFrameRequest r;
  r.Settings = CurrentSettings();
  r.FrameWidth = UpDown1->Position();
  r.BorderWidth = UpDown2->Position();
  r.Title = Edit2->text();
  r.Text = Memo1->toPlainText();
  return r;
}

void TForm17::Start(int slot) {
  if (TextSlot >= 1 && TextSlot != slot && SlotInUse(TextSlot))
    if (TImageWindowLink* w = Store.Window[size_t(TextSlot)]) w->SetOperationIcons(false);
  TextSlot = slot;
  if (TImageWindowLink* w = Store.Window[size_t(slot)]) w->SetOperationIcons(true);
  show();
  for (int k = 0; k < HeaderInfoKeyCount; ++k) {
    const bool has = HeaderInfoAvailable(slot, THeaderInfoKey(k));
    HeaderBoxes[size_t(k)]->setEnabled(has);
    HeaderBoxes[size_t(k)]->setChecked(has);
  }
  TTextFrameSettings s = CurrentSettings();
  if (ReadTextFrameSettings(s)) ApplySettings(s);
  SpeedButton6->setEnabled(false);
  TranslateForm("Form17");
  raise();
}

void TForm17::HeaderInfoClick() {
  if (!SlotInUse(TextSlot)) return;
  THeaderInfoChoice ticked{};
  for (int k = 0; k < HeaderInfoKeyCount; ++k) ticked[size_t(k)] = HeaderBoxes[size_t(k)]->isChecked();
  Memo1->setPlainText(
      QString::fromStdString(BuildHeaderInfoText(TextSlot, ticked, Memo1->toPlainText().toStdString())));
}

int TForm17::GenerateClick() {
  if (!SlotInUse(TextSlot)) return -1;
  ActivateImageWindow(TextSlot);
  if (!SlotInUse(TextSlot)) return -1;
  int result = -1;
  try {
    result = RenderTextFrame(TextSlot, CurrentRequest());
  } catch (const std::bad_alloc&) {
    EngineUi().ShowMessage("Nicht genug Speicher");
    return -1;
  }
  if (result < 1) return result;
  ComputeHistogram(result, false, true);
  ShowImageWindow(result);
  return result;
}

bool TForm17::SaveSettingsClick() {
  std::string error;
  if (!WriteTextFrameSettings(CurrentSettings(), &error)) {
    EngineUi().ShowMessage(error);
    return false;
  }
  SpeedButton6->setEnabled(false);
  return true;
}

void TForm17::SetFrameColour(int32_t colour) {
  frameColour_ = colour & 0xFFFFFF;
  UpdateFonts();
  Changed();
}

void TForm17::SetBackgroundColour(int32_t colour) {
  background_ = colour & 0xFFFFFF;
  UpdateFonts();
  Changed();
}

void TForm17::SetTextFont(const QFont& font, int32_t colour) {
  textFont_ = font;
  fontSize_ = font.pointSize() > 0 ? font.pointSize() : std::max(1, font.pixelSize() * 72 / 96);
  fontColour_ = colour & 0xFFFFFF;
  UpdateFonts();
  Changed();
}

void TForm17::ChooseFrameColour() {
  const QColor c = QColorDialog::getColor(WindowsColour(frameColour_), this);
  if (c.isValid()) SetFrameColour(WindowsColourValue(c));
}

void TForm17::ChooseBackgroundColour() {
  const QColor c = QColorDialog::getColor(WindowsColour(background_), this);
  if (c.isValid()) SetBackgroundColour(WindowsColourValue(c));
}

void TForm17::ChooseFont() {
  QFont start = textFont_;
  start.setPointSize(std::max(1, fontSize_));
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, start, this);
  if (!ok) return;
  // The font's colour is chosen with it; a cancelled colour keeps the old one.
  const QColor c = QColorDialog::getColor(WindowsColour(fontColour_), this, "Schriftfarbe");
  SetTextFont(chosen, c.isValid() ? WindowsColourValue(c) : fontColour_);
}

void TForm17::closeEvent(QCloseEvent* e) {
  if (SlotInUse(TextSlot))
    if (TImageWindowLink* w = Store.Window[size_t(TextSlot)]) w->SetOperationIcons(false);
  TextSlot = -1;
  SlotPair = {-1, -1};
  QWidget::closeEvent(e);
}

bool TForm17::eventFilter(QObject* watched, QEvent* e) {
  // A click below the last line of the memo starts a new line.
  if (watched == Memo1->viewport() && e->type() == QEvent::MouseButtonPress) {
    const int h = TextFrameFont(CurrentSettings()).pixelSize();
    const int lines = Memo1->document()->blockCount();
    if (static_cast<QMouseEvent*>(e)->position().y() > lines * 1.3 * h + 4) Memo1->appendPlainText("");
  }
  return QWidget::eventFilter(watched, e);
}

TForm17* TextFrameDialog() { return Dialog.data(); }

void RegisterTextFrameDialog() {
  RegisterDialogForm(FormNumber, [] {
    Dialog = new TForm17;
    return static_cast<QWidget*>(Dialog.data());
  });
}

}  // namespace astrelon
