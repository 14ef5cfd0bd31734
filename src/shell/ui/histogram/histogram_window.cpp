// The histogram window: creation, showing and hiding, layout, the controls'
// state from the slot's display record, painting and the two timers.
#include "shell/ui/histogram/histogram_window.h"

#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "common/pascal_format.h"
#include "core/language.h"
#include "core/run_state.h"
#include "core/settings.h"
#include "shell/display/renderer.h"
#include "shell/ui/controls/up_down.h"
#include "shell/ui/histogram/histogram_arrow_keys.h"
#include "shell/ui/histogram/histogram_bitmap.h"
#include "shell/ui/histogram/histogram_button_glyphs.h"
#include "shell/ui/histogram/histogram_geometry.h"
#include "shell/ui/histogram/histogram_transfer.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/main_commands.h"
#include "shell/ui/menu/main_menu.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/image_view.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/ui/windows/window_placement.h"
#include "shell/windows/histogram_refresh.h"
#include "shell/windows/image_window_state.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int Panel1Width = 56;   // the button column; the stored width leaves it out
constexpr int Panel3Height = 24;  // the slider row under the histogram
constexpr int MinAreaWidth = 256, MaxAreaWidth = 500;
constexpr int MinClientHeight = 121, MaxClientHeight = 500;
constexpr int KnobSize = 15;
constexpr int DefaultTrackWidth = 183;  // slider length 178 with the knob's offset
constexpr int Label5Width = 20;
constexpr int Label6Width = 40;
// Width of the window beside the histogram area: both margins, the button column and 5.
constexpr int FixedWidth = 2 * HistogramMargin + Panel1Width + 5;
// The frame of a tool window before it is first shown (borders and title bar).
constexpr QSize GuessedFrame(8, 30);

TForm2* Instance = nullptr;

double WindowXToValue(int slot, const TFrozenHistogramAxis& axis, float x) {
  if (slot < 1 || slot > MaxImageSlots) return 0.0;
  return HistogramXToValueAt(Store.Display[size_t(slot)], axis, x, Instance ? Instance->W : 290);
}

struct TWindowTexts {
  QString Gamma = "&Gamma", Histo = "&Histo", Punkte = "&Punkte";
  QString Lin = "lin", His = "his";
  QString SoftGammaHint = "Weichere Gammafunktion", RoundedHint = "Abgerundeter Verlauf";
};
TWindowTexts& Texts() {
  static TWindowTexts t;
  return t;
}

QString Lang(int key, const char* german) { return QString::fromStdString(LangTextOr(key, german)); }

}  // namespace

THistogramDependants& HistogramDependants() {
  static THistogramDependants d;
  return d;
}

TForm2* HistogramWindow() { return Instance; }

// ---- the zoom buttons ----

THistogramZoomSpin::THistogramZoomSpin(QWidget* parent) : QWidget(parent) {
  setObjectName("RxSpinButton1");
  MakeArrowPair(this, 14, Up, Down);
  connect(Up, &QToolButton::clicked, this, &THistogramZoomSpin::TopClick);
  connect(Down, &QToolButton::clicked, this, &THistogramZoomSpin::BottomClick);
}

// ---- creation ----

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName("Form2");
  setWindowTitle(" Histogramm");
  // "Transp." lets the desktop show through the white of the histogram picture.
  setAttribute(Qt::WA_TranslucentBackground);
  BuildControls();
  resize(MinAreaWidth + FixedWidth, MinClientHeight);
}

TForm2::~TForm2() {
  if (Instance == this) {
    Instance = nullptr;
    SetHistogramWindowHooks({});
    SetHistogramXToValue(nullptr);
    HistogramWindowVisible = false;
  }
}

