#include "kernels/alignment/stars/hit_pixels.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <tuple>

#include "kernels/alignment/stars/blend_fit.h"
#include "kernels/mosaic/mosaic_star_fit.h"
#include "store/image_slot.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr size_t MostHitPixels = 16;  // the largest set of hit pixels told as one

// The plane's pixels: blank outside the image and for non-finite values.
struct TView {
  std::span<const float> Plane;
  int32_t Width, Height;
  float operator()(int32_t i, int32_t j) const {
    if (i < 0 || j < 0 || i >= Width || j >= Height) return BlankPixel;
    const float v = Plane[size_t(j) * size_t(Width) + size_t(i)];
    return IsValidPixel(v) && std::isfinite(v) ? v : BlankPixel;
  }
  float operator()(TPixelXY p) const { return (*this)(p.X, p.Y); }
};

bool Has(std::span<const TPixelXY> pixels, TPixelXY p) { return std::find(pixels.begin(), pixels.end(), p) != pixels.end(); }

// The 8-neighbours of p.
template <class F>
void Around(TPixelXY p, F f) {
  for (int32_t j = p.Y - 1; j <= p.Y + 1; ++j)
    for (int32_t i = p.X - 1; i <= p.X + 1; ++i)
      if (i != p.X || j != p.Y) f(TPixelXY{i, j});
}

// The star at the peak as a level (beyond 9 x 9 pixels on the plane through
// its frame's sides' medians: no slope from a nebula's gradient; else the
// frame's median) and a Gaussian fitted to the square of `reach` pixels
// around it without the `skipped`; none when less than five noise levels high.
struct TPeakFit {
  std::array<double, 3> Plane;  // the level at the peak and its rise per pixel
  TPixelXY At;
  TBlendStar Star;
  double X = 0, Y = 0, Sigma = 0;
  double Value(int32_t x, int32_t y) const { return Plane[0] + Plane[1] * (x - At.X) + Plane[2] * (y - At.Y) + Light(x, y); }
  double Light(int32_t x, int32_t y) const { return Star.At(x, y); }
  double Height(int32_t, int32_t) const { return Star.A; }
};

std::optional<TPeakFit> FitPeak(const TView& at, TPixelXY peak, int32_t reach, double noise,
                                std::span<const TPixelXY> skipped, const std::optional<std::array<double, 3>>& plane) {
  const int32_t side = 2 * reach + 1;
  std::vector<uint8_t> left(size_t(side * side), 0);
  for (const TPixelXY& p : skipped)
    if (std::abs(p.X - peak.X) <= reach && std::abs(p.Y - peak.Y) <= reach)
      left[size_t((p.Y - peak.Y + reach) * side + p.X - peak.X + reach)] = 1;
  TPeakFit fit{plane.value_or(std::array<double, 3>{}), peak, {0, 0, -std::numeric_limits<double>::infinity(), 1.5, 1.5}};
  std::vector<TBlendPixel> pixels;
  std::vector<double> frame;
  for (int32_t j = peak.Y - reach; j <= peak.Y + reach; ++j)
    for (int32_t i = peak.X - reach; i <= peak.X + reach; ++i) {
      if (!IsValidPixel(at(i, j)) || left[size_t((j - peak.Y + reach) * side + i - peak.X + reach)]) continue;
      const double v = at(i, j) - fit.Plane[1] * (i - peak.X) - fit.Plane[2] * (j - peak.Y);
      pixels.push_back({double(i), double(j), v});
      if (std::abs(i - peak.X) == reach || std::abs(j - peak.Y) == reach) frame.push_back(v);
      if (v > fit.Star.A) fit.Star = {double(i), double(j), v, 1.5, 1.5};
    }
  if (frame.size() < size_t(2 * reach) || pixels.size() < size_t(side * side / 2)) return std::nullopt;
  TBlendBackground level;
  level.Terms[0] = plane ? fit.Plane[0] : Median(std::move(frame));
  fit.Star.A -= level.Terms[0];
  std::vector<TBlendStar> star{fit.Star};
  if (!(fit.Star.A >= 5 * noise) || !FitBlend(pixels, star, level)) return std::nullopt;
  fit.Plane[0] = level.Terms[0];
  fit.Star = star[0];
  fit.X = fit.Star.X;
  fit.Y = fit.Star.Y;
  fit.Sigma = std::min(fit.Star.Wx, fit.Star.Wy) / std::numbers::sqrt2;
  return fit;
}

