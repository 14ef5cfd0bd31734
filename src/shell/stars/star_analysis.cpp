// The star fit of a cutout: background and noise from the cutout's frame, the
// peak, a region grown from it, and a coordinate descent of an elliptical
// Gaussian over the region's pixels.
#include <algorithm>
#include <cmath>
#include <limits>

#include "core/settings.h"
#include "platform/processor_features.h"
#include "shell/stars/star_pick.h"
#include "store/image_slot.h"
#include "store/planes/plane_routines.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

std::array<uint8_t, StarCutoutSize * StarCutoutSize> StarMask{};
int32_t& PsfBackgroundOffset = Settings.PsfParamA;
int32_t& PsfOverexposureOffset = Settings.PsfParamB;

namespace {

constexpr int N = StarCutoutSize;
constexpr uint8_t Unvisited = 255;

struct TParams {
  float B, A, cx, cy, wx, wy;
};

struct TBox {
  int x1 = N - 1, x2 = 0, y1 = N - 1, y2 = 0;
  void Add(int x, int y) {
    x1 = std::min(x1, x);
    x2 = std::max(x2, x);
    y1 = std::min(y1, y);
    y2 = std::max(y2, y);
  }
};

// Working state of one analysis; fixed-size buffers only.
struct TFit {
  const float* plane;  // the analysed channel, 32 x 32
  bool photometry;
  float noise = 0;
  float S = 0;  // saturation threshold
  int px = 15, py = 15;  // peak pixel
  float q = 1, Ro2 = 0, Ri2 = 0;
  float W0 = 0;
  TParams p{};
  TBox box;
  std::array<float, N * (N + 1)> buffer{};  // samples and smoothed values
  std::array<float, N> gx{}, gy{};

  float At(int x, int y) const { return plane[y * N + x]; }
  float D2(int x, int y, float cx, float cy) const {
    const float dx = float(x) - cx, dy = float(y) - cy;
    return dx * dx + dy * dy * q;
  }

  // Mean of the valid pixels of the 3 x 3 neighbourhood; false when none.
  bool Mean3(int x, int y, float& m) const {
    double sum = 0;
    int n = 0;
    for (int j = std::max(0, y - 1); j <= std::min(N - 1, y + 1); ++j)
      for (int i = std::max(0, x - 1); i <= std::min(N - 1, x + 1); ++i)
        if (IsValidPixel(At(i, j))) sum += At(i, j), ++n;
    if (n == 0) return false;
    m = float(sum / n);
    return true;
  }

  void Visit(int x, int y, float T) {
    if (x < 0 || y < 0 || x >= N || y >= N) return;
    uint8_t& mask = StarMask[size_t(y * N + x)];
    float& smooth = buffer[size_t(y * N + x)];
    float m;
    if (!Mean3(x, y, m)) {
      mask = 0;
      return;
    }
    const float d2 = D2(x, y, p.cx, p.cy);
    if (d2 < Ri2) {
      mask = 1;
      smooth = m;
      return;
    }
    if (d2 > Ro2 || m < T) {
      mask = 0;
      return;
    }
    float M = 0;
    bool any = false;
    for (int j = std::max(0, y - 1); j <= std::min(N - 1, y + 1); ++j)
      for (int i = std::max(0, x - 1); i <= std::min(N - 1, x + 1); ++i)
        if ((i != x || j != y) && StarMask[size_t(j * N + i)] == 1) {
          M = any ? std::max(M, buffer[size_t(j * N + i)]) : buffer[size_t(j * N + i)];
          any = true;
        }
    if (!any) M = 0;
    if (m - 0.2f * noise > M) {
      mask = 0;
    } else {
      mask = 1;
      smooth = m;
    }
  }

  // Grows the star region from the peak in square rings; the box takes the pixels marked 1.
  void GrowRegion() {
    StarMask.fill(Unvisited);
    const float T = photometry ? p.B + noise * (3.0f + 0.3f * float(PsfBackgroundOffset)) : p.B + 3.0f * noise;
    float m = At(px, py);
    Mean3(px, py, m);
    StarMask[size_t(py * N + px)] = 1;
    buffer[size_t(py * N + px)] = m;
    const int K = std::min(25, int(std::nearbyint(std::sqrt(Ro2) + 1.0f)));
    for (int k = 1; k <= K; ++k) {
      int x = px - k, y = py - k;
      const int dx[4] = {1, 0, -1, 0}, dy[4] = {0, 1, 0, -1};
      for (int side = 0; side < 4; ++side)
        for (int s = 0; s < 2 * k; ++s) {
          x += dx[side];
          y += dy[side];
          Visit(x, y, T);
        }
    }
    box = TBox{};
    for (int y = 0; y < N; ++y)
      for (int x = 0; x < N; ++x) {
        uint8_t& mask = StarMask[size_t(y * N + x)];
        if (mask == Unvisited) mask = 0;
        if (mask == 1) box.Add(x, y);
      }
  }