void TForm2::BuildControls() {
  Area = new THistogramArea(this, this);
  auto label = [this](const char* name, Qt::Alignment align) {
    auto* l = new QLabel(Area);
    l->setObjectName(name);
    l->setAlignment(align | Qt::AlignVCenter);
    return l;
  };
  Label1 = label("Label1", Qt::AlignLeft);
  Label2 = label("Label2", Qt::AlignRight);
  Label8 = label("Label8", Qt::AlignRight);
  Label9 = label("Label9", Qt::AlignLeft);
  Label4 = label("Label4", Qt::AlignRight);
  Label5 = label("Label5", Qt::AlignLeft);
  Label6 = label("Label6", Qt::AlignLeft);
  for (QLabel* l : {Label1, Label2, Label8, Label9}) l->setAttribute(Qt::WA_TransparentForMouseEvents);

  Button1 = new QPushButton(Texts().Gamma, Area);
  Button1->setObjectName("Button1");
  Button1->setFocusPolicy(Qt::NoFocus);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  RxSpinButton1 = new THistogramZoomSpin(Area);
  RxSpinButton1->setToolTip("x Zoom");
  connect(RxSpinButton1, &THistogramZoomSpin::TopClick, this, [this] { RxSpinButton1TopClick(); });
  connect(RxSpinButton1, &THistogramZoomSpin::BottomClick, this, [this] { RxSpinButton1BottomClick(); });

  Panel1 = new QWidget(this);
  Panel1->setObjectName("Panel1");
  auto* grid = new QGridLayout(Panel1);
  grid->setContentsMargins(3, 14, 3, 3);
  grid->setSpacing(2);
  auto button = [this](const char* name, const QString& caption, const QString& hint) {
    auto* b = new QToolButton(Panel1);
    b->setObjectName(name);
    b->setText(caption);
    b->setToolTip(hint);
    b->setCheckable(true);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return b;
  };
  SpeedButton1 = button("SpeedButton1", {}, "Histogrammbreite nach der aktuellen Einstellung ausrichten");
  SpeedButton3 = button("SpeedButton3", {}, "Darstellung der X-Achse nichtlinear");
  SpeedButton5 = button("SpeedButton5", {}, Texts().SoftGammaHint);
  // Three picture buttons: their glyphs recoloured on the button face.
  const QColor face = palette().button().color();
  const std::pair<QToolButton*, THistogramGlyph> pictures[] = {{SpeedButton1, THistogramGlyph::SpanWidth},
                                                               {SpeedButton3, THistogramGlyph::SqrtAxis},
                                                               {SpeedButton5, THistogramGlyph::SoftGamma}};
  for (const auto& [b, glyph] : pictures) {
    b->setIcon(HistogramButtonIcon(glyph, face));
    b->setIconSize(QSize(16, 16));
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
  }
  SpeedButton4 = button("SpeedButton4", "@ Luma", "Kurvenverlauf auf Luma anwenden");
  SpeedButton2 = button("SpeedButton2", "Transp.", "Transparenter Hintergrund");
  grid->addWidget(SpeedButton1, 0, 0);
  grid->addWidget(SpeedButton3, 0, 1);
  grid->addWidget(SpeedButton5, 1, 0, 1, 2, Qt::AlignHCenter);
  grid->addWidget(SpeedButton4, 2, 0, 1, 2);
  grid->addWidget(SpeedButton2, 3, 0, 1, 2);
  Label3 = new QLabel(Panel1);
  Label3->setObjectName("Label3");
  Label3->setAlignment(Qt::AlignCenter);
  grid->addWidget(Label3, 4, 0, 1, 2);
  grid->setRowStretch(5, 1);
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
  connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
  connect(SpeedButton3, &QToolButton::clicked, this, [this] { SpeedButton3Click(); });
  connect(SpeedButton4, &QToolButton::clicked, this, [this] { SpeedButton4Click(); });
  connect(SpeedButton5, &QToolButton::clicked, this, [this] { SpeedButton5Click(); });

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(600);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer2 = new QTimer(this);
  Timer2->setObjectName("Timer2");
  Timer2->setInterval(100);
  connect(Timer2, &QTimer::timeout, this, [this] { Timer2Timer(); });

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  const std::pair<const char*, const char*> items[] = {
      {"Auf8Bitskalieren02551", "Auf 8 Bit skalieren (0->255) "},
      {"Auf12Bitskalieren040951", "Auf 12 Bit skalieren (0->4095) "},
      {"Auf16Bitskalieren0655351", "Auf 16 Bit skalieren (0->65535) "},
      {"Schwarzwertauf0setzen1", "Schwarzwert auf 0 setzen"},
      {"Automatischskalieren1", "Automatisch skalieren"},
      {"bertragedieSkalierungaufdieBildwerte1", "Übertrage die Skalierung auf die Bildwerte!"},
      {"Histogrammeinstellungenspeichern1", "Histogrammeinstellungen speichern"},
      {"Histogrammeinstellungenladen1", "Histogrammeinstellungen laden"},
  };
  int tag = 0;
  for (const auto& [name, caption] : items) {
    QAction* a = PopupMenu1->addAction(QString::fromUtf8(caption));
    a->setObjectName(name);
    if (tag < 3) a->setData(tag);
    ++tag;
  }
  ConnectMenuCommands(PopupMenu1);
  setToolTip("Rechtsklick für Menü");
  arrowKeys_ = new THistogramArrowKeys(this);
}

