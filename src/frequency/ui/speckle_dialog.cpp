#include "frequency/ui/speckle_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <new>
#include <optional>
#include <stdexcept>

#include "common/engine_ui.h"
#include "common/number_text.h"
#include "common/pascal_format.h"
#include "common/paths.h"
#include "core/language.h"
#include "core/settings.h"
#include "frequency/speckle/speckle_response.h"
#include "frequency/speckle/speckle_result.h"
#include "frequency/ui/speckle_preview.h"
#include "platform/memory_probe.h"
#include "shell/display/preview_bitmap.h"
#include "shell/main/main_texts.h"
#include "shell/ui/controls/control_utils.h"
#include "shell/ui/dialogs/translate_form.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/histogram_refresh.h"
#include "store/load_messages.h"
#include "store/ui/open_dialog.h"
#include "store/ui/preview_control.h"

namespace astrelon {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QLineEdit* Field(const char* name, const char* text, int width = 56) {
  auto* e = new QLineEdit(QString::fromUtf8(text));
  e->setObjectName(name);
  e->setMaximumWidth(width);
  return e;
}

QLabel* Caption(const char* text) { return new QLabel(QString::fromUtf8(text)); }

QLabel* Value(const char* name) {
  auto* l = new QLabel("0");
  l->setObjectName(name);
  return l;
}

QToolButton* NavButton(const char* name, const char* caption, int step) {
  auto* b = new QToolButton;
  b->setObjectName(name);
  b->setText(caption);
  b->setProperty("Tag", step);
  return b;
}

// The number in a field; nullopt when it is none.
std::optional<double> Number(const QLineEdit* e) { return TryStrToFloatDot(e->text().toStdString()); }

// The number in a field as a whole number within the limits, or a message
// naming the field and nullopt.
std::optional<int32_t> WholeField(const QLineEdit* e, const char* caption, int32_t lo, int32_t hi) {
  const std::optional<double> v = Number(e);
  if (!v) {
    EngineUi().ShowMessage(std::string("\"") + caption + "\" ist keine Zahl: " + e->text().toStdString());
    return std::nullopt;
  }
  return int32_t(Round(std::clamp(*v, double(lo), double(hi))));
}

const char* const IdleCaption = "&Bilder registrieren";
const char* const RecomputeCaption = "Spektrum neu berechnen";

// A number field for the reconstruction, or a message naming it.
std::optional<double> NumberField(const QLineEdit* e, const char* caption) {
  const std::optional<double> v = Number(e);
  if (!v || !std::isfinite(*v))
    EngineUi().ShowMessage(std::string("\"") + caption + "\" ist keine Zahl: " + e->text().toStdString());
  return v && std::isfinite(*v) ? v : std::nullopt;
}

}  // namespace

TForm32::TForm32() : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName("Form32");
  setWindowTitle("Interferom. Bildregistrierung");
  setAcceptDrops(true);
  BuildControls();
  setMinimumSize(545, 602);
  resize(545, 602);
  HidePreview();
  ShowPanelsForMode();
  UpdateRegionLabels();
}

TForm32::~TForm32() {
  if (VideoOpen) CloseAviStream(Video);
  AviFrameShowHook = nullptr;
}