// Runs `use` with the fit of the star at `peak` without given pixels (FitPeak,
// or on a colour mosaic the fit that no white balance moves).
template <class Use>
auto WithPeakFit(const TView& at, TPixelXY peak, int32_t reach, double noise, bool mosaic, Use use) {
  if (mosaic)
    return use([&](std::span<const TPixelXY> skipped) {
      return FitMosaicStarAt(at.Plane, at.Width, at.Height, peak, 1.5, skipped);
    });
  std::optional<std::array<double, 3>> plane;
  if (reach > 4) {
    std::array<std::vector<double>, 5> sides;  // left, right, top, bottom, all
    for (int32_t k = -reach; k <= reach; ++k)
      for (const auto& [i, j, s] : {std::tuple(-reach, k, 0), std::tuple(reach, k, 1), std::tuple(k, -reach, 2),
                                    std::tuple(k, reach, 3)})
        if (const float v = at(peak.X + i, peak.Y + j); IsValidPixel(v)) sides[size_t(s)].push_back(v), sides[4].push_back(v);
    if (std::none_of(sides.begin(), sides.end(), [](const auto& s) { return s.empty(); })) {
      std::array<double, 5> m;
      for (size_t k = 0; k < 5; ++k) m[k] = Median(std::move(sides[k]));
      plane = std::array{m[4], (m[1] - m[0]) / (2 * reach), (m[3] - m[2]) / (2 * reach)};
    }
  }
  return use([&](std::span<const TPixelXY> skipped) { return FitPeak(at, peak, reach, noise, skipped, plane); });
}

// From p along (ax, ay) the first pixel outside the set, and `further`
// pixels beyond it.
TPixelXY Outside(std::span<const TPixelXY> set, TPixelXY p, int32_t ax, int32_t ay, int32_t further = 0) {
  for (int32_t k = 1;; ++k)
    if (!Has(set, {p.X + k * ax, p.Y + k * ay}) || k > int32_t(2 * MostHitPixels))
      return {p.X + (k + further) * ax, p.Y + (k + further) * ay};
}

// The mean of the valid ones of two values (NaN without).
double MeanOf(float a, float b) {
  return !IsValidPixel(a) ? IsValidPixel(b) ? double(b) : NaN : IsValidPixel(b) ? 0.5 * (double(a) + b) : double(a);
}

// Whether a set of several pixels lies within a square of `side` pixels: 2, like
// a star narrower than a pixel (core-like); 3, a star's core a pixel wide.
bool Within(std::span<const TPixelXY> set, int32_t side) {
  const auto [x0, x1] = std::minmax_element(set.begin(), set.end(), [](auto a, auto b) { return a.X < b.X; });
  const auto [y0, y1] = std::minmax_element(set.begin(), set.end(), [](auto a, auto b) { return a.Y < b.Y; });
  return set.size() > 1 && x1->X - x0->X < side && y1->Y - y0->Y < side;
}

// What the star fitted without a set makes of it: its stand-ins, the pixels
// touching it the fit falls short of by half as much (a quarter for several:
// the set goes on there), and by a quarter as much.
struct TShortfall { std::vector<float> StandIns; std::vector<TPixelXY> Beyond, Above; };

// How a set is tried: on a colour mosaic; on the star's peak; beside a wider
// star (a core-like set on flat surroundings); among other stars (a line too
// 0.28 of the height); the fit without several staying within 1.5 px of `Star`.
struct TTrial { bool Mosaic = false, Centred = false, Another = false, Crowded = false; std::optional<TFloatPoint> Star = {}; };

