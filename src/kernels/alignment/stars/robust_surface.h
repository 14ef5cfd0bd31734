#pragma once
// A smooth surface (a plane, or a polynomial up to the third degree) through
// samples around a star, fitted so that other light among them (a star, a
// hot pixel, a galaxy's core) does not pull it: from the samples' median
// level, by least squares over the samples within three robust deviations of
// the last fit, again and again.
#include <array>
#include <span>
#include <vector>

namespace astrelon {

struct TSurfaceSample {
  double Dx, Dy, V;  // the place relative to the star, the value
};

struct TRobustSurface {
  static constexpr int MostTerms = 10;
  // The polynomial's terms in (dx, dy) / Scale: 1, u, v, then u², uv, v²,
  // then u³, u²v, uv², v³; the first `Terms` of them.
  int Terms = 3;
  double Scale = 1;
  std::array<double, MostTerms> K{};
  // Whether every pass found enough samples and solved.
  bool Complete = false;
  double At(double dx, double dy) const;
  // The surface less its level: the change from the star's place.
  double Rise(double dx, double dy) const;
};

// The samples' surface of `terms` terms (3, 6 or 10) after `passes` passes; a
// deviation counts at least `floor`, and a pass needs `least` samples. An
// incomplete fit keeps what the last complete pass gave (at first the median
// level).
TRobustSurface FitRobustSurface(std::span<const TSurfaceSample> samples, int terms, double scale, double floor,
                                int passes, int least);

}  // namespace astrelon
