#pragma once
// Row levelling ("Zeilen gleichhell"): removes row-to-row brightness differences
// (banding of CCD read-out). Each row's level is measured in chosen columns and
// the whole row is shifted: to the mean level (absolute) or by the accumulated,
// decaying row-to-row steps (relative).
#include <cstdint>
#include <optional>

#include "kernels/gauss/filter_poll.h"

namespace astrelon {

// Inclusive column range of the measurement.
struct TColumnRange {
  int32_t First = 0;
  int32_t Last = -1;
};

// Levels every row of the selected planes of `source` into `destination` (the
// same size; planes not selected are copied). Levels are the strength/100
// quantile of the row's valid values in `columns` (every second column on a
// colour mosaic); a `second` range runs a second pass whose result is averaged
// with the first. False when the poll stopped it (the destination then holds a
// partial result).
bool EqualizeRowBrightness(int source, int destination, bool relative, float strength, TColumnRange columns,
                           std::optional<TColumnRange> second, TFilterPoll& poll);

}  // namespace astrelon
