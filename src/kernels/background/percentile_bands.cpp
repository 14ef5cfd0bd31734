#include "kernels/background/percentile_bands.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "kernels/gauss/filter_rows.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Output rows a thread does per round: the poll runs between rounds, and the
// row percentiles the next round still reaches (2 r rows) move to the front
// of the band's buffer.
constexpr int32_t RoundRows = 256;

// One thread's band: its output rows and the row percentiles it holds
// (rows First .. First + Held - 1, x2 - x1 + 1 values each).
struct TBand {
  int32_t Next = 0, End = 0;
  int32_t First = 0, Held = 0;
  TPlane Rows;  // left uninitialised: every value read is written first
  std::vector<float> Samples, Line;
};

// Output rows next .. last - 1 of a band: the row percentiles they reach are
// kept (those no longer reached dropped), the missing ones computed, then the
// column percentiles written.
void BandRound(const float* s, float* d, const TPercentilePasses& c, TBand& b, int32_t last) {
  const int32_t lineWidth = c.X2 - c.X1 + 1;
  const size_t stride = size_t(lineWidth);
  // Rows the windows of rows next .. last - 1 reach (they stay inside the plane).
  const int32_t need0 = std::max(b.Next - c.Reach, 0), need1 = std::min(last - 1 + c.Reach, c.Height - 1) + 1;
  if (b.Held > 0 && need0 < b.First + b.Held && need0 >= b.First) {
    const int32_t drop = need0 - b.First;
    b.Held -= drop;
    if (drop > 0)
      std::memmove(b.Rows.data(), b.Rows.data() + size_t(drop) * stride, size_t(b.Held) * stride * sizeof(float));
  } else {
    b.Held = 0;
  }
  b.First = need0;
  b.Rows.resize(size_t(need1 - need0) * stride);
  for (int32_t y = b.First + b.Held; y < need1; ++y)
    RowPercentiles(s + size_t(y) * size_t(c.Width), c, b.Samples, b.Rows.data() + size_t(y - b.First) * stride);
  b.Held = need1 - need0;
  b.Line.resize(stride);
  for (int32_t y = b.Next; y < last; ++y) {
    int32_t a = 0, e = 0;
    PercentileWindow(y, c.Height, c.Reach, a, e);
    WeightedPercentileRun(b.Rows.data() + size_t(y - b.First) * stride, ptrdiff_t(stride), lineWidth, a, e, c.Step,
                          *c.Weights, c.Fraction, c.Vector, b.Line.data(), b.Samples);
    float* out = d + size_t(y) * size_t(c.Width) + size_t(c.X1);
    for (int32_t x = 0; x < lineWidth; ++x)
      if (IsValidPixel(b.Line[size_t(x)])) out[x] = b.Line[size_t(x)];
  }
  b.Next = last;
}

}  // namespace

void RowPercentiles(const float* row, const TPercentilePasses& c, std::vector<float>& samples, float* out) {
  const int32_t R = c.Reach;
  // The pixels whose window lies inside the row share it.
  const int32_t ia = std::max(c.X1, R), ib = std::min(c.X2, c.Width - 1 - R);
  for (int32_t x = c.X1; x <= c.X2; ++x) {
    if (x == ia && ia <= ib) {
      WeightedPercentileRun(row + x, 1, ib - ia + 1, -R, R, c.Step, *c.Weights, c.Fraction, c.Vector,
                            out + (x - c.X1), samples);
      x = ib;
      continue;
    }
    const float c0 = row[x];
    if (!IsValidPixel(c0)) {
      out[x - c.X1] = BlankPixel;
      continue;
    }
    int32_t a = 0, b = 0;
    PercentileWindow(x, c.Width, R, a, b);
    out[x - c.X1] = WeightedPercentile(row + x, 1, a, b, c.Step, c0, *c.Weights, c.Fraction, samples);
  }
}

bool PercentilePassesInBands(std::span<const float> source, std::span<float> destination, const TPercentilePasses& c,
                             TFilterPoll& poll, int plane) {
  const size_t n = size_t(std::max(c.Width, 0)) * size_t(std::max(c.Height, 0));
  if (!c.Weights || c.X1 < 0 || c.Y1 < 0 || c.X2 < c.X1 || c.Y2 < c.Y1 || c.X2 >= c.Width || c.Y2 >= c.Height ||
      source.size() < n || destination.size() < n)
    return true;  // nothing to do
  const int32_t lineWidth = c.X2 - c.X1 + 1, rows = c.Y2 - c.Y1 + 1;
  const int threads = FilterThreads(int64_t(lineWidth) * rows);
  std::vector<TBand> bands(size_t(std::min(threads, rows)));
  const int32_t count = int32_t(bands.size());
  for (int32_t k = 0; k < count; ++k) {
    bands[size_t(k)].Next = c.Y1 + int32_t(int64_t(rows) * k / count);
    bands[size_t(k)].End = c.Y1 + int32_t(int64_t(rows) * (k + 1) / count);
  }
  const float* s = source.data();
  float* d = destination.data();
  const TBand& first = bands[0];
  while (std::any_of(bands.begin(), bands.end(), [](const TBand& b) { return b.Next < b.End; })) {
    ForEachBand(count, count, [&](int64_t k0, int64_t k1) {
      for (int64_t k = k0; k < k1; ++k) {
        TBand& b = bands[size_t(k)];
        if (b.Next < b.End) BandRound(s, d, c, b, std::min(b.End, b.Next + RoundRows));
      }
    });
    const int32_t done = first.Next - c.Y1, share = first.End - c.Y1;
    if (!poll.ContinuePercent(plane, float(done * 100.0 / std::max(share, 1)))) return false;
  }
  return true;
}

}  // namespace astrelon
