#include "pixelops/ui/flattening/background_mask_dialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSizeGrip>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "core/language.h"
#include "core/packed_params.h"
#include "kernels/background/background_flattening.h"
#include "kernels/gauss/gauss_filters.h"
#include "kernels/regions/blank_interpolation.h"
#include "kernels/regions/rect_runs.h"
#include "shell/display/renderer.h"
#include "shell/ui/dialogs/cancel_key.h"
#include "shell/ui/dialogs/translate_form.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/histogram_refresh.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "store/ui/preview_control.h"

namespace astrelon {

namespace {

constexpr int FormNumber = 12;
constexpr int RadiusSetting = 17;  // packed setting of the radius slider
constexpr int KeyUnterbrechen = 1542;
constexpr int KeyBerechnen = 1030;

QString ButtonText(int key, const char* german) {
  return QString::fromStdString(LangTextOr(key, german));
}

// The masked flattening of the whole image: the background of the unmasked
// pixels (blank where masked), its holes filled from around them, smoothed,
// and taken out of the source. On an abort the result goes back to the source.
bool FlattenWithMask(int source, int destination, int radius, const TByteMask& mask, const std::string& title) {
  const TImageSlot& S = Store.Image[size_t(source)];
  const int32_t w = S.Width, h = S.Height;
  for (int p = 1; p <= std::min(S.PlaneCount, 3); ++p) CopyPlane(source, p, destination, p);
  bool ok = FlattenBackgroundMasked(source, destination, float(radius), 0, 0, w - 1, h - 1, true, false, true, title,
                                    destination, 0.35, nullptr, mask.Bytes);
  ok = ok && !AbortRequested;
  if (ok) InterpolateBlankPixels(source, destination, false, true);
  ok = ok && !AbortRequested;
  if (ok) {
    TImageSlot& D = Store.Image[size_t(destination)];
    const TPlaneList planes = SelectedChannels(destination);
    for (int32_t p : planes.Planes()) {
      fGauss(destination, destination, p, 0, w - 1, 0, h - 1, 0.5f * radius + 0.5f, true, destination, 100, "");
      if (AbortRequested) {
        ok = false;
        break;
      }
      TPercentileLevels level;
      GetPercentileLevels(source, p, 0, w - 1, 0, h - 1, 35, 35, level);
      const float* s = S.Planes[size_t(p)].data();
      float* d = D.Planes[size_t(p)].data();
      for (size_t i = 0; i < S.PixelCount(); ++i)
        d[i] = IsValidPixel(s[i]) && IsValidPixel(d[i]) ? float(s[i] - d[i] + level.LevelA) : BlankPixel;
    }
  }
  HideProgress(destination);
  if (!ok)
    for (int p = 1; p <= std::min(S.PlaneCount, 3); ++p) CopyPlane(source, p, destination, p);
  return ok;
}

}  // namespace

// The preview: the picture stretched over the widget, the mask over it and the
// stroke being drawn in yellow; the mouse goes to the dialog.
class TMaskPreview : public QWidget {
public:
  explicit TMaskPreview(TForm12* form) : QWidget(form), form_(form) {
    setObjectName("Image5");
    setMinimumSize(120, 90);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setToolTip(QString::fromUtf8("Bereiche maskieren, die nicht geebnet werden sollen."));
  }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!form_->base_.isNull()) painter.drawImage(QPoint(0, 0), form_->base_);
    if (!form_->overlay_.isNull()) painter.drawImage(QPoint(0, 0), form_->overlay_);
    if (form_->strokeOnPreview_.size() > 1) {
      painter.setPen(QPen(Qt::yellow, 1));
      painter.drawPolyline(form_->strokeOnPreview_.data(), int(form_->strokeOnPreview_.size()));
    }
  }
  void mousePressEvent(QMouseEvent* e) override { form_->Image5MouseDown(e->position().toPoint(), e->button()); }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (e->buttons() & Qt::LeftButton) form_->Image5MouseMove(e->position().toPoint());
  }
  void mouseReleaseEvent(QMouseEvent* e) override { form_->Image5MouseUp(e->button()); }

private:
  TForm12* form_;
};

