#include "pixelops/mosaic/mosaic_linear.h"

#include <cmath>
#include <memory>
#include <mutex>

#include "pixelops/mosaic/mosaic_linear_rows.h"
#include "store/image_store.h"

namespace astrelon {

TLinearKernels LinearMosaicKernels(const TMosaicCells& cells, int32_t rowMask) {
  TLinearKernels kernels{};
  const auto channels = [&](int32_t row, int32_t column) -> std::array<int32_t, 3> {
    const int32_t c = cells[size_t(row * 2 + column)];
    return c >= 0 && c < MosaicColorCount ? MosaicChannelTable[size_t(c)] : std::array<int32_t, 3>{};
  };
  for (int32_t phase = 0; phase <= rowMask; ++phase)
    for (int32_t columnPhase = 0; columnPhase < 2; ++columnPhase) {
      // Channels seen at kernel row r (-1, 0, +1) and column c (0 own parity, 1 the other).
      std::array<std::array<std::array<int32_t, 3>, 2>, 3> seen{};
      for (int32_t r = 0; r < 3; ++r)
        for (int32_t c = 0; c < 2; ++c)
          seen[size_t(r)][size_t(c)] = channels((phase + r - 1 + 4) & rowMask, (c + columnPhase) & 1);
      std::array<int32_t, 6> code{};  // [r * 2 + c], the first code running fastest
      for (int32_t combination = 0; combination < 15625; ++combination) {
        for (int32_t i = 0, rest = combination; i < 6; ++i, rest /= 5) code[size_t(i)] = rest % 5;
        std::array<double, 3> gain{};
        for (int32_t r = 0; r < 3; ++r)
          for (int32_t c = 0; c < 2; ++c)
            for (int32_t ch = 0; ch < 3; ++ch)
              gain[size_t(ch)] += LinearCoefficientValues[size_t(code[size_t(r * 2 + c)])] *
                                  double(seen[size_t(r)][size_t(c)][size_t(ch)]);
        int32_t channel = -1, nonZero = 0;
        for (int32_t ch = 0; ch < 3; ++ch)
          if (gain[size_t(ch)] != 0) {
            channel = ch;
            ++nonZero;
          }
        if (nonZero != 1) continue;
        TLinearKernel& k = kernels[size_t(phase)][size_t(columnPhase)][size_t(channel)];
        const double g = gain[size_t(channel)];
        for (int32_t r = 0; r < 3; ++r) {
          const double side = LinearCoefficientValues[size_t(code[size_t(r * 2 + 1)])] / (2 * g);
          k.Sum[size_t(r)][0] += side;
          k.Sum[size_t(r)][2] += side;
          k.Sum[size_t(r)][1] += LinearCoefficientValues[size_t(code[size_t(r * 2)])] / g;
        }
        ++k.Count;
      }
    }
  return kernels;
}

namespace {

// Per row phase and channel the merged taps of the two column parities: the
// non-zero coefficients divided by the count and times the channel's multiplier.
using TLinearRowTable = std::array<std::array<TLinearRowTaps, 3>, 4>;

TLinearRowTable LinearRowTaps(const TLinearKernels& kernels, int32_t rowMask, double rmul, double bmul) {
  TLinearRowTable table{};
  for (int32_t p = 0; p <= rowMask; ++p)
    for (int32_t ch = 0; ch < 3; ++ch) {
      TLinearRowTaps& t = table[size_t(p)][size_t(ch)];
      const double mul = ch == 0 ? rmul : ch == 2 ? bmul : 1.0;
      for (int32_t c = 0; c < 2; ++c) t.Blank[size_t(c)] = kernels[size_t(p)][size_t(c)][size_t(ch)].Count == 0;
      for (int32_t r = 0; r < 3; ++r)
        for (int32_t x = 0; x < 3; ++x) {
          std::array<float, 2> weight{};
          std::array<bool, 2> used{};
          for (int32_t c = 0; c < 2; ++c) {
            const TLinearKernel& k = kernels[size_t(p)][size_t(c)][size_t(ch)];
            if (k.Count == 0) continue;
            const double v = k.Sum[size_t(r)][size_t(x)] / k.Count;
            // Sums of opposite coefficients leave rounding residue, not taps.
            if (std::abs(v) < 1e-9) continue;
            weight[size_t(c)] = float(v * mul);
            used[size_t(c)] = true;
          }
          if (!used[0] && !used[1]) continue;
          t.Dy[size_t(t.Taps)] = r - 1;
          t.Dx[size_t(t.Taps)] = x - 1;
          t.Weight[size_t(t.Taps)] = weight;
          t.Used[size_t(t.Taps)] = used;
          ++t.Taps;
        }
    }
  return table;
}

// The kernel search of the last pattern, kept: a series of frames converts
// with one pattern, and the search takes about as long as a small frame.
TLinearKernels KernelsOf(const TMosaicCells& cells, int32_t rowMask) {
  struct TLast {
    std::mutex Lock;
    bool Valid = false;
    TMosaicCells Cells{};
    int32_t RowMask = 0;
    TLinearKernels Kernels{};
  };
  static TLast last;
  const std::lock_guard lock(last.Lock);
  if (!last.Valid || last.Cells != cells || last.RowMask != rowMask) {
    last.Kernels = LinearMosaicKernels(cells, rowMask);
    last.Cells = cells;
    last.RowMask = rowMask;
    last.Valid = true;
  }
  return last.Kernels;
}

}  // namespace

TMosaicWorkerMethod LinearMosaicMethod(const TMosaicStage& job) {
  auto taps = std::make_shared<TLinearRowTable>(
      LinearRowTaps(KernelsOf(MosaicPattern, job.RowMask), job.RowMask, job.RedMultiplier, job.BlueMultiplier));
  // Rows 1 .. height - 2.
  auto rows = std::make_shared<TRowDealer>(1, Store.Image[size_t(job.Destination)].Height - 2);
  TMosaicWorkerMethod method;
  method.Stages = 1;
  method.Stage = [taps, rows](TMosaicWorkerBlock& b, int32_t) {
    const TMosaicStage& job = *b.Job;
    const TImageSlot& src = Store.Image[size_t(job.Source)];
    TImageSlot& dst = Store.Image[size_t(job.Destination)];
    const int32_t w = dst.Width;
    const float* m = src.Planes[1].data();
    // Row y goes straight to row y - 1 of the result cut to (w - 2) x (h - 2):
    // that place lies before the row's own, and nothing reads the result's
    // planes while the rows are written.
    rows->Take([&](int32_t y) {
      for (int32_t ch = 0; ch < 3; ++ch)
        LinearMosaicRow(m + size_t(y) * size_t(w), w, (*taps)[size_t(y & job.RowMask)][size_t(ch)],
                        dst.Planes[size_t(ch + 1)].data() + size_t(y - 1) * size_t(w - 2));
    });
    FinishStreamedRows();
  };
  return method;
}

}  // namespace astrelon
