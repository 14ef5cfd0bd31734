#pragma once
// Background flattening written out plainly, pixel by pixel in double, with
// nothing of the program's code: MinBlur's eight-neighbour steps and sweeps,
// the automatic flattening with its recursive Gaussian and the 35 % level of
// the fine histogram, the running-percentile flattening of a rectangle with
// its window rules at the image's edges, and the fitting of the rectangle's
// sides into the image around it. The flattening tests hold the program's
// results against these values.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace astrelon::test::plain {

constexpr float Blank = -1e11f;
inline bool Valid(double v) { return v > -1e9; }

// Percentile: sorted in place, then interpolated at (count - 1) * q; blank for
// no value.
inline float Percentile(std::vector<float>& a, double q) {
  if (a.empty()) return Blank;
  std::sort(a.begin(), a.end());
  if (a.size() == 1) return a[0];
  const double p = double(a.size() - 1) * q;
  const size_t i = size_t(std::floor(p));
  if (i + 1 >= a.size()) return a[a.size() - 1];
  return float(double(a[i]) + (p - double(i)) * (double(a[i + 1]) - double(a[i])));
}

// The level at `percent` of the valid values of a w x h plane from a histogram
// of 65001 bins over their range.
inline double PercentileLevel(const std::vector<float>& v, double percent) {
  double mn = 1e300, mx = -1e300;
  for (float x : v)
    if (Valid(x)) mn = std::min(mn, double(x)), mx = std::max(mx, double(x));
  const double range = std::max(mx - mn, 0.001), scale = 65000 / range;
  std::vector<int64_t> bins(65536, 0);
  int64_t count = 0;
  for (float x : v)
    if (Valid(x)) ++bins[size_t(std::nearbyint((x - mn) * scale))], ++count;
  if (count == 0) return mn;
  const int64_t target = int64_t(std::nearbyint(double(count) * percent)) / 100;
  int bin = 0;
  if (percent < 50) {
    int64_t sum = 0;
    for (bin = 0; bin < 65000; ++bin)
      if ((sum += bins[size_t(bin)]) >= target) break;
  } else {
    int64_t rest = count;
    for (bin = 65000; bin > 0; --bin)
      if ((rest -= bins[size_t(bin)]) <= target) break;
  }
  return bin / scale + mn;
}

// The recursive Gaussian of a line (blank entries bridged by the latest valid
// value); false when the line holds no valid value. `out` holds the line's
// results from its first valid entry on.
inline bool GaussLine(const std::vector<float>& in, double radius, std::vector<double>& out, size_t& start) {
  const double sigma = radius / 1.49;
  const int n = int(std::nearbyint(sigma + 1));
  const double q = sigma <= 2.5 ? 3.97156 - 4.14554 * std::sqrt(1 - 0.26891 * sigma) : 0.98711 * sigma - 0.96330;
  const double b0 = 1.57825 + 2.44413 * q + 1.4281 * q * q + 0.422205 * q * q * q;
  const double b1 = 2.44413 * q + 2.8562 * q * q + 1.266615 * q * q * q;
  const double b2 = -(1.4281 * q * q + 1.266615 * q * q * q);
  const double b3 = 0.422205 * q * q * q;
  const double B = 1 - (b1 + b2 + b3) / b0;
  const size_t len = in.size();
  start = 0;
  while (start < len && !Valid(in[start])) ++start;
  if (start == len) return false;
  double latest = in[start], sum = 0;
  int taken = 0;
  for (size_t y = start; y <= start + size_t(n) && y < len; ++y, ++taken) {
    if (Valid(in[y])) latest = in[y];
    sum += latest;
  }
  const double m = sum / taken;
  // w[j + 3] is the line's entry start + j; three history entries before it and after the end.
  std::vector<double> w(len - start + 6, m);
  latest = in[start];
  for (size_t y = start; y < len + 3; ++y) {
    if (y < len && Valid(in[y])) latest = in[y];
    const size_t j = y - start + 3;
    w[j] = B * latest + (b1 * w[j - 1] + b2 * w[j - 2] + b3 * w[j - 3]) / b0;
  }
  for (size_t y = len; y-- > start;) {
    const size_t j = y - start + 3;
    w[j] = B * w[j] + (b1 * w[j + 1] + b2 * w[j + 2] + b3 * w[j + 3]) / b0;
  }
  out.assign(w.begin() + 3, w.begin() + 3 + ptrdiff_t(len - start));
  return true;
}

