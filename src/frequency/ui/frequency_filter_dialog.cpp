#include "frequency/ui/frequency_filter_dialog.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSizeGrip>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>
#include <utility>

#include "common/engine_ui.h"
#include "common/number_text.h"
#include "common/pascal_format.h"
#include "core/busy_cursor.h"
#include "core/settings.h"
#include "filters/ui/radio_group.h"
#include "frequency/filter/frequency_curve_file.h"
#include "frequency/ui/filter_graph.h"
#include "frequency/ui/filter_knob.h"
#include "frequency/ui/guarded_handler.h"
#include "kernels/fft/spectrum_image.h"
#include "shell/slots/graph_image.h"
#include "shell/ui/dialogs/cancel_key.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/windows/window_creation.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/load_messages.h"

namespace astrelon {

namespace {

QPointer<TForm6> TheDialog;

constexpr int BrushStart = 10;  // "40% Punktbreite"
constexpr int BrushMax = 25;
constexpr double ZoomStep = 1.25;

enum { FieldFrequency, FieldValue, FieldQuality };

QString Q(const std::string& s) { return QString::fromStdString(s); }

QPushButton* Button(const char* name, const QString& text, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(name);
  return b;
}

QLineEdit* Edit(const char* name, QWidget* parent) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(name);
  e->setFixedWidth(48);
  return e;
}

QAction* Choice(QMenu* menu, QActionGroup* group, const char* name, const QString& text) {
  QAction* a = menu->addAction(text);
  a->setObjectName(name);
  a->setCheckable(true);
  group->addAction(a);
  return a;
}

// The picture of a graph as 8-bit RGB samples.
TPicture GraphPicture(const QImage& image) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  TPicture picture;
  picture.Format = {rgb.width(), rgb.height(), 3, 8, false};
  picture.Samples8.resize(size_t(rgb.width()) * size_t(rgb.height()) * 3);
  for (int y = 0; y < rgb.height(); ++y)
    std::copy_n(rgb.constScanLine(y), size_t(rgb.width()) * 3, picture.Samples8.data() + size_t(y) * rgb.width() * 3);
  return picture;
}

}  // namespace

TForm6* FrequencyFilterDialog() { return TheDialog; }

TForm6* EnsureFrequencyFilterDialog() {
  if (!TheDialog) TheDialog = new TForm6;
  return TheDialog;
}

TForm6::TForm6() : QWidget(nullptr, Qt::Tool) {
  setObjectName("Form6");
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_QuitOnClose, false);
  BuildControls();
  resize(760, 520);
}

TForm6::~TForm6() {
  if (running_) EndOperation(true);
  filter_.CloseSpectrum();
}

