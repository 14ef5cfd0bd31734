#include "filters/sharpening/psf/psf_centring.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "filters/sharpening/psf/find_psf_extent.h"
#include "filters/sharpening/psf/psf_star_check.h"
#include "shell/stars/star_cutout_min_max.h"
#include "store/image_slot.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {

namespace {

constexpr int Centre = 15, Taps = 6, Rounds = 16;
// How far from index 15 (either way) the star's peak is looked for.
constexpr int PeakSearch = 3;
// The offset below which a plane stays as it is, the step at which its centre
// has settled, and the farthest a centre may lie from index 15 (pixels).
constexpr double Centred = 1e-3, Settled = 1e-5, Wander = 4.0;
// A gradient that changes a plane across the cutout by less than this part of
// its largest magnitude is left in.
constexpr double Negligible = 1e-6;

// The kernel's weights for a sample at `pos` (pixels): taps first .. first + 5.
struct TAxisTaps {
  int First = 0;
  std::array<double, Taps> W{};
  double Sum = 0;
};

TAxisTaps AxisTaps(double pos) {
  TAxisTaps t;
  t.First = int(std::floor(pos)) - Taps / 2 + 1;
  for (int k = 0; k < Taps; ++k) {
    t.W[size_t(k)] = KernelWeight(IkLanczos3, float(pos - (t.First + k)));
    t.Sum += t.W[size_t(k)];
  }
  return t;
}

// Takes the sky's gradient off each plane of the picked PSF.
void TakeOffGradient(TStarCutout& psf) {
  for (int plane = 1; plane <= std::clamp(psf.PlaneCount, 1, 3); ++plane) {
    const TPsfFrame sky = PsfFrameOf(psf, plane);
    const double least = Negligible * std::fabs(psf.PlaneMax[size_t(plane)]) / StarCutoutSize;
    if (std::fabs(sky.Gx) <= least && std::fabs(sky.Gy) <= least) continue;
    for (int y = 0; y < StarCutoutSize; ++y)
      for (int x = 0; x < StarCutoutSize; ++x) {
        float& v = psf.At(plane, x, y);
        if (IsValidPixel(v)) v = float(v - sky.Gx * (x - Centre) - sky.Gy * (y - Centre));
      }
  }
  CutoutMinMax(psf);
}

// Centres the picked star's weights above threshold(psf, plane) of each plane
// of `psf` (PsfStarCentre, the rise allowed `rise` of the plane) within the
// support of `picked` as it stands after each round. A shift moves
// the centre by about as much (more where the taps above the threshold change
// with it): each axis's next shift is the secant's through the last two. The
// taps that cross the threshold as a narrow star moves make the centre jump:
// each plane keeps the shift whose centre came nearest.
template <class Threshold>
void CentreWeights(TStarCutout& psf, const TStarCutout& picked, Threshold threshold, const std::array<float, 4>& rise) {
  const TStarCutout given = psf;
  const int planes = std::clamp(psf.PlaneCount, 1, 3);
  struct TAxis {
    double Shift = 0, Centre = 0, Gain = 1;
    // The next shift from the centre `c` found at the current one.
    double Next(double c, bool first) {
      if (!first && Shift != Last) Gain = std::clamp((Centre - c) / (Shift - Last), 0.5, 2.0);
      Last = Shift;
      Centre = c;
      return Shift + c / Gain;
    }
    double Last = 0;
  };
  std::array<std::array<TAxis, 2>, 4> axes{};
  std::array<bool, 4> moving{false, true, true, true};
  // Per plane the shift with the nearest centre, and how near.
  std::array<TPsfOffset, 4> best{};
  std::array<double, 4> nearest{};
  for (int round = 0; round < Rounds; ++round) {
    TRectI extent;
    FindPsfExtent(picked, extent);
    bool any = false;
    for (int plane = 1; plane <= planes; ++plane) {
      if (!moving[size_t(plane)]) continue;
      const TPsfOffset c = PsfStarCentre(psf, plane, extent, threshold(psf, plane), rise[size_t(plane)]);
      const double off = std::max(std::fabs(c.X), std::fabs(c.Y));
      std::array<TAxis, 2>& a = axes[size_t(plane)];
      if (round == 0 || off < nearest[size_t(plane)]) {
        best[size_t(plane)] = {a[0].Shift, a[1].Shift};
        nearest[size_t(plane)] = off;
      }
      // A plane centred as given stays; a centre that wanders off is noise's.
      if ((round == 0 && off < Centred) || off < Settled) {
        moving[size_t(plane)] = false;
        continue;
      }
      const TPsfOffset next{a[0].Next(c.X, round == 0), a[1].Next(c.Y, round == 0)};
      if (std::hypot(next.X, next.Y) > Wander) {
        moving[size_t(plane)] = false;
        continue;
      }
      a[0].Shift = next.X;
      a[1].Shift = next.Y;
      ShiftCutoutPlane(given, psf, plane, next);
      any = true;
    }
    CutoutMinMax(psf);
    if (!any) break;
  }
  for (int plane = 1; plane <= planes; ++plane) {
    const std::array<TAxis, 2>& a = axes[size_t(plane)];
    const TPsfOffset& b = best[size_t(plane)];
    if (b.X != a[0].Shift || b.Y != a[1].Shift) {
      if (b.X == 0 && b.Y == 0)
        psf.Planes[size_t(plane - 1)] = given.Planes[size_t(plane - 1)];
      else
        ShiftCutoutPlane(given, psf, plane, b);
    }
  }
  CutoutMinMax(psf);
}

}  // namespace