TForm12::TForm12() : QWidget(nullptr, Qt::Tool) {
  setObjectName("Form12");
  setAttribute(Qt::WA_QuitOnClose, false);
  setMinimumSize(420, 300);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  Image5 = new TMaskPreview(this);
  layout->addWidget(Image5, 1);

  auto* panel = new QWidget(this);
  panel->setObjectName("Panel1");
  auto* column = new QVBoxLayout(panel);
  column->setContentsMargins(4, 0, 0, 0);
  const auto label = [&](const char* name, const char* text) {
    auto* l = new QLabel(QString::fromUtf8(text), panel);
    l->setObjectName(name);
    return l;
  };
  const auto slider = [&](const char* name, int lo, int hi, int pos) {
    auto* s = new QSlider(Qt::Horizontal, panel);
    s->setObjectName(name);
    s->setRange(lo, hi);
    s->setValue(pos);
    return s;
  };
  const auto ends = [&](QSlider* s, const char* left, const char* right) {
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QString::fromUtf8(left), panel));
    row->addWidget(s, 1);
    row->addWidget(new QLabel(QString::fromUtf8(right), panel));
    return row;
  };
  Label1 = label("Label1", "Ebnen Radius:");
  Label5 = label("Label5", "7");
  TrackBar1 = slider("TrackBar1", 1, 50, 7);
  auto* radiusRow = new QHBoxLayout;
  radiusRow->addWidget(Label1);
  radiusRow->addWidget(Label5);
  radiusRow->addStretch();
  column->addLayout(radiusRow);
  column->addLayout(ends(TrackBar1, "1", "50"));
  auto* hint = label("Image4", "");
  hint->setToolTip(QString::fromUtf8("Bereiche maskieren, die nicht geebnet werden sollen."));
  column->addWidget(hint);
  column->addWidget(label("Label4", "Linke Maustaste:\n(maskieren)"));
  auto* eraseRow = new QHBoxLayout;
  eraseRow->addWidget(label("Label9", "Rechte Maustaste:"));
  eraseRow->addWidget(label("Label10", "Löschen"));
  column->addLayout(eraseRow);
  column->addWidget(label("Label6", "Helle Bereiche maskieren:"));
  TrackBar2 = slider("TrackBar2", 0, 98, 0);
  column->addLayout(ends(TrackBar2, "0", "max"));
  SpeedButton1 = new QToolButton(panel);
  SpeedButton1->setObjectName("SpeedButton1");
  SpeedButton1->setText(QString::fromUtf8("Alle löschen"));
  column->addWidget(SpeedButton1);
  column->addStretch();
  Button3 = new QPushButton("&Berechnen", panel);
  Button3->setObjectName("Button3");
  Button2 = new QPushButton("&Ok", panel);
  Button2->setObjectName("Button2");
  Button1 = new QPushButton("&Abbrechen", panel);
  Button1->setObjectName("Button1");
  column->addWidget(Button3);
  column->addWidget(Button2);
  column->addWidget(Button1);
  Image3 = new QSizeGrip(panel);
  Image3->setObjectName("Image3");
  column->addWidget(Image3, 0, Qt::AlignRight | Qt::AlignBottom);
  layout->addWidget(panel);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(200);
  Timer1->setSingleShot(true);
  Timer2 = new QTimer(this);
  Timer2->setObjectName("Timer2");
  Timer2->setInterval(300);
  Timer2->setSingleShot(true);

  connect(TrackBar1, &QSlider::valueChanged, this, [this](int v) { Label5->setText(QString::number(v)); });
  connect(TrackBar2, &QSlider::valueChanged, this, [this](int v) {
    brightEntry_ = v;
    Timer2->start();
  });
  connect(Timer1, &QTimer::timeout, this, &TForm12::Timer1Timer);
  connect(Timer2, &QTimer::timeout, this, &TForm12::Timer2Timer);
  connect(SpeedButton1, &QToolButton::clicked, this, &TForm12::SpeedButton1Click);
  connect(Button1, &QPushButton::clicked, this, &TForm12::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm12::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm12::Button3Click);
}

TForm12::~TForm12() = default;

void TForm12::Open(const QString& caption) {
  source_ = SlotPair.Source;
  destination_ = SlotPair.Destination;
  if (!SlotInUse(source_) || !SlotInUse(destination_)) return;
  const TImageSlot& S = Store.Image[size_t(source_)];
  if (firstShow_) {
    firstShow_ = false;
    QString title = caption;
    setWindowTitle(title.remove('&'));
    // A setting that holds no radius leaves the form's 7.
    const int radius = GetParamDigits(RadiusSetting);
    TrackBar1->setValue(radius >= 1 ? std::min(radius, 50) : 7);
    Label5->setText(QString::number(TrackBar1->value()));
    if (LanguageFileLoaded) TranslateForm("Form12");
    // The preview starts at most 640 x 480, in the image's proportions.
    const double fit = std::min({1.0, 640.0 / std::max(S.Width, 1), 480.0 / std::max(S.Height, 1)});
    Image5->setFixedSize(std::max(120, int(S.Width * fit)), std::max(90, int(S.Height * fit)));
    adjustSize();
    Image5->setMinimumSize(120, 90);
    Image5->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  }
  mask_.Resize(S.Width, S.Height);
  stroke_.clear();
  strokeOnPreview_.clear();
  SetOperationActive(true);
  done_ = true;
  cancelled_ = true;
  radiusComputed_ = 0;
  brightEntry_ = 0;
  {
    const QSignalBlocker block(TrackBar2);
    TrackBar2->setValue(0);
  }
  levels_ = BrightAreaLevels(source_);
  shown_ = true;
  show();
  UpdateScale();
  RebuildBase();
  RebuildOverlay();
  raise();
  activateWindow();
}

