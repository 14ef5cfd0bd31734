#include "kernels/alignment/stars/box_stars.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numbers>

#include "kernels/alignment/stars/blend_fit.h"
#include "kernels/alignment/stars/robust_surface.h"
#include "store/image_slot.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

constexpr double NoMean = std::numeric_limits<double>::quiet_NaN();
// The window's radius.
constexpr int32_t Radius = 1;
// Peaks this close may be one star's top.
constexpr int32_t OneStar = 4;
// How far the peak pixel may lie from the window's peak, uphill.
constexpr int32_t PeakPixelReach = 15;
// The rings, in squared pixels.
constexpr int32_t RingIn = 4 * 4, RingOut = 7 * 7, OuterIn = 8 * 8, OuterOut = 12 * 12;
constexpr int32_t RingReach = 12;

// How many pixels lie d pixels from the centre with lo <= d² <= hi.
constexpr size_t RingCount(int32_t lo, int32_t hi) {
  size_t n = 0;
  for (int32_t dy = -RingReach; dy <= RingReach; ++dy)
    for (int32_t dx = -RingReach; dx <= RingReach; ++dx) n += dx * dx + dy * dy >= lo && dx * dx + dy * dy <= hi;
  return n;
}
constexpr size_t RingSamples = RingCount(RingIn, RingOut), OuterSamples = RingCount(OuterIn, OuterOut);
static_assert(OuterSamples >= RingSamples);

// The offsets of the rings' pixels in row order: the inner ring's, then the
// outer one's.
struct TRingOffsets {
  std::array<std::array<int8_t, 2>, RingSamples> Inner{};
  std::array<std::array<int8_t, 2>, OuterSamples> Outer{};
};
constexpr TRingOffsets MakeRingOffsets() {
  TRingOffsets r;
  size_t i = 0, o = 0;
  for (int32_t dy = -RingReach; dy <= RingReach; ++dy)
    for (int32_t dx = -RingReach; dx <= RingReach; ++dx) {
      const int32_t d2 = dx * dx + dy * dy;
      if (d2 >= RingIn && d2 <= RingOut) r.Inner[i++] = {int8_t(dx), int8_t(dy)};
      if (d2 >= OuterIn && d2 <= OuterOut) r.Outer[o++] = {int8_t(dx), int8_t(dy)};
    }
  return r;
}
constexpr TRingOffsets RingOffsets = MakeRingOffsets();

// The median of the samples' values (of an even count the upper middle one).
double MedianValue(std::span<const TSurfaceSample> samples) {
  if (samples.size() > OuterSamples) {
    std::vector<double> values;
    for (const TSurfaceSample& s : samples) values.push_back(s.V);
    return Median(std::move(values));
  }
  std::array<double, OuterSamples> values{};
  for (size_t k = 0; k < samples.size(); ++k) values[k] = samples[k].V;
  const auto mid = values.begin() + std::ptrdiff_t(samples.size() / 2);
  std::nth_element(values.begin(), mid, values.begin() + std::ptrdiff_t(samples.size()));
  return *mid;
}

TWorkRect Cut(const TWorkRect& r, int32_t width, int32_t height) {
  return {std::max(r.x1, 0), std::min(r.x2, width - 1), std::max(r.y1, 0), std::min(r.y2, height - 1)};
}

bool Empty(const TWorkRect& r) { return r.x2 < r.x1 || r.y2 < r.y1; }

// The plane through a ring's samples about the star (robust: other light in
// the ring does not pull it).
std::array<double, 3> RingPlane(std::span<const TSurfaceSample> samples, double noise) {
  const TRobustSurface plane = FitRobustSurface(samples, 3, 1, noise / 3, 3, 8);
  return {plane.K[0], plane.K[1], plane.K[2]};
}

// A window's weight at offset d of radius r: on a colour mosaic the window's
// first and last lines count half, so that each site of a 2 x 2 pattern has
// the same weight wherever the window is centred.
double AxisWeight(int32_t d, int32_t r, bool mosaic) { return mosaic && std::abs(d) == r ? 0.5 : 1.0; }

}  // namespace

