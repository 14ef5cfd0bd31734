#include "frequency/ui/deconvolution_dialog.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <utility>

#include "common/engine_ui.h"
#include "common/number_text.h"
#include "core/run_state.h"
#include "frequency/deconvolution/deconvolution.h"
#include "frequency/deconvolution/deconvolution_mix.h"
#include "frequency/deconvolution/deconvolution_sliders.h"
#include "frequency/deconvolution/psf_images.h"
#include "frequency/deconvolution/psf_shapes.h"
#include "frequency/deconvolution/psf_view.h"
#include "frequency/ui/guarded_handler.h"
#include "frequency/ui/psf_view_widget.h"
#include "kernels/regions/rect_runs.h"
#include "pixelops/ui/tool_launch_commands.h"
#include "registration/calibration/dark_subtraction.h"
#include "shell/ui/dialogs/cancel_key.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/side_panel/star_panel.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/histogram_refresh.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

QPointer<TForm22> TheDialog;

constexpr int MixDelayMs = 150;
constexpr int ListNameRole = Qt::UserRole + 1;

const char* const ClampOnHint = "Wert verringern, negative Werte werden zu 0. (Rechtsklick)";
const char* const ClampOffHint = "Wert verringern, negative Werte bleiben erhalten. (Rechtsklick)";

QString U(const char* text) { return QString::fromUtf8(text); }

QSlider* Slider(const char* name, int max, QWidget* parent) {
  auto* s = new QSlider(Qt::Horizontal, parent);
  s->setObjectName(name);
  s->setRange(0, max);
  return s;
}

QLineEdit* Edit(const char* name, QWidget* parent) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(name);
  e->setFixedWidth(52);
  return e;
}

QToolButton* Speed(const char* name, const char* caption, QWidget* parent, bool checkable = true) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setText(U(caption));
  b->setCheckable(checkable);
  return b;
}

QPushButton* Button(const char* name, const char* caption, QWidget* parent) {
  auto* b = new QPushButton(U(caption), parent);
  b->setObjectName(name);
  return b;
}

QLabel* Label(const char* text, QWidget* parent) { return new QLabel(U(text), parent); }

// A line of a caption, a field and its slider.
QHBoxLayout* FieldRow(QWidget* parent, const char* caption, QLineEdit* edit, QSlider* slider) {
  auto* row = new QHBoxLayout;
  row->addWidget(Label(caption, parent));
  row->addWidget(edit);
  row->addWidget(slider, 1);
  return row;
}

}  // namespace

TForm22* DeconvolutionDialog() { return TheDialog; }

void RegisterDeconvolutionForm() {
  RegisterDialogForm(DeconvolutionForm, [] {
    auto* form = new TForm22;
    TheDialog = form;
    return form;
  });
}

TForm22::TForm22() {
  setObjectName("Form22");
  setWindowTitle(QString::fromLatin1(DeconvolutionCaption).trimmed());
  setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
  setAttribute(Qt::WA_QuitOnClose, false);
  BuildControls();
  ConnectControls();
}

TForm22::~TForm22() {
  // The main window's PSF panel must not read the grid of a form that is gone.
  if (shown_) SetPanelPsfArray(nullptr);
}