void TForm6::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);

  ScrollBox1 = new QScrollArea(this);
  ScrollBox1->setObjectName("ScrollBox1");
  ScrollBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  ScrollBox1->setMinimumHeight(160);
  Image1 = new TFilterGraph;
  Image1->setObjectName("Image1");
  ScrollBox1->setWidget(Image1);
  ScrollBox1->viewport()->installEventFilter(this);
  layout->addWidget(ScrollBox1, 1);

  // Buttons and files.
  auto* buttons = new QHBoxLayout;
  BerechnenButton = Button("BerechnenButton", "&Berechnen", this);
  OkButton = Button("OkButton", "&Ok", this);
  AbbrechenButton = Button("AbbrechenButton", "&Abbrechen", this);
  ResetButton = Button("ResetButton", "&Reset", this);
  ResetButton->setToolTip("Veränderungen rückgängig machen");
  OpenBtn = new QToolButton(this);
  OpenBtn->setObjectName("OpenBtn");
  OpenBtn->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
  OpenBtn->setToolTip("Frequenzänderung öffnen");
  SaveBtn = new QToolButton(this);
  SaveBtn->setObjectName("SaveBtn");
  SaveBtn->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  SaveBtn->setToolTip("Frequenzänderung speichern");
  for (QWidget* w : std::initializer_list<QWidget*>{BerechnenButton, OkButton, AbbrechenButton, ResetButton, OpenBtn,
                                                    SaveBtn})
    buttons->addWidget(w);
  buttons->addStretch(1);
  layout->addLayout(buttons);

  // Drawing and the 1D options.
  auto* options = new QHBoxLayout;
  MouseGroup = new TRadioGroup("Linke Maustaste", {"Linie", "Punkt"}, 2, this);
  MouseGroup->setObjectName("MouseGroup");
  MouseGroup->SetItemIndex(0);
  auto* brush = new QVBoxLayout;
  TrackBar1 = new QSlider(Qt::Horizontal, this);
  TrackBar1->setObjectName("TrackBar1");
  TrackBar1->setRange(0, BrushMax);
  TrackBar1->setValue(BrushStart);
  TrackBar1->setFixedWidth(110);
  BrushLabel = new QLabel("40% Punktbreite", this);
  BrushLabel->setObjectName("BrushLabel");
  brush->addWidget(TrackBar1);
  brush->addWidget(BrushLabel);
  LinesGroup = new TRadioGroup("Berechnung", {"Horizontal", "Hor.+Vert."}, 1, this);
  LinesGroup->setObjectName("LinesGroup");
  LinesGroup->SetItemIndex(0);
  FunctionGroup = new TRadioGroup("Funktion", {"Multipl.", "Additiv"}, 1, this);
  FunctionGroup->setObjectName("FunctionGroup");
  FunctionGroup->SetItemIndex(0);
  OmitBrightBox = new QCheckBox("Helle Bereiche auslassen", this);
  OmitBrightBox->setObjectName("OmitBrightBox");
  options->addWidget(MouseGroup);
  options->addLayout(brush);
  options->addWidget(LinesGroup);
  options->addWidget(FunctionGroup);
  options->addWidget(OmitBrightBox);
  options->addStretch(1);
  layout->addLayout(options);

  // The equaliser.
  auto* eq = new QHBoxLayout;
  EqBox = new QCheckBox("EQ:", this);
  EqBox->setObjectName("EqBox");
  eq->addWidget(EqBox);
  auto field = [&](const char* caption, QLineEdit*& edit, const char* editName, TFilterKnob*& knob,
                   QLabel** label = nullptr) {
    auto* l = new QLabel(caption, this);
    if (label) *label = l;
    edit = Edit(editName, this);
    knob = new TFilterKnob(this);
    eq->addWidget(l);
    eq->addWidget(edit);
    eq->addWidget(knob);
  };
  field("Frequenz", FrequencyEdit, "FrequencyEdit", FrequencyKnob);
  field("dB/Oktave", ValueEdit, "ValueEdit", ValueKnob, &ValueLabel);
  field("Güte", QualityEdit, "QualityEdit", QualityKnob);
  PassGroup = new TRadioGroup("Pass:", {"Band", "Tief", "invTief"}, 3, this);
  PassGroup->setObjectName("PassGroup");
  eq->addWidget(PassGroup);
  UebernehmenButton = Button("UebernehmenButton", "Übernehmen", this);
  eq->addWidget(UebernehmenButton);
  eq->addStretch(1);
  Image2 = new QSizeGrip(this);
  Image2->setObjectName("Image2");
  eq->addWidget(Image2, 0, Qt::AlignBottom | Qt::AlignRight);
  layout->addLayout(eq);
  setMinimumSize(560, 380);

  // The graph's pop-up menu.
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  auto* range = new QActionGroup(this);
  Range120 = Choice(PopupMenu1, range, "Range120", "Amplitude 0 -> 120 dB");
  Range240 = Choice(PopupMenu1, range, "Range240", "Amplitude 0 -> 240 dB");
  Range120->setChecked(true);
  PopupMenu1->addSeparator();
  auto* width = new QActionGroup(this);
  WidthMaximal = Choice(PopupMenu1, width, "WidthMaximal", "Grafikbreite maximal");
  WidthScaled = Choice(PopupMenu1, width, "WidthScaled", "Grafikbreite auf Fenstergröße skaliert");
  WidthScaled->setChecked(true);
  PopupMenu1->addSeparator();
  auto* shape = new QActionGroup(this);
  KeepShape = Choice(PopupMenu1, shape, "KeepShape", "Bei gezeichneten Linien die Kurvenform übernehmen");
  IgnoreShape = Choice(PopupMenu1, shape, "IgnoreShape", "Die Kurvenform nicht übernehmen");
  (Settings.FftCurveKeep ? KeepShape : IgnoreShape)->setChecked(true);
  PopupMenu1->addSeparator();
  GraphToImage = PopupMenu1->addAction("Bild von der Grafik machen");
  GraphToImage->setObjectName("GraphToImage");

  connect(BerechnenButton, &QPushButton::clicked, this, [this] { Guarded([this] { BerechnenClick(); }); });
  connect(OkButton, &QPushButton::clicked, this, [this] { Guarded([this] { OkClick(); }); });
  connect(AbbrechenButton, &QPushButton::clicked, this, [this] { Guarded([this] { AbbrechenClick(); }); });
  connect(ResetButton, &QPushButton::clicked, this, [this] { Guarded([this] { ResetClick(); }); });
  connect(UebernehmenButton, &QPushButton::clicked, this, [this] { UebernehmenClick(); });
  connect(OpenBtn, &QToolButton::clicked, this, [this] { Guarded([this] { OpenBtnClick(); }); });
  connect(SaveBtn, &QToolButton::clicked, this, [this] { Guarded([this] { SaveBtnClick(); }); });
  connect(TrackBar1, &QSlider::valueChanged, this,
          [this](int p) { BrushLabel->setText(QString::number(4 * p) + " % Punktbreite"); });
  connect(OmitBrightBox, &QCheckBox::toggled, this, [this](bool on) {
    if (on) LinesGroup->SetItemIndex(0);
  });
  connect(LinesGroup, &TRadioGroup::Clicked, this, [this](int index) {
    if (index == 1) OmitBrightBox->setChecked(false);
  });
  connect(EqBox, &QCheckBox::toggled, this, [this] { ApplyEqualiser(); });
  for (QLineEdit* e : {FrequencyEdit, ValueEdit, QualityEdit})
    connect(e, &QLineEdit::textChanged, this, [this] {
      ReadEqualiserFields();
      if (EqBox->isChecked()) ApplyEqualiser();
    });
  connect(PassGroup, &TRadioGroup::Clicked, this, [this](int index) { PassChosen(index); });
  connect(FrequencyKnob, &TFilterKnob::Turned, this, [this](int px) { KnobTurned(FieldFrequency, px); });
  connect(ValueKnob, &TFilterKnob::Turned, this, [this](int px) { KnobTurned(FieldValue, px); });
  connect(QualityKnob, &TFilterKnob::Turned, this, [this](int px) { KnobTurned(FieldQuality, px); });
  connect(Image1, &TFilterGraph::MousePressed, this, &TForm6::GraphPressed);
  connect(Image1, &TFilterGraph::MouseMoved, this, &TForm6::GraphMoved);
  connect(Image1, &TFilterGraph::MouseReleased, this, &TForm6::GraphReleased);
  connect(Image1, &TFilterGraph::WheelTurned, this, &TForm6::GraphWheel);
  connect(range, &QActionGroup::triggered, this, [this] { DrawFilterGraph(); });
  connect(width, &QActionGroup::triggered, this, [this] {
    zoom_ = 1.0;
    DrawFilterGraph();
  });
  connect(shape, &QActionGroup::triggered, this, [this] { Settings.FftCurveKeep = KeepShape->isChecked() ? 1 : 0; });
  connect(GraphToImage, &QAction::triggered, this, [this] { Guarded([this] { MakeGraphImage(); }); });
}

