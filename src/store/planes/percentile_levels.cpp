#include "store/planes/percentile_levels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/simd_support.h"
#include "store/image_slot.h"
#include "store/planes/min_max_scan.h"
#include "store/planes/percentile_binning.h"
#include "store/planes/percentile_selection.h"
#include "store/planes/plane_routines.h"

namespace astrelon {

namespace {

using namespace percentile;

// ---- Scalar path: the histogram -------------------------------------------

template <typename Count>
void FillHistogramScalar(const float* base, int32_t w, int32_t h, int64_t stride, const TBinning& b, Count* hist) {
  for (int32_t y = 0; y < h; ++y) {
    const float* row = base + y * stride;
    for (int32_t x = 0; x < w; ++x) ++hist[IsValidPixel(row[x]) ? b.Bin(row[x]) : BlankBin];
  }
}

template <typename Count>
void WalkLevels(std::span<const Count> hist, int64_t total, const TBinning& b, float mx, double pctA, double pctB,
                TPercentileLevels& levels);

template <typename Count>
void LevelsFromHistogram(const float* base, int32_t w, int32_t h, int64_t stride, const TBinning& b, float mx,
                         double pctA, double pctB, TPercentileLevels& levels) {
  std::vector<Count> hist(HistogramBins, 0);
  // Bands of rows count into histograms of their own; whole counts add up to the
  // same histogram in any order.
  const int threads = PassThreads(w, h);
  if (threads <= 1) {
    FillHistogramScalar(base, w, h, stride, b, hist.data());
  } else {
    std::mutex merging;
    ForEachBand(h, threads, [&](int64_t first, int64_t last) {
      std::vector<Count> part(HistogramBins, 0);
      FillHistogramScalar(base + first * stride, w, int32_t(last - first), stride, b, part.data());
      std::lock_guard<std::mutex> lock(merging);
      for (size_t i = 0; i < hist.size(); ++i) hist[i] += part[i];
    });
  }
  WalkLevels(std::span<const Count>(hist), int64_t(w) * int64_t(h), b, mx, pctA, pctB, levels);
}

// The walk over a finished histogram of `total` pixels (blanks in BlankBin).
template <typename Count>
void WalkLevels(std::span<const Count> hist, int64_t total, const TBinning& b, float mx, double pctA, double pctB,
                TPercentileLevels& levels) {
  const int64_t count = total - int64_t(hist[BlankBin]);
  if (count <= 0) return;
  auto level = [&](double pct) {
    const int64_t target = TargetCount(count, pct);
    int32_t bin;
    if (pct < 50) {
      int64_t sum = 0;
      for (bin = 0; bin < SearchedBins; ++bin) {
        sum += int64_t(hist[size_t(bin)]);
        if (sum >= target) break;
      }
    } else {
      int64_t rest = count;
      for (bin = SearchedBins; bin > 0; --bin) {
        rest -= int64_t(hist[size_t(bin)]);
        if (rest <= target) break;
      }
    }
    return b.Level(bin);
  };
  levels.RectMin = b.Mn;
  levels.RectMax = mx;
  levels.LevelA = level(pctA);
  levels.LevelB = std::fabs(pctB - pctA) <= 1e-9 ? levels.LevelA : level(pctB);
}

// From this many pixels on the vector path selects the levels from order
// statistics; below it the histogram is cheap enough.
constexpr int64_t SelectionMinPixels = 8192;

// The vector path: true when the selection decided (levels set, or left alone
// without valid pixels); false when the histogram must, with mn and mx known
// when minMaxKnown.
bool LevelsBySelection(std::span<float> rect, int32_t w, int32_t h, int64_t stride, double pctA, double pctB,
                       TPercentileLevels& levels, float& mn, float& mx, bool& minMaxKnown, bool vector) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    TLevelSelection selection(rect, w, h, stride, pctA, pctB);
    if (!selection.Usable()) return false;
    selection.AddRect(rect.data(), w, h, stride, vector);
    switch (selection.Finish(levels, mn, mx, vector)) {
      case TLevelSelection::TResult::Done:
      case TLevelSelection::TResult::NoValid: return true;
      case TLevelSelection::TResult::Fallback: minMaxKnown = true; return false;
      case TLevelSelection::TResult::NeedsClamp:
        RectMinMax(rect, w, h, stride, mn, mx, vector);
        minMaxKnown = true;
        break;
    }
  }
  return false;
}

// ---- Small rectangles: a histogram walked in two steps ----------------------
// Under 65536 pixels every count fits 16 bits; the bins are also counted by
// groups of 256 (four sets of those counts, so that neighbouring pixels of one
// group do not wait on each other), and each level's bin is found walking the
// groups, then the 256 bins of the group that holds its rank: the walk's bins
// without walking 65000 bins. False (nothing set) when a valid pixel bins
// beyond the searched bins: the full histogram decides then.
constexpr int64_t SmallHistogramPixels = 65536;