template <class Fit>
std::optional<TShortfall> FitFallsShort(Fit& fit, const TView& at, std::span<const TPixelXY> set,
                                        std::span<const TPixelXY> ring, std::span<const TPixelXY> known, double noise,
                                        const TTrial& trial) {
  const TPixelXY brightest = *std::max_element(set.begin(), set.end(), [&](auto a, auto b) { return at(a) < at(b); });
  // Nor do other pixels far above all their neighbours pull the fit.
  std::vector<TPixelXY> skipped(known.begin(), known.end());
  skipped.insert(skipped.end(), set.begin(), set.end());
  for (int32_t j = brightest.Y - 5; j <= brightest.Y + 5; ++j)
    for (int32_t i = brightest.X - 5; i <= brightest.X + 5; ++i) {
      float highest = -std::numeric_limits<float>::infinity();
      Around({i, j}, [&](TPixelXY n) { highest = IsValidPixel(at(n)) ? std::max(highest, at(n)) : highest; });
      if (IsValidPixel(at(i, j)) && double(at(i, j)) - highest > 4 * noise && !Has(skipped, {i, j}))
        skipped.push_back({i, j});
    }
  const auto m = fit(skipped);
  if (!m || (trial.Star && set.size() > 1 && !(std::hypot(m->X - trial.Star->X, m->Y - trial.Star->Y) <= 1.5)))
    return std::nullopt;
  // A star centred on the set (on a core-like one within a pixel of it).
  const double onReach = Within(set, 2) ? 1.0 : 0.5;
  bool on = trial.Centred;
  double nearest = std::numeric_limits<double>::infinity();
  for (const TPixelXY& s : set) {
    on = on || (std::fabs(m->X - s.X) <= onReach && std::fabs(m->Y - s.Y) <= onReach);
    nearest = std::min(nearest, std::hypot(m->X - s.X, m->Y - s.Y));
  }
  // The pixel of the set the fit falls shortest of.
  const auto excessOf = [&](TPixelXY p) { return at(p) - m->Value(p.X, p.Y); };
  const TPixelXY worst = *std::max_element(set.begin(), set.end(), [&](auto a, auto b) { return excessOf(a) < excessOf(b); });
  const double top = m->Height(worst.X, worst.Y), excess = excessOf(worst);
  const double part = on || trial.Crowded || Within(set, 3) || set.size() == 1 ? 0.28 : 0.12;
  if (!(m->Sigma >= (on ? Within(set, trial.Mosaic ? 3 : 2) ? 1.2 : 0.8 : trial.Another ? 0.8 : 0.5) &&
        top >= 5 * noise && nearest <= (trial.Another ? 8 : 3.5) && excess > std::max(5 * noise, part * top) &&
        (top >= 20 * noise || excess >= 3 * m->Light(worst.X, worst.Y))))
    return std::nullopt;
  TShortfall shortfall;
  for (const TPixelXY& s : set)
    if (excessOf(s) > 5 * noise) shortfall.StandIns.push_back(float(m->Value(s.X, s.Y)));
  if (shortfall.StandIns.size() < set.size()) return std::nullopt;
  // A set's edge is sharp: the pixels touching it on the mean less than a
  // tenth of its excess above the fit (a star's light falls off over a pixel).
  double wings = 0, n = 0;
  for (const TPixelXY& r : ring)
    if (IsValidPixel(at(r))) {
      wings += excessOf(r), ++n;
      if (excessOf(r) >= (set.size() > 1 ? excess / 4 : excess / 2)) shortfall.Beyond.push_back(r);
      if (excessOf(r) >= std::max(excess / 4, 5 * noise)) shortfall.Above.push_back(r);
    }
  if (set.size() > 1 && n > 0 && wings / n >= excess / 10 + noise) return std::nullopt;
  return shortfall;
}