void TForm22::BuildControls() {
  // The view with its scroll bars and the brush buttons.
  Image3 = new TPsfViewWidget(this);
  Image3->setObjectName("Image3");
  ScrollBar1 = new QScrollBar(Qt::Horizontal, this);
  ScrollBar1->setObjectName("ScrollBar1");
  ScrollBar2 = new QScrollBar(Qt::Vertical, this);
  ScrollBar2->setObjectName("ScrollBar2");
  for (QScrollBar* s : {ScrollBar1, ScrollBar2}) {
    s->setRange(0, PsfScrollMax);
    s->setValue(PsfScrollMax / 2);
    s->setEnabled(false);
  }
  auto* view = new QGridLayout;
  view->addWidget(Image3, 0, 0);
  view->addWidget(ScrollBar2, 0, 1);
  view->addWidget(ScrollBar1, 1, 0);
  SpeedButton3 = Speed("SpeedButton3", " x1", this, false);
  SpeedButton4 = Speed("SpeedButton4", "Zeichnen", this);
  SpeedButton1 = Speed("SpeedButton1", "Glätten", this);
  SpeedButton2 = Speed("SpeedButton2", " -w", this);
  SpeedButton2->setToolTip(U(ClampOnHint));
  SpeedButton2->installEventFilter(this);
  SpeedButton5 = Speed("SpeedButton5", "-> Bild", this, false);
  SpeedButton5->setToolTip(U("Ein Bild aus der PSF machen"));
  auto* brushes = new QButtonGroup(this);
  for (QToolButton* b : {SpeedButton4, SpeedButton1, SpeedButton2}) brushes->addButton(b);
  SpeedButton4->setChecked(true);
  auto* tools = new QHBoxLayout;
  for (QToolButton* b : {SpeedButton3, SpeedButton4, SpeedButton1, SpeedButton2, SpeedButton5}) tools->addWidget(b);
  tools->addStretch(1);
  auto* left = new QVBoxLayout;
  left->addLayout(view);
  left->addLayout(tools);
  left->addStretch(1);

  // The two component PSFs, the aspect, the weight and the link.
  TrackBar2 = Slider("TrackBar2", PsfShapePositions - 1, this);
  TrackBar3 = Slider("TrackBar3", PsfShapePositions - 1, this);
  TrackBar6 = Slider("TrackBar6", RadiusSliderMax, this);
  TrackBar4 = Slider("TrackBar4", RadiusSliderMax, this);
  TrackBar1 = Slider("TrackBar1", AspectSliderMax, this);
  TrackBar7 = Slider("TrackBar7", WeightSliderMax, this);
  TrackBar7->setInvertedAppearance(true);  // weight 0 on the left, 1 on the right
  Edit2 = Edit("Edit2", this);
  Edit3 = Edit("Edit3", this);
  Edit1 = Edit("Edit1", this);
  Edit4 = Edit("Edit4", this);
  SpeedButton8 = Speed("SpeedButton8", "+", this);
  SpeedButton9 = Speed("SpeedButton9", "-", this);
  SpeedButton10 = Speed("SpeedButton10", "*", this);
  SpeedButton10->setToolTip(U("Verknüpfung mit PSF1"));
  auto* links = new QButtonGroup(this);
  for (QToolButton* b : {SpeedButton8, SpeedButton9, SpeedButton10}) links->addButton(b);
  SpeedButton8->setChecked(true);
  auto* right = new QVBoxLayout;
  const char* shapes = "Kegel   Gauss   Scheibe   Kreis   Strich";
  right->addWidget(Label("PSF1", this));
  right->addWidget(TrackBar2);
  right->addWidget(Label(shapes, this));
  right->addLayout(FieldRow(this, "Radius1", Edit2, TrackBar6));
  right->addWidget(Label("PSF2", this));
  right->addWidget(TrackBar3);
  right->addWidget(Label(shapes, this));
  right->addLayout(FieldRow(this, "Radius2", Edit3, TrackBar4));
  right->addLayout(FieldRow(this, "Y/X", Edit1, TrackBar1));
  auto* weight = FieldRow(this, "PSF2", Edit4, TrackBar7);
  weight->insertWidget(2, Label("0", this));
  weight->addWidget(Label("1", this));
  right->addLayout(weight);
  auto* linkRow = new QHBoxLayout;
  for (QToolButton* b : {SpeedButton8, SpeedButton9, SpeedButton10}) linkRow->addWidget(b);
  linkRow->addStretch(1);
  right->addLayout(linkRow);

  // Where the PSF comes from.
  SpeedButton6 = Speed("SpeedButton6", "PSF-Bild ^", this);
  SpeedButton6->setToolTip(U("Bild als PSF nehmen"));
  SpeedButton7 = Speed("SpeedButton7", "v Auswahl", this);
  SpeedButton7->setToolTip(U("Angezeigte PSF nehmen"));
  auto* sources = new QButtonGroup(this);
  sources->addButton(SpeedButton6);
  sources->addButton(SpeedButton7);
  SpeedButton7->setChecked(true);
  ComboBox2 = new QComboBox(this);
  ComboBox2->setObjectName("ComboBox2");
  ComboBox2->setMinimumWidth(160);
  ComboBox2->installEventFilter(this);
  Button4 = Button("Button4", "Bild einfügen -->", this);
  Button4->setEnabled(false);
  auto* sourceRow = new QHBoxLayout;
  sourceRow->addWidget(SpeedButton6);
  sourceRow->addWidget(SpeedButton7);
  sourceRow->addWidget(ComboBox2, 1);
  sourceRow->addWidget(Button4);

  // Noise, strength and the buttons.
  TrackBar5 = Slider("TrackBar5", NoiseSliderMax, this);
  Label6 = new QLabel(this);
  Label6->setObjectName("Label6");
  auto* noise = new QHBoxLayout;
  noise->addWidget(Label("Bildrauschen:", this));
  noise->addWidget(TrackBar5, 1);
  noise->addWidget(Label6);
  TrackBar8 = Slider("TrackBar8", StrengthSliderMax, this);
  auto* strength = new QHBoxLayout;
  strength->addWidget(Label("Stärke", this));
  strength->addWidget(Label("linear", this));
  strength->addWidget(TrackBar8, 1);
  strength->addWidget(Label("quadr.", this));
  Button3 = Button("Button3", "&Berechnen", this);
  Button2 = Button("Button2", "&Ok", this);
  Button1 = Button("Button1", "&Abbrechen", this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* b : {Button3, Button2, Button1}) buttons->addWidget(b);
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(MixDelayMs);

  auto* top = new QHBoxLayout;
  top->addLayout(left);
  top->addLayout(right, 1);
  auto* outer = new QVBoxLayout(this);
  outer->addLayout(top);
  outer->addLayout(sourceRow);
  outer->addLayout(noise);
  outer->addLayout(strength);
  outer->addLayout(buttons);
}

