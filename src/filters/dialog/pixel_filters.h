#pragma once
// The pixel filters of the shared filter dialog: each computes its function
// from the call's source into its destination (a copy of the source) inside the
// working rectangle, pixel by pixel, on the selected planes (the others are
// copied back from the source) unless its line says otherwise. "black" and
// "white" are the display points of the source; the values are the call's
// slider values. Loops poll the call's poll between bands of rows.
#include <array>

#include "filters/dialog/filter_functions.h"

namespace astrelon {

// 1 "Unsmear": column smear removal, s = value 1 x 0.00005: down each column a
// running sum acc of the results (started by the first row's value, 0 when it
// is blank) gives d = v - acc s; blank pixels become -1e11 and add nothing.
void UnsmearColumns(TFilterCall& c);

// 2 "Hintergrund ebnen": a linear gradient (values 1 and 2 vertical and
// horizontal, in units of 0.04 range / size) removed from the whole image.
void RemoveLinearGradient(TFilterCall& c);

// 3 "Gauss schärfen": v + d k (1 - t/|d|) / 100 where d = v - blur exceeds the
// threshold t = (max - min) value2^2 / 10000; k = value 3; radius value 1.
void GaussSharpen(TFilterCall& c);

// 5 "Gauss glätten": (v (100 - s) + blur s) / 100, s = value 2, radius value 1.
void GaussSmooth(TFilterCall& c);

// 6 "Unscharfe Maskierung": the luminance is pushed away from its smooth
// background (radius value 1) with strength value 2 / 100, the colours follow
// the luminance.
void UnsharpMaskLuminance(TFilterCall& c);

// 7 "Farbsättigung": saturation of a colour image x value 1 / 100, worked in
// squared units above black (RGB), or U and V scaled (YUV).
void AdjustColorSaturation(TFilterCall& c);

// 13 "Deinterlace": every second row of the source window's rectangle shifted
// by value 1 columns and value 2 rows (-4..4, linear between rows two apart).
void DeinterlaceRows(TFilterCall& c);

// 16 "Larson Sekanina": rotational gradient around the brightest object at the
// source window's mark or selection: 2 (s - mean of the values turned by
// +-value 2 degrees at radius + value 1) + background of the plane.
void LarsonSekanina(TFilterCall& c);
// Background level bg_p of each plane (index 1..3), stored by the command
// that starts the function (the 40 % level of the whole plane).
extern std::array<float, 4> LarsonSekaninaLevels;

// 18 "Farbhöfe verringern": the halo colour chosen in RadioGroup2 (red, green,
// blue; yellow, magenta, cyan) limited to the other colours x value 1 + offset.
void ReduceColorHalos(TFilterCall& c);

// 19 "CIELAB Helligkeit + Kontrast": brightness (value 1), contrast (value 2)
// and saturation (value 3 %) in L*a*b* of squared units above black; neutral
// settings return the image. All three planes are written.
void AdjustCielab(TFilterCall& c);

}  // namespace astrelon