// The stand-ins of the set when it is one of hit pixels (HitPixels); `along`
// the axis (0 row, 1 column) of a run along a row or column.
std::optional<std::vector<float>> TryHitSet(const TView& at, std::span<const TPixelXY> set,
                                            std::span<const TPixelXY> ring, double noise, bool mosaic,
                                            int along = -1) {
  const std::array<std::array<int32_t, 2>, 4> axes{{{1, 0}, {0, 1}, {1, 1}, {1, -1}}};
  const int32_t out = mosaic ? 3 : 2;
  // Per axis (row, column), summed over the set: the rises, those beyond the
  // lines beside, and their limits.
  std::array<std::array<double, 3>, 2> sums{};
  bool everyFlat = true;
  for (const TPixelXY& s : set) {
    const double v = at(s);
    double lowest = std::numeric_limits<double>::infinity();
    std::array<double, 16> ring16;
    size_t n16 = 0;
    for (int32_t j = s.Y - 2; j <= s.Y + 2; ++j)
      for (int32_t i = s.X - 2; i <= s.X + 2; ++i) {
        if (Has(set, {i, j}) || !IsValidPixel(at(i, j))) continue;
        lowest = std::min(lowest, double(at(i, j)));
        if (std::abs(i - s.X) == 2 || std::abs(j - s.Y) == 2) ring16[n16++] = at(i, j);
      }
    double across = -std::numeric_limits<double>::infinity();
    for (size_t k = 0; k < axes.size(); ++k) {
      const float a = at(Outside(set, s, axes[k][0], axes[k][1])), b = at(Outside(set, s, -axes[k][0], -axes[k][1]));
      if (int(k) != along && IsValidPixel(a) && IsValidPixel(b)) across = std::max(across, 0.5 * (double(a) + b));
    }
    if (!std::isfinite(across) || n16 == 0 || !(v - across > (mosaic ? 0.75 : 0.5) * (v - lowest)))
      return std::nullopt;
    // A star's light falls off along its row and column: the pixels just
    // outside stand above those further out (on a mosaic three out). On flat
    // surroundings they rise by less than 0.03 of the pixel's height over the
    // ring around it and half a noise level, or by less beyond the rise of
    // the lines beside it (a hit on a wider star's core).
    std::nth_element(ring16.begin(), ring16.begin() + std::ptrdiff_t(n16 / 2), ring16.begin() + std::ptrdiff_t(n16));
    for (size_t k = 0; k < 2; ++k) {
      const int32_t ax = axes[k][0], ay = axes[k][1];
      const auto rise = [&](int32_t shift) {
        const TPixelXY c{s.X + shift * ay, s.Y + shift * ax};
        return MeanOf(at(Outside(set, c, ax, ay)), at(Outside(set, c, -ax, -ay))) -
               MeanOf(at(Outside(set, c, ax, ay, out - 1)), at(Outside(set, c, -ax, -ay, out - 1)));
      };
      const double own = rise(0), beside = own - 0.5 * (rise(-1) + rise(1));
      const double limit = 0.03 * (v - ring16[n16 / 2]) + 0.5 * noise;
      everyFlat = everyFlat && (own < limit || beside < limit);
      sums[k] = {sums[k][0] + own, sums[k][1] + beside, sums[k][2] + limit};
    }
  }
  // A set wider than a star's core: flat on the mean over its pixels.
  const auto flatOn = [&](size_t k) { return int(k) == along || sums[k][0] < sums[k][2] || sums[k][1] < sums[k][2]; };
  const bool flat = Within(set, 3) || set.size() == 1 ? everyFlat : flatOn(0) && flatOn(1);
  // Else the star fitted around it; a core-like set on flat surroundings only
  // beside a wider star (a picture's stars share their width) 8 px away.
  if (!flat || Within(set, 2)) {
    const TPixelXY brightest = *std::max_element(set.begin(), set.end(), [&](auto a, auto b) { return at(a) < at(b); });
    return WithPeakFit(at, brightest, flat ? 8 : 4, noise, mosaic, [&](auto fit) -> std::optional<std::vector<float>> {
      const auto shortfall = FitFallsShort(fit, at, set, ring, {}, noise, {.Mosaic = mosaic, .Another = flat});
      return shortfall && shortfall->Beyond.empty() ? std::optional(shortfall->StandIns) : std::nullopt;
    });
  }
  // The mean of each pixel's neighbours outside the set (on a mosaic of its
  // own site) stands in.
  std::vector<float> standIns;
  const int32_t d = mosaic ? 2 : 1;
  for (const TPixelXY& s : set) {
    double sum = 0, n = 0;
    for (int32_t j = s.Y - d; j <= s.Y + d; j += d)
      for (int32_t i = s.X - d; i <= s.X + d; i += d)
        if ((i != s.X || j != s.Y) && (!mosaic || i == s.X || j == s.Y) && !Has(set, {i, j}) && IsValidPixel(at(i, j)))
          sum += at(i, j), ++n;
    standIns.push_back(n == 0 ? BlankPixel : float(sum / n));
  }
  return standIns;
}

}  // namespace

