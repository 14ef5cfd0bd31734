#include "shell/ui/tool_bar/main_tool_bar.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstdlib>

#include "core/language.h"
#include "core/settings.h"
#include "shell/display/user_palette.h"
#include "shell/main/main_services.h"
#include "shell/main/main_texts.h"
#include "shell/ui/controls/control_utils.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/main_commands.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/tool_bar/picture_button.h"
#include "shell/ui/tool_bar/tool_bar_icons.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/histogram_refresh.h"
#include "store/color_models.h"
#include "store/image_store.h"
#include "store/slot_holds.h"

namespace astrelon {

namespace {

uint32_t ElapsedTicks() {
  static QElapsedTimer clock;
  if (!clock.isValid()) clock.start();
  return uint32_t(clock.elapsed());
}

const std::array<QStringList, 6>& DefaultListItems() {
  static const std::array<QStringList, 6> items = {
      QStringList(),
      {"Autozoom", "400%", "280%", "200%", "140%", "100%", "70%", "50%", "35%", "25%", "17%"},
      {"S/W", "Isophoten", "Farbverlauf", QString::fromUtf8("4 Farbverläufe"), "Rot", QString::fromUtf8("Grün"),
       "Blau", "Eigene Palette"},
      {"RGB", "YUV"},
      {"RGB", "R", "G", "B", "RB"},
      {"YUV", "Y", "U", "V", "UV"},
  };
  return items;
}

// Background colours of the layer button for channel selection 0..4.
constexpr std::array<QRgb, 5> RgbLayerColours{qRgb(255, 255, 255), qRgb(255, 160, 160), qRgb(160, 255, 160),
                                              qRgb(160, 160, 255), qRgb(255, 160, 255)};
constexpr std::array<QRgb, 5> YuvLayerColours{qRgb(255, 255, 255), qRgb(207, 207, 207), qRgb(160, 207, 255),
                                              qRgb(255, 207, 160), qRgb(255, 160, 255)};

// The tool bar's tint: every visible pixel moves a quarter of the way towards the
// palette's highlight colour.
QImage Tinted(const QImage& source) {
  QImage out = source.convertToFormat(QImage::Format_ARGB32);
  const QColor tint = QApplication::palette().highlight().color();
  for (int y = 0; y < out.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) {
      const QRgb c = row[x];
      row[x] = qRgba((qRed(c) * 3 + tint.red()) / 4, (qGreen(c) * 3 + tint.green()) / 4,
                     (qBlue(c) * 3 + tint.blue()) / 4, qAlpha(c));
    }
  }
  return out;
}

}  // namespace

uint32_t (*ToolBarTickCount)() = &ElapsedTicks;

bool HoverSettled(int storedY, int nowY, uint16_t storedTick, uint16_t nowTick) {
  int elapsed = int(nowTick) - int(storedTick) + 1;
  if (elapsed < 1) elapsed += 65535;
  return std::abs(storedY - nowY) * 16 / elapsed < 1;
}

int PaletteItemDisplayType(int item) {
  static constexpr std::array<int, 8> types{DtGrey, DtIsophotes, DtGradient, DtFourGradients,
                                            DtRed,  DtGreen,     DtBlue,     DtOwnPalette};
  return item >= 0 && item < 8 ? types[size_t(item)] : DtGrey;
}

// ---- TListBoxEx ----

TListBoxEx::TListBoxEx(int tag, QWidget* parent) : QListWidget(parent), Tag(tag) {
  setObjectName("ListBoxEx" + QString::number(tag));
  setMouseTracking(true);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFocusPolicy(Qt::NoFocus);
  setUniformItemSizes(true);
  hide();
  setEnabled(false);
}

int TListBoxEx::ItemAt(int y) const { return y < 0 ? -1 : y / ItemHeight; }

void TListBoxEx::enterEvent(QEnterEvent* e) {
  QListWidget::enterEvent(e);
  emit entered();
}

void TListBoxEx::leaveEvent(QEvent* e) {
  QListWidget::leaveEvent(e);
  emit left();
}

void TListBoxEx::mouseMoveEvent(QMouseEvent* e) {
  const int i = ItemAt(int(e->position().y()) - frameWidth());
  if (i >= 0 && i < count()) setCurrentRow(i);
}