void TForm2::FormCreate() {
  Instance = this;
  settingUp_ = true;
  L = 178;
  // The settings keep the width without the button column; the window's own
  // geometry (written back by its size messages) is the whole width.
  if (Settings.HistWidth > 0) {
    Settings.HistWidth = int32_t(std::min<int64_t>(int64_t(Settings.HistWidth) + Panel1Width, INT32_MAX));
    resize(std::clamp(Settings.HistWidth, MinAreaWidth + FixedWidth, MaxAreaWidth + FixedWidth),
           std::clamp(Settings.HistHeight, MinClientHeight, MaxClientHeight));
    // Within the desktop's reach until the first showing pulls it onto the screen
    // (a position near the integer limits overflows the window's geometry).
    QPoint place(Settings.HistLeft, Settings.HistTop);
    if (const QScreen* s = QGuiApplication::primaryScreen()) {
      const QRect desk = s->availableVirtualGeometry();
      place = {int(std::clamp<int64_t>(Settings.HistLeft, int64_t(desk.left()) - width(), desk.right())),
               int(std::clamp<int64_t>(Settings.HistTop, int64_t(desk.top()) - height(), desk.bottom()))};
    }
    move(place);
  }
  SetHistogramXToValue(&WindowXToValue);
  SetHistogramWindowHooks({[] {
                             if (Instance) Instance->RefreshHistogramWindow();
                           },
                           [] {
                             if (Instance) Instance->ChangePending = false;
                           }});
  Timer2->start();
  settingUp_ = false;
  const QAction* item = MainMenuItem("Histogramm1");
  if (!(item ? item->isChecked() : Settings.HistogramMenuChecked != 0)) return;
  // Placed by the main window's parts on a first run: shown once they are laid out.
  if (QWidget* main = MainLink().Window.data(); HistogramPlaceDefaulted && main && !main->isVisible()) {
    AfterShown(main, [self = QPointer<TForm2>(this)] {
      if (self && !self->isVisible()) self->show();
    });
    return;
  }
  show();
}

TForm2* CreateHistogramWindow(QWidget* mainWindow) {
  auto* form = new TForm2(mainWindow);
  AttachToolWindow(TToolWindow::Histogram, form);
  form->FormCreate();
  return form;
}

// ---- showing and hiding ----

void TForm2::FirstShow() {
  shownBefore_ = true;
  KnobOffset = KnobSize / 3;
  setMinimumSize(MinAreaWidth + FixedWidth, MinClientHeight);
  setMaximumSize(MaxAreaWidth + FixedWidth, MaxClientHeight);
  // The remembered place is pulled back onto the screen.
  if (const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
    const QRect desk = s->availableVirtualGeometry();
    const int w = std::clamp(Settings.HistWidth, minimumWidth(), maximumWidth());
    const int h = std::clamp(Settings.HistHeight, minimumHeight(), maximumHeight());
    // Never placed before (first run): beside the main window, else in the image
    // area's corner that the first image window leaves free.
    if (std::exchange(HistogramPlaceDefaulted, false))
      if (const QRect area = ImageAreaOnDesk(); !area.isEmpty()) {
        const QPoint corner = FirstRunToolPlace(MainWindowOnDesk(), area, QSize(w, h) + GuessedFrame, desk);
        Settings.HistLeft = corner.x();
        Settings.HistTop = corner.y();
        firstRunPlace_ = corner;
      }
    Settings.HistLeft = int32_t(std::clamp<int64_t>(Settings.HistLeft, desk.left(), std::max<int64_t>(desk.left(), int64_t(desk.right()) - w)));
    Settings.HistTop = int32_t(std::clamp<int64_t>(Settings.HistTop, desk.top(), std::max<int64_t>(desk.top(), int64_t(desk.bottom()) - h)));
  }
  SpeedButton2->setChecked(Settings.HistTransparent != 0);
  TranslateTexts();
  if (logicalDpiX() > 96) {
    for (QLabel* l : {Label1, Label2, Label8, Label9}) {
      QFont f = l->font();
      f.setPointSize(7);
      l->setFont(f);
    }
  }
}