THitTop HitTop(std::span<const float> plane, int32_t width, int32_t height, int32_t x, int32_t y, double noise) {
  if (x <= 0 || y <= 0 || x + 1 >= width || y + 1 >= height) return THitTop::Set;
  const float *row = plane.data() + size_t(y) * size_t(width) + size_t(x), *up = row - width, *down = row + width;
  // The neighbours around the square (a blank one low; a NaN left to the full test).
  const std::array<float, 8> n{up[-1], up[0], up[1], row[1], down[1], down[0], down[-1], row[-1]};
  const float v = *row;
  float highest = -std::numeric_limits<float>::infinity(), lowest = v;
  for (const float a : n) {
    if (std::isnan(a)) return THitTop::Set;
    highest = std::max(highest, a);
    if (IsValidPixel(a)) lowest = std::min(lowest, a);
  }
  if (!(v >= highest)) return THitTop::None;
  const double dark = std::min(double(v) - 4 * noise, double(lowest) + 0.25 * (double(v) - lowest));
  int count = 0, beside = 0;
  for (size_t k = 0; k < 8; ++k) {
    count += !(n[k] > dark);
    beside |= !(n[k] > dark) && !(n[(k + 1) % 8] > dark);
  }
  if (count >= 3 && beside) return THitTop::Set;
  return double(v) - highest > 4 * noise ? THitTop::Pixel : THitTop::None;
}

TForeignPixels HitPixels(std::span<const float> plane, int32_t width, int32_t height, int32_t x, int32_t y,
                         double noise, bool mosaic) {
  const TView at{plane, width, height};
  const THitTop seed = plane.size() < size_t(width) * size_t(height) || !IsValidPixel(at(x, y))
                           ? THitTop::None
                           : MayBeHit(plane, width, height, x, y, noise);
  if (seed == THitTop::None) return {};
  // A straight run of five or more pixels along a row or column through
  // (x, y), each four noise levels above both its neighbours across it (a
  // warm column; no star is that long and narrow): one set of up to 32,
  // whatever light lies beside it.
  for (int32_t along = 0; along < 2 && seed == THitTop::Set; ++along) {
    const int32_t ax = 1 - along, ay = along;
    const auto inRun = [&](TPixelXY p) {
      const float a = at(p.X - ay, p.Y - ax), b = at(p.X + ay, p.Y + ax);
      return IsValidPixel(at(p)) && IsValidPixel(a) && IsValidPixel(b) && double(at(p)) - std::max(a, b) > 4 * noise;
    };
    std::vector<TPixelXY> run, beside;
    for (TPixelXY p{x, y}; inRun(p) && run.size() < 2 * MostHitPixels; p = {p.X - ax, p.Y - ay}) run.push_back(p);
    for (TPixelXY p{x + ax, y + ay}; !run.empty() && inRun(p) && run.size() < 2 * MostHitPixels; p = {p.X + ax, p.Y + ay})
      run.push_back(p);
    for (const TPixelXY& r : run)
      Around(r, [&](TPixelXY n) {
        if (!Has(run, n) && !Has(beside, n) && (along ? n.X != x : n.Y != y) && IsValidPixel(at(n))) beside.push_back(n);
      });
    if (run.size() >= 5)
      if (const auto standIns = TryHitSet(at, run, beside, noise, mosaic, along)) return {run, *standIns};
  }
  const size_t most = seed == THitTop::Set ? MostHitPixels : 1;
  std::vector<TPixelXY> set{{x, y}}, ring;
  const auto grow = [&](TPixelXY p) {
    Around(p, [&](TPixelXY n) { if (IsValidPixel(at(n)) && !Has(set, n) && !Has(ring, n)) ring.push_back(n); });
  };
  grow({x, y});
  float lowest = at(x, y), least = at(x, y);
  for (int32_t j = y - 2; j <= y + 2; ++j)
    for (int32_t i = x - 2; i <= x + 2; ++i) lowest = IsValidPixel(at(i, j)) ? std::min(lowest, at(i, j)) : lowest;
  const double floor = lowest + 0.3 * (double(at(x, y)) - lowest);
  TForeignPixels found;
  while (!ring.empty()) {
    const auto brightest = std::max_element(ring.begin(), ring.end(), [&](auto a, auto b) { return at(a) < at(b); });
    if (double(least) - at(*brightest) > 4 * noise)
      if (const auto standIns = TryHitSet(at, set, ring, noise, mosaic)) found = {set, *standIns};
    if (set.size() >= most || at(*brightest) < floor) break;
    const TPixelXY next = *brightest;
    ring.erase(brightest), set.push_back(next), grow(next);
    least = std::min(least, at(next));
  }
  return found;
}