void TListBoxEx::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  const int i = ItemAt(int(e->position().y()) - frameWidth());
  if (i >= 0 && i < count()) setCurrentRow(i);
  emit chosen(currentRow());
}

// ---- the tool bar ----

TMainToolBar::TMainToolBar(QWidget* listParent, QWidget* parent) : QToolBar(parent), listParent_(listParent) {
  setObjectName("ToolBar1");
  setMovable(false);
  setFloatable(false);
  setIconSize(QSize(ToolBarIconSize, ToolBarIconSize));

  AddPictureButton(1, QString::fromUtf8("Öffnen"));
  AddPictureButton(2, "Speichern");
  AddPictureButton(3, "Bild spiegeln");
  AddPictureButton(4, "Bild auf den Kopf stellen");
  AddPictureButton(5, "Bild 90 Grad nach rechts drehen");
  AddPictureButton(6, "Bild invertieren");
  AddPictureButton(7, "Bild kopieren");
  AddPictureButton(8, "Ausschnitt");
  addSeparator();
  AddDropDownButton(1, 1, "Globaler Zoom");
  AddDropDownButton(2, 2, "Farbpalette");
  AddDropDownButton(3, 4, "Auf welche Farblayer gearbeitet wird");
  addSeparator();
  AddPictureButton(9, "");
  addSeparator();
  AddPictureButton(10, "Histogramm ein/ausblenden");
  AddPictureButton(11, "Fits-Header ein/ausblenden");
  AddPictureButton(12, "Info/Werkzeugleiste ein/ausblenden");
  AddPictureButton(13, "Programm beenden");

  // The hidden holder of the two shift-mode pictures (normal = centroid, hover = cross-correlation).
  PNGKKHSPtmp = new TPNGButton(this);
  PNGKKHSPtmp->setObjectName("PNGKKHSPtmp");
  PNGKKHSPtmp->SetSource(ToolBarIcon(9, false));
  PNGKKHSPtmp->hide();
  PNGButton[9]->Tag = std::clamp(Settings.ShiftMode, 0, 1);

  RxSpeedButton[1]->setText("auto\n%");
  RxSpeedButton[3]->setEnabled(false);
  RxSpeedButton[2]->setEnabled(false);
  DrawDisplayTypeGlyph(RxSpeedButton[2], DtGrey);

  for (int tag = 1; tag <= 5; ++tag) {
    auto* list = new TListBoxEx(tag, listParent_);
    ListBoxEx[size_t(tag)] = list;
    list->addItems(DefaultListItems()[size_t(tag)]);
    connect(list, &TListBoxEx::entered, this, [this, tag] {
      Timer4->stop();
      CloseDropDownLists(tag);
    });
    connect(list, &TListBoxEx::left, this, [this, list] {
      if (!PointOverControl(ButtonOfList(list), QCursor::pos())) Timer4->start();
    });
    connect(list, &TListBoxEx::chosen, this, [this, tag](int i) { ChooseListItem(tag, i); });
  }

  Timer5 = new QTimer(this);
  Timer5->setObjectName("Timer5");
  Timer5->setInterval(100);
  connect(Timer5, &QTimer::timeout, this, &TMainToolBar::Timer5Timer);
  Timer4 = new QTimer(this);
  Timer4->setObjectName("Timer4");
  Timer4->setInterval(800);
  connect(Timer4, &QTimer::timeout, this, &TMainToolBar::Timer4Timer);

  connect(PNGButton[1], &TPNGButton::leftPressed, this, [] { RunMenuCommand("FileOpenItem"); });
  connect(PNGButton[2], &TPNGButton::leftPressed, this, [] { RunMenuCommand("FileSaveAsItem"); });
  connect(PNGButton[3], &TPNGButton::leftPressed, this, [] { MirrorActiveImage(); });
  connect(PNGButton[4], &TPNGButton::leftPressed, this, [] { FlipActiveImage(); });
  connect(PNGButton[5], &TPNGButton::leftPressed, this, [] { RotateActiveImage(); });
  connect(PNGButton[6], &TPNGButton::leftPressed, this, [] { InvertActiveImage(); });
  connect(PNGButton[7], &TPNGButton::leftPressed, this, [] { CopyActiveImage(); });
  connect(PNGButton[8], &TPNGButton::leftPressed, this, [] { RunMenuCommand("Ausschneiden1"); });
  connect(PNGButton[9], &TPNGButton::leftPressed, this, [this] {
    PNGButton[9]->Tag = PNGButton[9]->Tag ? 0 : 1;
    Settings.ShiftMode = PNGButton[9]->Tag;
    SetShiftModeButton();
  });
  connect(PNGButton[10], &TPNGButton::leftPressed, this, [] { RunMenuCommand("Histogramm1"); });
  connect(PNGButton[11], &TPNGButton::leftPressed, this, [] { RunMenuCommand("FitsHeader1"); });
  connect(PNGButton[12], &TPNGButton::leftPressed, this, [] { RunMenuCommand("InfoPanel1"); });
  connect(PNGButton[13], &TPNGButton::leftPressed, this, [] { RunMenuCommand("FileExitItem"); });
  SetShiftModeButton();
}

