#include "shell/ui/windows/mouse_tools.h"

#include <QAction>
#include <QComboBox>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <optional>
#include <vector>

#include "shell/stamps/copy_stamp.h"
#include "shell/stamps/line_marking.h"
#include "shell/stamps/stamp_blend.h"
#include "shell/stamps/stamp_size.h"
#include "shell/stars/star_pick.h"
#include "shell/ui/dialogs/line_profile_window.h"
#include "shell/ui/dialogs/line_prompt.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/side_panel/side_panel.h"
#include "shell/ui/side_panel/star_panel.h"
#include "shell/ui/windows/guide_lines.h"
#include "shell/ui/windows/image_window.h"
#include "shell/windows/histogram_refresh.h"
#include "shell/windows/image_window_state.h"
#include "shell/windows/window_coordinates.h"
#include "store/display/display_histogram.h"

namespace astrelon {

TTextArrowTools TextArrowStamping;

namespace {

int strokeSlot = -1;  // window of the copy-stamp stroke in progress

TStampMode StampModeChosen() {
  const TSidePanel* panel = MainLink().Panel;
  return TStampMode(panel ? std::clamp(panel->ComboBox1->currentIndex(), 0, 4) : 0);
}

bool SameSpot() {
  const TSidePanel* panel = MainLink().Panel;
  return panel && panel->SpeedButton5->isChecked();
}

TPointI ImagePointAt(const TMDIChild& w, QPoint pos) {
  const int zoom = w.Zoom();
  return {MouseToImageCoord(zoom, pos.x()), MouseToImageCoord(zoom, pos.y())};
}

bool InsideImage(int slot, TPointI p) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  return p.X >= 0 && p.Y >= 0 && p.X < im.Width && p.Y < im.Height;
}

QPointF PixelCentre(TPointI p) { return {p.X + 0.5, p.Y + 0.5}; }

// Marker 1 of a window centred on an image point; the working rectangle and
// the remembered marker-1 rectangle take the point.
void PlaceSourceMarker(TMDIChild& w, TPointI p) {
  const int zoom = w.Zoom();
  const TPointI a = ImageToScreenPoint(zoom, {0, 0}, p);
  const TPointI b = ImageToScreenPoint(zoom, {0, 0}, {p.X + 1, p.Y + 1});
  TOverlayItem& marker = w.Overlay().Image2;
  marker.Bounds = QRect((a.X + b.X) / 2 - MarkerSize / 2, (a.Y + b.Y) / 2 - MarkerSize / 2, MarkerSize, MarkerSize);
  marker.Visible = true;
  const TRectI point{p.X, p.Y, p.X, p.Y};
  WorkRect = {p.X, p.X, p.Y, p.Y};
  SelectionRects[1] = point;
  WindowSelectionRects[size_t(w.Tag)][3] = point;
  w.Image1->update();
}

// The image point under the centre of a window's marker 1.
TPointI SourceMarkerPoint(const TMDIChild& w) { return ImagePointAt(w, w.Overlay().Image2.Bounds.center()); }

void AfterPixelsChanged(int slot) {
  ImageChanged(slot);
  ComputeHistogram(slot, false, true);
  RefreshHistogramWindow();
}

void ForgetSlot(int slot) {
  if (CopySourceSlot == slot) CopySourceSlot = -1;
  if (strokeSlot == slot) strokeSlot = -1;
  if (ToolTargetSlot == slot) {
    ToolTargetSlot = -1;
    TextPlaced = 1;
    ArrowIdle = 1;
  }
  if (LineMarking.Slot == slot) ClearLineMarking();
}

// ---- presses ----

void StampPress(TMDIChild& w, Qt::MouseButton button) {
  const int slot = w.Tag;
  if (button == Qt::RightButton) {
    // The stamp source: the cutout around the point, without analysis.
    PickStar(slot, LastClickPixel.X, LastClickPixel.Y, 1, PanelCutout, TStarMode::Position, false, false);
    if (MainLink().StampSizeChanged) MainLink().StampSizeChanged();
  } else if (button == Qt::LeftButton && PanelCutout.Analysed) {
    ApplyStamp(slot, LastClickPixel.X, LastClickPixel.Y, StampModeChosen(), PanelCutout, StampRadiusSquared);
    AfterPixelsChanged(slot);
  }
}

void CopyStampPress(TMDIChild& w, Qt::MouseButton button, QPoint pos) {
  const int slot = w.Tag;
  TWindowOverlay& o = w.Overlay();
  if (button == Qt::RightButton) {
    if (CopySourceSlot > 0 && CopySourceSlot != slot)
      if (TMDIChild* old = ImageWindow(CopySourceSlot)) {
        old->Overlay().Image2.Visible = false;
        old->Image1->update();
      }
    CopySourceSlot = slot;
    o.Shape1.Visible = o.Shape2.Visible = o.Image3.Visible = false;
    PlaceSourceMarker(w, ImagePointAt(w, pos));
    return;
  }
  if (button != Qt::LeftButton || CopySourceSlot < 1) return;
  TMDIChild* source = ImageWindow(CopySourceSlot);
  if (!source || !SlotInUse(CopySourceSlot)) {
    CopySourceSlot = -1;
    return;
  }
  if (source != &w && o.Image2.Visible) {
    o.Image2.Visible = false;
    w.Image1->update();
  }
  if (SameSpot()) {
    CopySourcePoint = LastClickPixel;
    PlaceSourceMarker(*source, LastClickPixel);
  } else {
    CopySourcePoint = SourceMarkerPoint(*source);
  }
  StartStampPath(LastClickPixel);
  strokeSlot = slot;
  w.DragKind = 0;
  o.Image3.Visible = false;
  TToolLayer& t = w.Image1->ToolLayer;
  t.Trail = {PixelCentre(LastClickPixel)};
  t.TrailWidth = 2.0 * std::sqrt(double(StampRadiusSquared));
  RefreshToolLayer(w);
}

void TextPress(TMDIChild& w) {
  const int slot = w.Tag;
  if (TextPlaced == 1) {
    if (!TextArrowStamping.AskText || !TextArrowStamping.AskText()) return;
    TextPlaced = 0;
    ToolTargetSlot = slot;
    HoverPixel = LastClickPixel;
    RefreshToolLayer(w);
  } else if (ToolTargetSlot == slot && TextArrowStamping.RenderTextBitmap) {
    HoverPixel = LastClickPixel;
    TextArrowStamping.RenderTextBitmap();
    TextPlaced = 1;
    ToolTargetSlot = -1;
    RefreshToolLayer(w);
    AfterPixelsChanged(slot);
  }
}

void ArrowPress(TMDIChild& w) {
  const int slot = w.Tag;
  if (ArrowIdle == 1) {
    ArrowTail = LastClickPixel;
    HoverPixel = LastClickPixel;
    ArrowIdle = 0;
    ToolTargetSlot = slot;
    RefreshToolLayer(w);
  } else if (ToolTargetSlot == slot && TextArrowStamping.DrawLineArrow) {
    ArrowHead = LastClickPixel;
    ArrowIdle = 1;
    TextArrowStamping.DrawLineArrow();
    ToolTargetSlot = -1;
    RefreshToolLayer(w);
    AfterPixelsChanged(slot);
  }
}

void LinePress(TMDIChild& w) {
  const int before = LineMarking.Slot;
  const TLinePress r = LineMarkPress(w.Tag, LastClickPixel);
  if (r == TLinePress::Restarted && before >= 1 && before != w.Tag)
    if (TMDIChild* old = ImageWindow(before)) RefreshToolLayer(*old);
  if (r == TLinePress::FinishedAll) EnableLinePromptOk();
  RefreshToolLayer(w);
}

bool ToolPress(TMDIChild& w, QMouseEvent* e) {
  if (ToolMode < 3 || ToolMode > 7) return false;
  const Qt::MouseButton button = e->button();
  switch (ToolMode) {
    case 3: StampPress(w, button); break;
    case 7: CopyStampPress(w, button, e->position().toPoint()); break;
    case 4: if (button == Qt::LeftButton) TextPress(w); break;
    case 5: if (button == Qt::LeftButton) ArrowPress(w); break;
    case 6: if (button == Qt::LeftButton) LinePress(w); break;
    default: break;
  }
  w.UpdateSelectionStatus();
  return true;
}

// ---- moves and releases ----

bool ToolMove(TMDIChild& w, QMouseEvent* e) {
  const int slot = w.Tag;
  const TPointI p = ImagePointAt(w, e->position().toPoint());
  if (InsideImage(slot, p)) HoverPixel = p;
  if (ToolMode == 7 && strokeSlot == slot && (e->buttons() & Qt::LeftButton) && !StampPath.empty()) {
    AppendStampPoint(p);
    w.Image1->ToolLayer.Trail.push_back(PixelCentre(p));
    w.Image1->update();
    if (TMDIChild* source = ImageWindow(CopySourceSlot); source && source->Overlay().Image2.Visible)
      PlaceSourceMarker(*source, {CopySourcePoint.X + p.X - StampPath[0].X, CopySourcePoint.Y + p.Y - StampPath[0].Y});
  } else if (ToolMode == 6) {
    if (LineMarkMove(slot, HoverPixel)) RefreshToolLayer(w);
  } else if ((ToolMode == 4 && TextPlaced == 0) || (ToolMode == 5 && ArrowIdle == 0)) {
    if (ToolTargetSlot == slot) RefreshToolLayer(w);
  }
  return false;  // the pixel text follows as usual
}

bool ToolRelease(TMDIChild& w, QMouseEvent* e) {
  if (ToolMode < 3 || ToolMode > 7) return false;
  const int slot = w.Tag;
  if (ToolMode == 7 && e->button() == Qt::LeftButton && strokeSlot == slot) {
    strokeSlot = -1;
    w.Image1->ToolLayer.Trail.clear();
    if (ApplyCopyStamp(slot, StampModeChosen(), SameSpot(), StampRadiusSquared)) ImageChanged(slot);
    StampPath.clear();
    RefreshToolLayer(w);
  }
  w.UpdateSelectionStatus();
  return true;
}

// ---- line marking for the commands ----

void SwitchToolMode(int mode) {
  if (MainLink().SetInfoPanelMode)
    MainLink().SetInfoPanelMode(mode);
  else
    ToolMode = mode;
}

void ForgetLines() {
  const int slot = LineMarking.Slot;
  ClearLineMarking();
  if (TMDIChild* w = ImageWindow(slot)) RefreshToolLayer(*w);
}

// The line tool takes over until the prompt closes; done(ok) then runs with the
// previous tool back.
void MarkLines(int mode, std::function<void(bool ok)> done) {
  ForgetLines();
  const int savedMode = ToolMode;
  SwitchToolMode(6);
  ArrowIdle = 1;
  ToolTargetSlot = -1;
  OperationRunning = 1;
  ShowLinePrompt(mode, [savedMode, done = std::move(done)](bool ok) {
    OperationRunning = 0;
    ArrowIdle = 1;
    SwitchToolMode(savedMode);
    done(ok);
  });
}

void ShowLineProfileCommand(QAction* sender) {
  AddRecentFunction(sender);
  CloseLineProfileWindow();
  MarkLines(0, [](bool ok) {
    if (ok && SlotInUse(LineMarking.Slot) && LineMarking.Lines[1].Drawn)
      ShowLineProfileWindow();
    else
      ForgetLines();
  });
}

// The geometry commands' guide lines: waits for the prompt and gives the lines
// (x1, y1, x2, y2 as Left, Top, Right, Bottom); they are then forgotten.
std::optional<std::vector<TRectI>> WaitForGuideLines(int mode) {
  bool finished = false, ok = false;
  QEventLoop loop;
  MarkLines(mode, [&](bool closedWithOk) {
    ok = closedWithOk;
    finished = true;
    loop.quit();
  });
  if (!finished && LinePromptWindow()) loop.exec();
  std::vector<TRectI> lines;
  for (int k = 1; k <= LinePrompt.LinesNeeded && k <= 2; ++k) {
    const TMarkedLine& l = LineMarking.Lines[size_t(k)];
    if (l.Drawn) lines.push_back({l.P1.X, l.P1.Y, l.P2.X, l.P2.Y});
  }
  const bool complete = ok && SlotInUse(LineMarking.Slot) && int(lines.size()) == LinesNeededFor(mode);
  ForgetLines();
  if (!complete) return std::nullopt;
  return lines;
}

}  // namespace