void TForm22::ConnectControls() {
  connect(TrackBar5, &QSlider::valueChanged, this,
          [this] { Label6->setText(QString::fromStdString(DeconvolutionNoiseText(Noise()))); });
  connect(TrackBar6, &QSlider::valueChanged, this,
          [this](int p) { Edit2->setText(QString::fromStdString(PsfRadiusText(PsfRadiusOfPosition(p)))); });
  connect(TrackBar4, &QSlider::valueChanged, this,
          [this](int p) { Edit3->setText(QString::fromStdString(PsfRadiusText(PsfRadiusOfPosition(p)))); });
  connect(TrackBar1, &QSlider::valueChanged, this,
          [this](int p) { Edit1->setText(QString::fromStdString(PsfAspectText(PsfAspectOfPosition(p)))); });
  connect(TrackBar7, &QSlider::valueChanged, this,
          [this](int p) { Edit4->setText(QString::fromStdString(PsfWeightText(PsfWeightOfPosition(p)))); });
  connect(Edit2, &QLineEdit::textChanged, this, [this] { RadiusEdited(1); });
  connect(Edit3, &QLineEdit::textChanged, this, [this] { RadiusEdited(2); });
  connect(Edit1, &QLineEdit::textChanged, this, [this] { AspectEdited(); });
  connect(Edit4, &QLineEdit::textChanged, this, [this] { WeightEdited(); });
  connect(TrackBar2, &QSlider::valueChanged, this, [this] { RadiusEdited(1); });
  connect(TrackBar3, &QSlider::valueChanged, this, [this] { RadiusEdited(2); });
  const std::pair<QToolButton*, TPsfLink> links[] = {
      {SpeedButton8, TPsfLink::Add}, {SpeedButton9, TPsfLink::Subtract}, {SpeedButton10, TPsfLink::Multiply}};
  for (const auto& [button, link] : links)
    connect(button, &QToolButton::clicked, this, [this, link = link] {
      designer_.Link = link;
      CombineDesignerPsf(true);
    });
  connect(SpeedButton3, &QToolButton::clicked, this, [this] { ZoomClick(); });
  connect(ScrollBar1, &QScrollBar::valueChanged, this, [this] { DrawView(); });
  connect(ScrollBar2, &QScrollBar::valueChanged, this, [this] { DrawView(); });
  connect(SpeedButton5, &QToolButton::clicked, this, [this] { Guarded([this] { SpeedButton5Click(); }); });
  connect(ComboBox2, &QComboBox::activated, this, [this] { Button4->setEnabled(ComboBox2->currentIndex() >= 0); });
  connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
  connect(TrackBar8, &QSlider::valueChanged, this, [this] { StrengthMoved(); });
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  Image3->Pressed = [this](int px, int py, Qt::MouseButton b) { ViewPressed(px, py, b); };
  Image3->Moved = [this](int px, int py, Qt::MouseButtons b) { ViewMoved(px, py, b); };
}

