#include "kernels/alignment/stars/box_star_choice.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace astrelon {

namespace {

// The ring reach of the star test, and how far around a star its neighbours
// are compared.
constexpr int32_t RingReach = 12;
constexpr int32_t AroundReach = 12;
constexpr double SamePlace = 1.5;

int32_t DistanceToBox(const TWorkRect& box, int32_t x, int32_t y) {
  const int32_t dx = std::max({box.x1 - x, 0, x - box.x2}), dy = std::max({box.y1 - y, 0, y - box.y2});
  return std::max(dx, dy);
}

bool Own(const TWorkRect& box, const TStarCandidate& c) { return InRect(box, c.PeakX, c.PeakY); }

// A star beyond the edge whose light reaches into the box: the window mean
// at the box's pixel nearest its peak stands out of the noise above its ring.
bool ReachesIn(const TStarField& field, const TWorkRect& box, const TStarCandidate& c, double noise) {
  if (Own(box, c) || DistanceToBox(box, c.PeakX, c.PeakY) > BeyondEdge) return false;
  const std::optional<double> m =
      field.Mean(std::clamp(c.PeakX, box.x1, box.x2), std::clamp(c.PeakY, box.y1, box.y2));
  return m && *m - c.Ring >= 2 * noise;
}

// How many of the reference star's neighbours stand at their places around c.
int Neighbours(const TStarCandidate& c, const std::vector<TFloatPoint>& around,
               const std::vector<TStarCandidate>& stars) {
  int count = 0;
  for (const TFloatPoint& d : around)
    for (const TStarCandidate& s : stars)
      if (std::hypot(s.PeakX - (c.PeakX + d.X), s.PeakY - (c.PeakY + d.Y)) <= SamePlace) {
        ++count;
        break;
      }
  return count;
}

}  // namespace

TWorkRect BoxFieldArea(const TWorkRect& box, bool pair) {
  return GrownRect(box, BeyondEdge + RingReach + (pair ? AroundReach + 2 : 0));
}

std::vector<TFloatPoint> StarsAround(const TStarField& field, TFloatPoint at) {
  const int32_t x = int32_t(std::nearbyint(at.X)), y = int32_t(std::nearbyint(at.Y));
  std::vector<TStarCandidate> stars = field.Candidates(GrownRect({x, x, y, y}, AroundReach + 2));
  std::erase_if(stars, [](const TStarCandidate& c) { return !c.Star; });
  const auto nearest = std::min_element(stars.begin(), stars.end(), [&](const auto& a, const auto& b) {
    return std::hypot(a.PeakX - at.X, a.PeakY - at.Y) < std::hypot(b.PeakX - at.X, b.PeakY - at.Y);
  });
  std::vector<TFloatPoint> around;
  if (nearest == stars.end() || std::hypot(nearest->PeakX - at.X, nearest->PeakY - at.Y) > 2) return around;
  for (const TStarCandidate& s : stars) {
    const double dx = s.PeakX - nearest->PeakX, dy = s.PeakY - nearest->PeakY;
    if (&s != &*nearest && std::hypot(dx, dy) <= AroundReach) around.push_back({float(dx), float(dy)});
  }
  return around;
}

std::optional<TStarCandidate> ChooseBoxStar(const TStarField& field, const TWorkRect& box, int32_t bx, int32_t by,
                                            double background, double noise, const TStarReference* reference) {
  const bool pair = reference && reference->Flux > 0;
  std::vector<TStarCandidate> stars = field.Candidates(GrownRect(box, BeyondEdge + (pair ? AroundReach : 0)));
  std::erase_if(stars, [](const TStarCandidate& c) { return !c.Star; });

  if (pair) {
    // The star whose flux matches, among the box's own and those reaching in.
    const TStarCandidate* best = nullptr;
    int bestAround = -1;
    double bestRatio = 0;
    for (const TStarCandidate& c : stars) {
      if (!Own(box, c) && !ReachesIn(field, box, c, noise)) continue;
      const double ratio = std::fabs(std::log(c.Flux / reference->Flux));
      if (!(ratio <= std::log(2.0))) continue;
      const int around = Neighbours(c, reference->Around, stars);
      if (!best || around > bestAround || (around == bestAround && ratio < bestRatio)) {
        best = &c;
        bestAround = around;
        bestRatio = ratio;
      }
    }
    return best ? std::optional(*best) : std::nullopt;
  }

  // The brightest of the box's own stars.
  const TStarCandidate* brightest = nullptr;
  for (const TStarCandidate& c : stars)
    if (Own(box, c) && (!brightest || c.Height() > brightest->Height())) brightest = &c;
  if (brightest) return *brightest;

  // None: the star the box's brightest place climbs to, or where that place
  // is sky its brightest border place.
  std::optional<TStarCandidate> climbed = field.Climb(bx, by);
  if (!climbed || climbed->Window - background < 2 * noise) {
    std::optional<double> top;
    int32_t ex = bx, ey = by;
    const auto offer = [&](int32_t i, int32_t j) {
      const std::optional<double> m = field.Mean(i, j);
      if (m && (!top || *m > *top)) top = m, ex = i, ey = j;
    };
    for (int32_t i = box.x1; i <= box.x2; ++i) {
      offer(i, box.y1);
      offer(i, box.y2);
    }
    for (int32_t j = box.y1 + 1; j < box.y2; ++j) {
      offer(box.x1, j);
      offer(box.x2, j);
    }
    if (top && *top - background >= 2 * noise) climbed = field.Climb(ex, ey);
  }
  if (!climbed || !climbed->Star || Own(box, *climbed) ||
      DistanceToBox(box, climbed->PeakX, climbed->PeakY) > BeyondEdge)
    return std::nullopt;
  return climbed;
}

}  // namespace astrelon