bool TextToolAvailable() { return TextArrowStamping.AskText && TextArrowStamping.RenderTextBitmap; }
bool ArrowToolAvailable() { return bool(TextArrowStamping.DrawLineArrow); }

void UpdateTextArrowButtons() {
  TSidePanel* panel = MainLink().Panel;
  if (!panel) return;
  panel->SpeedButton6->setEnabled(ToolMode != 2 && TextToolAvailable());
  panel->SpeedButton5y->setEnabled(ToolMode != 2 && ArrowToolAvailable());
}

void RefreshToolLayer(TMDIChild& w) {
  const int slot = w.Tag;
  TToolLayer& t = w.Image1->ToolLayer;
  if (strokeSlot != slot) t.Trail.clear();
  t.Lines.clear();
  t.Painter = nullptr;
  t.ImageWidth = ValidSlot(slot) ? Store.Image[size_t(slot)].Width : 0;
  if (ValidSlot(slot) && LineMarking.Slot == slot) {
    // The rotation's lines in yellow, a profile line in cyan.
    const QColor colour = LinePrompt.Mode == 1 || LinePrompt.Mode == 2 ? QColor(Qt::yellow) : QColor(Qt::cyan);
    for (int k = 1; k <= 2; ++k) {
      const TMarkedLine& line = LineMarking.Lines[size_t(k)];
      if (line.Drawn) t.Lines.push_back({PixelCentre(line.P1), PixelCentre(line.P2), colour, false});
    }
  }
  if (ToolTargetSlot == slot && slot >= 1) {
    if (ToolMode == 5 && ArrowIdle == 0)
      t.Lines.push_back({PixelCentre(ArrowTail), PixelCentre(HoverPixel), QColor(Qt::yellow), true});
    if (ToolMode == 4 && TextPlaced == 0 && TextArrowStamping.PaintTextPreview) t.Painter = TextArrowStamping.PaintTextPreview;
  }
  w.Image1->update();
}