template <class F>
void TForm22::Guarded(F&& f) {
  RunGuarded(std::forward<F>(f));
}

// ---- showing and hiding ----

void TForm22::SetDefaults() {
  defaultsSet_ = true;
  clampNegative_ = true;
  SpeedButton2->setToolTip(U(ClampOnHint));
  TrackBar5->setValue(NoiseSliderStart);
  Label6->setText(QString::fromStdString(DeconvolutionNoiseText(Noise())));
  const QSignalBlocker b1(TrackBar2), b2(TrackBar3), b3(TrackBar6), b4(TrackBar4), b5(TrackBar1), b6(TrackBar7),
      b7(Edit1), b8(Edit2), b9(Edit3), b10(Edit4);
  TrackBar2->setValue(ShapeSliderStart);
  TrackBar3->setValue(ShapeSliderStart);
  TrackBar6->setValue(Radius1SliderStart);
  TrackBar4->setValue(Radius2SliderStart);
  TrackBar1->setValue(AspectSliderStart);
  TrackBar7->setValue(WeightSliderMax);
  Edit2->setText("1.5");
  Edit3->setText("3.3");
  Edit1->setText("1.00");
  Edit4->setText("0.0");
  designer_.Psf2Weight = 0;
  for (QWidget* w : std::initializer_list<QWidget*>{TrackBar3, Edit3, TrackBar4, SpeedButton8, SpeedButton9,
                                                   SpeedButton10})
    w->setEnabled(false);
  BuildDesignerPsf(1);
  BuildDesignerPsf(2);
  CombineDesignerPsf(true);
}

void TForm22::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (!e->spontaneous()) FormShow();
}

void TForm22::FormShow() {
  if (shown_) return;
  shown_ = true;
  source_ = SlotPair.Source;
  destination_ = SlotPair.Destination;
  closeDestination_ = true;
  pending_ = TPending::None;
  SetOperationActive(true);
  if (!defaultsSet_) SetDefaults();
  Button1->setEnabled(true);
  Button2->setEnabled(true);
  FillPsfImageList();
  SetPanelPsfArray(designer_.DesignedPsf.data());
  DrawView();
}

void TForm22::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  if (!e->spontaneous()) FormHide();
}

void TForm22::FormHide() {
  if (!shown_) return;
  if (computing_ || mixing_) {
    // The running stages stop first; the hiding completes after them (RunPending).
    AbortRequested = 1;
    stopMixing_ = true;
    if (pending_ == TPending::None) pending_ = closeDestination_ ? TPending::Abbrechen : TPending::Ok;
    return;
  }
  shown_ = false;
  Timer1->stop();
  SetPanelPsfArray(nullptr);
  FreeDesignedPsfSlot();
  FreeDifferenceSlot();
  SlotPair = {source_, destination_};
  if (!Closing) SetOperationActive(false);
  CallUpdateMenuItems();
  SlotPair = {};
  const int destination = std::exchange(destination_, -1);
  source_ = -1;
  if (closeDestination_ && SlotInUse(destination)) CloseImageSlot(destination);
  closeDestination_ = false;
}

void TForm22::closeEvent(QCloseEvent* e) {
  // Closing the window is "Abbrechen"; the dialog goes once nothing runs.
  e->ignore();
  Button1Click();
}

void TForm22::keyPressEvent(QKeyEvent* e) {
  if (EscapeCancels(e, false, [this] { Button1Click(); })) return;
  QWidget::keyPressEvent(e);
}