template <class F>
void TForm6::Guarded(F&& f) {
  RunGuarded(std::forward<F>(f));
}

bool TForm6::Start(int source, int result, bool twoD) {
  source_ = source;
  result_ = result;
  twoD_ = twoD;
  setWindowTitle(twoD ? " 2D Frequenzfilter" : " 1D Frequenzfilter");
  SlotPair = {source, result};
  SetOperationActive(true);
  running_ = true;
  // The equaliser starts afresh.
  {
    const QSignalBlocker block(EqBox);
    EqBox->setChecked(false);
  }
  PassGroup->SetItemIndex(0);
  PassChosen(0);
  {
    const QSignalBlocker block(FrequencyEdit);
    FrequencyEdit->setText("0.50");
  }
  ReadEqualiserFields();
  BerechnenButton->setEnabled(false);
  UebernehmenButton->setEnabled(false);
  for (QWidget* w : std::initializer_list<QWidget*>{LinesGroup, FunctionGroup, OmitBrightBox}) w->setVisible(!twoD);
  if (twoD) FunctionGroup->SetItemIndex(0);
  filter_.TwoD = twoD;
  filter_.Outer = FftOuterMarginSetting();
  bool made = false;
  Guarded([&] { made = ComputeFilterSpectrum(result); });
  if (!made) {
    EndOperation(true);
    return false;
  }
  show();
  raise();
  DrawFilterGraph();
  return true;
}