void TForm32::BuildControls() {
  Panel1 = new QWidget;
  Panel1->setObjectName("Panel1");
  auto* left = new QVBoxLayout(Panel1);
  left->setContentsMargins(4, 4, 4, 4);

  // Input.
  left->addWidget(Caption("Erstes Bild einer Serie oder AVI Video:"));
  // The file field as wide as the panel less the open button and 12 pixels (margins and spacing).
  auto* fileRow = new QHBoxLayout;
  fileRow->setSpacing(4);
  Edit4 = Field("Edit4", "", 16777215);
  Edit4->setReadOnly(true);
  Edit4->setContextMenuPolicy(Qt::CustomContextMenu);
  OpenBtn = new QToolButton;
  OpenBtn->setObjectName("OpenBtn");
  OpenBtn->setText("...");
  fileRow->addWidget(Edit4, 1);
  fileRow->addWidget(OpenBtn);
  left->addLayout(fileRow);
  RangePanel = new QWidget;
  RangePanel->setObjectName("Panel6");
  auto* range = new QHBoxLayout(RangePanel);
  range->setContentsMargins(0, 0, 0, 0);
  Edit5 = Field("Edit5", "1");
  Edit8 = Field("Edit8", "9999");
  Edit9 = Field("Edit9", "1", 40);
  for (auto [label, edit] : {std::pair{"Frames:", Edit5}, {"bis:", Edit8}, {"Step:", Edit9}}) {
    range->addWidget(Caption(label));
    range->addWidget(edit);
  }
  range->addStretch(1);
  left->addWidget(RangePanel);
  Panel7 = new QWidget;
  Panel7->setObjectName("Panel7");
  auto* nav = new QHBoxLayout(Panel7);
  nav->setContentsMargins(0, 0, 0, 0);
  AVItoBegin = NavButton("AVItoBegin", "|<", 0);
  Button11 = NavButton("Button11", "<<", -10);
  Button12 = NavButton("Button12", "<", -1);
  Button13 = NavButton("Button13", ">", 1);
  Button14 = NavButton("Button14", ">>", 10);
  Button15 = NavButton("Button15", ">|", 0);
  for (QToolButton* b : {AVItoBegin, Button11, Button12, Button13, Button14, Button15}) nav->addWidget(b);
  Label31 = new QLabel("#1");
  Label31->setObjectName("Label31");
  nav->addWidget(Label31);
  nav->addStretch(1);
  left->addWidget(Panel7);
  ListLabel = Caption("Oder Bildliste zur Registrierung:");
  left->addWidget(ListLabel);
  ListBox1 = new QListWidget;
  ListBox1->setObjectName("ListBox1");
  ListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
  ListBox1->installEventFilter(this);
  auto* listRow = new QHBoxLayout;
  listRow->addWidget(ListBox1, 1);
  Image2 = new QToolButton;
  Image2->setObjectName("Image2");
  Image2->setText("X");
  Image2->setToolTip("Markierte Dateien aus der Liste nehmen");
  listRow->addWidget(Image2, 0, Qt::AlignTop);
  left->addLayout(listRow, 1);
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  PopupMenu1->addAction(QString::fromUtf8("Einträge löschen"), this, [this] { ClearList(); });
  PopupMenu2 = new QMenu(this);
  PopupMenu2->setObjectName("PopupMenu2");
  PopupMenu2->addAction(QString::fromUtf8("Eintrag löschen"), this, [this] { ClearSeriesEntry(); });

  // Region, vectors, memory and the accumulation.
  auto* grid = new QGridLayout;
  int row = 0;
  grid->addWidget(Caption("Ausschnitt (mit Maus im Bild):"), row++, 0, 1, 4);
  RegionLeft = Value("RegionLeft");
  RegionTop = Value("RegionTop");
  RegionRight = Value("RegionRight");
  RegionBottom = Value("RegionBottom");
  grid->addWidget(Caption("X1:"), row, 0);
  grid->addWidget(RegionLeft, row, 1);
  grid->addWidget(Caption("Y1:"), row, 2);
  grid->addWidget(RegionTop, row++, 3);
  grid->addWidget(Caption("X2:"), row, 0);
  grid->addWidget(RegionRight, row, 1);
  grid->addWidget(Caption("Y2:"), row, 2);
  grid->addWidget(RegionBottom, row++, 3);
  Edit6 = Field("Edit6", "10");
  Edit7 = Field("Edit7", "50");
  grid->addWidget(Caption("Rand anpassen:"), row, 0, 1, 2);
  grid->addWidget(Edit6, row, 2);
  grid->addWidget(Caption("Pixel"), row++, 3);
  grid->addWidget(Caption("Maximale Luftunruhe:"), row, 0, 1, 2);
  grid->addWidget(Edit7, row, 2);
  grid->addWidget(Caption("Pixel"), row++, 3);
  ComboBox1 = new QComboBox;
  ComboBox1->setObjectName("ComboBox1");
  ComboBox1->addItems({"RGB", "Y,s/w", "R", "G", "B"});
  grid->addWidget(ComboBox1, row++, 0, 1, 2);
  VectorCount = Value("VectorCount");
  FreeMemory = Value("FreeMemory");
  UsedMemory = Value("UsedMemory");
  NeededMemory = Value("NeededMemory");
  for (auto [label, value] : {std::pair{"TC Anzahl:", VectorCount}, {"Verfügbarer Speicher:", FreeMemory},
                              {"Benutzter Speicher:", UsedMemory}, {"Benötigter Speicher:", NeededMemory}}) {
    grid->addWidget(Caption(label), row, 0, 1, 2);
    grid->addWidget(value, row++, 2, 1, 2);
  }
  Button5 = new QPushButton(IdleCaption);
  Button5->setObjectName("Button5");
  Button5->setEnabled(false);
  CheckBox1 = new QCheckBox("KT");
  CheckBox1->setObjectName("CheckBox1");
  grid->addWidget(Button5, row, 0, 1, 3);
  grid->addWidget(CheckBox1, row++, 3);
  left->addLayout(grid);

  // Reconstruction.
  auto* amplitude = new QGroupBox("Amplitudenrekonstruktion:");
  amplitude->setObjectName("GroupBox1");
  auto* ag = new QGridLayout(amplitude);
  CheckBox2 = new QCheckBox("-Rausch");
  CheckBox2->setObjectName("CheckBox2");
  Edit10 = Field("Edit10", "4.5");
  ag->addWidget(CheckBox2, 0, 0);
  ag->addWidget(Caption("Max Radius:"), 0, 1);
  ag->addWidget(Edit10, 0, 2);
  left->addWidget(amplitude);
  auto* phase = new QGridLayout;
  Edit2 = Field("Edit2", "1", 40);
  phase->addWidget(Caption("Max Schrittanzahl (0=Autokorr.):"), 0, 0);
  phase->addWidget(Edit2, 0, 1);
  Button4 = new QPushButton("Spektrum neu berechnen");
  Button4->setObjectName("Button4");
  Button4->setEnabled(false);
  phase->addWidget(Button4, 1, 0, 1, 2);
  left->addLayout(phase);
  auto* response = new QGroupBox("Frequenzgang anpassen:");
  response->setObjectName("GroupBox2");
  auto* rg = new QGridLayout(response);
  Edit3 = Field("Edit3", "1.1");
  Edit1 = Field("Edit1", "2.0");
  ButtonF = new QPushButton("Berechnen");
  ButtonF->setObjectName("ButtonF");
  ButtonF->setEnabled(false);
  rg->addWidget(Caption("Max Auflösung (Pixel):"), 0, 0);
  rg->addWidget(Edit3, 0, 1);
  rg->addWidget(Caption("D/r0:"), 1, 0);
  rg->addWidget(Edit1, 1, 1);
  rg->addWidget(ButtonF, 0, 2, 2, 1);
  left->addWidget(response);
  StatusLabel = new QLabel;
  StatusLabel->setObjectName("StatusLabel");
  left->addWidget(StatusLabel);
  auto* bottom = new QHBoxLayout;
  Button2 = new QPushButton("Beenden");
  Button2->setObjectName("Button2");
  Button3 = new QPushButton(QString::fromUtf8("Explorer öffnen"));
  Button3->setObjectName("Button3");
  bottom->addWidget(Button2);
  bottom->addWidget(Button3);
  left->addLayout(bottom);

  Image1 = new TSpecklePreview(nullptr);
  PreviewBox = new QScrollArea;
  PreviewBox->setObjectName("PreviewBox");
  PreviewBox->setWidget(Image1);
  PreviewBox->setWidgetResizable(false);
  Splitter1 = new QSplitter(Qt::Horizontal);
  Splitter1->setObjectName("Splitter1");
  Splitter1->addWidget(Panel1);
  Splitter1->addWidget(PreviewBox);
  Splitter1->setStretchFactor(1, 1);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Splitter1);

  connect(Splitter1, &QSplitter::splitterMoved, this, [this] { Splitter1Moved(); });
  connect(OpenBtn, &QToolButton::clicked, this, [this] { OpenBtnClick(); });
  connect(Edit4, &QLineEdit::customContextMenuRequested, this,
          [this](QPoint p) { PopupMenu2->popup(Edit4->mapToGlobal(p)); });
  connect(ListBox1, &QListWidget::customContextMenuRequested, this,
          [this](QPoint p) { PopupMenu1->popup(ListBox1->viewport()->mapToGlobal(p)); });
  connect(ListBox1, &QListWidget::itemClicked, this, [this] {
    const auto selected = ListBox1->selectedItems();
    if (selected.size() == 1) LoadPreviewFrame(selected.front()->text().toStdString());
  });
  connect(Image2, &QToolButton::clicked, this, [this] { RemoveSelectedEntries(); });
  connect(AVItoBegin, &QToolButton::clicked, this, [this] { GoToVideoFrame(0); });
  connect(Button15, &QToolButton::clicked, this, [this] { GoToVideoFrame(int64_t(Video.FrameCount) - 1); });
  for (QToolButton* b : {Button11, Button12, Button13, Button14})
    connect(b, &QToolButton::clicked, this,
            [this, b] { GoToVideoFrame(int64_t(Video.CurrentFrame) + b->property("Tag").toInt()); });
  Image1->RegionChanged = [this] {
    UpdateRegionLabels();
    UpdateSpeckleMemory();
  };
  connect(Edit6, &QLineEdit::textChanged, this, [this] { UpdateSpeckleMemory(); });
  connect(Edit7, &QLineEdit::textChanged, this, [this] { UpdateSpeckleMemory(); });
  connect(ComboBox1, &QComboBox::currentIndexChanged, this, [this] { UpdateSpeckleMemory(); });
  connect(Button5, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
  connect(ButtonF, &QPushButton::clicked, this, [this] { ButtonFClick(); });
  connect(Button2, &QPushButton::clicked, this, &QWidget::hide);
  connect(Button3, &QPushButton::clicked, this,
          [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(Q(ExplorerFolder()))); });
}

