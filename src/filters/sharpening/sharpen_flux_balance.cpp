#include "filters/sharpening/sharpen_flux_balance.h"

#include <algorithm>

#include "kernels/gauss/filter_rows.h"
#include "kernels/gauss/gauss_filters.h"
#include "platform/processor_features.h"

namespace astrelon {

namespace {

// A per-pixel step over rows [0, rows) on all threads (each row alike on any split).
template <class F>
void EachRow(int32_t rows, int32_t columns, F&& fn) {
  ForEachChunk(
      0, rows, columns,
      [&](int64_t y0, int64_t y1) {
        for (int64_t y = y0; y < y1; ++y) fn(y);
      },
      [](int64_t) { return true; });
}

}  // namespace

TFluxBalance::TFluxBalance(const TWorkRect& rect)
    : rect_(rect), columns_(std::max(rect.x2 - rect.x1 + 1, 0)), rows_(std::max(rect.y2 - rect.y1 + 1, 0)) {
  const size_t n = size_t(columns_) * size_t(rows_);
  for (std::vector<float>* v : {&height_, &wanted_, &made_, &rateMade_, &rateWanted_, &sums_}) v->assign(n, 0.0f);
}

bool TFluxBalance::GiveBack(float* destination, int32_t width, float radius, float lo, float least,
                            const TFilterPoll& poll) {
  const int32_t n = columns_;
  const TWorkRect whole{0, n - 1, 0, rows_ - 1};
  TFilterPoll local = poll;
  TGaussPlaneRun run;
  run.Vector = SseEnabled || Sse2Enabled;
  run.Poll = &local;
  auto blur = [&](std::vector<float>& in, std::vector<float>& out, float r) {
    return GaussPlane({in, out, n, rows_, whole}, r, run);
  };
  // The brightening taken and asked for on the star's pixels.
  EachRow(rows_, n, [&](int64_t y) {
    for (size_t i = size_t(y) * size_t(n), e = i + size_t(n); i < e; ++i) {
      rateMade_[i] = height_[i] * std::max(made_[i], 0.0f);
      rateWanted_[i] = height_[i] * std::max(wanted_[i], 0.0f);
    }
  });
  if (!blur(rateMade_, rateMade_, 2 * radius) || !blur(rateWanted_, rateWanted_, 2 * radius) ||
      !blur(height_, sums_, radius))
    return false;
  // The change withheld per unit of the heights around (into `wanted_`).
  EachRow(rows_, n, [&](int64_t y) {
    for (size_t i = size_t(y) * size_t(n), e = i + size_t(n); i < e; ++i) {
      const float asked = rateWanted_[i];
      const float rate = asked > 0 ? std::clamp(rateMade_[i] / asked, 0.0f, 1.0f) : 0.0f;
      wanted_[i] = sums_[i] > least ? (rate * wanted_[i] - made_[i]) / sums_[i] : 0.0f;
    }
  });
  if (!blur(wanted_, sums_, radius)) return false;
  EachRow(rows_, n, [&](int64_t y) {
    float* d = destination + (rect_.y1 + y) * int64_t(width) + rect_.x1;
    const size_t at = size_t(y) * size_t(n);
    for (int32_t x = 0; x < n; ++x) {
      const float h = height_[at + size_t(x)];
      if (!(h > 0)) continue;
      // Not below lo, nor below a value that already lies below it.
      d[x] = std::max(d[x] + h * sums_[at + size_t(x)], std::min(d[x], lo));
    }
  });
  return true;
}

}  // namespace astrelon