TForeignPixels ForeignPixels(std::span<const float> plane, int32_t width, int32_t height, int32_t x, int32_t y,
                             double noise, float top, bool mosaic, const TForeignPixels& known,
                             std::span<const TPixelXY> others) {
  constexpr int32_t Reach = 6;
  const TView at{plane, width, height};
  TForeignPixels found;
  if (plane.size() < size_t(width) * size_t(height)) return found;
  // Non-finite values; around a saturated star's clipped top only those.
  for (int32_t j = std::max(y - Reach, 0); j <= std::min(y + Reach, height - 1); ++j)
    for (int32_t i = std::max(x - Reach, 0); i <= std::min(x + Reach, width - 1); ++i)
      if (const float v = plane[size_t(j) * size_t(width) + size_t(i)]; IsValidPixel(v) && !std::isfinite(v))
        found.At.push_back({i, j}), found.StandIn.push_back(BlankPixel);
  const size_t nonFinite = found.At.size();
  for (int32_t j = y - 4; j <= y + 4; ++j)
    for (int32_t i = x - 4; i <= x + 4; ++i)
      if (at(i, j) >= top && (at(i - 1, j) >= top || at(i + 1, j) >= top || at(i, j - 1) >= top || at(i, j + 1) >= top))
        return found;
  // Cold pixels, left out: below the third lowest of their neighbours (of
  // their site on a mosaic) by ten noise levels and three tenths of its light
  // over the frame's median: star light has no pit.
  const int32_t d = mosaic ? 2 : 1;
  std::vector<double> frame;
  for (int32_t j = y - Reach; j <= y + Reach; ++j)
    for (int32_t i = x - Reach; i <= x + Reach; ++i)
      if ((std::abs(i - x) == Reach || std::abs(j - y) == Reach) && IsValidPixel(at(i, j))) frame.push_back(at(i, j));
  const double level = frame.empty() ? NaN : Median(std::move(frame));
  for (int32_t j = y - Reach; j <= y + Reach; ++j)
    for (int32_t i = x - Reach; i <= x + Reach; ++i) {
      std::array<float, 8> n;
      size_t count = 0;
      for (int32_t b = j - d; b <= j + d; b += d)
        for (int32_t a = i - d; a <= i + d; a += d)
          if ((a != i || b != j) && IsValidPixel(at(a, b))) n[count++] = at(a, b);
      if (!IsValidPixel(at(i, j)) || count < 3) continue;
      std::nth_element(n.begin(), n.begin() + 2, n.begin() + std::ptrdiff_t(count));
      if (at(i, j) < n[2] - std::max(10 * noise, mosaic ? 0.0 : 0.3 * (n[2] - level)))
        found.At.push_back({i, j}), found.StandIn.push_back(BlankPixel);
    }
  const size_t cold = found.At.size();
  for (size_t k = 0; k < known.At.size(); ++k)
    if (std::abs(known.At[k].X - x) <= Reach && std::abs(known.At[k].Y - y) <= Reach && !Has(found.At, known.At[k]))
      found.At.push_back(known.At[k]), found.StandIn.push_back(known.StandIn[k]);
  return WithPeakFit(at, {x, y}, Reach, noise, mosaic, [&](auto fit) {
    const auto unseen = [&] {
      std::vector<TPixelXY> pixels(found.At);
      return pixels.insert(pixels.end(), others.begin(), others.end()), pixels;
    };
    // Of the pixels the star fitted without those found falls short of (near
    // the peak or among other stars by 0.28 of its height, else 0.12) and of
    // those near the peak that may be a hit's top, the one it falls shortest
    // of, each tried once; the fit made again after each set found.
    std::vector<TPixelXY> tried;
    for (auto all = fit(unseen());;) {
      std::optional<TPixelXY> suspect;
      double most = -std::numeric_limits<double>::infinity();
      for (int32_t j = y - Reach + 1; j <= y + Reach - 1; ++j)
        for (int32_t i = x - Reach + 1; i <= x + Reach - 1; ++i) {
          const float v = at(i, j);
          if (!IsValidPixel(v) || Has(found.At, {i, j}) || Has(tried, {i, j}) || Has(others, {i, j})) continue;
          const double excess = all ? v - all->Value(i, j) : v;
          const double part = (std::abs(i - x) <= 1 && std::abs(j - y) <= 1) || !others.empty() ? 0.28 : 0.12;
          if (excess > most && ((all && excess > std::max(5 * noise, part * all->Height(i, j)) &&
                                 (all->Height(i, j) >= 20 * noise || excess >= 3 * all->Light(i, j))) ||
                                (std::abs(i - x) <= 2 && std::abs(j - y) <= 2 &&
                                 MayBeHit(plane, width, height, i, j, noise) != THitTop::None)))
            most = excess, suspect = TPixelXY{i, j};
        }
      if (!suspect) break;
      const TPixelXY p = tried.emplace_back(*suspect);
      // The set: the pixels touching it above the fit by half as much, then
      // those the fit without it falls short of by a quarter as much (among
      // other stars only a pixel on the peak); else the pixel alone.
      std::vector<TPixelXY> set{p}, ring;
      for (size_t k = 0; all && k < set.size(); ++k)
        Around(set[k], [&](TPixelXY n) {
          if (!Has(set, n) && !Has(found.At, n) && !Has(others, n) && IsValidPixel(at(n)) &&
              std::abs(n.X - x) <= Reach + 2 && std::abs(n.Y - y) <= Reach + 2 && set.size() < 2 * MostHitPixels &&
              at(n) - all->Value(n.X, n.Y) > 0.5 * most)
            set.push_back(n);
        });
      const auto shortfall = [&] {
        ring.clear();
        for (const TPixelXY& s : set)
          Around(s, [&](TPixelXY n) {
            if (!Has(set, n) && !Has(ring, n) && !Has(found.At, n) && IsValidPixel(at(n)) &&
                std::abs(n.X - x) <= Reach && std::abs(n.Y - y) <= Reach)
              ring.push_back(n);
          });
        const auto star = all ? std::optional(TFloatPoint{float(all->X), float(all->Y)}) : std::nullopt;
        return FitFallsShort(fit, at, set, ring, unseen(), noise,
                             {.Mosaic = mosaic, .Centred = Has(set, {x, y}), .Crowded = !others.empty(), .Star = star});
      };
      auto shortfallOf = shortfall();
      for (int round = 0; round < 16 && shortfallOf && !shortfallOf->Beyond.empty() &&
                          set.size() + shortfallOf->Above.size() <= 2 * MostHitPixels;
           ++round)
        set.insert(set.end(), shortfallOf->Above.begin(), shortfallOf->Above.end()), shortfallOf = shortfall();
      if (!others.empty() && Has(set, {x, y}) && set.size() > 1) shortfallOf.reset();
      if ((!shortfallOf || !shortfallOf->Beyond.empty()) && set.size() > 1) set = {p}, shortfallOf = shortfall();
      if (!shortfallOf || !shortfallOf->Beyond.empty()) continue;
      found.At.insert(found.At.end(), set.begin(), set.end());
      found.StandIn.insert(found.StandIn.end(), shortfallOf->StandIns.begin(), shortfallOf->StandIns.end());
      all = fit(unseen());
    }
    // The star fitted without them all stands in; cold pixels are left out.
    if (const auto without = found.At.empty() ? std::nullopt : fit(unseen()))
      for (size_t k = 0; k < found.At.size(); ++k)
        if (k < nonFinite || k >= cold) found.StandIn[k] = float(without->Value(found.At[k].X, found.At[k].Y));
    return found;
  });
}

}  // namespace astrelon
