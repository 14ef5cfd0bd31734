#include "pixelops/ui/operation_frame.h"

#include <QAction>
#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QLocale>
#include <QMdiArea>

#include "common/engine_ui.h"
#include "common/number_text.h"
#include "common/pascal_format.h"
#include "core/language.h"
#include "shell/main/main_services.h"
#include "shell/ui/dialogs/small_dialogs.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Program-wide words: the channel names of section 7 and "Wert" of section 9.
constexpr int KeyValueWord = LangKey(9, 7);
int ChannelNameKey(int plane) { return LangKey(7, 20 + plane); }


// The last value as the prompt shows it: general format, the locale's separator.
QString PromptText(double value) {
  QString text = Q(FloatToStr(value));
  const QString point = QLocale().decimalPoint();
  if (point != ".") text.replace('.', point);
  return text;
}

}  // namespace

QString OperationCaption(QAction* sender, const char* german) {
  const std::string caption = sender ? sender->text().toStdString() : std::string(german);
  return Q(StripAccelerators(caption));
}

QString ChannelLabel(int slot, int plane) {
  static const char* const Rgb[] = {"Rot", "Grün", "Blau"};
  static const char* const Yuv[] = {"Y", "U", "V"};
  if (slot < 0 || slot >= SlotArraySize || !Store.Image[size_t(slot)].IsColor || plane < 1 || plane > 3)
    return Q(LangTextOr(KeyValueWord, "Wert")) + ":";
  if (Store.Image[size_t(slot)].ColorModel == CmYuv) return QString(Yuv[plane - 1]) + ":";
  return Q(LangTextOr(ChannelNameKey(plane), Rgb[plane - 1])) + ":";
}

std::optional<TTypedNumber> AskNumber(const QString& caption, const QString& prompt, double& last, TNumberKind kind) {
  QString text = PromptText(last);
  if (!LangInputQuery(caption, prompt, text)) return std::nullopt;
  auto number = ReadNumber(text.toStdString(), kind);
  if (number) last = number->Value;
  return number;
}

std::optional<TTypedNumber> ReadNumber(const std::string& typed, TNumberKind kind) {
  const std::optional<double> v = kind == TNumberKind::Float   ? TryStrToFloat32Dot(typed)
                                  : kind == TNumberKind::Angle ? TryStrToAngleDot(typed)
                                                               : TryStrToFloatDot(typed);
  if (!v) {
    EngineUi().ShowMessage("'" + typed + "' ist kein gültiger Gleitkommawert");
    return std::nullopt;
  }
  return TTypedNumber{*v, typed};
}

std::optional<TPlaneNumbers> AskPlaneNumbers(int slot, const QString& caption, const QString& prompt,
                                             std::array<double, 3>& last, TNumberKind kind) {
  TPlaneNumbers numbers;
  const bool colour = SlotInUse(slot) && Store.Image[size_t(slot)].IsColor;
  numbers.Count = colour ? 3 : 1;
  for (int i = 0; i < numbers.Count; ++i) {
    QString text = prompt;
    if (colour) text = prompt.isEmpty() ? ChannelLabel(slot, i + 1) : prompt + "\n" + ChannelLabel(slot, i + 1);
    else if (text.isEmpty()) text = ChannelLabel(slot, 1);
    const auto entry = AskNumber(caption, text, last[size_t(i)], kind);
    if (!entry) return std::nullopt;
    numbers.Entry[size_t(i)] = *entry;
  }
  return numbers;
}

std::string PlaneNumbersHistory(const QString& caption, int slot, const TPlaneNumbers& numbers) {
  std::string text = caption.toStdString();
  if (numbers.Count == 1) return text + " " + numbers.Entry[0].Text;
  for (int i = 0; i < numbers.Count; ++i)
    text += " " + ChannelLabel(slot, i + 1).toStdString() + numbers.Entry[size_t(i)].Text;
  return text;
}

QString PlainInputBox(const QString& caption, const QString& prompt, const QString& value) {
  bool ok = false;
  const QString text =
      QInputDialog::getText(QApplication::activeWindow(), caption, prompt, QLineEdit::Normal, value, &ok);
  return ok ? text : value;
}

TResultSlot::TResultSlot() {
  made_ = NewResultSlot();
  if (made_) {
    source_ = SlotPair.Source;
    destination_ = SlotPair.Destination;
  }
}

TResultSlot::~TResultSlot() {
  if (made_ && !finished_) CloseImageSlot(destination_);
  SlotPair = {};
}

void TResultSlot::UseSelection() const {
  if (made_) SetWorkRectFromWindow(source_, 1, false);
}

void TResultSlot::Finish(const TResultSteps& steps) {
  if (!made_ || finished_) return;
  ComputeHistogram(destination_, steps.ResetRange, true);
  if (steps.AutoDisplayRange) SetAutoDisplayRange(destination_, false);
  if (!steps.History.empty()) AddHistoryCard(destination_, steps.History, steps.HistoryMode);
  ShowImageWindow(destination_);
  finished_ = true;
}

void RunResultCommand(QAction* sender, const char* german, const std::function<void(int destination)>& worker,
                      bool resetRange, bool autoDisplayRange) {
  TResultSlot result;
  if (!result) return;
  result.UseSelection();
  worker(result.Destination());
  result.Finish({.ResetRange = resetRange,
                 .AutoDisplayRange = autoDisplayRange,
                 .History = OperationCaption(sender, german).toStdString(),
                 .HistoryMode = 0});
  AddRecentFunction(sender);
}

void FinishInPlace(int slot, const std::string& history, int mode) {
  if (!SlotInUse(slot)) return;
  ComputeHistogram(slot, false, true);
  if (!history.empty()) AddHistoryCard(slot, history, mode);
  ReleaseWindowUndo(slot);
  ImageChanged(slot);
}

void ActivateImageWindow(int slot) {
  TMDIChild* w = ImageWindow(slot);
  QMdiArea* area = MainLink().MdiArea;
  if (w && area) area->setActiveSubWindow(w);
  QApplication::processEvents();
}

}  // namespace astrelon