TPlaneList TForm6::Planes() const { return SelectedChannels(result_); }

TRowFilterOptions TForm6::RowOptions() const {
  return {.Additive = !twoD_ && FunctionGroup->ItemIndex() == 1,
          .OmitBright = !twoD_ && OmitBrightBox->isChecked(),
          .Columns = !twoD_ && LinesGroup->ItemIndex() == 1};
}

bool TForm6::ComputeFilterSpectrum(int slot) {
  TBusyCursorScope busy;
  if (filter_.ComputeFilterSpectrum(slot, Planes(), RowOptions().OmitBright)) return true;
  EngineUi().ShowMessage(FindFreeSlot() < 1 ? TooManyImagesText()
                                            : std::string("Das Spektrum des Bildes kann nicht berechnet werden."));
  return false;
}

int TForm6::GraphWidth() const {
  const int K = filter_.Curves.K();
  if (WidthMaximal->isChecked()) return std::max(1, int(std::lround(K * zoom_)));
  return std::max(10, int(std::lround((ScrollBox1->viewport()->width() - 6) * zoom_)));
}

double TForm6::BinsPerPixel() const {
  if (WidthMaximal->isChecked()) return 1.0 / zoom_;
  return double(std::max(filter_.Curves.K() - 1, 1)) / GraphWidth();
}

TGraphScale TForm6::GraphScale() const {
  TGraphScale g;
  g.Height = std::max(100, ScrollBox1->viewport()->height() - 4);
  g.RangeFactor = Range240->isChecked() ? 2 : 1;
  g.Max = filter_.Curves.Max;
  return g;
}

void TForm6::DrawFilterGraph() {
  Image1->SetPicture(astrelon::DrawFilterGraph(filter_.Curves, GraphScale(), GraphWidth(), BinsPerPixel()));
}

bool TForm6::eventFilter(QObject* watched, QEvent* e) {
  if (watched == ScrollBox1->viewport() && e->type() == QEvent::Resize && filter_.Curves.K() > 0) DrawFilterGraph();
  return QWidget::eventFilter(watched, e);
}

void TForm6::CurveEdited() {
  BerechnenButton->setEnabled(true);
  UebernehmenButton->setEnabled(true);
  DrawFilterGraph();
}

void TForm6::GraphPressed(QPoint at, Qt::MouseButton button) {
  if (button == Qt::RightButton) {
    PopupMenu1->popup(Image1->mapToGlobal(at));
    return;
  }
  if (button != Qt::LeftButton || filter_.Curves.K() < 1) return;
  drawing_ = true;
  drawBase_ = filter_.Curves.C;
  pressAt_ = lastAt_ = at;
  if (MouseGroup->ItemIndex() == 1) GraphMoved(at, Qt::LeftButton);
}

void TForm6::GraphMoved(QPoint at, Qt::MouseButtons buttons) {
  if (!drawing_ || !(buttons & Qt::LeftButton)) return;
  if (MouseGroup->ItemIndex() == 0) {
    Image1->SetRubberLine(true, pressAt_, at);
    return;
  }
  const TGraphScale g = GraphScale();
  const bool keep = KeepShape->isChecked();
  if (twoD_ && TrackBar1->value() > 0)
    ApplyCurveBrush(filter_.Curves.C, drawBase_, g, BinsPerPixel(), at.x(), at.y(), TrackBar1->value(), keep);
  else
    DrawCurveLine(filter_.Curves.C, drawBase_, g, BinsPerPixel(), lastAt_.x(), lastAt_.y(), at.x(), at.y(), keep);
  lastAt_ = at;
  DrawFilterGraph();
}