void TForm22::wheelEvent(QWheelEvent* e) {
  const int dy = e->angleDelta().y();
  if (dy < 0) ZoomOutAtCursor();
  if (dy > 0) ZoomInAtCursor();
  e->accept();
}

bool TForm22::eventFilter(QObject* watched, QEvent* e) {
  if (watched == SpeedButton2 && e->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(e)->button() == Qt::RightButton) {
    SpeedButton2RightClick();
    return true;
  }
  // The list follows the windows opened and closed since it was filled.
  if (watched == ComboBox2 && e->type() == QEvent::MouseButtonPress) FillPsfImageList();
  return QWidget::eventFilter(watched, e);
}

// ---- computing and mixing ----

double TForm22::Noise() const { return DeconvolutionNoise(TrackBar5->value()); }

bool TForm22::DesignerIsSource() const { return SpeedButton7->isChecked(); }

void TForm22::Button3Click() {
  if (computing_) {
    AbortRequested = 1;  // the second click stops the running stages
    return;
  }
  if (!shown_) return;
  if (mixing_) {
    // A running blend stops first; the click comes back when it has.
    stopMixing_ = true;
    QTimer::singleShot(MixDelayMs, this, [this] { Button3Click(); });
    return;
  }
  if (!SlotInUse(source_) || !SlotInUse(destination_)) return;
  int psf = -1;
  if (DesignerIsSource()) {
    if (!PsfGridHasValues(designer_.DesignedPsf)) return;
    FreeDesignedPsfSlot();
    designedPsfSlot_ = PsfGridToNewSlot(designer_.DesignedPsf, "PSF.fit");
    psf = designedPsfSlot_;
  } else {
    psf = ChosenPsfImage();
  }
  if (psf < 1) return;
  computing_ = true;
  ComputationDone = 0;
  Button2->setEnabled(false);
  Button1->setEnabled(false);
  AbortRequested = 0;
  Guarded([&] {
    const TPlaneList planes = SelectedChannels(source_);
    for (const int32_t p : planes.Planes()) CopyPlane(source_, p, destination_, p);
    UpdateMinMax(destination_);
    DeconvolutionBerechnen(source_, destination_, psf, Noise());
    FreeDifferenceSlot();
    difference_ = FindFreeSlot();
    if (difference_ >= 1) {
      CopyImageSlot(destination_, difference_);
      SubtractDarkFrame(difference_, source_, false, false);
    }
    if (TrackBar8->value() > 0) Mix();
  });
  computing_ = false;
  ComputationDone = 1;
  Button2->setEnabled(true);
  Button1->setEnabled(true);
  if (SlotInUse(destination_)) ImageChanged(destination_);
  RunPending();
}

bool TForm22::Mix() {
  if (!SlotInUse(difference_) || !SlotInUse(source_) || !SlotInUse(destination_)) return false;
  stopMixing_ = false;
  mixing_ = true;
  bool done = false;
  Guarded([&] { done = MixDeconvolutionResult(source_, destination_, difference_, TrackBar8->value(), stopMixing_); });
  mixing_ = false;
  UpdateMinMax(destination_);
  return done;
}

void TForm22::StrengthMoved() {
  ++mixChanges_;
  stopMixing_ = true;
  Timer1->start();
}

void TForm22::Timer1Timer() {
  // While a blend or the computation runs the timer goes on; a running blend is asked to stop.
  if (mixing_ || computing_) {
    if (mixing_) stopMixing_ = true;
    return;
  }
  Timer1->stop();
  const int changes = mixChanges_;
  Mix();
  if (changes == mixChanges_ && SlotInUse(destination_)) ImageChanged(destination_);
  RunPending();
}

void TForm22::RunPending() {
  if (computing_ || mixing_) return;
  switch (std::exchange(pending_, TPending::None)) {
    case TPending::Ok: Button2Click(); break;
    case TPending::Abbrechen: Button1Click(); break;
    case TPending::None: break;
  }
}