void TForm2::TranslateTexts() {
  TWindowTexts& t = Texts();
  setWindowTitle(Lang(LangKey(5, 1), " Histogramm"));
  t.Gamma = Lang(LangKey(5, 2), "&Gamma");
  t.Histo = Lang(LangKey(5, 3), "&Histo");
  t.Punkte = Lang(LangKey(5, 4), "&Punkte");
  t.Lin = Lang(LangKey(5, 9), "lin");
  t.His = Lang(LangKey(5, 10), "his");
  t.SoftGammaHint = Lang(LangKey(5, 6), "Weichere Gammafunktion");
  t.RoundedHint = Lang(LangKey(5, 7), "Abgerundeter Verlauf");
  Button1->setToolTip(Lang(LangKey(5, 2, 1), "Gamma, Histogrammausgleich oder Kurvenpunkte"));
  SpeedButton4->setToolTip(Lang(LangKey(5, 5), "Kurvenverlauf auf Luma anwenden"));
  SpeedButton3->setToolTip(Lang(LangKey(5, 11), "Darstellung der X-Achse nichtlinear"));
  SpeedButton1->setToolTip(Lang(LangKey(5, 12), "Histogrammbreite nach der aktuellen Einstellung ausrichten"));
  SpeedButton2->setToolTip(Lang(LangKey(9, 15), "Transparenter Hintergrund"));
  SpeedButton2->setText(Lang(LangKey(9, 15, 1), "Transp."));
  setToolTip(Lang(LangKey(10, 3), "Rechtsklick für Menü"));
  const QList<QAction*> actions = PopupMenu1->actions();
  for (int i = 0; i < actions.size() && i < 8; ++i) {
    const std::string text = LangText(LangKey(5, 1, i + 1));
    if (!text.empty()) actions[i]->setText(QString::fromStdString(text));
  }
}

void TForm2::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (!e->spontaneous()) FormShow();
}

void TForm2::FormShow() {
  if (!shownBefore_) FirstShow();
  settingUp_ = true;
  const QRect bounds(Settings.HistLeft, Settings.HistTop, std::clamp(Settings.HistWidth, minimumWidth(), maximumWidth()),
                     std::clamp(Settings.HistHeight, minimumHeight(), maximumHeight()));
  if (size() != bounds.size()) resize(bounds.size());
  if (pos() != bounds.topLeft()) move(bounds.topLeft());
  settingUp_ = false;
  Settings.HistWidth = width();
  Settings.HistHeight = height();
  CurrentSlot = FindActiveSlot();
  ChangePending = false;
  DragTag = 0;
  dragHit_ = THistogramHit::None;
  Timer1->start();
  HistogramWindowVisible = true;
  RefreshHistogramWindow();
}

void TForm2::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  if (!e->spontaneous()) FormHide();
}

void TForm2::FormHide() {
  if (!MainLink().ClosingOrMinimising && !Closing) {
    if (QAction* item = MainMenuItem("Histogramm1")) item->setChecked(false);
    Settings.HistogramMenuChecked = 0;
  }
  Settings.HistTransparent = SpeedButton2->isChecked() ? 1 : 0;
  // A change that waited for the timer is shown now rather than dropped.
  if (ChangePending && SlotInUse(pendingSlot_) && Store.HasWindow[size_t(pendingSlot_)]) ApplyChangeTo(pendingSlot_);
  ChangePending = false;
  Timer1->stop();
  HistogramWindowVisible = false;
}

void TForm2::moveEvent(QMoveEvent* e) {
  QWidget::moveEvent(e);
  if (settingUp_) return;
  Settings.HistLeft = x();
  Settings.HistTop = y();
}

void TForm2::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  LayoutArea();
  if (settingUp_) return;
  Settings.HistWidth = width();
  Settings.HistHeight = height();
  RefreshHistogramWindow();
}

// ---- layout ----

