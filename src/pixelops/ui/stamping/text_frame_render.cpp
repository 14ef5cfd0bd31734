#include "pixelops/ui/stamping/text_frame_render.h"

#include <QFontMetrics>
#include <algorithm>

#include "pixelops/ui/stamping/text_mask.h"
#include "shell/ui/main/main_services_ui.h"
#include "store/image_store.h"

namespace astrelon {

QFont TextFrameFont(const TTextFrameSettings& s) {
  QFont f(QString::fromStdString(s.FontName));
  f.setPixelSize(std::max(1, PointsToPixels(s.FontSize)));
  f.setBold(s.Bold);
  f.setItalic(s.Italic);
  f.setUnderline(s.Underline);
  f.setStrikeOut(s.StrikeOut);
  return f;
}

QFont TextFrameTitleFont(const TTextFrameSettings& s) {
  QFont f = TextFrameFont(s);
  f.setPixelSize(std::max(1, PointsToPixels(s.FontSize * s.TitleFactor / 5)));
  return f;
}

QStringList TextFrameLines(const QString& text) {
  QString t = text;
  t.replace("\r\n", "\n");
  QStringList lines = t.split('\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

TTextFrameInput TextFrameInputFor(const TTextFrameRequest& r, int32_t w, int32_t h) {
  TTextFrameInput in;
  in.Width = w, in.Height = h;
  in.Border = std::max(r.BorderWidth, 0);
  in.FrameWidth = std::max(r.FrameWidth, 0);
  in.FrameOn = r.Settings.FrameOn;
  const QFont text = TextFrameFont(r.Settings), title = TextFrameTitleFont(r.Settings);
  in.TextHeight = text.pixelSize();
  in.TitleHeight = title.pixelSize();
  in.HasTitle = !r.Title.isEmpty();
  if (in.HasTitle) {
    const QImage probe = MaskImage(1, 1, false);
    in.TitleWidth = QFontMetrics(title, &probe).horizontalAdvance(r.Title);
  }
  in.LineCount = int32_t(TextFrameLines(r.Text).size());
  in.Transition = r.Settings.Transition;
  in.Alignment = r.Settings.Alignment;
  return in;
}

int RenderTextFrame(int slot, const TTextFrameRequest& r) {
  if (!SlotInUse(slot)) return -1;
  const int result = FindFreeSlot();
  if (result < 1) return -1;
  const TImageSlot& source = Store.Image[size_t(slot)];
  const TTextFrameInput in = TextFrameInputFor(r, source.Width, source.Height);
  const TTextFrameLayout layout = LayoutTextFrame(in);
  if (!layout.Fits) return -1;
  if (!CopyImageSlot(slot, result)) return -1;
  SlotPair = {slot, result};
  try {
    TTextAreaDrawing d;
    d.TextFont = TextFrameFont(r.Settings);
    d.TitleFont = TextFrameTitleFont(r.Settings);
    d.TextColour = WindowsColour(r.Settings.FontColour);
    d.Background = WindowsColour(r.Settings.Background);
    d.Title = r.Title;
    d.Lines = TextFrameLines(r.Text);
    d.Alignment = r.Settings.Alignment;
    d.Colour = Store.Image[size_t(result)].IsColor != 0;
    d.Smooth = r.Settings.Smooth;
    const TTextAreaBitmap bitmap = DrawTextArea(layout, d);
    if (!ComposeTextFrame(result, layout, {r.Settings.FrameColour, r.Settings.Background}, r.Settings.Transition,
                          r.Settings.Smooth, bitmap)) {
      CloseImageSlot(result);
      SlotPair = {-1, -1};
      return -1;
    }
  } catch (...) {
    CloseImageSlot(result);
    SlotPair = {-1, -1};
    throw;
  }
  SlotPair = {-1, -1};
  return result;
}

}  // namespace astrelon
