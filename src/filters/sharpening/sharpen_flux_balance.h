#pragma once
// The flux balance of both iterative sharpenings ("PSF schärfen" in its linear
// form and "Iteratives Gauss schärfen"). Their noise protection (the fade by
// height, the soft step, the floors at lo and hi) takes the large brightening
// a faint star's core asks for in part, but the small darkening its wings and
// the sky around them ask for hardly at all, and the light of the wings below
// hi cannot leave: a star whose peak is a few tens of the noise gains a tenth
// of its flux and more over the iterations.
//
// The balance lets the protection decide how far a star sharpens, and makes
// the darkening around it keep pace. After an iteration's application, with
// the plain linear step's change L (neither faded, softened nor floored) and
// the change M made:
//
//   heights  h = destination - lo (before the application) where the
//            destination blurred with the PSF stands above hi (a star's
//            pixels), else 0;
//   rate     k = Gw * (h·max(M, 0)) / Gw * (h·max(L, 0)), within 0..1: how much
//            of the brightening asked for the star's pixels took;
//   withheld N = (k·L - M) / (Gn * h) where the blurred heights exceed `least`;
//   give back: destination += h·(Gn * N), not below lo.
//
// Gn is a Gaussian as wide as the PSF, Gw one twice as wide (reaching from a
// star's core to the ring around it); both are symmetric and sum to 1, so the
// light given back equals the light withheld (up to the rectangle's edges),
// and around a star the iteration moves k times the light of the linear step:
// none is added or lost. A star's pixels may so fall below hi (never below lo),
// where the floors alone would keep its light; plain sky holds no height and
// keeps the protection as it is.
#include <cstdint>
#include <vector>

#include "kernels/gauss/filter_poll.h"
#include "platform/vector_lanes.h"
#include "store/image_store.h"

namespace astrelon {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

// The height a pixel of the destination d offers where its blur b stands above
// hi (lane by lane for a vector).
template <class V>
[[gnu::always_inline]] inline V BalanceHeight(V d, V b, float lo, float hi) {
  const V zero = simd::Splat<V>(0.0f);
  const V h = d - simd::Splat<V>(lo);
  // Blank and NaN values fail both comparisons.
  return (b > simd::Splat<V>(hi)) & (h > zero) ? h : zero;
}

#pragma GCC diagnostic pop

// The balance's arrays, one value per pixel of the working rectangle (row by
// row, the rectangle's width per row). The sharpening fills Height before its
// application, Wanted (L) and Made (M) during it, 0 where nothing can change.
class TFluxBalance {
public:
  explicit TFluxBalance(const TWorkRect& rect);

  float* Height() { return height_.data(); }
  float* Wanted() { return wanted_.data(); }
  float* Made() { return made_.data(); }
  int32_t Columns() const { return columns_; }

  // The steps after the application: the destination plane (`width` columns,
  // the rectangle in image coordinates) gets the light withheld back. `radius`
  // is Gn's (a Gauss radius; Gw's is twice it), `least` one step of the range.
  // False when the poll stopped it.
  bool GiveBack(float* destination, int32_t width, float radius, float lo, float least, const TFilterPoll& poll);

private:
  TWorkRect rect_;
  int32_t columns_ = 0, rows_ = 0;
  std::vector<float> height_, wanted_, made_, rateMade_, rateWanted_, sums_;
};

}  // namespace astrelon
