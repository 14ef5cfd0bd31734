#include "shell/ui/windows/pixel_menu.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMenu>
#include <QMimeData>
#include <array>
#include <functional>
#include <optional>
#include <string>

#include "common/pascal_format.h"
#include "core/busy_cursor.h"
#include "core/language.h"
#include "kernels/regions/blank_interpolation.h"
#include "kernels/regions/value_arithmetic.h"
#include "kernels/sampling/pixel_access.h"
#include "pixelops/ui/operation_frame.h"
#include "shell/display/renderer.h"
#include "shell/main/main_services.h"
#include "shell/pixel_menu/display_shift.h"
#include "shell/pixel_menu/grey_gamma.h"
#include "shell/pixel_menu/picked_values.h"
#include "shell/pixel_menu/pixel_fills.h"
#include "shell/statistics/region_statistics.h"
#include "shell/ui/dialogs/info_window.h"
#include "shell/ui/dialogs/small_dialogs.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/popup_window.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/histogram_refresh.h"
#include "shell/windows/image_window_state.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"
#include "store/ui/clipboard_paste.h"
#include "store/ui/preview_control.h"

namespace astrelon {

namespace {

// Captions translated by section 10 [3.1] .. [3.14] in item order (the region
// menu's three items follow with [3.15] .. [3.17]); the paste item by [3.18].
constexpr TPopupItem PixelMenuItems[] = {
    {"Pixelwertndern1", "&Pixelwert ändern", LangKey(10, 3, 1)},
    {"Markierungenausblenden1", "&Markierungen ausblenden", LangKey(10, 3, 2)},
    {"N1", nullptr},
    {"PixelalsSchwarzwertnehmen1", "P&ixel als Schwarzwert nehmen", LangKey(10, 3, 3)},
    {"PixelalsWeiwertnehmen1", "Pi&xel als Weißwert nehmen", LangKey(10, 3, 4)},
    {"PixelalsGrauwertnehmenGammakorrektur1", "Pixel als &Grauwert (RGB Gammakorrektur)", LangKey(10, 3, 5)},
    {"UmgebungalsSchwarzwertnehmen1", "&Umgebung (15x15) als Schwarzwert", LangKey(10, 3, 6)},
    {"Umgebung15x15alsWeiwert1", "Umgebung (15x15) als Weißwert", LangKey(10, 3, 7)},
    {"Umgebung15x15alsGrauwert1", "Umgebung (15x15) als Grauwert", LangKey(10, 3, 8)},
    {"N2", nullptr},
    {"Werttransparentmachen1", "&Wert transparent machen", LangKey(10, 3, 9)},
    {"TransparenzaufWert1", "&Transparenz auf Wert", LangKey(10, 3, 10)},
    {"TransparenzdurchNachbarpixelinterpolieren1", "Transparenz durch &Nachbarpixel ersetzen", LangKey(10, 3, 11)},
    {"TransparenzdurchNachbarpixelersetzen1", "Transparen&z ersetzen Bayer Pattern", LangKey(10, 3, 12)},
    {"N3", nullptr},
    {"BMPindenZwischenspeicher1", "&BMP in den Zwischenspeicher", LangKey(10, 3, 13)},
    {"ZwischenspeicherzuBild1", "Bitmap aus dem Zwischenspeicher laden", LangKey(10, 3, 18)},
    {"N4", nullptr},
    {"Bildstatistik1", "Bild&statistik zeigen", LangKey(10, 3, 14)},
};

QString Q(const std::string& s) { return QString::fromStdString(s); }

QAction* Item(QMenu* menu, const char* name) { return menu->findChild<QAction*>(name, Qt::FindDirectChildrenOnly); }

bool IsColourSlot(int slot) { return SlotInUse(slot) && Store.Image[size_t(slot)].IsColor != 0; }

// The slot of a pixel command: the window's slot when the last press lay inside
// its image, else 0.
int PixelCommandSlot(const TMDIChild* w) {
  if (!w || !SlotInUse(w->Tag)) return 0;
  const TImageSlot& im = Store.Image[size_t(w->Tag)];
  const TPointI p = LastClickPixel;
  return p.X >= 0 && p.Y >= 0 && p.X < im.Width && p.Y < im.Height ? w->Tag : 0;
}

// The picked values of planes 1..3 (grey: plane 1): the pressed pixel or the
// means of its 15 x 15 neighbourhood. nullopt for a blank pixel: it has no value
// to take.
std::optional<std::array<double, 3>> PickedValues(int slot, bool mean15) {
  std::array<double, 3> v{};
  const int planes = IsColourSlot(slot) ? 3 : 1;
  for (int p = 1; p <= planes; ++p) {
    if (mean15) {
      v[size_t(p - 1)] = NeighbourhoodMean15(slot, p, LastClickPixel.X, LastClickPixel.Y);
      continue;
    }
    const float value = GetPixelValue(slot, p, LastClickPixel.X, LastClickPixel.Y);
    if (!IsValidPixel(value)) return std::nullopt;
    v[size_t(p - 1)] = value;
  }
  return v;
}

// The values per channel as history text: " R: 10.000 G: 20.000 B: 30.000".
std::string ChannelValues(const std::array<double, 3>& v) {
  static const char* const Letters[3] = {"R", "G", "B"};
  std::string text;
  for (size_t i = 0; i < 3; ++i) text += std::string(" ") + Letters[i] + ": " + FormatFixed3(v[i]);
  return text;
}

// The colour commands work in RGB.
void MakeRgb(int slot) {
  if (IsColourSlot(slot) && Store.Image[size_t(slot)].ColorModel == CmYuv) YUVtoRGB(slot);
}

// The picked values of a black, white or grey command: the window's slot (in
// RGB), the pixel or its 15 x 15 means. nullopt when the command does not apply.
struct TPick {
  int Slot = 0;
  std::array<double, 3> V{};
};
std::optional<TPick> PickForCommand(QAction* sender, bool mean15, bool colourOnly) {
  const int slot = PixelCommandSlot(PopupWindow(sender));
  if (slot < 1 || (colourOnly && !IsColourSlot(slot))) return std::nullopt;
  MakeRgb(slot);
  const auto v = PickedValues(slot, mean15);
  if (!v) return std::nullopt;
  return TPick{slot, *v};
}

// worker(destination) on a copy of the slot's whole image in a new window
// (nothing when no slot is free), with the history card.
void InNewImage(int slot, const std::string& history, int mode, const std::function<void(int)>& worker) {
  if (FindActiveSlot() != slot) ActivateImageWindow(slot);
  TResultSlot result;
  if (!result) return;
  SetWorkRectToImage(result.Destination());
  worker(result.Destination());
  result.Finish({.ResetRange = false, .AutoDisplayRange = false, .History = history, .HistoryMode = mode});
  RefreshHistogramWindow();
}

void BlackValueCommand(QAction* sender, const char* german, bool mean15) {
  TBusyCursorScope busy;
  const auto pick = PickForCommand(sender, mean15, false);
  if (!pick) return;
  const int slot = pick->Slot;
  const auto& v = pick->V;
  const std::string caption = OperationCaption(sender, german).toStdString();
  SetWorkRectToImage(slot);
  double shift;
  std::string history;
  if (IsColourSlot(slot)) {
    AddValuesToRect(slot, float(-v[0]), float(-v[1]), float(-v[2]));
    shift = -PickedLuma(v[0], v[1], v[2]);
    history = caption + ChannelValues(v) + " " + " subtrahiert";
  } else {
    AddValuesToRect(slot, float(-v[0]), 0, 0);
    shift = -v[0];
    history = caption + " " + FormatFixed3(v[0]) + " subtrahiert";
  }
  ShiftDisplayRange(slot, shift);
  FinishInPlace(slot, history, 1);
  RefreshHistogramWindow();
}

// ApplyWhiteBalance: each channel scaled to the luma of the picked colour, in a new image.
void WhiteValueCommand(QAction* sender, const char* german, bool mean15) {
  TBusyCursorScope busy;
  const auto pick = PickForCommand(sender, mean15, true);
  if (!pick) return;
  const std::array<double, 3> f = WhiteBalanceFactors(pick->V[0], pick->V[1], pick->V[2]);
  InNewImage(pick->Slot, OperationCaption(sender, german).toStdString() + ChannelValues(f) + " " + " multipliziert", 1,
             [&](int d) { MultiplyRectByValues(d, f[0], f[1], f[2]); });
}

void GreyValueCommand(QAction* sender, const char* german, bool mean15) {
  TBusyCursorScope busy;
  const auto pick = PickForCommand(sender, mean15, true);
  if (!pick) return;
  const TGreyGamma gamma = GreyGammaFor(Store.Display[size_t(pick->Slot)], pick->V[0], pick->V[1], pick->V[2]);
  InNewImage(pick->Slot, OperationCaption(sender, german).toStdString(), 0, [&](int d) { ApplyGreyGamma(d, gamma); });
}

// "Pixelwert ändern": grey one input box, colour one query per plane until the
// first cancel (or refused entry); planes answered keep their new values.
void ChangePixelCommand(QAction* sender) {
  const int slot = PixelCommandSlot(PopupWindow(sender));
  if (slot < 1) return;
  const int x = LastClickPixel.X, y = LastClickPixel.Y;
  const QString caption = Q("x: " + IntToStr(x) + "  y: " + IntToStr(y));
  auto current = [&](int p) { return Q(FloatToStr(GetPixelValue(slot, p, x, y))); };
  if (!IsColourSlot(slot)) {
    const QString text = LangInputBox(caption, QString(), current(1));
    if (const auto number = ReadNumber(text.toStdString(), TNumberKind::Float))
      SetPixelValue(slot, 1, x, y, float(number->Value));
  } else {
    for (int p = 1; p <= 3; ++p) {
      QString text = current(p);
      if (!LangInputQuery(caption, Q(PlaneName(slot, p) + " (" + ")"), text)) break;
      const auto number = ReadNumber(text.toStdString(), TNumberKind::Float);
      if (!number) break;
      SetPixelValue(slot, p, x, y, float(number->Value));
    }
  }
  ComputeHistogram(slot, false, true);
  RefreshHistogramWindow();
  ImageChanged(slot);
}

void ValueToTransparentCommand(QAction* sender) {
  const int slot = PixelCommandSlot(PopupWindow(sender));
  if (slot < 1) return;
  TBusyCursorScope busy;
  std::array<float, 3> values{};
  for (int p = 1; p <= (IsColourSlot(slot) ? 3 : 1); ++p)
    values[size_t(p - 1)] = GetPixelValue(slot, p, LastClickPixel.X, LastClickPixel.Y);
  MakeValueTransparent(slot, values);
  FinishInPlace(slot, std::string(), 0);
  RefreshHistogramWindow();
}

void TransparencyToValueCommand(QAction* sender) {
  const int slot = PixelCommandSlot(PopupWindow(sender));
  if (slot < 1) return;
  const QString caption = OperationCaption(sender, "&Transparenz auf Wert");
  const std::string prompt = "Wert anstelle von Transparenz";
  std::array<float, 3> values{};
  const bool colour = IsColourSlot(slot);
  for (int p = 1; p <= (colour ? 3 : 1); ++p) {
    QString text = "0.0";
    const std::string label = colour ? prompt + " (" + PlaneName(slot, p) + "):" : prompt + ":";
    if (!LangInputQuery(caption, Q(label), text)) return;
    const auto number = ReadNumber(text.toStdString(), TNumberKind::Float);
    if (!number) return;
    values[size_t(p - 1)] = float(number->Value);
  }
  TBusyCursorScope busy;
  FillTransparentPixels(slot, values);
  FinishInPlace(slot, caption.toStdString(), 0);
  RefreshHistogramWindow();
}

// "Transparenz durch Nachbarpixel ersetzen": every blank pixel of a copy filled
// from its valid neighbours; the new window keeps only its maximise icon meanwhile.
void NeighbourTransparencyCommand(QAction* sender) {
  const TMDIChild* w = PopupWindow(sender);
  if (!w || !SlotInUse(w->Tag)) return;
  const int slot = w->Tag;
  TBusyCursorScope busy;
  InNewImage(slot, std::string(), 0, [slot](int d) {
    ShowImageWindow(d);
    AbortRequested = 0;
    LockWindowBorderIcons(d);
    InterpolateBlankPixels(slot, d, true, true);
    UnlockWindowBorderIcons(d);
    Store.Display[size_t(d)].Changed = 1;
  });
}

// "Transparenz ersetzen Bayer Pattern": the blank pixels of a grey colour-mosaic
// image from their same-colour neighbours, in a new image.
void MosaicTransparencyCommand(QAction* sender) {
  const int slot = PixelCommandSlot(PopupWindow(sender));
  if (slot < 1 || IsColourSlot(slot)) return;
  TBusyCursorScope busy;
  InNewImage(slot, OperationCaption(sender, "Transparen&z ersetzen Bayer Pattern").toStdString(), 0,
             FillBlankMosaicPixels);
}

// "BMP in den Zwischenspeicher": the picture as the window shows it, at full size.
void CopyPictureCommand(QAction* sender) {
  const TMDIChild* w = PopupWindow(sender);
  if (!w || !SlotInUse(w->Tag)) return;
  TBusyCursorScope busy;
  TDisplayBitmap bitmap;
  if (!RenderSlotBitmap(w->Tag, 100, bitmap)) return;
  QGuiApplication::clipboard()->setImage(BitmapImage(bitmap).convertToFormat(QImage::Format_RGB32));
}

void StatisticsCommand(QAction* sender) {
  const TMDIChild* w = PopupWindow(sender);
  if (!w || !SlotInUse(w->Tag)) return;
  TBusyCursorScope busy;
  SetWorkRectToImage(w->Tag);
  ShowRegionStatistics(w->Tag);
}

bool ClipboardHasPicture() {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  return data && data->hasImage();
}

}  // namespace

QMenu* PixelMenu(TMDIChild& window) {
  const bool made = window.findChild<QMenu*>("PopupMenu1", Qt::FindDirectChildrenOnly) != nullptr;
  QMenu* menu = WindowPopupMenu(window, "PopupMenu1", PixelMenuItems);
  // PopupMenu1Popup: the paste item needs a picture on the clipboard.
  if (!made)
    QObject::connect(menu, &QMenu::aboutToShow, menu, [menu] {
      if (QAction* paste = Item(menu, "ZwischenspeicherzuBild1")) paste->setEnabled(ClipboardHasPicture());
    });
  return menu;
}

void UpdatePixelMenuItems(TMDIChild& window) {
  QMenu* menu = PixelMenu(window);
  const int slot = window.Tag;
  const bool colour = IsColourSlot(slot);
  const bool blank = !IsValidPixel(GetPixelValue(slot, 1, LastClickPixel.X, LastClickPixel.Y));
  const bool idle = !OperationRunning;
  auto show = [menu](const char* name, bool visible) { ShowMenuItem(menu, name, visible); };
  show("Markierungenausblenden1", window.Overlay().Shape1.Visible || window.Overlay().Image2.Visible);
  for (const char* name : {"PixelalsWeiwertnehmen1", "PixelalsGrauwertnehmenGammakorrektur1",
                           "Umgebung15x15alsWeiwert1", "Umgebung15x15alsGrauwert1", "N2"})
    show(name, colour);
  show("Werttransparentmachen1", !blank);
  show("TransparenzaufWert1", blank);
  show("TransparenzdurchNachbarpixelinterpolieren1", blank && idle);
  show("TransparenzdurchNachbarpixelersetzen1", blank && !colour && idle);
  if (QAction* paste = Item(menu, "ZwischenspeicherzuBild1")) paste->setEnabled(ClipboardHasPicture());
}

void OpenPixelMenu(TMDIChild& window, QPoint globalPos) {
  if (QMdiArea* area = window.mdiArea()) area->setActiveSubWindow(&window);
  UpdatePixelMenuItems(window);
  window.PopupPoint = globalPos;
  SetPopupWindow(&window);
  PixelMenu(window)->popup(globalPos);
}

void RegisterPixelMenuCommands() {
  RegisterMenuCommand("Pixelwertndern1", ChangePixelCommand);
  RegisterMenuCommand("Markierungenausblenden1", [](QAction* sender) {
    if (TMDIChild* w = PopupWindow(sender)) w->HideAllSelections();
  });
  RegisterMenuCommand("PixelalsSchwarzwertnehmen1",
                      [](QAction* s) { BlackValueCommand(s, "P&ixel als Schwarzwert nehmen", false); });
  RegisterMenuCommand("UmgebungalsSchwarzwertnehmen1",
                      [](QAction* s) { BlackValueCommand(s, "&Umgebung (15x15) als Schwarzwert", true); });
  RegisterMenuCommand("PixelalsWeiwertnehmen1",
                      [](QAction* s) { WhiteValueCommand(s, "Pi&xel als Weißwert nehmen", false); });
  RegisterMenuCommand("Umgebung15x15alsWeiwert1",
                      [](QAction* s) { WhiteValueCommand(s, "Umgebung (15x15) als Weißwert", true); });
  RegisterMenuCommand("PixelalsGrauwertnehmenGammakorrektur1",
                      [](QAction* s) { GreyValueCommand(s, "Pixel als &Grauwert (RGB Gammakorrektur)", false); });
  RegisterMenuCommand("Umgebung15x15alsGrauwert1",
                      [](QAction* s) { GreyValueCommand(s, "Umgebung (15x15) als Grauwert", true); });
  RegisterMenuCommand("Werttransparentmachen1", ValueToTransparentCommand);
  RegisterMenuCommand("TransparenzaufWert1", TransparencyToValueCommand);
  RegisterMenuCommand("TransparenzdurchNachbarpixelinterpolieren1", NeighbourTransparencyCommand);
  RegisterMenuCommand("TransparenzdurchNachbarpixelersetzen1", MosaicTransparencyCommand);
  RegisterMenuCommand("BMPindenZwischenspeicher1", CopyPictureCommand);
  RegisterMenuCommand("ZwischenspeicherzuBild1", [](QAction*) { PasteClipboardImage(); });
  RegisterMenuCommand("Bildstatistik1", StatisticsCommand);
}

}  // namespace astrelon
