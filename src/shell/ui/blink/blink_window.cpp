#include "shell/ui/blink/blink_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "common/pascal_format.h"
#include "core/language.h"
#include "core/settings.h"
#include "filters/ui/radio_group.h"
#include "shell/main/main_services.h"
#include "shell/ui/controls/control_utils.h"
#include "shell/ui/controls/up_down.h"
#include "shell/ui/histogram/histogram_window.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/main_menu.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int BlinkFormNumber = 25;
constexpr int PadSize = 65;

QString Translated(int key, const char* german) {
  const std::string t = LangText(key);
  return t.empty() ? QString::fromUtf8(german) : QString::fromStdString(t);
}

// The slot window's picture as it is displayed: at the window's zoom, 32 bits per pixel.
QImage WindowPictureAsShown(int slot) {
  const TMDIChild* w = ImageWindow(slot);
  if (!w || w->Image1->Picture().isNull()) return {};
  const QImage& picture = w->Image1->Picture();
  const QSize shown = w->Image1->size();
  // Always a deep copy: the window's picture refers to the renderer's memory.
  QImage copy = picture.format() == QImage::Format_RGB32 ? picture.copy() : picture.convertToFormat(QImage::Format_RGB32);
  if (shown.isEmpty() || shown == copy.size()) return copy;
  const bool reduce = shown.width() < copy.width() || shown.height() < copy.height();
  return copy.scaled(shown, Qt::IgnoreAspectRatio, reduce ? Qt::SmoothTransformation : Qt::FastTransformation);
}

int WindowCount() {
  int n = 0;
  for (int s = 1; s <= MaxImageSlots; ++s)
    if (Store.HasWindow[size_t(s)]) ++n;
  return n;
}

TForm25* ShownBlinkWindow() {
  TForm25* f = BlinkWindow();
  return f && f->isVisible() ? f : nullptr;
}

}  // namespace

// ---- the picture and the arrow pad ----

TBlinkPicture::TBlinkPicture(QWidget* parent) : QWidget(parent) { setMouseTracking(true); }

void TBlinkPicture::SetPicture(const QImage& image) {
  picture_ = image;
  if (!image.isNull() && size() != image.size()) resize(image.size());
  update();
}

void TBlinkPicture::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (!picture_.isNull()) p.drawImage(0, 0, picture_);
}

void TBlinkPicture::mousePressEvent(QMouseEvent* e) { emit Pressed(e); }
void TBlinkPicture::mouseReleaseEvent(QMouseEvent* e) { emit Released(e); }

QImage BlinkPadPicture() {
  QImage pad(PadSize, PadSize, QImage::Format_ARGB32);
  pad.fill(Qt::transparent);
  QPainter p(&pad);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(70, 75, 90));
  p.drawEllipse(QRectF(0.5, 0.5, PadSize - 1, PadSize - 1));
  // Four arrow heads, each in the quarter its presses move to.
  p.setBrush(QColor(15, 15, 20));
  const double c = (PadSize - 1) / 2.0;
  auto arrow = [&](QPointF tip, QPointF a, QPointF b) { p.drawPolygon(QPolygonF{tip, a, b}); };
  arrow({6, c}, {18, c - 9}, {18, c + 9});                                  // left
  arrow({PadSize - 7.0, c}, {PadSize - 19.0, c - 9}, {PadSize - 19.0, c + 9});  // right
  arrow({c, 6}, {c - 9, 18}, {c + 9, 18});                                  // up
  arrow({c, PadSize - 7.0}, {c - 9, PadSize - 19.0}, {c + 9, PadSize - 19.0});  // down
  // Light lines along the diagonals that separate the four quarters.
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QColor(200, 200, 210));
  p.drawLine(12, 12, PadSize - 13, PadSize - 13);
  p.drawLine(12, PadSize - 1 - 12, PadSize - 1 - 12, 12);
  return pad;
}

QPoint BlinkPadDirection(const QImage& pad, QPoint p) {
  if (!pad.valid(p)) return {};
  const QRgb c = pad.pixel(p);
  if (qAlpha(c) == 0 || qGray(c) >= 100) return {};
  const int x = p.x(), y = p.y();
  if (x <= y) return x + y < 67 ? QPoint(-1, 0) : QPoint(0, 1);
  return x + y < 67 ? QPoint(0, -1) : QPoint(1, 0);
}