void RegisterMouseToolCommands() {
  TMDIChild::ToolPressHook = ToolPress;
  TMDIChild::ToolReleaseHook = ToolRelease;
  // The tools' drags and previews come before the side panel's following of the mouse.
  auto previousMove = std::move(TMDIChild::ToolMoveHook);
  TMDIChild::ToolMoveHook = [previousMove](TMDIChild& w, QMouseEvent* e) {
    if (ToolMove(w, e)) return true;
    return previousMove && previousMove(w, e);
  };
  // The text and arrow buttons stay disabled while their tools cannot stamp.
  auto previousMode = std::move(MainLink().SetInfoPanelMode);
  MainLink().SetInfoPanelMode = [previousMode](int mode) {
    if (previousMode)
      previousMode(mode);
    else
      ToolMode = mode;
    UpdateTextArrowButtons();
  };
  auto previousClosed = std::move(TMDIChild::WindowClosedHook);
  TMDIChild::WindowClosedHook = [previousClosed](int slot) {
    if (previousClosed) previousClosed(slot);
    ForgetSlot(slot);
  };
  auto previousReferences = std::move(SlotReferencesHook);
  SlotReferencesHook = [previousReferences](int slot) {
    if (previousReferences) previousReferences(slot);
    ForgetSlot(slot);
  };
  MainLink().RepaintLineProfile = [] {
    if (TForm26* form = LineProfileWindow()) form->update();
  };
  RegisterMenuCommand("BildliniealsDiagrammanzeigen1", ShowLineProfileCommand);
  MarkGuideLines = WaitForGuideLines;
  // The text and arrow buttons follow their tools once the side panel exists.
  QTimer::singleShot(0, [] { UpdateTextArrowButtons(); });
}

}  // namespace astrelon