// fGauss in place at strength 100 over the rectangle x1..x2, y1..y2: columns
// into a copy, then rows, written where the plane's own value is valid.
inline void Gauss(std::vector<float>& p, int w, int x1, int x2, int y1, int y2, float radius) {
  const std::vector<float> source = p;
  std::vector<float> columns = p, line;
  std::vector<double> out;
  size_t start = 0;
  for (int x = x1; x <= x2; ++x) {
    line.clear();
    for (int y = y1; y <= y2; ++y) line.push_back(source[size_t(y) * w + x]);
    if (!GaussLine(line, radius, out, start)) continue;
    for (size_t k = start; k < line.size(); ++k)
      columns[(y1 + k) * w + x] = Valid(line[k]) ? float(out[k - start]) : Blank;
  }
  for (int y = y1; y <= y2; ++y) {
    line.assign(columns.begin() + ptrdiff_t(size_t(y) * w + x1), columns.begin() + ptrdiff_t(size_t(y) * w + x2 + 1));
    if (!GaussLine(line, radius, out, start)) continue;
    for (size_t k = start; k < line.size(); ++k)
      if (Valid(source[size_t(y) * w + x1 + k])) p[size_t(y) * w + x1 + k] = float(out[k - start]);
  }
}

// One MinBlur step of `work` against `reference` (w x h), reach |rho|,
// rejecting when rho < 0. A neighbour counts only inside the image.
inline std::vector<float> MinBlurStep(const std::vector<float>& reference, const std::vector<float>& work, int w,
                                      int h, float scale, int rho) {
  const int r = std::abs(rho);
  const double sin45 = std::sqrt(0.5);
  const int k = int(std::nearbyint(r * sin45));
  const double wd = r * sin45 / k;
  const int dx[8] = {-k, 0, k, -r, r, -k, 0, k};
  const int dy[8] = {-k, -r, -k, 0, 0, k, r, k};
  const double weight[8] = {wd, 1, wd, 1, 1, wd, 1, wd};
  std::vector<float> out(work.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const size_t i = size_t(y) * w + x;
      const float v = work[i];
      if (!Valid(v)) {
        out[i] = Blank;
        continue;
      }
      double wc = (4 * wd + 4) * double(scale);
      double s = v * wc;
      wc = std::fabs(wc);
      if (rho < 0 && v < reference[i]) {
        wc = 1;
        s = v;
      }
      for (int n = 0; n < 8; ++n) {
        const int xn = x + dx[n], yn = y + dy[n];
        if (xn < 0 || yn < 0 || xn >= w || yn >= h) continue;
        const size_t j = size_t(yn) * w + xn;
        const float u = work[j];
        if (!Valid(u)) continue;
        if (rho < 0 && (!Valid(reference[j]) || u < reference[j])) continue;
        s += u * weight[n];
        wc += weight[n];
      }
      out[i] = wc > 0 ? float(s / wc) : Blank;
    }
  return out;
}