void BrightenBlinkBitmap(QImage& image, int delta) {
  if (image.isNull() || delta == 0) return;
  if (image.format() != QImage::Format_RGB32) image = image.convertToFormat(QImage::Format_RGB32);
  std::array<uint8_t, 256> lut{};
  for (int v = 0; v < 256; ++v) lut[size_t(v)] = uint8_t(std::clamp(v + delta, 0, 255));
  for (int y = 0; y < image.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const QRgb c = row[x];
      row[x] = qRgba(lut[size_t(qRed(c))], lut[size_t(qGreen(c))], lut[size_t(qBlue(c))], qAlpha(c));
    }
  }
}

// ---- the window ----

TForm25::TForm25(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName("Form25");
  setWindowTitle("Bilder blinken");
  setMinimumWidth(450);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  Panel1 = new QWidget(this);
  Panel1->setObjectName("Panel1");
  auto* top = new QGridLayout(Panel1);
  top->setContentsMargins(4, 2, 4, 2);
  ComboBox1 = new QComboBox(Panel1);
  ComboBox1->setObjectName("ComboBox1");
  ComboBox1->setMinimumContentsLength(16);
  ComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  RadioGroup1 = new TRadioGroup("Bild Nummer", {"1", "2", "3", "4", "5", "6", "7", "8"}, BlinkEntryCount, Panel1);
  RadioGroup1->setObjectName("RadioGroup1");
  RadioGroup1->SetItemIndex(0);
  UpDown3 = new TUpDown(1, 40, 10, Panel1);
  UpDown3->setObjectName("UpDown3");
  Label4 = new QLabel(Panel1);
  Label4->setObjectName("Label4");
  CheckBox2 = new QCheckBox("Blinken", Panel1);
  CheckBox2->setObjectName("CheckBox2");
  Label5 = new QLabel("Helligkeit:", Panel1);
  Label5->setObjectName("Label5");
  Label6 = new QLabel("+0", Panel1);
  Label6->setObjectName("Label6");
  Label6->setMinimumWidth(36);
  UpDown4 = new TUpDown(-5000, 5000, 0, Panel1);
  UpDown4->setObjectName("UpDown4");
  Button2 = new QPushButton("Exit", Panel1);
  Button2->setObjectName("Button2");
  // Row 1: the image of the entry and the entries; row 2: timing and brightness.
  auto* row = new QHBoxLayout;
  for (QWidget* w : std::initializer_list<QWidget*>{UpDown3, Label4, CheckBox2, Label5, Label6, UpDown4}) row->addWidget(w);
  row->addStretch(1);
  row->addWidget(Button2);
  top->addWidget(ComboBox1, 0, 0, Qt::AlignVCenter);
  top->addWidget(RadioGroup1, 0, 1);
  top->addLayout(row, 1, 0, 1, 2);
  top->setColumnStretch(1, 1);
  layout->addWidget(Panel1);

  Panel2 = new QWidget(this);
  Panel2->setObjectName("Panel2");
  Panel2->setMouseTracking(true);
  Panel2->setAutoFillBackground(true);
  Panel2->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  Image1 = new TBlinkPicture(Panel2);
  Image1->setObjectName("Image1");
  Image1->hide();
  Image2 = new TBlinkPicture(Panel2);
  Image2->setObjectName("Image2");
  Image2->SetPicture(BlinkPadPicture());
  Image2->setGeometry(4, 4, PadSize, PadSize);
  Image2->setToolTip("Bild Pixelweise verschieben");
  Image2->hide();
  layout->addWidget(Panel2, 1);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setSizeGripEnabled(true);
  const QString hint = "Im Bild: Linke Maustaste: Alle Bilder verschieben (scrollen), rechte MT: nur dieses Bild verschieben";
  StatusBar1->showMessage(hint);
  StatusBar1->setToolTip(hint);
  layout->addWidget(StatusBar1);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer2 = new QTimer(this);
  Timer2->setObjectName("Timer2");
  Timer2->setInterval(300);
  connect(Timer2, &QTimer::timeout, this, [this] { Timer2Timer(); });

  connect(ComboBox1, &QComboBox::activated, this, [this](int index) { ComboBox1Select(index); });
  connect(RadioGroup1, &TRadioGroup::Clicked, this, [this](int) { RadioGroup1Click(); });
  connect(CheckBox2, &QCheckBox::toggled, this, [this] { CheckBox1Click(); });
  connect(UpDown3, &TUpDown::Clicked, this, [this](bool) { UpDown1Click(); });
  connect(UpDown4, &TUpDown::Clicked, this, [this](bool up) { UpDown2Click(up); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Image1, &TBlinkPicture::Pressed, this, [this](QMouseEvent* e) { PicturePressed(e); });
  connect(Image1, &TBlinkPicture::Released, this, [this](QMouseEvent* e) { PictureReleased(e); });
  connect(Image2, &TBlinkPicture::Pressed, this, [this](QMouseEvent* e) {
    const QPoint d = BlinkPadDirection(Image2->Picture(), e->position().toPoint());
    if (d.isNull()) return;
    nudge_ = d;
    Nudge(d);
    Timer2->start(750);
  });
  connect(Image2, &TBlinkPicture::Released, this, [this](QMouseEvent*) {
    Timer2->stop();
    nudge_ = {};
  });
  for (QWidget* w : {Panel2, static_cast<QWidget*>(Image1), static_cast<QWidget*>(Image2)}) w->installEventFilter(this);
}

TForm25::~TForm25() = default;

int TForm25::Current() const { return std::clamp(RadioGroup1->ItemIndex(), 0, BlinkEntryCount - 1); }

void TForm25::SetStartEntries(int first, int second) {
  for (TBlinkEntry& e : Entries) e = TBlinkEntry{};
  Entries[0].Slot = first;
  Entries[1].Slot = second;
  if (isVisible()) {
    RebuildBlinkList();
    FillEntries();
  }
}

// ---- list and pictures ----

void TForm25::RebuildBlinkList(int closingSlot) {
  for (TBlinkEntry& e : Entries) {
    if (e.Slot > 0 && (!SlotInUse(e.Slot) || !Store.HasWindow[size_t(e.Slot)] || e.Slot == closingSlot)) {
      e.Slot = -1;
      e.Bitmap = QImage();
    }
    e.ListIndex = -1;
  }
  ComboBox1->clear();
  ListSlots.clear();
  for (int s = 1; s <= MaxImageSlots; ++s) {
    if (!Store.HasWindow[size_t(s)] || s == closingSlot) continue;
    const int index = ComboBox1->count();
    ComboBox1->addItem(QFileInfo(QString::fromStdString(Store.FileName[size_t(s)])).fileName());
    ListSlots.push_back(s);
    for (TBlinkEntry& e : Entries)
      if (e.Slot == s) e.ListIndex = index;
  }
  ComboBox1->addItem(QString());
  ListSlots.push_back(-1);
  ComboBox1->setCurrentIndex(Entries[size_t(Current())].ListIndex);
  if (Entries[size_t(Current())].Slot <= 0) Image1->hide();
}

void TForm25::UpdateBlinkBitmap(int k, int slot) {
  if (k < 0 || k >= BlinkEntryCount) return;
  TBlinkEntry& e = Entries[size_t(k)];
  e.Bitmap = WindowPictureAsShown(slot);
  e.Offset = 0;
  if (k == Current()) {
    Image1->SetPicture(e.Bitmap);
    Label6->setText("+0");
  }
}

void TForm25::RedrawBlinkEntries(int slot) {
  for (int k = 0; k < BlinkEntryCount; ++k)
    if (Entries[size_t(k)].Slot == slot) UpdateBlinkBitmap(k, slot);
}

void TForm25::EmptyEntry(int k) {
  TBlinkEntry& e = Entries[size_t(k)];
  e.Slot = -1;
  e.ListIndex = -1;
  e.Offset = 0;
  e.Bitmap = QImage();
}

void TForm25::PlacePicture() { Image1->move(Entries[size_t(Current())].Position); }

// ---- handlers ----

void TForm25::ComboBox1Select(int index) {
  const int k = Current();
  const int slot = index >= 0 && index < int(ListSlots.size()) ? ListSlots[size_t(index)] : -1;
  if (slot < 1) {
    EmptyEntry(k);
    Image1->hide();
    return;
  }
  TBlinkEntry& e = Entries[size_t(k)];
  e.Slot = slot;
  e.ListIndex = index;
  UpdateBlinkBitmap(k, slot);
  Image1->SetPicture(e.Bitmap);
  PlacePicture();
  Image1->show();
  Image2->raise();
}

void TForm25::RadioGroup1Click() {
  if (!isVisible()) return;
  ShowEntry(Current());
}

void TForm25::ShowEntry(int k) {
  TBlinkEntry& e = Entries[size_t(k)];
  if (e.Slot > 0 && e.Bitmap.isNull()) EmptyEntry(k);
  if (e.Slot <= 0) {
    Image1->hide();
    ComboBox1->setCurrentIndex(-1);
    return;
  }
  ComboBox1->setCurrentIndex(e.ListIndex);
  Image1->SetPicture(e.Bitmap);
  Image1->show();
  Image2->raise();
  PlacePicture();
  Label6->setText((e.Offset >= 0 ? "+" : "") + QString::number(e.Offset));
}

void TForm25::Timer1Timer() {
  const int k = Current();
  int next = -1;
  for (int j = k + 1; j < BlinkEntryCount && next < 0; ++j)
    if (Entries[size_t(j)].Slot > 0) next = j;
  // Past the last entry that holds an image: back to the first one that does.
  for (int j = 0; j < BlinkEntryCount && next < 0; ++j)
    if (Entries[size_t(j)].Slot > 0) next = j;
  if (next < 0) return;
  RadioGroup1->SetItemIndex(next);
  RadioGroup1Click();
}

void TForm25::CheckBox1Click() {
  if (CheckBox2->isChecked())
    Timer1->start();
  else
    Timer1->stop();
}

void TForm25::UpDown1Click() {
  const int position = UpDown3->Position();
  Label4->setText(QString::fromStdString(FormatFixed(position / 20.0, 2)) + " " + Translated(LangKey(27, 4), "sek"));
  Timer1->setInterval(position * 50);
}

void TForm25::UpDown2Click(bool up) {
  TBlinkEntry& e = Entries[size_t(Current())];
  if (e.Slot <= 0) return;
  const int delta = up ? 1 : -1;
  e.Offset += delta;
  BrightenBlinkBitmap(e.Bitmap, delta);
  Image1->SetPicture(e.Bitmap);
  Label6->setText((e.Offset >= 0 ? "+" : "") + QString::number(e.Offset));
}

void TForm25::Button1Click() { hide(); }

void TForm25::Nudge(QPoint direction) {
  Entries[size_t(Current())].Position += direction;
  PlacePicture();
}

void TForm25::Timer2Timer() {
  if (!Image2->isVisible() || nudge_.isNull()) {
    Timer2->stop();
    return;
  }
  Nudge(nudge_);
  Timer2->setInterval(200);
}

// ---- mouse ----

void TForm25::PicturePressed(QMouseEvent* e) { pressGlobal_ = e->globalPosition().toPoint(); }

void TForm25::PictureReleased(QMouseEvent* e) {
  const QPoint moved = e->globalPosition().toPoint() - pressGlobal_;
  if (e->button() == Qt::RightButton) {
    Entries[size_t(Current())].Position += moved;
  } else if (e->button() == Qt::LeftButton) {
    for (TBlinkEntry& entry : Entries) entry.Position += moved;
  }
  PlacePicture();
}

// The arrow pad shows while the pointer is near Panel2's top left corner.
void TForm25::PadFollows(QPoint global, QObject* over) {
  bool show = false;
  if (over == Panel2 || over == Image1 || over == Image2) {
    const QPoint p = Panel2->mapFromGlobal(global);
    show = p.x() >= 5 && p.x() <= 67 && p.y() >= 5 && p.y() <= 67;
  }
  if (show == Image2->isVisible()) return;
  Image2->setVisible(show);
  if (show) {
    Image2->raise();
  } else {
    Timer2->stop();
  }
}

bool TForm25::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::MouseMove)
    PadFollows(static_cast<QMouseEvent*>(e)->globalPosition().toPoint(), watched);
  else if (e->type() == QEvent::Leave && watched == Panel2)
    PadFollows(QCursor::pos(), Panel2->rect().contains(Panel2->mapFromGlobal(QCursor::pos())) ? Panel2 : nullptr);
  return QWidget::eventFilter(watched, e);
}