void TForm2::LayoutArea() {
  const int clientW = width(), clientH = height();
  const int areaW = std::max(clientW - Panel1Width, 1);
  Panel1->setGeometry(areaW, 0, Panel1Width, clientH);
  Area->setGeometry(0, 0, areaW, clientH);
  W = std::max(MinAreaWidth, clientW - FixedWidth);
  H = std::max(75, clientH - Panel3Height - 22);
  // The slider row: mode button, zoom buttons, slider with its end labels, value.
  const int top = std::max(clientH, H + 22 + Panel3Height) - Panel3Height;
  Button1->setGeometry(HistogramMargin, top + 1, 52, Panel3Height - 2);
  RxSpinButton1->setGeometry(HistogramMargin + 54, top + 1, 14, 22);
  Label4->setGeometry(trackLeft_ - 22, top, 20, Panel3Height);
  trackWidth_ = DefaultTrackWidth;
  int label5Left = trackLeft_ + trackWidth_ + 3;
  if (label5Left + Label5Width > areaW - 2) {  // the row ends before the button column
    label5Left = std::max(trackLeft_ + 40, areaW - 2 - Label5Width);
    trackWidth_ = label5Left - 11 - trackLeft_;
  }
  L = trackWidth_ - KnobOffset;
  Label5->setGeometry(label5Left, top, Label5Width, Panel3Height);
  Label6->setGeometry(label5Left + Label5Width + 2, top, Label6Width, Panel3Height);
  Label6->setVisible(Label6->geometry().right() < areaW && !Label6->text().isEmpty());
}

void TForm2::PlaceControls() {
  const bool usable = SlotUsable();
  const int Z = Zoom();
  Label1->setGeometry(HistogramMargin, 0, W / 2, 14);
  Label2->setGeometry(HistogramMargin + 8 + W - W / 2, 0, W / 2, 14);
  Label1->setVisible(usable && Z == 1);
  Label2->setVisible(usable && Z == 1);
  const QRect s1 = Shape1Rect(), s2 = Shape2Rect();
  const int labelW = std::max(Label8->sizeHint().width(), Label9->sizeHint().width()) + 2;
  const int x1 = s1.isNull() ? HistogramMargin + 1 + Round32(Z * BlackX) - ScrollOffset() : s1.left();
  const int x2 = s2.isNull() ? HistogramMargin + 2 + Round32(Z * WhiteX) - ScrollOffset() : s2.left();
  Label8->setGeometry(std::max(4, x1 - 2 - labelW), 16, labelW, 14);
  Label9->setGeometry(std::min(x2 + 4, HistogramMargin + W + 5 - labelW), 16, labelW, 14);
  Label8->setVisible(usable);
  Label9->setVisible(usable);
  const QString value = usable ? QString::fromStdString(SliderValueText(Store.Display[size_t(CurrentSlot)].Gamma, Z)) : QString();
  Label6->setText(value);
  Label3->setText(value);
  Label6->setVisible(Label6->geometry().right() < Area->width() && !value.isEmpty());
  Area->update();
}

// ---- shapes ----

int TForm2::Zoom() const {
  if (!SlotUsable() || Store.Display[size_t(CurrentSlot)].Gamma != CurveModeGamma) return 1;
  return std::clamp(RxSpinButton1->Tag, 1, 4);
}

int TForm2::ScrollOffset() const {
  const int Z = Zoom();
  return Z > 1 ? CurveScrollOffset(W, P, Z, L) : 0;
}

bool TForm2::SlotUsable() const {
  return CurrentSlot >= 1 && SlotInUse(CurrentSlot) && Store.HasWindow[size_t(CurrentSlot)] &&
         Store.Image[size_t(CurrentSlot)].PixelCount() > 0;
}

bool TForm2::TransparentDown() const { return SpeedButton2->isChecked(); }

QRect TForm2::PaintBoxRect() const { return QRect(HistogramMargin, 14, W + 5, H + 4); }

QRect TForm2::Shape1Rect() const {
  if (!SlotUsable()) return {};
  const int x = Round32(Zoom() * double(BlackX)) - ScrollOffset();
  if (x < 0 || x > W) return {};
  return QRect(HistogramMargin + 1 + x, 15, 1, H + 3);
}

QRect TForm2::Shape2Rect() const {
  if (!SlotUsable()) return {};
  const int x = Round32(Zoom() * double(WhiteX)) - ScrollOffset();
  if (x < 0 || x > W) return {};
  return QRect(HistogramMargin + 2 + x, 15, 1, H + 3);
}

QRect TForm2::Shape10Rect() const {
  const QRect s = Shape1Rect();
  return s.isNull() ? QRect() : QRect(s.left() - 8, s.top() + H - 9, 8, 8);
}

