#include "kernels/alignment/stars/box_star_choice.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace astrelon {

namespace {

// The ring reach of the star test.
constexpr int32_t RingReach = 12;
// How far from `at` the first box's star may have its peak.
constexpr double OwnPeak = 2;
// How far beyond a second box's edge the pattern still finds the first box's
// star (which the box then does not hold).
constexpr int32_t FurtherBeyond = 12;

int32_t DistanceToBox(const TWorkRect& box, int32_t x, int32_t y) {
  const int32_t dx = std::max({box.x1 - x, 0, x - box.x2}), dy = std::max({box.y1 - y, 0, y - box.y2});
  return std::max(dx, dy);
}

bool Own(const TWorkRect& box, const TStarCandidate& c) { return InRect(box, c.PeakX, c.PeakY); }

// How many of the first star's neighbours stand at their places around c: a
// star of the second image within PatternMatch of each.
int PatternCount(const TStarCandidate& c, const std::vector<TFloatPoint>& pattern,
                 const std::vector<TStarCandidate>& stars) {
  int count = 0;
  for (const TFloatPoint& d : pattern)
    for (const TStarCandidate& s : stars)
      if (&s != &c && std::hypot(s.PeakX - (c.PeakX + d.X), s.PeakY - (c.PeakY + d.Y)) <= PatternMatch) {
        ++count;
        break;
      }
  return count;
}

// What the pair rule makes of the second box: its star, no star at all, or
// nothing decided (the single box's climb decides).
struct TPairChoice {
  const TStarCandidate* Star = nullptr;
  bool Nothing = false;
};

TPairChoice PairStar(const std::vector<TStarCandidate>& stars, const TWorkRect& box,
                     const TStarReference& reference) {
  std::vector<const TStarCandidate*> candidates;
  for (const TStarCandidate& c : stars)
    if (DistanceToBox(box, c.PeakX, c.PeakY) <= BeyondEdge) candidates.push_back(&c);
  // The pattern: the one candidate with the most neighbours at their places.
  if (!reference.Pattern.empty()) {
    const TStarCandidate* best = nullptr;
    int top = 0, tied = 0;
    for (const TStarCandidate* c : candidates) {
      const int n = PatternCount(*c, reference.Pattern, stars);
      if (n > top) top = n, best = c, tied = 1;
      else if (n == top) ++tied;
    }
    // A star a little further beyond the edge on which more of them stand (two
    // or more) is the first box's: the second box does not hold it.
    for (const TStarCandidate& c : stars) {
      const int32_t out = DistanceToBox(box, c.PeakX, c.PeakY);
      if (out > BeyondEdge && out <= FurtherBeyond && PatternCount(c, reference.Pattern, stars) > std::max(top, 1))
        return {nullptr, true};
    }
    if (top >= 1 && tied == 1) return {best, false};
  }
  // The flux: the box's own star of the largest flux; a star beyond the edge
  // within a factor of two of the first star's, of several the closest.
  const TStarCandidate* own = nullptr;
  const TStarCandidate* beyond = nullptr;
  double closest = 0;
  for (const TStarCandidate* c : candidates) {
    if (Own(box, *c)) {
      if (!own || c->Flux > own->Flux) own = c;
      continue;
    }
    const double ratio = std::fabs(std::log(c->Flux / reference.Flux));
    if (ratio <= std::log(2.0) && (!beyond || ratio < closest)) beyond = c, closest = ratio;
  }
  if (own && beyond && own->Flux < reference.Flux / 3) return {beyond, false};
  return {own ? own : beyond, false};
}

}  // namespace

TWorkRect BoxFieldArea(const TWorkRect& box, bool pattern) {
  return GrownRect(box, BeyondEdge + RingReach + (pattern ? PatternReach + 3 : 0));
}

TWorkRect ReferenceFieldArea(TFloatPoint at) {
  const int32_t x = int32_t(std::nearbyint(at.X)), y = int32_t(std::nearbyint(at.Y));
  return GrownRect({x, x, y, y}, PatternReach + int32_t(OwnPeak) + 1 + RingReach);
}

std::vector<TFloatPoint> StarPattern(const TStarField& field, TFloatPoint at, std::span<const TFloatPoint> fitted) {
  const int32_t x = int32_t(std::nearbyint(at.X)), y = int32_t(std::nearbyint(at.Y));
  std::vector<TStarCandidate> stars = field.Candidates(GrownRect({x, x, y, y}, PatternReach + int32_t(OwnPeak) + 1));
  std::erase_if(stars, [](const TStarCandidate& c) { return !c.Star; });
  const auto nearest = std::min_element(stars.begin(), stars.end(), [&](const auto& a, const auto& b) {
    return std::hypot(a.PeakX - at.X, a.PeakY - at.Y) < std::hypot(b.PeakX - at.X, b.PeakY - at.Y);
  });
  std::vector<TFloatPoint> pattern;
  if (nearest == stars.end() || std::hypot(nearest->PeakX - at.X, nearest->PeakY - at.Y) > OwnPeak) return pattern;
  for (const TStarCandidate& s : stars) {
    const double dx = s.PeakX - nearest->PeakX, dy = s.PeakY - nearest->PeakY;
    if (&s != &*nearest && std::hypot(dx, dy) <= PatternReach) pattern.push_back({float(dx), float(dy)});
  }
  for (const TFloatPoint& f : fitted) {
    const double dx = f.X - nearest->PeakX, dy = f.Y - nearest->PeakY;
    const bool shown = std::any_of(stars.begin(), stars.end(), [&](const TStarCandidate& s) {
      return std::hypot(s.PeakX - f.X, s.PeakY - f.Y) <= PatternMatch;
    });
    if (!shown && std::hypot(dx, dy) <= PatternReach) pattern.push_back({float(dx), float(dy)});
  }
  return pattern;
}

std::optional<TStarCandidate> ChooseBoxStar(const TStarField& field, const TWorkRect& box, int32_t bx, int32_t by,
                                            double background, double noise, const TStarReference* reference) {
  const bool pair = reference && reference->Flux > 0;
  const int32_t reach = BeyondEdge + (pair && !reference->Pattern.empty() ? PatternReach + 3 : 0);
  std::vector<TStarCandidate> stars = field.Candidates(GrownRect(box, reach));
  std::erase_if(stars, [](const TStarCandidate& c) { return !c.Star; });
  if (pair) {
    const TPairChoice choice = PairStar(stars, box, *reference);
    if (choice.Nothing) return std::nullopt;
    if (choice.Star) return *choice.Star;
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
