#pragma once
// A night's comet series: twelve frames of a tracked star field (the stars
// stay put) with a comet whose nucleus (FWHM 2.5 px) moves by (+1.5, -0.8) px
// per frame, observation times two minutes apart, 16-bit levels with noise.
// The oracle of a comet stack is numpy's: each frame shifted back by its
// motion (scipy, cubic spline) and summed; the nucleus is measured the same
// way in that sum, in the program's target and in the first frame. A field
// may hold stars of its own besides (`extra`).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "store/fits/fits_writer.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test::comet {

constexpr int W = 128, H = 96, Count = 12;
constexpr double MoveX = 1.5, MoveY = -0.8;    // the nucleus per frame
constexpr double StartX = 40, StartY = 60;     // the nucleus in the first frame
constexpr double Background = 1000, Noise = 6;
constexpr double MinutesApart = 2;
constexpr double NucleusPeak = 3000;

struct TFieldStar {
  double X, Y, Peak;
};
// The first is the one the user marks; their trails in a comet stack stay
// well away from the nucleus.
constexpr TFieldStar Stars[] = {{100, 20, 20000}, {20, 14, 9000}, {106, 72, 12000}, {72, 30, 7000}};

inline std::string FrameName(int k) {  // k = 1 .. Count
  char name[32];
  std::snprintf(name, sizeof name, "komet%02d.fit", k);
  return name;
}

// The nucleus in frame k.
constexpr double NucleusX(int k) { return StartX + (k - 1) * MoveX; }
constexpr double NucleusY(int k) { return StartY + (k - 1) * MoveY; }

// Frame k (1 .. Count): Gaussian stars and nucleus on the background, noise,
// whole levels.
inline std::vector<float> Frame(int k, std::span<const TFieldStar> extra = {}) {
  std::vector<double> v(size_t(W) * H, Background);
  const auto add = [&v](double cx, double cy, double peak, double sigma) {
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        v[size_t(y) * W + x] += peak * std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (2 * sigma * sigma));
  };
  for (const TFieldStar& s : Stars) add(s.X, s.Y, s.Peak, 1.4);
  for (const TFieldStar& s : extra) add(s.X, s.Y, s.Peak, 1.4);
  add(NucleusX(k), NucleusY(k), NucleusPeak, 2.5 / 2.35482);
  std::mt19937 random(uint32_t(1234 + k));
  std::normal_distribution<double> noise(0, Noise);
  std::vector<float> out(v.size());
  for (size_t i = 0; i < v.size(); ++i) out[i] = float(std::clamp(std::nearbyint(v[i] + noise(random)), 0.0, 65535.0));
  return out;
}

// The frames as FITS files with DATE-OBS two minutes apart (only the first
// and the last with `ends`); the first one's name.
inline std::string WriteFrames(const TempDir& dir, std::span<const TFieldStar> extra = {}, bool ends = false) {
  for (int k = 1; k <= Count; ++k) {
    if (ends && k != 1 && k != Count) continue;
    const std::string path = dir.file(FrameName(k));
    MakeImage(49, W, H, {Frame(k, extra)}, path);
    const int minutes = int((k - 1) * MinutesApart);
    char date[32];
    std::snprintf(date, sizeof date, "2024-03-01T21:%02d:00", minutes);
    SetHeaderString(49, "DATE-OBS", date);
    EXPECT_TRUE(SaveFits(49, -32, path, false, false));
    FreeSlot(49);
    Store.FileName[49].clear();
  }
  return dir.file(FrameName(1));
}

// Where a nucleus lies and how wide it is: the flux-weighted centre and the
// root of the mean second moment within 5 px, above the median of a ring 9 to
// 13 px out.
struct TNucleus {
  double X = 0, Y = 0, Sigma = 0;
};
struct TNucleusOracle {
  TNucleus Target, Numpy, OneFrame;
  bool Ok = false;
};

// Measures the nucleus in the target plane (w x h = W x H), in numpy's comet
// stack of the frames and in the first frame.
inline TNucleusOracle MeasureNucleus(const std::vector<float>& target, std::span<const TFieldStar> extra = {}) {
  TNucleusOracle r;
  TempDir dir;
  std::vector<float> frames;
  for (int k = 1; k <= Count; ++k) {
    const std::vector<float> f = Frame(k, extra);
    frames.insert(frames.end(), f.begin(), f.end());
  }
  WriteFloats(dir.file("frames.f32"), frames);
  WriteFloats(dir.file("target.f32"), target);
  const std::string out = dir.file("out.f32");
  const std::string script =
      "import numpy as np\nfrom scipy import ndimage\n"
      "W, H, N = " + std::to_string(W) + ", " + std::to_string(H) + ", " + std::to_string(Count) + "\n"
      "f = np.fromfile('" + dir.file("frames.f32") + "', dtype='<f4').astype(np.float64).reshape(N, H, W)\n"
      "t = np.fromfile('" + dir.file("target.f32") + "', dtype='<f4').astype(np.float64).reshape(H, W)\n"
      "t[~(t > -1e9)] = np.nan\n"
      "s = sum(ndimage.shift(f[k], (-k * " + std::to_string(MoveY) + ", -k * " + std::to_string(MoveX) +
      "), order=3, mode='nearest') for k in range(N))\n"
      "yy, xx = np.mgrid[0:H, 0:W].astype(np.float64)\n"
      "def nucleus(a, cx, cy):\n"
      "    for _ in range(4):\n"
      "        r = np.hypot(xx - cx, yy - cy)\n"
      "        bg = np.nanmedian(a[(r >= 9) & (r <= 13)])\n"
      "        v = np.where(r <= 5, a - bg, 0.0)\n"
      "        v = np.nan_to_num(v)\n"
      "        cx, cy = (v * xx).sum() / v.sum(), (v * yy).sum() / v.sum()\n"
      "    var = (v * ((xx - cx) ** 2 + (yy - cy) ** 2)).sum() / v.sum() / 2\n"
      "    return [cx, cy, np.sqrt(var)]\n"
      "c = (" + std::to_string(StartX) + ", " + std::to_string(StartY) + ")\n"
      "res = nucleus(t, *c) + nucleus(s, *c) + nucleus(f[0], *c)\n"
      "np.asarray(res, dtype='<f4').tofile('" + out + "')\n";
  if (!RunPython(script)) return r;
  const std::vector<float> v = ReadFloats(out);
  if (v.size() != 9) return r;
  r.Target = {v[0], v[1], v[2]};
  r.Numpy = {v[3], v[4], v[5]};
  r.OneFrame = {v[6], v[7], v[8]};
  r.Ok = true;
  return r;
}

}  // namespace astrelon::test::comet
