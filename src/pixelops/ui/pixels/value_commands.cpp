#include "pixelops/ui/pixels/value_commands.h"

#include "common/engine_ui.h"
#include "core/language.h"
#include "kernels/regions/value_arithmetic.h"
#include "pixelops/ui/operation_frame.h"
#include "shell/ui/main/main_services_ui.h"
#include "store/image_store.h"

namespace astrelon {

TLastValues LastValues;

namespace {

QString Text(int key, const char* german) { return QString::fromStdString(LangTextOr(key, german)); }

bool WorkRectIsWholeImage(int slot) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  return WorkRect.x1 <= 0 && WorkRect.y1 <= 0 && WorkRect.x2 >= im.Width - 1 && WorkRect.y2 >= im.Height - 1;
}

// Multiply and divide: the result slot first, then the working rectangle, then
// the prompts; the factors go to MultiplyRectByValues.
void ScaleCommand(QAction* sender, bool divide) {
  TResultSlot result;
  if (!result) return;
  result.UseSelection();
  const QString caption =
      OperationCaption(sender, divide ? "Wert dividieren" : "Wert &multiplizieren");
  const QString prompt = divide ? Text(LangKey(9, 9), "Divisor (Fließkomma):")
                                : Text(LangKey(9, 8), "Faktor (Fließkomma):");
  std::array<double, 3>& last = divide ? LastValues.Divisors : LastValues.Factors;
  const auto numbers =
      AskPlaneNumbers(result.Source(), caption, prompt, last, divide ? TNumberKind::Float : TNumberKind::Double);
  if (numbers) {
    std::array<double, 3> f{};
    bool ok = true;
    for (int p = 1; p <= 3; ++p) {
      f[size_t(p - 1)] = numbers->Value(p);
      if (divide) {
        // Each divisor is first rounded to a float; 1 / 0 is refused.
        const float d = float(numbers->Value(p));
        ok = ok && d != 0.0f;
        f[size_t(p - 1)] = 1.0 / double(d);
      }
    }
    if (!ok) {
      EngineUi().ShowMessage("Division durch 0 ist nicht möglich");
    } else {
      MultiplyRectByValues(result.Destination(), f[0], f[1], f[2]);
      result.Finish({.ResetRange = true,
                     .AutoDisplayRange = true,
                     .History = PlaneNumbersHistory(caption, result.Source(), *numbers),
                     .HistoryMode = 1});
    }
  }
  AddRecentFunction(sender);
}

// The clamps: one value, then the result slot.
void LimitCommand(QAction* sender, const QString& caption, const QString& prompt, double& last, bool upper) {
  const auto v = AskNumber(caption, prompt, last, TNumberKind::Float);
  if (!v) return;
  if (!upper) AddRecentFunction(sender);
  TResultSlot result;
  if (!result) return;
  result.UseSelection();
  if (upper) ClampValuesAbove(result.Destination(), float(v->Value));
  else ClampValuesBelow(result.Destination(), float(v->Value));
  result.Finish({.ResetRange = true,
                 .AutoDisplayRange = false,
                 .History = caption.toStdString() + " " + v->Text,
                 .HistoryMode = 1});
}

}  // namespace

void AddValueCommand(QAction* sender) {
  const int slot = FindActiveSlot();
  if (slot < 1) return;
  const QString caption = OperationCaption(sender, "Wert &addieren");
  if (const auto numbers = AskPlaneNumbers(slot, caption, QString(), LastValues.Added, TNumberKind::Float)) {
    SetWorkRectFromWindow(slot, 1, false);
    const float a1 = float(numbers->Value(1));
    AddValuesToRect(slot, a1, float(numbers->Value(2)), float(numbers->Value(3)));
    // On the whole image the display moves with the values, so the image looks the same.
    if (WorkRectIsWholeImage(slot)) {
      Store.Display[size_t(slot)].Black += a1;
      Store.Display[size_t(slot)].White += a1;
    }
    FinishInPlace(slot, PlaneNumbersHistory(caption, slot, *numbers), 1);
  }
  AddRecentFunction(sender);
}

void MultiplyValueCommand(QAction* sender) { ScaleCommand(sender, false); }

void DivideValueCommand(QAction* sender) { ScaleCommand(sender, true); }

void LowerLimitCommand(QAction* sender) {
  LimitCommand(sender, OperationCaption(sender, "Wertebereich &unten begrenzen"),
               Text(LangKey(9, 56), "(kleinere Werte -> Wert)"), LastValues.LowerLimit, false);
}

void UpperLimitCommand(QAction* sender) {
  AddRecentFunction(sender);
  LimitCommand(sender, OperationCaption(sender, "Wertebereich &oben begrenzen"),
               Text(LangKey(9, 57), "(größere Werte -> Wert)"), LastValues.UpperLimit, true);
}

void SquareRootCommand(QAction* sender) { RunResultCommand(
      sender, "&Wurzel ziehen", [](int slot) { TakeSquareRoot(slot); }, true, true); }

void SquareCommand(QAction* sender) { RunResultCommand(
      sender, "Werte &quadrieren", [](int slot) { SquareValues(slot); }, true, true); }

void RoundCommand(QAction* sender) { RunResultCommand(sender, "Werte run&den", RoundValues, true, false); }

void MoveTowardZeroCommand(QAction* sender) {
  // Fixed German texts; the amount is not kept and Cancel means "1.0".
  const auto a = ReadNumber(PlainInputBox("Pixelwert nach 0 verschieben", "Um Wieviel:", "1.0").toStdString(),
                            TNumberKind::Float);
  if (!a) return;
  TResultSlot result;
  if (!result) return;
  MoveValuesTowardZero(result.Destination(), float(a->Value));
  result.Finish({.ResetRange = true,
                 .AutoDisplayRange = true,
                 .History = OperationCaption(sender, "Pixelwerte nach 0 verschieben").toStdString(),
                 .HistoryMode = 0});
}

}  // namespace astrelon
