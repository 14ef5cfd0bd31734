#include "batch/align/lost_star_search.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

bool PairDistanceKept(const TAlignPoints& p) {
  const double a = std::hypot(double(p.A2x) - p.A1x, double(p.A2y) - p.A1y);
  const double b = std::hypot(double(p.B2x) - p.B1x, double(p.B2y) - p.B1y);
  return std::fabs(b - a) <= 1.5 + 0.005 * a;
}

bool PointsDoubtful(const TAlignPoints& p, int marks, double quality, const std::array<double, 2>& followedBefore,
                    const std::array<double, 2>& followedAfter) {
  if (quality < LostStarQuality) return true;
  for (int n = 0; n < marks && n < 2; ++n) {
    const double before = followedBefore[size_t(n)], after = followedAfter[size_t(n)];
    if (before > 0 && after > 0 && (after > 1.6 * before || before > 1.6 * after)) return true;
  }
  return marks == 2 && !PairDistanceKept(p);
}

namespace {

// The spread of the sky and its stars: the levels at 10 % and 99.5 % of the plane.
double LevelRange(int slot, int plane) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  TPercentileLevels l;
  GetPercentileLevels(slot, plane, 0, im.Width - 1, 0, im.Height - 1, 10, 99.5, l);
  return l.LevelB - l.LevelA;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 2), v.end());
  return v[v.size() / 2];
}

// The vertex offset (-0.5 .. 0.5) of the parabola through three costs.
double Vertex(double left, double mid, double right) {
  const double d = left - 2 * mid + right;
  return d > 0 ? std::clamp(0.5 * (left - right) / d, -0.5, 0.5) : 0.0;
}

// An area of a plane above its sky (its median), each pixel the mean of the
// valid ones of its 3 x 3 neighbourhood (NaN: none, or outside the plane),
// and the noise of those means (1.4826 times their median absolute deviation).
struct TArea {
  int32_t W = 0, H = 0;
  int64_t Valid = 0;
  double Noise = 0;
  std::vector<float> V;
  float At(int32_t x, int32_t y) const { return V[size_t(y) * size_t(W) + size_t(x)]; }
};

TArea Smoothed(const TImageSlot& im, int plane, int32_t x0, int32_t y0, int32_t w, int32_t h) {
  const std::span<const float> p = im.Plane(plane);
  const auto pixel = [&](int32_t x, int32_t y) {
    return x >= 0 && y >= 0 && x < im.Width && y < im.Height ? p[size_t(y) * size_t(im.Width) + size_t(x)] : BlankPixel;
  };
  std::vector<double> values;
  for (int32_t y = y0; y < y0 + h; ++y)
    for (int32_t x = x0; x < x0 + w; ++x)
      if (IsValidPixel(pixel(x, y))) values.push_back(pixel(x, y));
  const double sky = Median(values);
  TArea a;
  a.W = w;
  a.H = h;
  a.V.assign(size_t(w) * size_t(h), std::numeric_limits<float>::quiet_NaN());
  values.clear();
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      double sum = 0;
      int count = 0;
      for (int32_t j = -1; j <= 1; ++j)
        for (int32_t i = -1; i <= 1; ++i) {
          const float v = pixel(x0 + x + i, y0 + y + j);
          if (IsValidPixel(v)) sum += v - sky, ++count;
        }
      if (count == 0 || !IsValidPixel(pixel(x0 + x, y0 + y))) continue;
      a.V[size_t(y) * size_t(w) + size_t(x)] = float(sum / count);
      values.push_back(sum / count);
      ++a.Valid;
    }
  const double m = Median(values);
  for (double& v : values) v = std::fabs(v - m);
  a.Noise = 1.4826 * Median(values);
  return a;
}

}  // namespace

