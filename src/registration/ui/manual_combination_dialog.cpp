#include "registration/ui/manual_combination_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSizeGrip>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "common/number_text.h"
#include "common/pascal_format.h"
#include "core/busy_cursor.h"
#include "core/language.h"
#include "kernels/regions/value_arithmetic.h"
#include "kernels/sampling/align_to_reference.h"
#include "kernels/sampling/subpixel_samplers.h"
#include "pixelops/ui/operation_frame.h"
#include "registration/combination/combine_shifted_image.h"
#include "shell/ui/dialogs/cancel_key.h"
#include "shell/ui/dialogs/translate_form.h"
#include "shell/ui/histogram/histogram_window.h"
#include "shell/ui/main/main_services_ui.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

int32_t StepCombineWeight(int32_t w, bool up) {
  const int32_t step = w < 5 ? 1 : w < 14 ? 2 : w < 30 ? 3 : w <= 150 ? 5 : w / 30;
  return std::clamp(up ? w + step : w - step, 0, 10000);
}

double StepSubPixel(double value, bool up) {
  // In tenths, so that repeated steps land on 1.00 exactly.
  const double tenths = std::nearbyint(value * 10) + (up ? 1 : -1);
  return std::clamp(tenths, -10.0, 10.0) / 10;
}

QImage RenderCombinePreview(int first, int second, const TManualCombineSettings& s, int32_t offsetX, int32_t offsetY,
                            int32_t width, int32_t height) {
  QImage img(std::max(width, 4), std::max(height, 4), QImage::Format_RGB32);
  img.fill(Qt::black);
  if (PlaneView(first, 1).Empty()) return img;
  TBusyCursorScope busy;
  const TImageSlot& F = Store.Image[size_t(first)];
  const bool haveSecond = !PlaneView(second, 1).Empty();
  const bool colourSecond = haveSecond && Store.Image[size_t(second)].IsColor;
  const int planes = F.IsColor ? 3 : 1;
  const TDisplayRecord& fd = Store.Display[size_t(first)];
  double black = fd.Black;
  const double white = std::max<double>(fd.White, black + 0.001);
  double scale = 255.0 / (white - black);
  if (s.Contrast) {
    black += 0.15 * (white - black);
    scale *= 4;
  }
  const double secondBlack = haveSecond ? Store.Display[size_t(second)].Black : 0;
  const double sign = s.Mode == 0 ? 1 : -1;
  const int32_t wh = int32_t(std::nearbyint(s.H)), wv = int32_t(std::nearbyint(s.V));
  const TSamplingKind kind = CurrentSamplingKind();
  for (int32_t r = 0; r < img.height(); ++r) {
    auto* line = reinterpret_cast<QRgb*>(img.scanLine(r));
    const int32_t y = r + offsetY;
    if (y < 0 || y >= F.Height) continue;
    for (int32_t c = 0; c < img.width(); ++c) {
      const int32_t x = c - offsetX;
      if (x < 0 || x >= F.Width) continue;
      int g[3] = {0, 0, 0};
      for (int p = 1; p <= planes; ++p) {
        const float f = F.Planes[size_t(p)][size_t(y) * size_t(F.Width) + size_t(x)];
        double v = IsValidPixel(f) ? (f - black) * scale : 0;
        if (haveSecond && IsValidPixel(f)) {
          const TPlaneView sv = PlaneView(second, colourSecond ? p : 1);
          float sval = -1e11f;
          if (s.SubPixel) {
            const double xs = x - s.H, ys = y + s.V;
            if (xs >= 0 && ys >= 0 && xs <= sv.Width - 1 && ys <= sv.Height - 1)
              sval = SamplePoint(sv, kind, float(xs), float(ys));
          } else {
            const int32_t xs = x - wh, ys = y + wv;
            if (xs >= 0 && ys >= 0 && xs < sv.Width && ys < sv.Height) sval = sv.At(xs, ys);
          }
          if (sval > -1e8f) v += sign * (sval - secondBlack) * s.Weight * scale;
        }
        g[p - 1] = int(std::clamp(v, 1.0, 255.0));
      }
      line[c] = planes == 3 ? qRgb(g[0], g[1], g[2]) : qRgb(g[0], g[0], g[0]);
    }
  }
  return img;
}

void TCombinePreview::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  p.drawImage(DragOffset, Picture);
}

