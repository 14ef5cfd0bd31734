#pragma once
// Hot pixels of a dark frame and their repair in the image the dark was
// subtracted from. A dark pixel is hot when it exceeds the mean of the two
// smallest of its same-colour cells (offsets -2, 0, +2 in both directions,
// itself included) by more than an offset; the image pixel there then takes the
// median of its usable neighbours.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace astrelon {

struct THotDarkPixel {
  int32_t X = 0, Y = 0;
  float Threshold = 0;  // (m1 + m2) / 2 + offset; usable neighbours lie below it
};

// The hot pixels of row y of a dark plane (row-major, `width` values a row)
// between columns x1 and x2, appended to `out` from left to right. Rows y - 2 ..
// y + 2 and columns x1 - 2 .. x2 + 2 must lie inside the plane. `vector` takes
// the eight-wide path where the processor has it; both paths find the same
// pixels with the same thresholds.
void FindHotDarkPixelsInRow(std::span<const float> dark, int32_t width, int32_t y, int32_t x1, int32_t x2,
                            float offset, std::vector<THotDarkPixel>& out, bool vector);

// The hot pixels of a band of rows found row after row, each row as
// FindHotDarkPixelsInRow finds it. The vector path keeps the least of every
// three same-colour cells in a row (blank cells included) for the rows around
// the current one: the least of the three triples around a pixel bounds its
// threshold from below, which rules out nearly every pixel in a few
// operations; the pixels it does not rule out take the full test.
class THotPixelFinder {
public:
  THotPixelFinder(std::span<const float> dark, int32_t width, int32_t x1, int32_t x2, float offset, bool vector);
  // Rows are best taken in increasing order (the triples of a row serve five rows).
  void FindInRow(int32_t y, std::vector<THotDarkPixel>& out);

private:
  const float* TripleMinima(int32_t y);
  std::span<const float> dark_;
  int32_t width_, x1_, x2_;
  float offset_;
  bool vector_;
  std::array<std::vector<float>, 5> minima_;  // row r in minima_[r mod 5]
  std::array<int32_t, 5> minimaRow_{-1, -1, -1, -1, -1};
};

// The hot pixels of rows First, First + 1, … in scan order.
struct THotPixelRows {
  int32_t First = 0;
  std::vector<THotDarkPixel> Pixels;
  std::vector<size_t> RowStart{0};  // row First + r holds Pixels[RowStart[r] .. RowStart[r + 1])
  int64_t RowCount() const { return int64_t(RowStart.size()) - 1; }
  std::span<const THotDarkPixel> Row(int32_t y) const;
  // Whether another hot pixel of these rows lies within two pixels of h in x and in y.
  bool Crowded(const THotDarkPixel& h) const;
};

// Rows found one after another from `first` on, each from FindInRow, as
// THotPixelRows.
class THotRowCollector {
public:
  explicit THotRowCollector(int32_t first = 0) { rows_.First = first; }
  // Finds row First + RowCount() with the finder.
  void FindNextRow(THotPixelFinder& finder);
  const THotPixelRows& Rows() const { return rows_; }

private:
  THotPixelRows rows_;
};

// The rows of bands found side by side, joined in row order (the bands follow
// each other without a gap).
THotPixelRows JoinHotPixelBands(std::span<const THotRowCollector> bands);

// Repairs the image plane (row-major, `width` values a row) at the hot pixels in
// their order, so that a repaired pixel is already a neighbour of the later
// ones. A blank image pixel stays blank; with `blankHot` (the batch's Bayer
// mode) a hot pixel becomes blank. Otherwise the values gathered are those of
// neighbours whose dark value is valid and below the threshold and whose image
// value is valid: without a mosaic (phase < 0) the four direct neighbours (up,
// left, right, down); with fewer than three and either no mosaic or a green
// site ((x + y) mod 2 = phase) the four diagonal ones; with none the eight
// same-colour cells two pixels away. Their median replaces the pixel; without
// any it keeps its value.
void RepairHotPixels(std::span<float> image, int32_t width, std::span<const float> dark, int32_t darkWidth,
                     std::span<const THotDarkPixel> hot, int phase, bool blankHot);

// One plane to repair: the image plane, the dark plane and its hot pixels.
struct THotPixelPlane {
  std::span<float> Image;
  int32_t Width = 0;
  std::span<const float> Dark;
  int32_t DarkWidth = 0;
  const THotPixelRows* Hot = nullptr;
};

// The repair of one hot pixel as RepairHotPixels does it.
void RepairHotPixel(const THotPixelPlane& plane, const THotDarkPixel& h, int phase, bool blankHot);

// RepairHotPixels of every plane with all its hot pixels in scan order, on
// threads. A repair reads and writes the image only within two pixels of its
// hot pixel, so a lone hot pixel (without another one that near) neither sees
// nor changes what any other repair reads: those are repaired in bands of rows
// (except in the rows for which `loneDone` says they are repaired already), the
// crowded ones afterwards in scan order. The result is that of RepairHotPixels
// for any count of threads.
void RepairHotPixelPlanes(std::span<const THotPixelPlane> planes, int phase, bool blankHot, int threads,
                          const std::function<bool(int32_t y)>& loneDone = {});

}  // namespace astrelon