void TForm6::GraphReleased(QPoint at, Qt::MouseButton button) {
  if (button != Qt::LeftButton || !drawing_) return;
  drawing_ = false;
  if (MouseGroup->ItemIndex() == 0) {
    Image1->SetRubberLine(false);
    DrawCurveLine(filter_.Curves.C, drawBase_, GraphScale(), BinsPerPixel(), pressAt_.x(), pressAt_.y(), at.x(),
                  at.y(), KeepShape->isChecked());
  }
  CurveEdited();
}

void TForm6::GraphWheel(int steps) {
  zoom_ = std::clamp(zoom_ * std::pow(ZoomStep, steps), 0.25, 16.0);
  DrawFilterGraph();
}

void TForm6::ReadEqualiserFields() {
  if (const auto f = TryStrToFloat32Dot(FrequencyEdit->text().toStdString())) eq_.Frequency = *f;
  if (const auto v = TryStrToFloat32Dot(ValueEdit->text().toStdString())) eq_.Value = *v;
  if (const auto q = TryStrToFloat32Dot(QualityEdit->text().toStdString())) eq_.Quality = *q;
  ShowKnobs();
}

void TForm6::ShowKnobs() {
  double low, high;
  EqualiserValueRange(eq_.Pass, low, high);
  FrequencyKnob->SetShown(eq_.Frequency, 0.0, 1.0);
  ValueKnob->SetShown(eq_.Value, low, high);
  QualityKnob->SetShown(eq_.Quality, 0.0, 80.0);
}

void TForm6::ApplyEqualiser() {
  TFilterCurves& c = filter_.Curves;
  if (c.B.size() != c.C.size()) return;
  if (EqBox->isChecked())
    EqualiseCurve(c.B, c.C, eq_);
  else
    c.C = c.B;
  CurveEdited();
}

void TForm6::PassChosen(int index) {
  eq_.Pass = index == 1 ? TEqualiserPass::Low : index == 2 ? TEqualiserPass::InverseLow : TEqualiserPass::Band;
  ValueLabel->setText(eq_.Pass == TEqualiserPass::Band ? "Amplitude" : "dB/Oktave");
  const TEqualiserDefaults d = EqualiserDefaults(eq_.Pass);
  {
    const QSignalBlocker a(ValueEdit), b(QualityEdit);
    ValueEdit->setText(d.Value);
    QualityEdit->setText(d.Quality);
  }
  ReadEqualiserFields();
  if (EqBox->isChecked()) ApplyEqualiser();
}

void TForm6::KnobTurned(int field, int pixels) {
  double low, high;
  EqualiserValueRange(eq_.Pass, low, high);
  switch (field) {
    case FieldFrequency:
      FrequencyEdit->setText(Q(FormatFixed(std::clamp(eq_.Frequency + 0.01 * pixels, 0.01, 1.0), 2)));
      break;
    case FieldValue:
      ValueEdit->setText(Q(FormatFixed(std::clamp(eq_.Value + 0.1 * pixels, low, high), 1)));
      break;
    default:
      QualityEdit->setText(Q(FormatFixed(std::clamp(eq_.Quality + 0.02 * pixels, 0.01, 80.0), 2)));
      break;
  }
}

void TForm6::UebernehmenClick() {
  filter_.Curves.B = filter_.Curves.C;
  {
    const QSignalBlocker block(EqBox);
    EqBox->setChecked(false);
  }
  UebernehmenButton->setEnabled(false);
}

void TForm6::BerechnenClick() {
  if (!running_ || !SlotInUse(result_) || !SlotInUse(source_)) return;
  {
    TBusyCursorScope busy;
    if (!filter_.Apply(source_, result_, Planes(), RowOptions())) {
      EngineUi().ShowMessage(FindFreeSlot() < 1 ? TooManyImagesText()
                                                : std::string("Der Filter konnte nicht angewendet werden."));
      return;
    }
  }
  ComputeHistogram(result_, false, true);
  ReleaseWindowUndo(result_);
  ImageChanged(result_);
  BerechnenButton->setEnabled(false);
}

void TForm6::CopySourceIntoResult() {
  if (!SlotInUse(source_) || !SlotInUse(result_)) return;
  const TImageSlot& src = Store.Image[source_];
  TImageSlot& dst = Store.Image[result_];
  for (int p = 1; p <= src.PlaneCount; ++p) dst.Planes[p].assign(src.Planes[p].begin(), src.Planes[p].end());
  dst.Width = src.Width;
  dst.Height = src.Height;
  dst.PlaneCount = src.PlaneCount;
  dst.IsColor = src.IsColor;
  dst.ColorModel = src.ColorModel;
  ComputeHistogram(result_, false, true);
  ReleaseWindowUndo(result_);
  ImageChanged(result_);
}