QRect TForm2::Shape11Rect() const {
  const QRect s = Shape2Rect();
  return s.isNull() ? QRect() : QRect(s.left() + 1, s.top() + H - 9, 8, 8);
}

QRect TForm2::Shape4Rect() const {
  if (SlotUsable() && Store.Display[size_t(CurrentSlot)].Gamma == CurveModeGamma && Zoom() == 1) return {};
  const int top = std::max(height(), H + 22 + Panel3Height) - Panel3Height;
  return QRect(trackLeft_, top + 9, trackWidth_, 6);
}

QRect TForm2::Shape3Rect() const {
  const QRect track = Shape4Rect();
  if (track.isNull()) return {};
  return QRect(track.left() + P - KnobOffset, track.center().y() - KnobSize / 2, KnobSize, KnobSize);
}

QRect TForm2::CurveGripRect(int k) const {
  if (k < 1 || k > 5 || !SlotUsable()) return {};
  const TDisplayRecord& d = Store.Display[size_t(CurrentSlot)];
  if (d.Gamma != CurveModeGamma) return {};
  const int xz = Round32(double(ValueToHistogramX(CurrentSlot, d.CurvePoints[size_t(k)].X)) * Zoom());
  const int S = ScrollOffset();
  if (xz - S < 0 || xz - S > W) return {};
  const int top = H + 12 - Round32(H * double(d.CurvePoints[size_t(k)].Y));
  return QRect(HistogramMargin + xz - S, top, 7, 7);
}

THistogramHit TForm2::HitTest(QPoint pos, int& grip) const {
  grip = 0;
  if (!SlotUsable()) return THistogramHit::None;
  for (int k = 5; k >= 1; --k) {
    if (CurveGripRect(k).adjusted(-1, -1, 1, 1).contains(pos)) {
      grip = k;
      return THistogramHit::CurveGrip;
    }
  }
  if (Shape10Rect().contains(pos)) return THistogramHit::BlackGrip;
  if (Shape11Rect().contains(pos)) return THistogramHit::WhiteGrip;
  // The marker lines are one pixel wide; a press two pixels beside them counts.
  if (const QRect s = Shape2Rect(); !s.isNull() && s.adjusted(-2, 0, 2, 0).contains(pos)) return THistogramHit::White;
  if (const QRect s = Shape1Rect(); !s.isNull() && s.adjusted(-2, 0, 2, 0).contains(pos)) return THistogramHit::Black;
  if (Shape3Rect().contains(pos)) return THistogramHit::Knob;
  if (Shape4Rect().adjusted(0, -4, 0, 4).contains(pos)) return THistogramHit::Track;
  return THistogramHit::None;
}

// ---- value axis ----

TFrozenHistogramAxis TForm2::AxisFor(int slot) const {
  if (DragTag >= 1) return frozen_;
  return AxisOf(Store.Display[size_t(slot)]);
}

float TForm2::ValueToHistogramX(int slot, float value) const {
  if (slot < 1 || slot > MaxImageSlots) return 0.0f;
  const double x = ValueToHistogramXAt(Store.Display[size_t(slot)], AxisFor(slot), value, W);
  return std::isfinite(x) ? float(std::clamp(x, -1e6, 1e6)) : 0.0f;
}

double TForm2::HistogramXToValue(int slot, float x) const {
  if (slot < 1 || slot > MaxImageSlots) return 0.0;
  return HistogramXToValueAt(Store.Display[size_t(slot)], AxisFor(slot), x, W);
}

// ---- controls from the record ----

void TForm2::RefreshHistogramWindow() {
  Refresh = true;
  UpdateHistogramControls();
}

