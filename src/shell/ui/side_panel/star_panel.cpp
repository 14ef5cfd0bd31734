#include "shell/ui/side_panel/star_panel.h"

#include <QApplication>
#include <QComboBox>
#include <QSpinBox>
#include <QFrame>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cmath>

#include "core/batch_state.h"
#include "core/language.h"
#include "core/settings.h"
#include "shell/display/renderer.h"
#include "shell/main/main_texts.h"
#include "shell/stamps/stamp_size.h"
#include "shell/stars/star_panel_window.h"
#include "shell/stars/star_pick.h"
#include "shell/stars/star_results.h"
#include "shell/ui/dialogs/psf_forms.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/side_panel/side_panel.h"
#include "shell/ui/windows/image_window.h"
#include "shell/windows/histogram_refresh.h"
#include "shell/windows/image_window_state.h"
#include "shell/windows/window_coordinates.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

std::function<bool()> StarCheckPromptShown;

uint8_t PanelCleared = 0;
int32_t StarHoverSlot = -1;
int32_t StarHoverX = 0, StarHoverY = 0;
bool PsfSettingsShown = false;
uint8_t& PsfAutoAdd = Options.PackedFlag23;

namespace {

const float* PsfArray = nullptr;

TSidePanel* Panel() { return MainLink().Panel; }
bool Locked() { return LockedStar.Analysed != 0; }
QColor ButtonFace() { return QApplication::palette().button().color(); }

// The info-panel labels: 0 "Locked PSF", 1 "fwhmX:", 2 "fwhmY:", 3 "Flux:",
// 4 "Mag:", 5 "<L> to lock", 6 "<M> rel Mag" (translated with a translation file).
QString InfoLabel(int i) { return QString::fromStdString(MainTexts.InfoLabels[size_t(i)]); }

QLabel* Picture(TSidePanel* p, int tag) { return tag == 1 ? p->Image1 : tag == 2 ? p->Image2 : p->Image3; }

void ClearPicture(TSidePanel* p, int tag) {
  QImage img(60, 60, QImage::Format_RGB32);
  img.fill(ButtonFace());
  Picture(p, tag)->setPixmap(QPixmap::fromImage(img));
  ShowPanelPictureGroup(tag, false);
}

QString ChannelName(const TStarCutout& c) {
  static const char* yuv[] = {"Y", "U", "V"};
  const int i = std::clamp(c.Channel, 1, 3);
  return c.ColorModel == CmYuv ? QString(yuv[i - 1]) : QString::fromStdString(MainTexts.ChannelNames[size_t(i)]);
}

void SetCellCaption(TSidePanel* p, int cellSize) {
  p->SpeedButtonLI2->setText(cellSize == 16 ? "x2" : "x1");
  PanelCellSize = cellSize == 16 ? 16 : 32;
}

// The profile of one axis of the magnified picture as polylines on light grey.
QPixmap ProfilePicture(const TPanelWindow& w, bool columnProfile) {
  QImage img(60, 60, QImage::Format_RGB32);
  img.fill(QColor(224, 224, 224));
  QPainter g(&img);
  auto line = [&](int channel, QColor pen) {
    g.setPen(pen);
    QPoint prev;
    for (int i = 0; i < 15; ++i) {
      const size_t k = columnProfile ? size_t(i * 15 + 7) : size_t(7 * 15 + i);
      const QPoint pt(ProfileX(i), ProfileY(w.Bytes[k][size_t(channel)]));
      if (i > 0) g.drawLine(prev, pt);
      prev = pt;
    }
  };
  if (w.Kind == TPanelImageKind::Rgb) {
    line(0, QColor(255, 0, 0));
    line(1, QColor(0, 192, 0));
    line(2, QColor(0, 0, 255));
  } else {
    line(0, w.Kind == TPanelImageKind::Yuv ? QColor(96, 96, 96) : QColor(0, 0, 0));
  }
  g.end();
  return QPixmap::fromImage(img);
}

void ShowComparison() {
  TSidePanel* p = Panel();
  const TComparisonTexts t = CompareStars(MeasuredStar, LockedStar);
  p->Label1->setText(QString::fromStdString(t.Magnitude));
  if (!t.Distance.empty()) p->Label20->setText(QString::fromStdString(t.Distance));
}

// Pending star-view position of the image windows: moves are drawn once the
// event queue is empty, so that only the newest position is drawn.
struct TPendingMove {
  bool Scheduled = false;
  int Slot = -1;
  int32_t X = 0, Y = 0;
};
TPendingMove Pending;

bool StarMoveHook(TMDIChild& w, QMouseEvent* e) {
  if (e->buttons() != Qt::NoButton || (ToolMode != 1 && ToolMode != 3)) return false;
  if (BatchRunning && !(StarCheckPromptShown && StarCheckPromptShown())) return false;
  const int zoom = std::max(w.Zoom(), 10);
  const QPoint pos = e->position().toPoint();
  const TImageSlot& img = Store.Image[size_t(w.Tag)];
  const int32_t x = MouseToImageCoord(zoom, pos.x()), y = MouseToImageCoord(zoom, pos.y());
  if (x < 0 || y < 0 || x >= img.Width || y >= img.Height) return false;
  StarHoverSlot = w.Tag;
  StarHoverX = x;
  StarHoverY = y;
  Pending = {Pending.Scheduled, w.Tag, x, y};
  if (!Pending.Scheduled) {
    Pending.Scheduled = true;
    QTimer::singleShot(0, [] {
      Pending.Scheduled = false;
      if (SlotInUse(Pending.Slot)) DrawPsfPanel(Pending.Slot, Pending.X, Pending.Y);
    });
  }
  return false;  // the window still shows the pixel text
}

}  // namespace

