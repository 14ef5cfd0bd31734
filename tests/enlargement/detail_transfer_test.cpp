// The detail transfer of the hi-f enlargement: its findings at chosen pixels
// of a textured image against a numpy transcription of the rule, exact
// matches, the flat threshold, uniform and small images, and the same bits
// from the vector loops and every split into bands.
#include "filters/enlargement/detail_transfer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "../filters/filter_images.h"
#include "../frequency/numpy_oracle.h"
#include "filters/enlargement/hif_tables.h"

namespace astrelon::test {
namespace {

class DetailTransferTest : public KernelTest {};

// The rule of the transfer written out in numpy, one visited pixel at a time;
// per pixel: flat, mean, sigma, meanS, q, dx, dy, E*, meanC, gain, blend, byte.
constexpr const char* OracleScript = R"(
import math
p = np.fromfile(d + 'p.f64')
W, H, tri, s, noise = int(p[0]), int(p[1]), p[2] == 0, p[3], p[4]
M = np.fromfile(d + 'M.f64').reshape(H, W)
L = np.fromfile(d + 'L.f64').reshape(H, W)
E = np.fromfile(d + 'E.f64').reshape(2 * H, 2 * W) if not tri else None
pix = np.fromfile(d + 'pix.f64').astype(int).reshape(-1, 2)
LO = {-2: -1, -1: -2, 0: -2, 1: -2, 2: -2, 3: -1}
HI = {-2: 2, -1: 3, 0: 3, 1: 3, 2: 2, 3: 1}
o = 0.25 if tri else 0.0
def wt(r, c): return 2.718281828459 ** (-((r - o) ** 2 + (c - o) ** 2) / 2.9 ** 2)
CLS = [[2,2,3,4,5,6,6],[2,2,3,4,5,6,6],[1,1,2,4,6,7,7],[0]*7,[7,7,6,4,2,1,1],[6,6,5,4,3,2,2],[6,6,5,4,3,2,2]]
def ok(v): return v > -1e9
def osig(var, trimmed):
    if tri: return 0.0316227 if var < 0.001 else math.sqrt(var)
    if not trimmed: return math.sqrt(max(var, 0.001))
    return 0.1 if var < 0.01 else math.sqrt(var)
def csig2(var):
    if tri: return 0.0632454 if var < 0.001 else 2 * math.sqrt(var)
    return 2 * math.sqrt(max(var, 0.001))
thr = ((2.5 - 0.18 * s) if tri else (2.0 - 0.15 * s)) * noise
rows = []
for X, Y in pix:
    x, y = (X, Y) if tri else (X // 2, Y // 2)
    def own(r, c): return M[y + r, x + c] if tri else E[Y + 2 * r, X + 2 * c]
    vals, others = [], []
    for r in range(-2, 4):
        for c in range(LO[r], HI[r] + 1):
            v = own(r, c)
            if ok(v):
                vals.append(v)
                if (r, c) != (0, 0): others.append(v)
    mx, mn = max(others), min(others)
    n, S, SS = len(vals), sum(vals), sum(v * v for v in vals)
    mean = S / n; sig = osig(SS / n - mean * mean, False)
    if n > 1 and mx > mean + 2 * sig:
        n -= 1; S -= mx; SS -= mx * mx; mean = S / n; sig = osig(SS / n - mean * mean, False)
    if n > 1 and mn < mean - 2 * sig:
        n -= 1; S -= mn; SS -= mn * mn; mean = S / n; sig = osig(SS / n - mean * mean, False)
    scale1 = 0.33 / sig
    if sig <= thr:
        rows.append([1, mean, sig, 0, 0, 0, 0, 0, 0, 0, 0, 0]); continue
    hl = mx - 0.2 * (mx - mn); ll = mn + 0.25 * (hl - mn)
    def cnt(px, py):
        v = L[py, px]
        return (not ok(v)) or v > hl or v < ll
    left, right, top, bottom, q = -2, 3, -2, 3, 3.0
    if cnt(x - 4, y - 1) or cnt(x - 4, y + 2): left = -1; q = 2.684
    if cnt(x + 5, y - 1) or cnt(x + 5, y + 2): right = 2; q -= 0.188
    if cnt(x - 1, y - 4) or cnt(x + 2, y - 4): top = -1; q -= 0.316
    if cnt(x - 1, y + 5) or cnt(x + 2, y + 5): bottom = 2; q -= 0.188
    win = [(r, c) for r in range(top, bottom + 1) for c in range(max(LO[r], left), min(HI[r], right) + 1)]
    meanS = mean
    if q < 2.95:
        tv = [own(r, c) for r, c in win if ok(own(r, c))]
        meanS = sum(tv) / len(tv)
        scale1 = 0.33 / osig(sum(v * v for v in tv) / len(tv) - meanS * meanS, True)
    best, bdx, bdy, bmc, bg = 1e18, 0, 0, 0, 0
    es, ec = [0.0] * 8, [0] * 8
    for dy in range(-3, 4):
        for dx in range(-3, 4):
            cx, cy = x + dx, y + dy
            if abs(dx) + abs(dy) >= 5 or cx < 4 or cx > W - 7 or cy < 4 or cy > H - 7: continue
            if not tri and not ok(M[cy, cx]): continue
            cv = [L[cy + 2 * r, cx + 2 * c] for r, c in win]
            cvv = [v for v in cv if ok(v)]
            if not cvv: continue
            n2, S2, SS2 = len(cvv), sum(cvv), sum(v * v for v in cvv)
            mc = S2 / n2; sg = csig2(SS2 / n2 - mc * mc)
            if n2 > 1 and max(cvv) > mc + sg:
                n2 -= 1; S2 -= max(cvv); SS2 -= max(cvv) ** 2; mc = S2 / n2; sg = csig2(SS2 / n2 - mc * mc)
            if n2 > 1 and min(cvv) < mc - sg:
                n2 -= 1; S2 -= min(cvv); SS2 -= min(cvv) ** 2; mc = S2 / n2; sg = csig2(SS2 / n2 - mc * mc)
            sc2 = 0.66 / sg
            ratio = sc2 / scale1
            if ratio > 1.5: sc2 = 2 * scale1
            elif ratio < 0.7: sc2 = 0.7 * scale1
            err = 0.0
            for (r, c), v in zip(win, cv):
                a = own(r, c)
                if ok(a) and ok(v): err += wt(r, c) * ((a - meanS) * scale1 - (v - mc) * sc2) ** 2
            if err < best:
                best, bdx, bdy, bmc = err, dx, dy, mc
                bg = sc2 / scale1 if scale1 > 1e-10 else sc2 * 1e10
            k = CLS[dy + 3][dx + 3]; es[k] += err; ec[k] += 1
    for k in range(8):
        if ec[k] > 1: es[k] /= ec[k]
    T = sum(es); kmin = int(np.argmin(es))
    weight = min(max(round(T / (T / 128 + es[kmin] + 0.001)) - 1, 0), 31)
    a = max((0.71 + 0.025 * s) - (1.95 - 0.075 * s) * math.sqrt(best) / q, 0.0)
    rows.append([0, mean, sig, meanS, q, bdx, bdy, best, bmc, bg, a, kmin + 8 * weight])
np.asarray(rows, dtype=np.float64).tofile(d + 'out.f64')
)";

// A textured grey source with a few blanks and its low-pass model (a 3 x 3
// mean is enough: the rule only needs some model), and (sinc) a smooth grey
// enlargement of it.
struct TTexture {
  int32_t W = 0, H = 0;
  std::vector<float> M, L, E;
};
TTexture Texture(int32_t w, int32_t h, uint32_t seed) {
  TTexture t{w, h, {}, {}, {}};
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0, 3);
  t.M.resize(size_t(w) * size_t(h));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      t.M[size_t(y * w + x)] =
          100 + 40 * std::sin(0.7f * float(x) + 0.3f * float(y)) + (x + 2 * y > 60 ? 80.0f : 0.0f) + noise(rng);
  if (h > 17 && w > 30) {
    t.M[size_t(17 * w + 13)] = BlankPixel;
    t.M[size_t(9 * w + 30)] = BlankPixel;
  }
  t.L = t.M;
  for (int32_t y = 1; y < h - 1; ++y)
    for (int32_t x = 1; x < w - 1; ++x) {
      double sum = 0;
      int n = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          if (const float v = t.M[size_t((y + dy) * w + x + dx)]; IsValidPixel(v)) sum += v, ++n;
      t.L[size_t(y * w + x)] = float(sum / n);
    }
  t.E.resize(size_t(4) * t.M.size());
  for (int32_t Y = 0; Y < 2 * h; ++Y)
    for (int32_t X = 0; X < 2 * w; ++X) t.E[size_t(Y * 2 * w + X)] = t.L[size_t((Y / 2) * w + X / 2)] + float(X % 2);
  return t;
}

TDetailInputs Inputs(const TTexture& t, THiFVariant v, int32_t strength, double noise) {
  TDetailInputs in;
  in.M = t.M;
  in.L = t.L;
  in.E = t.E;
  in.Width = t.W;
  in.Height = t.H;
  in.Variant = v;
  in.Strength = strength;
  in.Noise = noise;
  return in;
}

std::vector<double> ToDouble(const std::vector<float>& v) { return {v.begin(), v.end()}; }

TEST_F(DetailTransferTest, ChosenPixelsAgreeWithTheNumpyRule) {
  if (!HaveNumpy()) GTEST_SKIP() << "numpy is not installed";
  const TTexture t = Texture(40, 36, 7);
  struct TCase {
    THiFVariant Variant;
    int32_t Strength;
    double Noise;
  };
  for (const TCase& c : {TCase{THiFVariant::Tri, 3, 2.0}, TCase{THiFVariant::Tri, 10, 8.0},
                         TCase{THiFVariant::Sinc, 3, 2.0}, TCase{THiFVariant::Sinc, 7, 20.0}}) {
    const TDetailInputs in = Inputs(t, c.Variant, c.Strength, c.Noise);
    const TVisitedRange range = VisitedRange(in);
    std::vector<double> pixels;
    for (int i = 0; i < 40; ++i) {
      pixels.push_back(range.X0 + (i * 7) % (range.X1 - range.X0 + 1));
      pixels.push_back(range.Y0 + (i * 11) % (range.Y1 - range.Y0 + 1));
    }
    NumpyOracle oracle;
    oracle.Put("p", {double(t.W), double(t.H), double(c.Variant), double(c.Strength), c.Noise});
    oracle.Put("M", ToDouble(t.M));
    oracle.Put("L", ToDouble(t.L));
    oracle.Put("E", ToDouble(t.E));
    oracle.Put("pix", pixels);
    ASSERT_TRUE(oracle.Run(OracleScript));
    const std::vector<double> out = oracle.Get("out");
    ASSERT_EQ(out.size(), pixels.size() / 2 * 12);
    int textured = 0;
    for (size_t i = 0; i < pixels.size() / 2; ++i) {
      const double* r = &out[i * 12];
      const TDetailPixel d = AnalyseDetailPixel(in, int32_t(pixels[2 * i]), int32_t(pixels[2 * i + 1]), true);
      const std::string where = std::to_string(int(c.Variant)) + " at " + std::to_string(int(pixels[2 * i])) + "," +
                                std::to_string(int(pixels[2 * i + 1]));
      ASSERT_EQ(d.Flat, r[0] != 0) << where;
      EXPECT_NEAR(d.Mean, r[1], 1e-9 * std::abs(r[1])) << where;
      EXPECT_NEAR(d.Sigma, r[2], 1e-9 * r[2]) << where;
      if (d.Flat) continue;
      ++textured;
      EXPECT_NEAR(d.MeanS, r[3], 1e-9 * std::abs(r[3])) << where;
      EXPECT_DOUBLE_EQ(d.Q, r[4]) << where;
      EXPECT_EQ(d.Dx, int(r[5])) << where;
      EXPECT_EQ(d.Dy, int(r[6])) << where;
      EXPECT_NEAR(d.Error, r[7], 1e-5 * r[7] + 1e-9) << where;
      EXPECT_NEAR(d.MeanC, r[8], 1e-9 * std::abs(r[8])) << where;
      EXPECT_NEAR(d.Gain, r[9], 1e-9 * r[9]) << where;
      EXPECT_NEAR(d.Blend, r[10], 1e-5) << where;
      EXPECT_EQ(int(d.Direction), int(r[11])) << where;
    }
    EXPECT_GT(textured, 10) << int(c.Variant);
  }
}

// Own patches that match a candidate exactly: a ramp in the source and half
// the ramp in the model (and the enlargement), which every offset matches.
TEST_F(DetailTransferTest, ExactMatchesGetTheFullBlendAndStrengthLowersTheFlatThreshold) {
  TTexture t{30, 30, {}, {}, {}};
  for (int32_t y = 0; y < 30; ++y)
    for (int32_t x = 0; x < 30; ++x) {
      t.M.push_back(float(x));
      t.L.push_back(float(x) / 2);
    }
  for (int32_t Y = 0; Y < 60; ++Y)
    for (int32_t X = 0; X < 60; ++X) t.E.push_back(float(X) / 2);
  struct TCase {
    THiFVariant Variant;
    int32_t Strength;
    double Blend, FlatFactor;
  };
  for (const TCase& c : {TCase{THiFVariant::Tri, 3, 0.785, 2.5 - 0.54}, TCase{THiFVariant::Tri, 10, 0.96, 0.7},
                         TCase{THiFVariant::Sinc, 3, 0.785, 2.0 - 0.45}, TCase{THiFVariant::Sinc, 10, 0.96, 0.5}}) {
    const int32_t X = c.Variant == THiFVariant::Tri ? 14 : 29;
    TDetailPixel d = AnalyseDetailPixel(Inputs(t, c.Variant, c.Strength, 0.01), X, X, false);
    ASSERT_FALSE(d.Flat);
    EXPECT_LT(d.Error, 1e-10);
    EXPECT_NEAR(d.Blend, c.Blend, 1e-5) << int(c.Variant) << " " << c.Strength;
    // The own spread at the threshold is flat, just above it textured.
    const double sigma = d.Sigma;
    EXPECT_TRUE(AnalyseDetailPixel(Inputs(t, c.Variant, c.Strength, sigma / c.FlatFactor * 1.001), X, X, false).Flat);
    EXPECT_FALSE(
        AnalyseDetailPixel(Inputs(t, c.Variant, c.Strength, sigma / c.FlatFactor * 0.999), X, X, false).Flat);
  }
}

// Writes the transfer of `in` into a copy of the enlargement `base`.
TImageSlot Transferred(const TDetailInputs& in, const TImageSlot& base, std::vector<uint8_t>& map, bool vector) {
  TImageSlot result = base;
  const bool tri = in.Variant == THiFVariant::Tri;
  map.assign(size_t(in.Width) * size_t(in.Height) * (tri ? 1 : 4), 0xFF);
  EXPECT_TRUE(TransferDetail(in, result, CmRgb, map, {}, vector));
  return result;
}

TImageSlot Enlargement(const TTexture& t, int planes) {
  TImageSlot im;
  im.Width = 2 * t.W;
  im.Height = 2 * t.H;
  im.PlaneCount = planes;
  im.AllocatePlanes(planes);
  for (int p = 1; p <= planes; ++p)
    for (size_t i = 0; i < t.E.size(); ++i) im.Planes[size_t(p)][i] = t.E[i] + float(10 * (p - 1));
  return im;
}

TEST_F(DetailTransferTest, UniformAndSmallImagesGetNothingAndBandsAndVectorsChangeNoBit) {
  for (THiFVariant v : {THiFVariant::Tri, THiFVariant::Sinc}) {
    // Uniform: flat or exactly matched everywhere, so nothing changes and the map stays 0.
    TTexture flat{24, 20, std::vector<float>(480, 50.0f), std::vector<float>(480, 50.0f),
                  std::vector<float>(1920, 50.0f)};
    for (double noise : {0.0, 1.0}) {
      std::vector<uint8_t> map;
      const TImageSlot base = Enlargement(flat, 1);
      const TImageSlot r = Transferred(Inputs(flat, v, 5, noise), base, map, true);
      EXPECT_EQ(r.Planes[1], base.Planes[1]);
      for (uint8_t b : map) ASSERT_EQ(b, 0);
    }
    // Fewer than 10 rows: nothing visited.
    const TTexture small = Texture(30, 9, 3);
    std::vector<uint8_t> map;
    const TImageSlot base = Enlargement(small, 1);
    EXPECT_EQ(Transferred(Inputs(small, v, 5, 1.0), base, map, true).Planes[1], base.Planes[1]);
    for (uint8_t b : map) ASSERT_EQ(b, 0);

    // One thread and all cores, scalar and vector loops, grey and colour.
    const TTexture t = Texture(260, 140, 11);
    for (int planes : {1, 3}) {
      const TImageSlot big = Enlargement(t, planes);
      std::vector<uint8_t> map1, map2, map3;
      Options.Multicore = 0;
      const TImageSlot one = Transferred(Inputs(t, v, 6, 1.0), big, map1, false);
      Options.Multicore = 1;
      const TImageSlot all = Transferred(Inputs(t, v, 6, 1.0), big, map2, true);
      const TImageSlot scalar = Transferred(Inputs(t, v, 6, 1.0), big, map3, false);
      for (int p = 1; p <= planes; ++p) {
        EXPECT_EQ(one.Planes[size_t(p)], all.Planes[size_t(p)]);
        EXPECT_EQ(scalar.Planes[size_t(p)], all.Planes[size_t(p)]);
        EXPECT_NE(all.Planes[size_t(p)], big.Planes[size_t(p)]);
      }
      EXPECT_EQ(map1, map2);
      EXPECT_EQ(map3, map2);
    }
  }
}

}  // namespace
}  // namespace astrelon::test