TSlotPair TForm12::Pair() const {
  if (!shown_) return {};
  return {source_, destination_};
}

void TForm12::PartnerSwitched() {
  if (!shown_ || computing_ || !SlotInUse(source_)) return;
  levels_ = BrightAreaLevels(source_);
  RebuildBase();
  Redraw();
  Button3->setEnabled(true);
}

QPoint TForm12::ImagePoint(QPoint pos) const {
  const int x = int(std::clamp(std::floor(pos.x() * scaleX_), -1.0, double(mask_.Width)));
  const int y = int(std::clamp(std::floor(pos.y() * scaleY_), -1.0, double(mask_.Height)));
  return {x, y};
}

void TForm12::UpdateScale() {
  scaleX_ = double(mask_.Width) / std::max(Image5->width(), 1);
  scaleY_ = double(mask_.Height) / std::max(Image5->height(), 1);
}

void TForm12::RebuildBase() {
  base_ = QImage();
  if (!SlotInUse(destination_)) return;
  TDisplayBitmap own;
  const TDisplayBitmap* bitmap = &WindowBitmap(destination_);
  if (bitmap->Empty()) {
    if (!RenderSlotBitmap(destination_, 100, own)) return;
    bitmap = &own;
  }
  base_ = BitmapImage(*bitmap).scaled(Image5->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  base_ = base_.convertToFormat(QImage::Format_RGB32);
}

void TForm12::RebuildOverlay() {
  const QSize size = Image5->size();
  overlay_ = QImage(size, QImage::Format_ARGB32_Premultiplied);
  overlay_.fill(Qt::transparent);
  if (mask_.Width == 0) return;
  // Painted and bright areas in a translucent red, a stroke being drawn in yellow.
  const QRgb masked = qPremultiply(qRgba(255, 60, 40, 110));
  const QRgb stroke = qRgb(255, 255, 0);
  for (int py = 0; py < size.height(); ++py) {
    const int my = std::min(int(py * scaleY_), mask_.Height - 1);
    auto* line = reinterpret_cast<QRgb*>(overlay_.scanLine(py));
    for (int px = 0; px < size.width(); ++px) {
      const uint8_t b = mask_.At(std::min(int(px * scaleX_), mask_.Width - 1), my);
      if (b != MaskFree) line[px] = b == MaskStroke ? stroke : masked;
    }
  }
}

void TForm12::Redraw() {
  RebuildOverlay();
  Image5->update();
}

void TForm12::Image5MouseDown(QPoint pos, Qt::MouseButton button) {
  if (computing_ || mask_.Width == 0) return;
  const QPoint p = ImagePoint(pos);
  if (button == Qt::LeftButton) {
    painting_ = true;
    stroke_.clear();
    strokeOnPreview_ = {pos};
    last_ = {p.x(), p.y()};
  } else if (button == Qt::RightButton) {
    if (mask_.Inside(p.x(), p.y()) && mask_.At(p.x(), p.y()) != MaskFree) FloodFillMask(mask_, p.x(), p.y(), MaskFree);
  }
  Redraw();
}

void TForm12::Image5MouseMove(QPoint pos) {
  if (!painting_) return;
  const QPoint p = ImagePoint(pos);
  const TMaskPoint to{p.x(), p.y()};
  DrawMaskLine(mask_, last_, to, MaskStroke, stroke_);
  last_ = to;
  strokeOnPreview_.push_back(pos);
  Image5->update();
}

void TForm12::Image5MouseUp(Qt::MouseButton button) {
  if (button != Qt::LeftButton || !painting_) return;
  painting_ = false;
  FinishMaskStroke(mask_, stroke_);
  strokeOnPreview_.clear();
  Redraw();
}

void TForm12::Timer1Timer() {
  Timer1->stop();
  UpdateScale();
  RebuildBase();
  Redraw();
}

void TForm12::Timer2Timer() {
  Timer2->stop();
  if (!SlotInUse(source_)) return;
  const TImageSlot& S = Store.Image[size_t(source_)];
  const int m = BrightMarkingPlane(source_);
  if (S.Width != mask_.Width || S.Height != mask_.Height) return;
  MarkBrightAreas(mask_, S.Planes[size_t(m)], levels_[size_t(std::clamp(brightEntry_, 0, 98))]);
  Redraw();
}

void TForm12::SpeedButton1Click() {
  mask_.Fill(MaskFree);
  Redraw();
}

void TForm12::Button3Click() {
  if (computing_) {
    AbortRequested = 1;
    Button3->setEnabled(false);
    return;
  }
  if (!SlotInUse(source_) || !SlotInUse(destination_)) return;
  const TImageSlot& S = Store.Image[size_t(source_)];
  const TImageSlot& D = Store.Image[size_t(destination_)];
  if (S.Width != D.Width || S.Height != D.Height || S.Width != mask_.Width || S.Height != mask_.Height) return;
  SetWorkRectToImage(source_);
  done_ = false;
  computing_ = true;
  AbortRequested = 0;
  Button3->setText(ButtonText(KeyUnterbrechen, "&Unterbrechen"));
  Button1->setEnabled(false);
  Button2->setEnabled(false);
  const int radius = TrackBar1->value();
  bool ok = false;
  try {
    ok = FlattenWithMask(source_, destination_, radius, mask_, windowTitle().toStdString());
  } catch (const std::bad_alloc&) {
    HideProgress(destination_);
  }
  if (ok) ImageChanged(destination_);
  done_ = true;
  computing_ = false;
  Button3->setText(ButtonText(KeyBerechnen, "&Berechnen"));
  Button1->setEnabled(true);
  Button2->setEnabled(true);
  Button3->setEnabled(true);
  if (ok) radiusComputed_ = radius;
  if (closePending_) {
    // Closed or cancelled while computing: the close ends now.
    closePending_ = false;
    cancelled_ = true;
    if (isVisible())
      hide();
    else
      FormHide();
    return;
  }
  RebuildBase();
  Redraw();
}

void TForm12::Button2Click() {
  if (computing_) return;
  if (radiusComputed_ > 0 && SlotInUse(destination_)) {
    QString caption = windowTitle();
    caption.remove('&');
    // Two cards of their own.
    Store.NewHistoryCard[size_t(destination_)] = 1;
    AddHistoryCard(destination_, caption.toStdString(), 1);
    AddHistoryCard(destination_, (Label1->text() + " " + QString::number(radiusComputed_)).toStdString(), 1);
    ComputeHistogram(destination_, false, true);
    cancelled_ = false;
  }
  hide();
  RefreshHistogramWindow();
}

void TForm12::Button1Click() {
  if (computing_) {
    closePending_ = true;
    AbortRequested = 1;
    return;
  }
  cancelled_ = true;
  hide();
}

void TForm12::closeEvent(QCloseEvent* e) {
  if (computing_) {
    // The close finishes when the computation has returned.
    e->ignore();
    closePending_ = true;
    AbortRequested = 1;
    return;
  }
  QWidget::closeEvent(e);
}

void TForm12::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  if (!e->spontaneous()) FormHide();
}