void TForm32::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  Button4->setEnabled(false);
  ButtonF->setEnabled(false);
  FreeMemory->setText(Q(IntToStr(Round(double(AvailableMemory()) / 1048576.0)) + " MB"));
  if (!shownOnce_) {
    shownOnce_ = true;
    ReadSettings(DecodeSpeckleSettings(Settings.PackedParams));
    if (LanguageFileLoaded) {
      // The colour choice from the translated channel names.
      const int index = ComboBox1->currentIndex();
      const QSignalBlocker block(ComboBox1);
      ComboBox1->clear();
      ComboBox1->addItems({"RGB", "Y,s/w"});
      for (int c = 1; c <= 3; ++c) ComboBox1->addItem(Q(MainTexts.ChannelNames[size_t(c)]));
      ComboBox1->setCurrentIndex(index);
    }
    if (DialogFormNeedsTranslation(SpeckleForm)) {
      TranslateForm("Form32");
      SetDialogFormTranslated(SpeckleForm);
    }
  }
  QPointer<TForm32> self(this);
  AviFrameShowHook = [self](const TPicture& frame, int32_t index) {
    if (self && self->isVisible()) self->ShowVideoFrame(frame, index);
  };
}

void TForm32::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  if (running_) {
    // The run ends first; its accumulators are freed after it.
    AbortRequested = 1;
    hidePending_ = true;
    return;
  }
  FinishHide();
}