void TForm2::UpdateHistogramControls() {
  CurrentSlot = FindActiveSlot();
  if (!isVisible()) return;
  LayoutArea();
  const QSignalBlocker b1(SpeedButton1), b3(SpeedButton3), b4(SpeedButton4), b5(SpeedButton5);
  if (!SlotUsable()) {
    for (QLabel* l : {Label1, Label2, Label8, Label9, Label3, Label6}) l->clear();
    Label8->hide();
    Label9->hide();
    Area->update();
    return;
  }
  const int slot = CurrentSlot;
  const TImageSlot& im = Store.Image[size_t(slot)];
  TDisplayRecord& d = Store.Display[size_t(slot)];
  Label4->show();
  Label5->show();
  SpeedButton4->setChecked(d.LumaOnly != 0);
  SpeedButton4->setEnabled(im.IsColor && im.ColorModel == CmRgb);
  SpeedButton1->setChecked(d.SpanBlackWhite != 0);
  SpeedButton3->setChecked(d.SqrtHistogram != 0);
  const TWindowTexts& t = Texts();
  if (d.Gamma == CurveModeGamma) {
    RxSpinButton1->show();
    Label4->hide();
    Label5->hide();
    Button1->setText(t.Punkte);
    SpeedButton5->setEnabled(true);
    SpeedButton5->setChecked(d.CurveMode != 0);
    SpeedButton5->setToolTip(t.RoundedHint);
    P = std::clamp(P, 0, L);
  } else if (!(d.Gamma > 0)) {
    RxSpinButton1->hide();
    P = ShareToSliderPosition(d.Gamma, L);
    Button1->setText(t.Histo);
    Label4->setText(t.Lin);
    Label5->setText(t.His);
    SpeedButton5->setEnabled(false);
  } else {
    RxSpinButton1->hide();
    P = std::clamp(GammaToSliderPosition(d.Gamma, L), 0, L);
    Button1->setText(t.Gamma);
    Label4->setText("0.2");
    Label5->setText("5");
    SpeedButton5->setEnabled(true);
    SpeedButton5->setChecked(d.CurveMode != 0);
    SpeedButton5->setToolTip(t.SoftGammaHint);
  }
  if (d.SpanBlackWhite) {
    BlackX = 0;
    WhiteX = float(W);
  } else {
    BlackX = float(Round32(ValueToHistogramX(slot, d.Black)));
    WhiteX = float(Round32(ValueToHistogramX(slot, d.White)));
  }
  Label1->setText(d.SpanBlackWhite ? QString() : QString::fromStdString(FormatValueLabel(d.RangeLow)));
  Label2->setText(d.SpanBlackWhite ? QString() : QString::fromStdString(FormatValueLabel(d.RangeHigh)));
  Label8->setText(QString::fromStdString(FormatValueLabel(d.Black)));
  Label9->setText(QString::fromStdString(FormatValueLabel(d.White)));
  PlaceControls();
}

// ---- painting ----

const QImage& TForm2::HistogramBitmap() {
  if (Refresh || bitmap_.size() != QSize(W + 5, H + 4)) {
    Refresh = false;
    bitmap_ = DrawHistogramBitmap(SlotUsable() ? CurrentSlot : -1, W, H);
  }
  return bitmap_;
}

void TForm2::PaintArea(QPainter& p) {
  const bool transparent = TransparentDown();
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.fillRect(Area->rect(), transparent ? QColor(Qt::transparent) : palette().color(QPalette::Window));
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);

  const QRect box = PaintBoxRect();
  QImage picture = HistogramBitmap();
  if (transparent) {
    picture = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y) {
      auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
      for (int x = 0; x < picture.width(); ++x)
        if (row[x] == qRgb(255, 255, 255)) row[x] = 0;
    }
  }
  p.save();
  p.setClipRect(box);
  const int Z = Zoom();
  if (Z > 1) {
    // The zoomed curve mode stretches the picture and scrolls it with the slider.
    const int left = 1 - Z - ScrollOffset();
    const int right = left + box.width() * Z - 3 * (Z - 1);
    p.drawImage(QRect(box.left() + left, box.top(), right - left, box.height()), picture);
  } else {
    p.drawImage(box.topLeft(), picture);
  }
  PaintCurve(p);
  p.restore();

  if (SlotUsable()) {
    const QColor red(255, 0, 0);
    for (const QRect& r : {Shape1Rect(), Shape2Rect()})
      if (!r.isNull()) p.fillRect(r, red);
    for (const QRect& r : {Shape10Rect(), Shape11Rect()})
      if (!r.isNull()) p.fillRect(r, red);
    p.setPen(QColor(0, 0, 255));
    p.setBrush(Qt::white);
    for (int k = 1; k <= 5; ++k)
      if (const QRect r = CurveGripRect(k); !r.isNull()) p.drawRect(r.adjusted(0, 0, -1, -1));
  }
  if (const QRect track = Shape4Rect(); !track.isNull()) {
    p.setPen(palette().color(QPalette::Dark));
    p.setBrush(palette().color(QPalette::Base));
    p.drawRect(track.adjusted(0, 0, -1, -1));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(palette().color(QPalette::Shadow));
    p.setBrush(palette().color(QPalette::Button));
    p.drawEllipse(Shape3Rect().adjusted(0, 0, -1, -1));
  }
}

