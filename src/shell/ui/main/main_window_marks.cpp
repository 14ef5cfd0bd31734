#include "shell/ui/main/main_window_marks.h"

#include "core/batch_state.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/windows/image_window.h"
#include "shell/windows/image_window_state.h"

namespace astrelon {

void HideWindowMarks(int slot) {
  if (slot < 1) return;
  TMDIChild* w = ImageWindow(slot);
  if (!w) return;
  TWindowOverlay& o = w->Overlay();
  o.Shape1.Visible = o.Shape2.Visible = o.Image2.Visible = o.Image3.Visible = false;
  SetMainStatusText(1, {});
  w->Image1->update();
  w->UpdateSelectionStatus();
  if (MultiMarkMode) DeleteAllWindowMarks(slot);
}

bool HasSingleMark(int slot) {
  const TMDIChild* w = ImageWindow(slot);
  if (!w) return false;
  const TWindowOverlay& o = w->Overlay();
  return (o.Shape1.Visible || o.Image2.Visible) && !o.Shape2.Visible && !o.Image3.Visible;
}

int CopyMarksToWindow(int source, int destination) {
  TMDIChild* from = ImageWindow(source);
  TMDIChild* to = ImageWindow(destination);
  if (!from || !to || from == to) return 0;
  const TWindowOverlay& s = from->Overlay();
  TWindowOverlay& d = to->Overlay();
  if (MultiMarkMode) {
    const int n = std::min(s.MarkCount(), MaxMarks);
    while (d.MarkCount() < n) to->AddMark(0, 0, 1, 1);
    while (d.MarkCount() > n) to->DeleteMark(d.MarkCount() - 1);
    for (int k = 0; k < n; ++k) {
      d.MarkRects[size_t(k)] = s.MarkRects[size_t(k)];
      d.MarkOrigins[size_t(k)] = s.MarkOrigins[size_t(k)];
      d.MarkFlags[size_t(k)] = s.MarkFlags[size_t(k)];
    }
  } else {
    // Selections are kept in image pixels; placing them at the destination's zoom converts them.
    auto& rects = WindowSelectionRects;
    rects[size_t(destination)][1] = rects[size_t(source)][1];
    rects[size_t(destination)][2] = rects[size_t(source)][2];
    d.Shape1.Visible = s.Shape1.Visible;
    d.Shape2.Visible = s.Shape2.Visible;
  }
  d.Image2.Visible = d.Image3.Visible = false;
  to->PlaceOverlayAtZoom();
  return 0;
}

}  // namespace astrelon