TPNGButton* TMainToolBar::AddPictureButton(int n, const QString& hint) {
  auto* b = new TPNGButton(this);
  b->setObjectName("PNGButton" + QString::number(n));
  b->Tag = 0;
  b->SetSource(ToolBarIcon(n));
  b->SetHint(hint);
  addWidget(b);
  PNGButton[size_t(n)] = b;
  return b;
}

QToolButton* TMainToolBar::AddDropDownButton(int n, int tag, const QString& hint) {
  auto* b = new QToolButton(this);
  b->setObjectName("RxSpeedButton" + QString::number(n));
  b->setProperty("Tag", tag);
  b->setCheckable(true);
  b->setAutoRaise(true);
  b->setToolTip(hint);
  b->setStatusTip(hint);
  b->setIconSize(QSize(ToolBarIconSize + 6, ToolBarIconSize));
  b->setToolButtonStyle(n == 1 ? Qt::ToolButtonTextOnly : Qt::ToolButtonIconOnly);
  b->setMinimumSize(ToolBarIconSize + 12, ToolBarIconSize + 6);
  b->installEventFilter(this);
  connect(b, &QToolButton::clicked, this, [this, b] { RxSpeedButtonClick(b); });
  addWidget(b);
  RxSpeedButton[size_t(n)] = b;
  return b;
}

bool TMainToolBar::eventFilter(QObject* watched, QEvent* e) {
  if (auto* b = qobject_cast<QToolButton*>(watched)) {
    if (e->type() == QEvent::Enter) RxSpeedButtonMouseEnter(b);
    if (e->type() == QEvent::Leave) RxSpeedButtonMouseLeave(b);
  }
  return QToolBar::eventFilter(watched, e);
}

QToolButton* TMainToolBar::ButtonOfList(const TListBoxEx* list) const {
  if (!list) return nullptr;
  const int b = list->Tag <= 1 ? 1 : list->Tag <= 3 ? 2 : 3;
  return RxSpeedButton[size_t(b)];
}

void TMainToolBar::SetListItems(int tag, const QStringList& items) {
  if (tag < 1 || tag > 5) return;
  TListBoxEx* list = ListBoxEx[size_t(tag)];
  for (int i = 0; i < items.size() && i < list->count(); ++i)
    if (!items[i].isEmpty()) list->item(i)->setText(items[i]);
}

void TMainToolBar::ShowDropDownList(TListBoxEx* list, QPoint topLeft) {
  if (!list || list->isVisible()) return;
  if (!list->Prepared) {
    list->Prepared = true;
    const QFontMetrics m(list->font());
    int widest = 0;
    for (int i = 0; i < list->count(); ++i) {
      QString text = list->item(i)->text().remove('&');
      if (!text.startsWith(' ')) text = "    " + text;
      list->item(i)->setText(text);
      list->item(i)->setSizeHint(QSize(0, TListBoxEx::ItemHeight));
      widest = std::max(widest, m.horizontalAdvance(text));
    }
    list->setFixedWidth(widest + 20);
  }
  list->setFixedHeight(list->count() * TListBoxEx::ItemHeight + 4);
  list->move(topLeft);
  list->setEnabled(true);
  list->show();
  list->raise();
  list->clearSelection();
  list->setCurrentRow(-1);
}

