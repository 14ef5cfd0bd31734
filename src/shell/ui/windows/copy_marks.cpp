#include "shell/ui/windows/copy_marks.h"

#include <algorithm>

#include "core/batch_state.h"
#include "shell/image_window_state.h"
#include "shell/ui/windows/image_window.h"

namespace astrelon {

int CopyMarksToWindow(int source, int destination) {
  TMDIChild* s = ImageWindow(source);
  TMDIChild* d = ImageWindow(destination);
  if (!s || !d || s == d) return 0;
  const TWindowOverlay& from = s->Overlay();
  TWindowOverlay& to = d->Overlay();
  if (MultiMarkMode) {
    // Every mark at the same index; surplus marks of the destination go.
    const int count = std::min(from.MarkCount(), MaxMarks);
    to.MarkShapes.assign(size_t(count), {});
    to.MarkOrigins.assign(from.MarkOrigins.begin(), from.MarkOrigins.begin() + count);
    to.MarkRects.resize(size_t(count));
    to.MarkFlags.assign(from.MarkFlags.begin(), from.MarkFlags.begin() + count);
    for (int k = 0; k < count; ++k) {
      TRectI r;
      to.MarkRects[size_t(k)] = s->MarkImageRect(k, r) ? r : from.MarkRects[size_t(k)];
    }
  } else {
    auto& rects = WindowSelectionRects[size_t(destination)];
    for (int n = 1; n <= 2; ++n) {
      TOverlayItem& shape = n == 1 ? to.Shape1 : to.Shape2;
      shape.Visible = s->SelectionVisible(n);
      if (shape.Visible) rects[size_t(n)] = s->SelectionImageRect(n);
    }
  }
  to.Image2.Visible = false;
  to.Image3.Visible = false;
  d->PlaceOverlayAtZoom();
  d->Image1->update();
  return 0;
}

}  // namespace astrelon
