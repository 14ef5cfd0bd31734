// fGauss on one plane: the third-order recursion of Young and van Vliet run
// forward and backward down every column of the rectangle, then along every
// row of the column pass's output.
//
// Lines are worked sixteen side by side: a group's values lie interleaved (value
// i of lane l at i * step + l), which the column pass finds in the plane itself
// (sixteen neighbouring columns) and the row pass makes by gathering sixteen
// rows. The same template runs one lane at a time in plain double arithmetic
// (the scalar path) or four lanes per vector (SSE2, or AVX2 where allowed):
// each lane does the same operations in the same order, so every path and
// every split over threads gives the same bits.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "filters/filter_rows.h"
#include "filters/gauss_filters.h"
#include "platform/simd_support.h"

// The vector helpers are always inlined, so the calling convention of
// 32-byte vectors outside AVX code never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

TRecursiveGaussCoefficients RecursiveGaussCoefficients(float radius) {
  TRecursiveGaussCoefficients c;
  // Below a radius of about 0.455 q turns negative; 0.5 blurs next to nothing.
  const double r = std::isnan(radius) ? 0.5 : std::clamp(double(radius), 0.5, 1e6);
  c.Sigma = r / 1.49;
  c.InitialCount = int32_t(std::min(std::nearbyint(c.Sigma + 1.0), 1e9)) + 1;
  c.Q = c.Sigma <= 2.5 ? 3.97156 - 4.14554 * std::sqrt(1.0 - 0.26891 * c.Sigma) : 0.98711 * c.Sigma - 0.96330;
  const double q = c.Q, q2 = q * q, q3 = q2 * q;
  c.B0 = 1.57825 + 2.44413 * q + 1.4281 * q2 + 0.422205 * q3;
  c.B1 = 2.44413 * q + 2.8562 * q2 + 1.266615 * q3;
  c.B2 = -(1.4281 * q2 + 1.266615 * q3);
  c.B3 = 0.422205 * q3;
  c.B = 1.0 - (c.B1 + c.B2 + c.B3) / c.B0;
  return c;
}