void TMainToolBar::CloseDropDownLists(int except) {
  for (int i = 1; i <= 5; ++i) {
    if (i == except) continue;
    TListBoxEx* list = ListBoxEx[size_t(i)];
    if (!list || !list->isVisible()) continue;
    list->hide();
    list->setEnabled(false);
    if (QToolButton* b = ButtonOfList(list); b && b->isChecked()) b->setChecked(false);
  }
}

void TMainToolBar::RxSpeedButtonMouseEnter(QToolButton* button) {
  Timer5->stop();
  Hover.Y = QCursor::pos().y();
  Hover.Tag = button->property("Tag").toInt();
  Hover.Tick = uint16_t(ToolBarTickCount() & 0xFFFF);
  Timer5->setProperty("Button", QVariant::fromValue<QObject*>(button));
  Timer5->start();
}

void TMainToolBar::RxSpeedButtonMouseLeave(QToolButton* button) {
  Timer5->stop();
  TListBoxEx* list = ListBoxEx[size_t(std::clamp(button->property("Tag").toInt(), 1, 5))];
  if (list->isVisible() && !PointOverControl(list, QCursor::pos())) {
    list->hide();
    list->setEnabled(false);
    button->setChecked(false);
  }
}

void TMainToolBar::Timer5Timer() {
  auto* button = qobject_cast<QToolButton*>(Timer5->property("Button").value<QObject*>());
  if (!button) {
    Timer5->stop();
    return;
  }
  if (!HoverSettled(Hover.Y, QCursor::pos().y(), Hover.Tick, uint16_t(ToolBarTickCount() & 0xFFFF))) return;
  Timer5->stop();
  if (!button->isEnabled()) return;
  Timer4->stop();
  const int tag = std::clamp(button->property("Tag").toInt(), 1, 5);
  CloseDropDownLists(tag);
  const QPoint at = button->mapTo(listParent_, QPoint(-2, button->height()));
  ShowDropDownList(ListBoxEx[size_t(tag)], at);
  button->setChecked(true);
}

void TMainToolBar::Timer4Timer() {
  CloseDropDownLists(0);
  Timer4->stop();
}

void TMainToolBar::RxSpeedButtonClick(QToolButton* button) {
  Timer5->stop();
  if (button == RxSpeedButton[2] && button->property("Tag").toInt() == 3) {
    // A colour image: the button switches the colour model directly.
    button->setChecked(false);
    const int slot = FindActiveSlot();
    if (slot < 1 || SlotHeldByWorkers(slot)) return;
    const bool yuv = Store.Image[size_t(slot)].ColorModel == CmYuv;
    if (yuv ? YUVtoRGB(slot) : RGBtoYUV(slot)) ColourModelSwitched(slot);
    return;
  }
  const int tag = std::clamp(button->property("Tag").toInt(), 1, 5);
  TListBoxEx* list = ListBoxEx[size_t(tag)];
  if (list->isVisible()) {
    CloseDropDownLists(0);
    return;
  }
  CloseDropDownLists(tag);
  ShowDropDownList(list, button->mapTo(listParent_, QPoint(-2, button->height())));
  button->setChecked(true);
}

void TMainToolBar::ColourModelSwitched(int slot) {
  TMainWindowLink& link = MainLink();
  RefreshHistogramWindow();
  // Always re-rendered: the luma-only display shows the converted planes too.
  ImageChanged(slot);
  UpdateInfoPanel(slot, 1);
  if (link.RepaintLineProfile) link.RepaintLineProfile();
}

