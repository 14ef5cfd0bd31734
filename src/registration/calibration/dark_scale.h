#pragma once
// Temperature compensation: the factor k by which a dark's thermal signal is
// scaled before it is subtracted, found as the k that leaves the image minus
// k times the dark smoothest along its rows.
#include <cstdint>
#include <functional>
#include <span>

namespace astrelon {

// The sums behind the roughness of x - k d along the sampled columns of the
// rows: for each pair of neighbouring samples in an unbroken chain, with
// dx and dd their differences in the image and the dark,
//   Sxx = sum dx², Sxd = sum dx dd, Sdd = sum dd², Count = number of pairs,
// so that sum (dx - k dd)² = Sxx - 2 k Sxd + k² Sdd for every k.
struct TDarkCostSums {
  double Sxx = 0, Sxd = 0, Sdd = 0;
  int64_t Count = 0;
  // Mean squared step of the residual minus the dark noise scaled by k
  // ((sigma k)²), at least 0; 1e18 without any pair.
  double Cost(double k, double sigma) const;
};

// The sums over `rows` rows of an image and a dark (row-major, their own widths)
// at the columns 0, 2, 4, … below `columns`. A sample whose dark value is blank
// or at or above `cutoff`, or whose image value is blank, breaks the chain.
// Rows run in bands; the row sums are added in row order, so the result does
// not depend on the number of threads.
TDarkCostSums MeasureDarkCostSums(std::span<const float> image, int32_t imageWidth, std::span<const float> dark,
                                  int32_t darkWidth, int32_t rows, int32_t columns, double cutoff, int threads);

// The search for the least cost: the factors 0.8, 1.0, 1.2 with step 0.2, thirteen
// passes that move the triple or halve the step, then the factor of least cost
// (the smallest on a tie).
double SearchDarkScale(const std::function<double(double k)>& cost);

// The dark's scale factor for the image: noise sigma = the dark's DarkRms when
// above 0, else the noise of its measuring plane (plane 2 of a colour image,
// else 1; the image is measured on its own measuring plane). Unless
// keepHotDarkPixels, dark values at or above the dark's 95 % level + 6 sigma
// (hot pixels) are left out. 1.0 when either slot is unusable.
double ComputeDarkScale(int imageSlot, int darkSlot, bool keepHotDarkPixels);

// The pieces of ComputeDarkScale, for callers that measure the dark for other
// purposes too and run the measurements side by side.
// The plane the scale is measured on: plane 2 of a colour image, else 1.
int DarkScalePlane(int slot);
// Whether both slots have the plane the scale is measured on (else the scale is 1.0).
bool DarkScaleUsable(int imageSlot, int darkSlot);
// No cut-off: every dark value takes part.
inline constexpr double NoDarkCutoff = 1e18;
// The dark values at or above this are hot pixels: the 95 % level + 6 sigma.
inline double DarkScaleCutoff(double level95, double sigma) { return level95 + 6.0 * sigma; }
// The sums on the measuring planes of usable slots, dark values at or above
// `cutoff` left out.
TDarkCostSums DarkScaleSums(int imageSlot, int darkSlot, double cutoff);
// The search on the sums with noise sigma.
inline double DarkScaleFromSums(const TDarkCostSums& sums, double sigma) {
  return SearchDarkScale([&](double k) { return sums.Cost(k, sigma); });
}

}  // namespace astrelon
