#include "store/fits/fits_plane_level.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>

#include "core/settings.h"
#include "platform/processor_features.h"
#include "platform/worker_pool.h"
#include "store/fits/fits_pixel_decoder.h"
#include "store/planes/percentile_levels.h"

namespace astrelon {

namespace {

// Rows of the plane read at a time: about a megabyte.
int64_t RowsPerPiece(const TFitsImageLayout& l) {
  return std::max<int64_t>(1, int64_t(1 << 20) / int64_t(std::max<uint64_t>(l.RowBytes, 1)));
}

// File rows r0 .. r0 + n - 1 of the plane starting at planeAt into buf.
bool ReadFileRows(const TFitsFile& file, uint64_t planeAt, int64_t r0, int64_t n, std::vector<uint8_t>& buf) {
  const uint64_t rowBytes = file.Layout->RowBytes;
  buf.resize(size_t(n) * size_t(rowBytes));
  return file.Input.ReadAt(planeAt + uint64_t(r0) * rowBytes, buf);
}

// Counts of each sample code of the plane, four interleaved tables per worker so
// that runs of one code do not wait on each other.
std::optional<float> CodeCountLevel(const TFitsFile& file, int plane, double pct, const TFitsDecoder& dec,
                                    TWorkerPool& pool) {
  const TFitsImageLayout& l = *file.Layout;
  const std::span<const float> table = dec.CodeTable();
  const size_t codes = table.size();
  const int64_t rows = RowsPerPiece(l), pieces = (int64_t(l.Height) + rows - 1) / rows;
  const uint64_t planeAt = l.DataOffset + uint64_t(plane - 1) * l.PlaneBytes;
  std::vector<std::vector<uint32_t>> counts(size_t(pool.Threads()));
  std::vector<std::vector<uint8_t>> raw(size_t(pool.Threads()));
  std::atomic<bool> failed{false};
  pool.Run(pieces, [&](int64_t piece, int worker) {
    std::vector<uint32_t>& c = counts[size_t(worker)];
    if (c.empty()) c.assign(4 * codes, 0);
    std::vector<uint8_t>& buf = raw[size_t(worker)];
    const int64_t r0 = piece * rows, n = std::min<int64_t>(rows, l.Height - r0);
    if (!ReadFileRows(file, planeAt, r0, n, buf)) {
      failed = true;
      return;
    }
    const size_t samples = size_t(n) * size_t(l.Width);
    uint32_t* c0 = c.data();
    size_t i = 0;
    if (l.Bitpix == 8) {
      for (; i + 4 <= samples; i += 4)
        for (size_t k = 0; k < 4; ++k) ++c0[k * codes + buf[i + k]];
      for (; i < samples; ++i) ++c0[buf[i]];
    } else {
      const uint8_t* p = buf.data();
      for (; i + 4 <= samples; i += 4)
        for (size_t k = 0; k < 4; ++k) ++c0[k * codes + TFitsDecoder::Code16(p + 2 * (i + k))];
      for (; i < samples; ++i) ++c0[TFitsDecoder::Code16(p + 2 * i)];
    }
  });
  if (failed) return std::nullopt;
  std::vector<uint64_t> total(codes, 0);
  for (const auto& c : counts)
    if (!c.empty())
      for (size_t k = 0; k < 4; ++k)
        for (size_t code = 0; code < codes; ++code) total[code] += c[k * codes + code];
  TPercentileLevels levels;
  CountedValueLevels(table, total, pct, pct, levels);
  return float(levels.LevelA);
}

// The plane decoded into `scratch` in image row order, then the levels over it.
std::optional<float> DecodedLevel(const TFitsFile& file, int plane, double pct, const TFitsDecoder& dec,
                                  TWorkerPool& pool, std::vector<float>& scratch) {
  const TFitsImageLayout& l = *file.Layout;
  const bool flip = Options.FitsFlip != 0;
  const int64_t rows = RowsPerPiece(l), pieces = (int64_t(l.Height) + rows - 1) / rows;
  const uint64_t planeAt = l.DataOffset + uint64_t(plane - 1) * l.PlaneBytes;
  scratch.resize(size_t(l.Width) * size_t(l.Height));
  std::vector<std::vector<uint8_t>> raw(size_t(pool.Threads()));
  std::atomic<bool> failed{false};
  pool.Run(pieces, [&](int64_t piece, int worker) {
    std::vector<uint8_t>& buf = raw[size_t(worker)];
    const int64_t r0 = piece * rows, n = std::min<int64_t>(rows, l.Height - r0);
    if (!ReadFileRows(file, planeAt, r0, n, buf)) {
      failed = true;
      return;
    }
    for (int64_t r = 0; r < n; ++r) {
      const int64_t y = flip ? r0 + r : l.Height - 1 - (r0 + r);
      dec.DecodeRow(buf.data() + size_t(r) * size_t(l.RowBytes), size_t(l.Width),
                    scratch.data() + size_t(y) * size_t(l.Width), Sse2Enabled);
    }
  });
  if (failed) return std::nullopt;
  TPercentileLevels levels;
  RectPercentileLevels(scratch, l.Width, l.Height, l.Width, pct, pct, levels, Sse2Enabled);
  return float(levels.LevelA);
}

}  // namespace

std::optional<float> FitsPlaneLevel(const TFitsFile& file, int plane, double pct, TWorkerPool& pool,
                                    std::vector<float>& scratch) {
  if (!file.Layout) return std::nullopt;
  const TFitsImageLayout& l = *file.Layout;
  if (plane < 1 || plane > l.PlanesInFile) return 0.0f;
  const TFitsDecoder dec(l.Bitpix, FitsScalingFor(l.Bitpix, file.Info));
  if (!dec.CodeTable().empty()) return CodeCountLevel(file, plane, pct, dec, pool);
  return DecodedLevel(file, plane, pct, dec, pool, scratch);
}

}  // namespace astrelon