void ShowPanelPictureGroup(int tag, bool visible) {
  TSidePanel* p = Panel();
  if (!p) return;
  if (tag == 1) {
    p->Image1->setVisible(visible);
    p->Label1->setVisible(visible);
  } else if (tag == 2) {
    p->Image2->setVisible(visible);
    p->Label2->setVisible(visible);
    p->Shape1->setVisible(visible);
  } else {
    p->Image3->setVisible(visible);
    p->Label3->setVisible(visible);
    p->Shape2->setVisible(visible);
  }
}

void ShowProfileLabels(bool visible) {
  if (TSidePanel* p = Panel())
    for (QLabel* l : {p->Label4, p->Label5, p->Label7, p->Label8}) l->setVisible(visible);
}

void HideStarLabels() {
  TSidePanel* p = Panel();
  if (!p) return;
  for (QWidget* w : std::initializer_list<QWidget*>{p->Label6, p->Label19, p->Label17, p->Label18, p->Label20,
                                                   p->Label21, p->SpeedButtonLI1, p->SpeedButtonLI2})
    w->hide();
  PanelCellSize = 32;
}

void ShowStarLabels() {
  TSidePanel* p = Panel();
  if (!p) return;
  for (QWidget* w : std::initializer_list<QWidget*>{p->Label6, p->Label19, p->Label17, p->Label18, p->Label20,
                                                   p->Label21, p->SpeedButtonLI2})
    w->show();
  SetCellCaption(p, p->SpeedButtonLI2->text() == "x2" ? 16 : 32);
  ShowPanelPictureGroup(3, false);
}

void ShowLockedStarHeader() {
  TSidePanel* p = Panel();
  if (!p) return;
  ShowStarLabels();
  p->Label2->setText(InfoLabel(0));
  SetCellCaption(p, LockedStar.CellSize);
  p->SpeedButtonLI1->setVisible(LockedStar.PlaneCount >= 2);
  if (LockedStar.FullWidthX <= 0.01f) {
    p->Label6->setText(InfoLabel(1) + "-");
    p->Label19->setText(InfoLabel(2) + "-");
    for (QLabel* l : {p->Label17, p->Label18, p->Label20, p->Label21}) l->hide();
    return;
  }
  FormatStarResults(LockedStar);
  const auto& t = StarResultTexts;
  p->Label6->setText(InfoLabel(1) + QString::fromStdString(t[3]));
  p->Label19->setText(InfoLabel(2) + QString::fromStdString(t[4]));
  p->Label17->setText("X: " + QString::fromStdString(t[1]));
  p->Label18->setText("Y: " + QString::fromStdString(t[2]));
  if (!(MeasuredStar.HoldCount > 0 && !p->Label1->isHidden()))
    p->Label20->setText(InfoLabel(3) + QString::fromStdString(t[5]));
  p->Label21->setText(InfoLabel(4) + QString::fromStdString(t[6]));
  p->SpeedButtonLI1->setText(ChannelName(LockedStar));
}

void ClearPsfPanelImages() {
  TSidePanel* p = Panel();
  if (!p || PanelCleared) return;
  ClearPicture(p, 1);
  if (!((ToolMode == 2 || ToolMode == 3 || Locked()) && (ToolMode != 3 || PanelCutout.Analysed))) {
    ClearPicture(p, 2);
    HideStarLabels();
  }
  ClearPicture(p, 3);
  PanelCleared = 1;
  StarHoverSlot = -1;
  ShowProfileLabels(false);
}

