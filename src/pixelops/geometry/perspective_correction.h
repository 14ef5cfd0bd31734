#pragma once
// Straightening converging lines: two guide lines that should be parallel are
// made parallel by a one-dimensional projective map along rows (lines closer to
// vertical) or along columns (lines closer to horizontal).
#include <cstdint>

namespace astrelon {

// A guide line through (X1, Y1) and (X2, Y2), image pixels.
struct TGuideLine {
  int32_t X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
};

enum class TPerspectiveCase { Vertical, Horizontal, Unusable };

// Vertical when both lines change more along y than along x, horizontal when
// both change more along x, unusable otherwise.
TPerspectiveCase PerspectiveCase(const TGuideLine& a, const TGuideLine& b);

// Resamples src into dst (an image of the same size, normally a copy of src) so
// that the two lines become parallel with the spacing they have at the image
// edge farther from their meeting point. Pixels whose source position lies
// outside the image are blank; the others are sampled at the current
// interpolation kind. False, dst unchanged, when the slots are unusable or the
// lines' orientation is.
bool CorrectPerspective(int src, int dst, const TGuideLine& a, const TGuideLine& b);

}  // namespace astrelon