namespace {

constexpr int GroupLanes = 16;

typedef double TVec4d __attribute__((vector_size(32)));
typedef float TVec4f __attribute__((vector_size(16)));
typedef int32_t TVec4i __attribute__((vector_size(16)));

template <class V>
constexpr int LanesOf = int(sizeof(V) / sizeof(double));

// w[i] = B x[i] + C1 w[i-1] + C2 w[i-2] + C3 w[i-3], Ck = bk / b0.
struct TRecursion {
  double B = 0, C1 = 0, C2 = 0, C3 = 0;
  int32_t InitialCount = 1;
};

TRecursion MakeRecursion(float radius) {
  const TRecursiveGaussCoefficients c = RecursiveGaussCoefficients(radius);
  return {c.B, c.B1 / c.B0, c.B2 / c.B0, c.B3 / c.B0, c.InitialCount};
}

// One group of lines: value i of lane l at In[i * InStep + l].
struct TLineGroup {
  const float* In = nullptr;
  ptrdiff_t InStep = 0;
  int32_t Count = 0;
  int32_t Lanes = GroupLanes;  // lanes that hold lines; the others are blank
  // Per lane: the first valid value (Count when the line has none) and the mean
  // the recursion starts from.
  alignas(32) std::array<int32_t, GroupLanes> Start{};
  alignas(32) std::array<double, GroupLanes> Mean{};
  int32_t MinStart = 0, MaxStart = 0;
  // w of value i of lane l at Work[i * GroupLanes + l], i < Count + 3.
  double* Work = nullptr;
};

// Start and starting mean of each lane: past leading blanks, the mean of the
// first n + 1 values (or fewer at the end of the line), blanks taking the latest
// valid value.
void FindStarts(TLineGroup& g, int32_t initialCount) {
  g.MinStart = g.Count;
  g.MaxStart = 0;
  for (int l = 0; l < GroupLanes; ++l) {
    int32_t t = g.Count;
    double mean = 0;
    if (l < g.Lanes) {
      const float* p = g.In + l;
      t = 0;
      while (t < g.Count && !IsValidPixel(p[t * g.InStep])) ++t;
      if (t < g.Count) {
        double sum = 0, last = 0;
        int32_t k = 0;
        for (; k < initialCount && t + k < g.Count; ++k) {
          const float v = p[(t + k) * g.InStep];
          if (IsValidPixel(v)) last = v;
          sum += last;
        }
        mean = sum / k;
      }
    }
    g.Start[size_t(l)] = t;
    g.Mean[size_t(l)] = mean;
    g.MinStart = std::min(g.MinStart, t);
    g.MaxStart = std::max(g.MaxStart, t);
  }
}

template <class V>
[[gnu::always_inline]] inline V Splat(double d) {
  if constexpr (LanesOf<V> == 1)
    return d;
  else
    return V{} + d;
}
template <class V>
[[gnu::always_inline]] inline V LoadF(const float* p) {
  if constexpr (LanesOf<V> == 1) {
    return double(*p);
  } else {
    TVec4f f;
    std::memcpy(&f, p, sizeof f);
    return __builtin_convertvector(f, TVec4d);
  }
}
template <class V>
[[gnu::always_inline]] inline V LoadD(const double* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class V>
[[gnu::always_inline]] inline void StoreD(double* p, V v) {
  std::memcpy(p, &v, sizeof v);
}
template <class V>
[[gnu::always_inline]] inline V Step(const TRecursion& r, V x, V h1, V h2, V h3) {
  const V b = Splat<V>(r.B), c1 = Splat<V>(r.C1), c2 = Splat<V>(r.C2), c3 = Splat<V>(r.C3);
  return ((b * x + c3 * h3) + c2 * h2) + c1 * h1;
}

// Forward and backward recursion of the lanes lane0 .. lane0 + K * lanes(V) - 1
// into g.Work. Before its start a lane's history is its mean; blanks take the
// latest valid value; three values after the end continue with it.
template <class V, int K>
[[gnu::always_inline]] inline void Recurse(const TLineGroup& g, const TRecursion& r, int lane0) {
  constexpr int L = LanesOf<V>;
  const int32_t n = g.Count;
  V h1[K], h2[K], h3[K], last[K], mean[K], start[K];
  int32_t from = n, masked = 0;
  for (int k = 0; k < K; ++k) {
    for (int j = 0; j < L; ++j) {
      const int32_t t = g.Start[size_t(lane0 + k * L + j)];
      from = std::min(from, t);
      masked = std::max(masked, t);
    }
    mean[k] = LoadD<V>(&g.Mean[size_t(lane0 + k * L)]);
    if constexpr (L == 1)
      start[k] = double(g.Start[size_t(lane0 + k)]);
    else
      for (int j = 0; j < L; ++j) start[k][j] = double(g.Start[size_t(lane0 + k * L + j)]);
    h1[k] = h2[k] = h3[k] = last[k] = mean[k];
  }
  masked = std::min(masked, n);
  const V limit = Splat<V>(double(BlankLimit));
  double* const work = g.Work + lane0;
  auto forward = [&](int32_t i, bool mask) {
    const float* in = g.In + i * g.InStep + lane0;
    for (int k = 0; k < K; ++k) {
      const V v = LoadF<V>(in + k * L);
      const V x = v > limit ? v : last[k];
      last[k] = x;
      V w = Step(r, x, h1[k], h2[k], h3[k]);
      if (mask) w = Splat<V>(double(i)) < start[k] ? mean[k] : w;
      StoreD(work + i * GroupLanes + k * L, w);
      h3[k] = h2[k];
      h2[k] = h1[k];
      h1[k] = w;
    }
  };
  int32_t i = from;
  for (; i < masked; ++i) forward(i, true);
  for (; i < n; ++i) forward(i, false);
  for (int32_t e = 0; e < 3; ++e)
    for (int k = 0; k < K; ++k) {
      const V w = Step(r, last[k], h1[k], h2[k], h3[k]);
      StoreD(work + (n + e) * GroupLanes + k * L, w);
      h3[k] = h2[k];
      h2[k] = h1[k];
      h1[k] = w;
    }
  for (int k = 0; k < K; ++k) {
    h1[k] = LoadD<V>(work + n * GroupLanes + k * L);
    h2[k] = LoadD<V>(work + (n + 1) * GroupLanes + k * L);
    h3[k] = LoadD<V>(work + (n + 2) * GroupLanes + k * L);
  }
  for (i = n - 1; i >= from; --i)
    for (int k = 0; k < K; ++k) {
      double* p = work + i * GroupLanes + k * L;
      const V w = Step(r, LoadD<V>(p), h1[k], h2[k], h3[k]);
      StoreD(p, w);
      h3[k] = h2[k];
      h2[k] = h1[k];
      h1[k] = w;
    }
}

// Column-pass output of a group: value i of lane l goes to Out[i * OutStep + l]:
// the blur where the input is valid, -1e11 where it is blank, and before the
// lane's start the value of Lead (the input itself, or Out left as it is).
struct TColumnOutput {
  float* Out = nullptr;
  ptrdiff_t OutStep = 0;
  bool LeadFromInput = false;
};

template <int Vec>
[[gnu::always_inline]] inline void WriteColumnOutput(const TLineGroup& g, const TColumnOutput& o) {
  const int32_t n = g.Count;
  if constexpr (Vec) {
    TVec4i start[GroupLanes / 4];
    for (int k = 0; k < GroupLanes / 4; ++k) std::memcpy(&start[k], &g.Start[size_t(4 * k)], sizeof(TVec4i));
    const TVec4f limit = TVec4f{} + BlankLimit, blank = TVec4f{} + BlankPixel;
    for (int32_t i = g.MinStart; i < n; ++i) {
      const float* in = g.In + i * g.InStep;
      float* out = o.Out + i * o.OutStep;
      const double* w = g.Work + i * GroupLanes;
      const TVec4i row = TVec4i{} + i;
      for (int k = 0; k < GroupLanes / 4; ++k) {
        TVec4f v, lead;
        std::memcpy(&v, in + 4 * k, sizeof v);
        if (o.LeadFromInput)
          lead = v;
        else
          std::memcpy(&lead, out + 4 * k, sizeof lead);
        const TVec4f f = __builtin_convertvector(LoadD<TVec4d>(w + 4 * k), TVec4f);
        TVec4f r = v > limit ? f : blank;
        r = row < start[k] ? lead : r;
        std::memcpy(out + 4 * k, &r, sizeof r);
      }
    }
  } else {
    for (int32_t i = g.MinStart; i < n; ++i)
      for (int l = 0; l < GroupLanes; ++l) {
        const float v = g.In[i * g.InStep + l];
        float& out = o.Out[i * o.OutStep + l];
        if (i >= g.Start[size_t(l)])
          out = IsValidPixel(v) ? float(g.Work[i * GroupLanes + l]) : BlankPixel;
        else if (o.LeadFromInput)
          out = v;
      }
  }
}

void RecurseScalar(const TLineGroup& g, const TRecursion& r) {
  for (int l = 0; l < GroupLanes; ++l) Recurse<double, 1>(g, r, l);
}
void RecurseSse2(const TLineGroup& g, const TRecursion& r) { Recurse<TVec4d, GroupLanes / 4>(g, r, 0); }
void WriteColumnsScalar(const TLineGroup& g, const TColumnOutput& o) { WriteColumnOutput<0>(g, o); }
void WriteColumnsSse2(const TLineGroup& g, const TColumnOutput& o) { WriteColumnOutput<1>(g, o); }
#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void RecurseAvx2(const TLineGroup& g, const TRecursion& r) {
  Recurse<TVec4d, GroupLanes / 4>(g, r, 0);
}
ASTRELON_AVX2 void WriteColumnsAvx2(const TLineGroup& g, const TColumnOutput& o) { WriteColumnOutput<1>(g, o); }
#endif

enum class TPath { Scalar, Sse2, Avx2 };

TPath ChoosePath(bool vector) {
  if (!vector) return TPath::Scalar;
  return UseAvx2(true) ? TPath::Avx2 : TPath::Sse2;
}

void RunRecursion(TPath path, const TLineGroup& g, const TRecursion& r) {
  switch (path) {
    case TPath::Scalar: RecurseScalar(g, r); break;
    case TPath::Sse2: RecurseSse2(g, r); break;
#if ASTRELON_HAVE_AVX2
    case TPath::Avx2: RecurseAvx2(g, r); break;
#else
    case TPath::Avx2: RecurseSse2(g, r); break;
#endif
  }
}

void RunColumnOutput(TPath path, const TLineGroup& g, const TColumnOutput& o) {
  switch (path) {
    case TPath::Scalar: WriteColumnsScalar(g, o); break;
    case TPath::Sse2: WriteColumnsSse2(g, o); break;
#if ASTRELON_HAVE_AVX2
    case TPath::Avx2: WriteColumnsAvx2(g, o); break;
#else
    case TPath::Avx2: WriteColumnsSse2(g, o); break;
#endif
  }
}

// Scratch of one thread: the work line and, for gathered groups, the
// interleaved input and output.
struct TScratch {
  std::vector<double> Work;
  std::vector<float> In, Out;
  explicit TScratch(int32_t count)
      : Work(size_t(count + 3) * GroupLanes), In(size_t(count) * GroupLanes), Out(size_t(count) * GroupLanes) {}
};

}  // namespace