  // Photometry: the inner ellipse joins the star, saturated pixels marked 2.
  void MarkInnerEllipse() {
    for (int y = 0; y < N; ++y)
      for (int x = 0; x < N; ++x) {
        const float v = At(x, y);
        if (!IsValidPixel(v) || !(D2(x, y, p.cx, p.cy) < Ri2)) continue;
        StarMask[size_t(y * N + x)] = v <= S ? 1 : 2;
        box.Add(x, y);
      }
  }

  // Brightness-weighted mean square residual over the region; false when the
  // weights do not add up to a positive sum.
  bool Error(const TParams& c, double& error) {
    for (int x = box.x1; x <= box.x2; ++x) {
      const float t = (float(x) - c.cx) / c.wx;
      gx[size_t(x)] = std::exp(-t * t);
    }
    for (int y = box.y1; y <= box.y2; ++y) {
      const float t = (float(y) - c.cy) / c.wy;
      gy[size_t(y)] = std::exp(-t * t);
    }
    double sw = 0, se = 0;
    for (int y = box.y1; y <= box.y2; ++y)
      for (int x = box.x1; x <= box.x2; ++x) {
        const float v = At(x, y);
        if (StarMask[size_t(y * N + x)] != 1 || !IsValidPixel(v)) continue;
        const double w = double(v) - W0;
        const double r = double(v) - double(c.A) * gx[size_t(x)] * gy[size_t(y)] - c.B;
        sw += w;
        se += w * r * r;
      }
    if (!(sw > 0)) return false;
    error = se / sw;
    return true;
  }

  float Sample(int count, double fraction) {
    return Percentile(std::span<float>(buffer.data(), size_t(count)), std::clamp(fraction, 0.0, 1.0));
  }

  // After the third iteration: a new region and background.
  void Rebuild() {
    if (p.wx < 1.5f || p.wy < 1.5f) S *= 1.1f;
    q = (1.7f * p.wx + 1) * (1.7f * p.wx + 1) / ((1.7f * p.wy + 1) * (1.7f * p.wy + 1));
    if (photometry) {
      int n = 0;
      for (int i = 0; i < N * N; ++i)
        if (StarMask[size_t(i)] == 0 && IsValidPixel(plane[i]) && plane[i] < p.B + 5 * noise) buffer[size_t(n++)] = plane[i];
      if (n > 5) p.B = Sample(n, 0.3 + 0.002 * PsfBackgroundOffset + 0.0002 * n);
      Ro2 = (1.9f * p.wx + 1) * (1.9f * p.wx + 1);
      Ri2 = (p.wx + 1) * (p.wx + 1);
      GrowRegion();
      MarkInnerEllipse();
      return;
    }
    Ro2 = (1.7f * p.wx + 1) * (1.7f * p.wx + 1);
    box = TBox{};
    int n = 0;
    for (int y = 0; y < N; ++y)
      for (int x = 0; x < N; ++x) {
        const float v = At(x, y);
        uint8_t& mask = StarMask[size_t(y * N + x)];
        mask = 0;
        if (!IsValidPixel(v)) continue;
        if (v >= S) {
          mask = 2;
        } else if (D2(x, y, p.cx, p.cy) > Ro2) {
          buffer[size_t(n++)] = v;
        } else {
          mask = 1;
          box.Add(x, y);
        }
      }
    if (n > 5) p.B = Sample(n, 0.2 + 0.0003 * n);
    n = 0;
    for (int y = 0; y < N; ++y)
      for (int x = 0; x < N; ++x) {
        const float v = At(x, y);
        if (StarMask[size_t(y * N + x)] == 0 && IsValidPixel(v) && D2(x, y, p.cx, p.cy) > Ro2 && v < p.B + 5 * noise)
          buffer[size_t(n++)] = v;
      }
    if (n > 5) p.B = Sample(n, 0.3 + 0.0002 * n);
  }
};

}  // namespace