void TForm32::FinishHide() {
  hidePending_ = false;
  Session.Release();
  Edit4->clear();
  ListBox1->clear();
  CloseVideo();
  SeriesMode = AviMode = false;
  HidePreview();
  StoreSpeckleSettings(FieldSettings(), Settings.PackedParams);
  AviFrameShowHook = nullptr;
  ReleaseDialogForm("Form32");
}

void TForm32::closeEvent(QCloseEvent* e) {
  AbortRequested = 1;
  if (Button2->isEnabled())
    e->accept();
  else
    e->ignore();
}

void TForm32::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape) {
    AbortRequested = 1;
    return;
  }
  QWidget::keyPressEvent(e);
}

void TForm32::ReadSettings(const TSpeckleSettings& s) {
  Edit6->setText(Q(IntToStr(s.Margin)));
  Edit7->setText(Q(IntToStr(s.Seeing)));
  Edit2->setText(Q(IntToStr(s.MaxSteps)));
  Edit10->setText(Q(SpeckleTenthsText(s.MaxRadiusTenths)));
  Edit3->setText(Q(SpeckleTenthsText(s.ResolutionTenths)));
  Edit1->setText(Q(SpeckleTenthsText(s.DOverR0Tenths)));
}

TSpeckleSettings TForm32::FieldSettings() const {
  // A field that holds no number keeps what the packed text holds.
  TSpeckleSettings s = DecodeSpeckleSettings(Settings.PackedParams);
  auto whole = [](const QLineEdit* e, int32_t& field, int32_t hi) {
    if (auto v = Number(e)) field = int32_t(Round(std::clamp(*v, 0.0, double(hi))));
  };
  auto tenths = [](const QLineEdit* e, int32_t& field, int32_t maxWhole) {
    if (auto v = Number(e)) field = SpeckleTenths(*v, maxWhole);
  };
  whole(Edit6, s.Margin, 255);
  whole(Edit7, s.Seeing, 255);
  whole(Edit2, s.MaxSteps, 9);
  tenths(Edit10, s.MaxRadiusTenths, 255);
  tenths(Edit3, s.ResolutionTenths, 15);
  tenths(Edit1, s.DOverR0Tenths, 255);
  return s;
}