void TForm25::wheelEvent(QWheelEvent* e) {
  const int dy = e->angleDelta().y();
  if (dy > 0) ZoomInAtCursor();
  if (dy < 0) ZoomOutAtCursor();
  e->accept();
}

// ---- showing and hiding ----

void TForm25::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (!e->spontaneous()) FormShow();
}

void TForm25::FormShow() {
  nudge_ = {};
  UpDown3->SetPosition(Settings.BlinkTimeTenths);
  UpDown1Click();
  for (TBlinkEntry& e : Entries) e.Position = {};
  RebuildBlinkList();
  if (firstShow_) FirstShow();
}

void TForm25::FirstShow() {
  firstShow_ = false;
  if (const QAction* item = MainMenuItem("blinken1")) setWindowTitle(QString(item->text()).remove('&'));
  if (LanguageFileLoaded) {
    auto set = [](int key, const std::function<void(const QString&)>& apply) {
      if (const std::string t = LangText(key); !t.empty()) apply(QString::fromStdString(t));
    };
    set(LangKey(27, 3), [this](const QString& t) { Label5->setText(t); });
    set(LangKey(27, 5), [this](const QString& t) { CheckBox2->setText(t); });
    set(LangKey(27, 6), [this](const QString& t) { RadioGroup1->setTitle(t); });
    set(LangKey(27, 1), [this](const QString& t) { RadioGroup1->setToolTip(t); });
    set(LangKey(27, 7), [this](const QString& t) { Button2->setText(t); });
    set(LangKey(27, 2), [this](const QString& t) {
      StatusBar1->setToolTip(t);
      StatusBar1->showMessage(t);
    });
    set(LangKey(27, 8), [this](const QString& t) { Image2->setToolTip(t); });
  }
  FillEntries();
  // The client area fits the first picture below the controls.
  const QSize picture = Entries[0].Bitmap.isNull() ? QSize(450, 300) : Entries[0].Bitmap.size();
  resize(std::max({picture.width(), minimumWidth(), Panel1->sizeHint().width()}),
         picture.height() + Panel1->sizeHint().height() + StatusBar1->sizeHint().height());
}

