#pragma once
// ".qzf" files: the nine percentages of a colour-correction matrix, one per
// line, row by row, written and read with "." as the decimal separator.
#include <string>

#include "pixelops/colour/color_matrix.h"

namespace astrelon {

enum class TColorCorrectionRead {
  Read,     // the nine values were taken
  Missing,  // no such file: nothing changed, nothing to say
  Refused,  // unreadable, or not nine numbers: nothing changed, `message` says why
};

// Reads the first nine lines of the file into `matrix`. Every one of them must
// be a number that a float holds; otherwise the matrix keeps its values.
TColorCorrectionRead ReadColorCorrection(const std::string& fileName, TColorMatrix& matrix, std::string* message);

// The nine lines of the file.
std::string ColorCorrectionText(const TColorMatrix& matrix);
// The name with the extension ".qzf" in place of any other.
std::string ColorCorrectionFileName(const std::string& fileName);
// Writes the file under ColorCorrectionFileName(fileName) (replacing it whole or
// not at all); false with the reason in `error` when it fails.
bool WriteColorCorrection(const std::string& fileName, const TColorMatrix& matrix, std::string* error = nullptr);

}  // namespace astrelon
