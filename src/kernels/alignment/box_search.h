#pragma once
// The brightest (2r + 1)-square box of a rectangle, found as the exhaustive
// search FindBrightestPixel finds it (the same centre and mean, the first of
// equal boxes in row order) with far less work: a pass over the rows notes
// each row's largest valid value; no box mean of a row of centres exceeds the
// largest value of its 2r + 1 rows (rounding is monotonic), so the rows of
// centres are searched in the order of that bound, highest first, until it
// falls below the best mean found. A searched row sums its boxes several
// centres side by side, each pixel by pixel in the order of the exhaustive
// search.
#include <cstdint>
#include <span>
#include <algorithm>
#include <limits>
#include <vector>

namespace astrelon {

// Whether every sum of up to `terms` float values (at most maxAbs in size, the
// non-zero ones at least minAbs) is exact in double, in any order of addition.
bool FloatSumsExact(double maxAbs, double minAbs, int64_t terms);

// What the search needs to know of a row: its largest valid value (no box mean
// exceeds it; −∞ without any) and whether it holds a blank value.
struct TRowStats {
  float Max = -std::numeric_limits<float>::infinity();
  bool Blank = false;
  void Merge(const TRowStats& o) {
    Max = std::max(Max, o.Max);
    Blank = Blank || o.Blank;
  }
};

struct TBoxBest {
  bool Found = false;    // a box with a valid pixel
  double Mean = 0;       // mean of its valid pixels
  int32_t X = 0, Y = 0;  // its centre in rectangle coordinates
  // Whether the box beats `other`: a higher mean, or the same one earlier in
  // row order.
  bool Beats(const TBoxBest& other) const;
};

// The search over the centre columns [from, to) of the w x h rectangle `data`
// (rows `stride` apart; centres at least r from its sides). The caller hands
// it every row once, top down (so that a pass of its own over the rows can
// run alongside), then asks for the result.
class TBoxSearch {
public:
  // `vector`: several values side by side (the same results).
  TBoxSearch(std::span<const float> data, int32_t h, int64_t stride, int32_t r, int32_t from, int32_t to,
             bool vector);
  // Notes row y (the next one) of the band's columns from − r .. to + r − 1;
  // or, with the statistics of its columns [innerFrom, innerTo) (inside those)
  // at hand, the rest of them.
  void AddRow(int32_t y);
  void AddRow(int32_t y, const TRowStats& inner, int32_t innerFrom, int32_t innerTo);
  // The band's best box; its mean is summed pixel by pixel in row order.
  TBoxBest Result() const;

private:
  std::span<const float> data_;
  int32_t h_, r_, from_, to_;
  int64_t stride_;
  bool vector_;
  std::vector<float> rowMax_;   // largest valid value of each row (−∞ without)
  std::vector<uint8_t> blank_;  // whether each row holds a blank value
};

// The best of the bands' boxes as FindBrightestPixel gives it: centre, and the
// mean as a float; without any, the rectangle's centre and -1e9.
void BestOfBands(std::span<const TBoxBest> bands, int32_t w, int32_t h, int32_t& x, int32_t& y, float& value);

// FindBrightestPixel's exhaustive search (the same centre, mean and value) over
// bands of centre columns on up to `threads` threads.
void FindBrightestBox(std::span<const float> data, int32_t w, int32_t h, int64_t stride, int32_t r, int32_t& x,
                      int32_t& y, float& value, bool vector, int threads);

// Mean of the valid pixels of the (2r + 1)-square box centred at (cx, cy),
// summed pixel by pixel in row order as FindBrightestPixel sums it; false
// without any valid pixel.
bool BoxMean(std::span<const float> data, int64_t stride, int32_t cx, int32_t cy, int32_t r, double& mean);

}  // namespace astrelon