std::optional<TFloatPoint> SkyPosition(int target, int work, TFloatPoint a) {
  if (!SlotInUse(target) || !SlotInUse(work) || !(std::fabs(a.X) < 1e6f && std::fabs(a.Y) < 1e6f)) return {};
  const TImageSlot& t = Store.Image[size_t(target)];
  const TImageSlot& w = Store.Image[size_t(work)];
  const int plane = t.IsColor && w.IsColor && t.PlaneCount >= 3 && w.PlaneCount >= 3 ? 2 : 1;
  if (t.Plane(plane).size() < t.PixelCount() || w.Plane(plane).size() < w.PixelCount()) return {};
  // The block around the point, clipped to the target; the work image's area
  // that its placements cover.
  const int32_t h = LostStarBlockHalf, S = LostStarBlockHalf;
  const int32_t ax = int32_t(std::nearbyint(a.X)), ay = int32_t(std::nearbyint(a.Y));
  const int32_t x1 = std::max(ax - h, 0), x2 = std::min(ax + h, t.Width - 1);
  const int32_t y1 = std::max(ay - h, 0), y2 = std::min(ay + h, t.Height - 1);
  if (x2 - x1 < h || y2 - y1 < h) return {};
  const TArea block = Smoothed(t, plane, x1, y1, x2 - x1 + 1, y2 - y1 + 1);
  const TArea area = Smoothed(w, plane, x1 - S, y1 - S, x2 - x1 + 1 + 2 * S, y2 - y1 + 1 + 2 * S);
  if (block.Valid < 9 || area.Valid < 9) return {};
  // The contrast of the two images over their whole planes (the target may
  // hold a sum of frames), and the cap of a pixel's cost: five times the
  // smoothed noise, so that a hot pixel or a hit weighs no more than a pixel of
  // the star.
  const double range = LevelRange(target, plane), scale = range > 0 ? LevelRange(work, plane) / range : 1.0;
  const double cap = std::pow(5 * std::max(area.Noise, 1e-6), 2);
  // The block's stars: its pixels 3 smoothed noise levels above its sky. Only
  // they are compared, so that a trail or a bright patch of the work image
  // costs nothing where the block has no star.
  std::vector<int32_t> stars;
  for (int32_t y = 0; y < block.H; ++y)
    for (int32_t x = 0; x < block.W; ++x)
      if (block.At(x, y) > 3 * block.Noise) stars.push_back(y * block.W + x);
  if (stars.size() < 9) return {};
  // The mean capped cost of placement (dx, dy) over every `step`-th star pixel;
  // -1 when most of them would lie outside the work image.
  const auto placement = [&](int32_t dx, int32_t dy, size_t step) {
    double sum = 0;
    size_t pairs = 0;
    for (size_t k = 0; k < stars.size(); k += step) {
      const int32_t x = stars[k] % block.W, y = stars[k] / block.W;
      const float v = area.At(x + dx, y + dy);
      if (std::isnan(v)) continue;
      const double d = double(block.At(x, y)) * scale - v;
      sum += std::min(d * d, cap);
      ++pairs;
    }
    return 2 * pairs * step >= stars.size() ? sum / double(pairs) : -1.0;
  };
  // Every placement on every second pixel (the means are smooth), then the
  // 5 x 5 placements around the best on every pixel.
  const int32_t n = 2 * S + 1;
  std::vector<double> coarse;
  int32_t cx = -1, cy = -1;
  double least = 0;
  for (int32_t dy = 0; dy < n; ++dy)
    for (int32_t dx = 0; dx < n; ++dx) {
      const double c = placement(dx, dy, 2);
      if (c < 0) continue;
      coarse.push_back(c);
      if (cx < 0 || c < least) least = c, cx = dx, cy = dy;
    }
  if (cx < 0) return {};
  std::vector<double> cost(size_t(n) * size_t(n), -1);
  const auto at = [&](int32_t x, int32_t y) {
    return x < 0 || y < 0 || x >= n || y >= n ? -1.0 : cost[size_t(y) * size_t(n) + size_t(x)];
  };
  int32_t bx = -1, by = -1;
  for (int32_t dy = std::max(cy - 2, 0); dy <= std::min(cy + 2, n - 1); ++dy)
    for (int32_t dx = std::max(cx - 2, 0); dx <= std::min(cx + 2, n - 1); ++dx) {
      const double c = cost[size_t(dy) * size_t(n) + size_t(dx)] = placement(dx, dy, 1);
      if (c >= 0 && (bx < 0 || c < at(bx, by))) bx = dx, by = dy;
    }
  // A match at the search's edge may lie beyond it; one whose cost is not well
  // below the typical placement's found no star.
  if (bx <= 0 || by <= 0 || bx >= n - 1 || by >= n - 1 || !(at(bx, by) < 0.75 * Median(coarse))) return {};
  const std::array<std::pair<int32_t, int32_t>, 4> sides{{{bx - 1, by}, {bx + 1, by}, {bx, by - 1}, {bx, by + 1}}};
  for (const auto& [x, y] : sides)
    if (at(x, y) < 0) cost[size_t(y) * size_t(n) + size_t(x)] = placement(x, y, 1);
  if (at(bx - 1, by) < 0 || at(bx + 1, by) < 0 || at(bx, by - 1) < 0 || at(bx, by + 1) < 0) return {};
  const double fx = Vertex(at(bx - 1, by), at(bx, by), at(bx + 1, by));
  const double fy = Vertex(at(bx, by - 1), at(bx, by), at(bx, by + 1));
  return TFloatPoint{float(a.X + bx - S + fx), float(a.Y + by - S + fy)};
}

}  // namespace astrelon
