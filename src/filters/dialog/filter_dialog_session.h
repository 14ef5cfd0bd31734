#pragma once
// The shared filter dialog's computations (preview and dispatcher) and the state
// they keep while the dialog is shown: its source and destination, what the
// last computation used (for the history texts of "&Ok"), and the rules for the
// "&Berechnen" button. The dialog window implements TFilterDialogLink; tests
// implement it too.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "store/image_store.h"

namespace astrelon {

// What the computations need of the dialog window.
class TFilterDialogLink {
public:
  virtual ~TFilterDialogLink() = default;
  // Check box k (1, 2): shown and checked.
  virtual bool CheckBoxChecked(int k) const = 0;
  // RadioGroup1..3: the selected item, -1 when none.
  virtual int32_t RadioIndex(int group) const = 0;
  // Caption and item texts of RadioGroup1..3 (history texts).
  virtual std::string RadioCaption(int group) const = 0;
  virtual std::string RadioItem(int group, int index) const = 0;
  // "&Berechnen" (Button3): shown, enabled, and its caption while computing.
  virtual bool Button3Visible() const = 0;
  virtual bool Button3Enabled() const = 0;
  virtual void SetButton3Enabled(bool on) = 0;
  virtual void SetButton3Computing(bool computing) = 0;
  // "&Ok" and "&Abbruch".
  virtual void SetOkAbbruchEnabled(bool on) = 0;
  // The dialog's caption (the menu caption without "&").
  virtual std::string Caption() const = 0;
  // Draws the slot's image window anew.
  virtual void Redraw(int slot) = 0;
};

// The controls a function shows, from its table entry.
struct TFilterPanels {
  bool Slider2 = false, Slider3 = false;
  bool Panel6 = false;     // check box 1 (and 2, radio group 1)
  bool CheckBox2 = false;
  bool RadioGroup1 = false;  // function 9
  bool Panel4 = false;       // RadioGroup2, function 18
  bool Panel8 = false;       // RadioGroup3, function 15
};
TFilterPanels FilterPanels(int nr);

// What the last computation used.
struct TFilterRecord {
  bool Computed = false;  // finished, neither aborted nor overtaken
  std::array<std::string, 3> ValueText;
  std::array<bool, 2> Checked{};
  int32_t Radio = -1;
  bool SelectionUsed = false;
  TRectI Selection;
};

struct TFilterSession {
  int32_t Source = -1, Destination = -1;
  TFilterRecord Record;
  bool CloseOnHide = false;  // the result window closes when the dialog hides
  bool PreviewRunning = false;
  bool PreviewPending = false;
};
extern TFilterSession FilterSession;

// Computes the function of FunktionNr into the destination when it is one of
// the preview's, then, for a function with a valid blur cache whose
// "&Berechnen" is shown but disabled, runs the dispatcher.
void ComputeFilterPreview(TFilterDialogLink& dialog);
// Computes the function of FunktionNr ("&Berechnen", and the preview of the
// cached-blur functions), then decides the state of "&Berechnen".
void FunktionAusfuehren(TFilterDialogLink& dialog);
// A new preview: raises PreviewGeneration; while a preview runs, it is marked
// pending and starts when the running one has stopped (previews do not nest).
void RequestFilterPreview(TFilterDialogLink& dialog);

// The history texts that follow the caption for the recorded computation.
std::vector<std::string> FilterHistoryTexts(int nr, const TFilterRecord& record, const TFilterDialogLink& dialog);
// Writes the caption (starting a new card when the slot's header flag is set)
// and the texts (appended where they fit), then sets the header flag.
void WriteFilterHistory(int slot, const std::string& caption, const std::vector<std::string>& texts);

}  // namespace astrelon
