// Block and box averaging of a plane for reductions.
#include <algorithm>
#include <vector>

#include "pixelops/resample_steps.h"
#include "platform/parallel_bands.h"

namespace astrelon {

namespace {

// Edges [e0, e1) of n boxes of width s, accumulated in float by repeated addition.
void BoxEdges(int32_t n, float s, std::vector<float>& e0, std::vector<float>& e1) {
  e0.resize(size_t(n));
  e1.resize(size_t(n));
  float a = 0, b = s;
  for (int32_t i = 0; i < n; ++i, a += s, b += s) {
    e0[size_t(i)] = a;
    e1[size_t(i)] = b;
  }
}

// The samples of a box [b0, b1) along a side of `length` and their weights: the
// first sample weighs what lies right of b0; a later one 1, the last what its
// counter (b0 + 1, b0 + 2, ...) leaves below b1.
struct TBoxSpan {
  int32_t First = 0;
  std::vector<float> Weight;
};
TBoxSpan BoxSpan(float b0, float b1, int32_t length) {
  TBoxSpan s;
  int32_t j = int32_t(b0);
  s.First = j;
  for (float c = b0; j < length && c < b1; ++j, c += 1) {
    float wgt = float(j) - b0 + 1;
    if (wgt > 1) wgt = std::min(b1 - c, 1.0f);
    s.Weight.push_back(wgt);
  }
  return s;
}

}  // namespace

TPlane BlockMeans(const TPlane& src, int32_t w, int32_t h, TResampleAxis axis, int32_t factor) {
  const bool alongX = axis == TResampleAxis::X;
  const int32_t outW = alongX ? w / factor : w, outH = alongX ? h : h / factor;
  TPlane out(size_t(outW) * size_t(outH));
  ForEachBand(outH, ResampleThreads(int64_t(outW) * outH), [&](int64_t r0, int64_t r1) {
    std::vector<double> sum;
    std::vector<int32_t> count;
    for (int32_t r = int32_t(r0); r < int32_t(r1); ++r) {
      float* o = out.data() + size_t(r) * size_t(outW);
      if (alongX) {
        const float* s = src.data() + size_t(r) * size_t(w);
        for (int32_t i = 0; i < outW; ++i, s += factor) {
          double total = 0;
          int32_t valid = 0;
          for (int32_t k = 0; k < factor; ++k)
            if (s[k] > BlankLimit) {
              total += s[k];
              ++valid;
            }
          o[i] = valid ? float(total / valid) : BlankPixel;
        }
      } else {
        sum.assign(size_t(w), 0.0);
        count.assign(size_t(w), 0);
        for (int32_t k = 0; k < factor; ++k) {
          const float* s = src.data() + (size_t(r) * size_t(factor) + size_t(k)) * size_t(w);
          for (int32_t x = 0; x < w; ++x)
            if (s[x] > BlankLimit) {
              sum[size_t(x)] += s[x];
              ++count[size_t(x)];
            }
        }
        for (int32_t x = 0; x < w; ++x)
          o[x] = count[size_t(x)] ? float(sum[size_t(x)] / count[size_t(x)]) : BlankPixel;
      }
    }
  });
  return out;
}

TPlane BoxMeans(const TPlane& src, int32_t w, int32_t h, float sx, float sy, int32_t nw, int32_t nh) {
  std::vector<float> x0, x1, y0, y1;
  BoxEdges(nw, sx, x0, x1);
  BoxEdges(nh, sy, y0, y1);
  std::vector<TBoxSpan> columns(static_cast<size_t>(nw));
  for (int32_t i = 0; i < nw; ++i) columns[size_t(i)] = BoxSpan(x0[size_t(i)], x1[size_t(i)], w);
  TPlane out(size_t(nw) * size_t(nh));
  ForEachBand(nh, ResampleThreads(int64_t(nw) * nh), [&](int64_t r0, int64_t r1) {
    std::vector<double> sum(static_cast<size_t>(nw)), weight(static_cast<size_t>(nw));
    for (int32_t r = int32_t(r0); r < int32_t(r1); ++r) {
      std::fill(sum.begin(), sum.end(), 0.0);
      std::fill(weight.begin(), weight.end(), 0.0);
      const TBoxSpan rows = BoxSpan(y0[size_t(r)], y1[size_t(r)], h);
      for (size_t jr = 0; jr < rows.Weight.size(); ++jr) {
        const float wy = rows.Weight[jr];
        const float* s = src.data() + (size_t(rows.First) + jr) * size_t(w);
        for (int32_t i = 0; i < nw; ++i) {
          const TBoxSpan& c = columns[size_t(i)];
          double si = sum[size_t(i)], wi = weight[size_t(i)];
          for (size_t k = 0; k < c.Weight.size(); ++k) {
            const float v = s[size_t(c.First) + k];
            if (v > BlankLimit) {
              const float wxy = c.Weight[k] * wy;
              si += double(v) * wxy;
              wi += wxy;
            }
          }
          sum[size_t(i)] = si;
          weight[size_t(i)] = wi;
        }
      }
      float* o = out.data() + size_t(r) * size_t(nw);
      for (int32_t i = 0; i < nw; ++i)
        o[i] = weight[size_t(i)] > 0 ? float(sum[size_t(i)] / weight[size_t(i)]) : BlankPixel;
    }
  });
  return out;
}

}  // namespace astrelon