TStarField::TStarField(std::span<const float> plane, int32_t width, int32_t height, const TWorkRect& area, bool mosaic,
                       double noise, const TForeignPixels& foreign)
    : area_(Cut(area, width, height)), mosaic_(mosaic), noise_(noise) {
  outer_ = Cut(GrownRect(area_, Radius), width, height);
  if (Empty(area_) || plane.size() < size_t(width) * size_t(height)) {
    area_ = {0, -1, 0, -1};
    return;
  }
  pixels_.resize(size_t(outer_.x2 - outer_.x1 + 1) * size_t(outer_.y2 - outer_.y1 + 1));
  hit_.assign(pixels_.size(), 0);
  for (int32_t y = outer_.y1; y <= outer_.y2; ++y)
    for (int32_t x = outer_.x1; x <= outer_.x2; ++x) {
      const float v = plane[size_t(y) * size_t(width) + size_t(x)];
      const std::optional<float> standIn = foreign.Of(x, y);
      pixels_[Index(outer_, x, y)] = standIn ? *standIn : IsValidPixel(v) && std::isfinite(v) ? v : BlankPixel;
      hit_[Index(outer_, x, y)] = standIn.has_value();
    }
  for (int32_t y = outer_.y1; y <= outer_.y2; ++y)
    for (int32_t x = outer_.x1; x <= outer_.x2; ++x) {
      if (hit_[Index(outer_, x, y)] || !IsValidPixel(pixels_[Index(outer_, x, y)]) ||
          MayBeHit(plane, width, height, x, y, noise) == THitTop::None)
        continue;
      const TForeignPixels set = HitPixels(plane, width, height, x, y, noise, mosaic);
      for (size_t k = 0; k < set.At.size(); ++k) {
        const auto [i, j] = set.At[k];
        hits_.At.push_back(set.At[k]), hits_.StandIn.push_back(set.StandIn[k]);
        if (InRect(outer_, i, j) && !hit_[Index(outer_, i, j)])
          pixels_[Index(outer_, i, j)] = set.StandIn[k], hit_[Index(outer_, i, j)] = 1;
      }
    }
  // The noise here: of the differences of pixels a site apart (robust), when
  // it is larger than the plane's (the plane's noise may be that of a
  // quieter part of it).
  {
    const int32_t step = mosaic ? 2 : 1;
    std::vector<double> d;
    for (int32_t y = outer_.y1; y <= outer_.y2; ++y)
      for (int32_t x = outer_.x1; x + step <= outer_.x2; ++x) {
        const float a = D(x, y), b = D(x + step, y);
        if (IsValidPixel(a) && IsValidPixel(b)) d.push_back(double(b) - a);
      }
    if (d.size() >= 16) {
      const double middle = Median(d);
      for (double& v : d) v = std::fabs(v - middle);
      noise_ = std::max(noise_, 1.4826 * Median(d) / std::numbers::sqrt2);
    }
  }
  means_.assign(size_t(area_.x2 - area_.x1 + 1) * size_t(area_.y2 - area_.y1 + 1), NoMean);
  for (int32_t y = area_.y1; y <= area_.y2; ++y)
    for (int32_t x = area_.x1; x <= area_.x2; ++x) {
      if (!mosaic && x > outer_.x1 && x < outer_.x2 && y > outer_.y1 && y < outer_.y2) {
        // The whole window within the pixels, each of weight 1: the same sum
        // in the same order, read straight along the rows.
        const float* row = &pixels_[Index(outer_, x - 1, y - 1)];
        const size_t stride = size_t(outer_.x2 - outer_.x1 + 1);
        double sum = 0, weights = 0;
        for (int32_t j = 0; j < 3; ++j, row += stride)
          for (int32_t i = 0; i < 3; ++i)
            if (IsValidPixel(row[i])) {
              sum += 1.0 * row[i];
              weights += 1.0;
            }
        if (weights > 0) means_[Index(area_, x, y)] = sum / weights;
        continue;
      }
      double sum = 0, weights = 0;
      for (int32_t j = std::max(y - Radius, outer_.y1); j <= std::min(y + Radius, outer_.y2); ++j)
        for (int32_t i = std::max(x - Radius, outer_.x1); i <= std::min(x + Radius, outer_.x2); ++i) {
          const float v = D(i, j);
          if (!IsValidPixel(v)) continue;
          const double w = AxisWeight(i - x, Radius, mosaic) * AxisWeight(j - y, Radius, mosaic);
          sum += w * v;
          weights += w;
        }
      if (weights > 0) means_[Index(area_, x, y)] = sum / weights;
    }
}

std::optional<double> TStarField::Mean(int32_t x, int32_t y) const {
  if (Empty(area_) || !InRect(area_, x, y) || std::isnan(M(x, y))) return std::nullopt;
  return M(x, y);
}

bool TStarField::HitWithin(int32_t x, int32_t y, int32_t r) const {
  for (int32_t j = std::max(y - r, outer_.y1); j <= std::min(y + r, outer_.y2); ++j)
    for (int32_t i = std::max(x - r, outer_.x1); i <= std::min(x + r, outer_.x2); ++i)
      if (hit_[Index(outer_, i, j)]) return true;
  return false;
}