void SetInfoPanelMode(int mode) {
  bool changed = false;
  for (int s = 1; s <= MaxImageSlots; ++s)
    if (SlotInUse(s) && Store.Image[size_t(s)].DataChanged) {
      ComputeHistogram(s, false, true);
      Store.Image[size_t(s)].DataChanged = 0;
      changed = true;
    }
  if (changed) RefreshHistogramWindow();
  ToolMode = mode;
  if (mode != 2 && Locked()) {
    LockedStar.Analysed = 0;
    LockedStar.NeedsRedraw = 1;
  }
  TSidePanel* p = Panel();
  if (p) {
    p->SpinEdit1->setVisible(mode == 4);
    p->ComboBox1->setVisible(mode == 3 || mode == 7);
    p->SpinEdit2->setVisible(mode == 3 || mode == 7);
    for (QToolButton* b : {p->SpeedButton1, p->SpeedButton2, p->SpeedButton4, p->SpeedButton6, p->SpeedButton5y})
      b->setEnabled(mode != 2);
    p->SpeedButton5->setVisible(mode == 7);
    p->Label1->clear();
  }
  PanelCleared = 0;
  ClearPsfPanelImages();
  if (p) p->update();
  if (CopySourceSlot > 0) {
    if (TMDIChild* w = ImageWindow(CopySourceSlot)) {
      w->Overlay().Image2.Visible = false;
      w->Image1->update();
    }
  }
  CopySourceSlot = 0;
  auto press = [](QToolButton* b) {
    if (b->isCheckable()) b->setChecked(true);
  };
  switch (mode) {
    case 1:
      if (p) press(p->SpeedButton1);
      break;
    case 2: DrawPsfPanel(-1, 0, 0); break;
    case 3:
    case 7:
      if (p) {
        p->SpinEdit2->setMaximum(mode == 3 ? 31 : 99);
        p->SpinEdit2->setValue(std::min(p->SpinEdit2->value(), p->SpinEdit2->maximum()));
        StampRadiusSquared = StampRadiusSquaredOf(p->SpinEdit2->value());
        press(mode == 3 ? p->SpeedButton2 : p->SpeedButton4);
      }
      PanelCutout.NeedsRedraw = 1;
      DrawPsfPanel(-2, 0, 0);
      break;
    case 4: TextPlaced = 1; break;
    case 5: ArrowIdle = 1; break;
    default: break;
  }
  if (ToolTargetSlot >= 1) {
    if (SlotInUse(ToolTargetSlot)) RenderImageWindow(ToolTargetSlot, false);
    ToolTargetSlot = -1;
  }
}

void DrawStarCutout(TStarCutout& c, int32_t radiusSquared, int tag) {
  TSidePanel* p = Panel();
  if (!p || !c.NeedsRedraw) return;
  const int side = c.CellSize == 32 ? 31 : 15, off = c.CellSize == 32 ? 0 : 8;
  QImage img(side, side, QImage::Format_RGB32);
  img.fill(ButtonFace());
  if (c.MaxValue > c.MinValue) {
    const double scale = 255.0 / (double(c.MaxValue) - c.MinValue);
    const int ch = c.PlaneCount == 1 ? 1 : std::clamp(c.Channel, 1, c.PlaneCount);
    const bool trueColour = c.ColorModel == CmRgb && c.PlaneCount >= 3 && !PsfSettingsShown;
    auto byteOf = [&](float v) { return int(std::clamp(std::nearbyint((double(v) - c.MinValue) * scale), 0.0, 255.0)); };
    for (int j = 0; j < side; ++j)
      for (int i = 0; i < side; ++i) {
        const int x = off + i, y = off + j;
        if ((x - 15) * (x - 15) + (y - 15) * (y - 15) >= radiusSquared) continue;
        if (trueColour) {
          const float r = c.At(1, x, y), g = c.At(2, x, y), b = c.At(3, x, y);
          if (!IsValidPixel(r) || !IsValidPixel(g) || !IsValidPixel(b)) continue;
          img.setPixel(i, j, qRgb(byteOf(r), byteOf(g), byteOf(b)));
        } else {
          const float v = c.At(ch, x, y);
          if (!IsValidPixel(v)) continue;
          const int b = byteOf(v);
          const int rg = PsfSettingsShown ? (b / 2 + 64 * StarMask[size_t(y * StarCutoutSize + x)]) % 256 : b;
          img.setPixel(i, j, qRgb(rg, rg, b));
        }
      }
  }
  Picture(p, tag)->setPixmap(QPixmap::fromImage(img));
  ShowPanelPictureGroup(tag, true);
  c.NeedsRedraw = 0;
}

