#pragma once
// The image of a speckle reconstruction: the inverse transform of the result
// spectrum in the result slot, named after the folder of the run's first
// frame ("IF_Result_0" and the FITS extension of the settings).
#include <string>

namespace astrelon {

class TSpeckleSession;

// "<folder>/IF_Result_0" + the "Fits Dateiendung" setting.
std::string SpeckleResultName(const std::string& folder);

// The inverse transform of the session's result spectrum into its result slot.
// A result slot without a window (or none) is replaced by a free slot, which
// makes the result new: its display range is reset, its name set, its
// numbered-name flag set and a "HISTORY " card with `caption` added. An
// existing result keeps its window and display, its histogram recomputed.
// The result slot, or -1 when none could be made; isNew says which kind.
int MakeSpeckleResultImage(TSpeckleSession& session, bool newResult, const std::string& caption, bool& isNew);

}  // namespace astrelon