void TForm22::Button2Click() {
  if (!shown_) return;
  if (computing_ || mixing_) {
    pending_ = TPending::Ok;  // the blend finishes first
    return;
  }
  // A blend the slider still asks for is made now.
  if (Timer1->isActive()) {
    Timer1->stop();
    Mix();
  }
  FreeDesignedPsfSlot();
  if (SlotInUse(destination_)) {
    AddHistoryCard(destination_, DeconvolutionCaption, 1);
    ComputeHistogram(destination_, false, true);
    ImageChanged(destination_);
  }
  closeDestination_ = false;
  hide();
  FormHide();  // when the hiding waited for a running stage, the form is hidden already
  RefreshHistogramWindow();
}

void TForm22::Button1Click() {
  if (!shown_) return;
  if (computing_ || mixing_) {
    pending_ = TPending::Abbrechen;
    AbortRequested = 1;
    stopMixing_ = true;
    return;
  }
  FreeDesignedPsfSlot();
  closeDestination_ = true;
  hide();
  FormHide();
}

void TForm22::FreeDesignedPsfSlot() {
  if (SlotInUse(designedPsfSlot_) && !Store.HasWindow[designedPsfSlot_]) FreeSlot(designedPsfSlot_);
  designedPsfSlot_ = -1;
}

void TForm22::FreeDifferenceSlot() {
  if (SlotInUse(difference_) && !Store.HasWindow[difference_]) FreeSlot(difference_);
  difference_ = -1;
}

// ---- the designer ----

std::optional<double> TForm22::Field(const QLineEdit* edit) const {
  return TryStrToFloat32Dot(edit->text().toStdString());
}

void TForm22::BuildDesignerPsf(int which) {
  if (!DesignerIsSource()) return;
  const std::optional<double> radius = Field(which == 1 ? Edit2 : Edit3), aspect = Field(Edit1);
  if (!radius || !aspect) return;
  const QSlider* shape = which == 1 ? TrackBar2 : TrackBar3;
  astrelon::BuildDesignerPsf(designer_, which, shape->value(), *radius, *aspect);
}

void TForm22::CombineDesignerPsf(bool recombine) {
  if (recombine && DesignerIsSource()) astrelon::CombineDesignerPsf(designer_);
  DrawView();
}

void TForm22::RadiusEdited(int which) {
  BuildDesignerPsf(which);
  CombineDesignerPsf(true);
}

void TForm22::AspectEdited() {
  BuildDesignerPsf(1);
  if (designer_.Psf2Weight > 0) BuildDesignerPsf(2);
  CombineDesignerPsf(true);
}

void TForm22::WeightEdited() {
  const std::optional<double> weight = Field(Edit4);
  if (!weight) return;
  designer_.Psf2Weight = std::max(*weight, 0.0);
  const bool on = designer_.Psf2Weight > 0;
  for (QWidget* w : std::initializer_list<QWidget*>{TrackBar3, Edit3, TrackBar4, SpeedButton8, SpeedButton9,
                                                   SpeedButton10})
    w->setEnabled(on);
  if (on) BuildDesignerPsf(2);
  CombineDesignerPsf(true);
}

void TForm22::DrawView() {
  Image3->SetPicture(PsfViewPicture(designer_.DesignedPsf, PsfViewWindow(zoom_, ScrollBar1->value(), ScrollBar2->value())));
}

void TForm22::ZoomClick() {
  zoom_ = zoom_ == 1 ? 2 : zoom_ == 2 ? 4 : 1;
  SpeedButton3->setText(zoom_ == 1 ? " x1" : zoom_ == 2 ? " x2" : " x4");
  ScrollBar1->setEnabled(zoom_ > 1);
  ScrollBar2->setEnabled(zoom_ > 1);
  DrawView();
}

void TForm22::ViewPressed(int px, int py, Qt::MouseButton button) {
  if (button != Qt::LeftButton) return;
  lastBrushCell_ = -1;
  BrushAt(px, py);
}

