#include "result_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "peer_measure.h"
#include "platform/processor_features.h"
#include "store/image_store.h"

namespace astrelon::bench {

namespace {

// Blank: at or below the blank limit, or NaN.
bool Valid(float v) { return v > -1e9f; }

// Weights in [-0.5, 0.5) from the fractional part of i times an irrational step.
double Weight(int64_t i, double step) {
  const double x = double(i) * step;
  return x - std::floor(x) - 0.5;
}

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

}  // namespace

TFingerprint Fingerprint(std::initializer_list<std::span<const float>> parts) {
  TFingerprint f;
  double sum = 0, squares = 0, a = 0, b = 0, steps = 0;
  int64_t valid = 0, pairs = 0, index = 0;
  f.Min = 1e300;
  f.Max = -1e300;
  for (const std::span<const float> part : parts) {
    bool havePrevious = false;
    double previous = 0;
    for (const float x : part) {
      ++f.Count;
      ++index;
      if (!Valid(x)) {
        ++f.Blanks;
        havePrevious = false;
        continue;
      }
      const double v = x;
      ++valid;
      sum += v;
      squares += v * v;
      a += v * Weight(index, 0.6180339887498949);
      b += v * Weight(index, 0.4142135623730950);
      f.Min = std::min(f.Min, v);
      f.Max = std::max(f.Max, v);
      if (havePrevious) steps += std::fabs(v - previous), ++pairs;
      previous = v;
      havePrevious = true;
    }
  }
  if (valid == 0) {
    f.Min = f.Max = 0;
    return f;
  }
  f.Mean = sum / double(valid);
  f.Rms = std::sqrt(std::max(0.0, squares / double(valid) - f.Mean * f.Mean));
  f.ProjectionA = a / double(valid);
  f.ProjectionB = b / double(valid);
  f.Variation = pairs ? steps / double(pairs) : 0;
  return f;
}

TFingerprint SlotFingerprint(int slot) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  const size_t n = im.PixelCount();
  auto plane = [&](int p) {
    return p <= im.PlaneCount && im.Planes[size_t(p)].size() >= n
               ? std::span<const float>(im.Planes[size_t(p)]).first(n)
               : std::span<const float>();
  };
  return Fingerprint({plane(1), plane(2), plane(3)});
}

void ExpectFingerprint(const TFingerprint& got, const TFingerprint& want, const std::string& what, double tolerance) {
  const double scale = std::max(std::fabs(want.Mean) + want.Rms, 1e-30);
  auto near = [&](double g, double w) { return std::fabs(g - w) <= tolerance * std::max(scale, std::fabs(w)); };
  std::string differing;
  auto compare = [&](bool same, const char* name) {
    if (!same) differing += (differing.empty() ? "" : ", ") + std::string(name);
  };
  compare(got.Count == want.Count, "count");
  compare(got.Blanks == want.Blanks, "blanks");
  compare(near(got.Min, want.Min), "minimum");
  compare(near(got.Max, want.Max), "maximum");
  compare(near(got.Mean, want.Mean), "mean");
  compare(near(got.Rms, want.Rms), "spread");
  compare(near(got.ProjectionA, want.ProjectionA), "projection A");
  compare(near(got.ProjectionB, want.ProjectionB), "projection B");
  compare(near(got.Variation, want.Variation), "variation");
  if (!differing.empty()) Fail(what + ": differs from the checked run's result (" + differing + ")");
}

TDifference Difference(std::span<const float> got, std::span<const float> want) {
  TDifference d;
  std::vector<float> diff;
  diff.reserve(std::min(got.size(), want.size()));
  for (size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
    const bool g = Valid(got[i]), w = Valid(want[i]);
    if (g != w) {
      if (d.BlankMismatch++ == 0) d.FirstMismatch = int64_t(i);
      continue;
    }
    if (!g) continue;
    const double e = std::fabs(double(got[i]) - double(want[i]));
    if (d.WorstAt < 0 || e > d.Max) d.Max = e, d.WorstAt = int64_t(i);
    diff.push_back(float(e));
  }
  d.Count = int64_t(diff.size());
  if (!diff.empty()) {
    auto at = [&](double q) {
      const size_t k = std::min(diff.size() - 1, size_t(q * double(diff.size())));
      std::nth_element(diff.begin(), diff.begin() + ptrdiff_t(k), diff.end());
      return double(diff[k]);
    };
    d.P99 = at(0.99);
    d.Median = at(0.5);
  }
  return d;
}