TRectI TForm32::Region() const {
  const int32_t w = Session.FrameWidth, h = Session.FrameHeight;
  TRectI r{0, 0, std::max(w - 1, 0), std::max(h - 1, 0)};
  if (Image1->Shape1->isVisibleTo(Image1)) {
    const QRect g = Image1->Shape1->geometry();
    r.Left = std::clamp(g.left(), 0, r.Right);
    r.Top = std::clamp(g.top(), 0, r.Bottom);
    r.Right = std::clamp(g.left() + g.width() - 1, r.Left, r.Right);
    r.Bottom = std::clamp(g.top() + g.height() - 1, r.Top, r.Bottom);
  }
  return r;
}

void TForm32::UpdateRegionLabels() {
  const TRectI r = Region();
  RegionLeft->setText(QString::number(r.Left));
  RegionTop->setText(QString::number(r.Top));
  RegionRight->setText(QString::number(r.Right));
  RegionBottom->setText(QString::number(r.Bottom));
}

void TForm32::UpdateSpeckleMemory() {
  if (running_) return;
  const TRectI r = Region();
  const double seeing = Number(Edit7).value_or(2.0);
  const TSpeckleMemory m =
      Session.UpdateSpeckleMemory(r.Right - r.Left + 1, r.Bottom - r.Top + 1, seeing, ComboBox1->currentIndex());
  VectorCount->setText(QString::number(m.VectorCount));
  FreeMemory->setText(Q(IntToStr(Round(m.AvailableMB)) + " MB"));
  UsedMemory->setText(Q(IntToStr(Round(Session.UsedMB)) + " MB"));
  NeededMemory->setText(Q(IntToStr(Round(m.RequiredMB)) + " MB"));
  NeededMemory->setStyleSheet(m.Red ? "color: red;" : "");
  Button5->setEnabled(m.StartEnabled && Session.FrameWidth > 0);
  Button4->setEnabled(false);
  ButtonF->setEnabled(false);
}

void TForm32::SetRunning(bool running) {
  running_ = running;
  ListBox1->setEnabled(!running);
  Image2->setEnabled(!running);
  PreviewBox->setEnabled(!running);
  Button2->setEnabled(!running);
  // The inputs and the vector fields stay as they are while frames are read.
  for (QWidget* w : std::initializer_list<QWidget*>{Edit4, OpenBtn, RangePanel, Panel7, Edit6, Edit7, ComboBox1})
    w->setEnabled(!running);
  Button5->setText(running ? "Abbrechen" : IdleCaption);
  Button5->setEnabled(true);
  if (running) {
    Button4->setEnabled(false);
    ButtonF->setEnabled(false);
  } else {
    Button4->setEnabled(true);
  }
}

