#pragma once
// The passes of one "PSF schärfen" iteration over a band of rows of the
// working rectangle: the destination blurred again with the picked PSF (A),
// the differences to it, the darkening they ask for shared out over the
// picked PSF's reach, the correction weighed with the steepened PSF (C), and
// its soft application.
// Each pass reads what the one before wrote and writes one value per pixel, so
// bands of rows may run on any number of threads with the same result; the
// vector loops give the bits of the scalar ones.
#include <cstdint>
#include <span>

#include "store/image_store.h"

namespace astrelon {

// One plane's data. A, R2, C, H and N hold one value per pixel of the
// rectangle (row-major, rectangle width per row); the other planes are whole
// image planes. H and N are used by the linear form only.
struct TPsfPass {
  const float* Dest = nullptr;     // destination plane, read by the reblur and the correction
  float* DestOut = nullptr;        // the same plane, written by the application
  const float* Source = nullptr;   // source plane: its valid pixels are reblurred and compared
  const uint8_t* Marks = nullptr;  // saturation marks of the plane (0: not saturated)
  float* A = nullptr;
  float* R2 = nullptr;
  float* C = nullptr;
  int32_t Width = 0;
  TWorkRect Rect;
  float* H = nullptr;  // heights above hi summed over the PSF, then the darkening shared to the pixel
  float* N = nullptr;  // darkening asked for per unit of height around a position (0: none shared)
};

// A PSF value at offset (Dy, Dx) from the centre (rows, columns) and its weight.
struct TPsfTap {
  int32_t Dy = 0, Dx = 0;
  float W = 0;
};

// Reblur: A(y, x) from the destination at (y - Dy, x - Dx) inside the rectangle
// (taps: the picked PSF's values P above its threshold; W = P, or P·|P| for the
// quadratic form, which sums (v - lo)² and takes the root). Where |ΣW| <= 0.1·pk,
// A is blank and C = lo; otherwise C = the smallest value met + 2a. The linear
// form also sums W·(v - Hi) over the values above Hi into H.
struct TReblurSettings {
  bool Quadratic = false;
  float Lo = 0, A = 0, Pk = 0, Hi = 0;
};
void ReblurRows(const TPsfPass& pass, std::span<const TPsfTap> taps, const TReblurSettings& s, int64_t y0,
                int64_t y1, bool vector);

// Differences r = source - A (the source against the destination blurred
// again) where both are valid: into A where the position is not saturated,
// into R2 where it is and r > 0 (NaN elsewhere). With Share, a falling r at a
// position whose H exceeds MinHeight goes to N as r / H instead (A gets 0):
// it is shared out by height rather than corrected in place.
struct TDifferenceSettings {
  bool Share = false;
  float MinHeight = 0;
};
void DifferenceRows(const TPsfPass& pass, const TDifferenceSettings& s, int64_t y0, int64_t y1);

// Share: H(y, x) = Σ W·N at (y + Dy, x + Dx) inside the rectangle (taps as for
// the reblur). A pixel's part of the darkening is H times its height above hi.
void ShareRows(const TPsfPass& pass, std::span<const TPsfTap> taps, int64_t y0, int64_t y1, bool vector);

// Correction: C(y, x) from the differences at (y + Dy, x + Dx) inside the
// rectangle (taps: the steepened PSF's values above 0.04); the saturated
// positions' rising differences count only while the others weigh less than W1.
// Without "Umgebungsschwelle" the correction fades in over the height above
// Lo, counted as at least Step. With Share, the pixel's part of the shared
// darkening, H·(destination - Hi) above Hi, joins the correction before it fades.
struct TCorrectionSettings {
  float W1 = 0, S = 0, D = 0, Lo = 0, Step = 1;
  bool Surround = false;  // "Umgebungsschwelle"
  bool Share = false;
  float Hi = 0;
};
void CorrectionRows(const TPsfPass& pass, std::span<const TPsfTap> taps, const TCorrectionSettings& s, int64_t y0,
                    int64_t y1, bool vector);

// Application: u = C·s, destination += u·u/(u ± W2); a value at or above Hi
// falls at most to Hi, a value below Hi only rises.
struct TApplySettings {
  float S = 0, W2 = 0, Hi = 0;
};
void ApplyCorrectionRows(const TPsfPass& pass, const TApplySettings& s, int64_t y0, int64_t y1, bool vector);

}  // namespace astrelon