void SetPanelPsfArray(const float* psf) { PsfArray = psf; }

void DrawPsfPanel(int slot, int32_t x, int32_t y) {
  TSidePanel* p = Panel();
  if (!p || p->isHidden() || ToolMode == 7) return;
  TPanelWindow w;
  if (slot >= 1 && SlotInUse(slot))
    MeasurePanelWindow(slot, x, y, w, {});
  else if (slot == -3 && PsfArray)
    MeasurePsfArrayWindow(std::span<const float>(PsfArray, 64 * 64), x, y, w);
  const bool any = w.Count > 0;
  if (!any) {
    ShowProfileLabels(false);
  } else if (ToolMode == 1) {
    const std::array<std::string, 4> texts = PanelStatisticsTexts(w);
    p->Label4->setText(QString::fromStdString(texts[0]));
    p->Label5->setText(QString::fromStdString(texts[1]));
    p->Label7->setText(QString::fromStdString(texts[2]));
    p->Label8->setText(QString::fromStdString(texts[3]));
    ShowProfileLabels(true);
  }
  if (slot == -2 && PanelCutout.Analysed && PanelCutout.NeedsRedraw) {
    PanelCutout.CellSize = StampRadiusSquared < 70 ? 16 : 32;
    DrawStarCutout(PanelCutout, StampRadiusSquared, 2);
  }
  if (!(slot >= 0 && ToolMode == 1 && Locked())) HideStarLabels();
  if ((slot >= 1 || slot == -3) && any) {
    QImage img(15, 15, QImage::Format_RGB32);
    img.fill(ButtonFace());
    for (int k = 0; k < 225; ++k)
      if (w.Drawn[size_t(k)])
        img.setPixel(k % 15, k / 15, qRgb(w.Bytes[size_t(k)][0], w.Bytes[size_t(k)][1], w.Bytes[size_t(k)][2]));
    p->Image1->setPixmap(QPixmap::fromImage(img));
    ShowPanelPictureGroup(1, true);
    PanelCleared = 0;
  }
  if (ToolMode == 1 && slot != -1) {
    if (Locked()) {
      p->Shape1->setToolTip(QString::fromStdString(LangTextOr(LangKey(10, 3), "Klicken für Menü")));
      if (MeasuredStar.HoldCount <= 0) {
        p->Label1->setText(InfoLabel(6));
      } else if (--MeasuredStar.HoldCount == 0) {
        ShowLockedStarHeader();
      }
      p->Label2->setText(InfoLabel(0));
      p->SpeedButtonLI2->show();
      if (LockedStar.NeedsRedraw) {
        ShowPanelPictureGroup(3, false);
        DrawStarCutout(LockedStar, 1000, 2);
      }
    } else {
      p->Label1->setText(InfoLabel(5));
    }
  } else {
    p->Label2->setText(ToolMode == 1 ? InfoLabel(5) : ToolMode == 2 ? QString("PSF")
                       : ToolMode == 3 ? QString::fromStdString(MainTexts.Stamp)
                                       : QString());
    if (slot == -1) {
      PanelCleared = 0;
      ClearPsfPanelImages();
      if (Locked()) {
        LockedStar.NeedsRedraw = 1;
        DrawStarCutout(LockedStar, 1000, 2);
        SetCellCaption(p, LockedStar.CellSize);
        p->SpeedButtonLI2->show();
      }
    }
  }
  if ((slot >= 1 || slot == -3) && any && !Locked() && ToolMode != 3 && ToolMode != 4) {
    p->Label2->setText("X");
    p->Label3->setText("Y");
    p->Image2->setPixmap(ProfilePicture(w, false));
    ShowPanelPictureGroup(2, true);
    p->Image3->setPixmap(ProfilePicture(w, true));
    ShowPanelPictureGroup(3, true);
  }
}

void ReleaseStarLock() {
  LockedStar.Analysed = 0;
  LockedStar.NeedsRedraw = 1;
  TSidePanel* p = Panel();
  if (!p) return;
  PanelCleared = 0;
  ClearPsfPanelImages();
  HideStarLabels();
  p->Label1->clear();
}