void TForm32::Button1Click() {
  if (running_) {
    AbortRequested = 1;
    Button5->setEnabled(false);
    return;
  }
  TSpeckleFrameInput input;
  if (AviMode && VideoOpen) {
    input.Mode = TSpeckleInput::Avi;
    input.Video = &Video;
  } else if (SeriesMode) {
    input.Mode = TSpeckleInput::Series;
  } else {
    input.Mode = TSpeckleInput::List;
    for (int k = 0; k < ListBox1->count(); ++k) input.Files.push_back(ListBox1->item(k)->text().toStdString());
    if (input.Files.size() < 2) return;
  }
  input.FirstFile = Edit4->text().toStdString();
  TSpeckleRunSettings settings;
  if (input.Mode != TSpeckleInput::List) {
    const auto first = WholeField(Edit5, "Frames:", INT32_MIN, INT32_MAX);
    const auto until = first ? WholeField(Edit8, "bis:", INT32_MIN, INT32_MAX) : std::nullopt;
    const auto step = until ? WholeField(Edit9, "Step:", 1, INT32_MAX) : std::nullopt;
    if (!step) return;
    input.FirstFrame = *first;
    input.Until = *until;
    input.Step = *step;
  }
  const auto margin = WholeField(Edit6, "Rand anpassen:", 0, 100000);
  if (!margin || !WholeField(Edit7, "Maximale Luftunruhe:", INT32_MIN, INT32_MAX)) return;
  settings.Region = Region();
  settings.Margin = *margin;
  settings.ColourChoice = std::clamp(ComboBox1->currentIndex(), 0, 4);
  settings.KT = CheckBox1->isChecked();

  SetRunning(true);
  int32_t frames = 0;
  try {
    TSpeckleRunHooks hooks;
    hooks.FrameShown = [this](int slot) {
      TDisplayBitmap bitmap;
      SetAutoDisplayRange(slot, false);
      if (FillPreviewBitmap(slot, bitmap, false)) SetPreview(BitmapImage(bitmap).copy());
    };
    hooks.FirstFrame = [this] {
      FreeMemory->setText(Q(IntToStr(Round(double(AvailableMemory()) / 1048576.0)) + " MB"));
      UsedMemory->setText(Q(IntToStr(Round(Session.UsedMB)) + " MB"));
      NeededMemory->setText("0 MB");
    };
    frames = Session.Accumulate(input, settings, hooks);
  } catch (const std::bad_alloc&) {
    EngineUi().ShowMessage(OutOfMemoryText(input.FirstFile));
  } catch (const std::exception& e) {
    EngineUi().ShowMessage(e.what());
  }
  SetRunning(false);
  if (!hidePending_ && frames >= 1) Reconstruct(true);
  if (hidePending_) FinishHide();
}

std::string TForm32::ExplorerFolder() const {
  std::string folder;
  if (ListBox1->count() > 0) folder = ExtractFilePath(ListBox1->item(0)->text().toStdString());
  if (folder.empty()) folder = ExtractFilePath(Settings.OpenDialogFileName);
  return folder;
}

void TForm32::SetReconstructing(bool running) {
  running_ = running;
  Button5->setEnabled(!running);
  Button2->setEnabled(!running);
  if (running) ButtonF->setEnabled(false);
  Button4->setText(running ? "Abbrechen" : RecomputeCaption);
  Button4->setEnabled(true);
  for (QWidget* w : std::initializer_list<QWidget*>{Edit4, OpenBtn, RangePanel, Panel7, Edit6, Edit7, ComboBox1,
                                                     ListBox1, Image2, PreviewBox})
    w->setEnabled(!running);
}

std::optional<TSpeckleResponse> TForm32::FieldResponse() {
  const auto a = NumberField(Edit3, "Max Auflösung (Pixel):");
  const auto b = a ? NumberField(Edit1, "D/r0:") : std::nullopt;
  if (!b) return std::nullopt;
  const TSpeckleResponse r = ClampSpeckleResponse(*a, *b);
  if (r.AClamped) Edit3->setText(Q(FloatToStr(r.A)));
  if (r.BClamped) Edit1->setText(Q(FloatToStr(r.B)));
  return r;
}