bool RecursiveGaussPlane(const TGaussPlane& plane, float radius, int32_t strength, const TGaussPlaneRun& run) {
  const int32_t W = plane.Width, H = plane.Height;
  const TWorkRect rc = plane.Rect;
  if (W < 1 || H < 1 || rc.x1 < 0 || rc.y1 < 0 || rc.x2 >= W || rc.y2 >= H || rc.x1 > rc.x2 || rc.y1 > rc.y2)
    return true;
  CheckRect(plane.Source.size(), W, H, W);
  CheckRect(plane.Destination.size(), W, H, W);
  const TRecursion rec = MakeRecursion(radius);
  const double s = std::clamp(strength, 0, 100) / 100.0;
  const TPath path = ChoosePath(run.Vector);
  const int32_t rw = rc.x2 - rc.x1 + 1, rh = rc.y2 - rc.y1 + 1;
  const float* src = plane.Source.data();
  float* dst = plane.Destination.data();
  const bool inPlace = src == dst;

  // The column pass writes into the destination, or into a plane of the
  // rectangle's size when filtering in place (rows before a column's first valid
  // value keep the source there).
  std::vector<float> temp;
  if (inPlace) temp.resize(size_t(rw) * size_t(rh));
  float* colOut = inPlace ? temp.data() : dst + size_t(rc.y1) * W + rc.x1;
  const ptrdiff_t colStep = inPlace ? rw : W;

  // First row of each column that the column pass wrote (rh: none); the row
  // pass reads the rows above it as blank, whatever the destination held there.
  std::vector<int32_t> colStart(size_t(rw), rh);
  auto percent = [&](double done) {
    return !run.Poll || run.Poll->ContinuePercent(run.PlaneIndex, float(done));
  };

  // Column pass: groups of sixteen columns; a last narrower group is gathered
  // into a buffer whose unused lanes are blank.
  const int64_t groups = (rw + GroupLanes - 1) / GroupLanes;
  bool go = ForEachChunk(
      0, groups, int64_t(rh) * GroupLanes,
      [&](int64_t first, int64_t last) {
        TScratch scratch(rh);
        for (int64_t gi = first; gi < last; ++gi) {
          const int32_t x0 = int32_t(gi * GroupLanes);
          const int32_t lanes = std::min(GroupLanes, rw - x0);
          const float* in = src + size_t(rc.y1) * W + rc.x1 + x0;
          TLineGroup g;
          g.Count = rh;
          g.Lanes = lanes;
          g.Work = scratch.Work.data();
          TColumnOutput o{colOut + x0, colStep, inPlace};
          if (lanes == GroupLanes) {
            g.In = in;
            g.InStep = W;
          } else {
            for (int32_t i = 0; i < rh; ++i)
              for (int l = 0; l < GroupLanes; ++l)
                scratch.In[size_t(i) * GroupLanes + l] = l < lanes ? in[size_t(i) * W + l] : BlankPixel;
            g.In = scratch.In.data();
            g.InStep = GroupLanes;
            for (int32_t i = 0; i < rh; ++i)
              for (int l = 0; l < lanes; ++l) scratch.Out[size_t(i) * GroupLanes + l] = colOut[i * colStep + x0 + l];
            o = {scratch.Out.data(), GroupLanes, inPlace};
          }
          FindStarts(g, rec.InitialCount);
          for (int l = 0; l < lanes; ++l) colStart[size_t(x0 + l)] = g.Start[size_t(l)];
          RunRecursion(path, g, rec);
          RunColumnOutput(path, g, o);
          if (lanes < GroupLanes)
            for (int32_t i = 0; i < rh; ++i)
              for (int l = 0; l < lanes; ++l) colOut[i * colStep + x0 + l] = scratch.Out[size_t(i) * GroupLanes + l];
        }
      },
      [&](int64_t last) { return percent(50.0 * double(last + 1) / double(groups)); });
  if (!go) return false;

  // Row pass: groups of sixteen rows gathered side by side; the result, mixed
  // with the source, goes to the pixels whose source is valid.
  const int64_t rowGroups = (rh + GroupLanes - 1) / GroupLanes;
  go = ForEachChunk(
      0, rowGroups, int64_t(rw) * GroupLanes,
      [&](int64_t first, int64_t last) {
        TScratch scratch(rw);
        for (int64_t gi = first; gi < last; ++gi) {
          const int32_t r0 = int32_t(gi * GroupLanes);
          const int32_t lanes = std::min(GroupLanes, rh - r0);
          float* buf = scratch.In.data();
          for (int32_t i = 0; i < rw; ++i)
            for (int l = 0; l < GroupLanes; ++l)
              buf[size_t(i) * GroupLanes + l] =
                  l < lanes && r0 + l >= colStart[size_t(i)] ? colOut[(r0 + l) * colStep + i] : BlankPixel;
          TLineGroup g;
          g.In = buf;
          g.InStep = GroupLanes;
          g.Count = rw;
          g.Lanes = lanes;
          g.Work = scratch.Work.data();
          FindStarts(g, rec.InitialCount);
          RunRecursion(path, g, rec);
          const double* w = g.Work;
          for (int32_t i = 0; i < rw; ++i)
            for (int l = 0; l < lanes; ++l) {
              const size_t at = size_t(rc.y1 + r0 + l) * W + size_t(rc.x1 + i);
              const float v = src[at];
              if (IsValidPixel(v)) dst[at] = float(s * w[size_t(i) * GroupLanes + l] + (1.0 - s) * v);
            }
        }
      },
      [&](int64_t last) { return percent(50.0 + 50.0 * double(last + 1) / double(rowGroups)); });
  return go;
}

}  // namespace astrelon
