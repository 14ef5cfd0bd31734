#pragma once
// The percentile level of one plane of a FITS file measured from the file
// itself, without making it an image: for 8- and 16-bit samples from the count
// of each sample code, for the other formats from the plane decoded into a
// buffer. The level is the one GetPercentileLevels gives over the whole plane
// of the image LoadFits reads from the file.
#include <optional>
#include <vector>

#include "store/fits/fits_header.h"

namespace astrelon {

class TWorkerPool;

// Level at `pct` percent (both percentages of GetPercentileLevels equal) of
// plane `plane` (1-based) of an accepted file, image rows as LoadFits lays them
// out; 0 for a plane that the file does not hold or that has no valid pixel.
// `scratch` holds the decoded plane for the formats that need it and is kept
// for the next call. Nullopt when the file cannot be read.
std::optional<float> FitsPlaneLevel(const TFitsFile& file, int plane, double pct, TWorkerPool& pool,
                                    std::vector<float>& scratch);

}  // namespace astrelon