void TForm12::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  if (shown_) Timer1->start();
}

void TForm12::keyPressEvent(QKeyEvent* e) {
  if (EscapeCancels(e, computing_, [this] { Button1Click(); })) return;
  QWidget::keyPressEvent(e);
}

void TForm12::FormHide() {
  if (!shown_) return;
  if (computing_) {
    // Hidden from outside while computing: finish once the computation returns.
    closePending_ = true;
    AbortRequested = 1;
    return;
  }
  shown_ = false;
  Timer1->stop();
  Timer2->stop();
  SlotPair = {source_, destination_};
  SetOperationActive(false);
  if (cancelled_ && SlotInUse(destination_)) CloseImageSlot(destination_);
  mask_ = TByteMask{};
  stroke_.clear();
  base_ = QImage();
  overlay_ = QImage();
  SlotPair = {};
  source_ = destination_ = -1;
  SetParamDigits(RadiusSetting, TrackBar1->value());
  // The next use makes the dialog anew.
  ReleaseDialogForm(objectName());
}

TForm12* BackgroundMaskDialog() {
  QWidget* form = DialogFormCreated(FormNumber) ? DialogForm(FormNumber) : nullptr;
  return dynamic_cast<TForm12*>(form);
}

void OpenBackgroundMaskDialog(const QString& caption) {
  if (TForm12* open = BackgroundMaskDialog(); open && open->isVisible()) {
    open->raise();
    return;
  }
  const int slot = FindActiveSlot();
  if (!SlotInUse(slot)) return;
  UpdateMinMax(slot);
  RegisterDialogForm(FormNumber, [] { return new TForm12; });
  EnsureDialogForm(FormNumber);
  TForm12* form = BackgroundMaskDialog();
  if (!form || !NewResultSlot()) return;
  ShowImageWindow(SlotPair.Destination);
  form->Open(caption);
}

}  // namespace astrelon