void StarKeyCommand(int key, const QString& text) {
  TSidePanel* p = Panel();
  if (!p || p->isHidden() || ToolMode != 1) return;
  QString t = text;
  if (t.isEmpty() && key >= Qt::Key_A && key <= Qt::Key_Z) {
    const QChar c{char16_t(key)};
    t = (QGuiApplication::keyboardModifiers() & Qt::ShiftModifier) ? c.toUpper() : c.toLower();
  }
  const int slot = StarHoverSlot;
  const bool overImage = SlotInUse(slot);
  if (key == Qt::Key_Escape) {
    if (Locked()) ReleaseStarLock();
    return;
  }
  if (t == "l" || t == "L") {
    if (!overImage) {
      LockedStar.Analysed = 0;
      ShowLockedStarHeader();
      HideStarLabels();
      PanelCleared = 0;
      ClearPsfPanelImages();
      return;
    }
    PickStar(slot, StarHoverX, StarHoverY, Locked() ? LockedStar.Channel : -1, LockedStar, TStarMode::Photometry,
             true, true);
    LockedStar.NeedsRedraw = 1;
    if (PsfSettingsShown)
      PSFProfilZeichnen();
    else
      DrawStarCutout(LockedStar, 1000, 2);
    ShowLockedStarHeader();
    if (PsfAutoAdd) AddPsfResultToTable();
    return;
  }
  if (t == "m" || (t == "M" && Locked() && overImage)) {
    if (!overImage) {
      p->Label1->setText(QString::fromStdString(MainTexts.InfoLabels[8]) + "-");
      return;
    }
    MeasuredStar.Channel = LockedStar.Channel;
    PickStar(slot, StarHoverX, StarHoverY, LockedStar.Channel, MeasuredStar, TStarMode::Photometry, true, true);
    DrawStarCutout(MeasuredStar, 1000, 1);
    ShowComparison();
    p->Label1->show();
  }
}

void SpeedButtonLI1Click() {
  if (!Locked() || (ToolMode != 1 && ToolMode != 2)) return;
  const int next = LockedStar.Channel % std::max(1, LockedStar.PlaneCount) + 1;
  if (next == LockedStar.Channel) return;
  LockedStar.Channel = next;
  if (PsfSettingsShown)
    PSFProfilZeichnen();
  else
    AnalyseStarCutout(LockedStar.Channel, LockedStar, TStarMode::Photometry, true);
  ShowLockedStarHeader();
  LockedStar.NeedsRedraw = 1;
  DrawStarCutout(LockedStar, 1000, 2);
}

void SpeedButtonLI2Click() {
  TSidePanel* p = Panel();
  if (!p || !Locked()) return;
  TStarCutout& c = ToolMode == 3 ? PanelCutout : LockedStar;
  c.CellSize = c.CellSize == 32 ? 16 : 32;
  SetCellCaption(p, c.CellSize);
  c.NeedsRedraw = 1;
  if (ToolMode == 3)
    DrawStarCutout(PanelCutout, StampRadiusSquared, 2);
  else if (ToolMode == 1 || ToolMode == 2)
    DrawStarCutout(LockedStar, 1000, 2);
  if (PsfSettingsShown) PSFProfilZeichnen();
}

void ShowStarPanelMenu(QPoint global) {
  TSidePanel* p = Panel();
  if (!p || !Locked()) return;
  p->InfoszuTabellehinzufgen1->setText(
      QString::fromStdString(LangTextOr(LangKey(3, 1, 31), "Infos zur Tabelle hinzufügen")));
  p->PopupMenuInfos->popup(global);
}

void RegisterStarPanelCommands() {
  TMainWindowLink& link = MainLink();
  link.SetInfoPanelMode = SetInfoPanelMode;
  link.ClearPsfPanelImages = [] { ClearPsfPanelImages(); };
  link.EscapePressed = [] { StarKeyCommand(Qt::Key_Escape, {}); };
  link.StampSizeChanged = [] {
    PanelCutout.NeedsRedraw = 1;
    DrawPsfPanel(-2, 0, 0);
  };
  // The tools' own move handling (drags, previews) runs first.
  auto previous = TMDIChild::ToolMoveHook;
  TMDIChild::ToolMoveHook = [previous](TMDIChild& w, QMouseEvent* e) {
    if (previous && previous(w, e)) return true;
    return StarMoveHook(w, e);
  };
  TMDIChild::KeyCommandHook = [](const TKeyStroke& k) { StarKeyCommand(k.Key, k.Text); };
  link.StarChannelClicked = SpeedButtonLI1Click;
  link.StarCellSizeClicked = SpeedButtonLI2Click;
  link.StarFrameClicked = ShowPsfSettings;
  link.StarPanelMenuRequested = ShowStarPanelMenu;
  link.AddStarToTable = AddPsfResultToTable;
  RegisterPsfForms();
}

}  // namespace astrelon