void TForm25::FillEntries() {
  for (int k = 0; k < BlinkEntryCount; ++k)
    if (Entries[size_t(k)].Slot > 0) UpdateBlinkBitmap(k, Entries[size_t(k)].Slot);
  RadioGroup1->SetItemIndex(0);
  ShowEntry(0);
}

void TForm25::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  if (e->spontaneous()) return;
  Timer1->stop();
  Timer2->stop();
  CheckBox2->setChecked(false);
  for (TBlinkEntry& entry : Entries) entry.Bitmap = QImage();
  Settings.BlinkTimeTenths = UpDown3->Position();
  // Hiding closes the window: the next opening starts afresh.
  deleteLater();
}

TForm25* BlinkWindow() { return qobject_cast<TForm25*>(DialogForm(BlinkFormNumber)); }

// ---- the command and the hooks ----

void BlinkImages(QAction* sender) {
  const int slot = FindActiveSlot();
  if (slot < 1 || WindowCount() < 2) return;
  AddRecentFunction(sender ? sender : MainMenuItem("blinken1"));
  EnsureDialogForm(BlinkFormNumber);
  TForm25* form = BlinkWindow();
  if (!form) return;
  QApplication::processEvents();
  form->SetStartEntries(slot, FindOtherWindow(slot));
  FadeInForm(form);
}

void RegisterBlinkCommands() {
  RegisterDialogForm(BlinkFormNumber, [] { return new TForm25(MainLink().Window.data()); });
  RegisterMenuCommand("blinken1", [](QAction* sender) { BlinkImages(sender); });
  HistogramDependants().RedrawBlinkEntries = [](int slot) {
    if (TForm25* f = ShownBlinkWindow()) f->RedrawBlinkEntries(slot);
  };
  // The image windows' hooks are shared: the ones found are called first.
  static bool hooked = false;
  if (hooked) return;
  hooked = true;
  WindowCreatedHook = [previous = WindowCreatedHook](int slot) {
    if (previous) previous(slot);
    if (TForm25* f = ShownBlinkWindow()) f->RebuildBlinkList();
  };
  WindowZoomedHook = [previous = WindowZoomedHook](int slot) {
    if (previous) previous(slot);
    if (TForm25* f = ShownBlinkWindow()) f->RedrawBlinkEntries(slot);
  };
  TMDIChild::WindowClosedHook = [previous = TMDIChild::WindowClosedHook](int slot) {
    if (previous) previous(slot);
    if (TForm25* f = ShownBlinkWindow()) f->RebuildBlinkList(slot);
  };
}

}  // namespace astrelon
