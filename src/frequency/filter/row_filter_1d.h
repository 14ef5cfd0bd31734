#pragma once
// The 1D frequency filter: the mean power-of-two spectrum of an image's rows,
// and the response of the filter curves applied to every row (and with
// "Hor.+Vert." then to every column). Bright pixels can be left out of the
// transform: they hold the last value at or below the row's clip level, and
// their excess over it is added back after the filter.
#include <cstdint>
#include <vector>

#include "frequency/filter/filter_curves.h"
#include "kernels/regions/rect_runs.h"

namespace astrelon {

struct TRowFilterOptions {
  bool Additive = false;    // "Additiv": add C − S to the amplitude (else "Multipl.": scale by C/S)
  bool OmitBright = false;  // "Helle Bereiche auslassen"
  bool Columns = false;     // "Hor.+Vert.": the columns of the result after the rows
};

// The bins of the row transform of an image width: N/2 + 1, N the next power of two.
int32_t RowBinCount(int32_t width);

// A row's clip level: with omitBright the 90 % percentile of its valid values,
// else (or without valid values) no clip (1e18).
float RowClipLevel(const float* row, int32_t n, bool omitBright);

// The sum over the listed planes of the mean amplitude of all rows, per bin
// (RowBinCount(width) bins); empty when the slot has no such planes.
std::vector<double> MeanRowSpectrum(int slot, const TPlaneList& planes, bool omitBright);

// "&Berechnen" of the 1D filter: every row of the listed planes of `source`,
// filtered by the curves, into the same row of `result` (an image of the same
// size); then, with options.Columns, every column of the result in place,
// column bin k taking curve bin ⌊k·N/N'⌋. Blank pixels stay blank.
void FilterRows1D(int source, int result, const TPlaneList& planes, const TFilterCurves& curves,
                  const TRowFilterOptions& options);

}  // namespace astrelon