void TForm2::PaintCurve(QPainter& p) {
  if (!SlotUsable() || WhiteX - BlackX <= 2) return;
  const int slot = CurrentSlot;
  const THistogramTransfer transfer(slot);
  const int Z = Zoom(), S = ScrollOffset();
  const int first = std::max(0, Round32(Z * double(BlackX)) - S);
  const int last = std::min(W, Round32(Z * double(WhiteX)) - S);
  if (last < first) return;
  QPolygon line;
  line.reserve(last - first + 1);
  const QPoint origin = PaintBoxRect().topLeft();
  for (int c = first; c <= last; ++c) {
    const double v = HistogramXToValue(slot, float(double(c + S) / Z));
    const double y = std::clamp(transfer.At(v), -1.0, 2.0);
    line << origin + QPoint(c + 2, H + 2 - Round32(H * y));
  }
  p.setPen(Qt::black);
  p.drawPolyline(line);
}

// ---- timers ----

void TForm2::MarkChanged() {
  ChangePending = true;
  pendingSlot_ = CurrentSlot;
  Timer1->start();
  Area->update();
}

void TForm2::Timer1Timer() {
  if (isVisible() && ChangePending) {
    const int slot = pendingSlot_ >= 1 ? pendingSlot_ : CurrentSlot;
    if (SlotInUse(slot) && Store.HasWindow[size_t(slot)]) ApplyChangeTo(slot);
  }
  ChangePending = false;
}

void TForm2::FlushPendingChange() {
  if (!ChangePending) return;
  Timer1Timer();
}

void TForm2::Timer2Timer() {
  const int active = FindActiveSlot();
  if (active != CurrentSlot) {
    // A change still waiting for its slot is shown before the window turns to another one.
    FlushPendingChange();
    Refresh = true;
    UpdateHistogramControls();
  }
  KeepFirstImageClear();
  arrowKeys_->Tick([this](QPoint screen) {
    QWidget* w = QApplication::widgetAt(screen);
    if (qobject_cast<TImageView*>(w)) return true;
    int grip = 0;
    return w == Area && HitTest(Area->mapFromGlobal(screen), grip) != THistogramHit::None;
  });
}

void TForm2::KeepFirstImageClear() {
  if (!firstRunPlace_) return;
  const QRect image = ActiveImageWindowOnDesk(), frame = frameGeometry();
  if (image.isEmpty()) return;  // until the first image window shows
  // Only where the first run put it: a window the user moved stays.
  const QPoint placed = *std::exchange(firstRunPlace_, std::nullopt);
  if (!isVisible() || pos() != placed || !frame.intersects(image)) return;
  const QSize border = frame.size() - size();
  if (const auto free = FreeCornerPlace(ImageAreaOnDesk(), image, frame.size(), minimumSize() + border)) {
    resize(free->size() - border);
    move(free->topLeft());
  }
}

void TForm2::ApplyHistogramChange() { ApplyChangeTo(CurrentSlot); }

void TForm2::ApplyChangeTo(int slot) {
  if (!SlotInUse(slot)) return;
  if (MainLink().RepaintLineProfile) MainLink().RepaintLineProfile();
  Store.Display[size_t(slot)].Changed = 1;
  RenderImageWindow(slot, false);
  const THistogramDependants& deps = HistogramDependants();
  if (deps.DrawCombinePreview) deps.DrawCombinePreview();
  if (deps.RedrawBlinkEntries) deps.RedrawBlinkEntries(slot);
}

// ---- background, pop-up menu and wheel ----

void TForm2::paintEvent(QPaintEvent*) {
  // The button column's background; the drawing surface paints its own.
  QPainter p(this);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.fillRect(Panel1->geometry(), TransparentDown() ? QColor(Qt::transparent) : palette().color(QPalette::Window));
}

void TForm2::contextMenuEvent(QContextMenuEvent* e) {
  if (CurrentSlot >= 1 && SlotUsable()) PopupMenu1->popup(e->globalPos());
  e->accept();
}

void TForm2::wheelEvent(QWheelEvent* e) {
  const int dy = e->angleDelta().y();
  if (dy > 0) ZoomInAtCursor();
  if (dy < 0) ZoomOutAtCursor();
  e->accept();
}

}  // namespace astrelon