bool TStarField::LocalPeak(int32_t x, int32_t y) const {
  const double m = M(x, y);
  if (std::isnan(m)) return false;
  if (x > area_.x1 && x < area_.x2 && y > area_.y1 && y < area_.y2) {
    // All eight neighbours in the area, read along the rows (a NaN one never
    // wins, as below).
    const double* p = &means_[Index(area_, x, y)];
    const ptrdiff_t s = area_.x2 - area_.x1 + 1;
    if (p[-s - 1] >= m || p[-s] >= m || p[-s + 1] >= m || p[-1] >= m) return false;
    return !(p[1] > m || p[s - 1] > m || p[s] > m || p[s + 1] > m);
  }
  for (int32_t j = y - 1; j <= y + 1; ++j)
    for (int32_t i = x - 1; i <= x + 1; ++i) {
      if ((i == x && j == y) || !InRect(area_, i, j)) continue;
      const double n = M(i, j);
      // A plateau (a saturated top) has its first pixel in row order as peak.
      const bool earlier = j < y || (j == y && i < x);
      if (n > m || (earlier && n == m)) return false;
    }
  return true;
}

TStarCandidate TStarField::Test(int32_t x, int32_t y) const {
  // Each peak is tested once.
  if (tested_.empty()) tested_.assign(means_.size(), -1);
  int32_t& known = tested_[Index(area_, x, y)];
  if (known < 0) known = int32_t(candidates_.size()), candidates_.push_back(TestAnew(x, y));
  return candidates_[size_t(known)];
}