bool LevelsFromSmallHistogram(const float* base, int32_t w, int32_t h, int64_t stride, const TBinning& b, float mx,
                              double pctA, double pctB, TPercentileLevels& levels, bool vector) {
  constexpr int Shift = 8;
  constexpr size_t Groups = (SearchedBins >> Shift) + 1;
  std::vector<uint16_t> hist(size_t(SearchedBins) + 1, 0);
  std::array<std::array<uint32_t, Groups>, 4> groupSets{};
  int64_t count = 0;
  std::vector<int32_t> rowBins(static_cast<size_t>(w));
  for (int32_t y = 0; y < h; ++y) {
    const float* row = base + y * stride;
    ValueBins(row, w, b, rowBins.data(), vector);
    for (int32_t x = 0; x < w; ++x) {
      if (!IsValidPixel(row[x])) continue;
      const int32_t bin = rowBins[size_t(x)];
      if (bin > SearchedBins) return false;
      ++hist[size_t(bin)];
      ++groupSets[size_t(x & 3)][size_t(bin >> Shift)];
      ++count;
    }
  }
  if (count <= 0) return true;
  std::array<int64_t, Groups> groups{};
  for (const auto& set : groupSets)
    for (size_t g = 0; g < Groups; ++g) groups[g] += set[g];
  auto binOf = [&](double pct) {
    const int64_t rank = RankOfLevel(pct, count);
    if (rank == 0) return 0;
    if (rank < 0) return SearchedBins;
    int64_t below = 0;
    size_t g = 0;
    while (below + groups[g] < rank) below += groups[g++];
    size_t bin = g << Shift;
    while (below + hist[bin] < rank) below += hist[bin++];
    return int32_t(bin);
  };
  levels.RectMin = b.Mn;
  levels.RectMax = mx;
  levels.LevelA = b.Level(binOf(pctA));
  levels.LevelB = std::fabs(pctB - pctA) <= 1e-9 ? levels.LevelA : b.Level(binOf(pctB));
  return true;
}

}  // namespace

void CountedValueLevels(std::span<const float> values, std::span<const uint64_t> counts, double pctA, double pctB,
                        TPercentileLevels& levels) {
  const size_t n = std::min(values.size(), counts.size());
  // The minimum and maximum as RectMinMax finds them (values above 1e18 count as 1e18).
  TMinMaxScan scan;
  uint64_t total = 0;
  for (size_t i = 0; i < n; ++i) {
    if (counts[i] == 0) continue;
    total += counts[i];
    const float v = std::min(values[i], NoMinimum);
    if (IsValidPixel(v)) {
      scan.Lo = std::min(scan.Lo, v);
      scan.Hi = std::max(scan.Hi, v);
    }
  }
  float mn = 0, mx = 1;
  scan.Finish(mn, mx);
  const TBinning b(mn, mx);
  std::vector<uint64_t> hist(HistogramBins, 0);
  for (size_t i = 0; i < n; ++i) {
    if (counts[i] == 0) continue;
    const float v = values[i] > NoMinimum ? NoMinimum : values[i];
    hist[size_t(IsValidPixel(v) ? b.Bin(v) : BlankBin)] += counts[i];
  }
  WalkLevels(std::span<const uint64_t>(hist), int64_t(total), b, mx, pctA, pctB, levels);
}

void RectPercentileLevels(std::span<float> rect, int32_t w, int32_t h, int64_t stride, double pctA, double pctB,
                          TPercentileLevels& levels, bool vector) {
  if (w <= 0 || h <= 0) return;
  CheckRect(rect.size(), w, h, stride);
  float mn = 0, mx = 1;
  bool minMaxKnown = false;
  if (vector && int64_t(w) * int64_t(h) >= SelectionMinPixels &&
      LevelsBySelection(rect, w, h, stride, pctA, pctB, levels, mn, mx, minMaxKnown, vector))
    return;
  if (!minMaxKnown) RectMinMax(rect, w, h, stride, mn, mx, vector);
  const TBinning b(mn, mx);
  if (int64_t(w) * int64_t(h) < SmallHistogramPixels &&
      LevelsFromSmallHistogram(rect.data(), w, h, stride, b, mx, pctA, pctB, levels, vector))
    return;
  if (uint64_t(w) * uint64_t(h) < std::numeric_limits<uint32_t>::max())
    LevelsFromHistogram<uint32_t>(rect.data(), w, h, stride, b, mx, pctA, pctB, levels);
  else
    LevelsFromHistogram<uint64_t>(rect.data(), w, h, stride, b, mx, pctA, pctB, levels);
}

}  // namespace astrelon