bool TForm32::Reconstruct(bool recompute) {
  if (running_) return false;
  TSpeckleReconstructionSettings settings;
  const auto steps = NumberField(Edit2, "Max Schrittanzahl (0=Autokorr.):");
  const auto radius = steps ? NumberField(Edit10, "Max Radius:") : std::nullopt;
  if (!radius) return false;
  const auto response = FieldResponse();
  if (!response) return false;
  if (!Session.DataPresent || !SlotInUse(Session.ResultSpectrum)) return true;
  settings.MaxSteps = int32_t(Round(std::clamp(*steps, -1.0, 100.0)));
  settings.NoiseCorrection = CheckBox2->isChecked();
  settings.MaxRadius = *radius;
  settings.Response = *response;
  TSpeckleReconstructionHooks hooks;
  hooks.SetUp = [this, steps = settings.MaxSteps](int32_t used, double r) {
    if (used != steps) Edit2->setText(QString::number(used));
    Edit10->setText(Q(FloatToStr(r)));
  };
  hooks.Status = [this](const std::string& text) { StatusLabel->setText(Q(text)); };
  SetReconstructing(true);
  TSpeckleOutcome outcome = TSpeckleOutcome::NotRun;
  try {
    outcome = SpeckleRekonstruktion(Session, recompute, settings, hooks);
    if (outcome == TSpeckleOutcome::Done) ShowSpeckleResult(recompute);
  } catch (const std::bad_alloc&) {
    EngineUi().ShowMessage(OutOfMemoryText(Session.ResultFolder));
    outcome = TSpeckleOutcome::Aborted;
  } catch (const std::exception& e) {
    EngineUi().ShowMessage(e.what());
    outcome = TSpeckleOutcome::Aborted;
  }
  SetReconstructing(false);
  StatusLabel->clear();
  ButtonF->setEnabled(outcome == TSpeckleOutcome::Done);
  return true;
}

void TForm32::Button4Click() {
  if (Button4->text() != RecomputeCaption) {
    AbortRequested = 1;
    Button4->setEnabled(false);
    return;
  }
  Reconstruct(false);
  if (hidePending_) FinishHide();
}

void TForm32::ButtonFClick() {
  if (!SlotInUse(Session.KeptSpectrum) || !SlotInUse(Session.ResultSpectrum)) return;
  const auto response = FieldResponse();
  if (!response) return;
  AdjustSpeckleFrequencyResponse(Session.KeptSpectrum, Session.ResultSpectrum, *response);
  ShowSpeckleResult(false);
}

void TForm32::ShowSpeckleResult(bool newResult) {
  bool isNew = false;
  const int slot = MakeSpeckleResultImage(Session, newResult, windowTitle().toStdString(), isNew);
  if (slot < 1) return;
  if (isNew || !Store.HasWindow[size_t(slot)])
    ShowImageWindow(slot);
  else
    ImageChanged(slot);
  RefreshHistogramWindow();
}

void RegisterSpeckleForm() {
  RegisterDialogForm(SpeckleForm, [] { return new TForm32; });
  // A result window that closes is no longer the window to update.
  static bool hooked = false;
  if (!hooked) {
    hooked = true;
    auto previous = std::move(TMDIChild::WindowClosedHook);
    TMDIChild::WindowClosedHook = [previous](int slot) {
      if (previous) previous(slot);
      if (auto* f = qobject_cast<TForm32*>(DialogForm(SpeckleForm)); f && f->Session.ResultImage == slot)
        f->Session.ResultImage = -1;
    };
  }
  RegisterFormLauncher("KTBildRegistrierung1", SpeckleForm, [](QAction*) {
    EnsureDialogForm(SpeckleForm);
    if (QWidget* form = DialogForm(SpeckleForm)) {
      FadeInForm(form);
      form->raise();
    }
  });
}

}  // namespace astrelon
