#pragma once
// The passes of one "PSF schärfen" iteration over a band of rows of the
// working rectangle: the destination blurred again with the picked PSF (A),
// the differences to it, the correction weighed with the steepened PSF (C),
// its soft application; in the linear form with the arrays of the flux
// balance (sharpen_flux_balance.h).
// Each pass reads what the one before wrote and writes one value per pixel, so
// bands of rows may run on any number of threads with the same result; the
// vector loops give the bits of the scalar ones.
#include <cmath>
#include <cstdint>
#include <span>

#include "filters/sharpening/balance/sharpen_flux_balance.h"
#include "store/image_store.h"

namespace astrelon {

// One plane's data. A, R2 and C hold one value per pixel of the
// rectangle (row-major, rectangle width per row); the other planes are whole
// image planes. Without Balance (the quadratic form) nothing is filled in for
// the balance.
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
  const TBalanceRows* Balance = nullptr;  // the heights and changes for the balance
};

// A PSF value at offset (Dy, Dx) from the centre (rows, columns) and its weight.
struct TPsfTap {
  int32_t Dy = 0, Dx = 0;
  float W = 0;
};

// Reblur: A(y, x) from the destination at (y - Dy, x - Dx) inside the rectangle
// (taps: the picked PSF's values P above its threshold; W = P, or P·|P| for the
// quadratic form, which sums (v - lo)² and takes the root). Where |ΣW| <= 0.1·pk,
// A is blank and C = lo; otherwise C = the smallest value met + 2a.
struct TReblurSettings {
  bool Quadratic = false;
  float Lo = 0, A = 0, Pk = 0;
};
void ReblurRows(const TPsfPass& pass, std::span<const TPsfTap> taps, const TReblurSettings& s, int64_t y0,
                int64_t y1, bool vector);

// Differences r = source - A (the source against the destination blurred
// again) where both are valid: into A where the position is not saturated,
// into R2 where it is and r > 0 (NaN elsewhere). With Balance, the heights of
// the row go there first (A still the reblur).
void DifferenceRows(const TPsfPass& pass, int64_t y0, int64_t y1);

// Correction: C(y, x) from the differences at (y + Dy, x + Dx) inside the
// rectangle (taps: the steepened PSF's values above 0.04); the saturated
// positions' rising differences count only while the others weigh less than W1;
// a saturated pixel's own correction is never negative (0 instead). Without
// "Umgebungsschwelle" the correction fades in over the height
// above Lo, counted as at least Step. With Balance, its Wanted gets the change
// the plain linear step asks for (the weighed difference times S², neither
// faded nor softened; 0 where C is blank).
struct TCorrectionSettings {
  float W1 = 0, S = 0, D = 0, Lo = 0, Step = 1;
  bool Surround = false;  // "Umgebungsschwelle"
};
void CorrectionRows(const TPsfPass& pass, std::span<const TPsfTap> taps, const TCorrectionSettings& s, int64_t y0,
                    int64_t y1, bool vector);

// Application: u = C·s, destination += u·u/(u ± W2); a value at or above Hi
// falls at most to Hi, a value below Hi only rises, and none rises above its
// Bound (one value per pixel of the rectangle, as C; light_within_reach.h;
// none without). With Balance, its Made gets the change in the blocks it needs
// (0 where the destination is blank).
struct TApplySettings {
  float S = 0, W2 = 0, Hi = 0;
  const float* Bound = nullptr;
  const float* Floor = nullptr;
};
void ApplyCorrectionRows(const TPsfPass& pass, const TApplySettings& s, int64_t y0, int64_t y1, bool vector);

}  // namespace astrelon