TStarCandidate TStarField::TestAnew(int32_t x, int32_t y) const {
  TStarCandidate c;
  c.X = c.PeakX = x;
  c.Y = c.PeakY = y;
  c.Window = M(x, y);
  c.Top = c.Window;
  c.MidX = x;
  c.MidY = y;
  // A flat top (saturated): its middle, and how far it reaches from there.
  double topReach = 0;
  bool flat = false;
  for (int32_t j = y - 1; j <= y + 1; ++j)
    for (int32_t i = x - 1; i <= x + 1; ++i)
      flat = flat || ((i != x || j != y) && InRect(area_, i, j) && M(i, j) == c.Window);
  if (flat) {
    std::vector<std::pair<int32_t, int32_t>> top{{x, y}};
    for (size_t k = 0; k < top.size() && top.size() < 625; ++k) {
      const auto [tx, ty] = top[k];
      for (int32_t j = ty - 1; j <= ty + 1; ++j)
        for (int32_t i = tx - 1; i <= tx + 1; ++i)
          if (InRect(area_, i, j) && M(i, j) == c.Window &&
              std::find(top.begin(), top.end(), std::pair(i, j)) == top.end())
            top.push_back({i, j});
    }
    double sx = 0, sy = 0;
    for (const auto& [tx, ty] : top) sx += tx, sy += ty;
    c.MidX = sx / double(top.size());
    c.MidY = sy / double(top.size());
    for (const auto& [tx, ty] : top) topReach = std::max(topReach, std::hypot(tx - c.MidX, ty - c.MidY));
  }
  if (!mosaic_) {
    // The brightest pixel of the window's middle, then uphill pixel by pixel.
    float best = -std::numeric_limits<float>::infinity();
    // A hit pixel taken down is not the peak.
    const auto offer = [&](int32_t i, int32_t j) {
      if (!InRect(outer_, i, j) || !IsValidPixel(D(i, j)) || !(D(i, j) > best) || hit_[Index(outer_, i, j)]) return;
      best = D(i, j);
      c.PeakX = i;
      c.PeakY = j;
    };
    for (int32_t j = y - 1; j <= y + 1; ++j)
      for (int32_t i = x - 1; i <= x + 1; ++i) offer(i, j);
    for (int32_t step = 0; step < PeakPixelReach; ++step) {
      const int32_t cx = c.PeakX, cy = c.PeakY;
      for (int32_t j = cy - 1; j <= cy + 1; ++j)
        for (int32_t i = cx - 1; i <= cx + 1; ++i) offer(i, j);
      if (c.PeakX == cx && c.PeakY == cy) break;
    }
    c.Top = best;
  }
  // The rings' window means, in the order the planes through them take them,
  // around the peak pixel; around a saturated top of a pixel's reach or more,
  // around its middle and as much further out as the top reaches (its rings
  // would lie on the clipped core).
  // The height above the inner ring's median reaches four noise levels only
  // when more than half of the ring lies that far below the window mean: the
  // noise's own peaks, most of the local peaks, fail here, before the rest is
  // read.
  const bool wide = topReach >= 1;
  const int32_t rx = wide ? int32_t(std::nearbyint(c.MidX)) : c.PeakX;
  const int32_t ry = wide ? int32_t(std::nearbyint(c.MidY)) : c.PeakY;
  std::vector<TSurfaceSample> wideInner, wideOuter;
  std::array<TSurfaceSample, RingSamples> inner;
  std::array<TSurfaceSample, OuterSamples> outerSamples;
  size_t nInner = 0, nOuter = 0, below = 0;
  if (wide) {
    const double in = 2 + topReach, reach = RingReach + topReach;
    const auto within = [](double d, double lo, double hi) { return d >= lo && d <= hi; };
    for (int32_t dy = -int32_t(reach); dy <= int32_t(reach); ++dy)
      for (int32_t dx = -int32_t(reach); dx <= int32_t(reach); ++dx) {
        const double d = std::hypot(dx, dy);
        const int32_t i = rx + dx, j = ry + dy;
        if (!InRect(area_, i, j) || std::isnan(M(i, j))) continue;
        if (within(d, in + 2, in + 5)) wideInner.push_back({double(dx), double(dy), M(i, j)});
        if (within(d, in + 6, reach)) wideOuter.push_back({double(dx), double(dy), M(i, j)});
      }
    nInner = wideInner.size();
    nOuter = wideOuter.size();
    for (const TSurfaceSample& r : wideInner) below += c.Window - r.V >= 4 * noise_;
  } else {
    const bool inside = InRect(area_, rx - RingReach, ry - RingReach) && InRect(area_, rx + RingReach, ry + RingReach);
    if (inside) {
      // At a glance first: the noise's peaks fail before their rings are kept.
      const double* at = &means_[Index(area_, rx, ry)];
      const ptrdiff_t stride = area_.x2 - area_.x1 + 1;
      size_t n = 0, low = 0;
      for (const auto& [dx, dy] : RingOffsets.Inner) {
        const double m = at[dy * stride + dx];
        n += !std::isnan(m);
        low += c.Window - m >= 4 * noise_;
      }
      if (n > 0 && low < n / 2 + 1) {
        c.Ring = c.Outer = c.Window;
        return c;
      }
    }
    for (const auto& [dx, dy] : RingOffsets.Inner) {
      const int32_t i = rx + dx, j = ry + dy;
      if (!inside && !InRect(area_, i, j)) continue;
      const double m = M(i, j);
      if (std::isnan(m)) continue;
      inner[nInner++] = {double(dx), double(dy), m};
      below += c.Window - m >= 4 * noise_;
    }
  }
  if (nInner > 0 && below < nInner / 2 + 1) {
    c.Ring = c.Outer = c.Window;
    return c;
  }
  if (!wide) {
    const bool inside = InRect(area_, rx - RingReach, ry - RingReach) && InRect(area_, rx + RingReach, ry + RingReach);
    for (const auto& [dx, dy] : RingOffsets.Outer) {
      const int32_t i = rx + dx, j = ry + dy;
      if (!inside && !InRect(area_, i, j)) continue;
      const double m = M(i, j);
      if (!std::isnan(m)) outerSamples[nOuter++] = {double(dx), double(dy), m};
    }
  }
  const std::span<const TSurfaceSample> innerRing = wide ? std::span<const TSurfaceSample>(wideInner)
                                                          : std::span<const TSurfaceSample>(inner.data(), nInner);
  const std::span<const TSurfaceSample> outerRing =
      wide ? std::span<const TSurfaceSample>(wideOuter) : std::span<const TSurfaceSample>(outerSamples.data(), nOuter);
  c.Ring = nInner == 0 ? c.Window : MedianValue(innerRing);
  c.Outer = nOuter == 0 ? c.Ring : MedianValue(outerRing);
  c.Star = c.Height() >= 4 * noise_ && c.Height() >= 2 * (c.Ring - c.Outer);

  if (!c.Star) return c;
  // The planes through the inner ring (the level the star stands on) and
  // the outer one (the gradient the star lies on: its own light does not
  // reach that far, another object's light only a few of the ring's pixels).
  const std::array<double, 3> plane = RingPlane(innerRing, noise_);
  const std::array<double, 3> far = RingPlane(outerRing, noise_);
  c.Slope = std::hypot(far[1], far[2]);
  const auto residual = [&](int32_t i, int32_t j) {
    return M(i, j) - (plane[0] + plane[1] * (i - rx) + plane[2] * (j - ry));
  };
  const double height = residual(x, y);
  // The area above half the height, grown from the peak without climbing
  // (beyond the noise) towards another object.
  const double half = 0.5 * height;
  constexpr int32_t Side = 2 * RingReach + 1;
  std::array<uint8_t, Side * Side> seen{};
  const auto mark = [&](int32_t i, int32_t j) -> uint8_t& {
    return seen[size_t((j - y + RingReach) * Side + (i - x + RingReach))];
  };
  std::vector<std::pair<int32_t, int32_t>> todo{{x, y}};
  mark(x, y) = 1;
  int64_t area = 0;
  while (!todo.empty()) {
    const auto [px, py] = todo.back();
    todo.pop_back();
    ++area;
    for (int32_t j = py - 1; j <= py + 1; ++j)
      for (int32_t i = px - 1; i <= px + 1; ++i) {
        if (!InRect(area_, i, j) || std::abs(i - x) > RingReach || std::abs(j - y) > RingReach || mark(i, j)) continue;
        if (std::isnan(M(i, j)) || residual(i, j) < half || residual(i, j) > residual(px, py) + noise_) continue;
        mark(i, j) = 1;
        todo.push_back({i, j});
      }
  }
  c.Flux = std::max(height, 0.0) * double(area) / std::numbers::ln2;
  // The window widens the star by its own variance.
  double w = 0, wx2 = 0;
  for (int32_t d = -Radius; d <= Radius; ++d) {
    w += AxisWeight(d, Radius, mosaic_);
    wx2 += AxisWeight(d, Radius, mosaic_) * d * d;
  }
  const double spread = double(area) / (2 * std::numbers::pi * std::numbers::ln2);
  c.Sigma = std::sqrt(std::max(spread - wx2 / w, 0.25));
  return c;
}