void TMainToolBar::ChooseListItem(int tag, int item) {
  if (tag < 1 || tag > 5) return;
  int slot = FindActiveSlot();
  if (slot >= 1 && !Store.HasWindow[size_t(slot)]) slot = -1;
  TListBoxEx* list = ListBoxEx[size_t(tag)];
  if (item >= 0 && item < list->count()) {
    switch (tag) {
      case 1:
        SetZoomCode(item);
        break;
      case 2: {
        if (item == 7 && !UserPaletteUsable()) ChooseOwnPalette();
        if (item == 7 && !UserPaletteUsable()) item = 0;
        const int type = PaletteItemDisplayType(item);
        if (slot >= 1) {
          Store.Display[size_t(slot)].DisplayType = type;
          ImageChanged(slot);
        }
        DrawDisplayTypeGlyph(RxSpeedButton[2], type);
        break;
      }
      case 3:
        // Planes that running workers read are not converted under them.
        if (slot >= 1 && !SlotHeldByWorkers(slot) && (item == 0 ? YUVtoRGB(slot) : RGBtoYUV(slot)))
          ColourModelSwitched(slot);
        break;
      default:
        if (slot >= 1) {
          Store.Display[size_t(slot)].ChannelSelection = item;
          UpdateInfoPanel(slot, 2);
        }
        break;
    }
  }
  list->hide();
  list->setEnabled(false);
  if (QToolButton* b = ButtonOfList(list)) b->setChecked(false);
  if (listParent_) listParent_->setFocus();
}

void TMainToolBar::SetShiftModeButton() {
  TPNGButton* b = PNGButton[9];
  const bool cross = b->Tag != 0;
  b->Tag = cross ? 1 : 0;
  QString hint;
  if (LanguageFileLoaded)
    hint = QString::fromStdString(LangText(LangKey(2, 11)) + " " + LangText(LangKey(2, cross ? 13 : 12))).remove('&');
  else
    hint = cross ? "Verschiebung bestimmen: Kreuzkorrelation" : "Verschiebung bestimmen: Helligkeitsschwerpunkt";
  b->SetHint(hint);
  b->SetSource(ToolBarIcon(9, cross));
}

void TMainToolBar::RecolourToolbarButtons(bool tint) {
  for (int n = 1; n <= 13; ++n) {
    TPNGButton* b = PNGButton[size_t(n)];
    b->SetShown(tint ? Tinted(b->Source()) : b->Source());
  }
}

void TMainToolBar::SetZoomCaption(const QString& caption) {
  QString text = caption;
  if (text.endsWith('%')) text.chop(1);
  RxSpeedButton[1]->setText((text.compare("Autozoom", Qt::CaseInsensitive) == 0 || !text.at(0).isDigit()
                                 ? QString("auto")
                                 : text) +
                            "\n%");
}

void TMainToolBar::ShowChannelButton(int slot) {
  const bool yuv = Store.Image[size_t(slot)].ColorModel == CmYuv;
  const int sel = std::clamp(Store.Display[size_t(slot)].ChannelSelection, 0, 4);
  TListBoxEx* list = ListBoxEx[yuv ? 5 : 4];
  const QString text = sel < list->count() ? list->item(sel)->text().remove('&').trimmed() : QString();
  const QColor fill = (yuv ? YuvLayerColours : RgbLayerColours)[size_t(sel)];
  DrawTextGlyph(RxSpeedButton[3], text, Qt::black, fill);
  RxSpeedButton[3]->setProperty("Tag", yuv ? 5 : 4);
}

void TMainToolBar::UpdateInfoPanelControls(int slot, int) {
  if (!ValidSlot(slot)) return;
  QToolButton* space = RxSpeedButton[2];
  space->setEnabled(true);
  const TImageSlot& im = Store.Image[size_t(slot)];
  if (im.IsColor) {
    space->setProperty("Tag", 3);
    space->setToolTip(QString::fromStdString(MainTexts.ColourSpaceHint));
    RxSpeedButton[3]->setEnabled(true);
    ShowChannelButton(slot);
  } else {
    RxSpeedButton[3]->setEnabled(false);
    space->setProperty("Tag", 2);
    space->setToolTip(QString::fromStdString(MainTexts.PaletteHint));
  }
  space->setStatusTip(space->toolTip());
  DrawDisplayTypeGlyph(space, Store.Display[size_t(slot)].DisplayType);
  if (MainLink().ColourListsLocked) {
    space->setEnabled(false);
    RxSpeedButton[3]->setEnabled(false);
  }
}

}  // namespace astrelon
