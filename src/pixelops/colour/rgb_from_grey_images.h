#pragma once
// Three grey exposures joined into one RGB image: the green image is the
// geometric reference, red and blue are resampled onto its grid through the
// point pairs of their windows' marks and selections.
#include <string>

namespace astrelon {

// More images open than this and the command does nothing (it needs room for
// its result and the three choices).
constexpr int MaxOpenForRgbComposition = 45;

// The result in slot `result`: a copy of `green` whose plane 1 fills all three
// planes, then plane 1 of `red` aligned into plane 1 and plane 1 of `blue` into
// plane 3 (a colour image chosen for red or blue gives its first plane). Colour,
// three planes, RGB, channel selection 0, a default header, and
// the name `folder of green` + `baseName` + `extension` (not numbered). The
// histogram is not computed and the caller shows the window. False when a slot is not in use or the result slot
// is not a free slot 1..49.
bool ComposeRgbFromGrey(int red, int green, int blue, int result, const std::string& baseName,
                        const std::string& extension);

}  // namespace astrelon