namespace {

QLineEdit* Field(const char* name, const char* text) {
  auto* e = new QLineEdit(text);
  e->setObjectName(name);
  e->setMaximumWidth(70);
  return e;
}

TForm27* Form() { return qobject_cast<TForm27*>(DialogForm(ManualCombinationForm)); }

// A field's number (0 when none), held within +-1e15: larger shifts and
// weights act alike, and whole pixels of it fit 64 bits.
double FieldNumber(const QLineEdit* e) {
  return std::clamp(TryStrToFloatDot(e->text().toStdString()).value_or(0), -1e15, 1e15);
}

// The largest shift that still counts: one beyond the images' sides leaves
// nothing of the shifted image, and held there its pixels fit 32 bits.
double ShiftLimit(int first, int second) {
  int32_t side = 1;
  for (int slot : {first, second})
    if (SlotInUse(slot)) side = std::max({side, Store.Image[size_t(slot)].Width, Store.Image[size_t(slot)].Height});
  return double(side) + 1;
}

}  // namespace

TForm27::TForm27(QWidget* parent) : QWidget(parent, Qt::Tool) {
  setObjectName("Form27");
  setWindowTitle(" Bild kombinieren manuell");
  Edit1 = Field("Edit1", "0");
  Edit2 = Field("Edit2", "0");
  Edit3 = Field("Edit3", "0.0");
  Edit4 = Field("Edit4", "0.0");
  Edit5 = Field("Edit5", "100");
  QLineEdit* edits[5] = {Edit1, Edit2, Edit3, Edit4, Edit5};
  auto* panel = new QWidget;
  auto* grid = new QGridLayout(panel);
  grid->addWidget(new QLabel("ganzzahlig"), 0, 1);
  grid->addWidget(new QLabel("subpixel"), 0, 3);
  grid->addWidget(new QLabel("horizontal"), 1, 0);
  grid->addWidget(new QLabel("vertikal"), 2, 0);
  grid->addWidget(new QLabel("Gewichtung 2.Bild:"), 3, 0);
  const int rows[5] = {1, 2, 1, 2, 3}, cols[5] = {1, 1, 3, 3, 1};
  for (int k = 0; k < 5; ++k) {
    auto* box = new QHBoxLayout;
    box->addWidget(edits[k]);
    for (int d = 0; d < 2; ++d) {
      UpDown[k][d] = new QToolButton;
      UpDown[k][d]->setObjectName(QString("UpDown%1%2").arg(k + 1).arg(d ? "Up" : "Down"));
      UpDown[k][d]->setArrowType(d ? Qt::UpArrow : Qt::DownArrow);
      box->addWidget(UpDown[k][d]);
      connect(UpDown[k][d], &QToolButton::clicked, this, [this, k, d] { UpDownClick(k + 1, d == 1); });
    }
    grid->addLayout(box, rows[k], cols[k]);
    connect(edits[k], &QLineEdit::textChanged, this, [this] { Draw(); });
  }
  grid->addWidget(new QLabel("%"), 3, 2);
  auto* group = new QGroupBox("Bild");
  group->setObjectName("RadioGroup1");
  auto* gl = new QVBoxLayout(group);
  const char* modes[3] = {"addieren", "subtrahieren", "verschieben"};
  for (int k = 0; k < 3; ++k) {
    RadioGroup1[k] = new QRadioButton(modes[k]);
    gl->addWidget(RadioGroup1[k]);
    connect(RadioGroup1[k], &QRadioButton::toggled, this, [this](bool on) {
      if (on) Draw();
    });
  }
  RadioGroup1[0]->setChecked(true);
  grid->addWidget(group, 0, 4, 4, 1);
  CheckBox1 = new QCheckBox("Anzeige-Kontrast erhöhen");
  CheckBox1->setObjectName("CheckBox1");
  connect(CheckBox1, &QCheckBox::toggled, this, [this] { Draw(); });
  grid->addWidget(CheckBox1, 4, 0, 1, 3);
  Button1 = new QPushButton("Ok");
  Button2 = new QPushButton("Abbruch");
  Button3 = new QPushButton("Reset");
  Button1->setObjectName("Button1");
  Button2->setObjectName("Button2");
  Button3->setObjectName("Button3");
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, &QWidget::hide);
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
  grid->addWidget(Button1, 0, 5);
  grid->addWidget(Button2, 1, 5);
  grid->addWidget(Button3, 2, 5);
  Panel2 = new QLabel(
      " Im Bild: linke Maustaste: beide Bilder verschieben (scrollen), rechte MT: Bild verschieben");
  Panel2->setObjectName("Panel2");
  Image1 = new TCombinePreview(this);
  Image1->setObjectName("Image1");
  Image1->installEventFilter(this);
  Image1->setMinimumSize(4, 4);
  Image2 = new QSizeGrip(this);
  Image2->setObjectName("Image2");
  Image2->installEventFilter(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(panel);
  layout->addWidget(Image1, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(Panel2, 1);
  bottom->addWidget(Image2, 0, Qt::AlignBottom | Qt::AlignRight);
  layout->addLayout(bottom);
  resize(760, 560);
}

void TForm27::UpDownClick(int field, bool up) {
  QLineEdit* edits[5] = {Edit1, Edit2, Edit3, Edit4, Edit5};
  QLineEdit* e = edits[std::clamp(field, 1, 5) - 1];
  const double v = FieldNumber(e);
  if (field <= 2)
    e->setText(QString::number(int64_t(std::nearbyint(v)) + (up ? 1 : -1)));
  else if (field <= 4)
    e->setText(QString::fromStdString(FloatToStrF(StepSubPixel(v, up), TFloatFormat::Fixed, 15, 2)));
  else
    e->setText(QString::number(StepCombineWeight(int32_t(std::clamp(v, 0.0, 10000.0)), up)));
}

TManualCombineSettings TForm27::Settings() const {
  TManualCombineSettings s;
  const double subH = FieldNumber(Edit3), subV = FieldNumber(Edit4), most = ShiftLimit(First, Second);
  s.H = std::clamp(std::trunc(FieldNumber(Edit1)) + subH, -most, most);
  s.V = std::clamp(std::trunc(FieldNumber(Edit2)) + subV, -most, most);
  s.SubPixel = subH != 0 || subV != 0;
  s.Weight = 0.01 * FieldNumber(Edit5);
  s.Mode = RadioGroup1[1]->isChecked() ? 1 : RadioGroup1[2]->isChecked() ? 2 : 0;
  s.Contrast = CheckBox1->isChecked();
  return s;
}

void TForm27::Draw() {
  if (!RedrawEnabled || !isVisible()) return;
  Image1->Picture = RenderCombinePreview(First, Second, Settings(), OffsetX, OffsetY, Image1->width(), Image1->height());
  Image1->DragOffset = {};
  Image1->update();
}

int TForm27::Button1Click() {
  if (!SlotInUse(First)) return -1;
  const TManualCombineSettings s = Settings();
  const TFloatPoint a1{0, 0}, none{0, 0};
  const TFloatPoint b1 = s.Mode == 2 ? TFloatPoint{float(s.H), float(-s.V)} : TFloatPoint{float(-s.H), float(s.V)};
  const bool combine = s.Mode != 2 && s.Weight > 0 && SlotInUse(Second);
  ActivateImageWindow(First);
  if (!SlotInUse(First) || FindActiveSlot() != First) return -1;
  // The weighted copy of the second image needs a slot besides the result.
  int freeSlots = 0;
  for (int k = 1; k <= MaxImageSlots; ++k) freeSlots += !Store.InUse[size_t(k)];
  if (freeSlots < (combine ? 2 : 1)) return -1;
  const TSlotPair pair = SlotPair;
  int made = -1;
  {
    TResultSlot result;
    if (!result) return -1;
    made = result.Destination();
    CopyHeaderCards(First, made);
    if (s.Mode == 2) {
      AlignImageToReference(First, made, 1, a1, none, b1, none);
    } else if (combine) {
      AlignImageToReference(Second, made, 1, a1, none, b1, none);
      const int copy = FindFreeSlot();
      CopyImageSlot(made, copy);
      SetWorkRectToImage(copy);
      MultiplyRectByValues(copy, s.Weight, s.Weight, s.Weight);
      CombineShiftedImage(First, copy, made, 1, none, none, none, none,
                          s.Mode == 0 ? TCombineOp::Add : TCombineOp::Subtract);
      CloseImageSlot(copy);
    }
    const char* german[3] = {"Bild addiert", "Bild subtrahiert", "Bild an ein Zweites angepasst"};
    const int keys[3] = {3357, 3613, 3869};
    result.Finish({.ResetRange = true,
                   .AutoDisplayRange = s.Mode != 2,
                   .History = LangTextOr(keys[s.Mode], german[s.Mode]),
                   .HistoryMode = s.Mode != 2 ? 1 : 0});  // the weight on a card of its own
    if (s.Mode != 2) AddHistoryCard(made, "Gewichtung 2.Bild: " + Edit5->text().toStdString(), 0);
  }
  SlotPair = pair;  // the dialog's operation goes on
  return made;
}

void TForm27::Button3Click() {
  RedrawEnabled = false;
  for (QLineEdit* e : {Edit1, Edit2, Edit5}) e->setText(e == Edit5 ? "100" : "0");
  Edit3->setText("0.0");
  Edit4->setText("0.0");
  // The cutout centred on the first image.
  if (SlotInUse(First)) {
    const TImageSlot& F = Store.Image[size_t(First)];
    OffsetX = (Image1->width() - F.Width) / 2;
    OffsetY = (F.Height - Image1->height()) / 2;
  }
  RedrawEnabled = true;
  Draw();
}

void TForm27::PreviewDragged(QPoint delta, bool right) {
  if (right) {
    RedrawEnabled = false;
    Edit1->setText(QString::number(int64_t(std::trunc(FieldNumber(Edit1))) +
                                   delta.x()));
    Edit2->setText(QString::number(int64_t(std::trunc(FieldNumber(Edit2))) -
                                   delta.y()));
    RedrawEnabled = true;
  } else {
    OffsetX += delta.x();
    OffsetY -= delta.y();
  }
  Draw();
}

bool TForm27::eventFilter(QObject* o, QEvent* e) {
  const QEvent::Type t = e->type();
  const bool mouse = t == QEvent::MouseButtonPress || t == QEvent::MouseMove || t == QEvent::MouseButtonRelease;
  if (o == Image1 && mouse) {
    auto* m = static_cast<QMouseEvent*>(e);
    if (e->type() == QEvent::MouseButtonPress) {
      downAt_ = m->globalPosition().toPoint();
      dragButton_ = m->button();
      return true;
    }
    if (e->type() == QEvent::MouseMove && dragButton_ == Qt::LeftButton) {
      Image1->DragOffset = m->globalPosition().toPoint() - downAt_;
      Image1->update();
      return true;
    }
    if (e->type() == QEvent::MouseButtonRelease && dragButton_ != Qt::NoButton) {
      const bool right = dragButton_ == Qt::RightButton;
      dragButton_ = Qt::NoButton;
      PreviewDragged(m->globalPosition().toPoint() - downAt_, right);
      return true;
    }
  } else if (o == Image2 && e->type() == QEvent::MouseButtonRelease) {
    Draw();
  }
  return QWidget::eventFilter(o, e);
}

void TForm27::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (DialogFormNeedsTranslation(ManualCombinationForm)) {
    TranslateForm("Form27");
    SetDialogFormTranslated(ManualCombinationForm);
  }
  Button3Click();  // the fields reset, the cutout centred, the preview drawn
}

void TForm27::keyPressEvent(QKeyEvent* e) {
  if (EscapeCancels(e, false, [this] { hide(); })) return;
  QWidget::keyPressEvent(e);
}

void TForm27::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  SetOperationActive(false);
  SlotPair = {};
}

void TForm27::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  Draw();
}

TForm27* ShowManualCombination(int first, int second) {
  EnsureDialogForm(ManualCombinationForm);
  TForm27* f = Form();
  if (!f) return nullptr;
  f->First = first;
  f->Second = second;
  f->show();
  f->raise();
  return f;
}

void DrawCombinePreview() {
  if (TForm27* f = Form(); f && f->isVisible()) f->Draw();
}

void RegisterManualCombinationForm() {
  RegisterDialogForm(ManualCombinationForm, [] { return new TForm27; });
  // The menu command's second image is the one shifted or receiving, the
  // active image the one added.
  ManualCombinationStarter = [](QWidget* form, const TManualCombinationStart& start) {
    if (auto* f = qobject_cast<TForm27*>(form)) {
      f->First = start.Second;
      f->Second = start.Active;
    }
  };
  HistogramDependants().DrawCombinePreview = [] { DrawCombinePreview(); };
}

}  // namespace astrelon
