#pragma once
// Applying a trained filter network (".nnf", ".nnb") or a network list file
// ("RGB:" with one network per colour plane) to an image.
#include <string>

#include "filters/network/network_rows.h"
#include "store/image_store.h"

namespace astrelon {

// Filters `rect` of `source` into `destination` (a copy of the source) with
// the network of `fileName`, which replaces the network in memory. Networks
// that predict 2 x 2 blocks work on the rectangle less its last column and
// row, and every pixel ends as the blend of the blocks covering it; the values
// are scaled by half the source's value range times `strength` (held within
// +-FactorLimit of float_range.h) around a base taken from the pixel and its
// neighbours, and no result lies below
// min(minimum - 0.3 * scale, 0). Grey images and 3-input networks take one
// plane, colour images the planes of the destination's channel selection. The
// abort flag is cleared first and stops the rows; `poll`, when given, is asked
// after the calling thread's rows with the rows done of the plane. A flat
// source or a strength of 0 leaves the copy. A network file (or a list file,
// or a network it names) that cannot be read shows the reader's message and
// returns false with the destination unchanged; false too when stopped.
bool ApplyNetworkFilter(int source, int destination, const std::string& fileName, const TWorkRect& rect,
                        double strength, const TNetworkRowPoll& poll = {});

// The same with the network in memory (a training's), on the planes of the
// destination's channel selection (one for a grey image or a 3-input
// network).
bool ApplyLoadedNetworkFilter(int source, int destination, const TWorkRect& rect, double strength,
                              const TNetworkRowPoll& poll = {});

}  // namespace astrelon