std::vector<TStarCandidate> TStarField::Candidates(const TWorkRect& within) const {
  std::vector<TStarCandidate> found;
  if (Empty(area_)) return found;
  const TWorkRect near = Cut(GrownRect(within, 3), area_.x2 + 1, area_.y2 + 1);
  for (int32_t y = std::max(near.y1, area_.y1); y <= near.y2; ++y)
    for (int32_t x = std::max(near.x1, area_.x1); x <= near.x2; ++x) {
      if (!LocalPeak(x, y)) continue;
      const TStarCandidate c = Test(x, y);
      if (InRect(within, c.PeakX, c.PeakY)) found.push_back(c);
    }
  // Two peaks without a dip between them deeper than the noise are one
  // star's top; the higher stays.
  const auto oneTop = [&](const TStarCandidate& a, const TStarCandidate& b) {
    const int32_t dx = b.X - a.X, dy = b.Y - a.Y;
    if (dx * dx + dy * dy > OneStar * OneStar) return false;
    const int32_t steps = std::max(std::abs(dx), std::abs(dy));
    double low = std::min(a.Window, b.Window);
    for (int32_t k = 1; k < steps; ++k) {
      const int32_t x = a.X + int32_t(std::nearbyint(double(dx) * k / steps));
      const int32_t y = a.Y + int32_t(std::nearbyint(double(dy) * k / steps));
      if (!std::isnan(M(x, y))) low = std::min(low, M(x, y));
    }
    return std::min(a.Window, b.Window) - low < noise_;
  };
  std::vector<TStarCandidate> kept;
  for (const TStarCandidate& c : found) {
    bool highest = true;
    for (const TStarCandidate& o : found)
      highest = highest && !(&o != &c && (o.Window > c.Window || (o.Window == c.Window && &o < &c)) && oneTop(o, c));
    if (highest) kept.push_back(c);
  }
  return kept;
}

std::optional<TStarCandidate> TStarField::CandidateAt(int32_t x, int32_t y) const {
  if (Empty(area_) || !InRect(area_, x, y) || !LocalPeak(x, y)) return std::nullopt;
  return Test(x, y);
}

std::optional<TStarCandidate> TStarField::Climb(int32_t x, int32_t y) const {
  if (Empty(area_) || !InRect(area_, x, y) || std::isnan(M(x, y))) return std::nullopt;
  for (;;) {
    int32_t bx = x, by = y;
    for (int32_t j = y - 1; j <= y + 1; ++j)
      for (int32_t i = x - 1; i <= x + 1; ++i)
        if (InRect(area_, i, j) && M(i, j) > M(bx, by)) bx = i, by = j;
    if (bx == x && by == y) return Test(x, y);
    x = bx;
    y = by;
  }
}

}  // namespace astrelon
