#include "pixelops/ui/stamping/text_stamp_commands.h"

#include <QAction>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

#include "core/settings.h"
#include "pixelops/stamping/line_arrow.h"
#include "pixelops/stamping/stamp_bitmap.h"
#include "pixelops/ui/stamping/text_frame_dialog.h"
#include "pixelops/ui/stamping/text_insert_dialog.h"
#include "pixelops/ui/stamping/text_mask.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/mouse_tools.h"
#include "shell/windows/image_window_state.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

int32_t TextToolPoints() { return std::clamp(Settings.TextOptions / 16, 1, 1000); }

void TextFrameCommand(QAction* sender) {
  const int slot = FindActiveSlot();
  if (slot < 1) return;
  EnsureDialogForm(17);
  if (TForm17* form = TextFrameDialog()) form->Start(slot);
  AddRecentFunction(sender);
}

// The text dialog, waited for; true when a text was entered (it then ends with a blank).
bool AskText() {
  EnsureDialogForm(21);
  TForm21* form = TextInsertDialog();
  if (!form) return false;
  form->exec();
  if (form->Cancelled || Settings.Text.empty()) return false;
  if (Settings.Text.back() != ' ') Settings.Text += ' ';
  return true;
}

}  // namespace

void RenderTextBitmap(int slot, int percent) {
  if (!SlotInUse(slot) || Settings.Text.empty()) return;
  const int32_t options = Settings.TextOptions, points = TextToolPoints();
  const QFont font = TextToolFont(Settings.TextFont, Settings.TextStyle, points);
  const TTextStamp stamp = RenderTextStamp(QString::fromStdString(Settings.Text), font, points, options & 1);
  if (stamp.Mask.Width < 1) return;
  StampBitmapIntoImage(slot, HoverPixel.X - stamp.Width, HoverPixel.Y - stamp.Height, 1 - percent * 0.01,
                       options & 8, options & 2, options & 4, stamp.Mask, stamp.Scale, TextToolInk());
}

void PaintTextPreview(QPainter& p, double scale) {
  if (Settings.Text.empty() || !(scale > 0)) return;
  QFont font = TextToolFont(Settings.TextFont, Settings.TextStyle, TextToolPoints());
  font.setPixelSize(std::max(1, int(PointsToPixels(TextToolPoints()) * scale)));
  const QString text = QString::fromStdString(Settings.Text);
  const QFontMetrics fm(font);
  p.save();
  p.setFont(font);
  p.setPen(WindowsColour(Settings.TextColour));
  const double x = HoverPixel.X * scale - fm.horizontalAdvance(text);
  const double y = HoverPixel.Y * scale - fm.height() + fm.ascent();
  p.drawText(QPointF(x, y), text);
  p.restore();
}

void RegisterTextStampCommands() {
  RegisterTextFrameDialog();
  RegisterTextInsertDialog();
  RegisterMenuCommand("TextRahmeneinfgen1", TextFrameCommand);
  TextArrowStamping.AskText = AskText;
  TextArrowStamping.PaintTextPreview = PaintTextPreview;
  TextArrowStamping.RenderTextBitmap = [] { RenderTextBitmap(ToolTargetSlot, Settings.TextTransparency); };
  TextArrowStamping.DrawLineArrow = [] {
    DrawLineArrow(ToolTargetSlot, ArrowTail.X, ArrowTail.Y, ArrowHead.X, ArrowHead.Y, TextToolInk());
  };
  // The dialog lets go of a slot whose window closes.
  const auto forget = [](int slot) {
    if (slot == TextSlot) TextSlot = -1;
  };
  auto previousClosed = std::move(TMDIChild::WindowClosedHook);
  TMDIChild::WindowClosedHook = [previousClosed, forget](int slot) {
    if (previousClosed) previousClosed(slot);
    forget(slot);
  };
  auto previousReferences = std::move(SlotReferencesHook);
  SlotReferencesHook = [previousReferences, forget](int slot) {
    if (previousReferences) previousReferences(slot);
    forget(slot);
  };
  UpdateTextArrowButtons();
}

}  // namespace astrelon