void TForm22::ViewMoved(int px, int py, Qt::MouseButtons buttons) {
  const auto cell = PsfViewCell(PsfViewWindow(zoom_, ScrollBar1->value(), ScrollBar2->value()), px, py);
  if (!cell) return;
  if (buttons & Qt::LeftButton) {
    BrushAt(px, py);
  } else if (buttons == Qt::NoButton) {
    SetPanelPsfArray(designer_.DesignedPsf.data());
    DrawPsfPanel(-3, cell->first, cell->second);
  }
}

void TForm22::BrushAt(int px, int py) {
  const auto cell = PsfViewCell(PsfViewWindow(zoom_, ScrollBar1->value(), ScrollBar2->value()), px, py);
  if (!cell) return;
  const int index = int(PsfCell(cell->first, cell->second));
  if (index == lastBrushCell_) return;  // a drag paints each cell once as it enters it
  lastBrushCell_ = index;
  const TPsfBrush brush = SpeedButton1->isChecked()   ? TPsfBrush::Smooth
                          : SpeedButton2->isChecked() ? TPsfBrush::Decrease
                                                      : TPsfBrush::Draw;
  ApplyPsfBrush(designer_.DesignedPsf, brush, cell->first, cell->second, PsfBrushRadius(zoom_), clampNegative_);
  DrawView();
}

void TForm22::SpeedButton2RightClick() {
  clampNegative_ = !clampNegative_;
  SpeedButton2->setToolTip(U(clampNegative_ ? ClampOnHint : ClampOffHint));
}

// ---- PSF images ----

void TForm22::FillPsfImageList() {
  const int chosen = FindPsfImageSlot(ComboBox2->currentIndex());
  const QSignalBlocker block(ComboBox2);
  ComboBox2->clear();
  const QFontMetrics metrics(ComboBox2->font());
  for (int s = 1; s <= MaxImageSlots; ++s) {
    if (!SlotInUse(s) || !Store.HasWindow[s] || s == source_ || s == destination_) continue;
    const QString name = QString::fromStdString(Store.FileName[s]);
    ComboBox2->addItem(metrics.elidedText(name, Qt::ElideMiddle, 200), s);
    ComboBox2->setItemData(ComboBox2->count() - 1, name, ListNameRole);
    if (s == chosen) ComboBox2->setCurrentIndex(ComboBox2->count() - 1);
  }
  // A single image is the one to take; of several the user chooses.
  if (chosen < 1) ComboBox2->setCurrentIndex(ComboBox2->count() == 1 ? 0 : -1);
  Button4->setEnabled(ComboBox2->currentIndex() >= 0);
}

int TForm22::ChosenPsfImage() {
  int slot = FindPsfImageSlot(ComboBox2->currentIndex());
  if (slot >= 1) return slot;
  FillPsfImageList();
  slot = FindPsfImageSlot(ComboBox2->currentIndex());
  if (slot >= 1) return slot;
  EngineUi().ShowMessage(ComboBox2->count() == 0
                             ? "Es ist kein anderes Bild geöffnet, das als PSF dienen kann. Bitte ein PSF-Bild "
                               "öffnen oder mit \"v Auswahl\" die angezeigte PSF nehmen."
                             : "Bitte in der Liste neben \"PSF-Bild ^\" das Bild wählen, das als PSF dienen soll.");
  return -1;
}

int TForm22::FindPsfImageSlot(int index) const {
  if (index < 0 || index >= ComboBox2->count()) return -1;
  // The entry keeps its slot; it counts while that slot still holds the image listed.
  const int slot = ComboBox2->itemData(index).toInt();
  if (!SlotInUse(slot) || !Store.HasWindow[slot]) return -1;
  if (QString::fromStdString(Store.FileName[slot]) != ComboBox2->itemData(index, ListNameRole).toString()) return -1;
  return slot;
}

void TForm22::Button4Click() {
  const int slot = FindPsfImageSlot(ComboBox2->currentIndex());
  if (slot < 1 || !PsfGridFromImage(slot, designer_.DesignedPsf)) return;
  DrawView();
}

int TForm22::SpeedButton5Click() {
  const int slot = PsfGridToNewSlot(designer_.DesignedPsf, "PSF_0.fit");
  if (slot < 1) return -1;
  ShowImageWindow(slot);
  FillPsfImageList();
  return slot;
}

}  // namespace astrelon