// MinBlur of `work` (a copy of `reference`) with radius R and factor f: a
// sweep up to |R| (rejecting for R < 0), then a plain one up to |R| div 2; the
// first step of all blurs the reference itself.
inline void MinBlur(const std::vector<float>& reference, std::vector<float>& work, int w, int h, int R, int f) {
  const float c = 0.7f * float(f);
  const int full = std::abs(R), sign = R < 0 ? -1 : 1;
  int limit = full;
  bool first = true, firstSweep = true;
  do {
    int r = 1;
    do {
      if (first)
        work = MinBlurStep(reference, reference, w, h, c, sign);
      else
        work = MinBlurStep(reference, work, w, h, c, firstSweep ? sign * r : r);
      first = false;
      r = r + 1 + r / 2;
    } while (r <= limit);
    limit /= 2;
    firstSweep = false;
  } while (limit >= full / 2 && limit != 0);
}

// The automatic flattening with divisor n: MinBlur's estimate of the
// background (AutoBackground), then its Gaussian and the subtraction with the
// 35 % level added (FlattenFromBackground).
inline std::vector<float> AutoBackground(const std::vector<float>& s, int w, int h, int n) {
  std::vector<float> d = s;
  MinBlur(s, d, w, h, -(w / (n * n / 2 + 1)), 1);
  return d;
}
inline std::vector<float> FlattenFromBackground(const std::vector<float>& s, std::vector<float> d, int w, int h) {
  Gauss(d, w, 0, w - 1, 0, h - 1, 3.0f);
  const double level = PercentileLevel(d, 35);
  for (size_t i = 0; i < d.size(); ++i) d[i] = Valid(s[i]) ? float(double(s[i]) - d[i] + level) : Blank;
  return d;
}
inline std::vector<float> FlattenAuto(const std::vector<float>& s, int w, int h, int n) {
  return FlattenFromBackground(s, AutoBackground(s, w, h, n), w, h);
}

// Coefficients of c0 + c1 i + c2 i^2 fitted robustly to a(i) - b(i).
inline std::array<double, 3> FitQuadratic(std::vector<float> a, std::vector<float> b) {
  const size_t n = a.size();
  std::array<double, 3> c{0, 0, 0};
  if (n <= 2) return c;
  for (std::vector<float>* row : {&a, &b})
    for (size_t i = 0; i < n; ++i) {
      if (Valid((*row)[i])) continue;
      double sum = 0;
      int count = 0;
      if (i > 0) sum += (*row)[i - 1], ++count;
      for (size_t j = i + 1; j < n; ++j)
        if (Valid((*row)[j])) {
          sum += (*row)[j], ++count;
          break;
        }
      if (count) (*row)[i] = float(sum / count);
    }
  const double last = double(n - 1);
  c[0] = double(a[0]) - b[0];
  c[1] = (double(a[n - 1]) - b[n - 1] - c[0]) / last;
  std::vector<double> r2(n);
  const auto squares = [&](const std::array<double, 3>& k) -> const std::vector<double>& {
    for (size_t i = 0; i < n; ++i) {
      const double r = a[i] - (b[i] + k[0] + k[1] * double(i) + k[2] * double(i) * double(i));
      r2[i] = r * r;
    }
    return r2;
  };
  const auto mean = [](const std::vector<double>& v) {
    double s = 0;
    for (double x : v) s += x;
    return s / double(v.size());
  };
  double E = mean(squares(c));
  const double rms = std::sqrt(E);
  std::array<double, 3> step{0.2 * rms, 2 * rms / last, 0};
  step[2] = 2 * step[1] / last;
  std::array<double, 3> sign{1, 1, 1};
  const double hm = last / 2;
  int j = 1;
  for (int t = 0; t <= 7000; ++t) {
    const double d = sign[size_t(j)] * step[size_t(j)];
    std::array<double, 3> trial = c;
    if (j == 1) trial = {c[0] - d * hm, c[1] + d, c[2]};
    if (j == 2) trial = {c[0] + d * 0.59 * hm * hm, c[1] - last * d, c[2] + d};
    if (j == 0) trial = {c[0] + d, c[1], c[2]};
    squares(trial);
    const double T = std::pow(0.002 * (8500 - t) * std::sqrt(mean(r2)), 2);
    double sum = 0;
    int count = 0;
    for (double x : r2)
      if (x < T) sum += x, ++count;
    const double error = count < 2 ? E + 1 : sum / count;
    if (error <= E) {
      E = error;
      c = trial;
    } else if (sign[size_t(j)] < 0) {
      step[size_t(j)] *= 0.77;
      sign[size_t(j)] = 1;
      j = (j + 1) % 3;
    } else {
      sign[size_t(j)] = -1;
    }
  }
  return c;
}

