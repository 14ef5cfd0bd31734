#pragma once
// The functions of the shared filter dialog by FunktionNr: what each computes
// and the extra steps some need when the dialog starts, shows and hides. A
// filter joins the dialog by adding its entry to the table (filter_function_table.cpp);
// the dialog and its preview and dispatcher find it there.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "kernels/gauss/filter_poll.h"
#include "store/image_store.h"

namespace astrelon {

// What the dialog hands a function for one computation, taken when it starts.
struct TFilterCall {
  int32_t Funktion = 0;
  int32_t Source = -1, Destination = -1;  // the destination started as a copy of the source
  TWorkRect Rect;                         // the result window's selection, else the whole image
  std::optional<TRectI> SecondSelection;  // the result window's second selection, when shown
  std::array<bool, 4> Planes{};           // selected planes 1..3 of the destination
  bool Yuv = false;                       // the destination is a colour image in the YUV model
  std::array<float, 4> Value{};           // FunktionParamValue(Funktion, j), j = 1..3
  std::array<bool, 3> Checked{};          // check boxes 1 and 2: shown and checked
  std::array<int32_t, 4> Radio{-1, -1, -1, -1};  // RadioGroup1..3: item index, -1 none
  std::string Caption;                    // the dialog's caption (progress texts)
  TFilterPoll* Poll = nullptr;            // events, progress, abort flag and preview generation
  // Draws a slot's window anew while a function still runs (the iterative
  // sharpenings after each iteration); empty when nothing is shown.
  std::function<void(int slot)> Redraw;
};

struct TFilterFunktion {
  // The computation: from Source into Destination inside Rect.
  std::function<void(TFilterCall&)> Run;
  // Extra steps of the start from the menu after the result window exists; false
  // refuses the start (the result window closes, the dialog does not show).
  std::function<bool(int32_t source, int32_t destination)> Started;
  // Extra steps when the dialog shows and when it hides.
  std::function<void(int32_t source, int32_t destination)> Shown;
  std::function<void(int32_t source, int32_t destination)> Hidden;
};

// Functions computed by the preview at once and after every change (1, 2, 7, 13,
// 15, 18, 19); the others by the dispatcher.
constexpr bool ComputedInPreview(int nr) {
  return nr == 1 || nr == 2 || nr == 7 || nr == 13 || nr == 15 || nr == 18 || nr == 19;
}
// Functions whose computation starts from a blur cached per radius (3, 5, 6).
constexpr bool UsesBlurCache(int nr) { return nr == 3 || nr == 5 || nr == 6; }

// Registers (or replaces) the entry of a function.
void RegisterFilterFunktion(int nr, TFilterFunktion entry);
// The entry of a function; nullptr when it has none.
const TFilterFunktion* FindFilterFunktion(int nr);

// Adds the program's filter functions to the table (called once, on first use).
void InstallFilterFunktionen();

}  // namespace astrelon
