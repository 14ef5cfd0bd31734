#pragma once
// Frequency-response curve files (".qfg"): plain text, line 1 the point count
// n, then n lines of one linear gain each, from zero frequency (line 2) up to
// the highest frequency. Numbers are written with "."; "," is read as well.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "frequency/filter/filter_curves.h"

namespace astrelon {

inline constexpr int32_t MaxCurveFilePoints = 1000000;

struct TFrequencyCurveFile {
  std::vector<double> Gains;
};

// A whole file's text; nullopt with the reason in `error` when the count is not
// a whole number 1 .. 1,000,000 or fewer than n gains follow that a float
// holds (and that are not blank). The filters hold gains within
// +-FactorLimit (float_range.h) when they apply them.
std::optional<TFrequencyCurveFile> ParseFrequencyCurveFile(std::string_view text, std::string* error = nullptr);

// Reading a file: a missing file is not an error the user hears of.
enum class TCurveFileRead { Read, Missing, Refused };
// Reads and parses a whole file; on Refused `error` names the file and the reason.
TCurveFileRead ReadFrequencyCurveFile(const std::string& fileName, TFrequencyCurveFile& file,
                                      std::string* error = nullptr);

// The file's text: the count, then each gain (general format, 15 digits), CR LF.
std::string FormatFrequencyCurveFile(std::span<const double> gains);
// Writes the gains to fileName with its extension replaced by ".qfg".
bool WriteFrequencyCurveFile(const std::string& fileName, std::span<const double> gains,
                             std::string* error = nullptr);

// The gains the dialog saves: C[i] / (S[i] + 1e-25).
std::vector<double> CurveFileGains(const TFilterCurves& curves);
// The n gains of a file at K bins as the dialog opens them: bin i at file
// position p = i·(n − 1)/(K − 1), the weighted mean of the gains j − 1 .. j + 2
// around it (those in the file) with the tabulated kernel of `kind` at each
// gain's distance; K = 1 takes position 0.
std::vector<double> ResampleCurveGains(std::span<const double> gains, int32_t K, int32_t kind);

}  // namespace astrelon