void AnalyseStarCutout(int32_t channel, TStarCutout& cutout, TStarMode mode, bool search,
                       const std::optional<TPeakPixel>& given) {
  const int c = (channel < 1 || channel > cutout.PlaneCount) ? 1 : channel;
  const bool photometry = mode == TStarMode::Photometry;
  cutout.NeedsRedraw = 1;
  cutout.SignalToNoise = cutout.Flux = 0;
  cutout.Background = cutout.MinValue;
  cutout.Amplitude = cutout.MaxValue - cutout.MinValue;
  cutout.SigmaX = cutout.SigmaY = cutout.FullWidthX = cutout.FullWidthY = 0;
  cutout.CentreX = cutout.CentreY = 15;

  TFit f;
  f.plane = cutout.Planes[size_t(c - 1)].data();
  f.photometry = photometry;
  f.S = std::max(cutout.SaturationLevel[size_t(c)], cutout.MaxValue - 0.05f * (cutout.MaxValue - cutout.MinValue));
  if (photometry) f.S *= 1.0f + 0.01f * float(PsfOverexposureOffset);

  // Background from the frame outside the central 16 x 16 pixels.
  int n = 0;
  for (int y = 0; y < N; ++y)
    for (int x = 0; x < N; ++x) {
      const bool frame = y < 8 || y >= 24 || x < 8 || x >= 24;
      if (frame && IsValidPixel(f.At(x, y))) f.buffer[size_t(n++)] = f.At(x, y);
    }
  if (n <= 5) return;
  f.p.B = f.Sample(n, 0.25);
  cutout.Background = f.p.B;

  // Noise of the valid pixels row by row, each row ended by a blank.
  n = 0;
  for (int y = 0; y < N; ++y) {
    for (int x = 0; x < N; ++x)
      if (IsValidPixel(f.At(x, y))) f.buffer[size_t(n++)] = f.At(x, y);
    f.buffer[size_t(n++)] = BlankPixel;
  }
  f.noise = EstimateNoiseClipped(std::span<const float>(f.buffer.data(), size_t(n)), Sse2Enabled);

  int32_t px, py;
  float peak;
  const int off = cutout.CellSize == 32 ? 0 : 8, side = cutout.CellSize == 32 ? N : 16;
  if (given) {
    // The peak found beforehand, when it lies in the search area.
    px = given->X - cutout.OriginX;
    py = given->Y - cutout.OriginY;
    if (px < off || py < off || px >= off + side || py >= off + side || !IsValidPixel(f.At(px, py))) return;
    peak = f.At(px, py);
  } else {
    FindBrightestPixel(std::span<const float>(f.plane + off * N + off, size_t((side - 1) * N + side)), side, side, N,
                       0, px, py, peak, search);
    px += off;
    py += off;
  }
  const float above = peak - f.p.B;
  cutout.SignalToNoise =
      f.noise > 0 ? above / f.noise : (above > 0 ? std::numeric_limits<float>::infinity() : 0.0f);
  if (!(peak < 1e10f && cutout.SignalToNoise > 1.5f)) return;

  // Once to the brightest neighbour.
  int bx = px, by = py;
  for (int y = std::max(0, py - 1); y <= std::min(N - 1, py + 1); ++y)
    for (int x = std::max(0, px - 1); x <= std::min(N - 1, px + 1); ++x)
      if (f.At(x, y) > f.At(bx, by)) bx = x, by = y;
  f.px = bx;
  f.py = by;
  peak = f.At(bx, by);
  f.p.cx = float(bx);
  f.p.cy = float(by);
  f.p.A = std::max(peak - f.p.B, 0.01f);
  const float A0 = f.p.A;
  const float aLo = 0.7f * A0, aHi = 3 * A0 + 1;
  f.W0 = cutout.MinValue - 0.5f * A0;
  f.noise = std::max(f.noise, 0.001f * A0);

  // Start widths from where the profile falls below 60 % of the peak.
  const float level = peak - 0.4f * (peak - f.p.B);
  auto above60 = [&](int x, int y) { return !IsValidPixel(f.At(x, y)) || f.At(x, y) > level; };
  int l = bx, r = bx, t = by, b = by;
  while (l > 0 && above60(l, by)) --l;
  while (r < N - 1 && above60(r, by)) ++r;
  while (t > 0 && above60(bx, t)) --t;
  while (b < N - 1 && above60(bx, b)) ++b;
  f.p.wx = std::max(0.5f, float(r - l) / 2);
  f.p.wy = std::max(0.5f, float(b - t) / 2);
  if (f.p.wx + f.p.wy < 2.0f) f.S *= 1.2f;

  f.Ro2 = (1.7f * f.p.wx + 1) * (1.7f * f.p.wx + 1);
  f.Ri2 = photometry ? (f.p.wx + 1) * (f.p.wx + 1) : f.Ro2;
  f.q = f.Ro2 / ((1.7f * f.p.wy + 1) * (1.7f * f.p.wy + 1));
  f.GrowRegion();
  if (photometry) f.MarkInnerEllipse();

  // Coordinate descent over wx, wy, cx, cy, A.
  float dwx = 0.2f * f.p.wx, dwy = 0.2f * f.p.wy, dA = 0.1f * A0;
  float dcx = 0.5f * dwx, dcy = 0.5f * dwy;
  float* steps[5] = {&dwx, &dwy, &dcx, &dcy, &dA};
  bool haveBest = false;
  double best = 0, last = 0;
  for (int iter = 1; iter <= 51; ++iter) {
    for (int k = 0; k < 5; ++k) {
      int successes = 0;
      bool reversed = false;
      double remembered = 0;
      for (bool done = false; !done;) {
        TParams cand = f.p;
        float& step = *steps[k];
        if (haveBest) {
          switch (k) {
            case 0:
              cand.wx = std::clamp(f.p.wx + step, 0.1f, 100.0f);
              if (iter > 1 && cand.wx > 1) cand.A = f.p.A * (0.2f * (f.p.wx / cand.wx - 1) + 1);
              break;
            case 1:
              cand.wy = std::clamp(f.p.wy + step, 0.1f, 100.0f);
              if (iter > 1 && cand.wy > 1) cand.wx = f.p.wx * (0.4f * (f.p.wy / cand.wy - 1) + 1);
              break;
            case 2: cand.cx = std::clamp(f.p.cx + step, 1.0f, 30.0f); break;
            case 3: cand.cy = std::clamp(f.p.cy + step, 1.0f, 30.0f); break;
            default:
              cand.A = std::clamp(f.p.A + step, aLo, aHi);
              if (iter > 1) {
                const float g = 0.4f * (f.p.A / cand.A - 1) + 1;
                cand.wx = std::max(f.p.wx * g, 0.1f);
                cand.wy = std::max(f.p.wy * g, 0.1f);
              }
          }
        }
        double e = std::numeric_limits<double>::infinity();
        const bool counted = f.Error(cand, e);
        last = e;
        if (!haveBest) {
          haveBest = true;
          best = e;
          continue;
        }
        float factor;
        if (counted && e < best) {
          f.p = cand;
          best = e;
          ++successes;
          factor = successes == 1 ? 1.0f : 1.4f;
          done = successes >= 2;
          const float width = k == 0 ? f.p.wx : f.p.wy;
          if (k <= 1 && step < 0 && width < 1.5f) factor *= 0.7f;
        } else {
          if (successes >= 1) {
            factor = 0.5f;
            done = true;
          } else if (!reversed) {
            remembered = e;
            factor = -1.0f;
            reversed = true;
          } else {
            factor = e <= remembered ? 0.5f : -0.5f;
            done = true;
          }
          successes = 0;
        }
        step *= factor;
      }
    }
    if (iter == 3) {
      f.Rebuild();
      haveBest = false;
    }
    const bool settled =
        iter > 10 && std::abs(dcx) < 0.0025f && std::abs(dcy) < 0.0025f &&
        (!photometry || (std::abs(dwx) < 0.002f && std::abs(dwy) < 0.002f && std::abs(dA) < 0.0005f * A0));
    if (settled && haveBest && 1.05 * best > last) break;
  }

  cutout.Background = f.p.B;
  cutout.CentreX = f.p.cx;
  cutout.CentreY = f.p.cy;
  cutout.Amplitude = f.p.A;
  cutout.SigmaX = std::sqrt(0.5f) * f.p.wx;
  cutout.SigmaY = std::sqrt(0.5f) * f.p.wy;
  cutout.FullWidthX = 2.35482f * cutout.SigmaX;
  cutout.FullWidthY = 2.35482f * cutout.SigmaY;
  if (!photometry) return;

  // Flux: measured star pixels above the background, the model where they are saturated or blank.
  f.Error(f.p, best);  // fills gx and gy for the final parameters
  double flux = 0;
  for (int y = f.box.y1; y <= f.box.y2; ++y)
    for (int x = f.box.x1; x <= f.box.x2; ++x) {
      const uint8_t mask = StarMask[size_t(y * N + x)];
      const float v = f.At(x, y);
      if (mask == 1 && IsValidPixel(v))
        flux += double(v) - f.p.B;
      else if (mask != 0)
        flux += double(f.p.A) * f.gx[size_t(x)] * f.gy[size_t(y)];
    }
  cutout.Flux = float(std::max(flux, 0.0));
}

}  // namespace astrelon