TPsfOffset PsfWeightCentre(const TStarCutout& cutout, int plane, const TRectI& extent, float threshold) {
  double sum = 0, x = 0, y = 0;
  for (int j = extent.Top; j <= extent.Bottom; ++j)
    for (int i = extent.Left; i <= extent.Right; ++i) {
      const float v = cutout.At(plane, i, j);
      if (!IsValidPixel(v) || !(std::fabs(v) > threshold)) continue;
      sum += v;
      x += double(v) * (i - Centre);
      y += double(v) * (j - Centre);
    }
  if (!(sum > 0)) return {};
  return {x / sum, y / sum};
}

void ShiftCutoutPlane(const TStarCutout& from, TStarCutout& to, int plane, const TPsfOffset& shift) {
  std::array<float, StarCutoutSize * StarCutoutSize> out{};
  for (int y = 0; y < StarCutoutSize; ++y) {
    const TAxisTaps ty = AxisTaps(y + shift.Y);
    for (int x = 0; x < StarCutoutSize; ++x) {
      const TAxisTaps tx = AxisTaps(x + shift.X);
      double sum = 0, weight = 0;
      for (int b = 0; b < Taps; ++b) {
        const int yy = ty.First + b;
        if (yy < 0 || yy >= StarCutoutSize) continue;
        for (int a = 0; a < Taps; ++a) {
          const int xx = tx.First + a;
          if (xx < 0 || xx >= StarCutoutSize) continue;
          const float v = from.At(plane, xx, yy);
          if (!IsValidPixel(v)) continue;
          const double w = ty.W[size_t(b)] * tx.W[size_t(a)];
          sum += w * v;
          weight += w;
        }
      }
      out[size_t(y * StarCutoutSize + x)] = weight >= 0.5 * tx.Sum * ty.Sum ? float(sum / weight) : BlankPixel;
    }
  }
  to.Planes[size_t(plane - 1)] = out;
}