struct TFit {
  double a0 = 0, a1 = 0, a2 = 0;
  double At(double i) const { return a0 + a1 * i + a2 * i * i; }
};

// The flattened rectangle x1..x2, y1..y2 of `d` fitted at its sides with room
// to the image around it and faded into the source `s`.
inline void FitEdges(const std::vector<float>& s, std::vector<float>& d, int w, int h, int x1, int y1, int x2,
                     int y2) {
  bool roomT = y1 > 1, roomL = x1 > 1, roomR = x2 < w - 2, roomB = y2 < h - 2;
  if (!(roomT || roomL || roomR || roomB)) return;
  const int W = x2 - x1, Hh = y2 - y1;
  TFit T, L, R, B;
  const auto at = [&](int x, int y) -> float {
    if (x < 0 || y < 0 || x >= w || y >= h) return Blank;
    return d[size_t(y) * w + x];
  };
  // side 0 top, 1 bottom, 2 left, 3 right
  const auto fitSide = [&](int side, int lines, TFit& f, bool& room) {
    const bool horizontal = side < 2;
    const int n = horizontal ? W + 1 : Hh + 1;
    double slope = 0;
    if (side == 0) slope = L.a1 + L.a2 + R.a1 + R.a2;
    if (side == 1) slope = L.At(Hh) + R.At(Hh) - (L.At(Hh + 1) + R.At(Hh + 1));
    if (side == 2) slope = T.a1 + T.a2 + B.a1 + B.a2;
    if (side == 3) slope = T.At(W) + B.At(W) - (T.At(W + 1) + B.At(W + 1));
    std::vector<float> outside(static_cast<size_t>(n), Blank), inside(static_cast<size_t>(n), Blank);
    for (int i = 0; i < n; ++i) {
      double so = 0, si = 0;
      int co = 0, ci = 0;
      for (int dd = 0; dd < lines; ++dd) {
        float vo = 0, vi = 0;
        if (side == 0) vo = at(x1 + i, y1 - dd - 1), vi = at(x1 + i, y1 + dd);
        if (side == 1) vo = at(x1 + i, y2 + dd + 1), vi = at(x1 + i, y2 - dd);
        if (side == 2) vo = at(x1 - dd - 1, y1 + i), vi = at(x1 + dd, y1 + i);
        if (side == 3) vo = at(x2 + dd + 1, y1 + i), vi = at(x2 - dd, y1 + i);
        if (Valid(vo)) so += vo + (dd + 1) * 0.5 * slope, ++co;
        if (Valid(vi)) si += vi, ++ci;
      }
      outside[size_t(i)] = co ? float(so / co) : Blank;
      inside[size_t(i)] = ci ? float(si / ci) : Blank;
    }
    const std::array<double, 3> c = FitQuadratic(outside, inside);
    f = {c[0], c[1], c[2]};
    if (!Valid(f.a0)) room = false;
  };
  for (int pass = 0; pass < 2; ++pass) {
    const int linesTB = pass == 0 ? 2 : std::max(2, Hh / 4 + 1), linesLR = pass == 0 ? 2 : std::max(2, W / 4 + 1);
    if (roomT) fitSide(0, linesTB, T, roomT);
    if (roomB) fitSide(1, linesTB, B, roomB);
    if (roomL) fitSide(2, linesLR, L, roomL);
    if (roomR) fitSide(3, linesLR, R, roomR);
    if (!roomT) T = roomB ? B : TFit{};
    if (!roomB) B = roomT ? T : TFit{};
    if (!roomL) L = roomR ? R : TFit{};
    if (!roomR) R = roomL ? L : TFit{};
    const int rooms = roomT + roomL + roomR + roomB;
    if (rooms == 1) {
      const TFit only = roomT ? T : roomL ? L : roomR ? R : B;
      T.a0 = L.a0 = R.a0 = B.a0 = only.a0;
      if (roomT || roomB) R.a0 = only.At(W);
    } else if (rooms >= 2) {
      if (!roomT) {
        T.a0 = L.a0;
      } else if (!roomL) {
        L.a0 = T.a0;
      } else {
        const double dd = (T.a0 - L.a0) / 2;
        T.a0 -= dd;
        L.a0 += dd;
        if (roomR) T.a1 += dd / W;
        if (roomB) L.a1 -= dd / Hh;
      }
      const double e = T.At(W);
      if (!roomT) {
        if (!roomL) {
          T.a0 = T.a0 + R.a0 - e;
          L.a0 = T.a0;
        } else {
          T.a1 += (R.a0 - T.a0) / W;
        }
      } else if (!roomR) {
        R.a0 = e;
      } else {
        const double dd = (e - R.a0) / 2;
        R.a0 += dd;
        if (!roomL) {
          T.a0 -= dd;
          L.a0 = T.a0;
          if (roomB) L.a1 += dd / Hh;
        } else {
          T.a1 -= dd / W;
        }
        if (roomB) R.a1 -= dd / Hh;
      }
      const double g = L.At(Hh), hr = R.At(Hh);
      if (roomL) {
        if (!roomB) {
          if (roomR) B.a1 += (B.a0 - g) / W;
          B.a0 = g;
        } else {
          const double dd = (g - B.a0) / 2;
          B.a0 += dd;
          if (roomR) B.a1 -= dd / W;
          if (!roomT) {
            L.a0 -= dd;
            T.a0 = L.a0;
            if (roomR) T.a1 += dd / W;
          } else {
            L.a1 -= dd / Hh;
          }
        }
      }
      const double m = B.At(W);
      if (!roomR) {
        if (roomB) R.a1 += (m - hr) / Hh;
      } else {
        const double dd = (hr - m) / 2;
        B.a1 += dd / W;
        R.a1 -= dd / Hh;
      }
    }
  }
  if (!(roomT || roomL || roomR || roomB)) return;
  const int qx = std::max(W / 4, 1), qy = std::max(Hh / 4, 1);
  for (int y = 0; y <= Hh; ++y)
    for (int x = 0; x <= W; ++x) {
      const size_t i = size_t(y1 + y) * w + x1 + x;
      if (!Valid(d[i])) continue;
      const double c2 = T.a2 + (B.a2 - T.a2) * y / Hh;
      const double slope = (R.At(y) - L.At(y) - double(W) * W * c2) / W;
      const double corr = L.At(y) + x * slope + double(x) * x * c2;
      double fx = 1, fy = 1;
      if (roomL && x < qx) fx = double(x) / qx;
      else if (roomR && W - x < qx) fx = double(W - x) / qx;
      if (roomT && y < qy) fy = double(y) / qy;
      else if (roomB && Hh - y < qy) fy = double(Hh - y) / qy;
      d[i] = float(((d[i] + corr) - s[i]) * fx * fy + s[i]);
    }
}

