#pragma once
// The frame that every image operation started from the main menu follows:
// the caption and the prompts with their last values, the result slot (a copy of
// the active image) with the working rectangle from the window's selection, and
// the closing steps (value range and histogram, display range, history card, a
// new window, the slot pair reset), or the steps after an in-place change.
//
// A handler of the result-slot form:
//   TResultSlot result;                  // NewResultSlot; nothing when it fails
//   if (!result) return;
//   result.UseSelection();               // SetWorkRectFromWindow(source, 1, 0)
//   auto v = AskNumber(...);             // cancel: the destructor closes the slot
//   if (!v) return;
//   Worker(result.Destination(), ...);
//   result.Finish({.ResetRange = true, .AutoDisplayRange = true, .History = ..., .HistoryMode = 1});
//   AddRecentFunction(sender);
#include <QString>
#include <array>
#include <functional>
#include <optional>
#include <string>

class QAction;

namespace astrelon {

// The clicked item's caption without "&" (history texts, prompt captions); the
// built-in caption `german` without "&" when the command runs without an item.
QString OperationCaption(QAction* sender, const char* german);

// The label of plane p (1..3) in prompts and history texts: the program-wide
// channel names "Rot", "Grün", "Blau" + ":" for an RGB image, "Y:", "U:", "V:"
// for an image in the YUV model, the program-wide "Wert" + ":" for a grey image.
QString ChannelLabel(int slot, int plane);

// What a typed number must fit: any finite double, a finite 32-bit float, or
// an angle in degrees within the angle limit (TryStrToAngleDot).
enum class TNumberKind { Double, Float, Angle };

struct TTypedNumber {
  double Value = 0;
  std::string Text;  // as the user typed it (history texts)
};

// Asks for one number with LangInputQuery. The edit field starts with `last` in
// the general format (15 digits) with the locale's decimal separator; the answer
// may use "," or ".". On Ok the number is stored into `last` and returned.
// nullopt after Cancel, or after a text that is no number of the kind (a message
// says so and `last` stays).
std::optional<TTypedNumber> AskNumber(const QString& caption, const QString& prompt, double& last, TNumberKind kind);
// Reads a typed number ("," or "." as the decimal separator); a text that is no
// number of the kind ("", "abc", "1e999", "nan", an angle "1e7") gives a
// message and nullopt.
std::optional<TTypedNumber> ReadNumber(const std::string& typed, TNumberKind kind);

// The numbers of a per-plane value operation: one for a grey image, one per
// plane for a colour image.
struct TPlaneNumbers {
  std::array<TTypedNumber, 3> Entry;
  int Count = 0;
  // The value for plane p (1..3); a grey image's one value serves every plane.
  double Value(int plane) const { return Entry[size_t(Count == 1 ? 0 : plane - 1)].Value; }
};
// One prompt for a grey image (`prompt`, or "Wert:" when it is empty) or three
// for a colour image (`prompt`, a line break and the channel label, or the label
// alone), each starting from and storing into its own entry of `last`. nullopt
// after a cancel or a refused entry; values confirmed before stay stored.
std::optional<TPlaneNumbers> AskPlaneNumbers(int slot, const QString& caption, const QString& prompt,
                                             std::array<double, 3>& last, TNumberKind kind);
// History text: caption " " text, or for a colour image caption, then " ",
// label and text for each plane ("Wert addieren Rot:10 Grün:0 Blau:-5").
std::string PlaneNumbersHistory(const QString& caption, int slot, const TPlaneNumbers& numbers);

// The untranslated input box (fixed German texts, the value not kept): the
// edited text on Ok, `value` otherwise.
QString PlainInputBox(const QString& caption, const QString& prompt, const QString& value);

// The closing steps of a result-slot operation.
struct TResultSteps {
  bool ResetRange = true;         // ComputeHistogram's reset of the display range
  bool AutoDisplayRange = false;  // SetAutoDisplayRange afterwards
  std::string History;            // the history card's text; empty: none
  int HistoryMode = 0;            // 1: the next history text starts a new card
};

// A copy of the active image in the lowest free slot (NewResultSlot) for the
// life of a handler. Until Finish, leaving the scope (a cancelled prompt, a
// refused value, an exception) closes the result slot again; the slot pair is
// reset in every case.
class TResultSlot {
public:
  TResultSlot();
  ~TResultSlot();
  TResultSlot(const TResultSlot&) = delete;
  TResultSlot& operator=(const TResultSlot&) = delete;

  // False when no image window is active or all slots are in use.
  explicit operator bool() const { return made_; }
  int Source() const { return source_; }
  int Destination() const { return destination_; }
  // The working rectangle: the source window's first selection, else the whole image.
  void UseSelection() const;
  // ComputeHistogram (min/max recomputed), SetAutoDisplayRange, the history card
  // and the new window, as the steps say.
  void Finish(const TResultSteps& steps);

private:
  bool made_ = false;
  bool finished_ = false;
  int source_ = -1;
  int destination_ = -1;
};

// The whole command of an operation without parameters: a result slot, the
// working rectangle from the selection, worker(destination), the closing steps
// with the caption as history text (mode 0), then AddRecentFunction.
void RunResultCommand(QAction* sender, const char* german, const std::function<void(int destination)>& worker,
                      bool resetRange, bool autoDisplayRange);

// After a worker changed `slot` in place: minimum, maximum and histogram
// recomputed (display range kept), the history card when `history` is not
// empty, the window's undo entries dropped and the window re-rendered.
void FinishInPlace(int slot, const std::string& history, int mode);

// Makes the slot's window the active one and lets pending events run (before a
// second result is copied from the same source).
void ActivateImageWindow(int slot);

}  // namespace astrelon
