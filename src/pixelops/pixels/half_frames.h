#pragma once
// Splitting an interlaced video frame into its two fields: field 1 is made of
// the even rows (0, 2, 4, ...), field 2 of the odd rows.
#include <string>

namespace astrelon {

// Keeps the rows of field f (1 or 2) of every plane and fills each row of the
// other field with the weighted mean of the valid kept-field pixels of its
// column at rows y - 3, y - 1, y + 1, y + 3 (weights -0.1, 0.6, 0.6, -0.1); a
// pixel whose weights add up to 0.1 or less keeps its value.
void InterpolateHalfFrame(int slot, int field);
// Replaces every plane by the rows of field f alone: height div 2 rows, row r
// taken from row (f - 1) + 2r; the NAXIS cards get the new size. Nothing for an
// image lower than 2 rows.
void KeepHalfFrameRows(int slot, int field);
// The file name of field f: folder + word + f + "_" + file name
// ("/d/m42.fit", "Halbbild", 1 gives "/d/Halbbild1_m42.fit").
std::string HalfFrameFileName(const std::string& fileName, const std::string& word, int field);

}  // namespace astrelon