// The window a..b of the running percentile at x on a line of n values for
// half-width h.
inline void Window(int x, int n, int h, int& a, int& b) {
  a = -h;
  b = h;
  if (x - h < 0) {
    b = std::min(h, x + 1 + h / 5);
    a = -x;
  }
  if (x + b >= n) {
    a = x - h - n + b - h / 5;
    if (a < -h) a = -h;
    if (a < -x) a = -x;
    b = n - 1 - x;
  }
}

struct TMaskedRun {
  float Radius = 15;
  int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
  bool BackgroundOnly = false, Masked = false;
  double Fraction = 0.25;
  const std::vector<uint8_t>* Mask = nullptr;  // mask mode: one byte per pixel, 0 free
};

// The running-percentile flattening of the rectangle of `d` (a copy of `s`).
// In mask mode masked pixels are left blank and the background stays in `d`;
// outside the rectangle `d` keeps the source.
inline void FlattenMasked(const std::vector<float>& s, std::vector<float>& d, int w, int h, const TMaskedRun& run) {
  const int x1 = std::clamp(run.X1, 0, w - 2), y1 = std::clamp(run.Y1, 0, h - 2);
  const int x2 = std::clamp(run.X2, x1 + 1, w - 1), y2 = std::clamp(run.Y2, y1 + 1, h - 1);
  const bool M = run.Masked;
  const int R = int(std::clamp(run.Radius, 1.0f, 167.0f));
  std::array<float, 256> wt{};
  for (int i = 0; i < 256; ++i)
    wt[size_t(i)] = i / run.Radius <= 100 ? float(std::pow(2.718281828459, -std::pow(i / run.Radius, 2))) : 0.0f;
  const int step = std::max(1, int(R / 6.0 * std::sqrt(double(x2 - x1) * (y2 - y1) / (double(w) * h))));
  const double T = M ? PercentileLevel(s, 95) : 1e10;
  const int wide = int(std::nearbyint(1.5 * R + 3));
  const auto masked = [&](size_t i) { return M && run.Mask && (*run.Mask)[i] != 0; };
  std::vector<float> H(s.size(), Blank), samples;
  for (int y = std::max(y1 - R, 0); y <= std::min(y2 + R, h - 1); ++y)
    for (int x = x1; x <= x2; ++x) {
      const size_t i = size_t(y) * w + x;
      const float c0 = s[i];
      if (!Valid(c0) || masked(i)) continue;
      const int hw = M && c0 > T ? wide : R;
      int a = 0, b = 0;
      Window(x, w, hw, a, b);
      samples.clear();
      for (int dd = a; M ? dd < b : dd <= b; dd += step) {
        const float v = s[i + dd];
        if (!Valid(v) || masked(i + dd)) continue;
        samples.push_back(M ? v : float((double(v) - c0) * wt[size_t(std::abs(dd))] + c0));
      }
      if (!samples.empty()) H[i] = Percentile(samples, run.Fraction);
    }
  for (int x = x1; x <= x2; ++x)
    for (int y = y1; y <= y2; ++y) {
      const size_t i = size_t(y) * w + x;
      if (!Valid(H[i])) {
        if (M) d[i] = Blank;  // the masked holes, filled by the caller
        continue;
      }
      const int hw = M && d[i] > T ? wide : R;
      int a = 0, b = 0;
      Window(y, h, hw, a, b);
      samples.clear();
      for (int dd = a; dd <= b; dd += step) {
        const float v = H[i + ptrdiff_t(dd) * w];
        if (!Valid(v)) continue;
        samples.push_back(M ? v : float((double(v) - H[i]) * wt[size_t(std::abs(dd))] + H[i]));
      }
      if (!samples.empty()) d[i] = Percentile(samples, run.Fraction);
    }
  if (!M) Gauss(d, w, x1, x2, y1, y2, 0.3f + R / 3.0f);
  const double level = run.BackgroundOnly ? 0 : PercentileLevel(d, 35);
  if (!M && !run.BackgroundOnly)
    for (int y = y1; y <= y2; ++y)
      for (int x = x1; x <= x2; ++x) {
        const size_t i = size_t(y) * w + x;
        d[i] = Valid(d[i]) && Valid(s[i]) ? float(double(s[i]) - d[i] + level) : s[i];
      }
  FitEdges(s, d, w, h, x1, y1, x2, y2);
}

}  // namespace astrelon::test::plain