TStarMask PsfStarPixels(const TStarCutout& cutout, int plane, const TRectI& extent, float threshold, float rise) {
  TStarMask star{};
  // The largest value near the middle.
  int px = Centre, py = Centre;
  float top = -HUGE_VALF;
  for (int y = Centre - PeakSearch; y <= Centre + PeakSearch; ++y)
    for (int x = Centre - PeakSearch; x <= Centre + PeakSearch; ++x) {
      const float v = cutout.At(plane, x, y);
      if (IsValidPixel(v) && v > top) {
        top = v;
        px = x;
        py = y;
      }
    }
  if (!IsValidPixel(top)) return star;
  std::array<int, StarCutoutSize * StarCutoutSize> stack{};
  size_t count = 0;
  stack[count++] = py * StarCutoutSize + px;
  star[size_t(py * StarCutoutSize + px)] = 1;
  while (count > 0) {
    const int i = stack[--count];
    const int x = i % StarCutoutSize, y = i / StarCutoutSize;
    const float from = cutout.At(plane, x, y) + rise;
    const int next[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
    for (const auto& n : next) {
      if (n[0] < extent.Left || n[1] < extent.Top || n[0] > extent.Right || n[1] > extent.Bottom) continue;
      const int k = n[1] * StarCutoutSize + n[0];
      const float v = cutout.At(plane, n[0], n[1]);
      if (star[size_t(k)] || !IsValidPixel(v) || !(std::fabs(v) > threshold) || !(v <= from)) continue;
      star[size_t(k)] = 1;
      stack[count++] = k;
    }
  }
  return star;
}

double PsfStarReach(const TStarCutout& cutout, int plane, const TRectI& extent, float threshold, float rise) {
  const TStarMask star = PsfStarPixels(cutout, plane, extent, threshold, rise);
  // The disc around index 15 that holds none of the other light above the
  // threshold (all of them for a star alone): a window as symmetric as the
  // star, whose weights centre on it.
  double reach2 = HUGE_VAL;
  for (int j = extent.Top; j <= extent.Bottom; ++j)
    for (int i = extent.Left; i <= extent.Right; ++i) {
      const float v = cutout.At(plane, i, j);
      if (!star[size_t(j * StarCutoutSize + i)] && IsValidPixel(v) && std::fabs(v) > threshold)
        reach2 = std::min(reach2, double((i - Centre) * (i - Centre) + (j - Centre) * (j - Centre)));
    }
  return reach2;
}

TPsfOffset PsfStarCentre(const TStarCutout& cutout, int plane, const TRectI& extent, float threshold, float rise) {
  const double reach2 = PsfStarReach(cutout, plane, extent, threshold, rise);
  double sum = 0, x = 0, y = 0;
  for (int j = extent.Top; j <= extent.Bottom; ++j)
    for (int i = extent.Left; i <= extent.Right; ++i) {
      const float v = cutout.At(plane, i, j);
      if (!IsValidPixel(v) || !(std::fabs(v) > threshold) ||
          !(double((i - Centre) * (i - Centre) + (j - Centre) * (j - Centre)) < reach2))
        continue;
      sum += v;
      x += double(v) * (i - Centre);
      y += double(v) * (j - Centre);
    }
  if (!(sum > 0)) return {};
  return {x / sum, y / sum};
}

void IsolatePsfStar(TStarCutout& psf, int plane, const TRectI& extent, float threshold, float rise) {
  const TStarMask star = PsfStarPixels(psf, plane, extent, threshold, rise);
  for (int j = extent.Top; j <= extent.Bottom; ++j)
    for (int i = extent.Left; i <= extent.Right; ++i) {
      float& v = psf.At(plane, i, j);
      if (!star[size_t(j * StarCutoutSize + i)] && IsValidPixel(v) && std::fabs(v) > threshold) v = 0;
    }
}

void CentrePsfPair(TStarCutout& picked, TStarCutout& steepened) {
  TakeOffGradient(picked);
  // The rise a flank may take: three times the noise of the picked PSF's
  // frame; the steepened copy, smoothed and raised to the fourth power, a
  // hundredth of its largest value (1).
  std::array<float, 4> noise{}, hundredth{};
  for (int plane = 1; plane <= std::clamp(picked.PlaneCount, 1, 3); ++plane) {
    noise[size_t(plane)] = float(PsfStarRise * PsfFrameOf(picked, plane).Noise);
    hundredth[size_t(plane)] = 0.01f * std::fabs(steepened.PlaneMax[size_t(plane)]);
  }
  // Only the picked star's light, within the picked PSF's support.
  TRectI extent;
  FindPsfExtent(picked, extent);
  for (int plane = 1; plane <= std::clamp(picked.PlaneCount, 1, 3); ++plane) {
    IsolatePsfStar(picked, plane, extent, PsfTapThreshold(picked, plane), noise[size_t(plane)]);
    IsolatePsfStar(steepened, plane, extent, 0.04f, hundredth[size_t(plane)]);
  }
  CutoutMinMax(picked);
  CutoutMinMax(steepened);
  CentreWeights(
      picked, picked, [](const TStarCutout& p, int plane) { return PsfTapThreshold(p, plane); }, noise);
  CentreWeights(steepened, picked, [](const TStarCutout&, int) { return 0.04f; }, hundredth);
}

}  // namespace astrelon