void TForm6::ResetClick() {
  filter_.Curves.ResetToSpectrum(filter_.Curves.Max);
  {
    const QSignalBlocker block(EqBox);
    EqBox->setChecked(false);
  }
  DrawFilterGraph();
  CopySourceIntoResult();
  BerechnenButton->setEnabled(false);
  UebernehmenButton->setEnabled(false);
}

void TForm6::EndOperation(bool closeResult) {
  if (!running_) return;
  running_ = false;
  SlotPair = {source_, result_};
  SetOperationActive(false);
  SlotPair = {};
  if (closeResult && SlotInUse(result_)) CloseImageSlot(result_);
}

void TForm6::OkClick() {
  if (!running_) return;
  if (SlotInUse(result_)) {
    AddHistoryCard(result_, windowTitle().trimmed().toStdString(), 0);
    ComputeHistogram(result_, false, true);
    ImageChanged(result_);
  }
  EndOperation(false);
  close();
}

void TForm6::AbbrechenClick() {
  EndOperation(true);
  close();
}

void TForm6::closeEvent(QCloseEvent* e) {
  EndOperation(true);
  filter_.CloseSpectrum();
  e->accept();
}

void TForm6::keyPressEvent(QKeyEvent* e) {
  if (EscapeCancels(e, false, [this] { Guarded([this] { AbbrechenClick(); }); })) return;
  QWidget::keyPressEvent(e);
}

void TForm6::PartnerClosed(int slot) {
  if (slot != source_ && slot != result_) return;
  EndOperation(false);
  close();
}

TSlotPair TForm6::Pair() const {
  if (!running_) return {};
  return {source_, result_};
}

void TForm6::PartnerSwitched() {
  if (!running_ || !SlotInUse(source_) || !SlotInUse(result_)) return;
  Guarded([this] {
    CopySourceIntoResult();
    if (!ComputeFilterSpectrum(source_)) return;
    DrawFilterGraph();
    BerechnenButton->setEnabled(true);
  });
}

void TForm6::OpenBtnClick() {
  const QString file = QFileDialog::getOpenFileName(this, "Frequenzänderung öffnen", QString(),
                                                    "Frequenzänderung (*.qfg)", nullptr,
                                                    QFileDialog::DontUseNativeDialog);
  if (!file.isEmpty()) OpenCurveFile(file.toStdString());
}

void TForm6::OpenCurveFile(const std::string& fileName) {
  TFrequencyCurveFile file;
  std::string error;
  const TCurveFileRead read = ReadFrequencyCurveFile(fileName, file, &error);
  if (read == TCurveFileRead::Refused) EngineUi().ShowMessage(error);
  if (read != TCurveFileRead::Read) return;
  TFilterCurves& c = filter_.Curves;
  const std::vector<double> gains = ResampleCurveGains(file.Gains, c.K(), Settings.InterpolationKind);
  for (size_t i = 0; i < gains.size(); ++i) c.C[i] = gains[i] * c.S[i];
  c.B = c.C;
  {
    const QSignalBlocker block(EqBox);
    EqBox->setChecked(false);
  }
  BerechnenButton->setEnabled(true);
  DrawFilterGraph();
}

void TForm6::SaveBtnClick() {
  QFileDialog dialog(this, "Frequenzänderung speichern", QString(), "Frequenzänderung (*.qfg)");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix("qfg");
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  SaveCurveFile(dialog.selectedFiles().front().toStdString());
}

bool TForm6::SaveCurveFile(const std::string& fileName) {
  std::string error;
  if (WriteFrequencyCurveFile(fileName, CurveFileGains(filter_.Curves), &error)) return true;
  EngineUi().ShowMessage(error.empty() ? "Die Datei " + fileName + " kann nicht geschrieben werden." : error);
  return false;
}

int TForm6::MakeGraphImage() {
  const int slot = PictureToNewImage(GraphPicture(Image1->Picture()));
  if (slot >= 1) ShowImageWindow(slot);
  return slot;
}

}  // namespace astrelon