void ExpectNear(std::span<const float> got, std::span<const float> want, double tolerance, const std::string& what,
                bool p99) {
  if (got.size() != want.size())
    Fail(what + ": " + std::to_string(got.size()) + " values, wanted " + std::to_string(want.size()));
  const TDifference d = Difference(got, want);
  if (d.BlankMismatch > 0)
    Fail(what + ": " + std::to_string(d.BlankMismatch) + " places blank in one result only (first at " +
         std::to_string(d.FirstMismatch) + ")");
  const double measured = p99 ? d.P99 : d.Max;
  if (!(measured <= tolerance))
    Fail(what + ": " + (p99 ? "99th percentile of " : "largest ") + "|difference| " + Number(measured) +
         " above the tolerance " + Number(tolerance) + " (largest " + Number(d.Max) + " at " +
         std::to_string(d.WorstAt) + ")");
}

void ExpectNearInside(std::span<const float> got, std::span<const float> want, int32_t w, int32_t h, int32_t margin,
                      double tolerance, const std::string& what, bool p99) {
  if (got.size() < size_t(w) * size_t(h) || want.size() < size_t(w) * size_t(h))
    Fail(what + ": fewer values than the " + std::to_string(w) + " x " + std::to_string(h) + " compared");
  std::vector<float> a, b;
  for (int32_t y = margin; y < h - margin; ++y) {
    const size_t row = size_t(y) * size_t(w);
    a.insert(a.end(), got.begin() + ptrdiff_t(row + size_t(margin)), got.begin() + ptrdiff_t(row + size_t(w - margin)));
    b.insert(b.end(), want.begin() + ptrdiff_t(row + size_t(margin)),
             want.begin() + ptrdiff_t(row + size_t(w - margin)));
  }
  ExpectNear(a, b, tolerance, what, p99);
}

void OnScalarPaths(const std::function<void()>& run) {
  const bool mmx = MmxEnabled, sse = SseEnabled, sse2 = Sse2Enabled, avx2 = Avx2Enabled;
  auto restore = [&] {
    MmxEnabled = mmx;
    SseEnabled = sse;
    Sse2Enabled = sse2;
    Avx2Enabled = avx2;
  };
  MmxEnabled = SseEnabled = Sse2Enabled = Avx2Enabled = false;
  try {
    run();
  } catch (...) {
    restore();
    throw;
  }
  restore();
}

std::vector<std::vector<float>> SlotPlanes(int slot) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  const size_t n = im.PixelCount();
  std::vector<std::vector<float>> planes;
  for (int p = 1; p <= im.PlaneCount; ++p) {
    const TPlane& v = im.Planes[size_t(p)];
    if (v.size() < n) Fail("slot " + std::to_string(slot) + " plane " + std::to_string(p) + " holds too few values");
    planes.emplace_back(v.begin(), v.begin() + ptrdiff_t(n));
  }
  return planes;
}

void ExpectTwin(const std::function<std::vector<std::vector<float>>()>& result, const std::function<void()>& prepare,
                const std::function<void()>& twin, double tolerance, const std::string& what) {
  const std::vector<std::vector<float>> got = result();
  if (prepare) prepare();
  OnScalarPaths(twin);
  const std::vector<std::vector<float>> want = result();
  if (got.size() != want.size())
    Fail(what + ": " + std::to_string(got.size()) + " parts, the scalar twin " + std::to_string(want.size()));
  for (size_t p = 0; p < got.size(); ++p)
    ExpectNear(got[p], want[p], tolerance,
               what + (got.size() > 1 ? " (part " + std::to_string(p + 1) + ")" : "") + " against the scalar twin");
}

void Expect(bool condition, const std::string& what) {
  if (!condition) Fail(what);
}

void ExpectValue(double got, double want, double tolerance, const std::string& what) {
  if (!(std::fabs(got - want) <= tolerance * std::fabs(want)))
    Fail(what + ": differs from the wanted value by " + Number(std::fabs(got - want) / std::fabs(want)) +
         " of it (tolerance " + Number(tolerance) + ")");
}

bool Verified(benchmark::State& state, const std::function<void()>& check) {
  try {
    if (!check) Fail("the benchmark checks no result");
    check();
  } catch (const TBenchFailure& e) {
    state.SkipWithError(e.what());
    return false;
  }
  state.counters["checked"] = 1;
  return true;
}

}  // namespace astrelon::bench
