#pragma once
// Writing the inverse of a spectrum over chosen planes of an image: the
// inverse transforms make the planes of the spectrum's channel selection, and
// only those replace the image's planes; its other planes stay as they were.
#include <functional>

#include "kernels/regions/rect_runs.h"

namespace astrelon {

// Sets the slot's channel selection to the one that selects exactly `planes`
// (all planes when none does).
void SelectPlanes(int slot, const TPlaneList& planes);

// SelectPlanes(spectrum, planes); inverse(spectrum) makes the image in a new
// slot, whose listed planes then replace those of `destination` (an image of
// the recorded size); the new slot is freed. False, with `destination`
// unchanged, when the inverse fails or does not match it.
bool InverseIntoPlanes(int spectrum, int destination, const TPlaneList& planes,
                       const std::function<int(int spectrum)>& inverse);

}  // namespace astrelon
